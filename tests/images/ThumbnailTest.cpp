// Thumbnails: the placement arithmetic, the drawn squares, black pictures, and the worker's runs
// (stopping, broken files left out with their reason).
#include <gtest/gtest.h>

#include <atomic>

#include "PictureTestUtil.h"
#include "TestEnv.h"
#include "images/Thumbnails.h"

namespace fs = std::filesystem;

TEST(Thumbnails, PlacementTable) {
  struct Case {
    int64_t w, h;
    int size;
    TThumbPlacement at;
  } cases[] = {
      {200, 100, 64, {0, 16, 64, 32}},   // wider: 16 black rows above and below
      {100, 200, 64, {16, 0, 32, 64}},   // taller: 16 black columns on each side
      {50, 50, 64, {0, 0, 64, 64}},      // square: the whole square
      {1920, 1080, 128, {0, 28, 128, 72}},
      {3, 2, 64, {0, 11, 64, 42}},       // 2 * 64 / 3 = 42
      {1000, 1, 64, {0, 31, 64, 1}},     // never thinner than a pixel
      {1, 1000, 16, {7, 0, 1, 16}},
      {600, 800, 256, {32, 0, 192, 256}},
      {0, 10, 64, {}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ThumbPlacement(c.w, c.h, c.size), c.at) << c.w << " x " << c.h << " at " << c.size;
}

namespace {

// Counts the rows (or columns) of a thumbnail that are entirely black.
int BlackRows(const QImage& t, bool columns) {
  int n = 0;
  for (int i = 0; i < t.width(); ++i) {
    bool black = true;
    for (int j = 0; j < t.height() && black; ++j)
      black = (columns ? t.pixel(i, j) : t.pixel(j, i)) == qRgb(0, 0, 0);
    n += black;
  }
  return n;
}

}  // namespace

TEST(Thumbnails, WideAndTallPicturesAreCentredOnBlack) {
  const fs::path dir = testenv::MakeTempDir("geom");
  struct Case {
    int w, h;
    int blackRows, blackColumns;
  } cases[] = {{200, 100, 32, 0}, {100, 200, 0, 32}, {300, 300, 0, 0}};
  for (const Case& c : cases) {
    const fs::path file = pictest::Plain(dir, "w.png", c.w, c.h, "white");
    QImage thumb;
    const TStatus st = MakeThumbnailOfFile(file.string(), 64, thumb);
    ASSERT_TRUE(st.Succeeded()) << st.Text();
    ASSERT_EQ(thumb.size(), QSize(64, 64));
    EXPECT_EQ(BlackRows(thumb, false), c.blackRows) << c.w << " x " << c.h;
    EXPECT_EQ(BlackRows(thumb, true), c.blackColumns) << c.w << " x " << c.h;
    if (c.w > c.h) {
      EXPECT_EQ(thumb.pixel(10, 15), qRgb(0, 0, 0));
      EXPECT_EQ(thumb.pixel(10, 16), qRgb(255, 255, 255));
      EXPECT_EQ(thumb.pixel(10, 47), qRgb(255, 255, 255));
      EXPECT_EQ(thumb.pixel(10, 48), qRgb(0, 0, 0));
    } else if (c.h > c.w) {
      EXPECT_EQ(thumb.pixel(15, 10), qRgb(0, 0, 0));
      EXPECT_EQ(thumb.pixel(16, 10), qRgb(255, 255, 255));
      EXPECT_EQ(thumb.pixel(47, 10), qRgb(255, 255, 255));
      EXPECT_EQ(thumb.pixel(48, 10), qRgb(0, 0, 0));
    }
  }
}

TEST(Thumbnails, BlackPictureGetsItsBlackThumbnail) {
  const fs::path dir = testenv::MakeTempDir("black");
  for (const char* name : {"black.png", "black.jpg", "black.gif", "black.bmp"}) {
    const fs::path file = pictest::Plain(dir, name, 100, 100, "black");
    QImage thumb;
    const TStatus st = MakeThumbnailOfFile(file.string(), 64, thumb);
    ASSERT_TRUE(st.Succeeded()) << name << ": " << st.Text();
    ASSERT_EQ(thumb.size(), QSize(64, 64)) << name;
    EXPECT_EQ(BlackRows(thumb, false), 64) << name;
  }
}

TEST(Thumbnails, TransparentPartsShowBlack) {
  const fs::path dir = testenv::MakeTempDir("alpha");
  const fs::path file = dir / "a.png";
  pictest::Convert("-size 32x32 xc:none -fill white -draw \"rectangle 16,0 31,31\"", file);
  QImage thumb;
  ASSERT_TRUE(MakeThumbnailOfFile(file.string(), 32, thumb).Succeeded());
  EXPECT_EQ(thumb.pixel(4, 4), qRgb(0, 0, 0));
  EXPECT_EQ(thumb.pixel(28, 4), qRgb(255, 255, 255));
}

TEST(ThumbThread, MakesEveryThumbnailAndLeavesBrokenOnesOutWithAReason) {
  const fs::path dir = testenv::MakeTempDir("run");
  std::vector<std::string> paths;
  for (int i = 0; i < 6; ++i) paths.push_back(pictest::RedBlue(dir, "p" + std::to_string(i) + ".png", 60, 40).string());
  testenv::WriteFile(dir / "broken.jpg", std::string("\xFF\xD8\xFF\xE0", 4) + testenv::RandomBytes(300, 5));
  paths.insert(paths.begin() + 2, (dir / "broken.jpg").string());
  paths.push_back((dir / "missing.png").string());

  TThumbThread run(paths, 48);
  run.Start();
  run.Wait();
  EXPECT_TRUE(run.Done());
  const std::vector<TThumbItem> items = run.TakeResults();
  ASSERT_EQ(items.size(), paths.size());
  for (size_t i = 0; i < items.size(); ++i) {
    EXPECT_EQ(items[i].Path, paths[i]);
    const bool bad = i == 2 || i == paths.size() - 1;
    EXPECT_EQ(items[i].Status.Failed(), bad) << items[i].Path << ": " << items[i].Status.Text();
    EXPECT_EQ(items[i].Thumb.isNull(), bad) << items[i].Path;
    if (!bad) {
      EXPECT_EQ(items[i].Thumb.size(), QSize(48, 48));
      EXPECT_EQ(items[i].Thumb.pixel(5, 24), qRgb(255, 0, 0));
      EXPECT_EQ(items[i].Thumb.pixel(42, 24), qRgb(0, 0, 255));
    }
  }
}

TEST(ThumbThread, StopAfterTheThirdOfTen) {
  const fs::path dir = testenv::MakeTempDir("stop");
  std::vector<std::string> paths;
  for (int i = 0; i < 10; ++i) paths.push_back(pictest::Plain(dir, "p" + std::to_string(i) + ".bmp", 300, 200, "white").string());
  struct Case {
    int workers;
    size_t least, most;
  } cases[] = {{1, 3, 3}, {2, 3, 4}};
  for (const Case& c : cases) {
    TThumbThread run(paths, 64, c.workers);
    run.OnPicture = [&run](int done) {
      if (done == 3) run.Stop();
    };
    run.Start();
    run.Wait();
    EXPECT_TRUE(run.Done());
    const std::vector<TThumbItem> items = run.TakeResults();
    EXPECT_GE(items.size(), c.least) << c.workers << " workers";
    EXPECT_LE(items.size(), c.most) << c.workers << " workers";
    for (size_t i = 0; i < items.size(); ++i) {
      EXPECT_EQ(items[i].Path, paths[i]);
      EXPECT_TRUE(items[i].Status.Succeeded());
    }
  }
}

TEST(ThumbThread, EmptyListIsDoneAtOnce) {
  TThumbThread run({}, 64);
  run.Start();
  EXPECT_TRUE(run.Done());
  EXPECT_TRUE(run.TakeResults().empty());
}

TEST(Thumbnails, JpegThumbnailsAndBrokenJpegs) {
  const fs::path dir = testenv::MakeTempDir("jpeg");
  const fs::path good = pictest::RedBlue(dir, "good.jpg", 400, 200);
  const std::string bytes = testenv::ReadFile(good);
  const size_t end = bytes.rfind("\xFF\xD9");
  ASSERT_EQ(end, bytes.size() - 2);
  struct Case {
    const char* what;
    std::string data;
    bool ok;
  } cases[] = {
      {"whole", bytes, true},
      {"trailing bytes after the end", bytes + std::string(100, '\0') + "camera trailer", true},
      {"end marker cut off", bytes.substr(0, end), false},
      {"half", bytes.substr(0, bytes.size() / 2), false},
      {"header only", bytes.substr(0, 200), false},
      {"three bytes", bytes.substr(0, 3), false},
      {"noise after the header", bytes.substr(0, 300) + testenv::RandomBytes(bytes.size() - 300, 9), false},
  };
  for (const Case& c : cases) {
    for (const char* name : {"t.jpg", "t.png"}) {  // a JPEG under another extension is still one
      testenv::WriteFile(dir / name, c.data);
      QImage thumb;
      const TStatus st = MakeThumbnailOfFile((dir / name).string(), 64, thumb);
      EXPECT_EQ(st.Succeeded(), c.ok) << c.what << " " << name << ": " << st.Text();
      EXPECT_EQ(thumb.isNull(), !c.ok) << c.what;
      if (c.ok) {
        EXPECT_EQ(thumb.size(), QSize(64, 64));
        EXPECT_EQ(thumb.pixel(32, 10), qRgb(0, 0, 0)) << "black above the 64 x 32 picture";
        EXPECT_TRUE(pictest::Near(thumb, 8, 32, 0xFF0000, 40)) << std::hex << pictest::Rgb(thumb, 8, 32);
        EXPECT_TRUE(pictest::Near(thumb, 56, 32, 0x0000FF, 40)) << std::hex << pictest::Rgb(thumb, 56, 32);
      }
    }
  }
}
