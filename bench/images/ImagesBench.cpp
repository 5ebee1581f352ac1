// imagesbench thumbs FOLDER SIZE   -- thumbnails of every picture in FOLDER (TThumbThread); prints
//                                     the pictures, the thumbnails made and the wall time in seconds
// imagesbench show FOLDER SIZE N S -- the Image Browser with N thumbnails shown for S seconds (for a
//                                     screenshot); "view" instead of "show": the first picture in the
//                                     Image window
// imagesbench scroll FOLDER SIZE N -- the Image Browser with N thumbnails (those of FOLDER repeated),
//                                     scrolled from top to bottom a step at a time, each step painted;
//                                     prints the longest and the mean paint in milliseconds
#include <QApplication>
#include "../support/BenchHome.h"
#include <QElapsedTimer>
#include <QScrollBar>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/TandorForm.h"
#include "core/Settings.h"
#include "images/PictureTypes.h"
#include "images/Thumbnails.h"
#include "images/PictureService.h"
#include "pages/images/ImageBrowserForm.h"
#include "pages/images/ImageForm.h"

namespace fs = std::filesystem;

static std::vector<std::string> Pictures(const std::string& folder) {
  std::vector<std::string> paths;
  for (const auto& e : fs::directory_iterator(folder))
    if (e.is_regular_file() && HasPictureExtension(e.path().string())) paths.push_back(e.path().string());
  std::sort(paths.begin(), paths.end());
  return paths;
}

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: imagesbench thumbs FOLDER SIZE | scroll FOLDER SIZE N\n");
    return 2;
  }
  const std::string mode = argv[1], folder = argv[2];
  const int size = std::atoi(argv[3]);
  const std::vector<std::string> paths = Pictures(folder);
  if (mode == "thumbs") {
    QElapsedTimer t;
    t.start();
    TThumbThread run(paths, size);
    run.Start();
    run.Wait();
    int made = 0;
    for (const TThumbItem& item : run.TakeResults()) made += item.Status.Succeeded();
    std::printf("%zu %d %.2f\n", paths.size(), made, t.elapsed() / 1000.0);
    return made == static_cast<int>(paths.size()) ? 0 : 1;
  }
  if (mode == "view" && argc >= 5) {
    QApplication app(argc, argv);
    TPicture picture = LoadPicture(paths.at(0), TPictureUse::View);
    if (picture.Status.Failed()) return 1;
    TImageForm form(picture.Image, picture.Info, true);
    form.show();
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < std::atoi(argv[4]) * 1000) app.processEvents(QEventLoop::AllEvents, 50);
    return 0;
  }
  if ((mode == "scroll" || mode == "show") && argc >= 5) {
    QApplication app(argc, argv);
    const int count = std::atoi(argv[4]);
    std::vector<QImage> thumbs;
    {
      TThumbThread run(paths, size);
      run.Start();
      run.Wait();
      for (TThumbItem& item : run.TakeResults())
        if (item.Status.Succeeded()) thumbs.push_back(std::move(item.Thumb));
    }
    if (thumbs.empty()) return 1;
    // A settings file in the data folder ($TANDOR_HOME), so that no first-run window shows.
    if (const char* home = std::getenv("TANDOR_HOME")) {
      IsolateBenchHome(home);
      TSettings settings;
      settings.ConfigFile = std::string(home) + "/config";
      settings.WriteDefaultSettings();
    }
    TTandorForm host;
    TImageBrowserForm browser(host, size);
    std::vector<TThumbModel::Row> rows;
    for (int i = 0; i < count; ++i)
      rows.push_back({QString("photo%1.jpg").arg(i), paths[static_cast<size_t>(i) % paths.size()],
                      thumbs[static_cast<size_t>(i) % thumbs.size()], false, i});
    browser.resize(1280, 800);
    browser.Model()->Append(std::move(rows));
    browser.show();
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 3000) app.processEvents();  // batched layout finishes
    if (mode == "show") {
      browser.ListView->selectionModel()->select(browser.Model()->index(1), QItemSelectionModel::Select);
      browser.Model()->SetChecked(2, true);
      while (t.elapsed() < (argc >= 6 ? std::atoi(argv[5]) : 5) * 1000) app.processEvents(QEventLoop::AllEvents, 50);
      browser.DoCloseCode();
      return 0;
    }
    QScrollBar* bar = browser.ListView->verticalScrollBar();
    const int step = std::max(1, bar->pageStep() / 4);
    double longest = 0, total = 0;
    int steps = 0;
    for (int v = 0; v <= bar->maximum(); v += step) {
      QElapsedTimer p;
      p.start();
      bar->setValue(v);
      browser.ListView->viewport()->repaint();
      app.processEvents();
      const double ms = p.nsecsElapsed() / 1e6;
      longest = std::max(longest, ms);
      total += ms;
      ++steps;
    }
    std::printf("%d %d %.1f %.2f\n", count, steps, longest, steps ? total / steps : 0.0);
    browser.DoCloseCode();
    return 0;
  }
  return 2;
}
