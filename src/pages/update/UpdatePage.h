#pragma once
// Page 1, "ADD UPDATE": adds files to an existing zip archive and deletes entries from it. Every
// adding action and every DELETE is one rewrite of the archive by the operations layer's update and
// delete jobs, run on a worker: all of it lands or none of it, and the list then shows the archive as
// it stands on disk.
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ops/JobParams.h"
#include "pages/common/Page.h"
#include "pages/update/UpdateList.h"

class TJobRunner;
class TRewriteJob;
struct TJobResult;
struct TListRow;

class TUpdatePage : public TPage {
  Q_OBJECT
 public:
  explicit TUpdatePage(IPageHost& host);
  ~TUpdatePage() override;

  TFileListView* MainList() const override { return UpdateListView; }
  QProgressBar* ProgressBar() const override { return UpdateProgressBar; }
  std::vector<QWidget*> WorkControls() const override;
  std::vector<QWidget*> CommonControls() const override;
  void SetIdleButtons() override;
  bool ArchiveReady() const override { return HasRows(); }
  // ClearUpdateWindow.
  void Clear() override { ClearUpdateWindow(); }
  // An archive handed over by the window: listed from disk.
  void TakeArchive(const std::string& archive) override;
  // The update list while an archive is open here (its RESET button enabled), else none.
  TFileListView* DropList() const override;

  // MoveZipfileToUpdate: the archive the unzip page listed arrives with its rows (copied, not listed
  // again); its tag is read on a worker, and a directory that no longer matches the rows is listed.
  void TakeListedArchive(const std::string& archive, std::vector<TListRow> rows);

  // --- Handlers (the form's names) ---------------------------------------------------------------
  void OpenUpdateButtonClick();
  // Lists a zip archive on this page (on a worker, rows arriving in batches).
  void UpDateUpdateWindow(const std::string& archive);
  void OpenFilesUpdateButtonClick();
  void AddfolderUpdatebuttonClick();
  // Files and folders dropped on the list.
  void UpdateDropUpdateWindow(const std::vector<std::string>& paths);
  void UpdateDeleteButtonClick();
  // EDIT TAG: the tag box becomes the archive's zip comment, in one rewrite.
  void UpdateTagButtonClick();
  void UpdateResetButtonClick();
  void ReloadUpdateListviewOnZipError(const std::string& archive);
  void Button1Click();
  // Empties the list, the icon cache, the count and tag boxes; the archive is let go.
  void ClearUpdateWindow();

  // Path helpers: the last element of a path not ending in "/" (empty otherwise, or when it holds no
  // "/" after its first character), which also empties RelativeRoot; and the path less the first
  // RelativeRoot.size() characters (empty when no root is set or the path is not longer), which
  // also empties RelativeRowPath.
  std::string GetLastfolder(const std::string& path);
  std::string GetrelRootFolder(const std::string& path);

  // Adding in two steps, as the handlers do: the files of one action are offered to the plan (the
  // duplicate and replace rule; new rows appear at once), then UpdatingAZipFile writes them all in
  // one rewrite. Between the two the page is disabled.
  void BeginAdding();
  void DropFileToUpdate(const updatelist::TFoundFile& file);
  void UpdatingAZipFile();
  // Ends an adding action: the plan let go, the page enabled again.
  void FinishAdding();

  // True while a listing, a scan or a rewrite runs.
  bool Busy() const { return busy_; }
  // The 64-bit total of the Size column.
  int64_t TotalBytes() const { return totalBytes_; }
  // The archive's identity when it was last listed or written here.
  const TFileStamp& ListedStamp() const { return stamp_; }

  // Opens the Properties window on a page ("ADD Files"); the program's window sets it. Unset, the
  // page shows its own path options.
  std::function<void(const std::string& page)> ShowProperties;

  std::string RelativeRoot;  // the relative root folder
  std::string RelativeRowPath;

  QPushButton* OpenUpdateButton;
  QPushButton* OpenFilesUpdateButton;
  QPushButton* AddfolderUpdatebutton;
  QPushButton* UpdateDeleteButton;
  QPushButton* UpdateResetButton;
  QPushButton* Button1;  // "Properties"
  QPushButton* UpdateTagButton;
  QLineEdit* UpdateTagEdit;
  QPushButton* UpdateHelpButton;
  QPushButton* UpdateExitbutton;
  TFileListView* UpdateListView;
  QLineEdit* UpDateNumFilesEdit;
  QLineEdit* UpdatetotalFileSizeEdit;
  QStatusBar* UpdateStatusBar;
  QProgressBar* UpdateProgressBar;

 private:
  // The date question of ADD FILES and ADD FOLDER.
  void DateQuestion();
  int64_t NotBefore() const;
  updatelist::TPathRule PathRule() const;
  void SetStepTwo(bool enabled);
  void ShowCounts();
  void SetWaitCursor(bool on);
  // Runs a job on the page's runner and waits for it (the window stays live); the bar shows its bytes.
  TJobResult RunJob(std::unique_ptr<TRewriteJob> job, std::vector<TListRow>& listed, const QString& status);
  // Replaces the rows with a listing; icons are looked up once per extension.
  void SetRows(std::vector<TListRow>&& rows);
  void GiveIcons(std::vector<TListRow>& rows);
  void AppendRows(std::vector<TListRow>&& rows);
  // After a rewrite that did not land: why, then the archive listed again from disk.
  void ReportFailure(const TJobResult& result, bool changed);
  // The files of a folder (on a worker), offered to the plan.
  void AddFolder(const std::string& folder);
  // Reads the tag and entry count of a moved archive on a worker.
  void CheckMovedArchive();

  std::unique_ptr<TJobRunner> runner_;
  std::unique_ptr<updatelist::TUpdatePlan> plan_;
  TFileStamp stamp_;
  int64_t totalBytes_ = 0;
  bool busy_ = false;
  bool waitCursor_ = false;
  std::shared_ptr<std::atomic<bool>> listingCancel_;
  std::vector<int> extensionIcons_;
};
