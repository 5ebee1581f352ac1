// Tags on the pages: the unzip page's TAG for each kind of archive (the no-tag and no-tag-info
// texts, the editable zip comment, the read-only gzip header comment), the update page's EDIT TAG
// round trip with non-ASCII text read back by `unzip -z`, and the create page's tag of a new archive.
#include <QCoreApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <sys/stat.h>

#include "CreatePageFixture.h"
#include "core/TextUtil.h"
#include "ops/Jobs.h"
#include "pages/batchcreate/BatchCreateForm.h"
#include "pages/unzip/UnzipPage.h"
#include "pages/update/UpdatePage.h"

namespace {
using namespace createtest;
using testenv::Quote;

std::string Sh(const std::string& cmd, int* status = nullptr) {
  std::string out;
  const int rc = testenv::Run(cmd, &out);
  if (status) *status = rc;
  return out;
}

void WaitWhile(const std::function<bool()>& busy) {
  QElapsedTimer t;
  t.start();
  while (busy() && t.elapsed() < 60000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  QCoreApplication::processEvents();
}

const std::string kCafe = "Caf\xC3\xA9 Gr\xC3\xB6\xC3\x9F" "e";               // CP437 holds it
const std::string kTokyo = "\xE6\x9D\xB1\xE4\xBA\xAC \xE2\x9C\x93 tag";          // needs UTF-8
const std::string kDash = "na\xC3\xAF" "ve \xE2\x80\x94 \xC2\xBD";              // the dash needs UTF-8

class TagPagesTest : public CreatePageTest {
 protected:
  void SetUp() override {
    CreatePageTest::SetUp();
    for (const char* tool : {"zip", "unzip", "gzip", "tar", "iconv"}) ASSERT_TRUE(testenv::HaveTool(tool)) << tool;
    dir_ = testenv::MakeTempDir("tags");
    testenv::WriteFile(dir_ / "src/a.txt", "alpha\n");
    testenv::WriteFile(dir_ / "src/b.txt", testenv::RandomBytes(20000, 4, true));
    Sh("cd " + Quote((dir_ / "src").string()) + " && zip -q ../plain.zip a.txt b.txt && zip -q ../tagged.zip a.txt && "
       "echo 'made by zip' | zip -qz ../tagged.zip && tar cf ../t.tar a.txt && gzip -c a.txt > ../nocomment.gz && "
       "tar czf ../nocomment.tgz a.txt");
    Answer("TBatchMemoTagForm", [this](QDialog& d) {
      auto& w = static_cast<TBatchMemoTagForm&>(d);
      shownTag_ = w.Memo->toPlainText().toStdString();
      shownLabel_ = w.Label->text().toStdString();
      shownReadOnly_ = w.Memo->isReadOnly();
      shownCancel_ = w.CancelButton->text().toStdString();
      if (newTag_.empty()) return int(QDialog::Rejected);
      w.Memo->setPlainText(QString::fromStdString(newTag_));
      return w.OkButton->isEnabled() ? int(QDialog::Accepted) : int(QDialog::Rejected);
    });
  }

  // TAG on the unzip page with `archive` open there.
  void UnzipTag(const fs::path& archive) {
    form_->RequestPage(kUnzipPage);
    TUnzipPage* unzip = form_->UnzipPage();
    if (!EndsWith(archive.string(), ".rar")) {
      unzip->OpenArchive(archive.string());
      WaitWhile([unzip] { return unzip->Busy(); });
    }
    form_->SetCurrentArchiveFile(archive.string());
    shownTag_.clear();
    shownLabel_.clear();
    prompt_.Clear();
    unzip->TAGButtonClick();
  }

  fs::path dir_;
  std::string newTag_, shownTag_, shownLabel_, shownCancel_;
  bool shownReadOnly_ = false;
};

TEST_F(TagPagesTest, UnzipPageTagByArchiveKind) {
  // A gzipped tar made by the create page with a tag.
  form_->Settings().DefaultArchiveType = 2;
  AddFiles({dir_ / "src/a.txt"});
  page_->CreateTagEdit->setText(QString::fromStdString(kCafe));
  ASSERT_TRUE(RunZipButton(dir_ / "made.tar.gz"));
  page_->ZipResetButtonClick();
  testenv::WriteFile(dir_ / "x.rar", "Rar!\x1a\x07\x00 not really");

  struct Case {
    std::string archive;
    std::string message;  // shown instead of the window; empty: the window
    std::string tag;
    bool readOnly;
  };
  const std::vector<Case> cases{
      {"plain.zip", "THIS FILE CONTAINED NO TAG INFORMATION.", "", false},
      {"tagged.zip", "", "made by zip", false},
      {"nocomment.gz", "THIS FILE CONTAINED NO TAG INFORMATION.", "", true},
      {"nocomment.tgz", "THIS FILE CONTAINED NO TAG INFORMATION.", "", true},
      {"made.tar.gz", "", kCafe, true},
      {"t.tar", "NO TAG INFO FOR THIS FILE TYPE.", "", false},
      {"x.rar", "NO TAG INFO FOR THIS FILE TYPE.", "", false},
  };
  for (const Case& c : cases) {
    const int before = Shown("TBatchMemoTagForm");
    UnzipTag(dir_ / c.archive);
    if (!c.message.empty()) {
      EXPECT_EQ(prompt_.Texts(), std::vector<std::string>{c.message}) << c.archive;
      EXPECT_EQ(Shown("TBatchMemoTagForm"), before) << c.archive;
      continue;
    }
    EXPECT_TRUE(prompt_.Texts().empty()) << c.archive;
    ASSERT_EQ(Shown("TBatchMemoTagForm"), before + 1) << c.archive;
    EXPECT_EQ(shownTag_, c.tag);
    EXPECT_EQ(shownReadOnly_, c.readOnly);
    EXPECT_EQ(shownLabel_, c.readOnly ? "Tag for this file..." : "Enter the text for the identifying tag for this file");
    EXPECT_EQ(shownCancel_, c.readOnly ? "Close" : "Cancel");
  }
}

TEST_F(TagPagesTest, UnzipPageEditsAZipTag) {
  const std::string before = testenv::BeforeEndRecord(dir_ / "tagged.zip");
  newTag_ = kTokyo;
  UnzipTag(dir_ / "tagged.zip");
  EXPECT_TRUE(prompt_.Texts().empty());
  EXPECT_EQ(testenv::UnzipComment(dir_ / "tagged.zip"), kTokyo);
  EXPECT_EQ(testenv::BeforeEndRecord(dir_ / "tagged.zip"), before);
  // Shown again as written.
  newTag_.clear();
  UnzipTag(dir_ / "tagged.zip");
  EXPECT_EQ(shownTag_, kTokyo);
  // A read-only archive keeps its tag and says why.
  ::chmod((dir_ / "tagged.zip").c_str(), 0444);
  newTag_ = "other";
  UnzipTag(dir_ / "tagged.zip");
  EXPECT_TRUE(prompt_.Saw("THE TAG WAS NOT WRITTEN.")) << testing::PrintToString(prompt_.Texts());
  EXPECT_EQ(testenv::UnzipComment(dir_ / "tagged.zip"), kTokyo);
}

TEST_F(TagPagesTest, UpdatePageTagRoundTrips) {
  form_->RequestPage(kUpdatePage);
  TUpdatePage* update = form_->UpdatePage();
  const fs::path zip = dir_ / "plain.zip";
  const std::string before = testenv::BeforeEndRecord(zip);
  prompt_.SetDefaultAnswer(TPromptAnswer::Yes);
  prompt_.QueuePath(zip.string());
  update->OpenUpdateButtonClick();
  WaitWhile([update] { return update->Busy(); });
  ASSERT_TRUE(update->HasRows());
  EXPECT_TRUE(update->UpdateTagEdit->text().isEmpty());
  struct Case {
    std::string tag;
    bool cp437;
  };
  const std::vector<Case> cases{{kTokyo, false}, {kCafe, true}, {kDash, false}, {"plain again", false}};
  for (const Case& c : cases) {
    prompt_.Clear();
    update->UpdateTagEdit->setText(QString::fromStdString(c.tag));
    update->UpdateTagButtonClick();
    EXPECT_TRUE(prompt_.Texts().empty()) << testing::PrintToString(prompt_.Texts());
    EXPECT_EQ(testenv::UnzipComment(zip, c.cp437), c.tag);
    EXPECT_EQ(testenv::BeforeEndRecord(zip), before) << "entries byte for byte";
    EXPECT_EQ(update->ListedStamp(), FileStampOf(zip.string())) << "the page knows the archive it wrote";
    // Read back from disk when the archive is listed again.
    update->UpDateUpdateWindow(zip.string());
    WaitWhile([update] { return update->Busy(); });
    EXPECT_EQ(update->UpdateTagEdit->text().toStdString(), c.tag);
  }
  // After the tag the page still adds to the archive.
  testenv::WriteFile(dir_ / "src/c.txt", "gamma\n");
  prompt_.QueuePaths({(dir_ / "src/c.txt").string()});
  update->OpenFilesUpdateButtonClick();
  WaitWhile([update] { return update->Busy(); });
  EXPECT_NE(Sh("zipinfo -1 " + Quote(zip.string())).find("c.txt"), std::string::npos);
  EXPECT_EQ(testenv::UnzipComment(zip), "plain again");
  // A tag too long for a zip comment leaves the archive as it was.
  const std::string whole = testenv::ReadFile(zip);
  prompt_.Clear();
  update->UpdateTagEdit->setText(QString(70000, 'x'));
  update->UpdateTagButtonClick();
  WaitWhile([update] { return update->Busy(); });
  EXPECT_TRUE(prompt_.Saw("65,535")) << testing::PrintToString(prompt_.Texts());
  EXPECT_EQ(testenv::ReadFile(zip), whole);
  EXPECT_EQ(update->UpdateTagEdit->text().toStdString(), "plain again") << "the box shows the stored tag again";
}

TEST_F(TagPagesTest, CreatePageTags) {
  // The tag box goes into the new zip; EDIT TAG then rewrites the comment of that archive.
  form_->Settings().DefaultArchiveType = 1;
  AddFiles({dir_ / "src/a.txt", dir_ / "src/b.txt"});
  page_->CreateTagEdit->setText(QString::fromStdString(kDash));
  bool ok = false;
  ASSERT_TRUE(RunZipButton(dir_ / "new.zip", &ok));
  ASSERT_TRUE(ok);
  EXPECT_EQ(testenv::UnzipComment(dir_ / "new.zip"), kDash);
  const std::string before = testenv::BeforeEndRecord(dir_ / "new.zip");
  page_->CreateTagEdit->setText(QString::fromStdString(kCafe));
  page_->CreateTagButtonClick();
  EXPECT_EQ(testenv::UnzipComment(dir_ / "new.zip", true), kCafe);
  EXPECT_EQ(testenv::BeforeEndRecord(dir_ / "new.zip"), before);

  // A zip tag over 65,535 bytes: no archive, and why.
  page_->CreateTagEdit->setText(QString(65536, 'y'));
  prompt_.Clear();
  ASSERT_TRUE(RunZipButton(dir_ / "long.zip", &ok));
  EXPECT_FALSE(ok);
  EXPECT_TRUE(prompt_.Saw("65,535")) << testing::PrintToString(prompt_.Texts());
  EXPECT_FALSE(fs::exists(dir_ / "long.zip"));

  // A gzip tag outside ISO-8859-1: refused with a message, nothing written.
  page_->ZipResetButtonClick();
  form_->Settings().DefaultArchiveType = 4;
  AddFiles({dir_ / "src/a.txt"});
  page_->CreateTagEdit->setText(QString::fromStdString(kTokyo));
  prompt_.Clear();
  ASSERT_TRUE(RunZipButton(dir_ / "wide.gz", &ok));
  EXPECT_FALSE(ok);
  EXPECT_TRUE(prompt_.Saw("ISO-8859-1")) << testing::PrintToString(prompt_.Texts());
  EXPECT_FALSE(fs::exists(dir_ / "wide.gz"));
  EXPECT_TRUE(PageIdle());
}

}  // namespace
