// Extraction from the unzip page: highlighted rows only, overwrite answers, the security window,
// the room checks. In every case the files on disk are compared with what must be there.
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>

#include "UnzipPageFixture.h"
#include "app/OpenDispatch.h"
#include "app/TandorForm.h"
#include "pages/common/FileList.h"
#include "pages/sfx/SfxPage.h"
#include "pages/unzip/UnzipPage.h"
#include "pages/unzip/ZipSecurityForm.h"
#include "platform/FileSystem.h"
#include "zip/ZipKit.h"

namespace {

using Tree = std::vector<std::string>;

class ZipExtractionTest : public UnzipPageTest {
 protected:
  void SetUp() override {
    UnzipPageTest::SetUp();
    sandbox_ = work_ / "sandbox";
    dest_ = sandbox_ / "dest";
    fs::create_directories(dest_);
  }
  // The destination's tree; also checks that nothing was written beside it.
  Tree DestTree() {
    for (const std::string& e : testenv::ListTree(sandbox_))
      EXPECT_EQ(e.rfind("dest/", 0), 0u) << "written outside the destination: " << e;
    return testenv::ListTree(dest_);
  }
  int RowOf(const std::string& key) {
    const auto keys = Keys();
    for (size_t i = 0; i < keys.size(); ++i)
      if (keys[i] == key) return static_cast<int>(i);
    ADD_FAILURE() << key << " not listed";
    return 0;
  }
  void Highlight(const std::vector<std::string>& keys) {
    page_->UnzipListView->SelectNone();
    for (const std::string& k : keys) page_->UnzipListView->SelectRow(RowOf(k));
  }
  fs::path sandbox_, dest_;
};

}  // namespace

TEST_F(ZipExtractionTest, OnlyHighlightedRowsAreWritten) {
  MakePythonZip(work_ / "h.zip", {{"a.txt", "A"}, {"dir/b.txt", "B"}, {"dir/sub/c.txt", "C"}, {"d.txt", "D"}});
  Open(work_ / "h.zip");
  Highlight({"dir/b.txt", "d.txt"});
  Unzip(dest_);
  EXPECT_EQ(DestTree(), (Tree{"d.txt", "dir/", "dir/b.txt"}));
  EXPECT_EQ(testenv::ReadFile(dest_ / "dir" / "b.txt"), "B");
  EXPECT_TRUE(form_->ArchiveExtracted());
  EXPECT_EQ(page_->UnzipProgressBar->value(), 0);
  EXPECT_TRUE(page_->UnzipButton->isEnabled()) << "controls are enabled again";
  const auto history = prompt_.History();
  ASSERT_FALSE(history.empty());
  EXPECT_EQ(history.front().kind, "folder");
  EXPECT_EQ(prompt_.Texts().size(), 0u) << "no completion message";

  // Nothing highlighted: the message, nothing written.
  fs::remove_all(dest_);
  fs::create_directories(dest_);
  page_->UnzipListView->SelectNone();
  Unzip(dest_);
  EXPECT_TRUE(prompt_.Saw("NO FILES HAVE BEEN HIGHLIGHTED!"));
  EXPECT_TRUE(DestTree().empty());

  // Everything highlighted, folders recreated off: all files flat in the destination.
  form_->Settings().UnzipFolders = false;
  page_->UnzipListView->SelectAllRows();
  Unzip(dest_);
  EXPECT_EQ(DestTree(), (Tree{"a.txt", "b.txt", "c.txt", "d.txt"}));

  // No folder chosen: nothing happens.
  prompt_.Clear();
  page_->UnzipButtonClick();
  WaitWhileBusy();
  EXPECT_TRUE(prompt_.Texts().empty());
}

TEST_F(ZipExtractionTest, FromTheFilteredList) {
  MakePythonZip(work_ / "f.zip", {{"a.txt", "A"}, {"p/b.jpg", "B"}, {"p/c.jpg", "C"}});
  Open(work_ / "f.zip");
  // A filter showing the two pictures; the second highlighted there.
  std::vector<TListRow> filtered;
  for (int r : {RowOf("p/b.jpg"), RowOf("p/c.jpg")}) {
    TListRow row = page_->UnzipListView->Model()->Row(r);
    row.Data = r;
    filtered.push_back(row);
  }
  page_->UnzipFilteredListView->Model()->SetRows(std::move(filtered));
  page_->ShowFilteredList();
  page_->UnzipListView->SelectNone();
  page_->UnzipFilteredListView->SelectRow(1);
  Unzip(dest_);
  EXPECT_EQ(DestTree(), (Tree{"p/", "p/c.jpg"}));
  EXPECT_FALSE(page_->FilteredShown()) << "the full list is shown afterwards";
  EXPECT_EQ(page_->UnzipFilteredListView->Count(), 0);
}

TEST_F(ZipExtractionTest, OverwriteAnswers) {
  MakePythonZip(work_ / "o.zip", {{"a.txt", "new a"}, {"b.txt", "new b"}, {"c.txt", "new c"}, {"d.txt", "new d"}});
  Open(work_ / "o.zip");
  const auto reset = [&] {
    for (const char* n : {"a.txt", "b.txt", "c.txt"}) testenv::WriteFile(dest_ / n, "old");
    fs::remove(dest_ / "d.txt");
    prompt_.Clear();
  };
  // Which file each question was about, in the order asked.
  const auto asked = [&] {
    std::vector<std::string> files;
    for (const std::string& t : prompt_.Texts())
      if (t.find("THE FILE IN THE ZIP FILE") != std::string::npos) files.push_back(t.substr(0, t.find('\n')));
    return files;
  };
  const auto content = [&](const char* n) { return testenv::ReadFile(dest_ / n); };

  // Yes then No: the first file asked about is replaced, the second kept, the third replaced.
  reset();
  prompt_.QueueAnswer(TPromptAnswer::Yes);
  prompt_.QueueAnswer(TPromptAnswer::No);
  prompt_.QueueAnswer(TPromptAnswer::Yes);
  Unzip(dest_);
  auto q = asked();
  ASSERT_EQ(q.size(), 3u) << "one question per existing file";
  for (size_t i = 0; i < 3; ++i) {
    std::string lower = q[i];
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(content(lower.c_str()), i == 1 ? "old" : "new " + lower.substr(0, 1)) << lower;
  }
  EXPECT_EQ(content("d.txt"), "new d") << "a new file needs no question";
  EXPECT_TRUE(prompt_.Texts()[0].find("TO REPLACE THIS FILE CHOOSE  YES") != std::string::npos);

  // Yes to All: one question, every file replaced.
  reset();
  prompt_.QueueAnswer(TPromptAnswer::YesToAll);
  Unzip(dest_);
  EXPECT_EQ(asked().size(), 1u);
  for (const char* n : {"a.txt", "b.txt", "c.txt"}) EXPECT_EQ(content(n), std::string("new ") + n[0]);

  // No to All: one question, nothing replaced.
  reset();
  prompt_.QueueAnswer(TPromptAnswer::NoToAll);
  Unzip(dest_);
  EXPECT_EQ(asked().size(), 1u);
  for (const char* n : {"a.txt", "b.txt", "c.txt"}) EXPECT_EQ(content(n), "old");
  EXPECT_EQ(content("d.txt"), "new d");

  // The overwrite setting replaces without asking.
  reset();
  form_->Settings().UnzipOverwrite = true;
  Unzip(dest_);
  EXPECT_TRUE(asked().empty());
  for (const char* n : {"a.txt", "b.txt", "c.txt"}) EXPECT_EQ(content(n), std::string("new ") + n[0]);
  EXPECT_EQ(DestTree(), (Tree{"a.txt", "b.txt", "c.txt", "d.txt"}));
}

TEST_F(ZipExtractionTest, OverwriteQuestionShowsStoredNamesAndCancelEndsTheRun) {
  MakePythonZip(work_ / "c.zip", {{"ReadMe.TXT", "new readme"}, {"later.txt", "later"}});
  Open(work_ / "c.zip");
  testenv::WriteFile(dest_ / "ReadMe.TXT", "old");
  prompt_.QueueAnswer(TPromptAnswer::Cancel);
  Unzip(dest_);
  ASSERT_FALSE(prompt_.Texts().empty());
  EXPECT_EQ(prompt_.Texts()[0].substr(0, prompt_.Texts()[0].find('\n')), "ReadMe.TXT");
  EXPECT_EQ(testenv::ReadFile(dest_ / "ReadMe.TXT"), "old");
  EXPECT_EQ(DestTree(), Tree{"ReadMe.TXT"}) << "nothing is written after Cancel";
  EXPECT_EQ(prompt_.Texts().size(), 1u) << "a cancel is quiet: " << ::testing::PrintToString(prompt_.Texts());
}

// The window lists exactly the names that extraction would move (the safe-output library decides):
// dots inside a name are harmless, a drive or a "..\\" is not.
TEST_F(ZipExtractionTest, SecurityWindowListsWhatCleaningMoves) {
  MakePythonZip(work_ / "names.zip",
                {{"a../b.txt", "1"}, {"c..d.txt", "2"}, {"C:drive.txt", "3"}, {"..\\back.txt", "4"}});
  Open(work_ / "names.zip");
  ASSERT_EQ(page_->UnzipListView->Count(), 4);
  QStringList lines;
  modalAnswer_ = [&](QDialog& d, const char*) {
    lines = static_cast<TZipSecurityForm&>(d).Lines();
    return TZipSecurityForm::kIgnore;
  };
  Unzip(dest_);
  EXPECT_EQ(lines.size(), 2) << lines.join('\n').toStdString();
  EXPECT_TRUE(lines.contains("C:drive.txt,  ")) << lines.join('\n').toStdString();
  EXPECT_TRUE(lines.contains("back.txt,  ../")) << lines.join('\n').toStdString();
  EXPECT_EQ(DestTree(), (Tree{"a../", "a../b.txt", "back.txt", "c..d.txt", "drive.txt"}));
}

TEST_F(ZipExtractionTest, SecurityWindowAnswers) {
  MakePythonZip(work_ / "evil.zip",
                {{"good.txt", "good"}, {"../evil.txt", "up"}, {"/abs/evil.txt", "root"}, {"sub/../../x.txt", "x"}});
  struct Case {
    int answer;
    Tree expected;
  };
  const std::vector<Case> cases = {
      {TZipSecurityForm::kDoNotUnzip, {"good.txt"}},
      {TZipSecurityForm::kHalt, {}},
      // Ignored: the names are brought inside the destination.
      {TZipSecurityForm::kIgnore, {"abs/", "abs/evil.txt", "evil.txt", "good.txt", "sub/", "sub/x.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    fs::remove_all(sandbox_);
    fs::create_directories(dest_);
    page_->ResetUnzipPage();
    Open(work_ / "evil.zip");
    ASSERT_EQ(page_->UnzipListView->Count(), 4);
    QStringList lines;
    modalAnswer_ = [&](QDialog& d, const char* name) {
      EXPECT_STREQ(name, "TZipSecurityForm");
      lines = static_cast<TZipSecurityForm&>(d).Lines();
      return c.answer;
    };
    windows_.clear();
    Unzip(dest_);
    ASSERT_EQ(windows_.size(), 1u);
    EXPECT_EQ(windows_[0], "TZipSecurityForm:ZIP FILE SECURITY THREAT");
    EXPECT_TRUE(lines.contains("evil.txt,  ../"));
    EXPECT_TRUE(lines.contains("evil.txt,  /abs/"));
    EXPECT_TRUE(lines.contains("x.txt,  sub/../../"));
    EXPECT_FALSE(lines.join('\n').contains("good.txt"));
    EXPECT_EQ(DestTree(), c.expected);
    EXPECT_EQ(page_->UnzipListView->Count(), c.answer == TZipSecurityForm::kDoNotUnzip ? 1 : 4);
    if (c.answer == TZipSecurityForm::kIgnore) {
      // The engine says what it changed; a run with warnings does not count as extracted.
      EXPECT_TRUE(prompt_.Saw("ERROR : ../evil.txt: unsafe path elements removed"));
    } else {
      EXPECT_EQ(form_->ArchiveExtracted(), c.answer == TZipSecurityForm::kDoNotUnzip);
    }
    EXPECT_FALSE(fs::exists(work_ / "evil.txt"));
    EXPECT_FALSE(fs::exists(sandbox_ / "evil.txt"));
    EXPECT_FALSE(fs::exists(sandbox_ / "x.txt"));
    EXPECT_FALSE(form_->ModalDialogOpen());
  }
  EXPECT_FALSE(fs::exists("/abs/evil.txt"));
}

TEST_F(ZipExtractionTest, RoomOnTheDestination) {
  // 10 bytes highlighted of 3,000,000 in the archive: the whole archive must fit.
  MakePythonZip(work_ / "room.zip", {{"small.txt", "0123456789"}, {"big.bin", std::string(2999990, 'z')}});
  Open(work_ / "room.zip");
  Highlight({"small.txt"});
  // Only the destination's file system is short of room: the page must ask about that one.
  testenv::SetFreeSpace(dest_.string() + "=2999999;" + std::to_string(int64_t{1} << 40));
  Unzip(dest_);
  EXPECT_TRUE(prompt_.Saw("THERE IS NOT ENOUGH ROOM ON THIS DISK DRIVEFOR THE UNZIPPED FILES."));
  EXPECT_TRUE(DestTree().empty());
  EXPECT_TRUE(page_->UnzipListView->isEnabled());

  // Exactly enough room, but under 50 MB on the system's file system: the warning when the
  // destination is on it (Cancel ends the run), none otherwise.
  testenv::SetFreeSpace(49999999);
  prompt_.Clear();
  prompt_.QueueAnswer(TPromptAnswer::Cancel);
  Unzip(dest_);
  const bool systemDisk = SameFileSystem(dest_.string(), "/");
  EXPECT_EQ(prompt_.Saw("THIS DRIVE HAS\n49 MEGABYTES OF FREE SPACE REMAINING"), systemDisk);
  EXPECT_EQ(DestTree(), systemDisk ? Tree{} : Tree{"small.txt"});

  testenv::SetFreeSpace(50000000);
  prompt_.Clear();
  Unzip(dest_);
  EXPECT_FALSE(prompt_.Saw("MEGABYTES OF FREE SPACE REMAINING"));
  EXPECT_EQ(DestTree(), Tree{"small.txt"});
}

// A self-extracting program opened from outside (the file manager routes ".run" here) is listed as
// the zip archive it carries and extracted like one; the self-extracting page takes it from there
// as a program (CONVERT and RESET only) and turns it back into a zip archive, listed again.
TEST_F(ZipExtractionTest, SelfExtractingProgramIsListedExtractedAndConvertedBack) {
  MakePythonZip(work_ / "p.zip", {{"a.txt", "A"}, {"dir/b.txt", "B"}});
  TZipKit kit;
  kit.HowToDelete = htdFinal;
  kit.SetZipFileName((work_ / "p.zip").string());
  ASSERT_EQ(kit.ConvertToSfx(), 0) << kit.LastMessage;
  const std::string program = (work_ / "p.run").string();
  ASSERT_EQ(RouteByFileType(program), TOpenRoute::Zip);

  form_->SetCurrentArchiveFile(program);
  form_->Dispatch().StartOpenThread();
  form_->Dispatch().WaitForOpenThread();
  WaitWhileBusy();
  EXPECT_EQ(prompt_.Texts(), std::vector<std::string>{}) << "no warning about the bytes in front";
  auto keys = Keys();
  std::sort(keys.begin(), keys.end());
  EXPECT_EQ(keys, (std::vector<std::string>{"a.txt", "dir/b.txt"}));
  page_->UnzipListView->SelectAllRows();
  Unzip(dest_);
  EXPECT_EQ(DestTree(), (Tree{"a.txt", "dir/", "dir/b.txt"}));
  EXPECT_EQ(testenv::ReadFile(dest_ / "dir" / "b.txt"), "B");

  const std::string shown = form_->CurrentArchiveFile();
  ASSERT_EQ(form_->RequestPage(kSfxPage), kSfxPage);
  TSfxPage* sfx = form_->SfxPage();
  EXPECT_EQ(page_->UnzipListView->Count(), 0);
  EXPECT_EQ(sfx->ZipFileNameLabel->text().toStdString(), "p.run");
  EXPECT_TRUE(sfx->SFXCreateButton->isEnabled());
  EXPECT_TRUE(sfx->SFXResetButton->isEnabled());
  EXPECT_FALSE(sfx->CaptionEdit->isEnabled()) << "a program's settings are not edited";
  EXPECT_FALSE(sfx->SelectAutoStartButton->isEnabled());

  prompt_.Clear();
  sfx->SFXCreateButtonClick();
  EXPECT_TRUE(prompt_.Saw("WAS CONVERTED TO A REGULAR ZIP FILE")) << testing::PrintToString(prompt_.Texts());
  const fs::path zip = fs::path(shown).replace_extension(".zip");
  EXPECT_FALSE(fs::exists(shown));
  ASSERT_TRUE(fs::exists(zip));
  std::string out;
  EXPECT_EQ(testenv::Run("unzip -tqq " + testenv::Quote(zip.string()) + " 2>&1", &out), 0) << out;
  ASSERT_EQ(form_->RequestPage(kUnzipPage), kUnzipPage);
  WaitWhileBusy();
  EXPECT_EQ(form_->CurrentArchiveFile(), zip.string());
  EXPECT_EQ(page_->UnzipListView->Count(), 2);
}
