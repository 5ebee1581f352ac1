// The hostile table: archives built here, row by row, run against every format through `tandor x`
// and `tandor t`. Each run must leave everything outside the destination as it was (the
// destination's own mode and time included), leave no link that leads out, and say why it refused.
// `t` writes nothing anywhere. Rows about the writing side (adding, killed runs) run their own
// steps. To add a row, append to Rows() below.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <thread>

#include "HostileWriters.h"
#include "TestEnv.h"
#include "safeout/OutputFile.h"

namespace fs = std::filesystem;
using namespace hostile;
using testenv::Quote;

namespace {

const std::vector<TFormat> kAllFormats = {TFormat::Zip, TFormat::Tar,  TFormat::TarGz,
                                          TFormat::Gz,  TFormat::Rar4, TFormat::Rar5};

// The folder a run happens in: box/dest is the destination, box/outside holds files the archive
// must not reach, box/tmp is the run's TMPDIR. The archive itself lies beside the box.
struct TBox {
  fs::path root, box, dest, outside, tmp, archive;
};

struct TOutcome {
  int status = -1;
  std::string out, err;
  std::string Text() const { return "exit " + std::to_string(status) + "\nstdout:\n" + out + "stderr:\n" + err; }
};

struct TRow {
  std::string id;            // what the row is about, with its issue item
  std::vector<TItem> items;  // the archive, for every format
  std::vector<TFormat> formats = kAllFormats;
  // Builds the archive instead of `items` (rows whose bytes no writer above makes); empty = items.
  std::function<std::string(TFormat)> build;
  std::function<void(const TBox&)> plant;                            // puts things into the box before the run
  std::string args;                                                  // more arguments of `x` ("-o")
  int exit = 1;                                                      // exit status of `x`
  std::vector<std::string> says;                                     // texts the messages of `x` hold
  int testExit = 0;                                                  // exit status of `t`; -1 = not checked
  std::vector<std::string> testSays;                                 // texts the messages of `t` hold
  std::function<void(const TBox&, TFormat, const TOutcome&)> check;  // more checks after `x`
  // A row that runs steps of its own instead (the writing side, killed runs); `items` unused.
  std::function<void(TFormat)> run;
};

// One file, folder or link in the box as a comparable line (links not followed; contents of files).
std::map<std::string, std::string> Snapshot(const fs::path& top) {
  std::map<std::string, std::string> out;
  std::error_code ec;
  auto add = [&](const fs::path& p) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) return;
    char when[40];
    std::snprintf(when, sizeof when, "%lld.%09ld", static_cast<long long>(st.st_mtim.tv_sec), st.st_mtim.tv_nsec);
    std::string line = std::to_string(st.st_mode) + " " + when;
    if (S_ISREG(st.st_mode)) line += " " + testenv::ReadFile(p);
    if (S_ISLNK(st.st_mode)) line += " -> " + fs::read_symlink(p, ec).string();
    out[p.lexically_relative(top).generic_string()] = line;
  };
  add(top);
  for (auto it = fs::recursive_directory_iterator(top, fs::directory_options::none, ec);
       it != fs::recursive_directory_iterator(); it.increment(ec))
    add(it->path());
  return out;
}

std::string Tandor() { return (testenv::ProgramDir() / "tandor").string(); }

TOutcome RunTandor(const TBox& b, const std::string& args) {
  TOutcome o;
  const fs::path errFile = b.root / "stderr.txt";
  o.status = testenv::Run("cd " + Quote(b.root.string()) + " && TMPDIR=" + Quote(b.tmp.string()) + " " +
                              Quote(Tandor()) + " " + args + " 2>" + Quote(errFile.string()) + " </dev/null",
                          &o.out);
  o.err = testenv::ReadFile(errFile);
  fs::remove(errFile);
  return o;
}

TBox MakeBox(TFormat f, const std::string& bytes) {
  TBox b;
  b.root = testenv::MakeTempDir("hostile");
  b.box = b.root / "box";
  b.dest = b.box / "dest";
  b.outside = b.box / "outside";
  b.tmp = b.box / "tmp";
  b.archive = b.root / (std::string("hostile") + Extension(f));
  fs::create_directories(b.dest);
  fs::create_directories(b.outside / "etc");
  fs::create_directories(b.tmp);
  testenv::WriteFile(b.outside / "secret", "secret");
  testenv::WriteFile(b.outside / "etc/passwd", "root:x:0:0");
  ::chmod(b.dest.c_str(), 0750);
  testenv::WriteFile(b.archive, bytes);
  return b;
}

// Everything that changed in the box outside the destination; the destination itself may only
// gain entries (its mode stays, its time never moves back).
std::vector<std::string> ChangesOutside(const std::map<std::string, std::string>& before,
                                        const std::map<std::string, std::string>& after, bool destToo) {
  std::vector<std::string> changes;
  auto inDest = [&](const std::string& p) { return !destToo && p.rfind("dest/", 0) == 0; };
  for (const auto& [p, line] : after) {
    if (inDest(p)) continue;
    auto it = before.find(p);
    if (it == before.end()) {
      changes.push_back("new: " + p);
    } else if (it->second != line) {
      if (p == "dest" && !destToo) {
        const auto mode = [](const std::string& l) { return l.substr(0, l.find(' ')); };
        const auto time = [](const std::string& l) { return l.substr(l.find(' ') + 1); };
        if (mode(it->second) == mode(line) && time(line) >= time(it->second)) continue;
      }
      changes.push_back("changed: " + p + " (" + it->second + " => " + line + ")");
    }
  }
  for (const auto& [p, line] : before)
    if (!inDest(p) && !after.count(p)) changes.push_back("gone: " + p);
  return changes;
}

// Links in the destination that lead outside it, followed as the system would (links planted
// before the run, listed in `before`, aside).
std::vector<std::string> LinksLeadingOut(const fs::path& box, const fs::path& dest,
                                         const std::map<std::string, std::string>& before) {
  std::vector<std::string> out;
  std::error_code ec;
  const fs::path real = fs::canonical(dest, ec);
  for (auto it = fs::recursive_directory_iterator(dest, ec); it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (!it->is_symlink() || before.count(it->path().lexically_relative(box).generic_string())) continue;
    const fs::path where = fs::weakly_canonical(it->path(), ec);
    const std::string rel = where.lexically_relative(real).generic_string();
    if (ec || rel.empty() || rel.rfind("..", 0) == 0) out.push_back(it->path().lexically_relative(dest).string());
  }
  return out;
}

bool Has(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

bool WritableBy(TFormat f, const TItem& it) {
  switch (it.kind) {
    case TItem::HardLink:
      return f == TFormat::Tar || f == TFormat::TarGz || f == TFormat::Rar5;
    case TItem::Folder:
    case TItem::Fifo:
    case TItem::Device:
      return f != TFormat::Gz;
    default:
      return f != TFormat::Gz;
  }
}

std::string DeepLink() { return "a/b/c/d/e/f/g/h/i/j/l"; }
std::string TenUp() {
  std::string s;
  for (int i = 0; i < 10; ++i) s += "../";
  return s;
}

// Starts `cmd` through the shell and kills it (SIGKILL) as soon as it holds a descriptor that
// `isOutput` accepts (by the path /proc shows for it); false when it never did.
bool RunAndKillWhenWriting(const std::string& cmd, const std::function<bool(const std::string&)>& isOutput) {
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  bool seen = false;
  const auto start = std::chrono::steady_clock::now();
  while (!seen && std::chrono::steady_clock::now() - start < std::chrono::seconds(60)) {
    if (::waitpid(pid, nullptr, WNOHANG) == pid) return false;  // done before it was seen writing
    std::error_code ec;
    for (auto it = fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec);
         !ec && it != fs::directory_iterator(); it.increment(ec)) {
      const std::string target = fs::read_symlink(it->path(), ec).string();
      if (!ec && isOutput(target)) seen = true;
    }
    if (!seen) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  return seen;
}

// Issue 14 item 12: a run killed in the middle of a big file leaves nothing under its real name;
// the next run into the same destination removes what it left. With and without O_TMPFILE.
void KilledExtraction(TFormat format) {
  static const std::string content = [] {
    std::string c;
    for (size_t i = 0; c.size() < (size_t(48) << 20); ++i)
      c += "line " + std::to_string(i % 1000) + " of the big file\n";
    return c;
  }();
  for (const bool fallback : {false, true}) {
    SCOPED_TRACE(fallback ? "without O_TMPFILE" : "O_TMPFILE");
    const TBox b = MakeBox(format, Make(format, {F("big.txt", content)}));
    std::string env = fallback ? "TANDOR_SAFEOUT_FALLBACK=1 " : "";
    const std::string cmd = "cd " + Quote(b.root.string()) + " && " + env + "TANDOR_UNZENG_MEMORY=0 exec " +
                            Quote(Tandor()) + " x -q " + Quote(b.archive.string()) + " -d " + Quote(b.dest.string()) +
                            " >/dev/null 2>&1";
    // Killed as soon as it has its output open; a run that ends before it is seen writing is tried again.
    bool seen = false;
    for (int attempt = 0; attempt < 5 && !seen; ++attempt) {
      fs::remove_all(b.dest);
      fs::create_directories(b.dest);
      seen = RunAndKillWhenWriting(
          cmd, [&](const std::string& target) { return target.rfind(b.dest.string() + "/", 0) == 0; });
    }
    ASSERT_TRUE(seen) << "the run never opened its output";
    if (fs::exists(b.dest / "big.txt")) {
      EXPECT_EQ(testenv::ReadFile(b.dest / "big.txt"), content) << "a file under its real name is complete";
    }
    for (const std::string& left : testenv::ListTree(b.dest)) {
      long pidOf = 0;
      EXPECT_TRUE(left == "big.txt" || safeout::IsTemporaryName(left, pidOf)) << left;
    }
    // The next run completes and leaves none of our temporaries.
    const TOutcome again = RunTandor(b, "x -q -o " + Quote(b.archive.string()) + " -d " + Quote(b.dest.string()));
    EXPECT_EQ(again.status, 0) << again.Text();
    EXPECT_EQ(testenv::ListTree(b.dest), std::vector<std::string>{"big.txt"});
    EXPECT_EQ(testenv::ReadFile(b.dest / "big.txt"), content);
  }
}

// Unpacks `archive` with the peer tool into `into`.
int PeerExtract(TFormat f, const fs::path& archive, const fs::path& into) {
  fs::create_directories(into);
  const std::string a = Quote(archive.string()), d = Quote(into.string());
  return testenv::Run(f == TFormat::Zip ? "unzip -qq " + a + " -d " + d + " 2>&1"
                                        : "tar xf " + a + " -C " + d + " 2>&1");
}

// Issue 14 item 7: adding never follows a symbolic link; each is stored as a link (a link to "/"
// must not walk the file system, a link to a folder outside must not bring its files in). A gzip
// file holds one regular file: a link given to it is refused.
void AddingStoresLinks(TFormat f) {
  const TBox b = MakeBox(f, "");
  const fs::path src = b.root / "src";
  testenv::WriteFile(src / "a.txt", "file");
  fs::create_directory_symlink("/", src / "root");
  fs::create_directory_symlink(b.outside / "etc", src / "etc");
  fs::create_symlink("a.txt", src / "rel");
  fs::create_symlink("nowhere", src / "gone");
  fs::remove(b.archive);
  if (f == TFormat::Gz) {
    for (const char* link : {"src/root", "src/etc"}) {
      const TOutcome add = RunTandor(b, "a " + Quote(b.archive.string()) + " " + link);
      EXPECT_NE(add.status, 0) << link << "\n" << add.Text();
      EXPECT_FALSE(fs::exists(b.archive)) << link << "\n" << add.Text();
    }
    return;
  }
  const TOutcome add = RunTandor(b, "a -r " + Quote(b.archive.string()) + " src");
  ASSERT_EQ(add.status, 0) << add.Text();
  EXPECT_LT(fs::file_size(b.archive), 64u * 1024) << "only the tree itself";
  const fs::path peer = b.root / "peer";
  ASSERT_EQ(PeerExtract(f, b.archive, peer), 0);
  EXPECT_EQ(fs::read_symlink(peer / "src/root"), "/");
  EXPECT_EQ(fs::read_symlink(peer / "src/etc"), b.outside / "etc");
  EXPECT_EQ(fs::read_symlink(peer / "src/rel"), "a.txt");
  EXPECT_EQ(fs::read_symlink(peer / "src/gone"), "nowhere");
  EXPECT_EQ(testenv::ReadFile(peer / "src/a.txt"), "file");
  // Our own extraction makes the links that stay inside and refuses the others.
  const TOutcome x = RunTandor(b, "x " + Quote(b.archive.string()) + " -d " + Quote(b.dest.string()));
  EXPECT_EQ(x.status, 1) << x.Text();
  EXPECT_TRUE(Has(x.err, "src/root")) << x.Text();
  EXPECT_EQ(fs::read_symlink(b.dest / "src/rel"), "a.txt");
  EXPECT_FALSE(fs::is_symlink(b.dest / "src/root"));
  EXPECT_FALSE(fs::is_symlink(b.dest / "src/etc"));
}

// Issue 14 item 17: an archive made again in the folder it archives never holds its earlier self;
// a gzip file of itself is refused and left as it was.
void NoArchiveAddsItself(TFormat f) {
  const fs::path dir = testenv::MakeTempDir("self");
  testenv::WriteFile(dir / "data.txt", "data");
  const TBox b{dir, dir, dir, dir, dir, dir};
  if (f == TFormat::Gz) {
    ASSERT_EQ(RunTandor(b, "a data.txt.gz data.txt").status, 0);
    const std::string before = testenv::ReadFile(dir / "data.txt.gz");
    const TOutcome self = RunTandor(b, "a data.txt.gz data.txt.gz");
    EXPECT_NE(self.status, 0) << self.Text();
    EXPECT_EQ(testenv::ReadFile(dir / "data.txt.gz"), before);
    return;
  }
  const std::string name = std::string("s") + Extension(f);
  for (int run = 0; run < 2; ++run) {
    const TOutcome add = RunTandor(b, "a -r " + name + " .");
    ASSERT_TRUE(add.status == 0 || run == 1) << add.Text();
  }
  const TOutcome list = RunTandor(b, "l " + name);
  ASSERT_EQ(list.status, 0) << list.Text();
  EXPECT_TRUE(Has(list.out, "data.txt")) << list.Text();
  EXPECT_FALSE(Has(list.out, name)) << list.Text();
}

// Issue 14 item 13: a creation killed half way leaves nothing under the archive's name and no part
// of its own behind (or one that the next run beside it removes).
void KilledCreation(TFormat f) {
  for (const bool fallback : {false, true}) {
    SCOPED_TRACE(fallback ? "without O_TMPFILE" : "O_TMPFILE");
    const TBox b = MakeBox(f, "");
    fs::remove(b.archive);
    testenv::WriteFile(b.root / "src/big.bin", testenv::RandomBytes(size_t(64) << 20, 7));
    const std::string what = f == TFormat::Gz ? " src/big.bin" : " src";
    const std::string cmd = "cd " + Quote(b.root.string()) + " && " + (fallback ? "TANDOR_SAFEOUT_FALLBACK=1 " : "") +
                            "exec " + Quote(Tandor()) + " a -q -r -1 " + Quote(b.archive.string()) + what +
                            " >/dev/null 2>&1";
    // Its output: unnamed ("root/#123 (deleted)") or a hidden temporary beside the archive.
    // A run that ends before it is seen writing is tried again.
    bool seen = false;
    for (int attempt = 0; attempt < 5 && !seen; ++attempt) {
      fs::remove(b.archive);
      seen = RunAndKillWhenWriting(cmd, [&](const std::string& target) {
        return target.rfind(b.root.string() + "/", 0) == 0 && target.find("/src/") == std::string::npos;
      });
    }
    ASSERT_TRUE(seen) << "the run never opened its archive";
    for (const std::string& left : testenv::ListTree(b.root)) {
      if (left.rfind("src", 0) == 0 || left.rfind("box", 0) == 0) continue;
      long pidOf = 0;
      EXPECT_TRUE(safeout::IsTemporaryName(left, pidOf)) << left << " left by a killed run";
    }
    const TOutcome again = RunTandor(b, "a -q -r -1 " + Quote(b.archive.string()) + what);
    EXPECT_EQ(again.status, 0) << again.Text();
    for (const std::string& left : testenv::ListTree(b.root)) {
      long pidOf = 0;
      EXPECT_FALSE(safeout::IsTemporaryName(left, pidOf)) << left << " still there after the next run";
    }
    EXPECT_TRUE(fs::exists(b.archive));
  }
}

// A tar header whose size field is replaced by `field` (12 bytes), its checksum made to fit.
std::string WithSizeField(std::string h, const std::string& field) {
  h.replace(124, 12, field);
  std::memset(h.data() + 148, ' ', 8);
  unsigned sum = 0;
  for (unsigned char c : h) sum += c;
  std::snprintf(h.data() + 148, 8, "%06o", sum & 0777777u);
  h[155] = ' ';
  return h;
}

// A tar (or tar.gz) of first.txt, `middle`, then good.txt.
std::function<std::string(TFormat)> TarAround(const std::string& middle) {
  return [middle](TFormat f) {
    const std::string tar = TarHeader("first.txt", '0', "", 4, 0644) + TarBlockPad("one\n") + middle +
                            TarHeader("good.txt", '0', "", 7, 0644) + TarBlockPad("payload") + std::string(1024, '\0');
    return f == TFormat::TarGz ? Gzip(tar, "hostile.tar") : tar;
  };
}

void Put(std::string& s, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s += char((v >> (8 * i)) & 0xFF);
}

// A zip whose first entry declares 2^64 - 1 bytes in its Zip64 block (the real data is small), then
// good.txt.
std::string ZipWithHugeSize() {
  struct E {
    std::string name, plain, extra;
    bool huge;
  };
  const E entries[] = {{"huge.bin", std::string(1000, 'h'), "", true}, {"good.txt", "payload", "", false}};
  std::string out, dir;
  for (const E& e : entries) {
    const std::string data = unzengtest::RawDeflate(e.plain);
    std::string extra;
    if (e.huge) {
      Put(extra, 1, 2);
      Put(extra, 16, 2);
      Put(extra, UINT64_MAX, 8);
      Put(extra, data.size(), 8);
    }
    const uint64_t csize = e.huge ? 0xFFFFFFFFu : data.size(), usize = e.huge ? 0xFFFFFFFFu : e.plain.size();
    const uint64_t offset = out.size();
    auto common = [&](std::string& r) {
      Put(r, 45, 2);
      Put(r, 0, 2);
      Put(r, 8, 2);
      Put(r, 0, 2);
      Put(r, 0x5921, 2);
      Put(r, unzengtest::Crc32(e.plain), 4);
      Put(r, csize, 4);
      Put(r, usize, 4);
      Put(r, e.name.size(), 2);
      Put(r, extra.size(), 2);
    };
    Put(out, 0x04034b50, 4);
    common(out);
    out += e.name + extra + data;
    Put(dir, 0x02014b50, 4);
    Put(dir, (3 << 8) | 45, 2);
    common(dir);
    Put(dir, 0, 2 + 2 + 2);
    Put(dir, 0100644u << 16, 4);
    Put(dir, offset, 4);
    dir += e.name + extra;
  }
  const uint64_t dirOffset = out.size();
  out += dir;
  Put(out, 0x06054b50, 4);
  Put(out, 0, 4);
  Put(out, 2, 2);
  Put(out, 2, 2);
  Put(out, dir.size(), 4);
  Put(out, dirOffset, 4);
  Put(out, 0, 2);
  return out;
}

std::vector<TRow> Rows() {
  std::vector<TRow> rows;
  auto add = [&rows](std::string id, std::vector<TItem> items) -> TRow& {
    rows.emplace_back();
    rows.back().id = std::move(id);
    rows.back().items = std::move(items);
    return rows.back();
  };
  const std::vector<TFormat> linkFormats = {TFormat::Zip, TFormat::Tar, TFormat::TarGz, TFormat::Rar4, TFormat::Rar5};
  const std::vector<TFormat> folderFormats = {TFormat::Zip, TFormat::Tar, TFormat::TarGz, TFormat::Rar4, TFormat::Rar5};

  TRow* r = &add("traversal in every spelling",
                 {F("../evil1"), F("..\\evil2"), F("/abs/evil3"), F("C:\\win\\evil4"), F("C:evil5"), F("a/../../evil6"),
                  F("\\\\server\\share\\evil7"), F("./../evil8"), F("x/y/../../../../evil9"), F("good.txt")});
  r->says = {"unsafe path elements removed", "../evil1", "x/y/../../../../evil9"};
  r->check = [](const TBox& b, TFormat f, const TOutcome& o) {
    if (f == TFormat::Gz) {
      EXPECT_EQ(testenv::ReadFile(b.dest / "evil1"), "payload") << o.Text();
      return;
    }
    for (const char* p : {"evil1", "evil2", "abs/evil3", "win/evil4", "evil5", "a/evil6", "server/share/evil7", "evil8",
                          "x/y/evil9", "good.txt"})
      EXPECT_TRUE(fs::exists(b.dest / p)) << p << "\n" << o.Text();
  };

  r = &add("links out of the destination",
           {L("up", "../outside"), L("abs", "/etc"), L("deep/up2", "../../outside"), L("climb", "sub/../../outside"),
            F("up/pwned"), F("abs/pwned"), F("good.txt")});
  r->formats = linkFormats;
  r->says = {"outside the destination"};
  r->check = [](const TBox& b, TFormat, const TOutcome& o) {
    for (const char* refused : {"up", "abs", "deep/up2", "climb"})
      EXPECT_FALSE(fs::is_symlink(b.dest / refused)) << refused << "\n" << o.Text();
    EXPECT_TRUE(fs::exists(b.dest / "good.txt")) << o.Text();
  };

  // Issue 14 item 1: each link looks harmless by its text; resolved with the earlier ones it leads up.
  std::vector<TItem> chain = {L("l0", ".")};
  for (int i = 1; i <= 15; ++i) chain.push_back(L("l" + std::to_string(i), "l" + std::to_string(i - 1) + "/.."));
  chain.push_back(L("pw", "l15/outside/etc/passwd"));
  chain.push_back(F("pw/x"));
  chain.push_back(F("good.txt"));
  r = &add("link chain (14.1)", chain);
  r->formats = linkFormats;
  r->says = {"l1", "outside the destination"};
  r->check = [](const TBox& b, TFormat, const TOutcome& o) {
    EXPECT_TRUE(fs::exists(b.dest / "good.txt")) << o.Text();
  };

  r = &add("links planted in the destination before extraction (14.4)",
           {F("out/x", "through a link"), F("f", "replaces the link"), F("h", "replaces the hard link"), F("loop/y"),
            L("via", "out/secret"), F("good.txt")});
  r->formats = linkFormats;
  r->plant = [](const TBox& b) {
    fs::create_directory_symlink(b.outside, b.dest / "out");
    fs::create_symlink(b.outside / "secret", b.dest / "f");
    fs::create_hard_link(b.outside / "etc/passwd", b.dest / "h");
    fs::create_directory_symlink("../dest", b.dest / "loop");
  };
  r->args = "-o";
  r->says = {"out/x", "outside the destination"};
  r->check = [](const TBox& b, TFormat, const TOutcome& o) {
    EXPECT_FALSE(fs::is_symlink(b.dest / "f")) << o.Text();
    EXPECT_EQ(testenv::ReadFile(b.dest / "f"), "replaces the link") << o.Text();
    EXPECT_EQ(testenv::ReadFile(b.dest / "h"), "replaces the hard link") << o.Text();
    EXPECT_FALSE(fs::is_symlink(b.dest / "via")) << o.Text();
    EXPECT_TRUE(fs::exists(b.dest / "good.txt")) << o.Text();
  };

  // The same for every format, gzip too: the one file a run writes never goes through a link or a
  // hard link that was at its name (14.4).
  r = &add("a planted link at a file's name is replaced (14.4)", {F("f", "replaces the link")});
  r->plant = [](const TBox& b) { fs::create_symlink(b.outside / "secret", b.dest / "f"); };
  r->args = "-o";
  r->exit = 0;
  r->check = [](const TBox& b, TFormat, const TOutcome& o) {
    EXPECT_FALSE(fs::is_symlink(b.dest / "f")) << o.Text();
    EXPECT_EQ(testenv::ReadFile(b.dest / "f"), "replaces the link") << o.Text();
  };
  r = &add("a planted hard link at a file's name is replaced (14.4)", {F("h", "replaces the hard link")});
  r->plant = [](const TBox& b) { fs::create_hard_link(b.outside / "etc/passwd", b.dest / "h"); };
  r->args = "-o";
  r->exit = 0;
  r->check = [](const TBox& b, TFormat, const TOutcome& o) {
    EXPECT_EQ(testenv::ReadFile(b.dest / "h"), "replaces the hard link") << o.Text();
  };

  r = &add("hard link to a deep symlink (14.2)",
           {L(DeepLink(), TenUp() + "outside/secret"), H("pw", DeepLink()), F("good.txt")});
  r->formats = {TFormat::Tar, TFormat::TarGz, TFormat::Rar5};
  r->says = {"pw"};
  r->check = [](const TBox& b, TFormat, const TOutcome& o) {
    EXPECT_TRUE(fs::is_symlink(b.dest / DeepLink())) << "inside from ten folders down\n" << o.Text();
    EXPECT_FALSE(fs::exists(fs::symlink_status(b.dest / "pw"))) << o.Text();
    EXPECT_TRUE(fs::exists(b.dest / "good.txt")) << o.Text();
  };

  TItem mdata = F("mdata", "folder mode with data");
  mdata.mode = 040777;  // a folder mode on an entry with data: a file
  r = &add("entries that name the destination itself (14.3, 14.9)",
           {D("m", 040777), L("k", "."), D("k/", 040777), D("./", 040777), D("old/", 040777), mdata, F("good.txt")});
  r->formats = folderFormats;
  r->plant = [](const TBox& b) {
    fs::create_directories(b.dest / "old");
    ::chmod((b.dest / "old").c_str(), 0750);
  };
  r->exit = 0;
  r->check = [](const TBox& b, TFormat f, const TOutcome& o) {
    struct stat st {};
    ASSERT_EQ(::stat((b.dest / "old").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0750u) << "a folder that was there keeps its mode\n" << o.Text();
    EXPECT_TRUE(fs::is_directory(b.dest / "m")) << o.Text();
    if (f == TFormat::Zip) {
      EXPECT_EQ(testenv::ReadFile(b.dest / "mdata"), "folder mode with data");
    }
    EXPECT_TRUE(fs::exists(b.dest / "good.txt")) << o.Text();
  };

  r = &add("folder dates (14.8)", {D("dated/"), F("dated/file.txt")});
  r->formats = folderFormats;
  r->exit = 0;
  r->check = [](const TBox& b, TFormat, const TOutcome& o) {
    struct stat folder {
    }, file{};
    ASSERT_EQ(::stat((b.dest / "dated").c_str(), &folder), 0);
    ASSERT_EQ(::stat((b.dest / "dated/file.txt").c_str(), &file), 0);
    EXPECT_EQ(folder.st_mtime, file.st_mtime) << "the folder carries its entry's date\n" << o.Text();
    EXPECT_GT(folder.st_mtime, 1500000000) << o.Text();
  };

  r = &add("duplicate names, file and folder",
           {F("dup", "first"), D("dup/"), F("dup/x"), D("d2/"), F("d2", "file over a folder"), F("twice", "one"),
            F("twice", "two"), F("good.txt")});
  r->formats = folderFormats;
  r->args = "-o";
  r->says = {"d2"};
  r->check = [](const TBox& b, TFormat, const TOutcome& o) {
    EXPECT_TRUE(fs::is_directory(b.dest / "d2")) << o.Text();
    EXPECT_EQ(testenv::ReadFile(b.dest / "twice"), "two") << o.Text();
    EXPECT_TRUE(fs::exists(b.dest / "good.txt")) << o.Text();
  };

  r = &add("device and FIFO entries", {{TItem::Fifo, "fifo", "", 0}, {TItem::Device, "dev", "", 0}, F("good.txt")});
  r->formats = folderFormats;
  r->says = {"fifo", "dev"};
  r->check = [](const TBox& b, TFormat, const TOutcome& o) {
    EXPECT_FALSE(fs::exists(fs::symlink_status(b.dest / "fifo"))) << o.Text();
    EXPECT_FALSE(fs::exists(fs::symlink_status(b.dest / "dev"))) << o.Text();
    EXPECT_TRUE(fs::exists(b.dest / "good.txt")) << o.Text();
  };

  TItem setUid = F("suid", "set-UID"), setGid = F("sgid", "set-GID");
  setUid.mode = 0104755;
  setGid.mode = 0102755;
  r = &add("set-UID and set-GID bits are dropped", {setUid, setGid, D("sdir/", 042755), F("sdir/x")});
  r->formats = folderFormats;
  r->exit = 0;
  r->check = [](const TBox& b, TFormat, const TOutcome& o) {
    for (const char* p : {"suid", "sgid", "sdir"}) {
      struct stat st {};
      ASSERT_EQ(::stat((b.dest / p).c_str(), &st), 0) << p << "\n" << o.Text();
      EXPECT_EQ(st.st_mode & 06000, 0u) << p << "\n" << o.Text();
    }
  };

  r = &add("control characters in names (14.15)", {F("new\nline.txt"), F("esc\x1b[31m.txt"), F("good.txt")});
  r->says = {"new^Jline.txt"};
  r->check = [](const TBox& b, TFormat f, const TOutcome& o) {
    EXPECT_TRUE(fs::exists(b.dest / "new_line.txt")) << o.Text();
    EXPECT_FALSE(Has(o.err,
                     "\n"
                     "line") ||
                 Has(o.err, "\x1b"))
        << "raw in messages\n"
        << o.Text();
    if (f == TFormat::Gz) return;
    EXPECT_TRUE(Has(o.err, "esc^[[31m.txt")) << o.Text();
    EXPECT_TRUE(fs::exists(b.dest / "esc_[31m.txt")) << o.Text();
    const TOutcome list = RunTandor(b, "l " + Quote(b.archive.string()));
    EXPECT_TRUE(Has(list.out, "new^Jline.txt")) << list.Text();
    EXPECT_TRUE(Has(list.out, "esc^[[31m.txt")) << list.Text();
    EXPECT_FALSE(Has(list.out, "\x1b")) << list.Text();
  };

  r = &add("a zero byte in a name (14.15)", {F(std::string("a\0b.txt", 7)), F("good.txt")});
  r->formats = {TFormat::Zip, TFormat::Tar, TFormat::TarGz};
  r->says = {"zero byte"};
  r->testExit = -1;
  r->check = [](const TBox& b, TFormat, const TOutcome& o) {
    EXPECT_FALSE(Has(o.err, "tandor: ok")) << o.Text();
    EXPECT_FALSE(fs::exists(b.dest / "a")) << o.Text();
    EXPECT_TRUE(fs::exists(b.dest / "good.txt")) << o.Text();
  };

  r = &add("a locked folder, and testing writes nothing (14.5)",
           {D("locked/", 040000), F("locked/inside.txt"), F("good.txt")});
  r->formats = folderFormats;
  r->exit = -1;

  // Testing a small archive of much data needs no room anywhere (14.5).
  r = &add("six megabytes of zeros: testing writes nothing (14.5)", {F("zeros", std::string(6 << 20, '\0'))});
  r->exit = 0;
  r->testSays = {"no errors"};
  r->check = [](const TBox& b, TFormat, const TOutcome& o) {
    EXPECT_EQ(fs::file_size(b.dest / "zeros"), 6u << 20) << o.Text();
  };

  // A folder mode on an entry with data: a file, as Info-ZIP unzip writes it, and tested (14.9).
  TItem modeData = F("mdata", "folder mode with data");
  modeData.mode = 040777;
  r = &add("an entry with a folder mode and data is a file (14.9)", {modeData, F("good.txt")});
  r->formats = {TFormat::Zip, TFormat::Tar, TFormat::TarGz, TFormat::Rar4, TFormat::Rar5};
  r->exit = 0;
  r->testSays = {"2 files tested"};
  r->check = [](const TBox& b, TFormat, const TOutcome& o) {
    EXPECT_EQ(testenv::ReadFile(b.dest / "mdata"), "folder mode with data") << o.Text();
    EXPECT_TRUE(fs::exists(b.dest / "good.txt")) << o.Text();
  };

  // Issue 14 item 14: a damaged entry is reported and the run goes on; the damaged data is not left
  // under the entry's name. Tar has no check value per entry: the tar.gz stream's CRC is damaged.
  r = &add("a damaged entry does not end the run (14.14)", {Bad("bad.txt"), F("good.txt")});
  r->formats = {TFormat::Zip, TFormat::TarGz, TFormat::Gz, TFormat::Rar4, TFormat::Rar5};
  r->testExit = 1;
  r->check = [](const TBox& b, TFormat f, const TOutcome& o) {
    if (f == TFormat::TarGz) {
      EXPECT_TRUE(Has(o.err, "crc") || Has(o.err, "CRC")) << o.Text();
      EXPECT_TRUE(fs::exists(b.dest / "good.txt")) << o.Text();
      return;
    }
    EXPECT_TRUE(Has(o.err, "bad.txt")) << o.Text();
    EXPECT_FALSE(fs::exists(b.dest / "bad.txt")) << o.Text();
    if (f != TFormat::Gz) {
      EXPECT_TRUE(fs::exists(b.dest / "good.txt")) << o.Text();
    }
  };

  // The writing side: rows that run steps of their own. RAR archives are not made here.
  const std::vector<TFormat> madeFormats = {TFormat::Zip, TFormat::Tar, TFormat::TarGz, TFormat::Gz};
  add("a killed extraction leaves no partial file (14.12)", {}).run = KilledExtraction;
  r = &add("adding stores symbolic links as links (14.7)", {});
  r->formats = madeFormats;
  r->run = AddingStoresLinks;
  r = &add("no archive adds itself (14.17)", {});
  r->formats = madeFormats;
  r->run = NoArchiveAddsItself;
  r = &add("a killed creation leaves no part (14.13)", {});
  r->formats = madeFormats;
  r->run = KilledCreation;
  // Tar headers that peers read past (an empty name) or refuse as damage (a size that is no number,
  // is negative, or is beyond 64 bits; base-256 sizes overflowed before).
  r = &add("a tar header without a name (14.10)", {});
  r->formats = {TFormat::Tar, TFormat::TarGz};
  r->build = TarAround(TarHeader("", '0', "", 9, 0644) + TarBlockPad("nameless\n"));
  r->says = {"an entry without a name"};
  r->check = [](const TBox& b, TFormat, const TOutcome& o) {
    EXPECT_EQ(testenv::ReadFile(b.dest / "first.txt"), "one\n") << o.Text();
    EXPECT_EQ(testenv::ReadFile(b.dest / "good.txt"), "payload") << "the entries after it are read\n" << o.Text();
  };
  const std::pair<const char*, std::string> badSizes[] = {
      {"a tar size field zzzz (14.16)", std::string("zzzz\0\0\0\0\0\0\0\0", 12)},
      {"a negative tar size (16.4)", std::string("\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xf0", 12)},
      {"a base-256 tar size beyond 64 bits (14.19)", std::string("\x80\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff", 12)},
  };
  for (const auto& [id, field] : badSizes) {
    r = &add(id, {});
    r->formats = {TFormat::Tar, TFormat::TarGz};
    r->build = TarAround(WithSizeField(TarHeader("bad.txt", '0', "", 4, 0644), field) + TarBlockPad("data"));
    r->says = {"Bad size field in the header at offset 1024: the archive is damaged"};
    r->testExit = 1;
    r->check = [](const TBox& b, TFormat, const TOutcome& o) {
      EXPECT_EQ(testenv::ReadFile(b.dest / "first.txt"), "one\n") << o.Text();
      EXPECT_FALSE(fs::exists(b.dest / "bad.txt")) << o.Text();
    };
  }

  // Bytes after the gzip data: a warning and exit 1 (as gzip -t); zero padding is no garbage.
  r = &add("garbage after the gzip data (14.16)", {});
  r->formats = {TFormat::Gz, TFormat::TarGz};
  r->build = [](TFormat f) { return Make(f, {F("good.txt")}) + "garbage-here\n"; };
  r->says = {"decompression OK, 13 bytes of trailing garbage ignored"};
  r->testExit = 0;  // `t` says so too; its status stays that of the data, which tested sound
  r->check = [](const TBox& b, TFormat, const TOutcome& o) {
    EXPECT_EQ(testenv::ReadFile(b.dest / "good.txt"), "payload") << o.Text();
  };
  r = &add("zero padding after the gzip data", {});
  r->formats = {TFormat::Gz, TFormat::TarGz};
  r->build = [](TFormat f) { return Make(f, {F("good.txt")}) + std::string(1000, '\0'); };
  r->exit = 0;
  r->check = [](const TBox& b, TFormat, const TOutcome& o) {
    EXPECT_EQ(testenv::ReadFile(b.dest / "good.txt"), "payload") << o.Text();
    EXPECT_FALSE(Has(o.err, "garbage")) << o.Text();
  };

  r = &add("a Zip64 size of 2^64-1 (14.6)", {});
  r->formats = {TFormat::Zip};
  r->build = [](TFormat) { return ZipWithHugeSize(); };
  r->says = {"huge.bin: refused, its declared size 18446744073709551615 is beyond what a file can hold"};
  r->testExit = 1;
  r->check = [](const TBox& b, TFormat, const TOutcome& o) {
    EXPECT_FALSE(fs::exists(b.dest / "huge.bin")) << o.Text();
    EXPECT_EQ(testenv::ReadFile(b.dest / "good.txt"), "payload") << o.Text();
  };
  return rows;
}

// The formats a row runs on: those it names that can write every item it needs.
std::vector<TFormat> FormatsOf(const TRow& row) {
  if (row.run || row.build) return row.formats;
  std::vector<TFormat> out;
  for (TFormat f : row.formats) {
    bool any = false;
    for (const TItem& it : row.items) any |= WritableBy(f, it);
    if (any) out.push_back(f);
  }
  return out;
}

void RunRow(const TRow& row, TFormat f) {
  SCOPED_TRACE(row.id + " / " + FormatName(f));
  if (row.run) {
    row.run(f);
    return;
  }
  std::vector<TItem> items;
  for (const TItem& it : row.items)
    if (WritableBy(f, it) || f == TFormat::Gz) items.push_back(it);
  const std::string bytes = row.build ? row.build(f) : Make(f, items);

  // `t` first: nothing may be written anywhere, not even the destination or TMPDIR.
  {
    TBox b = MakeBox(f, bytes);
    if (row.plant) row.plant(b);
    const auto before = Snapshot(b.box);
    const TOutcome t = RunTandor(b, "t " + Quote(b.archive.string()));
    EXPECT_EQ(ChangesOutside(before, Snapshot(b.box), true), std::vector<std::string>{}) << "t wrote\n" << t.Text();
    if (row.testExit >= 0) {
      EXPECT_EQ(t.status, row.testExit) << t.Text();
    }
    for (const std::string& s : row.testSays)
      EXPECT_TRUE(Has(t.err + t.out, s)) << "missing: " << s << "\n" << t.Text();
  }
  TBox b = MakeBox(f, bytes);
  if (row.plant) row.plant(b);
  const auto before = Snapshot(b.box);
  const TOutcome x = RunTandor(b, "x " + row.args + " " + Quote(b.archive.string()) + " -d " + Quote(b.dest.string()));
  EXPECT_EQ(ChangesOutside(before, Snapshot(b.box), false), std::vector<std::string>{}) << x.Text();
  EXPECT_EQ(LinksLeadingOut(b.box, b.dest, before), std::vector<std::string>{}) << x.Text();
  if (row.exit >= 0) {
    EXPECT_EQ(x.status, row.exit) << x.Text();
  }
  for (const std::string& s : row.says) EXPECT_TRUE(Has(x.err, s)) << "missing: " << s << "\n" << x.Text();
  if (row.check) row.check(b, f, x);
  // Whatever the run did, the folders it leaves can be removed by the user.
  testenv::Run("chmod -R u+rwx " + Quote(b.dest.string()) + " 2>/dev/null");
}

class HostileTable : public ::testing::TestWithParam<TFormat> {};

}  // namespace

TEST_P(HostileTable, EveryRow) {
  for (const TRow& row : Rows()) {
    const auto formats = FormatsOf(row);
    if (std::find(formats.begin(), formats.end(), GetParam()) != formats.end()) RunRow(row, GetParam());
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, HostileTable, ::testing::ValuesIn(kAllFormats), [](const auto& info) {
  std::string n = FormatName(info.param);
  std::replace(n.begin(), n.end(), '.', '_');
  return n;
});
