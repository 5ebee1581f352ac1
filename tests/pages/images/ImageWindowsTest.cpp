// The Image window's sizing arithmetic and menus, "Info", and "Choose Thumbnail Size" with its menu.
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QSpinBox>

#include "PictureTestUtil.h"
#include "ScriptedPrompt.h"
#include "TestEnv.h"
#include "core/Settings.h"
#include "images/PictureService.h"
#include "pages/common/PromptService.h"
#include "pages/images/ImageForm.h"
#include "pages/images/ThumbsizeForm.h"

TEST(ImageLayout, SizingTable) {
  const QSize screen(1024, 768);
  struct Case {
    const char* what;
    int w, h;
    bool fit;
    TImageLayout want;
  } cases[] = {
      // Smaller than the screen both ways: unscaled, centred, no sizing entries.
      {"800 x 600", 800, 600, true, {false, false, 800, 600, 800, 600, false, false, 112, 84}},
      {"1023 x 767 full", 1023, 767, false, {false, false, 1023, 767, 1023, 767, false, false, 0, 0}},
      // h = 768 - 48 = 720, w = 1440 > 1024: w = 1004, h = 720 * 1004 / 1440 = 502.
      {"2000 x 1000 fitted", 2000, 1000, true, {true, true, 1004, 502, 1004, 502, false, false, 10, 133}},
      {"1000 x 3000 fitted", 1000, 3000, true, {true, true, 240, 720, 240, 720, false, false, 392, 24}},
      // Wider than the screen only: w = 1004, h = 1004 * 500 / 1030 = 487.
      {"1030 x 500 fitted", 1030, 500, true, {true, true, 1004, 487, 1004, 487, false, false, 10, 140}},
      {"2000 x 1000 full", 2000, 1000, false, {true, false, 1024, 768, 2000, 1000, true, true, 0, 0}},
      {"1030 x 500 full", 1030, 500, false, {true, false, 1024, 500, 1030, 500, true, false, 0, 134}},
      {"500 x 900 full", 500, 900, false, {true, false, 500, 768, 500, 900, false, true, 262, 0}},
  };
  for (const Case& c : cases) EXPECT_EQ(ImageWindowLayout(c.w, c.h, screen, c.fit), c.want) << c.what;
}

TEST(ImageLayout, InfoText) {
  TPictureInfo info;
  info.FileName = "photo.jpg";
  info.Width = 800;
  info.Height = 600;
  info.FileSize = 1536000;
  info.FileDate = 1600000000;
  const std::string text = PictureInfoText(info);
  EXPECT_EQ(text.rfind("photo.jpg\n\n600 x 800\n1500 KB\n", 0), 0u) << text;
  EXPECT_GT(text.size(), std::string("photo.jpg\n\n600 x 800\n1500 KB\n").size()) << "the date follows";
}

class ImageWindowTest : public ::testing::Test {
 protected:
  TScriptedPrompt prompt_;
};

TEST_F(ImageWindowTest, SmallPictureHasNoSizingEntriesAndInfoShowsHeightFirst) {
  const auto dir = testenv::MakeTempDir("view");
  const auto file = pictest::Plain(dir, "p.bmp", 800, 600, "white");
  const TPicture pic = LoadPicture(file.string(), TPictureUse::View);
  ASSERT_TRUE(pic.Status.Succeeded()) << pic.Status.Text();
  TImageForm form(pic.Image, pic.Info, true, QSize(1024, 768), false);
  EXPECT_FALSE(form.Layout().SizingEnabled);
  for (QAction* a : {form.FitToScreen1, form.FitToScreen2, form.ShowFullImage1, form.ShowFullImage2})
    EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
  EXPECT_FALSE(form.Info1->isEnabled()) << "opened from the browser: the main menu's Info is off";
  EXPECT_EQ(form.Image->size(), QSize(800, 600));
  form.Info2->trigger();
  ASSERT_EQ(prompt_.Texts().size(), 1u);
  EXPECT_NE(prompt_.Texts()[0].find("p.bmp\n\n600 x 800\n"), std::string::npos) << prompt_.Texts()[0];
  EXPECT_NE(prompt_.Texts()[0].find(std::to_string(pic.Info.FileSize / 1024) + " KB"), std::string::npos);
}

TEST_F(ImageWindowTest, FitAndFullSwitchTheirEntries) {
  QImage big(2000, 1000, QImage::Format_RGBA8888);
  big.fill(Qt::red);
  TPictureInfo info;
  info.Width = 2000;
  info.Height = 1000;
  TImageForm form(big, info, true, QSize(1024, 768));
  EXPECT_TRUE(form.Layout().Fitted);
  EXPECT_EQ(form.Image->size(), QSize(1004, 502));
  EXPECT_FALSE(form.FitToScreen1->isEnabled());
  EXPECT_TRUE(form.ShowFullImage1->isEnabled());
  form.ShowFullImage2->trigger();
  EXPECT_FALSE(form.Layout().Fitted);
  EXPECT_EQ(form.Image->size(), QSize(2000, 1000));
  EXPECT_TRUE(form.Layout().HScroll);
  EXPECT_TRUE(form.FitToScreen1->isEnabled() && form.FitToScreen2->isEnabled());
  EXPECT_FALSE(form.ShowFullImage1->isEnabled() || form.ShowFullImage2->isEnabled());
  form.FitToScreen1->trigger();
  EXPECT_EQ(form.Image->size(), QSize(1004, 502));
  // Unzip and Close from either menu.
  struct Case {
    QAction* action;
    int result;
  } cases[] = {{form.Unzip1, TImageForm::kUnzip}, {form.Unzip2, TImageForm::kUnzip},
               {form.Close1, TImageForm::kClose}, {form.Close2, TImageForm::kClose}};
  for (const Case& c : cases) {
    form.setResult(0);
    c.action->trigger();
    EXPECT_EQ(form.result(), c.result) << c.action->text().toStdString();
  }
}

TEST_F(ImageWindowTest, ThumbSizeFormAndMenu) {
  TSettings settings;
  settings.ThumbSize = 64;
  QMenu menu;
  QMenu* sizes = AddThumbSizeMenu(menu, settings);
  ASSERT_EQ(sizes->title(), "Thumbnail Size");
  const QList<QAction*> items = sizes->actions();
  ASSERT_EQ(items.size(), 5);
  EXPECT_TRUE(items[1]->isChecked()) << "64 X 64";
  items[2]->trigger();
  EXPECT_EQ(settings.ThumbSize, 128);

  // "Other": OK takes the box's value; Cancel changes nothing.
  int answer = 100;
  SetModalHook([&answer](QDialog& d, const char* name) {
    EXPECT_STREQ(name, "TThumbsizeForm");
    auto& form = static_cast<TThumbsizeForm&>(d);
    EXPECT_EQ(form.SizeEdit->minimum(), 16);
    EXPECT_EQ(form.SizeEdit->maximum(), 256);
    if (answer < 0) {
      form.Button2Click();
    } else {
      form.SizeEdit->setValue(answer);
      form.Button1Click();
    }
    return form.result();
  });
  items[4]->trigger();
  EXPECT_EQ(settings.ThumbSize, 100);
  EXPECT_TRUE(items[4]->isChecked());
  answer = -1;
  items[0]->trigger();
  items[4]->trigger();
  EXPECT_EQ(settings.ThumbSize, 32);
  EXPECT_TRUE(items[0]->isChecked());
  EXPECT_FALSE(items[4]->isChecked());
  answer = 999;  // the box keeps to its range
  items[4]->trigger();
  EXPECT_EQ(settings.ThumbSize, 256);
  SetModalHook(nullptr);
}
