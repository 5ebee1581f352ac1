#pragma once
// The pictures of the archive on the unzip page: "Image Browser" and the automatic thumbnail timer
// extract the picture entries silently into the picture folder (the extract job, through the
// safe-output library), make their thumbnails on TThumbThread under "Creating Thumbnails", then
// show the Image Browser. Also the viewer entry point of the launcher (ViewAnImage).
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "pages/images/ThumbProgressForm.h"

class IPageHost;
class TImageBrowserForm;
class TJobRunner;
class TThumbThread;
class TUnzipPage;

class TImageBrowserRun : public QObject {
  Q_OBJECT
 public:
  TImageBrowserRun(TUnzipPage& page, IPageHost& host);
  ~TImageBrowserRun() override;

  // The run of the page (made on first use, a child of the page).
  static TImageBrowserRun& Of(TUnzipPage& page, IPageHost& host);

  // "Image Browser" (ImageBrowser1Click) and the automatic timer (AutoThumbTimerTimer).
  void OpenImageBrowser();
  // True from the extraction until the browser has closed.
  bool Running() const { return running_; }
  // The picture folder's files of the run (after the extraction).
  const std::vector<std::string>& Pictures() const { return pictures_; }

  // The main window's `Timer` (500 ms): watches the thumbnail worker.
  QTimer Timer;
  TThumbProgressForm* ProgressForm() const { return progress_; }
  TThumbThread* Worker() const { return thumbs_.get(); }
  // Set while the browser is shown.
  TImageBrowserForm* Browser() const { return browser_; }

 private:
  void DoGraphicsUnzip(const std::string& folder);
  void CreateLVThumbnails();
  void TimerTimer();
  void End();

  TUnzipPage& page_;
  IPageHost& host_;
  bool running_ = false;
  int thumbSize_ = 64;
  std::vector<std::string> pictures_;
  std::unique_ptr<TJobRunner> runner_;
  std::unique_ptr<TThumbThread> thumbs_;
  QPointer<TThumbProgressForm> progress_;
  TImageBrowserForm* browser_ = nullptr;
};

// Shows a picture file in the Image window (the launcher's picture viewer). Returns the window's
// result (TImageForm::kUnzip asks for the ordinary extraction of the highlighted entries), or 0 when
// the picture could not be shown (its message was).
int ViewAnImage(const std::string& path, IPageHost& host);

// Gives the unzip page its pictures: the popup menu's "Image Browser" and "Thumbnail Size", the
// automatic thumbnail timer (one shot), and the launcher's picture viewer and picture test.
void InstallImageBrowser(TUnzipPage& page, IPageHost& host);
