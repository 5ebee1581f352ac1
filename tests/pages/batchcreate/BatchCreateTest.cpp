// The batch create queue: the "Batch Create" window's rules, unattended runs of every archive type
// checked by the peer tools, the results texts, and jobs that cannot be made (no room, read-only or
// vanished target, vanished source, a tag too long) recorded without a partial archive while the
// next job still runs.
#include <QAbstractButton>
#include <QButtonGroup>
#include <QPlainTextEdit>
#include <QTreeWidget>
#include <sys/stat.h>

#include "CreatePageFixture.h"
#include "core/TextUtil.h"
#include "pages/batchcreate/BatchCreateForm.h"
#include "pages/batchcreate/BatchCreateQueue.h"

namespace {
using namespace createtest;

std::string Sh(const std::string& cmd, int* status = nullptr) {
  std::string out;
  const int rc = testenv::Run(cmd, &out);
  if (status) *status = rc;
  return out;
}

class BatchCreateTest : public CreatePageTest {
 protected:
  void SetUp() override {
    CreatePageTest::SetUp();
    for (const char* tool : {"zip", "unzip", "zipinfo", "gzip", "tar"}) ASSERT_TRUE(testenv::HaveTool(tool)) << tool;
    src_ = testenv::MakeTempDir("src");
    out_ = testenv::MakeTempDir("out");
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
      testenv::WriteFile(src_ / name, std::string(name) + " " + testenv::RandomBytes(3000, name[0], true));
    testenv::WriteFile(src_ / "tree/x.txt", "x\n");
    testenv::WriteFile(src_ / "tree/sub/y.txt", "yy\n");
    TBatchCreateForm::LastType = bjZip;
    Answer("TBatchMessageForm", [this](QDialog& d) {
      results_ = static_cast<TBatchMessageForm&>(d).Memo->toPlainText().toStdString();
      return int(QDialog::Accepted);
    });
  }

  void TearDown() override {
    SetFreeSpaceOverride({});  // the room answers of a test end with it
    CreatePageTest::TearDown();
  }

  std::string F(const char* name) const { return (src_ / name).string(); }
  std::string O(const std::string& name) const { return (out_ / name).string(); }

  // Runs the rows as the window leaves them and waits for the results window; false on time-out.
  bool RunRows(const std::vector<TBatchRow>& rows, int timeoutMs = 120000) {
    QSignalSpy spy(page_->BatchQueue, &TBatchCreateQueue::Finished);
    page_->BatchQueue->Start(rows);
    return spy.wait(timeoutMs);
  }
  std::vector<std::string> ResultLines() const {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= results_.size()) {
      const size_t nl = results_.find('\n', start);
      lines.push_back(results_.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
      if (nl == std::string::npos) break;
      start = nl + 1;
    }
    return lines;
  }
  static std::vector<std::string> Rows(const TBatchCreateForm& w) {
    std::vector<std::string> out;
    for (const TBatchRow& r : w.Rows()) out.push_back(r.Action + "|" + r.Path);
    return out;
  }
  // The enabled buttons of the window, in a fixed order.
  static std::string Enabled(const TBatchCreateForm& w) {
    std::string out;
    const std::pair<const char*, QPushButton*> buttons[] = {
        {"FILENAME", w.FilenameButton}, {"ADD FILES", w.AddFilesButton}, {"ADD FOLDER", w.AddFolderButton},
        {"TAG", w.TagButton},           {"FINISH", w.FinishButton},      {"ZIP", w.ZipButton},
        {"CLEAR", w.ClearButton},       {"REMOVE", w.RemoveButton}};
    for (const auto& [name, b] : buttons)
      if (b->isEnabled()) out += std::string(out.empty() ? "" : ",") + name;
    return out;
  }
  // FILENAME with the type and name given.
  void QueueTarget(TBatchCreateForm& w, int type, const std::string& name) {
    Answer("TBatchSaveTypeForm", [type](QDialog& d) {
      static_cast<TBatchSaveTypeForm&>(d).TypeGroup->button(type)->setChecked(true);
      return int(QDialog::Accepted);
    });
    prompt_.QueuePath(name);
    w.FilenameButtonClick();
  }
  void QueueTag(TBatchCreateForm& w, const std::string& tag) {
    Answer("TBatchTagForm", [tag](QDialog& d) {
      auto& f = static_cast<TBatchTagForm&>(d);
      f.TagEdit->setText(QString::fromStdString(tag));
      return f.OkButton->isEnabled() ? int(QDialog::Accepted) : int(QDialog::Rejected);
    });
    w.tagButtonClick();
  }
  void QueueFiles(TBatchCreateForm& w, const std::vector<std::string>& files) {
    prompt_.QueuePaths(files);
    w.AddFilesButtonClick();
  }

  // Names in the output folder, sorted (partial archives would show here).
  std::vector<std::string> OutNames() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(out_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path src_, out_;
  std::string results_;
};

TEST_F(BatchCreateTest, WindowButtonsFollowTheJob) {
  TBatchCreateForm w(*form_, nullptr);
  EXPECT_EQ(Enabled(w), "FILENAME");
  struct Case {
    int type;
    std::string name, row, enabled;
  };
  const std::vector<Case> cases{
      {bjZip, O("one"), "ZIP Filename|" + O("one.zip"), "ADD FILES,ADD FOLDER,TAG,CLEAR"},
      {bjTarGz, O("two.TAR.GZ"), "TAR.GZ Filename|" + O("two.TAR.GZ"), "ADD FILES,ADD FOLDER,TAG,CLEAR"},
      {bjTar, O("three"), "TAR Filename|" + O("three.tar"), "ADD FILES,ADD FOLDER,CLEAR"},
      {bjGz, O("four"), "GZ Filename|" + O("four.gz"), "ADD FILES,TAG,CLEAR"},
  };
  for (const Case& c : cases) {
    w.ClearButtonClick();
    QueueTarget(w, c.type, c.name);
    EXPECT_EQ(Rows(w), std::vector<std::string>{c.row});
    EXPECT_EQ(Enabled(w), c.enabled) << c.row;
    EXPECT_EQ(TBatchCreateForm::LastType, c.type);
  }
  // A cancelled save dialog adds nothing.
  w.ClearButtonClick();
  prompt_.QueuePath("");
  w.FilenameButtonClick();
  EXPECT_TRUE(w.Rows().empty());
  EXPECT_EQ(Enabled(w), "FILENAME");
}

TEST_F(BatchCreateTest, ThreeFilesAtOnceAndTheGzipJobFinishingItself) {
  TBatchCreateForm w(*form_, nullptr);
  QueueTarget(w, bjZip, O("three.zip"));
  QueueTag(w, "three files");
  QueueFiles(w, {F("a.txt"), F("b.txt"), F("c.txt")});
  EXPECT_EQ(Enabled(w), "ADD FILES,ADD FOLDER,TAG,FINISH,CLEAR");
  w.FinishButtonClick();
  EXPECT_EQ(Enabled(w), "FILENAME,ZIP");
  QueueTarget(w, bjGz, O("one.gz"));
  EXPECT_FALSE(w.AddFolderButton->isEnabled()) << "no folder for a gzip job";
  QueueFiles(w, {F("a.txt"), F("b.txt")});
  EXPECT_EQ(Rows(w), (std::vector<std::string>{"ZIP Filename|" + O("three.zip"), "TAG|three files",
                                               "ADD FILE|" + F("a.txt"), "ADD FILE|" + F("b.txt"),
                                               "ADD FILE|" + F("c.txt"), "FINISH|", "GZ Filename|" + O("one.gz"),
                                               "ADD FILE|" + F("a.txt"), "FINISH|"}));
  EXPECT_EQ(Enabled(w), "FILENAME,ZIP") << "the gzip job finished after its one file";
}

TEST_F(BatchCreateTest, TagDialogRules) {
  TBatchCreateForm w(*form_, nullptr);
  QueueTarget(w, bjGz, O("t.gz"));
  struct Case {
    std::string tag;
    bool added;
  };
  const std::vector<Case> cases{{"", false},                                  // OK stays disabled
                                {"Caf\xC3\xA9", true},                        // Latin-1
                                {"\xE2\x82\xAC 10", false},                   // "€" is not Latin-1: refused
                                {"\xE6\x9D\xB1\xE4\xBA\xAC", false}};
  size_t rows = 1;
  for (const Case& c : cases) {
    prompt_.Clear();
    QueueTag(w, c.tag);
    if (c.added) ++rows;
    EXPECT_EQ(w.Rows().size(), rows) << c.tag;
    EXPECT_EQ(prompt_.Saw("ISO-8859-1"), !c.added && !c.tag.empty()) << c.tag;
  }
  // Zip tags take any text.
  w.ClearButtonClick();
  QueueTarget(w, bjZip, O("t.zip"));
  QueueTag(w, "\xE6\x9D\xB1\xE4\xBA\xAC");
  EXPECT_EQ(w.Rows().back(), (TBatchRow{"TAG", "\xE6\x9D\xB1\xE4\xBA\xAC"}));
}

TEST_F(BatchCreateTest, RemoveDeletesTheWholeJob) {
  // Three jobs; the third unfinished. Each case removes by one row.
  auto fill = [this](TBatchCreateForm& w) {
    QueueTarget(w, bjZip, O("j1.zip"));
    QueueFiles(w, {F("a.txt")});
    w.FinishButtonClick();
    QueueTarget(w, bjTar, O("j2.tar"));
    QueueFiles(w, {F("b.txt"), F("c.txt")});
    w.FinishButtonClick();
    QueueTarget(w, bjZip, O("j3.zip"));
    QueueFiles(w, {F("c.txt")});
  };
  struct Case {
    int row;  // selected
    std::vector<std::string> left;
    bool zip;
  };
  const std::vector<Case> cases{
      {8, {"j1.zip", "j2.tar"}, true},  // the last row: its whole (unfinished) job
      {5, {"j1.zip", "j3.zip"}, true},  // the middle job by its last file
      {0, {"j2.tar", "j3.zip"}, true},  // the first job by its target row
  };
  for (const Case& c : cases) {
    TBatchCreateForm w(*form_, nullptr);
    fill(w);
    ASSERT_EQ(w.RowCount(), 9);
    w.ListView->setCurrentItem(w.ListView->topLevelItem(c.row));
    EXPECT_TRUE(w.RemoveButton->isEnabled());
    w.RemoveButtonClick();
    std::vector<std::string> targets;
    for (const TBatchRow& r : w.Rows())
      if (r.Action.find("Filename") != std::string::npos) targets.push_back(ExtractFileName(r.Path));
    EXPECT_EQ(targets, c.left) << c.row;
    EXPECT_EQ(Enabled(w), c.zip ? "FILENAME,ZIP" : "FILENAME") << c.row;
  }
  // Removing the only job leaves nothing to run.
  TBatchCreateForm w(*form_, nullptr);
  QueueTarget(w, bjZip, O("only.zip"));
  QueueFiles(w, {F("a.txt")});
  w.ListView->setCurrentItem(w.ListView->topLevelItem(1));
  w.RemoveButtonClick();
  EXPECT_EQ(w.RowCount(), 0);
  EXPECT_EQ(Enabled(w), "FILENAME");
}

TEST_F(BatchCreateTest, ZipWithUnfinishedJobs) {
  struct Case {
    bool finishFirst;
    bool accepted;
    int rowsLeft;
  };
  for (const Case& c : std::vector<Case>{{true, true, 3}, {false, false, 0}}) {
    TBatchCreateForm w(*form_, nullptr);
    QueueTarget(w, bjZip, O("f.zip"));
    QueueFiles(w, {F("a.txt")});
    if (c.finishFirst) {
      w.FinishButtonClick();
      QueueTarget(w, bjTar, O("g.tar"));
      QueueFiles(w, {F("b.txt")});
    }
    w.ZipButtonClick();
    EXPECT_EQ(w.result(), c.accepted ? QDialog::Accepted : QDialog::Rejected);
    EXPECT_EQ(w.RowCount(), c.rowsLeft);
  }
  TBatchCreateForm empty(*form_, nullptr);
  empty.ZipButtonClick();
  EXPECT_EQ(empty.result(), QDialog::Rejected);
}

TEST_F(BatchCreateTest, TwoJobsThroughTheBatchButton) {
  // The user's whole way: BATCH, a zip of three files and a gzip of one, ZIP; the results window.
  page_->ZipResetButtonClick();
  Answer("TBatchCreateForm", [this](QDialog& d) {
    auto& w = static_cast<TBatchCreateForm&>(d);
    QueueTarget(w, bjZip, O("three"));
    QueueFiles(w, {F("a.txt"), F("b.txt"), F("c.txt")});
    w.FinishButtonClick();
    QueueTarget(w, bjGz, O("single"));
    QueueFiles(w, {F("c.txt")});
    w.ZipButtonClick();
    return w.result();
  });
  QSignalSpy spy(page_->BatchQueue, &TBatchCreateQueue::Finished);
  // While the queue runs the page cannot be left, and the caption names the job's file.
  std::vector<int> pages;
  std::vector<std::string> captions;
  QMetaObject::Connection c = QObject::connect(page_, &TCreatePage::RunEnded, page_, [&](bool) {
    captions.push_back(form_->windowTitle().toStdString());
    pages.push_back(form_->RequestPage(kUnzipPage));
  });
  prompt_.Clear();
  page_->BatchButton->setEnabled(true);
  page_->BatchButton->click();
  ASSERT_TRUE(spy.wait(120000));
  QObject::disconnect(c);
  EXPECT_EQ(pages, (std::vector<int>{kCreatePage, kCreatePage}));
  EXPECT_EQ(captions, (std::vector<std::string>{"Tandor : three.zip", "Tandor : single.gz"}));
  EXPECT_EQ(ResultLines(),
            (std::vector<std::string>{"Created...", O("three.zip"), "", "Created...", O("single.gz"), ""}));
  // A file keeps the name of its folder (the page's relative paths).
  const std::string d = src_.filename().string() + "/";
  EXPECT_EQ(Sh("zipinfo -1 " + testenv::Quote(O("three.zip"))), d + "a.txt\n" + d + "b.txt\n" + d + "c.txt\n");
  EXPECT_EQ(Sh("gzip -dc " + testenv::Quote(O("single.gz"))), testenv::ReadFile(src_ / "c.txt"));
  EXPECT_TRUE(prompt_.Texts().empty()) << "no box during the run";
  // The page at rest: empty list, BATCH and Options usable, ZIP and STOP not.
  EXPECT_FALSE(page_->ZipListView->HasRows());
  EXPECT_TRUE(page_->BatchButton->isEnabled());
  EXPECT_TRUE(page_->ZipPropertiesButton->isEnabled());
  EXPECT_FALSE(page_->ZipButton->isEnabled());
  EXPECT_FALSE(page_->ZipStopButton->isEnabled());
  EXPECT_FALSE(page_->BatchCreateMode);
  EXPECT_EQ(form_->windowTitle().toStdString(), "Tandor");
  EXPECT_TRUE(page_->CreateTagEdit->text().isEmpty());
}

TEST_F(BatchCreateTest, TwentyTaggedJobsOfEveryType) {
  const std::string tags[] = {"plain tag", "Caf\xC3\xA9 Gr\xC3\xB6\xC3\x9F" "e", "n\xC3\xBCmero \xC2\xB1 5"};
  const std::string wide = "\xE6\x9D\xB1\xE4\xBA\xAC \xE2\x9C\x93";  // zip only: needs UTF-8
  std::vector<TBatchRow> rows;
  struct Job {
    int type;
    std::string target, tag;
  };
  std::vector<Job> jobs;
  const char* ext[] = {".zip", ".tar.gz", ".tar", ".gz"};
  for (int i = 0; i < 20; ++i) {
    const int type = i % 4;
    Job j{type, O("job" + std::to_string(i) + ext[type]), type == bjTar ? "" : tags[i % 3]};
    if (type == bjZip && i % 8 == 4) j.tag = wide;
    rows.push_back({BatchFilenameAction(type), j.target});
    if (!j.tag.empty()) rows.push_back({"TAG", j.tag});
    if (type == bjGz) {
      rows.push_back({"ADD FILE", F(i % 2 ? "b.txt" : "a.txt")});
    } else {
      rows.push_back({"ADD FILE", F("a.txt")});
      rows.push_back({"ADD FOLDER", (src_ / "tree").string()});
    }
    rows.push_back({"FINISH", ""});
    jobs.push_back(j);
  }
  const std::string names = src_.filename().string() + "/a.txt\ntree/sub/y.txt\ntree/x.txt\n";
  prompt_.Clear();
  ASSERT_TRUE(RunRows(rows));
  EXPECT_TRUE(prompt_.Texts().empty()) << "no box during the run";
  std::vector<std::string> expected;
  for (const Job& j : jobs) expected.insert(expected.end(), {"Created...", j.target, ""});
  EXPECT_EQ(ResultLines(), expected);
  for (const Job& j : jobs) {
    int rc = 1;
    const std::string q = testenv::Quote(j.target);
    switch (j.type) {
      case bjZip: {
        Sh("unzip -tq " + q, &rc);
        EXPECT_EQ(rc, 0) << j.target;
        std::string comment = Sh("zipinfo -z " + q + " | sed -n 2p");
        // zipinfo prints the stored bytes: CP437 for text CP437 holds.
        std::string stored = Sh("zipinfo -z " + q + " | sed -n 2p | iconv -f CP437 -t UTF-8");
        const std::string want = j.tag + "\n";
        EXPECT_TRUE(comment == want || stored == want) << j.target << ": " << comment;
        EXPECT_EQ(Sh("zipinfo -1 " + q + " | sort"), names);
        break;
      }
      case bjGz:
      case bjTarGz: {
        Sh("gzip -t " + q, &rc);
        EXPECT_EQ(rc, 0) << j.target;
        std::string latin1;
        ASSERT_TRUE(Utf8ToLatin1(j.tag, latin1));
        const std::string head = testenv::ReadFile(j.target).substr(0, 96);
        EXPECT_EQ(static_cast<unsigned char>(head[3]), 0x18) << j.target;
        EXPECT_NE(head.find(std::string(1, '\0') + latin1 + std::string(1, '\0')), std::string::npos) << j.target;
        if (j.type == bjTarGz) {
          EXPECT_EQ(Sh("tar -tzf " + q + " | grep -v '/$' | sort"), names);  // files; folders have entries too
        }
        break;
      }
      default:
        EXPECT_EQ(Sh("tar -tf " + q + " | grep -v '/$' | sort", &rc), names) << j.target;
        EXPECT_EQ(rc, 0);
    }
  }
  EXPECT_EQ(OutNames().size(), 20u) << "no temporary files beside the archives";
}

TEST_F(BatchCreateTest, FailedJobsAreRecordedAndTheNextRuns) {
  const fs::path small = testenv::MakeTempDir("small");
  const fs::path ro = testenv::MakeTempDir("ro");
  const fs::path gone = testenv::MakeTempDir("gone");
  ::chmod(ro.c_str(), 0555);
  testenv::WriteFile(src_ / "doomed.txt", "soon gone");
  SetFreeSpaceOverride([small](const std::string& path) -> int64_t {
    return path.rfind(small.string(), 0) == 0 ? 100 : int64_t(1) << 40;
  });
  struct Case {
    std::string target;
    std::vector<TBatchRow> body;
    std::string first;
  };
  const std::string big(65536, 't');
  const std::vector<Case> cases{
      {(small / "s.zip").string(), {{"ADD FILE", F("a.txt")}}, "Error...not enough disk space/"},
      {(small / "s.tar").string(), {{"ADD FILE", F("a.txt")}}, "Error...not enough disk space/"},
      {(ro / "r.zip").string(), {{"ADD FILE", F("a.txt")}}, "Error creating file..."},
      {(ro / "r.tar.gz").string(), {{"ADD FILE", F("a.txt")}}, "Error creating file..."},
      {(gone / "v.gz").string(), {{"ADD FILE", F("a.txt")}}, "Error creating file..."},
      {O("vanished.zip"), {{"ADD FILE", F("doomed.txt")}, {"ADD FILE", F("b.txt")}}, "Error creating file..."},
      {O("nofolder.tar"), {{"ADD FOLDER", (src_ / "nothere").string()}}, "Error creating file..."},
      {O("long.zip"), {{"TAG", big}, {"ADD FILE", F("a.txt")}}, "Error creating file..."},
  };
  std::vector<TBatchRow> rows;
  std::vector<std::string> expected;
  for (const Case& c : cases) {
    const char* action = EndsWith(c.target, ".zip")      ? "ZIP Filename"
                         : EndsWith(c.target, ".tar.gz") ? "TAR.GZ Filename"
                         : EndsWith(c.target, ".tar")    ? "TAR Filename"
                                                         : "GZ Filename";
    rows.push_back({action, c.target});
    rows.insert(rows.end(), c.body.begin(), c.body.end());
    rows.push_back({"FINISH", ""});
    expected.insert(expected.end(), {c.first, c.target, ""});
    // Each failing job is followed by one that works.
    const std::string good = O("good" + std::to_string(rows.size()) + ".zip");
    rows.insert(rows.end(), {{"ZIP Filename", good}, {"ADD FILE", F("c.txt")}, {"FINISH", ""}});
    expected.insert(expected.end(), {"Created...", good, ""});
  }
  fs::remove_all(gone);
  fs::remove(src_ / "doomed.txt");
  prompt_.Clear();
  ASSERT_TRUE(RunRows(rows));
  ::chmod(ro.c_str(), 0755);
  EXPECT_TRUE(prompt_.Texts().empty()) << "no box during the run";
  EXPECT_EQ(ResultLines(), expected);
  EXPECT_TRUE(fs::is_empty(small));
  EXPECT_TRUE(fs::is_empty(ro));
  EXPECT_FALSE(fs::exists(gone));
  for (const std::string& n : OutNames()) EXPECT_TRUE(StartsWith(n, "good")) << n << " left behind";
}

TEST_F(BatchCreateTest, TarGzRoomOnTheProgramsDrive) {
  // The temporary tar and the archive share the drive: both must fit.
  SetFreeSpaceOverride([](const std::string&) -> int64_t { return 5000; });
  std::vector<TBatchRow> rows{{"TAR.GZ Filename", O("big.tar.gz")}, {"ADD FILE", F("a.txt")}, {"ADD FILE", F("b.txt")},
                              {"FINISH", ""}};
  ASSERT_TRUE(RunRows(rows));
  EXPECT_EQ(ResultLines(), (std::vector<std::string>{"Error...", kBatchTarGzNoRoom, ""}));
  EXPECT_TRUE(OutNames().empty());
}

TEST_F(BatchCreateTest, StopEndsTheQueue) {
  std::vector<TBatchRow> rows;
  for (int i = 0; i < 4; ++i)
    rows.insert(rows.end(), {{"ZIP Filename", O("s" + std::to_string(i) + ".zip")},
                             {"ADD FOLDER", (src_ / "tree").string()},
                             {"FINISH", ""}});
  // STOP as the first job ends: nothing after it runs.
  bool pressed = false;
  QMetaObject::Connection c = QObject::connect(page_, &TCreatePage::RunEnded, page_, [&](bool) {
    if (!pressed && page_->ZipStopButton->isEnabled()) {
      pressed = true;
      page_->ZipStopButton->click();
    }
  });
  ASSERT_TRUE(RunRows(rows));
  QObject::disconnect(c);
  EXPECT_TRUE(pressed);
  EXPECT_EQ(ResultLines(), (std::vector<std::string>{"Created...", O("s0.zip"), ""}));
  EXPECT_EQ(OutNames(), std::vector<std::string>{"s0.zip"});

  // STOP while the first job works: that job is stopped or done whole, and no other runs.
  testenv::WriteFile(src_ / "big.bin", testenv::RandomBytes(24u << 20, 9));
  for (TBatchRow& r : rows)
    if (r.Action == "ADD FOLDER") r = {"ADD FILE", (src_ / "big.bin").string()};
  for (int i = 0; i < 4; ++i) rows[size_t(i) * 3].Path = O("t" + std::to_string(i) + ".zip");
  // Pressed at the first job's first progress step, however fast the machine.
  bool stopped = false;
  c = QObject::connect(page_->ZipProgressBar, &QProgressBar::valueChanged, page_, [&](int value) {
    if (!stopped && value > 0 && page_->ZipStopButton->isEnabled()) {
      stopped = true;
      page_->ZipStopButton->click();
    }
  });
  ASSERT_TRUE(RunRows(rows));
  QObject::disconnect(c);
  EXPECT_TRUE(stopped);
  const std::vector<std::string> lines = ResultLines();
  ASSERT_EQ(lines.size(), 3u) << testing::PrintToString(lines);
  std::vector<std::string> names = OutNames();
  if (lines[0] == "Created...") {
    EXPECT_EQ(names, (std::vector<std::string>{"s0.zip", "t0.zip"}));
    int rc = 1;
    Sh("unzip -tq " + testenv::Quote(O("t0.zip")), &rc);
    EXPECT_EQ(rc, 0);
  } else {
    EXPECT_EQ(lines[0], "Error creating file...");
    EXPECT_EQ(names, std::vector<std::string>{"s0.zip"}) << "no partial archive";
  }
  EXPECT_TRUE(PageIdle());
}

}  // namespace
