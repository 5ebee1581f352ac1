// The header parser and the library against hostile input, built with AddressSanitizer and
// UBSan: hand-made impossible headers, inputs kept from fuzzing, and truncated and mutated samples.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "RarWriter.h"
#include "SampleData.h"
#include "TestEnv.h"
#include "rar/RarFormat.h"
#include "rar/UnrarApi.h"

namespace fs = std::filesystem;
using namespace rartest;

namespace {

// Walks every block the parser finds; returns the number of file entries.
int ParseAll(const std::string& bytes) {
  rarfmt::MemorySource src(bytes.data(), bytes.size());
  rarfmt::ArchiveInfo info;
  if (rarfmt::ReadArchiveStart(src, info) != rarfmt::Status::Ok) return -1;
  uint64_t offset = info.firstBlock;
  int files = 0;
  for (int i = 0; i < 100000; ++i) {
    rarfmt::Block b;
    if (rarfmt::ReadBlock(src, info.format, offset, b) != rarfmt::Status::Ok) break;
    files += b.kind == rarfmt::BlockKind::File;
    if (b.kind == rarfmt::BlockKind::End) break;
    EXPECT_GT(b.next, offset);
    if (b.next <= offset) break;
    offset = b.next;
  }
  return files;
}

// Opens the file through the library and tests (or extracts into `dest`) every entry; returns the ending code.
int TestAll(const fs::path& file, const fs::path& dest = {}, const char* password = nullptr) {
  const std::string name = file.string();
  RAROpenArchiveData o{};
  o.ArcName = name.c_str();
  char comment[256];
  o.CmtBuf = comment;
  o.CmtBufSize = sizeof comment;
  RarHandle h = RAROpenArchive(&o);
  if (!h) return int(o.OpenResult);
  if (password) RARSetPassword(h, password);
  RARHeaderData hd{};
  int r = 0;
  for (int i = 0; i < 100000 && (r = RARReadHeader(h, &hd)) == 0; ++i)
    if ((r = RARProcessFile(h, dest.empty() ? RAR_TEST : RAR_EXTRACT, dest.c_str(), nullptr)) != 0) break;
  RARCloseArchive(h);
  return r;
}

std::string Rar5(const std::string& body) {
  std::string sized;
  rarfmt::AppendVint(sized, body.size());
  sized += body;
  std::string out("Rar!\x1A\x07\x01\x00", 8);
  std::string main;
  rarfmt::AppendVint(main, 1);
  rarfmt::AppendVint(main, 0);
  rarfmt::AppendVint(main, 0);
  std::string mainSized;
  rarfmt::AppendVint(mainSized, main.size());
  mainSized += main;
  Put32(out, rarfmt::Crc32(0, mainSized.data(), mainSized.size()));
  out += mainSized;
  Put32(out, rarfmt::Crc32(0, sized.data(), sized.size()));
  return out + sized;
}

}  // namespace

TEST(RarHostile, ImpossibleRar5Headers) {
  // File header whose name runs past the header.
  std::string file;
  rarfmt::AppendVint(file, 2);
  rarfmt::AppendVint(file, 0);
  rarfmt::AppendVint(file, 0);  // file flags
  rarfmt::AppendVint(file, 5);  // unpacked size
  rarfmt::AppendVint(file, 0x20);
  rarfmt::AppendVint(file, 0);  // compression
  rarfmt::AppendVint(file, 0);  // host
  rarfmt::AppendVint(file, 1000);
  file += "abc";
  EXPECT_EQ(ParseAll(Rar5(file)), 0);
  // Extra area larger than the header.
  std::string extra;
  rarfmt::AppendVint(extra, 2);
  rarfmt::AppendVint(extra, 0x0001);
  rarfmt::AppendVint(extra, 9999);
  EXPECT_EQ(ParseAll(Rar5(extra)), 0);
  // Data size near 2^64: the next block's offset would overflow.
  std::string huge;
  rarfmt::AppendVint(huge, 2);
  rarfmt::AppendVint(huge, 0x0002);
  rarfmt::AppendVint(huge, UINT64_MAX - 3);
  rarfmt::AppendVint(huge, 0);
  rarfmt::AppendVint(huge, 1);
  rarfmt::AppendVint(huge, 0x20);
  rarfmt::AppendVint(huge, 0);
  rarfmt::AppendVint(huge, 0);
  rarfmt::AppendVint(huge, 1);
  huge += "h";
  EXPECT_LE(ParseAll(Rar5(huge)), 0);
  // Extra records: zero size, a size past the area, a redirection with an impossible name length.
  std::string records;
  rarfmt::AppendVint(records, 2);
  rarfmt::AppendVint(records, 0x0001);
  std::string area;
  rarfmt::AppendVint(area, 6);
  rarfmt::AppendVint(area, 5);  // redirection
  rarfmt::AppendVint(area, 1);
  rarfmt::AppendVint(area, 0);
  rarfmt::AppendVint(area, 500);
  area += "ab";
  rarfmt::AppendVint(area, 0);
  rarfmt::AppendVint(records, area.size());
  rarfmt::AppendVint(records, 0);
  rarfmt::AppendVint(records, 1);
  rarfmt::AppendVint(records, 0x20);
  rarfmt::AppendVint(records, 0);
  rarfmt::AppendVint(records, 0);
  rarfmt::AppendVint(records, 1);
  records += "r";
  records += area;
  EXPECT_EQ(ParseAll(Rar5(records)), 1);
  // A variable-length number longer than ten bytes.
  uint64_t v = 0;
  size_t used = 0;
  const std::string longVint(11, '\xFF');
  EXPECT_FALSE(rarfmt::ReadVint(reinterpret_cast<const uint8_t*>(longVint.data()), longVint.size(), v, used));
}

TEST(RarHostile, ImpossibleRar4Headers) {
  // Name size past the header end.
  std::string body;
  Put32(body, 0);
  Put32(body, 0);
  body += char(2);
  Put32(body, 0);
  Put32(body, 0);
  body += char(20);
  body += char(0x30);
  Put16(body, 60000);
  Put32(body, 0x20);
  body += "n";
  EXPECT_EQ(ParseAll(Rar4Start() + Rar4Block(0x74, 0x8000, body) + Rar4End()), 0);
  // 64-bit sizes that overflow the next offset.
  std::string big;
  Put32(big, 0xFFFFFFFF);
  Put32(big, 0xFFFFFFFF);
  big += char(2);
  Put32(big, 0);
  Put32(big, 0);
  big += char(20);
  big += char(0x30);
  Put16(big, 1);
  Put32(big, 0x20);
  Put32(big, 0xFFFFFFFF);
  Put32(big, 0xFFFFFFFF);
  big += "b";
  EXPECT_LE(ParseAll(Rar4Start() + Rar4Block(0x74, 0x8100, big) + Rar4End()), 1);
  // Unicode names whose encoded part reaches past the ASCII part and the field.
  for (const std::string& enc : {std::string("\x00\xFF\xFF\xFF\xFF", 5), std::string("\x10\xC0\x7F", 3),
                                 std::string("\x10\xC0\xFF\x01", 4), std::string("\x00\x80", 2)}) {
    const std::string field = std::string("ab") + '\0' + enc;
    const std::string out = rarfmt::DecodeRar4UnicodeName(reinterpret_cast<const uint8_t*>(field.data()), field.size());
    EXPECT_LE(out.size(), 2048u * 4);
  }
  // Block types outside the format and header sizes below the minimum.
  std::string odd = Rar4Start();
  odd += std::string("\x00\x00\x99\x00\x00\x07\x00", 7);
  EXPECT_EQ(ParseAll(odd), 0);
  std::string tiny = Rar4Start();
  tiny += std::string("\x00\x00\x74\x00\x80\x03\x00", 7);
  EXPECT_EQ(ParseAll(tiny), 0);
}

TEST(RarHostile, KeptFuzzerInputs) {
  const fs::path dir = fs::path(TANDOR_RAR_TEST_SOURCE) / "fuzz-inputs";
  int count = 0;
  if (fs::is_directory(dir)) {
    for (const auto& f : fs::directory_iterator(dir)) {
      SCOPED_TRACE(f.path().filename().string());
      ParseAll(testenv::ReadFile(f.path()));
      TestAll(f.path());
      ++count;
    }
  }
  EXPECT_GE(count, 10);
}

// The encrypted samples, cut and mutated, opened with their passwords: encryption records, header
// decryption, keys and data decryption under the sanitizers.
TEST(RarHostile, MutatedEncryptedSamplesWithPasswords) {
  std::mt19937 rng(20251210);
  const fs::path work = testenv::MakeTempDir("mut-enc");
  const std::pair<const char*, const char*> samples[] = {
      {"test_read_format_rar_encryption_header.rar", "12345678"},
      {"test_read_format_rar_encryption_data.rar", "12345678"},
      {"test_read_format_rar4_encrypted_filenames.rar", "password"},
      {"test_read_format_rar5_solid_encrypted.rar", "password"},
  };
  for (const auto& [sample, password] : samples) {
    SCOPED_TRACE(sample);
    const std::string bytes = testenv::ReadFile(testenv::TestDataDir() / "rar" / sample);
    testenv::WriteFile(work / "m.rar", bytes);
    EXPECT_EQ(TestAll(work / "m.rar", {}, password), ERAR_END_ARCHIVE);
    for (size_t cut = 0; cut < bytes.size(); cut += 1 + bytes.size() / 11) {
      testenv::WriteFile(work / "m.rar", bytes.substr(0, cut));
      TestAll(work / "m.rar", {}, password);  // a cut at a block boundary may well be a good archive
    }
    for (int i = 0; i < 24; ++i) {
      std::string m = bytes;
      m[rng() % m.size()] = char(rng());
      testenv::WriteFile(work / "m.rar", m);
      TestAll(work / "m.rar", i % 4 == 0 ? work / "out" : fs::path(), password);
    }
  }
}

TEST(RarHostile, TruncatedAndMutatedSamples) {
  std::mt19937 rng(20251209);
  const fs::path work = testenv::MakeTempDir("mut");
  int files = 0;
  for (const auto& f : fs::directory_iterator(testenv::TestDataDir() / "rar")) {
    if (f.path().extension() != ".rar" || fs::file_size(f.path()) > 20000) continue;
    SCOPED_TRACE(f.path().filename().string());
    ++files;
    const std::string bytes = testenv::ReadFile(f.path());
    for (size_t cut = 0; cut < bytes.size(); cut += 1 + bytes.size() / 97) ParseAll(bytes.substr(0, cut));
    for (int i = 0; i < 60; ++i) {
      std::string m = bytes;
      const int flips = 1 + int(rng() % 4);
      for (int k = 0; k < flips; ++k) m[rng() % m.size()] = char(rng());
      ParseAll(m);
      if (i % 4 == 0) {
        testenv::WriteFile(work / "m.rar", m);
        TestAll(work / "m.rar", i % 8 == 0 ? work / "out" : fs::path());
      }
    }
  }
  EXPECT_GE(files, 10);
  // Whatever was written stayed inside the output folder.
  for (const auto& e : fs::directory_iterator(work)) EXPECT_TRUE(e.path().filename() == "m.rar" || e.path().filename() == "out");
}
