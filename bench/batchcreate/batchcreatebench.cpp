// Bench: the batch create queue against the same jobs made one by one through the create page's own
// ZIP button (files dropped on the list, the tag typed, the name given to the save dialog), offscreen.
//   batchcreatebench SOURCE_FOLDER OUT_FOLDER [JOBS]
// SOURCE_FOLDER holds f0.txt ... f{N}.txt; each job takes three of them (a gzip job one) and a tag;
// the job types go round zip, tar.gz, tar, gz. Prints both wall times and their ratio.
#include <stdlib.h>
#include "../support/BenchHome.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "app/TandorForm.h"
#include "core/Prompt.h"
#include "pages/batchcreate/BatchCreateQueue.h"
#include "pages/common/PromptService.h"
#include "pages/create/CreatePage.h"

namespace fs = std::filesystem;

namespace {

// Gives the queued names to the save dialog and counts every message shown.
class TBenchPrompt : public IPromptService {
 public:
  std::deque<std::string> Names;
  int Messages = 0;
  TPromptAnswer ShowMessage(const std::string&, const std::string& text, TPromptIcon, TPromptButtons) override {
    std::fprintf(stderr, "message: %s\n", text.c_str());
    ++Messages;
    return TPromptAnswer::Ok;
  }
  bool AskText(const std::string&, const std::string&, std::string&, bool) override { return false; }
  std::string OpenFileName(const std::string&, const std::string&, const std::string&) override { return {}; }
  std::vector<std::string> OpenFileNames(const std::string&, const std::string&, const std::string&) override {
    return {};
  }
  std::string SaveFileName(const std::string&, const std::string&, const std::string&) override {
    if (Names.empty()) return {};
    std::string n = Names.front();
    Names.pop_front();
    return n;
  }
  std::string ChooseFolder(const std::string&, const std::string&) override { return {}; }
};

struct TBenchJob {
  int Type;  // 1 zip, 2 tar.gz, 3 tar, 4 gz (the create page's numbers)
  std::string Target;
  std::string Tag;
  std::vector<std::string> Files;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s SOURCE_FOLDER OUT_FOLDER [JOBS]\n", argv[0]);
    return 2;
  }
  const std::string source = argv[1], out = argv[2];
  const int jobs = argc > 3 ? std::atoi(argv[3]) : 100;
  char home[] = "/tmp/batchcreatebench-XXXXXX";
  if (!mkdtemp(home)) return 2;
  IsolateBenchHome(home);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  TBenchPrompt prompt;
  SetPromptService(&prompt);
  SetModalHook([](QDialog& d, const char* name) {
    return std::string(name) == "TAddFolderForm" ? d.exec() : int(QDialog::Accepted);
  });

  const char* ext[] = {".zip", ".tar.gz", ".tar", ".gz"};
  std::vector<TBenchJob> plan;
  for (int i = 0; i < jobs; ++i) {
    TBenchJob s;
    s.Type = i % 4 + 1;
    s.Tag = s.Type == 3 ? "" : "job " + std::to_string(i);
    const int files = s.Type == 4 ? 1 : 3;
    for (int k = 0; k < files; ++k) s.Files.push_back(source + "/f" + std::to_string((i * 3 + k) % 300) + ".txt");
    plan.push_back(s);
  }

  int rc = 0;
  {
    TTandorForm form;
    form.RequestPage(kCreatePage);
    TCreatePage* page = form.CreatePage();
    form.Settings().SaveZipFolders = true;
    form.Settings().RelativePaths = true;
    form.Settings().AddPassword = false;
    form.Settings().TarAttributes = false;

    // One by one through the page's ZIP button.
    fs::create_directories(out + "/single");
    QElapsedTimer t;
    t.start();
    int made = 0;
    for (size_t i = 0; i < plan.size(); ++i) {
      const TBenchJob& s = plan[i];
      page->ZipResetButtonClick();
      QStringList paths;
      for (const std::string& f : s.Files) paths << QString::fromStdString(f);
      form.DisableAll();
      page->UpdateZipWindow(paths);
      page->CreateTagEdit->setText(QString::fromStdString(s.Tag));
      form.Settings().DefaultArchiveType = s.Type;
      prompt.Names.push_back(out + "/single/job" + std::to_string(i) + ext[s.Type - 1]);
      QEventLoop loop;
      bool ok = false;
      auto c = QObject::connect(page, &TCreatePage::RunEnded, &loop, [&](bool r) {
        ok = r;
        loop.quit();
      });
      page->ZipButtonClick();
      loop.exec();
      QObject::disconnect(c);
      made += ok;
    }
    const double single = t.nsecsElapsed() / 1e9;
    std::printf("one by one through the ZIP button: %d jobs, %d made, %.2f s\n", jobs, made, single);
    if (made != jobs) rc = 1;
    page->ZipResetButtonClick();

    // The same jobs through the batch queue.
    fs::create_directories(out + "/batch");
    std::vector<TBatchRow> rows;
    for (size_t i = 0; i < plan.size(); ++i) {
      const TBenchJob& s = plan[i];
      rows.push_back({BatchFilenameAction(s.Type - 1), out + "/batch/job" + std::to_string(i) + ext[s.Type - 1]});
      if (!s.Tag.empty()) rows.push_back({"TAG", s.Tag});
      for (const std::string& f : s.Files) rows.push_back({"ADD FILE", f});
      rows.push_back({"FINISH", ""});
    }
    QEventLoop loop;
    QObject::connect(page->BatchQueue, &TBatchCreateQueue::Finished, &loop, &QEventLoop::quit);
    t.restart();
    page->BatchQueue->Start(rows);
    loop.exec();
    const double batch = t.nsecsElapsed() / 1e9;
    int created = 0;
    for (const std::string& line : page->BatchQueue->BatchResults()) created += line == "Created...";
    std::printf("batch queue: %d jobs, %d created, %.2f s\n", jobs, created, batch);
    std::printf("batch / one by one: %.3f\n", single > 0 ? batch / single : 0.0);
    if (created != jobs || prompt.Messages != 0) rc = 1;
  }
  SetModalHook(nullptr);
  SetPromptService(nullptr);
  fs::remove_all(home);
  return rc;
}
