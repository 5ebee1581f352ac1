// The self-extracting conversion job: a zip archive of Info-ZIP's to a program and back with every
// setting, the source removed only on success, and the result codes with their texts.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "TestEnv.h"
#include "ops/SfxConvertJob.h"

namespace fs = std::filesystem;

namespace {

TEST(SfxConvertJob, ProgramAndBackKeepSettingsAndArchive) {
  const fs::path dir = testenv::MakeTempDir("sfxjob");
  fs::create_directories(dir / "src");
  testenv::WriteFile(dir / "src" / "a.txt", "alpha\n");
  std::string out;
  ASSERT_EQ(testenv::Run("cd " + testenv::Quote((dir / "src").string()) + " && zip -q ../a.zip a.txt", &out), 0) << out;
  const std::string original = testenv::ReadFile(dir / "a.zip");

  TSfxSettings s;
  s.Caption = "Job";
  s.DefaultDir = "><";
  s.CommandLine = "><a.txt";
  s.Message = "\002Go?";
  s.AskCmdLine = s.AskFiles = s.NoSuccessMsg = true;
  s.CheckSize = false;
  s.Overwrite = TOverwriteMode::Never;
  TSfxConvertParams p;
  p.Source = (dir / "a.zip").string();
  p.Settings = s;
  p.AllowUndo = false;
  TSfxConvertJob make(p);
  TJobResult r = make.Run();
  ASSERT_TRUE(r.Status.IsOk()) << r.Status.Text();
  EXPECT_EQ(make.ResultCode(), 0);
  EXPECT_EQ(make.Target(), (dir / "a.run").string());
  EXPECT_FALSE(fs::exists(dir / "a.zip"));

  TSfxConvertParams back;
  back.Source = make.Target();
  back.ToProgram = false;
  back.AllowUndo = false;
  TSfxConvertJob undo(back);
  r = undo.Run();
  ASSERT_TRUE(r.Status.IsOk()) << r.Status.Text();
  EXPECT_EQ(undo.Target(), (dir / "a.zip").string());
  TSfxSettings found = undo.FoundSettings();
  EXPECT_EQ(found.Icon.size(), 766u) << "the stub's own icon";
  found.Icon.clear();
  EXPECT_EQ(found, s);
  EXPECT_TRUE(testenv::ReadFile(dir / "a.zip") == original);
  EXPECT_FALSE(fs::exists(dir / "a.run"));
}

TEST(SfxConvertJob, FailuresKeepTheSourceAndSayWhy) {
  const fs::path dir = testenv::MakeTempDir("sfxjob");
  fs::create_directories(dir / "src");
  testenv::WriteFile(dir / "src" / "a.txt", "alpha\n");
  std::string out;
  ASSERT_EQ(testenv::Run("cd " + testenv::Quote((dir / "src").string()) + " && zip -q ../a.zip a.txt", &out), 0) << out;
  TSfxConvertParams p;
  p.Source = (dir / "a.zip").string();
  p.Settings.Icon.assign(1000, 0);  // not 766 bytes
  TSfxConvertJob job(p);
  const TJobResult r = job.Run();
  EXPECT_EQ(job.ResultCode(), -12);
  EXPECT_EQ(r.Status.Text(), "Error in size of the supplied icon.");
  EXPECT_TRUE(fs::exists(dir / "a.zip"));
  EXPECT_FALSE(fs::exists(dir / "a.run"));

  TSfxConvertParams none;
  none.Source = (dir / "missing.zip").string();
  TSfxConvertJob missing(none);
  EXPECT_TRUE(missing.Run().Status.Failed());

  // The texts of every code, as the page shows them.
  EXPECT_EQ(SfxResultText(-1, true), "Error in creation of destination.");
  EXPECT_EQ(SfxResultText(-2, false), "ERROR : Read or write error during copy. There may not be enough space on disk.");
  EXPECT_EQ(SfxResultText(-3, true), "Error in open of source zip file.");
  EXPECT_EQ(SfxResultText(-3, false), "Error in open of source file.");
  EXPECT_EQ(SfxResultText(-9, true), "ERROR : General failure during copy.");
  EXPECT_EQ(SfxResultText(-10, true), "ERROR : Icon not found in SfxStub.bin.");
  EXPECT_EQ(SfxResultText(-10, false), "ERROR : Memory Error.");
  EXPECT_EQ(SfxResultText(-11, true), "Memory or general error while setting icon.");
  EXPECT_EQ(SfxResultText(0, true), "");
}

}  // namespace
