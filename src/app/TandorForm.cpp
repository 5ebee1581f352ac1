#include "app/TandorForm.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
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
#include "app/QueueButtons.h"
#include "app/RunOnce.h"
#include "core/TextUtil.h"
#include "core/Version.h"
#include "images/PictureService.h"
#include "pages/batch/BatchPage.h"
#include "pages/common/FileList.h"
#include "pages/common/PromptService.h"
#include "pages/create/CreatePage.h"
#include "pages/images/ImageBrowser.h"
#include "pages/props/PropertiesForm.h"
#include "pages/sfx/SfxPage.h"
#include "pages/unzip/UnzipPage.h"
#include "pages/unzip/UnzipPopupMenu.h"
#include "pages/update/UpdatePage.h"
#include "platform/Associations.h"
#include "platform/Desktop.h"
#include "platform/Paths.h"
#include "platform/WindowState.h"

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
  explicit TPageTabs(std::function<void(int)> request, QWidget* parent) : QTabWidget(parent), request_(request) {
    setTabBar(new TPageTabBar(std::move(request)));
  }

 protected:
  // Ctrl+Tab and Ctrl+Shift+Tab ask for the next or the previous page as a click on its tab does, so
  // that the keyboard too leaves a page only when the rules allow it.
  void keyPressEvent(QKeyEvent* e) override {
    const bool tab = e->key() == Qt::Key_Tab || e->key() == Qt::Key_Backtab;
    if (!tab || !(e->modifiers() & Qt::ControlModifier) || count() < 2) return QTabWidget::keyPressEvent(e);
    const bool back = e->key() == Qt::Key_Backtab || (e->modifiers() & Qt::ShiftModifier);
    request_((currentIndex() + (back ? count() - 1 : 1)) % count());
  }

 private:
  std::function<void(int)> request_;
};

std::string SystemTempFolder() { return TSystemDirs().TempDir(); }

bool EndsWithZip(const std::string& name) { return EndsWith(LowerCase(name), ".zip"); }
bool EndsWithProgram(const std::string& name) { return EndsWith(LowerCase(name), ".run"); }

}  // namespace

TTandorForm::TTandorForm(QStringList arguments, QWidget* parent)
    : QMainWindow(parent),
      runState_(std::make_unique<TRunState>()),
      tempFolders_(CacheFolder(), SystemTempFolder()),
      commandLine_(std::move(arguments)) {
  prompt_ = std::make_unique<TPromptService>(this);
  if (!InstalledPromptService()) SetPromptService(prompt_.get());  // tests install their own first
  SetModalObserver([this](bool open) { modalDialogOpen_ = open; });
  setWindowTitle("Tandor");
  BuildPages();
  BuildMenus();
  for (QTimer* t : {&startTimer_, &timer_, &batchTimer_, &batchUnzipTimer_}) t->stop();
  startTimer_.setInterval(10);
  timer_.setInterval(500);
  batchTimer_.setInterval(50);
  batchUnzipTimer_.setInterval(100);
  startTimer_.setSingleShot(true);
  queue_ = std::make_unique<TIncomingQueue>(queueList_, unzipPage_->ComboBox, ConfigFolder() + "/queue",
                                            CacheFolder() + "/ziptemp",
                                            [this](const std::string& p) { return tempFolders_.IsTemporaryLocation(p); });
  queue_->InUse = [this](const std::string& p) { return EqualsNoCase(p, currentArchiveFile_); };
  dispatch_ = new TOpenDispatch(*this);
  queueButtons_ = new TQueueButtons(*this);
  connect(&startTimer_, &QTimer::timeout, dispatch_, &TOpenDispatch::StartTimerTimer);
  resize(1024, 720);
  RestoreWindowState();
  FormCreate();
}

namespace {

// Lists with the same columns share their widths (the unzip page's full and filtered lists).
QString ListKey(const TFileListView& list) {
  QStringList titles;
  for (int c = 0; c < list.Model()->columnCount(); ++c)
    titles << list.Model()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
  return "list_" + QString::number(qHash(titles.join('|')), 16);
}

}  // namespace

void TTandorForm::RestoreWindowState() {
  TWindowState state(ConfigFolder() + "/window");
  if (!state.Load()) return;
  if (const QByteArray g = state.Value("geometry"); !g.isEmpty()) restoreGeometry(g);
  for (TFileListView* list : findChildren<TFileListView*>())
    if (const QByteArray h = state.Value(ListKey(*list)); !h.isEmpty()) list->header()->restoreState(h);
}

void TTandorForm::SaveWindowState() {
  TWindowState state(ConfigFolder() + "/window");
  state.Load();  // lists not built this time keep their widths
  state.SetValue("geometry", saveGeometry());
  for (TFileListView* list : findChildren<TFileListView*>()) state.SetValue(ListKey(*list), list->header()->saveState());
  state.Save();
}

TTandorForm::~TTandorForm() {
  if (!closed_) DoCloseCode();
  SetModalObserver(nullptr);
  if (InstalledPromptService() == prompt_.get()) SetPromptService(nullptr);
}

void TTandorForm::BuildPages() {
  tabbedNotebook_ = new TPageTabs([this](int index) { RequestPage(index); }, this);
  unzipPage_ = new TUnzipPage(*this);
  InstallImageBrowser(*unzipPage_, *this);
  updatePage_ = new TUpdatePage(*this);
  createPage_ = new TCreatePage(*this);
  batchPage_ = new TBatchPage(*this);
  sfxPage_ = new TSfxPage(*this);
  for (int i = 0; i < 5; ++i) tabbedNotebook_->addTab(Page(i), kCaptions[i]);
  const auto properties = [this](const std::string& caption) {
    const int page = PropertiesPageIndex(caption);
    ShowProperties(page >= 0 ? page : kStartupLinksPage);
  };
  unzipPage_->ShowProperties = properties;
  updatePage_->ShowProperties = properties;
  createPage_->ShowProperties = properties;
  setCentralWidget(tabbedNotebook_);
}

void TTandorForm::BuildMenus() {
  QMenu* file = menuBar()->addMenu("&File");
  QAction* properties = file->addAction("Properties");
  connect(properties, &QAction::triggered, this, [this] { PropertiesClick(); });
  QAction* about = file->addAction("About");
  connect(about, &QAction::triggered, this, [this] {
    ShowInfoWindow("About Tandor File",
                   "<h2>Tandor File</h2><p>Version " + QString(ProgramVersion()) +
                       "</p><p>An archive utility for zip, RAR, tar, gzip and tar.gz archives.</p>"
                       "<p>Built with Qt " QT_VERSION_STR ", zlib and libdeflate.</p>");
  });
  QAction* donation = file->addAction("Donation Ware");
  connect(donation, &QAction::triggered, this, [this] { ShowDonationWare(); });
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

void TTandorForm::ShowDonationWare() {
  ShowInfoWindow("Donation Ware",
                 "<h3>Tandor File is donation ware</h3><p>You may use and share it freely. If it saves you time, "
                 "a donation to its makers keeps it growing.</p>");
}

int TTandorForm::ShowProperties(int page) {
  TPropertiesForm form(settings_, ProgramPath(), page, this);
  form.OpenHelpPage = [this](const std::string& help) { OpenHelpPage(help); };
  form.ShowDonationWare = [this] { ShowDonationWare(); };
  return ExecModal(form, "TPropertiesForm");
}

void TTandorForm::PropertiesClick() { ShowProperties(kStartupLinksPage); }

void TTandorForm::StartMenuSelect() {
  ShowProperties(kStartupLinksPage);
  // The first-run file holds the first-run values, but never drops the handlers kept to be given back
  // (the window may have given the program some types).
  TSettings kept = settings_;
  if (!settings_.WriteDefaultSettings()) ReportSettingsError();
  bool owners = false;
  for (std::string TSettings::*f :
       {&TSettings::PrevZipProgId, &TSettings::PrevZipName, &TSettings::PrevGzProgId, &TSettings::PrevGzName,
        &TSettings::PrevTarProgId, &TSettings::PrevTarName, &TSettings::PrevTgzProgId, &TSettings::PrevTgzName,
        &TSettings::PrevRarProgId, &TSettings::PrevRarName}) {
    settings_.*f = kept.*f;
    owners = owners || !(kept.*f).empty();
  }
  if (owners && !settings_.SaveSettings()) ReportSettingsError();
}

void TTandorForm::CheckThumbSizeEntry() {
  // The menu is made with the pages, before the settings are read.
  for (QMenu* sizes : unzipPage_->UnzipPopupMenu->findChildren<QMenu*>()) {
    if (sizes->title() != "Thumbnail Size") continue;
    QAction* other = nullptr;
    bool named = false;
    for (QAction* a : sizes->actions()) {
      if (!a->data().isValid()) {
        other = a;
        continue;
      }
      a->setChecked(a->data().toInt() == settings_.ThumbSize);
      named = named || a->isChecked();
    }
    if (other) other->setChecked(!named);
  }
}

void TTandorForm::RegisterProgramClass() {
  InstallProgramClass(ProgramPath());  // a failure skips the class silently
  const TViewerPrograms viewers = FindViewerPrograms();
  settings_.QuickViewProgram = viewers.QuickView;
  settings_.WordPadAvailable = !viewers.WordPad.empty();
}

void TTandorForm::ReportSettingsError() {
  if (settings_.LastError.empty() || settingsErrorShown_) return;
  settingsErrorShown_ = true;
  ShowError(settings_.LastError + "\nYOUR SETTINGS ARE KEPT FOR THIS SESSION ONLY.");
}

void TTandorForm::FormCreate() {
  modalDialogOpen_ = false;
  queueList_.assign(1, std::string());
  unzipPage_->SiblingProgramFound = fs::exists(ProgramDir() + "/crawlpad");
  unzipPage_->SpiderButton->setEnabled(unzipPage_->SiblingProgramFound);
  SetUpZipKit();

  settings_.ConfigFile = ConfigFolder() + "/config";
  settings_.SetDefaultSettings();
  settings_.ClearSettingStrings();
  if (!settings_.LoadSettings()) {
    if (!settings_.LastError.empty()) {
      ReportSettingsError();  // unreadable: go on with the defaults, never overwrite it
    } else {
      StartMenuSelect();
    }
  }

  tabbedNotebook_->setCurrentIndex(kUnzipPage);
  currentPage_ = kUnzipPage;
  tempFolders_.TarTempFolder.clear();
  tempFolders_.ExtraTempFolders.clear();
  tempFolders_.EnsureFolders();

  runState_->ClearAtStartup();
  settings_.CreateCutoffDate = 0;
  settings_.UpdateCutoffDate = 0;
  RegisterProgramClass();
  CheckThumbSizeEntry();
  icons_.ClearCache();
  createPage_->UndoStack.clear();
  // The self-extracting icon chosen in an earlier session.
  std::error_code iconEc;
  if (!settings_.SfxIconFile.empty() && fs::is_regular_file(settings_.SfxIconFile, iconEc))
    sfxPage_->CheckOutIcon(settings_.SfxIconFile);

  const std::string before = settings_.UpdateCheckDate;
  settings_.ClampUpdateCheckDate();
  if (settings_.UpdateCheckDate != before) ReportSettingsError();
  if (!commandLine_.isEmpty()) startTimer_.start();
  dropTarget_ = unzipPage_->UnzipListView;
  queue_->LoadQueue();
  // Nothing is loaded yet: every page shows its idle buttons from the first paint.
  for (int i = 0; i < 5; ++i) Page(i)->SetIdleButtons();
}

void TTandorForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (unzipPage_->ComboBox->count() > 0) unzipPage_->ComboBox->setCurrentIndex(0);
  if (CurrentPage() == kUnzipPage) {
    unzipPage_->VisibleList()->setEnabled(true);
    unzipPage_->VisibleList()->setFocus();
  }
}

void TTandorForm::closeEvent(QCloseEvent* event) {
  DoCloseCode();
  event->accept();
}

void TTandorForm::DoCloseCode() {
  if (closed_) return;
  closed_ = true;
  dispatch_->WaitForOpenThread();
  if (runOnce_) runOnce_->Close();
  SaveWindowState();
  hide();
  unzipPage_->StopWork();
  if (unzipPage_->UnzipListView->HasRows() && !archiveExtracted_ && settings_.QueueEnabled &&
      !currentArchiveFile_.empty())
    queue_->QueueOne(currentArchiveFile_);
  zipKit_.UnloadZipEngine();
  zipKit_.UnloadUnzipEngine();
  if (PictureLibraryReady()) FreePictureLibrary();
  unzipPage_->UnzipFilteredListView->Model()->Clear();
  unzipPage_->UnzipListView->Model()->Clear();
  createPage_->UndoStack.clear();
  tempFolders_.ClearTempFolders(queueList_);
  queue_->InUse = nullptr;  // the page lets go of the shown archive: its copy goes unless queued
  queue_->PruneQueueCopies();
  queue_->SaveQueue();
  if (!settings_.SaveSettings()) ReportSettingsError();
  tempFolders_.RemoveTempIfEmpty();
  std::error_code ec;
  for (const char* leftover : {"/updi.i", "/updd.d"}) fs::remove(ConfigFolder() + leftover, ec);
}

TPage* TTandorForm::Page(int index) const {
  switch (index) {
    case kUnzipPage: return unzipPage_;
    case kUpdatePage: return updatePage_;
    case kCreatePage: return createPage_;
    case kBatchPage: return batchPage_;
    case kSfxPage: return sfxPage_;
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
  tabbedNotebook_->setCurrentIndex(to);
  TabbedNotebookClick();
  return to;
}

bool TTandorForm::TabbedNotebookChange(int from, int& to) {
  TPage* const source = Page(from);
  // 1. A page with work in progress cannot be left.
  if (QProgressBar* bar = source->ProgressBar(); (bar && bar->value() != 0) || source->Busy()) return false;

  const bool sourceRows = source->HasRows();

  // 2. From the batch or self-extracting page back to a list page: the first page holding rows wins.
  if ((from == kBatchPage || from == kSfxPage) && to <= kCreatePage) {
    for (int i = kUnzipPage; i <= kCreatePage; ++i) {
      if (Page(i)->HasRows()) {
        to = i;
        break;
      }
    }
  }

  // 3. The loaded zip archive moves to the update page.
  if (from == kUnzipPage && to == kUpdatePage && sourceRows && EndsWithZip(currentArchiveFile_)) MoveZipfileToUpdate();

  // 4. The archive (or self-extracting program) at hand goes to the self-extracting page.
  if (to == kSfxPage && from != kSfxPage &&
      (EndsWithZip(currentArchiveFile_) || EndsWithProgram(currentArchiveFile_)) && source->ArchiveReady()) {
    const std::string archive = currentArchiveFile_;
    source->Clear();
    GiveArchiveToSfxPage(archive);
  }

  // 5. Leaving a filled create list.
  if (from == kCreatePage && sourceRows && (to == kUnzipPage || to == kUpdatePage)) {
    if (!AskYesNo("CLEAR THE CURRENT ENTRIES AND SWITCH TO A NEW WINDOW?")) return false;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    source->Clear();
    QApplication::restoreOverrideCursor();
  }

  // 6. From a loaded unzip page to the create page.
  if (from == kUnzipPage && to == kCreatePage && sourceRows) {
    if (!AskYesNo("WOULD YOU LIKE TO CLEAR THE LOADED FILE AND CREATE A NEW ZIPFILE?")) return false;
    source->Clear();
  }

  // 7. From a loaded update page back to the unzip page: the archive waits in the queue.
  if (from == kUpdatePage && to == kUnzipPage && sourceRows) {
    AddToQueue(currentArchiveFile_);
    source->Clear();
  }

  // 8. From a loaded update page to the create page.
  if (from == kUpdatePage && to == kCreatePage && sourceRows) {
    if (!AskYesNo("WOULD YOU LIKE TO CLEAR THE LOADED FILE AND CREATE A NEW ZIPFILE?")) return false;
    source->Clear();
  }

  // 9. A self-extracting program turned back into a zip archive is listed on the unzip page.
  if (from == kSfxPage && to == kUnzipPage && EndsWithZip(currentArchiveFile_) && runState_->SfxCreated) {
    runState_->SfxCreated = false;
    DisableAll();
    SetCaption(currentArchiveFile_);
    UpdateUnzipWindow(currentArchiveFile_);
  }

  // 10. The drop target follows the page; the batch page keeps the previous one.
  if (to != kBatchPage) dropTarget_ = Page(to)->DropList();
  return true;
}

void TTandorForm::TabbedNotebookClick() {
  EnableCommonButtons();
  if (TFileListView* list = Page(currentPage_)->MainList()) {
    list->setEnabled(true);
    list->setFocus();
  }
  if (currentPage_ == kUpdatePage) settings_.UpdateCutoffDate = 0;
  if (currentPage_ == kCreatePage) settings_.CreateCutoffDate = 0;
}

void TTandorForm::DisableAll() {
  for (QWidget* w : Page(currentPage_)->WorkControls()) w->setEnabled(false);
}

void TTandorForm::EnableAll() {
  Page(currentPage_)->EnableWorkControls();
  EnableCommonButtons();
}

void TTandorForm::EnableCommonButtons() {
  for (int i = 0; i < 5; ++i) Page(i)->EnableCommonControls();
}

void TTandorForm::SetPageIdleButtons() { Page(currentPage_)->SetIdleButtons(); }

void TTandorForm::SetCaption(const std::string& archiveFile) {
  setWindowTitle(archiveFile.empty() ? QString("Tandor")
                                     : "Tandor : " + QString::fromStdString(ExtractFileName(archiveFile)));
}

void TTandorForm::ClearUnzipWindow() { unzipPage_->Clear(); }

void TTandorForm::ClearUpdateWindow() { updatePage_->Clear(); }

void TTandorForm::ClearCreateList() { createPage_->Clear(); }

void TTandorForm::GiveArchiveToSfxPage(const std::string& archive) { HandArchiveTo(kSfxPage, archive); }

void TTandorForm::MoveZipfileToUpdate() {
  // The update page takes the archive with the unzip page's rows, all of them also while a filter
  // shows fewer; the unzip page is left empty and the caption stays.
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const std::string archive = currentArchiveFile_;
  unzipPage_->UnzipFilteredListView->Model()->Clear();
  unzipPage_->ShowFullList();
  std::vector<TListRow> rows = unzipPage_->UnzipListView->Model()->Rows();
  unzipPage_->Clear();
  updatePage_->TakeListedArchive(archive, std::move(rows));
  QApplication::restoreOverrideCursor();
}

void TTandorForm::HandArchiveTo(int index, const std::string& archive) {
  if (TPage* page = Page(index)) page->TakeArchive(archive);
}

void TTandorForm::UpdateUnzipWindow(const std::string& archive) { unzipPage_->UpdateUnzipWindow(archive); }

void TTandorForm::AddToQueue(const std::string& archive) { queue_->AddToQueue(archive); }

void TTandorForm::ClearTempFolders() { tempFolders_.ClearTempFolders(queueList_); }

void TTandorForm::UpdateDropUpdateWindow(const QStringList& paths) {
  std::vector<std::string> files;
  for (const QString& p : paths) files.push_back(p.toStdString());
  updatePage_->UpdateDropUpdateWindow(files);
}

void TTandorForm::AttachRunOnce(std::unique_ptr<TRunOnce> runOnce) {
  runOnce_ = std::move(runOnce);
  runOnce_->OnOtherInstance = [this](QObject* sender, int paramCount, const QStringList& paramStr) {
    dispatch_->RunOnceOtherInstance(sender, paramCount, paramStr);
  };
  QTimer::singleShot(0, runOnce_.get(), [r = runOnce_.get()] { r->DeliverPending(); });
}

std::string TTandorForm::BrowseforFolder(const std::string& title, bool classic, bool allowCreate) {
  if (!classic) return Prompt().ChooseFolder(title, settings_.BrowseFolder);
  std::string folder = Prompt().ChooseFolder("DOUBLE CLICK TO Select Folder", settings_.BrowseFolder);
  if (folder.empty()) return {};
  std::error_code ec;
  if (allowCreate && !fs::exists(folder, ec)) fs::create_directories(folder, ec);
  if (fs::is_directory(folder, ec)) {
    settings_.BrowseFolder = folder;
    return folder;
  }
  ShowError("ERROR.  THE FOLDER DOES NOT EXIST OR CANNOT BE CREATED.\nYOU MAY HAVE ENTERED CHARACTERS THAT ARE NOT "
            "ALLOWED IN FOLDER NAMES.\nTHE FOLLOWING CHARACTERS ARE NOT ALLOWED : \n* ? / : \" < > |");
  return {};
}

void TTandorForm::OpenHelpPage(const std::string& page) { OpenWithDesktop(ProgramDir() + "/help/" + page); }

void TTandorForm::CloseProgram() { close(); }

// ---------------------------------------------------------------------------------------------
// The zip component

void TTandorForm::SetUpZipKit() {
  zipKit_.Verbose = true;
  zipKit_.AddCompLevel = 8;
  zipKit_.AddOptions = {AddDirNames, AddHiddenFiles};
  zipKit_.ExtrOptions = {ExtrDirNames, ExtrOverWrite};
  zipKit_.OnProgress = [this](TZipKit* k, ProgressType t, const std::string& f, int64_t n) { ZipKitProgress(k, t, f, n); };
  zipKit_.OnMessage = [this](TZipKit* k, int32_t e, const std::string& m) { ZipKitMessage(k, e, m); };
  zipKit_.OnExtractOverwrite = [this](TZipKit* k, const std::string& f, bool older, bool& overwrite, int32_t i) {
    ZipKitExtractOverwrite(k, f, older, overwrite, i);
  };
  zipKit_.OnWaitCursor = [](bool busy) {
    RunOnUiThread([busy] {
      if (busy) QApplication::setOverrideCursor(Qt::WaitCursor);
      else QApplication::restoreOverrideCursor();
    });
  };
  // Both engines are loaded once; a missing one is reported now (and tried again when needed).
  zipKit_.SetDLLDirectory(ProgramDir());
  zipKit_.Unattended = false;
  zipKit_.LoadZipEngine();
  zipKit_.LoadUnzipEngine();
}

void TTandorForm::ZipKitProgress(TZipKit*, ProgressType type, const std::string&, int64_t fileSize) {
  TRunState& state = *runState_;
  const int64_t total = state.JobTotalBytes;
  const int kind = state.JobKind;
  if (total == 0 || type != PtAdvance || kind == 3 || (kind == 1 && settings_.RelativePaths)) return;
  const int64_t done = state.JobDoneBytes += fileSize;
  const int percent = static_cast<int>(std::clamp<long double>(static_cast<long double>(done) * 100 / total, 0, 100));
  if (jobPercent_.exchange(percent) == percent) return;
  // The bar of the page whose job runs: extraction, creation, batch unzip.
  QProgressBar* bar = Page(kind == 0 ? kUnzipPage : kind == 1 ? kCreatePage : kBatchPage)->ProgressBar();
  QMetaObject::invokeMethod(bar, [bar, percent] { bar->setValue(percent); }, Qt::QueuedConnection);
}

void TTandorForm::ZipKitMessage(TZipKit* sender, int32_t errCode, const std::string& message) {
  if (sender && sender->Cancel) return;  // the user asked for the stop: nothing to report
  if (errCode != 0 && !runState_->BatchBusy) ShowError("ERROR : " + message);
}

void TTandorForm::ZipKitExtractOverwrite(TZipKit* sender, const std::string& forFile, bool isOlder, bool& doOverwrite,
                                         int32_t) {
  TRunState& state = *runState_;
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
      forFile + "\n\n" +
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
    case TPromptAnswer::No: doOverwrite = false; break;
    default:  // Cancel, Escape or closing the box: the file stays and the run ends
      doOverwrite = false;
      if (sender) sender->Cancel = true;
      break;
  }
}
