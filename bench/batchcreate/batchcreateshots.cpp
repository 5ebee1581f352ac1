// Screenshots of the batch create windows under a real X server (xvfb-run):
//   batchcreateshots OUT_FOLDER SOURCE_FOLDER
// Shows "Batch Create" with two queued jobs, then runs them and shows "Batch Processing Results";
// each window is captured with ImageMagick's `import -window root`.
#include <stdlib.h>
#include "../support/BenchHome.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/TandorForm.h"
#include "core/Prompt.h"
#include "pages/batchcreate/BatchCreateForm.h"
#include "pages/batchcreate/BatchCreateQueue.h"
#include "pages/common/PromptService.h"
#include "pages/create/CreatePage.h"

namespace {

void Settle(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

void Shoot(QWidget& w, const std::string& file) {
  w.show();
  w.raise();
  Settle(600);
  const std::string cmd = "import -window root '" + file + "'";
  if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "import failed for %s\n", file.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s OUT_FOLDER SOURCE_FOLDER\n", argv[0]);
    return 2;
  }
  const std::string out = argv[1], source = argv[2];
  char home[] = "/tmp/batchcreateshots-XXXXXX";
  if (!mkdtemp(home)) return 2;
  IsolateBenchHome(home);
  QApplication app(argc, argv);
  // The first-run window and the folder scan answer themselves; the results window is captured.
  SetModalHook([&](QDialog& d, const char* name) {
    if (std::string(name) == "TBatchMessageForm") Shoot(d, out + "/batch-results.png");
    return std::string(name) == "TAddFolderForm" ? d.exec() : int(QDialog::Accepted);
  });
  int rc = 0;
  {
    TTandorForm form;
    form.resize(900, 600);
    form.show();
    form.RequestPage(kCreatePage);
    TCreatePage* page = form.CreatePage();
    std::vector<TBatchRow> rows{{"ZIP Filename", out + "/three.zip"}, {"TAG", "Monday backup"},
                                {"ADD FILE", source + "/f0.txt"},     {"ADD FILE", source + "/f1.txt"},
                                {"ADD FILE", source + "/f2.txt"},     {"FINISH", ""},
                                {"GZ Filename", out + "/single.gz"},  {"TAG", "Caf\xC3\xA9"},
                                {"ADD FILE", source + "/f3.txt"},     {"FINISH", ""},
                                {"TAR Filename", out + "/more.tar"},  {"ADD FOLDER", source}};
    {
      TBatchCreateForm w(form, nullptr, &form);
      for (const TBatchRow& r : rows)
        w.ListView->addTopLevelItem(new QTreeWidgetItem({QString::fromStdString(r.Action), QString::fromStdString(r.Path)}));
      w.ListView->setCurrentItem(w.ListView->topLevelItem(11));
      w.FilenameButton->setEnabled(false);
      for (QPushButton* b : {w.AddFilesButton, w.AddFolderButton, w.FinishButton, w.ClearButton, w.ZipButton})
        b->setEnabled(true);
      Shoot(w, out + "/batch-create.png");
    }
    rows.push_back({"FINISH", ""});
    QEventLoop loop;
    QObject::connect(page->BatchQueue, &TBatchCreateQueue::Finished, &loop, &QEventLoop::quit);
    page->BatchQueue->Start(rows);
    loop.exec();
    Shoot(form, out + "/create-page-after.png");
  }
  SetModalHook(nullptr);
  std::filesystem::remove_all(home);
  return rc;
}
