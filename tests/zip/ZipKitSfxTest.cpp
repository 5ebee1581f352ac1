// Self-extracting conversion: zip archives made by Info-ZIP become ".run" programs with our stub
// (SfxStub.bin of the build) and back; the settings header, the icon slot, the result codes and
// messages, and what peers make of the programs.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "ScriptedPrompt.h"
#include "TestEnv.h"
#include "ZipTestUtil.h"
#include "zip/ZipKit.h"

namespace fs = std::filesystem;
using testenv::Quote;

namespace {

// A 32 x 32, 16-colour icon file: header, one entry, 744 bytes of image.
std::vector<uint8_t> IconFile(uint8_t seed, uint8_t width = 32, uint8_t colours = 16, size_t image = 744) {
  std::string f;
  Put16(f, 0);
  Put16(f, 1);
  Put16(f, 1);
  f += char(width);
  f += char(width);
  f += char(colours);
  f += char(0);
  Put16(f, 1);
  Put16(f, 4);
  Put32(f, static_cast<uint32_t>(image));
  Put32(f, 22);
  for (size_t i = 0; i < image; ++i) f += char(uint8_t(i * 7 + seed));
  return {f.begin(), f.end()};
}

struct TSfxFixture : ::testing::Test {
  void SetUp() override {
    dir = testenv::MakeTempDir("sfx");
    fs::create_directories(dir / "src" / "sub");
    testenv::WriteFile(dir / "src" / "a.txt", "alpha\n");
    testenv::WriteFile(dir / "src" / "sub" / "b.bin", testenv::RandomBytes(200000, 3, true));
    testenv::WriteFile(dir / "src" / "run.sh", "#!/bin/sh\necho ran\n");
    ::chmod((dir / "src" / "run.sh").c_str(), 0755);
    std::string out;
    ASSERT_EQ(testenv::Run("cd " + Quote((dir / "src").string()) + " && zip -qr -z ../in.zip . <<'EOF'\nthe comment\nEOF", &out), 0) << out;
    original = testenv::ReadFile(dir / "in.zip");
    kit.SetDLLDirectory(testenv::ProgramDir().string());
    kit.HowToDelete = htdFinal;
  }
  // The file listing of the folder, without the sources.
  std::vector<std::string> Files() const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir))
      if (e.path().filename() != "src") out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }
  fs::path dir;
  std::string original;
  TScriptedPrompt prompt;
  TZipKit kit;
};

// Runs a peer tool; returns its exit status, its output in `out`.
int Peer(const std::string& command, std::string& out) { return testenv::Run(command + " 2>&1", &out); }

TEST_F(TSfxFixture, RoundTripsEverySettingAndTheIcon) {
  struct TCase {
    const char* id;
    std::string caption, folder, command, message;
    SFXOpts options;
    OvrOpts overwrite;
    bool icon;
  };
  const std::string longText(255, 'x');
  const std::vector<TCase> cases = {
      {"defaults", "Self-extracting Archive", "", "", "", {SFXCheckSize}, OvrConfirm, false},
      {"automatic", "Auto", "", "><run.sh", "", {SFXAutoRun, SFXHideOverWriteBox, SFXCheckSize}, OvrConfirm, true},
      {"interactive", "Ask me", "><", "><sub\\b.bin", "\001Hello", {SFXAskFiles, SFXAskCmdLine, SFXNoSuccessMsg}, OvrAlways, true},
      {"yes/no, never", "C", "/opt/x", "", "\002Sure?", {SFXCheckSize, SFXNoSuccessMsg}, OvrNever, false},
      {"longest strings", longText, longText, longText, longText, {}, OvrNever, true},
      {"UTF-8 texts", "Ünïcødé ✓", "><Ordner", "", "Grüße", {SFXCheckSize}, OvrConfirm, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.id);
    testenv::WriteFile(dir / "in.zip", original);
    kit.SetZipFileName((dir / "in.zip").string());
    ASSERT_EQ(kit.ErrCode, 0) << kit.LastMessage;
    kit.SFXCaption = c.caption;
    kit.SFXDefaultDir = c.folder;
    kit.SFXCommandLine = c.command;
    kit.SFXMessage = c.message;
    kit.SFXOptions = c.options;
    kit.SFXOverWriteMode = c.overwrite;
    kit.SFXIcon = c.icon ? IconFile(uint8_t(c.caption.size())) : std::vector<uint8_t>{};
    const std::vector<uint8_t> icon = kit.SFXIcon;
    ASSERT_EQ(kit.ConvertToSfx(), 0) << kit.LastMessage;
    const fs::path program = dir / "in.run";
    EXPECT_EQ(kit.ZipFileName(), program.string());
    EXPECT_FALSE(fs::exists(dir / "in.zip"));
    struct stat st {};
    ASSERT_EQ(::stat(program.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    EXPECT_GT(kit.SFXOffset(), 0);
    EXPECT_FALSE(kit.OffsetMismatch());
    EXPECT_EQ(kit.EntryCount(), 3);

    // Peers read the program as a zip archive without a word of warning.
    std::string out;
    EXPECT_EQ(Peer("unzip -l " + Quote(program.string()), out), 0) << out;
    EXPECT_EQ(out.find("warning"), std::string::npos) << out;
    EXPECT_EQ(Peer("unzip -t " + Quote(program.string()), out), 0) << out;
    EXPECT_NE(out.find("No errors detected"), std::string::npos) << out;
    EXPECT_EQ(out.find("warning"), std::string::npos) << out;
    EXPECT_EQ(Peer("7z t " + Quote(program.string()), out), 0) << out;
    EXPECT_NE(out.find("Everything is Ok"), std::string::npos) << out;
    EXPECT_EQ(out.find("WARNING"), std::string::npos) << out;
    EXPECT_EQ(Peer("bsdtar -tf " + Quote(program.string()), out), 0) << out;
    EXPECT_EQ(testenv::SortedLines(out), (std::vector<std::string>{"a.txt", "run.sh", "sub/", "sub/b.bin"}));

    // Back: the settings and the icon come back exactly, and the archive is the one we started with.
    kit.SFXCaption = "changed";
    kit.SFXDefaultDir = kit.SFXCommandLine = kit.SFXMessage = "changed";
    kit.SFXOptions = {};
    kit.SFXOverWriteMode = c.overwrite == OvrAlways ? OvrNever : OvrAlways;
    kit.SFXIcon.clear();
    ASSERT_EQ(kit.ConvertToZip(), 0) << kit.LastMessage;
    EXPECT_EQ(kit.ZipFileName(), (dir / "in.zip").string());
    EXPECT_FALSE(fs::exists(program));
    EXPECT_EQ(kit.SFXCaption, c.caption);
    EXPECT_EQ(kit.SFXDefaultDir, c.folder);
    EXPECT_EQ(kit.SFXCommandLine, c.command);
    EXPECT_EQ(kit.SFXMessage, c.message);
    EXPECT_EQ(kit.SFXOptions, c.options);
    EXPECT_EQ(kit.SFXOverWriteMode, c.overwrite);
    if (c.icon) EXPECT_EQ(kit.SFXIcon, icon);
    else EXPECT_EQ(kit.SFXIcon.size(), 766u) << "the stub's own icon";
    EXPECT_TRUE(testenv::ReadFile(dir / "in.zip") == original) << "the archive came back changed";
  }
  EXPECT_TRUE(prompt.History().empty());
}

TEST_F(TSfxFixture, HeaderIsPaddedToFourBytes) {
  // 12 + 5 bytes of strings: a 20-byte header whose last three bytes are zero.
  kit.SetZipFileName((dir / "in.zip").string());
  kit.SFXCaption = "abcde";
  kit.SFXOptions = {SFXCheckSize};
  ASSERT_EQ(kit.ConvertToSfx(), 0) << kit.LastMessage;
  const std::string program = testenv::ReadFile(dir / "in.run");
  const std::string header = program.substr(static_cast<size_t>(kit.SFXOffset()) - 20, 20);
  EXPECT_EQ(header.substr(0, 3), "MPV");
  EXPECT_EQ(uint8_t(header[3]), 0u) << "flags: check size set, nothing else";
  EXPECT_EQ(header[4], 0);
  EXPECT_EQ(header[5], 1);
  EXPECT_EQ(uint8_t(header[6]), 20u);
  EXPECT_EQ(header[7], 0);
  EXPECT_EQ(header.substr(8, 6), std::string("\x05" "abcde"));
  EXPECT_EQ(header.substr(14, 6), std::string(6, '\0'));
  // The stub in front is the build's, byte for byte but its icon slot.
  const std::string stub = testenv::ReadFile(testenv::ProgramDir() / "SfxStub.bin");
  EXPECT_EQ(program.size(), stub.size() + 20 + original.size());
}

TEST_F(TSfxFixture, RefusalsChangeNothingOnDisk) {
  struct TCase {
    const char* id;
    std::function<void()> arrange;
    int32_t code;
    std::string message;
  };
  const fs::path stubCopy = dir / "stub.bin";
  const std::string stub = testenv::ReadFile(testenv::ProgramDir() / "SfxStub.bin");
  const std::vector<TCase> cases = {
      {"a string of 256 characters", [&] { kit.SFXMessage = std::string(256, 'm'); }, -9,
       "Error - On or more of the 4 property strings mentioned below exceeds 255 characters!\n"
       "SFXCaption + SFXDefaultDir + SFXCommandLine + SFXMessage = 293"},
      {"no stub anywhere", [&] { kit.SFXPath = (dir / "missing.bin").string(); kit.SetDLLDirectory((dir / "none").string()); },
       -9, "Error - SFXSTUB.BIN not found!"},
      {"a stub cut short", [&] {
         testenv::WriteFile(stubCopy, stub.substr(0, stub.size() / 2));
         kit.SFXPath = stubCopy.string();
       }, -10, ""},
      {"a stub that is no program", [&] {
         testenv::WriteFile(stubCopy, "MZ not an ELF program at all");
         kit.SFXPath = stubCopy.string();
       }, -10, ""},
      {"an icon of 256 colours", [&] { kit.SFXIcon = IconFile(1, 32, 0, 2216); }, -12, ""},
      {"an icon of 48 x 48", [&] { kit.SFXIcon = IconFile(1, 48, 16, 1640); }, -12, ""},
      {"a folder where the program goes", [&] { fs::create_directory(dir / "in.run"); }, -1, ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.id);
    fs::remove_all(dir / "in.run");
    fs::remove(stubCopy);
    testenv::WriteFile(dir / "in.zip", original);
    kit.SFXPath = "SfxStub.bin";
    kit.SetDLLDirectory(testenv::ProgramDir().string());
    kit.SFXCaption = "Self-extracting Archive";
    kit.SFXMessage.clear();
    kit.SFXIcon.clear();
    kit.SetZipFileName((dir / "in.zip").string());
    c.arrange();
    const std::vector<std::string> before = Files();
    prompt.Clear();
    kit.ErrCode = 0;
    EXPECT_EQ(kit.ConvertToSfx(), c.code);
    EXPECT_EQ(Files(), before);
    EXPECT_TRUE(testenv::ReadFile(dir / "in.zip") == original);
    if (!c.message.empty()) {
      EXPECT_EQ(kit.LastMessage, c.message);
      EXPECT_TRUE(prompt.Saw(c.message));
    }
  }
}

TEST_F(TSfxFixture, InputsOfTheWrongKind) {
  // Not a ".zip": 10803; a program name for ConvertToZip that is missing, of another kind, or a plain
  // archive under a program's name.
  fs::copy_file(dir / "in.zip", dir / "in.dat");
  kit.SetZipFileName((dir / "in.dat").string());
  EXPECT_EQ(kit.ConvertToSfx(), -9);
  EXPECT_EQ(kit.LastMessage, "Error: input file is not a zip file");
  EXPECT_EQ(kit.ConvertToZip(), -3);
  EXPECT_EQ(kit.LastMessage, "Error: input file is not an .run file");
  kit.SetZipFileName((dir / "nothing.run").string());
  EXPECT_EQ(kit.ConvertToZip(), -3);
  EXPECT_EQ(kit.LastMessage, "Error - no .run file specified");
  EXPECT_EQ(kit.ConvertToSfx(), -9);
  EXPECT_EQ(kit.LastMessage, "Error - no zip file specified!");
  fs::copy_file(dir / "in.zip", dir / "plain.run");
  kit.SetZipFileName((dir / "plain.run").string());
  EXPECT_EQ(kit.ConvertToZip(), -9);
  EXPECT_EQ(kit.LastMessage, "Error determining the type of SFX archive");
  EXPECT_TRUE(fs::exists(dir / "plain.run"));
  EXPECT_FALSE(fs::exists(dir / "plain.zip"));
}

TEST_F(TSfxFixture, ProgramCutShortIsRefused) {
  kit.SetZipFileName((dir / "in.zip").string());
  ASSERT_EQ(kit.ConvertToSfx(), 0);
  const std::string program = testenv::ReadFile(dir / "in.run");
  // The directory read, then the file loses its end: the conversion back fails and leaves it.
  testenv::WriteFile(dir / "in.run", program.substr(0, program.size() - 30));
  kit.ErrCode = 0;
  EXPECT_NE(kit.ConvertToZip(), 0);
  EXPECT_FALSE(fs::exists(dir / "in.zip"));
  EXPECT_EQ(testenv::ReadFile(dir / "in.run").size(), program.size() - 30);
  // Read afresh, it is no zip archive at all.
  kit.SetZipFileName((dir / "in.run").string());
  EXPECT_TRUE(kit.ZipFileName().empty());
}

TEST_F(TSfxFixture, OlderHeaderFormIsRead) {
  // A program with an "MPU" header: caption, folder and command line come back; the message stays.
  std::string u = "MPU";
  u += char(0x41);  // ask command line, auto run
  u += char(3);
  u += char(2);
  u += char(7);
  u += "Capfd><a.txt";
  const std::string stub = testenv::ReadFile(testenv::ProgramDir() / "SfxStub.bin");
  TCraftOptions o;
  o.Stub = stub + u;
  o.AdjustOffsets = true;
  TCraftEntry entry;
  entry.Name = "a.txt";
  entry.Data = "alpha\n";
  testenv::WriteFile(dir / "old.run", CraftZip({entry}, o));
  kit.SetZipFileName((dir / "old.run").string());
  ASSERT_EQ(kit.ErrCode, 0) << kit.LastMessage;
  kit.SFXMessage = "kept";
  ASSERT_EQ(kit.ConvertToZip(), 0) << kit.LastMessage;
  EXPECT_EQ(kit.SFXCaption, "Cap");
  EXPECT_EQ(kit.SFXDefaultDir, "fd");
  EXPECT_EQ(kit.SFXCommandLine, "><a.txt");
  EXPECT_EQ(kit.SFXMessage, "kept");
  EXPECT_EQ(kit.SFXOptions, (SFXOpts{SFXAskCmdLine, SFXAutoRun, SFXCheckSize}));
  std::string out;
  EXPECT_EQ(Peer("unzip -t " + Quote((dir / "old.zip").string()), out), 0) << out;
}

TEST_F(TSfxFixture, ProgramsMadeByOtherToolsConvertBack) {
  // Any prefix in front of a zip archive: offsets left as they were (the reader warns) or adjusted
  // by Info-ZIP's `zip -A`; neither has a settings header. Both come back as a clean archive.
  const std::string prefix = "#!/bin/sh\necho a self-extractor of another make\nexit 0\n" + std::string(3000, '\x7f');
  for (bool adjust : {false, true}) {
    SCOPED_TRACE(adjust ? "adjusted" : "as is");
    testenv::WriteFile(dir / "other.run", prefix + original);
    std::string out;
    if (adjust) {
      ASSERT_EQ(Peer("zip -qA " + Quote((dir / "other.run").string()), out), 0) << out;
    }
    prompt.Clear();
    kit.SetZipFileName((dir / "other.run").string());
    ASSERT_FALSE(kit.ZipFileName().empty());
    EXPECT_EQ(kit.OffsetMismatch(), !adjust);
    EXPECT_EQ(prompt.Saw("Warning - Error in zip structure!"), !adjust);
    kit.SFXCaption = "unchanged";
    kit.ErrCode = 0;
    ASSERT_EQ(kit.ConvertToZip(), 0) << kit.LastMessage;
    EXPECT_EQ(kit.SFXCaption, "unchanged");
    EXPECT_FALSE(kit.OffsetMismatch());
    EXPECT_EQ(Peer("unzip -t " + Quote((dir / "other.zip").string()), out), 0) << out;
    EXPECT_EQ(out.find("warning"), std::string::npos) << out;
    EXPECT_EQ(Peer("cd " + Quote(dir.string()) + " && rm -rf x && unzip -q other.zip -d x && diff -r x src", out), 0) << out;
    if (!adjust) {
      EXPECT_TRUE(testenv::ReadFile(dir / "other.zip") == original);
    }
    fs::remove(dir / "other.zip");
  }
}

TEST_F(TSfxFixture, Zip64ArchiveRoundTrips) {
  std::string out;
  ASSERT_EQ(Peer("cd " + Quote((dir / "src").string()) + " && zip -qr -fz ../z64.zip .", out), 0) << out;
  const std::string z64 = testenv::ReadFile(dir / "z64.zip");
  kit.SetZipFileName((dir / "z64.zip").string());
  ASSERT_TRUE(kit.EndRecord().IsZip64 || z64.find(std::string("PK\x06\x06", 4)) != std::string::npos);
  ASSERT_EQ(kit.ConvertToSfx(), 0) << kit.LastMessage;
  EXPECT_EQ(Peer("unzip -t " + Quote((dir / "z64.run").string()), out), 0) << out;
  EXPECT_EQ(out.find("warning"), std::string::npos) << out;
  EXPECT_EQ(Peer("7z t " + Quote((dir / "z64.run").string()), out), 0) << out;
  EXPECT_EQ(out.find("WARNING"), std::string::npos) << out;
  ASSERT_EQ(kit.ConvertToZip(), 0) << kit.LastMessage;
  EXPECT_TRUE(testenv::ReadFile(dir / "z64.zip") == z64);
}

TEST_F(TSfxFixture, ArchiveWithWrongOffsetsIsCopiedWhole) {
  // Offsets that count from the zip data behind a prefix: copied unchanged; the program then warns.
  const std::string junk(100, 'j');
  testenv::WriteFile(dir / "odd.zip", junk + original);
  kit.SetZipFileName((dir / "odd.zip").string());
  ASSERT_TRUE(kit.OffsetMismatch());
  kit.ErrCode = 0;
  ASSERT_EQ(kit.ConvertToSfx(), 0) << kit.LastMessage;
  const std::string stub = testenv::ReadFile(testenv::ProgramDir() / "SfxStub.bin");
  const std::string program = testenv::ReadFile(dir / "odd.run");
  EXPECT_TRUE(program.substr(program.size() - original.size() - junk.size()) == junk + original);
  EXPECT_TRUE(prompt.Saw("Warning - Error in zip structure!"));
}

TEST_F(TSfxFixture, SourceGoesToTheTrashWhenUndoIsAllowed) {
  kit.HowToDelete = htdAllowUndo;
  kit.SetZipFileName((dir / "in.zip").string());
  ASSERT_EQ(kit.ConvertToSfx(), 0) << kit.LastMessage;
  EXPECT_FALSE(fs::exists(dir / "in.zip"));
  bool found = false;
  for (const auto& e : fs::recursive_directory_iterator(testenv::Root()))
    if (e.path().filename() == "in.zip" && e.path().string().find("Trash") != std::string::npos)
      found = testenv::ReadFile(e.path()) == original;
  EXPECT_TRUE(found) << "in.zip is in the trash";
}

TEST_F(TSfxFixture, NewProgramModeStartsAnEmptyProgramThatTheEngineFills) {
  // `AddFiles` on a ".run" that does not exist: a program holding an empty archive, then the files.
  ASSERT_TRUE(fs::exists(testenv::ProgramDir() / "libzipeng.so"));
  kit.SetZipFileName((dir / "new.run").string());
  kit.AddOptions = {AddDirNames, AddRecurseDirs};
  kit.RootDir = (dir / "src").string();
  kit.FSpecArgs = {(dir / "src" / "a.txt").string(), ">" + (dir / "src" / "sub").string()};
  kit.AddFiles();
  EXPECT_EQ(kit.SuccessCount, 2) << kit.LastMessage;
  struct stat st {};
  ASSERT_EQ(::stat((dir / "new.run").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  EXPECT_GT(kit.SFXOffset(), 0);
  std::string out;
  EXPECT_EQ(Peer("unzip -t " + Quote((dir / "new.run").string()), out), 0) << out;
  EXPECT_EQ(out.find("warning"), std::string::npos) << out;
  // The program extracts itself.
  EXPECT_EQ(Peer(Quote((dir / "new.run").string()) + " -d " + Quote((dir / "out").string()) + " </dev/null", out), 0) << out;
  EXPECT_EQ(testenv::ReadFile(dir / "out" / "a.txt"), "alpha\n");
  EXPECT_EQ(testenv::ReadFile(dir / "out" / "sub" / "b.bin"), testenv::ReadFile(dir / "src" / "sub" / "b.bin"));
  // A new program alone holds an empty archive: its end record names the directory right after the
  // header (peers look for a directory in vain there; the program and the component read it).
  kit.SetZipFileName((dir / "empty.run").string());
  ASSERT_EQ(kit.ConvertToSfx(true), 0);
  EXPECT_EQ(Peer(Quote((dir / "empty.run").string()) + " --list", out), 0) << out;
  EXPECT_NE(out.find("0 files"), std::string::npos) << out;
  kit.SetZipFileName((dir / "empty.run").string());
  EXPECT_EQ(kit.ErrCode, 0) << kit.LastMessage;
  EXPECT_EQ(kit.EntryCount(), 0);
}

}  // namespace
