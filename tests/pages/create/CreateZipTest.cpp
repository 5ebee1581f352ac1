// Zip runs of the create page through the zip engine, read back by Info-ZIP's zipinfo and unzip.
#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QSpinBox>

#include "CreatePageFixture.h"
#include "core/TextUtil.h"
#include "pages/create/CreateForms.h"
#include "zip/ZipKit.h"

namespace {
using namespace createtest;

std::vector<std::string> ZipNames(const fs::path& zip) {
  std::string out;
  EXPECT_EQ(testenv::Run("zipinfo -1 " + testenv::Quote(zip.string()), &out), 0);
  return testenv::SortedLines(out);
}

int UnzipTest(const fs::path& zip, const std::string& password = {}) {
  return testenv::Run("unzip -t " + (password.empty() ? std::string() : "-P " + testenv::Quote(password) + " ") +
                      testenv::Quote(zip.string()) + " >/dev/null 2>&1");
}

class CreateZipTest : public CreatePageTest {
 protected:
  void SetUp() override {
    CreatePageTest::SetUp();
    ASSERT_TRUE(testenv::HaveTool("zipinfo"));
    ASSERT_TRUE(testenv::HaveTool("unzip"));
    root_ = MakeProject();
    other_ = testenv::MakeTempDir("other");
    testenv::WriteFile(other_ / "docs/x.txt", testenv::RandomBytes(70000, 3, true));
    out_ = testenv::MakeTempDir("out");
    form_->Settings().DefaultArchiveType = 1;
  }
  void Fill() {
    AddFolder(root_ / "proj");
    AddFiles({other_ / "docs/x.txt"});
  }
  fs::path root_, other_, out_;
};

TEST_F(CreateZipTest, StoredNamesUnderEachPathSetting) {
  const std::string abs = root_.string().substr(1), absOther = other_.string().substr(1);
  struct Case {
    bool save, relative;
    std::vector<std::string> names;
  };
  const std::vector<Case> cases{
      {true, true, {"docs/x.txt", "proj/.hidden", "proj/a.txt", "proj/sub/b.txt", "proj/sub/deep/c.txt"}},
      {true, false,
       {abs + "/proj/.hidden", abs + "/proj/a.txt", abs + "/proj/sub/b.txt", abs + "/proj/sub/deep/c.txt",
        absOther + "/docs/x.txt"}},
      {false, true, {".hidden", "a.txt", "b.txt", "c.txt", "x.txt"}},
      {false, false, {".hidden", "a.txt", "b.txt", "c.txt", "x.txt"}}};
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(n);
    page_->ZipResetButtonClick();
    form_->Settings().SaveZipFolders = c.save;
    form_->Settings().RelativePaths = c.relative;
    Fill();
    std::vector<std::string> names;
    for (const auto& r : Rows()) names.push_back(r.substr(0, r.find('|', r.find('|') + 1)));
    const fs::path zip = out_ / ("z" + std::to_string(++n) + ".zip");
    bool ok = false;
    ASSERT_TRUE(RunZipButton(zip, &ok));
    EXPECT_TRUE(ok) << ::testing::PrintToString(prompt_.Texts());
    std::vector<std::string> expected = c.names;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(ZipNames(zip), expected);
    EXPECT_EQ(UnzipTest(zip), 0);
    EXPECT_TRUE(PageIdle());
    EXPECT_TRUE(form_->CreatePage()->ZipRunStarted);
  }
  EXPECT_EQ(Leftovers(out_, {"z1.zip", "z2.zip", "z3.zip", "z4.zip"}), std::vector<std::string>{});
  // Contents survive the round trip.
  const fs::path x = testenv::MakeTempDir("x");
  ASSERT_EQ(testenv::Run("unzip -q " + testenv::Quote((out_ / "z1.zip").string()) + " -d " + testenv::Quote(x.string())),
            0);
  EXPECT_EQ(testenv::ReadFile(x / "docs/x.txt"), testenv::ReadFile(other_ / "docs/x.txt"));
  EXPECT_EQ(testenv::ReadFile(x / "proj/sub/b.txt"), testenv::ReadFile(root_ / "proj/sub/b.txt"));
}

TEST_F(CreateZipTest, PasswordTagAndNames) {
  form_->Settings().AddPassword = true;
  Fill();
  page_->CreateTagEdit->setText("weekly backup");
  prompt_.QueueText("s3cret!");
  prompt_.QueueText("s3cret!");
  bool ok = false;
  ASSERT_TRUE(RunZipButton(out_ / "backup", &ok));  // ".zip" is appended
  EXPECT_TRUE(ok) << ::testing::PrintToString(prompt_.Texts());
  const fs::path zip = out_ / "backup.zip";
  EXPECT_EQ(form_->CurrentArchiveFile(), zip.string());
  EXPECT_EQ(UnzipTest(zip, "s3cret!"), 0);
  EXPECT_NE(UnzipTest(zip, "wrong"), 0);
  std::string comment;
  testenv::Run("unzip -z " + testenv::Quote(zip.string()), &comment);
  EXPECT_NE(comment.find("weekly backup"), std::string::npos) << comment;

  // A name that holds ".zip" anywhere is kept as chosen.
  form_->Settings().AddPassword = false;
  ASSERT_TRUE(RunZipButton(out_ / "my.zip.old", &ok));
  EXPECT_TRUE(ok);
  EXPECT_EQ(UnzipTest(out_ / "my.zip.old"), 0);
}

TEST_F(CreateZipTest, TypeWindowOffersGzipForOneRowOnly) {
  form_->Settings().DefaultArchiveType = 0;
  AddFiles({other_ / "docs/x.txt"});
  int offered = 0;
  Answer("TZipTypeForm", [&](QDialog& d) {
    auto& w = static_cast<TZipTypeForm&>(d);
    offered = static_cast<int>(w.TypeGroup->buttons().size());
    w.TypeGroup->button(2)->setChecked(true);  // tar
    w.DefaultCheckBox->setChecked(true);
    return int(QDialog::Accepted);
  });
  ASSERT_TRUE(RunZipButton(out_ / "one"));
  EXPECT_EQ(offered, 4);
  EXPECT_TRUE(fs::exists(out_ / "one.tar"));
  EXPECT_EQ(form_->Settings().DefaultArchiveType, 3);

  form_->Settings().DefaultArchiveType = 0;
  AddFiles({root_ / "proj/a.txt"});
  Answer("TZipTypeForm", [&](QDialog& d) {
    offered = static_cast<int>(static_cast<TZipTypeForm&>(d).TypeGroup->buttons().size());
    return int(QDialog::Accepted);  // the first item: zip
  });
  ASSERT_TRUE(RunZipButton(out_ / "two"));
  EXPECT_EQ(offered, 3);
  EXPECT_EQ(ZipNames(out_ / "two.zip"), (std::vector<std::string>{"docs/x.txt", "proj/a.txt"}));
  EXPECT_EQ(form_->Settings().DefaultArchiveType, 0);
}

TEST_F(CreateZipTest, StopAndBadSourcesLeaveNoArchive) {
  const fs::path big = testenv::MakeTempDir("bigsrc");
  for (int i = 0; i < 24; ++i) testenv::WriteFile(big / ("r" + std::to_string(i)), testenv::RandomBytes(1 << 21, i));
  for (bool relative : {true, false}) {
    SCOPED_TRACE(relative);
    page_->ZipResetButtonClick();
    form_->Settings().RelativePaths = relative;
    AddFolder(big);
    QSignalSpy spy(page_, &TCreatePage::RunEnded);
    prompt_.Clear();
    prompt_.QueuePath((out_ / "stopped.zip").string());
    page_->ZipButtonClick();
    ASSERT_TRUE(page_->ZipStopButton->isEnabled());
    page_->ZipStopButton->click();
    bool ok = true;
    ASSERT_TRUE(WaitRun(spy, &ok));
    EXPECT_FALSE(ok);
    EXPECT_EQ(prompt_.Texts(), std::vector<std::string>{}) << "a cancel the user asked for is quiet";
    EXPECT_TRUE(PageIdle());
    EXPECT_EQ(Leftovers(out_, {}), std::vector<std::string>{});
  }
  // A listed file that vanished before the run.
  page_->ZipResetButtonClick();
  Fill();
  fs::remove(root_ / "proj/a.txt");
  prompt_.Clear();
  bool ok = true;
  ASSERT_TRUE(RunZipButton(out_ / "gone.zip", &ok));
  EXPECT_FALSE(ok);
  EXPECT_TRUE(prompt_.Saw("CANNOT BE READ"));
  EXPECT_TRUE(PageIdle());
  EXPECT_EQ(Leftovers(out_, {}), std::vector<std::string>{});
  // An empty list says so.
  page_->ZipResetButtonClick();
  page_->ZipButtonClick();
  EXPECT_TRUE(prompt_.Saw("YOU HAVE NOT SELECTED ANY FILES TO ADD TO THIS ZIP FILE"));
}

TEST_F(CreateZipTest, SpannedRunMakesOneSetOfEveryRowWithItsTag) {
  // Relative paths make one engine run per root folder; the set still holds every row.
  form_->Settings().SpanDisks = true;
  form_->Settings().SaveZipFolders = true;
  form_->Settings().RelativePaths = true;
  testenv::WriteFile(other_ / "docs/big.bin", testenv::RandomBytes(250000, 8));
  Fill();
  AddFiles({other_ / "docs/big.bin"});
  page_->CreateTagEdit->setText("spanned tag");
  Answer("TSpanSizeForm", [](QDialog& d) {
    auto& w = static_cast<TSpanSizeForm&>(d);
    w.SizeGroup->button(4)->setChecked(true);
    w.CustomEdit->setValue(100000);
    return int(QDialog::Accepted);
  });
  bool ok = false;
  ASSERT_TRUE(RunZipButton(out_ / "set.zip", &ok));
  EXPECT_TRUE(ok) << ::testing::PrintToString(prompt_.Texts());
  EXPECT_EQ(Shown("TSpanSizeForm"), 1);
  std::vector<std::string> parts;
  for (int n = 1; fs::exists(out_ / ("set00" + std::to_string(n) + ".zip")); ++n) {
    parts.push_back("set00" + std::to_string(n) + ".zip");
    EXPECT_LE(fs::file_size(out_ / parts.back()), 100000u);
  }
  ASSERT_GE(parts.size(), 3u);
  EXPECT_EQ(Leftovers(out_, parts), std::vector<std::string>{});
  const fs::path last = out_ / parts.back();
  EXPECT_EQ(form_->CurrentArchiveFile(), last.string());
  EXPECT_EQ(page_->LastArchive(), last.string());
  EXPECT_TRUE(PageIdle());

  TZipKit kit;
  kit.SetZipFileName(last.string());
  EXPECT_EQ(kit.ArchiveComment(), "spanned tag");
  std::string joined = (out_ / "joined.zip").string();
  ASSERT_EQ(kit.ReadSpannedArchive(last.string(), joined), 0) << kit.LastMessage;
  EXPECT_EQ(ZipNames(joined), (std::vector<std::string>{"docs/big.bin", "docs/x.txt", "proj/.hidden", "proj/a.txt",
                                                        "proj/sub/b.txt", "proj/sub/deep/c.txt"}));
  EXPECT_EQ(UnzipTest(joined), 0);
}

}  // namespace
