// The incoming queue: its file, its box, its buttons and the copies of downloaded archives.
#include <QPushButton>
#include <QTreeWidget>

#include "DispatchFixture.h"
#include "app/DeleteQueueFileForm.h"
#include "app/QueueButtons.h"

namespace fs = std::filesystem;

TEST_F(DispatchTest, QueueFileComesAndGoesWithTheQueue) {
  MakeForm();
  EXPECT_FALSE(fs::exists(data_ / "queue"));
  EXPECT_EQ(BoxItem(0), "{ QUEUE - EMPTY }");
  const std::string a = File("a.zip");
  form_->AddToQueue(a);
  EXPECT_EQ(QueueFileLines(), std::vector<std::string>{a});
  EXPECT_EQ(BoxItem(0), "{ QUEUE - WAITING }");
  EXPECT_EQ(BoxItem(1), "a.zip");
  form_->Queue().RemoveFromQueue(1);
  EXPECT_FALSE(fs::exists(data_ / "queue"));
  EXPECT_EQ(BoxItem(0), "{ QUEUE - EMPTY }");
  EXPECT_EQ(BoxCount(), 1);
  // No stray temporary file is left beside it.
  for (const std::string& entry : testenv::ListTree(data_)) EXPECT_EQ(entry.find("queue"), std::string::npos) << entry;
}

TEST_F(DispatchTest, QueueIgnoresLetterCaseAndNonArchives) {
  MakeForm();
  const std::string lower = File("same.zip"), upper = File("SAME.ZIP");
  EXPECT_TRUE(form_->Queue().AddToQueue(lower));
  EXPECT_FALSE(form_->Queue().AddToQueue(upper));
  EXPECT_TRUE(form_->Queue().IsInQueue(upper));
  EXPECT_FALSE(form_->Queue().AddToQueue(File("notes.txt")));
  EXPECT_FALSE(form_->Queue().AddToQueue((files_ / "gone.zip").string()));
  EXPECT_FALSE(form_->Queue().AddToQueue(File("line\nbreak.zip")));  // cannot stand in a line of the file
  EXPECT_EQ(Queued(), std::vector<std::string>{lower});
  EXPECT_EQ(QueueFileLines(), std::vector<std::string>{lower});
}

TEST_F(DispatchTest, DeletedArchivesAreDroppedAtTheNextStart) {
  const std::string a = File("a.zip"), b = File("b.tar"), c = File("c.rar");
  testenv::WriteFile(data_ / "queue", a + "\n" + b + "\r\n" + File("notes.txt") + "\n\n" + c + "\n");
  fs::remove(b);
  MakeForm();
  EXPECT_EQ(Queued(), (std::vector<std::string>{a, c}));
  ASSERT_EQ(BoxCount(), 3);
  EXPECT_EQ(BoxItem(0), "{ QUEUE - WAITING }");
  EXPECT_EQ(BoxItem(2), "c.rar");
  EXPECT_EQ(QueueFileLines().size(), 5u);  // the file keeps its lines until the queue changes
  const std::string d = File("d.zip");
  form_->AddToQueue(d);
  EXPECT_EQ(QueueFileLines(), (std::vector<std::string>{a, c, d}));
}

TEST_F(DispatchTest, ClosingKeepsTheQueueForTheNextStart) {
  MakeForm();
  const std::string a = File("a.zip"), shown = File("shown.zip");
  form_->AddToQueue(a);
  ShowArchive(shown);
  form_.reset();
  MakeForm();
  EXPECT_EQ(Queued(), (std::vector<std::string>{a, shown}));
  // Extracted archives are not queued at close.
  form_->Queue().RemoveFromQueue(2);
  ShowArchive(shown);
  form_->SetArchiveExtracted(true);
  form_.reset();
  MakeForm();
  EXPECT_EQ(Queued(), std::vector<std::string>{a});
}

TEST_F(DispatchTest, PickingAQueuedArchiveOpensItAndQueuesTheShownOne) {
  MakeForm();
  const std::string a = File("a.zip"), b = File("b.tar"), shown = File("shown.zip");
  form_->AddToQueue(a);
  form_->AddToQueue(b);
  ShowArchive(shown);
  form_->QueueButtons().ComboBoxChange(1);
  Settle();
  EXPECT_EQ(opened_, std::vector<std::string>{"zip:" + a});
  EXPECT_EQ(form_->CurrentArchiveFile(), a);
  EXPECT_EQ(form_->windowTitle().toStdString(), "Tandor : a.zip");
  EXPECT_EQ(Queued(), (std::vector<std::string>{b, shown}));  // the replaced archive goes to the end
  EXPECT_EQ(QueueFileLines(), (std::vector<std::string>{b, shown}));
  EXPECT_EQ(BoxItem(2), "shown.zip");
  EXPECT_EQ(form_->UnzipPage()->ComboBox->currentIndex(), 0);
  // Item 0 does nothing.
  form_->QueueButtons().ComboBoxChange(0);
  Settle();
  EXPECT_EQ(opened_.size(), 1u);
}

TEST_F(DispatchTest, PickingAVanishedOrForeignFileRemovesIt) {
  MakeForm();
  const std::string a = File("a.zip"), b = File("b.zip");
  form_->AddToQueue(a);
  form_->AddToQueue(b);
  fs::remove(a);
  form_->QueueButtons().ComboBoxChange(1);
  ASSERT_EQ(prompt_.Texts().size(), 1u);
  EXPECT_EQ(prompt_.Texts()[0], "THE FILE YOU HAVE SELECTED NO LONGER EXISTS.\nIF YOU DOWNLOADED THE FILE FROM THE "
                                "INTERNET AND CLOSED YOUR BROWSER THE FILE WAS DELETED.");
  EXPECT_EQ(Queued(), std::vector<std::string>{b});
  // An entry that is not an archive (it can only come from outside the queue's own checks).
  form_->QueueList().push_back(File("notes.txt"));
  form_->UnzipPage()->ComboBox->addItem("notes.txt");
  form_->QueueButtons().ComboBoxChange(2);
  EXPECT_TRUE(prompt_.Saw("ERROR : THE FILE IS NOT IN A FORMAT THAT IS RECOGNIZED BY THIS PROGRAM."));
  EXPECT_EQ(Queued(), std::vector<std::string>{b});
  EXPECT_TRUE(opened_.empty());
}

TEST_F(DispatchTest, RemovalWindow) {
  MakeForm();
  const std::string a = File("a.zip"), b = File("b.zip"), c = File("c.zip");
  for (const std::string& f : {a, b, c}) form_->AddToQueue(f);
  ASSERT_TRUE(form_->Settings().ConfirmQueueDelete);

  // Delete with nothing checked removes nothing.
  bool modalFlag = false;
  modal_ = [&](QDialog& d) {
    auto& w = dynamic_cast<TDeleteQueueFileForm&>(d);
    modalFlag = form_->ModalDialogOpen();
    EXPECT_EQ(w.windowTitle().toStdString(), "Remove File From Queue");
    EXPECT_EQ(w.List->topLevelItemCount(), 3);
    w.DeleteClick();
    return w.result();
  };
  form_->QueueButtons().CLRButtonClick();
  EXPECT_EQ(windows_, std::vector<std::string>{"TDeleteQueueFileForm"});
  EXPECT_TRUE(modalFlag);
  EXPECT_FALSE(form_->ModalDialogOpen());
  EXPECT_EQ(Queued().size(), 3u);

  // Checked items go; the others keep their order.
  modal_ = [&](QDialog& d) {
    auto& w = dynamic_cast<TDeleteQueueFileForm&>(d);
    w.CheckAllClick();
    w.SetChecked(1, false);
    w.DeleteClick();
    return w.result();
  };
  form_->QueueButtons().CLRButtonClick();
  EXPECT_EQ(Queued(), std::vector<std::string>{b});
  EXPECT_EQ(QueueFileLines(), std::vector<std::string>{b});
  EXPECT_EQ(BoxCount(), 2);
  EXPECT_EQ(BoxItem(1), "b.zip");

  // Cancel keeps everything, even when items were checked.
  modal_ = [&](QDialog& d) {
    auto& w = dynamic_cast<TDeleteQueueFileForm&>(d);
    w.CheckAllClick();
    return int(QDialog::Rejected);
  };
  form_->QueueButtons().CLRButtonClick();
  EXPECT_EQ(Queued(), std::vector<std::string>{b});

  // Everything checked: the queue and its file are gone.
  modal_ = [&](QDialog& d) {
    auto& w = dynamic_cast<TDeleteQueueFileForm&>(d);
    w.CheckAllClick();
    w.DeleteClick();
    return w.result();
  };
  form_->QueueButtons().CLRButtonClick();
  EXPECT_TRUE(Queued().empty());
  EXPECT_EQ(BoxItem(0), "{ QUEUE - EMPTY }");
  EXPECT_FALSE(fs::exists(data_ / "queue"));

  // An empty queue opens no window.
  windows_.clear();
  form_->QueueButtons().CLRButtonClick();
  EXPECT_TRUE(windows_.empty());
}

TEST_F(DispatchTest, ClearingWithoutConfirmationEmptiesQueueAndCopies) {
  MakeForm();
  form_->Settings().ConfirmQueueDelete = false;
  const fs::path download = fs::path(getenv("TMPDIR")) / "dl" / "got.zip";
  fs::create_directories(download.parent_path());
  testenv::WriteFile(download, "PK");
  form_->AddToQueue(download.string());
  form_->AddToQueue(File("a.zip"));
  ASSERT_EQ(Queued().size(), 2u);
  EXPECT_TRUE(fs::exists(data_ / "ziptemp" / "got.zip"));
  form_->QueueButtons().CLRButtonClick();
  EXPECT_TRUE(windows_.empty());
  EXPECT_TRUE(Queued().empty());
  EXPECT_EQ(BoxCount(), 1);
  EXPECT_EQ(BoxItem(0), "{ QUEUE - EMPTY }");
  EXPECT_FALSE(fs::exists(data_ / "ziptemp" / "got.zip"));
  EXPECT_FALSE(fs::exists(data_ / "queue"));
}

TEST_F(DispatchTest, CopiesOfDownloadsLiveAsLongAsTheyAreQueued) {
  MakeForm();
  const fs::path tmp = getenv("TMPDIR");
  fs::create_directories(tmp / "one");
  fs::create_directories(tmp / "two");
  testenv::WriteFile(tmp / "one" / "pkg.tar.gz", "first");
  testenv::WriteFile(tmp / "two" / "pkg.tar.gz", "second");
  const std::string other = File("Temporary Files/x.zip");  // "temporary" in the path counts too
  form_->AddToQueue((tmp / "one" / "pkg.tar.gz").string());
  form_->AddToQueue((tmp / "two" / "pkg.tar.gz").string());
  form_->AddToQueue(other);
  const std::string ziptemp = fs::weakly_canonical(data_ / "ziptemp").string();
  EXPECT_EQ(Queued(), (std::vector<std::string>{ziptemp + "/pkg.tar.gz", ziptemp + "/pkg (2).tar.gz",
                                                ziptemp + "/x.zip"}));
  EXPECT_EQ(testenv::ReadFile(ziptemp + "/pkg.tar.gz"), "first");
  EXPECT_EQ(testenv::ReadFile(ziptemp + "/pkg (2).tar.gz"), "second");
  // A copy is never copied onto itself.
  EXPECT_EQ(form_->Queue().CopyToQueueFolder(ziptemp + "/x.zip"), ziptemp + "/x.zip");
  EXPECT_EQ(testenv::ReadFile(ziptemp + "/x.zip"), "PK\x05\x06");
  // Unqueued copies go when pruned; dot-files and folders stay.
  testenv::WriteFile(ziptemp + "/.keep", "");
  fs::create_directories(ziptemp + "/sub");
  form_->Queue().RemoveFromQueue(1);
  form_->Queue().PruneQueueCopies();
  EXPECT_EQ(testenv::ListTree(ziptemp), (std::vector<std::string>{".keep", "pkg (2).tar.gz", "sub/", "x.zip"}));
  // At exit too.
  form_->Queue().RemoveFromQueue(1);
  form_.reset();
  EXPECT_EQ(testenv::ListTree(ziptemp), (std::vector<std::string>{".keep", "sub/", "x.zip"}));
}

TEST_F(DispatchTest, CopyOfTheShownArchiveOutlivesQueueRemovals) {
  MakeForm();
  const fs::path tmp = getenv("TMPDIR");
  fs::create_directories(tmp / "dl");
  for (const char* n : {"one.zip", "two.zip", "three.zip"}) testenv::WriteFile(tmp / "dl" / n, n);
  for (const char* n : {"one.zip", "two.zip", "three.zip"}) form_->AddToQueue((tmp / "dl" / n).string());
  const std::string ziptemp = fs::weakly_canonical(data_ / "ziptemp").string();
  form_->QueueButtons().ComboBoxChange(1);  // shows the copy of one.zip, which leaves the queue
  Settle();
  ASSERT_EQ(form_->CurrentArchiveFile(), ziptemp + "/one.zip");
  // Removing other items through the window prunes their copies, never the shown one.
  modal_ = [&](QDialog& d) {
    auto& w = dynamic_cast<TDeleteQueueFileForm&>(d);
    w.SetChecked(0, true);
    w.DeleteClick();
    return w.result();
  };
  form_->QueueButtons().CLRButtonClick();
  EXPECT_EQ(Queued(), std::vector<std::string>{ziptemp + "/three.zip"});
  EXPECT_EQ(testenv::ListTree(ziptemp), (std::vector<std::string>{"one.zip", "three.zip"}));
  // Emptying the queue without the window: the same.
  form_->Settings().ConfirmQueueDelete = false;
  form_->QueueButtons().CLRButtonClick();
  EXPECT_EQ(testenv::ListTree(ziptemp), std::vector<std::string>{"one.zip"});
  EXPECT_EQ(testenv::ReadFile(ziptemp + "/one.zip"), "one.zip");
  // When the window closes without queueing it, the page lets go and the copy goes.
  form_->Settings().QueueEnabled = false;
  form_.reset();
  EXPECT_EQ(testenv::ListTree(ziptemp), std::vector<std::string>{});
}

TEST_F(DispatchTest, QueueButtonMovesTheShownArchive) {
  MakeForm();
  const std::string shown = File("shown.zip");
  form_->QueueButtons().SaveQueueButtonClick();  // nothing shown: nothing happens
  EXPECT_TRUE(Queued().empty());
  ShowArchive(shown);
  form_->SetCaption(shown);
  form_->QueueButtons().SaveQueueButtonClick();
  EXPECT_EQ(Queued(), std::vector<std::string>{shown});
  EXPECT_EQ(form_->CurrentArchiveFile(), "");
  EXPECT_EQ(form_->windowTitle().toStdString(), "Tandor");
  EXPECT_FALSE(form_->UnzipPage()->UnzipListView->HasRows());
}

TEST_F(DispatchTest, SaveButtonCopiesTheShownArchive) {
  MakeForm();
  const std::string shown = File("shown.zip", testenv::RandomBytes(200000, 7));
  ShowArchive(shown);
  const fs::path out = testenv::MakeTempDir("out");
  prompt_.QueuePath((out / "copy").string());
  form_->QueueButtons().SaveUnzipFileButtonClick();
  EXPECT_EQ(testenv::ReadFile(out / "copy.zip"), testenv::ReadFile(shown));
  ASSERT_FALSE(prompt_.History().empty());
  EXPECT_EQ(prompt_.History()[0].caption, "Choose a name for your zip file ");
  // Cancelled: nothing written.
  form_->QueueButtons().SaveUnzipFileButtonClick();
  EXPECT_EQ(testenv::ListTree(out), std::vector<std::string>{"copy.zip"});
  // A folder that cannot be written: reported, not pretended.
  prompt_.Clear();
  prompt_.QueuePath("/proc/tandor-nowhere/copy.zip");
  form_->QueueButtons().SaveUnzipFileButtonClick();
  EXPECT_TRUE(prompt_.Saw("COULD NOT BE SAVED"));
}

TEST_F(DispatchTest, SavedCopyNeverReplacesWithoutAsking) {
  MakeForm();
  const std::string shown = File("shown.tar.gz", testenv::RandomBytes(5000, 3));
  ShowArchive(shown);
  const fs::path out = testenv::MakeTempDir("out");
  testenv::WriteFile(out / "copy.tar.gz", "older copy");
  // The archive's own suffix is the default; the question names the file really written.
  prompt_.QueuePath((out / "copy").string());
  prompt_.QueueAnswer(TPromptAnswer::No);
  form_->QueueButtons().SaveUnzipFileButtonClick();
  ASSERT_FALSE(prompt_.History().empty());
  EXPECT_EQ(prompt_.History()[0].text, ".tar.gz");
  EXPECT_EQ(prompt_.Texts(), std::vector<std::string>{(out / "copy.tar.gz").string() +
                                                      " already exists.\nDo you want to replace it?"});
  EXPECT_EQ(testenv::ReadFile(out / "copy.tar.gz"), "older copy");
  prompt_.Clear();
  prompt_.QueuePath((out / "copy").string());
  prompt_.QueueAnswer(TPromptAnswer::Yes);
  form_->QueueButtons().SaveUnzipFileButtonClick();
  EXPECT_EQ(testenv::ReadFile(out / "copy.tar.gz"), testenv::ReadFile(shown));
  // A typed archive suffix is kept as it stands.
  prompt_.QueuePath((out / "other.tgz").string());
  form_->QueueButtons().SaveUnzipFileButtonClick();
  EXPECT_EQ(testenv::ListTree(out), (std::vector<std::string>{"copy.tar.gz", "other.tgz"}));
}

TEST_F(DispatchTest, QueueFileThatCannotBeWrittenIsReported) {
  MakeForm();
  fs::create_directories(data_ / "queue");  // a folder in the way
  form_->AddToQueue(File("a.zip"));
  EXPECT_TRUE(prompt_.Saw("ERROR WRITING THE QUEUE FILE"));
  EXPECT_TRUE(fs::is_directory(data_ / "queue"));
  fs::remove(data_ / "queue");
}
