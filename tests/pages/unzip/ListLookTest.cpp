// The unzip list as the user sees it: sizes with the user's digit grouping for every kind of archive,
// and columns wide enough for their texts in the window's default size.
#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QLocale>
#include <QStyle>

#include "UnzipPageFixture.h"
#include "app/TandorForm.h"
#include "pages/common/FileList.h"
#include "pages/unzip/UnzipPage.h"

namespace {

class ListLookTest : public UnzipPageTest {
 protected:
  void TearDown() override {
    QLocale::setDefault(saved_);
    UnzipPageTest::TearDown();
  }
  // The Size text of the row whose File is `file`.
  std::string SizeOf(const std::string& file) const {
    for (int r = 0; r < page_->UnzipListView->Count(); ++r)
      if (Cell(r, 0) == file) return Cell(r, 1);
    ADD_FAILURE() << file << " not listed";
    return {};
  }
  QLocale saved_;
};

}  // namespace

TEST_F(ListLookTest, SizesAreGroupedForEveryKind) {
  const fs::path src = work_ / "src";
  testenv::WriteFile(src / "big.txt", std::string(1234567, 'b'));
  testenv::WriteFile(src / "small.txt", std::string(999, 's'));
  RunIn(src, "zip -q ../g.zip big.txt small.txt && tar -cf ../g.tar big.txt small.txt && "
             "tar -czf ../g.tar.gz big.txt small.txt && gzip -N -c big.txt > ../big.txt.gz");
  const int64_t gzipSize = static_cast<int64_t>(fs::file_size(work_ / "big.txt.gz"));
  struct Locale {
    QLocale locale;
    const char* big;
    const char* total;  // of the zip and tar listings
  } locales[] = {
      {QLocale::c(), "1,234,567", "1,235,566"},
      {QLocale(QLocale::German, QLocale::Germany), "1.234.567", "1.235.566"},
      {QLocale(QLocale::French, QLocale::France), "1\u202f234\u202f567", "1\u202f235\u202f566"},
  };
  for (const Locale& l : locales) {
    QLocale::setDefault(l.locale);
    for (const char* archive : {"g.zip", "g.tar", "g.tar.gz"}) {
      SCOPED_TRACE(l.locale.name().toStdString() + " " + archive);
      page_->ResetUnzipPage();
      Open(work_ / archive);
      EXPECT_EQ(SizeOf("big.txt"), l.big);
      EXPECT_EQ(SizeOf("small.txt"), "999");
      EXPECT_EQ(page_->UnzipTotalFileSizeEdit->text().toStdString(), l.total);
      EXPECT_EQ(page_->UnzipNumFilesEdit->text().toStdString(), "2");
    }
    // A gzip file's row: the compressed file's size, grouped the same way.
    page_->ResetUnzipPage();
    Open(work_ / "big.txt.gz");
    EXPECT_EQ(SizeOf("big.txt"), GroupedNumber(gzipSize).toStdString());
    ASSERT_GE(gzipSize, 1000);
    EXPECT_EQ(SizeOf("big.txt").find_first_not_of("0123456789"), 1u) << SizeOf("big.txt");
  }
  // RAR rows too.
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  page_->ResetUnzipPage();
  Open(testenv::TestDataDir() / "rar" / "test_read_format_rar5_stored_manyfiles.rar");
  EXPECT_EQ(SizeOf("test.bin"), "1.200");
  EXPECT_EQ(page_->UnzipTotalFileSizeEdit->text().toStdString(), "2.419");
}

// In the window's default size every column before Path shows its whole text, and Path still starts
// inside the window.
TEST_F(ListLookTest, ColumnsFitTheirTextsInTheDefaultWindow) {
  RunPython(R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    for name, when in [('docs/readme.txt', (2024, 11, 23, 17, 45, 12)), ('a.bin', (2025, 12, 28, 20, 58, 58)),
                       ('report for the year.pdf', (2023, 1, 1, 0, 0, 0))]:
        z.writestr(zipfile.ZipInfo(name, when), 'x' * 2345678)
)",
            {(work_ / "d.zip").string()});
  form_->show();
  Open(work_ / "d.zip");
  QApplication::processEvents();
  TFileListView* list = page_->UnzipListView;
  const int margins = 2 * (list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1);
  for (int r = 0; r < list->Count(); ++r) {
    for (int c : {1, 2}) {
      const QString text = QString::fromStdString(Cell(r, c));
      SCOPED_TRACE(text.toStdString());
      EXPECT_GE(list->columnWidth(c), list->fontMetrics().horizontalAdvance(text) + margins);
    }
    const int icon = list->iconSize().isValid() ? list->iconSize().width() : 16;
    EXPECT_GE(list->columnWidth(0), list->fontMetrics().horizontalAdvance(QString::fromStdString(Cell(r, 0))) + icon)
        << Cell(r, 0);
  }
  EXPECT_LT(list->header()->sectionPosition(3) + 40, list->viewport()->width())
      << "the Path column starts inside the list";
  form_->hide();
}
