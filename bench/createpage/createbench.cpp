// Bench: the create page offscreen. Lists a folder tree with the folder scan (drop), then zips it with
// the page's run and reports wall times, the progress bar's movement and the longest pause of the
// event loop (a 10 ms timer), next to the same list added by one direct TZipKit call.
//   createbench ARCHIVE FOLDER [LEVEL]
//   createbench --scan FOLDER      (the folder scan only)
#include <stdlib.h>
#include "../support/BenchHome.h"
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QProgressBar>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <set>

#include "app/TandorForm.h"
#include "core/Prompt.h"
#include "pages/common/FileList.h"
#include "pages/common/PromptService.h"
#include "pages/create/CreatePage.h"
#include "platform/Paths.h"
#include "zip/ZipKit.h"

namespace {

// Answers every question with its first positive choice and prints what was shown.
class TBenchPrompt : public IPromptService {
 public:
  TPromptAnswer ShowMessage(const std::string&, const std::string& text, TPromptIcon, TPromptButtons b) override {
    std::fprintf(stderr, "message: %s\n", text.c_str());
    return b == TPromptButtons::Ok ? TPromptAnswer::Ok : TPromptAnswer::Yes;
  }
  bool AskText(const std::string&, const std::string&, std::string&, bool) override { return false; }
  std::string OpenFileName(const std::string&, const std::string&, const std::string&) override { return {}; }
  std::vector<std::string> OpenFileNames(const std::string&, const std::string&, const std::string&) override {
    return {};
  }
  std::string SaveFileName(const std::string&, const std::string&, const std::string&) override { return {}; }
  std::string ChooseFolder(const std::string&, const std::string&) override { return {}; }
};

// Longest gap between ticks of a 10 ms timer, and the progress values seen.
struct TMeter {
  QElapsedTimer clock;
  QTimer tick;
  qint64 last = 0, maxGap = 0;
  std::set<int> progress;
  QProgressBar* bar = nullptr;
  void Start() {
    progress.clear();
    maxGap = 0;
    clock.start();
    last = 0;
    tick.start(10);
  }
  void Tick() {
    const qint64 now = clock.elapsed();
    maxGap = std::max(maxGap, now - last);
    last = now;
    if (bar) progress.insert(bar->value());
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s ARCHIVE FOLDER [LEVEL]\n", argv[0]);
    return 2;
  }
  const bool scanOnly = std::string(argv[1]) == "--scan";
  const std::string archive = argv[1], folder = argv[2];
  const int level = argc > 3 ? std::atoi(argv[3]) : 8;
  char home[] = "/tmp/createbench-XXXXXX";
  if (!mkdtemp(home)) return 2;
  IsolateBenchHome(home);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  TBenchPrompt prompt;
  SetPromptService(&prompt);
  SetModalHook([](QDialog& d, const char* name) {
    return std::string(name) == "TAddFolderForm" ? d.exec() : int(QDialog::Accepted);  // only the scan window runs
  });

  int rc = 0;
  {
    TTandorForm form;
    form.RequestPage(kCreatePage);
    TCreatePage* page = form.CreatePage();
    page->ZipLevel = level;
    form.Settings().SaveZipFolders = true;
    form.Settings().RelativePaths = true;
    form.Settings().AddPassword = false;
    TMeter meter;
    meter.bar = page->ZipProgressBar;
    QObject::connect(&meter.tick, &QTimer::timeout, [&] { meter.Tick(); });

    // The folder scan, as a drop of the folder.
    meter.Start();
    form.DisableAll();
    page->UpdateZipWindow({QString::fromStdString(folder)});
    const double scanSeconds = meter.clock.nsecsElapsed() / 1e9;
    const qint64 scanGap = meter.maxGap;
    std::printf("scan: %d files, %s bytes listed in %.2f s, longest event-loop gap %lld ms\n",
                page->ZipListView->Count(), page->TotalFileSizeEdit->text().toStdString().c_str(), scanSeconds,
                static_cast<long long>(scanGap));

    if (scanOnly) {
      form.ClearCreateList();
      page->TotalBytes = 0;
    }
    // The zip run.
    if (!scanOnly) {
    std::filesystem::remove(archive);
    form.SetCurrentArchiveFile(archive);
    QEventLoop loop;
    bool ok = false;
    QObject::connect(page, &TCreatePage::RunEnded, &loop, [&](bool result) {
      ok = result;
      loop.quit();
    });
    meter.Start();
    page->MakeZipRelPath();
    loop.exec();
    const double zipSeconds = meter.clock.nsecsElapsed() / 1e9;
    meter.tick.stop();
    std::printf("page: zip run %.2f s (%s), longest event-loop gap %lld ms, %zu distinct progress values (max %d)\n",
                zipSeconds, ok ? "ok" : "FAILED", static_cast<long long>(meter.maxGap), meter.progress.size(),
                meter.progress.empty() ? 0 : *meter.progress.rbegin());
    if (!ok) rc = 1;

    // The same list through one direct component call.
    TZipKit kit;
    kit.SetDLLDirectory(ProgramDir());
    kit.AddCompLevel = level;
    kit.AddOptions = AddOpts{AddHiddenFiles, AddDirNames};
    kit.Unattended = true;
    const std::string direct = archive + ".direct.zip";
    std::filesystem::remove(direct);
    kit.SetZipFileName(direct);
    const std::filesystem::path parent = std::filesystem::path(folder).parent_path();
    kit.RootDir = parent.string();
    for (const TListRow& r : page->ZipListView->Model()->Rows()) kit.FSpecArgs.push_back(r.Extra.toStdString());
    QElapsedTimer t;
    t.start();
    kit.AddFiles();
    const double kitSeconds = t.nsecsElapsed() / 1e9;
    std::printf("component: one AddFiles call %.2f s (%d files)\n", kitSeconds, kit.SuccessCount);
    std::printf("page / component: %.3f\n", kitSeconds > 0 ? zipSeconds / kitSeconds : 0.0);
    std::filesystem::remove(direct);
    }
  }
  SetModalHook(nullptr);
  SetPromptService(nullptr);
  std::filesystem::remove_all(home);
  return rc;
}
