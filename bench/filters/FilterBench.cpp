// The unzip page's file-type filter, folder filter and explorer window on a listed zip archive of
// 1,000,000 entries in 30,907 folders (filters_bench.sh makes it with ../unzippage/make_zip.py), offscreen.
// Each step is clicked from the event loop and the loop then runs on for a while (repaints, layouts in
// batches); reported are the step's time and the longest single turn of the event loop meanwhile (the
// longest the window went without handling its events). The explorer also on an archive of 1,000,000
// entries in its root folder (make_flat_zip.py): the time until its window has painted, and the time
// and longest turn of opening its largest folder.
//   filters_bench [folder]            (TURN_REPORT_MS=n lists every turn and event over n ms)
//   filters_bench --shots archive outdir   (shows the three windows on the archive and saves their pictures,
//                                          the explorer with its contents as icons and as a list)
#include <QApplication>
#include "../support/BenchHome.h"
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <cstdio>
#include <ctime>
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

qint64 ThreadCpuNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<qint64>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// The event loop's turns: a 1 ms timer fires once per pass of the loop (and once per nested
// processEvents) when it is due, so the gap between two firings is the longest the window went without
// handling its events, at most 1 ms more (a zero timer would keep the thread spinning and take a core
// from workers). Turns over `report` ms are listed with their start time for finding where they go.
class TTurnWatch {
 public:
  explicit TTurnWatch(qint64 reportMs = 0) : report_(reportMs) {
    ping_.setInterval(1);
    ping_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ping_, &QTimer::timeout, [this] { Tick(); });
  }
  void Start() {
    worst_ = worstCpu_ = 0;
    long_.clear();
    clock_.start();
    last_ = 0;
    lastCpu_ = ThreadCpuNs();
    ping_.start();
  }
  void Stop() {
    Tick();
    ping_.stop();
  }
  double WorstMs() const { return static_cast<double>(worst_) / 1e6; }
  // The same in processor time of this thread: what a turn costs without other programs' share of
  // the machine (the wall-clock figure counts the time the thread waited for a core).
  double WorstCpuMs() const { return static_cast<double>(worstCpu_) / 1e6; }
  QString Long() const { return long_; }

 private:
  void Tick() {
    const qint64 now = clock_.nsecsElapsed(), cpu = ThreadCpuNs();
    const qint64 turn = now - last_, cpuTurn = cpu - lastCpu_;
    worst_ = std::max(worst_, turn);
    worstCpu_ = std::max(worstCpu_, cpuTurn);
    if (report_ > 0 && turn > report_ * 1000000)
      long_ += QString(" %1ms(cpu %2)@%3")
                   .arg(static_cast<double>(turn) / 1e6, 0, 'f', 0)
                   .arg(static_cast<double>(cpuTurn) / 1e6, 0, 'f', 0)
                   .arg(last_ / 1000000);
    last_ = now;
    lastCpu_ = cpu;
  }
  QTimer ping_;
  QElapsedTimer clock_;
  qint64 last_ = 0, worst_ = 0, lastCpu_ = 0, worstCpu_ = 0, report_;
  QString long_;
};

// Runs `click` from the event loop as a user's click would, then lets the loop run `settleMs` more
// (repaints, layouts in batches); returns the longest turn meanwhile and the time the click took.
struct TTurns {
  double WorstMs = 0, WorstCpuMs = 0, ClickMs = 0;
  QString Long;
};
TTurns Click(const std::function<void()>& click, int settleMs = 400, qint64 reportMs = 0) {
  TTurnWatch watch(reportMs);
  TTurns out;
  QEventLoop loop;
  QElapsedTimer t;
  QTimer::singleShot(0, [&] {
    t.start();
    click();
    out.ClickMs = static_cast<double>(t.nsecsElapsed()) / 1e6;
    QTimer::singleShot(settleMs, &loop, &QEventLoop::quit);
  });
  watch.Start();
  loop.exec();
  watch.Stop();
  out.WorstMs = watch.WorstMs();
  out.WorstCpuMs = watch.WorstCpuMs();
  out.Long = watch.Long();
  return out;
}

// With TURN_REPORT_MS set, every event whose handling took longer than that is printed with its type,
// its receiver and its nesting depth (a long turn is one long event, or several).
class TTimedApp : public QApplication {
 public:
  TTimedApp(int& argc, char** argv, qint64 reportMs) : QApplication(argc, argv), reportNs_(reportMs * 1000000) {}
  bool notify(QObject* receiver, QEvent* event) override {
    if (reportNs_ <= 0) return QApplication::notify(receiver, event);
    QElapsedTimer t;
    t.start();
    const int type = event->type();
    ++depth_;
    const bool done = QApplication::notify(receiver, event);
    --depth_;
    if (t.nsecsElapsed() > reportNs_)
      std::printf("    event %d to %s (%s) at depth %d: %.1f ms\n", type, receiver->metaObject()->className(),
                  qPrintable(receiver->objectName()), depth_, static_cast<double>(t.nsecsElapsed()) / 1e6);
    return done;
  }

 private:
  qint64 reportNs_;
  int depth_ = 0;
};

// Shows a dialog the page would run modally and lets it paint; returns when it has painted.
void ShowAndPaint(QDialog& d) {
  d.show();
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

double Ms(const QElapsedTimer& t) { return static_cast<double>(t.nsecsElapsed()) / 1e6; }

}  // namespace

// Shows every program window the page opens for a moment and saves its picture as outdir/<class>.png.
int Shots(int argc, char** argv) {
  const fs::path out = argv[3];
  fs::create_directories(out / "home");
  IsolateBenchHome((out / "home").c_str());
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
    if (auto* f = dynamic_cast<TUnzipTreeviewForm*>(&d)) {  // its contents as a list too
      f->ListButton->click();
      settle();
      d.grab().save(QString::fromStdString((out / (std::string(name) + "-list.png")).string()));
    }
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
  // Turns longer than this many ms are listed with their start (for finding where they go).
  const qint64 reportMs = getenv("TURN_REPORT_MS") ? std::atoll(getenv("TURN_REPORT_MS")) : 0;
  fs::create_directories(folder / "home");
  IsolateBenchHome((folder / "home").c_str());
  if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  {
    TSettings settings;
    settings.ConfigFile = (folder / "home" / "config").string();
    if (!fs::exists(settings.ConfigFile)) settings.WriteDefaultSettings();
  }
  const fs::path zip = folder / "entries1000000.zip", flat = folder / "flat1000000.zip";
  for (const fs::path& p : {zip, flat})
    if (!fs::exists(p)) {
      std::fprintf(stderr, "%s is missing (filters_bench.sh makes it)\n", p.c_str());
      return 1;
    }

  TTimedApp app(argc, argv, reportMs);
  TTandorForm form;
  form.resize(1000, 640);
  form.show();
  TUnzipPage* page = form.UnzipPage();
  QElapsedTimer t;
  t.start();
  page->UpdateUnzipWindow(zip.string());
  std::printf("listed %d rows in %.0f ms\n", page->UnzipListView->Count(), Ms(t));
  const auto line = [](const char* what, const TTurns& r, const QString& more) {
    std::printf("%s: %s in %.0f ms, longest event-loop turn %.1f ms (%.1f ms processor time)%s\n", what,
                qPrintable(more), r.ClickMs, r.WorstMs, r.WorstCpuMs, qPrintable(r.Long));
  };

  // File types: .txt and .md with the pattern "file00" (Whole Word off).
  SetModalHook([](QDialog& d, const char*) {
    auto* f = dynamic_cast<TUnzipFileTypeform*>(&d);
    if (!f) return -1;
    f->FileTypeCheckBox->setChecked(true);
    f->CheckType(".txt");
    f->CheckType(".md");
    f->MatchCheckBox->setChecked(true);
    f->MatchEdit->setText("file00");
    ShowAndPaint(d);
    d.hide();
    return TUnzipFileTypeform::kOk;
  });
  TTurns r = Click([&] { page->SelectButtonClick(); }, 400, reportMs);
  line("file-type filter (.txt .md, file00)", r,
       QString("%1 of %2 rows kept").arg(page->UnzipFilteredListView->Count()).arg(page->UnzipListView->Count()));
  // Every row kept: the largest result.
  SetModalHook([](QDialog& d, const char*) {
    auto* f = dynamic_cast<TUnzipFileTypeform*>(&d);
    if (!f) return -1;
    f->MatchCheckBox->setChecked(true);
    f->MatchEdit->setText("file");
    ShowAndPaint(d);
    d.hide();
    return TUnzipFileTypeform::kOk;
  });
  r = Click([&] { page->SelectButtonClick(); }, 400, reportMs);
  line("file-type filter (pattern file: every row)", r, QString("%1 rows kept").arg(page->UnzipFilteredListView->Count()));
  r = Click([&] { page->SelectAllButtonClick(); }, 400, reportMs);
  line("ALL on the filtered list", r,
       QString("%1 rows highlighted").arg(page->UnzipListView->selectionModel()->selectedRows().size()));
  r = Click([&] { page->UnSelectAllButtonClick(); }, 400, reportMs);
  line("None", r, QString("%1 rows highlighted").arg(page->UnzipListView->SelectedRows().size()));

  // Folders: dir001 with its subfolders, and dir002/sub02 alone; then every dir0* with its subfolders.
  SetModalHook([](QDialog& d, const char*) {
    auto* f = dynamic_cast<TFolderFilterForm*>(&d);
    if (!f) return -1;
    ShowAndPaint(d);
    d.hide();
    f->SelectFolder("dir001");
    f->IncludeFoldersCheckBox->setChecked(true);
    f->AddFolderButtonClick();
    f->SelectFolder("dir002/sub02");
    f->IncludeFoldersCheckBox->setChecked(false);
    f->AddFolderButtonClick();
    return TFolderFilterForm::kOk;
  });
  r = Click([&] { page->FolderFilterButtonClick(); }, 400, reportMs);
  line("folder filter (dir001 with subfolders, dir002/sub02)", r,
       QString("%1 rows kept").arg(page->UnzipFilteredListView->Count()));
  SetModalHook([](QDialog& d, const char*) {
    auto* f = dynamic_cast<TFolderFilterForm*>(&d);
    if (!f) return -1;
    ShowAndPaint(d);
    d.hide();
    f->IncludeFoldersCheckBox->setChecked(true);
    for (int i = 0; i < 100; ++i) {
      f->SelectFolder(QString("dir%1").arg(i, 3, 10, QChar('0')));
      f->AddFolderButtonClick();
    }
    return TFolderFilterForm::kOk;
  });
  r = Click([&] { page->FolderFilterButtonClick(); }, 400, reportMs);
  line("folder filter (100 folders with subfolders)", r, QString("%1 rows kept").arg(page->UnzipFilteredListView->Count()));
  SetModalHook([](QDialog& d, const char*) { return dynamic_cast<TFolderFilterForm*>(&d) ? int(TFolderFilterForm::kDisplayAll) : -1; });
  r = Click([&] { page->FolderFilterButtonClick(); }, 400, reportMs);
  line("folder filter window, Display All", r, QString("%1 rows shown").arg(page->VisibleList()->Count()));
  r = Click([&] { page->SelectAllButtonClick(); }, 400, reportMs);
  line("ALL on the full list", r, QString("%1 rows highlighted").arg(page->UnzipListView->SelectedRows().size()));
  r = Click([&] { page->UnSelectAllButtonClick(); }, 400, reportMs);
  line("None", r, QString("%1 rows highlighted").arg(page->UnzipListView->SelectedRows().size()));

  // The explorer: from TREE until its window has painted, the largest folder opened, a search.
  const auto explore = [&](const char* what, const std::function<void(TUnzipTreeviewForm&)>& inside) {
    double ready = 0;
    TTurnWatch watch(reportMs);
    SetModalHook([&](QDialog& d, const char*) {
      auto* f = dynamic_cast<TUnzipTreeviewForm*>(&d);
      if (!f) return -1;
      f->showNormal();
      f->resize(1000, 640);
      ShowAndPaint(*f);
      ready = Ms(t);
      watch.Stop();
      std::printf("explorer on %s: window ready (built, shown, painted) %.0f ms after TREE, longest turn %.0f ms "
                  "(%.0f ms processor time)%s\n",
                  what, ready, watch.WorstMs(), watch.WorstCpuMs(), qPrintable(watch.Long()));
      inside(*f);
      return int(TUnzipTreeviewForm::kClosed);
    });
    QEventLoop loop;
    QTimer::singleShot(0, [&] {
      t.restart();
      page->TreeButtonClick();
      loop.quit();
    });
    watch.Start();
    loop.exec();
  };
  const auto largest = [](TUnzipTreeviewForm& f) {
    TArchiveTree& tree = f.Contents()->Tree();
    int best = 0;
    size_t most = 0;
    for (int n = 0; n < tree.Count(); ++n)
      if (tree.At(n).Folder && tree.At(n).Children.size() > most) {
        most = tree.At(n).Children.size();
        best = n;
      }
    return std::pair<int, size_t>(best, most);
  };
  const auto openLargest = [&](TUnzipTreeviewForm& f) {
    const auto [node, count] = largest(f);
    // Away from the folder first; for the root, one of its files is chosen (which shows the root's contents).
    f.SelectNode(node == 0 ? f.NodeOfPath("File999999.xml") : f.NodeOfPath("dir500"));
    QCoreApplication::processEvents();
    const int target = node == 0 ? f.NodeOfPath("File123456.txt") : node;
    const TTurns o = Click([&] { f.SelectNode(target); }, 400, reportMs);
    std::printf("  largest folder (%zu entries) opened in %.1f ms, longest turn %.1f ms (%.1f ms processor time)%s\n",
                count, o.ClickMs, o.WorstMs, o.WorstCpuMs, qPrintable(o.Long));
    const TTurns b = Click([&] { f.BackButtonClick(); }, 200, reportMs);
    std::printf("  BACK to its parent in %.1f ms, longest turn %.1f ms (%.1f ms processor time)\n", b.ClickMs, b.WorstMs,
                b.WorstCpuMs);
  };
  explore("1,000,000 entries in 30,907 folders", [&](TUnzipTreeviewForm& f) {
    openLargest(f);
    const TTurns s = Click([&] {
      f.SearchEdit->setText("file0999999.xml");
      f.SearchButtonClick();
    }, 200, reportMs);
    std::printf("  search for the last file: %.0f ms\n", s.ClickMs);
  });
  SetModalHook(nullptr);
  page->ClearUnzipWindow();
  t.restart();
  page->UpdateUnzipWindow(flat.string());
  std::printf("listed %d rows of one folder in %.0f ms\n", page->UnzipListView->Count(), Ms(t));
  explore("1,000,000 entries in one folder", [&](TUnzipTreeviewForm& f) { openLargest(f); });
  SetModalHook(nullptr);
  return 0;
}
