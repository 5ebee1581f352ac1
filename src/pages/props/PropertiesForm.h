#pragma once
// TPropertiesForm, "Zip File Properties": the program's options on eight pages, the archive types the
// desktop opens with the program, and the way to the program's launchers.
#include <QDialog>
#include <functional>
#include <string>

#include "core/Status.h"

class QBoxLayout;
class QCheckBox;
class QLabel;
class QRadioButton;
class QTabWidget;
class TSettings;

enum TPropertiesPage {
  kDefaultProgramPage = 0,
  kStartupLinksPage = 1,
  kUnzipOptionsPage = 2,
  kTarGzPage = 3,
  kDefaultTypePage = 4,
  kAddFilesPage = 5,
  kZipOptionsPage = 6,
  kViewerPage = 7,
};

// The index of the page with this caption ("ADD Files" gives 5); -1 when there is none.
int PropertiesPageIndex(const std::string& caption);

class TPropertiesForm : public QDialog {
  Q_OBJECT
 public:
  // `programPath` is the program the launchers start.
  TPropertiesForm(TSettings& settings, const std::string& programPath, int startPage = kStartupLinksPage,
                  QWidget* parent = nullptr);

  QTabWidget* PageControl() const { return pages_; }

  // Every option control shows its setting; the create options are disabled while the create list
  // holds files.
  void SetPropertiesdisplay();
  // The labels of the five types show their current handlers.
  void SetDefaultZipInfo();
  // Copies every option control into its setting and saves (OK, Close, EXIT).
  void OKCode();
  // Every setting to its default, saved and shown; the window stays open.
  void DoRestoreCode();
  // Makes the program the handler of every checked type, keeping the previous handler to give back.
  void setTandorDefaultButtonClick();
  // Gives every checked type back to the handler it had.
  void RestorePreviousZipDefaultButtonClick();
  // "Create Tandor File Start Up Links ": the launcher window.
  void CreateLinksButtonClick();
  // Removes every launcher the program made (on the desktop and in the menu).
  void RemoveLinksButtonClick();

  // Set by the owner: help pages ("unzipprop.html") and the donation information window.
  std::function<void(const std::string& page)> OpenHelpPage;
  std::function<void()> ShowDonationWare;

 private:
  QWidget* MakeDefaultProgramPage();
  QWidget* MakeStartupLinksPage();
  QWidget* MakeOptionsPage(int page, const char* heading, bool restore, const char* help);
  // Donation Ware, Software and the button that saves and closes.
  void AddClosingRow(QWidget* page, QBoxLayout* layout, const char* caption, const char* name);
  QCheckBox* Box(const char* name) const;
  QRadioButton* Radio(const char* name) const;
  void SaveOrReport();

  TSettings& settings_;
  std::string programPath_;
  QTabWidget* pages_ = nullptr;
  QCheckBox* typeBoxes_[5] = {};
  QLabel* typeLabels_[5] = {};
};
