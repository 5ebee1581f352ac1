#include "SpanTestUtil.h"

#include <cstdio>

#include "TestEnv.h"
#include "ZipTestUtil.h"

namespace fs = std::filesystem;

namespace {

uint16_t G16(const std::string& s, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) | (static_cast<uint8_t>(s[at + 1]) << 8));
}
uint32_t G32(const std::string& s, size_t at) { return G16(s, at) | (static_cast<uint32_t>(G16(s, at + 2)) << 16); }
uint64_t G64(const std::string& s, size_t at) { return G32(s, at) | (static_cast<uint64_t>(G32(s, at + 4)) << 32); }

}  // namespace

void MakeSpanSourceTree(const fs::path& dir, uint32_t seed, int64_t bigBytes) {
  fs::create_directories(dir / "docs" / "deep");
  testenv::WriteFile(dir / "empty.txt", "");
  testenv::WriteFile(dir / "one.txt", "1");
  int64_t left = bigBytes;
  for (int i = 0; left > 0; ++i) {
    const int64_t size = std::min<int64_t>(left, 37000 + 51000 * (i % 4));
    testenv::WriteFile(dir / ("random" + std::to_string(i) + ".bin"),
                       testenv::RandomBytes(static_cast<size_t>(size), seed + static_cast<uint32_t>(i)));
    left -= size;
  }
  for (int i = 0; i < 40; ++i)
    testenv::WriteFile(dir / "docs" / ("note" + std::to_string(i) + ".txt"),
                       testenv::RandomBytes(300 + static_cast<size_t>(i) * 97, seed * 7 + static_cast<uint32_t>(i), true));
  // A stored name of more than 255 bytes: three long folder names and a long file name.
  fs::path longDir = dir / "deep";
  for (char c : {'a', 'b', 'c'}) longDir /= std::string(90, c);
  fs::create_directories(longDir);
  testenv::WriteFile(longDir / (std::string(80, 'n') + ".txt"), "a long name\n");
  testenv::WriteFile(dir / "docs" / "deep" / "text.txt", testenv::RandomBytes(120000, seed + 99, true));
}

void ZipFolder(const fs::path& folder, const fs::path& archive, const std::string& options) {
  std::string out;
  const int rc = testenv::Run("cd " + testenv::Quote(folder.string()) + " && zip -rq " + options + " " +
                                  testenv::Quote(archive.string()) + " . 2>&1",
                              &out);
  ASSERT_EQ(rc, 0) << out;
}

::testing::AssertionResult CheckSetLayout(const std::vector<fs::path>& paths, TSetLayout& layout) {
  if (paths.empty()) return ::testing::AssertionFailure() << "no parts";
  std::vector<std::string> parts;
  for (const fs::path& p : paths) parts.push_back(testenv::ReadFile(p));
  if (parts[0].size() < 8 || G32(parts[0], 0) != 0x08074b50 || G32(parts[0], 4) != 0x04034b50)
    return ::testing::AssertionFailure() << "the first part does not start with the span marker and a local header";
  const std::string& last = parts.back();
  // The end record closes the last part (no comment in these sets).
  if (last.size() < 22 || G32(last, last.size() - 22) != 0x06054b50)
    return ::testing::AssertionFailure() << "the end record does not close the last part";
  const size_t eocd = last.size() - 22;
  uint64_t thisDisk = G16(last, eocd + 4), dirDisk = G16(last, eocd + 6), total = G16(last, eocd + 10);
  uint64_t dirSize = G32(last, eocd + 12), dirOffset = G32(last, eocd + 16);
  layout.Zip64 = false;
  if (eocd >= 20 && G32(last, eocd - 20) == 0x07064b50) {
    const uint64_t at = G64(last, eocd - 20 + 8);
    if (G32(last, eocd - 20 + 4) != thisDisk && thisDisk != 0xFFFF)
      return ::testing::AssertionFailure() << "the Zip64 locator names another part";
    if (at + 56 != eocd - 20 || G32(last, at) != 0x06064b50)
      return ::testing::AssertionFailure() << "the Zip64 end record is not whole before its locator";
    thisDisk = G32(last, at + 16);
    dirDisk = G32(last, at + 20);
    total = G64(last, at + 32);
    dirSize = G64(last, at + 40);
    dirOffset = G64(last, at + 48);
    layout.Zip64 = true;
  }
  if (thisDisk + 1 != parts.size())
    return ::testing::AssertionFailure() << "the end record names part " << thisDisk << " of " << parts.size();
  size_t disk = dirDisk, pos = dirOffset;
  uint64_t seen = 0;
  for (uint64_t i = 0; i < total; ++i) {
    if (disk < parts.size() && pos == parts[disk].size()) {
      ++disk;
      pos = 0;
    }
    if (disk >= parts.size()) return ::testing::AssertionFailure() << "the directory runs past the parts";
    const std::string& p = parts[disk];
    if (pos + 46 > p.size() || G32(p, pos) != 0x02014b50)
      return ::testing::AssertionFailure() << "central header " << i << " split or missing on part " << disk;
    const size_t n = G16(p, pos + 28), e = G16(p, pos + 30), c = G16(p, pos + 32);
    if (pos + 46 + n + e + c > p.size())
      return ::testing::AssertionFailure() << "central header " << i << " split after part " << disk;
    uint64_t localDisk = G16(p, pos + 34), local = G32(p, pos + 42);
    uint64_t csize = G32(p, pos + 20);
    // Zip64 values of this header.
    for (size_t x = pos + 46 + n; x + 4 <= pos + 46 + n + e;) {
      const uint16_t id = G16(p, x), len = G16(p, x + 2);
      if (id == 1) {
        size_t q = x + 4;
        if (G32(p, pos + 24) == 0xFFFFFFFF) q += 8;
        if (csize == 0xFFFFFFFF) {
          csize = G64(p, q);
          q += 8;
        }
        if (local == 0xFFFFFFFF) {
          local = G64(p, q);
          q += 8;
        }
        if (localDisk == 0xFFFF) localDisk = G32(p, q);
      }
      x += 4u + len;
    }
    if (localDisk >= parts.size()) return ::testing::AssertionFailure() << "entry " << i << " names a missing part";
    const std::string& lp = parts[localDisk];
    if (local + 30 > lp.size() || G32(lp, local) != 0x04034b50)
      return ::testing::AssertionFailure() << "local header of entry " << i << " not found whole";
    const size_t ln = G16(lp, local + 26), le = G16(lp, local + 28);
    if (local + 30 + ln + le > lp.size())
      return ::testing::AssertionFailure() << "local header of entry " << i << " split after part " << localDisk;
    if (lp.compare(local + 30, ln, p, pos + 46, n) != 0)
      return ::testing::AssertionFailure() << "entry " << i << " has another name in its local header";
    seen += 46 + n + e + c;
    pos += 46 + n + e + c;
  }
  if (seen != dirSize) return ::testing::AssertionFailure() << "directory bytes " << seen << " != " << dirSize;
  layout.Entries = total;
  layout.LastDisk = static_cast<uint32_t>(thisDisk);
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult SameTree(const fs::path& a, const fs::path& b) {
  const auto ta = testenv::ListTree(a), tb = testenv::ListTree(b);
  if (ta != tb) return ::testing::AssertionFailure() << "different files: " << ta.size() << " vs " << tb.size();
  for (const std::string& rel : ta) {
    if (!rel.empty() && rel.back() == '/') continue;
    if (testenv::ReadFile(a / rel) != testenv::ReadFile(b / rel))
      return ::testing::AssertionFailure() << rel << " differs";
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult ExtractsLike(const fs::path& archive, const fs::path& expected) {
  std::string out;
  if (testenv::Run("unzip -tqq " + testenv::Quote(archive.string()) + " 2>&1", &out) != 0)
    return ::testing::AssertionFailure() << "unzip -t: " << out;
  const fs::path dest = testenv::MakeTempDir("unzipped");
  if (testenv::Run("unzip -qq " + testenv::Quote(archive.string()) + " -d " + testenv::Quote(dest.string()) + " 2>&1",
                   &out) != 0)
    return ::testing::AssertionFailure() << "unzip: " << out;
  return SameTree(dest, expected);
}

std::vector<fs::path> NumberedParts(const fs::path& target) {
  std::vector<fs::path> parts;
  const std::string stem = target.stem().string(), ext = target.extension().string();
  for (int n = 1;; ++n) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%03d", n);
    const fs::path p = target.parent_path() / (stem + digits + ext);
    if (!fs::exists(p)) break;
    parts.push_back(p);
  }
  return parts;
}

std::vector<std::pair<std::string, std::string>> Snapshot(const fs::path& dir) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const std::string& rel : testenv::ListTree(dir))
    out.emplace_back(rel, rel.back() == '/' ? std::string() : testenv::ReadFile(dir / rel));
  return out;
}
