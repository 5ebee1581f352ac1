// The records the multi-part copies rewrite, built with AddressSanitizer and
// UndefinedBehaviorSanitizer: central headers cut short or mutated, relocation to any part and
// offset (Zip64 where needed), and the end records of a set.
#include <gtest/gtest.h>

#include <random>

#include "ZipTestUtil.h"
#include "zip/ZipKitTypes.h"
#include "zip/ZipSpanRecords.h"

namespace {

// The central directory of a crafted archive: plain entries, one with Zip64 sizes, comments.
std::string SampleDirectory(uint64_t& count) {
  std::vector<TCraftEntry> entries(4);
  entries[0].Name = "a.txt";
  entries[0].Data = "alpha";
  entries[1].Name = std::string(300, 'n');  // longer than 255 bytes
  entries[1].Data = "long";
  entries[1].Comment = "entry comment";
  entries[2].Name = "z64.bin";
  entries[2].Data = "zip64 sizes";
  entries[2].Zip64Sizes = true;
  entries[2].FakeUnpackedSize = 11;
  entries[3].Name = "x/";
  entries[3].Extra = std::string("\x0a\x00\x04\x00" "abcd", 8);
  const std::string zip = CraftZip(entries);
  count = entries.size();
  const size_t start = zip.find(std::string("PK\x01\x02", 4));
  return zip.substr(start, zip.size() - start - 22);
}

TEST(ZipSpanRecords, EveryCutOfTheDirectoryFailsWithItsMessage) {
  uint64_t count = 0;
  const std::string dir = SampleDirectory(count);
  ASSERT_EQ(ParseCentralHeaders(dir, count).size(), count);
  for (size_t n = 0; n < dir.size(); ++n) {
    try {
      ParseCentralHeaders(std::string_view(dir).substr(0, n), count);
      ADD_FAILURE() << "cut at " << n << " was accepted";
    } catch (const EZipKit& e) {
      EXPECT_TRUE(e.Id() == 11013 || e.Id() == 11017 || e.Id() == 11019 || e.Id() == 11022) << e.Id();
    }
  }
}

TEST(ZipSpanRecords, MutatedDirectoriesNeverReadOutsideTheirBytes) {
  uint64_t count = 0;
  const std::string dir = SampleDirectory(count);
  std::mt19937 rng(7);
  for (int round = 0; round < 3000; ++round) {
    std::string bad = dir;
    for (int k = 0; k < 4; ++k) bad[rng() % bad.size()] = static_cast<char>(rng());
    try {
      for (const TSpanCentral& c : ParseCentralHeaders(bad, count + rng() % 3)) {
        const std::string h = RelocatedCentralHeader(c, rng() % 70000, (uint64_t{rng()} << 8) | rng());
        ASSERT_GE(h.size(), 46u);
      }
    } catch (const EZipKit&) {
    }
  }
}

TEST(ZipSpanRecords, RelocationKeepsEverythingButPartAndOffset) {
  uint64_t count = 0;
  const std::string dir = SampleDirectory(count);
  const std::vector<TSpanCentral> centrals = ParseCentralHeaders(dir, count);
  const struct {
    uint32_t Disk;
    uint64_t Offset;
    bool Zip64;
  } cases[] = {{0, 0, false}, {3, 99996, false}, {0, 0xFFFFFFFEull, false}, {1, 0xFFFFFFFFull, true},
               {2, 5ull << 32, true}, {0xFFFE, 17, false}, {0xFFFF, 17, true}, {70000, 6ull << 32, true}};
  for (const auto& c : cases) {
    for (const TSpanCentral& original : centrals) {
      SCOPED_TRACE(original.Name.substr(0, 10) + " disk " + std::to_string(c.Disk) + " offset " +
                   std::to_string(c.Offset));
      const std::string h = RelocatedCentralHeader(original, c.Disk, c.Offset);
      const std::vector<TSpanCentral> back = ParseCentralHeaders(h, 1);
      ASSERT_EQ(back.size(), 1u);
      EXPECT_EQ(back[0].Disk, c.Disk);
      EXPECT_EQ(back[0].LocalOffset, c.Offset);
      EXPECT_EQ(back[0].Name, original.Name);
      EXPECT_EQ(back[0].Comment, original.Comment);
      EXPECT_EQ(back[0].Crc, original.Crc);
      EXPECT_EQ(back[0].CompressedSize, original.CompressedSize);
      EXPECT_EQ(back[0].UncompressedSize, original.UncompressedSize);
      EXPECT_EQ(back[0].Zip64Sizes, original.Zip64Sizes);
      // Other extra blocks stay; a Zip64 block appears only where a value needs it.
      const bool zip64 = back[0].Extra.find(std::string("\x01\x00", 2)) == 0;
      EXPECT_EQ(zip64, c.Zip64 || original.Zip64Sizes);
      if (original.Extra.find("abcd") != std::string::npos) {
        EXPECT_NE(back[0].Extra.find("abcd"), std::string::npos);
      }
    }
  }
}

TEST(ZipSpanRecords, EndRecordsOfASet) {
  TZipEndRecord e;
  e.ThisDisk = 4;
  e.DirStartDisk = 3;
  e.EntriesThisDisk = 1;
  e.TotalEntries = 3;
  e.DirSize = 150;
  e.DirOffset = 99000;
  std::string r = SpanEndRecords(e, 77, "hi");
  ASSERT_EQ(r.size(), SpanEndRecordsSize(e, 2));
  EXPECT_EQ(r, std::string("PK\x05\x06\x04\x00\x03\x00\x01\x00\x03\x00\x96\x00\x00\x00\xb8\x82\x01\x00\x02\x00hi", 24));
  // Many entries: a Zip64 end record and a locator pointing at it on the same part.
  e.TotalEntries = e.EntriesThisDisk = 70000;
  r = SpanEndRecords(e, 77, "");
  ASSERT_EQ(r.size(), SpanEndRecordsSize(e, 0));
  ASSERT_EQ(r.size(), 56u + 20u + 22u);
  EXPECT_EQ(r.substr(0, 4), std::string("PK\x06\x06", 4));
  EXPECT_EQ(r.substr(56, 4), std::string("PK\x06\x07", 4));
  EXPECT_EQ(static_cast<uint8_t>(r[56 + 4]), 4);   // disk of the Zip64 end record
  EXPECT_EQ(static_cast<uint8_t>(r[56 + 8]), 77);  // its offset on that part
  EXPECT_EQ(static_cast<uint8_t>(r[56 + 16]), 5);  // parts in all
  EXPECT_EQ(r.substr(76 + 8, 4), std::string("\xff\xff\xff\xff", 4));  // the counts point to Zip64
}

}  // namespace
