// The directory parser against truncated, damaged and hostile archives (built with sanitizers):
// every case ends with an error text or a directory whose ranges all lie inside the file.
#include <gtest/gtest.h>

#include <random>

#include "MiniArchive.h"
#include "TestEnv.h"
#include "formats/ZipDirectory.h"

using namespace zipfmt;
namespace fs = std::filesystem;

namespace {

struct Outcome {
  bool parsed = false;
  std::string error;
};

// Parses `bytes` and locates every entry; checks every accepted range against the file size.
Outcome ParseAll(const std::string& bytes) {
  static fs::path dir = testenv::MakeTempDir("hostile");
  fs::path p = dir / "a.zip";
  testenv::WriteFile(p, bytes);
  Outcome o;
  TArchiveFile f;
  if (!f.Open(p.string(), o.error)) return o;
  CentralDirectory d;
  if (!ReadCentralDirectory(f, d, o.error)) {
    EXPECT_FALSE(o.error.empty());
    return o;
  }
  o.parsed = true;
  EXPECT_LE(d.cdStart + d.cdSize, f.Size());
  std::vector<LocalInfo> infos;
  for (const CentralEntry& e : d.entries) {
    LocalInfo li;
    std::string err;
    if (LocateEntryData(f, d, e, li, err)) {
      EXPECT_LE(li.recordEnd, d.cdStart);
      EXPECT_LE(li.dataStart, li.dataEnd);
      infos.push_back(li);
    } else {
      EXPECT_FALSE(err.empty());
    }
  }
  std::string err;
  if (infos.size() == d.entries.size()) CheckNoOverlaps(d, infos, err);
  return o;
}

std::vector<MiniEntry> Sample() {
  return {{"a.txt", testenv::RandomBytes(300, 1, true), true, "", false},
          {"b/c.bin", testenv::RandomBytes(200, 2), false, "", true},
          {"d.txt", "x", true, "pw", false}};
}

size_t CdStart(const std::string& zip) {
  size_t eocd = zip.rfind(std::string("PK\x05\x06", 4));
  uint32_t off = Get32(zip.data() + eocd + 16);
  if (off != kMax32) return off;
  size_t rec = zip.rfind(std::string("PK\x06\x06", 4));
  return size_t(Get64(zip.data() + rec + 48));
}

}  // namespace

TEST(ZipDirectoryHostile, EveryTruncationFailsCleanly) {
  for (bool z64 : {false, true}) {
    std::string zip = BuildMiniArchive(Sample(), z64, "comment");
    ASSERT_TRUE(ParseAll(zip).parsed);
    for (size_t n = 0; n < zip.size(); ++n) {
      Outcome o = ParseAll(zip.substr(0, n));
      // Only cuts inside the trailing comment can still leave a readable end record.
      if (o.parsed) {
        EXPECT_GT(n, zip.size() - 8) << n;
      }
    }
    // Cutting the front shifts every offset: read as a prefix-less archive whose entries are missing.
    Outcome front = ParseAll(zip.substr(40));
    (void)front;
  }
}

TEST(ZipDirectoryHostile, RandomDamageNeverReadsOutside) {
  std::mt19937 rng(1234);
  const uint32_t special[] = {0, 1, 0xFF, 0xFFFF, 0xFFFE, 0x7FFFFFFF, 0xFFFFFFFF, 0x80000000, 46, 30};
  for (bool z64 : {false, true}) {
    std::string zip = BuildMiniArchive(Sample(), z64, "");
    size_t from = CdStart(zip);
    for (int iter = 0; iter < 1500; ++iter) {
      std::string bad = zip;
      int edits = 1 + int(rng() % 4);
      for (int k = 0; k < edits; ++k) {
        size_t at = from + rng() % (bad.size() - from);
        if (rng() % 2) {
          bad[at] = char(rng());
        } else if (at + 4 <= bad.size()) {
          Set32At(bad, at, special[rng() % std::size(special)]);
        }
      }
      ParseAll(bad);
    }
  }
}

TEST(ZipDirectoryHostile, NamedCasesGiveClearErrors) {
  std::string zip = BuildMiniArchive(Sample(), false, "");
  size_t eocd = zip.rfind(std::string("PK\x05\x06", 4));
  size_t cd = CdStart(zip);

  EXPECT_NE(ParseAll("").error.find("not a zip"), std::string::npos);
  EXPECT_NE(ParseAll(std::string(5000, 'x')).error.find("not a zip"), std::string::npos);

  std::string b = zip;
  Set32At(b, eocd + 16, uint32_t(zip.size() + 10));  // directory offset past the end
  EXPECT_FALSE(ParseAll(b).parsed);

  b = zip;
  Set32At(b, eocd + 12, 0x7FFFFFFF);  // directory larger than the file
  EXPECT_NE(ParseAll(b).error.find("exceeds"), std::string::npos);

  b = zip;
  b[eocd + 10] = 9;  // count mismatch
  b[eocd + 8] = 9;
  EXPECT_FALSE(ParseAll(b).parsed);

  b = zip;
  b[eocd + 4] = 1;  // disk number: multi-disk set
  EXPECT_NE(ParseAll(b).error.find("multi-disk"), std::string::npos);

  b = zip;
  b[cd + 28] = char(0xF0);  // first name length runs past the directory
  b[cd + 29] = char(0x7F);
  EXPECT_NE(ParseAll(b).error.find("runs past"), std::string::npos);

  // Saturated size without a Zip64 block.
  b = zip;
  Set32At(b, cd + 24, 0xFFFFFFFF);
  EXPECT_NE(ParseAll(b).error.find("Zip64"), std::string::npos);

  // Entry data beyond the archive and a local header offset beyond the directory: located with errors.
  for (size_t field : {size_t(20), size_t(42)}) {
    b = zip;
    Set32At(b, cd + field, uint32_t(cd - 10));
    fs::path p = testenv::MakeTempDir() / "x.zip";
    testenv::WriteFile(p, b);
    TArchiveFile f;
    std::string err;
    ASSERT_TRUE(f.Open(p.string(), err));
    CentralDirectory d;
    ASSERT_TRUE(ReadCentralDirectory(f, d, err)) << err;
    LocalInfo li;
    EXPECT_FALSE(LocateEntryData(f, d, d.entries[0], li, err));
    EXPECT_FALSE(err.empty());
  }

  // A Zip64 locator pointing at garbage.
  std::string z = BuildMiniArchive(Sample(), true, "");
  size_t loc = z.rfind(std::string("PK\x06\x07", 4));
  size_t rec = z.rfind(std::string("PK\x06\x06", 4));
  z[rec] = 'X';
  Set32At(z, loc + 8, 3);
  EXPECT_NE(ParseAll(z).error.find("Zip64 end"), std::string::npos);
}

TEST(ZipDirectoryHostile, OverlappingEntriesAreDetected) {
  // Two central entries that point at the same local record (the overlapping zip-bomb form).
  std::vector<MiniEntry> one = {{"a.txt", std::string(1000, 'a'), true, "", false}};
  std::string zip = BuildMiniArchive(one, false, "");
  size_t cd = CdStart(zip);
  size_t eocd = zip.rfind(std::string("PK\x05\x06", 4));
  std::string central = zip.substr(cd, eocd - cd);
  std::string twice = zip.substr(0, cd) + central + central;
  twice += BuildEndRecords(2, cd, central.size() * 2, twice.size(), "");
  fs::path p = testenv::MakeTempDir() / "overlap.zip";
  testenv::WriteFile(p, twice);
  TArchiveFile f;
  std::string err;
  ASSERT_TRUE(f.Open(p.string(), err));
  CentralDirectory d;
  ASSERT_TRUE(ReadCentralDirectory(f, d, err)) << err;
  std::vector<LocalInfo> infos(2);
  ASSERT_TRUE(LocateEntryData(f, d, d.entries[0], infos[0], err));
  ASSERT_TRUE(LocateEntryData(f, d, d.entries[1], infos[1], err));
  EXPECT_FALSE(CheckNoOverlaps(d, infos, err));
  EXPECT_NE(err.find("overlap"), std::string::npos);
}
