// Files dropped on the window: the drop target follows the page.
#include <QLineEdit>
#include <QPushButton>

#include "DispatchFixture.h"
#include "pages/batch/BatchPage.h"
#include "pages/create/CreatePage.h"
#include "pages/update/UpdatePage.h"

namespace fs = std::filesystem;

namespace {

QStringList Paths(std::initializer_list<std::string> items) {
  QStringList l;
  for (const std::string& s : items) l << QString::fromStdString(s);
  return l;
}

}  // namespace

TEST_F(DispatchTest, DropsOnTheUnzipList) {
  MakeForm();
  const std::string a = File("a.zip"), b = File("b.zip");
  ASSERT_EQ(form_->DropTarget(), form_->UnzipPage()->UnzipListView);

  // Two files: refused with a message.
  form_->Dispatch().DropFileTargetDrop(Paths({a, b}));
  EXPECT_TRUE(opened_.empty());
  ASSERT_EQ(prompt_.Texts().size(), 1u);
  EXPECT_EQ(prompt_.Texts()[0], "YOU HAVE DROPPED MORE THAN ONE FILE.  CHOOSE A SINGLE ZIP FILE TO DROP");

  // Files that are no archives: ignored without a word.
  prompt_.Clear();
  form_->Dispatch().DropFileTargetDrop(Paths({File("notes.txt")}));
  form_->Dispatch().DropFileTargetDrop(Paths({File("x.7z")}));
  EXPECT_TRUE(opened_.empty());
  EXPECT_TRUE(prompt_.History().empty());

  // One zip archive: opened.
  form_->Dispatch().DropFileTargetDrop(Paths({a}));
  EXPECT_EQ(opened_, std::vector<std::string>{"zip:" + a});
  EXPECT_EQ(form_->CurrentArchiveFile(), a);
  EXPECT_EQ(form_->windowTitle().toStdString(), "Tandor : a.zip");
  EXPECT_TRUE(form_->UnzipPage()->UnzipListView->isEnabled());

  // Over a shown archive: asked first; No keeps it.
  prompt_.QueueAnswer(TPromptAnswer::No);
  form_->Dispatch().DropFileTargetDrop(Paths({b}));
  EXPECT_TRUE(prompt_.Saw("CLEAR THE ENTRIES AND LOAD A NEW ZIP FILE?"));
  EXPECT_EQ(opened_.size(), 1u);
  EXPECT_EQ(form_->CurrentArchiveFile(), a);
  // Yes replaces it.
  prompt_.QueueAnswer(TPromptAnswer::Yes);
  form_->Dispatch().DropFileTargetDrop(Paths({b}));
  EXPECT_EQ(opened_.back(), "zip:" + b);
  EXPECT_EQ(form_->UnzipPage()->UnzipListView->Count(), 1);  // the old rows were cleared
  EXPECT_EQ(form_->UnzipPage()->UnzipNumFilesEdit->text().toStdString(), "0");
}

TEST_F(DispatchTest, DroppedGzipAndTarArchivesGoToTheirOpeners) {
  MakeForm();
  const std::string targz = File("p.tar.gz"), gz = File("q.gz"), tar = File("t.tar"), rar = File("r.RAR"),
                    tgz = File("s.tgz");
  for (const std::string& f : {targz, gz, tar, rar, tgz}) {
    form_->UnzipPage()->ClearUnzipWindow();
    form_->Dispatch().DropFileTargetDrop(Paths({f}));
  }
  EXPECT_EQ(opened_,
            (std::vector<std::string>{"tgz:" + targz, "gz:" + gz, "tar:" + tar, "rar:" + rar, "tgz:" + tgz}));
  // A self-extracting program: the zip archive it carries.
  const std::string program = File("setup.RUN");
  form_->UnzipPage()->ClearUnzipWindow();
  form_->Dispatch().DropFileTargetDrop(Paths({program}));
  EXPECT_EQ(opened_.back(), "zip:" + program);
  // With gzipped tar archives opened as plain gzip files.
  form_->Settings().OpenTarInGz = false;
  form_->UnzipPage()->ClearUnzipWindow();
  form_->Dispatch().DropFileTargetDrop(Paths({targz}));
  EXPECT_EQ(opened_.back(), "gz:" + targz);
  EXPECT_TRUE(form_->UnzipPage()->UnzipButton->isEnabled());
}

TEST_F(DispatchTest, DropsOnTheFilteredList) {
  MakeForm();
  TUnzipPage* page = form_->UnzipPage();
  const std::string a = File("a.zip");
  // An empty filtered list opens nothing.
  form_->SetDropTarget(page->UnzipFilteredListView);
  form_->Dispatch().DropFileTargetDrop(Paths({a}));
  EXPECT_TRUE(opened_.empty());
  // A filled one asks; Yes shows the full list, which becomes the target, and opens there.
  page->UnzipListView->Model()->Append(Row("filtered.txt"));
  page->UnzipListView->Model()->Append(Row("other.txt"));
  page->UnzipFilteredListView->Model()->Append(Row("filtered.txt"));
  prompt_.QueueAnswer(TPromptAnswer::Yes);
  form_->Dispatch().DropFileTargetDrop(Paths({a}));
  EXPECT_EQ(opened_, std::vector<std::string>{"zip:" + a});
  EXPECT_EQ(form_->DropTarget(), page->UnzipListView);
  EXPECT_FALSE(page->FilteredShown());
  EXPECT_EQ(page->UnzipFilteredListView->Count(), 0);
}

TEST_F(DispatchTest, DropsOnTheCreateList) {
  MakeForm();
  ASSERT_EQ(form_->RequestPage(kCreatePage), kCreatePage);
  ASSERT_EQ(form_->DropTarget(), form_->CreatePage()->ZipListView);
  const std::string a = File("a.txt"), b = File("b.rar");
  form_->Dispatch().DropFileTargetDrop(Paths({a}));
  form_->Dispatch().DropFileTargetDrop(Paths({a, b}));  // any files, several at once
  EXPECT_EQ(dropped_, (std::vector<std::string>{"create:" + a, "create:" + a + "|" + b}));
  EXPECT_TRUE(opened_.empty());
  EXPECT_TRUE(prompt_.History().empty());
}

TEST_F(DispatchTest, DropsOnTheUpdateList) {
  MakeForm();
  const std::string a = File("a.txt"), b = File("b.txt");
  ASSERT_EQ(form_->RequestPage(kUpdatePage), kUpdatePage);
  // No archive open there: the list takes no drops.
  EXPECT_EQ(form_->DropTarget(), nullptr);
  form_->SetDropTarget(form_->UpdatePage()->UpdateListView);
  form_->UpdatePage()->UpdateResetButton->setEnabled(false);
  form_->Dispatch().DropFileTargetDrop(Paths({a}));
  EXPECT_TRUE(dropped_.empty());
  // With an archive open (RESET enabled) the files go to the update page.
  form_->UpdatePage()->UpdateResetButton->setEnabled(true);
  form_->Dispatch().DropFileTargetDrop(Paths({a}));
  EXPECT_FALSE(form_->UpdatePage()->UpdateResetButton->isEnabled()) << "the page is busy meanwhile";
  form_->UpdatePage()->UpdateResetButton->setEnabled(true);
  form_->Dispatch().DropFileTargetDrop(Paths({a, b}));
  EXPECT_EQ(dropped_, (std::vector<std::string>{"update:" + a, "update:" + a + "|" + b}));
}

TEST_F(DispatchTest, OnlyTheDropTargetTakesDrops) {
  MakeForm();
  const std::string a = File("a.zip");
  // A drop on the create list while the unzip page is shown is not the target's.
  emit form_->CreatePage()->ZipListView->FilesDropped(Paths({a}));
  emit form_->BatchPage()->BatchListView->FilesDropped(Paths({a}));
  EXPECT_TRUE(opened_.empty());
  EXPECT_TRUE(dropped_.empty());
  emit form_->UnzipPage()->UnzipListView->FilesDropped(Paths({a}));
  EXPECT_EQ(opened_, std::vector<std::string>{"zip:" + a});
  // The self-extracting page takes none.
  ASSERT_EQ(form_->RequestPage(kSfxPage), kSfxPage);
  EXPECT_EQ(form_->DropTarget(), nullptr);
  form_->Dispatch().DropFileTargetDrop(Paths({a}));
  EXPECT_EQ(opened_.size(), 1u);
}
