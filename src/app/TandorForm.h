#pragma once
// The main window: owns the five pages, the settings and run-state records, the timers, the temporary
// folders and the icon lists; switches pages and enables their controls.
#include <QMainWindow>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "app/IconLists.h"
#include "app/Settings.h"
#include "app/SystemDirs.h"
#include "app/TempFolders.h"
#include "pages/create/UndoStack.h"
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

enum TPageIndex { kUnzipPage = 0, kUpdatePage = 1, kCreatePage = 2, kBatchPage = 3, kSfxPage = 4 };

class TTandorForm : public QMainWindow {
  Q_OBJECT
 public:
  // `arguments` is the command line after the program name.
  explicit TTandorForm(QStringList arguments = {}, QWidget* parent = nullptr);
  ~TTandorForm() override;

  // Start-up sequence (FormCreate) and closing sequence (DoCloseCode).
  void FormCreate();
  void DoCloseCode();

  // Page switching: asks TabbedNotebookChange, then changes the page and runs TabbedNotebookClick.
  // Returns the page shown afterwards.
  int RequestPage(int index);
  bool TabbedNotebookChange(int from, int& to);
  void TabbedNotebookClick();
  int CurrentPage() const;

  void DisableAll();
  void EnableAll();
  void EnableCommonButtons();
  void EnableTimerTimer();

  // The window caption: "Tandor", or "Tandor : name" while an archive is shown.
  void SetCaption(const std::string& archiveFile);

  // Folder chooser; empty when cancelled.
  std::string BrowseforFolder(const std::string& title, bool classic, bool allowCreate);
  // Path helpers of the update page.
  std::string GetLastfolder(const std::string& path);
  std::string GetrelRootFolder(const std::string& path);
  void OpenHelpPage(const std::string& page);

  // Clears the unzip page's lists, counters and icon cache (the page's own issue extends it).
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
  // Puts an archive into the incoming queue unless it is there (any letter case).
  void AddToQueue(const std::string& archive);
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

  TZipKit ZipKit;
  std::atomic<int> JobPercent{-1};  // the last progress shown by ZipKitProgress
  TSettings Settings;
  std::unique_ptr<TRunState> RunState;
  TTempFolders TempFolders;
  TIconLists Icons;
  std::vector<std::string> QueueList;  // item 0 stands for the queue box's first item
  std::string CurrentArchiveFile;
  bool ArchiveExtracted = false;
  int64_t UnzipTotalBytes = 0;
  bool ModalDialogOpen = false;
  bool ZipRunStarted = false;  // a zip creation run was started since the create list was filled
  std::string RelativeRoot;    // update page: the relative root folder
  std::string RelativeRowPath;
  TUndoStack UndoStack;  // create page: the rows added by each adding action
  QStringList CommandLine;

  QTabWidget* TabbedNotebook = nullptr;
  TUnzipPage* UnzipPage = nullptr;
  TUpdatePage* UpdatePage = nullptr;
  TCreatePage* CreatePage = nullptr;
  TBatchPage* BatchPage = nullptr;
  TSfxPage* SfxPage = nullptr;
  TPage* Page(int index) const;

  QTimer StartTimer, Timer, AutoThumbTimer, EnableTimer, GzipTimer, TarTimer, BatchTimer, BatchUnzipTimer;

  // The list that takes drops: follows the page (rule 10 of page switching).
  TFileListView* DropTarget = nullptr;

  // Open dispatch, incoming queue and its buttons, single instance, system folders.
  std::unique_ptr<TIncomingQueue> Queue;
  TOpenDispatch* Dispatch = nullptr;
  TQueueButtons* QueueButtons = nullptr;
  std::unique_ptr<TRunOnce> RunOnce;
  TSystemDirs SystemDirs;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void BuildMenus();
  void BuildPages();
  void ConnectCommonButtons();
  void ShowFirstRunWindow();
  void ShowInfoWindow(const QString& title, const QString& html);
  void ReportSettingsError();
  void SetUpZipKit();
  bool closed_ = false;
  bool settingsErrorShown_ = false;
  int currentPage_ = 0;
  std::unique_ptr<TPromptService> prompt_;
};
