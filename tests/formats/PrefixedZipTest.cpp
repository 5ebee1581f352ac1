// Zip archives with data in front (a stub glued on with `cat`, or fixed with `zip -A`), with a
// comment holding the end record's signature, or with garbage after the end: `tandor` against
// Info-ZIP's unzip and 7-Zip.
#include <gtest/gtest.h>

#include <filesystem>

#include "TestEnv.h"

namespace fs = std::filesystem;
using testenv::Quote;

namespace {

std::string Tandor() { return (testenv::ProgramDir() / "tandor").string(); }

int Shell(const fs::path& dir, const std::string& command, std::string* err = nullptr) {
  const fs::path errFile = dir / ".stderr";
  const int rc = testenv::Run("cd " + Quote(dir.string()) + " && (" + command + ") 2>" + Quote(errFile.string()) +
                              " </dev/null >/dev/null");
  if (err) *err = testenv::ReadFile(errFile);
  fs::remove(errFile);
  return rc;
}

// unzip's test of every entry; it warns (status 1) about bytes in front, and finds no error.
bool UnzipFindsNoErrors(const fs::path& zip) {
  std::string out;
  testenv::Run("unzip -tq " + Quote(zip.string()) + " 2>&1", &out);
  return out.find("No errors detected in compressed data") != std::string::npos;
}

bool SameTree(const fs::path& a, const fs::path& b) {
  return testenv::Run("diff -r " + Quote(a.string()) + " " + Quote(b.string()) + " >/dev/null 2>&1") == 0;
}

// src/ with a compressible file, a random one, an empty one and a folder.
fs::path MakeSource(const fs::path& dir) {
  testenv::WriteFile(dir / "src/a.txt", testenv::RandomBytes(40000, 1, true));
  testenv::WriteFile(dir / "src/sub/b.bin", testenv::RandomBytes(9000, 2));
  testenv::WriteFile(dir / "src/sub/empty", "");
  return dir / "src";
}

}  // namespace

// Archives with data in front: made by `cat` (offsets not fixed, classic and Zip64) or fixed with
// `zip -A` (which cannot fix a Zip64 archive). All extract byte-exact with exit status 0; unzip -t
// agrees; only the unfixed ones give the warning, with the size of the data in front.
TEST(PrefixedZip, ExtractByteExactAsUnzipDoes) {
  const fs::path dir = testenv::MakeTempDir("prefix");
  MakeSource(dir);
  ASSERT_EQ(Shell(dir, "zip -qr plain.zip src && zip -qr -fz z64.zip src"), 0);
  testenv::WriteFile(dir / "stub", testenv::RandomBytes(12345, 9));
  struct Case {
    std::string name, command;
    bool warns;
  };
  const Case cases[] = {
      {"cat.zip", "cat stub plain.zip > cat.zip", true},
      {"cat64.zip", "cat stub z64.zip > cat64.zip", true},
      {"fixed.zip", "cat stub plain.zip > fixed.zip && zip -qA fixed.zip", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(Shell(dir, c.command), 0);
    ASSERT_TRUE(UnzipFindsNoErrors(dir / c.name));
    const fs::path out = dir / ("out-" + c.name);
    std::string err;
    EXPECT_EQ(Shell(dir, Quote(Tandor()) + " x -q " + c.name + " -d " + Quote(out.string()), &err), 0) << err;
    EXPECT_TRUE(SameTree(dir / "src", out / "src"));
    const bool warned = err.find("12345 bytes in front of the zip data") != std::string::npos;
    EXPECT_EQ(warned, c.warns) << err;
    EXPECT_EQ(Shell(dir, Quote(Tandor()) + " t -q " + c.name, &err), 0) << err;
    EXPECT_EQ(Shell(dir, Quote(Tandor()) + " l " + c.name, &err), 0) << err;
  }
}

// `a` on an archive with data in front keeps that data in front (and says so); on an archive with
// garbage after its end it refuses before writing anything.
TEST(PrefixedZip, AddKeepsDataInFrontAndRefusesGarbageAfter) {
  const fs::path dir = testenv::MakeTempDir("prefixadd");
  MakeSource(dir);
  testenv::WriteFile(dir / "new.txt", "new entry\n");
  const std::string stub = testenv::RandomBytes(777, 3);
  testenv::WriteFile(dir / "stub", stub);
  ASSERT_EQ(Shell(dir, "zip -qr plain.zip src && cat stub plain.zip > sfx.zip"), 0);
  std::string err;
  EXPECT_EQ(Shell(dir, Quote(Tandor()) + " a -q sfx.zip new.txt", &err), 0) << err;
  EXPECT_NE(err.find("777 bytes in front of the zip data"), std::string::npos) << err;
  EXPECT_TRUE(testenv::ReadFile(dir / "sfx.zip").substr(0, stub.size()) == stub);
  EXPECT_TRUE(UnzipFindsNoErrors(dir / "sfx.zip"));
  std::string listing;
  testenv::Run("unzip -Z1 " + Quote((dir / "sfx.zip").string()), &listing);
  EXPECT_NE(listing.find("new.txt"), std::string::npos);
  // Rewritten with fixed offsets: no warning any more.
  EXPECT_EQ(Shell(dir, Quote(Tandor()) + " l sfx.zip", &err), 0);
  EXPECT_EQ(err, "");

  ASSERT_EQ(Shell(dir, "cp plain.zip tail.zip && echo trailing-data >> tail.zip"), 0);
  const std::string before = testenv::ReadFile(dir / "tail.zip");
  for (const char* command : {" a -q tail.zip new.txt", " d -q tail.zip src/a.txt"}) {
    EXPECT_EQ(Shell(dir, Quote(Tandor()) + command, &err), 1) << command;
    EXPECT_NE(err.find("14 bytes of other data follow the end of the zip archive; it was not changed"),
              std::string::npos)
        << err;
    EXPECT_TRUE(testenv::ReadFile(dir / "tail.zip") == before);
  }
  // Reading it is fine: the garbage is a warning.
  EXPECT_EQ(Shell(dir, Quote(Tandor()) + " t -q tail.zip", &err), 0);
  EXPECT_NE(err.find("Garbage at the end of the zipfile"), std::string::npos) << err;
}

// An archive comment holding the end record's signature: the entries are read (as 7-Zip does).
TEST(PrefixedZip, CommentHoldingTheEndSignature) {
  const fs::path dir = testenv::MakeTempDir("comment");
  MakeSource(dir);
  ASSERT_EQ(Shell(dir, "zip -qr c.zip src"), 0);
  // "PK\5\6" and random bytes as the comment, written by zip itself.
  testenv::WriteFile(dir / "comment.txt", std::string("see PK\x05\x06", 10) + testenv::RandomBytes(30, 4) + "\n");
  ASSERT_EQ(Shell(dir, "zip -qz c.zip < comment.txt"), 0);
  std::string err;
  const fs::path out = dir / "out";
  EXPECT_EQ(Shell(dir, Quote(Tandor()) + " x -q c.zip -d " + Quote(out.string()), &err), 0) << err;
  EXPECT_TRUE(SameTree(dir / "src", out / "src"));
  std::string sevenZip;
  testenv::Run("7z l -ba " + Quote((dir / "c.zip").string()) + " | wc -l", &sevenZip);
  EXPECT_EQ(std::stoi(sevenZip), 5);  // 7-Zip lists them too: three files and two folders
}
