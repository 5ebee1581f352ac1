// Command line, open routing and the hand-over of a second start (called on the window directly).
#include <QProgressBar>
#include <QPushButton>

#include "DispatchFixture.h"
#include "app/LongPath.h"
#include "pages/create/CreatePage.h"

namespace fs = std::filesystem;

namespace {

QStringList Args(std::initializer_list<std::string> items) {
  QStringList l;
  for (const std::string& s : items) l << QString::fromStdString(s);
  return l;
}

// paramStr as a second start sends it: its program path first.
QStringList HandOver(std::initializer_list<std::string> items) { return QStringList{"/usr/bin/tandorfile"} + Args(items); }

}  // namespace

TEST_F(DispatchTest, CommandLineOpensTheFirstAndQueuesTheRest) {
  const std::string a = File("a.zip"), b = File("b.zip"), c = File("c.tar");
  MakeForm(Args({a, b, c}));
  EXPECT_EQ(opened_, std::vector<std::string>{"zip:" + a});
  EXPECT_EQ(form_->CurrentArchiveFile(), a);
  EXPECT_EQ(form_->windowTitle().toStdString(), "Tandor : a.zip");
  EXPECT_EQ(form_->Settings().ArchiveOpenFolder, files_.string());
  EXPECT_EQ(Queued(), (std::vector<std::string>{b, c}));
  ASSERT_EQ(BoxCount(), 3);
  EXPECT_EQ(BoxItem(0), "{ QUEUE - WAITING }");
  EXPECT_EQ(BoxItem(1), "b.zip");
  EXPECT_EQ(BoxItem(2), "c.tar");
  EXPECT_EQ(form_->UnzipPage()->ComboBox->currentIndex(), 0);
  EXPECT_EQ(QueueFileLines(), (std::vector<std::string>{b, c}));
  EXPECT_TRUE(form_->UnzipPage()->UnzipListView->isEnabled());
  EXPECT_TRUE(prompt_.History().empty());
}

TEST_F(DispatchTest, CommandLineRefusesOtherTypes) {
  const std::string notes = File("notes.txt", "hello");
  MakeForm(Args({notes}));
  EXPECT_TRUE(opened_.empty());
  ASSERT_EQ(prompt_.Texts().size(), 1u);
  EXPECT_EQ(prompt_.Texts()[0], "notes.txt is not a valid file type");

  // Further arguments of other types, missing files and wildcards are not queued, silently.
  prompt_.Clear();
  opened_.clear();
  const std::string a = File("a.zip");
  MakeForm(Args({a, notes, (files_ / "missing.zip").string(), (files_ / "*.zip").string()}));
  EXPECT_EQ(opened_, std::vector<std::string>{"zip:" + a});
  EXPECT_TRUE(Queued().empty());
  EXPECT_FALSE(fs::exists(data_ / "queue"));
  EXPECT_EQ(BoxItem(0), "{ QUEUE - EMPTY }");
  EXPECT_TRUE(prompt_.History().empty());
}

TEST_F(DispatchTest, RoutesByFileType) {
  ASSERT_EQ(testenv::Run("cd " + testenv::Quote(files_.string()) +
                         " && echo data > inner.txt && tar cf inner.tar inner.txt && gzip -k inner.tar"
                         " && mv inner.tar.gz packed.gz && gzip -k inner.txt"),
            0);
  const std::string packed = fs::canonical(files_ / "packed.gz").string();
  const std::string plain = fs::canonical(files_ / "inner.txt.gz").string();
  EXPECT_TRUE(IsaGzippedTarBall(packed));
  EXPECT_FALSE(IsaGzippedTarBall(plain));
  const std::string tgz = File("x.TGZ"), targz = File("y.tar.gz"), rar = File("r.rar"), tar = File("t.tar");
  // A self-extracting program: a stub, then a (here empty) zip archive.
  const std::string program =
      File("setup.run", std::string("\x7f" "ELF stub") + std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  for (const std::string& archive : {packed, plain, tgz, targz, rar, tar, program}) MakeForm(Args({archive}));
  EXPECT_EQ(opened_, (std::vector<std::string>{"tgz:" + packed, "gz:" + plain, "tgz:" + tgz, "tgz:" + targz,
                                               "rar:" + rar, "tar:" + tar, "zip:" + program}));
  EXPECT_TRUE(prompt_.History().empty());
  EXPECT_EQ(RouteByFileType((files_ / "gone.zip").string()), TOpenRoute::None);
}

TEST_F(DispatchTest, ArchiveFromTheTemporaryFolderIsOpenedAsItsCopy) {
  const fs::path download = fs::path(getenv("TMPDIR")) / "browser" / "dl.zip";
  fs::create_directories(download.parent_path());
  testenv::WriteFile(download, "PK-download");
  MakeForm(Args({download.string()}));
  const std::string copy = fs::weakly_canonical(data_ / "ziptemp" / "dl.zip").string();
  EXPECT_EQ(opened_, std::vector<std::string>{"zip:" + copy});
  EXPECT_EQ(form_->CurrentArchiveFile(), copy);
  EXPECT_EQ(testenv::ReadFile(copy), "PK-download");
  fs::remove(download);  // the browser cleans up: our copy stays while it is shown
  form_->DoCloseCode();  // shown and not extracted: queued, so the copy is kept
  EXPECT_EQ(QueueFileLines(), std::vector<std::string>{copy});
  EXPECT_TRUE(fs::exists(copy));
}

TEST_F(DispatchTest, DownloadWhoseCopyCannotBeMadeSaysSo) {
  const fs::path download = fs::path(getenv("TMPDIR")) / "browser" / "dl.zip";
  fs::create_directories(download.parent_path());
  testenv::WriteFile(download, "PK-download");
  testenv::WriteFile(data_ / "ziptemp", "a file where the copies folder belongs");
  MakeForm(Args({download.string()}));
  EXPECT_TRUE(opened_.empty());
  EXPECT_EQ(prompt_.Texts(), std::vector<std::string>{"CANNOT OPEN THE FILE " + download.string() +
                                                      "\nno copy of it could be made in the queue folder"});
  EXPECT_EQ(form_->windowTitle().toStdString(), "Tandor");
  EXPECT_EQ(form_->CurrentArchiveFile(), "");
  EXPECT_FALSE(form_->UnzipPage()->UnzipButton->isEnabled());
  EXPECT_TRUE(form_->UnzipPage()->OpenUnzipButton->isEnabled());
}

TEST_F(DispatchTest, ExpandLongPath) {
  const std::string a = File("sub/a.zip");
  fs::create_directory_symlink(files_ / "sub", files_ / "link");
  EXPECT_EQ(ExpandLongPath((files_ / "link" / ".." / "sub" / "a.zip").string()), a);
  EXPECT_EQ(ExpandLongPath((files_ / "link" / "a.zip").string()), a);
  EXPECT_EQ(ExpandLongPath((files_ / "sub" / "*.zip").string()), "");
  EXPECT_EQ(ExpandLongPath((files_ / "sub" / "a?zip").string()), "");
  EXPECT_EQ(ExpandLongPath((files_ / "sub" / "b.zip").string()), "");
  EXPECT_EQ(ExpandLongPath(""), "");
}

TEST_F(DispatchTest, HandOverToAnIdleWindowOpensOneArchive) {
  MakeForm();
  const std::string a = File("a.zip");
  form_->Dispatch().RunOnceOtherInstance(nullptr, 1, HandOver({a}));
  Settle();
  EXPECT_EQ(opened_, std::vector<std::string>{"zip:" + a});
  EXPECT_TRUE(Queued().empty());
  EXPECT_FALSE(fs::exists(data_ / "queue"));

  // Nothing handed over: nothing happens.
  form_->Dispatch().RunOnceOtherInstance(nullptr, 0, HandOver({}));
  Settle();
  EXPECT_EQ(opened_.size(), 1u);
}

TEST_F(DispatchTest, HandOverOfSeveralToAnIdleWindowOpensTheFirst) {
  MakeForm();
  const std::string a = File("a.zip"), b = File("b.rar"), c = File("c.gz"), d = File("d.run");
  const std::string notes = File("notes.txt");
  form_->Dispatch().RunOnceOtherInstance(nullptr, 6, HandOver({a, b, notes, (files_ / "gone.zip").string(), c, d}));
  Settle();
  EXPECT_EQ(opened_, std::vector<std::string>{"zip:" + a});
  EXPECT_EQ(Queued(), (std::vector<std::string>{b, c, d}));
  EXPECT_EQ(QueueFileLines(), (std::vector<std::string>{b, c, d}));
  EXPECT_EQ(BoxItem(0), "{ QUEUE - WAITING }");
  EXPECT_TRUE(prompt_.History().empty());
}

TEST_F(DispatchTest, HandOverWhileBusyQueuesEverything) {
  MakeForm();
  const std::string shown = File("shown.zip"), a = File("a.zip"), b = File("b.zip"), c = File("c.tar");
  ShowArchive(shown);
  form_->Dispatch().RunOnceOtherInstance(nullptr, 3, HandOver({a, b, c}));
  Settle();
  EXPECT_TRUE(opened_.empty());
  EXPECT_EQ(form_->CurrentArchiveFile(), shown);
  EXPECT_EQ(Queued(), (std::vector<std::string>{a, b, c}));
  EXPECT_EQ(QueueFileLines(), (std::vector<std::string>{a, b, c}));
  EXPECT_EQ(BoxItem(0), "{ QUEUE - WAITING }");

  // The same archive again, in other letter case (a distinct file on this file system), is not
  // queued twice.
  const std::string upper = File("A.ZIP");
  form_->Dispatch().RunOnceOtherInstance(nullptr, 2, HandOver({a, upper}));
  Settle();
  EXPECT_EQ(Queued().size(), 3u);
  EXPECT_EQ(QueueFileLines().size(), 3u);
}

TEST_F(DispatchTest, HandOverWhileAnotherPageIsShownQueues) {
  MakeForm();
  const std::string a = File("a.zip");
  ASSERT_EQ(form_->RequestPage(kCreatePage), kCreatePage);
  form_->Dispatch().RunOnceOtherInstance(nullptr, 1, HandOver({a}));
  Settle();
  EXPECT_TRUE(opened_.empty());
  EXPECT_EQ(Queued(), std::vector<std::string>{a});
}

TEST_F(DispatchTest, HandOverWhileAModalWindowIsOpenQueues) {
  MakeForm();
  const std::string a = File("a.zip");
  form_->SetModalDialogOpen(true);
  form_->Dispatch().RunOnceOtherInstance(nullptr, 1, HandOver({a}));
  Settle();
  form_->SetModalDialogOpen(false);
  EXPECT_TRUE(opened_.empty());
  EXPECT_EQ(Queued(), std::vector<std::string>{a});
}

TEST_F(DispatchTest, HandOverWithTheQueueOffReplacesTheShownArchive) {
  const fs::path config = data_ / "config";
  TSettings s;
  s.ConfigFile = config.string();
  s.LoadSettings();
  s.QueueEnabled = false;
  ASSERT_TRUE(s.SaveSettings());
  MakeForm();
  ASSERT_FALSE(form_->Settings().QueueEnabled);
  const std::string old = File("old.zip"), fresh = File("new.zip");
  ShowArchive(old);
  form_->Dispatch().RunOnceOtherInstance(nullptr, 1, HandOver({fresh}));
  Settle();
  EXPECT_EQ(opened_, std::vector<std::string>{"zip:" + fresh});
  EXPECT_EQ(form_->CurrentArchiveFile(), fresh);
  EXPECT_EQ(form_->UnzipPage()->UnzipListView->Count(), 1);  // the old rows went; the recorder added one
  EXPECT_TRUE(Queued().empty());
}

TEST_F(DispatchTest, HandOverFromTheTemporaryFolderQueuesACopy) {
  MakeForm();
  ShowArchive(File("shown.zip"));
  const fs::path download = fs::path(getenv("TMPDIR")) / "dl" / "setup.zip";
  fs::create_directories(download.parent_path());
  testenv::WriteFile(download, "first download");
  form_->Dispatch().RunOnceOtherInstance(nullptr, 1, HandOver({download.string()}));
  const std::string copy = fs::weakly_canonical(data_ / "ziptemp" / "setup.zip").string();
  EXPECT_EQ(Queued(), std::vector<std::string>{copy});
  EXPECT_EQ(testenv::ReadFile(copy), "first download");
  // Another download of the same name does not replace the queued copy.
  testenv::WriteFile(download, "second download");
  form_->Dispatch().RunOnceOtherInstance(nullptr, 1, HandOver({download.string()}));
  const std::string copy2 = fs::weakly_canonical(data_ / "ziptemp" / "setup (2).zip").string();
  EXPECT_EQ(Queued(), (std::vector<std::string>{copy, copy2}));
  EXPECT_EQ(testenv::ReadFile(copy), "first download");
  EXPECT_EQ(testenv::ReadFile(copy2), "second download");
  // The same download once more is not queued a third time.
  form_->Dispatch().RunOnceOtherInstance(nullptr, 1, HandOver({download.string()}));
  EXPECT_EQ(Queued().size(), 2u);
}

TEST_F(DispatchTest, MoveToBatchEnabledWithTheCommonButtons) {
  MakeForm();
  form_->EnableAll();
  EXPECT_TRUE(form_->UnzipPage()->MoveBatchButton->isEnabled());
  EXPECT_TRUE(form_->UnzipPage()->CLRButton->isEnabled());
}

TEST_F(DispatchTest, ArchiveThatCannotBeOpenedSaysWhyOnce) {
  const std::string folderZip = (files_ / "folder.zip").string();
  std::filesystem::create_directories(folderZip);
  struct Case {
    std::string path, why;
  };
  for (const Case& c : {Case{"/nowhere/x.zip", "No such file or directory"}, Case{folderZip, "not a regular file"}}) {
    SCOPED_TRACE(c.path);
    prompt_.Clear();
    opened_.clear();
    MakeForm({QString::fromStdString(c.path)});
    EXPECT_EQ(prompt_.Texts(), std::vector<std::string>{"CANNOT OPEN THE FILE " + c.path + "\n" + c.why});
    EXPECT_TRUE(opened_.empty());
    EXPECT_EQ(form_->windowTitle().toStdString(), "Tandor");
    EXPECT_EQ(form_->CurrentArchiveFile(), "");
    EXPECT_FALSE(form_->UnzipPage()->UnzipButton->isEnabled());
    EXPECT_TRUE(form_->UnzipPage()->OpenUnzipButton->isEnabled());
    form_.reset();
  }
}
