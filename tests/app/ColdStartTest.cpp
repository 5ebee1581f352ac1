// The window as a new user meets it: which controls each page enables before anything is loaded, after
// its clearing, and that every control enabled at start does something when pressed.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ScriptedPrompt.h"
#include "TestEnv.h"
#include "WindowData.h"
#include "app/TandorForm.h"
#include "pages/batch/BatchPage.h"
#include "pages/common/FileList.h"
#include "pages/common/PromptService.h"
#include "pages/create/CreatePage.h"
#include "pages/sfx/SfxPage.h"
#include "pages/unzip/UnzipPage.h"
#include "pages/update/UpdatePage.h"
#include "platform/Paths.h"

namespace fs = std::filesystem;

// Records the files and pages handed to the desktop (help pages) instead of starting a program.
class TUrlRecorder : public QObject {
  Q_OBJECT
 public:
  std::vector<std::string> Urls;
 public slots:
  void Open(const QUrl& url) { Urls.push_back(url.toString().toStdString()); }
};

namespace {

class ColdStartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data_ = testenv::PrepareWindowData();
    SetModalHook([this](QDialog& d, const char* name) {
      windows_.push_back(name + std::string(":") + d.windowTitle().toStdString());
      return int(QDialog::Rejected);
    });
    for (const char* scheme : {"file", "http", "https"}) QDesktopServices::setUrlHandler(scheme, &urls_, "Open");
  }
  void TearDown() override {
    form_.reset();
    for (const char* scheme : {"file", "http", "https"}) QDesktopServices::unsetUrlHandler(scheme);
    SetModalHook(nullptr);
  }
  void MakeForm() {
    form_ = std::make_unique<TTandorForm>();
    form_->show();
    QApplication::processEvents();
  }

  TScriptedPrompt prompt_;
  TUrlRecorder urls_;
  fs::path data_;
  std::vector<std::string> windows_;
  std::unique_ptr<TTandorForm> form_;
};

// The idle state of a page: the controls on and those off.
struct TIdle {
  int page;
  std::vector<QWidget*> on, off;
};

std::vector<TIdle> IdleTable(TTandorForm& f) {
  TUnzipPage* u = f.UnzipPage();
  TUpdatePage* p = f.UpdatePage();
  TCreatePage* c = f.CreatePage();
  auto* b = static_cast<TBatchPage*>(f.Page(kBatchPage));
  return {
      {kUnzipPage,
       {u->UnzipListView, u->OpenUnzipButton, u->UnzipCloseButton, u->UnzipHelpButton, u->CLRButton,
        u->MoveBatchButton, u->UnzipPropertiesButton},
       {u->SelectAllButton, u->UnSelectAllButton, u->TreeButton, u->SelectButton, u->FolderFilterButton,
        u->UnzipResetButton, u->SaveQueueButton, u->UnzipButton, u->SaveUnzipFileButton, u->TAGButton,
        u->SpiderButton}},
      {kUpdatePage,
       {p->Button1, p->UpdateHelpButton, p->UpdateExitbutton, p->OpenUpdateButton, p->UpdateListView},
       {p->OpenFilesUpdateButton, p->UpdateTagButton, p->AddfolderUpdatebutton, p->UpdateDeleteButton,
        p->UpdateResetButton}},
      {kCreatePage,
       {c->ZipExitButton, c->OpenFilesZipButton, c->OpenFolderzipButton, c->ZipHelpButton, c->ZipListView},
       {c->ZipButton, c->ZipUndoButton, c->BatchButton, c->CreateTagButton, c->ZipResetButton, c->ZipStopButton}},
      {kBatchPage,
       {b->BatchUnzipOpenFileButton, b->ScanFolderForZipFilesButton, b->BatchHelpButton, b->BatchExitButton,
        b->MoveZipFileButton, b->ScanSubDirCheckBox, b->MoveZipFileCheckBox, b->BatchListView},
       {b->BatchDeleteButton, b->BatchUnzipButton, b->BatchSelectAllButton, b->BatchResetButton,
        b->BatchThreadStopButton}},
  };
}

std::string Name(QWidget* w) {
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text().toStdString() + " " + b->toolTip().toStdString();
  return w->metaObject()->className();
}

void ExpectIdle(TTandorForm& f, int page, const char* when) {
  for (const TIdle& idle : IdleTable(f)) {
    if (idle.page != page) continue;
    for (QWidget* w : idle.on) EXPECT_TRUE(w->isEnabled()) << when << ", page " << page << ": " << Name(w);
    for (QWidget* w : idle.off) EXPECT_FALSE(w->isEnabled()) << when << ", page " << page << ": " << Name(w);
  }
}

TListRow Row(const QString& file) {
  TListRow r;
  r.File = file;
  return r;
}

}  // namespace

TEST_F(ColdStartTest, EveryPageIsIdleFromTheFirstPaintAndWhenShown) {
  MakeForm();
  EXPECT_EQ(form_->windowTitle().toStdString(), "Tandor");
  for (int page : {kUnzipPage, kUpdatePage, kCreatePage, kBatchPage}) ExpectIdle(*form_, page, "first paint");
  // Each page shown by its tab keeps its idle state (the common buttons come on, nothing else).
  for (int page : {kUpdatePage, kCreatePage, kBatchPage, kSfxPage, kUnzipPage}) {
    ASSERT_EQ(form_->RequestPage(page), page);
    QApplication::processEvents();
    for (int other : {kUnzipPage, kUpdatePage, kCreatePage, kBatchPage}) ExpectIdle(*form_, other, "tab shown");
  }
  EXPECT_TRUE(prompt_.History().empty());
}

TEST_F(ColdStartTest, PagesAreIdleAgainAfterTheirClearing) {
  MakeForm();
  TUnzipPage* u = form_->UnzipPage();
  // Something listed on the unzip page, then Reset.
  for (const char* f : {"a.txt", "b.txt"}) u->UnzipListView->Model()->Append(Row(f));
  form_->SetCurrentArchiveFile((data_ / "x.zip").string());
  form_->SetCaption(form_->CurrentArchiveFile());
  form_->EnableAll();
  u->EnableLoadedArchiveButtons();
  ASSERT_TRUE(u->UnzipButton->isEnabled());
  u->UnzipResetButton->click();
  ExpectIdle(*form_, kUnzipPage, "after Reset");
  EXPECT_EQ(form_->windowTitle().toStdString(), "Tandor");
  EXPECT_EQ(u->UnzipNumFilesEdit->text().toStdString(), "0");

  // Rows on the unzip page, cleared by going to the create page (Yes), then back.
  u->UnzipListView->Model()->Append(Row("c.txt"));
  form_->SetCurrentArchiveFile((data_ / "y.zip").string());
  form_->EnableAll();
  u->EnableLoadedArchiveButtons();
  prompt_.QueueAnswer(TPromptAnswer::Yes);
  ASSERT_EQ(form_->RequestPage(kCreatePage), kCreatePage);
  EXPECT_TRUE(prompt_.Saw("WOULD YOU LIKE TO CLEAR THE LOADED FILE AND CREATE A NEW ZIPFILE?"));
  ASSERT_EQ(form_->RequestPage(kUnzipPage), kUnzipPage);
  ExpectIdle(*form_, kUnzipPage, "after the switch cleared it");

  // The create list and the update list: rows, then their RESET.
  TCreatePage* c = form_->CreatePage();
  ASSERT_EQ(form_->RequestPage(kCreatePage), kCreatePage);
  c->ZipListView->Model()->Append(Row("d.txt"));
  form_->EnableAll();
  ASSERT_TRUE(c->ZipResetButton->isEnabled());
  c->ZipResetButton->click();
  // RESET gives BATCH back: the batch window gathers its jobs without the list.
  EXPECT_TRUE(c->BatchButton->isEnabled());
  c->BatchButton->setEnabled(false);
  ExpectIdle(*form_, kCreatePage, "after the create RESET");
  TUpdatePage* p = form_->UpdatePage();
  ASSERT_EQ(form_->RequestPage(kUpdatePage), kUpdatePage);
  p->UpdateListView->Model()->Append(Row("e.txt"));
  form_->EnableAll();
  ASSERT_TRUE(p->UpdateResetButton->isEnabled());
  p->UpdateResetButton->click();
  ExpectIdle(*form_, kUpdatePage, "after the update RESET");

  // The batch list: rows, then its RESET.
  auto* b = static_cast<TBatchPage*>(form_->Page(kBatchPage));
  ASSERT_EQ(form_->RequestPage(kBatchPage), kBatchPage);
  b->BatchListView->Model()->Append(Row("one.zip"));
  form_->EnableAll();
  ASSERT_TRUE(b->BatchUnzipButton->isEnabled());
  b->BatchResetButton->click();
  ExpectIdle(*form_, kBatchPage, "after the batch RESET");
  // EnableAll with nothing loaded (the end of a run that found nothing) keeps the idle state.
  form_->EnableAll();
  ExpectIdle(*form_, kBatchPage, "EnableAll on an empty batch list");
  ASSERT_EQ(form_->RequestPage(kUnzipPage), kUnzipPage);
  form_->EnableAll();
  ExpectIdle(*form_, kUnzipPage, "EnableAll on an empty unzip list");
}

// Every control a page enables at start, pressed on a fresh window, shows something, asks something,
// opens a window or a help page, changes its own state or ends the program: none is enabled and dead.
TEST_F(ColdStartTest, EveryControlEnabledAtStartDoesSomething) {
  // A queued archive, so that the queue's buttons have something to act on.
  const fs::path queued = data_ / "queued.zip";
  testenv::WriteFile(queued, "PK\x05\x06" + std::string(18, '\0'));
  testenv::WriteFile(data_ / "queue", queued.string() + "\n");
  int pressed = 0;
  for (int page : {kUnzipPage, kUpdatePage, kCreatePage, kBatchPage, kSfxPage}) {
    MakeForm();
    ASSERT_EQ(form_->RequestPage(page), page);
    std::vector<std::string> names;
    for (QAbstractButton* b : form_->Page(page)->findChildren<QAbstractButton*>())
      if (b->isEnabled() && b->isVisibleTo(form_.get())) names.push_back(b->text().toStdString());
    ASSERT_FALSE(names.empty());
    for (size_t i = 0; i < names.size(); ++i) {
      MakeForm();  // every press on a fresh window
      ASSERT_EQ(form_->RequestPage(page), page);
      QAbstractButton* button = nullptr;
      size_t seen = 0;
      for (QAbstractButton* b : form_->Page(page)->findChildren<QAbstractButton*>())
        if (b->isEnabled() && b->isVisibleTo(form_.get()) && seen++ == i) button = b;
      ASSERT_NE(button, nullptr);
      SCOPED_TRACE("page " + std::to_string(page) + ": " + names[i]);
      prompt_.Clear();
      windows_.clear();
      urls_.Urls.clear();
      const bool checked = button->isChecked();
      const int shownPage = form_->CurrentPage();
      const int queueItems = form_->UnzipPage()->ComboBox->count();
      button->click();
      QApplication::processEvents();
      const bool did = !prompt_.History().empty() || !windows_.empty() || !urls_.Urls.empty() ||
                       button->isChecked() != checked || !form_->isVisible() || form_->CurrentPage() != shownPage ||
                       form_->UnzipPage()->ComboBox->count() != queueItems;
      EXPECT_TRUE(did) << "enabled at start, but pressing it did nothing";
      // With every question cancelled nothing was loaded: the page is as idle as before.
      if (form_->isVisible() && form_->CurrentPage() == page && !form_->Page(page)->HasRows())
        ExpectIdle(*form_, page, "after a press with every question cancelled");
      ++pressed;
      form_.reset();
    }
  }
  EXPECT_GE(pressed, 25);  // 26 controls today
}

#include "ColdStartTest.moc"
