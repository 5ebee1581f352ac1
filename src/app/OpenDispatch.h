#pragma once
// The open dispatch: archives named on the command line, handed over by a second start or dropped on
// the window are routed by their type to the unzip page's openers (or to the create and update
// pages for drops on their lists).
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <functional>
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
  // Opens CurrentArchiveFile on a TTimerOpenThread; the window stays painted meanwhile.
  void StartOpenThread();
  // The open itself (runs on the worker; hands every change of the window to the main thread).
  void OpenByFileType();
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
  void OpenFinished();
  TTandorForm& form_;
  QPointer<QThread> openThread_;
};
