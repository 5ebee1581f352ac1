// Archives written by Info-ZIP zip, 7-Zip and Python's zipfile extract byte for byte, through the
// whole-buffer and the streaming decoders alike.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "TestEnv.h"
#include "UnzengHarness.h"
#include "zip/ZipStructs.h"

namespace fs = std::filesystem;
using namespace unzengtest;
using testenv::Quote;

namespace {

// Runs the extraction twice: entries held in memory, then streamed in chunks.
void ExtractBothWays(const fs::path& archive, const fs::path& expected, const std::string& password = "") {
  for (bool streaming : {false, true}) {
    SCOPED_TRACE(streaming ? "streaming" : "whole buffer");
    if (streaming) setenv("TANDOR_UNZENG_MEMORY", "0", 1);
    TRun run;
    run.archive = archive.string();
    run.dest = testenv::MakeTempDir("out");
    run.password = password;
    Execute(run);
    unsetenv("TANDOR_UNZENG_MEMORY");
    EXPECT_TRUE(run.Errors().empty()) << run.Dump();
    ExpectSameTree(expected, run.dest);
  }
}

}  // namespace

TEST(UnzengPeers, InfoZipTreeWithLinksModesAndTimes) {
  fs::path root = testenv::MakeTempDir("infozip");
  fs::path src = root / "src";
  MakeMixedTree(src);
  testenv::WriteFile(src / "tool.sh", "#!/bin/sh\necho hi\n");
  testenv::WriteFile(src / "suid", "x");
  fs::create_symlink("sub/a.txt", src / "link");
  Sh("chmod 0755 " + Quote((src / "tool.sh").string()) + " && chmod 4755 " + Quote((src / "suid").string()) +
     " && chmod 0600 " + Quote((src / "sub/a.txt").string()) + " && touch -d '2019-05-06 07:08:09' " +
     Quote((src / "sub/deep/b.dat").string()));
  for (const char* level : {"-6", "-0"}) {
    SCOPED_TRACE(level);
    fs::path zip = root / (std::string("a") + level + ".zip");
    Sh("cd " + Quote(src.string()) + " && zip -qry " + level + " " + Quote(zip.string()) + " .");
    ExtractBothWays(zip, src);
    TRun run;
    run.archive = zip.string();
    run.dest = testenv::MakeTempDir("modes");
    EXPECT_EQ(Execute(run), 9) << run.Dump();  // files and the link; folders are not counted
    struct stat st;
    ASSERT_EQ(stat((run.dest / "tool.sh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    ASSERT_EQ(stat((run.dest / "suid").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u) << "set-user-ID must never be restored";
    ASSERT_EQ(stat((run.dest / "sub/a.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    struct stat orig;
    ASSERT_EQ(stat((src / "sub/deep/b.dat").c_str(), &orig), 0);
    ASSERT_EQ(stat((run.dest / "sub/deep/b.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, orig.st_mtime);
    EXPECT_TRUE(fs::is_symlink(run.dest / "link"));
  }
}

TEST(UnzengPeers, SevenZipMethods) {
  fs::path root = testenv::MakeTempDir("7z");
  fs::path src = root / "src";
  MakeMixedTree(src);
  for (const char* method : {"Deflate", "BZip2", "LZMA"}) {
    SCOPED_TRACE(method);
    fs::path zip = root / (std::string(method) + ".zip");
    Sh("cd " + Quote(src.string()) + " && 7z a -bd -tzip -mm=" + method + " " + Quote(zip.string()) + " . >/dev/null");
    ExtractBothWays(zip, src);
  }
}

// 7-Zip's Deflate64 at a fast and a strong level: a tree, and a file whose repeats lie 60,000 bytes
// apart (distance codes 30 and 31). Info-ZIP unzip agrees on the archives.
TEST(UnzengPeers, SevenZipDeflate64) {
  fs::path root = testenv::MakeTempDir("d64");
  fs::path src = root / "src";
  MakeMixedTree(src);
  const std::string pattern = testenv::RandomBytes(60000, 21);
  std::string far;
  while (far.size() < 2500000) far += pattern;
  testenv::WriteFile(src / "far.bin", far);
  for (const char* level : {"-mx=1", "-mx=7"}) {
    SCOPED_TRACE(level);
    fs::path zip = root / (std::string("d64") + level + ".zip");
    Sh("cd " + Quote(src.string()) + " && 7z a -bd -tzip -mm=Deflate64 " + level + " " + Quote(zip.string()) +
       " . >/dev/null");
    EXPECT_NE(Sh("zipinfo -v " + Quote(zip.string())).find("deflated (enhanced-64k)"), std::string::npos);
    Sh("unzip -tq " + Quote(zip.string()));
    ExtractBothWays(zip, src);
  }
}

// A damaged Deflate64 entry ends as damaged and leaves no file; the next entry is still extracted.
TEST(UnzengPeers, DamagedDeflate64Entry) {
  fs::path root = testenv::MakeTempDir("d64bad");
  testenv::WriteFile(root / "a.txt", testenv::RandomBytes(200000, 22, true));
  testenv::WriteFile(root / "b.txt", "second\n");
  fs::path zip = root / "bad.zip";
  Sh("cd " + Quote(root.string()) + " && 7z a -bd -tzip -mm=Deflate64 bad.zip a.txt b.txt >/dev/null");
  std::string bytes = testenv::ReadFile(zip);
  const size_t data = 30 + 5;  // local header and the name "a.txt"
  for (size_t i = 200; i < 260; ++i) bytes[data + i] = char(bytes[data + i] ^ 0x5A);
  testenv::WriteFile(zip, bytes);
  for (bool streaming : {false, true}) {
    SCOPED_TRACE(streaming ? "streaming" : "whole buffer");
    if (streaming) setenv("TANDOR_UNZENG_MEMORY", "0", 1);
    TRun run;
    run.archive = zip.string();
    run.dest = testenv::MakeTempDir("out");
    EXPECT_EQ(Execute(run), 1) << run.Dump();
    unsetenv("TANDOR_UNZENG_MEMORY");
    EXPECT_FALSE(run.Errors().empty()) << run.Dump();
    EXPECT_FALSE(fs::exists(run.dest / "a.txt"));
    EXPECT_EQ(testenv::ReadFile(run.dest / "b.txt"), "second\n");
  }
}

// An entry of more than 4 GiB, made by 7-Zip from a pipe and tested by streaming: nothing is written.
TEST(UnzengPeers, Deflate64EntryOver4GiB) {
  fs::path root = testenv::MakeTempDir("d64big");
  fs::path zip = root / "big.zip";
  const std::string pattern = testenv::RandomBytes(60000, 23);
  const uint64_t total = (uint64_t(1) << 32) + 123457;
  FILE* p = popen(("7z a -bd -tzip -mm=Deflate64 -mx=1 -sibig.bin " + Quote(zip.string()) + " >/dev/null").c_str(), "w");
  ASSERT_NE(p, nullptr);
  for (uint64_t left = total; left > 0;) {
    const size_t n = size_t(std::min<uint64_t>(left, pattern.size()));
    ASSERT_EQ(fwrite(pattern.data(), 1, n, p), n);
    left -= n;
  }
  ASSERT_EQ(pclose(p), 0);
  EXPECT_LT(fs::file_size(zip), uint64_t(100) << 20);
  TRun run;
  run.archive = zip.string();
  run.dest = root / "never";
  run.test = true;
  setenv("TANDOR_UNZENG_MEMORY", "0", 1);  // streamed, never held in memory whole
  EXPECT_EQ(Execute(run), 1) << run.Dump();
  unsetenv("TANDOR_UNZENG_MEMORY");
  EXPECT_TRUE(run.Errors().empty()) << run.Dump();
  EXPECT_FALSE(fs::exists(run.dest));
  uint64_t announced = 0;
  for (const TCall& c : run.Of(1)) announced = uint64_t(c.value2);
  EXPECT_EQ(announced, total);
}

TEST(UnzengPeers, PythonDescriptorsZip64Utf8Bzip2Lzma) {
  fs::path root = testenv::MakeTempDir("py");
  fs::path expected = root / "expected";
  std::string script = R"PY(
import os, sys, zipfile, random
root, expected = sys.argv[1], sys.argv[2]
random.seed(5)
files = {
  "plain.txt": b"hello\n" * 5000,
  "\u65e5\u672c\u8a9e/\u30d5\u30a1\u30a4\u30eb.txt": "unicode name\n".encode(),
  "bin/random.bin": bytes(random.getrandbits(8) for _ in range(200000)),
  "bin/empty": b"",
}
for name, data in files.items():
    p = os.path.join(expected, name)
    os.makedirs(os.path.dirname(p), exist_ok=True)
    open(p, "wb").write(data)

class Unseekable:
    def __init__(self, f): self.f = f
    def write(self, b): return self.f.write(b)
    def flush(self): self.f.flush()

for label, comp in (("deflate", zipfile.ZIP_DEFLATED), ("bzip2", zipfile.ZIP_BZIP2), ("lzma", zipfile.ZIP_LZMA), ("stored", zipfile.ZIP_STORED)):
    with zipfile.ZipFile(os.path.join(root, label + "-zip64.zip"), "w", comp) as z:
        for name, data in files.items():
            with z.open(name, "w", force_zip64=True) as w:
                w.write(data)
    with open(os.path.join(root, label + "-descriptor.zip"), "wb") as raw:
        with zipfile.ZipFile(Unseekable(raw), "w", comp) as z:
            for name, data in files.items():
                z.writestr(name, data)
)PY";
  testenv::WriteFile(root / "make.py", script);
  Sh("python3 " + Quote((root / "make.py").string()) + " " + Quote(root.string()) + " " + Quote(expected.string()));
  for (const char* label : {"deflate", "bzip2", "lzma", "stored"}) {
    for (const char* kind : {"-zip64.zip", "-descriptor.zip"}) {
      SCOPED_TRACE(std::string(label) + kind);
      fs::path zip = root / (std::string(label) + kind);
      ASSERT_TRUE(fs::exists(zip));
      ExtractBothWays(zip, expected);
    }
  }
  // The descriptor archives really carry data descriptors (flag bit 3).
  std::string head = testenv::ReadFile(root / "deflate-descriptor.zip").substr(0, 8);
  EXPECT_TRUE(uint8_t(head[6]) & 0x08);
}

TEST(UnzengPeers, EngineVersion) { EXPECT_GE(EngineVersion(), kMinEngineVersion); }
