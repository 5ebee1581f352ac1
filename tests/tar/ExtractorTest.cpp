// Safe extraction: peer archives extract exactly, hostile and broken archives never escape.
#include <sys/stat.h>

#include "TarTestUtil.h"
#include "tar/Gzip.h"
#include "safeout/Destination.h"
#include "tar/TarExtractor.h"

using namespace tartest;
namespace fs = std::filesystem;
using testenv::Quote;

namespace {

// Runs a Python script with tarfile imported; `out` is the archive path.
void PyTar(const fs::path& out, const std::string& body) {
  fs::path script = out.string() + ".py";
  testenv::WriteFile(script, "import tarfile, io, sys\nt = tarfile.open(sys.argv[1], 'w')\n"
                             "def add(name, data=b'', **kw):\n"
                             "    i = tarfile.TarInfo(name)\n"
                             "    i.size = len(data)\n"
                             "    for k, v in kw.items(): setattr(i, k, v)\n"
                             "    t.addfile(i, io.BytesIO(data) if data else None)\n" +
                             body + "\nt.close()\n");
  Sh("python3 " + Quote(script.string()) + " " + Quote(out.string()));
}

}  // namespace

TEST(TarExtract, PeerArchivesExtractExactly) {
  fs::path src = testenv::MakeTempDir("xsrc");
  auto samples = MakeTree(src, true, true);
  fs::path dir = testenv::MakeTempDir("xarch");
  std::string names;
  for (const auto& s : samples)
    if (s.name.find('/') == std::string::npos) names.append(" ").append(Quote(s.name));
  std::string cd = "cd " + Quote(src.string()) + " && ";
  std::vector<std::pair<std::string, std::string>> archives = {
      {"gnu.tar", "tar --format=gnu -cf"},   {"pax.tar", "tar --format=pax -cf"},
      {"bsd.tar", "bsdtar -cf"},             {"gnu.tar.gz", "tar czf"},
      {"bsd.tgz", "bsdtar -czf"},
  };
  for (const auto& [name, command] : archives) {
    SCOPED_TRACE(name);
    Sh(cd + command + " " + Quote((dir / name).string()) + names);
    fs::path out = testenv::MakeTempDir("xout");
    TTarExtractor x;
    int64_t lastDone = -1, lastTotal = 0;
    x.OnProgress = [&](int64_t done, int64_t total, const std::string&) {
      EXPECT_GE(done, lastDone);
      lastDone = done;
      lastTotal = total;
    };
    auto r = x.Extract((dir / name).string(), out.string());
    EXPECT_TRUE(r.Ok) << r.Error;
    EXPECT_TRUE(r.Warnings.empty()) << r.Warnings.front();
    EXPECT_EQ(r.Links, 2);
    EXPECT_EQ(lastDone, lastTotal);
    ExpectSameTree(src, out);
    // Folder times are restored after their contents were written.
    struct stat st {};
    ASSERT_EQ(stat((out / "docs").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1600000000);
  }
  EXPECT_TRUE(IsTarGzContent((dir / "gnu.tar.gz").string()));
  EXPECT_FALSE(IsTarGzContent((dir / "gnu.tar").string()));
}

TEST(TarExtract, HostileEntriesStayInside) {
  fs::path base = testenv::MakeTempDir("hostile");
  fs::path outside = base / "outside";
  fs::create_directories(outside);
  testenv::WriteFile(outside / "victim.txt", "original");
  fs::path dest = base / "dest";
  fs::create_directories(dest / "pre");
  fs::create_symlink(outside, dest / "pre" / "out");          // a link already in the destination
  fs::create_symlink(outside / "victim.txt", dest / "v.txt");  // a file name that is a link to outside
  fs::path tar = base / "evil.tar";
  std::string o = outside.string();
  PyTar(tar, "add('../x', b'dotdot')\n"
             "add('/abs/y', b'absolute')\n"
             "add('root', type=tarfile.SYMTYPE, linkname='/')\n"
             "add('root/etc/z', b'below root link')\n"
             "add('esc', type=tarfile.SYMTYPE, linkname='" + o + "')\n"
             "add('esc/w', b'through absolute link')\n"
             "add('up', type=tarfile.SYMTYPE, linkname='../..')\n"
             "add('up/u', b'through relative link')\n"
             "add('sub/twist', type=tarfile.SYMTYPE, linkname='../sub/../..')\n"
             "add('hard', type=tarfile.LNKTYPE, linkname='/etc/passwd')\n"
             "add('hard2', type=tarfile.LNKTYPE, linkname='" + o + "/victim.txt')\n"
             "add('pre/out/p', b'through existing link')\n"
             "add('v.txt', b'replaces the link, not its target')\n"
             "add('suid', b'#!/bin/sh', mode=0o4755)\n"
             "add('fifo', type=tarfile.FIFOTYPE)\n"
             "add('dev', type=tarfile.CHRTYPE, devmajor=1, devminor=3)\n"
             "add('ok/inside', type=tarfile.SYMTYPE, linkname='../x')\n");
  TTarExtractor x;
  auto r = x.Extract(tar.string(), dest.string());
  EXPECT_TRUE(r.Ok) << r.Error;
  // Nothing changed outside the destination.
  EXPECT_EQ(testenv::ListTree(outside), std::vector<std::string>{"victim.txt"});
  EXPECT_EQ(testenv::ReadFile(outside / "victim.txt"), "original");
  struct stat st {};
  ASSERT_EQ(stat((outside / "victim.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_nlink, 1u);
  EXPECT_FALSE(fs::exists(base / "x"));
  // What was written landed inside, under cleaned names.
  EXPECT_EQ(testenv::ReadFile(dest / "x"), "dotdot");
  EXPECT_EQ(testenv::ReadFile(dest / "abs" / "y"), "absolute");
  EXPECT_EQ(testenv::ReadFile(dest / "root" / "etc" / "z"), "below root link");
  EXPECT_FALSE(fs::is_symlink(dest / "root"));
  EXPECT_FALSE(fs::exists(dest / "esc") && fs::is_symlink(dest / "esc"));
  EXPECT_FALSE(fs::is_symlink(dest / "up"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dest / "sub" / "twist")));
  EXPECT_FALSE(fs::exists(dest / "hard"));
  EXPECT_FALSE(fs::exists(dest / "hard2"));
  EXPECT_FALSE(fs::exists(dest / "pre" / "out" / "p"));
  EXPECT_FALSE(fs::is_symlink(dest / "v.txt"));
  EXPECT_EQ(testenv::ReadFile(dest / "v.txt"), "replaces the link, not its target");
  ASSERT_EQ(stat((dest / "suid").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  EXPECT_FALSE(fs::exists(fs::symlink_status(dest / "fifo")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dest / "dev")));
  EXPECT_EQ(fs::read_symlink(dest / "ok" / "inside"), "../x");
  EXPECT_GE(r.Warnings.size(), 8u);
}

TEST(TarExtract, BrokenArchivesFailAndLeaveNoPartialFile) {
  fs::path base = testenv::MakeTempDir("broken");
  testenv::WriteFile(base / "big", testenv::RandomBytes(200000, 4));
  testenv::WriteFile(base / "small", "small");
  Sh("cd " + Quote(base.string()) + " && tar cf good.tar small big && tar czf good.tgz small big");
  std::string good = testenv::ReadFile(base / "good.tar");
  testenv::WriteFile(base / "cut.tar", good.substr(0, 512 * 3 + 100000));
  std::string bad = good;
  bad[512 * 2 + 10] ^= 1;  // inside the second header's name
  testenv::WriteFile(base / "sum.tar", bad);
  std::string tgz = testenv::ReadFile(base / "good.tgz");
  testenv::WriteFile(base / "cut.tgz", tgz.substr(0, tgz.size() - 30));
  for (const char* name : {"cut.tar", "sum.tar", "cut.tgz"}) {
    SCOPED_TRACE(name);
    fs::path out = testenv::MakeTempDir("bout");
    TTarExtractor x;
    auto r = x.Extract((base / name).string(), out.string());
    EXPECT_FALSE(r.Ok);
    EXPECT_FALSE(r.Error.empty());
    EXPECT_EQ(testenv::ReadFile(out / "small"), "small");
    EXPECT_FALSE(fs::exists(out / "big"));
  }
}

TEST(TarExtract, OverwriteAnswersSelectionAndCancel) {
  fs::path base = testenv::MakeTempDir("ow");
  for (std::string n : {"0", "1", "2", "3"}) testenv::WriteFile(base / "src" / ("f" + n), "new" + n);
  Sh("cd " + Quote((base / "src").string()) + " && tar cf ../a.tar f0 f1 f2 f3");
  fs::path out = base / "out";
  for (std::string n : {"0", "1", "2", "3"}) testenv::WriteFile(out / ("f" + n), "old");
  std::vector<TOverwriteAnswer> answers = {TOverwriteAnswer::No, TOverwriteAnswer::YesToAll};
  size_t asked = 0;
  TTarExtractor x;
  x.OnOverwrite = [&](const TTarDirRec&, const std::string& path) {
    EXPECT_EQ(path, out.string() + "/f" + std::to_string(asked));
    return answers.at(asked++);
  };
  auto r = x.Extract((base / "a.tar").string(), out.string());
  EXPECT_TRUE(r.Ok);
  EXPECT_EQ(asked, 2u);
  EXPECT_EQ(testenv::ReadFile(out / "f0"), "old");
  EXPECT_EQ(testenv::ReadFile(out / "f1"), "new1");
  EXPECT_EQ(testenv::ReadFile(out / "f3"), "new3");

  TTarExtractor sel;
  sel.Only = {"f2"};
  fs::path out2 = base / "out2";
  EXPECT_TRUE(sel.Extract((base / "a.tar").string(), out2.string()).Ok);
  EXPECT_EQ(testenv::ListTree(out2), std::vector<std::string>{"f2"});

  TTarExtractor stop;
  stop.OnProgress = [&](int64_t, int64_t, const std::string& name) {
    if (name == "f1") stop.Cancel = true;
  };
  fs::path out3 = base / "out3";
  auto c = stop.Extract((base / "a.tar").string(), out3.string());
  EXPECT_TRUE(c.Cancelled);
  EXPECT_EQ(testenv::ListTree(out3), std::vector<std::string>{"f0"});
}

TEST(GzExtract, StoredNameIsReducedToItsLastElement) {
  fs::path base = testenv::MakeTempDir("gzx");
  testenv::WriteFile(base / "data", "payload");
  Sh("python3 -c \"import gzip,sys; f=open(sys.argv[1],'wb'); g=gzip.GzipFile('../../evil.txt','wb',9,f,0); g.write(b'payload'); g.close()\" " +
     Quote((base / "evil.gz").string()));
  fs::path dest = base / "a" / "b";
  TTarExtractor x;
  std::string written;
  auto r = x.ExtractGz((base / "evil.gz").string(), dest.string(), &written);
  EXPECT_TRUE(r.Ok) << r.Error;
  EXPECT_EQ(written, dest.string() + "/evil.txt");
  EXPECT_EQ(testenv::ReadFile(dest / "evil.txt"), "payload");
  EXPECT_FALSE(fs::exists(base / "evil.txt"));
  // Without a stored name the file's own name is used; ".tgz" becomes ".tar".
  EXPECT_EQ(GzOutputName("", "/x/notes.txt.gz"), "notes.txt");
  EXPECT_EQ(GzOutputName("", "/x/pack.tgz"), "pack.tar");
  EXPECT_EQ(GzOutputName("dir\\name.tar", "/x/a.gz"), "name.tar");
  // Stored name ".tar" decides a gzipped tarball, in lower case only.
  Sh("cd " + Quote(base.string()) + " && cp data archive.tar && cp data ARCHIVE.TAR && gzip -N archive.tar ARCHIVE.TAR");
  EXPECT_TRUE(IsaGzippedTarBall((base / "archive.tar.gz").string()));
  EXPECT_FALSE(IsaGzippedTarBall((base / "ARCHIVE.TAR.gz").string()));
  // A damaged gzip leaves nothing behind.
  std::string gz = testenv::ReadFile(base / "archive.tar.gz");
  gz[gz.size() - 7] ^= 1;
  testenv::WriteFile(base / "crc.gz", gz);
  fs::path d2 = base / "d2";
  auto bad = x.ExtractGz((base / "crc.gz").string(), d2.string());
  EXPECT_FALSE(bad.Ok);
  EXPECT_TRUE(testenv::ListTree(d2).empty());
}

// The rules the extractor writes by (the safe-output library's): names and link targets.
TEST(TarExtract, SafePathRules) {
  const auto clean = [](const std::string& stored) {
    safeout::TCleanName n;
    return safeout::CleanName(stored, n) ? n.Text() : std::string();
  };
  EXPECT_EQ(clean("/etc/passwd"), "etc/passwd");
  EXPECT_EQ(clean("../../a/./b/../c"), "a/b/c");
  EXPECT_EQ(clean("C:\\win\\x"), "win/x");
  EXPECT_EQ(clean("../.."), "");
  // A link's target is judged from the folder the link lies in.
  safeout::TDestination d;
  ASSERT_TRUE(d.Open(testenv::MakeTempDir("rules").string()).Ok());
  safeout::TResult why;
  const auto ab = d.Folder({"a", "b"}, true, why);
  const auto a = d.Folder({"a"}, true, why);
  ASSERT_TRUE(ab && a) << why.text;
  EXPECT_TRUE(d.CheckLink(*ab, "../../x").Ok());
  EXPECT_FALSE(d.CheckLink(*ab, "../../../x").Ok());
  EXPECT_FALSE(d.CheckLink(*d.Root(), "/x").Ok());
  EXPECT_FALSE(d.CheckLink(*a, "b/../../x").Ok());
  EXPECT_TRUE(d.CheckLink(*d.Root(), "a/b/c").Ok());
}
