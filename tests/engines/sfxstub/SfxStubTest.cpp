// The self-extractor stub, SfxStub.bin, inside programs made from archives of Info-ZIP's zip: what it
// is (static, small), what it extracts without anybody to ask, on a terminal, through a dialog
// program, with a password, and what it refuses.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>

#include "HostileZip.h"
#include "StubHarness.h"
#include "TestEnv.h"

namespace fs = std::filesystem;
using stubtest::MakeProgram;
using stubtest::RunQuiet;
using stubtest::TSettings;
using testenv::Quote;

namespace {

bool Has(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

mode_t ModeOf(const fs::path& p) {
  struct stat st {};
  return ::lstat(p.c_str(), &st) == 0 ? st.st_mode : 0;
}

// A folder with sources, an archive of them (entries in a fixed order) and a place to run in.
struct TStubFixture : ::testing::Test {
  void SetUp() override {
    dir = testenv::MakeTempDir("stub");
    src = dir / "src";
    fs::create_directories(src / "sub");
    testenv::WriteFile(src / "a.txt", "alpha\n");
    testenv::WriteFile(src / "run.sh", "#!/bin/sh\necho ran > ran.txt\n");
    ::chmod((src / "run.sh").c_str(), 0755);
    testenv::WriteFile(src / "sub" / "b.bin", testenv::RandomBytes(300000, 9, true));
    testenv::WriteFile(src / "sub" / "grüße ✓.txt", "utf-8\n");
    testenv::WriteFile(src / "secret.txt", "mine only\n");
    ::chmod((src / "secret.txt").c_str(), 0600);
    work = dir / "work";
    fs::create_directories(work);
    tmp = dir / "tmp";
    fs::create_directories(tmp);
  }
  // Zips the sources (in this order) with extra zip options and makes a program of them.
  fs::path Program(const TSettings& s, const std::string& zipOptions = "", const std::string& name = "p") {
    const fs::path zip = dir / (name + ".zip");
    fs::remove(zip);
    std::string out;
    EXPECT_EQ(testenv::Run("cd " + Quote(src.string()) + " && zip -q " + zipOptions + " " + Quote(zip.string()) +
                               " a.txt run.sh sub/b.bin 'sub/grüße ✓.txt' secret.txt",
                           &out),
              0)
        << out;
    fs::path p = MakeProgram(zip, s);
    EXPECT_FALSE(p.empty());
    return p;
  }
  // The sources found under `folder`, byte for byte and with their modes.
  void ExpectSources(const fs::path& folder, const std::vector<std::string>& names = {}) {
    const std::vector<std::string> all = {"a.txt", "run.sh", "sub/b.bin", "sub/grüße ✓.txt", "secret.txt"};
    for (const std::string& n : names.empty() ? all : names) {
      SCOPED_TRACE(n);
      ASSERT_TRUE(fs::exists(folder / n)) << folder;
      EXPECT_TRUE(testenv::ReadFile(folder / n) == testenv::ReadFile(src / n));
      EXPECT_EQ(ModeOf(folder / n) & 07777, ModeOf(src / n) & 07777);
    }
  }
  fs::path dir, src, work, tmp;
};

TEST_F(TStubFixture, StubIsAStaticProgramOfAtMostOneMebibyte) {
  const fs::path stub = testenv::ProgramDir() / "SfxStub.bin";
  ASSERT_TRUE(fs::exists(stub));
  EXPECT_LE(fs::file_size(stub), 1u << 20);
  std::string out;
  ASSERT_EQ(testenv::Run("readelf -lW " + Quote(stub.string()), &out), 0) << out;
  EXPECT_FALSE(Has(out, "INTERP")) << "no program interpreter\n" << out;
  ASSERT_EQ(testenv::Run("readelf -d " + Quote(stub.string()), &out), 0) << out;
  EXPECT_TRUE(Has(out, "no dynamic section")) << out;
  ASSERT_EQ(testenv::Run("readelf -SW " + Quote(stub.string()), &out), 0) << out;
  EXPECT_TRUE(Has(out, ".sfxicon")) << out;
  // Made programs are executables named ".run".
  const fs::path p = Program({});
  EXPECT_EQ(p.extension(), ".run");
  EXPECT_EQ(ModeOf(p) & 07777, 0755u);
}

TEST_F(TStubFixture, ListsAndHelps) {
  const fs::path p = Program({});
  stubtest::TRun r = RunQuiet(p, "--list", work);
  EXPECT_EQ(r.status, 0) << r.Text();
  for (const char* n : {"a.txt", "run.sh", "sub/b.bin", "sub/grüße ✓.txt", "secret.txt", "5 files"})
    EXPECT_TRUE(Has(r.out, n)) << n << "\n" << r.Text();
  EXPECT_TRUE(fs::is_empty(work)) << "listing writes nothing";
  r = RunQuiet(p, "--help", work);
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(Has(r.out, "--list") && Has(r.out, "Exit status")) << r.Text();
  r = RunQuiet(p, "--test", work);
  EXPECT_EQ(r.status, 0) << r.Text();
  EXPECT_TRUE(Has(r.err, "5 files checked, 0 with errors")) << r.Text();
  r = RunQuiet(p, "--bogus", work);
  EXPECT_EQ(r.status, 64) << r.Text();
  r = RunQuiet(p, "one two", work);
  EXPECT_EQ(r.status, 64) << r.Text();
  EXPECT_TRUE(fs::is_empty(work));
}

TEST_F(TStubFixture, ExtractsWithoutAnybodyToAsk) {
  struct TCase {
    const char* id;
    TSettings settings;
    std::string args;
    std::function<void(const TStubFixture&)> plant;
    std::function<fs::path(const TStubFixture&)> where;  // the folder the files land in
    int status = 0;
    std::function<void(const TStubFixture&, const stubtest::TRun&)> check;
  };
  auto inWork = [](const TStubFixture& f) { return f.work; };
  auto plantOld = [](const TStubFixture& f) { testenv::WriteFile(f.work / "a.txt", "old\n"); };
  std::vector<TCase> cases;
  cases.push_back({"the user's current folder", {}, "", nullptr, inWork, 0, nullptr});
  TSettings temp;
  temp.folder = "><";
  cases.push_back({"the user's temporary folder", temp, "", nullptr, [](const TStubFixture& f) { return f.tmp; }, 0, nullptr});
  TSettings below;
  below.folder = "><inst\\here";
  cases.push_back({"a folder below the temporary folder", below, "", nullptr,
                   [](const TStubFixture& f) { return f.tmp / "inst" / "here"; }, 0, nullptr});
  cases.push_back({"a folder on the command line", temp, "-d given", nullptr,
                   [](const TStubFixture& f) { return f.work / "given"; }, 0,
                   [](const TStubFixture& f, const stubtest::TRun& r) { EXPECT_TRUE(fs::is_empty(f.tmp)) << r.Text(); }});
  cases.push_back({"a folder as the only argument", temp, "plain", nullptr,
                   [](const TStubFixture& f) { return f.work / "plain"; }, 0, nullptr});
  TSettings never;
  never.overwrite = OvrNever;
  cases.push_back({"overwrite never keeps the file", never, "", plantOld, inWork, 0,
                   [](const TStubFixture& f, const stubtest::TRun& r) {
                     EXPECT_EQ(testenv::ReadFile(f.work / "a.txt"), "old\n");
                     EXPECT_TRUE(Has(r.err, "kept existing a.txt")) << r.Text();
                   }});
  TSettings always;
  always.overwrite = OvrAlways;
  cases.push_back({"overwrite always replaces it", always, "", plantOld, inWork, 0, nullptr});
  cases.push_back({"confirm with nobody to ask keeps it", {}, "", plantOld, inWork, 0,
                   [](const TStubFixture& f, const stubtest::TRun&) {
                     EXPECT_EQ(testenv::ReadFile(f.work / "a.txt"), "old\n");
                   }});
  TSettings message;
  message.message = "\001Read me first";
  message.options = {SFXCheckSize, SFXNoSuccessMsg};
  cases.push_back({"a message is written out and taken as OK", message, "", nullptr, inWork, 0,
                   [](const TStubFixture&, const stubtest::TRun& r) { EXPECT_TRUE(Has(r.err, "Read me first")) << r.Text(); }});
  TSettings autorun;
  autorun.command = "><run.sh";
  autorun.options = {SFXAutoRun, SFXHideOverWriteBox, SFXCheckSize, SFXNoSuccessMsg};
  cases.push_back({"auto-run of a script entry", autorun, "", nullptr, inWork, 0,
                   [](const TStubFixture& f, const stubtest::TRun& r) {
                     EXPECT_EQ(testenv::ReadFile(f.work / "ran.txt"), "ran\n") << r.Text();
                   }});
  TSettings deep = autorun;
  deep.command = "><sub\\b.bin";
  cases.push_back({"an entry without execute permission is not run", deep, "", nullptr, inWork, 1,
                   [](const TStubFixture& f, const stubtest::TRun& r) {
                     EXPECT_TRUE(Has(r.err, "not a program")) << r.Text();
                     EXPECT_FALSE(fs::exists(f.work / "ran.txt"));
                   }});
  TSettings foreign = autorun;
  foreign.command = "/bin/sh -c 'echo owned > owned.txt'";
  cases.push_back({"a command that is no entry is never run", foreign, "", nullptr, inWork, 1,
                   [](const TStubFixture& f, const stubtest::TRun& r) {
                     EXPECT_TRUE(Has(r.err, "not run")) << r.Text();
                     EXPECT_FALSE(fs::exists(f.work / "owned.txt"));
                   }});
  TSettings missing = autorun;
  missing.command = "><nothing.sh";
  cases.push_back({"an entry the archive does not hold is not run", missing, "", nullptr, inWork, 1, nullptr});

  for (const TCase& c : cases) {
    SCOPED_TRACE(c.id);
    fs::remove_all(work);
    fs::remove_all(tmp);
    fs::create_directories(work);
    fs::create_directories(tmp);
    if (c.plant) c.plant(*this);
    const fs::path p = Program(c.settings);
    const stubtest::TRun r = RunQuiet(p, c.args, work, "TMPDIR=" + Quote(tmp.string()));
    EXPECT_EQ(r.status, c.status) << r.Text();
    const fs::path where = c.where(*this);
    ExpectSources(where, {"run.sh", "sub/b.bin", "sub/grüße ✓.txt", "secret.txt"});
    if (!c.plant) ExpectSources(where, {"a.txt"});
    if (c.check) c.check(*this, r);
  }
}

TEST_F(TStubFixture, StoredDeflatedZip64AndLinks) {
  fs::create_symlink("a.txt", src / "link");
  for (const char* options : {"-0", "-9", "-fz"}) {
    SCOPED_TRACE(options);
    std::string out;
    const fs::path zip = dir / "f.zip";
    fs::remove(zip);
    ASSERT_EQ(testenv::Run("cd " + Quote(src.string()) + " && zip -qry " + options + " " + Quote(zip.string()) + " .", &out), 0) << out;
    const fs::path p = MakeProgram(zip, {});
    ASSERT_FALSE(p.empty());
    fs::remove_all(work);
    fs::create_directories(work);
    const stubtest::TRun r = RunQuiet(p, "-d out", work);
    EXPECT_EQ(r.status, 0) << r.Text();
    ExpectSources(work / "out");
    EXPECT_TRUE(fs::is_symlink(work / "out" / "link"));
    EXPECT_EQ(fs::read_symlink(work / "out" / "link"), "a.txt");
  }
}

TEST_F(TStubFixture, PasswordOnStandardInput) {
  const fs::path p = Program({}, "-P sesame", "locked");
  struct TCase {
    const char* id;
    std::string input;
    int status;
    bool files;
  };
  for (const TCase& c : std::vector<TCase>{{"the right password", "sesame\n", 0, true},
                                          {"a wrong password", "wrong\n", 1, false},
                                          {"no password", "", 1, false}}) {
    SCOPED_TRACE(c.id);
    fs::remove_all(work);
    fs::create_directories(work);
    testenv::WriteFile(dir / "input.txt", c.input);
    const stubtest::TRun r = RunQuiet(p, "-d out", work, "", (dir / "input.txt").string());
    EXPECT_EQ(r.status, c.status) << r.Text();
    if (c.files) {
      ExpectSources(work / "out");
    } else {
      EXPECT_FALSE(fs::exists(work / "out" / "a.txt")) << r.Text();
      EXPECT_TRUE(Has(r.err, "no right password")) << r.Text();
    }
  }
}

TEST_F(TStubFixture, SizeCheckRefusesBeforeWriting) {
  const fs::path p = Program({});
  stubtest::TRun r = RunQuiet(p, "-d out", work, "TANDOR_FREE_BYTES=1000");
  EXPECT_EQ(r.status, 2) << r.Text();
  EXPECT_TRUE(Has(r.err, "not enough room")) << r.Text();
  EXPECT_TRUE(fs::is_empty(work / "out")) << "nothing written";
  TSettings unchecked;
  unchecked.options = {};
  const fs::path q = Program(unchecked, "", "q");
  r = RunQuiet(q, "-d out2", work, "TANDOR_FREE_BYTES=1000");
  EXPECT_EQ(r.status, 0) << r.Text();
  ExpectSources(work / "out2");
}

TEST_F(TStubFixture, DamagedProgramsSayWhy) {
  const fs::path p = Program({});
  const std::string bytes = testenv::ReadFile(p);
  // Cut short: no directory to read.
  testenv::WriteFile(dir / "cut.run", bytes.substr(0, bytes.size() - 40));
  ::chmod((dir / "cut.run").c_str(), 0755);
  stubtest::TRun r = RunQuiet(dir / "cut.run", "-d out", work);
  EXPECT_EQ(r.status, 2) << r.Text();
  EXPECT_TRUE(Has(r.err, "damaged")) << r.Text();
  EXPECT_FALSE(fs::exists(work / "out"));
  // A damaged settings header: the defaults, and no command is run.
  std::string broken = bytes;
  const size_t at = broken.rfind("MPV");
  ASSERT_NE(at, std::string::npos);
  broken[at + 6] = char(0xF0);  // a length past the archive's start
  testenv::WriteFile(dir / "broken.run", broken);
  ::chmod((dir / "broken.run").c_str(), 0755);
  r = RunQuiet(dir / "broken.run", "-d out", work);
  EXPECT_EQ(r.status, 0) << r.Text();
  EXPECT_TRUE(Has(r.err, "missing or damaged")) << r.Text();
  ExpectSources(work / "out");
  // A CRC error: the entry is refused, the others written.
  std::string crc = bytes;
  const size_t data = crc.find("alpha\n");
  if (data != std::string::npos) {
    crc[data] = 'A';
    testenv::WriteFile(dir / "crc.run", crc);
    ::chmod((dir / "crc.run").c_str(), 0755);
    r = RunQuiet(dir / "crc.run", "-d out3", work);
    EXPECT_EQ(r.status, 1) << r.Text();
    EXPECT_TRUE(Has(r.err, "a.txt") && Has(r.err, "CRC")) << r.Text();
    EXPECT_FALSE(fs::exists(work / "out3" / "a.txt"));
    ExpectSources(work / "out3", {"sub/b.bin"});
    r = RunQuiet(dir / "crc.run", "--test", work);
    EXPECT_EQ(r.status, 1) << r.Text();
  }
}

TEST_F(TStubFixture, AsksOnTheTerminal) {
  TSettings s;
  s.message = "\002Install the test files?";
  s.options = {SFXAskFiles, SFXCheckSize, SFXAskCmdLine};
  s.command = "><run.sh";
  s.folder = "><";
  const fs::path p = Program(s);
  testenv::WriteFile(work / "chosen" / "a.txt", "old\n");
  {
    stubtest::TPty t(p, {}, work);
    ASSERT_TRUE(t.Expect("== Test Archive ==")) << t.Screen();
    ASSERT_TRUE(t.Expect("Install the test files?")) << t.Screen();
    ASSERT_TRUE(t.Expect("[y]es or [n]o?")) << t.Screen();
    t.Send("y\n");
    ASSERT_TRUE(t.Expect("Extract into folder [")) << t.Screen();
    t.Send((work / "chosen").string() + "\n");
    ASSERT_TRUE(t.Expect("Existing files:")) << t.Screen();
    t.Send("c\n");
    ASSERT_TRUE(t.Expect("Extract which files")) << t.Screen();
    t.Send("1-2\n");
    ASSERT_TRUE(t.Expect("Replace a.txt?")) << t.Screen();
    t.Send("n\n");
    ASSERT_TRUE(t.Expect("1 file extracted into")) << t.Screen();
    ASSERT_TRUE(t.Expect("Press Enter")) << t.Screen();
    t.Send("\n");
    ASSERT_TRUE(t.Expect("Start run.sh now?")) << t.Screen();
    t.Send("y\n");
    EXPECT_EQ(t.Wait(), 0) << t.Screen();
  }
  EXPECT_EQ(testenv::ReadFile(work / "chosen" / "a.txt"), "old\n");
  ExpectSources(work / "chosen", {"run.sh"});
  EXPECT_FALSE(fs::exists(work / "chosen" / "sub")) << "not chosen";
  EXPECT_EQ(testenv::ReadFile(work / "chosen" / "ran.txt"), "ran\n");

  // "~/..." typed as the folder is in the home folder, as in the shell.
  const char* homeVar = std::getenv("HOME");
  ASSERT_TRUE(homeVar && *homeVar);
  const fs::path home = homeVar;
  {
    stubtest::TPty t(p, {}, work);
    ASSERT_TRUE(t.Expect("[y]es or [n]o?")) << t.Screen();
    t.Send("y\n");
    ASSERT_TRUE(t.Expect("Extract into folder [")) << t.Screen();
    t.Send("~/typed\n");
    ASSERT_TRUE(t.Expect("Existing files:")) << t.Screen();
    t.Send("\n");
    ASSERT_TRUE(t.Expect("Extract which files")) << t.Screen();
    t.Send("\n");
    ASSERT_TRUE(t.Expect("Press Enter")) << t.Screen();
    t.Send("\n");
    ASSERT_TRUE(t.Expect("Start run.sh now?")) << t.Screen();
    t.Send("n\n");
    EXPECT_EQ(t.Wait(), 0) << t.Screen();
  }
  ExpectSources(home / "typed");
  EXPECT_FALSE(fs::exists(work / "~")) << "no folder named ~";
  fs::remove_all(home / "typed");

  // No to the message: nothing is written.
  fs::remove_all(work / "chosen");
  {
    stubtest::TPty t(p, {}, work);
    ASSERT_TRUE(t.Expect("[y]es or [n]o?")) << t.Screen();
    t.Send("n\n");
    EXPECT_EQ(t.Wait(), 3) << t.Screen();
  }
  EXPECT_TRUE(fs::is_empty(work));
}

TEST_F(TStubFixture, AsksForThePasswordOnTheTerminal) {
  const fs::path p = Program({}, "-P sesame", "locked");
  stubtest::TPty t(p, {"-d", "out"}, work);
  ASSERT_TRUE(t.Expect("Existing files:")) << t.Screen();
  t.Send("\n");
  ASSERT_TRUE(t.Expect("Password for a.txt: ")) << t.Screen();
  t.Send("nope\n");
  ASSERT_TRUE(t.Expect("not right")) << t.Screen();
  ASSERT_TRUE(t.Expect("Password for a.txt: ")) << t.Screen();
  t.Send("sesame\n");
  ASSERT_TRUE(t.Expect("Press Enter")) << t.Screen();
  EXPECT_FALSE(Has(t.Screen(), "sesame")) << "the password is not echoed";
  t.Send("\n");
  EXPECT_EQ(t.Wait(), 0) << t.Screen();
  ExpectSources(work / "out");
}

TEST_F(TStubFixture, AsksThroughADialogProgramOnADesktop) {
  // A stand-in zenity on PATH records its arguments and answers: the folder, the files 1 and 3.
  const fs::path bin = dir / "bin";
  fs::create_directories(bin);
  const fs::path log = dir / "zenity.log";
  testenv::WriteFile(bin / "zenity",
                     "#!/bin/sh\n"
                     "echo \"$*\" >> " + Quote(log.string()) + "\n"
                     "case \"$*\" in\n"
                     "  *--file-selection*) echo " + Quote((work / "picked").string()) + " ;;\n"
                     "  *--checklist*) echo '1,3' ;;\n"
                     "  *--radiolist*) echo c ;;\n"
                     "esac\n"
                     "exit 0\n");
  ::chmod((bin / "zenity").c_str(), 0755);
  TSettings s;
  s.message = "\001Welcome";
  s.options = {SFXAskFiles, SFXCheckSize};
  const fs::path p = Program(s);
  const stubtest::TRun r =
      RunQuiet(p, "", work, "DISPLAY=:99 PATH=" + Quote(bin.string() + ":/usr/bin:/bin"));
  EXPECT_EQ(r.status, 0) << r.Text();
  ExpectSources(work / "picked", {"a.txt", "sub/b.bin"});
  EXPECT_FALSE(fs::exists(work / "picked" / "run.sh"));
  const std::string calls = testenv::ReadFile(log);
  EXPECT_TRUE(Has(calls, "--title Test Archive --question --no-markup --text Welcome")) << calls;
  EXPECT_TRUE(Has(calls, "--file-selection --directory")) << calls;
  EXPECT_TRUE(Has(calls, "--checklist")) << calls;
  EXPECT_TRUE(Has(calls, "--info --no-markup --text 2 files extracted into")) << calls;
  // Cancel in the dialog: nothing written.
  testenv::WriteFile(bin / "zenity", "#!/bin/sh\nexit 1\n");
  fs::remove_all(work / "picked");
  const stubtest::TRun c = RunQuiet(p, "", work, "DISPLAY=:99 PATH=" + Quote(bin.string() + ":/usr/bin:/bin"));
  EXPECT_EQ(c.status, 3) << c.Text();
  EXPECT_TRUE(fs::is_empty(work));
}

// --- Hostile archives packed into programs -------------------------------------------------------

std::map<std::string, std::string> Snapshot(const fs::path& top) {
  std::map<std::string, std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(top, ec); it != fs::recursive_directory_iterator(); it.increment(ec)) {
    struct stat st {};
    if (::lstat(it->path().c_str(), &st) != 0) continue;
    std::string line = std::to_string(st.st_mode) + " " + std::to_string(st.st_mtim.tv_sec);
    if (S_ISREG(st.st_mode)) line += " " + testenv::ReadFile(it->path());
    if (S_ISLNK(st.st_mode)) line += " -> " + fs::read_symlink(it->path(), ec).string();
    out[it->path().lexically_relative(top).generic_string()] = line;
  }
  return out;
}

TEST_F(TStubFixture, HostileArchivesWriteNothingOutside) {
  using unzengtest::THostileEntry;
  using unzengtest::THostileZip;
  auto file = [](const std::string& name, const std::string& data = "payload") {
    THostileEntry e;
    e.name = name;
    e.plain = data;
    return e;
  };
  struct TRow {
    const char* id;
    std::vector<THostileEntry> entries;
    std::vector<std::string> says;
    std::function<void(const fs::path& dest)> plant;
  };
  std::vector<TRow> rows;
  rows.push_back({"traversal in every spelling",
                  {file("../evil1"), file("..\\evil2"), file("/abs/evil3"), file("C:\\win\\evil4"), file("a/../../evil5"),
                   file("x/y/../../../../evil6"), file("good.txt")},
                  {"../evil1", "leads outside"}, nullptr});
  rows.push_back({"links out of the folder",
                  {unzengtest::SymlinkEntry("up", "../outside"), unzengtest::SymlinkEntry("abs", "/etc"),
                   file("up/pwned"), file("abs/pwned"), file("good.txt")},
                  {"up", "outside"}, nullptr});
  std::vector<THostileEntry> chain = {unzengtest::SymlinkEntry("l0", ".")};
  for (int i = 1; i <= 12; ++i) chain.push_back(unzengtest::SymlinkEntry("l" + std::to_string(i), "l" + std::to_string(i - 1) + "/.."));
  chain.push_back(unzengtest::SymlinkEntry("pw", "l12/outside/secret"));
  chain.push_back(file("pw", "overwrite through the chain"));
  chain.push_back(file("good.txt"));
  rows.push_back({"a chain of links that climbs", chain, {"outside"}, nullptr});
  rows.push_back({"links planted in the folder before", {file("out/x", "through a link"), file("f", "replaces the link"), file("good.txt")},
                  {"out/x"}, [](const fs::path& dest) {
                    fs::create_directory_symlink("../outside", dest / "out");
                    fs::create_symlink("../outside/secret", dest / "f");
                  }});
  THostileEntry longer = file("longer.txt", std::string(5000, 'l'));
  longer.uncompressedSize = 100;
  longer.method = 8;
  THostileEntry shorter = file("shorter.txt", "short");
  shorter.uncompressedSize = 50000;
  shorter.method = 8;
  THostileEntry badCrc = file("crc.txt", "checked");
  badCrc.crc = 12345;
  THostileEntry garbage = file("garbage.txt", "x");
  garbage.method = 8;
  garbage.stored = std::string("\xff\xff\xff\xff\xff\xff\xff", 7);
  rows.push_back({"sizes that lie, CRC errors, damaged data", {longer, shorter, badCrc, garbage, file("good.txt")},
                  {"longer.txt", "shorter.txt", "crc.txt", "garbage.txt"}, nullptr});
  THostileEntry first = file("first.txt", std::string(1000, 'f'));
  THostileEntry twin = file("twin.txt", std::string(1000, 'f'));
  twin.shareLocalOf = 0;
  THostileEntry method = file("bzip.txt", "x");
  method.method = 12;
  rows.push_back({"overlapping entries and unknown methods", {first, twin, method, file("good.txt")},
                  {"overlaps", "method 12"}, nullptr});

  for (const TRow& row : rows) {
    SCOPED_TRACE(row.id);
    const fs::path box = testenv::MakeTempDir("hostile");
    const fs::path dest = box / "dest", outside = box / "outside";
    fs::create_directories(dest);
    fs::create_directories(outside / "etc");
    testenv::WriteFile(outside / "secret", "secret");
    testenv::WriteFile(outside / "etc" / "passwd", "root:x:0:0");
    if (row.plant) row.plant(dest);
    THostileZip z;
    z.entries = row.entries;
    testenv::WriteFile(box / "h.zip", z.Build());
    const fs::path p = MakeProgram(box / "h.zip", {});
    ASSERT_FALSE(p.empty());
    auto before = Snapshot(box);
    const stubtest::TRun r = RunQuiet(p, "-d dest", box, "TMPDIR=" + Quote(box.string()));
    EXPECT_EQ(r.status, 1) << r.Text();
    for (const std::string& s : row.says) EXPECT_TRUE(Has(r.err, s)) << s << "\n" << r.Text();
    EXPECT_EQ(testenv::ReadFile(dest / "good.txt"), "payload") << r.Text();
    auto after = Snapshot(box);
    for (const auto& [path, line] : after) {
      if (path.rfind("dest/", 0) == 0 || path == "dest") continue;
      auto it = before.find(path);
      EXPECT_TRUE(it != before.end() && it->second == line) << "changed outside: " << path << "\n" << r.Text();
    }
    EXPECT_EQ(testenv::ReadFile(outside / "secret"), "secret");
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dest, ec); it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (!it->is_symlink() || before.count(it->path().lexically_relative(box).generic_string())) continue;
      const fs::path where = fs::weakly_canonical(it->path(), ec);
      const std::string rel = where.lexically_relative(fs::canonical(dest)).generic_string();
      EXPECT_FALSE(rel.empty() || rel.rfind("..", 0) == 0) << "a link leads out: " << it->path();
    }
  }
}

}  // namespace
