// TRarKit over the real library: runs, events, selection, overwrite and password flows with
// scripted answers, hostile names, damaged archives and a missing or incomplete library.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "RarWriter.h"
#include "SampleData.h"
#include "ScriptedPrompt.h"
#include "TestEnv.h"
#include "rar/RarKit.h"

namespace fs = std::filesystem;
using namespace rartest;

namespace {

struct Recorder {
  std::vector<std::string> listed, extracting, extracted, failed;
  std::vector<int> errors;
  std::map<std::string, int64_t> lastPosition;
  void Attach(TRarKit& kit) {
    kit.OnListing = [this](TRarKit&, const RARHeaderData& h) { listed.push_back(TRarKit::EntryName(h)); };
    kit.OnExtracting = [this](TRarKit&, const RARHeaderData& h) { extracting.push_back(TRarKit::EntryName(h)); };
    kit.OnExtract = [this](TRarKit&, const RARHeaderData& h, bool ok) {
      (ok ? extracted : failed).push_back(TRarKit::EntryName(h));
    };
    kit.OnError = [this](TRarKit&, int code) { errors.push_back(code); };
  }
};

void PrepareKit(TRarKit& kit, const fs::path& archive) {
  kit.Path2UnrarDll = testenv::ProgramDir().string();
  kit.Archivefilename = archive.string();
}

// The page's overwrite question, answered through the prompt service.
struct OverwriteAsker {
  bool yesToAll = false, noToAll = false;
  bool operator()(TRarKit&, const RARHeaderData&, const std::string& disk) {
    if (yesToAll) return true;
    if (noToAll) return false;
    switch (Prompt().ShowMessage("Confirm", disk + "\nTHE FILE IN THE ZIP FILE WILL REPLACE THE FILE ON DISK",
                                 TPromptIcon::Question, TPromptButtons::YesNoAllCancel)) {
      case TPromptAnswer::NoToAll: noToAll = true; return false;
      case TPromptAnswer::No: return false;
      case TPromptAnswer::YesToAll: yesToAll = true; return true;
      default: return true;
    }
  }
};

}  // namespace

TEST(RarKit, ListsSamplesAndEndsWithoutAnError) {
  TRarKit kit;
  PrepareKit(kit, Sample("test_read_format_rar5_stored_manyfiles.rar"));
  Recorder rec;
  rec.Attach(kit);
  int listedOk = 0;
  kit.OnList = [&](TRarKit&, const RARHeaderData&, bool ok) { listedOk += ok; };
  EXPECT_EQ(kit.ListRarArchive(), ERAR_END_ARCHIVE);
  EXPECT_TRUE(TRarKit::Succeeded(ERAR_END_ARCHIVE));
  EXPECT_EQ(rec.listed, (std::vector<std::string>{"make_uue.tcl", "cebula.txt", "test.bin"}));
  EXPECT_EQ(listedOk, 3);
  EXPECT_TRUE(rec.errors.empty());  // no "End of archive" box after a normal run
  EXPECT_FALSE(UnrarLibraryLoaded());  // unloaded at the end of every run
}

TEST(RarKit, ExtractsTheChosenEntriesWithProgress) {
  const fs::path dest = testenv::MakeTempDir("kit");
  TRarKit kit;
  PrepareKit(kit, Sample("test_rar_multivolume_uncompressed_files.part01.rar"));
  kit.TargetDirectory = dest.string();
  Recorder rec;
  rec.Attach(kit);
  int volumes = 0;
  kit.OnVolumeChange = [&](TRarKit&, char*, int mode) {
    volumes += mode == RAR_VOL_NOTIFY;
    return 1;
  };
  int64_t lastPosition = 0, blocks = 0;
  kit.OnProcessData = [&](TRarKit& k, const unsigned char*, int size, int64_t position) {
    blocks += size;
    lastPosition = position;
    EXPECT_EQ(position, k.Position());
  };
  kit.SetFilesToProcess({"TESTDIR/testsubdir/libarchiveaddingtest.html", "testsymlink"});
  EXPECT_EQ(kit.ExtractRarArchive(), ERAR_END_ARCHIVE);
  EXPECT_TRUE(rec.errors.empty());
  EXPECT_EQ(rec.extracting.size(), 16u);  // every header, skipped ones included
  EXPECT_EQ(rec.extracted, (std::vector<std::string>{"testdir/testsubdir/LibarchiveAddingTest.html", "testsymlink"}));
  EXPECT_EQ(volumes, 9);
  EXPECT_EQ(fs::file_size(dest / "testdir/testsubdir/LibarchiveAddingTest.html"), 20111u);
  EXPECT_TRUE(fs::is_symlink(dest / "testsymlink"));
  EXPECT_FALSE(fs::exists(dest / "LibarchiveAddingTest.html"));
  EXPECT_EQ(lastPosition, 33);  // the link's target text is the last entry's data
  EXPECT_EQ(blocks, 20111 + 33);
}

TEST(RarKit, FolderEntriesThatExistCountAsSuccess) {
  const fs::path dest = testenv::MakeTempDir("dirs");
  fs::create_directories(dest / "dir_readonly");
  TRarKit kit;
  PrepareKit(kit, Sample("test_read_format_rar5_fileattr.rar"));
  kit.TargetDirectory = dest.string();
  Recorder rec;
  rec.Attach(kit);
  EXPECT_EQ(kit.ExtractRarArchive(), ERAR_END_ARCHIVE);
  EXPECT_EQ(rec.extracted.size(), 8u);
  EXPECT_TRUE(fs::is_directory(dest / "dir_rohidden"));
}

TEST(RarKit, OverwriteQuestionsWithScriptedAnswers) {
  const fs::path dir = testenv::MakeTempDir("over");
  std::vector<Rar4Item> items(4);
  for (int i = 0; i < 4; ++i) {
    items[size_t(i)].name = "f" + std::to_string(i) + ".txt";
    items[size_t(i)].data = "new " + std::to_string(i);
  }
  testenv::WriteFile(dir / "o.rar", MakeRar4(items));
  const fs::path dest = dir / "out";
  for (int i = 0; i < 4; ++i) testenv::WriteFile(dest / ("f" + std::to_string(i) + ".txt"), "old");

  TScriptedPrompt prompt;
  prompt.QueueAnswer(TPromptAnswer::No);
  prompt.QueueAnswer(TPromptAnswer::YesToAll);
  TRarKit kit;
  PrepareKit(kit, dir / "o.rar");
  kit.TargetDirectory = dest.string();
  OverwriteAsker asker;
  kit.OnOverwrite = std::ref(asker);
  EXPECT_EQ(kit.ExtractRarArchive(), ERAR_END_ARCHIVE);
  EXPECT_EQ(prompt.Texts().size(), 2u);  // Yes to All answers the later questions
  EXPECT_TRUE(prompt.Saw((dest / "f0.txt").string()));
  EXPECT_EQ(testenv::ReadFile(dest / "f0.txt"), "old");
  EXPECT_EQ(testenv::ReadFile(dest / "f1.txt"), "new 1");
  EXPECT_EQ(testenv::ReadFile(dest / "f3.txt"), "new 3");

  // No to All keeps every file.
  for (int i = 0; i < 4; ++i) testenv::WriteFile(dest / ("f" + std::to_string(i) + ".txt"), "old");
  prompt.Clear();
  prompt.QueueAnswer(TPromptAnswer::NoToAll);
  OverwriteAsker second;
  kit.OnOverwrite = std::ref(second);
  EXPECT_EQ(kit.ExtractRarArchive(), ERAR_END_ARCHIVE);
  EXPECT_EQ(prompt.Texts().size(), 1u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(testenv::ReadFile(dest / ("f" + std::to_string(i) + ".txt")), "old");
}

TEST(RarKit, PasswordFlowWithScriptedAnswers) {
  const fs::path sample = Sample("test_read_format_rar_encryption_partially.rar");
  TScriptedPrompt prompt;
  std::string remembered;
  int asked = 0;
  auto ask = [&](TRarKit& k, const RARHeaderData&, std::string& password) {
    if (remembered.empty()) {
      ++asked;
      std::string value;
      if (Prompt().AskText("Enter password", "&Password:", value, true) && !value.empty()) remembered = value;
    }
    password = remembered;
    if (password.empty()) k.Stop = true;
  };
  // A wrong password: the run ends with the wrong-password code and text, and no file is left.
  {
    const fs::path dest = testenv::MakeTempDir("pw");
    prompt.QueueText("secret");
    TRarKit kit;
    PrepareKit(kit, sample);
    kit.TargetDirectory = dest.string();
    Recorder rec;
    rec.Attach(kit);
    kit.OnReqPassword = ask;
    EXPECT_EQ(kit.ExtractRarArchive(), ERAR_BAD_PASSWORD);
    EXPECT_EQ(asked, 1);
    ASSERT_EQ(rec.errors, std::vector<int>{ERAR_BAD_PASSWORD});
    EXPECT_EQ(TRarKit::GetRarErrorText(rec.errors[0]), "Incorrect password (or damaged data)");
    // The run goes on after the entry that failed: only the plain one is written.
    EXPECT_EQ(testenv::ListTree(dest), std::vector<std::string>{"bar.txt"});
  }
  // The right one, asked once for both entries.
  {
    const fs::path dest = testenv::MakeTempDir("pw");
    remembered.clear();
    asked = 0;
    prompt.QueueText("12345678");
    TRarKit kit;
    PrepareKit(kit, sample);
    kit.TargetDirectory = dest.string();
    kit.OnReqPassword = ask;
    EXPECT_TRUE(TRarKit::Succeeded(kit.ExtractRarArchive()));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(testenv::ReadFile(dest / "foo.txt"), "data of foo.txt\n");
    EXPECT_EQ(testenv::ReadFile(dest / "bar.txt"), "data of bar.txt\n");
  }
  // Cancelled: the entry is skipped and the run stops at the next header, without an error.
  {
    const fs::path dest = testenv::MakeTempDir("pw");
    remembered.clear();
    asked = 0;
    prompt.QueueText("\x18");
    TRarKit kit;
    PrepareKit(kit, sample);
    kit.TargetDirectory = dest.string();
    Recorder rec;
    rec.Attach(kit);
    kit.OnReqPassword = ask;
    EXPECT_EQ(kit.ExtractRarArchive(), kRarKitStopped);
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(rec.errors.empty());
    EXPECT_FALSE(kit.Stop);
    EXPECT_TRUE(fs::is_empty(dest));
  }
}

TEST(RarKit, DamagedArchivesEndWithTheirCode) {
  const fs::path dir = testenv::MakeTempDir("bad");
  std::vector<Rar4Item> items(1);
  items[0].name = "data.txt";
  items[0].data = std::string(1000, 'd');
  std::string bytes = MakeRar4(items);
  bytes[bytes.size() - 7 - 10] ^= 0x20;
  testenv::WriteFile(dir / "flip.rar", bytes);
  TRarKit kit;
  PrepareKit(kit, dir / "flip.rar");
  kit.TargetDirectory = (dir / "out").string();
  Recorder rec;
  rec.Attach(kit);
  EXPECT_EQ(kit.ExtractRarArchive(), ERAR_BAD_DATA);
  EXPECT_EQ(rec.errors, std::vector<int>{ERAR_BAD_DATA});
  EXPECT_EQ(rec.failed, std::vector<std::string>{"data.txt"});
  EXPECT_EQ(TRarKit::GetRarErrorText(ERAR_BAD_DATA), "CRC error, data damaged");

  for (const char* sample : {"test_read_format_rar_ppmd_use_after_free.rar", "test_read_format_rar4_encrypted_filenames.rar"}) {
    TRarKit other;
    PrepareKit(other, Sample(sample));
    Recorder r;
    r.Attach(other);
    const int code = other.ListRarArchive();
    EXPECT_TRUE(code == ERAR_BAD_ARCHIVE || code == kRarKitOpenFailed || code == ERAR_MISSING_PASSWORD) << sample;
    EXPECT_EQ(r.errors.size(), 1u) << sample;
    EXPECT_TRUE(r.listed.empty());
  }
  TRarKit none;
  PrepareKit(none, dir / "nothing.rar");
  EXPECT_EQ(none.ListRarArchive(), kRarKitOpenFailed);
}

TEST(RarKit, HostileNamesNeverLeaveTheDestination) {
  const fs::path dir = testenv::MakeTempDir("evil");
  std::vector<Rar4Item> items(4);
  items[0].name = "../x";
  items[0].data = "1";
  items[1].name = "/abs/x";
  items[1].data = "2";
  items[2].name = "link";
  items[2].hostOS = 3;
  items[2].attr = 0120777;
  items[2].data = "../../..";
  items[3].name = "link/escaped";
  items[3].data = "3";
  testenv::WriteFile(dir / "e.rar", MakeRar4(items));
  const fs::path dest = dir / "a" / "b" / "dest";
  fs::create_directories(dest);
  TRarKit kit;
  PrepareKit(kit, dir / "e.rar");
  kit.TargetDirectory = dest.string();
  Recorder rec;
  rec.Attach(kit);
  // The refused link does not end the run: the entry after it is written inside, the run ends with
  // the refusal's code.
  EXPECT_EQ(kit.ExtractRarArchive(), ERAR_UNSAFE_ENTRY);
  EXPECT_EQ(rec.extracted, (std::vector<std::string>{"../x", "/abs/x", "link/escaped"}));
  EXPECT_EQ(testenv::ReadFile(dest / "x"), "1");
  EXPECT_EQ(testenv::ReadFile(dest / "abs/x"), "2");
  EXPECT_FALSE(fs::is_symlink(dest / "link"));
  EXPECT_EQ(testenv::ReadFile(dest / "link/escaped"), "3");
  EXPECT_FALSE(fs::exists(dir / "x"));
  EXPECT_FALSE(fs::exists(dir / "escaped"));
  EXPECT_FALSE(fs::exists(dir / "abs"));
}

TEST(RarKit, MissingOrIncompleteLibrary) {
  const fs::path empty = testenv::MakeTempDir("nolib");
  for (const std::string& folder : {empty.string(), std::string(RAR_STUB_DIR)}) {
    SCOPED_TRACE(folder);
    TScriptedPrompt prompt;
    TRarKit kit;
    kit.Path2UnrarDll = folder;
    kit.Archivefilename = Sample("test_read_format_rar5_owner.rar").string();
    kit.TargetDirectory = testenv::MakeTempDir().string();
    std::vector<int> errors;
    kit.OnError = [&](TRarKit&, int code) {
      errors.push_back(code);
      ShowError(TRarKit::GetRarErrorText(code));
    };
    EXPECT_EQ(kit.ExtractRarArchive(), kRarKitNoLibrary);
    EXPECT_EQ(errors, std::vector<int>{kRarKitNoLibrary});
    EXPECT_EQ(prompt.Texts(), std::vector<std::string>{"Unable to load libunrar.so..."});
    EXPECT_FALSE(UnrarLibraryLoaded());
  }
  // Nothing else is broken: the same component works with the right folder.
  TRarKit kit;
  PrepareKit(kit, Sample("test_read_format_rar5_owner.rar"));
  EXPECT_EQ(kit.ListRarArchive(), ERAR_END_ARCHIVE);
}

TEST(RarKit, ErrorTextsAndSelection) {
  EXPECT_EQ(TRarKit::GetRarErrorText(10), "End of archive, All Done !");
  EXPECT_EQ(TRarKit::GetRarErrorText(100), "End of archive, All Done !");
  EXPECT_EQ(TRarKit::GetRarErrorText(101), "Read error");
  EXPECT_EQ(TRarKit::GetRarErrorText(255), "Decompression Canceled by user !");
  EXPECT_EQ(TRarKit::GetRarErrorText(16), "File create error, either a ReadOnly-File or a directory that already exists...");
  EXPECT_EQ(TRarKit::GetRarErrorText(42), "Unknown error !\nCode :42");
  TRarKit kit;
  EXPECT_TRUE(kit.ShouldProcess("anything"));
  kit.SetFilesToProcess({"b/Two.txt", "A/one.txt"});
  kit.AddFileToProcess("c.txt");
  EXPECT_EQ(kit.FilesToProcess(), (std::vector<std::string>{"A/one.txt", "b/Two.txt", "c.txt"}));
  EXPECT_TRUE(kit.ShouldProcess("a/ONE.txt"));
  EXPECT_FALSE(kit.ShouldProcess("one.txt"));
}
