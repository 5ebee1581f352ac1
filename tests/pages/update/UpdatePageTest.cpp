// The update page on a main window: every adding action and DELETE as one rewrite of a real zip
// archive, read back by Info-ZIP's zipinfo and unzip; failures that must leave the archive as it was;
// the move from the unzip page and the way back to it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <QCoreApplication>
#include <QDialog>
#include <QProgressBar>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <filesystem>
#include <memory>

#include "ScriptedPrompt.h"
#include "TestEnv.h"
#include "WindowData.h"
#include "app/TandorForm.h"
#include "pages/common/FileList.h"
#include "pages/common/PageHost.h"
#include "pages/common/PromptService.h"
#include "pages/unzip/UnzipPage.h"
#include "pages/update/UpdateList.h"
#include "pages/update/UpdatePage.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

namespace {

namespace fs = std::filesystem;
using testenv::Quote;
using Names = std::vector<std::string>;

constexpr int64_t kT0 = 1600000000;  // an even second: zip keeps it exactly

void SetTime(const fs::path& p, int64_t t) {
  struct utimbuf times {};
  times.actime = t;
  times.modtime = t;
  ASSERT_EQ(::utime(p.c_str(), &times), 0);
}

void Write(const fs::path& p, const std::string& bytes, int64_t time = kT0) {
  testenv::WriteFile(p, bytes);
  SetTime(p, time);
}

Names ZipNames(const fs::path& zip) {
  std::string out;
  testenv::Run("zipinfo -1 " + Quote(zip.string()) + " 2>/dev/null", &out);
  return testenv::SortedLines(out);
}

int UnzipTest(const fs::path& zip) { return testenv::Run("unzip -tq " + Quote(zip.string()) + " >/dev/null 2>&1"); }

std::string Member(const fs::path& zip, const std::string& name) {
  std::string out;
  EXPECT_EQ(testenv::Run("unzip -p " + Quote(zip.string()) + " " + Quote(name), &out), 0);
  return out;
}

// Zips `names` (below `dir`) with Info-ZIP, without folder entries.
void MakeZip(const fs::path& dir, const fs::path& zip, const Names& names) {
  std::string cmd = "cd ";
  cmd += Quote(dir.string());
  cmd += " && zip -qD ";
  cmd += Quote(zip.string());
  for (const std::string& n : names) {
    cmd += ' ';
    cmd += Quote(n);
  }
  std::string out;
  ASSERT_EQ(testenv::Run(cmd + " 2>&1", &out), 0) << out;
}

class UpdatePageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testenv::HaveTool("zip"));
    ASSERT_TRUE(testenv::HaveTool("zipinfo"));
    data_ = testenv::PrepareWindowData();
    work_ = testenv::MakeTempDir("work");
    SetModalHook([](QDialog&, const char*) { return int(QDialog::Rejected); });
    form_ = std::make_unique<TTandorForm>();
    form_->RequestPage(kUpdatePage);
    page_ = form_->UpdatePage();
    form_->Settings().OnlyNewerThanDate = false;
  }
  void TearDown() override {
    form_.reset();
    SetModalHook(nullptr);
    testenv::SetFreeSpace("");
  }

  // OPEN with `zip` chosen in the dialog.
  void Open(const fs::path& zip) {
    prompt_.SetDefaultAnswer(TPromptAnswer::Yes);
    prompt_.QueuePath(zip.string());
    page_->OpenUpdateButtonClick();
    WaitIdle();
  }
  void AddFiles(const std::vector<fs::path>& files) {
    std::vector<std::string> paths;
    for (const fs::path& f : files) paths.push_back(f.string());
    prompt_.QueuePaths(paths);
    page_->OpenFilesUpdateButtonClick();
  }
  void AddFolder(const fs::path& folder) {
    prompt_.QueuePath(folder.string());
    page_->AddfolderUpdatebuttonClick();
  }
  void Drop(const std::vector<fs::path>& items) {
    std::vector<std::string> paths;
    for (const fs::path& p : items) paths.push_back(p.string());
    page_->UpdateDropUpdateWindow(paths);
  }
  void Delete(const Names& keys, TPromptAnswer answer = TPromptAnswer::Yes) {
    page_->UpdateListView->SelectNone();
    for (int i = 0; i < page_->UpdateListView->Count(); ++i)
      if (std::count(keys.begin(), keys.end(), Key(i))) page_->UpdateListView->SelectRow(i);
    prompt_.QueueAnswer(answer);
    page_->UpdateDeleteButtonClick();
  }
  void WaitIdle() {
    QElapsedTimer t;
    t.start();
    while (page_->Busy() && t.elapsed() < 60000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_FALSE(page_->Busy());
    QCoreApplication::processEvents();
  }

  std::string Key(int row) const { return page_->UpdateListView->Model()->Row(row).Key().toStdString(); }
  // The list's names, sorted.
  Names Rows() const {
    Names out;
    for (int i = 0; i < page_->UpdateListView->Count(); ++i) out.push_back(Key(i));
    std::sort(out.begin(), out.end());
    return out;
  }
  bool StepTwo() const {
    for (QPushButton* b : {page_->OpenFilesUpdateButton, page_->AddfolderUpdatebutton, page_->UpdateDeleteButton,
                           page_->UpdateResetButton})
      if (!b->isEnabled()) return false;
    return true;
  }
  bool NoStepTwo() const {
    for (QPushButton* b : {page_->OpenFilesUpdateButton, page_->AddfolderUpdatebutton, page_->UpdateDeleteButton,
                           page_->UpdateResetButton})
      if (b->isEnabled()) return false;
    return true;
  }
  // The list matches the archive on disk, the counters the list.
  void ExpectListIsArchive(const fs::path& zip) {
    EXPECT_EQ(Rows(), ZipNames(zip));
    EXPECT_EQ(page_->UpDateNumFilesEdit->text().remove(',').toLongLong(), page_->UpdateListView->Count());
    int64_t total = 0;
    for (const TListRow& r : page_->UpdateListView->Model()->Rows()) total += r.SizeValue;
    EXPECT_EQ(page_->TotalBytes(), total);
    EXPECT_EQ(page_->ProgressBar()->value(), 0);
  }

  TScriptedPrompt prompt_;
  fs::path data_, work_;
  std::unique_ptr<TTandorForm> form_;
  TUpdatePage* page_ = nullptr;
};

TEST(UpdateListTest, StoredFolderIsInArchiveForm) {
  using updatelist::StoredFolder;
  struct Case {
    const char* folder;
    const char* root;
    bool save, relative;
    const char* stored;
  };
  const Case cases[] = {
      {"/home/u/docs", "", false, true, ""},
      {"/home/u/docs", "", true, true, "docs/"},          // a file of its own: the last folder
      {"/home/u/docs", "", true, false, "home/u/docs/"},  // absolute: no leading "/"
      {"/", "", true, false, ""},
      {"/home/u/proj", "/home/u/proj/", true, true, ""},  // a folder's own files: its root
      {"/home/u/proj/Sub/Deep", "/home/u/proj/", true, true, "Sub/Deep/"},  // letter case kept
      {"/home/u/projX/a", "/home/u/proj/", true, true, "a/"},  // not below the root: last folder
      {"/a//b/", "", true, false, "a/b/"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(StoredFolder(c.folder, c.root, {c.save, c.relative}), c.stored) << c.folder << " root " << c.root;
  // Two-second zip rounding is not "newer".
  EXPECT_FALSE(updatelist::IsNewer(kT0 + 1, kT0));
  EXPECT_FALSE(updatelist::IsNewer(kT0, kT0));
  EXPECT_TRUE(updatelist::IsNewer(kT0 + 2, kT0));
}

TEST_F(UpdatePageTest, StoredNamesUnderEachPathSetting) {
  const fs::path src = work_ / "src";
  Write(src / "proj/a.txt", "alpha\n");
  Write(src / "proj/sub/b.txt", testenv::RandomBytes(5000, 7, true));
  Write(src / "proj/sub/deep/c.txt", "gamma\n");
  Write(src / "docs/x.txt", testenv::RandomBytes(70000, 3));
  Write(src / "drop/d.txt", "delta\n");
  Write(src / "dropdir/e.txt", "epsilon\n");
  Write(src / "dropdir/in/f.txt", "phi\n");
  Write(work_ / "old.txt", "old\n");
  MakeZip(work_, work_ / "base.zip", {"old.txt"});
  const std::string abs = src.string().substr(1) + "/";
  struct Case {
    bool save, relative;
    Names names;
  };
  const std::vector<Case> cases{
      {true, true, {"a.txt", "docs/x.txt", "drop/d.txt", "e.txt", "in/f.txt", "old.txt", "sub/b.txt", "sub/deep/c.txt"}},
      {true, false,
       {abs + "docs/x.txt", abs + "drop/d.txt", abs + "dropdir/e.txt", abs + "dropdir/in/f.txt", abs + "proj/a.txt",
        abs + "proj/sub/b.txt", abs + "proj/sub/deep/c.txt", "old.txt"}},
      {false, true, {"a.txt", "b.txt", "c.txt", "d.txt", "e.txt", "f.txt", "old.txt", "x.txt"}},
      {false, false, {"a.txt", "b.txt", "c.txt", "d.txt", "e.txt", "f.txt", "old.txt", "x.txt"}},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(n);
    const fs::path zip = work_ / ("z" + std::to_string(++n) + ".zip");
    fs::copy_file(work_ / "base.zip", zip);
    Open(zip);
    ASSERT_TRUE(StepTwo());
    form_->Settings().SaveZipFolders = c.save;
    form_->Settings().RelativePaths = c.relative;
    AddFiles({src / "docs/x.txt"});
    AddFolder(src / "proj");
    Drop({src / "drop/d.txt", src / "dropdir"});
    Names expected = c.names;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(ZipNames(zip), expected);
    EXPECT_EQ(UnzipTest(zip), 0);
    ExpectListIsArchive(zip);
    EXPECT_TRUE(StepTwo());
    EXPECT_EQ(prompt_.Texts(), Names{}) << "no message after a good run";
    page_->UpdateResetButtonClick();
  }
  EXPECT_EQ(Member(work_ / "z1.zip", "docs/x.txt"), testenv::ReadFile(src / "docs/x.txt"));
}

TEST_F(UpdatePageTest, ScanTakesNoLinkedFoldersAndHonoursRecursion) {
  const fs::path src = work_ / "src";
  Write(src / "tree/a.txt", "a");
  Write(src / "tree/sub/b.txt", "b");
  Write(src / "outside/secret.txt", "s");
  fs::create_directory_symlink(src / "outside", src / "tree/linkdir");
  fs::create_symlink(src / "tree/a.txt", src / "tree/linkfile.txt");
  Write(work_ / "old.txt", "old\n");
  MakeZip(work_, work_ / "base.zip", {"old.txt"});
  Open(work_ / "base.zip");
  AddFolder(src / "tree");
  EXPECT_EQ(ZipNames(work_ / "base.zip"), (Names{"a.txt", "linkfile.txt", "old.txt", "sub/b.txt"}));
  // Without recursion only the folder's own files.
  fs::copy_file(work_ / "old.txt", work_ / "c.txt");
  MakeZip(work_, work_ / "flat.zip", {"c.txt"});
  prompt_.QueueAnswer(TPromptAnswer::Yes);
  Open(work_ / "flat.zip");
  form_->Settings().UpdateRecurseFolders = false;
  AddFolder(src / "tree");
  EXPECT_EQ(ZipNames(work_ / "flat.zip"), (Names{"a.txt", "c.txt", "linkfile.txt"}));
  ExpectListIsArchive(work_ / "flat.zip");
}

TEST_F(UpdatePageTest, ReplaceOnlyWithNewerFiles) {
  // The archive holds docs/x.txt and x.txt, both of kT0.
  const fs::path base = work_ / "base";
  Write(base / "docs/x.txt", "original docs\n");
  Write(base / "x.txt", "original root\n");
  MakeZip(base, work_ / "base.zip", {"docs/x.txt", "x.txt"});
  struct Case {
    const char* name;
    int64_t age;    // the file's time against kT0
    bool save;      // SaveZipFolders
    const char* file;
    Names replaced; // entries that now hold the new text
    Names names;    // the archive afterwards
  };
  const Names both{"docs/x.txt", "x.txt"};
  const std::vector<Case> cases{
      {"newer", 10, true, "docs/x.txt", {"docs/x.txt"}, both},
      {"newer by the zip rounding only", 1, true, "docs/x.txt", {}, both},
      {"same age", 0, true, "docs/x.txt", {}, both},
      {"older", -100, true, "docs/x.txt", {}, both},
      {"newer, folders not saved: the root entry", 10, false, "docs/x.txt", {"x.txt"}, both},
      {"another letter case is another name", 10, true, "docs/X.txt", {}, {"docs/X.txt", "docs/x.txt", "x.txt"}},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path zip = work_ / ("r" + std::to_string(++n) + ".zip");
    fs::copy_file(work_ / "base.zip", zip);
    const std::string before = testenv::ReadFile(zip);
    Open(zip);
    form_->Settings().SaveZipFolders = c.save;
    form_->Settings().RelativePaths = true;
    const fs::path file = work_ / ("new" + std::to_string(n)) / c.file;
    Write(file, "a newer text, longer than before\n", kT0 + c.age);
    AddFiles({file});
    EXPECT_EQ(ZipNames(zip), c.names);
    for (const std::string& name : both) {
      const bool replaced = std::count(c.replaced.begin(), c.replaced.end(), name) > 0;
      EXPECT_EQ(Member(zip, name), replaced ? testenv::ReadFile(file) : testenv::ReadFile(base / name)) << name;
    }
    if (c.names == both && c.replaced.empty()) {
      EXPECT_EQ(testenv::ReadFile(zip), before) << "not written at all";
    }
    ExpectListIsArchive(zip);
    if (!c.replaced.empty()) {
      for (const TListRow& r : page_->UpdateListView->Model()->Rows())
        if (r.Key().toStdString() == c.replaced[0]) {
          EXPECT_EQ(r.SizeValue, static_cast<qint64>(fs::file_size(file)));
        }
    }
    EXPECT_EQ(prompt_.Texts(), Names{});
    page_->UpdateResetButtonClick();
  }
}

TEST_F(UpdatePageTest, DeleteSomeNoneAndAll) {
  for (const char* n : {"a.txt", "b.txt", "c.txt", "dir/d.txt"}) Write(work_ / n, n);
  MakeZip(work_, work_ / "d.zip", {"a.txt", "b.txt", "c.txt", "dir/d.txt"});
  const fs::path zip = work_ / "d.zip";
  Open(zip);
  const std::string before = testenv::ReadFile(zip);
  Delete({"a.txt"}, TPromptAnswer::No);
  EXPECT_EQ(testenv::ReadFile(zip), before) << "No leaves it";
  Delete({});
  EXPECT_EQ(testenv::ReadFile(zip), before) << "nothing highlighted: no rewrite";
  EXPECT_EQ(Rows().size(), 4u);
  Delete({"a.txt", "dir/d.txt"});
  EXPECT_EQ(ZipNames(zip), (Names{"b.txt", "c.txt"}));
  EXPECT_EQ(UnzipTest(zip), 0);
  ExpectListIsArchive(zip);
  EXPECT_TRUE(StepTwo());
  Delete({"b.txt", "c.txt"});
  EXPECT_EQ(ZipNames(zip), Names{"Empty zipfile."}) << "a zip archive of no entries";
  EXPECT_EQ(page_->UpdateListView->Count(), 0);
  EXPECT_TRUE(NoStepTwo()) << "nothing left to work on";
  EXPECT_EQ(page_->TotalBytes(), 0);
}

TEST_F(UpdatePageTest, FailuresLeaveTheArchiveByteIdentical) {
  Write(work_ / "old.txt", "old\n");
  MakeZip(work_, work_ / "f.zip", {"old.txt"});
  const fs::path zip = work_ / "f.zip";
  const fs::path one = work_ / "in/one.txt", two = work_ / "in/two.txt";
  struct Case {
    const char* name;
    std::function<void()> arrange, restore;
    const char* says;  // a part of the message shown
  };
  const std::vector<Case> cases{
      {"no room for the new copy",
       [] { testenv::SetFreeSpace(int64_t{1000}); },
       [] { testenv::SetFreeSpace(""); }, "ERROR"},
      {"a read-only archive", [&] { fs::permissions(zip, fs::perms(0444)); },
       [&] { fs::permissions(zip, fs::perms(0644)); }, "ERROR"},
      {"a read-only folder", [&] { fs::permissions(work_, fs::perms(0555)); },
       [&] { fs::permissions(work_, fs::perms(0755)); }, "ERROR"},
      {"the second file vanishes before it is added", [&] { fs::remove(two); }, [] {}, "ERROR"},
      {"changed on disk after it was listed",
       [&] { testenv::Run("cd " + Quote(work_.string()) + " && zip -q f.zip in/one.txt"); }, [] {},
       "CHANGED ON DISK"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Write(one, "one\n");
    Write(two, testenv::RandomBytes(100000, 5));
    Open(zip);
    const Names listed = Rows();
    // The plan is made first, then the case strikes, then the one rewrite.
    page_->BeginAdding();
    for (const fs::path& f : {one, two}) {
      updatelist::TFoundFile found;
      ASSERT_TRUE(updatelist::FindRegularFile(f.string(), found));
      found.StoredFolder = "in/";
      page_->DropFileToUpdate(found);
    }
    c.arrange();
    const std::string before = testenv::ReadFile(zip);
    prompt_.Clear();
    page_->UpdatingAZipFile();
    page_->FinishAdding();
    c.restore();
    EXPECT_EQ(testenv::ReadFile(zip), before);
    ASSERT_EQ(prompt_.Texts().size(), 1u);
    EXPECT_NE(prompt_.Texts()[0].find(c.says), std::string::npos) << prompt_.Texts()[0];
    ExpectListIsArchive(zip);
    if (std::string(c.says) != "CHANGED ON DISK") {
      EXPECT_EQ(Rows(), listed);
    }
    EXPECT_TRUE(StepTwo());
    page_->UpdateResetButtonClick();
    testenv::Run("cd " + Quote(work_.string()) + " && zip -qd f.zip in/one.txt >/dev/null 2>&1");
  }
}

TEST_F(UpdatePageTest, UnreadableArchivesAreRefused) {
  testenv::WriteFile(work_ / "junk.zip", "this is not a zip archive at all, only some text");
  // An archive of no entries: its end record alone.
  testenv::WriteFile(work_ / "empty.zip", std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  for (const char* name : {"junk.zip", "empty.zip"}) {
    SCOPED_TRACE(name);
    prompt_.Clear();
    Open(work_ / name);
    EXPECT_TRUE(prompt_.Saw("THERE ARE NO FILES IN THE ZIPFILE THAT THIS PROGRAM CAN READ"));
    EXPECT_EQ(page_->UpdateListView->Count(), 0);
    EXPECT_TRUE(NoStepTwo());
  }
}

TEST_F(UpdatePageTest, MoveFromTheUnzipPageWithAFilteredListAndBack) {
  for (const char* n : {"a.txt", "p/b.jpg", "p/c.jpg"}) Write(work_ / n, n);
  MakeZip(work_, work_ / "m.zip", {"a.txt", "p/b.jpg", "p/c.jpg"});
  testenv::Run("echo 'the tag' | zip -qz " + Quote((work_ / "m.zip").string()));
  const fs::path zip = work_ / "m.zip";
  form_->RequestPage(kUnzipPage);
  TUnzipPage* unzip = form_->UnzipPage();
  ASSERT_TRUE(unzip->OpenArchive(zip.string()));
  // A filter shows one row.
  TListRow row = unzip->UnzipListView->Model()->Row(1);
  row.Data = 1;
  unzip->UnzipFilteredListView->Model()->SetRows({row});
  unzip->ShowFilteredList();
  ASSERT_EQ(form_->RequestPage(kUpdatePage), kUpdatePage);
  WaitIdle();
  EXPECT_EQ(Rows(), (Names{"a.txt", "p/b.jpg", "p/c.jpg"})) << "every row, not the filtered ones";
  EXPECT_EQ(unzip->UnzipListView->Count(), 0);
  EXPECT_EQ(form_->windowTitle().toStdString(), "Tandor : m.zip");
  EXPECT_EQ(form_->CurrentArchiveFile(), zip.string());
  EXPECT_TRUE(StepTwo());
  EXPECT_EQ(page_->UpdateTagEdit->text().trimmed().toStdString(), "the tag");
  EXPECT_EQ(page_->UpDateNumFilesEdit->text().toStdString(), "3");
  // The moved rows name the entries: DELETE works on them.
  Delete({"p/b.jpg"});
  EXPECT_EQ(ZipNames(zip), (Names{"a.txt", "p/c.jpg"}));
  ExpectListIsArchive(zip);

  // Back to the unzip page: the archive waits in the queue and the page is empty.
  ASSERT_EQ(form_->RequestPage(kUnzipPage), kUnzipPage);
  const auto& queue = form_->QueueList();
  EXPECT_EQ(std::count_if(queue.begin(), queue.end(),
                          [](const std::string& q) { return fs::path(q).filename() == "m.zip"; }),
            1);
  EXPECT_EQ(page_->UpdateListView->Count(), 0);
  EXPECT_TRUE(NoStepTwo());
}

TEST_F(UpdatePageTest, MovedArchiveThatChangedIsListedAgain) {
  for (const char* n : {"a.txt", "b.txt"}) Write(work_ / n, n);
  MakeZip(work_, work_ / "c.zip", {"a.txt"});
  const fs::path zip = work_ / "c.zip";
  form_->RequestPage(kUnzipPage);
  ASSERT_TRUE(form_->UnzipPage()->OpenArchive(zip.string()));
  MakeZip(work_, zip, {"b.txt"});  // someone adds to it meanwhile
  ASSERT_EQ(form_->RequestPage(kUpdatePage), kUpdatePage);
  WaitIdle();
  ExpectListIsArchive(zip);
  EXPECT_EQ(Rows(), (Names{"a.txt", "b.txt"}));
  EXPECT_TRUE(StepTwo());
}

}  // namespace
