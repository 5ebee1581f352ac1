#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <filesystem>

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
#include "pages/unzip/UnzipPopupMenu.h"
#include "pages/update/UpdatePage.h"
#include "platform/Associations.h"
#include "platform/Paths.h"

namespace fs = std::filesystem;

namespace {

// Each test gets its own data folder and a config file, so the first-run window stays away.
class FormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data_ = testenv::PrepareWindowData();
    SetModalHook([this](QDialog& d, const char* name) {
      windows_.push_back(name + std::string(":") + d.windowTitle().toStdString());
      return int(QDialog::Accepted);
    });
    form_ = std::make_unique<TTandorForm>();
  }
  void TearDown() override {
    form_.reset();
    SetModalHook(nullptr);
  }

  static void AddRows(TFileListView* list, int n) {
    for (int i = 0; i < n; ++i) {
      TListRow r;
      r.File = QString("f%1.txt").arg(i);
      list->Model()->Append(r);
    }
  }

  TScriptedPrompt prompt_;
  fs::path data_;
  std::vector<std::string> windows_;
  std::unique_ptr<TTandorForm> form_;
};

}  // namespace

TEST_F(FormTest, PagesAndCaptions) {
  ASSERT_EQ(form_->TabbedNotebook()->count(), 5);
  EXPECT_EQ(form_->TabbedNotebook()->tabText(0).toStdString(), "UNZIP A ZIP FILE   .");
  EXPECT_EQ(form_->TabbedNotebook()->tabText(1).toStdString(), "ADD UPDATE  .");
  EXPECT_EQ(form_->TabbedNotebook()->tabText(2).toStdString(), "CREATE A NEW ZIP FILE  .");
  EXPECT_EQ(form_->TabbedNotebook()->tabText(3).toStdString(), "BATCH UNZIP  .");
  EXPECT_EQ(form_->TabbedNotebook()->tabText(4).toStdString(), "SELF EXTRACTING ZIP   .");
  EXPECT_EQ(form_->windowTitle().toStdString(), "Tandor");
  EXPECT_TRUE(windows_.empty()) << "no first-run window when a config exists";
}

TEST_F(FormTest, BusyPageCannotBeLeft) {
  form_->UnzipPage()->UnzipProgressBar->setValue(40);
  EXPECT_EQ(form_->RequestPage(kCreatePage), kUnzipPage);
  form_->UnzipPage()->UnzipProgressBar->setValue(0);
  EXPECT_EQ(form_->RequestPage(kBatchPage), kBatchPage);
  form_->BatchPage()->BatchProgressBar->setValue(1);
  EXPECT_EQ(form_->RequestPage(kUnzipPage), kBatchPage);
  EXPECT_TRUE(prompt_.History().empty());
}

// Ctrl+Tab and Ctrl+Shift+Tab go through the same rules as a click on a tab.
TEST_F(FormTest, KeyboardPageSwitchFollowsTheRules) {
  const auto press = [this](Qt::KeyboardModifiers modifiers) {
    QKeyEvent e(QEvent::KeyPress, Qt::Key_Tab, modifiers);
    QApplication::sendEvent(form_->TabbedNotebook()->currentWidget(), &e);
    return form_->CurrentPage();
  };
  form_->UnzipPage()->UnzipProgressBar->setValue(40);
  EXPECT_EQ(press(Qt::ControlModifier), kUnzipPage) << "a busy page stays";
  form_->UnzipPage()->UnzipProgressBar->setValue(0);
  EXPECT_EQ(press(Qt::ControlModifier), kUpdatePage);
  EXPECT_EQ(press(Qt::ControlModifier | Qt::ShiftModifier), kUnzipPage);
  EXPECT_EQ(press(Qt::ControlModifier | Qt::ShiftModifier), kSfxPage);
  EXPECT_TRUE(prompt_.History().empty());
}

TEST_F(FormTest, LeavingFilledCreateListAsks) {
  form_->RequestPage(kCreatePage);
  AddRows(form_->CreatePage()->ZipListView, 3);
  prompt_.QueueAnswer(TPromptAnswer::No);
  EXPECT_EQ(form_->RequestPage(kUnzipPage), kCreatePage);
  EXPECT_TRUE(prompt_.Saw("CLEAR THE CURRENT ENTRIES AND SWITCH TO A NEW WINDOW?"));
  EXPECT_EQ(form_->CreatePage()->ZipListView->Count(), 3);
  prompt_.QueueAnswer(TPromptAnswer::Yes);
  form_->CreatePage()->NumfilesEdit->setText("3");
  EXPECT_EQ(form_->RequestPage(kUpdatePage), kUpdatePage);
  EXPECT_EQ(form_->CreatePage()->ZipListView->Count(), 0);
  EXPECT_EQ(form_->CreatePage()->NumfilesEdit->text().toStdString(), "0");
  EXPECT_TRUE(form_->Settings().CreateOptionsEditable);
  // Going to batch does not ask.
  form_->RequestPage(kCreatePage);
  AddRows(form_->CreatePage()->ZipListView, 1);
  prompt_.Clear();
  EXPECT_EQ(form_->RequestPage(kBatchPage), kBatchPage);
  EXPECT_TRUE(prompt_.History().empty());
}

TEST_F(FormTest, BackFromBatchGoesToFirstFilledPage) {
  form_->RequestPage(kBatchPage);
  AddRows(form_->UnzipPage()->UnzipListView, 2);
  AddRows(form_->CreatePage()->ZipListView, 2);
  EXPECT_EQ(form_->RequestPage(kCreatePage), kUnzipPage);
  form_->RequestPage(kSfxPage);
  EXPECT_EQ(form_->RequestPage(kUnzipPage), kUnzipPage) << "a click on that very page is allowed";
  form_->UnzipPage()->UnzipListView->Model()->Clear();
  form_->RequestPage(kBatchPage);
  prompt_.Clear();
  EXPECT_EQ(form_->RequestPage(kUpdatePage), kCreatePage);
  EXPECT_TRUE(prompt_.History().empty());
}

TEST_F(FormTest, LoadedUnzipToCreateAsks) {
  AddRows(form_->UnzipPage()->UnzipListView, 2);
  form_->SetCurrentArchiveFile("/x/a.zip");
  form_->SetCaption(form_->CurrentArchiveFile());
  EXPECT_EQ(form_->windowTitle().toStdString(), "Tandor : a.zip");
  prompt_.QueueAnswer(TPromptAnswer::No);
  EXPECT_EQ(form_->RequestPage(kCreatePage), kUnzipPage);
  EXPECT_TRUE(prompt_.Saw("WOULD YOU LIKE TO CLEAR THE LOADED FILE AND CREATE A NEW ZIPFILE?"));
  prompt_.QueueAnswer(TPromptAnswer::Yes);
  EXPECT_EQ(form_->RequestPage(kCreatePage), kCreatePage);
  EXPECT_EQ(form_->UnzipPage()->UnzipListView->Count(), 0);
  EXPECT_EQ(form_->windowTitle().toStdString(), "Tandor");
  EXPECT_EQ(form_->DropTarget(), form_->CreatePage()->ZipListView);
}

TEST_F(FormTest, UpdatePageToUnzipQueuesTheArchive) {
  const fs::path x = testenv::MakeTempDir("x");  // the queue takes existing archives only
  for (const char* name : {"B.zip", "b.ZIP", "c.zip", "d.zip"}) testenv::WriteFile(x / name, "PK");
  const std::string dir = x.string();
  form_->RequestPage(kUpdatePage);
  AddRows(form_->UpdatePage()->UpdateListView, 2);
  form_->SetCurrentArchiveFile(dir + "/B.zip");
  form_->QueueList().push_back(dir + "/b.ZIP");  // already queued with other letter case
  EXPECT_EQ(form_->RequestPage(kUnzipPage), kUnzipPage);
  EXPECT_EQ(form_->QueueList().size(), 2u);
  EXPECT_EQ(form_->UpdatePage()->UpdateListView->Count(), 0);
  EXPECT_FALSE(form_->UpdatePage()->UpdateResetButton->isEnabled());
  form_->RequestPage(kUpdatePage);
  AddRows(form_->UpdatePage()->UpdateListView, 2);
  form_->SetCurrentArchiveFile(dir + "/c.zip");
  EXPECT_EQ(form_->RequestPage(kUnzipPage), kUnzipPage);
  EXPECT_EQ(form_->QueueList().back(), dir + "/c.zip");
  // Update to create asks, and does not queue.
  form_->RequestPage(kUpdatePage);
  AddRows(form_->UpdatePage()->UpdateListView, 1);
  form_->SetCurrentArchiveFile(dir + "/d.zip");
  prompt_.QueueAnswer(TPromptAnswer::No);
  EXPECT_EQ(form_->RequestPage(kCreatePage), kUpdatePage);
  prompt_.QueueAnswer(TPromptAnswer::Yes);
  EXPECT_EQ(form_->RequestPage(kCreatePage), kCreatePage);
  EXPECT_EQ(form_->QueueList().back(), dir + "/c.zip");
}

TEST_F(FormTest, ZipArchiveGoesToSelfExtractingPage) {
  const fs::path dir = testenv::MakeTempDir("sfx");
  ASSERT_EQ(testenv::Run("cd " + testenv::Quote(dir.string()) + " && echo a > a.txt && zip -q archive.zip a.txt"), 0);
  AddRows(form_->UnzipPage()->UnzipListView, 2);
  form_->SetCurrentArchiveFile((dir / "archive.zip").string());
  EXPECT_EQ(form_->RequestPage(kSfxPage), kSfxPage);
  EXPECT_EQ(form_->UnzipPage()->UnzipListView->Count(), 0);
  EXPECT_EQ(form_->SfxPage()->ZipFileNameLabel->text().toStdString(), "archive.zip");
  EXPECT_EQ(form_->DropTarget(), nullptr);
  EXPECT_EQ(form_->windowTitle().toStdString(), "Tandor");
  // Back to the unzip page after a program was turned into a zip: the archive is listed again.
  form_->RunState().SfxCreated = true;
  EXPECT_EQ(form_->RequestPage(kUnzipPage), kUnzipPage);
  EXPECT_FALSE(form_->RunState().SfxCreated);
  EXPECT_EQ(form_->windowTitle().toStdString(), "Tandor : archive.zip");
  EXPECT_EQ(form_->UnzipPage()->UnzipListView->Count(), 1);
  EXPECT_TRUE(prompt_.Texts().empty());
}

TEST_F(FormTest, CreatedArchiveGoesToSelfExtractingPageOnlyAfterARun) {
  form_->RequestPage(kCreatePage);
  AddRows(form_->CreatePage()->ZipListView, 2);
  form_->SetCurrentArchiveFile("/x/new.zip");
  EXPECT_EQ(form_->RequestPage(kSfxPage), kSfxPage);
  EXPECT_EQ(form_->CreatePage()->ZipListView->Count(), 2) << "no run started: the list stays";
  EXPECT_EQ(form_->RequestPage(kCreatePage), kCreatePage);
  form_->CreatePage()->ZipRunStarted = true;
  EXPECT_EQ(form_->RequestPage(kSfxPage), kSfxPage);
  EXPECT_EQ(form_->CreatePage()->ZipListView->Count(), 0);
  EXPECT_EQ(form_->SfxPage()->ZipFileNameLabel->text().toStdString(), "new.zip");
}

TEST_F(FormTest, UnzipToUpdateMovesTheZipArchive) {
  AddRows(form_->UnzipPage()->UnzipListView, 2);
  form_->SetCurrentArchiveFile("/x/a.tar");
  EXPECT_EQ(form_->RequestPage(kUpdatePage), kUpdatePage);
  EXPECT_EQ(form_->UnzipPage()->UnzipListView->Count(), 2) << "only zip archives move";
  form_->RequestPage(kUnzipPage);
  form_->SetCurrentArchiveFile("/x/a.zip");
  EXPECT_EQ(form_->RequestPage(kUpdatePage), kUpdatePage);
  EXPECT_EQ(form_->UnzipPage()->UnzipListView->Count(), 0);
  EXPECT_EQ(form_->CurrentArchiveFile(), "/x/a.zip");
}

TEST_F(FormTest, ClickResetsCutoffDatesAndDropTargetFollows) {
  form_->Settings().CreateCutoffDate = 40000;
  form_->Settings().UpdateCutoffDate = 40000;
  form_->RequestPage(kCreatePage);
  EXPECT_EQ(form_->Settings().CreateCutoffDate, 0);
  EXPECT_EQ(form_->Settings().UpdateCutoffDate, 40000);
  form_->RequestPage(kUpdatePage);
  EXPECT_EQ(form_->Settings().UpdateCutoffDate, 0);
  EXPECT_EQ(form_->DropTarget(), nullptr) << "no archive open on the update page";
  form_->UpdatePage()->UpdateResetButton->setEnabled(true);
  form_->RequestPage(kBatchPage);
  EXPECT_EQ(form_->DropTarget(), nullptr) << "the batch page keeps the previous target";
  form_->RequestPage(kUpdatePage);
  EXPECT_EQ(form_->DropTarget(), form_->UpdatePage()->UpdateListView);
  form_->RequestPage(kUnzipPage);
  EXPECT_EQ(form_->DropTarget(), form_->UnzipPage()->UnzipListView);
}

TEST_F(FormTest, DisableAndEnableAll) {
  form_->DisableAll();
  EXPECT_FALSE(form_->UnzipPage()->UnzipButton->isEnabled());
  EXPECT_FALSE(form_->UnzipPage()->UnzipListView->isEnabled());
  EXPECT_TRUE(form_->CreatePage()->ZipHelpButton->isEnabled()) << "only the current page is disabled";
  AddRows(form_->UnzipPage()->UnzipListView, 1);
  form_->EnableAll();
  EXPECT_TRUE(form_->UnzipPage()->UnzipButton->isEnabled());
  EXPECT_FALSE(form_->UnzipPage()->TreeButton->isEnabled()) << "tree needs two rows";
  EXPECT_FALSE(form_->UnzipPage()->SpiderButton->isEnabled()) << "no sibling program";
  AddRows(form_->UnzipPage()->UnzipListView, 1);
  form_->EnableAll();
  EXPECT_TRUE(form_->UnzipPage()->TreeButton->isEnabled());
  form_->RequestPage(kCreatePage);
  form_->CreatePage()->ZipStopButton->setEnabled(true);
  form_->CreatePage()->ZipProgressBar->setValue(70);
  form_->CreatePage()->EnableTimerTimer();
  EXPECT_FALSE(form_->CreatePage()->ZipStopButton->isEnabled());
  EXPECT_TRUE(form_->CreatePage()->ZipButton->isEnabled());
  EXPECT_EQ(form_->CreatePage()->ZipProgressBar->value(), 0);
}

TEST_F(FormTest, StartupThenCloseLeavesOnlyTheConfigAndTheWindowState) {
  form_->DoCloseCode();
  EXPECT_EQ(testenv::ListTree(data_), (std::vector<std::string>{"config", "window"}));
}

TEST_F(FormTest, ClosingQueuesAnUnextractedArchive) {
  const std::string keep = (testenv::MakeTempDir("x") / "keep.zip").string();
  testenv::WriteFile(keep, "PK");
  AddRows(form_->UnzipPage()->UnzipListView, 1);
  form_->SetCurrentArchiveFile(keep);
  form_->DoCloseCode();
  EXPECT_EQ(form_->QueueList().back(), keep);
}

TEST(FormFirstRun, FirstRunShowsStartupLinksAndWritesDefaults) {
  const fs::path data = testenv::MakeTempDir("first");
  setenv("TANDOR_HOME", data.c_str(), 1);
  TScriptedPrompt prompt;
  std::vector<std::string> windows;
  SetModalHook([&](QDialog& d, const char* name) {
    auto* pages = d.findChild<QTabWidget*>();
    windows.push_back(name + std::string(":") + d.windowTitle().toStdString() + ":" +
                      (pages ? pages->tabText(pages->currentIndex()).toStdString() : ""));
    return int(QDialog::Accepted);
  });
  {
    TTandorForm form;
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0], "TPropertiesForm:Zip File Properties:Startup Links   .");
    EXPECT_TRUE(fs::exists(data / "config"));
  }
  {
    TTandorForm again;
    EXPECT_EQ(windows.size(), 1u) << "the second start has a config";
  }
  SetModalHook(nullptr);
  EXPECT_EQ(testenv::ListTree(data), (std::vector<std::string>{"config", "window"}));
  const std::string config = testenv::ReadFile(data / "config");
  EXPECT_EQ(std::count(config.begin(), config.end(), '\n'), 61);
}

// The first-run window may give the program some file types: the first-run file keeps the handlers
// to give back.
TEST(FormFirstRun, TypesTakenInTheFirstRunWindowCanBeGivenBack) {
  const fs::path data = testenv::MakeTempDir("first");
  setenv("TANDOR_HOME", data.c_str(), 1);
  const fs::path config = fs::path(getenv("XDG_CONFIG_HOME"));
  fs::create_directories(config);
  testenv::WriteFile(config / "mimeapps.list", "[Default Applications]\napplication/zip=ark.desktop;\n");
  TScriptedPrompt prompt;
  SetModalHook([&](QDialog& d, const char*) {
    auto* take = d.findChild<QPushButton*>("setTandorDefaultButton");
    if (take) take->click();
    return int(QDialog::Accepted);
  });
  { TTandorForm form; }
  SetModalHook(nullptr);
  TSettings s;
  s.ConfigFile = (data / "config").string();
  ASSERT_TRUE(s.LoadSettings());
  EXPECT_EQ(s.PrevZipProgId, "ark.desktop;");
  EXPECT_TRUE(s.UnzipFolders) << "otherwise the first-run values";
  SetUserDefaultHandler("application/zip", "ark.desktop;");
  fs::remove(config / "mimeapps.list");
}

TEST_F(FormTest, PropertiesOpenOnThePageOfTheirEntryPoint) {
  std::vector<std::string> pages;
  SetModalHook([&](QDialog& d, const char* name) {
    auto* tabs = d.findChild<QTabWidget*>();
    if (std::string(name) == "TPropertiesForm" && tabs) pages.push_back(tabs->tabText(tabs->currentIndex()).toStdString());
    EXPECT_TRUE(form_->ModalDialogOpen()) << name;
    return int(QDialog::Rejected);
  });
  form_->PropertiesClick();
  form_->Settings().DefaultArchiveType = 1;
  form_->CreatePage()->ZipPropertiesButtonClick();
  for (int32_t type : {0, 2, 3, 4}) {
    form_->Settings().DefaultArchiveType = type;
    form_->CreatePage()->ZipPropertiesButtonClick();
  }
  form_->UpdatePage()->Button1Click();
  form_->SetCurrentArchiveFile("/x/a.rar");
  form_->UnzipPage()->UnzipPropertiesButtonClick();
  EXPECT_EQ(pages, (std::vector<std::string>{"Startup Links   .", "ADD Files", "Default Type", "Default Type",
                                             "Default Type", "Default Type", "ADD Files", "Startup Links   ."}));
  EXPECT_FALSE(form_->ModalDialogOpen());
}

TEST_F(FormTest, TheProgramsClassAndViewersAtStart) {
  const fs::path entry = fs::path(getenv("XDG_DATA_HOME")) / "applications/tandorfile.desktop";
  ASSERT_TRUE(fs::exists(entry));
  EXPECT_NE(testenv::ReadFile(entry).find("Exec=" + ProgramPath() + " %f\n"), std::string::npos);
  EXPECT_EQ(form_->Settings().QuickViewProgram, "") << "none unless configured";
  EXPECT_EQ(form_->Settings().WordPadAvailable, !FindViewerPrograms().WordPad.empty());
}

TEST(FormStart, TheThumbnailSizeEntryOfTheLoadedSizeIsChecked) {
  struct Row {
    int32_t size;
    const char* checked;
  };
  for (const Row& r : {Row{128, "128 X 128"}, Row{32, "32 X 32"}, Row{64, "64 X 64"}, Row{100, "Other"}}) {
    SCOPED_TRACE(r.size);
    const fs::path data = testenv::MakeTempDir("thumbs");
    setenv("TANDOR_HOME", data.c_str(), 1);
    TSettings s;
    s.ConfigFile = (data / "config").string();
    s.WriteDefaultSettings();
    s.ThumbSize = r.size;
    ASSERT_TRUE(s.SaveSettings());
    TScriptedPrompt prompt;
    TTandorForm form;
    std::vector<std::string> checked;
    for (QMenu* sizes : form.UnzipPage()->UnzipPopupMenu->findChildren<QMenu*>()) {
      if (sizes->title() != "Thumbnail Size") continue;
      for (QAction* a : sizes->actions())
        if (a->isChecked()) checked.push_back(a->text().toStdString());
    }
    EXPECT_EQ(checked, std::vector<std::string>{r.checked});
  }
}

TEST(FormFirstRun, UnreadableConfigIsReportedOnceAndKept) {
  const fs::path data = testenv::MakeTempDir("bad");
  setenv("TANDOR_HOME", data.c_str(), 1);
  fs::create_directories(data / "config");  // a folder where the file should be
  TScriptedPrompt prompt;
  {
    TTandorForm form;
    form.DoCloseCode();
  }
  int reports = 0;
  for (const auto& t : prompt.Texts()) reports += t.find("SETTINGS FILE") != std::string::npos;
  EXPECT_EQ(reports, 1);
  EXPECT_TRUE(fs::is_directory(data / "config"));
}

TEST(FormSettings, UnreadableSettingsFileIsLeftAsItIs) {
  const fs::path data = testenv::MakeTempDir("data");
  setenv("TANDOR_HOME", data.c_str(), 1);
  fs::create_symlink("config", data / "config");  // a loop: cannot be read
  SetProgramPath((testenv::ProgramDir() / "tandorfile").string());
  TScriptedPrompt prompt;
  std::vector<std::string> windows;
  SetModalHook([&](QDialog&, const char* name) {
    windows.push_back(name);
    return int(QDialog::Accepted);
  });
  {
    TTandorForm form;
    form.Settings().QueueEnabled = !form.Settings().QueueEnabled;
  }
  SetModalHook(nullptr);
  EXPECT_TRUE(windows.empty()) << "not taken for a first run";
  ASSERT_EQ(prompt.Texts().size(), 1u);
  EXPECT_NE(prompt.Texts()[0].find("CANNOT READ THE SETTINGS FILE"), std::string::npos);
  EXPECT_NE(prompt.Texts()[0].find("KEPT FOR THIS SESSION ONLY"), std::string::npos);
  EXPECT_TRUE(fs::is_symlink(data / "config"));
  EXPECT_EQ(fs::read_symlink(data / "config"), "config");
}

TEST(FormEngines, MissingEnginesAreReportedAtStart) {
  const fs::path data = testenv::MakeTempDir("data");
  setenv("TANDOR_HOME", data.c_str(), 1);
  TSettings s;
  s.ConfigFile = (data / "config").string();
  s.WriteDefaultSettings();
  SetProgramPath((testenv::MakeTempDir("noengines") / "tandorfile").string());
  TScriptedPrompt prompt;
  { TTandorForm form; }
  SetProgramPath((testenv::ProgramDir() / "tandorfile").string());  // the engines live there
  EXPECT_EQ(prompt.Texts(), (std::vector<std::string>{"libzipeng.so not found!", "libzipeng.so not found! unloaded",
                                                      "libunzeng.so not found!", "libunzeng.so not found! unloaded"}));
  // With the engines beside the program: not a word.
  prompt.Clear();
  { TTandorForm form; }
  EXPECT_EQ(prompt.Texts(), std::vector<std::string>{});
}

TEST_F(FormTest, ColdStartEnablesOnlyWhatWorksWithoutAnArchive) {
  TUnzipPage* u = form_->UnzipPage();
  for (QPushButton* b : {u->UnzipButton, u->SelectAllButton, u->UnSelectAllButton, u->SelectButton,
                         u->FolderFilterButton, u->TreeButton, u->TAGButton, u->UnzipResetButton, u->SaveQueueButton,
                         u->SaveUnzipFileButton})
    EXPECT_FALSE(b->isEnabled()) << b->text().toStdString();
  for (QPushButton* b : {u->OpenUnzipButton, u->UnzipCloseButton, u->UnzipHelpButton, u->CLRButton, u->MoveBatchButton})
    EXPECT_TRUE(b->isEnabled()) << b->text().toStdString();
}

// The window's size and the lists' column widths come back at the next start; a damaged state file
// leaves the defaults.
TEST_F(FormTest, WindowSizeAndColumnWidthsAreKept) {
  form_->resize(900, 640);
  TFileListView* list = form_->UnzipPage()->UnzipListView;
  list->header()->resizeSection(0, 333);
  list->header()->resizeSection(2, 77);
  form_->DoCloseCode();
  form_ = std::make_unique<TTandorForm>();
  EXPECT_EQ(form_->size(), QSize(900, 640));
  EXPECT_EQ(form_->UnzipPage()->UnzipListView->header()->sectionSize(0), 333);
  EXPECT_EQ(form_->UnzipPage()->UnzipListView->header()->sectionSize(2), 77);
  // The filtered list has the same columns and takes the same widths.
  EXPECT_EQ(form_->UnzipPage()->UnzipFilteredListView->header()->sectionSize(0), 333);
  form_.reset();

  for (const std::string& damaged : {std::string("geometry=%%%\nlist_=\n\x01\x02"), std::string(5000, '=')}) {
    testenv::WriteFile(data_ / "window", damaged);
    form_ = std::make_unique<TTandorForm>();
    EXPECT_EQ(form_->size(), QSize(1024, 720));
    form_.reset();
  }
}
