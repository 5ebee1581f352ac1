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

// A one-shot worker that checks a file named for opening and finds its kind; it gets everything it
// needs before it starts and hands its outcome to the dispatch's thread as a queued call.
class TTimerOpenThread : public QThread {
 public:
  TTimerOpenThread(TOpenDispatch& dispatch, TOpenRequest request) : dispatch_(dispatch), request_(std::move(request)) {}

 protected:
  void run() override { dispatch_.HandOver(ResolveOpen(request_)); }

 private:
  TOpenDispatch& dispatch_;
  const TOpenRequest request_;
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

TOpenOutcome ResolveOpen(const TOpenRequest& request) {
  TOpenOutcome out;
  out.Archive = request.Archive;
  if (const TStatus status = CheckArchiveFile(request.Archive); !status.IsOk()) {
    out.Message = TUnzipPage::CannotOpenText(request.Archive, status.Text());
    return out;
  }
  if (!IsArchiveExtension(ExtractFileExt(request.Archive))) {
    out.Message = ExtractFileName(request.Archive) + " is not a valid file type";
    return out;
  }
  if (request.Temporary) {
    // A download may vanish when the browser closes: open a copy of our own.
    if (!TIncomingQueue::CopyFileTo(request.Archive, request.CopyTo)) {
      out.Message = TUnzipPage::CannotOpenText(request.Archive, "no copy of it could be made in the queue folder");
      return out;
    }
    out.Archive = request.CopyTo;
  }
  out.Route = RouteByFileType(out.Archive);
  if (out.Route == TOpenRoute::None) out.Message = ExtractFileName(request.Archive) + " is not a valid file type";
  return out;
}

void TOpenDispatch::StartOpenThread() {
  WaitForOpenThread();  // one open at a time
  TOpenRequest request;
  request.Archive = form_.CurrentArchiveFile();
  request.Temporary = form_.TempFolders().IsTemporaryLocation(request.Archive);
  if (request.Temporary) request.CopyTo = form_.Queue().CopyTargetFor(request.Archive);
  Trace("open " + request.Archive);
  opening_ = true;
  form_.DisableAll();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  auto* thread = new TTimerOpenThread(*this, std::move(request));
  openThread_ = thread;
  connect(thread, &QThread::finished, thread, &QObject::deleteLater);
  thread->start();
}

bool TOpenDispatch::OpenInProgress() const { return opening_ || form_.UnzipPage()->Busy(); }

void TOpenDispatch::WaitForOpenThread() {
  // Never from inside the open itself (an opener's own event loop): that would wait for itself.
  if (!opening_ || delivering_) return;
  QEventLoop loop;  // the worker's outcome is delivered meanwhile
  connect(this, &TOpenDispatch::OpenEnded, &loop, &QEventLoop::quit);
  if (opening_) loop.exec();
  if (openThread_) openThread_->wait();  // it has handed its outcome over and only returns
}

void TOpenDispatch::HandOver(TOpenOutcome outcome) {
  {
    std::lock_guard lock(outcomeMutex_);
    outcome_ = std::move(outcome);
  }
  QMetaObject::invokeMethod(
      this,
      [this] {
        TOpenOutcome taken;
        {
          std::lock_guard lock(outcomeMutex_);
          taken = std::move(outcome_);
        }
        OpenByFileType(taken);
      },
      Qt::QueuedConnection);
}

void TOpenDispatch::OpenByFileType(const TOpenOutcome& outcome) {
  delivering_ = true;
  TUnzipPage* page = form_.UnzipPage();
  if (!outcome.Message.empty()) {
    // One message that names the file and the reason; the page is an empty one meanwhile and after.
    form_.SetCurrentArchiveFile({});
    page->ResetUnzipPage();
    QApplication::restoreOverrideCursor();
    ShowError(outcome.Message);
  } else {
    const std::string& archive = outcome.Archive;
    form_.SetCurrentArchiveFile(archive);
    form_.SetCaption(archive);
    switch (outcome.Route) {
      case TOpenRoute::Zip: Openers.Zip(archive); break;
      case TOpenRoute::TarGZip: Openers.TarGZip(archive); break;
      case TOpenRoute::GZip: Openers.GZip(archive); break;
      case TOpenRoute::Rar: Openers.Rar(archive); break;
      case TOpenRoute::Tar: Openers.Tar(archive); break;
      case TOpenRoute::None: break;
    }
    page->ShowFullList();
    page->UnzipListView->setEnabled(true);
    page->UnzipListView->setFocus();
    page->UnzipProgressBar->setMaximum(100);
    QApplication::restoreOverrideCursor();
    if (form_.Settings().AutoThumbnails) page->AutoThumbTimer.start();
  }
  delivering_ = false;
  opening_ = false;
  emit OpenEnded();
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
