// Each page's HELP button opens that page's help, and the About window shows the build's version.
#include <gtest/gtest.h>

#include <QAction>
#include <QDesktopServices>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QUrl>
#include <filesystem>
#include <regex>

#include "ScriptedPrompt.h"
#include "TestEnv.h"
#include "pages/common/PromptService.h"
#include "app/TandorForm.h"
#include "core/Version.h"
#include "pages/batch/BatchPage.h"
#include "pages/create/CreatePage.h"
#include "pages/sfx/SfxPage.h"
#include "pages/unzip/UnzipPage.h"
#include "pages/update/UpdatePage.h"
#include "platform/Paths.h"

namespace fs = std::filesystem;

// Takes the addresses the desktop would have opened.
class TUrlCatcher : public QObject {
  Q_OBJECT
 public:
  std::vector<QUrl> Urls;
 public slots:
  void Open(const QUrl& url) { Urls.push_back(url); }
};

namespace {

class HelpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramPath((testenv::ProgramDir() / "tandorfile").string());
    const fs::path data = testenv::MakeTempDir("data");
    setenv("TANDOR_HOME", data.c_str(), 1);
    TSettings s;
    s.ConfigFile = (data / "config").string();
    s.WriteDefaultSettings();
    SetModalHook([this](QDialog& d, const char*) {
      for (QLabel* l : d.findChildren<QLabel*>()) shown_ += l->text().toStdString() + "\n";
      return int(QDialog::Accepted);
    });
    QDesktopServices::setUrlHandler("file", &catcher_, "Open");
    form_ = std::make_unique<TTandorForm>();
  }
  void TearDown() override {
    form_.reset();
    QDesktopServices::unsetUrlHandler("file");
    SetModalHook(nullptr);
    SetProgramPath("");
  }

  TScriptedPrompt prompt_;
  TUrlCatcher catcher_;
  std::string shown_;
  std::unique_ptr<TTandorForm> form_;
};

TEST_F(HelpTest, EachHelpButtonOpensThePageOfItsOwnPage) {
  const struct {
    int page;
    QPushButton* button;
  } cases[] = {
      {kUnzipPage, form_->UnzipPage()->UnzipHelpButton},   {kUpdatePage, form_->UpdatePage()->UpdateHelpButton},
      {kCreatePage, form_->CreatePage()->ZipHelpButton},   {kBatchPage, form_->BatchPage()->BatchHelpButton},
      {kSfxPage, form_->SfxPage()->SFXHelpButton},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(form_->RequestPage(c.page), c.page);
    catcher_.Urls.clear();
    c.button->click();
    ASSERT_EQ(catcher_.Urls.size(), 1u) << c.page;
    const fs::path opened = catcher_.Urls[0].toLocalFile().toStdString();
    EXPECT_EQ(opened.parent_path(), fs::path(ProgramDir()) / "help");
    ASSERT_TRUE(fs::is_regular_file(opened)) << opened;
    // The help page is headed with the page's own caption, as the tab shows it.
    const std::string caption = form_->TabbedNotebook()->tabText(c.page).toStdString();
    const std::string heading = std::regex_replace(caption, std::regex(R"([\s.]+$)"), "");
    EXPECT_NE(testenv::ReadFile(opened).find("<h1>" + heading + "</h1>"), std::string::npos)
        << opened << " is not headed " << heading;
  }
}

TEST_F(HelpTest, AboutWindowShowsTheVersionOfTheBuild) {
  EXPECT_STREQ(ProgramVersion(), TANDOR_EXPECTED_VERSION);
  QAction* about = nullptr;
  for (QAction* menu : form_->menuBar()->actions())
    for (QAction* a : menu->menu()->actions())
      if (a->text() == "About") about = a;
  ASSERT_NE(about, nullptr);
  about->trigger();
  EXPECT_NE(shown_.find(std::string("Version ") + TANDOR_EXPECTED_VERSION), std::string::npos) << shown_;
}

}  // namespace

#include "HelpTest.moc"
