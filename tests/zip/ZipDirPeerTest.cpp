// The directory reader against archives made by Info-ZIP zip, 7-Zip and Python's zipfile: every
// listed name, size, CRC, date and comment must equal what zipinfo reports.
#include <gtest/gtest.h>

#include <filesystem>

#include "ScriptedPrompt.h"
#include "TestEnv.h"
#include "ZipTestUtil.h"
#include "zip/ZipKit.h"

namespace fs = std::filesystem;
using testenv::Quote;

namespace {

class ZipDirPeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testenv::MakeTempDir("zipdir");
    tree_ = dir_ / "tree";
    fs::create_directories(tree_ / "sub" / "deeper");
    fs::create_directories(tree_ / "empty folder");
    testenv::WriteFile(tree_ / "a.txt", "hello world\n");
    testenv::WriteFile(tree_ / "sub" / "b.bin", testenv::RandomBytes(20000, 7));
    testenv::WriteFile(tree_ / "sub" / "deeper" / "c.txt", testenv::RandomBytes(50000, 8, true));
    testenv::WriteFile(tree_ / "zero.dat", "");
  }

  // Runs a shell command in the work folder and requires success.
  void Sh(const std::string& command) {
    std::string out;
    ASSERT_EQ(testenv::Run("cd " + Quote(dir_.string()) + " && " + command + " 2>&1", &out), 0) << command << "\n" << out;
  }

  void Python(const std::string& script) {
    testenv::WriteFile(dir_ / "make.py", script);
    Sh("python3 make.py");
  }

  // Lists `archive` with folder entries kept and compares it with zipinfo.
  void ExpectMatchesZipInfo(const fs::path& archive, TZipKit& kit) {
    kit.UseDirOnlyEntries = true;
    kit.SetZipFileName(archive.string());
    ASSERT_EQ(kit.ZipFileName(), archive.string()) << kit.LastMessage;
    const TZipInfo info = RunZipInfo(archive);
    ASSERT_EQ(static_cast<size_t>(kit.EntryCount()), info.Entries.size());
    ASSERT_FALSE(info.Entries.empty());
    for (int i = 0; i < kit.EntryCount(); ++i) {
      const ZipDirEntry e = kit.DirEntry(i);
      const TZipInfoEntry& z = info.Entries[static_cast<size_t>(i)];
      SCOPED_TRACE(z.Name);
      EXPECT_EQ(e.EntryName, z.Name);
      EXPECT_EQ(e.Crc32, z.Crc);
      EXPECT_EQ(e.PackedSize, z.PackedSize);
      EXPECT_EQ(e.UnpackedSize, z.UnpackedSize);
      EXPECT_EQ(FormatDosDateTime(e.DosDateTime), z.DosDate);
      EXPECT_EQ(e.EntryComment, z.Comment);
      EXPECT_EQ(e.IsEncrypted, z.Encrypted);
    }
    // zipinfo shows stored "\r\n" line breaks as "\n".
    std::string comment = kit.ArchiveComment();
    for (size_t p; (p = comment.find("\r\n")) != std::string::npos;) comment.erase(p, 1);
    EXPECT_EQ(comment, info.Comment);
  }

  fs::path dir_, tree_;
  TScriptedPrompt prompt_;
};

TEST_F(ZipDirPeerTest, InfoZipArchivesPlainStoredEncryptedCommented) {
  Sh("zip -qr plain.zip tree");
  Sh("zip -qr0 stored.zip tree");
  Sh("zip -qr -P secret encrypted.zip tree");
  Sh("zip -qr commented.zip tree && printf 'note on a\\n' | zip -c commented.zip tree/a.txt >/dev/null"
     " && printf 'the archive comment\\nsecond line\\n' | zip -z commented.zip >/dev/null");
  for (const char* name : {"plain.zip", "stored.zip", "encrypted.zip", "commented.zip"}) {
    SCOPED_TRACE(name);
    TZipKit kit;
    ExpectMatchesZipInfo(dir_ / name, kit);
    EXPECT_EQ(kit.ErrCode, 0) << kit.LastMessage;
    EXPECT_EQ(kit.SFXOffset(), 0);
    EXPECT_FALSE(kit.OffsetMismatch());
  }
  TZipKit kit;
  kit.SetZipFileName((dir_ / "commented.zip").string());
  EXPECT_EQ(kit.ArchiveComment(), "the archive comment\r\nsecond line");
  EXPECT_TRUE(prompt_.History().empty());
}

TEST_F(ZipDirPeerTest, FolderEntriesAreSkippedAndCountedUnlessKept) {
  Sh("zip -qr plain.zip tree");
  TZipKit kit;
  std::vector<std::pair<int32_t, std::string>> seen;
  kit.OnNewName = [&](TZipKit*, int32_t seq, const ZipDirEntry& e) { seen.emplace_back(seq, e.EntryName); };
  int updates = 0;
  kit.OnDirUpdate = [&](TZipKit*) { ++updates; };
  kit.SetZipFileName((dir_ / "plain.zip").string());
  EXPECT_EQ(updates, 1);
  EXPECT_EQ(kit.EntryCount(), 4);
  EXPECT_EQ(kit.DirOnlyCount(), 4);  // tree/, tree/sub/, tree/sub/deeper/, tree/empty folder/
  ASSERT_EQ(seen.size(), 4u);
  // Sequence numbers count the skipped folder records too.
  std::string out;
  ASSERT_EQ(testenv::Run("unzip -Z1 " + Quote((dir_ / "plain.zip").string()), &out), 0);
  std::vector<std::string> all;
  for (size_t p = 0, q; (q = out.find('\n', p)) != std::string::npos; p = q + 1) all.push_back(out.substr(p, q - p));
  for (const auto& [seq, name] : seen) {
    ASSERT_GE(seq, 1);
    ASSERT_LE(static_cast<size_t>(seq), all.size());
    EXPECT_EQ(all[static_cast<size_t>(seq) - 1], name);
  }
}

TEST_F(ZipDirPeerTest, SevenZipArchive) {
  Sh("7z a -tzip -bd -y seven.zip tree >/dev/null");
  TZipKit kit;
  ExpectMatchesZipInfo(dir_ / "seven.zip", kit);
  EXPECT_EQ(kit.ErrCode, 0) << kit.LastMessage;
}

TEST_F(ZipDirPeerTest, PythonDataDescriptorsZip64AndUtf8Names) {
  Python(R"(
import zipfile, io
class Unseekable(io.RawIOBase):
    def __init__(self, f): self.f = f
    def writable(self): return True
    def write(self, b): return self.f.write(b)
with open('dd.zip', 'wb') as raw:
    with zipfile.ZipFile(Unseekable(raw), 'w', zipfile.ZIP_DEFLATED) as z:
        z.writestr('one.txt', 'data descriptor ' * 100)
        z.writestr('dir/two.txt', 'more')
with zipfile.ZipFile('z64.zip', 'w', zipfile.ZIP_DEFLATED) as z:
    with z.open('forced.bin', 'w', force_zip64=True) as f:
        f.write(b'x' * 5000)
    z.writestr('plain.txt', 'abc')
with zipfile.ZipFile('utf8.zip', 'w') as z:
    z.writestr('naïve/fïle€.txt', 'x' * 100)
    z.writestr('日本語.txt', 'y')
    z.comment = b'python comment'
)");
  for (const char* name : {"dd.zip", "z64.zip", "utf8.zip"}) {
    SCOPED_TRACE(name);
    TZipKit kit;
    ExpectMatchesZipInfo(dir_ / name, kit);
    EXPECT_EQ(kit.ErrCode, 0) << kit.LastMessage;
  }
  TZipKit kit;
  kit.SetZipFileName((dir_ / "dd.zip").string());
  ASSERT_EQ(kit.EntryCount(), 2);
  EXPECT_NE(kit.DirEntry(0).GeneralFlags & 8, 0);
  kit.SetZipFileName((dir_ / "utf8.zip").string());
  ASSERT_EQ(kit.EntryCount(), 2);
  EXPECT_EQ(kit.DirEntry(0).EntryName, "naïve/fïle€.txt");
  EXPECT_EQ(kit.DirEntry(1).EntryName, "日本語.txt");
}

TEST_F(ZipDirPeerTest, MoreThan65535EntriesUseTheZip64EndRecord) {
  std::vector<TCraftEntry> entries(70000);
  for (size_t i = 0; i < entries.size(); ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "f%05u", static_cast<unsigned>(i));
    entries[i].Name = name;
  }
  TCraftOptions options;
  options.Zip64End = true;
  testenv::WriteFile(dir_ / "many.zip", CraftZip(entries, options));
  TZipKit kit;
  kit.SetZipFileName((dir_ / "many.zip").string());
  ASSERT_EQ(kit.ErrCode, 0) << kit.LastMessage;
  EXPECT_TRUE(kit.EndRecord().IsZip64);
  ASSERT_EQ(kit.EntryCount(), 70000);
  EXPECT_EQ(kit.DirEntry(0).EntryName, "f00000");
  EXPECT_EQ(kit.DirEntry(69999).EntryName, "f69999");
  std::string out;
  ASSERT_EQ(testenv::Run("unzip -Z1 " + Quote((dir_ / "many.zip").string()) + " | wc -l", &out), 0);
  EXPECT_EQ(std::stoi(out), kit.EntryCount());
}

TEST_F(ZipDirPeerTest, Zip64ExtraFieldsGiveSizesOver4GiB) {
  TCraftEntry big;
  big.Name = "huge.iso";
  big.Data = "abc";
  big.Zip64Sizes = true;
  big.FakeUnpackedSize = 5'000'000'000ULL;
  testenv::WriteFile(dir_ / "big.zip", CraftZip({big}));
  TZipKit kit;
  kit.SetZipFileName((dir_ / "big.zip").string());
  ASSERT_EQ(kit.EntryCount(), 1) << kit.LastMessage;
  EXPECT_EQ(kit.DirEntry(0).UnpackedSize, 5'000'000'000ULL);
  EXPECT_EQ(kit.DirEntry(0).PackedSize, 3u);
  const TZipInfo info = RunZipInfo(dir_ / "big.zip");
  ASSERT_EQ(info.Entries.size(), 1u);
  EXPECT_EQ(info.Entries[0].UnpackedSize, kit.DirEntry(0).UnpackedSize);
}

TEST_F(ZipDirPeerTest, StubInFrontWithAndWithoutFixedOffsets) {
  Sh("zip -qr plain.zip tree");
  const std::string stub = testenv::RandomBytes(3001, 3);
  testenv::WriteFile(dir_ / "stub.bin", stub);
  Sh("cat stub.bin plain.zip > glued.zip && cp glued.zip fixed.zip && zip -qA fixed.zip");

  TZipKit glued;
  ExpectMatchesZipInfo(dir_ / "glued.zip", glued);
  EXPECT_TRUE(glued.OffsetMismatch());
  EXPECT_EQ(glued.ErrCode, 10203);
  EXPECT_TRUE(prompt_.Saw("Warning - Error in zip structure!"));
  EXPECT_EQ(glued.SFXOffset(), 3001);

  prompt_.Clear();
  TZipKit fixed;
  ExpectMatchesZipInfo(dir_ / "fixed.zip", fixed);
  EXPECT_FALSE(fixed.OffsetMismatch());
  EXPECT_EQ(fixed.ErrCode, 0);
  EXPECT_EQ(fixed.SFXOffset(), 3001);
  EXPECT_TRUE(prompt_.History().empty());
}

TEST_F(ZipDirPeerTest, GarbageAfterTheEndRecordWarnsButZeroPaddingDoesNot) {
  Sh("zip -qr plain.zip tree && cp plain.zip garbage.zip && printf 'trailing junk' >> garbage.zip");
  const uint64_t size = fs::file_size(dir_ / "plain.zip");
  const uint64_t pad = 512 - size % 512;
  ASSERT_GT(pad, 0u);
  testenv::WriteFile(dir_ / "padded.zip", testenv::ReadFile(dir_ / "plain.zip") + std::string(pad, '\0'));

  TZipKit kit;
  kit.SetZipFileName((dir_ / "garbage.zip").string());
  EXPECT_EQ(kit.ZipFileName(), (dir_ / "garbage.zip").string());
  EXPECT_EQ(kit.ErrCode, 10204);
  EXPECT_TRUE(prompt_.Saw("Warning - Garbage at the end of the zipfile!"));
  EXPECT_EQ(kit.EntryCount(), 4);
  EXPECT_EQ(kit.FileEnd(), static_cast<int64_t>(size));

  prompt_.Clear();
  TZipKit padded;
  padded.SetZipFileName((dir_ / "padded.zip").string());
  EXPECT_EQ(padded.ErrCode, 0);
  EXPECT_EQ(padded.EntryCount(), 4);
  EXPECT_TRUE(prompt_.History().empty());

  // Zero bytes that do not end on a 512-byte block are garbage.
  testenv::WriteFile(dir_ / "zeros.zip", testenv::ReadFile(dir_ / "plain.zip") + std::string(pad + 1, '\0'));
  TZipKit zeros;
  zeros.SetZipFileName((dir_ / "zeros.zip").string());
  EXPECT_EQ(zeros.ErrCode, 10204);
}

TEST_F(ZipDirPeerTest, LongestCommentAndEndRecordOnly) {
  Python(R"(
import zipfile
with zipfile.ZipFile('long.zip', 'w') as z:
    z.writestr('x.txt', 'x')
    z.comment = bytes((65 + i % 26) for i in range(65535))
with zipfile.ZipFile('empty.zip', 'w') as z:
    pass
)");
  TZipKit kit;
  ExpectMatchesZipInfo(dir_ / "long.zip", kit);
  EXPECT_EQ(kit.ArchiveComment().size(), 65535u);
  EXPECT_EQ(kit.ErrCode, 0);

  ASSERT_EQ(fs::file_size(dir_ / "empty.zip"), 22u);
  TZipKit empty;
  empty.SetZipFileName((dir_ / "empty.zip").string());
  EXPECT_EQ(empty.ZipFileName(), (dir_ / "empty.zip").string());
  EXPECT_EQ(empty.EntryCount(), 0);
  EXPECT_EQ(empty.SFXOffset(), 0);
  EXPECT_EQ(empty.ErrCode, 0);
  EXPECT_TRUE(prompt_.History().empty());
}

TEST_F(ZipDirPeerTest, WritingTheArchiveCommentRoundTrips) {
  Sh("zip -qr plain.zip tree");
  const fs::path zip = dir_ / "plain.zip";
  TZipKit kit;
  kit.SetZipFileName(zip.string());
  kit.SetArchiveComment("set by us\nline two");
  EXPECT_EQ(RunZipInfo(zip).Comment, "set by us\nline two");
  kit.SetZipFileName(zip.string());
  EXPECT_EQ(kit.ArchiveComment(), "set by us\nline two");
  std::string out;
  EXPECT_EQ(testenv::Run("unzip -tq " + Quote(zip.string()), &out), 0) << out;

  kit.SetArchiveComment("");
  EXPECT_EQ(static_cast<int64_t>(fs::file_size(zip)), kit.EndRecordOffset() + 22);
  EXPECT_EQ(RunZipInfo(zip).Comment, "");
  EXPECT_EQ(testenv::Run("unzip -tq " + Quote(zip.string()), &out), 0) << out;
}

TEST_F(ZipDirPeerTest, MissingFileListsNothingSilently) {
  TZipKit kit;
  int updates = 0;
  kit.OnDirUpdate = [&](TZipKit*) { ++updates; };
  kit.SetZipFileName((dir_ / "absent.zip").string());
  EXPECT_EQ(updates, 1);
  EXPECT_EQ(kit.EntryCount(), 0);
  EXPECT_EQ(kit.ErrCode, 0);
  EXPECT_TRUE(prompt_.History().empty());
}

}  // namespace
