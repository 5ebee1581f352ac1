// RAR archives on the unzip page: the sample archives list with their sizes, extract with the right
// bytes, ask overwrite and password questions by script, and end without an "End of archive" box.
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>

#include "UnzipPageFixture.h"
#include "app/TandorForm.h"
#include "pages/common/FileList.h"
#include "pages/unzip/UnzipPage.h"
#include "platform/Paths.h"

namespace {

using Tree = std::vector<std::string>;

class RarPageTest : public UnzipPageTest {
 protected:
  void SetUp() override {
    UnzipPageTest::SetUp();
    dest_ = work_ / "sandbox" / "dest";
    fs::create_directories(dest_);
  }
  static fs::path Sample(const std::string& name) { return testenv::TestDataDir() / "rar" / name; }
  // The "sha256  ./name" lines of the sample's expected extraction.
  static std::vector<std::string> ExpectedSums(const std::string& name) {
    std::vector<std::string> lines;
    const std::string text = testenv::ReadFile(testenv::TestDataDir() / "rar" / "expected" / (name + ".sha256"));
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
      const std::string line = text.substr(start, end - start);
      if (line.rfind("exit=", 0) != 0 && !line.empty()) lines.push_back(line.substr(0, 64) + "  " + line.substr(68));
    }
    std::sort(lines.begin(), lines.end());
    return lines;
  }
  std::vector<std::string> WrittenSums() {
    std::string out;
    EXPECT_EQ(testenv::Run("cd " + testenv::Quote(dest_.string()) + " && find . -type f | sort | xargs -r sha256sum", &out), 0);
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1)
      lines.push_back(out.substr(start, 64) + "  " + out.substr(start + 68, end - start - 68));
    std::sort(lines.begin(), lines.end());
    return lines;
  }
  fs::path dest_;
};

}  // namespace

TEST_F(RarPageTest, SamplesListWithTheirSizes) {
  Open(Sample("test_read_format_rar5_stored_manyfiles.rar"));
  std::vector<std::pair<std::string, std::string>> rows;
  for (int r = 0; r < page_->UnzipListView->Count(); ++r) rows.emplace_back(Cell(r, 0), Cell(r, 1));
  std::sort(rows.begin(), rows.end());
  EXPECT_EQ(rows, (std::vector<std::pair<std::string, std::string>>{
                      {"cebula.txt", "814"}, {"make_uue.tcl", "405"}, {"test.bin", "1,200"}}));
  EXPECT_EQ(page_->UnzipTotalFileSizeEdit->text().toStdString(), "2,419");
  EXPECT_EQ(form_->windowTitle().toStdString(), "Tandor : test_read_format_rar5_stored_manyfiles.rar");
  EXPECT_TRUE(page_->UnzipButton->isEnabled());

  // A set of volumes opens from its first part; folders and links are no rows.
  page_->ResetUnzipPage();
  Open(Sample("test_rar_multivolume_single_file.part1.rar"));
  ASSERT_EQ(page_->UnzipListView->Count(), 1);
  EXPECT_EQ(Cell(0, 0), "LibarchiveAddingTest.html");
  EXPECT_EQ(Cell(0, 1), "20,111");
  page_->ResetUnzipPage();
  Open(Sample("test_rar_multivolume_uncompressed_files.part01.rar"));
  std::vector<std::string> keys = Keys();
  std::sort(keys.begin(), keys.end());
  EXPECT_EQ(keys.size(), 6u + 6u) << "six files and six links, no folders";
  EXPECT_NE(std::find(keys.begin(), keys.end(), "testdir/testsubdir/LibarchiveAddingTest.html"), keys.end());

  // Headers encrypted (the password box cancelled), or damaged: no rows, a message that says why, the
  // page usable.
  for (const char* name : {"test_read_format_rar4_encrypted_filenames.rar", "test_read_format_rar_ppmd_use_after_free.rar"}) {
    SCOPED_TRACE(name);
    page_->ResetUnzipPage();
    prompt_.Clear();
    prompt_.QueueText("\x18");
    Open(Sample(name));
    EXPECT_EQ(page_->UnzipListView->Count(), 0);
    EXPECT_TRUE(prompt_.Saw("CANNOT BE READ"));
    EXPECT_TRUE(page_->OpenUnzipButton->isEnabled());
  }
}

TEST_F(RarPageTest, ExtractionWritesTheRightBytesWithoutAnEndOfArchiveBox) {
  Open(Sample("test_read_format_rar5_stored_manyfiles.rar"));
  Unzip(dest_);
  EXPECT_EQ(WrittenSums(), ExpectedSums("test_read_format_rar5_stored_manyfiles.rar"));
  EXPECT_FALSE(prompt_.Saw("End of archive")) << "a good run ends without a box";
  EXPECT_TRUE(prompt_.Texts().empty());
  EXPECT_TRUE(form_->ArchiveExtracted());
  EXPECT_EQ(page_->UnzipProgressBar->value(), 0);

  // Only the highlighted row; an existing file asks with its size in KB, No keeps it.
  fs::remove_all(dest_);
  fs::create_directories(dest_);
  testenv::WriteFile(dest_ / "test.bin", std::string(10240, 'o'));
  prompt_.Clear();
  page_->UnzipListView->SelectNone();
  for (int r = 0; r < page_->UnzipListView->Count(); ++r)
    if (Cell(r, 0) == "test.bin" || Cell(r, 0) == "cebula.txt") page_->UnzipListView->SelectRow(r);
  prompt_.QueueAnswer(TPromptAnswer::No);
  Unzip(dest_);
  ASSERT_FALSE(prompt_.Texts().empty());
  EXPECT_NE(prompt_.Texts()[0].find("test.bin  10 KB  "), std::string::npos) << prompt_.Texts()[0];
  EXPECT_EQ(testenv::ListTree(dest_), (Tree{"cebula.txt", "test.bin"}));
  EXPECT_EQ(testenv::ReadFile(dest_ / "test.bin"), std::string(10240, 'o'));

  // Cancel (and Escape, which answers Cancel) never replaces and ends the run: nothing is written,
  // not even a highlighted entry that is not on disk yet.
  page_->UnzipListView->SelectNone();
  int fresh = -1;
  for (int r = 0; r < page_->UnzipListView->Count(); ++r) {
    if (Cell(r, 0) == "test.bin") page_->UnzipListView->SelectRow(r);
    else if (fresh < 0 && Cell(r, 0) != "cebula.txt" && Cell(r, 1) != "") fresh = r;
  }
  ASSERT_GE(fresh, 0);
  page_->UnzipListView->SelectRow(fresh);
  prompt_.Clear();
  prompt_.QueueAnswer(TPromptAnswer::Cancel);
  Unzip(dest_);
  EXPECT_EQ(prompt_.Texts().size(), 1u);
  EXPECT_EQ(testenv::ListTree(dest_), (Tree{"cebula.txt", "test.bin"}));
  EXPECT_EQ(testenv::ReadFile(dest_ / "test.bin"), std::string(10240, 'o'));

  // Every overwrite declined: the message, nothing written.
  page_->UnzipListView->SelectNone();
  for (int r = 0; r < page_->UnzipListView->Count(); ++r)
    if (Cell(r, 0) == "test.bin") page_->UnzipListView->SelectRow(r);
  prompt_.Clear();
  prompt_.QueueAnswer(TPromptAnswer::NoToAll);
  Unzip(dest_);
  EXPECT_TRUE(prompt_.Saw("YOU HAVE NOT SELECTED ANY FILES TO ADD TO THIS ZIP FILE"));
  EXPECT_EQ(testenv::ReadFile(dest_ / "test.bin"), std::string(10240, 'o'));

  // With the overwrite setting on, no question.
  form_->Settings().UnzipOverwrite = true;
  prompt_.Clear();
  Unzip(dest_);
  EXPECT_TRUE(prompt_.Texts().empty());
  const auto sums = WrittenSums();
  const auto expected = ExpectedSums("test_read_format_rar5_stored_manyfiles.rar");
  EXPECT_EQ(sums.size(), 2u);
  for (const std::string& line : sums)
    EXPECT_NE(std::find(expected.begin(), expected.end(), line), expected.end()) << line;
}

// Encrypted headers: the page asks for the password before listing and extracts with it; a wrong or
// missing password, or a damaged archive, says what the archive is and why it cannot be read.
TEST_F(RarPageTest, EncryptedHeadersAndUnreadableArchives) {
  prompt_.QueueText("12345678");
  Open(Sample("test_read_format_rar_encryption_header.rar"));
  ASSERT_EQ(page_->UnzipListView->Count(), 2);
  prompt_.Clear();
  Unzip(dest_);
  EXPECT_EQ(testenv::ReadFile(dest_ / "foo.txt"), "data of foo.txt\n");
  EXPECT_EQ(testenv::ReadFile(dest_ / "bar.txt"), "data of bar.txt\n");
  int asked = 0;
  for (const auto& h : prompt_.History()) asked += h.kind == "text";
  EXPECT_EQ(asked, 0) << "the password of the listing serves the extraction";

  struct Case {
    const char* sample;
    std::vector<std::string> answers;  // "\x18" cancels the password box
    const char* why;
  } cases[] = {
      {"test_read_format_rar_encryption_header.rar", {"nope", "nope"}, "Incorrect password"},
      {"test_read_format_rar_encryption_header.rar", {"\x18"}, "Password required"},
      {"test_read_format_rar_ppmd_use_after_free.rar", {}, "not a valid RAR archive"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sample);
    page_->ResetUnzipPage();
    prompt_.Clear();
    for (const std::string& a : c.answers) prompt_.QueueText(a);
    Open(Sample(c.sample));
    EXPECT_EQ(page_->UnzipListView->Count(), 0);
    EXPECT_TRUE(prompt_.Saw(c.why)) << c.why;
    EXPECT_TRUE(prompt_.Saw("CANNOT BE READ"));
    EXPECT_FALSE(prompt_.Saw("IN THE ZIPFILE"));
  }
}

TEST_F(RarPageTest, MultiVolumeSetAndEncryptedEntries) {
  Open(Sample("test_rar_multivolume_single_file.part1.rar"));
  Unzip(dest_);
  // bsdtar cannot read this set to its end, so its checksum is no reference: the library checks
  // the entry's CRC itself, and the file is whole.
  const std::string html = testenv::ReadFile(dest_ / "LibarchiveAddingTest.html");
  EXPECT_EQ(html.size(), 20111u);
  EXPECT_NE(html.find("</HTML>", html.size() - 200), std::string::npos);
  EXPECT_TRUE(prompt_.Texts().empty());
  EXPECT_FALSE(prompt_.Saw("End of archive"));

  // Partly encrypted: the password is asked once; a wrong one gets the wrong-password box and leaves
  // nothing of the encrypted entry behind (the run goes on with the plain one), the right one extracts.
  fs::remove_all(dest_);
  fs::create_directories(dest_);
  page_->ResetUnzipPage();
  Open(Sample("test_read_format_rar_encryption_partially.rar"));
  ASSERT_EQ(page_->UnzipListView->Count(), 2);
  prompt_.Clear();
  prompt_.QueueText("secret");
  Unzip(dest_);
  int asked = 0;
  for (const auto& h : prompt_.History())
    asked += h.kind == "text" && (h.caption == "Enter password" || h.caption == "Password");
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(prompt_.Saw("Incorrect password")) << "the page says why the entry was not extracted";
  EXPECT_FALSE(prompt_.Saw("End of archive"));
  EXPECT_EQ(testenv::ListTree(dest_), std::vector<std::string>{"bar.txt"});
  prompt_.Clear();
  prompt_.QueueAnswer(TPromptAnswer::Yes);  // replace the plain entry written by the run before
  prompt_.QueueText("12345678");
  Unzip(dest_);
  EXPECT_EQ(testenv::ReadFile(dest_ / "foo.txt"), "data of foo.txt\n");
  EXPECT_EQ(testenv::ReadFile(dest_ / "bar.txt"), "data of bar.txt\n");

  // Cancelling the password stops the run.
  fs::remove_all(dest_);
  fs::create_directories(dest_);
  prompt_.Clear();
  prompt_.QueueText("\x18");
  Unzip(dest_);
  EXPECT_TRUE(form_->RunState().RarPasswordCancelled);
}

TEST_F(RarPageTest, DamagedArchiveAndMissingLibrary) {
  Open(Sample("test_read_format_rar5_distance_overflow.rar"));
  if (page_->UnzipListView->HasRows()) {
    Unzip(dest_);
    EXPECT_FALSE(prompt_.Texts().empty()) << "a damaged archive ends with an error box";
    EXPECT_FALSE(prompt_.Saw("End of archive"));
    EXPECT_TRUE(form_->RunState().RarErrorSeen);
    EXPECT_FALSE(form_->ArchiveExtracted());
  }

  // The library gone from the program's folder: the extraction says so, nothing breaks.
  page_->ResetUnzipPage();
  Open(Sample("test_read_format_rar5_stored_manyfiles.rar"));
  const fs::path empty = testenv::MakeTempDir("noprogram");
  SetProgramPath((empty / "tandorfile").string());
  prompt_.Clear();
  Unzip(dest_);
  EXPECT_TRUE(prompt_.Saw("Unable to load libunrar.so..."));
  EXPECT_TRUE(testenv::ListTree(dest_).empty());
  EXPECT_TRUE(page_->UnzipButton->isEnabled());
  page_->ResetUnzipPage();
  prompt_.Clear();
  Open(Sample("test_read_format_rar5_stored_manyfiles.rar"));
  EXPECT_TRUE(prompt_.Saw("THERE ARE NO FILES IN THE ZIPFILE THAT THIS PROGRAM CAN READ"));
}
