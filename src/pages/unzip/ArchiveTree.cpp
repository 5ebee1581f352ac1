#include "pages/unzip/ArchiveTree.h"

#include <algorithm>
#include <numeric>

#include "pages/common/FileList.h"
#include "pages/unzip/EntryFilters.h"

void TArchiveTree::Build(const QString& archiveName, const std::vector<TListRow>& rows, bool withFiles) {
  nodes_.clear();
  folderByKey_.clear();
  folders_ = 0;
  nodes_.reserve(withFiles ? rows.size() + 1 : 1024);
  Node root;
  root.Name = archiveName;
  root.Icon = 3;
  nodes_.push_back(std::move(root));
  folderByKey_.insert(QString(), 0);
  const QString* lastPath = nullptr;
  int lastFolder = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    const TListRow& r = rows[i];
    // Rows of one folder mostly come together: its node is looked up once.
    if (!lastPath || r.Path != *lastPath) {
      lastFolder = FolderFor(r.Path);
      lastPath = &r.Path;
    }
    if (!withFiles || r.File.isEmpty()) continue;  // a folder entry only makes its folder
    Node f;
    f.Name = r.File;
    f.Parent = lastFolder;
    f.Row = static_cast<int>(i);
    f.Icon = r.Icon <= 0 ? 1 : r.Icon;
    f.Folder = false;
    f.Sorted = true;
    nodes_[static_cast<size_t>(lastFolder)].Children.push_back(static_cast<int>(nodes_.size()));
    nodes_.push_back(std::move(f));
  }
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
  p.Sorted = false;
  nodes_.push_back(std::move(n));
  folderByKey_.insert(key, id);
  ++folders_;
  return id;
}

void TArchiveTree::Sort(int n) {
  Node& node = nodes_[static_cast<size_t>(n)];
  std::vector<int>& c = node.Children;
  // Lowered names are made once for the sort.
  std::vector<std::pair<QString, int>> keyed;
  keyed.reserve(c.size());
  for (int child : c) keyed.emplace_back(At(child).Name.toLower(), child);
  std::sort(keyed.begin(), keyed.end(), [this](const auto& a, const auto& b) {
    const bool fa = At(a.second).Folder, fb = At(b.second).Folder;
    if (fa != fb) return fa;
    const int k = QString::compare(a.first, b.first);
    return k != 0 ? k < 0 : a.second < b.second;
  });
  for (size_t i = 0; i < keyed.size(); ++i) {
    c[i] = keyed[i].second;
    nodes_[static_cast<size_t>(c[i])].Position = static_cast<int>(i);
  }
  node.Sorted = true;
}

const std::vector<int>& TArchiveTree::Children(int n) {
  if (!nodes_[static_cast<size_t>(n)].Sorted) Sort(n);
  return nodes_[static_cast<size_t>(n)].Children;
}

int TArchiveTree::Position(int n) {
  const int parent = At(n).Parent;
  if (parent < 0) return 0;
  Children(parent);
  return At(n).Position;
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

std::vector<int> TArchiveTree::Outline() {
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

TArchiveTreeModel::TArchiveTreeModel(TArchiveTree& tree, bool foldersOnly, QObject* parent)
    : QAbstractItemModel(parent), tree_(tree), foldersOnly_(foldersOnly) {}

QModelIndex TArchiveTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (column != 0 || row < 0) return {};
  if (!parent.isValid()) return row == 0 && tree_.Count() > 0 ? createIndex(0, 0, quintptr(0)) : QModelIndex();
  const int p = NodeOf(parent);
  const std::vector<int>& c = tree_.Children(p);
  const int limit = foldersOnly_ ? tree_.At(p).FolderCount : static_cast<int>(c.size());
  if (row >= limit) return {};
  return createIndex(row, 0, quintptr(c[static_cast<size_t>(row)]));
}

QModelIndex TArchiveTreeModel::parent(const QModelIndex& child) const {
  if (!child.isValid()) return {};
  const int p = tree_.At(NodeOf(child)).Parent;
  if (p < 0) return {};
  return createIndex(tree_.Position(p), 0, quintptr(p));
}

int TArchiveTreeModel::rowCount(const QModelIndex& parent) const {
  if (!parent.isValid()) return tree_.Count() > 0 ? 1 : 0;
  if (parent.column() != 0) return 0;
  const int n = NodeOf(parent);
  return foldersOnly_ ? tree_.At(n).FolderCount : static_cast<int>(tree_.Children(n).size());
}

bool TArchiveTreeModel::hasChildren(const QModelIndex& parent) const {
  if (!parent.isValid()) return tree_.Count() > 0;
  const TArchiveTree::Node& n = tree_.At(NodeOf(parent));
  return foldersOnly_ ? n.FolderCount > 0 : !n.Children.empty();
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
  return createIndex(tree_.Position(node), 0, quintptr(node));
}

// ---------------------------------------------------------------------------------------------

TFolderContentsModel::TFolderContentsModel(TArchiveTree& tree, QObject* parent) : QAbstractListModel(parent), tree_(tree) {}

void TFolderContentsModel::ShowFolder(int node) {
  beginResetModel();
  folder_ = node;
  if (node >= 0) tree_.Children(node);
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
