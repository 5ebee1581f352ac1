// The command-line front against peer tools and hostile archives, run as a separate process.
#include <gtest/gtest.h>

#include <filesystem>

#include "SampleArchives.h"
#include "TestEnv.h"

namespace fs = std::filesystem;
using testenv::Quote;

namespace {

std::string Tandor() { return (testenv::ProgramDir() / "tandor").string(); }

// Runs tandor with the arguments in `dir`; standard error goes to `err` and is folded into the result.
int RunTandor(const fs::path& dir, const std::string& args, std::string* out = nullptr, std::string* err = nullptr) {
  const fs::path errFile = dir / ".stderr";
  std::string o;
  const int rc = testenv::Run("cd " + Quote(dir.string()) + " && " + Quote(Tandor()) + " " + args + " 2>" +
                                  Quote(errFile.string()) + " </dev/null",
                              &o);
  if (out) *out = o;
  if (err) *err = fs::exists(errFile) ? testenv::ReadFile(errFile) : std::string();
  fs::remove(errFile);
  return rc;
}

fs::path MakeTree(const fs::path& root) { return testenv::MakeSampleTree(root); }
using testenv::SameTree;

void FlipByteAt(const fs::path& file, size_t offset) {
  std::string bytes = testenv::ReadFile(file);
  ASSERT_LT(offset, bytes.size());
  bytes[offset] = static_cast<char>(bytes[offset] ^ 0x55);
  testenv::WriteFile(file, bytes);
}

void PythonZip(const fs::path& zip, const std::vector<std::pair<std::string, std::string>>& entries) {
  ASSERT_TRUE(testenv::PythonZip(zip, entries));
}

}  // namespace

TEST(Cli, CommandLineMistakes) {
  const fs::path dir = testenv::MakeTempDir("cli");
  std::string out, err;
  EXPECT_EQ(RunTandor(dir, "--help", &out), 0);
  EXPECT_NE(out.find("Usage: tandor COMMAND"), std::string::npos);
  EXPECT_EQ(RunTandor(dir, "z a.zip", nullptr, &err), 2);
  EXPECT_NE(err.find("unknown command"), std::string::npos);
  EXPECT_EQ(RunTandor(dir, "x a.zip -k", nullptr, &err), 2);
  EXPECT_EQ(RunTandor(dir, "x a.zip -d", nullptr, &err), 2);
  EXPECT_EQ(RunTandor(dir, "a only.zip", nullptr, &err), 2);
  EXPECT_EQ(RunTandor(dir, "l missing.zip", nullptr, &err), 1);
  EXPECT_NE(err.find("missing.zip"), std::string::npos);
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << "one line: " << err;
}

TEST(Cli, ZipRoundTripWithPeers) {
  const fs::path dir = testenv::MakeTempDir("cli");
  const fs::path src = MakeTree(dir);
  ASSERT_EQ(RunTandor(dir, "a -r -q new.zip src"), 0);
  EXPECT_EQ(testenv::Run("unzip -tq " + Quote((dir / "new.zip").string()) + " >/dev/null"), 0);
  EXPECT_EQ(testenv::Run("7z t " + Quote((dir / "new.zip").string()) + " >/dev/null"), 0);
  std::string names;
  testenv::Run("zipinfo -1 " + Quote((dir / "new.zip").string()) + " | sort", &names);
  EXPECT_NE(names.find("src/sub/Grüße.txt"), std::string::npos) << names;
  EXPECT_NE(names.find("src/sub/deeper/empty.txt"), std::string::npos);
  // Ours read back by unzip, and Info-ZIP's read back by ours.
  fs::create_directories(dir / "by-unzip");
  ASSERT_EQ(testenv::Run("cd " + Quote((dir / "by-unzip").string()) + " && unzip -q ../new.zip"), 0);
  EXPECT_TRUE(SameTree(src, dir / "by-unzip/src"));
  ASSERT_EQ(testenv::Run("cd " + Quote(dir.string()) + " && zip -qr peer.zip src"), 0);
  ASSERT_EQ(RunTandor(dir, "x -q peer.zip -d by-tandor"), 0);
  EXPECT_TRUE(SameTree(src, dir / "by-tandor/src"));
  std::string listing;
  ASSERT_EQ(RunTandor(dir, "l peer.zip", &listing), 0);
  EXPECT_NE(listing.find("src/sub/b.bin"), std::string::npos);
  EXPECT_NE(listing.find("70000"), std::string::npos);
  // Only the named entries.
  ASSERT_EQ(RunTandor(dir, "x -q peer.zip 'src/sub/*.bin' -d only"), 0);
  EXPECT_EQ(testenv::ListTree(dir / "only"), (std::vector<std::string>{"src/", "src/sub/", "src/sub/b.bin"}));
}

TEST(Cli, ZipPasswordsAndDelete) {
  const fs::path dir = testenv::MakeTempDir("cli");
  MakeTree(dir);
  ASSERT_EQ(RunTandor(dir, "a -q -r -p s3cret enc.zip src"), 0);
  EXPECT_EQ(testenv::Run("cd " + Quote(dir.string()) + " && unzip -tq -P s3cret enc.zip >/dev/null"), 0);
  std::string err;
  EXPECT_NE(RunTandor(dir, "t -q -p wrong enc.zip", nullptr, &err), 0);
  EXPECT_FALSE(err.empty());
  EXPECT_NE(RunTandor(dir, "x -q enc.zip -d nopass"), 0) << "no password and no terminal to ask";
  // A wrong password: one line for the archive, not one per entry, and no empty folders left.
  for (const char* command : {"x -p wrong enc.zip -d wrongpass", "t -q -p wrong enc.zip", "x -q enc.zip -d nopass"}) {
    SCOPED_TRACE(command);
    err.clear();
    EXPECT_EQ(RunTandor(dir, command, nullptr, &err), 1);
    // (A wrong password that passes ZipCrypto's one-byte check, 1 in 256, makes that entry damage.)
    size_t lines = 0;
    for (size_t at = 0, end; (end = err.find('\n', at)) != std::string::npos; at = end + 1)
      lines += err.substr(at, end - at).find("(wrong password?)") == std::string::npos;
    EXPECT_EQ(lines, 1u) << err;
    EXPECT_NE(err.find("encrypted files were not"), std::string::npos) << err;
  }
  // Only the archive's own empty folder is made; none of the folders of the files left out.
  const std::vector<std::string> emptyFolder{"src/", "src/emptydir/"};
  EXPECT_EQ(testenv::ListTree(dir / "wrongpass"), emptyFolder);
  EXPECT_EQ(testenv::ListTree(dir / "nopass"), emptyFolder);
  EXPECT_EQ(RunTandor(dir, "x -q -p s3cret enc.zip -d withpass"), 0);
  EXPECT_TRUE(SameTree(dir / "src", dir / "withpass/src"));
  ASSERT_EQ(RunTandor(dir, "d -q enc.zip src/a.txt"), 0);
  std::string names;
  testenv::Run("zipinfo -1 " + Quote((dir / "enc.zip").string()), &names);
  EXPECT_EQ(names.find("src/a.txt"), std::string::npos);
  EXPECT_NE(names.find("src/sub/b.bin"), std::string::npos);
}

TEST(Cli, ZipDamageIsAFailure) {
  const fs::path dir = testenv::MakeTempDir("cli");
  testenv::WriteFile(dir / "data.txt", testenv::RandomBytes(50000, 7, true));
  ASSERT_EQ(testenv::Run("cd " + Quote(dir.string()) + " && zip -q0 stored.zip data.txt"), 0);
  FlipByteAt(dir / "stored.zip", 30 + 8 + 1000);  // inside the stored data
  std::string err;
  EXPECT_EQ(RunTandor(dir, "t -q stored.zip", nullptr, &err), 1);
  EXPECT_FALSE(err.empty());
  testenv::WriteFile(dir / "junk.zip", "this is not a zip archive at all");
  EXPECT_EQ(RunTandor(dir, "l junk.zip", nullptr, &err), 1);
  EXPECT_NE(err.find("junk.zip"), std::string::npos);
}

TEST(Cli, HostileZipStaysInside) {
  const fs::path dir = testenv::MakeTempDir("cli");
  PythonZip(dir / "evil.zip", {{"../evil.txt", "x"}, {"/abs/evil2.txt", "y"}, {"ok/fine.txt", "z"}});
  RunTandor(dir, "x -q evil.zip -d dest");
  EXPECT_FALSE(fs::exists(dir / "evil.txt"));
  EXPECT_FALSE(fs::exists("/abs/evil2.txt"));
  EXPECT_TRUE(fs::exists(dir / "dest/ok/fine.txt"));
  for (const std::string& p : testenv::ListTree(dir))
    EXPECT_TRUE(p.rfind("dest/", 0) == 0 || p == "dest/" || p == "evil.zip" || p == "evil.zip.py") << p;
}

TEST(Cli, OverwriteOnlyWhenAsked) {
  const fs::path dir = testenv::MakeTempDir("cli");
  testenv::WriteFile(dir / "f.txt", "archived");
  ASSERT_EQ(testenv::Run("cd " + Quote(dir.string()) + " && zip -q f.zip f.txt && tar cf f.tar f.txt"), 0);
  for (const char* archive : {"f.zip", "f.tar"}) {
    testenv::WriteFile(dir / "out/f.txt", "mine");
    EXPECT_EQ(RunTandor(dir, std::string("x -q ") + archive + " -d out"), 0) << archive;
    EXPECT_EQ(testenv::ReadFile(dir / "out/f.txt"), "mine") << "kept without -o and without a terminal";
    EXPECT_EQ(RunTandor(dir, std::string("x -q -o ") + archive + " -d out"), 0);
    EXPECT_EQ(testenv::ReadFile(dir / "out/f.txt"), "archived") << archive;
  }
}

TEST(Cli, TarAndGzipWithPeers) {
  const fs::path dir = testenv::MakeTempDir("cli");
  const fs::path src = MakeTree(dir);
  for (const char* name : {"t.tar", "t.tar.gz", "t.tgz"}) {
    ASSERT_EQ(RunTandor(dir, std::string("a -q -r ") + name + " src"), 0) << name;
    std::string peer;
    ASSERT_EQ(testenv::Run("cd " + Quote(dir.string()) + " && tar -tf " + name + " | sort", &peer), 0) << name;
    EXPECT_NE(peer.find("src/sub/Grüße.txt"), std::string::npos) << peer;
    ASSERT_EQ(RunTandor(dir, std::string("x -q ") + name + " -d out-" + name), 0);
    EXPECT_TRUE(SameTree(src, dir / ("out-" + std::string(name)) / "src")) << name;
    EXPECT_EQ(RunTandor(dir, std::string("t -q ") + name), 0);
  }
  ASSERT_EQ(RunTandor(dir, "a -q one.gz src/a.txt"), 0);
  EXPECT_EQ(testenv::Run("gzip -t " + Quote((dir / "one.gz").string())), 0);
  ASSERT_EQ(testenv::Run("cd " + Quote(dir.string()) + " && tar czf peer.tgz src && cp src/sub/b.bin b.bin && gzip -N b.bin"), 0);
  ASSERT_EQ(RunTandor(dir, "x -q peer.tgz -d peer"), 0);
  EXPECT_TRUE(SameTree(src, dir / "peer/src"));
  ASSERT_EQ(RunTandor(dir, "x -q b.bin.gz -d single"), 0);
  EXPECT_EQ(testenv::ReadFile(dir / "single/b.bin"), testenv::ReadFile(src / "sub/b.bin"));
  // A wrong CRC in the trailer is a failure.
  const fs::path gz = dir / "b.bin.gz";
  FlipByteAt(gz, fs::file_size(gz) - 6);
  EXPECT_EQ(RunTandor(dir, "t -q b.bin.gz"), 1);
  EXPECT_EQ(RunTandor(dir, "d t.tar src/a.txt"), 2);
}

TEST(Cli, HostileTarStaysInside) {
  const fs::path dir = testenv::MakeTempDir("cli");
  const std::string script =
      "import tarfile,io,sys\n"
      "t=tarfile.open(sys.argv[1],'w')\n"
      "def add(n,d=b'x',kind=tarfile.REGTYPE,link=''):\n"
      "  i=tarfile.TarInfo(n); i.type=kind; i.linkname=link; i.size=len(d) if kind==tarfile.REGTYPE else 0\n"
      "  t.addfile(i, io.BytesIO(d) if kind==tarfile.REGTYPE else None)\n"
      "add('../up.txt'); add('/abs/x.txt'); add('esc',kind=tarfile.SYMTYPE,link='/');\n"
      "add('esc/escaped.txt'); add('hard',kind=tarfile.LNKTYPE,link='/etc/passwd'); add('fine.txt')\n"
      "t.close()\n";
  testenv::WriteFile(dir / "mk.py", script);
  ASSERT_EQ(testenv::Run("python3 " + Quote((dir / "mk.py").string()) + " " + Quote((dir / "evil.tar").string())), 0);
  RunTandor(dir, "x -q evil.tar -d dest");
  EXPECT_FALSE(fs::exists(dir / "up.txt"));
  EXPECT_FALSE(fs::exists("/escaped.txt"));
  EXPECT_TRUE(fs::exists(dir / "dest/fine.txt"));
  std::error_code ec;
  EXPECT_FALSE(fs::exists(dir / "dest/hard") && fs::equivalent(dir / "dest/hard", "/etc/passwd", ec));
}

// RAR passwords on the command line: data and headers encrypted, RAR 3/4 and RAR 5.
TEST(Cli, RarPasswords) {
  const fs::path rar = testenv::TestDataDir() / "rar";
  const fs::path dir = testenv::MakeTempDir("cli-rarpw");
  struct Case {
    const char* sample;
    const char* password;
    const char* file;
    const char* text;
  } cases[] = {
      {"test_read_format_rar_encryption_header.rar", "12345678", "foo.txt", "data of foo.txt\n"},
      {"test_read_format_rar_encryption_data.rar", "12345678", "bar.txt", "data of bar.txt\n"},
      {"test_read_format_rar5_solid_encrypted.rar", "password", "c.txt", "This is from c.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sample);
    const std::string arc = Quote((rar / c.sample).string());
    std::string out, err;
    ASSERT_EQ(RunTandor(dir, "l -p " + std::string(c.password) + " " + arc, &out), 0);
    EXPECT_NE(out.find(c.file), std::string::npos) << out;
    const std::string good = std::string("good-") + c.password;
    ASSERT_EQ(RunTandor(dir, "x -q -p " + std::string(c.password) + " " + arc + " -d " + good, &out, &err), 0) << err;
    EXPECT_EQ(testenv::ReadFile(dir / good / c.file), c.text);
    EXPECT_EQ(RunTandor(dir, "t -q -p " + std::string(c.password) + " " + arc), 0);
    EXPECT_EQ(RunTandor(dir, "x -q -p wrong " + arc + " -d bad", &out, &err), 1);
    EXPECT_NE(err.find("Incorrect password"), std::string::npos) << err;
    EXPECT_TRUE(!fs::exists(dir / "bad") || testenv::ListTree(dir / "bad").empty());
    EXPECT_EQ(RunTandor(dir, "t -q -p wrong " + arc), 1);
  }
  // Encrypted names cannot be listed without the password.
  EXPECT_EQ(RunTandor(dir, "l " + Quote((rar / "test_read_format_rar_encryption_header.rar").string())), 1);
}

TEST(Cli, RarSamples) {
  const fs::path rar = testenv::TestDataDir() / "rar";
  ASSERT_TRUE(fs::is_directory(rar)) << rar;
  const fs::path dir = testenv::MakeTempDir("cli");
  std::string listing;
  ASSERT_EQ(RunTandor(dir, "l " + Quote((rar / "test_read_format_rar5_stored_manyfiles.rar").string()), &listing), 0);
  EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 4) << listing;
  ASSERT_EQ(RunTandor(dir, "x -q " + Quote((rar / "test_rar_multivolume_single_file.part1.rar").string()) + " -d mv"), 0);
  ASSERT_EQ(testenv::ListTree(dir / "mv").size(), 1u);
  EXPECT_EQ(fs::file_size(dir / "mv" / testenv::ListTree(dir / "mv")[0]), 20111u);
  EXPECT_EQ(RunTandor(dir, "t -q " + Quote((rar / "test_read_format_rar_binary_data.rar").string())), 0);
  std::string err;
  EXPECT_EQ(RunTandor(dir, "t -q " + Quote((rar / "test_read_format_rar5_solid_encrypted.rar").string()), nullptr, &err), 1);
  EXPECT_FALSE(err.empty());
  EXPECT_EQ(RunTandor(dir, "t -q " + Quote((rar / "test_read_format_rar_ppmd_use_after_free.rar").string())), 1);
  EXPECT_EQ(RunTandor(dir, "a x.rar a.txt"), 2);
}
