#pragma once
// The listed archive as a tree of folders (and files), built from the rows of the full list in memory.
// Node 0 is the root, named after the archive. Folder names are matched regardless of A-Z case, so
// docs/ and Docs/ are one folder. Every folder's children are sorted once when the tree is built:
// folders first, then files, each by name regardless of case (equal names in the order met). The sort
// compares packed integer keys of the names' case-folded characters (after the prefix all names of
// the folder share) and looks at the names themselves only for ties, so a million names in one folder
// sort in a fraction of a second and opening any folder afterwards costs nothing.
#include <QAbstractItemModel>
#include <QtGlobal>
#include <QIcon>
#include <QString>
#include <functional>
#include <vector>

struct TListRow;

class TArchiveTree {
 public:
  struct Node {
    QString Name;
    int Parent = -1;
    int Row = -1;          // files: the row of the full list
    int Icon = 0;          // folders 0
    bool Folder = true;
    int Position = 0;      // index among the parent's children
    int FolderCount = 0;   // folders among the children (they come first)
    std::vector<int> Children;
  };

  // `withFiles` false: folders only. Rows' Path texts end with "/".
  void Build(const QString& archiveName, const std::vector<TListRow>& rows, bool withFiles);
  // The same in steps (the caller may let its window run between them): Begin, AddFolder or AddRow
  // for every row, Finish.
  void Begin(const QString& archiveName, size_t fileCount = 0);
  int AddFolder(const QString& path);
  void AddRow(const TListRow& row, int rowIndex);
  void Finish();

  int Count() const { return static_cast<int>(nodes_.size()); }
  const Node& At(int n) const { return nodes_[static_cast<size_t>(n)]; }
  // The children in order.
  const std::vector<int>& Children(int n) const { return At(n).Children; }
  int FolderCount(int n) const { return At(n).FolderCount; }
  int Position(int n) const { return At(n).Position; }
  bool HasFolders() const { return folders_ > 0; }
  // The node's path below the root ("docs/img", "docs/img/a.png"); empty for the root.
  QString PathOf(int n) const;
  // The node of a folder path ("docs/img"); -1 when none.
  int FolderNode(const QString& path) const;
  // Every node in outline order (the root first, then depth first).
  std::vector<int> Outline() const;
  // The full-list rows of the files below a node (all of them for the root).
  std::vector<int> RowsBelow(int n) const;

 private:
  int FolderFor(const QString& path);
  void SortChildren(int n);
  void SortByName(std::vector<int>::iterator first, std::vector<int>::iterator last);
  std::vector<Node> nodes_;
  QHash<QString, int> folderByKey_;  // lowered path with its trailing "/"
  QHash<QString, int> folderByPath_;  // rows' Path texts as they stand (no lowering per row)
  QString lastPath_;
  int lastFolder_ = -1;
  int folders_ = 0;
};

// A tree view model over a TArchiveTree: the whole tree, or folders only.
class TArchiveTreeModel : public QAbstractItemModel {
  Q_OBJECT
 public:
  TArchiveTreeModel(TArchiveTree& tree, bool foldersOnly, QObject* parent = nullptr);
  void SetIconProvider(std::function<QIcon(int)> provider) { iconOf_ = std::move(provider); }

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override { (void)parent; return 1; }
  QVariant data(const QModelIndex& index, int role) const override;
  bool hasChildren(const QModelIndex& parent = {}) const override;

  Qt::ItemFlags flags(const QModelIndex& index) const override;

  int NodeOf(const QModelIndex& index) const { return index.isValid() ? NodeOfId(index.internalId()) : -1; }
  // An index's internal id for a node. Qt hashes an index as (row << 4) + column + internal id, and a
  // view keeps its expanded folders in such a hash: plain node numbers beside positions give
  // thousands of equal hashes (expanding and collapsing 30,000 folders took seconds). The id holds
  // the node in its high half with a folder mark on top, and a scrambled copy in its low half. The
  // mark answers the view's question whether a row may have children without a look at the node
  // (a million files in one folder, looked at in sorted order, took 150 ms at every layout).
  static quintptr IdOf(int node, bool folder) {
    const quintptr n = static_cast<quintptr>(static_cast<quint32>(node)) | (folder ? quintptr{0x80000000u} : 0);
    return (n << 32) | static_cast<quint32>(static_cast<quint32>(node) * 0x9E3779B1u);
  }
  static int NodeOfId(quintptr id) { return static_cast<int>((id >> 32) & 0x7FFFFFFFu); }
  static bool IsFolderId(quintptr id) { return (id >> 63) != 0; }
  QModelIndex IndexOf(int node) const;
  TArchiveTree& Tree() const { return tree_; }

 private:
  TArchiveTree& tree_;
  bool foldersOnly_;
  std::function<QIcon(int)> iconOf_;
};

// The children of one folder as a flat list (the explorer's contents list).
class TFolderContentsModel : public QAbstractListModel {
  Q_OBJECT
 public:
  explicit TFolderContentsModel(TArchiveTree& tree, QObject* parent = nullptr);
  void SetIconProvider(std::function<QIcon(int)> provider) { iconOf_ = std::move(provider); }
  void ShowFolder(int node);
  int Folder() const { return folder_; }
  TArchiveTree& Tree() const { return tree_; }
  int NodeAt(int row) const;
  int RowOf(int node) const;
  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;

 private:
  TArchiveTree& tree_;
  int folder_ = -1;
  std::function<QIcon(int)> iconOf_;
};
