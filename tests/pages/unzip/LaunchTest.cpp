// Opening single entries from the unzip page: the entry comes out alone into a folder of its own under
// the working folder and goes to the right handler of a recording desktop; programs, scripts and
// desktop entries are never handed to a handler that could run them; hostile names stay inside.
#include <sys/stat.h>

#include <QAction>
#include <QPushButton>

#include "UnzipPageFixture.h"
#include "app/TandorForm.h"
#include "core/Settings.h"
#include "pages/common/FileList.h"
#include "pages/unzip/EntryLauncher.h"
#include "pages/unzip/UnzipPage.h"
#include "pages/unzip/UnzipPopupMenu.h"
#include "platform/Launcher.h"
#include "platform/TempFolders.h"

namespace {

const std::string kElf = std::string("\x7f" "ELF\x02\x01\x01", 7) + std::string(64, '\0');

class LaunchTest : public UnzipPageTest {
 protected:
  void SetUp() override {
    UnzipPageTest::SetUp();
    SetDesktopLauncher(&fake_);
  }
  void TearDown() override {
    SetDesktopLauncher(nullptr);
    UnzipPageTest::TearDown();
  }
  // A zip whose entries carry Unix modes (0755 for those named in `executable`).
  void MakeZip(const fs::path& zip, const std::vector<std::pair<std::string, std::string>>& entries) {
    const fs::path src = testenv::MakeTempDir("zsrc");
    std::string names;
    for (size_t i = 0; i < entries.size(); ++i) {
      testenv::WriteFile(src / std::to_string(i), entries[i].second);
      names += entries[i].first + "\n";
    }
    testenv::WriteFile(src / "names", names);
    RunPython(R"(
import sys, zipfile, os
zip, src = sys.argv[1], sys.argv[2]
names = open(os.path.join(src, 'names'), encoding='utf-8').read().split('\n')[:-1]
with zipfile.ZipFile(zip, 'w') as z:
    for i, n in enumerate(names):
        info = zipfile.ZipInfo(n, date_time=(2021, 3, 4, 5, 6, 8))
        info.compress_type = zipfile.ZIP_DEFLATED
        info.create_system = 3
        info.external_attr = (0o100755 if n.endswith(('.sh', 'tool', '.desktop', 'notes.txt')) else 0o100644) << 16
        z.writestr(info, open(os.path.join(src, str(i)), 'rb').read())
)",
              {zip.string(), src.string()});
  }
  int RowOf(const std::string& key) const {
    const std::vector<std::string> keys = Keys();
    for (size_t i = 0; i < keys.size(); ++i)
      if (keys[i] == key) return static_cast<int>(i);
    return -1;
  }
  // Highlights the one row and launches it.
  void LaunchKey(const std::string& key, TLaunchProgram program) {
    const int row = RowOf(key);
    ASSERT_GE(row, 0) << key;
    page_->UnzipListView->SelectNone();
    page_->UnzipListView->SelectRow(row);
    page_->UnzipLaunchFile(program);
  }
  fs::path WorkFolder() const { return form_->TempFolders().TempFolder(); }

  TRecordingLauncher fake_;
};

bool Inside(const fs::path& folder, const std::string& file) {
  const std::string f = fs::weakly_canonical(file).string(), d = fs::weakly_canonical(folder).string() + "/";
  return f.rfind(d, 0) == 0;
}

TEST_F(LaunchTest, ZipEntriesGoToTheRightHandlerAndAreNeverRun) {
  const fs::path zip = work_ / "mixed.zip";
  MakeZip(zip, {{"docs/readme.txt", "docs readme\n"},
                {"other/readme.txt", "other readme\n"},
                {"bin/tool", kElf},
                {"setup.exe", "MZ\x90\x00 program"},
                {"run.sh", "#!/bin/sh\nrm -rf ~\n"},
                {"script", "#!/usr/bin/python3\nprint(1)\n"},
                {"launch.desktop", "[Desktop Entry]\nType=Application\nExec=sh -c 'touch /tmp/pwned'\n"},
                {"notes.txt", "executable text\n"},
                {"../../escape.txt", "hostile\n"},
                {"/abs/root.txt", "absolute\n"}});
  Open(zip);
  ASSERT_EQ(page_->UnzipListView->Count(), 10);

  struct Case {
    std::string key;
    TLaunchProgram program;
    std::string how;      // the handler asked; empty: none
    std::string bytes;    // what it was given
    std::string message;  // a message shown instead
  } cases[] = {
      {"docs/readme.txt", TLaunchProgram::Desktop, "open", "docs readme\n", ""},
      {"other/readme.txt", TLaunchProgram::Desktop, "open", "other readme\n", ""},
      {"docs/readme.txt", TLaunchProgram::NotePad, "type:text/plain", "docs readme\n", ""},
      {"notes.txt", TLaunchProgram::Desktop, "open", "executable text\n", ""},
      {"run.sh", TLaunchProgram::Desktop, "type:text/plain", "#!/bin/sh\nrm -rf ~\n", ""},
      {"script", TLaunchProgram::Desktop, "type:text/plain", "#!/usr/bin/python3\nprint(1)\n", ""},
      {"launch.desktop", TLaunchProgram::Desktop, "type:text/plain",
       "[Desktop Entry]\nType=Application\nExec=sh -c 'touch /tmp/pwned'\n", ""},
      {"launch.desktop", TLaunchProgram::ImageView, "type:text/plain",
       "[Desktop Entry]\nType=Application\nExec=sh -c 'touch /tmp/pwned'\n", ""},
      {"bin/tool", TLaunchProgram::Desktop, "", "", "THIS FILE IS A PROGRAM."},
      {"bin/tool", TLaunchProgram::NotePad, "", "", "THIS FILE IS A PROGRAM."},
      {"setup.exe", TLaunchProgram::Desktop, "", "", "THIS FILE IS A PROGRAM."},
      {"../../escape.txt", TLaunchProgram::Desktop, "open", "hostile\n", ""},
      {"/abs/root.txt", TLaunchProgram::Desktop, "open", "absolute\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    fake_.calls.clear();
    prompt_.Clear();
    LaunchKey(c.key, c.program);
    if (c.how.empty()) {
      EXPECT_TRUE(fake_.calls.empty());
    } else {
      ASSERT_EQ(fake_.calls.size(), 1u);
      const auto& call = fake_.calls[0];
      EXPECT_EQ(call.how, c.how);
      EXPECT_EQ(call.bytes, c.bytes);
      EXPECT_TRUE(S_ISREG(call.mode));
      EXPECT_EQ(call.mode & 07111, 0u) << "no execute bit on the copy";
      EXPECT_TRUE(Inside(WorkFolder(), call.path)) << call.path;
      EXPECT_EQ(fs::path(call.path).filename().string(), fs::path(c.key).filename().string());
    }
    if (c.message.empty())
      EXPECT_TRUE(prompt_.Texts().empty()) << (prompt_.Texts().empty() ? "" : prompt_.Texts()[0]);
    else
      EXPECT_TRUE(prompt_.Saw(c.message));
  }
  // Nothing escaped the working folder.
  EXPECT_FALSE(fs::exists(WorkFolder().parent_path() / "escape.txt"));
  EXPECT_FALSE(fs::exists(fs::path(WorkFolder()) / ".." / ".." / "escape.txt"));
}

TEST_F(LaunchTest, SameNamesInTwoFoldersKeepTheirOwnCopies) {
  const fs::path zip = work_ / "twins.zip";
  MakeZip(zip, {{"a/readme.txt", "from a\n"}, {"b/readme.txt", "from b\n"}});
  Open(zip);
  LaunchKey("a/readme.txt", TLaunchProgram::Desktop);
  LaunchKey("b/readme.txt", TLaunchProgram::Desktop);
  ASSERT_EQ(fake_.calls.size(), 2u);
  EXPECT_NE(fake_.calls[0].path, fake_.calls[1].path);
  EXPECT_EQ(testenv::ReadFile(fake_.calls[0].path), "from a\n") << "the second launch left the first copy alone";
  EXPECT_EQ(testenv::ReadFile(fake_.calls[1].path), "from b\n");
  // Opening again replaces the copy in place.
  testenv::WriteFile(fake_.calls[0].path, "changed\n");
  LaunchKey("a/readme.txt", TLaunchProgram::Desktop);
  ASSERT_EQ(fake_.calls.size(), 3u);
  EXPECT_EQ(fake_.calls[2].path, fake_.calls[0].path);
  EXPECT_EQ(fake_.calls[2].bytes, "from a\n");
}

TEST_F(LaunchTest, TarGzipAndRarEntriesOpenToo) {
  const fs::path src = work_ / "src";
  fs::create_directories(src / "d");
  testenv::WriteFile(src / "d" / "inner.txt", "tar entry\n");
  testenv::WriteFile(src / "d" / "x.sh", "#!/bin/sh\necho hi\n");
  fs::permissions(src / "d" / "x.sh", fs::perms(0755));
  RunIn(src, "tar -cf ../t.tar d && tar -czf ../t.tar.gz d && cp d/inner.txt ../single.txt && gzip -k ../single.txt");

  struct Case {
    std::string archive, key, how, bytes;
  } cases[] = {
      {"t.tar", "d/inner.txt", "open", "tar entry\n"},
      {"t.tar", "d/x.sh", "type:text/plain", "#!/bin/sh\necho hi\n"},
      {"t.tar.gz", "d/inner.txt", "open", "tar entry\n"},
      {"t.tar.gz", "d/x.sh", "type:text/plain", "#!/bin/sh\necho hi\n"},
      {"single.txt.gz", "single.txt", "open", "tar entry\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.archive + " " + c.key);
    page_->ClearUnzipWindow();
    Open(work_ / c.archive);
    fake_.calls.clear();
    LaunchKey(c.key, TLaunchProgram::Desktop);
    ASSERT_EQ(fake_.calls.size(), 1u);
    EXPECT_EQ(fake_.calls[0].how, c.how);
    EXPECT_EQ(fake_.calls[0].bytes, c.bytes);
    EXPECT_EQ(fake_.calls[0].mode & 07111, 0u);
  }

  page_->ClearUnzipWindow();
  Open(testenv::TestDataDir() / "rar" / "test_read_format_rar5_fileattr.rar");
  fake_.calls.clear();
  LaunchKey("readonly.txt", TLaunchProgram::NotePad);
  ASSERT_EQ(fake_.calls.size(), 1u);
  EXPECT_EQ(fake_.calls[0].how, "type:text/plain");
  std::string sum;
  ASSERT_EQ(testenv::Run("sha256sum " + testenv::Quote(fake_.calls[0].path), &sum), 0);
  EXPECT_EQ(sum.substr(0, 64), "6122e0000f6b1f252db8481f26f336503e4e9e6e9206d2449ff703de08465d92");
}

TEST_F(LaunchTest, PopupMenuFollowsTheHighlightAndTakesAddedEntries) {
  const fs::path zip = work_ / "menu.zip";
  MakeZip(zip, {{"a.txt", "a"}, {"b.txt", "b"}, {"pic.png", "not really a png"}});
  Open(zip);
  int browsed = 0;
  QAction* browser = page_->UnzipPopupMenu->AddEntry("Image Browser", [&] { ++browsed; },
                                                     [this] { return page_->UnzipListView->Count() > 2; });
  std::vector<std::string> viewed;
  page_->Launcher().PictureViewer = [&](const std::string& f) { viewed.push_back(testenv::ReadFile(f)); };
  page_->Launcher().IsPicture = [](const std::string& f) { return f.size() > 4 && f.substr(f.size() - 4) == ".png"; };
  TUnzipPopupMenu& m = *page_->UnzipPopupMenu;

  struct Case {
    std::vector<std::string> rows;
    bool quickView;
    std::string enabled;  // Open, Note Pad, Word Pad, Quick View, Image View as "1"/"0"; Word Pad masked
  } cases[] = {
      {{}, false, "00000"},
      {{"a.txt", "b.txt"}, true, "00000"},
      {{"a.txt"}, false, "11-00"},
      {{"a.txt"}, true, "11-10"},
      {{"pic.png"}, false, "100-01"},
  };
  for (const Case& c : cases) {
    page_->UnzipListView->SelectNone();
    for (const std::string& k : c.rows) page_->UnzipListView->SelectRow(RowOf(k));
    form_->Settings().QuickViewProgram = c.quickView ? "qv" : "";
    page_->UnzipPopupMenuPopup(page_->UnzipListView);
    std::string got;
    for (QAction* a : {m.Open1, m.NotePad1, m.WordPad1, m.QuickView1, m.ImageView1})
      got += a == m.WordPad1 && !c.rows.empty() && c.rows.size() == 1 && c.rows[0] != "pic.png" ? "-" : (a->isEnabled() ? "1" : "0");
    std::string want = c.enabled;
    if (want.size() == 6) want.erase(3, 1);  // "100-01": the picture's Word Pad is always off
    EXPECT_EQ(got, want) << c.rows.size();
    EXPECT_TRUE(browser->isEnabled());
  }
  browser->trigger();
  EXPECT_EQ(browsed, 1);

  // "Image View" and "Open" on a picture use the program's viewer; "Open" follows ViewPicturesInternally.
  page_->UnzipListView->SelectNone();
  page_->UnzipListView->SelectRow(RowOf("pic.png"));
  fake_.calls.clear();
  m.ImageView1->trigger();
  form_->Settings().ViewPicturesInternally = false;
  m.ImageView1->trigger();
  EXPECT_EQ(viewed.size(), 2u);
  m.Open1->trigger();
  ASSERT_EQ(fake_.calls.size(), 1u);
  EXPECT_EQ(fake_.calls[0].how, "open");
  form_->Settings().ViewPicturesInternally = true;
  m.Open1->trigger();
  EXPECT_EQ(viewed.size(), 3u);
  EXPECT_EQ(viewed.back(), "not really a png");
  // Quick View starts the configured program.
  form_->Settings().QuickViewProgram = "qv";
  page_->UnzipListView->SelectNone();
  page_->UnzipListView->SelectRow(RowOf("a.txt"));
  page_->UnzipPopupMenuPopup(page_->UnzipListView);
  m.QuickView1->trigger();
  ASSERT_EQ(fake_.calls.size(), 2u);
  EXPECT_EQ(fake_.calls[1].how, "program:qv");
}

}  // namespace
