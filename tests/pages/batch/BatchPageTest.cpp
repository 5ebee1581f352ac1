// The batch page in a main window: scans with and without sub-folders, the list's buttons and
// counters, the move folder's room check, runs that remove unzipped rows and mark failed ones, STOP
// in the middle of a run, and the queue's "B" button.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "SampleArchives.h"
#include "ScriptedPrompt.h"
#include "TestEnv.h"
#include "WindowData.h"
#include "app/IncomingQueue.h"
#include "app/TandorForm.h"
#include "core/Settings.h"
#include "core/TextUtil.h"
#include "pages/batch/BatchForms.h"
#include "pages/batch/BatchPage.h"
#include "pages/common/FileList.h"
#include "pages/common/PromptService.h"
#include "pages/unzip/UnzipPage.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

namespace {

namespace fs = std::filesystem;
using testenv::Quote;

void Zip(const fs::path& zip, const std::vector<std::pair<std::string, std::string>>& entries) {
  fs::create_directories(zip.parent_path());
  ASSERT_TRUE(testenv::PythonZip(zip, entries)) << zip;
  fs::remove(zip.string() + ".py");
}

class BatchPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data_ = testenv::PrepareWindowData();
    work_ = testenv::MakeTempDir("work");
    SetModalHook([this](QDialog& d, const char* name) {
      windows_.push_back(name);
      auto it = answers_.find(name);
      return it != answers_.end() ? it->second(d) : int(QDialog::Accepted);
    });
    form_ = std::make_unique<TTandorForm>();
    form_->RequestPage(kBatchPage);
    page_ = form_->BatchPage();
  }
  void TearDown() override {
    form_.reset();
    SetModalHook(nullptr);
    SetFreeSpaceOverride(nullptr);
    testenv::SetFreeSpace("");
  }

  void Answer(const std::string& window, std::function<int(QDialog&)> answer) { answers_[window] = std::move(answer); }

  bool Scan(const fs::path& folder) {
    QSignalSpy spy(page_, &TBatchPage::ScanEnded);
    prompt_.QueuePath(folder.string());
    page_->ScanFolderForZipFilesButtonClick();
    return !spy.isEmpty() || spy.wait(60000);
  }
  bool Run() {
    QSignalSpy spy(page_, &TBatchPage::RunEnded);
    page_->BatchUnzipButtonClick();
    if (!page_->Busy()) return false;
    return !spy.isEmpty() || spy.wait(120000);
  }
  void AddFiles(const std::vector<fs::path>& files) {
    std::vector<std::string> paths;
    for (const fs::path& f : files) paths.push_back(f.string());
    prompt_.QueuePaths(paths);
    page_->BatchUnzipOpenFileButtonClick();
  }

  // Rows as "file|size|unpacked|folder".
  std::vector<std::string> Rows() const {
    std::vector<std::string> out;
    for (const TListRow& r : page_->BatchListView->Model()->Rows())
      out.push_back(r.File.toStdString() + "|" + r.Size.toStdString() + "|" + r.Extra.toStdString() + "|" +
                    r.Path.toStdString());
    std::sort(out.begin(), out.end());
    return out;
  }
  std::vector<std::string> Counters() const {
    return {page_->BatchNumEdit->text().toStdString(), page_->ZipSizeEdit->text().toStdString(),
            page_->BatchTotalSizeEdit->text().toStdString()};
  }
  static std::string Commas(uint64_t n) { return FormatWithCommas(static_cast<int64_t>(n)); }
  std::string Last() const {
    const std::vector<std::string> t = prompt_.Texts();
    return t.empty() ? std::string() : t.back();
  }

  TScriptedPrompt prompt_;
  fs::path data_, work_;
  std::vector<std::string> windows_;
  std::map<std::string, std::function<int(QDialog&)>> answers_;
  std::unique_ptr<TTandorForm> form_;
  TBatchPage* page_ = nullptr;
};

}  // namespace

TEST(BatchStatusLine, LongFoldersAreShortened) {
  const QString long120 = "/" + QString(118, 'a') + "/";  // 120 characters with its trailing "/"
  ASSERT_EQ(long120.size(), 120);
  EXPECT_EQ(BatchStatusFolder(long120), long120.left(60) + "..." + long120.mid(92, 27));
  const QString ninety = "/" + QString(88, 'b') + "/";
  EXPECT_EQ(BatchStatusFolder(ninety), ninety.chopped(1));
  EXPECT_EQ(BatchStatusFolder("/home/u/zips"), "/home/u/zips");
  EXPECT_EQ(BatchStatusFolder("/home/u/zips/"), "/home/u/zips");
  EXPECT_EQ(BatchStatusFolder("/"), "/");
}

TEST_F(BatchPageTest, ScanWithAndWithoutSubfolders) {
  const fs::path tree = work_ / "tree";
  Zip(tree / "a.zip", {{"one.txt", "1"}, {"two.txt", std::string(1500, 't')}});
  Zip(tree / "sub/B.ZIP", {{"x/three.txt", "333"}});
  Zip(tree / "sub/deep/c.zip", {{"four.txt", std::string(4000, 'f')}});
  testenv::WriteFile(tree / "sub/notes.txt", "no archive");
  const uint64_t a = fs::file_size(tree / "a.zip"), b = fs::file_size(tree / "sub/B.ZIP"),
                 c = fs::file_size(tree / "sub/deep/c.zip");

  ASSERT_TRUE(page_->ScanSubDirCheckBox->isChecked());
  ASSERT_TRUE(Scan(tree));
  const std::vector<std::string> all = {
      "B.ZIP|" + Commas(b) + "|3|" + (tree / "sub").string(),
      "a.zip|" + Commas(a) + "|1,501|" + tree.string(),
      "c.zip|" + Commas(c) + "|4,000|" + (tree / "sub/deep").string(),
  };
  EXPECT_EQ(Rows(), all);
  EXPECT_EQ(Counters(), (std::vector<std::string>{"3", Commas(a + b + c), "5,504"}));
  EXPECT_TRUE(prompt_.Saw("SCAN COMPLETE."));
  EXPECT_EQ(page_->BatchListView->SelectedRows().size(), 3u);
  for (QWidget* w : std::vector<QWidget*>{page_->BatchUnzipButton, page_->BatchResetButton,
                                          page_->BatchSelectAllButton, page_->BatchDeleteButton, page_->BatchListView})
    EXPECT_TRUE(w->isEnabled());
  EXPECT_FALSE(page_->BatchThreadStopButton->isEnabled());
  EXPECT_FALSE(page_->BatchListView->isHidden());

  // The same folder again: each archive stays listed once.
  ASSERT_TRUE(Scan(tree));
  EXPECT_EQ(Rows(), all);

  // Without sub-folders, from an empty list.
  page_->BatchResetButtonClick();
  EXPECT_EQ(Counters(), (std::vector<std::string>{"0", "0", "0"}));
  EXPECT_FALSE(page_->BatchUnzipButton->isEnabled());
  page_->ScanSubDirCheckBox->setChecked(false);
  ASSERT_TRUE(Scan(tree));
  EXPECT_EQ(Rows(), std::vector<std::string>{all[1]});
  EXPECT_EQ(Counters(), (std::vector<std::string>{"1", Commas(a), "1,501"}));

  // All archive types: kept in the settings, the scan takes the tar.gz too.
  ASSERT_EQ(testenv::Run("tar czf " + Quote((tree / "t.tar.gz").string()) + " -C " + Quote(tree.string()) + " a.zip"), 0);
  page_->AllTypesCheckBox->setChecked(true);
  EXPECT_TRUE(form_->Settings().BatchAllArchiveTypes);
  ASSERT_TRUE(Scan(tree));
  EXPECT_EQ(page_->BatchListView->Count(), 2);
  EXPECT_EQ(page_->BatchListView->Model()->Row(1).File.toStdString(), "t.tar.gz");
  EXPECT_EQ(page_->BatchListView->Model()->Row(1).Extra.toStdString(), Commas(a));
}

// Totals past 32 bits: archives whose directories claim 3,000,000,000 unpacked bytes each.
TEST_F(BatchPageTest, TotalsPastThirtyTwoBits) {
  std::vector<fs::path> zips;
  for (const char* n : {"big1.zip", "big2.zip"}) {
    const fs::path zip = work_ / n;
    ASSERT_EQ(testenv::Run("cd " + Quote(work_.string()) + " && printf hello > h.txt && zip -q " + Quote(zip.string()) + " h.txt"), 0);
    std::string bytes = testenv::ReadFile(zip);
    const size_t central = bytes.find("PK\x01\x02");
    ASSERT_NE(central, std::string::npos);
    const uint32_t claimed = 3000000000u;
    for (int i = 0; i < 4; ++i) bytes[central + 24 + i] = static_cast<char>((claimed >> (8 * i)) & 0xff);
    testenv::WriteFile(zip, bytes);
    zips.push_back(zip);
  }
  fs::remove(work_ / "h.txt");
  ASSERT_TRUE(Scan(work_));
  EXPECT_EQ(Counters()[2], "6,000,000,000");
  EXPECT_EQ(page_->BatchListView->Model()->Row(0).Extra.toStdString(), "3,000,000,000");
  page_->BatchListView->SelectRow(0, false);
  EXPECT_EQ(Counters()[2], "3,000,000,000");
  page_->BatchSelectAllButtonClick();
  EXPECT_EQ(Counters()[2], "6,000,000,000");
  // The room check reads the total back whole: 6 GB do not fit in 5.
  testenv::SetFreeSpace(int64_t(5000000000));
  Answer("TBatchDestinationForm", [](QDialog& d) {
    static_cast<TBatchDestinationForm&>(d).ChooseFolderRadio->setChecked(true);
    return int(QDialog::Accepted);
  });
  prompt_.QueuePath((work_ / "out").string());
  fs::create_directories(work_ / "out");
  page_->BatchUnzipButtonClick();
  EXPECT_FALSE(page_->Busy());
  EXPECT_EQ(Last().rfind("THERE IS NOT ENOUGH ROOM", 0), 0u) << Last();
}

TEST_F(BatchPageTest, SelectFilesHighlightAndDelete) {
  Zip(work_ / "one.zip", {{"1", "1"}});
  Zip(work_ / "two.zip", {{"2", "22"}});
  Zip(work_ / "three.zip", {{"3", "333"}});
  testenv::WriteFile(work_ / "broken.zip", "no zip");
  AddFiles({work_ / "one.zip", work_ / "two.zip", work_ / "one.zip", work_ / "gone.zip"});
  AddFiles({work_ / "three.zip", work_ / "broken.zip"});
  ASSERT_EQ(page_->BatchListView->Count(), 4);  // the dupe and the missing file left out
  EXPECT_EQ(form_->Settings().BatchOpenFolder, work_.string());
  EXPECT_EQ(Counters()[0], "4");
  EXPECT_EQ(Counters()[2], "6");  // the broken one counts 0
  // Counters follow the highlight; Select All highlights every row again.
  page_->BatchListView->SelectRow(0, false);
  page_->BatchListView->SelectRow(1, false);
  EXPECT_EQ(Counters()[0], "2");
  EXPECT_EQ(Counters()[2], "3");
  page_->BatchSelectAllButtonClick();
  EXPECT_EQ(Counters()[0], "4");
  // Sorting by the file column keeps the highlight with its archives.
  page_->BatchListView->SelectRow(0, false);
  const std::string unhighlighted = page_->RowArchive(0);
  page_->BatchListViewColumnClick(0);
  std::vector<std::string> order;
  for (int i = 0; i < page_->BatchListView->Count(); ++i) order.push_back(page_->BatchListView->Model()->Row(i).File.toStdString());
  EXPECT_EQ(order, (std::vector<std::string>{"broken.zip", "one.zip", "three.zip", "two.zip"}));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(page_->BatchListView->IsSelected(i), page_->RowArchive(i) != unhighlighted);
  // DELETE with everything highlighted empties the list and disables the four buttons.
  page_->BatchSelectAllButtonClick();
  page_->BatchDeleteButtonClick();
  EXPECT_EQ(page_->BatchListView->Count(), 0);
  for (QPushButton* b : {page_->BatchDeleteButton, page_->BatchSelectAllButton, page_->BatchResetButton, page_->BatchUnzipButton})
    EXPECT_FALSE(b->isEnabled());
  EXPECT_TRUE(fs::exists(work_ / "one.zip"));
}

TEST_F(BatchPageTest, MoveFolderNeedsRoom) {
  Zip(work_ / "one.zip", {{"1", std::string(5000, 'x')}});
  AddFiles({work_ / "one.zip"});
  const fs::path keep = work_ / "keep";
  fs::create_directories(keep);
  testenv::SetFreeSpace(int64_t(10));
  prompt_.QueuePath(keep.string());
  page_->MoveZipFileCheckBox->click();
  EXPECT_EQ(Last(), "THERE IS NO ENOUGH ROOM ON THE SELECTED DRIVE TO MOVE THE ZIP FILES.  CHOOSE ANOTHER DRIVE WITH MORE "
                    "FREE SPACE.");
  EXPECT_FALSE(page_->MoveZipFileCheckBox->isChecked());
  EXPECT_TRUE(page_->MoveZipFileEdit->text().isEmpty());
  testenv::SetFreeSpace("");
  prompt_.QueuePath(keep.string());
  page_->MoveZipFileButtonClick();
  EXPECT_TRUE(page_->MoveZipFileCheckBox->isChecked());
  EXPECT_EQ(page_->MoveZipFileEdit->text().toStdString(), keep.string());
}

TEST_F(BatchPageTest, RunRemovesUnzippedRowsAndMarksFailedOnes) {
  const fs::path in = work_ / "in", keep = work_ / "keep";
  Zip(in / "a/photos.zip", {{"p.jpg", "jpeg"}});
  Zip(in / "b/photos.zip", {{"p.jpg", "other"}});
  Zip(in / "b/REPORT.ZIP", {{"r.txt", "report"}});
  Zip(in / "java/tool.zip", {{"t.txt", "tool"}});
  testenv::WriteFile(in / "b/junk.zip", "not a zip");
  fs::create_directories(in / "a/photos");
  ASSERT_TRUE(Scan(in));
  ASSERT_EQ(page_->BatchListView->Count(), 5);
  fs::create_directories(keep);
  prompt_.QueuePath(keep.string());
  page_->MoveZipFileButtonClick();
  Answer("TMoveZipFolderCreateOptionsForm", [](QDialog& d) {
    static_cast<TMoveZipFolderCreateOptionsForm&>(d).FlatRadio->setChecked(true);
    return int(QDialog::Accepted);
  });
  prompt_.Clear();
  ASSERT_TRUE(Run());
  EXPECT_EQ(std::count(windows_.begin(), windows_.end(), "TBatchDestinationForm"), 1);
  // The unzipped rows are gone; the failed one stays with the error image.
  ASSERT_EQ(page_->BatchListView->Count(), 1);
  const TListRow& left = page_->BatchListView->Model()->Row(0);
  EXPECT_EQ(left.File.toStdString(), "junk.zip");
  EXPECT_LT(left.Icon, 0);
  EXPECT_EQ(testenv::ReadFile(in / "a/photos01/p.jpg"), "jpeg");
  EXPECT_EQ(testenv::ReadFile(in / "b/photos/p.jpg"), "other");
  EXPECT_TRUE(fs::exists(in / "b/REPORT/r.txt"));
  EXPECT_TRUE(fs::exists(keep / "photos.zip"));
  EXPECT_TRUE(fs::exists(keep / "dupe01/photos.zip"));
  EXPECT_TRUE(fs::exists(keep / "ZipError/junk.zip"));
  EXPECT_TRUE(fs::exists(in / "java/tool.zip"));
  const std::string message = Last();
  EXPECT_EQ(message.rfind("THE BATCH UNZIP PROCESS IS COMPLETE.\n\nTHE ZIP FILES HAVE BEEN UNZIPPED INTO THE SAME FOLDER "
                          "IN WHICH THE ZIP FILE WAS LOCATED. \n\nTHE ZIP FILES WERE MOVED TO THE FOLDER " +
                              keep.string() + ". \n\nTHE DIRECTORY STRUCTURE WHERE THE ZIP FILES WERE FOUND WAS NOT RECREATED.",
                          0),
            0u)
      << message;
  // The failed archive's line names it once, with the reason; each list after one blank line.
  const std::string junk = (in / "b/junk.zip").string();
  EXPECT_NE(message.find("WAS NOT RECREATED.\n\nTHESE ZIP FILES COULD NOT BE UNZIPPED:\n" + junk + ": "), std::string::npos)
      << message;
  EXPECT_EQ(message.find(junk), message.rfind(junk)) << message;
  EXPECT_EQ(message.find("\n\n\n"), std::string::npos) << message;
  EXPECT_NE(message.find("NEVER MOVED (A SYSTEM FOLDER OR A JAVA NAME):\n" + (in / "java/tool.zip").string()),
            std::string::npos);
  for (QLineEdit* e : {page_->BatchCompleteEdit, page_->BatchFileNumEdit, page_->BatchFileSizeEdit, page_->BatchTotalDoneEdit})
    EXPECT_EQ(e->text(), "0");
  EXPECT_EQ(page_->BatchProgressBar->value(), 0);
  EXPECT_TRUE(page_->BatchUnzipButton->isEnabled());
  EXPECT_FALSE(form_->RunState().BatchBusy);
}

TEST_F(BatchPageTest, ChosenDestinationRoomChecks) {
  Zip(work_ / "in/one.zip", {{"1", std::string(3000, 'x')}});
  AddFiles({work_ / "in/one.zip"});
  const fs::path out = work_ / "out";
  Answer("TBatchDestinationForm", [](QDialog& d) {
    static_cast<TBatchDestinationForm&>(d).ChooseFolderRadio->setChecked(true);
    return int(QDialog::Accepted);
  });
  // Less room than the unzipped size: the message and no run.
  testenv::SetFreeSpace(int64_t(2000));
  prompt_.QueuePath(out.string());
  page_->BatchUnzipButtonClick();
  EXPECT_FALSE(page_->Busy());
  EXPECT_EQ(Last(), "THERE IS NOT ENOUGH ROOM ON THE SLECTED DISK DRIVE FOR THE UNZIPPED FILES.\n\nSELECT A NEW FOLDER ON "
                    "A DRIVE WITH MORE FREE SPACE");
  // Room, but little left on the file system of "/": the warning when the folder lies there; Cancel.
  testenv::SetFreeSpace(int64_t(40000000));
  prompt_.Clear();
  prompt_.QueueAnswer(TPromptAnswer::Cancel);
  prompt_.QueuePath(out.string());
  page_->BatchUnzipButtonClick();
  const bool onRoot = SameFileSystem(out.string(), "/");
  EXPECT_EQ(prompt_.Saw("YOU ARE ATTEMPTING TO EXTRACT THE ZIP FILES TO THE FILE SYSTEM OF \"/\""), onRoot);
  EXPECT_EQ(prompt_.Saw("40 MEGABYTES OF FREE SPACE REMAINING"), onRoot);
  if (onRoot) {
    EXPECT_FALSE(page_->Busy());
  } else {
    // Elsewhere no warning: the run went ahead; start again from the same list.
    QSignalSpy spy(page_, &TBatchPage::RunEnded);
    ASSERT_TRUE(!page_->Busy() || spy.wait(60000));
    fs::remove_all(out);
    AddFiles({work_ / "in/one.zip"});
  }
  // With room: unzipped into the chosen folder.
  testenv::SetFreeSpace("");
  prompt_.Clear();
  prompt_.QueuePath(out.string());
  ASSERT_TRUE(Run());
  EXPECT_TRUE(fs::exists(out / "one/1")) << testenv::ListTree(out).size();
  EXPECT_NE(Last().find("INTO THE FOLDER " + out.string() + ". \n\nTHE ZIP FILES WERE NOT MOVED. \n\n"), std::string::npos);
  // Nothing highlighted: the message and no run.
  Zip(work_ / "in/two.zip", {{"2", "2"}});
  AddFiles({work_ / "in/two.zip"});
  page_->BatchListView->SelectNone();
  prompt_.QueuePath(out.string());
  page_->BatchUnzipButtonClick();
  EXPECT_FALSE(page_->Busy());
  EXPECT_EQ(Last().rfind("YOU MUST HIGHLIGHT AT LEAST ONE ZIP FILE TO SELECT IT.", 0), 0u);
}

TEST_F(BatchPageTest, StopInTheMiddle) {
  const fs::path in = work_ / "in";
  for (const char* n : {"1.zip", "3.zip", "4.zip", "5.zip"}) Zip(in / n, {{std::string(n) + ".txt", n}});
  const fs::path scratch = testenv::MakeTempDir("enc");
  testenv::WriteFile(scratch / "secret.txt", "secret");
  ASSERT_EQ(testenv::Run("cd " + Quote(scratch.string()) + " && zip -q -P pw " + Quote((in / "2.zip").string()) + " secret.txt"), 0);
  AddFiles({in / "1.zip", in / "2.zip", in / "3.zip", in / "4.zip", in / "5.zip"});
  bool leftPage = true;
  int asked = 0;
  // STOP while the second archive waits for its password; the page cannot be left meanwhile.
  Answer("TBatchPasswordForm", [&](QDialog& d) {
    ++asked;
    page_->BatchUnzipTimerTimer();
    EXPECT_EQ(page_->BatchCompleteEdit->text(), "2");
    EXPECT_EQ(page_->BatchPathStatusBar->currentMessage().toStdString(), (in / "2.zip").string());
    EXPECT_TRUE(page_->BatchThreadStopButton->isEnabled());
    page_->BatchThreadStopButton->click();
    leftPage = form_->RequestPage(kUnzipPage) != kBatchPage;
    static_cast<TBatchPasswordForm&>(d).PasswordEdit->setText("pw");
    return int(QDialog::Accepted);
  });
  ASSERT_TRUE(Run());
  EXPECT_EQ(asked, 1);
  EXPECT_FALSE(leftPage);
  EXPECT_EQ(testenv::ReadFile(in / "2/secret.txt"), "secret");
  EXPECT_FALSE(fs::exists(in / "3"));
  std::vector<std::string> left;
  for (int i = 0; i < page_->BatchListView->Count(); ++i) left.push_back(page_->BatchListView->Model()->Row(i).File.toStdString());
  EXPECT_EQ(left, (std::vector<std::string>{"3.zip", "4.zip", "5.zip"}));
  EXPECT_TRUE(prompt_.Saw("THE BATCH UNZIP PROCESS IS COMPLETE."));
}

TEST_F(BatchPageTest, QueueButtonMovesTheQueueOntoTheList) {
  Zip(work_ / "q1.zip", {{"1", "1"}});
  Zip(work_ / "q2.zip", {{"2", "2"}});
  Zip(work_ / "q3.zip", {{"3", "3"}});
  AddFiles({work_ / "q1.zip"});  // listed already: not twice
  form_->RequestPage(kUnzipPage);
  for (const char* n : {"q1.zip", "q2.zip", "q3.zip"}) form_->AddToQueue((work_ / n).string());
  ASSERT_EQ(form_->Queue().Count(), 3);
  fs::remove(work_ / "q3.zip");
  TUnzipPage* unzip = form_->UnzipPage();
  ASSERT_TRUE(unzip->MoveBatchButton->isEnabled());
  unzip->MoveBatchButton->click();
  EXPECT_EQ(form_->CurrentPage(), kBatchPage);
  EXPECT_EQ(form_->Queue().Count(), 0);
  EXPECT_EQ(unzip->ComboBox->itemText(0).toStdString(), TIncomingQueue::kEmptyText);
  EXPECT_FALSE(fs::exists(form_->Queue().QueueFile()));
  std::vector<std::string> rows;
  for (int i = 0; i < page_->BatchListView->Count(); ++i) rows.push_back(page_->RowArchive(i));
  EXPECT_EQ(rows, (std::vector<std::string>{(work_ / "q1.zip").string(), (work_ / "q2.zip").string()}));
  EXPECT_EQ(page_->BatchNumEdit->text(), "2");
  EXPECT_TRUE(page_->BatchUnzipButton->isEnabled());
  // An empty queue: nothing happens.
  form_->RequestPage(kUnzipPage);
  unzip->MoveBatchButton->click();
  EXPECT_EQ(form_->CurrentPage(), kUnzipPage);
}
