// Broken archives through TZipKit: each gives its message, an empty ZipFileName and no entries.
#include <gtest/gtest.h>

#include <algorithm>

#include "ScriptedPrompt.h"
#include "TestEnv.h"
#include "ZipHostileCases.h"
#include "ZipTestUtil.h"
#include "zip/ZipKit.h"

namespace {

TEST(ZipDirHostile, EachBrokenArchiveGivesItsMessageAndAnEmptyName) {
  const auto dir = testenv::MakeTempDir("hostile");
  TScriptedPrompt prompt;
  for (const THostileCase& c : HostileCases()) {
    SCOPED_TRACE(c.Name);
    const auto path = dir / "case.zip";
    testenv::WriteFile(path, c.Bytes);
    TZipKit kit;
    int updates = 0;
    kit.OnDirUpdate = [&](TZipKit*) { ++updates; };
    kit.SetZipFileName(path.string());
    EXPECT_EQ(updates, 1);
    if (c.Ids == std::vector<int>{0}) {
      EXPECT_EQ(kit.ZipFileName(), path.string());
      EXPECT_EQ(kit.EntryCount(), 1);
      continue;
    }
    EXPECT_NE(std::find(c.Ids.begin(), c.Ids.end(), kit.ErrCode), c.Ids.end()) << kit.ErrCode << " " << kit.LastMessage;
    EXPECT_EQ(kit.ZipFileName(), "");
    EXPECT_EQ(kit.EntryCount(), 0);
    EXPECT_EQ(kit.SFXOffset(), 0);
    EXPECT_TRUE(prompt.Saw(kit.LastMessage));
  }
}

TEST(ZipDirHostile, EveryTruncationFailsCleanly) {
  const auto dir = testenv::MakeTempDir("trunc");
  TScriptedPrompt prompt;
  const std::string base = HostileBaseArchive();
  TZipKit kit;
  kit.Unattended = true;
  for (size_t len = 0; len < base.size(); ++len) {
    const auto path = dir / "cut.zip";
    testenv::WriteFile(path, base.substr(0, len));
    kit.SetZipFileName(path.string());
    ASSERT_EQ(kit.ZipFileName(), "") << "length " << len;
    // Cut before the end record: no end record; cut inside the archive comment: the directory is
    // looked for where the full comment would put it.
    const std::vector<int> ids{11036, 11015, 11013, 10201};
    ASSERT_NE(std::find(ids.begin(), ids.end(), kit.ErrCode), ids.end()) << "length " << len << " " << kit.ErrCode;
  }
  EXPECT_TRUE(prompt.History().empty());  // Unattended shows nothing
}

TEST(ZipDirHostile, UnattendedReportsThroughOnMessageOnly) {
  const auto dir = testenv::MakeTempDir("quiet");
  TScriptedPrompt prompt;
  testenv::WriteFile(dir / "bad.zip", "not a zip at all, just some text that is long enough");
  TZipKit kit;
  kit.Unattended = true;
  std::vector<std::pair<int, std::string>> messages;
  kit.OnMessage = [&](TZipKit*, int32_t code, const std::string& text) { messages.emplace_back(code, text); };
  kit.SetZipFileName((dir / "bad.zip").string());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].first, 0);
  EXPECT_EQ(messages[0].second, "This archive is not a valid Zip archive");
  EXPECT_EQ(kit.ErrCode, 11036);
  EXPECT_TRUE(prompt.History().empty());
}

}  // namespace
