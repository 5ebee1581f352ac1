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

TEST(UnzengPeers, Deflate64IsSkippedByName) {
  fs::path root = testenv::MakeTempDir("d64");
  testenv::WriteFile(root / "big.txt", testenv::RandomBytes(100000, 9, true));
  fs::path zip = root / "d64.zip";
  Sh("cd " + Quote(root.string()) + " && 7z a -bd -tzip -mm=Deflate64 d64.zip big.txt >/dev/null");
  TRun run;
  run.archive = zip.string();
  run.dest = root / "out";
  EXPECT_EQ(Execute(run), 0);
  EXPECT_TRUE(run.HasError(81, "Deflate64")) << run.Dump();
  EXPECT_TRUE(run.HasError(81, "big.txt")) << run.Dump();
  EXPECT_FALSE(fs::exists(run.dest / "big.txt"));
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
