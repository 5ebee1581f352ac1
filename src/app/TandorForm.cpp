#include "app/TandorForm.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>

#include "app/IncomingQueue.h"
#include "app/OpenDispatch.h"
#include "app/PromptService.h"
#include "app/QueueButtons.h"
#include "app/RunOnce.h"
#include "core/TextUtil.h"
#include "pages/batch/BatchPage.h"
#include "pages/common/FileList.h"
#include "pages/create/CreatePage.h"
#include "pages/sfx/SfxPage.h"
#include "pages/unzip/UnzipPage.h"
#include "pages/update/UpdatePage.h"
#include "platform/Desktop.h"
#include "platform/Paths.h"

namespace fs = std::filesystem;

namespace {

const char* const kCaptions[] = {"UNZIP A ZIP FILE   .", "ADD UPDATE  .", "CREATE A NEW ZIP FILE  .", "BATCH UNZIP  .",
                                 "SELF EXTRACTING ZIP   ."};

// A tab bar whose clicks ask the window first: the change happens only when the rules allow it.
class TPageTabBar : public QTabBar {
 public:
  explicit TPageTabBar(std::function<void(int)> request) : request_(std::move(request)) {
    setFocusPolicy(Qt::NoFocus);
  }

 protected:
  void mousePressEvent(QMouseEvent* e) override {
    if (e->button() != Qt::LeftButton) return;
    const int index = tabAt(e->position().toPoint());
    if (index >= 0 && index != currentIndex()) request_(index);
  }
  void wheelEvent(QWheelEvent*) override {}
  void keyPressEvent(QKeyEvent*) override {}

 private:
  std::function<void(int)> request_;
};

class TPageTabs : public QTabWidget {
 public:
  explicit TPageTabs(std::function<void(int)> request, QWidget* parent) : QTabWidget(parent) {
    setTabBar(new TPageTabBar(std::move(request)));
  }
};

std::string SystemTempFolder() { return TSystemDirs().TempDir(); }

bool EndsWithZip(const std::string& name) { return EndsWith(LowerCase(name), ".zip"); }

}  // namespace

TTandorForm::TTandorForm(QStringList arguments, QWidget* parent)
    : QMainWindow(parent), TempFolders(CacheFolder(), SystemTempFolder()), CommandLine(std::move(arguments)) {
  prompt_ = std::make_unique<TPromptService>(this);
  if (!InstalledPromptService()) SetPromptService(prompt_.get());  // tests install their own first
  SetModalObserver([this](bool open) { ModalDialogOpen = open; });
  setWindowTitle("Tandor");
  BuildPages();
  BuildMenus();
  for (QTimer* t : {&StartTimer, &Timer, &AutoThumbTimer, &EnableTimer, &GzipTimer, &TarTimer, &BatchTimer,
                    &BatchUnzipTimer})
    t->stop();
  StartTimer.setInterval(10);
  Timer.setInterval(500);
  AutoThumbTimer.setInterval(200);
  EnableTimer.setInterval(50);
  GzipTimer.setInterval(100);
  TarTimer.setInterval(50);
  BatchTimer.setInterval(50);
  BatchUnzipTimer.setInterval(100);
  StartTimer.setSingleShot(true);
  EnableTimer.setSingleShot(true);
  connect(&EnableTimer, &QTimer::timeout, this, &TTandorForm::EnableTimerTimer);
  Queue = std::make_unique<TIncomingQueue>(QueueList, UnzipPage->ComboBox, ConfigFolder() + "/queue",
                                           CacheFolder() + "/ziptemp",
                                           [this](const std::string& p) { return TempFolders.IsTemporaryLocation(p); });
  Queue->InUse = [this](const std::string& p) { return EqualsNoCase(p, CurrentArchiveFile); };
  Dispatch = new TOpenDispatch(*this);
  QueueButtons = new TQueueButtons(*this);
  connect(&StartTimer, &QTimer::timeout, Dispatch, &TOpenDispatch::StartTimerTimer);
  resize(1024, 720);
  FormCreate();
}

TTandorForm::~TTandorForm() {
  if (!closed_) DoCloseCode();
  SetModalObserver(nullptr);
  if (InstalledPromptService() == prompt_.get()) SetPromptService(nullptr);
}

void TTandorForm::BuildPages() {
  TabbedNotebook = new TPageTabs([this](int index) { RequestPage(index); }, this);
  UnzipPage = new TUnzipPage(*this);
  UpdatePage = new TUpdatePage(*this);
  CreatePage = new TCreatePage(*this);
  BatchPage = new TBatchPage(*this);
  SfxPage = new TSfxPage(*this);
  TPage* pages[] = {UnzipPage, UpdatePage, CreatePage, BatchPage, SfxPage};
  for (int i = 0; i < 5; ++i) TabbedNotebook->addTab(pages[i], kCaptions[i]);
  setCentralWidget(TabbedNotebook);
  for (TPage* p : pages) {
    if (TFileListView* list = p->MainList()) list->Model()->SetIconProvider([this](int i) { return Icons.Icon(i); });
  }
  UnzipPage->UnzipFilteredListView->Model()->SetIconProvider([this](int i) { return Icons.Icon(i); });
  for (TFileListView* list : {UnzipPage->UnzipListView, UnzipPage->UnzipFilteredListView, UpdatePage->UpdateListView})
    list->Model()->SetPathIcon(0);
  ConnectCommonButtons();
}

void TTandorForm::ConnectCommonButtons() {
  const auto exitAlways = [this] { close(); };
  const auto exitUnlessBusy = [this] {
    if (!RunState || !RunState->BatchBusy) close();
  };
  connect(UnzipPage->UnzipCloseButton, &QPushButton::clicked, this, exitAlways);
  connect(UpdatePage->UpdateExitbutton, &QPushButton::clicked, this, exitAlways);
  connect(SfxPage->SFXExitButton, &QPushButton::clicked, this, exitAlways);
  connect(CreatePage->ZipExitButton, &QPushButton::clicked, this, exitUnlessBusy);
  connect(BatchPage->BatchExitButton, &QPushButton::clicked, this, exitUnlessBusy);
  connect(UnzipPage->UnzipHelpButton, &QPushButton::clicked, this, [this] { OpenHelpPage("unzip.html"); });
  connect(UpdatePage->UpdateHelpButton, &QPushButton::clicked, this, [this] { OpenHelpPage("update.html"); });
  connect(CreatePage->ZipHelpButton, &QPushButton::clicked, this, [this] { OpenHelpPage("create.html"); });
  connect(BatchPage->BatchHelpButton, &QPushButton::clicked, this, [this] { OpenHelpPage("batch.html"); });
  connect(SfxPage->SFXHelpButton, &QPushButton::clicked, this, [this] { OpenHelpPage("sezip.html"); });
}

void TTandorForm::BuildMenus() {
  QMenu* file = menuBar()->addMenu("&File");
  QAction* properties = file->addAction("Properties");
  connect(properties, &QAction::triggered, this, [this] { ShowFirstRunWindow(); });
  QAction* about = file->addAction("About");
  connect(about, &QAction::triggered, this, [this] {
    ShowInfoWindow("About Tandor File",
                   "<h2>Tandor File</h2><p>Version " + QString(TANDOR_VERSION) +
                       "</p><p>An archive utility for zip, RAR, tar, gzip and tar.gz archives.</p>"
                       "<p>Built with Qt " QT_VERSION_STR ", zlib and libdeflate.</p>");
  });
  QAction* donation = file->addAction("Donation Ware");
  connect(donation, &QAction::triggered, this, [this] {
    ShowInfoWindow("Donation Ware",
                   "<h3>Tandor File is donation ware</h3><p>You may use and share it freely. If it saves you time, "
                   "a donation to its makers keeps it growing.</p>");
  });
  QAction* software = file->addAction("Software");
  connect(software, &QAction::triggered, this, [] { OpenWithDesktop("https://tandorfile.example.org/software"); });
  file->addSeparator();
  QAction* exitAction = file->addAction("Exit");
  connect(exitAction, &QAction::triggered, this, [this] { close(); });
}

void TTandorForm::ShowInfoWindow(const QString& title, const QString& html) {
  QDialog dialog(this);
  dialog.setWindowTitle(title);
  auto* layout = new QVBoxLayout(&dialog);
  auto* text = new QLabel(html, &dialog);
  text->setWordWrap(true);
  text->setMinimumWidth(360);
  layout->addWidget(text);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
  connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  layout->addWidget(buttons);
  ExecModal(dialog, "TInfoForm");
}

void TTandorForm::ShowFirstRunWindow() {
  // Stands in for the Properties window, opened on its start-up links page.
  QDialog dialog(this);
  dialog.setWindowTitle("Startup Links   .");
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(new QLabel("Welcome to Tandor File.\nThe program's options and links are set here.", &dialog));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
  connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  layout->addWidget(buttons);
  ExecModal(dialog, "TPropertiesForm");
}

void TTandorForm::ReportSettingsError() {
  if (Settings.LastError.empty() || settingsErrorShown_) return;
  settingsErrorShown_ = true;
  ShowError(Settings.LastError + "\nYOUR SETTINGS ARE KEPT FOR THIS SESSION ONLY.");
}

void TTandorForm::FormCreate() {
  ModalDialogOpen = false;
  QueueList.assign(1, std::string());
  UnzipPage->SiblingProgramFound = fs::exists(ProgramDir() + "/crawlpad");
  UnzipPage->SpiderButton->setEnabled(UnzipPage->SiblingProgramFound);
  SetUpZipKit();

  Settings.ConfigFile = ConfigFolder() + "/config";
  Settings.SetDefaultSettings();
  Settings.ClearSettingStrings();
  if (!Settings.LoadSettings()) {
    if (!Settings.LastError.empty()) {
      ReportSettingsError();  // unreadable: go on with the defaults, never overwrite it
    } else {
      ShowFirstRunWindow();
      if (!Settings.WriteDefaultSettings()) ReportSettingsError();
    }
  }

  TabbedNotebook->setCurrentIndex(kUnzipPage);
  currentPage_ = kUnzipPage;
  TempFolders.TarTempFolder.clear();
  TempFolders.ExtraTempFolders.clear();
  TempFolders.EnsureFolders();

  RunState = std::make_unique<TRunState>();
  RunState->ClearAtStartup();
  Settings.CreateCutoffDate = 0;
  Settings.UpdateCutoffDate = 0;
  Icons.ClearCache();
  UndoStack.clear();

  const std::string before = Settings.UpdateCheckDate;
  Settings.ClampUpdateCheckDate();
  if (Settings.UpdateCheckDate != before) ReportSettingsError();
  if (!CommandLine.isEmpty()) StartTimer.start();
  DropTarget = UnzipPage->UnzipListView;
  Queue->LoadQueue();
}

void TTandorForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (UnzipPage->ComboBox->count() > 0) UnzipPage->ComboBox->setCurrentIndex(0);
  if (CurrentPage() == kUnzipPage) {
    UnzipPage->VisibleList()->setEnabled(true);
    UnzipPage->VisibleList()->setFocus();
  }
}

void TTandorForm::closeEvent(QCloseEvent* event) {
  DoCloseCode();
  event->accept();
}

void TTandorForm::DoCloseCode() {
  if (closed_) return;
  closed_ = true;
  Dispatch->WaitForOpenThread();
  if (RunOnce) RunOnce->Close();
  hide();
  UnzipPage->StopWork();
  if (UnzipPage->UnzipListView->HasRows() && !ArchiveExtracted && Settings.QueueEnabled && !CurrentArchiveFile.empty())
    Queue->QueueOne(CurrentArchiveFile);
  ZipKit.UnloadZipEngine();
  ZipKit.UnloadUnzipEngine();
  UnzipPage->UnzipFilteredListView->Model()->Clear();
  UnzipPage->UnzipListView->Model()->Clear();
  UndoStack.clear();
  TempFolders.ClearTempFolders(QueueList);
  Queue->PruneQueueCopies();
  Queue->SaveQueue();
  if (!Settings.SaveSettings()) ReportSettingsError();
  TempFolders.RemoveTempIfEmpty();
  std::error_code ec;
  for (const char* leftover : {"/updi.i", "/updd.d"}) fs::remove(ConfigFolder() + leftover, ec);
}

TPage* TTandorForm::Page(int index) const {
  switch (index) {
    case kUnzipPage: return UnzipPage;
    case kUpdatePage: return UpdatePage;
    case kCreatePage: return CreatePage;
    case kBatchPage: return BatchPage;
    case kSfxPage: return SfxPage;
    default: return nullptr;
  }
}

int TTandorForm::CurrentPage() const { return currentPage_; }

int TTandorForm::RequestPage(int index) {
  int to = index;
  const int from = currentPage_;
  if (to == from || to < 0 || to > 4) return from;
  if (!TabbedNotebookChange(from, to)) return from;
  currentPage_ = to;
  TabbedNotebook->setCurrentIndex(to);
  TabbedNotebookClick();
  return to;
}

bool TTandorForm::TabbedNotebookChange(int from, int& to) {
  // 1. A page with work in progress cannot be left.
  if (QProgressBar* bar = Page(from)->ProgressBar(); bar && bar->value() != 0) return false;

  const bool unzipRows = UnzipPage->UnzipListView->HasRows();
  const bool updateRows = UpdatePage->UpdateListView->HasRows();
  const bool createRows = CreatePage->ZipListView->HasRows();

  // 2. From the batch or self-extracting page back to a list page: the first page holding rows wins.
  if ((from == kBatchPage || from == kSfxPage) && to <= kCreatePage) {
    const int first = unzipRows ? kUnzipPage : updateRows ? kUpdatePage : createRows ? kCreatePage : -1;
    if (first >= 0) to = first;
  }

  // 3. The loaded zip archive moves to the update page.
  if (from == kUnzipPage && to == kUpdatePage && unzipRows && EndsWithZip(CurrentArchiveFile)) MoveZipfileToUpdate();

  // 4. The archive at hand goes to the self-extracting page.
  if (to == kSfxPage && EndsWithZip(CurrentArchiveFile)) {
    if (from == kUnzipPage && unzipRows) {
      const std::string archive = CurrentArchiveFile;
      ClearUnzipWindow();
      GiveArchiveToSfxPage(archive);
    } else if (from == kUpdatePage && updateRows) {
      const std::string archive = CurrentArchiveFile;
      ClearUpdateWindow();
      GiveArchiveToSfxPage(archive);
    } else if (from == kCreatePage && createRows && ZipRunStarted) {
      ClearCreateList();
      GiveArchiveToSfxPage(CurrentArchiveFile);
    }
  }

  // 5. Leaving a filled create list.
  if (from == kCreatePage && createRows && (to == kUnzipPage || to == kUpdatePage)) {
    if (!AskYesNo("CLEAR THE CURRENT ENTRIES AND SWITCH TO A NEW WINDOW?")) return false;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ClearCreateList();
    QApplication::restoreOverrideCursor();
  }

  // 6. From a loaded unzip page to the create page.
  if (from == kUnzipPage && to == kCreatePage && unzipRows) {
    if (!AskYesNo("WOULD YOU LIKE TO CLEAR THE LOADED FILE AND CREATE A NEW ZIPFILE?")) return false;
    UnzipPage->ShowFullList();
    ClearUnzipWindow();
  }

  // 7. From a loaded update page back to the unzip page: the archive waits in the queue.
  if (from == kUpdatePage && to == kUnzipPage && updateRows) {
    AddToQueue(CurrentArchiveFile);
    ClearUpdateWindow();
  }

  // 8. From a loaded update page to the create page.
  if (from == kUpdatePage && to == kCreatePage && updateRows) {
    if (!AskYesNo("WOULD YOU LIKE TO CLEAR THE LOADED FILE AND CREATE A NEW ZIPFILE?")) return false;
    ClearUpdateWindow();
  }

  // 9. A self-extracting program turned back into a zip archive is listed on the unzip page.
  if (from == kSfxPage && to == kUnzipPage && EndsWithZip(CurrentArchiveFile) && RunState->SfxCreated) {
    RunState->SfxCreated = false;
    DisableAll();
    SetCaption(CurrentArchiveFile);
    UpdateUnzipWindow(CurrentArchiveFile);
  }

  // 10. The drop target follows the page.
  switch (to) {
    case kUnzipPage: DropTarget = UnzipPage->VisibleList(); break;
    case kCreatePage: DropTarget = CreatePage->ZipListView; break;
    case kSfxPage: DropTarget = nullptr; break;
    case kUpdatePage: DropTarget = UpdatePage->UpdateResetButton->isEnabled() ? UpdatePage->UpdateListView : nullptr; break;
    default: break;
  }
  return true;
}

void TTandorForm::TabbedNotebookClick() {
  EnableCommonButtons();
  if (TFileListView* list = Page(currentPage_)->MainList()) {
    list->setEnabled(true);
    list->setFocus();
  }
  if (currentPage_ == kUpdatePage) Settings.UpdateCutoffDate = 0;
  if (currentPage_ == kCreatePage) Settings.CreateCutoffDate = 0;
}

void TTandorForm::DisableAll() {
  for (QWidget* w : Page(currentPage_)->WorkControls()) w->setEnabled(false);
}

void TTandorForm::EnableAll() {
  Page(currentPage_)->EnableWorkControls();
  EnableCommonButtons();
}

void TTandorForm::EnableCommonButtons() {
  for (int i = 0; i < 5; ++i)
    for (QWidget* w : Page(i)->CommonControls()) w->setEnabled(true);
  UnzipPage->SpiderButton->setEnabled(UnzipPage->SiblingProgramFound);
  UnzipPage->MoveBatchButton->setEnabled(false);  // moving the queue to the batch page comes with that page
}

void TTandorForm::EnableTimerTimer() {
  EnableTimer.stop();
  EnableAll();
  for (QPushButton* b : {CreatePage->ZipUndoButton, CreatePage->BatchButton, CreatePage->CreateTagButton,
                         CreatePage->ZipResetButton, CreatePage->ZipButton})
    b->setEnabled(true);
  while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
  CreatePage->ZipListView->setEnabled(true);
  CreatePage->ZipListView->setFocus();
  CreatePage->ZipStopButton->setEnabled(false);
  GzipTimer.stop();
  CreatePage->ZipProgressBar->setValue(0);
  CreatePage->ZipStatusBar->clearMessage();
}

void TTandorForm::SetCaption(const std::string& archiveFile) {
  setWindowTitle(archiveFile.empty() ? QString("Tandor")
                                     : "Tandor : " + QString::fromStdString(ExtractFileName(archiveFile)));
}

void TTandorForm::ClearUnzipWindow() { UnzipPage->ClearUnzipWindow(); }

void TTandorForm::ClearUpdateWindow() {
  UpdatePage->UpdateListView->Model()->Clear();
  Icons.ClearCache();
  UpdatePage->UpDateNumFilesEdit->setText("0");
  UpdatePage->UpdatetotalFileSizeEdit->setText("0");
  UpdatePage->UpdateTagEdit->clear();
  for (QPushButton* b : {UpdatePage->OpenFilesUpdateButton, UpdatePage->UpdateTagButton,
                         UpdatePage->AddfolderUpdatebutton, UpdatePage->UpdateDeleteButton, UpdatePage->UpdateResetButton})
    b->setEnabled(false);
  CurrentArchiveFile.clear();
  SetCaption({});
}

void TTandorForm::ClearCreateList() {
  UndoStack.clear();
  CreatePage->ZipListView->Model()->Clear();
  Icons.ClearCache();
  Settings.CreateOptionsEditable = true;
  CreatePage->Remove1->setEnabled(false);
  CreatePage->NumfilesEdit->setText("0");
  CreatePage->TotalFileSizeEdit->setText("0");
  ZipRunStarted = false;
}

void TTandorForm::GiveArchiveToSfxPage(const std::string& archive) {
  CurrentArchiveFile = archive;
  SetCaption({});
  DropTarget = nullptr;
  SfxPage->ZipFileNameLabel->setText(QString::fromStdString(ExtractFileName(archive)));
  SfxPage->SfxArchive = archive;
}

void TTandorForm::MoveZipfileToUpdate() {
  // The update page lists the archive; the unzip page is left empty.
  const std::string archive = CurrentArchiveFile;
  ClearUnzipWindow();
  CurrentArchiveFile = archive;
  SetCaption(archive);
}

void TTandorForm::UpdateUnzipWindow(const std::string& archive) { UnzipPage->UpdateUnzipWindow(archive); }

void TTandorForm::AddToQueue(const std::string& archive) { Queue->AddToQueue(archive); }

void TTandorForm::UpdateDropUpdateWindow(const QStringList& paths) {
  Q_UNUSED(paths);  // the update page adds the dropped files
  EnableAll();
}

void TTandorForm::AttachRunOnce(std::unique_ptr<TRunOnce> runOnce) {
  RunOnce = std::move(runOnce);
  RunOnce->OnOtherInstance = [this](QObject* sender, int paramCount, const QStringList& paramStr) {
    Dispatch->RunOnceOtherInstance(sender, paramCount, paramStr);
  };
  QTimer::singleShot(0, RunOnce.get(), [r = RunOnce.get()] { r->DeliverPending(); });
}

std::string TTandorForm::BrowseforFolder(const std::string& title, bool classic, bool allowCreate) {
  if (!classic) return Prompt().ChooseFolder(title, Settings.BrowseFolder);
  std::string folder = Prompt().ChooseFolder("DOUBLE CLICK TO Select Folder", Settings.BrowseFolder);
  if (folder.empty()) return {};
  std::error_code ec;
  if (allowCreate && !fs::exists(folder, ec)) fs::create_directories(folder, ec);
  if (fs::is_directory(folder, ec)) {
    Settings.BrowseFolder = folder;
    return folder;
  }
  ShowError("ERROR.  THE FOLDER DOES NOT EXIST OR CANNOT BE CREATED.\nYOU MAY HAVE ENTERED CHARACTERS THAT ARE NOT "
            "ALLOWED IN FOLDER NAMES.\nTHE FOLLOWING CHARACTERS ARE NOT ALLOWED : \n* ? / : \" < > |");
  return {};
}

std::string TTandorForm::GetLastfolder(const std::string& path) {
  RelativeRoot.clear();
  if (path.empty() || path.back() == '/') return {};
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return {};
  return path.substr(slash + 1);
}

std::string TTandorForm::GetrelRootFolder(const std::string& path) {
  RelativeRowPath.clear();
  if (RelativeRoot.empty() || path.size() <= RelativeRoot.size()) return {};
  return path.substr(RelativeRoot.size());
}

void TTandorForm::OpenHelpPage(const std::string& page) { OpenWithDesktop(ProgramDir() + "/help/" + page); }

// ---------------------------------------------------------------------------------------------
// The zip component

void TTandorForm::SetUpZipKit() {
  ZipKit.Verbose = true;
  ZipKit.AddCompLevel = 8;
  ZipKit.AddOptions = {AddDirNames, AddHiddenFiles};
  ZipKit.ExtrOptions = {ExtrDirNames, ExtrOverWrite};
  ZipKit.OnProgress = [this](TZipKit* k, ProgressType t, const std::string& f, int64_t n) { ZipKitProgress(k, t, f, n); };
  ZipKit.OnMessage = [this](TZipKit* k, int32_t e, const std::string& m) { ZipKitMessage(k, e, m); };
  ZipKit.OnExtractOverwrite = [this](TZipKit* k, const std::string& f, bool older, bool& overwrite, int32_t i) {
    ZipKitExtractOverwrite(k, f, older, overwrite, i);
  };
  ZipKit.OnWaitCursor = [](bool busy) {
    RunOnUiThread([busy] {
      if (busy) QApplication::setOverrideCursor(Qt::WaitCursor);
      else QApplication::restoreOverrideCursor();
    });
  };
  // Both engines are loaded once; a missing one is reported when it is first needed.
  ZipKit.SetDLLDirectory(ProgramDir());
  ZipKit.Unattended = true;
  ZipKit.LoadZipEngine();
  ZipKit.LoadUnzipEngine();
  ZipKit.Unattended = false;
}

void TTandorForm::ZipKitProgress(TZipKit*, ProgressType type, const std::string&, int64_t fileSize) {
  TRunState& state = *RunState;
  const int64_t total = state.JobTotalBytes;
  const int kind = state.JobKind;
  if (total == 0 || type != PtAdvance || kind == 3 || (kind == 1 && Settings.RelativePaths)) return;
  const int64_t done = state.JobDoneBytes += fileSize;
  const int percent = static_cast<int>(std::clamp<long double>(static_cast<long double>(done) * 100 / total, 0, 100));
  if (JobPercent.exchange(percent) == percent) return;
  QProgressBar* bar = kind == 0 ? UnzipPage->UnzipProgressBar : kind == 1 ? CreatePage->ZipProgressBar
                                                                          : Page(kBatchPage)->ProgressBar();
  QMetaObject::invokeMethod(bar, [bar, percent] { bar->setValue(percent); }, Qt::QueuedConnection);
}

void TTandorForm::ZipKitMessage(TZipKit*, int32_t errCode, const std::string& message) {
  if (errCode != 0 && !RunState->BatchBusy) ShowError("ERROR : " + message);
}

void TTandorForm::ZipKitExtractOverwrite(TZipKit* sender, const std::string& forFile, bool isOlder, bool& doOverwrite,
                                         int32_t) {
  TRunState& state = *RunState;
  if (state.BatchBusy || state.OverwriteNoToAll) {
    doOverwrite = false;
    return;
  }
  if (state.OverwriteYesToAll || state.OverwriteCurrent) {
    doOverwrite = true;
    return;
  }
  if (sender && sender->ExtrOptions.Has(ExtrOverWrite)) return;  // the engine's proposal stands
  const std::string text =
      QString::fromStdString(forFile).toUpper().toStdString() + "\n\n" +
      (isOlder ? "THE FILE IN THE ZIP FILE IS OLDER THAN THE FILE ON DISK\n"
               : "THE FILE IN THE ZIP FILE WILL REPLACE THE FILE ON DISK\n") +
      "TO REPLACE THIS FILE CHOOSE  YES\nTO REPLACE ALL FILES AND AVOID RECEIVING THIS MESSAGE AGAIN CHOOSE  ALL";
  switch (Prompt().ShowMessage("Tandor File", text, TPromptIcon::Question, TPromptButtons::YesNoAllCancel)) {
    case TPromptAnswer::Yes: doOverwrite = true; break;
    case TPromptAnswer::YesToAll:
      doOverwrite = true;
      state.OverwriteCurrent = true;
      state.OverwriteYesToAll = true;
      break;
    case TPromptAnswer::NoToAll:
      doOverwrite = false;
      state.OverwriteNoToAll = true;
      state.OverwriteCurrent = false;
      break;
    default: doOverwrite = false; break;
  }
}
