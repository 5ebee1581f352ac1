#pragma once
// The main window: owns the five pages and is their host (pages/common/PageHost.h); owns the
// settings and run-state records, the zip component, the temporary folders, the icon lists, the
// open dispatch and the incoming queue; switches pages and enables their controls.
#include <QMainWindow>
#include <QTimer>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "app/SystemDirs.h"
#include "core/Settings.h"
#include "pages/common/IconLists.h"
#include "pages/common/PageHost.h"
#include "platform/TempFolders.h"
#include "zip/ZipKit.h"

class QTabWidget;
class TPage;
class TUnzipPage;
class TUpdatePage;
class TCreatePage;
class TBatchPage;
class TSfxPage;
class TPromptService;
class TFileListView;
class TIncomingQueue;
class TOpenDispatch;
class TQueueButtons;
class TRunOnce;

class TTandorForm : public QMainWindow, public IPageHost {
  Q_OBJECT
 public:
  // `arguments` is the command line after the program name.
  explicit TTandorForm(QStringList arguments = {}, QWidget* parent = nullptr);
  ~TTandorForm() override;

  // Closing sequence (also run when the window closes).
  void DoCloseCode();

  // Page switching: asks TabbedNotebookChange, then changes the page and runs TabbedNotebookClick.
  // Returns the page shown afterwards.
  int RequestPage(int index) override;
  bool TabbedNotebookChange(int from, int& to);
  void TabbedNotebookClick();
  int CurrentPage() const;
  TPage* Page(int index) const;
  TUnzipPage* UnzipPage() const { return unzipPage_; }
  TUpdatePage* UpdatePage() const { return updatePage_; }
  TCreatePage* CreatePage() const { return createPage_; }
  TBatchPage* BatchPage() const { return batchPage_; }
  TSfxPage* SfxPage() const { return sfxPage_; }
  QTabWidget* TabbedNotebook() const { return tabbedNotebook_; }

  // The page host.
  void SetCaption(const std::string& archiveFile) override;
  void DisableAll() override;
  void EnableAll() override;
  void SetPageIdleButtons() override;
  std::string BrowseforFolder(const std::string& title, bool classic, bool allowCreate) override;
  void OpenHelpPage(const std::string& page) override;
  void CloseProgram() override;
  void HandArchiveTo(int index, const std::string& archive) override;
  std::string CurrentArchiveFile() const override { return currentArchiveFile_; }
  void SetCurrentArchiveFile(const std::string& archive) override { currentArchiveFile_ = archive; }
  bool ArchiveExtracted() const override { return archiveExtracted_; }
  void SetArchiveExtracted(bool extracted) override { archiveExtracted_ = extracted; }
  void SetModalDialogOpen(bool open) override { modalDialogOpen_ = open; }
  void SetDropTarget(TFileListView* list) override { dropTarget_ = list; }
  void AddToQueue(const std::string& archive) override;
  void ClearTempFolders() override;
  TSettings& Settings() override { return settings_; }
  TRunState& RunState() override { return *runState_; }
  TTempFolders& TempFolders() override { return tempFolders_; }
  TIconLists& Icons() override { return icons_; }
  TZipKit& ZipKit() override { return zipKit_; }

  void EnableCommonButtons();
  // The Properties window, opened on a page (TPropertiesPage); returns its result.
  int ShowProperties(int page);
  // File > Properties.
  void PropertiesClick();
  bool ModalDialogOpen() const { return modalDialogOpen_; }
  // The list that takes drops: follows the page (rule 10 of page switching).
  TFileListView* DropTarget() const { return dropTarget_; }

  // Clears the unzip page's lists, counters and icon cache.
  void ClearUnzipWindow();
  // Clears the update page (rule 7 of page switching).
  void ClearUpdateWindow();
  // Empties the create list and its undo steps.
  void ClearCreateList();
  // Hands a zip archive to the self-extracting page.
  void GiveArchiveToSfxPage(const std::string& archive);
  // Moves the archive of the unzip page to the update page.
  void MoveZipfileToUpdate();
  // Lists an archive on the unzip page.
  void UpdateUnzipWindow(const std::string& archive);
  // Files dropped on the update list while an archive is open there.
  void UpdateDropUpdateWindow(const QStringList& paths);
  // Takes over the (listening) single-instance component and answers second starts.
  void AttachRunOnce(std::unique_ptr<TRunOnce> runOnce);

  // The zip component's events as the window answers them (they fire on the thread that runs the
  // component's operation).
  void ZipKitProgress(TZipKit* sender, ProgressType type, const std::string& fileName, int64_t fileSize);
  void ZipKitMessage(TZipKit* sender, int32_t errCode, const std::string& message);
  void ZipKitExtractOverwrite(TZipKit* sender, const std::string& forFile, bool isOlder, bool& doOverwrite,
                              int32_t dirIndex);

  // The open dispatch, the incoming queue with its list (item 0 stands for the queue box's first
  // item) and buttons, the command line and its start timer.
  TOpenDispatch& Dispatch() const { return *dispatch_; }
  TIncomingQueue& Queue() const { return *queue_; }
  TQueueButtons& QueueButtons() const { return *queueButtons_; }
  std::vector<std::string>& QueueList() { return queueList_; }
  const QStringList& CommandLine() const { return commandLine_; }
  QTimer& StartTimer() { return startTimer_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  // The window's size and place and the lists' column widths, kept between starts.
  void RestoreWindowState();
  void SaveWindowState();
  // Start-up sequence.
  void FormCreate();
  void BuildMenus();
  void BuildPages();
  // The first run: the Properties window on its launchers page, then the first-run file.
  void StartMenuSelect();
  // The program's class and the viewer programs, at every start.
  void RegisterProgramClass();
  // Checks the "Thumbnail Size" entry of ThumbSize ("Other" for a size no entry names).
  void CheckThumbSizeEntry();
  void ShowDonationWare();
  void ShowInfoWindow(const QString& title, const QString& html);
  void ReportSettingsError();
  void SetUpZipKit();

  TZipKit zipKit_;
  std::atomic<int> jobPercent_{-1};  // the last progress shown by ZipKitProgress
  TSettings settings_;
  std::unique_ptr<TRunState> runState_;
  TTempFolders tempFolders_;
  TIconLists icons_;
  std::vector<std::string> queueList_;
  std::string currentArchiveFile_;
  bool archiveExtracted_ = false;
  bool modalDialogOpen_ = false;
  QStringList commandLine_;

  QTabWidget* tabbedNotebook_ = nullptr;
  TUnzipPage* unzipPage_ = nullptr;
  TUpdatePage* updatePage_ = nullptr;
  TCreatePage* createPage_ = nullptr;
  TBatchPage* batchPage_ = nullptr;
  TSfxPage* sfxPage_ = nullptr;

  // The timers of the window itself; the pages own the timers of their runs.
  QTimer startTimer_, timer_, batchTimer_, batchUnzipTimer_;
  TFileListView* dropTarget_ = nullptr;

  std::unique_ptr<TIncomingQueue> queue_;
  TOpenDispatch* dispatch_ = nullptr;
  TQueueButtons* queueButtons_ = nullptr;
  std::unique_ptr<TRunOnce> runOnce_;
  TSystemDirs systemDirs_;

  bool closed_ = false;
  bool settingsErrorShown_ = false;
  int currentPage_ = 0;
  std::unique_ptr<TPromptService> prompt_;
};
