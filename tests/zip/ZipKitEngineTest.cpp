// Engine loading, the engine callback and the add/extract/delete records, against test engines.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "FakeEngine.h"
#include "ScriptedPrompt.h"
#include "TestEnv.h"
#include "ZipTestUtil.h"
#include "core/TextUtil.h"
#include "platform/Paths.h"
#include "zip/ZipKit.h"

namespace fs = std::filesystem;

namespace {

fs::path EngineDir(const char* variant) { return fs::path(ZIP_TEST_ENGINE_DIR) / variant; }

// The recording state of a loaded test engine.
struct TFake {
  std::vector<TFakeCall>* Calls = nullptr;
  TFakeScript* Script = nullptr;
};

TFake FakeOf(const std::string& libraryPath) {
  void* h = dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_NOLOAD);
  EXPECT_NE(h, nullptr) << libraryPath;
  TFake f;
  if (!h) return f;
  f.Calls = reinterpret_cast<FakeEngineCallsFn>(dlsym(h, "FakeEngineCalls"))();
  f.Script = reinterpret_cast<FakeEngineScriptFn>(dlsym(h, "FakeEngineScript"))();
  dlclose(h);  // the component keeps its own reference
  f.Calls->clear();
  *f.Script = TFakeScript{};
  return f;
}

CallbackRecord Record(TZipKit& kit, int32_t action, int32_t v1 = 0, int64_t v2 = 0, const std::string& text = "") {
  CallbackRecord r{};
  r.Caller = &kit;
  r.ActionCode = action;
  r.Value1 = v1;
  r.Value2 = v2;
  std::memcpy(r.Text, text.data(), std::min<size_t>(text.size(), sizeof r.Text));
  return r;
}

class ZipEngineTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = testenv::MakeTempDir("engines"); }
  void TearDown() override { TPasswordDlg::SetRunner(nullptr); }
  fs::path dir_;
  TScriptedPrompt prompt_;
};

// --- Loading ----------------------------------------------------------------------------------

TEST_F(ZipEngineTest, MissingLibraryReportsNotFoundTwice) {
  TZipKit kit;
  kit.SetDLLDirectory(dir_.string());
  EXPECT_EQ(kit.LoadZipEngine(), 0);
  EXPECT_EQ(kit.LoadUnzipEngine(), 0);
  EXPECT_FALSE(kit.ZipEngineLoaded());
  EXPECT_FALSE(kit.UnzipEngineLoaded());
  EXPECT_EQ(prompt_.Texts(), (std::vector<std::string>{"libzipeng.so not found!", "libzipeng.so not found! unloaded",
                                                       "libunzeng.so not found!",
                                                       "libunzeng.so not found! unloaded"}));
  EXPECT_EQ(kit.ErrCode, 10704);
  // An operation tries again and ends without calling anything.
  prompt_.Clear();
  kit.FSpecArgs = {"a.txt"};
  kit.SetZipFileName((dir_ / "new.zip").string());
  kit.AddFiles();
  EXPECT_EQ(kit.SuccessCount, 0);
  EXPECT_TRUE(prompt_.Saw("libzipeng.so not found!"));
}

TEST_F(ZipEngineTest, MissingFunctionsAndVersionZeroUnload) {
  struct TCase {
    const char* variant;
    std::vector<std::string> zipTexts;
  };
  const TCase cases[] = {
      {"noexec", {"ZipEngExec function not found in libzipeng.so!", "libzipeng.so not found! unloaded"}},
      {"noversion", {"GetZipEngVersion function not found in libzipeng.so!", "libzipeng.so not found! unloaded"}},
      {"zero", {"libzipeng.so not found! unloaded"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.variant);
    prompt_.Clear();
    TZipKit kit;
    kit.SetDLLDirectory(EngineDir(c.variant).string());
    EXPECT_EQ(kit.LoadZipEngine(), 0);
    EXPECT_FALSE(kit.ZipEngineLoaded());
    EXPECT_EQ(prompt_.Texts(), c.zipTexts);
  }
  prompt_.Clear();
  TZipKit kit;
  kit.SetDLLDirectory(EngineDir("noexec").string());
  EXPECT_EQ(kit.LoadUnzipEngine(), 0);
  EXPECT_EQ(prompt_.Texts(), (std::vector<std::string>{"UnzEngExec function not found in libunzeng.so!",
                                                       "libunzeng.so not found! unloaded"}));
}

TEST_F(ZipEngineTest, Version169IsRefusedBeforeAnythingIsAdded) {
  TZipKit kit;
  kit.SetDLLDirectory(EngineDir("old").string());
  kit.SetMinZipEngVers(100);  // ignored: below 170
  EXPECT_EQ(kit.MinZipEngVers(), 170);
  bool loadedHere = true;
  EXPECT_EQ(kit.CheckZipEngine(loadedHere), 0);
  EXPECT_FALSE(loadedHere);
  EXPECT_FALSE(kit.ZipEngineLoaded());
  const std::string path = (EngineDir("old") / "libzipeng.so").string();
  EXPECT_TRUE(prompt_.Saw("Attempted to load old ZipEng from " + path));

  prompt_.Clear();
  EXPECT_EQ(kit.LoadUnzipEngine(), 169);  // loading itself accepts any version but 0
  EXPECT_EQ(kit.CheckUnzipEngine(loadedHere), 0);
  EXPECT_TRUE(prompt_.Saw("Attempted to load old UnzEng from " + (EngineDir("old") / "libunzeng.so").string()));
  EXPECT_FALSE(kit.UnzipEngineLoaded());

  // Delete checks the version itself.
  prompt_.Clear();
  testenv::WriteFile(dir_ / "e.zip", std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  kit.SetZipFileName((dir_ / "e.zip").string());
  kit.FSpecArgs = {"x"};
  kit.DeleteEntries();
  EXPECT_EQ(kit.SuccessCount, 0);
  EXPECT_TRUE(prompt_.Saw("Attempted to load old ZipEng from " + path));
  EXPECT_FALSE(kit.ZipEngineLoaded());
}

TEST_F(ZipEngineTest, RelativeFolderStartingWithDotIsLookedForBelowTheProgram) {
  const std::string savedProgram = ProgramPath();
  const fs::path program = dir_ / "prog";
  fs::create_directories(program / "engines");
  fs::copy_file(EngineDir("good") / "libzipeng.so", program / "engines" / "libzipeng.so");
  SetProgramPath((program / "tandorfile").string());
  {
    TZipKit kit;
    kit.SetDLLDirectory("./engines/");
    EXPECT_EQ(kit.DLLDirectory(), "./engines");
    kit.Trace = true;
    EXPECT_EQ(kit.LoadZipEngine(), 170);
    ASSERT_TRUE(kit.ZipEngineLoaded());
    EXPECT_EQ(fs::canonical(kit.ZipEnginePath()), fs::canonical(program / "engines" / "libzipeng.so"));
    EXPECT_TRUE(prompt_.Saw("ZIP library Loaded " + kit.ZipEnginePath()));

    // Without the leading "." the relative folder is not looked for below the program.
    TZipKit other;
    other.SetDLLDirectory("engines");
    EXPECT_EQ(other.LoadZipEngine(), 0);
  }
  SetProgramPath(savedProgram);
}

TEST_F(ZipEngineTest, CheckLoadsForOneOperationAndAnnouncesWhenVerbose) {
  TZipKit kit;
  kit.SetDLLDirectory(EngineDir("good").string());
  kit.Verbose = true;
  std::vector<std::string> messages;
  kit.OnMessage = [&](TZipKit*, int32_t code, const std::string& text) {
    if (code == 0) messages.push_back(text);
  };
  bool loadedHere = false;
  EXPECT_EQ(kit.CheckUnzipEngine(loadedHere), 170);
  EXPECT_TRUE(loadedHere);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "Loaded UnzEng ver: 170 from " + kit.UnzipEnginePath());
  EXPECT_EQ(kit.CheckUnzipEngine(loadedHere), 170);
  EXPECT_FALSE(loadedHere);

  // An extract that found the engine unloaded unloads it again; a loaded one stays.
  kit.UnloadUnzipEngine();
  testenv::WriteFile(dir_ / "e.zip", std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  kit.SetZipFileName((dir_ / "e.zip").string());
  kit.ExtractFiles();
  EXPECT_EQ(kit.SuccessCount, 1);
  EXPECT_FALSE(kit.UnzipEngineLoaded());
  kit.LoadUnzipEngine();
  kit.ExtractFiles();
  EXPECT_TRUE(kit.UnzipEngineLoaded());
}

// --- Callback ---------------------------------------------------------------------------------

TEST_F(ZipEngineTest, CallbackProgressMessagesAndSizes) {
  TZipKit kit;
  std::vector<std::tuple<ProgressType, std::string, int64_t>> progress;
  kit.OnProgress = [&](TZipKit*, ProgressType t, const std::string& name, int64_t size) {
    progress.emplace_back(t, name, size);
  };
  std::vector<std::pair<int32_t, std::string>> messages;
  kit.OnMessage = [&](TZipKit*, int32_t code, const std::string& text) { messages.emplace_back(code, text); };

  auto r = Record(kit, kActionNewFile, 0, 6'000'000'000LL, "dir\\file.txt   ");
  EXPECT_EQ(TZipKit::EngineCallback(&r), 0);
  r = Record(kit, kActionProgress, 0, 8192, "ignored");
  TZipKit::EngineCallback(&r);
  r = Record(kit, kActionTotalFiles, 0, 12);
  TZipKit::EngineCallback(&r);
  r = Record(kit, kActionTotalSize, 0, 5'000'000'000LL);
  TZipKit::EngineCallback(&r);
  r = Record(kit, kActionEndBatch, 7, 7);
  TZipKit::EngineCallback(&r);
  using P = std::tuple<ProgressType, std::string, int64_t>;
  EXPECT_EQ(progress, (std::vector<P>{P{PtNewFile, "dir/file.txt", 6'000'000'000LL}, P{PtAdvance, "", 8192},
                                      P{PtTotalFiles, "", 12}, P{PtTotalSize, "", 5'000'000'000LL},
                                      P{PtBatchEnd, "", 0}}));
  EXPECT_EQ(kit.AnnouncedTotalSize, 5'000'000'000LL);

  kit.ErrCode = 0;
  r = Record(kit, kActionMessage, 0, 0, "just saying");
  TZipKit::EngineCallback(&r);
  EXPECT_EQ(kit.ErrCode, 0);
  EXPECT_EQ(kit.LastMessage, "just saying");
  r = Record(kit, kActionMessage, 0x1203, 0, "bad thing");
  TZipKit::EngineCallback(&r);
  EXPECT_EQ(kit.ErrCode, 3);
  EXPECT_EQ(kit.FullErrCode, 0x1203);
  EXPECT_EQ(messages, (std::vector<std::pair<int32_t, std::string>>{{0, "just saying"}, {0x1203, "bad thing"}}));

  // A text without terminator is taken up to 512 bytes.
  r = Record(kit, kActionNewFile, 0, 1);
  std::memset(r.Text, 'n', sizeof r.Text);
  progress.clear();
  TZipKit::EngineCallback(&r);
  ASSERT_EQ(progress.size(), 1u);
  EXPECT_EQ(std::get<1>(progress[0]), std::string(512, 'n'));

  r = Record(kit, kActionStreamSize, 1, 1);
  EXPECT_EQ(TZipKit::EngineCallback(&r), 0);
  // A record from something that is not a live component is refused.
  r = Record(kit, kActionNewFile);
  r.Caller = &r;
  EXPECT_EQ(TZipKit::EngineCallback(&r), kCallbackStop);
  EXPECT_TRUE(prompt_.History().empty());
}

TEST_F(ZipEngineTest, CallbackQuestionsNewNameCrcOverwriteSkippedComment) {
  TZipKit kit;
  auto r = Record(kit, kActionNewName, 5, 0, "old.txt");
  TZipKit::EngineCallback(&r);
  EXPECT_EQ(r.Value1, 5);  // no handler: untouched
  kit.OnSetNewName = [](TZipKit*, std::string& name, bool& changed) {
    changed = name == "old.txt";
    if (changed) name = "renamed/new.txt";
  };
  r = Record(kit, kActionNewName, 5, 0, "old.txt");
  TZipKit::EngineCallback(&r);
  EXPECT_EQ(r.Value1, 1);
  EXPECT_STREQ(r.Text, "renamed/new.txt");
  r = Record(kit, kActionNewName, 5, 0, "other.txt");
  TZipKit::EngineCallback(&r);
  EXPECT_EQ(r.Value1, 0);

  r = Record(kit, kActionCrcError, static_cast<int32_t>(0xDEADBEEF), 0x12345678, "f.bin");
  TZipKit::EngineCallback(&r);
  EXPECT_EQ(r.Value1, 2);
  uint32_t found = 0, expected = 0;
  kit.OnCRC32Error = [&](TZipKit*, const std::string& file, uint32_t f, uint32_t e, bool& doExtract) {
    EXPECT_EQ(file, "f.bin");
    EXPECT_TRUE(doExtract);
    found = f;
    expected = e;
    doExtract = false;
  };
  r = Record(kit, kActionCrcError, static_cast<int32_t>(0xDEADBEEF), 0x12345678, "f.bin");
  TZipKit::EngineCallback(&r);
  EXPECT_EQ(r.Value1, 0);
  EXPECT_EQ(found, 0xDEADBEEF);
  EXPECT_EQ(expected, 0x12345678u);

  r = Record(kit, kActionOverwrite, 0x10005, 1, "o.txt");
  TZipKit::EngineCallback(&r);
  EXPECT_EQ(r.Value2, 1);  // no handler: the proposal stands
  bool older = false;
  int32_t index = -1;
  kit.OnExtractOverwrite = [&](TZipKit*, const std::string&, bool isOlder, bool& doOverwrite, int32_t dirIndex) {
    older = isOlder;
    index = dirIndex;
    EXPECT_TRUE(doOverwrite);
    doOverwrite = false;
  };
  r = Record(kit, kActionOverwrite, 0x10005, 0x101, "o.txt");
  TZipKit::EngineCallback(&r);
  EXPECT_TRUE(older);
  EXPECT_EQ(index, 5);
  EXPECT_EQ(r.Value2, 0);

  int32_t skipType = -9, extError = 0;
  kit.OnExtractSkipped = [&](TZipKit*, const std::string& file, UnZipSkipTypes type, int32_t err) {
    EXPECT_EQ(file, "s.txt");
    skipType = type;
    extError = err;
  };
  kit.ErrCode = 0;
  r = Record(kit, kActionSkipped, 0x205, 3, "s.txt");
  TZipKit::EngineCallback(&r);
  EXPECT_EQ(skipType, 2);
  EXPECT_EQ(extError, 0x205);
  EXPECT_EQ(kit.ErrCode, 5);
  EXPECT_EQ(kit.FullErrCode, 0x205);

  std::string initial;
  kit.OnFileComment = [&](TZipKit*, const std::string&, std::string& comment, bool& changed) {
    initial = comment;
    comment = std::string(600, 'c');
    changed = true;
  };
  r = Record(kit, kActionFileComment, 0, 0, "c.txt");
  r.Text[kCallbackInitialCommentIndex] = 'Q';
  TZipKit::EngineCallback(&r);
  EXPECT_EQ(initial, "Q");
  EXPECT_EQ(r.Value1, 1);
  EXPECT_EQ(r.Value2, 511);
  EXPECT_EQ(std::string(r.Text), std::string(511, 'c'));
  kit.OnFileComment = [](TZipKit*, const std::string&, std::string&, bool& changed) { changed = false; };
  r = Record(kit, kActionFileComment, 0, 0, "c.txt");
  TZipKit::EngineCallback(&r);
  EXPECT_EQ(r.Value1, 0);
  EXPECT_EQ(r.Text[0], '\0');
}

TEST_F(ZipEngineTest, CallbackPasswordThroughTheHandler) {
  TZipKit kit;
  struct TAnswer {
    std::string password;
    TPasswordButton button;
  } answer{"hunter2", PbOk};
  uint32_t seenRepeat = 0;
  bool seenZip = false;
  kit.OnPasswordError = [&](TZipKit*, bool isZip, std::string& pw, const std::string& file, uint32_t& repeat,
                            TPasswordButton& action) {
    EXPECT_EQ(file, "locked.txt");
    seenZip = isZip;
    seenRepeat = repeat;
    pw = answer.password;
    action = answer.button;
  };
  auto r = Record(kit, kActionPassword, 0, 20, "locked.txt");
  r.IsZipOperation = 1;
  EXPECT_EQ(TZipKit::EngineCallback(&r), 0);
  EXPECT_TRUE(seenZip);
  EXPECT_EQ(seenRepeat, 20u);
  EXPECT_EQ(r.Value1, 1);
  EXPECT_EQ(r.Value2, 15);  // capped
  EXPECT_STREQ(r.Text, "hunter2");
  EXPECT_EQ(r.ActionCode, kActionPassword);
  EXPECT_EQ(kit.Password(), "");  // the component's own password is untouched

  answer = {std::string(100, 'p'), PbOk};
  r = Record(kit, kActionPassword, 0, 2, "locked.txt");
  TZipKit::EngineCallback(&r);
  EXPECT_EQ(std::string(r.Text), std::string(80, 'p'));

  answer = {"ignored", PbCancel};
  r = Record(kit, kActionPassword, 0, 3, "locked.txt");
  TZipKit::EngineCallback(&r);
  EXPECT_EQ(r.Value1, 0);
  EXPECT_EQ(r.Value2, 0);
  EXPECT_EQ(r.ActionCode, kActionPassword);

  answer = {"ignored", PbCancelAll};
  r = Record(kit, kActionPassword, 0, 3, "locked.txt");
  EXPECT_EQ(TZipKit::EngineCallback(&r), 0);
  EXPECT_EQ(r.ActionCode, kActionNone);
  EXPECT_EQ(r.Value1, 0);
  EXPECT_FALSE(kit.Cancel);

  answer = {"ignored", PbAbort};
  r = Record(kit, kActionPassword, 0, 3, "locked.txt");
  EXPECT_EQ(TZipKit::EngineCallback(&r), kCallbackStop);
  EXPECT_TRUE(kit.Cancel);
  EXPECT_EQ(r.Value1, 0);
}

TEST_F(ZipEngineTest, CallbackPasswordDialogsWithoutHandler) {
  TZipKit kit;
  std::vector<std::tuple<std::string, std::string, int>> asked;
  std::vector<std::pair<std::string, TPasswordButton>> replies;
  TPasswordDlg::SetRunner([&](const std::string& caption, const std::string& label, int buttons, std::string& text) {
    asked.emplace_back(caption, label, buttons);
    auto reply = replies.front();
    replies.erase(replies.begin());
    text = reply.first;
    return reply.second;
  });

  // Extract: one question with Cancel all.
  replies = {{"secret", PbOk}};
  auto r = Record(kit, kActionPassword, 0, 1, "x.txt");
  TZipKit::EngineCallback(&r);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0], std::make_tuple(std::string("Password"), std::string("Enter Password "),
                                      TPasswordDlg::pbOk | TPasswordDlg::pbCancel | TPasswordDlg::pbCancelAll));
  EXPECT_STREQ(r.Text, "secret");
  EXPECT_EQ(r.Value1, 1);
  EXPECT_EQ(r.Value2, 1);

  replies = {{"typed", PbCancelAll}};
  r = Record(kit, kActionPassword, 0, 1, "x.txt");
  TZipKit::EngineCallback(&r);
  EXPECT_EQ(r.ActionCode, kActionNone);
  EXPECT_EQ(r.Value1, 0);

  // Add (bit 0): asked twice; equal texts are taken, different ones are refused.
  asked.clear();
  replies = {{"pw1", PbOk}, {"pw1", PbOk}};
  r = Record(kit, kActionPassword, kPasswordWantNew, 1, "y.txt");
  TZipKit::EngineCallback(&r);
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(std::get<1>(asked[1]), "Confirm Password ");
  EXPECT_EQ(std::get<2>(asked[1]), TPasswordDlg::pbOk | TPasswordDlg::pbCancel);
  EXPECT_STREQ(r.Text, "pw1");

  replies = {{"pw1", PbOk}, {"pw2", PbOk}};
  r = Record(kit, kActionPassword, kPasswordWantNew, 1, "y.txt");
  TZipKit::EngineCallback(&r);
  EXPECT_EQ(r.Value1, 0);
  EXPECT_TRUE(prompt_.Saw("Error - passwords do NOT match\nPassword ignored"));

  // Unattended: no dialog, a message instead.
  asked.clear();
  prompt_.Clear();
  kit.Unattended = true;
  std::vector<std::string> messages;
  kit.OnMessage = [&](TZipKit*, int32_t, const std::string& text) { messages.push_back(text); };
  r = Record(kit, kActionPassword, kPasswordWantNew, 1, "y.txt");
  TZipKit::EngineCallback(&r);
  r = Record(kit, kActionPassword, 0, 1, "y.txt");
  TZipKit::EngineCallback(&r);
  EXPECT_TRUE(asked.empty());
  EXPECT_EQ(messages, (std::vector<std::string>{"Error - no add password given", "Error - no extract password given"}));
  EXPECT_TRUE(prompt_.History().empty());
}

TEST_F(ZipEngineTest, PromptServiceEntryIsSecretAndKnowsOkAndCancel) {
  TZipKit kit;
  prompt_.QueueText("from prompt");
  auto r = Record(kit, kActionPassword, 0, 1, "x.txt");
  TZipKit::EngineCallback(&r);
  EXPECT_STREQ(r.Text, "from prompt");
  ASSERT_EQ(prompt_.History().size(), 1u);
  EXPECT_EQ(prompt_.History()[0].kind, "text");
  EXPECT_EQ(prompt_.History()[0].caption, "Password");
  prompt_.QueueText("\x18");
  r = Record(kit, kActionPassword, 0, 1, "x.txt");
  TZipKit::EngineCallback(&r);
  EXPECT_EQ(r.Value1, 0);
}

TEST_F(ZipEngineTest, CancelIsAnsweredAtTheNextCallback) {
  TZipKit kit;
  int events = 0;
  kit.ProcessEvents = [&] {
    if (++events == 1) kit.Cancel = true;  // the Stop button pressed while events run
  };
  auto r = Record(kit, kActionProgress, 0, 1);
  EXPECT_EQ(TZipKit::EngineCallback(&r), kCallbackContinue);
  EXPECT_EQ(TZipKit::EngineCallback(&r), kCallbackStop);
  EXPECT_EQ(events, 2);
}

// --- Operations -------------------------------------------------------------------------------

class ZipOperationTest : public ZipEngineTest {
 protected:
  void SetUp() override {
    ZipEngineTest::SetUp();
    kit_.SetDLLDirectory(EngineDir("good").string());
    ASSERT_EQ(kit_.LoadZipEngine(), 170);
    ASSERT_EQ(kit_.LoadUnzipEngine(), 170);
    zip_ = FakeOf(kit_.ZipEnginePath());
    unzip_ = FakeOf(kit_.UnzipEnginePath());
    archive_ = (dir_ / "archive.zip").string();
  }
  TZipKit kit_;
  TFake zip_, unzip_;
  std::string archive_;
};

TEST_F(ZipOperationTest, AddMapsEveryOptionIntoTheRecords) {
  kit_.SetZipFileName(archive_);
  kit_.AddOptions = {AddRecurseDirs, AddMove,        AddFreshen,  AddUpdate,       AddZipTime, AddForceDOS,
                     AddHiddenFiles, AddArchiveOnly, AddResetArchive, AddEncrypt, AddSeparateDirs, AddVolume,
                     AddFromDate};
  kit_.AddFrom = DayNumberOf(2024, 3, 7);
  kit_.AddCompLevel = 5;
  kit_.SetPassword("topsecret");
  kit_.TempDir = (dir_ / "tmp").string();
  kit_.RootDir = "relative/root";
  kit_.CodePage = cpOEM;
  kit_.HowToDelete = htdFinal;
  kit_.AddStoreSuffixes = {assGIF, assZ, assEXE};
  kit_.Unattended = true;
  kit_.ApplicationHandle = &kit_;
  kit_.FSpecArgs = {"plain*.txt", ">rec/*", "|norec/*", "secret.doc<pw1", "open.doc<"};
  kit_.FSpecArgsExcl = {"*.bak", "tmp/*"};
  kit_.AddFiles();
  EXPECT_EQ(kit_.SuccessCount, 5);
  EXPECT_TRUE(kit_.FSpecArgs.empty());
  EXPECT_TRUE(kit_.FSpecArgsExcl.empty());
  ASSERT_EQ(zip_.Calls->size(), 1u);
  const TFakeCall& c = zip_.Calls->front();
  const ZipParams& p = c.Zip;
  EXPECT_TRUE(c.ReservedZero);
  EXPECT_EQ(p.Handle, nullptr);  // unattended
  EXPECT_EQ(p.Caller, &kit_);
  EXPECT_EQ(p.Version, 170);
  EXPECT_EQ(p.Callback, &TZipKit::EngineCallback);
  EXPECT_EQ(p.Trace, 0);
  EXPECT_EQ(c.Password, "topsecret");
  EXPECT_EQ(c.StoreSuffixes, ".gif:.z:.exe");
  EXPECT_EQ(p.Encrypt, -1);
  EXPECT_EQ(p.HiddenFiles, -1);
  EXPECT_EQ(p.Volume, -1);
  EXPECT_EQ(p.NoDirEntries, 0);
  EXPECT_EQ(p.UseDate, -1);
  EXPECT_EQ(p.Verbose, 0);
  EXPECT_EQ(p.Quiet, -1);
  EXPECT_EQ(p.Level, 5);
  EXPECT_EQ(p.JunkDirNames, -1);  // AddDirNames clear
  EXPECT_EQ(p.Recurse, -1);
  EXPECT_EQ(p.AddFlag, -1);
  EXPECT_EQ(p.ForceDos, -1);
  EXPECT_EQ(p.Move, -1);
  EXPECT_EQ(p.DeleteFlag, 0);
  EXPECT_EQ(p.Update, -1);
  EXPECT_EQ(p.Freshen, 0);  // update wins
  EXPECT_EQ(p.LatestTime, -1);
  EXPECT_EQ(std::string(p.Date, 8), "03 07 24");
  EXPECT_EQ(p.SpecCount, 5);
  EXPECT_EQ(c.ZipFileName, archive_);
  EXPECT_EQ(c.TempDir, kit_.TempDir);
  EXPECT_FALSE(c.HasComment);
  EXPECT_EQ(p.ArchiveOnly, 1);
  EXPECT_EQ(p.ResetArchive, 1);
  EXPECT_EQ(p.ExclCount, 2);
  EXPECT_EQ(c.Exclusions, (std::vector<std::string>{"*.bak", "tmp/*"}));
  EXPECT_EQ(p.AllowUndoDelete, 0);
  EXPECT_EQ(p.CodePage, 2);
  EXPECT_EQ(p.CheckValue, 7);

  const std::string root = (fs::current_path() / "relative" / "root").string();
  ASSERT_EQ(c.Specs.size(), 5u);
  struct TWant {
    std::string text;
    bool hasPassword;
    std::string password;
    int32_t encrypt;
    int16_t recurse;
  };
  const TWant want[] = {{"plain*.txt", false, "", -1, -1},
                        {"rec/*", false, "", -1, -1},
                        {"norec/*", false, "", -1, 0},
                        {"secret.doc", true, "pw1", 65535, -1},
                        {"open.doc", false, "", 0, -1}};
  for (size_t i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(c.Specs[i].Text, want[i].text);
    EXPECT_EQ(c.Specs[i].HasPassword, want[i].hasPassword);
    EXPECT_EQ(c.Specs[i].Password, want[i].password);
    EXPECT_EQ(c.Specs[i].Encrypt, want[i].encrypt);
    EXPECT_EQ(c.Specs[i].Recurse, want[i].recurse);
    EXPECT_EQ(c.Specs[i].RootDir, root);
    EXPECT_TRUE(c.Specs[i].ReservedZero);
  }
}

TEST_F(ZipOperationTest, AddDefaultsAndLineMarkersWithoutGlobalOptions) {
  kit_.SetZipFileName(archive_);
  kit_.ApplicationHandle = &kit_;
  kit_.AddOptions = {AddDirNames, AddFreshen};
  kit_.Trace = true;
  kit_.FSpecArgs = {">deep", "x<"};
  kit_.AddFiles();
  ASSERT_EQ(zip_.Calls->size(), 1u);
  const TFakeCall& c = zip_.Calls->front();
  EXPECT_EQ(c.Zip.Handle, &kit_);
  EXPECT_FALSE(c.HasPassword);
  EXPECT_EQ(c.StoreSuffixes, ".gif:.png:.z:.zip:.zoo:.arc:.lzh:.arj:.taz:.tgz:.lha:.rar:.ace:.cab:.gz:.gzip:.jar");
  EXPECT_EQ(c.Zip.Encrypt, 0);
  EXPECT_EQ(c.Zip.Freshen, -1);
  EXPECT_EQ(c.Zip.Update, 0);
  EXPECT_EQ(c.Zip.Verbose, -1);  // trace implies verbose
  EXPECT_EQ(c.Zip.Trace, -1);
  EXPECT_EQ(c.Zip.NoDirEntries, -1);
  EXPECT_EQ(c.Zip.JunkDirNames, 0);
  EXPECT_EQ(c.Zip.Level, 9);
  EXPECT_EQ(c.Zip.AllowUndoDelete, -1);
  EXPECT_EQ(c.Zip.CodePage, 0);
  EXPECT_EQ(c.Zip.ExclSpecs, nullptr);
  EXPECT_EQ(c.Specs[0].Recurse, -1);
  EXPECT_EQ(c.Specs[0].Encrypt, 0);
  EXPECT_FALSE(c.Specs[0].HasRootDir);
  EXPECT_EQ(c.Specs[1].Text, "x");
  EXPECT_EQ(c.Specs[1].Recurse, 0);
  EXPECT_FALSE(c.Specs[1].HasPassword);
}

TEST_F(ZipOperationTest, AddRefusalsEndBeforeTheEngine) {
  kit_.AddFiles();
  EXPECT_EQ(kit_.ErrCode, 10301);
  kit_.FSpecArgs = {"a"};
  kit_.AddFiles();
  EXPECT_EQ(kit_.ErrCode, 10102);
  kit_.SetZipFileName(archive_);
  kit_.Unattended = true;
  kit_.AddOptions = {AddEncrypt};
  kit_.FSpecArgs = {"a"};
  kit_.AddFiles();
  EXPECT_EQ(kit_.ErrCode, 10302);
  kit_.Unattended = false;
  kit_.AddOptions = {AddDiskSpan, AddUpdate};
  kit_.AddFiles();
  EXPECT_EQ(kit_.ErrCode, 10303);
  kit_.AddOptions = {AddDiskSpanErase};
  kit_.SetZipFileName((dir_ / "prog.RUN").string());
  kit_.AddFiles();
  EXPECT_EQ(kit_.ErrCode, 11041);
  kit_.AddOptions = {};
  kit_.AddFiles();  // a new self-extracting program needs the stub, which the engines' folder lacks
  EXPECT_EQ(kit_.ErrCode, 10304);
  EXPECT_EQ(kit_.LastMessage, "Error -9 occurred during Auto SFX creation.");
  EXPECT_TRUE(zip_.Calls->empty());
  EXPECT_EQ(kit_.SuccessCount, 0);
  EXPECT_EQ(prompt_.Texts(),
            (std::vector<std::string>{"Error - no files to zip!", "Error - no zip file specified!",
                                      "AddFreshen or AddUpdate not possible on a spanned archive",
                                      "Error - Self extracting archives(.run) can not be spanned",
                                      "Error - SFXSTUB.BIN not found!",
                                      "Error -9 occurred during Auto SFX creation."}));
}

TEST_F(ZipOperationTest, ExtractMapsOptionsAndSpecifications) {
  testenv::WriteFile(archive_, std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  kit_.SetZipFileName(archive_);
  kit_.ExtrOptions = {ExtrDirNames, ExtrOverWrite, ExtrFreshen, ExtrUpdate, ExtrTest};
  kit_.ExtrBaseDir = (dir_ / "out").string();
  kit_.SetPasswordReqCount(20);
  EXPECT_EQ(kit_.PasswordReqCount(), 15u);
  kit_.FSpecArgs = {"a.txt", "dir/*"};
  kit_.ExtractFiles();
  EXPECT_EQ(kit_.SuccessCount, 2);
  EXPECT_TRUE(kit_.FSpecArgs.empty());
  ASSERT_EQ(unzip_.Calls->size(), 1u);
  const TFakeCall& c = unzip_.Calls->front();
  const UnzipParams& p = c.Unzip;
  EXPECT_TRUE(c.ReservedZero);
  EXPECT_EQ(p.Caller, &kit_);
  EXPECT_EQ(p.Version, 170);
  EXPECT_TRUE(c.HasPassword);  // always present
  EXPECT_EQ(c.Password, "");
  EXPECT_EQ(p.Test, -1);
  EXPECT_EQ(p.Quiet, -1);
  EXPECT_EQ(p.Verbose, 0);
  EXPECT_EQ(p.Update, -1);
  EXPECT_EQ(p.Freshen, 0);
  EXPECT_EQ(p.DirNames, -1);
  EXPECT_EQ(p.Overwrite, -1);
  EXPECT_EQ(p.SpecCount, 2);
  EXPECT_EQ(c.Specs[0].Text, "a.txt");
  EXPECT_EQ(c.Specs[1].Text, "dir/*");
  EXPECT_TRUE(c.Specs[1].ReservedZero);
  EXPECT_EQ(c.ZipFileName, archive_);
  EXPECT_EQ(p.PasswordReqCount, 15);
  EXPECT_EQ(c.ExtractDir, kit_.ExtrBaseDir);
  EXPECT_EQ(p.CheckValue, 7);

  unzip_.Calls->clear();
  kit_.ExtrOptions = {ExtrFreshen};
  kit_.ExtrBaseDir.clear();
  kit_.FSpecArgs = {"*.*", "ignored"};
  kit_.SetPassword("pw");
  kit_.ExtractFiles();
  ASSERT_EQ(unzip_.Calls->size(), 1u);
  EXPECT_EQ(unzip_.Calls->front().Unzip.SpecCount, 0);
  EXPECT_EQ(unzip_.Calls->front().Unzip.FileSpecs, nullptr);
  EXPECT_EQ(unzip_.Calls->front().Unzip.Freshen, -1);
  EXPECT_FALSE(unzip_.Calls->front().HasExtractDir);
  EXPECT_EQ(unzip_.Calls->front().Password, "pw");
}

TEST_F(ZipOperationTest, UnattendedExtractWithoutPasswordAsksNoPasswordAtAll) {
  testenv::WriteFile(archive_, std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  kit_.SetZipFileName(archive_);
  kit_.Unattended = true;
  kit_.SetPasswordReqCount(3);
  kit_.ExtractFiles();
  ASSERT_EQ(unzip_.Calls->size(), 1u);
  EXPECT_EQ(unzip_.Calls->front().Unzip.PasswordReqCount, 0);
  EXPECT_EQ(kit_.ErrCode, 10502);
  EXPECT_EQ(kit_.PasswordReqCount(), 3u);  // restored
  EXPECT_TRUE(prompt_.History().empty());

  kit_.SetZipFileName((dir_ / "absent.zip").string());
  kit_.ExtractFiles();
  EXPECT_EQ(kit_.ErrCode, 10102);
  EXPECT_EQ(unzip_.Calls->size(), 1u);
}

TEST_F(ZipOperationTest, EngineCallbacksDuringExtractAndBusyFlag) {
  testenv::WriteFile(archive_, std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  kit_.SetZipFileName(archive_);
  unzip_.Script->Callbacks = {Record(kit_, kActionTotalFiles, 0, 2), Record(kit_, kActionNewFile, 0, 10, "a.txt"),
                              Record(kit_, kActionPassword, 0, 1, "a.txt"), Record(kit_, kActionNewFile, 0, 20, "b")};
  int nestedSuccess = -1;
  bool nestedBusy = false;
  kit_.OnProgress = [&](TZipKit* k, ProgressType t, const std::string&, int64_t) {
    if (t != PtTotalFiles) return;
    nestedBusy = k->UnzipBusy();
    k->ExtractFiles();  // a second extract while one runs does nothing
    nestedSuccess = k->SuccessCount;
  };
  kit_.OnPasswordError = [](TZipKit*, bool, std::string& pw, const std::string&, uint32_t&, TPasswordButton&) {
    pw = "given";
  };
  kit_.ExtractFiles();
  EXPECT_TRUE(nestedBusy);
  EXPECT_EQ(nestedSuccess, 0);
  EXPECT_EQ(unzip_.Calls->size(), 1u);
  EXPECT_EQ(kit_.SuccessCount, 1);
  ASSERT_EQ(unzip_.Script->Answers.size(), 4u);
  EXPECT_STREQ(unzip_.Script->Answers[2].Text, "given");
  EXPECT_EQ(unzip_.Script->Answers[2].Value1, 1);
  EXPECT_FALSE(kit_.UnzipBusy());

  // Stop pressed during the run: the engine is told to stop; Cancel is cleared afterwards.
  unzip_.Calls->clear();
  kit_.OnProgress = [&](TZipKit* k, ProgressType t, const std::string&, int64_t) {
    if (t == PtNewFile) k->Cancel = true;
  };
  kit_.OnPasswordError = nullptr;
  unzip_.Script->Callbacks = {Record(kit_, kActionNewFile, 0, 10, "a.txt"), Record(kit_, kActionProgress, 0, 10)};
  kit_.ExtractFiles();
  EXPECT_EQ(unzip_.Script->Returns, (std::vector<int32_t>{kCallbackStop}));
  EXPECT_EQ(kit_.SuccessCount, 0);
  EXPECT_FALSE(kit_.Cancel);
}

TEST_F(ZipOperationTest, EngineExceptionsAreReported) {
  testenv::WriteFile(archive_, std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  kit_.SetZipFileName(archive_);
  zip_.Script->Throw = true;
  unzip_.Script->Throw = true;
  kit_.FSpecArgs = {"a"};
  kit_.AddFiles();
  EXPECT_EQ(kit_.ErrCode, 10101);
  EXPECT_EQ(kit_.SuccessCount, 0);
  EXPECT_FALSE(kit_.ZipBusy());
  kit_.ExtractFiles();
  EXPECT_EQ(kit_.ErrCode, 10501);
  EXPECT_FALSE(kit_.UnzipBusy());
  kit_.FSpecArgs = {"a"};
  kit_.DeleteEntries();
  EXPECT_EQ(kit_.ErrCode, 10101);
  EXPECT_TRUE(prompt_.Saw("Fatal Error in libzipeng.so: abort exception"));
  EXPECT_TRUE(prompt_.Saw("Fatal Error in libunzeng.so: abort exception"));
}

TEST_F(ZipOperationTest, DeleteSendsOnlyTheTextsAndRereadsTheDirectory) {
  std::string out;
  testenv::WriteFile(dir_ / "a.txt", "a");
  ASSERT_EQ(testenv::Run("cd " + testenv::Quote(dir_.string()) + " && zip -q archive.zip a.txt", &out), 0);
  kit_.SetZipFileName(archive_);
  ASSERT_EQ(kit_.EntryCount(), 1);
  int updates = 0;
  kit_.OnDirUpdate = [&](TZipKit*) { ++updates; };
  kit_.AddOptions = {AddEncrypt, AddRecurseDirs, AddMove, AddUpdate, AddFreshen};
  kit_.SetPassword("pw");
  kit_.FSpecArgs = {">a.txt<pw"};
  kit_.FSpecArgsExcl = {"*.x"};
  kit_.DeleteEntries();
  EXPECT_EQ(kit_.SuccessCount, 1);
  EXPECT_EQ(updates, 1);
  EXPECT_TRUE(kit_.FSpecArgs.empty());
  EXPECT_TRUE(kit_.FSpecArgsExcl.empty());
  ASSERT_EQ(zip_.Calls->size(), 1u);
  const TFakeCall& c = zip_.Calls->front();
  EXPECT_EQ(c.Zip.DeleteFlag, -1);
  EXPECT_EQ(c.Zip.AddFlag, 0);
  EXPECT_EQ(c.Zip.Encrypt, 0);
  EXPECT_EQ(c.Zip.JunkDirNames, 0);
  EXPECT_EQ(c.Zip.Recurse, 0);
  EXPECT_EQ(c.Zip.Move, 0);
  EXPECT_EQ(c.Zip.Update, 0);
  EXPECT_EQ(c.Zip.Freshen, 0);
  EXPECT_EQ(c.Exclusions, std::vector<std::string>{"*.x"});
  ASSERT_EQ(c.Specs.size(), 1u);
  EXPECT_EQ(c.Specs[0].Text, ">a.txt<pw");
  EXPECT_EQ(c.Specs[0].Encrypt, 0);
  EXPECT_EQ(c.Specs[0].Recurse, 0);
  EXPECT_FALSE(c.Specs[0].HasPassword);
  EXPECT_FALSE(c.Specs[0].HasRootDir);
  EXPECT_TRUE(c.ReservedZero);
}

TEST_F(ZipOperationTest, DeleteRaisesForSpannedArchivesAndFilesWithoutEndRecord) {
  kit_.DeleteEntries();
  EXPECT_EQ(kit_.ErrCode, 10401);
  // The end record of the last disk of a set (this disk 1); the file is swapped in after listing.
  const std::string spanned = std::string("PK\x05\x06\x01\x00", 6) + std::string(16, '\0');
  testenv::WriteFile(dir_ / "plain.zip", std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  kit_.SetZipFileName((dir_ / "plain.zip").string());
  testenv::WriteFile(dir_ / "plain.zip", spanned);
  kit_.FSpecArgs = {"a"};
  try {
    kit_.DeleteEntries();
    ADD_FAILURE() << "no exception";
  } catch (const EZipKit& e) {
    EXPECT_EQ(e.Id(), 10402);
  }
  testenv::WriteFile(dir_ / "plain.zip", "no end record here at all.....");
  try {
    kit_.DeleteEntries();
    ADD_FAILURE() << "no exception";
  } catch (const EZipKit& e) {
    EXPECT_EQ(e.Id(), 11036);
  }
  EXPECT_TRUE(zip_.Calls->empty());
}

TEST_F(ZipOperationTest, SpannedRunsGoThroughATemporarySingleFile) {
  // Extracting a set: the engine gets the set joined into a temporary archive, removed afterwards.
  WriteTwoPartSet(dir_);
  kit_.TempDir = (dir_ / "jointmp").string();
  fs::create_directories(kit_.TempDir);
  kit_.SetZipFileName((dir_ / "set002.zip").string());
  ASSERT_EQ(kit_.LastDisk(), 1);
  kit_.ExtractFiles();
  ASSERT_EQ(unzip_.Calls->size(), 1u) << kit_.LastMessage;
  const std::string joined = unzip_.Calls->front().ZipFileName;
  EXPECT_EQ(fs::path(joined).parent_path(), dir_ / "jointmp");
  EXPECT_FALSE(fs::exists(joined));
  EXPECT_FALSE(kit_.UnzipBusy());
  // A set that cannot be joined ends the run before the engine.
  unzip_.Calls->clear();
  fs::remove(dir_ / "set001.zip");
  kit_.ExtractFiles();
  EXPECT_EQ(kit_.SuccessCount, 0);
  EXPECT_TRUE(unzip_.Calls->empty());
  EXPECT_EQ(kit_.ErrCode, 11001);
  EXPECT_TRUE(fs::is_empty(dir_ / "jointmp"));

  // A spanned add lets the engine write a temporary archive, which is removed afterwards.
  kit_.SetZipFileName((dir_ / "new.zip").string());
  kit_.TempDir = (dir_ / "tmp").string();
  fs::create_directories(kit_.TempDir);
  kit_.Verbose = true;
  std::vector<std::string> notes;
  kit_.OnMessage = [&](TZipKit*, int32_t, const std::string& text) { notes.push_back(text); };
  kit_.AddOptions = {AddDiskSpan};
  kit_.FSpecArgs = {"a"};
  kit_.AddFiles();
  ASSERT_EQ(zip_.Calls->size(), 1u);
  const std::string temp = zip_.Calls->front().ZipFileName;
  EXPECT_EQ(fs::path(temp).parent_path(), dir_ / "tmp");
  ASSERT_FALSE(notes.empty());
  EXPECT_EQ(notes.front(), "Temporary zipfile: " + temp);
  EXPECT_EQ(kit_.SuccessCount, 0);
  EXPECT_FALSE(fs::exists(temp));
  EXPECT_FALSE(kit_.ZipBusy());
}

}  // namespace
