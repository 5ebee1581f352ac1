// The directory reader alone, built with AddressSanitizer and UndefinedBehaviorSanitizer: broken
// archives, deterministic mutations of valid ones, and the inputs the fuzzer once crashed on.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "TestEnv.h"
#include "ZipHostileCases.h"
#include "ZipTestUtil.h"
#include "zip/ZipDirReader.h"

namespace fs = std::filesystem;

namespace {

// Every disk of a set is the same bytes; a few disks at most.
class TSameDisks : public IZipDiskProvider {
 public:
  explicit TSameDisks(std::string_view bytes) : input_(bytes) {}
  const IArchiveInput& GetDisk(int32_t) override {
    if (++calls_ > 4) throw EZipKit(11001);
    return input_;
  }

 private:
  TArchiveMemory input_;
  int calls_ = 0;
};

// Reads the directory of `bytes`; the message id of the failure, or 0.
int ReadBytes(std::string_view bytes, size_t* entryCount = nullptr) {
  TArchiveMemory input(bytes);
  TEndRecordScan scan;
  if (ScanEndRecord(input, scan) != TEndScanStatus::Found) return 11036;
  TSameDisks disks(bytes);
  TZipDirResult result;
  try {
    ReadCentralDirectory(scan, input, &disks, TZipDirOptions{true, cpAuto}, TZipDirEvents{}, result);
  } catch (const EZipKit& e) {
    return e.Id();
  }
  size_t total = 0;
  for (const ZipDirEntry& e : result.Entries) {
    total += e.EntryName.size() + e.EntryComment.size();
    if (e.ExtraLength) total += e.ExtraField.get()[e.ExtraLength - 1];  // the whole extra field is readable
  }
  if (entryCount) *entryCount = result.Entries.size();
  return total == static_cast<size_t>(-1) ? -1 : 0;
}

TEST(ZipReaderSanitized, BrokenArchivesGiveTheirMessages) {
  for (const THostileCase& c : HostileCases()) {
    SCOPED_TRACE(c.Name);
    const int id = ReadBytes(c.Bytes);
    EXPECT_NE(std::find(c.Ids.begin(), c.Ids.end(), id), c.Ids.end()) << id;
  }
  size_t count = 0;
  EXPECT_EQ(ReadBytes(HostileBaseArchive(), &count), 0);
  EXPECT_EQ(count, 3u);
}

TEST(ZipReaderSanitized, MutatedArchivesNeverReadOutsideTheirBytes) {
  std::vector<std::string> seeds{HostileBaseArchive()};
  std::vector<TCraftEntry> e(2);
  e[0].Name = "a";
  e[0].Zip64Sizes = true;
  e[0].FakeUnpackedSize = 1;
  e[1].Name = "b";
  e[1].Extra = std::string("\x75\x70\x06\x00\x01\x00\x00\x00\x00\x41", 10);
  TCraftOptions z64;
  z64.Zip64End = true;
  z64.Stub = "#!/bin/sh\n";
  seeds.push_back(CraftZip(e, z64));
  std::mt19937 rng(12345);
  for (const std::string& seed : seeds) {
    for (int round = 0; round < 4000; ++round) {
      std::string s = seed;
      const int edits = 1 + static_cast<int>(rng() % 6);
      for (int k = 0; k < edits; ++k) {
        const size_t pos = rng() % s.size();
        switch (rng() % 4) {
          case 0: s[pos] = static_cast<char>(rng()); break;
          case 1: s[pos] = static_cast<char>(0xFF); break;
          case 2: s.resize(pos); break;
          default: s.insert(pos, std::string(1 + rng() % 8, static_cast<char>(rng()))); break;
        }
        if (s.empty()) break;
      }
      ReadBytes(s);
    }
  }
}

TEST(ZipReaderSanitized, FuzzerFindingsStayFixed) {
  const fs::path dir = testenv::SourceDir() / "tests" / "zip" / "fuzz_regressions";
  ASSERT_TRUE(fs::is_directory(dir)) << dir;
  int n = 0;
  for (const auto& f : fs::directory_iterator(dir)) {
    if (!f.is_regular_file() || f.path().filename() == "README") continue;
    SCOPED_TRACE(f.path().filename().string());
    ReadBytes(testenv::ReadFile(f.path()));
    ++n;
  }
  EXPECT_GT(n, 0);
}

}  // namespace
