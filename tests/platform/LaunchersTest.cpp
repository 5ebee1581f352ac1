// Launchers on the desktop and in the applications menu: made, validated, kept, removed exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "TestEnv.h"
#include "XdgHome.h"
#include "platform/DesktopFiles.h"
#include "platform/Launchers.h"

namespace fs = std::filesystem;

namespace {

const std::string kProgram = "/opt/tandor/tandorfile";

void ExpectValid(const std::string& path) {
  std::string out;
  EXPECT_EQ(testenv::Run("desktop-file-validate " + testenv::Quote(path) + " 2>&1", &out), 0) << path << "\n" << out;
  EXPECT_EQ(out, "") << path;
}

void ExpectWellFormedXml(const std::string& path) {
  std::string out;
  EXPECT_EQ(testenv::Run("python3 -c 'import sys, xml.dom.minidom; xml.dom.minidom.parse(sys.argv[1])' " +
                             testenv::Quote(path) + " 2>&1",
                         &out),
            0)
      << path << "\n" << out;
}

std::vector<std::string> Added(std::vector<std::string> before, std::vector<std::string> after) {
  std::vector<std::string> out;
  std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(out));
  return out;
}

}  // namespace

TEST(Launchers, DesktopFolderLookUp) {
  struct Row {
    const char* name;
    const char* userDirs;  // nullptr: no user-dirs.dirs
    bool env;
    std::string expected;  // relative to HOME
  };
  const std::vector<Row> rows = {
      {"from user-dirs.dirs with $HOME", "XDG_DOCUMENTS_DIR=\"$HOME/Docs\"\nXDG_DESKTOP_DIR=\"$HOME/Bureau\"\n", true,
       "Bureau"},
      {"user-dirs.dirs without the desktop", "XDG_MUSIC_DIR=\"$HOME/M\"\n", true, "Env Desktop"},
      {"no file, the environment", nullptr, true, "Env Desktop"},
      {"no file, no environment", nullptr, false, "Desktop"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    TXdgHome xdg;
    if (r.userDirs) testenv::WriteFile(xdg.config / "user-dirs.dirs", r.userDirs);
    if (r.env)
      setenv("XDG_DESKTOP_DIR", (xdg.home / "Env Desktop").c_str(), 1);
    else
      unsetenv("XDG_DESKTOP_DIR");
    EXPECT_EQ(DesktopFolder(), (xdg.home / r.expected).string());
  }
}

TEST(Launchers, DesktopLauncherMadeKeptAndRemoved) {
  TXdgHome xdg;
  const std::vector<std::string> before = testenv::ListTree(xdg.home);
  const TLauncherResult made = CreateShortcut(kProgram, kDesktopLauncher);
  ASSERT_TRUE(made.Status.IsOk()) << made.Status.Message();
  const fs::path launcher = xdg.desktop / "Tandor File.desktop";
  EXPECT_EQ(made.Made, std::vector<std::string>{launcher.string()});
  EXPECT_EQ(Added(before, testenv::ListTree(xdg.home)), std::vector<std::string>{"Desktop/Tandor File.desktop"});
  EXPECT_EQ(fs::status(launcher).permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
  ExpectValid(launcher.string());
  const std::string text = testenv::ReadFile(launcher);
  EXPECT_EQ(DesktopEntryValue(text, "Name"), "Tandor File");
  EXPECT_EQ(DesktopEntryValue(text, "Exec"), kProgram + " %f");

  testenv::WriteFile(launcher, text + "# touched by the user\n");
  const TLauncherResult again = CreateShortcut(kProgram, kDesktopLauncher);
  EXPECT_TRUE(again.Status.IsOk());
  EXPECT_TRUE(again.AlreadyThere);
  EXPECT_TRUE(again.Made.empty());
  EXPECT_EQ(testenv::ReadFile(launcher), text + "# touched by the user\n") << "an existing launcher is never replaced";

  std::vector<std::string> removed;
  ASSERT_TRUE(RemoveShortcut(kDesktopLauncher, {}, &removed).IsOk());
  EXPECT_EQ(removed, std::vector<std::string>{launcher.string()});
  EXPECT_EQ(testenv::ListTree(xdg.home), before);
}

TEST(Launchers, AFileOfThatNameMadeByTheUserIsNeverTouched) {
  TXdgHome xdg;
  const fs::path launcher = xdg.desktop / "Tandor File.desktop";
  struct Row {
    const char* name;
    std::string text;
    bool damaged;
  };
  for (const Row& r : {Row{"a link of the user's", "[Desktop Entry]\nType=Link\nName=Mine\nURL=file:///\n", false},
                       Row{"a program of the user's", "[Desktop Entry]\nType=Application\nName=Mine\nExec=x\n", false},
                       Row{"a damaged entry", "[Desktop Entry\ndamaged", true}, Row{"an empty file", "", true}}) {
    SCOPED_TRACE(r.name);
    testenv::WriteFile(launcher, r.text);
    const TLauncherResult made = CreateShortcut(kProgram, kDesktopLauncher);
    EXPECT_TRUE(made.AlreadyThere);
    EXPECT_EQ(made.Damaged, r.damaged);
    EXPECT_EQ(made.Status.Message(), r.damaged ? "THE LINK " + launcher.string() +
                                                     " IS DAMAGED.  IT WAS LEFT AS IT IS; REMOVE IT AND CREATE THE LINK AGAIN."
                                               : "");
    EXPECT_TRUE(RemoveShortcut(kDesktopLauncher, {}).IsOk());
    EXPECT_EQ(testenv::ReadFile(launcher), r.text);
  }
}

TEST(Launchers, AMissingDesktopFolderIsReportedAndNothingMade) {
  TXdgHome xdg;
  fs::remove(xdg.desktop);
  const std::vector<std::string> before = testenv::ListTree(xdg.home);
  const TLauncherResult r = CreateShortcut(kProgram, kDesktopLauncher);
  EXPECT_EQ(r.Status.Code(), TStatusCode::NotFound);
  EXPECT_EQ(r.Status.Message(),
            "THE DESKTOP FOLDER " + xdg.desktop.string() + " DOES NOT EXIST.  THE LINK ON THE DESKTOP WAS NOT CREATED.");
  EXPECT_EQ(testenv::ListTree(xdg.home), before);
}

TEST(Launchers, QuickLaunchMakesNothing) {
  TXdgHome xdg;
  const std::vector<std::string> before = testenv::ListTree(xdg.home);
  const TLauncherResult r = CreateShortcut(kProgram, kQuickLaunchLauncher);
  EXPECT_TRUE(r.Status.IsOk());
  EXPECT_TRUE(r.Made.empty());
  EXPECT_EQ(testenv::ListTree(xdg.home), before);
}

TEST(Launchers, MenuLaunchersInChosenFoldersTable) {
  struct Row {
    const char* name;
    std::string subFolder;
    std::vector<std::string> made;  // files, relative to HOME
  };
  // Folders made with the first launcher of the menu (and removed with the last).
  const std::vector<std::string> menuFolders = {".config/menus/", ".config/menus/applications-merged/"};
  const std::vector<Row> rows = {
      {"the menu itself", "",
       {".config/menus/applications-merged/tandorfile-launcher.menu", ".local/share/applications/Tandor File.desktop"}},
      {"two levels with a blank",
       "Office/Archive Tools",
       {".config/menus/applications-merged/tandorfile-launcher-Office-Archive_20Tools.menu",
        ".local/share/applications/Office/Archive Tools/Tandor File.desktop",
        ".local/share/desktop-directories/tandorfile-launcher-Office-Archive_20Tools.directory",
        ".local/share/desktop-directories/tandorfile-launcher-Office.directory"}},
      {"a name with & and <", "R&D <x>",
       {".config/menus/applications-merged/tandorfile-launcher-R_26D_20_3cx_3e.menu",
        ".local/share/applications/R&D <x>/Tandor File.desktop",
        ".local/share/desktop-directories/tandorfile-launcher-R_26D_20_3cx_3e.directory"}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    TXdgHome xdg;
    std::string parent;
    for (const auto& level : fs::path(r.subFolder)) {
      ASSERT_TRUE(MakeMenuFolder(parent, level.string()).IsOk());
      parent = (fs::path(parent) / level).string();
    }
    fs::create_directories(MenuFolder());
    const std::vector<std::string> before = testenv::ListTree(xdg.home);
    const TLauncherResult made = CreateShortcut(kProgram, kMenuLauncher, r.subFolder);
    ASSERT_TRUE(made.Status.IsOk()) << made.Status.Message();
    std::vector<std::string> added = r.made;
    added.insert(added.end(), menuFolders.begin(), menuFolders.end());
    if (!r.subFolder.empty()) added.push_back(".local/share/desktop-directories/");
    std::sort(added.begin(), added.end());
    EXPECT_EQ(Added(before, testenv::ListTree(xdg.home)), added);
    EXPECT_EQ(made.Made.size(), r.made.size());
    for (const std::string& file : r.made) {
      const std::string path = (xdg.home / file).string();
      if (file.ends_with(".menu"))
        ExpectWellFormedXml(path);
      else
        ExpectValid(path);
    }
    const std::string menu = testenv::ReadFile(xdg.home / r.made[0]);
    const std::string id = (r.subFolder.empty() ? "" : [&] {
      std::string s = r.subFolder;
      std::replace(s.begin(), s.end(), '/', '-');
      return s + "-";
    }()) + "Tandor File.desktop";
    std::string escaped;
    for (char c : id) escaped += c == '&' ? std::string("&amp;") : c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
    EXPECT_NE(menu.find("<Filename>" + escaped + "</Filename>"), std::string::npos) << menu;

    EXPECT_TRUE(CreateShortcut(kProgram, kMenuLauncher, r.subFolder).AlreadyThere);
    std::vector<std::string> removed;
    ASSERT_TRUE(RemoveShortcut(kMenuLauncher, r.subFolder, &removed).IsOk());
    EXPECT_EQ(removed.size(), r.made.size());
    EXPECT_EQ(testenv::ListTree(xdg.home), before);
  }
}

TEST(Launchers, ALevelSharedWithAnotherLauncherStays) {
  TXdgHome xdg;
  for (const char* sub : {"Office", "Office/A", "Office/B"}) {
    const fs::path p(sub);
    ASSERT_TRUE(MakeMenuFolder(p.parent_path().string(), p.filename().string()).IsOk());
  }
  ASSERT_TRUE(CreateShortcut(kProgram, kMenuLauncher, "Office/A").Status.IsOk());
  const std::vector<std::string> withA = testenv::ListTree(xdg.home);
  ASSERT_TRUE(CreateShortcut(kProgram, kMenuLauncher, "Office/B").Status.IsOk());
  ASSERT_TRUE(RemoveShortcut(kMenuLauncher, "Office/B").IsOk());
  EXPECT_EQ(testenv::ListTree(xdg.home), withA) << "Office's directory entry is still named by A's menu file";
}

TEST(Launchers, MenuFoldersListedAndMade) {
  TXdgHome xdg;
  EXPECT_TRUE(MenuSubfolders().empty());
  ASSERT_TRUE(MakeMenuFolder("", "Tools").IsOk());
  ASSERT_TRUE(MakeMenuFolder("Tools", "Zip").IsOk());
  ASSERT_TRUE(MakeMenuFolder("Tools", "Zip").IsOk()) << "an existing folder is fine";
  ASSERT_TRUE(MakeMenuFolder("", ".hidden").IsOk());
  ASSERT_TRUE(MakeMenuFolder(".hidden", "inner").IsOk());
  testenv::WriteFile(fs::path(MenuFolder()) / "Tools/file.desktop", "x");
  EXPECT_EQ(MenuSubfolders(), (std::vector<std::string>{"Tools", "Tools/Zip"}));
  testenv::WriteFile(fs::path(MenuFolder()) / "Blocked", "a file in the way");
  const TStatus s = MakeMenuFolder("", "Blocked");
  EXPECT_TRUE(s.Failed());
  EXPECT_NE(s.Message().find("File exists"), std::string::npos) << s.Message();
}

TEST(Launchers, ForbiddenFolderNameCharacters) {
  for (char c : std::string("\\/:*?\"<>|")) EXPECT_TRUE(IsForbiddenFolderNameChar(c)) << c;
  for (char c : std::string("aZ09 -_.&()'")) EXPECT_FALSE(IsForbiddenFolderNameChar(c)) << c;
}

TEST(Launchers, RemovingAllTakesEveryLauncherOfOursAndNothingElse) {
  TXdgHome xdg;
  for (const char* sub : {"Office", "Office/A", "Mine"}) {
    const fs::path p(sub);
    ASSERT_TRUE(MakeMenuFolder(p.parent_path().string(), p.filename().string()).IsOk());
  }
  // A launcher of that name the user made himself.
  testenv::WriteFile(fs::path(MenuFolder()) / "Mine" / kLauncherFile, "[Desktop Entry]\nType=Application\nName=Mine\nExec=x\n");
  const std::vector<std::string> before = testenv::ListTree(xdg.home);
  ASSERT_TRUE(CreateShortcut(kProgram, kDesktopLauncher).Status.IsOk());
  ASSERT_TRUE(CreateShortcut(kProgram, kMenuLauncher, "").Status.IsOk());
  ASSERT_TRUE(CreateShortcut(kProgram, kMenuLauncher, "Office/A").Status.IsOk());
  EXPECT_EQ(MenuLauncherFolders(), (std::vector<std::string>{"", "Office/A"}));
  std::vector<std::string> removed;
  ASSERT_TRUE(RemoveAllShortcuts(&removed).IsOk());
  EXPECT_EQ(removed.size(), 1u + 2u + 4u) << "desktop; launcher and menu file; launcher, menu file, two entries";
  EXPECT_EQ(testenv::ListTree(xdg.home), before);
  removed.clear();
  ASSERT_TRUE(RemoveAllShortcuts(&removed).IsOk());
  EXPECT_TRUE(removed.empty());
}
