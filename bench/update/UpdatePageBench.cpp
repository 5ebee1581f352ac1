// Adds a folder of 5,000 small files to a zip archive of 50,000 entries from the update page
// (offscreen, dropped on the list as a user would) and times `zip -r -6 archive.zip folder` on a copy
// of the same archive, alternating, three rounds each; prints both and their ratio.
//   updatepage_bench [folder]   (inputs are made there with make_inputs.py when missing)
//   updatepage_bench --show archive seconds   (the window on the update page with the archive listed)
#include <sys/resource.h>
#include "../support/BenchHome.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/TandorForm.h"
#include "pages/common/FileList.h"
#include "pages/common/PageHost.h"
#include "pages/update/UpdateList.h"
#include "pages/update/UpdatePage.h"

namespace fs = std::filesystem;

namespace {

double Seconds(const std::string& command) {
  const auto t0 = std::chrono::steady_clock::now();
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

std::string Quote(const fs::path& p) {
  std::string q(1, '\'');
  q += p.string();
  q += '\'';
  return q;
}

// CPU seconds (user + system) of this process, or of its waited-for children.
double CpuSeconds(int who) {
  struct rusage u {};
  ::getrusage(who, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const bool show = argc > 3 && std::string(argv[1]) == "--show";
  const fs::path folder = show ? fs::temp_directory_path() / "updatepage-show"
                               : argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "updatepage-bench";
  fs::create_directories(folder / "home");
  IsolateBenchHome((folder / "home").c_str());
  if (!show && !getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  {
    TSettings settings;  // a settings file keeps the first-run window away
    settings.ConfigFile = (folder / "home" / "config").string();
    if (!fs::exists(settings.ConfigFile)) settings.WriteDefaultSettings();
  }

  QApplication app(argc, argv);
  TTandorForm form;
  form.resize(1000, 640);
  form.show();
  form.RequestPage(kUpdatePage);
  TUpdatePage* page = form.UpdatePage();
  if (show) {
    QTimer::singleShot(100, &app, [&] { page->TakeArchive(argv[2]); });
    QTimer::singleShot(std::atoi(argv[3]) * 1000, &app, &QApplication::quit);
    return QApplication::exec();
  }

  const fs::path base = folder / "base.zip", add = folder / "add";
  if (!fs::exists(base) || !fs::exists(add)) {
    fs::remove_all(add);
    const fs::path script = fs::path(UPDATE_BENCH_DIR) / "make_inputs.py";
    const double made = Seconds("python3 " + Quote(script) + " " + Quote(base) + " 50000 " + Quote(add) + " 5000");
    std::printf("made the inputs in %.1f s\n", made);
  }
  Seconds("cat " + Quote(base) + " > /dev/null; tar cf - -C " + Quote(folder) + " add > /dev/null");
  form.Settings().SaveZipFolders = true;
  form.Settings().RelativePaths = true;
  form.Settings().OnlyNewerThanDate = false;

  std::vector<double> peer, ours, listing, peerCpu, ourCpu;
  for (int round = 0; round < 3; ++round) {
    const fs::path peerZip = folder / "peer.zip", ourZip = folder / "ours.zip";
    fs::copy_file(base, peerZip, fs::copy_options::overwrite_existing);
    const double children = CpuSeconds(RUSAGE_CHILDREN);
    peer.push_back(Seconds("cd " + Quote(folder) + " && zip -q -r -6 peer.zip add"));
    peerCpu.push_back(CpuSeconds(RUSAGE_CHILDREN) - children);

    fs::copy_file(base, ourZip, fs::copy_options::overwrite_existing);
    if (page->UpdateListView->HasRows()) page->UpdateResetButtonClick();
    QElapsedTimer clock;
    clock.start();
    page->TakeArchive(ourZip.string());
    listing.push_back(clock.elapsed() / 1000.0);
    clock.restart();
    const double self = CpuSeconds(RUSAGE_SELF);
    page->UpdateDropUpdateWindow({add.string()});
    ours.push_back(clock.elapsed() / 1000.0);
    ourCpu.push_back(CpuSeconds(RUSAGE_SELF) - self);
    std::printf("round %d: zip -r -6 %.2f s (CPU %.2f s); update page %.2f s (CPU %.2f s; %d rows in the list "
                "afterwards; listing before it %.2f s)\n",
                round + 1, peer.back(), peerCpu.back(), ours.back(), ourCpu.back(), page->UpdateListView->Count(),
                listing.back());
    std::fflush(stdout);
  }
  {
    // Where the page's time goes, step by step, on a fresh copy.
    const fs::path ourZip = folder / "ours.zip";
    fs::copy_file(base, ourZip, fs::copy_options::overwrite_existing);
    page->UpdateResetButtonClick();
    page->TakeArchive(ourZip.string());
    QElapsedTimer clock;
    clock.start();
    std::vector<updatelist::TFoundFile> found;
    std::atomic<bool> stop{false};
    std::atomic<int64_t> count{0};
    updatelist::ScanFolder(add.string(), true, {true, true}, found, stop, count);
    const double scan = clock.restart() / 1000.0;
    page->BeginAdding();
    for (const updatelist::TFoundFile& f : found) page->DropFileToUpdate(f);
    const double plan = clock.restart() / 1000.0;
    page->UpdatingAZipFile();
    const double write = clock.restart() / 1000.0;
    page->FinishAdding();
    const double finish = clock.restart() / 1000.0;
    std::printf("steps: scan %.2f s, duplicate check and new rows %.2f s, rewrite and new listing %.2f s, end %.2f s\n",
                scan, plan, write, finish);
  }
  const double check = Seconds("unzip -tq " + Quote(folder / "ours.zip") + " > /dev/null");
  std::printf("unzip -t of the update page's archive: %.2f s; sizes: ours %lld bytes, peer %lld bytes\n", check,
              static_cast<long long>(fs::file_size(folder / "ours.zip")),
              static_cast<long long>(fs::file_size(folder / "peer.zip")));
  std::fflush(stdout);
  Seconds("cd " + Quote(folder) +
          " && echo entries: ours $(zipinfo -1 ours.zip | wc -l), peer $(zipinfo -1 peer.zip | wc -l)");
  std::printf("median: zip -r -6 %.2f s, update page %.2f s, ratio %.2f (target <= 1.5); CPU: %.2f s and %.2f s, "
              "ratio %.2f\n",
              Median(peer), Median(ours), Median(ours) / Median(peer), Median(peerCpu), Median(ourCpu),
              Median(ourCpu) / Median(peerCpu));
  return 0;
}
