// The pages' list: whole rows highlighted by range, the header kept out of the selection (it would
// look at every row of a column at each repaint), and a click on a header still sorting.
#include <gtest/gtest.h>

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTest>

#include "pages/common/FileList.h"

namespace {

std::vector<TListRow> Rows(std::initializer_list<std::pair<const char*, qint64>> named) {
  std::vector<TListRow> out;
  for (const auto& [name, size] : named) {
    TListRow r;
    r.File = name;
    r.Size = QString::number(size);
    r.SizeValue = size;
    out.push_back(r);
  }
  return out;
}

std::vector<std::string> Files(const TFileListView& view) {
  std::vector<std::string> out;
  for (const TListRow& r : view.Model()->Rows()) out.push_back(r.File.toStdString());
  return out;
}

}  // namespace

TEST(FileList, HeaderStaysOutOfTheSelection) {
  TFileListView view({"File ", "Size", "Date", "Path"}, {100, 60, 60, 60});
  view.Model()->SetRows(Rows({{"a", 3}, {"b", 1}, {"c", 2}}));
  view.SelectAllRows();
  EXPECT_EQ(view.SelectedRows(), (std::vector<int>{0, 1, 2}));
  ASSERT_NE(view.header()->selectionModel(), nullptr);
  EXPECT_NE(view.header()->selectionModel(), view.selectionModel());
  EXPECT_FALSE(view.header()->selectionModel()->hasSelection());
  view.SelectRows({2, 0});
  EXPECT_EQ(view.SelectedRows(), (std::vector<int>{0, 2}));
  EXPECT_FALSE(view.header()->selectionModel()->hasSelection());
}

TEST(FileList, RowFlagsAndHeaderClickSorts) {
  TFileListView view({"File ", "Size", "Date", "Path"}, {100, 60, 60, 60});
  view.resize(400, 200);
  view.show();
  view.Model()->SetRows(Rows({{"b", 30}, {"c", 10}, {"a", 20}}));
  const QModelIndex first = view.Model()->index(0, 1);
  EXPECT_EQ(view.Model()->flags(first), Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren);
  EXPECT_EQ(view.Model()->flags(QModelIndex()), Qt::NoItemFlags);
  QHeaderView* header = view.header();
  const QPoint onSize(header->sectionViewportPosition(1) + header->sectionSize(1) / 2, header->height() / 2);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, onSize);
  const std::vector<std::string> once = Files(view);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, onSize);
  const std::vector<std::string> twice = Files(view);
  // The two clicks sort by size both ways round.
  EXPECT_TRUE((once == std::vector<std::string>{"c", "a", "b"} && twice == std::vector<std::string>{"b", "a", "c"}) ||
              (once == std::vector<std::string>{"b", "a", "c"} && twice == std::vector<std::string>{"c", "a", "b"}))
      << once[0] << once[1] << once[2] << " " << twice[0] << twice[1] << twice[2];
}
