// The self-extracting page on a host of its own: choosing a file, the option rules, the icon, the
// auto-start chooser, CONVERT both ways and its messages.
#include <gtest/gtest.h>

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <filesystem>

#include "ScriptedPrompt.h"
#include "TestEnv.h"
#include "core/Settings.h"
#include "ops/SfxConvertJob.h"
#include "pages/common/IconLists.h"
#include "pages/common/PromptService.h"
#include "pages/sfx/AutoStartSelectForm.h"
#include "pages/sfx/SfxPage.h"
#include "platform/Paths.h"
#include "platform/TempFolders.h"
#include "zip/ZipKit.h"

namespace fs = std::filesystem;
using testenv::Quote;

namespace {

class THost : public IPageHost {
 public:
  THost() : temp_(testenv::MakeTempDir("cache").string(), "/nonexistent-tmp") { kit_.HowToDelete = htdFinal; }
  void SetCaption(const std::string&) override {}
  void DisableAll() override {}
  void EnableAll() override {}
  void SetPageIdleButtons() override {}
  std::string BrowseforFolder(const std::string& title, bool, bool) override {
    Browsed.push_back(title);
    return BrowseAnswer;
  }
  void OpenHelpPage(const std::string&) override {}
  void CloseProgram() override {}
  int RequestPage(int index) override { return index; }
  void HandArchiveTo(int, const std::string&) override {}
  std::string CurrentArchiveFile() const override { return current_; }
  void SetCurrentArchiveFile(const std::string& archive) override { current_ = archive; }
  bool ArchiveExtracted() const override { return false; }
  void SetArchiveExtracted(bool) override {}
  void SetModalDialogOpen(bool open) override { ModalSeen |= open; }
  void SetDropTarget(TFileListView*) override {}
  void AddToQueue(const std::string&) override {}
  void ClearTempFolders() override {}
  TSettings& Settings() override { return settings_; }
  TRunState& RunState() override { return state_; }
  TTempFolders& TempFolders() override { return temp_; }
  TIconLists& Icons() override { return icons_; }
  TZipKit& ZipKit() override { return kit_; }

  std::vector<std::string> Browsed;
  std::string BrowseAnswer;
  bool ModalSeen = false;

 private:
  std::string current_;
  TSettings settings_;
  TRunState state_;
  TTempFolders temp_;
  TIconLists icons_;
  TZipKit kit_;
};

std::string IconBytes(uint8_t width, uint8_t colours) {
  std::string f("\0\0\1\0\1\0", 6);
  f += char(width);
  f += char(width);
  f += char(colours);
  f += std::string("\0\1\0\4\0\xe8\2\0\0\x16\0\0\0", 13);
  f += std::string(40, '\0');
  f += std::string(704, '\x11');
  return f;
}

class SfxPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramPath((testenv::ProgramDir() / "tandorfile").string());
    dir = testenv::MakeTempDir("sfxpage");
    fs::create_directories(dir / "src" / "sub");
    testenv::WriteFile(dir / "src" / "run.sh", "#!/bin/sh\n");
    testenv::WriteFile(dir / "src" / "sub" / "b.txt", "bee\n");
    std::string out;
    ASSERT_EQ(testenv::Run("cd " + Quote((dir / "src").string()) + " && zip -q ../in.zip run.sh sub/b.txt", &out), 0) << out;
    page = std::make_unique<TSfxPage>(host);
  }
  void TearDown() override { SetModalHook(nullptr); }
  // Opens `file` with OPEN.
  void Open(const fs::path& file) {
    prompt.QueuePath(file.string());
    page->OpenSFXZipButtonClick();
  }
  // The settings a program holds, read back by converting a copy of it.
  TSfxSettings SettingsOf(const fs::path& program) {
    const fs::path copy = dir / "probe" / program.filename();
    fs::create_directories(copy.parent_path());
    fs::copy_file(program, copy, fs::copy_options::overwrite_existing);
    TSfxConvertParams p;
    p.Source = copy.string();
    p.ToProgram = false;
    p.AllowUndo = false;
    TSfxConvertJob job(p);
    EXPECT_TRUE(job.Run().Status.IsOk());
    fs::remove_all(copy.parent_path());
    TSfxSettings s = job.FoundSettings();
    s.Icon.clear();
    return s;
  }
  bool OptionsEnabled() const {
    return page->CaptionEdit->isEnabled() && page->SFXDirComboBox->isEnabled() && page->SelectAutoStartButton->isEnabled() &&
           page->AutoUnzipCheckBox->isEnabled() && page->SFXIconButton->isEnabled() &&
           page->SFXMessageTypeRadioGroup->button(2)->isEnabled();
  }

  fs::path dir;
  TScriptedPrompt prompt;
  THost host;
  std::unique_ptr<TSfxPage> page;
};

TEST_F(SfxPageTest, StartsEmptyAndOpensArchivesAndPrograms) {
  EXPECT_FALSE(page->SFXCreateButton->isEnabled());
  EXPECT_FALSE(page->SFXResetButton->isEnabled());
  EXPECT_FALSE(OptionsEnabled());
  EXPECT_EQ(page->SelDirEdit->text().toStdString(), "The Users Currently Open Folder");

  Open(dir / "in.zip");
  EXPECT_TRUE(OptionsEnabled());
  EXPECT_TRUE(page->SFXCreateButton->isEnabled());
  EXPECT_EQ(page->ZipFileNameLabel->text().toStdString(), "in.zip");
  EXPECT_EQ(host.CurrentArchiveFile(), (dir / "in.zip").string());
  EXPECT_EQ(host.Settings().ArchiveOpenFolder, dir.string());
  EXPECT_EQ(prompt.History().front().caption, "Choose a zip file to Open");

  page->SFXResetButtonClick();
  EXPECT_FALSE(page->SFXCreateButton->isEnabled());
  EXPECT_TRUE(page->ZipFileNameLabel->text().isEmpty());

  // A program: only CONVERT and RESET.
  ASSERT_EQ(testenv::Run("cp " + Quote((dir / "in.zip").string()) + " " + Quote((dir / "keep.zip").string())), 0);
  host.ZipKit().SetZipFileName((dir / "keep.zip").string());
  ASSERT_EQ(host.ZipKit().ConvertToSfx(), 0);
  Open(dir / "keep.run");
  EXPECT_TRUE(page->SFXCreateButton->isEnabled());
  EXPECT_TRUE(page->SFXResetButton->isEnabled());
  EXPECT_FALSE(OptionsEnabled());

  // A program of another make whose offsets were never adjusted: the warning, and the page stays empty.
  testenv::WriteFile(dir / "other.run", std::string(500, 'x') + testenv::ReadFile(dir / "in.zip"));
  prompt.Clear();
  Open(dir / "other.run");
  EXPECT_TRUE(prompt.Saw("Warning - Error in zip structure!"));
  EXPECT_FALSE(page->SFXCreateButton->isEnabled());
  EXPECT_TRUE(page->ZipFileNameLabel->text().isEmpty());
}

TEST_F(SfxPageTest, TheAutomaticModeExcludesTheInteractiveOptions) {
  Open(dir / "in.zip");
  page->SFXMessageTypeRadioGroup->button(3)->setChecked(true);
  page->CancelAutoStartCheckBox->setChecked(true);
  page->ShowContentsCheckBox->setChecked(true);
  page->SuccessMessageCheckBox->setChecked(false);
  page->SFXDirComboBox->setCurrentIndex(1);
  page->AutoUnzipCheckBox->setChecked(true);
  page->AutoUnzipCheckBoxClick();
  EXPECT_EQ(page->SFXMessageTypeRadioGroup->checkedId(), 0);
  EXPECT_FALSE(page->CancelAutoStartCheckBox->isChecked());
  EXPECT_FALSE(page->ShowContentsCheckBox->isChecked());
  EXPECT_TRUE(page->SuccessMessageCheckBox->isChecked());
  EXPECT_EQ(page->SFXDirComboBox->currentIndex(), 0);
  EXPECT_EQ(page->SelDirEdit->text().toStdString(), "The Users Currently Open Folder");

  // Each interactive choice ends the automatic mode.
  const std::vector<std::pair<const char*, std::function<void()>>> leaves = {
      {"a message box", [&] { page->SFXMessageTypeRadioGroup->button(1)->setChecked(true); page->SFXMessageTypeRadioGroupClick(); }},
      {"choosing files", [&] { page->ShowContentsCheckBox->setChecked(true); page->ShowContentsCheckBoxClick(); }},
      {"the success message", [&] { page->SuccessMessageCheckBox->setChecked(false); page->SuccessMessageCheckBoxClick(); }},
      {"cancelling the start", [&] { page->CancelAutoStartCheckBox->setChecked(true); page->CancelAutoStartCheckBoxClick(); }},
      {"another folder", [&] { page->SFXDirComboBox->setCurrentIndex(1); page->SFXDirComboBoxChange(); }},
  };
  for (const auto& [id, act] : leaves) {
    SCOPED_TRACE(id);
    page->AutoUnzipCheckBox->setChecked(true);
    page->AutoUnzipCheckBoxClick();
    act();
    EXPECT_FALSE(page->AutoUnzipCheckBox->isChecked());
  }
  EXPECT_EQ(page->SelDirEdit->text().toStdString(), "The Users Temporary Directory");
}

TEST_F(SfxPageTest, ASelectedFolder) {
  Open(dir / "in.zip");
  page->SFXDirComboBox->setCurrentIndex(2);
  page->SFXDirComboBoxChange();  // the browser is cancelled
  EXPECT_EQ(host.Browsed.back(), "SELECT THE FOLDER FOR SELF EXTRACTING ZIP FILE OPERATION ON THE USERS COMPUTER");
  EXPECT_EQ(page->SFXDirComboBox->currentIndex(), 0);
  EXPECT_EQ(page->SelDirEdit->text().toStdString(), "The Users Currently Open Folder");
  host.BrowseAnswer = "/opt/target";
  page->SFXDirComboBox->setCurrentIndex(2);
  page->SFXDirComboBoxChange();
  EXPECT_EQ(page->SelDirEdit->text().toStdString(), "/opt/target");
  EXPECT_EQ(page->SettingsFromControls().DefaultDir, "/opt/target");
  page->SFXDirComboBox->setCurrentIndex(1);
  page->SFXDirComboBoxChange();
  EXPECT_EQ(page->SettingsFromControls().DefaultDir, "><");
}

TEST_F(SfxPageTest, IconsOf32By32With16ColoursOnly) {
  Open(dir / "in.zip");
  testenv::WriteFile(dir / "good.ico", IconBytes(32, 16));
  testenv::WriteFile(dir / "big.ico", IconBytes(48, 16));
  testenv::WriteFile(dir / "many.ico", IconBytes(32, 0));
  testenv::WriteFile(dir / "short.ico", "\0\0\1");
  prompt.QueuePath((dir / "good.ico").string());
  page->SFXIconButtonClick();
  EXPECT_EQ(host.Settings().SfxIconFile, (dir / "good.ico").string());
  EXPECT_EQ(host.Settings().SfxIconFolder, dir.string());
  EXPECT_EQ(host.ZipKit().SFXIcon.size(), 766u);
  EXPECT_FALSE(prompt.Saw("YOU MUST CHOOSE"));
  for (const char* refused : {"big.ico", "many.ico", "short.ico"}) {
    SCOPED_TRACE(refused);
    prompt.Clear();
    prompt.QueuePath((dir / refused).string());
    page->SFXIconButtonClick();
    EXPECT_TRUE(prompt.Saw("YOU MUST CHOOSE AN ICON THAT IS 32 BY 32 PIXELS AND WHICH CONTAINS ONLY 16 COLORS."));
    EXPECT_EQ(host.Settings().SfxIconFile, (dir / "good.ico").string());
    EXPECT_EQ(host.ZipKit().SFXIcon.size(), 766u);
  }
  EXPECT_EQ(prompt.History().front().caption, "Select an Icon for the Self Extracting Zip File");
}

TEST_F(SfxPageTest, TheAutoStartChooser) {
  Open(dir / "in.zip");
  // Cancel after clicking a row still takes the row.
  SetModalHook([](QDialog& d, const char* name) {
    EXPECT_STREQ(name, "TAutoStartSelectForm");
    auto& form = static_cast<TAutoStartSelectForm&>(d);
    EXPECT_EQ(form.windowTitle().toStdString(), "Select File to Auto Start when Zip File Extraction is Complete...");
    EXPECT_EQ(form.ListView->topLevelItemCount(), 2);
    EXPECT_FALSE(form.OKButton->isEnabled());
    form.ListView->topLevelItem(1)->setSelected(true);
    EXPECT_TRUE(form.OKButton->isEnabled());
    EXPECT_EQ(form.ListView->topLevelItem(1)->text(1).toStdString(), "sub/");
    return int(QDialog::Rejected);
  });
  page->SelectAutoStartButtonClick();
  EXPECT_EQ(page->AutoStartFileNameLabel->text().toStdString(), "sub/b.txt");
  EXPECT_TRUE(host.ModalSeen);
  // An entry at the archive's root: its name alone.
  SetModalHook([](QDialog& d, const char*) {
    static_cast<TAutoStartSelectForm&>(d).ListView->topLevelItem(0)->setSelected(true);
    return int(QDialog::Accepted);
  });
  page->SelectAutoStartButtonClick();
  EXPECT_EQ(page->AutoStartFileNameLabel->text().toStdString(), "run.sh");
  EXPECT_EQ(page->SettingsFromControls().CommandLine, "><run.sh");
  // No row chosen: the text stays.
  SetModalHook([](QDialog&, const char*) { return int(QDialog::Rejected); });
  page->SelectAutoStartButtonClick();
  EXPECT_EQ(page->AutoStartFileNameLabel->text().toStdString(), "run.sh");
  // An archive without entries.
  testenv::WriteFile(dir / "empty.zip", std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  host.SetCurrentArchiveFile((dir / "empty.zip").string());
  page->SelectAutoStartButtonClick();
  EXPECT_TRUE(prompt.Saw("THERE ARE NO FILES IN THE ZIPFILE THAT THIS PROGRAM CAN READ"));
}

TEST_F(SfxPageTest, ConvertsToAProgramAndBack) {
  Open(dir / "in.zip");
  page->CaptionEdit->setText("Page made");
  page->SFXMessageTypeRadioGroup->button(2)->setChecked(true);
  page->MessageTextEdit->setText("Hello");
  page->ShowContentsCheckBox->setChecked(true);
  page->SuccessMessageCheckBox->setChecked(true);
  page->CancelAutoStartCheckBox->setChecked(false);
  page->SFXDirComboBox->setCurrentIndex(1);
  page->SFXDirComboBoxChange();
  page->SFXCreateButtonClick();
  EXPECT_TRUE(prompt.Saw("THE ZIP FILE \nin.zip\nWAS CONVERTED TO A SELF EXTRACTING ZIP FILE IN THE FOLDER \n" + dir.string()))
      << ::testing::PrintToString(prompt.Texts());
  EXPECT_FALSE(fs::exists(dir / "in.zip"));
  ASSERT_TRUE(fs::exists(dir / "in.run"));
  EXPECT_FALSE(page->SFXCreateButton->isEnabled()) << "back to step 1";
  TSfxSettings want;
  want.Caption = "Page made";
  want.DefaultDir = "><";
  want.Message = "\001Hello";
  want.AskFiles = want.NoSuccessMsg = true;
  EXPECT_EQ(SettingsOf(dir / "in.run"), want);

  // And back: the unzip page lists the archive when the user goes there.
  prompt.Clear();
  Open(dir / "in.run");
  page->SFXCreateButtonClick();
  EXPECT_TRUE(prompt.Saw("THE SELF EXTRACTING ZIP FILE \nin.run\nWAS CONVERTED TO A REGULAR ZIP FILE IN THE FOLDER \n" +
                         dir.string()))
      << ::testing::PrintToString(prompt.Texts());
  EXPECT_TRUE(host.RunState().SfxCreated);
  EXPECT_EQ(host.CurrentArchiveFile(), (dir / "in.zip").string());
  EXPECT_EQ(host.ZipKit().ZipFileName(), (dir / "in.zip").string());
  EXPECT_FALSE(fs::exists(dir / "in.run"));
}

TEST_F(SfxPageTest, TheAutomaticModeNamesTheProgramWithAnExclamationMark) {
  for (const char* name : {"in.zip", "!ready.zip"}) {
    SCOPED_TRACE(name);
    if (std::string(name) != "in.zip") fs::copy_file(dir / "keep.zip", dir / name);
    else fs::copy_file(dir / "in.zip", dir / "keep.zip");
    Open(dir / name);
    page->AutoUnzipCheckBox->setChecked(true);
    page->AutoUnzipCheckBoxClick();
    page->SFXCreateButtonClick();
    const std::string base = std::string(name).substr(0, std::string(name).size() - 4);
    const fs::path program = dir / ((base[0] == '!' ? "" : "!") + base + ".run");
    ASSERT_TRUE(fs::exists(program)) << ::testing::PrintToString(prompt.Texts());
    const TSfxSettings s = SettingsOf(program);
    EXPECT_TRUE(s.AutoRun && s.HideOverwriteBox && s.CheckSize);
    EXPECT_FALSE(s.AskFiles || s.AskCmdLine);
    EXPECT_EQ(s.Message, "");
    EXPECT_EQ(s.DefaultDir, "");
    EXPECT_EQ(s.Caption, "Self Extracting Zip File");
  }
  EXPECT_FALSE(fs::exists(dir / "!!ready.run"));
}

TEST_F(SfxPageTest, FailuresAreShownByCodeAndKeepTheArchive) {
  Open(dir / "in.zip");
  host.ZipKit().SFXIcon.assign(1000, 0);  // not an icon file of 766 bytes
  page->AutoUnzipCheckBox->setChecked(true);
  page->AutoUnzipCheckBoxClick();
  page->SFXCreateButtonClick();
  EXPECT_TRUE(prompt.Saw("Error in size of the supplied icon."));
  EXPECT_TRUE(fs::exists(dir / "in.zip")) << "the name given for the automatic mode is taken back";
  EXPECT_FALSE(fs::exists(dir / "!in.zip"));
  EXPECT_FALSE(fs::exists(dir / "!in.run"));
  EXPECT_FALSE(page->SFXCreateButton->isEnabled());
}

}  // namespace
