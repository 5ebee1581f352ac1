// Bench: the batch page offscreen. Scans a folder of archives onto the list, unzips every row beside
// its archive with the page's run and reports the wall times and the resident memory after the first
// 100 archives and after the whole run.
//   batchbench FOLDER
//   batchbench --show FOLDER SECONDS   (shows the window for screenshots: each message box stays up
//                                       SECONDS, so do the list after the scan and after the run)
#include <stdlib.h>
#include "../support/BenchHome.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/TandorForm.h"
#include "core/Prompt.h"
#include "core/Settings.h"
#include "pages/batch/BatchPage.h"
#include "pages/common/FileList.h"
#include "pages/common/PromptService.h"

namespace fs = std::filesystem;

namespace {

// Hands out the scanned folder and leaves every other question to `next` (the window's own
// service), or when there is none prints the messages and answers with the first positive choice.
class TBenchPrompt : public IPromptService {
 public:
  TBenchPrompt(std::string folder, IPromptService* next) : folder_(std::move(folder)), next_(next) {}
  TPromptAnswer ShowMessage(const std::string& c, const std::string& text, TPromptIcon i, TPromptButtons b) override {
    if (next_) return next_->ShowMessage(c, text, i, b);
    std::fprintf(stderr, "message: %s\n", text.substr(0, text.find('\n')).c_str());
    return b == TPromptButtons::Ok ? TPromptAnswer::Ok : TPromptAnswer::Yes;
  }
  bool AskText(const std::string&, const std::string&, std::string&, bool) override { return false; }
  std::string OpenFileName(const std::string&, const std::string&, const std::string&) override { return {}; }
  std::vector<std::string> OpenFileNames(const std::string&, const std::string&, const std::string&) override {
    return {};
  }
  std::string SaveFileName(const std::string&, const std::string&, const std::string&) override { return {}; }
  std::string ChooseFolder(const std::string&, const std::string&) override { return folder_; }

 private:
  std::string folder_;
  IPromptService* next_;
};

// Resident memory of this process in kB.
long ResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

bool WaitFor(TBatchPage* page, void (TBatchPage::*ended)()) {
  QEventLoop loop;
  QObject::connect(page, ended, &loop, &QEventLoop::quit);
  QTimer guard;
  bool timedOut = false;
  QObject::connect(&guard, &QTimer::timeout, &loop, [&] {
    timedOut = true;
    loop.quit();
  });
  guard.start(30 * 60 * 1000);
  loop.exec();
  return !timedOut;
}

}  // namespace

int main(int argc, char** argv) {
  const bool show = argc > 3 && std::string(argv[1]) == "--show";
  if (argc < 2 || (std::string(argv[1]) == "--show" && !show)) {
    std::fprintf(stderr, "usage: %s FOLDER | --show FOLDER SECONDS\n", argv[0]);
    return 2;
  }
  const std::string folder = fs::absolute(show ? argv[2] : argv[1]).lexically_normal().string();
  const int seconds = show ? std::atoi(argv[3]) : 0;
  char home[] = "/tmp/batchbench-XXXXXX";
  if (!mkdtemp(home)) return 2;
  IsolateBenchHome(home);
  if (!show) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  {
    TSettings settings;  // a settings file keeps the first-run window away
    settings.ConfigFile = (fs::path(home) / "config").string();
    settings.WriteDefaultSettings();
  }
  QApplication app(argc, argv);
  // The run's windows take their defaults: unzip beside each archive.
  SetModalHook([](QDialog&, const char*) { return int(QDialog::Accepted); });

  int rc = 0;
  {
    TTandorForm form;
    form.show();
    form.RequestPage(kBatchPage);
    TBatchPage* page = form.BatchPage();
    TBenchPrompt prompt(folder, show ? InstalledPromptService() : nullptr);
    IPromptService* before = InstalledPromptService();
    SetPromptService(&prompt);
    // Shown: a message box closes after SECONDS.
    QTimer closer;
    QElapsedTimer boxUp;
    QObject::connect(&closer, &QTimer::timeout, [&] {
      QWidget* box = QApplication::activeModalWidget();
      if (!box) {
        boxUp.invalidate();
      } else if (!boxUp.isValid()) {
        boxUp.start();
      } else if (boxUp.elapsed() >= seconds * 1000) {
        box->close();
        boxUp.invalidate();
      }
    });
    if (show) closer.start(100);
    const auto pause = [&] {
      QEventLoop loop;
      QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
      loop.exec();
    };

    QElapsedTimer clock;
    clock.start();
    page->ScanFolderForZipFilesButtonClick();
    if (!WaitFor(page, &TBatchPage::ScanEnded)) return 1;
    const double scanSeconds = clock.nsecsElapsed() / 1e9;
    const int rows = page->BatchListView->Count();
    std::printf("scan: %d archives listed in %.2f s (%s bytes, %s unpacked)\n", rows, scanSeconds,
                page->ZipSizeEdit->text().toStdString().c_str(), page->BatchTotalSizeEdit->text().toStdString().c_str());

    if (show) pause();

    // "Completed" is the number of the archive in work: memory is taken once the 101st has begun.
    long after100 = -1;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
      if (after100 < 0 && page->BatchCompleteEdit->text().remove(',').toInt() > 100) after100 = ResidentKb();
    });
    probe.start(5);
    clock.restart();
    page->BatchUnzipButtonClick();
    if (!WaitFor(page, &TBatchPage::RunEnded)) return 1;
    const double runSeconds = clock.nsecsElapsed() / 1e9;
    probe.stop();
    const long after = ResidentKb();
    const int left = page->BatchListView->Count();
    std::printf("run: %d archives in %.2f s, %d rows left\n", rows, runSeconds, left);
    std::printf("memory: %ld kB after 100 archives, %ld kB after %d (%+ld kB)\n", after100, after, rows,
                after - after100);
    if (show) pause();
    else if (left != 0) rc = 1;
    SetPromptService(before);
  }
  SetModalHook(nullptr);
  fs::remove_all(home);
  return rc;
}
