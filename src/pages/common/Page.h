#pragma once
// Base of the five pages of the main window: the controls that DisableAll/EnableAll and the common
// buttons act on, the page's main list and progress bar, what the page does when the window clears
// it or hands it an archive, and small builders for its controls.
#include <QWidget>
#include <string>
#include <vector>

#include "pages/common/PageHost.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStatusBar;
class TFileListView;

class TPage : public QWidget {
  Q_OBJECT
 public:
  TPage(IPageHost& host, QWidget* parent = nullptr);

  // The page's main list (none on the self-extracting page) and progress bar.
  virtual TFileListView* MainList() const = 0;
  virtual QProgressBar* ProgressBar() const = 0;
  // The controls DisableAll disables (and EnableAll enables) on this page.
  virtual std::vector<QWidget*> WorkControls() const = 0;
  // The controls that never depend on loaded data.
  virtual std::vector<QWidget*> CommonControls() const = 0;
  // EnableAll's part on this page; pages with exceptions override it.
  virtual void EnableWorkControls();
  // EnableCommonButtons' part on this page.
  virtual void EnableCommonControls();
  // The controls of the page without loaded data (SetPageIdleButtons).
  virtual void SetIdleButtons() {}

  // True when the page's list holds rows.
  virtual bool HasRows() const;
  // True while the page's own work (a scan, a run) goes on: the page cannot be left meanwhile.
  virtual bool Busy() const { return false; }
  // True when the page holds an archive it may hand to another page.
  virtual bool ArchiveReady() const { return false; }
  // Empties the page (list, counters, its archive) as the page-switching rules do.
  virtual void Clear() {}
  // Takes over an archive handed over by the window or another page.
  virtual void TakeArchive(const std::string& archive) { (void)archive; }
  // The list that takes drops while the page is shown; none when null.
  virtual TFileListView* DropList() const { return MainList(); }

 protected:
  QPushButton* MakeButton(const QString& text, const QString& hint = {});
  QLineEdit* MakeCounter();
  QLabel* MakeStep(const QString& text);
  // Shows the shared file-type icons in `list`; `pathIcon` marks its Path column header.
  void UseSharedIcons(TFileListView* list, bool pathIcon);
  // EXIT and HELP buttons: EXIT ends the program (not while a batch runs when `unlessBatchBusy`),
  // HELP opens the page's help file.
  void ConnectExitButton(QPushButton* button, bool unlessBatchBusy);
  void ConnectHelpButton(QPushButton* button, const std::string& page);
  IPageHost& Host;
};
