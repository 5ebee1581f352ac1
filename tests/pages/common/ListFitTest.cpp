// Numbers with the user's digit grouping, list columns wide enough for their texts, and windows wide
// enough for their titles.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLocale>
#include <QScrollBar>
#include <QStyle>

#include "pages/batch/BatchForms.h"
#include "pages/batchcreate/BatchCreateForm.h"
#include "pages/common/FileList.h"
#include "pages/common/PromptService.h"
#include "pages/create/CreateForms.h"
#include "pages/create/DatePickForm.h"
#include "pages/props/StartMenuForms.h"
#include "pages/sfx/AutoStartSelectForm.h"
#include "pages/unzip/FilterForms.h"

namespace {

// Sets the program's locale for one test.
class TLocaleScope {
 public:
  explicit TLocaleScope(const QLocale& l) { QLocale::setDefault(l); }
  ~TLocaleScope() { QLocale::setDefault(saved_); }

 private:
  QLocale saved_;
};

}  // namespace

TEST(GroupedNumbers, FollowTheLocale) {
  struct Case {
    QLocale locale;
    qint64 value;
    const char* text;  // UTF-8
  } cases[] = {
      {QLocale::c(), 1234567, "1,234,567"},
      {QLocale::c(), 999, "999"},
      {QLocale::c(), 0, "0"},
      {QLocale::c(), -1234, "-1,234"},
      {QLocale::c(), 6442450944LL, "6,442,450,944"},
      {QLocale(QLocale::English, QLocale::UnitedStates), 1000, "1,000"},
      {QLocale(QLocale::German, QLocale::Germany), 1234567, "1.234.567"},
      {QLocale(QLocale::French, QLocale::France), 1234567, "1\u202f234\u202f567"},
      {QLocale(QLocale::German, QLocale::Switzerland), 1234567, "1\u2019234\u2019567"},
      {QLocale(QLocale::English, QLocale::India), 123456789, "12,34,56,789"},
      {QLocale(QLocale::Arabic, QLocale::Egypt), 1234, "\u0661\u066c\u0662\u0663\u0664"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.locale.name().toStdString() + " " + std::to_string(c.value));
    TLocaleScope scope(c.locale);
    const QString text = GroupedNumber(c.value);
    EXPECT_EQ(text.toStdString(), c.text);
    EXPECT_EQ(TNumberText()(c.value), text) << "one number or many, the same text";
    EXPECT_EQ(GroupedValue(text), c.value) << "read back";
  }
  // Texts written elsewhere still read: plain digits, "," and blanks; anything else is no number.
  TLocaleScope scope(QLocale(QLocale::German, QLocale::Germany));
  EXPECT_EQ(GroupedValue("1234567"), 1234567);
  EXPECT_EQ(GroupedValue("1,234,567"), 1234567);
  EXPECT_EQ(GroupedValue(" 12 345 "), 12345);
  EXPECT_EQ(GroupedValue("12 KB"), 0);
  EXPECT_EQ(GroupedValue(""), 0);
}

TEST(ListColumns, FitTheirTextsAndNeverShrink) {
  TFileListView list({"File ", "Size", "Date", "Path"}, {150, 60, 100, 900});
  const QStyle* style = list.style();
  const int margins = 2 * (style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &list) + 1);
  const auto needs = [&](const QString& text) { return list.fontMetrics().horizontalAdvance(text) + margins; };

  std::vector<TListRow> rows(3);
  rows[0].File = "a.txt";
  rows[0].Size = "1";
  rows[0].Date = "1/2/03";
  rows[1].File = "b.txt";
  rows[1].Size = "3,221,225,472";
  rows[1].Date = "31 December 2025 23:59:58";
  rows[2].File = QString(200, 'W');  // a very long name: the first column stops at its limit
  rows[2].Size = "12";
  rows[2].Date = "4/5/06";
  list.Model()->Append(std::move(rows));
  EXPECT_GE(list.columnWidth(1), needs("3,221,225,472"));
  EXPECT_GE(list.columnWidth(2), needs("31 December 2025 23:59:58"));
  EXPECT_EQ(list.columnWidth(0), 375) << "two and a half times its first width, not the whole name";
  // Shown, the last column gives up what the others take: no horizontal scroll bar, also once rows
  // enough for a vertical one have come (a last column sized by hand kept the vertical bar's width).
  list.resize(900, 300);
  list.show();
  std::vector<TListRow> more(100);
  for (TListRow& r : more) r.File = "more.txt";
  list.Model()->Append(std::move(more));
  QElapsedTimer laidOut;  // the view lays itself out on a timer
  laidOut.start();
  while (laidOut.elapsed() < 500) QApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_TRUE(list.verticalScrollBar()->isVisible());
  EXPECT_EQ(list.horizontalScrollBar()->maximum(), 0);
  EXPECT_EQ(list.columnWidth(0) + list.columnWidth(1) + list.columnWidth(2) + list.columnWidth(3), list.viewport()->width());
  list.hide();
  list.Model()->Clear();

  // Shorter rows later, or none: the widths stay.
  const int sizeWidth = list.columnWidth(1), dateWidth = list.columnWidth(2);
  list.Model()->Clear();
  TListRow small;
  small.File = "c";
  small.Size = "7";
  small.Date = "1/1/01";
  list.Model()->Append(small);
  EXPECT_EQ(list.columnWidth(1), sizeWidth);
  EXPECT_EQ(list.columnWidth(2), dateWidth);

  // A list filled in one step (the filtered list) fits too, and headers fit with no rows at all.
  TFileListView batch({"File ", "Size", "Date", "Path", "Unzipped Size"}, {20, 40, 20, 100, 20});
  EXPECT_GE(batch.columnWidth(0), batch.header()->sectionSizeHint(0));
  std::vector<TListRow> set(2);
  set[0].Path = "some/folder/";
  set[0].Size = "12,345";
  set[1].Path = "a/very/long/folder/path/that/goes/on/and/on/and/on/for/ever/and/ever/";
  batch.Model()->SetRows(std::move(set));
  EXPECT_GE(batch.columnWidth(1), needs("12,345"));
  EXPECT_EQ(batch.columnWidth(3), 250) << "a long path stops at two and a half times the column's first width";
}

// Each window, as it shows, is wide enough for its title in a title bar (bold text with room for the
// bar's icon and buttons).
TEST(WindowTitles, FitTheWindows) {
  QFont bold = QApplication::font();
  bold.setBold(true);
  const auto titleNeeds = [&](const QString& title) { return QFontMetrics(bold).horizontalAdvance(title) + 100; };
  std::vector<std::unique_ptr<QDialog>> windows;
  windows.emplace_back(std::make_unique<TZipTypeForm>(false));
  windows.emplace_back(std::make_unique<TZipTypeForm>(true));
  windows.emplace_back(std::make_unique<TSpanSizeForm>());
  windows.emplace_back(std::make_unique<TTarArchiveOptionsForm>());
  windows.emplace_back(std::make_unique<TDatePickForm>());
  windows.emplace_back(std::make_unique<TAutoStartSelectForm>());
  windows.emplace_back(std::make_unique<TBatchDestinationForm>());
  windows.emplace_back(std::make_unique<TMoveZipFolderCreateOptionsForm>());
  windows.emplace_back(std::make_unique<TBatchPasswordForm>("a.zip"));
  windows.emplace_back(std::make_unique<TStartMenuTreeForm>(testing::TempDir()));
  windows.emplace_back(std::make_unique<TUnzipFileTypeform>([] {}));
  windows.emplace_back(std::make_unique<TBatchSaveTypeForm>(1));
  windows.emplace_back(std::make_unique<TBatchTagForm>());
  windows.emplace_back(std::make_unique<TBatchMemoTagForm>("tag", true));
  int widthShown = 0;
  SetModalHook([&](QDialog& d, const char*) {
    d.show();
    QApplication::processEvents();
    widthShown = d.width();
    d.hide();
    return int(QDialog::Rejected);
  });
  for (const auto& w : windows) {
    SCOPED_TRACE(w->windowTitle().toStdString());
    ExecModal(*w, "window");
    EXPECT_GE(widthShown, titleNeeds(w->windowTitle()));
  }
  SetModalHook(nullptr);
}
