// The pages on a recording host instead of the main window: what each page asks of its host, and
// that a page's own enabling leaves the other pages' controls alone.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ScriptedPrompt.h"
#include "TestEnv.h"
#include "core/Settings.h"
#include "pages/batch/BatchPage.h"
#include "pages/common/FileList.h"
#include "pages/common/IconLists.h"
#include "pages/create/CreatePage.h"
#include "pages/sfx/SfxPage.h"
#include "pages/unzip/UnzipPage.h"
#include "pages/update/UpdatePage.h"
#include "platform/TempFolders.h"
#include "zip/ZipKit.h"

namespace {

class TRecordingHost : public IPageHost {
 public:
  TRecordingHost() : temp_(testenv::MakeTempDir("cache").string(), "/nonexistent-tmp") {}

  void SetCaption(const std::string& archiveFile) override { Calls.push_back("caption:" + archiveFile); }
  void DisableAll() override { Calls.push_back("DisableAll"); }
  void EnableAll() override { Calls.push_back("EnableAll"); }
  void SetPageIdleButtons() override { Calls.push_back("SetPageIdleButtons"); }
  std::string BrowseforFolder(const std::string& title, bool, bool) override {
    Calls.push_back("browse:" + title);
    return {};
  }
  void OpenHelpPage(const std::string& page) override { Calls.push_back("help:" + page); }
  void CloseProgram() override { Calls.push_back("close"); }
  int RequestPage(int index) override {
    Calls.push_back("page:" + std::to_string(index));
    return index;
  }
  void HandArchiveTo(int index, const std::string& archive) override {
    Calls.push_back("hand:" + std::to_string(index) + ":" + archive);
  }
  std::string CurrentArchiveFile() const override { return current_; }
  void SetCurrentArchiveFile(const std::string& archive) override { current_ = archive; }
  bool ArchiveExtracted() const override { return extracted_; }
  void SetArchiveExtracted(bool extracted) override { extracted_ = extracted; }
  void SetModalDialogOpen(bool) override {}
  void SetDropTarget(TFileListView* list) override { DropTarget = list; }
  void AddToQueue(const std::string& archive) override { Calls.push_back("queue:" + archive); }
  void ClearTempFolders() override { Calls.push_back("ClearTempFolders"); }
  TSettings& Settings() override { return settings_; }
  TRunState& RunState() override { return state_; }
  TTempFolders& TempFolders() override { return temp_; }
  TIconLists& Icons() override { return icons_; }
  TZipKit& ZipKit() override { return kit_; }

  std::vector<std::string> Calls;
  TFileListView* DropTarget = reinterpret_cast<TFileListView*>(1);  // "never set"

 private:
  std::string current_;
  bool extracted_ = false;
  TSettings settings_;
  TRunState state_;
  TTempFolders temp_;
  TIconLists icons_;
  TZipKit kit_;
};

class PageHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unzip_ = std::make_unique<TUnzipPage>(host_);
    update_ = std::make_unique<TUpdatePage>(host_);
    create_ = std::make_unique<TCreatePage>(host_);
    batch_ = std::make_unique<TBatchPage>(host_);
    sfx_ = std::make_unique<TSfxPage>(host_);
  }
  std::vector<TPage*> Pages() const { return {unzip_.get(), update_.get(), create_.get(), batch_.get(), sfx_.get()}; }
  // The enabled state of every child widget of every page.
  std::vector<bool> EnabledStates(const TPage* except) const {
    std::vector<bool> out;
    for (TPage* p : Pages())
      if (p != except)
        for (QWidget* w : p->findChildren<QWidget*>()) out.push_back(w->isEnabled());
    return out;
  }

  TScriptedPrompt prompt_;
  TRecordingHost host_;
  std::unique_ptr<TUnzipPage> unzip_;
  std::unique_ptr<TUpdatePage> update_;
  std::unique_ptr<TCreatePage> create_;
  std::unique_ptr<TBatchPage> batch_;
  std::unique_ptr<TSfxPage> sfx_;
};

TEST_F(PageHostTest, ExitAndHelpButtonsAskTheHost) {
  struct Case {
    const char* name;
    std::function<QPushButton*()> exit, help;
    const char* helpPage;
    bool waitsForBatch;  // EXIT does nothing while a batch runs
  };
  const Case cases[] = {
      {"unzip", [&] { return unzip_->UnzipCloseButton; }, [&] { return unzip_->UnzipHelpButton; }, "unzip.html", false},
      {"update", [&] { return update_->UpdateExitbutton; }, [&] { return update_->UpdateHelpButton; }, "update.html",
       false},
      {"create", [&] { return create_->ZipExitButton; }, [&] { return create_->ZipHelpButton; }, "create.html", true},
      {"batch", [&] { return batch_->BatchExitButton; }, [&] { return batch_->BatchHelpButton; }, "batch.html", true},
      {"sfx", [&] { return sfx_->SFXExitButton; }, [&] { return sfx_->SFXHelpButton; }, "sezip.html", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    host_.Calls.clear();
    c.help()->setEnabled(true);
    c.help()->click();
    EXPECT_EQ(host_.Calls, std::vector<std::string>{std::string("help:") + c.helpPage});
    host_.Calls.clear();
    host_.RunState().BatchBusy = true;
    c.exit()->setEnabled(true);
    c.exit()->click();
    EXPECT_EQ(host_.Calls, c.waitsForBatch ? std::vector<std::string>{} : std::vector<std::string>{"close"});
    host_.RunState().BatchBusy = false;
    c.exit()->click();
    EXPECT_EQ(host_.Calls.back(), "close");
  }
}

TEST_F(PageHostTest, EachPageEnablesOnlyItsOwnControls) {
  for (TPage* page : Pages()) {
    SCOPED_TRACE(page->metaObject()->className());
    for (TPage* p : Pages())
      for (QWidget* w : p->findChildren<QWidget*>()) w->setEnabled(false);
    const std::vector<bool> others = EnabledStates(page);
    page->SetIdleButtons();
    page->EnableCommonControls();
    page->EnableWorkControls();
    EXPECT_EQ(EnabledStates(page), others);
  }
}

TEST_F(PageHostTest, IdleButtonsOfThePages) {
  // Each page's idle state: what is on without loaded data and what stays off.
  struct Case {
    TPage* page;
    std::vector<QWidget*> on, off;
  };
  const Case cases[] = {
      {unzip_.get(),
       {unzip_->UnzipListView, unzip_->OpenUnzipButton, unzip_->UnzipCloseButton, unzip_->CLRButton},
       {unzip_->UnzipButton, unzip_->SelectAllButton, unzip_->TreeButton, unzip_->SpiderButton, unzip_->TAGButton}},
      {update_.get(),
       {update_->OpenUpdateButton, update_->Button1, update_->UpdateListView},
       {update_->OpenFilesUpdateButton, update_->UpdateDeleteButton, update_->UpdateResetButton}},
      {create_.get(),
       {create_->OpenFilesZipButton, create_->OpenFolderzipButton, create_->ZipListView},
       {create_->ZipButton, create_->ZipUndoButton, create_->ZipResetButton}},
      {batch_.get(),
       {batch_->BatchUnzipOpenFileButton, batch_->ScanSubDirCheckBox, batch_->BatchListView},
       {batch_->BatchUnzipButton, batch_->BatchDeleteButton, batch_->BatchResetButton}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.page->metaObject()->className());
    for (QWidget* w : c.on) w->setEnabled(false);
    for (QWidget* w : c.off) w->setEnabled(true);
    c.page->SetIdleButtons();
    for (QWidget* w : c.on) EXPECT_TRUE(w->isEnabled());
    for (QWidget* w : c.off) EXPECT_FALSE(w->isEnabled());
  }
}

TEST_F(PageHostTest, ArchivesHandedToPages) {
  sfx_->TakeArchive("/x/y/archive.zip");
  EXPECT_EQ(sfx_->ZipFileNameLabel->text().toStdString(), "archive.zip");
  EXPECT_EQ(sfx_->SfxArchive, "/x/y/archive.zip");
  EXPECT_EQ(host_.CurrentArchiveFile(), "/x/y/archive.zip");
  EXPECT_EQ(host_.DropTarget, nullptr);
  EXPECT_EQ(host_.Calls, std::vector<std::string>{"caption:"});

  host_.Calls.clear();
  update_->TakeArchive("/x/b.zip");
  EXPECT_EQ(host_.CurrentArchiveFile(), "/x/b.zip");
  EXPECT_EQ(host_.Calls, std::vector<std::string>{"caption:/x/b.zip"});
  EXPECT_EQ(update_->DropList(), nullptr) << "no drops before the page has opened its archive";
  update_->UpdateResetButton->setEnabled(true);
  EXPECT_EQ(update_->DropList(), update_->UpdateListView);
}

TEST_F(PageHostTest, ClearingPages) {
  TListRow row;
  row.File = "a.txt";
  create_->ZipListView->Model()->Append(row);
  create_->ZipRunStarted = true;
  EXPECT_TRUE(create_->ArchiveReady());
  host_.Settings().CreateOptionsEditable = false;
  create_->Clear();
  EXPECT_FALSE(create_->HasRows());
  EXPECT_FALSE(create_->ArchiveReady());
  EXPECT_TRUE(host_.Settings().CreateOptionsEditable);

  unzip_->UnzipListView->Model()->Append(row);
  host_.SetCurrentArchiveFile("/x/a.zip");
  host_.SetArchiveExtracted(true);
  EXPECT_TRUE(unzip_->ArchiveReady());
  host_.Calls.clear();
  unzip_->ResetUnzipPage();
  EXPECT_FALSE(unzip_->HasRows());
  EXPECT_EQ(host_.CurrentArchiveFile(), "");
  EXPECT_FALSE(host_.ArchiveExtracted());
  EXPECT_EQ(host_.Calls, (std::vector<std::string>{"DisableAll", "DisableAll", "ClearTempFolders",
                                                   "SetPageIdleButtons", "caption:"}));
  EXPECT_EQ(host_.DropTarget, unzip_->UnzipListView);
}

}  // namespace
