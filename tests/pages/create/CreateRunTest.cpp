// Tar, gzipped tar and gzip runs of the create page, read back by GNU tar and gzip; bad targets and
// sources end the run with a message, the page enabled again and no partial archive.
#include <QCheckBox>
#include <QSpinBox>

#include <unistd.h>

#include <algorithm>
#include "CreatePageFixture.h"
#include "core/TextUtil.h"
#include "pages/create/CreateForms.h"

namespace {
using namespace createtest;

std::string Sh(const std::string& cmd, int* status = nullptr) {
  std::string out;
  const int rc = testenv::Run(cmd, &out);
  if (status) *status = rc;
  return out;
}

std::vector<std::string> Lines(const std::string& text) { return testenv::SortedLines(text); }

class CreateRunTest : public CreatePageTest {
 protected:
  void SetUp() override {
    CreatePageTest::SetUp();
    ASSERT_TRUE(testenv::HaveTool("tar"));
    ASSERT_TRUE(testenv::HaveTool("gzip"));
    root_ = MakeProject();
    out_ = testenv::MakeTempDir("out");
  }
  fs::path root_, out_;
};

TEST_F(CreateRunTest, TarWithEachPathSetting) {
  struct Case {
    bool save, relative;
    std::vector<std::string> names;
  };
  const std::string abs = root_.string().substr(1);
  const std::vector<Case> cases{
      {true, true, {"proj/.hidden", "proj/a.txt", "proj/sub/b.txt", "proj/sub/deep/c.txt"}},
      {true, false, {abs + "/proj/.hidden", abs + "/proj/a.txt", abs + "/proj/sub/b.txt", abs + "/proj/sub/deep/c.txt"}},
      {false, true, {".hidden", "a.txt", "b.txt", "c.txt"}}};
  fs::permissions(root_ / "proj/a.txt", fs::perms(0640));
  fs::permissions(root_ / "proj/sub/deep/c.txt", fs::perms(0750));
  fs::permissions(root_ / "proj/sub", fs::perms(0710));
  form_->Settings().DefaultArchiveType = 3;
  int n = 0;
  for (const Case& c : cases) {
    page_->ZipResetButtonClick();
    form_->Settings().SaveZipFolders = c.save;
    form_->Settings().RelativePaths = c.relative;
    AddFolder(root_ / "proj");
    const fs::path target = out_ / ("t" + std::to_string(++n));  // ".tar" is appended
    bool ok = false;
    ASSERT_TRUE(RunZipButton(target, &ok));
    EXPECT_TRUE(ok);
    const fs::path tar = target.string() + ".tar";
    EXPECT_EQ(form_->CurrentArchiveFile(), tar.string());
    int rc = 0;
    std::vector<std::string> files, folders;
    for (const std::string& name : Lines(Sh("tar -tf " + testenv::Quote(tar.string()), &rc)))
      (name.back() == '/' ? folders : files).push_back(name);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(files, c.names);
    // The folders above the files have entries of their own (none when names are stored bare).
    if (c.save && c.relative) {
      EXPECT_EQ(folders, (std::vector<std::string>{"proj/", "proj/sub/", "proj/sub/deep/"}));
    } else if (c.save) {
      EXPECT_NE(std::find(folders.begin(), folders.end(), abs + "/proj/sub/deep/"), folders.end());
    } else {
      EXPECT_EQ(folders, std::vector<std::string>{});
    }
    EXPECT_TRUE(PageIdle());
  }
  // Contents round-trip through GNU tar with each file's and folder's own mode and owner.
  const fs::path x = testenv::MakeTempDir("x");
  EXPECT_EQ(testenv::Run("tar -xf " + testenv::Quote(out_.string() + "/t1.tar") + " -C " + testenv::Quote(x.string())),
            0);
  EXPECT_EQ(testenv::ReadFile(x / "proj/sub/b.txt"), testenv::ReadFile(root_ / "proj/sub/b.txt"));
  const std::string listing = Sh("tar -tvf " + testenv::Quote(out_.string() + "/t1.tar") + " --numeric-owner");
  EXPECT_EQ(listing.find("-------rwx"), std::string::npos) << listing;
  const std::string owner = std::to_string(::getuid()) + "/" + std::to_string(::getgid());
  EXPECT_NE(listing.find("-rwxr-x--- " + owner), std::string::npos) << listing;  // proj/sub/deep/c.txt
  EXPECT_NE(listing.find("-rw-r----- " + owner), std::string::npos) << listing;  // proj/a.txt
  EXPECT_NE(listing.find("drwx--x--- " + owner), std::string::npos) << listing;  // proj/sub
  EXPECT_EQ(fs::status(x / "proj/sub/deep/c.txt").permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
  EXPECT_EQ(Leftovers(out_, {"t1.tar", "t2.tar", "t3.tar"}), std::vector<std::string>{});
}

TEST_F(CreateRunTest, TarOptionsWindowStampsTheEntries) {
  form_->Settings().TarAttributes = true;
  form_->Settings().DefaultArchiveType = 3;
  Answer("TTarArchiveOptionsForm", [](QDialog& d) {
    auto& w = static_cast<TTarArchiveOptionsForm&>(d);
    w.RBOCheckBox->setChecked(true);
    w.WBOCheckBox->setChecked(true);
    w.WBACheckBox->setChecked(false);
    w.UIDSpinEdit->setValue(1234);
    w.GIDSpinEdit->setValue(99);
    w.UserNameEdit->setText("alice");
    w.GroupNameEdit->setText("staff");
    w.VHEdit->setText("BACKUP-VOL");
    w.MagicEdit->setText("ustar");
    return int(QDialog::Accepted);
  });
  AddFiles({root_ / "proj/a.txt"});
  ASSERT_TRUE(RunZipButton(out_ / "opts.tar"));
  const std::string listing = Sh("tar -tvf " + testenv::Quote((out_ / "opts.tar").string()));
  EXPECT_NE(listing.find("-rw----r-x 1234/99"), std::string::npos) << listing;
  const std::string owners = Sh("python3 -c \"import tarfile,sys; print([(m.name, m.uname, m.gname, oct(m.mode)) for m in "
                                "tarfile.open(sys.argv[1]) if m.isfile()])\" " +
                                testenv::Quote((out_ / "opts.tar").string()));
  EXPECT_EQ(owners, "[('proj/a.txt', 'alice', 'staff', '0o605')]\n");
  EXPECT_NE(listing.find("BACKUP-VOL"), std::string::npos) << listing;
  EXPECT_EQ(page_->TarOptions.UserName, "") << "the options return to their defaults after a run";
  EXPECT_EQ(page_->TarOptions.Permissions(), TTarOptions().Permissions());
}

TEST_F(CreateRunTest, GzippedTarAndGzip) {
  form_->Settings().DefaultArchiveType = 2;
  AddFolder(root_ / "proj");
  page_->CreateTagEdit->setText("nightly");
  bool ok = false;
  ASSERT_TRUE(RunZipButton(out_ / "pack", &ok));
  EXPECT_TRUE(ok);
  const fs::path tgz = out_ / "pack.tar.gz";
  int rc = 1;
  Sh("gzip -t " + testenv::Quote(tgz.string()), &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(Lines(Sh("tar -tzf " + testenv::Quote(tgz.string()))),
            (std::vector<std::string>{"proj/", "proj/.hidden", "proj/a.txt", "proj/sub/", "proj/sub/b.txt",
                                      "proj/sub/deep/", "proj/sub/deep/c.txt"}));
  const std::string head = testenv::ReadFile(tgz).substr(0, 64);
  EXPECT_EQ(static_cast<unsigned char>(head[3]), 0x18) << "name and comment in the header";
  EXPECT_NE(head.find(std::string("pack.tar\0nightly\0", 17)), std::string::npos);
  EXPECT_TRUE(fs::exists(form_->TempFolders().TempFolder() + "/pack.tar")) << "the temporary tar stays for the clean-up";
  EXPECT_TRUE(PageIdle());

  // A gzip file of the only row; no tag gives the name field alone.
  page_->ZipResetButtonClick();
  form_->Settings().DefaultArchiveType = 4;
  AddFiles({root_ / "proj/sub/b.txt"});
  ASSERT_TRUE(RunZipButton(out_ / "single", &ok));
  EXPECT_TRUE(ok);
  const fs::path gz = out_ / "single.gz";
  EXPECT_EQ(Sh("gzip -dc " + testenv::Quote(gz.string()), &rc), testenv::ReadFile(root_ / "proj/sub/b.txt"));
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(static_cast<unsigned char>(testenv::ReadFile(gz)[3]), 0x08);
  EXPECT_EQ(Leftovers(out_, {"pack.tar.gz", "single.gz"}), std::vector<std::string>{});

  // The gzip type with two rows makes a zip archive instead: the name gets ".zip".
  AddFiles({root_ / "proj/a.txt"});
  prompt_.QueuePath((out_ / "two").string());
  QSignalSpy spy(page_, &TCreatePage::RunEnded);
  page_->ZipButtonClick();
  EXPECT_EQ(form_->CurrentArchiveFile(), (out_ / "two.zip").string());
  WaitRun(spy, nullptr);
}

TEST_F(CreateRunTest, BadTargetsAndSourcesLeaveNothingBehind) {
  form_->Settings().DefaultArchiveType = 3;
  AddFolder(root_ / "proj");
  // A target "folder" that is a regular file fails for every user, root included.
  testenv::WriteFile(out_ / "plain", "x");
  bool ok = true;
  prompt_.QueuePath((out_ / "plain/inside.tar").string());
  page_->ZipButtonClick();
  EXPECT_TRUE(prompt_.Saw("CANNOT BE WRITTEN TO"));
  EXPECT_TRUE(PageIdle());

  // A listed file vanished before the run.
  prompt_.Clear();
  fs::remove(root_ / "proj/sub/b.txt");
  ASSERT_TRUE(RunZipButton(out_ / "gone.tar", &ok));
  EXPECT_FALSE(ok);
  EXPECT_TRUE(prompt_.Saw("CANNOT BE READ")) << ::testing::PrintToString(prompt_.Texts());
  EXPECT_TRUE(PageIdle());
  EXPECT_EQ(Leftovers(out_, {"plain"}), std::vector<std::string>{});

  // The file system fills up during the run.
  page_->ZipResetButtonClick();
  AddFolder(root_ / "proj");
  prompt_.Clear();
  prompt_.QueueAnswer(TPromptAnswer::Yes);  // go on despite the warning
  testenv::SetFreeSpace(10);
  ASSERT_TRUE(RunZipButton(out_ / "full.tar", &ok));
  EXPECT_FALSE(ok);
  EXPECT_TRUE(prompt_.Saw("THERE MAY NOT BE ENOUGH ROOM ON THE DISK"));
  EXPECT_TRUE(prompt_.Saw("THERE WAS NOT ENOUGH ROOM ON THE DRIVE TO COMPLETE THE CREATION OF THE TAR FILE."));
  EXPECT_TRUE(PageIdle());
  EXPECT_EQ(Leftovers(out_, {"plain"}), std::vector<std::string>{});

  // Cancelling the room warning creates nothing.
  prompt_.Clear();
  prompt_.QueuePath((out_ / "never.tar").string());
  prompt_.QueueAnswer(TPromptAnswer::Cancel);
  page_->ZipButtonClick();
  EXPECT_TRUE(prompt_.Saw("THERE MAY NOT BE ENOUGH ROOM ON THE DISK"));
  EXPECT_EQ(Leftovers(out_, {"plain"}), std::vector<std::string>{});

  // A gzipped tar needs room for the temporary tar and the result on one file system.
  prompt_.Clear();
  form_->Settings().DefaultArchiveType = 2;
  prompt_.QueuePath((out_ / "big.tar.gz").string());
  prompt_.QueueAnswer(TPromptAnswer::Yes);
  page_->ZipButtonClick();
  EXPECT_TRUE(prompt_.Saw("THE PROGRAM MUST CREATE A TAR FILE BEFORE CREATING THE GZIPPED FILE"));
  EXPECT_EQ(Leftovers(out_, {"plain"}), std::vector<std::string>{});
  EXPECT_TRUE(PageIdle());
}

TEST_F(CreateRunTest, StopDuringTarLeavesNoArchive) {
  const fs::path many = testenv::MakeTempDir("many");
  for (int i = 0; i < 400; ++i) testenv::WriteFile(many / ("f" + std::to_string(i)), testenv::RandomBytes(20000, i));
  form_->Settings().DefaultArchiveType = 3;
  AddFolder(many);
  QSignalSpy spy(page_, &TCreatePage::RunEnded);
  prompt_.QueuePath((out_ / "stopped.tar").string());
  page_->ZipButtonClick();
  EXPECT_TRUE(page_->ZipStopButton->isEnabled());
  EXPECT_FALSE(page_->ZipButton->isEnabled());
  page_->ZipStopButton->click();
  bool ok = true;
  ASSERT_TRUE(WaitRun(spy, &ok));
  EXPECT_FALSE(ok);
  EXPECT_TRUE(PageIdle());
  EXPECT_EQ(Leftovers(out_, {}), std::vector<std::string>{});
  EXPECT_EQ(prompt_.Texts(), std::vector<std::string>{}) << "a stop the user asked for is quiet";

  // STOP in the tar step of a gzipped tar: no .tar.gz, the partial temporary tar is kept.
  form_->Settings().DefaultArchiveType = 2;
  QSignalSpy spy2(page_, &TCreatePage::RunEnded);
  prompt_.QueuePath((out_ / "stopped.tar.gz").string());
  page_->ZipButtonClick();
  page_->ZipStopButton->click();
  ASSERT_TRUE(WaitRun(spy2, &ok));
  EXPECT_FALSE(ok);
  EXPECT_TRUE(page_->TarFailed);
  EXPECT_EQ(Leftovers(out_, {}), std::vector<std::string>{});
  EXPECT_TRUE(PageIdle());
  EXPECT_EQ(prompt_.Texts(), std::vector<std::string>{}) << "a stop the user asked for is quiet";
}

}  // namespace
