#pragma once
// Page 0, "UNZIP A ZIP FILE": the entries of one archive at a time, the incoming queue's controls.
#include <QString>
#include <string>

#include "pages/common/Page.h"

class QComboBox;
class QStackedWidget;

class TUnzipPage : public TPage {
  Q_OBJECT
 public:
  explicit TUnzipPage(TTandorForm& form);

  TFileListView* MainList() const override;
  QProgressBar* ProgressBar() const override { return UnzipProgressBar; }
  std::vector<QWidget*> WorkControls() const override;
  std::vector<QWidget*> CommonControls() const override;
  void EnableWorkControls() override;

  // The visible one of the two lists.
  TFileListView* VisibleList() const;
  bool FilteredShown() const;
  // Shows the full list instead of the filtered one.
  void ShowFullList();

  // The openers of each archive type: list the archive on this page.
  void UpdateUnzipWindow(const std::string& archive);    // zip
  void UpDateRARWindow(const std::string& archive);      // RAR
  void UpdateTarWindow(const std::string& archive);      // tar
  void UpdateGZipWindow(const std::string& archive);     // gzip
  void UpDateTarGZipWindow(const std::string& archive);  // gzipped tar
  // Empties both lists, the counters, the icon cache and the loaded-archive state.
  void ClearUnzipWindow();

  QPushButton* OpenUnzipButton;
  QPushButton* UnzipButton;
  QPushButton* SelectAllButton;
  QPushButton* UnSelectAllButton;
  QPushButton* SelectButton;
  QPushButton* FolderFilterButton;
  QPushButton* TreeButton;
  QPushButton* UnzipResetButton;
  QPushButton* UnzipPropertiesButton;
  QPushButton* UnzipHelpButton;
  QPushButton* UnzipCloseButton;
  QPushButton* SpiderButton;
  QComboBox* ComboBox;
  QPushButton* CLRButton;
  QPushButton* SaveQueueButton;
  QPushButton* MoveBatchButton;
  QPushButton* SaveUnzipFileButton;
  QPushButton* TAGButton;
  TFileListView* UnzipListView;
  TFileListView* UnzipFilteredListView;
  QProgressBar* UnzipProgressBar;
  QStatusBar* UnzipStatusBar;
  QLineEdit* UnzipNumFilesEdit;
  QLineEdit* UnzipTotalFileSizeEdit;

  // True when the sibling program "crawlpad" stands beside the program.
  bool SiblingProgramFound = false;

 private:
  QStackedWidget* lists_;
};
