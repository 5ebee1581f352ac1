// The create list: rows from files, folders and drops under each path setting, duplicates, undo,
// removal, reset, the date question and the cut-off date window.
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <QCalendarWidget>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <QKeyEvent>

#include "CreatePageFixture.h"
#include "core/TextUtil.h"
#include "pages/create/AddFolderForm.h"
#include "pages/create/CreateList.h"
#include "pages/create/DatePickForm.h"

using namespace createtest;
using namespace createlist;

namespace {

TEST(CreateListPaths, StoredPathsAndShortenedFolders) {
  EXPECT_EQ(FindEndingSlash("/docs/proj"), 6);
  EXPECT_EQ(FindEndingSlash("name"), 0);
  // A file added with ADD FILES: n is the last "/" of its folder.
  EXPECT_EQ(StoredPathOf("/docs", FindEndingSlash("/docs"), true, true), "docs");
  EXPECT_EQ(StoredPathOf("/docs", 1, true, false), "docs");
  // A scan of /docs/proj finding /docs/proj/sub/y.txt.
  EXPECT_EQ(StoredPathOf("/docs/proj/sub", FindEndingSlash("/docs/proj"), true, true), "proj/sub");
  EXPECT_EQ(StoredPathOf("/docs/proj/sub", FindEndingSlash("/docs/proj"), true, false), "docs/proj/sub");
  EXPECT_EQ(StoredPathOf("/docs/proj/sub", 6, false, true), "");
  // The root folder stores nothing in either mode.
  EXPECT_EQ(StoredPathOf("/", FindEndingSlash("/"), true, true), "");
  EXPECT_EQ(StoredPathOf("/", 1, true, false), "");

  EXPECT_EQ(ShortenFolder("/docs/proj/"), "/docs/proj");
  const std::string longPath = "/data/" + std::string(45, 'x') + "/" + std::string(20, 'y') + "/proj";
  const std::string shown = ShortenFolder(longPath);
  EXPECT_LT(shown.size(), 50u);
  EXPECT_EQ(shown, "/data/../proj");
}

TEST_F(CreatePageTest, AddFilesUnderEachPathSetting) {
  const fs::path root = MakeProject();
  const fs::path a = root / "proj/a.txt", b = root / "proj/sub/b.txt";
  form_->Settings().SaveZipFolders = false;
  AddFiles({a});
  form_->Settings().SaveZipFolders = true;
  form_->Settings().RelativePaths = true;
  AddFiles({b});
  form_->Settings().RelativePaths = false;
  AddFiles({root / "proj/sub/deep/c.txt"});
  const std::string r = root.string();
  EXPECT_EQ(Rows(), (std::vector<std::string>{"|a.txt|" + a.string(), "sub|b.txt|" + b.string(),
                                              r.substr(1) + "/proj/sub/deep|c.txt|" + r + "/proj/sub/deep/c.txt"}));
  EXPECT_EQ(page_->NumfilesEdit->text(), "3");
  EXPECT_EQ(page_->TotalFileSizeEdit->text().toStdString(), FormatWithCommas(6 + 5000 + 18));
  EXPECT_EQ(page_->ZipListView->Model()->Row(1).Size, "5,000");
  EXPECT_TRUE(page_->ZipButton->isEnabled());
  EXPECT_FALSE(form_->Settings().CreateOptionsEditable);

  // The same file again, alone or among others, is refused; a missing file is skipped silently.
  AddFiles({a});
  AddFiles({b, root / "proj/missing.txt", a});
  EXPECT_EQ(page_->ZipListView->Count(), 3);
  EXPECT_EQ(form_->CreatePage()->UndoStack.Depth(), 3u) << "actions that added nothing leave no undo step";
  EXPECT_TRUE(prompt_.Texts().empty());
}

TEST_F(CreatePageTest, FolderScanUnderEachPathSetting) {
  const fs::path root = MakeProject();
  const std::string r = root.string();
  // A fifo and a link to a folder are not listed; a link to a file is.
  ASSERT_EQ(::mkfifo((root / "proj/pipe").c_str(), 0600), 0);
  fs::create_directory_symlink(root / "proj/sub", root / "proj/loop");
  fs::create_symlink(root / "proj/a.txt", root / "proj/alias.txt");

  form_->Settings().RelativePaths = true;
  AddFolder(root / "proj");
  std::vector<std::string> rows = Rows();
  std::sort(rows.begin(), rows.end());
  EXPECT_EQ(rows, (std::vector<std::string>{
                      "proj/sub/deep|c.txt|" + r + "/proj/sub/deep/c.txt", "proj/sub|b.txt|" + r + "/proj/sub/b.txt",
                      "proj|.hidden|" + r + "/proj/.hidden", "proj|a.txt|" + r + "/proj/a.txt",
                      "proj|alias.txt|" + r + "/proj/alias.txt"}));
  EXPECT_EQ(Shown("TAddFolderForm"), 1);

  // Absolute folders; a trailing "/" on the chosen folder changes nothing.
  page_->ZipResetButtonClick();
  form_->Settings().RelativePaths = false;
  AddFolder(root / "proj/sub/");
  rows = Rows();
  std::sort(rows.begin(), rows.end());
  EXPECT_EQ(rows, (std::vector<std::string>{r.substr(1) + "/proj/sub/deep|c.txt|" + r + "/proj/sub/deep/c.txt",
                                            r.substr(1) + "/proj/sub|b.txt|" + r + "/proj/sub/b.txt"}));

  // No folders stored, no recursion.
  page_->ZipResetButtonClick();
  form_->Settings().SaveZipFolders = false;
  form_->Settings().RecurseFolders = false;
  AddFolder(root / "proj/sub");
  EXPECT_EQ(Rows(), (std::vector<std::string>{"|b.txt|" + r + "/proj/sub/b.txt"}));

  // A scan is not checked against the list: the same folder twice lists its files twice.
  AddFolder(root / "proj/sub");
  EXPECT_EQ(page_->ZipListView->Count(), 2);
  EXPECT_EQ(page_->TotalFileSizeEdit->text(), "10,000");
}

TEST_F(CreatePageTest, DropsHonourThePathSettings) {
  const fs::path root = MakeProject();
  const std::string r = root.string();
  form_->Settings().RelativePaths = true;
  Drop({root / "proj/sub", root / "proj/a.txt", root / "gone.txt"});
  std::vector<std::string> rows = Rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[2], "proj|a.txt|" + r + "/proj/a.txt") << "dropped items join in their order";
  rows.pop_back();
  std::sort(rows.begin(), rows.end());
  EXPECT_EQ(rows, (std::vector<std::string>{"sub/deep|c.txt|" + r + "/proj/sub/deep/c.txt",
                                            "sub|b.txt|" + r + "/proj/sub/b.txt"}));
  EXPECT_TRUE(page_->OpenFilesZipButton->isEnabled()) << "the page is enabled after a drop";
  // A dropped file already listed is refused.
  Drop({root / "proj/a.txt"});
  EXPECT_EQ(page_->ZipListView->Count(), 3);

  page_->ZipResetButtonClick();
  form_->Settings().RelativePaths = false;
  Drop({root / "proj/sub/deep"});
  EXPECT_EQ(Rows(), (std::vector<std::string>{r.substr(1) + "/proj/sub/deep|c.txt|" + r + "/proj/sub/deep/c.txt"}));
}

TEST_F(CreatePageTest, UndoRestoresEachEarlierState) {
  const fs::path root = MakeProject();
  std::vector<std::vector<std::string>> states{Rows()};
  std::vector<QString> totals{page_->TotalFileSizeEdit->text()};
  AddFiles({root / "proj/a.txt"});
  states.push_back(Rows());
  totals.push_back(page_->TotalFileSizeEdit->text());
  AddFolder(root / "proj/sub");
  states.push_back(Rows());
  totals.push_back(page_->TotalFileSizeEdit->text());
  Drop({root / "proj/.hidden", root / "proj/sub/b.txt"});  // b.txt is listed already: only .hidden joins
  states.push_back(Rows());
  totals.push_back(page_->TotalFileSizeEdit->text());
  ASSERT_EQ(states.back().size(), 4u);
  ASSERT_EQ(form_->CreatePage()->UndoStack.Depth(), 3u);

  for (int step = 2; step >= 0; --step) {
    EXPECT_TRUE(page_->ZipUndoButton->isEnabled());
    page_->ZipUndoButtonClick();
    EXPECT_EQ(Rows(), states[static_cast<size_t>(step)]) << "after undoing to state " << step;
    EXPECT_EQ(page_->TotalFileSizeEdit->text(), totals[static_cast<size_t>(step)]);
  }
  for (QPushButton* b : {page_->ZipUndoButton, page_->ZipButton, page_->ZipResetButton, page_->CreateTagButton})
    EXPECT_FALSE(b->isEnabled());
  EXPECT_TRUE(page_->BatchButton->isEnabled());
  EXPECT_TRUE(form_->Settings().CreateOptionsEditable);
}

TEST_F(CreatePageTest, UndoAfterRemoveAndReset) {
  const fs::path root = MakeProject();
  AddFolder(root / "proj");
  AddFiles({root / "proj/sub/deep/c.txt"});  // listed already by the scan? no: the scan keeps exact names
  const int listed = page_->ZipListView->Count();
  ASSERT_EQ(listed, 4);
  const std::vector<std::string> full = Rows();
  // Remove two selected rows: the total follows; the undo entries stay.
  page_->ZipListView->SelectRow(0);
  page_->ZipListView->SelectRow(2);
  EXPECT_TRUE(page_->Remove1->isEnabled());
  const int64_t before = RemoveCommas(page_->TotalFileSizeEdit->text().toStdString());
  const int64_t gone = page_->ZipListView->Model()->Row(0).SizeValue + page_->ZipListView->Model()->Row(2).SizeValue;
  page_->Delete2Click();
  EXPECT_EQ(page_->ZipListView->Count(), 2);
  EXPECT_EQ(RemoveCommas(page_->TotalFileSizeEdit->text().toStdString()), before - gone);
  EXPECT_FALSE(page_->Remove1->isEnabled());
  const std::vector<std::string> afterRemove = Rows();
  // Remove everything, then UNDO puts back what each removal took, in its places; the adding steps
  // stay for the next UNDOs.
  page_->SelectAll2Click();
  page_->Delete2Click();
  EXPECT_EQ(page_->ZipListView->Count(), 0);
  page_->ZipUndoButtonClick();
  EXPECT_EQ(Rows(), afterRemove);
  EXPECT_EQ(RemoveCommas(page_->TotalFileSizeEdit->text().toStdString()), before - gone);
  page_->ZipUndoButtonClick();
  EXPECT_EQ(Rows(), full);
  EXPECT_EQ(RemoveCommas(page_->TotalFileSizeEdit->text().toStdString()), before);
  EXPECT_EQ(page_->NumfilesEdit->text(), "4");
  EXPECT_TRUE(page_->ZipButton->isEnabled());
  page_->ZipUndoButtonClick();  // the ADD FILES
  page_->ZipUndoButtonClick();  // the ADD FOLDER
  EXPECT_EQ(page_->ZipListView->Count(), 0);
  EXPECT_EQ(page_->TotalFileSizeEdit->text(), "0");
  EXPECT_TRUE(form_->CreatePage()->UndoStack.Empty());
  // The Delete key removes the highlighted rows of the list.
  AddFolder(root / "proj");
  const std::vector<std::string> scanned = Rows();
  page_->ZipListView->SelectNone();
  page_->ZipListView->SelectRow(1);
  form_->show();
  page_->ZipListView->setFocus();
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
  QKeyEvent release(QEvent::KeyRelease, Qt::Key_Delete, Qt::NoModifier);
  QApplication::sendEvent(page_->ZipListView, &press);
  QApplication::sendEvent(page_->ZipListView, &release);
  std::vector<std::string> expected = scanned;
  expected.erase(expected.begin() + 1);
  EXPECT_EQ(Rows(), expected);
  page_->ZipUndoButtonClick();
  EXPECT_EQ(Rows(), scanned);

  AddFolder(root / "proj");
  page_->CreateTagEdit->setText("tag");
  page_->ZipResetButtonClick();
  EXPECT_EQ(page_->ZipListView->Count(), 0);
  EXPECT_EQ(page_->NumfilesEdit->text(), "0");
  EXPECT_TRUE(page_->CreateTagEdit->text().isEmpty());
  EXPECT_TRUE(form_->CreatePage()->UndoStack.Empty());
  EXPECT_FALSE(page_->ZipButton->isEnabled());
  EXPECT_TRUE(page_->OpenFolderzipButton->isEnabled());
}

TEST_F(CreatePageTest, DateQuestionOncePerPageVisitAndFilter) {
  const fs::path root = MakeProject();
  // b.txt is old; the others are new.
  struct utimbuf old {};
  old.actime = old.modtime = 946684800;  // 1 January 2000
  ASSERT_EQ(::utime((root / "proj/sub/b.txt").c_str(), &old), 0);
  form_->Settings().OnlyNewerThanDate = true;
  const int64_t cutoff = DayNumberOf(2010, 6, 1);
  Answer("TDatePickForm", [cutoff](QDialog&) { return static_cast<int>(cutoff); });

  AddFiles({root / "proj/a.txt", root / "proj/sub/b.txt"});
  AddFolder(root / "proj/sub");
  Drop({root / "proj/.hidden"});
  EXPECT_EQ(Shown("TDatePickForm"), 1);
  EXPECT_EQ(form_->Settings().CreateCutoffDate, cutoff);
  std::vector<std::string> names;
  for (const TListRow& r : page_->ZipListView->Model()->Rows()) names.push_back(r.File.toStdString());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{".hidden", "a.txt", "c.txt"})) << "the old file is left out";

  // Leaving the page (the list is cleared on request) and coming back asks again.
  prompt_.QueueAnswer(TPromptAnswer::Yes);
  ASSERT_EQ(form_->RequestPage(kUnzipPage), kUnzipPage);
  ASSERT_EQ(form_->RequestPage(kCreatePage), kCreatePage);
  Answer("TDatePickForm", [](QDialog&) { return -1; });  // cancelled: the option turns off
  AddFiles({root / "proj/sub/b.txt"});
  EXPECT_EQ(Shown("TDatePickForm"), 2);
  EXPECT_FALSE(form_->Settings().OnlyNewerThanDate);
  EXPECT_EQ(form_->Settings().CreateCutoffDate, 0);
  EXPECT_EQ(page_->ZipListView->Count(), 1);
  AddFiles({root / "proj/a.txt"});
  EXPECT_EQ(Shown("TDatePickForm"), 2);
}

TEST_F(CreatePageTest, StopDuringALargeScanListsWhatWasCollected) {
  const fs::path root = testenv::MakeTempDir("big");
  ASSERT_EQ(testenv::Run("cd " + testenv::Quote(root.string()) +
                         " && for d in 0 1 2 3 4 5; do mkdir d$d && (cd d$d && seq 1 800 | xargs touch); done"),
            0);
  Answer("TAddFolderForm", [](QDialog& d) {
    auto& window = static_cast<TAddFolderForm&>(d);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &window, [&] {
      if (window.Results().Count() >= 50 && window.StopButton->isEnabled()) window.StopButton->click();
    });
    poll.start(0);
    return window.exec();
  });
  AddFolder(root);
  const int listed = page_->ZipListView->Count();
  EXPECT_GE(listed, 50);
  EXPECT_LT(listed, 4800);
  EXPECT_EQ(static_cast<int>(form_->CreatePage()->UndoStack.Top().size()), listed);
  EXPECT_EQ(page_->NumfilesEdit->text().toStdString(), FormatWithCommas(listed));
  page_->ZipUndoButtonClick();
  EXPECT_EQ(page_->ZipListView->Count(), 0);
}

TEST(DatePickForm, LimitsAndResults) {
  const QDate today(2024, 3, 15);
  {
    TDatePickForm form(nullptr, today);
    EXPECT_EQ(form.Edit1->text(), "March 15, 2024");
    EXPECT_FALSE(form.nextyearButton->isEnabled());
    EXPECT_FALSE(form.NextMonthButton->isEnabled());
    // Back a month, pick a day after today's day number, then forward again: clamped to today.
    form.prevMonthButtonClick();
    form.SetShownDate(QDate(2024, 2, 28));
    EXPECT_EQ(form.Edit1->text(), "February 28, 2024");
    EXPECT_TRUE(form.NextMonthButton->isEnabled());
    form.NextMonthButtonClick();
    EXPECT_EQ(form.ShownDate(), today);
    form.SetShownDate(QDate(1945, 1, 20));
    EXPECT_FALSE(form.prevMonthButton->isEnabled());
    EXPECT_FALSE(form.PrevYearButton->isEnabled());
    EXPECT_TRUE(form.nextyearButton->isEnabled());
    form.SetShownDate(QDate(1945, 7, 20));
    EXPECT_TRUE(form.prevMonthButton->isEnabled());
    EXPECT_FALSE(form.PrevYearButton->isEnabled());
    form.SetShownDate(QDate(2005, 5, 2));
    form.Button1Click();
    EXPECT_EQ(form.result(), 38474);
  }
  {
    TDatePickForm form(nullptr, today);
    form.Button2Click();
    EXPECT_EQ(form.result(), -1);
  }
}

}  // namespace
