// Tar archives, gzip files and gzipped tar archives on the unzip page: listing, routing by the
// settings, extraction with overwrite questions and room checks. Archives come from GNU tar, bsdtar,
// gzip and Python.
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

#include "UnzipPageFixture.h"
#include "app/TandorForm.h"
#include "core/TextUtil.h"
#include "pages/common/FileList.h"
#include "pages/unzip/UnzipPage.h"
#include "platform/FileSystem.h"

namespace {

using Tree = std::vector<std::string>;

class TarGzPageTest : public UnzipPageTest {
 protected:
  void SetUp() override {
    UnzipPageTest::SetUp();
    src_ = work_ / "src";
    fs::create_directories(src_ / "docs" / "empty");
    testenv::WriteFile(src_ / "docs" / "a.txt", std::string(1536, 'a'));
    testenv::WriteFile(src_ / "b.bin", testenv::RandomBytes(2000, 3));
    testenv::WriteFile(src_ / "Ünïcode name.txt", "u");
    long_ = std::string(60, 'L') + "/" + std::string(70, 'M') + ".txt";  // over 100 bytes
    fs::create_directories(src_ / std::string(60, 'L'));
    testenv::WriteFile(src_ / long_, "long");
    fs::create_symlink("b.bin", src_ / "link");
    dest_ = work_ / "sandbox" / "dest";
    fs::create_directories(dest_);
  }
  Tree DestTree() {
    for (const std::string& e : testenv::ListTree(work_ / "sandbox"))
      EXPECT_EQ(e.rfind("dest/", 0), 0u) << "written outside the destination: " << e;
    return testenv::ListTree(dest_);
  }
  fs::path src_, dest_;
  std::string long_;
};

}  // namespace

TEST_F(TarGzPageTest, GnuTarAndBsdtarListings) {
  for (const std::string& tool : {std::string("tar --format=gnu -cf"), std::string("bsdtar --format=pax -cf")}) {
    SCOPED_TRACE(tool);
    const fs::path tar = work_ / "t.tar";
    fs::remove(tar);
    RunIn(src_, tool + " ../t.tar docs b.bin 'Ünïcode name.txt' " + std::string(60, 'L') + " link");
    page_->ResetUnzipPage();
    Open(tar);
    // Files only: no folders, no link; sizes with separators.
    std::vector<std::string> keys = Keys();
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, (std::vector<std::string>{long_, "b.bin", "docs/a.txt", "Ünïcode name.txt"}));
    for (const TListRow& r : page_->UnzipListView->Model()->Rows()) {
      if (r.File == "a.txt") {
        EXPECT_EQ(r.Size.toStdString(), "1,536");
        EXPECT_EQ(r.Path.toStdString(), "docs/");
        EXPECT_GE(r.Data, 512) << "the entry's data offset is kept";
      }
    }
    EXPECT_EQ(page_->UnzipNumFilesEdit->text().toStdString(), "4");
    EXPECT_EQ(page_->UnzipTotalFileSizeEdit->text().toStdString(), "3,541");
    EXPECT_EQ(form_->windowTitle().toStdString(), "Tandor : t.tar");
    EXPECT_TRUE(page_->UnzipButton->isEnabled());
    EXPECT_TRUE(page_->TreeButton->isEnabled());
  }
  // Only folders and a link: nothing to list.
  RunIn(src_, "tar -cf ../folders.tar docs/empty link");
  page_->ResetUnzipPage();
  prompt_.Clear();
  Open(work_ / "folders.tar");
  EXPECT_EQ(page_->UnzipListView->Count(), 0);
  EXPECT_TRUE(prompt_.Saw("THERE WERE NO FILES IN THE TAR ARCHIVE.  THE ARCHIVE WAS EMPTY OR CONTAINED ONLY FOLDERS."));
  EXPECT_FALSE(page_->UnzipButton->isEnabled());
}

TEST_F(TarGzPageTest, GzippedTarballsFollowTheSetting) {
  RunIn(src_, "tar -czf ../t.tar.gz docs b.bin");
  RunIn(src_, "tar -cf ../inner.tar docs && gzip -N -c ../inner.tar > ../stored.gz");
  // As tar: the rows of the tar, unpacked in the temporary folder.
  Open(work_ / "t.tar.gz");
  EXPECT_EQ(page_->UnzipListView->Count(), 2);
  EXPECT_EQ(form_->windowTitle().toStdString(), "Tandor : t.tar.gz");
  EXPECT_TRUE(EndsWith(form_->CurrentArchiveFile(), ".tar")) << form_->CurrentArchiveFile();
  EXPECT_EQ(form_->CurrentArchiveFile().rfind(form_->TempFolders().TempFolder(), 0), 0u);
  // A ".gz" whose stored name ends in ".tar" is a tarball too.
  page_->ResetUnzipPage();
  EXPECT_TRUE(page_->IsaGzippedTarBall((work_ / "stored.gz").string()));
  Open(work_ / "stored.gz");
  EXPECT_EQ(Keys(), (std::vector<std::string>{"docs/a.txt"}));

  // As gzip: one row, the stored name; the size of the ".gz" file.
  form_->Settings().OpenTarInGz = false;
  page_->ResetUnzipPage();
  EXPECT_FALSE(fs::exists(form_->TempFolders().TempFolder() + "/inner.tar")) << "the reset empties the temporary folder";
  Open(work_ / "stored.gz");
  ASSERT_EQ(page_->UnzipListView->Count(), 1);
  const int64_t size = static_cast<int64_t>(fs::file_size(work_ / "stored.gz"));
  EXPECT_EQ(Cell(0, 0), "inner.tar");
  EXPECT_EQ(Cell(0, 1), std::to_string(size));
  EXPECT_EQ(page_->UnzipTotalFileSizeEdit->text().toStdString(), std::to_string(size));
  EXPECT_EQ(form_->UnzipPage()->UnzipTotalBytes, 3 * size);
  EXPECT_EQ(page_->UnzipListView->SelectedRows().size(), 1u);
}

TEST_F(TarGzPageTest, GzipWithoutStoredNameAndBrokenFiles) {
  testenv::WriteFile(work_ / "plain.txt", "plain text");
  RunIn(work_, "gzip -n -c plain.txt > nameless.gz && gzip -N -c plain.txt > named.gz");
  testenv::WriteFile(work_ / "fake.gz", "this is not gzip at all");
  // Without a stored name the file is known by its own name less ".gz".
  Open(work_ / "nameless.gz");
  EXPECT_EQ(Keys(), (std::vector<std::string>{"nameless"}));
  page_->ResetUnzipPage();
  prompt_.Clear();
  Open(work_ / "fake.gz");
  // A file that is not gzip says so once, and the page stays an empty one.
  EXPECT_EQ(prompt_.Texts(),
            std::vector<std::string>{"CANNOT OPEN THE FILE " + (work_ / "fake.gz").string() + "\nnot a gzip file"});
  EXPECT_EQ(form_->windowTitle().toStdString(), "Tandor");
  EXPECT_FALSE(page_->UnzipButton->isEnabled());
  EXPECT_EQ(page_->UnzipListView->Count(), 0);
  EXPECT_TRUE(page_->OpenUnzipButton->isEnabled());
  Open(work_ / "named.gz");
  EXPECT_EQ(Keys(), (std::vector<std::string>{"plain.txt"}));
  page_->UnzipListView->SelectAllRows();
  Unzip(dest_);
  EXPECT_EQ(DestTree(), Tree{"plain.txt"});
  EXPECT_EQ(testenv::ReadFile(dest_ / "plain.txt"), "plain text");
}

TEST_F(TarGzPageTest, TarExtractionOfHighlightedRowsWithOverwriteQuestions) {
  RunIn(src_, "tar -cf ../t.tar docs b.bin 'Ünïcode name.txt' " + std::string(60, 'L'));
  Open(work_ / "t.tar");
  page_->UnzipListView->SelectNone();
  for (int r = 0; r < page_->UnzipListView->Count(); ++r) {
    const std::string k = page_->UnzipListView->Model()->Row(r).Key().toStdString();
    if (k == "docs/a.txt" || k == long_) page_->UnzipListView->SelectRow(r);
  }
  Unzip(dest_);
  EXPECT_EQ(DestTree(), (Tree{std::string(60, 'L') + "/", long_, "docs/", "docs/a.txt"}));
  EXPECT_EQ(testenv::ReadFile(dest_ / "docs" / "a.txt"), std::string(1536, 'a'));
  EXPECT_TRUE(form_->ArchiveExtracted());

  // Existing files: the question shows the disk file's size in KB; Yes to All answers the rest.
  testenv::WriteFile(dest_ / "docs" / "a.txt", std::string(1536, 'o'));
  testenv::WriteFile(dest_ / "b.bin", "old");
  page_->UnzipListView->SelectAllRows();
  prompt_.Clear();
  prompt_.QueueAnswer(TPromptAnswer::YesToAll);
  Unzip(dest_);
  std::vector<std::string> questions;
  for (const std::string& t : prompt_.Texts())
    if (t.rfind("REPLACE THE FILE ", 0) == 0) questions.push_back(t);
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_NE(questions[0].find("  1.5 KB  "), std::string::npos) << questions[0];
  EXPECT_NE(questions[0].find("\nWITH THE ARCHIVE FILE \na.txt  1.5 KB  "), std::string::npos) << questions[0];
  EXPECT_EQ(testenv::ReadFile(dest_ / "docs" / "a.txt"), std::string(1536, 'a'));
  EXPECT_EQ(testenv::ReadFile(dest_ / "b.bin"), testenv::ReadFile(src_ / "b.bin"));

  // No to All keeps every existing file.
  testenv::WriteFile(dest_ / "docs" / "a.txt", "kept");
  testenv::WriteFile(dest_ / "b.bin", "kept");
  prompt_.Clear();
  prompt_.QueueAnswer(TPromptAnswer::NoToAll);
  Unzip(dest_);
  EXPECT_EQ(testenv::ReadFile(dest_ / "docs" / "a.txt"), "kept");
  EXPECT_EQ(testenv::ReadFile(dest_ / "b.bin"), "kept");
}

TEST_F(TarGzPageTest, HostileTarStaysInside) {
  RunPython(R"(
import sys, tarfile, io
with tarfile.open(sys.argv[1], 'w', format=tarfile.GNU_FORMAT) as t:
    for name, data in [('../up.txt', b'up'), ('/abs/root.txt', b'root'), ('ok.txt', b'ok')]:
        info = tarfile.TarInfo(name); info.size = len(data); t.addfile(info, io.BytesIO(data))
    link = tarfile.TarInfo('esc'); link.type = tarfile.SYMTYPE; link.linkname = '/'; t.addfile(link)
    info = tarfile.TarInfo('esc/tmp/through.txt'); info.size = 1; t.addfile(info, io.BytesIO(b't'))
)",
            {(work_ / "evil.tar").string()});
  Open(work_ / "evil.tar");
  page_->UnzipListView->SelectAllRows();
  Unzip(dest_);
  const Tree tree = DestTree();
  EXPECT_NE(std::find(tree.begin(), tree.end(), "ok.txt"), tree.end());
  EXPECT_FALSE(fs::exists(work_ / "sandbox" / "up.txt"));
  EXPECT_FALSE(fs::exists("/abs/root.txt"));
  EXPECT_FALSE(fs::exists("/tmp/through.txt"));
}

TEST_F(TarGzPageTest, GzipExtractionAndRoom) {
  testenv::WriteFile(work_ / "data.txt", std::string(50000, 'd'));
  RunIn(work_, "gzip -N -c data.txt > data.txt.gz");
  form_->Settings().OpenTarInGz = false;
  Open(work_ / "data.txt.gz");
  const int64_t size = static_cast<int64_t>(fs::file_size(work_ / "data.txt.gz"));
  // Six times the compressed size must be free.
  testenv::SetFreeSpace(6 * size - 1);
  Unzip(dest_);
  EXPECT_TRUE(prompt_.Saw("THERE IS NOT ENOUGH ROOM ON THIS DISK DRIVEFOR THE UNZIPPED FILES."));
  EXPECT_TRUE(DestTree().empty());
  testenv::SetFreeSpace(6 * size + 60000000);
  prompt_.Clear();
  Unzip(dest_);
  EXPECT_EQ(DestTree(), Tree{"data.txt"});
  EXPECT_EQ(testenv::ReadFile(dest_ / "data.txt"), std::string(50000, 'd'));
  EXPECT_TRUE(form_->ArchiveExtracted());

  // The file exists: No leaves it, Yes replaces it.
  testenv::WriteFile(dest_ / "data.txt", "old");
  prompt_.Clear();
  prompt_.QueueAnswer(TPromptAnswer::No);
  Unzip(dest_);
  EXPECT_TRUE(prompt_.Saw("THE FILE data.txt ALREADY EXISTS.  REPLACE THE FILE?"));
  EXPECT_EQ(testenv::ReadFile(dest_ / "data.txt"), "old");
  prompt_.Clear();
  prompt_.QueueAnswer(TPromptAnswer::Yes);
  Unzip(dest_);
  EXPECT_EQ(testenv::ReadFile(dest_ / "data.txt"), std::string(50000, 'd'));
}

// Rows are extracted by the entry they stand for, whatever its name: names with "\" and names that
// are not UTF-8 are written like any other; a selection that writes nothing says so.
TEST_F(TarGzPageTest, HighlightedRowsWithUnusualNamesAreExtracted) {
  const fs::path script = work_ / "odd.py";
  testenv::WriteFile(script,
                     "import io, sys, tarfile\n"
                     "t = tarfile.open(sys.argv[1], 'w', format=tarfile.GNU_FORMAT, encoding='latin-1')\n"
                     "for name, data in (('win\\\\dir\\\\x.txt', b'back'), ('caf\\xe9.txt', b'latin'), ('plain.txt', b'p')):\n"
                     "    i = tarfile.TarInfo(name)\n"
                     "    i.size = len(data)\n"
                     "    t.addfile(i, io.BytesIO(data))\n"
                     "t.close()\n");
  ASSERT_EQ(testenv::Run("python3 " + testenv::Quote(script.string()) + " " + testenv::Quote((work_ / "odd.tar").string())), 0);
  Open(work_ / "odd.tar");
  ASSERT_EQ(page_->UnzipListView->Count(), 3);
  page_->UnzipListView->SelectNone();
  for (int r = 0; r < page_->UnzipListView->Count(); ++r)
    if (page_->UnzipListView->Model()->Row(r).Key().toStdString() != "plain.txt") page_->UnzipListView->SelectRow(r);
  prompt_.Clear();
  Unzip(dest_);
  std::vector<std::string> contents;
  for (const auto& e : fs::recursive_directory_iterator(dest_))
    if (e.is_regular_file()) contents.push_back(testenv::ReadFile(e.path()));
  std::sort(contents.begin(), contents.end());
  EXPECT_EQ(contents, (std::vector<std::string>{"back", "latin"})) << (prompt_.Texts().empty() ? "" : prompt_.Texts().back());
  EXPECT_FALSE(fs::exists(dest_ / "plain.txt"));

  // Only a refused entry highlighted (a name that is nothing but ".."): nothing is written, and the
  // page says why.
  testenv::WriteFile(script,
                     "import io, sys, tarfile\n"
                     "t = tarfile.open(sys.argv[1], 'w')\n"
                     "i = tarfile.TarInfo('../..')\n"
                     "i.size = 1\n"
                     "t.addfile(i, io.BytesIO(b'e'))\n"
                     "t.close()\n");
  ASSERT_EQ(testenv::Run("python3 " + testenv::Quote(script.string()) + " " + testenv::Quote((work_ / "evil.tar").string())), 0);
  fs::remove_all(dest_);
  fs::create_directories(dest_);
  page_->Clear();  // as the window does before it opens another archive
  Open(work_ / "evil.tar");
  ASSERT_EQ(Keys(), std::vector<std::string>{"../.."});
  page_->UnzipListView->SelectAllRows();
  form_->SetArchiveExtracted(false);
  prompt_.Clear();
  Unzip(dest_);
  EXPECT_TRUE(fs::is_empty(dest_));
  ASSERT_FALSE(prompt_.Texts().empty());
  EXPECT_EQ(prompt_.Texts().back().rfind("NOTHING WAS EXTRACTED.", 0), 0u) << prompt_.Texts().back();
  EXPECT_FALSE(form_->ArchiveExtracted());
}
