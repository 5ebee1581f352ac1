#include <gtest/gtest.h>

#include <filesystem>

#include "ScriptedPrompt.h"
#include "TestEnv.h"
#include "platform/FileSystem.h"
#include "platform/TempFolders.h"

namespace fs = std::filesystem;

TEST(TempFolders, ClearKeepsQueuedArchivesAndThenTheirFolders) {
  const fs::path data = testenv::MakeTempDir("data");
  TTempFolders t(data.string(), "/nonexistent-tmp");
  t.EnsureFolders();
  testenv::WriteFile(data / "temp/a.txt", "a");
  testenv::WriteFile(data / "temp/sub/deep/b.bin", "b");
  testenv::WriteFile(data / "temp/img/p.png", "p");
  testenv::WriteFile(data / "temp/sub/Queued.ZIP", "z");
  testenv::WriteFile(data / "temp/sub/notqueued.zip", "z");
  testenv::WriteFile(data / "outside.txt", "keep me");
  const fs::path elsewhere = testenv::MakeTempDir("elsewhere");
  testenv::WriteFile(elsewhere / "precious.txt", "x");
  fs::create_directory_symlink(elsewhere, data / "temp/link");

  t.ClearTempFolders({"", (data / "temp/sub/queued.zip").string()});
  EXPECT_EQ(testenv::ListTree(data / "temp"),
            (std::vector<std::string>{"img/", "sub/", "sub/Queued.ZIP", "sub/deep/"}));
  EXPECT_TRUE(fs::exists(elsewhere / "precious.txt")) << "links are never followed";
  EXPECT_TRUE(fs::exists(data / "outside.txt"));

  t.ClearTempFolders({""});
  EXPECT_TRUE(testenv::ListTree(data / "temp").empty());
  EXPECT_TRUE(fs::is_directory(data / "temp"));
  t.RemoveTempIfEmpty();
  EXPECT_EQ(testenv::ListTree(data), std::vector<std::string>{"outside.txt"});
}

TEST(TempFolders, ExtraFoldersAndRoom) {
  TScriptedPrompt prompt;
  const fs::path data = testenv::MakeTempDir("data");
  TTempFolders t(data.string(), "/tmp");
  const fs::path tmp = std::getenv("TMPDIR");
  testenv::SetFreeSpace(tmp.string() + "=" + std::to_string(1000 + 65001) + ";0");
  EXPECT_EQ(t.FindDriveWithSpace(1000), tmp.string());
  testenv::SetFreeSpace(1000 + 65000);
  EXPECT_EQ(t.FindDriveWithSpace(1000), "") << "exactly the required room plus the margin is not enough";
  EXPECT_FALSE(t.ChooseNewTempFolder(2048));
  ASSERT_EQ(prompt.Texts().size(), 1u);
  EXPECT_NE(prompt.Texts()[0].find("AT LEAST 2 KB FREE (WHICH IS 2048 BYTES"), std::string::npos);
  testenv::SetFreeSpace(int64_t(1) << 40);
  ASSERT_TRUE(t.ChooseNewTempFolder(5'000'000'000LL));
  EXPECT_EQ(t.TarTempFolder, (tmp / "tandortemp").string());
  testenv::WriteFile(tmp / "tandortemp/x.tar", "t");
  t.ClearTempFolders({""});
  EXPECT_FALSE(fs::exists(tmp / "tandortemp"));
  EXPECT_TRUE(t.ExtraTempFolders.empty());
  testenv::SetFreeSpace("");
}

TEST(TempFolders, TemporaryLocations) {
  TTempFolders t("/data", "/tmp");
  EXPECT_TRUE(t.IsTemporaryLocation("/TMP/x.zip"));
  EXPECT_TRUE(t.IsTemporaryLocation("/home/u/Temporary Internet Files/x.zip"));
  EXPECT_FALSE(t.IsTemporaryLocation("/home/u/x.zip"));
}
