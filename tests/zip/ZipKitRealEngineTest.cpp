// TZipKit driving the project's own unzip engine (libunzeng.so in the program folder) on archives
// made by Info-ZIP zip: the records and callbacks work end to end.
#include <gtest/gtest.h>

#include <filesystem>

#include "ScriptedPrompt.h"
#include "TestEnv.h"
#include "zip/ZipKit.h"

namespace fs = std::filesystem;

namespace {

TEST(ZipKitRealEngine, ExtractsPlainAndEncryptedArchivesMadeByInfoZip) {
  ASSERT_TRUE(fs::exists(testenv::ProgramDir() / "libunzeng.so")) << testenv::ProgramDir();
  const auto dir = testenv::MakeTempDir("real");
  fs::create_directories(dir / "src" / "sub");
  testenv::WriteFile(dir / "src" / "a.txt", "alpha\n");
  testenv::WriteFile(dir / "src" / "sub" / "b.bin", testenv::RandomBytes(100000, 5, true));
  std::string out;
  ASSERT_EQ(testenv::Run("cd " + testenv::Quote((dir / "src").string()) +
                             " && zip -qr ../plain.zip . && zip -qr -P sesame ../locked.zip .",
                         &out),
            0)
      << out;

  TScriptedPrompt prompt;
  TZipKit kit;
  kit.SetDLLDirectory(testenv::ProgramDir().string());
  ASSERT_GE(kit.LoadUnzipEngine(), 170);
  int64_t advanced = 0;
  int files = 0;
  kit.OnProgress = [&](TZipKit*, ProgressType t, const std::string&, int64_t n) {
    if (t == PtAdvance) advanced += n;
    if (t == PtNewFile) ++files;
  };
  kit.ExtrOptions = {ExtrDirNames, ExtrOverWrite};
  kit.SetZipFileName((dir / "plain.zip").string());
  kit.ExtrBaseDir = (dir / "out1").string();
  fs::create_directories(kit.ExtrBaseDir);
  kit.ExtractFiles();
  EXPECT_EQ(kit.SuccessCount, 2) << kit.LastMessage;
  EXPECT_EQ(files, 2);
  EXPECT_GT(advanced, 0);
  EXPECT_EQ(testenv::ReadFile(dir / "out1" / "sub" / "b.bin"), testenv::ReadFile(dir / "src" / "sub" / "b.bin"));

  // The password comes from the handler on the engine's request.
  std::vector<std::string> asked;
  kit.OnPasswordError = [&](TZipKit*, bool, std::string& pw, const std::string& file, uint32_t&, TPasswordButton&) {
    asked.push_back(file);
    pw = "sesame";
  };
  kit.SetZipFileName((dir / "locked.zip").string());
  kit.ExtrBaseDir = (dir / "out2").string();
  fs::create_directories(kit.ExtrBaseDir);
  kit.FSpecArgs = {"a.txt"};
  kit.ExtractFiles();
  EXPECT_EQ(kit.SuccessCount, 1) << kit.LastMessage;
  EXPECT_EQ(asked, std::vector<std::string>{"a.txt"});
  EXPECT_EQ(testenv::ReadFile(dir / "out2" / "a.txt"), "alpha\n");
  EXPECT_FALSE(fs::exists(dir / "out2" / "sub"));
  EXPECT_TRUE(prompt.History().empty());
}

}  // namespace
