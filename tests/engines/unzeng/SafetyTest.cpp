// Hostile archives: nothing is ever written outside the destination, and each refusal is named.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "HostileZip.h"
#include "TestEnv.h"
#include "UnzengHarness.h"
#include "zip/ZipStructs.h"

namespace fs = std::filesystem;
using namespace unzengtest;

namespace {

// A folder holding only the destination "dest" (and whatever the test puts beside it).
struct TSandbox {
  fs::path root = testenv::MakeTempDir("sandbox");
  fs::path dest = root / "dest";
  fs::path zip = root / "hostile.zip";
  TSandbox() { fs::create_directories(dest); }
  TRun Extract(const THostileZip& z, bool overwrite = false) {
    testenv::WriteFile(zip, z.Build());
    TRun run;
    run.archive = zip.string();
    run.dest = dest;
    run.overwrite = overwrite;
    Execute(run);
    return run;
  }
  // Everything under root that is not inside dest (besides the archive and `allowed`).
  std::vector<std::string> Outside(const std::vector<std::string>& allowed = {}) const {
    std::vector<std::string> out;
    for (const auto& rel : Tree(root)) {
      if (rel == "dest/" || rel.rfind("dest/", 0) == 0 || rel == "hostile.zip") continue;
      if (std::find(allowed.begin(), allowed.end(), rel) != allowed.end()) continue;
      out.push_back(rel);
    }
    return out;
  }
};

THostileEntry File(const std::string& name, const std::string& content, uint16_t method = 8) {
  THostileEntry e;
  e.name = name;
  e.plain = content;
  e.method = method;
  return e;
}

}  // namespace

TEST(UnzengSafety, TraversalNamesStayInside) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"../evil1", "evil1"},
      {"..\\evil2", "evil2"},
      {"/abs/evil3", "abs/evil3"},
      {"C:\\win\\evil4", "win/evil4"},
      {"C:evil5", "evil5"},
      {"a/../../evil6", "a/evil6"},
      {"\\\\server\\share\\evil7", "server/share/evil7"},
      {"./../evil8", "evil8"},
      {"x/y/../../../../evil9", "x/y/evil9"},
      {"..\\..\\..\\evil10", "evil10"},
  };
  for (bool dirNames : {true, false}) {
    SCOPED_TRACE(dirNames ? "with folders" : "without folders");
    TSandbox box;
    THostileZip z;
    for (const auto& [name, where] : cases) z.entries.push_back(File(name, "payload of " + name));
    z.entries.push_back(File("../", ""));  // a folder entry that is nothing but ".."
    testenv::WriteFile(box.zip, z.Build());
    TRun run;
    run.archive = box.zip.string();
    run.dest = box.dest;
    run.dirNames = dirNames;
    Execute(run);
    EXPECT_TRUE(box.Outside().empty()) << run.Dump();
    for (const auto& [name, where] : cases) {
      fs::path expect = box.dest / (dirNames ? where : fs::path(where).filename().string());
      EXPECT_EQ(testenv::ReadFile(expect), "payload of " + name) << expect;
      EXPECT_TRUE(run.HasError(1, name)) << "no warning for " << name << "\n" << run.Dump();
    }
  }
}

TEST(UnzengSafety, SymlinkEntriesLeadingOutAreRefused) {
  TSandbox box;
  fs::create_directories(box.root / "outside");
  THostileZip z;
  z.entries.push_back(SymlinkEntry("up", "../outside"));
  z.entries.push_back(SymlinkEntry("abs", box.root.string() + "/outside"));
  z.entries.push_back(SymlinkEntry("deep/up2", "../../outside"));
  z.entries.push_back(File("sub/file.txt", "inside"));
  z.entries.push_back(SymlinkEntry("chain1", "sub"));
  z.entries.push_back(SymlinkEntry("chain2", "chain1/../.."));  // climbs through a link
  z.entries.push_back(SymlinkEntry("ok", "sub/file.txt"));
  z.entries.push_back(SymlinkEntry("deep/ok2", "../sub/file.txt"));
  z.entries.push_back(File("up/pwned", "x"));
  z.entries.push_back(File("abs/pwned", "x"));
  z.entries.push_back(File("chain2/pwned", "x"));
  TRun run = box.Extract(z);
  EXPECT_TRUE(box.Outside({"outside/"}).empty()) << run.Dump();
  EXPECT_TRUE(fs::is_empty(box.root / "outside"));
  for (const char* refused : {"up", "abs", "deep/up2", "chain2"}) {
    EXPECT_TRUE(run.HasError(3, refused)) << refused << "\n" << run.Dump();
    EXPECT_FALSE(fs::is_symlink(box.dest / refused)) << refused;
  }
  EXPECT_TRUE(fs::is_symlink(box.dest / "ok"));
  EXPECT_EQ(testenv::ReadFile(box.dest / "ok"), "inside");
  EXPECT_EQ(testenv::ReadFile(box.dest / "deep/ok2"), "inside");
}

TEST(UnzengSafety, LinksAlreadyOnDiskAreNeverFollowedOut) {
  TSandbox box;
  fs::create_directories(box.root / "outside");
  testenv::WriteFile(box.root / "outside" / "target", "keep");
  testenv::WriteFile(box.root / "outside" / "hard", "keep hard");
  fs::create_directory_symlink(box.root / "outside", box.dest / "out");
  fs::create_symlink(box.root / "outside" / "target", box.dest / "f");
  fs::create_hard_link(box.root / "outside" / "hard", box.dest / "h");
  fs::create_directory_symlink("../dest", box.dest / "loop");  // leads out and back: still refused
  THostileZip z;
  z.entries.push_back(File("out/x", "through a link"));
  z.entries.push_back(File("f", "replaces the link"));
  z.entries.push_back(File("h", "replaces the hard link"));
  z.entries.push_back(File("loop/y", "through a link"));
  TRun run = box.Extract(z, /*overwrite=*/true);
  EXPECT_TRUE(run.HasError(50, "out/x")) << run.Dump();
  EXPECT_EQ(Tree(box.root / "outside"), (std::vector<std::string>{"hard", "target"}));
  EXPECT_EQ(testenv::ReadFile(box.root / "outside" / "target"), "keep");
  EXPECT_EQ(testenv::ReadFile(box.root / "outside" / "hard"), "keep hard");
  EXPECT_FALSE(fs::is_symlink(box.dest / "f"));
  EXPECT_EQ(testenv::ReadFile(box.dest / "f"), "replaces the link");
  EXPECT_EQ(testenv::ReadFile(box.dest / "h"), "replaces the hard link");
  EXPECT_FALSE(fs::exists(box.dest / "y"));
}

TEST(UnzengSafety, OverlappingEntriesAreRefused) {
  TSandbox box;
  THostileZip z;
  z.entries.push_back(File("first.txt", std::string(100000, 'a')));
  z.entries.push_back(File("second.txt", std::string(100000, 'a')));
  z.entries.back().shareLocalOf = 0;  // the classic overlapping zip bomb
  z.entries.push_back(File("third.txt", "independent"));
  TRun run = box.Extract(z);
  EXPECT_EQ(run.result, 1) << run.Dump();
  EXPECT_TRUE(run.HasError(3, "first.txt")) << run.Dump();
  EXPECT_TRUE(run.HasError(3, "second.txt")) << run.Dump();
  EXPECT_TRUE(run.HasError(3, "overlap")) << run.Dump();
  EXPECT_EQ(Tree(box.dest), (std::vector<std::string>{"third.txt"}));
}

TEST(UnzengSafety, SizeLiesAreRefusedWithoutWritingMore) {
  for (bool streaming : {false, true}) {
    SCOPED_TRACE(streaming ? "streaming" : "whole buffer");
    if (streaming) setenv("TANDOR_UNZENG_MEMORY", "0", 1);
    TSandbox box;
    THostileZip z;
    z.entries.push_back(File("bomb.txt", std::string(1000000, 'z')));
    z.entries.back().uncompressedSize = 100;  // declares far less than the data holds
    z.entries.push_back(File("short.txt", std::string(1000, 'y')));
    z.entries.back().uncompressedSize = 5000;  // declares more than the data holds
    z.entries.push_back(File("stored.txt", std::string(3000, 's'), 0));
    z.entries.back().uncompressedSize = 10;
    z.entries.push_back(File("fine.txt", "fine"));
    TRun run = box.Extract(z);
    unsetenv("TANDOR_UNZENG_MEMORY");
    EXPECT_EQ(run.result, 1) << run.Dump();
    EXPECT_TRUE(run.HasError(3, "bomb.txt")) << run.Dump();
    EXPECT_TRUE(run.HasError(3, "larger than its declared size")) << run.Dump();
    EXPECT_TRUE(run.HasError(3, "short.txt")) << run.Dump();
    EXPECT_TRUE(run.HasError(3, "stored.txt")) << run.Dump();
    EXPECT_EQ(Tree(box.dest), (std::vector<std::string>{"fine.txt"}));
  }
}

TEST(UnzengSafety, DamagedDataAndStructure) {
  TSandbox box;
  std::string plain = testenv::RandomBytes(200000, 31, true);
  THostileZip z;
  z.entries.push_back(File("truncated.txt", plain));
  z.entries.back().stored = RawDeflate(plain).substr(0, 5000);  // the stream stops half way
  z.entries.push_back(File("past-end.txt", "x"));
  z.entries.back().compressedSize = 1u << 30;  // data would run past the archive
  z.entries.push_back(File("badcrc.txt", "content"));
  z.entries.back().crc = 0x12345678;
  z.entries.push_back(File("good.txt", "good"));
  TRun run = box.Extract(z);
  EXPECT_EQ(run.result, 1) << run.Dump();
  EXPECT_TRUE(run.HasError(2, "truncated.txt")) << run.Dump();
  EXPECT_TRUE(run.HasError(3, "past-end.txt")) << run.Dump();
  EXPECT_TRUE(run.HasError(2, "badcrc.txt")) << run.Dump();
  auto crc = run.Of(kActionCrcError);
  ASSERT_EQ(crc.size(), 1u);
  EXPECT_EQ(uint32_t(crc[0].value2), 0x12345678u);
  EXPECT_EQ(uint32_t(crc[0].value1), Crc32("content"));
  EXPECT_EQ(Tree(box.dest), (std::vector<std::string>{"good.txt"})) << "no handler: damaged file removed";

  TSandbox keep;  // "extract anyway" keeps it
  testenv::WriteFile(keep.zip, z.Build());
  TRun kept;
  kept.archive = keep.zip.string();
  kept.dest = keep.dest;
  kept.crcAnswer = 1;
  Execute(kept);
  EXPECT_EQ(testenv::ReadFile(keep.dest / "badcrc.txt"), "content");

  TSandbox past;  // central directory past the end of the file
  THostileZip y;
  y.entries.push_back(File("a.txt", "a"));
  y.cdOffset = 1u << 20;
  TRun bad = past.Extract(y);
  EXPECT_EQ(bad.result, 0);
  EXPECT_TRUE(bad.HasError(3, "invalid archive structure")) << bad.Dump();
  EXPECT_TRUE(Tree(past.dest).empty());

  TSandbox cut;  // an archive cut short: no directory at all
  testenv::WriteFile(cut.zip, z.Build().substr(0, 3000));
  TRun cutRun;
  cutRun.archive = cut.zip.string();
  cutRun.dest = cut.dest;
  EXPECT_EQ(Execute(cutRun), 0);
  EXPECT_TRUE(cutRun.HasError(3, "invalid archive structure")) << cutRun.Dump();
}

TEST(UnzengSafety, DeclaredSizesBeyondFreeSpaceAreRefusedUpFront) {
  TSandbox box;
  THostileZip z;
  z.entries.push_back(File("a.txt", std::string(600, 'a')));
  z.entries.push_back(File("b.txt", std::string(600, 'b')));
  testenv::SetFreeSpace(1000);
  TRun run = box.Extract(z);
  testenv::SetFreeSpace("");
  EXPECT_EQ(run.result, 0);
  EXPECT_TRUE(run.HasError(50, "not enough free space")) << run.Dump();
  EXPECT_TRUE(Tree(box.dest).empty());

  testenv::SetFreeSpace(1200);  // exactly enough
  TRun fits = box.Extract(z);
  testenv::SetFreeSpace("");
  EXPECT_EQ(fits.result, 2) << fits.Dump();
}

TEST(UnzengSafety, EmptyEntriesWithoutData) {
  TSandbox box;
  THostileZip z;
  z.entries.push_back(File("empty-deflated", ""));
  z.entries.back().stored = std::string();  // some writers store no deflate block at all
  z.entries.push_back(File("empty-stored", "", 0));
  TRun run = box.Extract(z);
  EXPECT_EQ(run.result, 2) << run.Dump();
  EXPECT_EQ(testenv::ReadFile(box.dest / "empty-deflated"), "");
}
