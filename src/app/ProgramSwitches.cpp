#include "app/ProgramSwitches.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QIcon>
#include <QSet>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "app/TandorForm.h"
#include "core/Version.h"

namespace {

const char* const kUsage =
    "Usage: tandorfile [ARCHIVE...]\n"
    "       tandorfile --version | --help | --start-check\n"
    "\n"
    "Opens the first ARCHIVE (zip, RAR, tar, gzip, tar.gz) on the unzip page and queues the others.\n"
    "A running Tandor File of the same user takes the archives over instead.\n"
    "\n"
    "  --version      print the version and exit\n"
    "  --help         this text\n"
    "  --start-check  start the window, report its first paint and the engines loaded, and quit\n"
    "                 (exit status 0 when both zip engines loaded)\n";

int64_t WallClockMicroseconds() {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

// Notes the first paint of every top-level window; cancels the windows painted before the main one
// and quits after the main one has painted.
class TFirstPaintWatch : public QObject {
 public:
  // `painted` runs once the main window has painted, before the quit (which closes the window).
  void SetMainWindow(QWidget* window, std::function<void()> painted) {
    main_ = window;
    painted_ = std::move(painted);
  }

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() != QEvent::Paint || !object->isWidgetType()) return false;
    QWidget* window = static_cast<QWidget*>(object)->window();
    if (seen_.contains(window)) return false;
    seen_.insert(window);
    std::printf("painted %lld %s\n", static_cast<long long>(WallClockMicroseconds()),
                window->windowTitle().toUtf8().constData());
    std::fflush(stdout);
    if (main_ && window == main_) {
      QTimer::singleShot(0, qApp, [this] {
        painted_();
        QCoreApplication::quit();
      });
    } else if (auto* dialog = qobject_cast<QDialog*>(window)) {
      QTimer::singleShot(0, dialog, &QDialog::reject);
    }
    return false;
  }

 private:
  QWidget* main_ = nullptr;
  std::function<void()> painted_;
  QSet<QWidget*> seen_;
};

void PrintEngine(const char* what, bool loaded, const std::string& path) {
  if (loaded) std::printf("%s: %s\n", what, path.c_str());
  else std::printf("%s: not loaded\n", what);
}

int RunStartCheck(int argc, char** argv) {
  QApplication app(argc, argv);
  SetApplicationIdentity();
  TFirstPaintWatch watch;
  app.installEventFilter(&watch);
  QTimer deadline;
  deadline.setSingleShot(true);
  QObject::connect(&deadline, &QTimer::timeout, &app, [] {
    std::printf("no paint of the main window within 20 s\n");
    std::fflush(stdout);
    std::_Exit(1);  // a window that never paints may sit in any event loop
  });
  deadline.start(20000);
  int status = 1;
  {
    TTandorForm form;
    watch.SetMainWindow(&form, [&form, &status] {
      const bool zipLoaded = form.ZipKit().ZipEngineLoaded();
      const bool unzipLoaded = form.ZipKit().UnzipEngineLoaded();
      PrintEngine("zip engine", zipLoaded, form.ZipKit().ZipEnginePath());
      PrintEngine("unzip engine", unzipLoaded, form.ZipKit().UnzipEnginePath());
      if (zipLoaded && unzipLoaded) status = 0;
    });
    form.show();
    QApplication::exec();
    deadline.stop();
  }
  app.removeEventFilter(&watch);
  return status;
}

}  // namespace

void SetApplicationIdentity() {
  QApplication::setApplicationName("Tandor File");
  QApplication::setApplicationDisplayName("Tandor File");
  QApplication::setApplicationVersion(ProgramVersion());
  QGuiApplication::setDesktopFileName("tandorfile");
  QApplication::setWindowIcon(QIcon::fromTheme("tandorfile"));
}

std::optional<int> RunProgramSwitch(int argc, char** argv) {
  if (argc < 2) return std::nullopt;
  const char* s = argv[1];
  if (std::strcmp(s, "--version") == 0) {
    std::printf("tandorfile %s\n", ProgramVersion());
    return 0;
  }
  if (std::strcmp(s, "--help") == 0) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (std::strcmp(s, "--start-check") == 0) return RunStartCheck(argc, argv);
  return std::nullopt;
}
