// The shared format code: the code-page module, how stored names are read, the end-record search
// (a comment holding the signature, data in front of the zip data), the archive input, the
// free-space hook and the trash.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "formats/CodePage.h"
#include "MiniArchive.h"
#include "TestEnv.h"
#include "formats/ZipDirectory.h"
#include "platform/ArchiveInput.h"
#include "platform/FileSystem.h"

namespace fs = std::filesystem;
using namespace zipfmt;

namespace {

std::string U(const char8_t* s) { return std::string(reinterpret_cast<const char*>(s)); }

std::vector<MiniEntry> Sample() {
  return {{"a.txt", testenv::RandomBytes(3000, 1, true), true, "", false},
          {"b/c.bin", testenv::RandomBytes(200, 2), false, "", true}};
}

// The archive with its comment replaced.
std::string WithComment(std::string zip, const std::string& comment) {
  const size_t eocd = zip.rfind(std::string("PK\x05\x06", 4));
  zip.resize(eocd + 20);
  Put16(zip, uint16_t(comment.size()));
  return zip + comment;
}

struct Read {
  bool ok = false;
  std::string error;
  CentralDirectory dir;
};

Read ReadBytes(const std::string& bytes) {
  Read r;
  TArchiveMemory in(bytes);
  r.ok = ReadCentralDirectory(in, r.dir, r.error);
  return r;
}

}  // namespace

TEST(CodePage, EveryOemByteRoundTrips) {
  for (int b = 0; b < 256; ++b) {
    const std::string oem(1, char(b));
    const std::string utf8 = codepage::Cp437ToUtf8(oem);
    ASSERT_TRUE(codepage::IsValidUtf8(utf8)) << b;
    std::string back;
    ASSERT_TRUE(codepage::Utf8ToCp437(utf8, back)) << b;
    EXPECT_EQ(back, oem) << b;
    EXPECT_EQ(codepage::Utf8ToCp437Lossy(utf8), oem) << b;
  }
}

TEST(CodePage, Utf8Validation) {
  struct Case {
    std::string text;
    bool valid;
  };
  const Case cases[] = {
      {"plain", true},           {U(u8"Grüße ╔═╗"), true},  {"\xC0\xAF", false} /* overlong "/" */,
      {"\xED\xA0\x80", false} /* surrogate */,               {"\xF4\x90\x80\x80", false} /* > U+10FFFF */,
      {"\xE2\x82", false} /* cut short */,                   {"\x80", false},
      {"\xF0\x9F\x98\x80", true},
  };
  for (const Case& c : cases) EXPECT_EQ(codepage::IsValidUtf8(c.text), c.valid) << c.text;
  std::string out;
  EXPECT_FALSE(codepage::Utf8ToCp437(U(u8"日本"), out));
  EXPECT_EQ(codepage::Utf8ToCp437Lossy(U(u8"a€\xff")), "a??");
}

// One rule for the component and the engines: the same bytes give the same name everywhere.
TEST(ZipNames, StoredNamesReadByOneRule) {
  const std::string cp437 = "M\x81nze";       // "Münze" in CP437, not valid UTF-8
  const std::string utf8 = U(u8"Münze");
  const uint16_t dos = 20, unix = (3 << 8) | 30, ntfs50 = (11 << 8) | 50, ntfs20 = (11 << 8) | 20, hpfs = (6 << 8) | 20;
  struct Case {
    std::string raw;
    uint16_t flags, madeBy;
    NameCodePage page;
    std::string name;
  };
  const Case cases[] = {
      {cp437, 0, dos, NameCodePage::Auto, utf8},           {utf8, 0, unix, NameCodePage::Auto, utf8},
      {cp437, 0, unix, NameCodePage::Auto, utf8},          {utf8, kFlagUtf8, dos, NameCodePage::Auto, utf8},
      {cp437, kFlagUtf8, dos, NameCodePage::Auto, utf8},   {utf8, 0, ntfs20, NameCodePage::Auto, utf8},
      {utf8, 0, ntfs50, NameCodePage::None, Cp437ToUtf8(utf8)}, {utf8, 0, hpfs, NameCodePage::None, Cp437ToUtf8(utf8)},
      {utf8, 0, unix, NameCodePage::Oem, Cp437ToUtf8(utf8)}, {cp437, 0, dos, NameCodePage::None, utf8},
      {utf8, 0, dos, NameCodePage::None, utf8},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecodeEntryName(c.raw, c.flags, "", c.madeBy, c.page), c.name) << c.raw << " " << c.madeBy;
    EXPECT_TRUE(IsValidUtf8(DecodeEntryName(c.raw, c.flags, "", c.madeBy, c.page)));
  }
}

// A comment that holds the end record's signature (or a whole fake record) does not hide the real
// record: the last consistent candidate that ends the file wins.
TEST(ZipEndRecord, CommentHoldingTheSignature) {
  const std::string zip = BuildMiniArchive(Sample());
  std::string fakeEmpty("PK\x05\x06", 4);
  fakeEmpty.append(18, '\0');  // a consistent-looking empty archive
  std::string fakeBig("PK\x05\x06", 4);
  fakeBig.append(std::string("\0\0\0\0\x09\0\x09\0\xff\xff\0\0\x10\0\0\0\0\0", 18));
  const std::string comments[] = {
      std::string("PK\x05\x06", 4),
      "note " + fakeEmpty + " end",
      fakeBig + "tail",
      std::string(1000, 'x') + fakeEmpty + std::string(1000, 'y') + fakeBig,
      fakeEmpty + std::string(65535 - 22, 'c'),
  };
  for (const std::string& c : comments) {
    const Read r = ReadBytes(WithComment(zip, c));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.dir.entries.size(), 2u);
    EXPECT_EQ(r.dir.comment, c);
    EXPECT_FALSE(r.dir.garbage);
  }
  // With nothing better, the last signature still counts (and gives its error).
  const Read broken = ReadBytes(std::string(100, 'z') + fakeBig);
  EXPECT_FALSE(broken.ok);
  EXPECT_FALSE(broken.error.empty());
}

// Bytes in front of an archive whose offsets were never fixed: the shift is found from the
// directory's own position and size, for classic and Zip64 archives alike.
TEST(ZipEndRecord, DataInFrontOfUnfixedOffsets) {
  for (bool zip64 : {false, true}) {
    const std::string zip = BuildMiniArchive(Sample(), zip64, "c");
    for (size_t stub : {size_t(1), size_t(5000), size_t(70000)}) {
      const std::string bytes = testenv::RandomBytes(stub, uint32_t(stub)) + zip;
      TArchiveMemory in(bytes);
      CentralDirectory dir;
      std::string error;
      ASSERT_TRUE(ReadCentralDirectory(in, dir, error)) << error;
      EXPECT_EQ(dir.prefixSize, stub);
      EXPECT_EQ(dir.zip64, zip64);
      for (const CentralEntry& e : dir.entries) {
        LocalInfo li;
        ASSERT_TRUE(LocateEntryData(in, dir, e, li, error)) << error;
        EXPECT_EQ(li.headerStart, stub + e.localHeaderOffset);
      }
    }
  }
}

TEST(ZipEndRecord, GarbageAndPadding) {
  const std::string zip = BuildMiniArchive(Sample());
  Read r = ReadBytes(zip + "garbage");
  ASSERT_TRUE(r.ok);
  EXPECT_TRUE(r.dir.garbage);
  EXPECT_EQ(r.dir.fileEnd, zip.size());
  std::string padded = zip + std::string(512 - zip.size() % 512, '\0');
  r = ReadBytes(padded);
  ASSERT_TRUE(r.ok);
  EXPECT_FALSE(r.dir.garbage);
}

TEST(ArchiveInput, ReadsStayInside) {
  const std::string bytes = "0123456789";
  TArchiveMemory m(bytes);
  char buf[16];
  EXPECT_EQ(m.ReadAt(8, buf, 10), 2);
  EXPECT_EQ(m.ReadAt(10, buf, 1), 0);
  EXPECT_EQ(m.ReadAt(~uint64_t(0), buf, 1), 0);
  EXPECT_TRUE(m.ReadExact(0, buf, 10));
  EXPECT_FALSE(m.ReadExact(1, buf, 10));
  EXPECT_FALSE(m.ReadExact(~uint64_t(0) - 2, buf, 5));  // offset + n would wrap around

  const fs::path p = testenv::MakeTempDir("input") / "f";
  testenv::WriteFile(p, bytes);
  TArchiveFile f;
  std::string error;
  ASSERT_TRUE(f.Open(p.string(), error)) << error;
  EXPECT_EQ(f.Size(), 10u);
  EXPECT_EQ(f.ReadAt(5, buf, 16), 5);
  EXPECT_EQ(f.ReadAt(uint64_t(1) << 63, buf, 1), -1);
  EXPECT_FALSE(f.ReadExact(~uint64_t(0), buf, 1));
  EXPECT_FALSE(f.Open(p.parent_path().string(), error)) << "a folder is not an archive";
  EXPECT_EQ(TArchiveFile::Open((p.parent_path() / "missing").string()), nullptr);
}

TEST(FreeSpace, OneHookForEveryCaller) {
  const std::string root = testenv::MakeTempDir("free").string();
  const int64_t real = FreeOnDisk(root);
  ASSERT_GT(real, 0);
  struct Case {
    std::string hook, path;
    int64_t answer;  // -2: the real value
  };
  const Case cases[] = {
      {"1234", root, 1234},
      {root + "=77", root + "/below/deeper", 77},
      {root + "=77", root + "x", -2},  // a sibling with the same prefix is not below
      {root + "=77;5", "/elsewhere", 5},
      {"/a=1;" + root + "=2;3", root, 2},
      {"nonsense;" + root + "=x", root, -2},
      {"/=9", root, 9},
  };
  for (const Case& c : cases) {
    testenv::SetFreeSpace(c.hook);
    const int64_t got = FreeOnDisk(c.path);
    testenv::SetFreeSpace("");
    if (c.answer == -2)
      EXPECT_GT(got, 0) << c.hook;
    else
      EXPECT_EQ(got, c.answer) << c.hook;
  }
}

TEST(Trash, MovesIntoTheHomeTrashWithItsInfo) {
  const fs::path data = std::getenv("XDG_DATA_HOME");
  const fs::path dir = testenv::MakeTempDir("trash");
  std::string error;
  for (int round = 1; round <= 2; ++round) {
    testenv::WriteFile(dir / "same name.txt", "round " + std::to_string(round));
    ASSERT_TRUE(MoveToTrash((dir / "same name.txt").string(), error)) << error;
    EXPECT_FALSE(fs::exists(dir / "same name.txt"));
  }
  const fs::path trash = data / "Trash";
  EXPECT_EQ(testenv::ReadFile(trash / "files" / "same name.txt"), "round 1");
  EXPECT_EQ(testenv::ReadFile(trash / "files" / "same name.txt.2"), "round 2");
  const std::string info = testenv::ReadFile(trash / "info" / "same name.txt.2.trashinfo");
  EXPECT_NE(info.find("Path=" + dir.string() + "/same%20name.txt\n"), std::string::npos) << info;
  EXPECT_NE(info.find("DeletionDate="), std::string::npos);
  EXPECT_FALSE(MoveToTrash((dir / "missing").string(), error));
  EXPECT_FALSE(error.empty());
}
