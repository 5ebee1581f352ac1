#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "TestEnv.h"
#include "core/Settings.h"
#include "core/TextUtil.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> FileLines(const fs::path& p) {
  std::string s = testenv::ReadFile(p);
  std::vector<std::string> out;
  size_t start = 0;
  while (start < s.size()) {
    size_t end = s.find("\r\n", start);
    EXPECT_NE(end, std::string::npos) << "every line ends in CR LF";
    if (end == std::string::npos) break;
    out.push_back(s.substr(start, end - start));
    start = end + 2;
  }
  return out;
}

TSettings Fresh(const fs::path& dir) {
  TSettings s;
  s.ConfigFile = (dir / "config").string();
  s.SetDefaultSettings();
  s.ClearSettingStrings();
  return s;
}

}  // namespace

TEST(Settings, FirstRunWritesTheDefaultLines) {
  const fs::path dir = testenv::MakeTempDir();
  TSettings s = Fresh(dir);
  EXPECT_FALSE(s.LoadSettings());
  s.UnzipOverwrite = true;  // changed in the first-run window: the defaults win
  s.ArchiveOpenFolder = dir.string();
  ASSERT_TRUE(s.WriteDefaultSettings());
  const auto lines = FileLines(dir / "config");
  ASSERT_EQ(lines.size(), 61u);
  const std::string expected =
      "TFFFFTTFTFFFFFFFTFFFFFF0FFFTTFTFFFFFFFF1TTFFFTTTT64FFFFTTF38474TFF";
  std::string joined;
  for (const auto& l : lines) joined += l;
  EXPECT_EQ(joined, expected);
  EXPECT_EQ(lines[49], "64");
  EXPECT_EQ(lines[55], "T");
  EXPECT_EQ(lines[57], "38474");
  EXPECT_FALSE(s.UnzipOverwrite);
  EXPECT_TRUE(s.ArchiveOpenFolder.empty());
}

TEST(Settings, ShortFileTakesMissingValues) {
  const fs::path dir = testenv::MakeTempDir();
  testenv::WriteFile(dir / "config", "T\nT\r\nF\nF\n");
  TSettings s = Fresh(dir);
  s.DefaultArchiveType = 3;
  s.TarAttributes = false;
  ASSERT_TRUE(s.LoadSettings());
  EXPECT_TRUE(s.UnzipFolders);
  EXPECT_TRUE(s.UnzipOverwrite);
  EXPECT_FALSE(s.UnzipUpdateFiles);
  EXPECT_FALSE(s.UnzipFreshenFiles);
  EXPECT_TRUE(s.TarAttributes);
  EXPECT_EQ(s.DefaultArchiveType, 0);
  EXPECT_EQ(s.ThumbSize, 64);
  EXPECT_TRUE(s.UpdateCheckEnabled);
  EXPECT_FALSE(s.AutoThumbnails);
  EXPECT_EQ(s.UpdateCheckDate, std::to_string(TodayDayNumber()));
  EXPECT_TRUE(s.Reserved17);
  EXPECT_TRUE(s.Reserved31);
}

TEST(Settings, BadAndRangedValues) {
  const fs::path dir = testenv::MakeTempDir();
  TSettings s = Fresh(dir);
  s.WriteDefaultSettings();
  const auto base = FileLines(dir / "config");
  const auto withLine = [&](int line, const std::string& value) {
    auto lines = base;
    lines[line - 1] = value;
    std::string text;
    for (auto& l : lines) text += l + "\n";  // bare LF is accepted
    testenv::WriteFile(dir / "config", text);
    TSettings t = Fresh(dir);
    EXPECT_TRUE(t.LoadSettings());
    return t;
  };
  EXPECT_EQ(withLine(50, "8").ThumbSize, 16);
  EXPECT_EQ(withLine(50, "15").ThumbSize, 16);
  EXPECT_EQ(withLine(50, "300").ThumbSize, 64);
  EXPECT_EQ(withLine(50, "abc").ThumbSize, 64);
  EXPECT_EQ(withLine(50, "256").ThumbSize, 256);
  EXPECT_EQ(withLine(50, "99999999999999999999").ThumbSize, 64);
  EXPECT_EQ(withLine(40, "5").DefaultArchiveType, 0);
  EXPECT_EQ(withLine(40, "4").DefaultArchiveType, 4);
  EXPECT_EQ(withLine(40, "04").DefaultArchiveType, 0);
  EXPECT_EQ(withLine(24, "4").Reserved24, 0);
  EXPECT_EQ(withLine(24, "3").Reserved24, 3);
  EXPECT_EQ(withLine(58, "12a").UpdateCheckDate, std::to_string(TodayDayNumber()));
  EXPECT_EQ(withLine(58, "").UpdateCheckDate, std::to_string(TodayDayNumber()));
  EXPECT_FALSE(withLine(1, "t").UnzipFolders);
  EXPECT_FALSE(withLine(1, "TRUE").UnzipFolders);
  EXPECT_TRUE(withLine(2, "T").UnzipOverwrite);
  // Reserved lines are read as false whatever they hold.
  EXPECT_FALSE(withLine(5, "T").SaveUnzipDefault);
  EXPECT_FALSE(withLine(34, "T").Reserved34);
}

TEST(Settings, FoldersAndFilesMustExist) {
  const fs::path dir = testenv::MakeTempDir();
  const fs::path kept = dir / "kept", gone = dir / "gone";
  fs::create_directories(kept);
  fs::create_directories(gone);
  testenv::WriteFile(dir / "icon.ico", "x");
  TSettings s = Fresh(dir);
  s.ArchiveOpenFolder = kept.string();
  s.ArchiveSaveFolder = gone.string();
  s.SfxIconFolder = (kept / "anything.ico").string();
  s.SfxIconFile = (dir / "icon.ico").string();
  s.BrowseFolder = (dir / "icon.ico").string();  // a file, not a folder
  ASSERT_TRUE(s.SaveSettings());
  fs::remove(gone);
  TSettings t = Fresh(dir);
  ASSERT_TRUE(t.LoadSettings());
  EXPECT_EQ(t.ArchiveOpenFolder, kept.string());
  EXPECT_EQ(t.ArchiveSaveFolder, "");
  EXPECT_EQ(t.SfxIconFolder, (kept / "anything.ico").string());
  EXPECT_EQ(t.SfxIconFile, (dir / "icon.ico").string());
  EXPECT_EQ(t.BrowseFolder, "");
  ASSERT_TRUE(t.SaveSettings());
  EXPECT_EQ(FileLines(dir / "config")[21], "F");
}

TEST(Settings, RoundTripAndConstants) {
  const fs::path dir = testenv::MakeTempDir();
  TSettings s = Fresh(dir);
  s.UnzipOverwrite = true;
  s.ThumbSize = 192;
  s.DefaultArchiveType = 2;
  s.PrevZipProgId = std::string(300, 'p');
  s.PrevRarName = "F";  // the single letter F cannot be stored
  s.SaveUnzipDefault = s.SaveZipDefault = s.Reserved18 = s.Reserved34 = true;
  s.Reserved17 = false;
  s.QueueEnabled = false;
  s.UpdateCheckDate = "45000";
  s.BatchAllArchiveTypes = true;
  ASSERT_TRUE(s.SaveSettings());
  const auto lines = FileLines(dir / "config");
  ASSERT_EQ(lines.size(), 61u);
  EXPECT_EQ(lines[60], "T");
  EXPECT_EQ(lines[4], "F");
  EXPECT_EQ(lines[15], "F");
  EXPECT_EQ(lines[16], "T");
  EXPECT_EQ(lines[17], "F");
  EXPECT_EQ(lines[33], "F");
  TSettings t = Fresh(dir);
  ASSERT_TRUE(t.LoadSettings());
  EXPECT_TRUE(t.UnzipOverwrite);
  EXPECT_EQ(t.ThumbSize, 192);
  EXPECT_EQ(t.DefaultArchiveType, 2);
  EXPECT_EQ(t.PrevZipProgId, std::string(255, 'p'));
  EXPECT_EQ(t.PrevRarName, "");
  EXPECT_FALSE(t.QueueEnabled);
  EXPECT_EQ(t.UpdateCheckDate, "45000");
  EXPECT_TRUE(t.BatchAllArchiveTypes);
  // A file of the 60 record lines only: the batch page's "All archive types" is off.
  std::string sixty;
  for (size_t i = 0; i < 60; ++i) sixty += lines[i] + "\r\n";
  testenv::WriteFile(dir / "config", sixty);
  TSettings old = Fresh(dir);
  ASSERT_TRUE(old.LoadSettings());
  EXPECT_FALSE(old.BatchAllArchiveTypes);
  EXPECT_EQ(old.UpdateCheckDate, "45000");
  ASSERT_TRUE(t.SaveSettings());
  // Lines beyond 61 are ignored.
  testenv::WriteFile(dir / "config", testenv::ReadFile(dir / "config") + "junk\r\nmore\r\n");
  TSettings u = Fresh(dir);
  ASSERT_TRUE(u.LoadSettings());
  EXPECT_EQ(u.Serialize(), t.Serialize());
}

TEST(Settings, ClampUpdateCheckDate) {
  const fs::path dir = testenv::MakeTempDir();
  TSettings s = Fresh(dir);
  s.UpdateCheckDate = "100";
  s.ClampUpdateCheckDate();
  EXPECT_EQ(s.UpdateCheckDate, "38474");
  EXPECT_EQ(FileLines(dir / "config")[57], "38474");
  s.UpdateCheckDate = std::to_string(TodayDayNumber() + 10);
  s.ClampUpdateCheckDate();
  EXPECT_EQ(s.UpdateCheckDate, std::to_string(TodayDayNumber()));
  s.UpdateCheckDate = "123456789012345678901234567890";
  s.ClampUpdateCheckDate();
  EXPECT_EQ(s.UpdateCheckDate, std::to_string(TodayDayNumber()));
  fs::remove(dir / "config");
  s.UpdateCheckDate = "40000";
  s.ClampUpdateCheckDate();
  EXPECT_EQ(s.UpdateCheckDate, "40000");
  EXPECT_FALSE(fs::exists(dir / "config")) << "an unchanged date does not write the file";
}

TEST(Settings, UnwritableFolderFailsCleanly) {
  const fs::path dir = testenv::MakeTempDir();
  TSettings s = Fresh(dir / "missing" / "deeper");
  EXPECT_FALSE(s.SaveSettings());
  EXPECT_NE(s.LastError.find("CANNOT WRITE THE SETTINGS FILE"), std::string::npos);
  EXPECT_TRUE(testenv::ListTree(dir).empty()) << "no half file is left";
  // A config that is a folder cannot be read: reported, not a crash.
  fs::create_directories(dir / "cfgdir" / "config");
  TSettings t = Fresh(dir / "cfgdir");
  EXPECT_FALSE(t.LoadSettings());
  EXPECT_FALSE(t.LastError.empty());
}

TEST(Settings, UnreadableFileIsNeverWritten) {
  struct Case {
    const char* what;
    std::function<void(const fs::path&)> make;
  };
  const std::vector<Case> cases{
      {"pipe", [](const fs::path& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); }},
      {"link loop", [](const fs::path& p) { fs::create_symlink(p.filename(), p); }},
      {"folder", [](const fs::path& p) { fs::create_directories(p / "inside"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path dir = testenv::MakeTempDir();
    c.make(dir / "config");
    const auto before = fs::symlink_status(dir / "config").type();
    TSettings s = Fresh(dir);
    EXPECT_FALSE(s.LoadSettings());  // returns at once, even for a pipe nobody writes to
    EXPECT_NE(s.LastError.find("CANNOT READ THE SETTINGS FILE"), std::string::npos);
    s.UpdateCheckDate = "1";
    s.ClampUpdateCheckDate();
    s.QueueEnabled = !s.QueueEnabled;
    EXPECT_TRUE(s.SaveSettings());
    EXPECT_TRUE(s.LastError.empty());
    EXPECT_EQ(fs::symlink_status(dir / "config").type(), before);
    EXPECT_EQ(testenv::ListTree(dir).size(), c.what == std::string("folder") ? 2u : 1u) << "no file beside it";
  }
  // Once a later load reads the file, saving writes again.
  const fs::path dir = testenv::MakeTempDir();
  mkfifo((dir / "config").c_str(), 0600);
  TSettings s = Fresh(dir);
  EXPECT_FALSE(s.LoadSettings());
  fs::remove(dir / "config");
  EXPECT_TRUE(Fresh(dir).WriteDefaultSettings());
  EXPECT_TRUE(s.LoadSettings());
  EXPECT_TRUE(s.SaveSettings());
  EXPECT_EQ(testenv::ReadFile(dir / "config"), s.Serialize());
}

TEST(Settings, ArchiveExtensions) {
  for (const char* e : {".zip", ".ZIP", ".gz", ".Tar", ".rar", ".tgz", ".run"}) EXPECT_TRUE(IsArchiveExtension(e)) << e;
  for (const char* e : {"zip", ".tar.gz", ".7z", "", ".zipx", ".exe"}) EXPECT_FALSE(IsArchiveExtension(e)) << e;
}
