// The name the ZIP button saves under: the dialog's default suffix, the question before a typed name
// plus its suffix replaces a file, and a typed archive suffix that chooses the kind of archive.
#include "CreatePageFixture.h"

namespace {
using namespace createtest;

class SaveNameTest : public CreatePageTest {
 protected:
  void SetUp() override {
    CreatePageTest::SetUp();
    ASSERT_TRUE(testenv::HaveTool("tar"));
    ASSERT_TRUE(testenv::HaveTool("unzip"));
    root_ = MakeProject();
    out_ = testenv::MakeTempDir("out");
    AddFolder(root_ / "proj");
  }
  fs::path root_, out_;
};

TEST_F(SaveNameTest, TypedSuffixChoosesTheKind) {
  struct Case {
    int defaultType;
    std::string typed, written, check;
  };
  const std::vector<Case> cases{
      {1, "plain", "plain.zip", "unzip -tq"},
      {1, "my.v2", "my.v2.zip", "unzip -tq"},
      {1, "want.tar.gz", "want.tar.gz", "tar tzf"},
      {1, "want2.TGZ", "want2.TGZ", "tar tzf"},
      {1, "w.tar", "w.tar", "tar tf"},
      {2, "z.zip", "z.zip", "unzip -tq"},
      {2, "t", "t.tar.gz", "tar tzf"},
      {3, "several.gz", "several.gz", "tar tzf"},  // a .gz of several files holds a tar
  };
  std::vector<std::string> expected;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    form_->Settings().DefaultArchiveType = c.defaultType;
    prompt_.Clear();
    bool ok = false;
    ASSERT_TRUE(RunZipButton(out_ / c.typed, &ok));
    EXPECT_TRUE(ok) << ::testing::PrintToString(prompt_.Texts());
    ASSERT_FALSE(prompt_.History().empty());
    EXPECT_EQ(prompt_.History()[0].kind, "save");
    EXPECT_EQ(prompt_.History()[0].text, c.defaultType == 1 ? ".zip" : c.defaultType == 2 ? ".tar.gz" : ".tar");
    EXPECT_EQ(testenv::Run(c.check + " " + testenv::Quote((out_ / c.written).string()) + " >/dev/null 2>&1"), 0);
    expected.push_back(c.written);
    EXPECT_TRUE(PageIdle());
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(testenv::ListTree(out_), expected);
}

TEST_F(SaveNameTest, AddedSuffixNeverReplacesWithoutAsking) {
  form_->Settings().DefaultArchiveType = 1;
  testenv::WriteFile(out_ / "backup.zip", "the user's old backup");
  // No: nothing written, the page is idle again.
  prompt_.QueuePath((out_ / "backup").string());
  prompt_.QueueAnswer(TPromptAnswer::No);
  page_->ZipButtonClick();
  QApplication::processEvents();
  ASSERT_EQ(prompt_.Texts().size(), 1u);
  EXPECT_EQ(prompt_.Texts()[0], (out_ / "backup.zip").string() + " already exists.\nDo you want to replace it?");
  EXPECT_EQ(testenv::ReadFile(out_ / "backup.zip"), "the user's old backup");
  EXPECT_EQ(testenv::ListTree(out_), std::vector<std::string>{"backup.zip"});
  EXPECT_TRUE(PageIdle());
  // Yes: replaced by the new archive.
  prompt_.Clear();
  prompt_.QueueAnswer(TPromptAnswer::Yes);
  bool ok = false;
  ASSERT_TRUE(RunZipButton(out_ / "backup", &ok));
  EXPECT_TRUE(ok);
  EXPECT_TRUE(prompt_.Saw("backup.zip already exists"));
  EXPECT_EQ(testenv::Run("unzip -tq " + testenv::Quote((out_ / "backup.zip").string()) + " >/dev/null"), 0);
  // A name typed in full was asked about by the dialog itself: no second question.
  prompt_.Clear();
  ASSERT_TRUE(RunZipButton(out_ / "backup.zip", &ok));
  EXPECT_TRUE(ok);
  EXPECT_FALSE(prompt_.Saw("already exists"));
}

}  // namespace
