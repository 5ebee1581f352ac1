// The RAR library through its C interface: the samples, generated stored archives,
// multi-volume sets, damaged and hostile input.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>

#include "RarWriter.h"
#include "SampleData.h"
#include "TestEnv.h"
#include "rar/RarDecoder.h"
#include "rar/RarFormat.h"
#include "rar/UnrarApi.h"

namespace fs = std::filesystem;
using namespace rartest;

namespace {

const bool kUtc = (setenv("TZ", "UTC", 1), tzset(), true);

struct Listed {
  std::string name;
  RARHeaderData h{};
  unsigned long long unp = 0;
  int result = 0;  // RARProcessFile's result
};

struct WalkResult {
  unsigned openResult = 0;
  int endCode = 0;  // the RARReadHeader code that ended the walk
  std::vector<Listed> entries;
  std::vector<std::string> volumeCalls;
};

WalkResult* gRun = nullptr;
int gVolumeAnswer = 1;
std::string gPassword;  // set on every archive Walk opens
std::string gVolumeRename;

int VolumeProc(char* name, int mode) {
  if (gRun) gRun->volumeCalls.push_back(std::string(mode == RAR_VOL_ASK ? "ask " : "notify ") + name);
  if (mode == RAR_VOL_ASK && !gVolumeRename.empty()) {
    std::snprintf(name, RAR_VOLNAME_SIZE, "%s", gVolumeRename.c_str());
    gVolumeRename.clear();
  }
  return gVolumeAnswer;
}

// Opens `archive`, reads every header and applies `operation` to each entry (stops at the first error).
WalkResult Walk(const fs::path& archive, int operation, const fs::path& dest = {}, bool withVolumeProc = true) {
  WalkResult run;
  gRun = &run;
  const std::string arc = archive.string();
  RAROpenArchiveData o{};
  o.ArcName = arc.c_str();
  o.OpenMode = operation == RAR_SKIP ? RAR_OM_LIST : RAR_OM_EXTRACT;
  RarHandle h = RAROpenArchive(&o);
  run.openResult = o.OpenResult;
  if (!h) {
    gRun = nullptr;
    return run;
  }
  if (withVolumeProc) RARSetChangeVolProc(h, VolumeProc);
  if (!gPassword.empty()) RARSetPassword(h, gPassword.c_str());
  const std::string destStr = dest.string();
  for (;;) {
    Listed e;
    const int r = RARReadHeader(h, &e.h);
    if (r != 0) {
      run.endCode = r;
      break;
    }
    e.name = e.h.FileName;
    unsigned long long pack = 0;
    RARGetHeaderSizes64(h, &pack, &e.unp);
    e.result = RARProcessFile(h, operation, dest.empty() ? nullptr : destStr.c_str(), nullptr);
    run.entries.push_back(e);
    if (e.result != 0) {
      run.endCode = e.result;
      break;
    }
  }
  EXPECT_EQ(RARCloseArchive(h), 0);
  gRun = nullptr;
  return run;
}

bool IsFolder(const RARHeaderData& h) { return (h.Flags & RHDF_DIRECTORY) == RHDF_DIRECTORY; }

const char* kListedSamples[] = {
    "test_read_format_rar5_fileattr.rar",        "test_read_format_rar5_owner.rar",
    "test_read_format_rar5_stored_manyfiles.rar", "test_read_format_rar_binary_data.rar",
    "test_read_format_rar_encryption_partially.rar", "test_read_format_rar_noeof.rar",
    "test_read_format_rar3_lowdist_reset.rar",       "test_read_format_rar5_solid.rar",
    "test_read_format_rar5_multiple_files_solid.rar", "test_read_format_rar5_multiple_files.rar",
    "test_read_format_rar5_multiarchive_solid.part01.rar",
};

}  // namespace

TEST(UnrarSamples, ListingsMatchBsdtar) {
  for (const char* sample : kListedSamples) {
    SCOPED_TRACE(sample);
    int status = 0;
    const auto expected = ExpectedListing(sample, status);
    ASSERT_EQ(status, 0);
    const WalkResult run = Walk(Sample(sample), RAR_SKIP);
    ASSERT_EQ(run.openResult, 0u);
    EXPECT_EQ(run.endCode, ERAR_END_ARCHIVE);
    ASSERT_EQ(run.entries.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(run.entries[i].name, expected[i].name);
      EXPECT_EQ(run.entries[i].unp, expected[i].size);
      EXPECT_EQ(run.entries[i].h.UnpSize, expected[i].size);
      int y, m, d;
      DosDate(run.entries[i].h.FileTime, y, m, d);
      EXPECT_EQ(y, expected[i].year) << expected[i].name;
      EXPECT_EQ(m, expected[i].month);
      EXPECT_EQ(d, expected[i].day);
    }
  }
}

TEST(UnrarSamples, ExtractionsMatchBsdtarSums) {
  const char* samples[] = {"test_read_format_rar5_fileattr.rar", "test_read_format_rar5_owner.rar",
                           "test_read_format_rar5_stored_manyfiles.rar", "test_read_format_rar_binary_data.rar",
                           "test_read_format_rar_noeof.rar", "test_read_format_rar5_solid.rar",
                           "test_read_format_rar5_multiple_files_solid.rar", "test_read_format_rar5_multiple_files.rar",
                           "test_read_format_rar5_multiarchive_solid.part01.rar"};
  for (const char* sample : samples) {
    SCOPED_TRACE(sample);
    int status = 0;
    const auto sums = ExpectedSums(sample, status);
    ASSERT_EQ(status, 0);
    const fs::path dest = testenv::MakeTempDir("x");
    const WalkResult run = Walk(Sample(sample), RAR_EXTRACT, dest);
    EXPECT_EQ(run.endCode, ERAR_END_ARCHIVE);
    for (const auto& [name, sum] : sums) EXPECT_EQ(Sha256Hex(testenv::ReadFile(dest / name)), sum) << name;
    size_t files = 0;
    for (const auto& e : run.entries) files += IsFolder(e.h) ? 0 : 1;
    EXPECT_EQ(files, sums.size());
  }
}

TEST(UnrarSamples, FolderAndAttributeFlags) {
  const WalkResult run = Walk(Sample("test_read_format_rar5_fileattr.rar"), RAR_SKIP);
  std::map<std::string, RARHeaderData> byName;
  for (const auto& e : run.entries) byName[e.name] = e.h;
  EXPECT_EQ(byName["readonly.txt"].FileAttr & 0x17u, unsigned(RAR_ATTR_READONLY));
  EXPECT_EQ(byName["hidden.txt"].FileAttr & 0x17u, unsigned(RAR_ATTR_HIDDEN));
  EXPECT_EQ(byName["system.txt"].FileAttr & 0x17u, unsigned(RAR_ATTR_SYSTEM));
  EXPECT_FALSE(IsFolder(byName["ro_hidden.txt"]));
  for (const char* dir : {"dir_readonly", "dir_hidden", "dir_system", "dir_rohidden"}) {
    EXPECT_TRUE(IsFolder(byName[dir])) << dir;
    EXPECT_TRUE(byName[dir].FileAttr & RAR_ATTR_DIRECTORY) << dir;
  }
}

TEST(UnrarSamples, ZipStoredInsideExtractsWhole) {
  const fs::path dest = testenv::MakeTempDir("zip");
  const WalkResult run = Walk(Sample("test_read_format_rar5_zip_in_rar.rar"), RAR_EXTRACT, dest);
  EXPECT_EQ(run.endCode, ERAR_END_ARCHIVE);
  ASSERT_TRUE(testenv::HaveTool("unzip"));
  std::string out;
  EXPECT_EQ(testenv::Run("unzip -p " + testenv::Quote((dest / "payload/inner.zip").string()), &out), 0);
  int status = 0;
  const auto sums = ExpectedSums("test_read_format_rar5_zip_in_rar.rar", status);
  ASSERT_EQ(sums.size(), 1u);
  EXPECT_EQ(Sha256Hex(out), sums[0].second);
  EXPECT_TRUE(fs::is_regular_file(dest / "payload/real_after.txt"));
}

TEST(UnrarSamples, MultiVolumeSetsOpenFromTheFirstVolume) {
  {
    const fs::path dest = testenv::MakeTempDir("mv");
    const WalkResult run = Walk(Sample("test_rar_multivolume_single_file.part1.rar"), RAR_EXTRACT, dest);
    EXPECT_EQ(run.endCode, ERAR_END_ARCHIVE);
    ASSERT_EQ(run.entries.size(), 1u);
    ASSERT_EQ(run.volumeCalls.size(), 2u);
    EXPECT_EQ(run.volumeCalls[0], "notify " + Sample("test_rar_multivolume_single_file.part2.rar").string());
    EXPECT_EQ(fs::file_size(dest / "LibarchiveAddingTest.html"), 20111u);
  }
  const fs::path dest = testenv::MakeTempDir("mv");
  const WalkResult run = Walk(Sample("test_rar_multivolume_uncompressed_files.part01.rar"), RAR_EXTRACT, dest);
  EXPECT_EQ(run.endCode, ERAR_END_ARCHIVE);
  EXPECT_EQ(run.volumeCalls.size(), 9u);
  const std::vector<std::string> names = {
      "testdir/LibarchiveAddingTest2.html", "testdir/testsubdir/LibarchiveAddingTest2.html",
      "LibarchiveAddingTest2.html",         "testdir/LibarchiveAddingTest.html",
      "testdir/testsubdir/LibarchiveAddingTest.html", "LibarchiveAddingTest.html",
      "testdir/testsymlink5", "testdir/testsymlink6", "testsymlink", "testsymlink2", "testsymlink3", "testsymlink4",
      "testdir/testemptysubdir", "testdir/testsubdir", "testdir", "testemptydir"};
  ASSERT_EQ(run.entries.size(), names.size());
  for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(run.entries[i].name, names[i]);
  const std::string html = testenv::ReadFile(dest / "LibarchiveAddingTest.html");
  EXPECT_EQ(html.size(), 20111u);
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(testenv::ReadFile(dest / names[i]), html) << names[i];
  EXPECT_EQ(fs::read_symlink(dest / "testsymlink"), "testdir/LibarchiveAddingTest.html");
  EXPECT_EQ(fs::read_symlink(dest / "testdir/testsymlink5"), "testsubdir/LibarchiveAddingTest.html");
  EXPECT_TRUE(fs::is_directory(dest / "testemptydir"));

  const WalkResult rar5 = Walk(Sample("test_read_format_rar5_multiarchive.part01.rar"), RAR_TEST);
  EXPECT_EQ(rar5.endCode, ERAR_END_ARCHIVE);
  ASSERT_EQ(rar5.entries.size(), 2u);
  EXPECT_EQ(rar5.entries[0].unp, 144608u);
  EXPECT_EQ(rar5.volumeCalls.size(), 7u);
}

TEST(UnrarSamples, MissingVolumeAsksAndStops) {
  const fs::path dir = testenv::MakeTempDir("vol");
  fs::copy_file(Sample("test_rar_multivolume_single_file.part1.rar"), dir / "set.part1.rar");
  fs::create_directory(dir / "moved");
  fs::copy_file(Sample("test_rar_multivolume_single_file.part2.rar"), dir / "moved/set.part2.rar");
  fs::copy_file(Sample("test_rar_multivolume_single_file.part3.rar"), dir / "moved/set.part3.rar");
  // No callback: the missing volume is an open error.
  EXPECT_EQ(Walk(dir / "set.part1.rar", RAR_TEST, {}, false).endCode, ERAR_EOPEN);
  // The callback declines.
  gVolumeAnswer = 0;
  WalkResult run = Walk(dir / "set.part1.rar", RAR_TEST);
  gVolumeAnswer = 1;
  EXPECT_EQ(run.endCode, ERAR_EOPEN);
  ASSERT_EQ(run.volumeCalls.size(), 1u);
  EXPECT_EQ(run.volumeCalls[0], "ask " + (dir / "set.part2.rar").string());
  // The callback names the volume.
  gVolumeRename = (dir / "moved/set.part2.rar").string();
  run = Walk(dir / "set.part1.rar", RAR_TEST);
  EXPECT_EQ(run.endCode, ERAR_END_ARCHIVE);
  ASSERT_EQ(run.entries.size(), 1u);
  EXPECT_EQ(run.entries[0].result, 0);
  EXPECT_EQ(run.volumeCalls.size(), 3u);  // ask, notify part 2, notify part 3
  // A link from the next volume's name back to the first volume is not walked round and round.
  const fs::path loop = testenv::MakeTempDir("loop");
  fs::copy_file(Sample("test_read_format_rar5_multiarchive.part01.rar"), loop / "l.part1.rar");
  fs::create_symlink("l.part1.rar", loop / "l.part2.rar");
  EXPECT_EQ(Walk(loop / "l.part1.rar", RAR_SKIP).endCode, ERAR_BAD_DATA);
}

TEST(UnrarSamples, DamagedAndEncryptedFailCleanly) {
  EXPECT_EQ(Walk(Sample("test_read_format_rar_ppmd_use_after_free.rar"), RAR_EXTRACT, testenv::MakeTempDir()).openResult
                | 0u, unsigned(ERAR_BAD_ARCHIVE));
  const WalkResult overflow = Walk(Sample("test_read_format_rar5_distance_overflow.rar"), RAR_EXTRACT, testenv::MakeTempDir());
  EXPECT_TRUE(overflow.openResult != 0 || (overflow.endCode != 0 && overflow.endCode != ERAR_END_ARCHIVE));
  const WalkResult locked = Walk(Sample("test_read_format_rar4_encrypted_filenames.rar"), RAR_SKIP);
  EXPECT_EQ(locked.openResult, 0u);
  EXPECT_EQ(locked.endCode, ERAR_MISSING_PASSWORD);  // the headers wait for a password
  EXPECT_TRUE(locked.entries.empty());
  // The decoder edge case is refused rather than extracted wrongly.
  EXPECT_EQ(Walk(Sample("test_read_format_rar3_lowdist_reset.rar"), RAR_TEST).endCode, ERAR_BAD_DATA);

  const WalkResult partial = Walk(Sample("test_read_format_rar_encryption_partially.rar"), RAR_SKIP);
  ASSERT_EQ(partial.entries.size(), 2u);
  EXPECT_TRUE(partial.entries[0].h.Flags & RHDF_ENCRYPTED);
  const fs::path dest = testenv::MakeTempDir();
  const WalkResult extract = Walk(Sample("test_read_format_rar_encryption_partially.rar"), RAR_EXTRACT, dest);
  EXPECT_EQ(extract.endCode, ERAR_MISSING_PASSWORD);
  EXPECT_TRUE(testenv::ListTree(dest).empty());
  const WalkResult solid = Walk(Sample("test_read_format_rar5_solid_encrypted.rar"), RAR_EXTRACT, dest);
  ASSERT_EQ(solid.entries.size(), 1u);
  EXPECT_TRUE(solid.entries[0].h.Flags & RHDF_ENCRYPTED);
  EXPECT_EQ(solid.endCode, ERAR_MISSING_PASSWORD);
}

// Encrypted samples (data only, headers too, RAR 3/4 and RAR 5 solid) with their documented passwords
// and contents: no password and a wrong one end with their codes and leave nothing behind.
TEST(UnrarSamples, EncryptedSamplesWithTheirPasswords) {
  const std::map<std::string, std::string> foobar = {{"foo.txt", "data of foo.txt\n"}, {"bar.txt", "data of bar.txt\n"}};
  std::map<std::string, std::string> abcd;
  for (const char* n : {"a", "b", "c", "d"}) abcd[std::string(n) + ".txt"] = std::string("This is from ") + n + ".txt";
  struct Case {
    const char* sample;
    const char* password;
    const std::map<std::string, std::string>* files;
  } cases[] = {
      {"test_read_format_rar_encryption_data.rar", "12345678", &foobar},
      {"test_read_format_rar_encryption_partially.rar", "12345678", &foobar},
      {"test_read_format_rar_encryption_header.rar", "12345678", &foobar},
      {"test_read_format_rar4_encrypted_filenames.rar", "password", &abcd},
      {"test_read_format_rar5_solid_encrypted.rar", "password", &abcd},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sample);
    for (const char* password : {"", "wrong password", c.password}) {
      SCOPED_TRACE(password);
      gPassword = password;
      const fs::path dest = testenv::MakeTempDir("enc");
      const WalkResult x = Walk(Sample(c.sample), RAR_EXTRACT, dest);
      const WalkResult t = Walk(Sample(c.sample), RAR_TEST);
      gPassword.clear();
      if (password == c.password) {
        EXPECT_EQ(x.endCode, ERAR_END_ARCHIVE);
        EXPECT_EQ(t.endCode, ERAR_END_ARCHIVE);
        EXPECT_EQ(testenv::ListTree(dest).size(), c.files->size());
        for (const auto& [name, text] : *c.files) EXPECT_EQ(testenv::ReadFile(dest / name), text) << name;
      } else {
        EXPECT_EQ(x.endCode, *password ? ERAR_BAD_PASSWORD : ERAR_MISSING_PASSWORD);
        EXPECT_EQ(t.endCode, x.endCode);
        EXPECT_TRUE(testenv::ListTree(dest).empty());
      }
    }
  }
}

TEST(UnrarGenerated, StoredArchiveListsAndExtracts) {
  std::vector<Rar4Item> items(3);
  items[0].name = "docs\\readme.txt";
  items[0].data = "Hello from a stored RAR 4 archive.\n";
  items[1].name = "docs";
  items[1].folder = true;
  items[2].name = "bin/data.bin";
  items[2].data = testenv::RandomBytes(70000, 7);
  items[2].hostOS = 3;
  items[2].attr = 0100640;
  const fs::path dir = testenv::MakeTempDir("gen");
  testenv::WriteFile(dir / "a.rar", MakeRar4(items));
  const WalkResult list = Walk(dir / "a.rar", RAR_SKIP);
  ASSERT_EQ(list.entries.size(), 3u);
  EXPECT_EQ(list.entries[0].name, "docs/readme.txt");
  EXPECT_EQ(list.entries[0].h.FileCRC, Crc(items[0].data));
  EXPECT_EQ(list.entries[0].h.FileTime, items[0].dosTime);
  EXPECT_EQ(list.entries[0].h.Method, 0x30u);
  EXPECT_TRUE(IsFolder(list.entries[1].h));
  EXPECT_EQ(list.entries[2].h.UnpSize, 70000u);
  EXPECT_EQ(list.entries[2].h.HostOS, unsigned(RAR_HOST_UNIX));

  const fs::path dest = dir / "out";
  fs::create_directory(dest);
  const WalkResult run = Walk(dir / "a.rar", RAR_EXTRACT, dest);
  EXPECT_EQ(run.endCode, ERAR_END_ARCHIVE);
  EXPECT_EQ(testenv::ReadFile(dest / "docs/readme.txt"), items[0].data);
  EXPECT_EQ(testenv::ReadFile(dest / "bin/data.bin"), items[2].data);
  EXPECT_EQ(fs::status(dest / "bin/data.bin").permissions() & fs::perms::all, fs::perms(0640));
  struct stat st {};
  ASSERT_EQ(stat((dest / "docs/readme.txt").c_str(), &st), 0);
  struct tm t {};
  gmtime_r(&st.st_mtime, &t);
  EXPECT_EQ(t.tm_year + 1900, 2025);
  EXPECT_EQ(t.tm_mon + 1, 4);
  EXPECT_EQ(t.tm_mday, 11);
  EXPECT_EQ(t.tm_hour, 13);
}

TEST(UnrarGenerated, FlippedDataByteIsBadData) {
  std::vector<Rar4Item> items(2);
  items[0].name = "good.txt";
  items[0].data = "first entry stays fine";
  items[1].name = "bad.txt";
  items[1].data = std::string(5000, 'q');
  std::string bytes = MakeRar4(items);
  bytes[bytes.size() - 7 - 2500] ^= 0x01;  // inside bad.txt's data
  const fs::path dir = testenv::MakeTempDir("flip");
  testenv::WriteFile(dir / "f.rar", bytes);
  const WalkResult run = Walk(dir / "f.rar", RAR_EXTRACT, dir / "out");
  ASSERT_EQ(run.entries.size(), 2u);
  EXPECT_EQ(run.entries[0].result, 0);
  EXPECT_EQ(run.entries[1].result, ERAR_BAD_DATA);
  EXPECT_TRUE(fs::exists(dir / "out/good.txt"));
  EXPECT_FALSE(fs::exists(dir / "out/bad.txt"));  // no damaged file is left behind
  EXPECT_EQ(Walk(dir / "f.rar", RAR_TEST).endCode, ERAR_BAD_DATA);
  // A damaged header checksum stops the walk there.
  std::string header = MakeRar4(items);
  header[7 + 13 + 10] ^= 0x40;  // first file header's unpacked size
  testenv::WriteFile(dir / "h.rar", header);
  const WalkResult bad = Walk(dir / "h.rar", RAR_SKIP);
  EXPECT_TRUE(bad.entries.empty());
  EXPECT_EQ(bad.endCode, ERAR_BAD_DATA);
}

TEST(UnrarGenerated, UnicodeAndLegacyNames) {
  std::vector<Rar4Item> items(2);
  // ASCII part "caf_.txt", then the encoded part: high byte 0, flags 0b00'00'00'00 x2 (8 low bytes).
  std::string unicode = std::string("caf_.txt") + '\0';
  unicode += char(0x00);  // high byte
  unicode += char(0x00);  // flags: four plain bytes
  unicode += "caf";
  unicode += char(0xE9);  // é
  unicode += char(0x00);  // flags: four more plain bytes
  unicode += ".txt";
  items[0].name = unicode;
  items[0].extraFlags = 0x200;
  items[0].data = "u";
  items[1].name = std::string("\x80l\x8Ave.txt");  // CP437: Çlève
  items[1].data = "o";
  // Every mode of the encoding: high byte + low byte, runs copied from the ASCII part, full 16-bit units.
  Rar4Item wide;
  wide.name = std::string("?mega-??.txt") + '\0' + std::string("\x03\x7A\xA9\x03\xE5\x65\x2C\x67\xC0\x02", 10);
  wide.extraFlags = 0x200;
  wide.data = "w";
  items.push_back(wide);
  const fs::path dir = testenv::MakeTempDir("names");
  testenv::WriteFile(dir / "n.rar", MakeRar4(items));
  const WalkResult run = Walk(dir / "n.rar", RAR_SKIP);
  ASSERT_EQ(run.entries.size(), 3u);
  EXPECT_EQ(run.entries[2].name, "\xCE\xA9mega-\xE6\x97\xA5\xE6\x9C\xAC.txt");  // Ωmega-日本.txt
  EXPECT_EQ(run.entries[0].name, "caf\xC3\xA9.txt");
  EXPECT_EQ(run.entries[1].name, "\xC3\x87l\xC3\xA8ve.txt");
}

TEST(UnrarGenerated, HostileNamesStayInsideTheDestination) {
  const fs::path dir = testenv::MakeTempDir("hostile");
  const fs::path dest = dir / "dest";
  fs::create_directories(dest / "inner");
  fs::create_directory(dir / "outside");
  std::vector<Rar4Item> items(6);
  items[0].name = "../x";
  items[0].data = "dotdot";
  items[1].name = "/abs/x";
  items[1].data = "absolute";
  items[2].name = "C:\\win\\y";
  items[2].data = "drive";
  items[3].name = "escape";  // a link that leads out of the destination is not made
  items[3].hostOS = 3;
  items[3].attr = 0120777;
  items[3].data = "../outside";
  RAROpenArchiveData o{};
  (void)o;
  items[4].name = "inner/ok";
  items[4].hostOS = 3;
  items[4].attr = 0120777;
  items[4].data = "../x";
  items[5].name = "a/../../b";
  items[5].data = "dots";
  testenv::WriteFile(dir / "h.rar", MakeRar4(items));
  // A link planted beforehand in the destination is never written through.
  fs::create_directory_symlink(dir / "outside", dest / "planted");
  std::vector<Rar4Item> planted(1);
  planted[0].name = "planted/file";
  planted[0].data = "through the link";
  testenv::WriteFile(dir / "p.rar", MakeRar4(planted));

  const WalkResult run = Walk(dir / "h.rar", RAR_EXTRACT, dest);
  ASSERT_EQ(run.entries.size(), 4u);
  EXPECT_EQ(run.entries[3].result, ERAR_UNSAFE_ENTRY);
  EXPECT_EQ(testenv::ReadFile(dest / "x"), "dotdot");
  EXPECT_EQ(testenv::ReadFile(dest / "abs/x"), "absolute");
  EXPECT_EQ(testenv::ReadFile(dest / "win/y"), "drive");
  EXPECT_FALSE(fs::exists(fs::symlink_status(dest / "escape")));
  EXPECT_EQ(Walk(dir / "p.rar", RAR_EXTRACT, dest).endCode, ERAR_UNSAFE_ENTRY);
  EXPECT_TRUE(fs::is_empty(dir / "outside"));
  EXPECT_TRUE(fs::is_symlink(dest / "planted"));
  size_t count = 0;
  for (const auto& it : fs::recursive_directory_iterator(dest)) count += it.is_regular_file() ? 1 : 0;
  EXPECT_EQ(count, 3u);  // x, abs/x, win/y
  // The inside link and the dotted name, once the escaping link is gone.
  items.erase(items.begin() + 3);
  testenv::WriteFile(dir / "h2.rar", MakeRar4(items));
  EXPECT_EQ(Walk(dir / "h2.rar", RAR_EXTRACT, dest).endCode, ERAR_END_ARCHIVE);
  EXPECT_EQ(fs::read_symlink(dest / "inner/ok"), "../x");
  EXPECT_EQ(testenv::ReadFile(dest / "a/b"), "dots");
}

TEST(UnrarGenerated, TruncatedAndNonRarInput) {
  std::vector<Rar4Item> items(1);
  items[0].name = "t.txt";
  items[0].data = std::string(3000, 'z');
  const std::string full = MakeRar4(items);
  const fs::path dir = testenv::MakeTempDir("trunc");
  for (size_t cut : {size_t(5), size_t(15), size_t(30), size_t(60), full.size() - 1500, full.size() - 7}) {
    testenv::WriteFile(dir / "t.rar", full.substr(0, cut));
    const WalkResult run = Walk(dir / "t.rar", RAR_EXTRACT, dir / "out");
    const bool clean = run.openResult != 0 || run.endCode == ERAR_END_ARCHIVE || run.endCode == ERAR_BAD_DATA;
    EXPECT_TRUE(clean) << cut << " open " << run.openResult << " end " << run.endCode;
    if (cut < full.size() - 7) {
      EXPECT_FALSE(fs::exists(dir / "out/t.txt")) << cut;
    }
  }
  testenv::WriteFile(dir / "n.rar", "this is not an archive at all");
  EXPECT_EQ(Walk(dir / "n.rar", RAR_SKIP).openResult, unsigned(ERAR_BAD_ARCHIVE));
  EXPECT_EQ(Walk(dir / "missing.rar", RAR_SKIP).openResult, unsigned(ERAR_EOPEN));
}

// RAR 5 ends every volume with an end block: an archive cut where a block would start is damaged,
// not an archive that ends there (a cut right after the main header is not an empty archive).
TEST(UnrarSamples, Rar5CutAtABlockBoundaryIsDamage) {
  const std::string full = testenv::ReadFile(Sample("test_read_format_rar5_multiple_files.rar"));
  ASSERT_EQ(full.substr(full.size() - 8), std::string("\x1d\x77\x56\x51\x03\x05\x04\x00", 8)) << "its end block";
  const fs::path dir = testenv::MakeTempDir("rar5cut");
  testenv::WriteFile(dir / "whole.rar", full);
  const WalkResult whole = Walk(dir / "whole.rar", RAR_SKIP);
  ASSERT_EQ(whole.endCode, ERAR_END_ARCHIVE);
  ASSERT_GT(whole.entries.size(), 1u);
  struct Cut {
    size_t size;
    size_t entries;
  };
  for (const Cut& c : {Cut{full.size() - 8, whole.entries.size()}, Cut{24, 0}}) {
    testenv::WriteFile(dir / "cut.rar", full.substr(0, c.size));
    const WalkResult run = Walk(dir / "cut.rar", RAR_SKIP);
    EXPECT_EQ(run.openResult, 0u) << c.size;
    EXPECT_EQ(run.entries.size(), c.entries) << c.size;
    EXPECT_EQ(run.endCode, ERAR_BAD_DATA) << c.size;
  }
}

// Solid RAR 5 samples (one volume and a set of four): any selection extracts and matches bsdtar; the
// entries passed over are decoded on the way.
TEST(UnrarSamples, SolidSelectionsMatchBsdtar) {
  for (const char* sample : {"test_read_format_rar5_solid.rar", "test_read_format_rar5_multiarchive_solid.part01.rar"}) {
    int status = 0;
    std::map<std::string, std::string> sums;
    for (const auto& [name, sum] : ExpectedSums(sample, status)) sums[name] = sum;
    for (unsigned pattern : {0x5u, 0x40u, 0x2Au, 0x100u}) {
      SCOPED_TRACE(std::string(sample) + " pattern " + std::to_string(pattern));
      RAROpenArchiveData o{};
      const std::string name = Sample(sample).string();
      o.ArcName = name.c_str();
      o.OpenMode = RAR_OM_EXTRACT;
      RarHandle h = RAROpenArchive(&o);
      ASSERT_NE(h, nullptr);
      RARSetChangeVolProc(h, VolumeProc);
      const fs::path out = testenv::MakeTempDir("solid-pick");
      const std::string dest = out.string();
      RARHeaderData hd{};
      std::vector<std::string> picked;
      for (unsigned i = 0; RARReadHeader(h, &hd) == 0; ++i) {
        const bool pick = pattern & (1u << i);
        if (pick) picked.push_back(hd.FileName);
        EXPECT_EQ(RARProcessFile(h, pick ? RAR_EXTRACT : RAR_SKIP, dest.c_str(), nullptr), 0) << hd.FileName;
      }
      RARCloseArchive(h);
      EXPECT_EQ(testenv::ListTree(out).size(), picked.size());
      for (const std::string& n : picked) EXPECT_EQ(Sha256Hex(testenv::ReadFile(out / n)), sums[n]) << n;
    }
  }
}

// A damaged entry of a solid run fails, also when it was passed over; no partial file is left.
TEST(UnrarSamples, DamageInsideASolidRun) {
  std::string bytes = testenv::ReadFile(Sample("test_read_format_rar5_solid.rar"));
  rarfmt::MemorySource src(bytes.data(), bytes.size());
  rarfmt::ArchiveInfo info;
  ASSERT_EQ(rarfmt::ReadArchiveStart(src, info), rarfmt::Status::Ok);
  rarfmt::Block b;
  for (uint64_t at = info.firstBlock; b.entry.name != "test2.bin"; at = b.next)
    ASSERT_EQ(rarfmt::ReadBlock(src, info.format, at, b), rarfmt::Status::Ok);
  ASSERT_GT(b.entry.packSize, 10u);
  const size_t at = size_t(b.entry.dataOffset + b.entry.packSize / 2);  // in the packed data of test2.bin
  bytes[at] = char(bytes[at] ^ 0x55);
  const fs::path dir = testenv::MakeTempDir("solid-bad");
  testenv::WriteFile(dir / "bad.rar", bytes);
  RAROpenArchiveData o{};
  const std::string name = (dir / "bad.rar").string();
  o.ArcName = name.c_str();
  o.OpenMode = RAR_OM_EXTRACT;
  RarHandle h = RAROpenArchive(&o);
  ASSERT_NE(h, nullptr);
  const std::string dest = (dir / "out").string();
  fs::create_directories(dest);
  RARHeaderData hd{};
  int last = 0;
  while (RARReadHeader(h, &hd) == 0) {
    const bool pick = std::string(hd.FileName) == "test5.bin";
    last = RARProcessFile(h, pick ? RAR_EXTRACT : RAR_SKIP, dest.c_str(), nullptr);
    if (pick) break;
  }
  RARCloseArchive(h);
  EXPECT_EQ(last, ERAR_BAD_DATA);
  EXPECT_TRUE(testenv::ListTree(dir / "out").empty());
}

TEST(UnrarGenerated, SolidRunsAreDecodedInOrder) {
  // RAR 5: one libarchive session carries the run; earlier entries are passed over.
  std::vector<Rar5Item> items(4);
  for (size_t i = 0; i < items.size(); ++i) {
    items[i].name = std::string(1, 's') + char('0' + i);
    items[i].data = testenv::RandomBytes(3000 + i * 1000, uint32_t(i + 1), true);
    items[i].solid = i > 0;
  }
  const fs::path dir = testenv::MakeTempDir("solid");
  testenv::WriteFile(dir / "s.rar", MakeRar5(items, true));
  for (const std::vector<int>& ops : {std::vector<int>{0, 0, 2, 0}, std::vector<int>{2, 0, 2, 2}}) {
    RAROpenArchiveData o{};
    const std::string name = (dir / "s.rar").string();
    o.ArcName = name.c_str();
    RarHandle h = RAROpenArchive(&o);
    ASSERT_NE(h, nullptr);
    RARHeaderData hd{};
    const fs::path out = testenv::MakeTempDir("solid-out");
    const std::string dest = out.string();
    for (size_t i = 0; i < items.size(); ++i) {
      ASSERT_EQ(RARReadHeader(h, &hd), 0);
      EXPECT_EQ(bool(hd.Flags & RHDF_SOLID), i > 0);
      EXPECT_EQ(RARProcessFile(h, ops[i], dest.c_str(), nullptr), 0) << i;
    }
    EXPECT_EQ(RARReadHeader(h, &hd), ERAR_END_ARCHIVE);
    RARCloseArchive(h);
    for (size_t i = 0; i < items.size(); ++i) {
      if (ops[i] == RAR_EXTRACT) EXPECT_EQ(testenv::ReadFile(out / items[i].name), items[i].data) << i;
      else EXPECT_FALSE(fs::exists(out / items[i].name)) << i;
    }
  }
  // RAR 4: stored entries of a solid archive extract; packed ones after the first say they cannot.
  std::vector<Rar4Item> r4(3);
  for (size_t i = 0; i < r4.size(); ++i) {
    r4[i].name = std::string(1, 't') + char('0' + i);
    r4[i].data = testenv::RandomBytes(2000, uint32_t(i + 9));
    if (i > 0) r4[i].extraFlags = 0x10;
  }
  testenv::WriteFile(dir / "t.rar", MakeRar4(r4, 0x0008));
  const WalkResult stored = Walk(dir / "t.rar", RAR_EXTRACT, dir / "t");
  EXPECT_EQ(stored.endCode, ERAR_END_ARCHIVE);
  for (const auto& it : r4) EXPECT_EQ(testenv::ReadFile(dir / "t" / it.name), it.data);
  std::string packed = MakeRar4(r4, 0x0008);
  const size_t second = packed.find("t1") - 7;  // the method byte of the second file header
  packed[second] = char(0x33);
  const std::string fixed = Seal(packed.substr(second - 25, 34));
  packed.replace(second - 25, 34, fixed);
  testenv::WriteFile(dir / "p.rar", packed);
  const WalkResult p = Walk(dir / "p.rar", RAR_TEST);
  ASSERT_EQ(p.entries.size(), 2u);
  EXPECT_EQ(p.entries[0].result, 0);
  EXPECT_EQ(p.entries[1].result, ERAR_UNSUPPORTED_SOLID);
}

TEST(UnrarGenerated, CommentSizesAndOldVolumeNames) {
  std::vector<Rar4Item> items(1);
  items[0].name = "c.txt";
  items[0].data = "c";
  const fs::path dir = testenv::MakeTempDir("cmt");
  testenv::WriteFile(dir / "c.rar", MakeRar4(items, 0, "An archive comment."));
  const std::string name = (dir / "c.rar").string();
  char buf[8];
  RAROpenArchiveData o{};
  o.ArcName = name.c_str();
  o.CmtBuf = buf;
  o.CmtBufSize = sizeof buf;
  RarHandle h = RAROpenArchive(&o);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(o.CmtState, unsigned(ERAR_SMALL_BUF));
  EXPECT_EQ(std::string(buf), "An arch");
  RARHeaderData hd{};
  EXPECT_EQ(RARReadHeader(h, &hd), 0);
  EXPECT_EQ(std::string(hd.FileName), "c.txt");  // the comment block is not an entry
  RARCloseArchive(h);

  // Sizes beyond 32 bits: the record keeps the low half, the extension gives the whole.
  std::string body;
  Put32(body, 0);
  Put32(body, 0x40000000);
  body += char(2);
  Put32(body, 0);
  Put32(body, 0x5A8B6C21);
  body += char(20);
  body += char(0x30);
  Put16(body, 3);
  Put32(body, 0x20);
  Put32(body, 1);  // high pack
  Put32(body, 1);  // high unpacked
  body += "big";
  testenv::WriteFile(dir / "big.rar", Rar4Start() + Rar4Block(0x74, 0x8100, body));
  const WalkResult big = Walk(dir / "big.rar", RAR_SKIP);
  ASSERT_EQ(big.entries.size(), 1u);
  EXPECT_EQ(big.entries[0].h.UnpSize, 0x40000000u);
  EXPECT_EQ(big.entries[0].unp, 0x140000000ull);
  EXPECT_EQ(big.endCode, ERAR_END_ARCHIVE);
  EXPECT_EQ(Walk(dir / "big.rar", RAR_TEST).endCode, ERAR_BAD_DATA);  // its data is missing

  // name.rar, name.r00, name.r01: the older volume names.
  fs::copy_file(Sample("test_rar_multivolume_single_file.part1.rar"), dir / "set.rar");
  fs::copy_file(Sample("test_rar_multivolume_single_file.part2.rar"), dir / "set.r00");
  fs::copy_file(Sample("test_rar_multivolume_single_file.part3.rar"), dir / "set.r01");
  const WalkResult old = Walk(dir / "set.rar", RAR_TEST);
  EXPECT_EQ(old.endCode, ERAR_END_ARCHIVE);
  EXPECT_EQ(old.volumeCalls, (std::vector<std::string>{"notify " + (dir / "set.r00").string(),
                                                       "notify " + (dir / "set.r01").string()}));
}

TEST(UnrarDecoder, OneSessionCarriesSeveralEntries) {
  // The mechanism of solid runs: entries fed in order to one libarchive session, the first passed over.
  const std::string bytes = testenv::ReadFile(Sample("test_read_format_rar_binary_data.rar"));
  rarfmt::MemorySource src(bytes.data(), bytes.size());
  rarfmt::ArchiveInfo info;
  ASSERT_EQ(rarfmt::ReadArchiveStart(src, info), rarfmt::Status::Ok);
  std::vector<rardec::DataEntry> entries;
  for (uint64_t off = info.firstBlock;;) {
    rarfmt::Block b;
    if (rarfmt::ReadBlock(src, info.format, off, b) != rarfmt::Status::Ok || b.kind == rarfmt::BlockKind::End) break;
    if (b.kind == rarfmt::BlockKind::File) {
      rardec::DataEntry d;
      d.entry = b.entry;
      d.parts.push_back({0, b.entry.dataOffset, b.entry.packSize});
      d.packTotal = b.entry.packSize;
      entries.push_back(d);
    }
    off = b.next;
  }
  ASSERT_EQ(entries.size(), 2u);
  rardec::TDecoder decoder(info.format, false, [&](int) { return static_cast<rarfmt::ByteSource*>(&src); });
  decoder.Feed(entries[0], false);
  decoder.Feed(entries[1], true);
  ASSERT_TRUE(decoder.NextEntry());
  ASSERT_TRUE(decoder.NextEntry());
  std::string out(40000, '\0');
  size_t total = 0;
  for (long n; (n = decoder.Read(out.data() + total, out.size() - total)) > 0;) total += size_t(n);
  out.resize(total);
  EXPECT_EQ(total, entries[1].entry.unpSize);
  EXPECT_EQ(Crc(out), entries[1].entry.crc);
  EXPECT_FALSE(decoder.NextEntry());
}

TEST(UnrarGenerated, Rar5LinksAndCopies) {
  std::vector<Rar5Item> items(7);
  items[0].name = "dir/file.txt";
  items[0].data = "the original";
  items[1].name = "dir/link";
  items[1].redirect = 1;
  items[1].target = "file.txt";
  items[1].unixMode = 0120777;
  items[2].name = "copy.txt";
  items[2].redirect = 5;
  items[2].target = "dir/file.txt";
  items[3].name = "hard.txt";
  items[3].redirect = 4;
  items[3].target = "dir/file.txt";
  items[4].name = "escape";
  items[4].redirect = 1;
  items[4].target = "../../etc";
  items[4].unixMode = 0120777;
  items[5].name = "junction";
  items[5].redirect = 3;
  items[5].target = "C:\\Windows";
  items[6].name = "stolen.txt";  // a copy of something outside
  items[6].redirect = 5;
  items[6].target = "../outside.txt";
  const fs::path dir = testenv::MakeTempDir("links");
  testenv::WriteFile(dir / "outside.txt", "secret");
  testenv::WriteFile(dir / "l.rar", MakeRar5(items, false));
  const fs::path dest = dir / "out";
  RAROpenArchiveData o{};
  const std::string name = (dir / "l.rar").string();
  o.ArcName = name.c_str();
  RarHandle h = RAROpenArchive(&o);
  ASSERT_NE(h, nullptr);
  std::vector<int> results;
  RARHeaderData hd{};
  const std::string destStr = dest.string();
  while (RARReadHeader(h, &hd) == 0) results.push_back(RARProcessFile(h, RAR_EXTRACT, destStr.c_str(), nullptr));
  RARCloseArchive(h);
  EXPECT_EQ(results, (std::vector<int>{0, 0, 0, 0, ERAR_UNSAFE_ENTRY, ERAR_UNSAFE_ENTRY, ERAR_UNSAFE_ENTRY}));
  EXPECT_EQ(fs::read_symlink(dest / "dir/link"), "file.txt");
  EXPECT_EQ(testenv::ReadFile(dest / "copy.txt"), "the original");
  EXPECT_EQ(testenv::ReadFile(dest / "hard.txt"), "the original");
  EXPECT_FALSE(fs::exists(fs::symlink_status(dest / "escape")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dest / "junction")));
  EXPECT_FALSE(fs::exists(dest / "stolen.txt"));
}

namespace {

std::vector<Rar5Item> SecretItems() {
  std::vector<Rar5Item> items(3);
  items[0].name = "one.txt";
  items[0].data = "the first secret\n";
  items[1].name = "dir/two.bin";
  items[1].data = testenv::RandomBytes(70000, 41);
  items[2].name = "three.bin";
  items[2].data = testenv::RandomBytes(16, 42);  // a whole cipher block: no padding
  return items;
}

}  // namespace

// RAR 5 encryption written here (stored entries, plain and encrypted headers, plain and tweaked
// checksums): the right password extracts, a wrong one or none ends with its code and writes nothing.
TEST(UnrarGenerated, Rar5EncryptionRoundTrip) {
  const fs::path dir = testenv::MakeTempDir("enc5");
  const std::vector<Rar5Item> items = SecretItems();
  for (bool headers : {false, true}) {
    for (bool tweaked : {false, true}) {
      SCOPED_TRACE(std::string(headers ? "headers " : "") + (tweaked ? "tweaked" : ""));
      Rar5Crypt c("pässword", 5, uint8_t(3 + headers * 2 + tweaked));
      c.headers = headers;
      c.tweaked = tweaked;
      const fs::path arc = dir / ("e" + std::to_string(headers) + std::to_string(tweaked) + ".rar");
      testenv::WriteFile(arc, MakeRar5Encrypted(items, c));
      for (const char* password : {"", "wrong", "pässword"}) {
        SCOPED_TRACE(password);
        gPassword = password;
        const fs::path dest = testenv::MakeTempDir("enc5-out");
        const WalkResult x = Walk(arc, RAR_EXTRACT, dest);
        gPassword.clear();
        if (std::string(password) == "pässword") {
          EXPECT_EQ(x.endCode, ERAR_END_ARCHIVE);
          for (const Rar5Item& it : items) EXPECT_EQ(testenv::ReadFile(dest / it.name), it.data) << it.name;
        } else {
          EXPECT_EQ(x.endCode, *password ? ERAR_BAD_PASSWORD : ERAR_MISSING_PASSWORD);
          EXPECT_TRUE(testenv::ListTree(dest).empty());
          EXPECT_EQ(x.entries.size(), headers ? 0u : 1u);  // encrypted names are not even listed
        }
      }
    }
  }
}

// Broken encryption records: each is damage (a clear error), never a crash or a file.
TEST(UnrarGenerated, Rar5HostileEncryptionRecords) {
  const fs::path dir = testenv::MakeTempDir("enc5bad");
  std::vector<Rar5Item> items(1);
  items[0].name = "x.txt";
  items[0].data = "secret data\n";
  const Rar5Crypt c("pw", 4);
  using Mutation = std::string (*)(std::string);
  const std::pair<const char*, Mutation> cases[] = {
      {"salt cut short", [](std::string r) { return r.erase(5, 3); }},
      {"check value cut short", [](std::string r) { return r.substr(0, r.size() - 5); }},
      {"record too long", [](std::string r) { return r + "xx"; }},
      {"version 1", [](std::string r) { return r.replace(1, 1, "\x01"); }},
      {"round count 40", [](std::string r) { return r.replace(3, 1, "\x28"); }},
      {"check value's checksum wrong", [](std::string r) { return r.replace(r.size() - 1, 1, "\xAA"); }},
  };
  for (const auto& [what, mutate] : cases) {
    SCOPED_TRACE(what);
    const fs::path arc = dir / "bad.rar";
    testenv::WriteFile(arc, MakeRar5Encrypted(items, c, mutate));
    gPassword = "pw";
    const fs::path dest = testenv::MakeTempDir("bad-out");
    const WalkResult x = Walk(arc, RAR_EXTRACT, dest);
    gPassword.clear();
    EXPECT_EQ(x.endCode, ERAR_BAD_DATA);
    EXPECT_TRUE(testenv::ListTree(dest).empty());
  }
}

// 7-Zip reads what the writer above makes: the writer (and so the round trip) follows RAR's format.
TEST(UnrarGenerated, Rar5EncryptionAgreesWithSevenZip) {
  const fs::path dir = testenv::MakeTempDir("enc5-7z");
  Rar5Crypt c("pässword", 5);
  c.headers = true;
  testenv::WriteFile(dir / "e.rar", MakeRar5Encrypted(SecretItems(), c));
  std::string out;
  ASSERT_EQ(testenv::Run("cd " + testenv::Quote(dir.string()) + " && 7z x -y -ppässword -oseven e.rar 2>&1", &out), 0)
      << out;
  for (const Rar5Item& it : SecretItems()) EXPECT_EQ(testenv::ReadFile(dir / "seven" / it.name), it.data);
}
