// Opens zip archives with 100,000 and 1,000,000 entries on the unzip page (offscreen) and reports the
// time until every row is in the list and the worst gap of a 10 ms timer during the listing.
//   unzippage_bench [folder]   (archives are made there with make_zip.py when missing)
//   unzippage_bench --show archive seconds   (shows the window with the archive loaded, for a screenshot)
#include <QApplication>
#include "../support/BenchHome.h"
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/TandorForm.h"
#include "pages/common/FileList.h"
#include "pages/unzip/UnzipPage.h"

namespace fs = std::filesystem;

namespace {

double Seconds(const std::string& command) {
  const auto t0 = std::chrono::steady_clock::now();
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  const bool show = argc > 3 && std::string(argv[1]) == "--show";
  const fs::path folder = show ? fs::temp_directory_path() / "unzippage-show"
                               : argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "unzippage-bench";
  fs::create_directories(folder / "home");
  IsolateBenchHome((folder / "home").c_str());
  if (!show && !getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const fs::path script = fs::path(__FILE__).parent_path() / "make_zip.py";
  {
    TSettings settings;  // a settings file keeps the first-run window away
    settings.ConfigFile = (folder / "home" / "config").string();
    if (!fs::exists(settings.ConfigFile)) settings.WriteDefaultSettings();
  }

  QApplication app(argc, argv);
  TTandorForm form;
  form.show();
  TUnzipPage* page = form.UnzipPage();
  if (show) {
    page->OpenArchive(argv[2]);
    QTimer::singleShot(std::atoi(argv[3]) * 1000, &app, &QApplication::quit);
    return QApplication::exec();
  }

  // The third round opens the million-entry archive again over the loaded one, as a user re-opening it would.
  for (int n : {100000, 1000000, 1000000}) {
    const fs::path zip = folder / ("entries" + std::to_string(n) + ".zip");
    if (!fs::exists(zip)) {
      const double made = Seconds("python3 '" + script.string() + "' '" + zip.string() + "' " + std::to_string(n));
      std::printf("made %s in %.1f s\n", zip.c_str(), made);
    }
    const double peer = Seconds("unzip -Z1 '" + zip.string() + "' > /dev/null");

    QElapsedTimer clock;
    qint64 last = 0, worst = 0;
    QTimer ping;
    ping.setInterval(10);
    QObject::connect(&ping, &QTimer::timeout, [&] {
      const qint64 now = clock.elapsed();
      worst = std::max(worst, now - last);
      last = now;
    });
    clock.start();
    ping.start();
    page->ResetUnzipPage();
    page->UpdateUnzipWindow(zip.string());
    const qint64 listed = clock.elapsed();
    worst = std::max(worst, listed - last);
    // The view lays out and paints the new rows after the call returns: keep measuring for a while,
    // and scroll to the end and back as a user would.
    QTimer::singleShot(300, [&] { page->UnzipListView->scrollToBottom(); });
    QTimer::singleShot(600, [&] { page->UnzipListView->scrollToTop(); });
    QEventLoop settle;
    QTimer::singleShot(1500, &settle, &QEventLoop::quit);
    settle.exec();
    worst = std::max(worst, clock.elapsed() - last);
    ping.stop();
    std::printf("%8d entries: %d rows in the list after %.3f s; worst event-loop gap %lld ms (listing and the "
                "1.5 s after); unzip -Z1 %.3f s\n",
                n, page->UnzipListView->Count(), listed / 1000.0, static_cast<long long>(worst), peer);
    std::fflush(stdout);
  }
  return 0;
}
