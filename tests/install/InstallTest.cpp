// The installed program: installed into a temporary prefix and run from there with no variable of its
// own set; its desktop entry, metadata, MIME package and manual pages checked with the desktop's tools.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>

#include "InstallTree.h"
#include "SampleArchives.h"
#include "TestEnv.h"

namespace fs = std::filesystem;
using testenv::Quote;

namespace {

// One installation for the whole file, below a DESTDIR with the prefix /usr.
class InstalledTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    stage_ = testenv::MakeTempDir("stage");
    installed_ = installtree::InstallInto(stage_, "/usr", &log_);
  }
  void SetUp() override { ASSERT_TRUE(installed_) << log_; }

  static fs::path Prefix() { return stage_ / "usr"; }
  static fs::path ProgramFolder() { return fs::canonical(Prefix() / "lib/tandorfile"); }
  static std::string Bin(const std::string& program) { return Quote((Prefix() / "bin" / program).string()); }

  // Runs `command` in `dir` with an empty environment but HOME (a fresh folder unless given), PATH and
  // `extra` ("NAME=value ..."); standard error is folded into `out`.
  static int RunClean(const fs::path& dir, const std::string& command, std::string* out = nullptr,
                      const std::string& extra = "", fs::path home = {}) {
    if (home.empty()) home = testenv::MakeTempDir("home");
    const std::string path = (Prefix() / "bin").string() + ":/usr/bin:/bin";
    return testenv::Run("cd " + Quote(dir.string()) + " && env -i HOME=" + Quote(home.string()) +
                            " PATH=" + Quote(path) + " " + extra + " " + command + " 2>&1 </dev/null",
                        out);
  }

  static inline fs::path stage_;
  static inline bool installed_ = false;
  static inline std::string log_;
};

TEST_F(InstalledTest, EveryFileIsInItsPlaceAndNothingElseInTheProgramFolder) {
  std::set<std::string> inProgramFolder;
  for (const std::string& f : installtree::ExpectedFiles()) {
    EXPECT_TRUE(fs::is_regular_file(Prefix() / f)) << f;
    if (f.rfind("lib/tandorfile/", 0) == 0) inProgramFolder.insert(f.substr(15));
  }
  for (const auto& e : fs::recursive_directory_iterator(Prefix() / "lib/tandorfile")) {
    if (e.is_directory()) continue;
    const std::string rel = fs::relative(e.path(), Prefix() / "lib/tandorfile").string();
    EXPECT_TRUE(inProgramFolder.count(rel)) << "unexpected file in the program folder: " << rel;
  }
  for (const auto& [link, target] : installtree::ExpectedLinks()) {
    const fs::path l = Prefix() / "bin" / link;
    ASSERT_TRUE(fs::is_symlink(l)) << link;
    EXPECT_EQ(fs::read_symlink(l).string(), target);
    EXPECT_TRUE(fs::is_regular_file(l)) << link << " leads nowhere";
  }
  for (const char* program : {"tandorfile", "tandor"}) {
    const auto perms = fs::status(Prefix() / "lib/tandorfile" / program).permissions();
    EXPECT_NE(perms & fs::perms::others_exec, fs::perms::none) << program;
  }
}

TEST_F(InstalledTest, ProgramsAndLibrariesCarryNoSearchPath) {
  for (const char* file : {"tandorfile", "tandor", "libzipeng.so", "libunzeng.so", "libunrar.so"}) {
    std::string dynamic;
    ASSERT_EQ(testenv::Run("readelf -d " + Quote((ProgramFolder() / file).string()), &dynamic), 0) << file;
    EXPECT_EQ(dynamic.find("RPATH"), std::string::npos) << file << "\n" << dynamic;
    EXPECT_EQ(dynamic.find("RUNPATH"), std::string::npos) << file << "\n" << dynamic;
  }
}

TEST_F(InstalledTest, IconsHaveTheSizeOfTheirFolder) {
  for (int size : installtree::IconSizes()) {
    const std::string s = std::to_string(size);
    const std::string png = testenv::ReadFile(Prefix() / ("share/icons/hicolor/" + s + "x" + s + "/apps/tandorfile.png"));
    ASSERT_GE(png.size(), 24u) << size;
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8)) << size;
    EXPECT_EQ(png.substr(12, 4), "IHDR") << size;
    const auto be32 = [&](size_t at) {
      return (uint32_t(uint8_t(png[at])) << 24) | (uint32_t(uint8_t(png[at + 1])) << 16) |
             (uint32_t(uint8_t(png[at + 2])) << 8) | uint32_t(uint8_t(png[at + 3]));
    };
    EXPECT_EQ(be32(16), uint32_t(size)) << "width";
    EXPECT_EQ(be32(20), uint32_t(size)) << "height";
  }
  const std::string svg = testenv::ReadFile(Prefix() / "share/icons/hicolor/scalable/apps/tandorfile.svg");
  EXPECT_NE(svg.find("<svg"), std::string::npos);
}

TEST_F(InstalledTest, EveryPlaceShowsTheVersionOfTheBuild) {
  const std::string v = installtree::ExpectedVersion();
  std::string out;
  const fs::path here = testenv::MakeTempDir("version");
  EXPECT_EQ(RunClean(here, Bin("tandor") + " --version", &out), 0);
  EXPECT_EQ(out, "tandor " + v + "\n");
  EXPECT_EQ(RunClean(here, Bin("tandorfile") + " --version", &out), 0);
  EXPECT_EQ(out, "tandorfile " + v + "\n");
  const struct {
    std::string text, expected;
  } places[] = {
      {testenv::ReadFile(Prefix() / "share/metainfo/org.example.tandorfile.metainfo.xml"),
       "<release version=\"" + v + "\""},
      {installtree::Gunzip(Prefix() / "share/man/man1/tandor.1.gz"), "\"Tandor File " + v + "\""},
      {installtree::Gunzip(Prefix() / "share/man/man1/tandorfile.1.gz"), "\"Tandor File " + v + "\""},
      {installtree::Gunzip(Prefix() / "share/doc/tandorfile/changelog.gz"), "tandorfile (" + v + ")"},
  };
  for (const auto& p : places) EXPECT_NE(p.text.find(p.expected), std::string::npos) << p.expected;
}

// The installed tandor makes, tests and extracts archives that the peer tools read back the same.
TEST_F(InstalledTest, CommandLineRoundTripsWithPeerTools) {
  const fs::path work = testenv::MakeTempDir("roundtrip");
  const fs::path src = testenv::MakeSampleTree(work);
  const struct {
    const char* archive;
    const char* peerExtract;  // {a} archive, {d} folder
  } cases[] = {
      {"tree.zip", "unzip -qq {a} -d {d}"},
      {"tree.tar.gz", "tar -xzf {a} -C {d}"},
      {"tree.run", "unzip -qq {a} -d {d}"},  // a self-extracting program: the installed stub in front
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.archive);
    std::string out;
    ASSERT_EQ(RunClean(work, Bin("tandor") + " a -r -q " + c.archive + " src", &out), 0) << out;
    EXPECT_EQ(RunClean(work, Bin("tandor") + " t -q " + c.archive, &out), 0) << out;
    const fs::path ours = work / (std::string(c.archive) + ".ours");
    ASSERT_EQ(RunClean(work, Bin("tandor") + " x -q " + c.archive + " -d " + Quote(ours.string()), &out), 0) << out;
    EXPECT_TRUE(testenv::SameTree(src, ours / "src"));
    const fs::path peer = testenv::MakeTempDir("peer");
    std::string cmd = std::regex_replace(c.peerExtract, std::regex("\\{a\\}"), Quote((work / c.archive).string()));
    cmd = std::regex_replace(cmd, std::regex("\\{d\\}"), Quote(peer.string()));
    ASSERT_EQ(testenv::Run(cmd), 0) << cmd;
    EXPECT_TRUE(testenv::SameTree(src, peer / "src"));
  }
  // The program extracts itself, with none of our libraries where it runs.
  {
    std::string out;
    const fs::path self = work / "tree.run.self";
    ASSERT_EQ(RunClean(work, "./tree.run -d " + Quote(self.string()), &out), 0) << out;
    EXPECT_TRUE(testenv::SameTree(src, self / "src"));
  }
  // A RAR archive (no RAR writer exists here): ours against libarchive's bsdtar.
  const fs::path rar = testenv::TestDataDir() / "rar" / "test_read_format_rar_binary_data.rar";
  ASSERT_TRUE(fs::exists(rar)) << rar;
  std::string out;
  EXPECT_EQ(RunClean(work, Bin("tandor") + " t -q " + Quote(rar.string()), &out), 0) << out;
  const fs::path ours = work / "rar.ours", peer = work / "rar.peer";
  ASSERT_EQ(RunClean(work, Bin("tandor") + " x -q " + Quote(rar.string()) + " -d " + Quote(ours.string()), &out), 0)
      << out;
  fs::create_directories(peer);
  ASSERT_EQ(testenv::Run("bsdtar -xf " + Quote(rar.string()) + " -C " + Quote(peer.string())), 0);
  EXPECT_FALSE(testenv::ListTree(peer).empty());
  EXPECT_EQ(testenv::ListTree(ours), testenv::ListTree(peer));
  EXPECT_TRUE(testenv::SameTree(ours, peer));
}

// The file manager's actions, run as their installed entries say, from another folder.
class FileManagerActionTest : public InstalledTest {
 protected:
  static std::string ActionCommand(const std::string& file, const std::string& action,
                                   const std::vector<fs::path>& files) {
    const fs::path entry = Prefix() / "share/kio/servicemenus" / file;
    const std::string exec = installtree::DesktopValue(entry, "Desktop Action " + action, "Exec");
    EXPECT_EQ(exec.find_first_of("\"'\\$`"), std::string::npos) << "plain words only: " << exec;
    std::string args;
    for (const fs::path& f : files) args.append(" ").append(Quote(f.string()));
    const size_t at = exec.find("%F");
    EXPECT_NE(at, std::string::npos) << exec;
    return at == std::string::npos ? exec : exec.substr(0, at) + args.substr(1) + exec.substr(at + 2);
  }
  static int Run(const std::string& file, const std::string& action, const std::vector<fs::path>& files,
                 std::string* out) {
    return RunClean(testenv::MakeTempDir("elsewhere"), ActionCommand(file, action, files), out);
  }
};

TEST_F(FileManagerActionTest, ExtractHereMakesANewFolderBesideEachArchive) {
  const fs::path work = testenv::MakeTempDir("extract");
  const fs::path src = testenv::MakeSampleTree(work);
  ASSERT_EQ(testenv::Run("cd " + Quote(src.string()) + " && zip -qr ../photos.zip . && tar -czf ../data.tar.gz ."), 0);
  std::string out;
  ASSERT_EQ(Run("tandorfile-extract.desktop", "ExtractHere", {work / "photos.zip", work / "data.tar.gz"}, &out), 0)
      << out;
  EXPECT_TRUE(testenv::SameTree(src, work / "photos"));
  EXPECT_TRUE(testenv::SameTree(src, work / "data"));
  // Again: nothing is replaced, the next free name is taken.
  ASSERT_EQ(Run("tandorfile-extract.desktop", "ExtractHere", {work / "photos.zip"}, &out), 0) << out;
  EXPECT_TRUE(testenv::SameTree(src, work / "photos (2)"));
  // A damaged archive fails and leaves no empty folder behind.
  testenv::WriteFile(work / "broken.zip", "PK\x03\x04 this is not a zip archive");
  EXPECT_NE(Run("tandorfile-extract.desktop", "ExtractHere", {work / "broken.zip"}, &out), 0) << out;
  EXPECT_FALSE(fs::exists(work / "broken"));
}

TEST_F(FileManagerActionTest, CompressMakesANewZipBesideTheFiles) {
  const fs::path work = testenv::MakeTempDir("compress");
  const fs::path docs = work / "docs";
  testenv::WriteFile(docs / "report.txt", testenv::RandomBytes(5000, 3, true));
  testenv::WriteFile(docs / "notes.md", "notes\n");
  testenv::WriteFile(docs / "pictures/p.bin", testenv::RandomBytes(4000, 4));
  const struct {
    std::vector<fs::path> files;
    fs::path zip;
    std::vector<std::string> entries;  // sorted, as zipinfo -1 lists them
  } cases[] = {
      {{docs / "report.txt"}, docs / "report.zip", {"report.txt"}},
      {{docs / "report.txt"}, docs / "report (2).zip", {"report.txt"}},
      {{docs / "pictures"}, docs / "pictures.zip", {"pictures/", "pictures/p.bin"}},
      {{docs / "report.txt", docs / "notes.md"}, docs / "docs.zip", {"notes.md", "report.txt"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.zip.string());
    const std::string before = fs::exists(docs / "report.zip") ? testenv::ReadFile(docs / "report.zip") : "";
    std::string out;
    ASSERT_EQ(Run("tandorfile-compress.desktop", "Compress", c.files, &out), 0) << out;
    ASSERT_TRUE(fs::exists(c.zip));
    if (!before.empty()) {
      EXPECT_EQ(testenv::ReadFile(docs / "report.zip"), before) << "an existing zip is kept";
    }
    std::string listing;
    ASSERT_EQ(testenv::Run("zipinfo -1 " + Quote(c.zip.string()), &listing), 0);
    EXPECT_EQ(testenv::SortedLines(listing), c.entries);
    EXPECT_EQ(testenv::Run("unzip -tqq " + Quote(c.zip.string())), 0);
  }
}

TEST_F(InstalledTest, WindowStartsLoadsBothEnginesAndKeepsItsDataInTheXdgFolders) {
  const fs::path home = testenv::MakeTempDir("home");
  const fs::path runtime = testenv::MakeTempDir("runtime");
  fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
  const auto before = testenv::ListTree(ProgramFolder());
  const std::string env = "QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=" + Quote(runtime.string());
  const std::regex painted("^painted [0-9]+ (.*)$");
  for (const bool cold : {true, false}) {
    SCOPED_TRACE(cold ? "cold settings" : "warm settings");
    std::string out;
    ASSERT_EQ(RunClean(home, Bin("tandorfile") + " --start-check", &out, env, home), 0) << out;
    EXPECT_NE(out.find("zip engine: " + (ProgramFolder() / "libzipeng.so").string() + "\n"), std::string::npos) << out;
    EXPECT_NE(out.find("unzip engine: " + (ProgramFolder() / "libunzeng.so").string() + "\n"), std::string::npos)
        << out;
    std::vector<std::string> windows;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
      std::smatch m;
      if (std::regex_match(line, m, painted)) windows.push_back(m[1]);
    }
    ASSERT_FALSE(windows.empty()) << out;
    EXPECT_EQ(windows.back(), "Tandor") << "the main window paints last";
    if (cold) {
      EXPECT_GE(windows.size(), 2u) << "the first run shows its window first:\n" << out;
    } else {
      EXPECT_EQ(windows.size(), 1u) << "the settings were kept:\n" << out;
    }
    EXPECT_TRUE(fs::is_regular_file(home / ".config/tandorfile/config"));
    EXPECT_TRUE(fs::is_directory(home / ".cache/tandorfile")) << "the temporary folders live there";
    EXPECT_EQ(testenv::ListTree(ProgramFolder()), before) << "the program folder stays as installed";
  }
}

TEST_F(InstalledTest, DesktopEntryValidatesAndNamesWhatIsInstalled) {
  const fs::path entry = Prefix() / "share/applications/tandorfile.desktop";
  std::string out;
  EXPECT_EQ(testenv::Run("desktop-file-validate " + Quote(entry.string()) + " 2>&1", &out), 0) << out;
  EXPECT_EQ(out, "");
  const std::string exec = installtree::DesktopValue(entry, "Desktop Entry", "Exec");
  EXPECT_TRUE(fs::exists(Prefix() / "bin" / exec.substr(0, exec.find(' ')))) << exec;
  const std::string icon = installtree::DesktopValue(entry, "Desktop Entry", "Icon");
  EXPECT_TRUE(fs::exists(Prefix() / ("share/icons/hicolor/scalable/apps/" + icon + ".svg"))) << icon;
  const std::string types = installtree::DesktopValue(entry, "Desktop Entry", "MimeType");
  for (const char* t : {"application/zip;", "application/vnd.rar;", "application/x-tar;", "application/gzip;",
                        "application/x-compressed-tar;", "application/x-tandor-sfx;"})
    EXPECT_NE(types.find(t), std::string::npos) << t;
  // The file-manager actions (KDE service menus: a format of their own that desktop-file-validate
  // does not know): every action named is defined and starts an installed program.
  for (const char* menu : {"tandorfile-extract.desktop", "tandorfile-compress.desktop"}) {
    const fs::path file = Prefix() / "share/kio/servicemenus" / menu;
    EXPECT_EQ(installtree::DesktopValue(file, "Desktop Entry", "X-KDE-ServiceTypes"), "KonqPopupMenu/Plugin");
    EXPECT_FALSE(installtree::DesktopValue(file, "Desktop Entry", "MimeType").empty()) << menu;
    std::string actions = installtree::DesktopValue(file, "Desktop Entry", "Actions");
    ASSERT_FALSE(actions.empty()) << menu;
    for (size_t start = 0, end; (end = actions.find(';', start)) != std::string::npos; start = end + 1) {
      const std::string group = "Desktop Action " + actions.substr(start, end - start);
      EXPECT_FALSE(installtree::DesktopValue(file, group, "Name").empty()) << group;
      const std::string actionExec = installtree::DesktopValue(file, group, "Exec");
      EXPECT_TRUE(fs::exists(Prefix() / "bin" / actionExec.substr(0, actionExec.find(' ')))) << actionExec;
    }
  }
}

TEST_F(InstalledTest, AppStreamMetadataValidates) {
  std::string out;
  EXPECT_EQ(testenv::Run("appstreamcli validate-tree --no-net --strict " + Quote(stage_.string()) + " 2>&1", &out), 0)
      << out;
}

TEST_F(InstalledTest, MimePackageTeachesTheSelfExtractingPrograms) {
  const fs::path share = testenv::MakeTempDir("share");
  const fs::path mime = share / "mime";
  fs::copy(Prefix() / "share/mime", mime, fs::copy_options::recursive);
  std::string out;
  ASSERT_EQ(testenv::Run("XDG_DATA_DIRS=" + Quote(share.string()) + " update-mime-database " + Quote(mime.string()) +
                             " 2>&1",
                         &out),
            0)
      << out;
  EXPECT_EQ(out, "");
  EXPECT_TRUE(fs::exists(mime / "application/x-tandor-sfx.xml"));
  EXPECT_NE(testenv::ReadFile(mime / "globs2").find(":application/x-tandor-sfx:*.run"), std::string::npos);
}

// The commands, options and exit statuses a program's --help names: words such as "-d", "--here", and
// the single letters of the commands.
std::set<std::string> HelpWords(const std::string& help, std::set<std::string>* statuses) {
  std::set<std::string> words;
  std::istringstream lines(help);
  const std::regex option(R"(^\s+(-[-A-Za-z0-9]+)(?:,?\s+(-[-A-Za-z0-9]+))?)"), command(R"(^  ([a-z])   \S)");
  const std::regex status(R"((?:^|[:;] )([0-9]) )");
  bool inStatus = false;
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if (std::regex_search(line, m, option)) {
      words.insert(m[1]);
      if (m[2].matched) words.insert(m[2]);
    } else if (std::regex_search(line, m, command)) {
      words.insert(m[1]);
    }
    if (line.rfind("Exit status", 0) == 0) inStatus = true;
    if (inStatus)
      for (std::sregex_iterator it(line.begin(), line.end(), status), end; it != end; ++it)
        statuses->insert((*it)[1]);
  }
  return words;
}

TEST_F(InstalledTest, ManualPagesRenderWithoutWarningsAndCoverEveryCommandOptionAndStatus) {
  for (const char* program : {"tandor", "tandorfile"}) {
    SCOPED_TRACE(program);
    const fs::path gz = Prefix() / "share/man/man1" / (std::string(program) + ".1.gz");
    const fs::path page = testenv::MakeTempDir("man") / (std::string(program) + ".1");
    testenv::WriteFile(page, installtree::Gunzip(gz));
    std::string warnings;
    EXPECT_EQ(testenv::Run("groff -man -ww -z " + Quote(page.string()) + " 2>&1", &warnings), 0);
    EXPECT_EQ(warnings, "");
    std::string rendered;
    EXPECT_EQ(testenv::Run("MANWIDTH=80 man --warnings -l " + Quote(gz.string()) + " 2>&1 >/dev/null", &warnings), 0);
    EXPECT_EQ(warnings, "");
    ASSERT_EQ(testenv::Run("groff -man -Tascii -P-cbou " + Quote(page.string()) + " 2>/dev/null", &rendered), 0);
    std::string help;
    ASSERT_EQ(RunClean(testenv::MakeTempDir("help"), Bin(program) + " --help", &help), 0);
    std::set<std::string> statuses;
    const std::set<std::string> words = HelpWords(help, &statuses);
    EXPECT_GE(words.size(), 3u) << help;
    for (const std::string& w : words) {
      const std::regex asWord("(^|[\\s,|(])" + std::regex_replace(w, std::regex("-"), "\\-") + "([\\s,|.)]|$)");
      EXPECT_TRUE(std::regex_search(rendered, asWord)) << "the manual page lacks " << w;
    }
    const size_t exitSection = rendered.find("EXIT STATUS");
    ASSERT_NE(exitSection, std::string::npos);
    const std::string exitText = rendered.substr(exitSection, rendered.find("\n\n\n", exitSection) - exitSection);
    for (const std::string& s : statuses)
      EXPECT_TRUE(std::regex_search(exitText, std::regex("\n +" + s + "\\b"))) << "exit status " << s;
  }
}

TEST_F(InstalledTest, HelpPagesLinkOnlyToPagesThatExist) {
  const fs::path help = Prefix() / "lib/tandorfile/help";
  const std::regex link("href=\"([^\"#:]+)\"");
  size_t pages = 0;
  for (const auto& e : fs::directory_iterator(help)) {
    if (e.path().extension() != ".html") continue;
    ++pages;
    const std::string html = testenv::ReadFile(e.path());
    EXPECT_NE(html.find("<h1>"), std::string::npos) << e.path();
    for (std::sregex_iterator it(html.begin(), html.end(), link), end; it != end; ++it)
      EXPECT_TRUE(fs::exists(help / (*it)[1].str())) << e.path().filename() << " links to " << (*it)[1];
  }
  EXPECT_GE(pages, 6u);
}

}  // namespace
