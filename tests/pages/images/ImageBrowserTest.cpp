// The unzip page's image browser: the silent extraction of the picture entries, thumbnails, the
// browser's rows and buttons, the messages of archives without (usable) pictures, the automatic timer.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QAction>
#include <QStatusBar>

#include "PictureTestUtil.h"
#include "UnzipPageFixture.h"
#include "app/TandorForm.h"
#include "core/Settings.h"
#include "pages/common/FileList.h"
#include "pages/common/PromptService.h"
#include "pages/images/ImageBrowser.h"
#include "pages/images/ImageBrowserForm.h"
#include "pages/images/ImageForm.h"
#include "pages/unzip/EntryLauncher.h"
#include "pages/unzip/UnzipPopupMenu.h"
#include "pages/unzip/UnzipPage.h"
#include "platform/TempFolders.h"

namespace {

const char* const kNoPictures = "THIS FILE CONTAINED NO RECOGNIZED GRAPHICS FILES.";
const char* const kNoThumbnails =
    "THIS FILE CONTAINED NO RECOGNIZED GRAPHICS FILES OR THE FILES CONTAINED ERRORS AND CANNOT BE DISPLAYED.";
const char* const kReplace = "THE FILE IN THE ZIP FILE WILL REPLACE THE FILE ON DISK";

class ImageBrowserTest : public UnzipPageTest {
 protected:
  // The browser as the hook saw it: captions, thumbnail sizes, the files in the picture folder.
  struct Seen {
    bool shown = false;
    std::vector<std::string> captions;
    std::vector<QSize> thumbs;
    std::vector<std::string> extracted;
    std::vector<QImage> images;
  };

  // Runs "Image Browser" and waits for its end; `inBrowser` acts in the shown browser and gives its result.
  Seen Browse(const std::function<int(TImageBrowserForm&)>& inBrowser = {}) {
    Seen seen;
    modalAnswer_ = [&](QDialog& d, const char* name) {
      if (std::string(name) != "TImageBrowserForm") return int(QDialog::Rejected);
      auto& browser = static_cast<TImageBrowserForm&>(d);
      seen.shown = true;
      for (int i = 0; i < browser.Model()->Count(); ++i) {
        seen.captions.push_back(browser.Model()->At(i).Caption.toStdString());
        seen.thumbs.push_back(browser.Model()->At(i).Thumb.size());
        seen.images.push_back(browser.Model()->At(i).Thumb);
      }
      seen.extracted = testenv::ListTree(form_->TempFolders().ImageFolder());
      const int result = inBrowser ? inBrowser(browser) : TImageBrowserForm::kClosed;
      if (!browser.Closed()) browser.DoCloseCode();
      return result;
    };
    TImageBrowserRun& run = TImageBrowserRun::Of(*page_, *form_);
    run.OpenImageBrowser();
    WaitForRun(run);
    modalAnswer_ = nullptr;
    return seen;
  }

  void WaitForRun(TImageBrowserRun& run) {
    QElapsedTimer t;
    t.start();
    while (run.Running() && t.elapsed() < 60000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_FALSE(run.Running()) << "the browser run did not end";
  }

  fs::path Pictures(const std::vector<std::pair<std::string, std::string>>& made) {
    // (name in the archive, convert colour or "" for text)
    const fs::path src = testenv::MakeTempDir("pics");
    std::vector<std::pair<std::string, std::string>> entries;
    for (const auto& [name, colour] : made) {
      if (colour.empty()) {
        entries.push_back({name, "just text\n"});
        continue;
      }
      if (colour == "huge") {  // a PNG header claiming 60,000 x 60,000 pixels, and little else
        const std::string side("\0\0\xEA\x60", 4);
        entries.push_back({name, std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16) + side + side +
                                     std::string("\x08\x02\0\0\0", 5) + std::string(100, '\0')});
        continue;
      }
      const std::string ext = fs::path(name).extension().string();
      const fs::path file = pictest::Plain(src, "p" + std::to_string(entries.size()) + ext, 200, 100, colour);
      entries.push_back({name, testenv::ReadFile(file)});
    }
    const fs::path zip = work_ / "pics.zip";
    fs::remove(zip);
    MakePythonZip(zip, entries);
    return zip;
  }
};

}  // namespace

TEST_F(ImageBrowserTest, MixedArchiveGivesThumbnailsOfItsPicturesOnly) {
  Open(Pictures({{"a.jpg", "red"}, {"b.txt", ""}, {"docs/c.PNG", "blue"}}));
  form_->Settings().ThumbSize = 64;
  const Seen seen = Browse();
  ASSERT_TRUE(seen.shown) << ::testing::PrintToString(prompt_.Texts());
  EXPECT_EQ(seen.captions, (std::vector<std::string>{"a.jpg", "c.PNG"}));
  EXPECT_EQ(seen.extracted, (std::vector<std::string>{"a.jpg", "docs/", "docs/c.PNG"}));
  ASSERT_EQ(seen.images.size(), 2u);
  // 200 x 100 at 64: 16 black rows above and below the picture.
  EXPECT_EQ(seen.images[1].size(), QSize(64, 64));
  EXPECT_EQ(seen.images[1].pixel(30, 15), qRgb(0, 0, 0));
  EXPECT_EQ(seen.images[1].pixel(30, 16), qRgb(0, 0, 255));
  EXPECT_EQ(seen.images[1].pixel(30, 47), qRgb(0, 0, 255));
  EXPECT_EQ(seen.images[1].pixel(30, 48), qRgb(0, 0, 0));
  // The browser's close empties the picture folder.
  EXPECT_TRUE(testenv::ListTree(form_->TempFolders().ImageFolder()).empty());
  EXPECT_TRUE(prompt_.Texts().empty()) << ::testing::PrintToString(prompt_.Texts());
}

TEST_F(ImageBrowserTest, ThumbnailSizeComesFromTheSetting) {
  Open(Pictures({{"x.png", "white"}, {"black.png", "black"}}));
  for (int size : {32, 128}) {
    form_->Settings().ThumbSize = size;
    const Seen seen = Browse();
    ASSERT_EQ(seen.thumbs.size(), 2u) << "a black picture has its thumbnail too";
    for (const QSize& s : seen.thumbs) EXPECT_EQ(s, QSize(size, size));
    EXPECT_EQ(seen.images[1].pixel(size / 2, size / 2), qRgb(0, 0, 0));
  }
}

TEST_F(ImageBrowserTest, ArchivesWithoutUsablePictures) {
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> entries;
    std::string message;
  } cases[] = {
      {"text only", {{"a.txt", ""}, {"b/readme", ""}}, kNoPictures},
      {"broken pictures", {{"bad.jpg", ""}, {"worse.png", ""}}, kNoThumbnails},
  };
  for (const Case& c : cases) {
    prompt_.Clear();
    Open(Pictures(c.entries));
    const Seen seen = Browse();
    EXPECT_FALSE(seen.shown) << c.what;
    EXPECT_EQ(prompt_.Texts(), std::vector<std::string>{c.message}) << c.what;
  }
}

TEST_F(ImageBrowserTest, BrokenPictureIsLeftOutWithANote) {
  Open(Pictures({{"good.png", "green"}, {"broken.gif", ""}, {"huge.png", "huge"}}));
  const Seen seen = Browse();
  EXPECT_EQ(seen.captions, std::vector<std::string>{"good.png"});
  const std::string note = page_->UnzipStatusBar->currentMessage().toStdString();
  EXPECT_NE(note.find("2 pictures left out"), std::string::npos) << note;
  EXPECT_NE(note.find("broken.gif"), std::string::npos) << note;
  EXPECT_NE(note.find("huge.png (picture too large: 60000 x 60000)"), std::string::npos) << note;
  EXPECT_TRUE(prompt_.Texts().empty()) << ::testing::PrintToString(prompt_.Texts());
}

TEST_F(ImageBrowserTest, UnzipAsksBeforeTheSecondPictureOfTheSameName) {
  Open(Pictures({{"x/p.png", "red"}, {"y/p.png", "blue"}, {"z.png", "white"}}));
  const fs::path out = testenv::MakeTempDir("out");
  std::string first;
  Browse([&](TImageBrowserForm& browser) {
    // Nothing chosen: the message, and the button still works afterwards.
    browser.BUnzipButtonClick();
    EXPECT_TRUE(prompt_.Saw("NO FILES HAVE BEEN HIGHLIGHTED OR CHECKED!"));
    browser.Model()->SetChecked(0, true);
    browser.Model()->SetChecked(1, true);
    prompt_.QueuePath(out.string());
    prompt_.QueueAnswer(TPromptAnswer::No);
    browser.BUnzipButtonClick();
    first = testenv::ReadFile(fs::path(browser.Model()->At(0).Path));
    return TImageBrowserForm::kClosed;
  });
  int asked = 0;
  for (const std::string& t : prompt_.Texts()) asked += t.find(kReplace) != std::string::npos;
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(prompt_.Saw("THE OPERATION IS COMPLETE."));
  EXPECT_EQ(testenv::ListTree(out), std::vector<std::string>{"p.png"});
  EXPECT_EQ(testenv::ReadFile(out / "p.png"), first) << "No keeps the first copy";
}

TEST_F(ImageBrowserTest, ResultsOfTheBrowser) {
  Open(Pictures({{"a.png", "red"}}));
  // "Clear" resets the unzip page.
  Browse([](TImageBrowserForm& b) {
    b.clearbuttonClick();
    return b.result();
  });
  EXPECT_FALSE(page_->UnzipListView->HasRows());
  EXPECT_TRUE(form_->CurrentArchiveFile().empty());
}

TEST_F(ImageBrowserTest, AutomaticTimerOpensTheBrowserAfterAnArchiveIsOpened) {
  form_->Settings().AutoThumbnails = true;
  Seen seen;
  bool done = false;
  modalAnswer_ = [&](QDialog& d, const char* name) {
    if (std::string(name) == "TImageBrowserForm") {
      auto& browser = static_cast<TImageBrowserForm&>(d);
      for (int i = 0; i < browser.Model()->Count(); ++i) seen.captions.push_back(browser.Model()->At(i).Caption.toStdString());
      done = true;
    }
    return int(QDialog::Rejected);
  };
  const fs::path zip = Pictures({{"auto.png", "red"}, {"note.txt", ""}});
  Open(zip);
  QElapsedTimer t;
  t.start();
  while (!done && t.elapsed() < 30000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_EQ(seen.captions, std::vector<std::string>{"auto.png"});
  WaitForRun(TImageBrowserRun::Of(*page_, *form_));
  modalAnswer_ = nullptr;
}

TEST_F(ImageBrowserTest, PopupMenuEntriesAndThePictureViewer) {
  Open(Pictures({{"a.png", "red"}, {"b.txt", ""}}));
  std::vector<std::string> texts;
  for (QAction* a : page_->UnzipPopupMenu->actions()) texts.push_back(a->text().toStdString());
  EXPECT_NE(std::find(texts.begin(), texts.end(), "Image Browser"), texts.end()) << ::testing::PrintToString(texts);
  EXPECT_NE(std::find(texts.begin(), texts.end(), "Thumbnail Size"), texts.end()) << ::testing::PrintToString(texts);
  ASSERT_TRUE(page_->Launcher().IsPicture);
  EXPECT_TRUE(page_->Launcher().IsPicture("docs/x.JPG"));
  EXPECT_FALSE(page_->Launcher().IsPicture("x.txt"));

  // The launcher's picture viewer is the Image window; a picture that cannot be decoded shows its message.
  const fs::path dir = testenv::MakeTempDir("viewer");
  const fs::path good = pictest::Plain(dir, "v.png", 300, 200, "red");
  std::vector<std::string> shown;
  modalAnswer_ = [&](QDialog& d, const char* name) {
    shown.push_back(name);
    return int(TImageForm::kClose);
  };
  ASSERT_TRUE(page_->Launcher().PictureViewer);
  page_->Launcher().PictureViewer(good.string());
  EXPECT_EQ(shown, std::vector<std::string>{"TImageForm"});
  testenv::WriteFile(dir / "bad.png", "not a picture at all");
  page_->Launcher().PictureViewer((dir / "bad.png").string());
  EXPECT_EQ(shown.size(), 1u);
  EXPECT_EQ(prompt_.Texts().size(), 1u) << "the viewer's message for a picture it cannot show";
  modalAnswer_ = nullptr;
}
