// The end of an extraction from the unzip page: STOP mid-run (quiet, nothing half-written), and the
// status line with the count written, the folder and "Show files".
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <functional>
#include <random>

#include "UnzipPageFixture.h"
#include "app/TandorForm.h"
#include "pages/common/FileList.h"
#include "pages/unzip/UnzipPage.h"

namespace {

// A scripted prompt that runs a hook (on the asking thread) before it answers a message box.
class THookedPrompt : public TScriptedPrompt {
 public:
  std::function<void()> BeforeMessage;
  TPromptAnswer ShowMessage(const std::string& caption, const std::string& text, TPromptIcon icon,
                            TPromptButtons buttons) override {
    if (BeforeMessage) BeforeMessage();
    return TScriptedPrompt::ShowMessage(caption, text, icon, buttons);
  }
};

std::string Noise(size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(size, '\0');
  for (char& c : s) c = static_cast<char>(gen() & 0xFF);
  return s;
}

class UnzipEndTest : public UnzipPageTest {
 protected:
  void SetUp() override {
    UnzipPageTest::SetUp();
    SetDesktopLauncher(&launcher_);
    src_ = work_ / "src";
    dest_ = work_ / "dest";
    fs::create_directories(src_);
    fs::create_directories(dest_);
  }
  void TearDown() override {
    SetDesktopLauncher(nullptr);
    UnzipPageTest::TearDown();
  }
  std::string Status() const { return page_->UnzipStatusBar->currentMessage().toStdString(); }
  bool ShowFilesShown() const { return page_->ShowFilesButton->isVisibleTo(page_); }

  TRecordingLauncher launcher_;
  fs::path src_, dest_;
};

}  // namespace

// Every kind the page extracts ends with the count written and the folder; "Show files" hands the
// folder to the desktop's file manager.
TEST_F(UnzipEndTest, StatusLineNamesTheCountAndTheFolder) {
  testenv::WriteFile(src_ / "docs" / "a.txt", "alpha");
  testenv::WriteFile(src_ / "docs" / "b.txt", "beta");
  testenv::WriteFile(src_ / "c.txt", "gamma");
  MakePythonZip(work_ / "k.zip", {{"docs/a.txt", "alpha"}, {"docs/b.txt", "beta"}, {"c.txt", "gamma"}});
  RunIn(src_, "tar -cf ../k.tar docs c.txt && tar -czf ../k.tar.gz docs c.txt && gzip -N -c c.txt > ../c.txt.gz");
  struct Case {
    const char* archive;
    int files;
  } cases[] = {{"k.zip", 3}, {"k.tar", 3}, {"k.tar.gz", 3}, {"c.txt.gz", 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.archive);
    page_->ResetUnzipPage();
    const fs::path into = dest_ / c.archive;
    fs::create_directories(into);
    Open(work_ / c.archive);
    page_->UnzipListView->SelectAllRows();
    EXPECT_FALSE(page_->UnzipStopButton->isEnabled()) << "STOP is off while nothing runs";
    launcher_.calls.clear();
    Unzip(into);
    const std::string expected =
        (c.files == 1 ? std::string("1 file") : std::to_string(c.files) + " files") + " unzipped to " + into.string();
    EXPECT_EQ(Status(), expected);
    EXPECT_EQ(testenv::ListTree(into).size() - (c.files == 3 ? 1u : 0u), static_cast<size_t>(c.files))
        << "the line counts what is on disk";
    ASSERT_TRUE(ShowFilesShown());
    EXPECT_TRUE(launcher_.calls.empty()) << "nothing is opened unasked";
    page_->ShowFilesButton->click();
    ASSERT_EQ(launcher_.calls.size(), 1u);
    EXPECT_EQ(launcher_.calls[0].how, "open");
    EXPECT_EQ(launcher_.calls[0].path, into.string());
    EXPECT_FALSE(page_->UnzipStopButton->isEnabled());
    EXPECT_TRUE(prompt_.Texts().empty()) << ::testing::PrintToString(prompt_.Texts());
  }

  // A new listing takes the line and the button away.
  Open(work_ / "k.zip");
  EXPECT_TRUE(Status().empty()) << Status();
  EXPECT_FALSE(ShowFilesShown());

  // A run that wrote nothing (every file kept) says nothing of files written and offers nothing.
  page_->UnzipListView->SelectAllRows();
  prompt_.QueueAnswer(TPromptAnswer::NoToAll);
  Unzip(dest_ / "k.zip");
  EXPECT_TRUE(Status().empty()) << Status();
  EXPECT_FALSE(ShowFilesShown());
}

// STOP while a run waits on a question: the run ends quietly (no error box), the page is idle again,
// and every file on disk is whole: the one being written when the stop came is either complete or
// absent, never cut short, and no temporary name stays behind.
TEST_F(UnzipEndTest, StopMidRunIsQuietAndLeavesNoPartialFile) {
  // Twelve entries come before the question about "mid.txt" (written, or in work when STOP comes),
  // twelve after it.
  std::vector<std::pair<std::string, std::string>> entries;
  for (unsigned i = 0; i < 24; ++i) {
    if (i == 12) entries.emplace_back("mid.txt", "new mid");
    entries.emplace_back("part" + std::to_string(10 + i) + ".bin", Noise(400000, i));
  }
  MakePythonZip(work_ / "s.zip", entries);
  std::string names;
  for (const auto& [name, data] : entries) {
    testenv::WriteFile(src_ / name, data);
    names += " " + name;
  }
  RunIn(src_, "tar -cf ../s.tar" + names);

  for (const char* archive : {"s.zip", "s.tar"}) {
    SCOPED_TRACE(archive);
    page_->ResetUnzipPage();
    const fs::path into = dest_ / archive;
    fs::create_directories(into);
    testenv::WriteFile(into / "mid.txt", "old mid");
    Open(work_ / archive);
    page_->UnzipListView->SelectAllRows();

    THookedPrompt prompt;
    bool stopWasOn = false;
    prompt.BeforeMessage = [&] {
      // The user presses STOP while the question is open, then answers it.
      QMetaObject::invokeMethod(
          page_->UnzipStopButton,
          [&] {
            stopWasOn = page_->UnzipStopButton->isEnabled();
            page_->UnzipStopButton->click();
          },
          Qt::BlockingQueuedConnection);
    };
    prompt.QueueAnswer(TPromptAnswer::Yes);
    prompt.QueuePath(into.string());
    page_->UnzipButtonClick();
    WaitWhileBusy();

    EXPECT_TRUE(stopWasOn) << "STOP is on while the run goes";
    ASSERT_EQ(prompt.Texts().size(), 1u) << "only the question, no error: " << ::testing::PrintToString(prompt.Texts());
    EXPECT_FALSE(form_->ArchiveExtracted()) << "a stopped run did not extract the archive";
    EXPECT_FALSE(page_->UnzipStopButton->isEnabled());
    EXPECT_TRUE(page_->UnzipButton->isEnabled()) << "the page is idle again";
    EXPECT_EQ(page_->UnzipProgressBar->value(), 0);

    size_t whole = 0;
    for (const std::string& name : testenv::ListTree(into)) {
      const auto it = std::find_if(entries.begin(), entries.end(), [&](const auto& e) { return e.first == name; });
      ASSERT_NE(it, entries.end()) << "a name no entry has: " << name;
      if (name == "mid.txt") continue;  // replaced or kept, both whole
      EXPECT_EQ(testenv::ReadFile(into / name), it->second) << name << " is cut short";
      ++whole;
    }
    const std::string mid = testenv::ReadFile(into / "mid.txt");
    EXPECT_TRUE(mid == "old mid" || mid == "new mid") << mid;
    EXPECT_LT(whole, entries.size() - 1) << "the run went on to the end after STOP";
    const size_t written = whole + (mid == "new mid" ? 1 : 0);
    const std::string count = written == 0   ? std::string("no files")
                              : written == 1 ? std::string("1 file")
                                             : std::to_string(written) + " files";
    EXPECT_EQ(Status(), "Stopped: " + count + " unzipped to " + into.string())
        << "the line counts the files the stopped run left on disk";
    EXPECT_EQ(ShowFilesShown(), written > 0);
  }
}

// STOP pressed when no run goes does nothing.
TEST_F(UnzipEndTest, StopWithoutRunDoesNothing) {
  MakePythonZip(work_ / "n.zip", {{"a.txt", "A"}});
  Open(work_ / "n.zip");
  page_->UnzipStopButtonClick();
  page_->UnzipListView->SelectAllRows();
  Unzip(dest_);
  EXPECT_EQ(testenv::ReadFile(dest_ / "a.txt"), "A");
  EXPECT_EQ(Status(), "1 file unzipped to " + dest_.string());
}

// A cancel the user asked for, in any question of any kind of archive, ends the run without an error
// box: the page is idle again, the archive is not marked extracted, nothing is written in place of
// a file the user kept.
TEST_F(UnzipEndTest, CancelsTheUserAskedForAreQuiet) {
  testenv::WriteFile(src_ / "keep.txt", "archive copy");
  testenv::WriteFile(src_ / "other.txt", "other");
  RunIn(src_, "tar -cf ../q.tar keep.txt other.txt && tar -czf ../q.tar.gz keep.txt other.txt && "
              "gzip -N -c keep.txt > ../keep.txt.gz && zip -q -P pw ../secret.zip keep.txt other.txt");
  const fs::path rar = testenv::TestDataDir() / "rar" / "test_read_format_rar_encryption_partially.rar";
  struct Case {
    const char* name;
    fs::path archive;
    std::function<void()> script;  // the user's answers
    const char* kept;              // a file on disk the run must leave as it is ("" for none)
  } cases[] = {
      {"zip password: Abort", work_ / "secret.zip", [&] { prompt_.QueueText(TScriptedPrompt::kAbort); }, ""},
      {"tar overwrite: Cancel", work_ / "q.tar", [&] { prompt_.QueueAnswer(TPromptAnswer::Cancel); }, "keep.txt"},
      {"tar.gz overwrite: Cancel", work_ / "q.tar.gz", [&] { prompt_.QueueAnswer(TPromptAnswer::Cancel); },
       "keep.txt"},
      {"gzip replace: No", work_ / "keep.txt.gz", [&] { prompt_.QueueAnswer(TPromptAnswer::No); }, "keep.txt"},
      {"RAR password: Cancel", rar, [&] { prompt_.QueueText(TScriptedPrompt::kCancel); }, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    page_->ResetUnzipPage();
    const fs::path into = dest_ / c.name;
    fs::create_directories(into);
    if (*c.kept) testenv::WriteFile(into / c.kept, "the user's own");
    Open(c.archive);
    page_->UnzipListView->SelectAllRows();
    prompt_.Clear();
    c.script();
    Unzip(into);
    std::vector<std::string> boxes;
    for (const auto& h : prompt_.History())
      if (h.kind == "message" && h.text.find("REPLACE") == std::string::npos &&
          h.text.find("THE FILE IN THE ZIP FILE") == std::string::npos)
        boxes.push_back(h.text);
    EXPECT_EQ(boxes, std::vector<std::string>{}) << "no box besides the question";
    EXPECT_GE(prompt_.History().size(), 2u) << "the question was asked";
    if (*c.kept) {
      EXPECT_EQ(testenv::ReadFile(into / c.kept), "the user's own");
    }
    EXPECT_FALSE(form_->ArchiveExtracted());
    EXPECT_TRUE(page_->UnzipButton->isEnabled());
    EXPECT_FALSE(page_->UnzipStopButton->isEnabled());
  }
}
