// The safe-output library on its own: name cleaning, the link rule, replace-on-create, folder
// attributes and temporaries, with and without openat2 / O_TMPFILE.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "TestEnv.h"
#include "safeout/Destination.h"
#include "safeout/Names.h"

namespace fs = std::filesystem;
using namespace safeout;

namespace {

TCleanName Clean(const std::string& stored) {
  TCleanName n;
  EXPECT_TRUE(CleanName(stored, n)) << stored;
  return n;
}

// Runs each test body once with the system's calls and once with the fallbacks.
class SafeoutBoth : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam()) setenv("TANDOR_SAFEOUT_FALLBACK", "1", 1);
    root = testenv::MakeTempDir("safeout");
    dest = root / "dest";
    fs::create_directories(dest);
    fs::create_directories(root / "outside");
    testenv::WriteFile(root / "outside/secret", "secret");
    ASSERT_TRUE(d.Open(dest.string()).Ok());
  }
  void TearDown() override { unsetenv("TANDOR_SAFEOUT_FALLBACK"); }
  bool Fallback() const { return GetParam(); }

  TResult WriteFile(const std::string& name, const std::string& data, bool replace) {
    TCleanName n = Clean(name);
    TResult why;
    auto folder = d.Folder(n.dirs, true, why);
    if (!folder) return why;
    auto out = d.NewFile(folder, n.leaf, 0644, why);
    if (!out) return why;
    if (TResult r = out->Write(data.data(), data.size()); !r) return r;
    return out->Commit(-1, nullptr, replace);
  }

  fs::path root, dest;
  TDestination d;
};

pid_t DeadPid() {
  pid_t pid = fork();
  if (pid == 0) _exit(0);
  waitpid(pid, nullptr, 0);
  return pid;
}

}  // namespace

TEST(SafeoutNames, Cleaning) {
  struct TCase {
    std::string stored, text;
    bool altered, controls, isDir;
  };
  const std::vector<TCase> cases = {
      {"a/b.txt", "a/b.txt", false, false, false},
      {"./a//b/./c", "a/b/c", false, false, false},
      {"../evil", "evil", true, false, false},
      {"..\\..\\evil", "evil", true, false, false},
      {"/etc/passwd", "etc/passwd", true, false, false},
      {"\\\\server\\share\\x", "server/share/x", true, false, false},
      {"C:\\win\\x", "win/x", true, false, false},
      {"C:evil", "evil", true, false, false},
      {"a/../../b", "a/b", true, false, false},
      {"dir/", "dir", false, false, true},
      {"../dir\\", "dir", true, false, true},
      {"line\nbreak", "line_break", false, true, false},
      {"esc\x1b[31mred", "esc_[31mred", false, true, false},
      {"c1\xc2\x9b"
       "x",
       "c1_x", false, true, false},
      {"del\x7f", "del_", false, true, false},
      {"Grüße/日本", "Grüße/日本", false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    TCleanName n = Clean(c.stored);
    EXPECT_EQ(n.Text(), c.text);
    EXPECT_EQ(n.altered, c.altered);
    EXPECT_EQ(n.controls, c.controls);
    EXPECT_EQ(n.isDir, c.isDir);
    EXPECT_EQ(CleaningMovesName(c.stored), c.altered);
  }
  TCleanName n;
  for (const std::string& bad :
       {std::string(""), std::string("/"), std::string("../.."), std::string("./"), std::string("a\0b", 3)})
    EXPECT_FALSE(CleanName(bad, n)) << testing::PrintToString(bad);
  EXPECT_TRUE(CleaningMovesName(std::string("a\0b", 3)));
  EXPECT_TRUE(CleaningMovesName("../"));
  EXPECT_FALSE(CleaningMovesName("./"));
  n = Clean("a/m");
  n.MakeFolder();
  EXPECT_EQ(n.dirs, (std::vector<std::string>{"a", "m"}));
  EXPECT_TRUE(n.leaf.empty());
}

TEST(SafeoutNames, ControlsShownEscaped) {
  EXPECT_EQ(EscapeControls("plain"), "plain");
  EXPECT_EQ(EscapeControls("a\nb"), "a^Jb");
  EXPECT_EQ(EscapeControls("x\r\ty"), "x^M^Iy");
  EXPECT_EQ(EscapeControls("\x1b[2J"), "^[[2J");
  EXPECT_EQ(EscapeControls(std::string("z\0", 2)), "z^@");
  EXPECT_EQ(EscapeControls("d\x7f"), "d^?");
  EXPECT_EQ(EscapeControls("c\xc2\x9b"), "cM-^[");
  EXPECT_EQ(EscapeControls("Grüße"), "Grüße");
}

TEST(SafeoutNames, TemporaryNames) {
  long pid = 0;
  const std::string t = TemporaryName("report.txt");
  EXPECT_TRUE(IsTemporaryName(t, pid)) << t;
  EXPECT_EQ(pid, long(getpid()));
  EXPECT_LE(TemporaryName(std::string(255, 'x')).size(), 255u);
  EXPECT_TRUE(IsTemporaryName(".a.tar.tandor-12-3.part", pid));
  EXPECT_EQ(pid, 12);
  for (const char* no : {"a.tandor-12-3.part", ".tandor-12-3.part", ".a.tandor-x-3.part", ".a.tandor-12-.part",
                         ".a.tandor-12-3.parts", ".a.part"})
    EXPECT_FALSE(IsTemporaryName(no, pid)) << no;
}

// Links made one after another; each row says whether the rule lets it be made. Earlier links in
// the destination count: a target is judged as the system would follow it now.
TEST_P(SafeoutBoth, LinkRule) {
  fs::create_directories(dest / "a/b/c");
  fs::create_directories(dest / "real");
  fs::create_directory_symlink(root / "outside", dest / "planted-out");  // planted before the run
  fs::create_directory_symlink("real", dest / "planted-in");
  struct TRow {
    std::string name, target;
    bool made;          // with openat2
    bool madeFallback;  // walking without following links: any link on the way is refused
  };
  const std::vector<TRow> rows = {
      {"ok", "real/file", true, true},
      {"a/b/c/up3", "../../../real", true, true},
      {"a/b/c/up4", "../../../../x", false, false},
      {"abs", "/etc/passwd", false, false},
      {"climb", "a/../../x", false, false},
      {"planted", "planted-out/secret", false, false},
      {"planted-dangling", "planted-out/none/deeper", false, false},
      {"via-inside", "planted-in/x", true, false},
      {"dangling", "later/made/x", true, true},
      // Issue 14 item 1: a chain where each link is fine by name, but resolves upwards.
      {"l0", ".", true, true},
      {"l1", "l0/..", false, false},
      {"l1b", "l0/l0/l0/../x", false, false},
      {"k", "l0", true, false},
      {"pw", "k/../etc/passwd", false, false},
      {"loop", "loop", true, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name + " -> " + row.target);
    const TResult r = d.Symlink(Clean(row.name), row.target, false, nullptr);
    const bool expect = Fallback() ? row.madeFallback : row.made;
    EXPECT_EQ(r.Ok(), expect) << r.text;
    EXPECT_EQ(fs::is_symlink(dest / row.name), expect);
    if (!expect) {
      EXPECT_EQ(r.fault, TFault::Refused);
    }
  }
  EXPECT_EQ(testenv::ListTree(root / "outside"), (std::vector<std::string>{"secret"}));
}

// Issue 14 item 2: a hard link to a symlink is that symlink at a new place.
TEST_P(SafeoutBoth, HardLinkToDeepSymlink) {
  const std::string deep = "a/b/c/d/e/f/g/h/i/j";
  const std::string up = "../../../../../../../../../../";
  ASSERT_TRUE(d.Symlink(Clean(deep + "/l"), up + "etc/passwd", false, nullptr).Ok());
  ASSERT_TRUE(d.Symlink(Clean(deep + "/inside"), up + "a", false, nullptr).Ok());
  ASSERT_TRUE(WriteFile("data.txt", "data", false).Ok());
  const TResult pw = d.HardLink(Clean("pw"), Clean(deep + "/l"), false);
  EXPECT_EQ(pw.fault, TFault::Refused) << pw.text;
  EXPECT_FALSE(fs::exists(fs::symlink_status(dest / "pw")));
  // The same link one level down points to "../a" from there: outside as well.
  EXPECT_FALSE(d.HardLink(Clean("x/in"), Clean(deep + "/inside"), false).Ok());
  EXPECT_TRUE(d.HardLink(Clean(deep + "/in2"), Clean(deep + "/inside"), false).Ok());
  EXPECT_TRUE(d.HardLink(Clean("copy.txt"), Clean("data.txt"), false).Ok());
  EXPECT_EQ(fs::hard_link_count(dest / "data.txt"), 2u);
  EXPECT_EQ(d.HardLink(Clean("folder"), Clean("a"), false).fault, TFault::Refused);
  EXPECT_EQ(d.HardLink(Clean("none"), Clean("missing"), false).fault, TFault::Refused);
  EXPECT_EQ(d.HardLink(Clean("copy.txt"), Clean("data.txt"), false).fault, TFault::None) << "same file";
}

// Whatever is at a name (a link out, a hard link to a file outside) is replaced, never written through.
TEST_P(SafeoutBoth, ReplaceNeverWritesThrough) {
  fs::create_symlink(root / "outside/secret", dest / "sym");
  fs::create_hard_link(root / "outside/secret", dest / "hard");
  fs::create_directories(dest / "folder");
  EXPECT_EQ(WriteFile("sym", "new", false).fault, TFault::Exists);
  EXPECT_EQ(WriteFile("hard", "new", false).fault, TFault::Exists);
  EXPECT_TRUE(WriteFile("sym", "new sym", true).Ok());
  EXPECT_TRUE(WriteFile("hard", "new hard", true).Ok());
  EXPECT_EQ(WriteFile("folder", "x", true).fault, TFault::FolderInTheWay);
  EXPECT_EQ(d.Symlink(Clean("folder"), "sym", true, nullptr).fault, TFault::FolderInTheWay);
  EXPECT_TRUE(d.Symlink(Clean("sym"), "hard", true, nullptr).Ok());
  EXPECT_EQ(testenv::ReadFile(root / "outside/secret"), "secret");
  EXPECT_EQ(fs::hard_link_count(root / "outside/secret"), 1u);
  EXPECT_EQ(testenv::ReadFile(dest / "hard"), "new hard");
  EXPECT_EQ(fs::read_symlink(dest / "sym"), "hard");
  EXPECT_EQ(testenv::ListTree(dest), (std::vector<std::string>{"folder/", "hard", "sym@"}));
}

// Nothing is under the real name until the commit; a discarded file leaves nothing at all.
TEST_P(SafeoutBoth, FilesAppearWhenComplete) {
  TResult why;
  auto out = d.NewFile(d.Root(), "big.bin", 0600, why);
  ASSERT_TRUE(out) << why.text;
  ASSERT_TRUE(out->Write("head", 4).Ok());
  ASSERT_TRUE(out->Skip(1 << 20).Ok());
  ASSERT_TRUE(out->Write("tail", 4).Ok());
  ASSERT_TRUE(out->WriteAt(100, "mid", 3).Ok());
  ASSERT_TRUE(out->Skip(4096).Ok());  // a hole at the end still counts in the size
  EXPECT_FALSE(fs::exists(dest / "big.bin"));
  EXPECT_EQ(testenv::ListTree(dest).size(), Fallback() ? 1u : 0u) << "only a hidden temporary, if any";
  const timespec when{1000000000, 0};
  ASSERT_TRUE(out->Commit(04755, &when, false).Ok());
  EXPECT_EQ(fs::file_size(dest / "big.bin"), 4u + (1 << 20) + 4 + 4096);
  const std::string data = testenv::ReadFile(dest / "big.bin");
  EXPECT_EQ(data.substr(0, 4), "head");
  EXPECT_EQ(data.substr(100, 3), "mid");
  EXPECT_EQ(data.substr(4 + (1 << 20), 4), "tail");
  struct stat st {};
  ASSERT_EQ(stat((dest / "big.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u) << "set-UID dropped";
  EXPECT_EQ(st.st_mtime, 1000000000);
  EXPECT_LT(uint64_t(st.st_blocks) * 512, uint64_t(1) << 20) << "the skipped part is a hole";

  auto gone = d.NewFile(d.Root(), "gone.bin", 0644, why);
  ASSERT_TRUE(gone);
  ASSERT_TRUE(gone->Write("x", 1).Ok());
  gone.reset();
  EXPECT_EQ(testenv::ListTree(dest), (std::vector<std::string>{"big.bin"}));
}

// A small file whose name is free is made under it at once: gone again unless committed; a taken
// name (a link out, a file) goes the unnamed way, so nothing is written through or over it.
TEST_P(SafeoutBoth, SmallFilesTakeTheirNameAtOnce) {
  TResult why;
  auto out = d.NewFile(d.Root(), "small.txt", 0600, why, 5);
  ASSERT_TRUE(out) << why.text;
  ASSERT_TRUE(out->Write("hello", 5).Ok());
  EXPECT_TRUE(fs::exists(dest / "small.txt"));
  const timespec when{1000000000, 0};
  ASSERT_TRUE(out->Commit(04750, &when, false).Ok());
  struct stat st {};
  ASSERT_EQ(stat((dest / "small.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0750u) << "set-UID dropped";
  EXPECT_EQ(st.st_mtime, 1000000000);
  EXPECT_EQ(testenv::ReadFile(dest / "small.txt"), "hello");

  auto stopped = d.NewFile(d.Root(), "stopped.txt", 0644, why, 100);
  ASSERT_TRUE(stopped);
  ASSERT_TRUE(stopped->Write("half", 4).Ok());
  stopped.reset();
  EXPECT_FALSE(fs::exists(dest / "stopped.txt")) << "a small file not committed is removed";

  fs::create_symlink(root / "outside/secret", dest / "sym");
  auto over = d.NewFile(d.Root(), "sym", 0644, why, 3);
  ASSERT_TRUE(over);
  ASSERT_TRUE(over->Write("new", 3).Ok());
  EXPECT_EQ(over->Commit(-1, nullptr, false).fault, TFault::Exists);
  over = d.NewFile(d.Root(), "sym", 0644, why, 3);
  ASSERT_TRUE(over);
  ASSERT_TRUE(over->Write("new", 3).Ok());
  ASSERT_TRUE(over->Commit(-1, nullptr, true).Ok());
  EXPECT_EQ(testenv::ReadFile(root / "outside/secret"), "secret");
  EXPECT_FALSE(fs::is_symlink(dest / "sym"));
  EXPECT_EQ(testenv::ReadFile(dest / "sym"), "new");
  EXPECT_EQ(testenv::ListTree(dest), (std::vector<std::string>{"small.txt", "sym"}));
}

// Folders: modes and times only of folders this run created; never the destination or one that was there.
TEST_P(SafeoutBoth, FolderAttributesOnlyForOwnFolders) {
  fs::create_directories(dest / "old");
  ::chmod(dest.c_str(), 0700);
  ::chmod((dest / "old").c_str(), 0750);
  const timespec past{86400, 0};
  struct stat before {
  }, oldBefore{};
  ASSERT_EQ(stat(dest.c_str(), &before), 0);
  ASSERT_EQ(stat((dest / "old").c_str(), &oldBefore), 0);
  ASSERT_TRUE(d.Symlink(Clean("k"), ".", false, nullptr).Ok());
  for (const char* name : {"m", "old", "k", "new/deep", "new"}) {
    TCleanName n = Clean(name);
    n.MakeFolder();
    // Without openat2 no link is followed, not even one that stays inside.
    EXPECT_EQ(d.MakeFolder(n.dirs, 0777, &past).Ok(), std::string(name) != "k" || !Fallback()) << name;
  }
  EXPECT_TRUE(d.MakeFolder({}, 0777, &past).Ok());
  d.FinishFolders();
  struct stat after {
  }, oldAfter{}, made{};
  ASSERT_EQ(stat(dest.c_str(), &after), 0);
  ASSERT_EQ(stat((dest / "old").c_str(), &oldAfter), 0);
  EXPECT_EQ(after.st_mode & 07777, 0700u);
  EXPECT_GE(after.st_mtime, before.st_mtime);
  EXPECT_EQ(oldAfter.st_mode & 07777, 0750u);
  EXPECT_EQ(oldAfter.st_mtime, oldBefore.st_mtime);
  for (const char* mine : {"m", "new", "new/deep"}) {
    ASSERT_EQ(stat((dest / mine).c_str(), &made), 0);
    EXPECT_EQ(made.st_mode & 07777, 0777u) << mine;
    EXPECT_EQ(made.st_mtime, 86400) << mine;
  }
}

// A killed run leaves at most hidden temporaries of ours; the next run into the destination removes them.
TEST_P(SafeoutBoth, StaleTemporariesRemoved) {
  const pid_t dead = DeadPid();
  const std::string stale = ".f.txt.tandor-" + std::to_string(dead) + "-7.part";
  const std::string live = ".g.txt.tandor-" + std::to_string(getppid()) + "-1.part";
  fs::create_directories(dest / "sub");
  for (const fs::path& dir : {dest, dest / "sub"}) {
    testenv::WriteFile(dir / stale, "half");
    testenv::WriteFile(dir / live, "running");
    testenv::WriteFile(dir / "user.tandor-1-1.part", "not ours");
  }
  TDestination again;
  ASSERT_TRUE(again.Open(dest.string()).Ok());
  TResult why;
  ASSERT_TRUE(again.Folder({"sub"}, false, why));
  for (const fs::path& dir : {dest, dest / "sub"}) {
    EXPECT_FALSE(fs::exists(dir / stale)) << dir;
    EXPECT_TRUE(fs::exists(dir / live)) << dir;
    EXPECT_TRUE(fs::exists(dir / "user.tandor-1-1.part")) << dir;
  }
  // New archives: the same rule beside the target.
  testenv::WriteFile(root / stale, "half");
  auto archive = NewFileAt((root / "new.tar").string(), 0644, why);
  ASSERT_TRUE(archive) << why.text;
  EXPECT_FALSE(fs::exists(root / stale));
  ASSERT_TRUE(archive->Write("tar", 3).Ok());
  ASSERT_TRUE(archive->Commit(-1, nullptr, true).Ok());
  EXPECT_EQ(testenv::ReadFile(root / "new.tar"), "tar");
}

TEST_P(SafeoutBoth, FoldersThroughLinksOnDisk) {
  fs::create_directory_symlink(root / "outside", dest / "out");
  fs::create_directory_symlink("../dest", dest / "loop");
  fs::create_directories(dest / "real");
  fs::create_directory_symlink("real", dest / "in");
  testenv::WriteFile(dest / "file", "x");
  TResult why;
  EXPECT_FALSE(d.Folder({"out"}, true, why));
  EXPECT_EQ(why.fault, TFault::Refused);
  EXPECT_FALSE(d.Folder({"out", "deeper"}, true, why));
  EXPECT_FALSE(d.Folder({"loop", "x"}, true, why));
  EXPECT_FALSE(d.Folder({"file", "x"}, true, why));
  EXPECT_EQ(bool(d.Folder({"in", "x"}, true, why)), !Fallback()) << why.text;
  EXPECT_EQ(testenv::ListTree(root / "outside"), std::vector<std::string>{"secret"});
  EXPECT_FALSE(fs::exists(root / "x"));
}

INSTANTIATE_TEST_SUITE_P(Calls, SafeoutBoth, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? std::string("Fallback") : std::string("System"); });
