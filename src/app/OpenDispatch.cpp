#include "app/OpenDispatch.h"

#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QWindow>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/IncomingQueue.h"
#include "app/LongPath.h"
#include "app/TandorForm.h"
#include "core/TextUtil.h"
#include "ops/FormatRegistry.h"
#include "pages/common/FileList.h"
#include "pages/common/PromptService.h"
#include "pages/create/CreatePage.h"
#include "pages/unzip/UnzipPage.h"
#include "pages/update/UpdatePage.h"
#include "platform/FileSystem.h"
#include "tar/Gzip.h"
#include "tar/TarExtractor.h"

namespace fs = std::filesystem;

namespace {

// One line per hand-over and open, for the tests that drive two real processes.
void Trace(const std::string& line) {
  const char* file = std::getenv("TANDOR_TEST_TRACE");
  if (!file || !*file) return;
  std::ofstream out(file, std::ios::app);
  out << line << '\n';
}

std::string ToStd(const QString& s) { return s.toStdString(); }

// A one-shot worker that opens the window's CurrentArchiveFile and frees itself.
class TTimerOpenThread : public QThread {
 public:
  explicit TTimerOpenThread(TOpenDispatch& dispatch) : dispatch_(dispatch) {}

 protected:
  void run() override { dispatch_.OpenByFileType(); }

 private:
  TOpenDispatch& dispatch_;
};

}  // namespace

TOpenRoute RouteByFileType(const std::string& path) {
  std::error_code ec;
  if (path.empty() || !fs::is_regular_file(path, ec)) return TOpenRoute::None;
  // The kind by the file's content, else by its name.
  switch (DetectArchiveFormat(path).Format) {
    case TArchiveFormat::Zip: return TOpenRoute::Zip;
    case TArchiveFormat::TarGz: return TOpenRoute::TarGZip;
    case TArchiveFormat::Gzip: return TOpenRoute::GZip;
    case TArchiveFormat::Rar: return TOpenRoute::Rar;
    case TArchiveFormat::Tar: return TOpenRoute::Tar;
    case TArchiveFormat::Unknown: break;
  }
  return TOpenRoute::None;
}

TOpenDispatch::TOpenDispatch(TTandorForm& form) : QObject(&form), form_(form) {
  TUnzipPage* unzip = form.UnzipPage();
  Openers.Zip = [unzip](const std::string& a) { unzip->UpdateUnzipWindow(a); };
  Openers.Rar = [unzip](const std::string& a) { unzip->UpDateRARWindow(a); };
  Openers.Tar = [unzip](const std::string& a) { unzip->UpdateTarWindow(a); };
  Openers.GZip = [unzip](const std::string& a) { unzip->UpdateGZipWindow(a); };
  Openers.TarGZip = [unzip](const std::string& a) { unzip->UpDateTarGZipWindow(a); };
  Openers.CreateDrop = [&form](const QStringList& paths) { form.CreatePage()->UpdateZipWindow(paths); };
  Openers.UpdateDrop = [&form](const QStringList& paths) { form.UpdateDropUpdateWindow(paths); };

  // One drop target: a list's drops count only while it is the target.
  for (TFileListView* list : {unzip->UnzipListView, unzip->UnzipFilteredListView, form.UpdatePage()->UpdateListView,
                              form.CreatePage()->ZipListView, form.Page(kBatchPage)->MainList()}) {
    connect(list, &TFileListView::FilesDropped, this, [this, list](const QStringList& paths) {
      if (list == form_.DropTarget()) DropFileTargetDrop(paths);
    });
  }
}

void TOpenDispatch::StartTimerTimer() {
  form_.StartTimer().stop();
  const QStringList& args = form_.CommandLine();
  if (args.isEmpty()) return;
  bool queued = false;
  for (int i = 1; i < args.size(); ++i) queued = form_.Queue().QueueOne(ToStd(args[i])) || queued;
  if (queued) form_.Queue().SaveQueue();
  form_.Queue().ShowState();
  OpenClickedFile();
}

void TOpenDispatch::OpenClickedFile() {
  if (form_.CommandLine().isEmpty()) return;
  const std::string given = ToStd(form_.CommandLine().first());
  const std::string expanded = ExpandLongPath(given);
  if (!expanded.empty()) form_.Settings().ArchiveOpenFolder = ExtractFileDir(expanded);
  form_.SetCurrentArchiveFile(expanded.empty() ? given : expanded);
  form_.SetCaption(form_.CurrentArchiveFile());
  StartOpenThread();
}

void TOpenDispatch::StartOpenThread() {
  WaitForOpenThread();  // one open at a time
  Trace("open " + form_.CurrentArchiveFile());
  auto* thread = new TTimerOpenThread(*this);
  openThread_ = thread;
  connect(thread, &QThread::finished, this, &TOpenDispatch::OpenFinished);
  connect(thread, &QThread::finished, thread, &QObject::deleteLater);
  thread->start();
}

bool TOpenDispatch::OpenInProgress() const {
  return (openThread_ && !openThread_->isFinished()) || form_.UnzipPage()->Busy();
}

void TOpenDispatch::WaitForOpenThread() {
  if (!openThread_ || openThread_->isFinished()) return;
  QEventLoop loop;  // the worker's calls onto this thread run meanwhile
  connect(openThread_, &QThread::finished, &loop, &QEventLoop::quit);
  if (!openThread_->isFinished()) loop.exec();
}

void TOpenDispatch::OpenFinished() {
  if (form_.Settings().AutoThumbnails) form_.UnzipPage()->AutoThumbTimer.start();
}

void TOpenDispatch::OpenByFileType() {
  std::string archive;
  RunOnUiThread([&] { archive = form_.CurrentArchiveFile(); });
  if (std::string why; !CanReadFile(archive, why)) {
    // One message that names the file and the reason; the page stays as an empty one.
    ShowError("CANNOT OPEN THE FILE " + archive + "\n" + why);
    RunOnUiThread([&] {
      form_.SetCurrentArchiveFile({});
      form_.UnzipPage()->ResetUnzipPage();
    });
    return;
  }
  if (!IsArchiveExtension(ExtractFileExt(archive))) {
    ShowError(ExtractFileName(archive) + " is not a valid file type");
    return;
  }
  RunOnUiThread([&] {
    form_.DisableAll();
    QApplication::setOverrideCursor(Qt::WaitCursor);
  });
  if (form_.TempFolders().IsTemporaryLocation(archive)) {
    // A download may vanish when the browser closes: open a copy of our own.
    std::string copy;
    RunOnUiThread([&] { copy = form_.Queue().CopyTargetFor(archive); });
    archive = TIncomingQueue::CopyFileTo(archive, copy) ? copy : std::string();
  }
  const TOpenRoute route = RouteByFileType(archive);
  RunOnUiThread([&] {
    form_.SetCurrentArchiveFile(archive);
    if (route != TOpenRoute::None) form_.SetCaption(archive);
    switch (route) {
      case TOpenRoute::Zip: Openers.Zip(archive); break;
      case TOpenRoute::TarGZip: Openers.TarGZip(archive); break;
      case TOpenRoute::GZip: Openers.GZip(archive); break;
      case TOpenRoute::Rar: Openers.Rar(archive); break;
      case TOpenRoute::Tar: Openers.Tar(archive); break;
      case TOpenRoute::None: form_.EnableAll(); break;
    }
    TUnzipPage* page = form_.UnzipPage();
    page->ShowFullList();
    page->UnzipListView->setEnabled(true);
    page->UnzipListView->setFocus();
    page->UnzipProgressBar->setMaximum(100);
    QApplication::restoreOverrideCursor();
  });
}

void TOpenDispatch::ResetUnzipPage() { form_.UnzipPage()->ResetUnzipPage(); }

void TOpenDispatch::RunOnceOtherInstance(QObject* sender, int paramCount, const QStringList& paramStr) {
  Q_UNUSED(sender);
  if (paramCount <= 0 || paramStr.size() < 2) return;
  paramCount = std::min<int>(paramCount, int(paramStr.size()) - 1);
  const bool page0 = form_.CurrentPage() == kUnzipPage;
  // With the queue off, a new archive replaces the one shown.
  if (!form_.Settings().QueueEnabled && form_.UnzipPage()->UnzipListView->HasRows() && page0 && !form_.ModalDialogOpen() &&
      !OpenInProgress())
    ResetUnzipPage();
  // Busy: an archive is shown or being opened, another page is shown, or a modal window is open
  // (an archive opened behind it could be replaced unseen and lost).
  const bool busy =
      form_.UnzipPage()->UnzipListView->HasRows() || !page0 || form_.ModalDialogOpen() || OpenInProgress();
  Trace("handover " + std::to_string(paramCount) + (busy ? " busy" : " idle"));
  bool queued = false;
  for (int i = busy ? 1 : 2; i <= paramCount; ++i) queued = form_.Queue().QueueOne(ToStd(paramStr[i])) || queued;
  if (queued) form_.Queue().SaveQueue();
  if (!busy) {
    const std::string given = ToStd(paramStr[1]);
    const std::string expanded = ExpandLongPath(given);
    form_.SetCurrentArchiveFile(expanded.empty() ? given : expanded);
    StartOpenThread();
  }
  form_.Queue().ShowState();
  if (form_.Settings().QueueBringToFront && !form_.ModalDialogOpen() && page0) ForceForegroundWindow(&form_);
}

void TOpenDispatch::DropFileTargetDrop(const QStringList& paths) {
  TFileListView* target = form_.DropTarget();
  if (!target || paths.isEmpty()) return;
  TUnzipPage* unzip = form_.UnzipPage();

  if (target == form_.CreatePage()->ZipListView) {
    form_.DisableAll();
    Openers.CreateDrop(paths);
    target->viewport()->update();
    return;
  }
  if (target == form_.UpdatePage()->UpdateListView) {
    if (!form_.UpdatePage()->UpdateResetButton->isEnabled()) return;
    form_.DisableAll();
    Openers.UpdateDrop(paths);
    return;
  }
  if (target != unzip->UnzipListView && target != unzip->UnzipFilteredListView) return;

  if (paths.size() > 1) {
    ShowInfo("YOU HAVE DROPPED MORE THAN ONE FILE.  CHOOSE A SINGLE ZIP FILE TO DROP");
    return;
  }
  const std::string name = ToStd(paths.first());
  // Every kind the page opens: zip, RAR, tar, gzip and tar.gz (.tgz).
  const std::string ext = LowerCase(ExtractFileExt(name));
  if (!IsArchiveExtension(ext)) return;

  bool onFullList = target == unzip->UnzipListView;
  if (target->HasRows()) {
    const TPromptAnswer answer = Prompt().ShowMessage("Tandor File", "CLEAR THE ENTRIES AND LOAD A NEW ZIP FILE?",
                                                      TPromptIcon::Question, TPromptButtons::YesNoCancel);
    if (answer != TPromptAnswer::Yes) {
      target->setEnabled(true);
      target->setFocus();
      return;
    }
    if (!onFullList) {
      unzip->ShowFullList();
      form_.SetDropTarget(unzip->UnzipListView);
      onFullList = true;
    }
    form_.ClearUnzipWindow();
    unzip->UnzipNumFilesEdit->setText("0");
    unzip->UnzipTotalFileSizeEdit->setText("0");
  }
  if (!onFullList) return;  // nothing is opened on an empty filtered list

  TFileListView* list = unzip->UnzipListView;
  const std::string lower = LowerCase(name);
  form_.SetCurrentArchiveFile(name);
  form_.SetCaption(name);
  form_.DisableAll();
  if (ext == ".zip" || ext == ".run") {
    Openers.Zip(name);
  } else if (ext == ".rar") {
    Openers.Rar(name);
  } else {
    if (ext == ".tgz" || (EndsWith(lower, ".tar.gz") && form_.Settings().OpenTarInGz))
      Openers.TarGZip(name);
    else if (ext == ".gz")
      Openers.GZip(name);
    else
      Openers.Tar(name);
    form_.EnableAll();
  }
  list->setEnabled(true);
  list->setFocus();
  list->viewport()->update();
}

bool TOpenDispatch::ForceForegroundWindow(QWidget* window) {
  if (!window) return false;
  if (window->isMinimized()) window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
  if (!window->isVisible()) return false;
  if (window->isActiveWindow()) return true;
  window->raise();
  window->activateWindow();
  if (QWindow* handle = window->windowHandle()) handle->requestActivate();
  return window->isActiveWindow();
}
