// The folder tree's order: every folder's children sorted once at build, folders first, names without
// case, equal names in the order met; checked on hand-picked names and against a plain sort of
// generated names that share long prefixes (the sort keys cover only eight characters after them).
#include <gtest/gtest.h>

#include <QSet>
#include <QString>
#include <algorithm>
#include <random>

#include "pages/common/FileList.h"
#include "pages/unzip/ArchiveTree.h"

namespace {

TListRow Row(const QString& path, const QString& file) {
  TListRow r;
  r.Path = path;
  r.File = file;
  return r;
}

std::vector<QString> ChildNames(const TArchiveTree& tree, int node) {
  std::vector<QString> out;
  for (int c : tree.Children(node)) out.push_back(tree.At(c).Name + (tree.At(c).Folder ? "/" : ""));
  return out;
}

// The order by a plain comparison: folders first, then the lower-cased names, then the order met.
std::vector<QString> Reference(const std::vector<TListRow>& rows) {
  struct Item {
    QString Name;
    bool Folder;
    size_t Met;
  };
  std::vector<Item> items;
  for (size_t i = 0; i < rows.size(); ++i) items.push_back({rows[i].File, false, i});
  std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
    const int k = QString::compare(a.Name.toLower(), b.Name.toLower());
    return k != 0 ? k < 0 : a.Met < b.Met;
  });
  std::vector<QString> out;
  for (const Item& i : items) out.push_back(i.Name);
  return out;
}

}  // namespace

TEST(ArchiveTreeOrder, NamesOfOneFolder) {
  struct Case {
    std::vector<const char*> met;
    std::vector<const char*> sorted;
  } cases[] = {
      {{"b", "A", "a", "B"}, {"A", "a", "b", "B"}},                    // equal without case: order met
      {{"ab", "a", "a.txt", "A"}, {"a", "A", "a.txt", "ab"}},          // a shorter name before its longer ones
      {{"img_20230101_120000_b.jpg", "IMG_20230101_120000_a.jpg", "img_20230101_115959.jpg"},
       {"img_20230101_115959.jpg", "IMG_20230101_120000_a.jpg", "img_20230101_120000_b.jpg"}},
      {{"prefix-long-common-part-x", "prefix-long-common-part-X", "prefix-long-common-part-w"},
       {"prefix-long-common-part-w", "prefix-long-common-part-x", "prefix-long-common-part-X"}},
      {{"Über", "uber", "ÜBER2", "zebra"}, {"uber", "zebra", "Über", "ÜBER2"}},  // Ü without case, after z
      {{"same", "same"}, {"same", "same"}},
      {{"x"}, {"x"}},
  };
  for (const Case& c : cases) {
    std::vector<TListRow> rows;
    for (const char* n : c.met) rows.push_back(Row("d/", QString::fromUtf8(n)));
    TArchiveTree tree;
    tree.Build("t.zip", rows, true);
    std::vector<QString> want;
    for (const char* n : c.sorted) want.push_back(QString::fromUtf8(n));
    EXPECT_EQ(ChildNames(tree, tree.FolderNode("d")), want) << c.met.front();
  }
}

TEST(ArchiveTreeOrder, FoldersBeforeFilesAndPositions) {
  const std::vector<TListRow> rows = {Row("", "zz.txt"), Row("b/", "x"), Row("", "Aa.txt"), Row("A/", "y"),
                                      Row("c/d/", "z"), Row("", "b")};
  TArchiveTree tree;
  tree.Build("t.zip", rows, true);
  EXPECT_EQ(ChildNames(tree, 0), (std::vector<QString>{"A/", "b/", "c/", "Aa.txt", "b", "zz.txt"}));
  EXPECT_EQ(tree.FolderCount(0), 3);
  for (int n = 1; n < tree.Count(); ++n) {
    const std::vector<int>& siblings = tree.Children(tree.At(n).Parent);
    ASSERT_LT(tree.Position(n), static_cast<int>(siblings.size()));
    EXPECT_EQ(siblings[static_cast<size_t>(tree.Position(n))], n) << tree.At(n).Name.toStdString();
  }
  // Built in steps it is the same tree.
  TArchiveTree steps;
  steps.Begin("t.zip", rows.size());
  for (size_t i = 0; i < rows.size(); ++i) steps.AddRow(rows[i], static_cast<int>(i));
  steps.Finish();
  EXPECT_EQ(ChildNames(steps, 0), ChildNames(tree, 0));
  EXPECT_EQ(steps.RowsBelow(steps.FolderNode("c")), (std::vector<int>{4}));
}

TEST(ArchiveTreeOrder, GeneratedNamesSortAsAPlainComparison) {
  // Names from a few letters in both cases behind prefixes of 0 to 20 shared characters: many equal
  // keys, so the tie-break on the whole name decides most of the order.
  std::mt19937 random(7);
  const QString letters = "aAbB.0_";
  for (const int shared : {0, 3, 8, 12, 20}) {
    const QString prefix = QString("Common-Prefix-Of-Names-").left(shared);
    std::vector<TListRow> rows;
    for (int i = 0; i < 3000; ++i) {
      QString name = prefix;
      const int length = 1 + static_cast<int>(random() % 14);
      for (int k = 0; k < length; ++k) name += letters[static_cast<qsizetype>(random() % letters.size())];
      if (random() % 2) name = name.toUpper().left(shared) + name.mid(shared);
      rows.push_back(Row("", name));
    }
    TArchiveTree tree;
    tree.Build("t.zip", rows, true);
    EXPECT_EQ(ChildNames(tree, 0), Reference(rows)) << "shared prefix " << shared;
  }
}

TEST(ArchiveTreeOrder, IndexHashesOfFoldersSpreadInAHashTable) {
  // A view keeps its expanded folders in a hash table of their indices, which takes the low bits of
  // the hash, probes onward from there, and on removing an entry moves back the ones after it up to
  // the next free place. Hashes that follow one another fill long runs of places: collapsing a tree
  // of 30,000 folders took seconds. The runs behind the folders' places stay short.
  TArchiveTree tree;
  tree.Begin("t.zip");
  for (int d = 0; d < 997; ++d)
    for (int s = 0; s < 31; ++s) tree.AddFolder(QString("dir%1/sub%2/").arg(d, 3, 10, QChar('0')).arg(s, 2, 10, QChar('0')));
  tree.Finish();
  TArchiveTreeModel model(tree, true);
  size_t buckets = 1;
  while (buckets < 2 * static_cast<size_t>(tree.Count())) buckets *= 2;
  std::vector<bool> used(buckets);
  std::vector<size_t> places;
  size_t probes = 0;
  for (int n = 0; n < tree.Count(); ++n) {
    const QModelIndex i = model.IndexOf(n);
    ASSERT_EQ(model.NodeOf(i), n);
    ASSERT_EQ(model.parent(i), model.IndexOf(tree.At(n).Parent));
    size_t b = qHash(i, 0) & (buckets - 1);
    for (++probes; used[b]; ++probes) b = (b + 1) & (buckets - 1);
    used[b] = true;
    places.push_back(b);
  }
  size_t behind = 0;
  for (size_t b : places)
    for (size_t k = (b + 1) & (buckets - 1); used[k]; k = (k + 1) & (buckets - 1)) ++behind;
  EXPECT_LT(static_cast<double>(probes) / tree.Count(), 3.0) << tree.Count() << " folders";
  EXPECT_LT(static_cast<double>(behind) / tree.Count(), 10.0) << tree.Count() << " folders";
}

TEST(ArchiveTreeOrder, ModelIndicesTellFilesFromFoldersThemselves) {
  // The same node gives the same index however it is reached, and a file's index says it has no
  // children (the view asks once per row when it lays out a folder of a million files).
  const std::vector<TListRow> rows = {Row("a/", "x.txt"), Row("a/b/", "y"), Row("", "z"), Row("c/", "w")};
  TArchiveTree tree;
  tree.Build("t.zip", rows, true);
  for (const bool foldersOnly : {false, true}) {
    TArchiveTreeModel model(tree, foldersOnly);
    int seen = 0;
    std::vector<QModelIndex> stack{model.index(0, 0)};
    while (!stack.empty()) {
      const QModelIndex i = stack.back();
      stack.pop_back();
      ++seen;
      const int n = model.NodeOf(i);
      ASSERT_GE(n, 0);
      EXPECT_EQ(model.IndexOf(n), i);
      EXPECT_EQ(model.parent(i), model.IndexOf(tree.At(n).Parent));
      const bool folder = tree.At(n).Folder;
      EXPECT_EQ(model.flags(i).testFlag(Qt::ItemNeverHasChildren), !folder) << tree.At(n).Name.toStdString();
      EXPECT_EQ(model.hasChildren(i), model.rowCount(i) > 0) << tree.At(n).Name.toStdString();
      for (int r = 0; r < model.rowCount(i); ++r) stack.push_back(model.index(r, 0, i));
    }
    EXPECT_EQ(seen, foldersOnly ? 4 : 8);  // root, a, a/b, c; and four files
  }
}
