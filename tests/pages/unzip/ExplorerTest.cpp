// The explorer window on the unzip page: choosing the whole archive, a folder with its subfolders or a
// file extracts exactly that (checked on disk); search with and without Whole Word and Case Sensitive,
// forwards and backwards; a root-only archive; files opened from the list reach the desktop's handler.
#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTreeView>

#include "UnzipPageFixture.h"
#include "app/TandorForm.h"
#include "pages/common/FileList.h"
#include "pages/unzip/EntryLauncher.h"
#include "pages/unzip/ExplorerForm.h"
#include "pages/unzip/UnzipPage.h"
#include "platform/Launcher.h"

namespace {

const std::string kLong = "a-rather-long-folder-name/another-long-folder-name/yet-another-long-folder/and-the-last-one";

class ExplorerTest : public UnzipPageTest {
 protected:
  void SetUp() override {
    UnzipPageTest::SetUp();
    SetDesktopLauncher(&recorder_);
  }
  void TearDown() override {
    SetDesktopLauncher(nullptr);
    UnzipPageTest::TearDown();
  }
  void OpenSample() {
    const fs::path zip = work_ / "tree.zip";
    MakePythonZip(zip, {{"readme.txt", "r"},
                        {"Read", "R"},
                        {"docs/a.txt", "a"},
                        {"docs/img/p.png", "p"},
                        {"docs/READ", "dR"},
                        {"docsextra/b.txt", "b"},
                        {"other/read", "or"},
                        {kLong + "/deep.txt", "d"}});
    Open(zip);
  }
  // Opens the explorer; `drive` works the window and returns its result.
  void Explore(std::function<int(TUnzipTreeviewForm&)> drive, const fs::path& dest = {}) {
    if (!dest.empty()) prompt_.QueuePath(dest.string());
    modalAnswer_ = [drive](QDialog& d, const char*) {
      auto* f = dynamic_cast<TUnzipTreeviewForm*>(&d);
      return f ? drive(*f) : -1;
    };
    page_->TreeButtonClick();
    modalAnswer_ = nullptr;
    WaitWhileBusy();
  }
  int Choose(TUnzipTreeviewForm& f, const QString& path) {
    const int n = f.NodeOfPath(path);
    EXPECT_GE(n, 0) << path.toStdString();
    f.SelectNode(n);
    f.UnzipButtonClick();
    return f.result();
  }
  TRecordingLauncher recorder_;
};

TEST_F(ExplorerTest, AFolderChoiceMakesTheEmptyFoldersBelowIt) {
  // Folder entries are no rows: a chosen folder takes them by name, the empty ones below it included,
  // and no others (not those of a sibling that only begins alike, nor those elsewhere when the folder
  // holds every file).
  const fs::path zip = work_ / "empty.zip";
  MakePythonZip(zip, {{"docs/", ""},
                      {"docs/a.txt", "a"},
                      {"docs/empty/", ""},
                      {"docs/sub/deeper/", ""},
                      {"docs/sub/b.txt", "b"},
                      {"docsextra/", ""},
                      {"other/empty/", ""},
                      {"other/o.txt", "o"}});
  const fs::path onlyDocs = work_ / "only.zip";
  MakePythonZip(onlyDocs, {{"docs/a.txt", "a"}, {"docs/empty/", ""}, {"elsewhere/", ""}});
  // The same by GNU tar.
  const fs::path src = work_ / "tarsrc";
  for (const char* d : {"docs/empty", "docs/sub/deeper", "docsextra", "other/empty"}) fs::create_directories(src / d);
  testenv::WriteFile(src / "docs/a.txt", "a");
  testenv::WriteFile(src / "docs/sub/b.txt", "b");
  testenv::WriteFile(src / "other/o.txt", "o");
  RunIn(src, "tar -cf ../empty.tar docs docsextra other");
  const fs::path tar = work_ / "empty.tar";
  struct Case {
    fs::path archive;
    QString path;
    std::vector<std::string> written;
  } cases[] = {
      {zip, "docs", {"docs/", "docs/a.txt", "docs/empty/", "docs/sub/", "docs/sub/b.txt", "docs/sub/deeper/"}},
      {zip, "docs/sub", {"docs/", "docs/sub/", "docs/sub/b.txt", "docs/sub/deeper/"}},
      {zip, "other", {"other/", "other/empty/", "other/o.txt"}},
      {onlyDocs, "docs", {"docs/", "docs/a.txt", "docs/empty/"}},
      {tar, "docs", {"docs/", "docs/a.txt", "docs/empty/", "docs/sub/", "docs/sub/b.txt", "docs/sub/deeper/"}},
      {tar, "other", {"other/", "other/empty/", "other/o.txt"}},
  };
  int k = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.archive.filename().string() + " " + c.path.toStdString());
    Open(c.archive);
    const fs::path dest = work_ / ("empty" + std::to_string(k++));
    fs::create_directories(dest);
    int result = 0;
    Explore([&](TUnzipTreeviewForm& f) { return result = Choose(f, c.path); }, dest);
    EXPECT_EQ(result, TUnzipTreeviewForm::kFolder);
    EXPECT_EQ(testenv::ListTree(dest), c.written);
  }
}

TEST_F(ExplorerTest, ChoicesExtractExactlyWhatWasChosen) {
  OpenSample();
  struct Case {
    QString path;  // "" = the root
    int result;
    std::vector<std::string> written;
  } cases[] = {
      {"", TUnzipTreeviewForm::kAll,
       {"Read", "a-rather-long-folder-name/", "a-rather-long-folder-name/another-long-folder-name/",
        "a-rather-long-folder-name/another-long-folder-name/yet-another-long-folder/",
        "a-rather-long-folder-name/another-long-folder-name/yet-another-long-folder/and-the-last-one/",
        "a-rather-long-folder-name/another-long-folder-name/yet-another-long-folder/and-the-last-one/deep.txt", "docs/",
        "docs/READ", "docs/a.txt", "docs/img/", "docs/img/p.png", "docsextra/", "docsextra/b.txt", "other/", "other/read",
        "readme.txt"}},
      {"docs", TUnzipTreeviewForm::kFolder, {"docs/", "docs/READ", "docs/a.txt", "docs/img/", "docs/img/p.png"}},
      {"readme.txt", TUnzipTreeviewForm::kFile, {"readme.txt"}},
      {QString::fromStdString(kLong), TUnzipTreeviewForm::kFolder,
       {"a-rather-long-folder-name/", "a-rather-long-folder-name/another-long-folder-name/",
        "a-rather-long-folder-name/another-long-folder-name/yet-another-long-folder/",
        "a-rather-long-folder-name/another-long-folder-name/yet-another-long-folder/and-the-last-one/",
        "a-rather-long-folder-name/another-long-folder-name/yet-another-long-folder/and-the-last-one/deep.txt"}},
  };
  int k = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.toStdString());
    const fs::path dest = work_ / ("out" + std::to_string(k++));
    fs::create_directories(dest);
    int result = 0;
    QString label;
    Explore(
        [&](TUnzipTreeviewForm& f) {
          f.resize(400, 300);
          result = Choose(f, c.path);
          label = f.Label1->text();
          return result;
        },
        dest);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(testenv::ListTree(dest), c.written);
    if (c.path.size() > 40) {
      EXPECT_TRUE(label.startsWith("../")) << label.toStdString();
      EXPECT_TRUE(label.endsWith("and-the-last-one/*.*")) << label.toStdString();
    }
  }
  // CLOSE leaves the page as it was: nothing asked, nothing extracted.
  page_->UnzipListView->SelectNone();
  prompt_.Clear();
  Explore([](TUnzipTreeviewForm& f) {
    f.SelectNode(f.NodeOfPath("docs"));
    f.CloseButton->click();
    return f.result();
  });
  EXPECT_TRUE(prompt_.History().empty());
  EXPECT_TRUE(page_->UnzipListView->SelectedRows().empty());
}

TEST_F(ExplorerTest, SearchWholeWordCaseAndDirection) {
  OpenSample();
  struct Case {
    QString text;
    bool wholeWord, caseSensitive;
    std::vector<std::string> found;  // paths met by Search and then Find Next until no match
  } cases[] = {
      {"read", false, false, {"docs/READ", "other/read", "Read", "readme.txt"}},
      {"read", true, false, {"docs/READ", "other/read", "Read"}},
      {"read", true, true, {"other/read"}},
      {"READ", false, true, {"docs/READ"}},
      {"img", false, false, {"docs/img"}},
      {"tree.zip", true, false, {""}},  // the root is searched too
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.toStdString() + (c.wholeWord ? " whole" : "") + (c.caseSensitive ? " case" : ""));
    std::vector<std::string> forward, backward;
    prompt_.Clear();
    Explore([&](TUnzipTreeviewForm& f) {
      f.SearchEdit->setText(c.text);
      f.WholeWordCheckBox->setChecked(c.wholeWord);
      f.CaseCheckBox->setChecked(c.caseSensitive);
      f.ShowFolders();  // a search shows the full tree
      for (bool ok = f.SearchButtonClick(); ok; ok = f.FindNextClick()) {
        forward.push_back(f.AnswerPath().toStdString());
        EXPECT_TRUE(f.TreeView->isVisibleTo(&f));
        EXPECT_TRUE(f.FindNextButton->isEnabled());
      }
      while (f.FindPreviousClick()) backward.insert(backward.begin(), f.AnswerPath().toStdString());
      return int(TUnzipTreeviewForm::kClosed);
    });
    for (std::string& p : forward)
      if (!p.empty() && p.back() == '/') p.pop_back();
    for (std::string& p : backward)
      if (!p.empty() && p.back() == '/') p.pop_back();
    std::vector<std::string> want = c.found;
    for (std::string& w : want)
      if (w.empty()) w = "tree.zip";
    EXPECT_EQ(forward, want);
    // Backwards from the last match meets the same nodes, the last one excluded.
    want.pop_back();
    EXPECT_EQ(backward, want);
    EXPECT_TRUE(prompt_.Saw("SEARCH RESULT NOT FOUND."));
  }
}

TEST_F(ExplorerTest, RootOnlyArchiveAndOpeningFromTheList) {
  const fs::path zip = work_ / "flat.zip";
  MakePythonZip(zip, {{"b.txt", "bee"}, {"a.txt", "ay"}, {"c.txt", "sea"}});
  Open(zip);
  Explore([&](TUnzipTreeviewForm& f) {
    EXPECT_EQ(f.windowTitle().toStdString(), "Tandor File Unzip Explorer");
    EXPECT_EQ(f.TreeView->model()->rowCount(f.TreeView->model()->index(0, 0)), 3);
    EXPECT_EQ(f.FolderTreeView->model()->rowCount(f.FolderTreeView->model()->index(0, 0)), 0);
    EXPECT_EQ(f.Contents()->rowCount(), 3) << "the root's files in the list";
    // The last row of the list (sorted: c.txt) opens like any other.
    f.ListRowClicked(2);
    EXPECT_EQ(f.AnswerPath().toStdString(), "c.txt");
    // A folder row of a popup does nothing; Open on the selected file opens it.
    f.ListviewPopupMenuPopup();
    return int(TUnzipTreeviewForm::kClosed);
  });
  EXPECT_EQ(recorder_.Opened(), (std::vector<std::string>{"sea"}));
}

}  // namespace

TEST_F(ExplorerTest, LargeIconsAndListLayOutTheContents) {
  // LARGE ICONS: left to right in rows, each icon above its name, every name in a place of the same
  // width; LIST: one below the other, the icon before the name; the selected row is kept.
  OpenSample();
  Explore([](TUnzipTreeviewForm& f) {
    f.resize(900, 500);
    f.show();
    f.SelectNode(f.NodeOfPath("docs"));
    QListView* v = f.ListView;
    QCoreApplication::processEvents();
    EXPECT_EQ(f.Contents()->rowCount(), 3);  // img/, a.txt, READ
    const QRect a = v->visualRect(f.Contents()->index(0)), b = v->visualRect(f.Contents()->index(1));
    EXPECT_EQ(a.top(), b.top());
    EXPECT_GT(b.left(), a.right() - 1);
    EXPECT_EQ(a.width(), b.width());
    EXPECT_GE(a.width(), 100);
    EXPECT_TRUE(f.LargeIconsButton->isChecked());
    v->setCurrentIndex(f.Contents()->index(2));
    f.ListButton->click();
    QCoreApplication::processEvents();
    const QRect c = v->visualRect(f.Contents()->index(0)), d = v->visualRect(f.Contents()->index(1));
    EXPECT_EQ(c.left(), d.left());
    EXPECT_GT(d.top(), c.bottom() - 1);
    EXPECT_LT(c.height(), a.height());
    EXPECT_TRUE(f.ListButton->isChecked());
    EXPECT_FALSE(f.LargeIconsButton->isChecked());
    EXPECT_EQ(v->currentIndex().row(), 2);
    f.LargeIconsButton->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(v->visualRect(f.Contents()->index(1)).top(), v->visualRect(f.Contents()->index(0)).top());
    f.hide();
    return int(TUnzipTreeviewForm::kClosed);
  });
}
