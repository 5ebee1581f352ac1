// Format library: records read back by peers (unzip, 7z) and by our own parser; names, times,
// encryption and wildcard matching.
#include <gtest/gtest.h>

#include "MiniArchive.h"
#include "TestEnv.h"
#include "Wildcard.h"
#include "ZipAttributes.h"
#include "ZipCrypto.h"
#include "formats/ZipDirectory.h"
#include "formats/ZipNames.h"
#include "ZipTime.h"

#include <sys/stat.h>
#include <zlib.h>

using namespace zipfmt;
namespace fs = std::filesystem;

namespace {

std::string U(const char8_t* s) { return reinterpret_cast<const char*>(s); }

std::vector<MiniEntry> SampleEntries() {
  return {
      {"plain.txt", testenv::RandomBytes(5000, 1, true), false, "", false},
      {"dir/deflated.bin", testenv::RandomBytes(70000, 2, true), true, "", false},
      {U(u8"Grüße/naïve €.txt"), "unicode name\n", true, "", false},
      {"empty.txt", "", false, "", false},
      {"secret.txt", testenv::RandomBytes(3000, 3, true), true, "pa55", false},
      {"secret-desc.txt", testenv::RandomBytes(3000, 4, true), true, "pa55", true},
  };
}

void ExpectPeersAccept(const fs::path& zip, const std::vector<MiniEntry>& entries) {
  ASSERT_TRUE(testenv::HaveTool("unzip"));
  ASSERT_TRUE(testenv::HaveTool("7z"));
  std::string out;
  EXPECT_EQ(testenv::Run("unzip -t -P pa55 " + testenv::Quote(zip.string()), &out), 0) << out;
  EXPECT_EQ(testenv::Run("7z t -ppa55 " + testenv::Quote(zip.string()), &out), 0) << out;
  for (const char* tool : {"unzip", "7z"}) {
    fs::path dest = testenv::MakeTempDir(tool);
    std::string cmd = std::string(tool) == "unzip"
                          ? "unzip -q -P pa55 " + testenv::Quote(zip.string()) + " -d " + testenv::Quote(dest.string())
                          : "7z x -y -ppa55 " + testenv::Quote(zip.string()) + " -o" + testenv::Quote(dest.string());
    ASSERT_EQ(testenv::Run(cmd, &out), 0) << out;
    for (const MiniEntry& e : entries) EXPECT_EQ(testenv::ReadFile(dest / fs::u8path(e.name)), e.data) << tool << " " << e.name;
  }
}

void ExpectParsedBack(const fs::path& zip, const std::vector<MiniEntry>& entries, bool zip64) {
  TArchiveFile f;
  std::string err;
  ASSERT_TRUE(f.Open(zip.string(), err)) << err;
  CentralDirectory dir;
  ASSERT_TRUE(ReadCentralDirectory(f, dir, err)) << err;
  EXPECT_EQ(dir.zip64, zip64);
  EXPECT_EQ(dir.comment, "the comment");
  ASSERT_EQ(dir.entries.size(), entries.size());
  std::vector<LocalInfo> infos;
  for (size_t i = 0; i < entries.size(); ++i) {
    const CentralEntry& ce = dir.entries[i];
    EXPECT_EQ(ce.name, entries[i].name);
    EXPECT_EQ(ce.uncompressedSize, entries[i].data.size());
    EXPECT_EQ(ce.hasZip64, zip64);
    EXPECT_EQ(ce.IsEncrypted(), !entries[i].password.empty());
    LocalInfo li;
    ASSERT_TRUE(LocateEntryData(f, dir, ce, li, err)) << err;
    EXPECT_EQ(li.dataEnd - li.dataStart, ce.compressedSize);
    if (entries[i].descriptor) {
      EXPECT_EQ(li.recordEnd - li.dataEnd, zip64 ? 24u : 16u);
    }
    infos.push_back(li);
  }
  EXPECT_TRUE(CheckNoOverlaps(dir, infos, err)) << err;
}

}  // namespace

TEST(ZipFormat, ClassicArchiveIsReadByPeersAndParser) {
  auto entries = SampleEntries();
  fs::path zip = testenv::MakeTempDir() / "classic.zip";
  testenv::WriteFile(zip, BuildMiniArchive(entries, false, "the comment"));
  ExpectPeersAccept(zip, entries);
  ExpectParsedBack(zip, entries, false);
}

TEST(ZipFormat, ForcedZip64RecordsAreReadByPeersAndParser) {
  auto entries = SampleEntries();
  fs::path zip = testenv::MakeTempDir() / "zip64.zip";
  testenv::WriteFile(zip, BuildMiniArchive(entries, true, "the comment"));
  ExpectPeersAccept(zip, entries);
  ExpectParsedBack(zip, entries, true);
}

TEST(ZipFormat, SelfExtractorPrefixIsDetected) {
  auto entries = SampleEntries();
  std::string stub(1000, 'S');
  fs::path zip = testenv::MakeTempDir() / "stub.zip";
  testenv::WriteFile(zip, stub + BuildMiniArchive(entries, false, "the comment"));
  TArchiveFile f;
  std::string err;
  ASSERT_TRUE(f.Open(zip.string(), err));
  CentralDirectory dir;
  ASSERT_TRUE(ReadCentralDirectory(f, dir, err)) << err;
  EXPECT_EQ(dir.prefixSize, 1000u);
  LocalInfo li;
  EXPECT_TRUE(LocateEntryData(f, dir, dir.entries[1], li, err)) << err;
}

TEST(ZipFormat, Zip64FieldsLargerThan4GiBRoundTrip) {
  EntryFields e;
  e.rawName = "big.bin";
  e.uncompressedSize = 0x123456789ull;
  e.compressedSize = 0x100000005ull;
  e.localHeaderOffset = 0x200000000ull;
  std::string h = BuildCentralHeader(e);
  ASSERT_EQ(Get32(h.data() + 20), kMax32);
  ASSERT_EQ(Get32(h.data() + 42), kMax32);
  std::string extra = h.substr(kCentralHeaderSize + e.rawName.size(), Get16(h.data() + 30));
  EntryFields back;
  back.uncompressedSize = back.compressedSize = back.localHeaderOffset = kMax32;
  auto z = FindExtra(extra, kExtraZip64);
  ASSERT_TRUE(z);
  ASSERT_TRUE(ApplyZip64(*z, true, back));
  EXPECT_EQ(back.uncompressedSize, e.uncompressedSize);
  EXPECT_EQ(back.compressedSize, e.compressedSize);
  EXPECT_EQ(back.localHeaderOffset, e.localHeaderOffset);
  // A block lacking a required value is refused.
  EntryFields lacking;
  lacking.uncompressedSize = lacking.compressedSize = kMax32;
  EXPECT_FALSE(ApplyZip64(z->substr(0, 8), false, lacking));

  std::string local = BuildLocalHeader(e, true);
  e.crc32 = 0xCAFEBABE;
  e.compressedSize = 0x500000000ull;
  PatchLocalSizes(local, e, true);
  EntryFields lb;
  lb.uncompressedSize = lb.compressedSize = kMax32;
  std::string lextra = local.substr(kLocalHeaderSize + e.rawName.size());
  ASSERT_TRUE(ApplyZip64(*FindExtra(lextra, kExtraZip64), false, lb));
  EXPECT_EQ(lb.compressedSize, 0x500000000ull);
  EXPECT_EQ(Get32(local.data() + 14), 0xCAFEBABEu);

  std::string end = BuildEndRecords(70000, 0x180000000ull, 5000, 0x180001388ull, "c");
  EXPECT_EQ(Get32(end.data()), kZip64EndSig);
  EXPECT_EQ(Get64(end.data() + 32), 70000u);
  EXPECT_EQ(Get32(end.data() + kZip64EndSize), kZip64LocatorSig);
  EXPECT_EQ(Get16(end.data() + kZip64EndSize + kZip64LocatorSize + 10), kMax16);
}

TEST(ZipFormat, NamesCp437Utf8AndUnicodePathField) {
  EXPECT_EQ(Cp437ToUtf8("\x81\x9c\xe1"), U(u8"ü£ß"));
  std::string cp;
  ASSERT_TRUE(Utf8ToCp437(U(u8"Müßig"), cp));
  EXPECT_EQ(cp, "M\x81\xe1ig");
  EXPECT_FALSE(Utf8ToCp437(U(u8"日本"), cp));
  EXPECT_FALSE(IsValidUtf8("\xc0\xaf"));       // overlong "/"
  EXPECT_FALSE(IsValidUtf8("\xed\xa0\x80"));   // surrogate
  EXPECT_FALSE(IsValidUtf8("abc\xe2\x82"));    // truncated
  EXPECT_TRUE(IsValidUtf8(U(u8"€ok")));

  // Flag bit 11 takes the bytes as UTF-8; without it an MS-DOS entry is CP437.
  EXPECT_EQ(DecodeEntryName(U(u8"ä.txt"), kFlagUtf8, "", 0), U(u8"ä.txt"));
  EXPECT_EQ(DecodeEntryName("\x84.txt", 0, "", 0), U(u8"ä.txt"));
  // The Unicode Path field wins when its CRC matches the stored name, not otherwise.
  std::string raw = "\x84.txt";
  uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(raw.data()), uInt(raw.size())));
  std::string data = "\x01";
  Put32(data, crc);
  data += U(u8"α.txt");
  EXPECT_EQ(DecodeEntryName(raw, 0, MakeExtra(kExtraUnicodePath, data), 0), U(u8"α.txt"));
  Set32At(data, 1, crc ^ 1);
  EXPECT_EQ(DecodeEntryName(raw, 0, MakeExtra(kExtraUnicodePath, data), 0), U(u8"ä.txt"));

  EncodedName n = EncodeEntryName(U(u8"ä.txt"));
  EXPECT_TRUE(n.utf8Flag);
  EXPECT_EQ(n.raw, U(u8"ä.txt"));
  EXPECT_FALSE(EncodeEntryName("plain.txt").utf8Flag);
  n = EncodeEntryName(U(u8"ä.txt"), true);
  EXPECT_FALSE(n.utf8Flag);
  EXPECT_EQ(n.raw, "\x84.txt");
  EXPECT_EQ(NormalizeEntryName("\\\\a\\b/c"), "a/b/c");
}

TEST(ZipFormat, DosTimesAndAttributes) {
  time_t t = 1700000000;  // even seconds survive the 2-second resolution
  DosDateTime d = UnixToDos(t);
  EXPECT_EQ(DosToUnix(d.date, d.time), t);
  DosDateTime old = UnixToDos(0);
  EXPECT_EQ(old.date, (1 << 5) | 1);  // clamped to 1980-01-01
  time_t back;
  ASSERT_TRUE(ReadExtTimeMtime(MakeExtTimeExtra(t).substr(4), back));
  EXPECT_EQ(back, t);

  uint32_t a = ExternalAttrFromUnix(S_IFREG | 0444, false);
  EXPECT_EQ(a & kDosReadOnly, kDosReadOnly);
  EXPECT_EQ(UnixModeFromEntry((kHostUnix << 8) | 30, a, false), mode_t(S_IFREG | 0444));
  EXPECT_EQ(UnixModeFromEntry(20, kDosDirectory, false), mode_t(S_IFDIR | 0755));
  EXPECT_EQ(UnixModeFromEntry(20, kDosReadOnly, false), mode_t(S_IFREG | 0444));
}

TEST(ZipFormat, ZipCryptoRoundTripAndCheckByte) {
  std::string plain = testenv::RandomBytes(1000, 9);
  std::string buf = plain;
  ZipCrypto enc("secret");
  uint8_t header[kCryptHeaderSize];
  enc.MakeHeader(header, 0xAB);
  enc.Encrypt(reinterpret_cast<uint8_t*>(buf.data()), buf.size());
  EXPECT_NE(buf, plain);
  ZipCrypto dec("secret");
  EXPECT_EQ(dec.ReadHeader(header), 0xAB);
  dec.Decrypt(reinterpret_cast<uint8_t*>(buf.data()), buf.size());
  EXPECT_EQ(buf, plain);
}

TEST(ZipFormat, Wildcards) {
  EXPECT_TRUE(WildcardMatch("*.txt", "a/b/c.txt"));
  EXPECT_TRUE(WildcardMatch("*.*", "README"));
  EXPECT_TRUE(WildcardMatch("a?c", "abc"));
  EXPECT_FALSE(WildcardMatch("a?c", "ac"));
  EXPECT_TRUE(WildcardMatch("*a*b*c", "xxaxxbxxc"));
  EXPECT_FALSE(WildcardMatch("*a*b*c", "xxaxxcxxb"));
  EXPECT_FALSE(WildcardMatch("*.TXT", "a.txt"));
  EXPECT_TRUE(HasWildcards("x?"));
  EXPECT_FALSE(HasWildcards("plain/name"));
}
