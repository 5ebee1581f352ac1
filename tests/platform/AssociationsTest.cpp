// Default handlers in mimeapps.list, the program's desktop entry and MIME package, the viewer look-up.
#include <gtest/gtest.h>

#include <algorithm>
#include <unistd.h>
#include <filesystem>
#include <string>
#include <vector>

#include "TestEnv.h"
#include "XdgHome.h"
#include "platform/Associations.h"
#include "platform/DesktopFiles.h"

namespace fs = std::filesystem;

namespace {

struct EditCase {
  const char* name;
  std::string before;
  std::string value;     // set for application/zip
  std::string expected;  // the text with it set
  std::string back = {};  // the text after giving the type back, when not `before`
};

}  // namespace

TEST(Mimeapps, SettingAndRemovingKeepsEveryOtherLine) {
  const std::string group = "[Default Applications]\n";
  const std::vector<EditCase> cases = {
      {"no file", "", "tandorfile.desktop", group + "application/zip=tandorfile.desktop\n"},
      {"other groups only", "[Added Associations]\ntext/plain=gedit.desktop;\n", "tandorfile.desktop",
       "[Added Associations]\ntext/plain=gedit.desktop;\n\n" + group + "application/zip=tandorfile.desktop\n"},
      {"no line break at the end", "[Added Associations]\ntext/plain=a.desktop;", "t.desktop",
       "[Added Associations]\ntext/plain=a.desktop;\n\n" + group + "application/zip=t.desktop\n",
       "[Added Associations]\ntext/plain=a.desktop;\n"},  // the line break stays
      {"the group with other types, then another group",
       group + "text/plain=a.desktop\n\n[Removed Associations]\nimage/png=b.desktop;\n", "t.desktop",
       group + "text/plain=a.desktop\napplication/zip=t.desktop\n\n[Removed Associations]\nimage/png=b.desktop;\n"},
      {"an owner written with blanks around =", group + "application/zip = ark.desktop;roller.desktop;\n",
       "t.desktop", group + "application/zip = t.desktop\n"},
      {"unknown groups, keys and comments",
       "# mine\n[X-My Group]\nodd key without value\nZ=1\n" + group + "# keep\napplication/zip=ark.desktop\nx/y=q\n",
       "t.desktop", "# mine\n[X-My Group]\nodd key without value\nZ=1\n" + group + "# keep\napplication/zip=t.desktop\nx/y=q\n"},
      {"CR LF lines", "[Default Applications]\r\ntext/plain=a.desktop\r\n", "t.desktop",
       "[Default Applications]\r\ntext/plain=a.desktop\r\napplication/zip=t.desktop\r\n"},
      {"a key of the same type in another group only", "[Added Associations]\napplication/zip=ark.desktop;\n",
       "t.desktop", "[Added Associations]\napplication/zip=ark.desktop;\n\n" + group + "application/zip=t.desktop\n"},
  };
  for (const EditCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string previous = MimeappsDefault(c.before, "application/zip");
    const std::string set = MimeappsWithDefault(c.before, "application/zip", c.value);
    EXPECT_EQ(set, c.expected);
    EXPECT_EQ(MimeappsDefault(set, "application/zip"), c.value);
    // Giving the type back: the previous value, or no key when there was none.
    EXPECT_EQ(MimeappsWithDefault(set, "application/zip", previous), c.back.empty() ? c.before : c.back);
  }
}

TEST(Mimeapps, ValuesAreReadFromTheDefaultGroupOnly) {
  const std::string text =
      "[Added Associations]\napplication/zip=added.desktop;\n[Default Applications]\napplication/zip= "
      "ark.desktop;other.desktop;\r\napplication/gzip=\n";
  EXPECT_EQ(MimeappsDefault(text, "application/zip"), "ark.desktop;other.desktop;");
  EXPECT_EQ(MimeappsDefault(text, "application/gzip"), "");
  EXPECT_EQ(MimeappsDefault(text, "application/x-tar"), "");
  EXPECT_EQ(MimeappsWithDefault(text, "application/x-tar", ""), text) << "removing a missing key changes nothing";
}

TEST(Associations, RoundTripLeavesTheTreeAsItWasWithTheUsersNewLine) {
  struct Start {
    const char* name;
    bool file;
    std::string text;
  };
  const std::vector<Start> starts = {
      {"no mimeapps.list", false, ""},
      {"a list of the user's own",
       true, "[Added Associations]\ntext/plain=gedit.desktop;\n\n[Default Applications]\napplication/zip=ark.desktop;\n"
             "application/x-tar = roller.desktop\n# a comment\n"},
  };
  for (const Start& s : starts) {
    SCOPED_TRACE(s.name);
    TXdgHome xdg;
    xdg.InstallApp("ark.desktop", "Ark", "application/zip;");
    ASSERT_TRUE(InstallProgramClass("/opt/tandor/tandorfile").IsOk());
    if (s.file) testenv::WriteFile(xdg.config / "mimeapps.list", s.text);
    const std::vector<std::string> tree = testenv::ListTree(xdg.home);

    std::vector<std::string> saved;
    for (const TAssociationType& t : kAssociationTypes) {
      saved.push_back(UserDefaultHandler(t.MimeType));
      ASSERT_TRUE(SetUserDefaultHandler(t.MimeType, kProgramDesktopId).IsOk());
      EXPECT_EQ(CurrentDefaultHandler(t.MimeType), kProgramDesktopId);
    }
    EXPECT_EQ(HandlerDescription(kProgramDesktopId), "Tandor File");
    // The user adds a line meanwhile.
    std::string text = testenv::ReadFile(xdg.config / "mimeapps.list");
    const size_t added = text.find("[Added Associations]\n");
    if (added != std::string::npos)
      text.insert(added + 21, "image/png=eog.desktop;\n");
    else
      text = "[Added Associations]\nimage/png=eog.desktop;\n" + text;
    testenv::WriteFile(xdg.config / "mimeapps.list", text);

    for (int i = 0; i < kAssociationTypeCount; ++i)
      ASSERT_TRUE(SetUserDefaultHandler(kAssociationTypes[i].MimeType, saved[i]).IsOk());
    std::vector<std::string> expectedTree = tree;
    if (!s.file) {
      expectedTree.push_back(".config/mimeapps.list");  // holds the user's new line
      std::sort(expectedTree.begin(), expectedTree.end());
    }
    EXPECT_EQ(testenv::ListTree(xdg.home), expectedTree);
    std::string expected = s.text;
    const size_t at = expected.find("[Added Associations]\n");
    expected = at != std::string::npos ? expected.insert(at + 21, "image/png=eog.desktop;\n")
                                       : "[Added Associations]\nimage/png=eog.desktop;\n";
    EXPECT_EQ(testenv::ReadFile(xdg.config / "mimeapps.list"), expected);
    EXPECT_EQ(CurrentDefaultHandler("application/zip"), s.file ? "ark.desktop" : "");
  }
}

TEST(Associations, TheLastTypeGivenBackTakesTheFileWeMade) {
  TXdgHome xdg;
  const std::vector<std::string> tree = testenv::ListTree(xdg.home);
  for (const TAssociationType& t : kAssociationTypes) ASSERT_TRUE(SetUserDefaultHandler(t.MimeType, kProgramDesktopId).IsOk());
  for (const TAssociationType& t : kAssociationTypes) ASSERT_TRUE(SetUserDefaultHandler(t.MimeType, "").IsOk());
  EXPECT_EQ(testenv::ListTree(xdg.home), tree);
}

TEST(Associations, ALinkedListIsWrittenThroughAndStaysALink) {
  TXdgHome xdg;
  const fs::path dotfiles = testenv::MakeTempDir("dotfiles");
  testenv::WriteFile(dotfiles / "mimeapps.list", "[Default Applications]\ntext/plain=a.desktop\n");
  fs::permissions(dotfiles / "mimeapps.list", fs::perms(0600));
  fs::create_symlink(dotfiles / "mimeapps.list", xdg.config / "mimeapps.list");
  ASSERT_TRUE(SetUserDefaultHandler("application/zip", kProgramDesktopId).IsOk());
  EXPECT_TRUE(fs::is_symlink(xdg.config / "mimeapps.list"));
  EXPECT_EQ(testenv::ReadFile(dotfiles / "mimeapps.list"),
            "[Default Applications]\ntext/plain=a.desktop\napplication/zip=tandorfile.desktop\n");
  EXPECT_EQ(fs::status(dotfiles / "mimeapps.list").permissions(), fs::perms(0600)) << "the mode is kept";
  EXPECT_EQ(testenv::ListTree(dotfiles), std::vector<std::string>{"mimeapps.list"}) << "no temporary file left";
}

TEST(Associations, AReadOnlyConfigFolderFailsAndLosesNothing) {
  TXdgHome xdg;
  const std::string text = "[Default Applications]\napplication/zip=ark.desktop;\n";
  testenv::WriteFile(xdg.config / "mimeapps.list", text);
  ASSERT_TRUE(MakeUnwritable(xdg.config, true)) << "this system lets no folder be made read-only";
  const TStatus s = SetUserDefaultHandler("application/zip", kProgramDesktopId);
  MakeUnwritable(xdg.config, false);
  EXPECT_TRUE(s.Failed());
  EXPECT_NE(s.Message().find("mimeapps.list"), std::string::npos) << s.Message();
  EXPECT_EQ(testenv::ReadFile(xdg.config / "mimeapps.list"), text);
  EXPECT_EQ(testenv::ListTree(xdg.config), std::vector<std::string>{"mimeapps.list"});
}

TEST(Associations, DefaultsOfTheSystemAndDescriptions) {
  TXdgHome xdg;
  xdg.InstallApp("ark.desktop", "Ark", "application/zip;");
  fs::create_directories(xdg.system / "applications/kde");
  testenv::WriteFile(xdg.system / "applications/kde/roller.desktop", "[Desktop Entry]\nType=Application\nName=Roller\nExec=r\n");
  testenv::WriteFile(xdg.system / "applications/mimeapps.list",
                     "[Default Applications]\napplication/zip=ark.desktop;\napplication/x-tar=kde-roller.desktop\n"
                     "application/gzip=missing.desktop;ark.desktop\n");
  testenv::WriteFile(xdg.config / "mimeapps.list", "[Default Applications]\napplication/x-tar=ark.desktop\n");
  struct Row {
    const char* mime;
    const char* handler;
    const char* description;
  };
  for (const Row& r : std::vector<Row>{{"application/zip", "ark.desktop", "Ark"},
                                       {"application/x-tar", "ark.desktop", "Ark"},
                                       {"application/gzip", "missing.desktop", ""},
                                       {"application/vnd.rar", "", ""}}) {
    SCOPED_TRACE(r.mime);
    EXPECT_EQ(CurrentDefaultHandler(r.mime), r.handler);
    EXPECT_EQ(HandlerDescription(CurrentDefaultHandler(r.mime)), r.description);
  }
  EXPECT_EQ(HandlerDescription("kde-roller.desktop;"), "Roller") << "ids with a folder part";
}

TEST(ProgramClass, WrittenOnceValidAndRepairedWhenDamaged) {
  TXdgHome xdg;
  const std::string program = "/opt/Tandor File/tandorfile";
  ASSERT_TRUE(InstallProgramClass(program).IsOk());
  const fs::path entry = xdg.data / "applications" / kProgramDesktopId;
  const std::string text = testenv::ReadFile(entry);
  EXPECT_EQ(DesktopEntryValue(text, "Exec"), "\"/opt/Tandor File/tandorfile\" %f");
  EXPECT_EQ(DesktopEntryValue(text, "TryExec"), program);
  EXPECT_EQ(DesktopEntryValue(text, "Name"), "Tandor File");
  EXPECT_NE(DesktopEntryValue(text, "MimeType").find("application/x-tandor-sfx;"), std::string::npos);
  EXPECT_EQ(testenv::ReadFile(xdg.data / "mime/packages/tandorfile.xml"),
            testenv::ReadFile(testenv::SourceDir() / "data/tandorfile.xml"));
  std::string out;
  ASSERT_EQ(testenv::Run("desktop-file-validate " + testenv::Quote(entry.string()) + " 2>&1", &out), 0) << out;
  EXPECT_EQ(out, "");
  // update-mime-database made the type known to the desktop.
  EXPECT_NE(testenv::ReadFile(xdg.data / "mime/globs2").find("application/x-tandor-sfx:*.run"), std::string::npos);
  EXPECT_TRUE(fs::exists(xdg.data / "applications/mimeinfo.cache"));

  const auto stamp = fs::last_write_time(entry);
  ASSERT_TRUE(InstallProgramClass(program).IsOk());
  EXPECT_EQ(fs::last_write_time(entry), stamp) << "an entry in place is not rewritten";

  testenv::WriteFile(entry, "[Desktop Entry\nExec=");
  ASSERT_TRUE(InstallProgramClass(program).IsOk());
  EXPECT_EQ(testenv::ReadFile(entry), text) << "a damaged entry of ours is written again";
}

TEST(ProgramClass, ExecQuotingTable) {
  struct Row {
    const char* path;
    const char* exec;
  };
  for (const Row& r : std::vector<Row>{{"/usr/bin/tandorfile", "/usr/bin/tandorfile"},
                                       {"/opt/a b/t", "\"/opt/a b/t\""},
                                       {"/opt/$x/t", "\"/opt/\\\\$x/t\""},
                                       {"/opt/100%/t", "\"/opt/100%%/t\""},
                                       {"/opt/back\\slash/t", "\"/opt/back\\\\\\\\slash/t\""},
                                       {"/opt/q\"/t", "\"/opt/q\\\\\"/t\""}}) {
    SCOPED_TRACE(r.path);
    EXPECT_EQ(QuoteExecArgument(r.path), r.exec);
  }
}

TEST(ProgramClass, XdgMimeAnswersOursWhileSetAndTheOldHandlerAfter) {
  ASSERT_TRUE(testenv::HaveTool("xdg-mime")) << "xdg-utils is installed by scripts/install-deps.sh";
  TXdgHome xdg;
  unsetenv("XDG_CURRENT_DESKTOP");
  unsetenv("DESKTOP_SESSION");
  unsetenv("KDE_FULL_SESSION");
  unsetenv("GNOME_DESKTOP_SESSION_ID");
  fs::create_directories(xdg.data / "applications");
  testenv::WriteFile(xdg.data / "applications/ark.desktop",
                     "[Desktop Entry]\nType=Application\nName=Ark\nExec=ark %f\nMimeType=application/zip;\n");
  testenv::WriteFile(xdg.config / "mimeapps.list", "[Default Applications]\napplication/zip=ark.desktop\n");
  // xdg-mime takes a handler whose program exists.
  const fs::path program = testenv::MakeTempDir("prog") / "tandorfile";
  testenv::WriteFile(program, "#!/bin/sh\n");
  fs::permissions(program, fs::perms(0755));
  ASSERT_TRUE(InstallProgramClass(program.string()).IsOk());
  const auto query = [] {
    std::string out;
    testenv::Run("xdg-mime query default application/zip", &out);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  };
  EXPECT_EQ(query(), "ark.desktop");
  const std::string old = UserDefaultHandler("application/zip");
  ASSERT_TRUE(SetUserDefaultHandler("application/zip", kProgramDesktopId).IsOk());
  EXPECT_EQ(query(), kProgramDesktopId);
  ASSERT_TRUE(SetUserDefaultHandler("application/zip", old).IsOk());
  EXPECT_EQ(query(), "ark.desktop");
}

TEST(Viewers, QuickViewOnlyWhenConfiguredWordPadFromPath) {
  const fs::path bin = testenv::MakeTempDir("bin");
  const std::string oldPath = getenv("PATH");
  testenv::WriteFile(bin / "abiword", "#!/bin/sh\n");
  fs::permissions(bin / "abiword", fs::perms(0755));
  testenv::WriteFile(bin / "qv", "#!/bin/sh\n");
  fs::permissions(bin / "qv", fs::perms(0755));
  setenv("PATH", bin.c_str(), 1);
  unsetenv("TANDOR_QUICKVIEW");
  TViewerPrograms v = FindViewerPrograms();
  EXPECT_EQ(v.QuickView, "");
  EXPECT_EQ(v.WordPad, (bin / "abiword").string());
  setenv("TANDOR_QUICKVIEW", "qv", 1);
  EXPECT_EQ(FindViewerPrograms().QuickView, (bin / "qv").string());
  fs::remove(bin / "abiword");
  EXPECT_EQ(FindViewerPrograms().WordPad, "");
  unsetenv("TANDOR_QUICKVIEW");
  setenv("PATH", oldPath.c_str(), 1);
}

// Double-clicking an archive in a file manager: the desktop's openers find the program through its
// class and the user's defaults and start it with the archive as its one argument.
TEST(ProgramClass, DesktopOpenersStartTheProgramWithTheArchive) {
  for (const char* tool : {"xdg-open", "gio", "file"})
    ASSERT_TRUE(testenv::HaveTool(tool)) << tool << " is installed by scripts/install-deps.sh";
  TXdgHome xdg;
  // The openers tell the type from the system's MIME database.
  setenv("XDG_DATA_DIRS", (xdg.system.string() + ":/usr/share").c_str(), 1);
  for (const char* v : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID"}) unsetenv(v);
  const fs::path files = testenv::MakeTempDir("files");
  testenv::WriteFile(files / "f.txt", "hello\n");
  ASSERT_EQ(testenv::Run("cd " + testenv::Quote(files.string()) +
                         " && zip -q 'my archive.zip' f.txt && tar czf 'a $b.tar.gz' f.txt && tar cf 'c.tar' f.txt"),
            0);
  struct Row {
    const char* programFolder;
    const char* opener;
    const char* file;
  };
  // xdg-open's own desktop mode splits Exec lines at blanks, quoted or not: it gets a program folder
  // without one.
  const std::vector<Row> rows = {
      {"tandor", "DISPLAY=:0 xdg-open", "my archive.zip"}, {"tandor", "DISPLAY=:0 xdg-open", "a $b.tar.gz"},
      {"tandor", "gio open", "c.tar"},                      {"Tandor File", "gio open", "my archive.zip"},
      {"Tandor File", "gio open", "a $b.tar.gz"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.programFolder) + ": " + r.opener + " " + r.file);
    const fs::path folder = testenv::MakeTempDir("program") / r.programFolder;
    const fs::path out = folder / "started.txt";
    fs::create_directories(folder);
    // Stands in for the program: writes down the arguments it was started with.
    testenv::WriteFile(folder / "tandorfile", "#!/bin/sh\nprintf '%s|' \"$@\" >> '" + out.string() + ".part'\n" +
                                                  "mv '" + out.string() + ".part' '" + out.string() + "'\n");
    fs::permissions(folder / "tandorfile", fs::perms(0755));
    ASSERT_TRUE(InstallProgramClass((folder / "tandorfile").string()).IsOk());
    for (const TAssociationType& t : kAssociationTypes)
      ASSERT_TRUE(SetUserDefaultHandler(t.MimeType, std::string(kProgramDesktopId) + ";").IsOk());
    const std::string archive = (files / r.file).string();
    std::string said;
    EXPECT_EQ(testenv::Run(std::string(r.opener) + " " + testenv::Quote(archive) + " 2>&1", &said), 0) << said;
    for (int i = 0; i < 100 && !fs::exists(out); ++i) usleep(50000);
    ASSERT_TRUE(fs::exists(out)) << "the program was not started";
    EXPECT_EQ(testenv::ReadFile(out), archive + "|");
  }
}
