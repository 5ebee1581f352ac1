#include "pages/unzip/ArchiveTree.h"

#include <algorithm>
#include <numeric>

#include "pages/common/FileList.h"
#include "pages/unzip/EntryFilters.h"

namespace {

// One UTF-16 unit without case: A-Z lowered at once, others by their simple lower-case mapping.
inline char16_t Fold(QChar c) {
  const char16_t u = c.unicode();
  if (u < 128) return u >= 'A' && u <= 'Z' ? static_cast<char16_t>(u + ('a' - 'A')) : u;
  return static_cast<char16_t>(QChar::toLower(static_cast<char32_t>(u)));
}

// The names compared without case from `from` on (the units before are equal).
int FoldedCompare(const QString& a, const QString& b, qsizetype from) {
  const qsizetype n = std::min(a.size(), b.size());
  for (qsizetype i = from; i < n; ++i) {
    const char16_t x = Fold(a[i]), y = Fold(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

// Eight folded units of a name from `at` on, packed so that integer order is their order (units
// past the end count as 0, before any character).
struct TSortKey {
  quint64 High = 0, Low = 0;
  int Node = 0;
};

}  // namespace

void TArchiveTree::Build(const QString& archiveName, const std::vector<TListRow>& rows, bool withFiles) {
  Begin(archiveName, withFiles ? rows.size() : 0);
  for (size_t i = 0; i < rows.size(); ++i) {
    if (withFiles)
      AddRow(rows[i], static_cast<int>(i));
    else
      AddFolder(rows[i].Path);
  }
  Finish();
}

void TArchiveTree::Begin(const QString& archiveName, size_t fileCount) {
  nodes_.clear();
  folderByKey_.clear();
  folderByPath_.clear();
  lastPath_.clear();
  lastFolder_ = -1;
  folders_ = 0;
  nodes_.reserve(fileCount + 1024);
  Node root;
  root.Name = archiveName;
  root.Icon = 3;
  nodes_.push_back(std::move(root));
  folderByKey_.insert(QString(), 0);
}

int TArchiveTree::AddFolder(const QString& path) {
  // Rows of one folder mostly come together, and the texts of one folder repeat: the lowered key is
  // made once per distinct text.
  if (lastFolder_ >= 0 && path == lastPath_) return lastFolder_;
  const auto known = folderByPath_.constFind(path);
  lastFolder_ = known != folderByPath_.constEnd() ? known.value() : folderByPath_.insert(path, FolderFor(path)).value();
  lastPath_ = path;
  return lastFolder_;
}

void TArchiveTree::AddRow(const TListRow& r, int rowIndex) {
  const int folder = AddFolder(r.Path);
  if (r.File.isEmpty()) return;  // a folder entry only makes its folder
  Node f;
  f.Name = r.File;
  f.Parent = folder;
  f.Row = rowIndex;
  f.Icon = r.Icon <= 0 ? 1 : r.Icon;
  f.Folder = false;
  nodes_[static_cast<size_t>(folder)].Children.push_back(static_cast<int>(nodes_.size()));
  nodes_.push_back(std::move(f));
}

void TArchiveTree::Finish() {
  lastPath_.clear();
  lastFolder_ = -1;
  folderByPath_.clear();
  for (size_t n = 0; n < nodes_.size(); ++n)
    if (nodes_[n].Folder) SortChildren(static_cast<int>(n));
}

int TArchiveTree::FolderFor(const QString& path) {
  if (path.isEmpty()) return 0;
  QString key = AsciiLower(path);
  if (!key.endsWith('/')) key += '/';
  const auto found = folderByKey_.constFind(key);
  if (found != folderByKey_.constEnd()) return found.value();
  const qsizetype cut = key.size() >= 2 ? key.lastIndexOf('/', key.size() - 2) : -1;
  const int parent = FolderFor(cut < 0 ? QString() : path.left(cut + 1));
  Node n;
  n.Name = path.mid(cut + 1, key.size() - 2 - cut);
  if (n.Name.isEmpty()) n.Name = "/";
  n.Parent = parent;
  const int id = static_cast<int>(nodes_.size());
  Node& p = nodes_[static_cast<size_t>(parent)];
  p.Children.push_back(id);
  ++p.FolderCount;
  nodes_.push_back(std::move(n));
  folderByKey_.insert(key, id);
  ++folders_;
  return id;
}

void TArchiveTree::SortChildren(int n) {
  std::vector<int>& c = nodes_[static_cast<size_t>(n)].Children;
  // Folders first; both parts keep the order met until sorted.
  const auto files = std::stable_partition(c.begin(), c.end(), [this](int i) { return At(i).Folder; });
  SortByName(c.begin(), files);
  SortByName(files, c.end());
  for (size_t i = 0; i < c.size(); ++i) nodes_[static_cast<size_t>(c[i])].Position = static_cast<int>(i);
}

void TArchiveTree::SortByName(std::vector<int>::iterator first, std::vector<int>::iterator last) {
  if (last - first < 2) return;
  // The folded prefix every name shares tells none apart: the keys start after it.
  const QString& name0 = At(*first).Name;
  qsizetype common = name0.size();
  for (auto it = first + 1; it != last && common > 0; ++it) {
    const QString& name = At(*it).Name;
    const qsizetype m = std::min(common, name.size());
    qsizetype k = 0;
    while (k < m && Fold(name0[k]) == Fold(name[k])) ++k;
    common = k;
  }
  std::vector<TSortKey> keys;
  keys.reserve(static_cast<size_t>(last - first));
  for (auto it = first; it != last; ++it) {
    const QString& name = At(*it).Name;
    TSortKey key;
    key.Node = *it;
    for (qsizetype k = 0; k < 8; ++k) {
      const qsizetype at = common + k;
      const quint64 unit = at < name.size() ? Fold(name[at]) : 0;
      quint64& word = k < 4 ? key.High : key.Low;
      word = (word << 16) | unit;
    }
    keys.push_back(key);
  }
  const qsizetype rest = common + 8;
  std::sort(keys.begin(), keys.end(), [this, rest](const TSortKey& a, const TSortKey& b) {
    if (a.High != b.High) return a.High < b.High;
    if (a.Low != b.Low) return a.Low < b.Low;
    const int k = FoldedCompare(At(a.Node).Name, At(b.Node).Name, rest);
    return k != 0 ? k < 0 : a.Node < b.Node;
  });
  for (const TSortKey& key : keys) *first++ = key.Node;
}

QString TArchiveTree::PathOf(int n) const {
  QStringList parts;
  for (int i = n; i > 0; i = At(i).Parent) parts.prepend(At(i).Name);
  return parts.join('/');
}

int TArchiveTree::FolderNode(const QString& path) const {
  QString key = AsciiLower(path);
  if (!key.isEmpty() && !key.endsWith('/')) key += '/';
  return folderByKey_.value(key, -1);
}

std::vector<int> TArchiveTree::Outline() const {
  std::vector<int> out;
  out.reserve(nodes_.size());
  std::vector<int> stack{0};
  while (!stack.empty()) {
    const int n = stack.back();
    stack.pop_back();
    out.push_back(n);
    const std::vector<int>& c = Children(n);
    for (auto it = c.rbegin(); it != c.rend(); ++it) stack.push_back(*it);
  }
  return out;
}

std::vector<int> TArchiveTree::RowsBelow(int n) const {
  std::vector<int> rows;
  std::vector<int> stack{n};
  while (!stack.empty()) {
    const int i = stack.back();
    stack.pop_back();
    const Node& node = At(i);
    if (!node.Folder) rows.push_back(node.Row);
    for (int c : node.Children) stack.push_back(c);
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

// ---------------------------------------------------------------------------------------------

static_assert(sizeof(quintptr) >= 8, "an index's internal id holds a node number and its scrambled copy");

TArchiveTreeModel::TArchiveTreeModel(TArchiveTree& tree, bool foldersOnly, QObject* parent)
    : QAbstractItemModel(parent), tree_(tree), foldersOnly_(foldersOnly) {}

QModelIndex TArchiveTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (column != 0 || row < 0) return {};
  if (!parent.isValid()) return row == 0 && tree_.Count() > 0 ? createIndex(0, 0, IdOf(0, true)) : QModelIndex();
  const int p = NodeOf(parent);
  const std::vector<int>& c = tree_.Children(p);
  const int folders = tree_.At(p).FolderCount;  // they come first
  const int limit = foldersOnly_ ? folders : static_cast<int>(c.size());
  if (row >= limit) return {};
  return createIndex(row, 0, IdOf(c[static_cast<size_t>(row)], row < folders));
}

QModelIndex TArchiveTreeModel::parent(const QModelIndex& child) const {
  if (!child.isValid()) return {};
  const int p = tree_.At(NodeOf(child)).Parent;
  if (p < 0) return {};
  return createIndex(tree_.Position(p), 0, IdOf(p, true));
}

int TArchiveTreeModel::rowCount(const QModelIndex& parent) const {
  if (!parent.isValid()) return tree_.Count() > 0 ? 1 : 0;
  if (parent.column() != 0) return 0;
  const int n = NodeOf(parent);
  return foldersOnly_ ? tree_.At(n).FolderCount : static_cast<int>(tree_.Children(n).size());
}

bool TArchiveTreeModel::hasChildren(const QModelIndex& parent) const {
  if (!parent.isValid()) return tree_.Count() > 0;
  if (!IsFolderId(parent.internalId())) return false;
  const TArchiveTree::Node& n = tree_.At(NodeOf(parent));
  return foldersOnly_ ? n.FolderCount > 0 : !n.Children.empty();
}

Qt::ItemFlags TArchiveTreeModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  const Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
  return IsFolderId(index.internalId()) ? f : f | Qt::ItemNeverHasChildren;
}

QVariant TArchiveTreeModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const TArchiveTree::Node& n = tree_.At(NodeOf(index));
  if (role == Qt::DisplayRole) return n.Name;
  if (role == Qt::DecorationRole && iconOf_) return iconOf_(n.Icon);
  return {};
}

QModelIndex TArchiveTreeModel::IndexOf(int node) const {
  if (node < 0 || node >= tree_.Count()) return {};
  return createIndex(tree_.Position(node), 0, IdOf(node, tree_.At(node).Folder));
}

// ---------------------------------------------------------------------------------------------

TFolderContentsModel::TFolderContentsModel(TArchiveTree& tree, QObject* parent) : QAbstractListModel(parent), tree_(tree) {}

void TFolderContentsModel::ShowFolder(int node) {
  beginResetModel();
  folder_ = node;
  endResetModel();
}

int TFolderContentsModel::NodeAt(int row) const {
  if (folder_ < 0 || row < 0 || row >= rowCount()) return -1;
  return tree_.Children(folder_)[static_cast<size_t>(row)];
}

int TFolderContentsModel::RowOf(int node) const {
  if (folder_ < 0 || node < 0 || tree_.At(node).Parent != folder_) return -1;
  return tree_.Position(node);
}

int TFolderContentsModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() || folder_ < 0) return 0;
  return static_cast<int>(tree_.At(folder_).Children.size());
}

QVariant TFolderContentsModel::data(const QModelIndex& index, int role) const {
  const int n = NodeAt(index.row());
  if (n < 0) return {};
  if (role == Qt::DisplayRole) return tree_.At(n).Name;
  if (role == Qt::DecorationRole && iconOf_) return iconOf_(tree_.At(n).Icon);
  return {};
}
