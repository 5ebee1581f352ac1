// The Debian package made by CPack: its files, its dependencies (every library a program of it links),
// its maintainer scripts, and lintian's verdict.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <vector>

#include "InstallTree.h"
#include "TestEnv.h"

namespace fs = std::filesystem;
using testenv::Quote;

namespace {

class PackageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const fs::path out = testenv::MakeTempDir("package");
    const fs::path log = out / "cpack.log";
    const int rc = testenv::Run(Quote(installtree::CPackCommand()) + " -G DEB --config " +
                                Quote((installtree::BuildDir() / "CPackConfig.cmake").string()) + " -B " +
                                Quote(out.string()) + " >" + Quote(log.string()) + " 2>&1");
    log_ = testenv::ReadFile(log);
    if (rc != 0) return;
    for (const auto& e : fs::directory_iterator(out))
      if (e.path().extension() == ".deb") deb_ = e.path();
  }
  void SetUp() override { ASSERT_FALSE(deb_.empty()) << "no package made:\n" << log_; }

  static std::string Field(const std::string& name) {
    std::string value;
    testenv::Run("dpkg-deb -f " + Quote(deb_.string()) + " " + name, &value);
    while (!value.empty() && value.back() == '\n') value.pop_back();
    return value;
  }

  static inline fs::path deb_;
  static inline std::string log_;
};

TEST_F(PackageTest, ControlNamesThePackageAndTheVersionOfTheBuild) {
  std::string arch;
  ASSERT_EQ(testenv::Run("dpkg --print-architecture", &arch), 0);
  const struct {
    const char* field;
    std::string expected;
  } fields[] = {
      {"Package", "tandorfile"},
      {"Version", installtree::ExpectedVersion()},
      {"Architecture", arch.substr(0, arch.find('\n'))},
      {"Section", "utils"},
  };
  for (const auto& f : fields) EXPECT_EQ(Field(f.field), f.expected) << f.field;
}

TEST_F(PackageTest, ListsEveryInstalledFileUnderUsrOwnedByRoot) {
  std::string listing;
  ASSERT_EQ(testenv::Run("dpkg-deb -c " + Quote(deb_.string()), &listing), 0);
  std::set<std::string> files;
  std::map<std::string, std::string> links;
  std::istringstream lines(listing);
  const std::regex row(R"(^(\S+) (\S+)\s+\d+ \S+ \S+ \./(\S+?)(?: -> (\S+))?$)");
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, row)) << line;
    EXPECT_EQ(m[2].str(), "root/root") << line;
    if (m[1].str()[0] == 'l') links[m[3]] = m[4];
    else if (m[1].str()[0] == '-') files.insert(m[3]);
  }
  for (const std::string& f : installtree::ExpectedFiles()) EXPECT_TRUE(files.count("usr/" + f)) << f;
  for (const auto& [link, target] : installtree::ExpectedLinks()) EXPECT_EQ(links["usr/bin/" + link], target) << link;
}

// dpkg-shlibdeps' work, checked from the other side: the package of every library that a program or
// library of ours links is a dependency.
TEST_F(PackageTest, DependsOnThePackageOfEveryLinkedLibrary) {
  const fs::path root = testenv::MakeTempDir("unpacked");
  ASSERT_EQ(testenv::Run("dpkg-deb -x " + Quote(deb_.string()) + " " + Quote(root.string())), 0);
  std::set<std::string> depends;
  const std::string field = Field("Depends");
  const std::regex name(R"((?:^|[,|]\s*)([a-z0-9][a-z0-9.+-]+))");
  for (std::sregex_iterator it(field.begin(), field.end(), name), end; it != end; ++it) depends.insert((*it)[1]);
  EXPECT_TRUE(depends.count("qt6-qpa-plugins")) << field;
  // soname -> the file the dynamic loader takes for it.
  std::map<std::string, std::string> needed;
  const std::regex neededLine(R"(^\s+NEEDED\s+(\S+))"), resolvedLine(R"(^\s+(\S+) => (/\S+))"),
      loaderLine(R"(^\s+(/\S+/([^/\s]+)) \()");
  for (const auto& e : fs::directory_iterator(root / "usr/lib/tandorfile")) {
    if (!e.is_regular_file() || testenv::ReadFile(e.path()).rfind("\x7f" "ELF", 0) != 0) continue;
    std::string dynamic;
    ASSERT_EQ(testenv::Run("objdump -p " + Quote(e.path().string()), &dynamic), 0);
    std::vector<std::string> sonames;
    std::istringstream lines(dynamic);
    for (std::string line; std::getline(lines, line);) {
      std::smatch m;
      if (std::regex_search(line, m, neededLine)) sonames.push_back(m[1]);
    }
    if (sonames.empty()) continue;  // static (the self-extractor stub)
    std::string resolved;
    ASSERT_EQ(testenv::Run("ldd " + Quote(e.path().string()), &resolved), 0);
    std::map<std::string, std::string> paths;
    std::istringstream resolvedLines(resolved);
    for (std::string line; std::getline(resolvedLines, line);) {
      std::smatch m;
      if (std::regex_search(line, m, resolvedLine)) paths[m[1]] = m[2];
      else if (std::regex_search(line, m, loaderLine)) paths[m[2]] = m[1];
    }
    for (const std::string& soname : sonames) {
      ASSERT_TRUE(paths.count(soname)) << e.path().filename() << " links " << soname << ", which is not found";
      needed[soname] = paths[soname];
    }
  }
  ASSERT_FALSE(needed.empty());
  for (const auto& [soname, path] : needed) {
    // dpkg knows a library by the path its package installed: /lib/... or /usr/lib/... (merged /usr).
    std::string owner;
    const std::string other = path.rfind("/usr/", 0) == 0 ? path.substr(4) : "/usr" + path;
    if (testenv::Run("dpkg -S " + Quote(path) + " 2>/dev/null", &owner) != 0) {
      ASSERT_EQ(testenv::Run("dpkg -S " + Quote(other) + " 2>/dev/null", &owner), 0) << soname << " at " << path;
    }
    const std::string package = owner.substr(0, owner.find_first_of(":,"));
    ASSERT_FALSE(package.empty()) << soname << " belongs to no package";
    EXPECT_TRUE(depends.count(package)) << soname << " comes from " << package << ", missing in: " << field;
  }
}

// The scripts run against stand-ins of the desktop tools that note how they were called.
TEST_F(PackageTest, MaintainerScriptsRefreshTheDesktopAndMimeDatabases) {
  const fs::path control = testenv::MakeTempDir("control");
  ASSERT_EQ(testenv::Run("dpkg-deb -e " + Quote(deb_.string()) + " " + Quote(control.string())), 0);
  const fs::path tools = testenv::MakeTempDir("tools");
  const fs::path calls = tools / "calls";
  for (const char* tool : {"update-desktop-database", "update-mime-database"}) {
    testenv::WriteFile(tools / tool, "#!/bin/sh\necho \"$(basename \"$0\") $*\" >>" + Quote(calls.string()) + "\n");
    fs::permissions(tools / tool, fs::perms::owner_all);
  }
  const struct {
    const char* script;
    const char* argument;
    bool refreshes;
  } cases[] = {
      {"postinst", "configure", true},
      {"postinst", "abort-upgrade", false},
      {"postrm", "remove", true},
      {"postrm", "purge", true},
      {"postrm", "upgrade", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.script) + " " + c.argument);
    const fs::path script = control / c.script;
    ASSERT_TRUE(fs::exists(script));
    EXPECT_EQ(fs::status(script).permissions() & fs::perms::all, fs::perms(0755));
    fs::remove(calls);
    std::string out;
    ASSERT_EQ(testenv::Run("PATH=" + Quote(tools.string()) + ":/usr/bin:/bin sh " + Quote(script.string()) + " " +
                               c.argument + " 2>&1",
                           &out),
              0)
        << out;
    const std::string noted = fs::exists(calls) ? testenv::ReadFile(calls) : "";
    if (c.refreshes) {
      EXPECT_NE(noted.find("update-desktop-database -q /usr/share/applications\n"), std::string::npos) << noted;
      EXPECT_NE(noted.find("update-mime-database /usr/share/mime\n"), std::string::npos) << noted;
    } else {
      EXPECT_EQ(noted, "");
    }
  }
}

TEST_F(PackageTest, LintianReportsNoError) {
  std::string out;
  const int rc = testenv::Run("lintian --tag-display-limit 0 " + Quote(deb_.string()) + " 2>&1", &out);
  ASSERT_LE(rc, 1) << "lintian did not run:\n" << out;  // 1: tags of error severity, reported below
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) EXPECT_NE(line.rfind("E: ", 0), 0u) << line;
}

}  // namespace
