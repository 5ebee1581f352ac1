// Screenshots of the unzip page under a real X server (xvfb-run):
//   unzipshots OUT_FOLDER ARCHIVE
// cold-start.png: the window as it first paints; listed.png: ARCHIVE opened from the command line;
// cannot-open.png: a file that is not there, with its one message. Each is taken with ImageMagick's
// `import -window root`.
#include <stdlib.h>
#include "../support/BenchHome.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "app/OpenDispatch.h"
#include "app/TandorForm.h"
#include "core/Settings.h"
#include "pages/common/PromptService.h"

namespace {

void Settle(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

void Shoot(const std::string& file) {
  Settle(600);
  const std::string cmd = "import -window root '" + file + "'";
  if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "import failed for %s\n", file.c_str());
}

// A window started with `arguments`, shown, its start-up open finished.
std::unique_ptr<TTandorForm> Start(const QStringList& arguments) {
  auto form = std::make_unique<TTandorForm>(arguments);
  form->resize(1000, 620);
  form->show();
  Settle(300);
  form->Dispatch().WaitForOpenThread();
  return form;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s OUT_FOLDER ARCHIVE\n", argv[0]);
    return 2;
  }
  const std::string out = argv[1], archive = argv[2];
  char home[] = "/tmp/unzipshots-XXXXXX";
  if (!mkdtemp(home)) return 2;
  IsolateBenchHome(home);
  TSettings settings;  // a settings file, so that the first-run window stays away
  settings.ConfigFile = std::string(home) + "/config";
  settings.WriteDefaultSettings();
  QApplication app(argc, argv);
  SetModalHook([](QDialog&, const char*) { return int(QDialog::Rejected); });
  {
    auto form = Start({});
    Shoot(out + "/cold-start.png");
  }
  {
    auto form = Start({QString::fromStdString(archive)});
    Shoot(out + "/listed.png");
  }
  {
    // The message box is modal: it is taken while it shows, then closed.
    QTimer::singleShot(800, [&] {
      Shoot(out + "/cannot-open.png");
      if (QWidget* box = QApplication::activeModalWidget()) box->close();
    });
    auto form = Start({QString::fromStdString(std::string(home) + "/nowhere/x.zip")});
    Settle(200);
  }
  SetModalHook(nullptr);
  std::filesystem::remove_all(home);
  return 0;
}
