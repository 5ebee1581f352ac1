// The Properties window: every option control against its setting, OK/Close/EXIT/Cancel/Restore, the
// file types given to the program and back, the launcher window and the menu folder chooser.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <algorithm>
#include <filesystem>
#include <functional>

#include "ScriptedPrompt.h"
#include "TestEnv.h"
#include "XdgHome.h"
#include "core/Settings.h"
#include "pages/common/PromptService.h"
#include "pages/props/PropertiesForm.h"
#include "pages/props/StartMenuForms.h"
#include "platform/Associations.h"
#include "platform/Launchers.h"

namespace fs = std::filesystem;

namespace {

struct BoxRow {
  const char* name;
  bool TSettings::*setting;
  int page;
  bool shown;
};

// Every check box of the window and the setting it edits.
const BoxRow kBoxes[] = {
    {"EnableQueueCheckBox", &TSettings::QueueEnabled, 0, true},
    {"DeleteQueueCheckbox", &TSettings::ConfirmQueueDelete, 0, true},
    {"FrontCheckBox", &TSettings::QueueBringToFront, 0, true},
    {"UpdateCheckBox", &TSettings::UpdateCheckEnabled, 1, false},
    {"UnzipFoldersCheckbox", &TSettings::UnzipFolders, 2, true},
    {"OverwriteCheckBox", &TSettings::UnzipOverwrite, 2, true},
    {"UpdateFilesCheckBox", &TSettings::UnzipUpdateFiles, 2, true},
    {"FreshenFilesCheckBox", &TSettings::UnzipFreshenFiles, 2, true},
    {"SaveUnzipDefaultCheckBox", &TSettings::SaveUnzipDefault, 2, false},
    {"OpenTarCheckBox", &TSettings::OpenTarInGz, 3, true},
    {"ShortGZPathCheckBox", &TSettings::ShortGzPaths, 3, true},
    {"TarAttrCheckBox", &TSettings::TarAttributes, 3, true},
    {"SelectAllCheckBox", &TSettings::SelectAllOnLoad, 4, true},
    {"SaveZipFoldersCheckBox", &TSettings::SaveZipFolders, 5, true},
    {"RecurseFoldersCheckBox", &TSettings::RecurseFolders, 5, true},
    {"RelativePathCheckBox", &TSettings::RelativePaths, 5, true},
    {"ArchiveBitCheckBox", &TSettings::ArchiveBitOnly, 6, true},
    {"LongFileNamesCheckBox", &TSettings::LongFileNames, 6, true},
    {"AddPasswordCheckBox", &TSettings::AddPassword, 6, true},
    {"SetTimeCheckBox", &TSettings::SetArchiveTime, 6, true},
    {"OnlybyDateCheckBox", &TSettings::OnlyNewerThanDate, 6, true},
    {"SpanCheckBox", &TSettings::SpanDisks, 6, false},
    {"EraseDiskCheckBox", &TSettings::EraseDisk, 6, false},
    {"SelfExtractingCheckBox", &TSettings::SelfExtracting, 6, false},
    {"SaveZipDefaultCheckBox", &TSettings::SaveZipDefault, 6, false},
    {"AutoThumbCheckBox", &TSettings::AutoThumbnails, 7, true},
};

// Settings that the file keeps as written (the others are constants of the file).
bool Persisted(bool TSettings::*f) {
  return f != &TSettings::SaveUnzipDefault && f != &TSettings::SaveZipDefault && f != &TSettings::SpanDisks &&
         f != &TSettings::EraseDisk && f != &TSettings::SelfExtracting;
}

class PropertiesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings_.ConfigFile = (testenv::MakeTempDir("data") / "config").string();
    settings_.SetDefaultSettings();
    SetModalHook([this](QDialog& d, const char* name) {
      windows_.push_back(name);
      return answer_ ? answer_(d, name) : int(QDialog::Rejected);
    });
  }
  void TearDown() override { SetModalHook(nullptr); }

  TSettings Reloaded() const {
    TSettings s;
    s.ConfigFile = settings_.ConfigFile;
    EXPECT_TRUE(s.LoadSettings());
    return s;
  }
  static QPushButton* ButtonOn(TPropertiesForm& f, int page, const char* name) {
    return f.PageControl()->widget(page)->findChild<QPushButton*>(name);
  }

  TXdgHome xdg_;
  TScriptedPrompt prompt_;
  TSettings settings_;
  std::vector<std::string> windows_;
  std::function<int(QDialog&, const char*)> answer_;
};

}  // namespace

TEST_F(PropertiesTest, EveryCheckBoxLoadsAndSavesItsSetting) {
  for (const BoxRow& row : kBoxes) {
    SCOPED_TRACE(row.name);
    for (bool value : {true, false}) {
      settings_.SetDefaultSettings();
      settings_.*row.setting = value;
      TPropertiesForm form(settings_, "/opt/t/tandorfile", row.page);
      QCheckBox* box = form.findChild<QCheckBox*>(row.name);
      ASSERT_NE(box, nullptr);
      EXPECT_EQ(form.PageControl()->widget(row.page)->isAncestorOf(box), true);
      EXPECT_EQ(box->isChecked(), value);
      EXPECT_EQ(box->isHidden(), !row.shown);
      if (!row.shown) {
        EXPECT_FALSE(box->isEnabled());
        continue;
      }
      box->setChecked(!value);
      form.OKCode();
      EXPECT_EQ(settings_.*row.setting, !value);
      if (Persisted(row.setting)) {
        EXPECT_EQ(Reloaded().*row.setting, !value) << "saved at once";
      }
    }
  }
}

TEST_F(PropertiesTest, RadioGroupsLoadAndSave) {
  struct Row {
    int32_t stored;
    const char* shown;
    int32_t saved;
  };
  for (const Row& r : {Row{0, "ZipTypeRadioGroup0", 0}, Row{1, "ZipTypeRadioGroup1", 1}, Row{2, "ZipTypeRadioGroup2", 2},
                       Row{3, "ZipTypeRadioGroup3", 3}, Row{4, "ZipTypeRadioGroup4", 4}, Row{7, "ZipTypeRadioGroup0", 0},
                       Row{-1, "ZipTypeRadioGroup0", 0}}) {
    SCOPED_TRACE(r.stored);
    settings_.DefaultArchiveType = r.stored;
    TPropertiesForm form(settings_, "/t", kDefaultTypePage);
    EXPECT_TRUE(form.findChild<QRadioButton*>(r.shown)->isChecked());
    form.OKCode();
    EXPECT_EQ(settings_.DefaultArchiveType, r.saved);
    EXPECT_EQ(Reloaded().DefaultArchiveType, r.saved);
  }
  struct Pic {
    bool TSettings::*setting;
    const char* group;
  };
  for (const Pic& p : {Pic{&TSettings::ViewPicturesInternally, "PictureRadioGroup"},
                       Pic{&TSettings::FitPictureToScreen, "PictureFitRadioGroup"}}) {
    SCOPED_TRACE(p.group);
    for (bool value : {true, false}) {
      settings_.*p.setting = value;
      TPropertiesForm form(settings_, "/t", kViewerPage);
      EXPECT_TRUE(form.findChild<QRadioButton*>(QString(p.group) + (value ? "0" : "1"))->isChecked());
      form.findChild<QRadioButton*>(QString(p.group) + (value ? "1" : "0"))->setChecked(true);
      form.OKCode();
      EXPECT_EQ(settings_.*p.setting, !value);
      EXPECT_EQ(Reloaded().*p.setting, !value);
    }
  }
}

TEST_F(PropertiesTest, OkCloseAndExitSaveCancelDoesNot) {
  struct Row {
    int page;
    const char* button;
    bool saves;
  };
  const std::vector<Row> rows = {{0, "CloseButton", true}, {1, "ExitButton", true},  {2, "OKButton", true},
                                 {3, "OKButton", true},    {4, "OKButton", true},    {5, "OKButton", true},
                                 {6, "OKButton", true},    {7, "OKButton", true},    {2, "CancelButton", false},
                                 {5, "CancelButton", false}, {7, "CancelButton", false}};
  for (const Row& r : rows) {
    SCOPED_TRACE(std::to_string(r.page) + " " + r.button);
    settings_.SetDefaultSettings();
    ASSERT_TRUE(settings_.SaveSettings());
    TPropertiesForm form(settings_, "/t", r.page);
    form.findChild<QCheckBox*>("AutoThumbCheckBox")->setChecked(true);  // a box of another page
    QPushButton* b = ButtonOn(form, r.page, r.button);
    ASSERT_NE(b, nullptr);
    b->click();
    EXPECT_EQ(form.result(), r.saves ? QDialog::Accepted : QDialog::Rejected);
    EXPECT_EQ(settings_.AutoThumbnails, r.saves);
    EXPECT_EQ(Reloaded().AutoThumbnails, r.saves);
  }
}

TEST_F(PropertiesTest, RestoreResetsEveryOptionAndSavesAtOnce) {
  for (int page : {2, 3, 4, 5, 6}) {
    SCOPED_TRACE(page);
    settings_.UnzipOverwrite = true;
    settings_.QueueEnabled = false;
    settings_.DefaultArchiveType = 3;
    settings_.ThumbSize = 128;
    TPropertiesForm form(settings_, "/t", page);
    ButtonOn(form, page, "RestoreButton")->click();
    EXPECT_TRUE(form.isVisible() || form.result() == 0) << "the window stays open";
    EXPECT_FALSE(settings_.UnzipOverwrite);
    EXPECT_TRUE(settings_.QueueEnabled);
    EXPECT_EQ(settings_.DefaultArchiveType, 1);
    EXPECT_EQ(settings_.ThumbSize, 128) << "numbers outside the flags stay";
    EXPECT_FALSE(form.findChild<QCheckBox*>("OverwriteCheckBox")->isChecked());
    EXPECT_TRUE(form.findChild<QCheckBox*>("EnableQueueCheckBox")->isChecked());
    EXPECT_TRUE(form.findChild<QRadioButton*>("ZipTypeRadioGroup1")->isChecked());
    EXPECT_FALSE(Reloaded().UnzipOverwrite);
  }
  TPropertiesForm viewer(settings_, "/t", kViewerPage);
  EXPECT_EQ(ButtonOn(viewer, kViewerPage, "RestoreButton"), nullptr);
}

TEST_F(PropertiesTest, CreateOptionsFollowTheCreateList) {
  const char* const createBoxes[] = {"SaveZipFoldersCheckBox", "RecurseFoldersCheckBox", "RelativePathCheckBox",
                                     "ArchiveBitCheckBox",     "LongFileNamesCheckBox",  "AddPasswordCheckBox",
                                     "SetTimeCheckBox",        "OnlybyDateCheckBox"};
  for (bool editable : {false, true}) {
    settings_.CreateOptionsEditable = editable;
    TPropertiesForm form(settings_, "/t", kZipOptionsPage);
    for (const char* name : createBoxes) EXPECT_EQ(form.findChild<QCheckBox*>(name)->isEnabled(), editable) << name;
    EXPECT_TRUE(form.findChild<QCheckBox*>("OverwriteCheckBox")->isEnabled());
  }
}

TEST_F(PropertiesTest, UncheckingFoldersUnchecksTheTwoThatNeedThem) {
  settings_.SaveZipFolders = settings_.RecurseFolders = settings_.RelativePaths = true;
  TPropertiesForm form(settings_, "/t", kAddFilesPage);
  form.findChild<QCheckBox*>("SaveZipFoldersCheckBox")->click();
  EXPECT_FALSE(form.findChild<QCheckBox*>("RecurseFoldersCheckBox")->isChecked());
  EXPECT_FALSE(form.findChild<QCheckBox*>("RelativePathCheckBox")->isChecked());
  form.findChild<QCheckBox*>("SaveZipFoldersCheckBox")->click();
  EXPECT_FALSE(form.findChild<QCheckBox*>("RecurseFoldersCheckBox")->isChecked()) << "checking it again sets nothing";
}

TEST_F(PropertiesTest, PageCaptionsAndHelpPages) {
  TPropertiesForm form(settings_, "/t");
  EXPECT_EQ(form.windowTitle(), "Zip File Properties");
  EXPECT_EQ(form.PageControl()->currentIndex(), kStartupLinksPage) << "the default page";
  const char* const captions[] = {"Default Program", "Startup Links   .", "UNZIP", "Tar GZ ",
                                  "Default Type",    "ADD Files",         "ZIP ",  "Viewer"};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(form.PageControl()->tabText(i).toStdString(), captions[i]);
    EXPECT_EQ(PropertiesPageIndex(captions[i]), i);
  }
  EXPECT_EQ(PropertiesPageIndex("nothing"), -1);
  std::vector<std::string> opened;
  form.OpenHelpPage = [&](const std::string& page) { opened.push_back(page); };
  for (int page = 2; page <= 7; ++page) ButtonOn(form, page, "HelpButton")->click();
  EXPECT_EQ(opened, (std::vector<std::string>{"unzipprop.html", "unzipprop.html", "createprop.html", "createprop.html",
                                              "createprop.html"}));
}

TEST_F(PropertiesTest, TypesGivenToTheProgramAndBackExactly) {
  xdg_.InstallApp("ark.desktop", "Ark", "application/zip;application/x-tar;");
  InstallProgramClass("/opt/t/tandorfile");
  const std::string before =
      "[Default Applications]\napplication/zip=ark.desktop;\n\n[Added Associations]\ntext/plain=ed.desktop;\n";
  testenv::WriteFile(xdg_.config / "mimeapps.list", before);
  testenv::WriteFile(xdg_.system / "applications/mimeapps.list", "[Default Applications]\napplication/x-tar=ark.desktop\n");
  const std::vector<std::string> tree = testenv::ListTree(xdg_.home);

  TPropertiesForm form(settings_, "/opt/t/tandorfile", kDefaultProgramPage);
  const char* const labels[] = {"DefaultZipProgramLabel", "DefaultGZProgramLabel", "DefaultTARProgramLabel",
                                "DefaultTGZProgramLabel", "DefaultRARProgramLabel"};
  const auto shown = [&] {
    std::vector<std::string> out;
    for (const char* l : labels) out.push_back(form.findChild<QLabel*>(l)->text().toStdString());
    return out;
  };
  EXPECT_EQ(shown(), (std::vector<std::string>{"Ark", "None", "Ark", "None", "None"}));
  for (const char* b : {"DZipCheckBox", "DGZCheckbox", "DTARCheckBox", "DTGZCheckBox", "DRARCheckBox"})
    EXPECT_TRUE(form.findChild<QCheckBox*>(b)->isChecked()) << "every type checked when the window opens";

  ButtonOn(form, 0, "setTandorDefaultButton")->click();
  EXPECT_EQ(shown(), std::vector<std::string>(5, "Tandor File"));
  EXPECT_EQ(settings_.PrevZipProgId, "ark.desktop;");
  EXPECT_EQ(settings_.PrevZipName, "Ark");
  EXPECT_EQ(settings_.PrevTarProgId, "") << "the system's default is no line of the user's";
  EXPECT_EQ(Reloaded().PrevZipProgId, "ark.desktop;") << "saved at once";
  // A second take-over keeps the first saved owner.
  ButtonOn(form, 0, "setTandorDefaultButton")->click();
  EXPECT_EQ(settings_.PrevZipProgId, "ark.desktop;");

  // The user adds a line in another group meanwhile.
  std::string text = testenv::ReadFile(xdg_.config / "mimeapps.list");
  text += "image/png=eog.desktop;\n";
  testenv::WriteFile(xdg_.config / "mimeapps.list", text);

  ButtonOn(form, 0, "RestorePreviousZipDefaultButton")->click();
  EXPECT_EQ(testenv::ReadFile(xdg_.config / "mimeapps.list"), before + "image/png=eog.desktop;\n");
  EXPECT_EQ(testenv::ListTree(xdg_.home), tree);
  EXPECT_EQ(shown(), (std::vector<std::string>{"Ark", "None", "Ark", "None", "None"}));
  EXPECT_EQ(settings_.PrevZipProgId, "");
  EXPECT_EQ(Reloaded().PrevZipName, "");
  EXPECT_TRUE(prompt_.Texts().empty());
}

TEST_F(PropertiesTest, OnlyCheckedTypesAndOnlyTypesStillOurs) {
  InstallProgramClass("/opt/t/tandorfile");
  TPropertiesForm form(settings_, "/t", kDefaultProgramPage);
  for (const char* b : {"DZipCheckBox", "DGZCheckbox", "DTARCheckBox", "DTGZCheckBox", "DRARCheckBox"})
    form.findChild<QCheckBox*>(b)->setChecked(false);
  ButtonOn(form, 0, "setTandorDefaultButton")->click();
  EXPECT_FALSE(fs::exists(xdg_.config / "mimeapps.list")) << "nothing checked: nothing happens";
  form.findChild<QCheckBox*>("DGZCheckbox")->setChecked(true);
  form.findChild<QCheckBox*>("DRARCheckBox")->setChecked(true);
  ButtonOn(form, 0, "setTandorDefaultButton")->click();
  EXPECT_EQ(testenv::ReadFile(xdg_.config / "mimeapps.list"),
            "[Default Applications]\napplication/gzip=tandorfile.desktop;\napplication/vnd.rar=tandorfile.desktop;\n");
  // The user picks another program for gzip; giving back leaves that choice alone.
  SetUserDefaultHandler("application/gzip", "peazip.desktop;");
  ButtonOn(form, 0, "RestorePreviousZipDefaultButton")->click();
  EXPECT_EQ(testenv::ReadFile(xdg_.config / "mimeapps.list"), "[Default Applications]\napplication/gzip=peazip.desktop;\n");
}

TEST_F(PropertiesTest, AReadOnlyConfigFolderIsReportedAndNothingChanges) {
  const std::string before = "[Default Applications]\napplication/zip=ark.desktop;\n";
  testenv::WriteFile(xdg_.config / "mimeapps.list", before);
  TPropertiesForm form(settings_, "/t", kDefaultProgramPage);
  ASSERT_TRUE(MakeUnwritable(xdg_.config, true)) << "this system lets no folder be made read-only";
  ButtonOn(form, 0, "setTandorDefaultButton")->click();
  MakeUnwritable(xdg_.config, false);
  ASSERT_EQ(prompt_.Texts().size(), 1u);
  EXPECT_EQ(prompt_.Texts()[0].rfind("THE FILE TYPES COULD NOT BE GIVEN TO TANDOR FILE.\n", 0), 0u) << prompt_.Texts()[0];
  EXPECT_NE(prompt_.Texts()[0].find("mimeapps.list"), std::string::npos);
  EXPECT_EQ(testenv::ReadFile(xdg_.config / "mimeapps.list"), before);
  EXPECT_EQ(settings_.PrevZipProgId, "") << "no owner kept for a type that was not taken";
}

TEST_F(PropertiesTest, LauncherWindowMakesTheCheckedLaunchers) {
  MakeMenuFolder("", "Utilities");
  MakeMenuFolder("Utilities", "Archives");
  answer_ = [](QDialog& d, const char* name) {
    if (std::string(name) == "TStartmenuForm") {
      auto& links = static_cast<TStartmenuForm&>(d);
      links.findChild<QCheckBox*>("DesktopCheckBox")->setChecked(true);
      EXPECT_FALSE(links.findChild<QCheckBox*>("QuicklaunchCheckBox")->isEnabled());
      links.OKButtonClick();
      return links.result();
    }
    auto& chooser = static_cast<TStartMenuTreeForm&>(d);
    auto* tree = chooser.findChild<QTreeWidget*>();
    QTreeWidgetItem* archives = tree->topLevelItem(0)->child(0)->child(0);
    EXPECT_EQ(archives->text(0), "Archives");
    tree->setCurrentItem(archives);
    chooser.AcceptButtonClick();
    return chooser.result();
  };
  TPropertiesForm form(settings_, "/opt/t/tandorfile", kStartupLinksPage);
  ButtonOn(form, kStartupLinksPage, "StartMenuButton")->click();
  EXPECT_EQ(windows_, (std::vector<std::string>{"TStartmenuForm", "TStartMenuTreeForm"}));
  EXPECT_TRUE(fs::exists(xdg_.desktop / "Tandor File.desktop"));
  EXPECT_TRUE(fs::exists(xdg_.data / "applications/Utilities/Archives/Tandor File.desktop"));
  EXPECT_TRUE(prompt_.Texts().empty());

  // Cancelling the chooser makes no menu launcher; a missing desktop is reported.
  fs::remove_all(xdg_.desktop);
  answer_ = [](QDialog& d, const char* name) {
    if (std::string(name) == "TStartmenuForm") {
      auto& links = static_cast<TStartmenuForm&>(d);
      links.findChild<QCheckBox*>("DesktopCheckBox")->setChecked(true);
      links.OKButtonClick();
      return links.result();
    }
    return int(QDialog::Rejected);
  };
  fs::remove(xdg_.data / "applications/Utilities/Archives/Tandor File.desktop");
  ButtonOn(form, kStartupLinksPage, "StartMenuButton")->click();
  EXPECT_FALSE(fs::exists(xdg_.data / "applications/Utilities/Archives/Tandor File.desktop"));
  ASSERT_EQ(prompt_.Texts().size(), 1u);
  EXPECT_EQ(prompt_.Texts()[0], "THE DESKTOP FOLDER " + xdg_.desktop.string() +
                                    " DOES NOT EXIST.  THE LINK ON THE DESKTOP WAS NOT CREATED.");
}

TEST_F(PropertiesTest, LauncherWindowOkOnlyWithABoxChecked) {
  TStartmenuForm links("/t");
  auto* ok = links.findChild<QPushButton*>("OKButton");
  EXPECT_TRUE(links.findChild<QCheckBox*>("StartmenuCheckBox")->isChecked());
  EXPECT_TRUE(ok->isEnabled());
  links.findChild<QCheckBox*>("StartmenuCheckBox")->click();
  EXPECT_FALSE(ok->isEnabled());
  links.findChild<QCheckBox*>("DesktopCheckBox")->click();
  EXPECT_TRUE(ok->isEnabled());
}

TEST_F(PropertiesTest, FolderChooserTreeTextAndNewFolders) {
  MakeMenuFolder("", "Games");
  MakeMenuFolder("", "Office");
  MakeMenuFolder("Office", "Writers");
  MakeMenuFolder("", ".hidden");
  TStartMenuTreeForm chooser(MenuFolder());
  auto* tree = chooser.findChild<QTreeWidget*>();
  auto* folder = chooser.findChild<QLineEdit*>("FolderEdit");
  auto* name = chooser.findChild<QLineEdit*>("NewFolderEdit");
  QTreeWidgetItem* root = tree->topLevelItem(0);
  ASSERT_EQ(root->childCount(), 2);
  EXPECT_TRUE(root->isExpanded());
  EXPECT_TRUE(root->child(0)->isExpanded()) << "the root's first child is expanded";
  EXPECT_EQ(folder->text().toStdString(), TStartMenuTreeForm::ShortenedPath(MenuFolder()));

  tree->setCurrentItem(root->child(1)->child(0));
  EXPECT_EQ(folder->text().toStdString(), TStartMenuTreeForm::ShortenedPath(MenuFolder() + "/Office/Writers"));

  QTest::keyClicks(name, "A?b:c*|d");
  EXPECT_EQ(name->text(), "Abcd") << "characters a folder name may not hold are not taken";
  chooser.NewFolderButtonClick();
  EXPECT_TRUE(fs::is_directory(fs::path(MenuFolder()) / "Office/Writers/Abcd"));
  EXPECT_EQ(tree->currentItem()->text(0), "Abcd");
  QTreeWidgetItem* writers = root->child(1)->child(0);
  tree->setCurrentItem(writers);
  chooser.NewFolderButtonClick();
  EXPECT_EQ(writers->childCount(), 1) << "an existing folder is not added again";

  chooser.CollapseButtonClick();
  EXPECT_EQ(tree->currentItem(), root);
  chooser.AcceptButtonClick();
  EXPECT_EQ(chooser.ChosenFolder(), "") << "the root itself";

  // A name the system refuses: its error is shown and the tree stays as it was.
  testenv::WriteFile(fs::path(MenuFolder()) / "Taken", "a file");
  tree->setCurrentItem(root);
  name->setText("Taken");
  chooser.NewFolderButtonClick();
  ASSERT_EQ(prompt_.Texts().size(), 1u);
  EXPECT_NE(prompt_.Texts()[0].find("File exists"), std::string::npos);
  EXPECT_EQ(root->childCount(), 2);
}

TEST(FolderChooser, LongPathsAreShortenedInTheMiddle) {
  struct Row {
    std::string path;
    std::string shown;
  };
  const std::string p70(70, 'a');
  const std::string p71 = std::string(35, 'b') + "MIDDLE" + std::string(30, 'e');
  for (const Row& r : {Row{"/short", "/short"}, Row{p70, p70},
                       Row{p71, std::string(35, 'b') + " ... " + p71.substr(p71.size() - 33)}}) {
    EXPECT_EQ(TStartMenuTreeForm::ShortenedPath(r.path), r.shown);
  }
}

TEST_F(PropertiesTest, RemovingTheLinksSaysWhatItDid) {
  ASSERT_TRUE(CreateShortcut("/opt/t/tandorfile", kDesktopLauncher).Status.IsOk());
  ASSERT_TRUE(CreateShortcut("/opt/t/tandorfile", kMenuLauncher, "").Status.IsOk());
  TPropertiesForm form(settings_, "/opt/t/tandorfile", kStartupLinksPage);
  ButtonOn(form, kStartupLinksPage, "RemoveLinksButton")->click();
  ButtonOn(form, kStartupLinksPage, "RemoveLinksButton")->click();
  EXPECT_EQ(prompt_.Texts(), (std::vector<std::string>{"THE LINKS TO TANDOR FILE WERE REMOVED.",
                                                       "THERE WERE NO LINKS TO TANDOR FILE TO REMOVE."}));
  EXPECT_FALSE(fs::exists(xdg_.desktop / kLauncherFile));
  EXPECT_FALSE(fs::exists(fs::path(MenuFolder()) / kLauncherFile));
}
