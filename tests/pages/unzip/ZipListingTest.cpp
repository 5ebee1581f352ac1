// Opening and listing zip archives on the unzip page: rows, totals, caption and button states.
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <algorithm>

#include "UnzipPageFixture.h"
#include "app/TandorForm.h"
#include "pages/common/FileList.h"
#include "pages/unzip/UnzipPage.h"

namespace {

const char* const kNoFiles = "THERE ARE NO FILES IN THE ZIPFILE THAT THIS PROGRAM CAN READ";

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

}  // namespace

TEST_F(UnzipPageTest, InfoZipArchiveWithFoldersAndUtf8Names) {
  const fs::path src = work_ / "src";
  fs::create_directories(src / "docs" / "deep");
  testenv::WriteFile(src / "readme.txt", "hello");
  testenv::WriteFile(src / "docs" / "guide.md", std::string(1000, 'g'));
  testenv::WriteFile(src / "docs" / "deep" / "Übersicht 📦.txt", "umlaut");
  testenv::WriteFile(src / "noext", "x");
  RunIn(src, "zip -qr ../info.zip readme.txt docs noext");
  Open(work_ / "info.zip");

  // Folder entries are not rows; every file is, with its folder in Path.
  EXPECT_EQ(Sorted(Keys()), (std::vector<std::string>{"docs/deep/Übersicht 📦.txt", "docs/guide.md", "noext",
                                                       "readme.txt"}));
  const auto& rows = page_->UnzipListView->Model()->Rows();
  for (const TListRow& r : rows) {
    if (r.File == "guide.md") {
      EXPECT_EQ(r.Path.toStdString(), "docs/");
      EXPECT_EQ(r.Size.toStdString(), "1,000");
    }
    if (r.File == "readme.txt") {
      EXPECT_TRUE(r.Path.isEmpty());
    }
    if (r.File == "noext") {
      EXPECT_EQ(r.Icon, 1) << "a name without extension gets the plain file icon";
    }
    EXPECT_FALSE(r.Date.isEmpty());
  }
  EXPECT_EQ(page_->UnzipNumFilesEdit->text().toStdString(), "4");
  EXPECT_EQ(page_->UnzipTotalFileSizeEdit->text().toStdString(), "1,012");
  EXPECT_EQ(form_->UnzipPage()->UnzipTotalBytes, 1012);
  EXPECT_EQ(form_->windowTitle().toStdString(), "Tandor : info.zip");
  EXPECT_EQ(form_->CurrentArchiveFile(), (work_ / "info.zip").string());
  // Loaded-archive buttons; every row highlighted (SelectAllOnLoad is on by default).
  for (QPushButton* b : {page_->UnzipButton, page_->SelectAllButton, page_->UnSelectAllButton, page_->SelectButton,
                         page_->FolderFilterButton, page_->UnzipResetButton, page_->SaveQueueButton,
                         page_->SaveUnzipFileButton, page_->TAGButton, page_->TreeButton, page_->OpenUnzipButton})
    EXPECT_TRUE(b->isEnabled()) << b->text().toStdString();
  EXPECT_EQ(page_->UnzipListView->SelectedRows().size(), 4u);
  EXPECT_TRUE(prompt_.History().empty());
  EXPECT_EQ(page_->UnzipProgressBar->value(), 0);
}

TEST_F(UnzipPageTest, SevenZipAndPythonArchives) {
  const fs::path src = work_ / "s7";
  fs::create_directories(src / "a");
  testenv::WriteFile(src / "a" / "one.bin", testenv::RandomBytes(5000, 1));
  testenv::WriteFile(src / "two.txt", "two");
  RunIn(src, "7z a -tzip -bd ../seven.zip a two.txt >/dev/null");
  Open(work_ / "seven.zip");
  EXPECT_EQ(Sorted(Keys()), (std::vector<std::string>{"a/one.bin", "two.txt"}));
  EXPECT_EQ(page_->UnzipTotalFileSizeEdit->text().toStdString(), "5,003");

  // Python: UTF-8 names (flag bit 11), a stored entry, a date whose time is not midnight.
  MakePythonZip(work_ / "py.zip", {{"日本/ファイル.txt", "abc"}, {"z.DAT", ""}}, false);
  page_->ClearUnzipWindow();
  Open(work_ / "py.zip");
  EXPECT_EQ(Keys(), (std::vector<std::string>{"日本/ファイル.txt", "z.DAT"}));
  EXPECT_EQ(Cell(0, 0), "ファイル.txt");
  EXPECT_EQ(Cell(0, 3), "日本/");
  EXPECT_EQ(Cell(0, 1), "3");
  EXPECT_NE(Cell(0, 2).find("05:06:08"), std::string::npos) << Cell(0, 2);
  EXPECT_EQ(Cell(1, 1), "0");
  EXPECT_EQ(form_->windowTitle().toStdString(), "Tandor : py.zip");
}

TEST_F(UnzipPageTest, OneRowLeavesTreeOffAndMidnightHasNoTime) {
  RunPython(R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    z.writestr(zipfile.ZipInfo('docs/readme.txt', date_time=(2020, 1, 2, 0, 0, 0)), 'r')
)",
            {(work_ / "one.zip").string()});
  Open(work_ / "one.zip");
  ASSERT_EQ(page_->UnzipListView->Count(), 1);
  EXPECT_EQ(Cell(0, 0), "readme.txt");
  EXPECT_EQ(Cell(0, 3), "docs/");
  EXPECT_EQ(Cell(0, 2).find(':'), std::string::npos) << "no time at midnight: " << Cell(0, 2);
  EXPECT_FALSE(page_->TreeButton->isEnabled());
  EXPECT_TRUE(page_->UnzipButton->isEnabled());
  EXPECT_EQ(page_->UnzipNumFilesEdit->text().toStdString(), "1");
}

TEST_F(UnzipPageTest, EmptyFolderOnlyAndDamagedArchives) {
  // An archive without entries, one holding only folders, and two broken files: no rows, the
  // message, and the page usable again.
  RunPython("import sys, zipfile\nzipfile.ZipFile(sys.argv[1], 'w').close()\n", {(work_ / "empty.zip").string()});
  fs::create_directories(work_ / "f" / "x" / "y");
  RunIn(work_ / "f", "zip -qr ../folders.zip x");
  testenv::WriteFile(work_ / "garbage.zip", testenv::RandomBytes(3000, 7));
  MakePythonZip(work_ / "whole.zip", {{"a.txt", std::string(4000, 'a')}, {"b.txt", "b"}});
  const std::string whole = testenv::ReadFile(work_ / "whole.zip");
  testenv::WriteFile(work_ / "cut.zip", whole.substr(0, whole.size() - 30));

  for (const char* name : {"empty.zip", "folders.zip", "garbage.zip", "cut.zip"}) {
    SCOPED_TRACE(name);
    prompt_.Clear();
    page_->ResetUnzipPage();
    Open(work_ / name);
    EXPECT_EQ(page_->UnzipListView->Count(), 0);
    // A sound archive without files says so; a broken one says once that it cannot be opened, and why.
    const bool broken = std::string(name) == "garbage.zip" || std::string(name) == "cut.zip";
    EXPECT_EQ(prompt_.Texts(), std::vector<std::string>{broken ? "CANNOT OPEN THE FILE " + (work_ / name).string() +
                                                                     "\nThis archive is not a valid Zip archive"
                                                               : kNoFiles});
    EXPECT_EQ(form_->windowTitle().toStdString(), broken ? "Tandor" : "Tandor : " + std::string(name));
    EXPECT_FALSE(page_->UnzipButton->isEnabled());
    EXPECT_EQ(page_->UnzipNumFilesEdit->text().toStdString(), "0");
    EXPECT_EQ(page_->UnzipTotalFileSizeEdit->text().toStdString(), "0");
    EXPECT_TRUE(page_->OpenUnzipButton->isEnabled());
    EXPECT_FALSE(page_->TreeButton->isEnabled());
    EXPECT_FALSE(page_->Busy());
  }
}

TEST_F(UnzipPageTest, TotalsBeyondFourGigabytes) {
  // Two entries that claim 3 GiB each (the listing reads the directory only).
  RunPython(R"(
import sys, struct, zlib
out = open(sys.argv[1], 'wb')
data = zlib.compressobj(9, zlib.DEFLATED, -15).compress(b'') + b'\x03\x00'
central = b''
for i, name in enumerate([b'big1.bin', b'big2.bin']):
    off = out.tell()
    out.write(struct.pack('<IHHHHHIIIHH', 0x04034b50, 20, 0, 8, 0, 0x5021, 0, len(data), 0xC0000000, len(name), 0) + name + data)
    central += struct.pack('<IHHHHHHIIIHHHHHII', 0x02014b50, 20, 20, 0, 8, 0, 0x5021, 0, len(data), 0xC0000000, len(name), 0, 0, 0, 0, 0, off) + name
cd = out.tell()
out.write(central)
out.write(struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, 2, 2, len(central), cd, 0))
)",
            {(work_ / "big.zip").string()});
  Open(work_ / "big.zip");
  ASSERT_EQ(page_->UnzipListView->Count(), 2);
  EXPECT_EQ(Cell(0, 1), "3,221,225,472");
  EXPECT_EQ(form_->UnzipPage()->UnzipTotalBytes, 6442450944LL);
  EXPECT_EQ(page_->UnzipTotalFileSizeEdit->text().toStdString(), "6,442,450,944");
}

TEST_F(UnzipPageTest, OpenButtonRoutesByExtensionAndClearsAsTheStateSays) {
  MakePythonZip(work_ / "backup.zip.zip", {{"a.txt", "a"}, {"b.txt", "b"}});
  MakePythonZip(work_ / "second.zip", {{"c.txt", "c"}});
  testenv::WriteFile(work_ / "notes.txt", "not an archive");
  form_->Settings().QueueEnabled = false;

  prompt_.QueuePath((work_ / "backup.zip.zip").string());
  page_->DoOpenUnzip();
  EXPECT_EQ(Keys(), (std::vector<std::string>{"a.txt", "b.txt"}));
  EXPECT_EQ(form_->Settings().ArchiveOpenFolder, work_.string());
  const auto open = prompt_.History();
  ASSERT_FALSE(open.empty());
  EXPECT_EQ(open.back().kind, "open");
  EXPECT_EQ(open.back().caption, "Choose a zip file to Open");

  // Loaded, not extracted, queue off: the question; No keeps the archive.
  prompt_.Clear();
  prompt_.QueueAnswer(TPromptAnswer::No);
  page_->DoOpenUnzip();
  EXPECT_TRUE(prompt_.Saw("CLEAR THE ENTRIES AND LOAD A NEW ZIP FILE?"));
  EXPECT_EQ(Keys().size(), 2u);
  EXPECT_EQ(form_->windowTitle().toStdString(), "Tandor : backup.zip.zip");

  // Yes, then a file that is no archive: nothing opened, the empty list, the idle buttons.
  prompt_.Clear();
  prompt_.QueueAnswer(TPromptAnswer::Yes);
  prompt_.QueuePath((work_ / "notes.txt").string());
  page_->DoOpenUnzip();
  EXPECT_EQ(page_->UnzipListView->Count(), 0);
  EXPECT_EQ(form_->windowTitle().toStdString(), "Tandor");
  EXPECT_TRUE(page_->OpenUnzipButton->isEnabled());
  EXPECT_FALSE(page_->UnzipButton->isEnabled());

  // After an extraction the next OPEN clears without asking.
  Open(work_ / "second.zip");
  form_->SetArchiveExtracted(true);
  prompt_.Clear();
  prompt_.QueuePath((work_ / "backup.zip.zip").string());
  page_->DoOpenUnzip();
  EXPECT_FALSE(prompt_.Saw("CLEAR THE ENTRIES"));
  EXPECT_EQ(Keys().size(), 2u);
  EXPECT_FALSE(form_->ArchiveExtracted());

  // With the queue on, the loaded archive goes to the queue; a cancelled dialog leaves the page usable.
  form_->Settings().QueueEnabled = true;
  prompt_.Clear();
  page_->DoOpenUnzip();
  EXPECT_FALSE(prompt_.Saw("CLEAR THE ENTRIES"));
  EXPECT_NE(std::find(form_->QueueList().begin(), form_->QueueList().end(), (work_ / "backup.zip.zip").string()),
            form_->QueueList().end());
  EXPECT_EQ(page_->UnzipListView->Count(), 0);
  EXPECT_TRUE(page_->OpenUnzipButton->isEnabled());
  EXPECT_TRUE(page_->UnzipListView->isEnabled());
}

TEST_F(UnzipPageTest, ResetAndIdleButtonsOfEveryPage) {
  MakePythonZip(work_ / "r.zip", {{"a.txt", "a"}, {"b/c.txt", "c"}});
  form_->Settings().SelectAllOnLoad = false;
  Open(work_ / "r.zip");
  EXPECT_TRUE(page_->UnzipListView->SelectedRows().empty()) << "SelectAllOnLoad off: nothing highlighted";
  page_->ResetUnzipPage();
  EXPECT_EQ(form_->windowTitle().toStdString(), "Tandor");
  EXPECT_EQ(page_->UnzipNumFilesEdit->text().toStdString(), "0");
  EXPECT_EQ(page_->UnzipTotalFileSizeEdit->text().toStdString(), "0");
  EXPECT_TRUE(form_->CurrentArchiveFile().empty());
  EXPECT_EQ(page_->UnzipListView->Count(), 0);
  for (QWidget* w : std::vector<QWidget*>{page_->UnzipListView, page_->OpenUnzipButton, page_->UnzipCloseButton,
                                          page_->UnzipHelpButton, page_->CLRButton, page_->MoveBatchButton})
    EXPECT_TRUE(w->isEnabled());
  for (QPushButton* b : {page_->SelectAllButton, page_->UnSelectAllButton, page_->TreeButton, page_->SelectButton,
                         page_->FolderFilterButton, page_->UnzipResetButton, page_->SaveQueueButton, page_->UnzipButton,
                         page_->SaveUnzipFileButton, page_->TAGButton})
    EXPECT_FALSE(b->isEnabled()) << b->text().toStdString();
  EXPECT_EQ(page_->SpiderButton->isEnabled(), page_->SiblingProgramFound);
}

TEST_F(UnzipPageTest, OptionsOpenOnThePageOfTheLoadedType) {
  std::string shown;
  modalAnswer_ = [&](QDialog& d, const char*) {
    shown = d.findChild<QTabWidget*>() ? d.findChild<QTabWidget*>()->tabText(d.findChild<QTabWidget*>()->currentIndex()).toStdString() : "";
    return int(QDialog::Rejected);
  };
  MakePythonZip(work_ / "o.zip", {{"a.txt", "a"}});
  Open(work_ / "o.zip");
  page_->UnzipPropertiesButtonClick();
  EXPECT_EQ(shown, "UNZIP");
  ASSERT_FALSE(windows_.empty());
  EXPECT_EQ(windows_.back(), "TPropertiesForm:Zip File Properties");
  form_->SetCurrentArchiveFile((work_ / "x.tar.gz").string());
  page_->UnzipPropertiesButtonClick();
  EXPECT_EQ(shown, "Tar GZ ");
  EXPECT_FALSE(form_->ModalDialogOpen());
}
