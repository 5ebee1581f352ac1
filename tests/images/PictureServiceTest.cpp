// The picture service: extensions, header limits, decoding of every kind convert makes, the first
// frame of animated GIFs, hostile headers and broken files, the picture info.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <fstream>

#include "PictureTestUtil.h"
#include "TestEnv.h"
#include "images/PictureHeader.h"
#include "images/PictureService.h"
#include "images/PictureTypes.h"

namespace fs = std::filesystem;
using pictest::Near;

TEST(PictureTypes, ExtensionTable) {
  for (const char* ext : {".bmp", ".gif", ".jpeg", ".jpe", ".jpg", ".pcx", ".png", ".pbm", ".pgm", ".ppm", ".psd",
                          ".raw", ".sgi", ".bw", ".rgb", ".rgba", ".tga", ".tif", ".tiff", ".lbm", ".pcd", ".pix",
                          ".pic", ".pnm", ".pxr", ".xpm"})
    EXPECT_TRUE(IsPictureExtension(ext)) << ext;
  struct Case {
    const char* name;
    bool picture;
  } cases[] = {
      {"a.jpg", true},          {"docs/c.PNG", true},  {"X.TiFf", true},     {"b.txt", false},
      {"noext", false},         {"pic.jpg.txt", false}, {"dir.jpg/file", false}, {".jpg", true},
      {"archive.tar.gz", false}, {"scan.rgba", true},   {"photo.jpeg~", false}, {"ico.ico", false},
  };
  for (const Case& c : cases) EXPECT_EQ(HasPictureExtension(c.name), c.picture) << c.name;
  // The bare test is exact: callers lower the case first.
  EXPECT_FALSE(IsPictureExtension(".JPG"));
  EXPECT_FALSE(IsPictureExtension("jpg"));
}

TEST(PictureHeader, Limits) {
  struct Case {
    int64_t w, h;
    bool allowed;
  } cases[] = {
      {1, 1, true},          {8192, 8192, true},     {8192, 8193, false},  {59999, 1, true},
      {60000, 1, false},     {1, 60000, false},      {60000, 60000, false}, {0, 10, false},
      {10, -1, false},       {16384, 4096, true},    {16385, 4096, false},
  };
  for (const Case& c : cases) EXPECT_EQ(PictureDimensionsAllowed(c.w, c.h), c.allowed) << c.w << " x " << c.h;
}

namespace {

std::string Be32(uint32_t v) {
  return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}
std::string Le32(uint32_t v) {
  return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}
std::string Le16(uint32_t v) { return {char(v), char(v >> 8)}; }
std::string Be16(uint32_t v) { return {char(v >> 8), char(v)}; }

struct HostileCase {
  const char* what;
  const char* ext;
  std::string bytes;
};

std::vector<HostileCase> OversizeHeaders() {
  std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + Be32(13) + "IHDR" + Be32(60000) + Be32(60000) +
                    std::string("\x08\x02\0\0\0", 5) + Be32(0) + std::string(64, '\0');
  std::string pngWide = std::string("\x89PNG\r\n\x1a\n", 8) + Be32(13) + "IHDR" + Be32(20000) + Be32(20000) +
                        std::string("\x08\x06\0\0\0", 5) + Be32(0) + std::string(64, '\0');
  std::string jpeg = std::string("\xFF\xD8\xFF\xE0", 4) + Be16(16) + std::string("JFIF\0\1\1\0\0\1\0\1\0\0", 14) +
                     std::string("\xFF\xC0", 2) + Be16(17) + "\x08" + Be16(60000) + Be16(60000) + "\x03" +
                     std::string(9, '\x11') + std::string(64, '\0');
  std::string gif = std::string("GIF89a") + Le16(65535) + Le16(65535) + std::string("\x80\0\0", 3) +
                    std::string(6, '\0') + std::string(64, '\0');
  std::string bmp = std::string("BM") + Le32(0) + Le32(0) + Le32(54) + Le32(40) + Le32(60000) + Le32(60000) +
                    Le16(1) + Le16(24) + std::string(64, '\0');
  std::string bmpTall = std::string("BM") + Le32(0) + Le32(0) + Le32(54) + Le32(40) + Le32(10) +
                        Le32(static_cast<uint32_t>(-70000)) + Le16(1) + Le16(24) + std::string(64, '\0');
  std::string tiff = std::string("II*\0", 4) + Le32(8) + Le16(2) + Le16(256) + Le16(4) + Le32(1) + Le32(70000) +
                     Le16(257) + Le16(4) + Le32(1) + Le32(70000) + Le32(0) + std::string(64, '\0');
  std::string psd = std::string("8BPS") + Be16(1) + std::string(6, '\0') + Be16(3) + Be32(30000) + Be32(30000) +
                    Be16(8) + Be16(3) + std::string(64, '\0');
  std::string tga = std::string("\0\0\2", 3) + std::string(9, '\0') + Le16(65535) + Le16(65535) + "\x20\x00" +
                    std::string(64, '\0');
  std::string pnm = "P6\n# made huge\n100000 100000\n255\n" + std::string(64, '\0');
  std::string sgi = Be16(474) + "\0\1" + Be16(3) + Be16(65000) + Be16(65000) + Be16(3) + std::string(500, '\0');
  return {{"png 60000 x 60000", ".png", png},     {"png over 256 MiB", ".png", pngWide},
          {"jpeg 60000 x 60000", ".jpg", jpeg},   {"gif 65535 x 65535", ".gif", gif},
          {"bmp 60000 x 60000", ".bmp", bmp},     {"bmp top-down 10 x 70000", ".bmp", bmpTall},
          {"tiff 70000 x 70000", ".tif", tiff},   {"psd 30000 x 30000", ".psd", psd},
          {"tga 65535 x 65535", ".tga", tga},     {"pnm 100000 x 100000", ".ppm", pnm},
          {"sgi 65000 x 65000", ".sgi", sgi}};
}

}  // namespace

TEST(PictureHeader, OversizeHeadersAreRefusedBeforeDecoding) {
  for (const HostileCase& c : OversizeHeaders()) {
    const auto* data = reinterpret_cast<const uint8_t*>(c.bytes.data());
    const auto claimed = SniffPictureDimensions(data, c.bytes.size(), c.ext);
    ASSERT_TRUE(claimed.has_value()) << c.what;
    EXPECT_FALSE(PictureDimensionsAllowed(claimed->Width, claimed->Height)) << c.what;
    QImage out;
    const auto start = std::chrono::steady_clock::now();
    const TStatus st = DecodePicture(data, c.bytes.size(), c.ext, out);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << c.what;
    EXPECT_EQ(st.Code(), TStatusCode::Unsupported) << c.what << ": " << st.Text();
    EXPECT_NE(st.Message().find("too large"), std::string::npos) << c.what << ": " << st.Text();
    EXPECT_TRUE(out.isNull()) << c.what;
  }
}

TEST(PictureService, EveryKindDecodesAtFullSize) {
  const fs::path dir = testenv::MakeTempDir("kinds");
  struct Case {
    const char* name;
    int tolerance;  // lossy kinds
  } cases[] = {{"p.png", 0}, {"p.jpg", 40},  {"p.jpeg", 40}, {"p.gif", 0},  {"p.bmp", 0},  {"BMP3:p3.bmp", 0},  {"p.tif", 0},
               {"p.tiff", 0}, {"p.tga", 0},  {"p.pcx", 0},   {"p.ppm", 0},  {"p.pnm", 0},  {"p.psd", 0},
               {"p.sgi", 0},  {"p.xpm", 0}};
  for (const Case& c : cases) {
    // "BMP3:" makes convert write the version 3 header instead of version 5.
    const std::string name = c.name;
    const bool bmp3 = name.rfind("BMP3:", 0) == 0;
    // DevIL reads 8-bit SGI files only (convert writes 16 bits per channel by default).
    const std::string extra = name == "p.sgi" ? "-depth 8" : "";
    const fs::path file = pictest::RedBlue(dir, bmp3 ? name.substr(5) : name, 40, 30, bmp3 ? "BMP3:" : "", extra);
    const TPicture pic = LoadPicture(file.string(), TPictureUse::View);
    ASSERT_TRUE(pic.Status.Succeeded()) << c.name << ": " << pic.Status.Text();
    EXPECT_EQ(pic.Image.width(), 40) << c.name;
    EXPECT_EQ(pic.Image.height(), 30) << c.name;
    EXPECT_EQ(pic.Info.Width, 40) << c.name;
    EXPECT_EQ(pic.Info.Height, 30) << c.name;
    // Upright and not mirrored: red on the left, blue on the right, at the top and the bottom.
    for (int y : {0, 29}) {
      EXPECT_TRUE(Near(pic.Image, 2, y, 0xFF0000, c.tolerance)) << c.name << " y " << y << std::hex << " "
                                                                << pictest::Rgb(pic.Image, 2, y);
      EXPECT_TRUE(Near(pic.Image, 37, y, 0x0000FF, c.tolerance)) << c.name << " y " << y << std::hex << " "
                                                                 << pictest::Rgb(pic.Image, 37, y);
    }
  }
  // Greyscale and bilevel kinds.
  for (const char* name : {"g.pgm", "b.pbm"}) {
    const fs::path file = pictest::Plain(dir, name, 12, 7, "white");
    const TPicture pic = LoadPicture(file.string(), TPictureUse::Thumb);
    ASSERT_TRUE(pic.Status.Succeeded()) << name << ": " << pic.Status.Text();
    EXPECT_EQ(pic.Image.size(), QSize(12, 7)) << name;
    EXPECT_TRUE(Near(pic.Image, 5, 3, 0xFFFFFF, 0)) << name;
  }
}

TEST(PictureService, PictureUnderAnotherKindsExtensionIsDecodedByItsContent) {
  const fs::path dir = testenv::MakeTempDir("misnamed");
  const fs::path png = pictest::RedBlue(dir, "real.png", 20, 10);
  fs::copy_file(png, dir / "named.jpg");
  const TPicture pic = LoadPicture((dir / "named.jpg").string(), TPictureUse::Thumb);
  ASSERT_TRUE(pic.Status.Succeeded()) << pic.Status.Text();
  EXPECT_EQ(pic.Image.size(), QSize(20, 10));
}

TEST(PictureService, AnimatedGifGivesItsFirstFramePixelByPixel) {
  const fs::path dir = testenv::MakeTempDir("anim");
  // First frame: every pixel its own colour, written as a plain PPM; second frame all green.
  const int w = 7, h = 5;
  std::string ppm = "P3\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  std::vector<unsigned> expected;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const unsigned r = static_cast<unsigned>(x * 40), g = static_cast<unsigned>(y * 60), b = (x + y) % 2 ? 255u : 0u;
      expected.push_back(r << 16 | g << 8 | b);
      ppm += std::to_string(r) + " " + std::to_string(g) + " " + std::to_string(b) + "\n";
    }
  testenv::WriteFile(dir / "f0.ppm", ppm);
  pictest::Plain(dir, "f1.ppm", w, h, "lime");
  pictest::Convert("-delay 10 -loop 0 " + testenv::Quote((dir / "f0.ppm").string()) + " " +
                       testenv::Quote((dir / "f1.ppm").string()),
                   dir / "anim.gif");
  std::string frames;
  ASSERT_EQ(testenv::Run("identify " + testenv::Quote((dir / "anim.gif").string()), &frames), 0);
  ASSERT_EQ(testenv::SortedLines(frames).size(), 2u) << frames;

  const TPicture pic = LoadPicture((dir / "anim.gif").string(), TPictureUse::View);
  ASSERT_TRUE(pic.Status.Succeeded()) << pic.Status.Text();
  ASSERT_EQ(pic.Image.size(), QSize(w, h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      EXPECT_EQ(pictest::Rgb(pic.Image, x, y), expected[static_cast<size_t>(y * w + x)]) << x << "," << y;
      EXPECT_EQ(qAlpha(pic.Image.pixel(x, y)), 255) << x << "," << y;
    }
}

TEST(PictureService, InterlacedAndTransparentGif) {
  const fs::path dir = testenv::MakeTempDir("gif");
  const fs::path file = dir / "i.gif";
  pictest::Convert("-size 10x40 xc:red -size 10x40 xc:blue +append -interlace GIF", file);
  const TPicture pic = LoadPicture(file.string(), TPictureUse::Thumb);
  ASSERT_TRUE(pic.Status.Succeeded()) << pic.Status.Text();
  for (int y = 0; y < 40; ++y) {
    EXPECT_EQ(pictest::Rgb(pic.Image, 0, y), 0xFF0000u) << y;
    EXPECT_EQ(pictest::Rgb(pic.Image, 19, y), 0x0000FFu) << y;
  }
  const fs::path clear = dir / "t.gif";
  pictest::Convert("-size 4x4 xc:none -fill red -draw \"point 1,1\"", clear);
  const TPicture t = LoadPicture(clear.string(), TPictureUse::Thumb);
  ASSERT_TRUE(t.Status.Succeeded()) << t.Status.Text();
  EXPECT_EQ(qAlpha(t.Image.pixel(0, 0)), 0);
  EXPECT_EQ(t.Image.pixel(1, 1), qRgba(255, 0, 0, 255));
}

TEST(PictureService, BrokenFilesFailCleanly) {
  const fs::path dir = testenv::MakeTempDir("broken");
  for (const char* name : {"b.png", "b.jpg", "b.gif", "b.bmp", "b.tif"}) {
    const fs::path good = pictest::RedBlue(dir, std::string("good-") + name, 64, 48);
    const std::string bytes = testenv::ReadFile(good);
    struct Cut {
      const char* what;
      std::string bytes;
    } cuts[] = {
        {"empty", ""},
        {"8 bytes", bytes.substr(0, 8)},
        {"header only", bytes.substr(0, std::min<size_t>(bytes.size(), 40))},
        {"half", bytes.substr(0, bytes.size() / 2)},
        {"noise after the header", bytes.substr(0, 30) + testenv::RandomBytes(bytes.size() - 30, 7)},
        {"noise", testenv::RandomBytes(2000, 11)},
    };
    for (const Cut& c : cuts) {
      const fs::path file = dir / name;
      testenv::WriteFile(file, c.bytes);
      const TPicture pic = LoadPicture(file.string(), TPictureUse::Thumb);
      EXPECT_TRUE(pic.Status.Failed()) << name << " " << c.what;
      EXPECT_TRUE(pic.Image.isNull()) << name << " " << c.what;
      EXPECT_EQ(pic.Info.Height, -1) << name << " " << c.what;
      EXPECT_EQ(pic.Info.Width, -1) << name << " " << c.what;
      EXPECT_FALSE(pic.Status.Message().empty()) << name << " " << c.what;
    }
  }
}

TEST(PictureService, InfoOfAFileAndOfAMissingOne) {
  const fs::path dir = testenv::MakeTempDir("info");
  const fs::path file = pictest::Plain(dir, "photo.bmp", 800, 600, "#336699");
  const TPicture pic = LoadPicture(file.string(), TPictureUse::View);
  ASSERT_TRUE(pic.Status.Succeeded()) << pic.Status.Text();
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(pic.Info.Width, 800);
  EXPECT_EQ(pic.Info.Height, 600);
  EXPECT_EQ(pic.Info.FileName, "photo.bmp");
  EXPECT_EQ(pic.Info.FileSize, st.st_size);
  EXPECT_EQ(pic.Info.FileDate, st.st_mtime);
  EXPECT_TRUE(Near(pic.Image, 400, 300, 0x336699, 0));

  for (TPictureUse use : {TPictureUse::View, TPictureUse::Thumb}) {
    const TPicture missing = LoadPicture((dir / "gone.png").string(), use);
    EXPECT_EQ(missing.Status.Code(), TStatusCode::NotFound);
    EXPECT_EQ(missing.Info.Height, -1);
    EXPECT_EQ(missing.Info.FileSize, 0);
    EXPECT_EQ(missing.Info.FileDate, 0);
    // The viewer names the missing file; the thumbnail load leaves the name alone.
    EXPECT_EQ(missing.Info.FileName, use == TPictureUse::View ? "gone.png" : "");
    EXPECT_EQ(missing.ViewMessage, "Error : Could not open file");
  }
}

TEST(PictureService, ViewMessagesForUndecodableFiles) {
  const fs::path dir = testenv::MakeTempDir("msg");
  testenv::WriteFile(dir / "x.png", testenv::RandomBytes(500, 3));
  const TPicture pic = LoadPicture((dir / "x.png").string(), TPictureUse::View);
  EXPECT_TRUE(pic.Status.Failed());
  EXPECT_FALSE(pic.ViewMessage.empty());
}
