#pragma once
// The open dispatch: archives named on the command line, handed over by a second start or dropped on
// the window are routed by their type to the unzip page's openers (or to the create and update
// pages for drops on their lists).
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <mutex>
#include <string>

class QThread;
class QWidget;
class TTandorForm;

// The pages' entry points the dispatch calls; tests may replace them to watch the routing.
struct TOpeners {
  std::function<void(const std::string&)> Zip, Rar, Tar, GZip, TarGZip;
  std::function<void(const QStringList&)> CreateDrop, UpdateDrop;
};

enum class TOpenRoute { None, Zip, TarGZip, GZip, Rar, Tar };

// What an open needs, collected on the user-interface thread before its worker starts.
struct TOpenRequest {
  std::string Archive;     // the file named (CurrentArchiveFile)
  bool Temporary = false;  // it lies in a temporary location: its copy is opened instead
  std::string CopyTo;      // the copy's name in the queue folder (empty: none can be made)
};
// What the worker found out.
struct TOpenOutcome {
  std::string Archive;     // the file to open (the copy for a download)
  TOpenRoute Route = TOpenRoute::None;
  std::string Message;     // the one message when it cannot be opened; empty when it can
};
// The worker's part of an open: checks the file, makes the copy, finds its kind. Touches no window.
TOpenOutcome ResolveOpen(const TOpenRequest& request);

// True when the name stored in the gzip header of `path` ends in ".tar".
bool IsaGzippedTarBall(const std::string& path);
// The opener for an archive by its name (and, for a plain ".gz", its header). None when the file
// does not exist or its type has no opener.
TOpenRoute RouteByFileType(const std::string& path);

class TOpenDispatch : public QObject {
  Q_OBJECT
 public:
  explicit TOpenDispatch(TTandorForm& form);

  // The start timer: queues the second and further arguments, then opens the first.
  void StartTimerTimer();
  // Opens the first command-line argument.
  void OpenClickedFile();
  // Opens CurrentArchiveFile: a TTimerOpenThread gets the name (and the copy to make of a download)
  // before it starts, checks the file and finds its kind; its outcome comes back to this thread as a
  // queued call to OpenByFileType. The window stays painted meanwhile.
  void StartOpenThread();
  // The open on the user-interface thread: one message when the file cannot be opened (the page is
  // left empty), else the unzip page's opener for its kind.
  void OpenByFileType(const TOpenOutcome& outcome);
  // Called by the worker: keeps its outcome (under a lock, so that the hand-over is ordered without
  // relying on the event queue) and queues OpenByFileType.
  void HandOver(TOpenOutcome outcome);
  // An archive is being opened, listed or extracted on the unzip page.
  bool OpenInProgress() const;
  // Waits (processing events) until a running open has finished.
  void WaitForOpenThread();

  // A second start handed its arguments over (element 0 its program path).
  void RunOnceOtherInstance(QObject* sender, int paramCount, const QStringList& paramStr);
  // Files dropped on the window's drop target.
  void DropFileTargetDrop(const QStringList& paths);
  // Brings the window to the front as far as the desktop allows; true when it is active.
  bool ForceForegroundWindow(QWidget* window);
  // Clears the unzip page (its Reset).
  void ResetUnzipPage();

  TOpeners Openers;

 private:
  TTandorForm& form_;
  QPointer<QThread> openThread_;
  bool opening_ = false;     // from StartOpenThread to the end of OpenByFileType
  bool delivering_ = false;  // while OpenByFileType runs
  std::mutex outcomeMutex_;
  TOpenOutcome outcome_;     // the worker's outcome, until it is taken on this thread

 signals:
  void OpenEnded();
};
