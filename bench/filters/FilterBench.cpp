// The unzip page's file-type filter, folder filter and explorer window on a listed zip archive of
// 1,000,000 entries (filters_bench.sh makes it with ../unzippage/make_zip.py), offscreen. Reports each step's
// time and the worst gap of a 10 ms timer meanwhile (the longest the window went without handling
// events); the explorer also on 1,000,000 entries in one folder, the worst case for opening a folder.
//   filters_bench [folder]
//   filters_bench --shots archive outdir   (shows the three windows on the archive and saves their pictures)
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QTimer>
#include <QTreeView>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "app/TandorForm.h"
#include "pages/common/FileList.h"
#include "pages/common/PromptService.h"
#include "pages/unzip/ArchiveTree.h"
#include "pages/unzip/ExplorerForm.h"
#include "pages/unzip/FilterForms.h"
#include "pages/unzip/UnzipPage.h"

namespace fs = std::filesystem;

namespace {

// Runs `work` with a 10 ms timer beside it; returns the worst gap between its ticks (ms).
qint64 WorstGap(const std::function<void()>& work) {
  QElapsedTimer clock;
  qint64 last = 0, worst = 0;
  QTimer ping;
  ping.setInterval(10);
  QObject::connect(&ping, &QTimer::timeout, [&] {
    worst = std::max(worst, clock.elapsed() - last);
    last = clock.elapsed();
  });
  clock.start();
  ping.start();
  work();
  worst = std::max(worst, clock.elapsed() - last);
  return worst;
}

double Ms(const QElapsedTimer& t) { return static_cast<double>(t.nsecsElapsed()) / 1e6; }

}  // namespace

// Shows every program window the page opens for a moment and saves its picture as outdir/<class>.png.
int Shots(int argc, char** argv) {
  const fs::path out = argv[3];
  fs::create_directories(out / "home");
  setenv("TANDOR_HOME", (out / "home").c_str(), 1);
  {
    TSettings settings;
    settings.ConfigFile = (out / "home" / "config").string();
    if (!fs::exists(settings.ConfigFile)) settings.WriteDefaultSettings();
  }
  QApplication app(argc, argv);
  TTandorForm form;
  form.resize(1000, 640);
  form.show();
  TUnzipPage* page = form.UnzipPage();
  page->OpenArchive(argv[2]);
  const auto settle = [] {
    QEventLoop wait;
    QTimer::singleShot(800, &wait, &QEventLoop::quit);
    wait.exec();
  };
  SetModalHook([&](QDialog& d, const char* name) {
    if (auto* f = dynamic_cast<TUnzipFileTypeform*>(&d)) {
      f->FileTypeCheckBox->setChecked(true);
      f->CheckType(".txt");
      f->MatchCheckBox->setChecked(true);
      f->MatchEdit->setText("read");
    }
    if (auto* f = dynamic_cast<TFolderFilterForm*>(&d)) {
      f->SelectFolder("docs/sub");
      f->IncludeFoldersCheckBox->setChecked(true);
      f->AddFolderButtonClick();
    }
    if (auto* f = dynamic_cast<TUnzipTreeviewForm*>(&d)) {
      f->showNormal();
      f->resize(1000, 640);
      f->SelectNode(f->NodeOfPath("docs"));
    }
    d.show();
    settle();
    d.grab().save(QString::fromStdString((out / (std::string(name) + ".png")).string()));
    const bool filter = dynamic_cast<TUnzipFileTypeform*>(&d) != nullptr;
    d.hide();
    return filter ? TUnzipFileTypeform::kOk : -1;
  });
  page->SelectButtonClick();
  settle();
  form.grab().save(QString::fromStdString((out / "filtered-page.png").string()));
  page->FolderFilterButtonClick();
  page->TreeButtonClick();
  SetModalHook(nullptr);
  return 0;
}

int main(int argc, char** argv) {
  if (argc > 3 && std::string(argv[1]) == "--shots") return Shots(argc, argv);
  const fs::path folder = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "filters-bench";
  fs::create_directories(folder / "home");
  setenv("TANDOR_HOME", (folder / "home").c_str(), 1);
  if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  {
    TSettings settings;
    settings.ConfigFile = (folder / "home" / "config").string();
    if (!fs::exists(settings.ConfigFile)) settings.WriteDefaultSettings();
  }
  const fs::path zip = folder / "entries1000000.zip";
  if (!fs::exists(zip)) {
    std::fprintf(stderr, "%s is missing (filters_bench.sh makes it)\n", zip.c_str());
    return 1;
  }

  QApplication app(argc, argv);
  TTandorForm form;
  form.show();
  TUnzipPage* page = form.UnzipPage();
  QElapsedTimer t;
  t.start();
  page->UpdateUnzipWindow(zip.string());
  std::printf("listed %d rows in %.0f ms\n", page->UnzipListView->Count(), Ms(t));

  // File types: .txt and .md with the pattern "file00" (Whole Word off).
  SetModalHook([](QDialog& d, const char*) {
    auto* f = dynamic_cast<TUnzipFileTypeform*>(&d);
    if (!f) return -1;
    f->FileTypeCheckBox->setChecked(true);
    f->CheckType(".txt");
    f->CheckType(".md");
    f->MatchCheckBox->setChecked(true);
    f->MatchEdit->setText("file00");
    return TUnzipFileTypeform::kOk;
  });
  t.restart();
  qint64 gap = WorstGap([&] { page->SelectButtonClick(); });
  std::printf("file-type filter: %d of %d rows kept in %.0f ms, worst event-loop gap %lld ms\n",
              page->UnzipFilteredListView->Count(), page->UnzipListView->Count(), Ms(t), static_cast<long long>(gap));

  // Folders: dir001 with its subfolders, and dir002/sub02 alone.
  SetModalHook([](QDialog& d, const char*) {
    auto* f = dynamic_cast<TFolderFilterForm*>(&d);
    if (!f) return -1;
    f->SelectFolder("dir001");
    f->IncludeFoldersCheckBox->setChecked(true);
    f->AddFolderButtonClick();
    f->SelectFolder("dir002/sub02");
    f->IncludeFoldersCheckBox->setChecked(false);
    f->AddFolderButtonClick();
    return TFolderFilterForm::kOk;
  });
  t.restart();
  gap = WorstGap([&] { page->FolderFilterButtonClick(); });
  std::printf("folder filter (window built, two folders): %d rows kept in %.0f ms, worst event-loop gap %lld ms\n",
              page->UnzipFilteredListView->Count(), Ms(t), static_cast<long long>(gap));
  page->ShowUnzipListView();

  // The explorer: time until the window is ready, then a folder opened and a search.
  double opened = 0, expand = 0, search = 0;
  SetModalHook([&](QDialog& d, const char*) {
    auto* f = dynamic_cast<TUnzipTreeviewForm*>(&d);
    if (!f) return -1;
    opened = Ms(t);
    QElapsedTimer s;
    s.start();
    f->SelectNode(f->NodeOfPath("dir500/sub07"));
    f->TreeView->expand(f->TreeView->currentIndex());
    expand = Ms(s);
    s.restart();
    f->SearchEdit->setText("file0999999.xml");
    f->SearchButtonClick();
    search = Ms(s);
    return int(TUnzipTreeviewForm::kClosed);
  });
  t.restart();
  page->TreeButtonClick();
  std::printf("explorer: window ready %.0f ms after TREE; dir500/sub07 shown %.1f ms; first search (sorts every "
              "folder) %.0f ms\n",
              opened, expand, search);

  // One folder of 1,000,000 files: building the tree and opening that folder.
  std::vector<TListRow> flat(1000000);
  for (size_t i = 0; i < flat.size(); ++i) flat[i].File = QString("file%1.txt").arg((i * 7919) % 1000000);
  TArchiveTree tree;
  t.restart();
  tree.Build("flat.zip", flat, true);
  const double built = Ms(t);
  t.restart();
  tree.Children(0);
  std::printf("one folder of 1,000,000 files: tree built %.0f ms, folder sorted and opened %.0f ms\n", built, Ms(t));
  SetModalHook(nullptr);
  return 0;
}
