// The format registry: content first, name second, on real archives of each kind under the wrong
// names, on archives with data in front, empty and cut-short files.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "RarWriter.h"
#include "TestEnv.h"
#include "ops/FormatRegistry.h"

namespace fs = std::filesystem;
using testenv::Quote;

namespace {

// An old-style (pre-ustar) tar header for one file of `size` bytes, checksum filled in.
std::string OldTarHeader(const std::string& name, size_t size) {
  std::string h(512, '\0');
  std::memcpy(h.data(), name.data(), name.size());
  std::snprintf(h.data() + 100, 8, "%07o", 0644);
  std::snprintf(h.data() + 108, 8, "%07o", 0);
  std::snprintf(h.data() + 116, 8, "%07o", 0);
  std::snprintf(h.data() + 124, 12, "%011o", static_cast<unsigned>(size));
  std::snprintf(h.data() + 136, 12, "%011o", 1700000000u);
  h[156] = '0';
  std::memset(h.data() + 148, ' ', 8);
  unsigned sum = 0;
  for (unsigned char c : h) sum += c;
  std::snprintf(h.data() + 148, 8, "%06o", sum);
  h[155] = ' ';
  return h;
}

class FormatRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testenv::MakeTempDir("registry");
    testenv::WriteFile(dir_ / "a.txt", testenv::RandomBytes(3000, 1, true));
    ASSERT_EQ(Sh("zip -q real.zip a.txt && tar cf real.tar a.txt && tar czf real.tgz a.txt && gzip -k a.txt"), 0);
    testenv::WriteFile(dir_ / "real.rar", rartest::MakeRar4({{"a.txt", "hello"}}));
  }
  int Sh(const std::string& cmd) { return testenv::Run("cd " + Quote(dir_.string()) + " && " + cmd + " >/dev/null 2>&1"); }
  // Copies `from` (in the folder) under a new name.
  fs::path As(const std::string& from, const std::string& name) {
    fs::copy_file(dir_ / from, dir_ / name, fs::copy_options::overwrite_existing);
    return dir_ / name;
  }
  fs::path Write(const std::string& name, const std::string& bytes) {
    testenv::WriteFile(dir_ / name, bytes);
    return dir_ / name;
  }
  fs::path dir_;
};

}  // namespace

TEST_F(FormatRegistryTest, SignatureBeatsExtension) {
  const std::string zip = testenv::ReadFile(dir_ / "real.zip");
  const std::string oldTar = OldTarHeader("old.txt", 5) + "hello" + std::string(507, '\0') + std::string(1024, '\0');
  const struct {
    fs::path file;
    TArchiveFormat format;
    TFormatEvidence evidence;
    int64_t zipPrefix;
  } cases[] = {
      {As("real.zip", "zip-named.tar"), TArchiveFormat::Zip, TFormatEvidence::Signature, 0},
      {As("real.tgz", "targz-named.zip"), TArchiveFormat::TarGz, TFormatEvidence::Signature, -1},
      {As("a.txt.gz", "plain-gzip.tar.gz"), TArchiveFormat::Gzip, TFormatEvidence::Signature, -1},
      {As("real.rar", "rar-named.bin"), TArchiveFormat::Rar, TFormatEvidence::Signature, -1},
      {As("real.tar", "tar-named.gz"), TArchiveFormat::Tar, TFormatEvidence::Signature, -1},
      {Write("old-named.zip", oldTar), TArchiveFormat::Tar, TFormatEvidence::Signature, -1},
      // Data in front (a self-extracting program): found by its end record.
      {Write("prefixed.bin", std::string(1000, '\x7f') + zip), TArchiveFormat::Zip, TFormatEvidence::Signature, 1000},
      // Bytes after the end record still leave it a zip archive.
      {Write("trailing.dat", std::string(300, 'M') + zip + "GARBAGE"), TArchiveFormat::Zip, TFormatEvidence::Signature, 300},
      // Empty and cut-short files: the name decides.
      {Write("empty.zip", ""), TArchiveFormat::Zip, TFormatEvidence::Extension, -1},
      {Write("empty.bin", ""), TArchiveFormat::Unknown, TFormatEvidence::None, -1},
      {Write("short-header.tar", OldTarHeader("x", 1).substr(0, 200)), TArchiveFormat::Tar, TFormatEvidence::Extension, -1},
      {Write("cut-rar.rar", "Rar!\x1a"), TArchiveFormat::Rar, TFormatEvidence::Extension, -1},
      {Write("magic-only.dat", "\x1f\x8b"), TArchiveFormat::Gzip, TFormatEvidence::Signature, -1},
      {Write("local-only.zip", "PK\x03\x04"), TArchiveFormat::Zip, TFormatEvidence::Extension, -1},
      {Write("end-only.tar", "PK\x05\x06"), TArchiveFormat::Tar, TFormatEvidence::Extension, -1},
      {Write("empty-zip.bin", std::string("PK\x05\x06", 4) + std::string(18, '\0')), TArchiveFormat::Zip,
       TFormatEvidence::Signature, 0},
      {Write("notes.txt", "hello, world\n"), TArchiveFormat::Unknown, TFormatEvidence::None, -1},
      // A tar header whose checksum is wrong is no tar.
      {Write("badsum.bin", [&] { std::string t = oldTar; t[0] = 'X'; return t; }()), TArchiveFormat::Unknown,
       TFormatEvidence::None, -1},
  };
  for (const auto& c : cases) {
    const TFormatMatch m = DetectArchiveFormat(c.file.string());
    EXPECT_EQ(m.Format, c.format) << c.file.filename();
    EXPECT_EQ(m.Evidence, c.evidence) << c.file.filename();
    EXPECT_EQ(m.ZipPrefix, c.zipPrefix) << c.file.filename();
    EXPECT_TRUE(m.Status.IsOk()) << c.file.filename();
  }
}

TEST_F(FormatRegistryTest, MissingFilesAndFolders) {
  TFormatMatch m = DetectArchiveFormat((dir_ / "gone.tar.gz").string());
  EXPECT_EQ(m.Status.Code(), TStatusCode::NotFound);
  EXPECT_EQ(m.Format, TArchiveFormat::TarGz);
  EXPECT_EQ(m.Evidence, TFormatEvidence::Extension);
  fs::create_directories(dir_ / "folder.zip");
  m = DetectArchiveFormat((dir_ / "folder.zip").string());
  EXPECT_EQ(m.Status.Code(), TStatusCode::Unreadable);
}

// What keeps a file from being opened at all, found without reading it (a FIFO would block a read).
TEST_F(FormatRegistryTest, FilesThatCannotBeOpenedAtAll) {
  fs::create_directories(dir_ / "folder.zip");
  ASSERT_EQ(mkfifo((dir_ / "fifo.tar").c_str(), 0600), 0);
  fs::create_symlink("loop.gz", dir_ / "loop.gz");
  fs::create_symlink("gone.zip", dir_ / "dangling.zip");
  Write("empty.rar", "");
  const struct {
    std::string name;
    TStatusCode code;
    std::string why;
  } cases[] = {
      {"real.zip", TStatusCode::Ok, ""},
      {"gone.zip", TStatusCode::NotFound, "No such file or directory"},
      {"dangling.zip", TStatusCode::NotFound, "No such file or directory"},
      {"real.zip/inside.zip", TStatusCode::NotFound, "Not a directory"},
      {"folder.zip", TStatusCode::Unreadable, "not a regular file"},
      {"fifo.tar", TStatusCode::Unreadable, "not a regular file"},
      {"loop.gz", TStatusCode::Unreadable, "Too many levels of symbolic links"},
      {"empty.rar", TStatusCode::Unreadable, "the file is empty"},
  };
  for (const auto& c : cases) {
    const TStatus s = CheckArchiveFile((dir_ / c.name).string());
    EXPECT_EQ(s.Code(), c.code) << c.name;
    EXPECT_EQ(s.Message(), c.why) << c.name;
  }
  EXPECT_EQ(CheckArchiveFile("").Code(), TStatusCode::NotFound);
  // Detection does not block on a FIFO either.
  EXPECT_EQ(DetectArchiveFormat((dir_ / "fifo.tar").string()).Status.Code(), TStatusCode::Unreadable);
}

TEST(FormatNames, NewArchivesAndExtensions) {
  const struct {
    const char* name;
    TArchiveFormat byExtension, forNew;
  } cases[] = {
      {"a.zip", TArchiveFormat::Zip, TArchiveFormat::Zip},
      {"A.ZIP", TArchiveFormat::Zip, TArchiveFormat::Zip},
      {"backup.zip.zip", TArchiveFormat::Zip, TArchiveFormat::Zip},
      {"a.tar", TArchiveFormat::Tar, TArchiveFormat::Tar},
      {"a.tar.gz", TArchiveFormat::TarGz, TArchiveFormat::TarGz},
      {"a.TGZ", TArchiveFormat::TarGz, TArchiveFormat::TarGz},
      {"a.gz", TArchiveFormat::Gzip, TArchiveFormat::Gzip},
      {"a.rar", TArchiveFormat::Rar, TArchiveFormat::Unknown},
      {"setup.run", TArchiveFormat::Unknown, TArchiveFormat::Zip},  // a self-extracting program
      {"SETUP.RUN", TArchiveFormat::Unknown, TArchiveFormat::Zip},
      {"a.zip.old", TArchiveFormat::Unknown, TArchiveFormat::Unknown},
      {"zip", TArchiveFormat::Unknown, TArchiveFormat::Unknown},
      {"", TArchiveFormat::Unknown, TArchiveFormat::Unknown},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatByExtension(c.name), c.byExtension) << c.name;
    EXPECT_EQ(FormatForNewArchive(c.name), c.forNew) << c.name;
  }
}
