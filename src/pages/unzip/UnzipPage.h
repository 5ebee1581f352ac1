#pragma once
// Page 0, "UNZIP A ZIP FILE": the entries of one archive at a time, the incoming queue's controls.
// Archives are listed by the operations layer's list job on a worker thread that hands rows to the
// list in large batches; extraction runs the extract job on a Tunzipthread runner. Workers get
// their inputs before they start and reach the widgets through queued calls only.
#include <QPointer>
#include <QString>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/Prompt.h"
#include "core/Status.h"
#include "ops/ArchiveEntry.h"
#include "ops/FormatRegistry.h"
#include "ops/JobParams.h"
#include "pages/common/Page.h"

class QComboBox;
class QStackedWidget;
class TRowSink;
struct TRowBatch;
class Tunzipthread;
class TUnzipQuestions;
class TUnzipPopupMenu;
class TEntryLauncher;
struct TListRow;
enum class TLaunchProgram;
struct TJobResult;

class TUnzipPage : public TPage {
  Q_OBJECT
 public:
  explicit TUnzipPage(IPageHost& host);
  ~TUnzipPage() override;

  TFileListView* MainList() const override;
  QProgressBar* ProgressBar() const override { return UnzipProgressBar; }
  std::vector<QWidget*> WorkControls() const override;
  std::vector<QWidget*> CommonControls() const override;
  void EnableWorkControls() override;
  void EnableCommonControls() override;
  void SetIdleButtons() override;
  bool HasRows() const override;
  bool ArchiveReady() const override { return HasRows(); }
  // ClearUnzipWindow.
  void Clear() override { ClearUnzipWindow(); }
  // Lists the archive (a zip archive through the zip opener, others by their type).
  void TakeArchive(const std::string& archive) override;

  // The visible one of the two lists.
  TFileListView* VisibleList() const;
  bool FilteredShown() const;
  // Shows the full list instead of the filtered one.
  void ShowFullList();
  // Shows the filtered list instead of the full one (the filters fill it first).
  void ShowFilteredList();

  // --- Opening and listing -------------------------------------------------------------------
  void OpenUnzipButtonClick();
  void DoOpenUnzip();
  // Opens `name` with the opener its kind calls for (its content, else its name); false when no
  // opener takes it.
  bool OpenArchive(const std::string& name);
  // The openers of each archive type: list the archive on this page. They return when every row
  // is in the list; the window keeps running meanwhile.
  void UpdateUnzipWindow(const std::string& archive);    // zip
  void UpDateRARWindow(const std::string& archive);      // RAR
  void UpdateTarWindow(const std::string& archive);      // tar
  void UpdateGZipWindow(const std::string& archive);     // gzip
  void UpDateTarGZipWindow(const std::string& archive);  // gzipped tar
  // The gzip family: true when it handled the name (a gzip file, or a gzipped tar archive).
  bool OpenGZipFile(const std::string& name);
  // The kind the shown archive was listed as.
  TArchiveFormat OpenedFormat() const { return openedAs_; }
  // True when the gzip file's stored name has the extension ".tar".
  bool IsaGzippedTarBall(const std::string& name);
  // Sum of the unpacked sizes of a zip archive's entries; also added to the run state's
  // BatchUnpackedTotal.
  int64_t TallyZipFile(const std::string& name);

  // --- Clearing --------------------------------------------------------------------------------
  // Empties both lists, the counters, the icon cache and the loaded-archive state.
  void ClearUnzipWindow();
  void ClearUnzipListView();
  void UnzipFilteredListviewClear();
  void ClearUnzipCounters();
  void ClearUnzipTotals();
  void ShowUnzipListView();
  void UnzipResetButtonClick() { ResetUnzipPage(); }
  void ResetUnzipPage();
  // The buttons enabled after every listing with rows.
  void EnableLoadedArchiveButtons();
  // An archive that cannot be opened: the page is left as an empty one (caption, lists, counters and
  // buttons), then `message` is shown, the one message of the open.
  void OpenFailed(const std::string& message);
  // "CANNOT OPEN THE FILE <archive>" and the reason on a line of its own.
  static std::string CannotOpenText(const std::string& archive, const std::string& reason);
  void UnzipPropertiesButtonClick();
  // Opens the Properties window on the named page ("UNZIP", "Tar GZ "); set by the window that owns it.
  std::function<void(const std::string& page)> ShowProperties;
  void UnzipHelpButtonClick();

  // --- Extraction ------------------------------------------------------------------------------
  void UnzipButtonClick();
  // STOP: the running extraction ends at its next step; files written so far stay, none half-written.
  void UnzipStopButtonClick();
  // "Show files": the folder of the last extraction in the desktop's file manager.
  void ShowFilesButtonClick();
  // The folder the last extraction wrote to (empty before the first).
  const std::string& LastUnzipFolder() const { return lastUnzipFolder_; }
  // TAG: the archive's tag; a zip comment may be edited, a gzip header comment is shown read-only.
  void TAGButtonClick();
  // Runs the steps of an extraction that need the window, then starts its job and returns.
  void DoUnzip(QObject* sender);
  // The extraction run: destination, room checks, the security window and the highlighted entries
  // on this thread, then the extract job on the page's Tunzipthread runner.
  void ThreadDoUnzip(QObject* sender);
  // True to go on with the extraction, false to halt.
  bool ZipFileSecurityCheck();
  // The runs of each kind: the extract job for the highlighted entries.
  void UnzipZipFile(const std::string& destination);
  void UnzipTarFile(const std::string& destination);
  void UnzipGZFile(QObject* sender, const std::string& destination);
  void UnzipRarFile(const std::string& destination);
  // Asks whether an existing file is replaced by an archive entry; Yes without asking when no file
  // is there. Touches no widget (a tar job asks it on its worker).
  TPromptAnswer OverWriteWarning(const std::string& diskPath, const std::string& caption, const std::string& dateText,
                                 int64_t size);
  // The RAR side: the end of a listing, the overwrite question (asked before the run), an error of
  // the run (shown, RarErrorSeen set), the password (asked once per run until a text is given; false
  // when cancelled, which sets RarPasswordCancelled).
  void ShowRarArchive();
  // Whether the file at diskPath may be replaced; `cancel` comes back set when the user cancelled
  // (the run then ends). Cancel, Escape and closing the box never replace.
  bool OKToAddRARFile(const std::string& diskPath, const std::string& sizeText, const std::string& dateText,
                      bool& cancel);
  void RarKitError(const TStatus& status);
  bool RarKitReqPassword(std::string& password);
  // Carries the highlights of the filtered list over to the full list.
  void SetFilteredSelect();

  // --- Highlight, popup menu, launching (UnzipSelection.cpp) ----------------------------------
  void SelectAllButtonClick();    // ALL
  void UnSelectAllButtonClick();  // None
  // Highlights or clears every row of the full list; the selection buttons follow.
  void UnzipLVSelect(bool on);
  // UNZIP, SAVE and TAG, enabled and disabled together.
  void SetSelectionButtons(bool on);
  // A plain left click on a row of either list (the filtered list carries its row across first).
  void UnzipListViewMouseDown();
  void UnzipFilteredListViewMouseDown();
  void UnzipFilteredListViewMouseDown(TLaunchProgram program);
  // After a mouse release on `list`: the selection buttons follow its highlight.
  void ListMouseUp(TFileListView* list);
  // The popup menu of both lists; other parts add their entries with AddEntry.
  TUnzipPopupMenu* UnzipPopupMenu;
  // Enables the menu's items for `list` (the one it opens on).
  void UnzipPopupMenuPopup(TFileListView* list);
  // Extracts the full list's first highlighted row alone into the working folder and opens it.
  void UnzipLaunchFile(TLaunchProgram program);
  // The launcher behind UnzipLaunchFile; set its PictureViewer and IsPicture to show pictures.
  TEntryLauncher& Launcher() { return *launcher_; }
  // True while a launch extracts its entry.
  bool Launching() const { return launching_; }

  // --- Filters (UnzipFilters.cpp) --------------------------------------------------------------
  void SelectButtonClick();        // the file-type filter
  void FolderFilterButtonClick();  // the folder filter
  // Fills the filtered list with copies of full-list rows (item data: the source row) and shows it;
  // highlighted when SelectAllOnLoad is on.
  void ShowFilteredRows(std::vector<TListRow>&& rows);
  // Runs `scan` over every row of the full list, then copies the rows `kept` names (in its order, a
  // row named twice is there twice) with their item data the source row; the window is disabled
  // meanwhile and keeps handling its events.
  std::vector<TListRow> FilterRows(const std::function<void(int row, const TListRow&)>& scan,
                                   const std::function<std::vector<int>()>& kept);
  // Runs f(i) for every row of the full list with the window disabled (the page busy).
  void ScanRows(const std::function<void(int64_t)>& f);
  // Runs f(i) for every i below `count`, letting the window handle its events at least every 20 ms.
  void InSlices(int64_t count, const std::function<void(int64_t)>& f);

  // --- Explorer window (UnzipExplorer.cpp) ------------------------------------------------------
  // Shows the archive as a tree; extracts what the window chose.
  void TreeButtonClick();
  // Highlights one row of the full list alone and opens it.
  void UnzipLaunchfileFromTreeview(int row, TLaunchProgram program);

  // True while a listing or an extraction runs.
  bool Busy() const { return listing_ || unzipping_ || filtering_; }
  bool Unzipping() const { return unzipping_; }
  // Asks running work to stop and waits for it, keeping the window's events flowing.
  void StopWork();

  // True except while the image browser extracts pictures on its own.
  std::atomic<bool> InteractiveUnzip{true};

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
  QPushButton* UnzipStopButton;   // beside the progress bar; enabled only while an extraction runs
  QPushButton* ShowFilesButton;   // in the status bar after an extraction that wrote files
  TFileListView* UnzipListView;
  TFileListView* UnzipFilteredListView;
  QProgressBar* UnzipProgressBar;
  QStatusBar* UnzipStatusBar;
  QLineEdit* UnzipNumFilesEdit;
  QLineEdit* UnzipTotalFileSizeEdit;

  // True when the sibling program "crawlpad" stands beside the program.
  bool SiblingProgramFound = false;
  // The size total of the listed archive (for extraction, the room it needs).
  int64_t UnzipTotalBytes = 0;
  // Started after an archive was opened when AutoThumbnails is set.
  QTimer AutoThumbTimer;

 private:
  friend class TRowSink;
  // Runs `work` on a worker thread; rows it adds reach the full list in batches. Returns when the
  // work has ended and every row is in the list.
  void RunListing(const std::function<void(TRowSink&)>& work);
  void AppendBatch(TRowBatch& batch);
  // Runs `work` on a worker thread and returns when it has ended; the window keeps running.
  void RunOnWorker(const std::function<void()>& work);
  // Sets the progress bar from any thread (queued).
  void PostProgress(int percent);
  // The highlighted rows' entries (none: the whole archive, when every listed row is highlighted),
  // and the explorer's chosen folder by name (its folder entries, empty ones included, are no rows);
  // `any` tells whether a row is highlighted.
  TSelection HighlightedEntries(bool& any) const;
  // The highlighted entries into `p`; false, with the message shown and the run ended, when none is.
  bool SelectHighlighted(TExtractParams& p);
  // Runs the extract job of the shown archive on the runner; `done` and `onMessage` run on this thread.
  void StartUnzipJob(TExtractParams params, const std::function<void(const TJobResult&)>& done,
                     const std::function<void(const TStatus&)>& onMessage = {});
  // The end of every run: controls on (with `enableAll`), the list focused, the cursor back.
  void FinishUnzip(bool enableAll);
  // The status line at the end of an extraction into `folder`: what was written, and "Show files".
  void ShowUnzipOutcome(const TJobResult& r, const std::string& folder);
  void ClearUnzipOutcome();
  void SetProgressMax(int64_t total);
  void ShowListingProgress(int64_t done);
  // The steps after every opener: totals, selection, buttons, the list shown again.
  void FinishListing();
  void HideListsForListing();
  // False, with OpenFailed done, when `archive` is missing, no regular file, unreadable or empty.
  bool CheckOpenable(const std::string& archive);
  // Lists a tar file; `shown` is the archive the user opened (a gzipped tar's own name).
  void ListTarFile(const std::string& tarFile, const std::string& shown);
  void SetWaitCursor(bool on);

  void SetUpSelection();
  std::unique_ptr<TEntryLauncher> launcher_;
  bool launching_ = false;
  bool filtering_ = false;
  QStackedWidget* lists_;
  std::vector<int> extensionIcons_;  // icon of each extension id of the running listing
  int64_t progressScale_ = 1;        // listing progress: entries per progress step
  std::atomic<bool> listing_{false};
  std::atomic<bool> listingWorker_{false};
  std::atomic<bool> unzipping_{false};
  std::shared_ptr<std::atomic<bool>> listingCancel_;
  std::unique_ptr<Tunzipthread> unzipRunner_;
  std::unique_ptr<TUnzipQuestions> unzipQuestions_;
  TArchiveFormat openedAs_ = TArchiveFormat::Unknown;  // the kind the shown archive was listed as
  int64_t listedRows_ = 0;                              // rows the listing made
  std::vector<std::string> folderChoice_;               // the explorer's chosen folder ("docs/") during its run
  bool unzipCursor_ = false;
  int waitCursors_ = 0;
  std::string lastUnzipFolder_;
  bool stopPressed_ = false;
  std::string rarPassword_;      // the password of the running RAR extraction
  std::string rarListPassword_;  // the password that opened the listed RAR's encrypted headers
  std::string rarListError_;     // why the listed RAR could not be read (empty: it could)
};
