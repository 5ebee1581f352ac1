#pragma once
// "Tandor File Unzip Explorer": the listed archive as a folder tree with a contents list beside it,
// built from the rows in memory. The user browses, searches names, opens single files, and chooses the
// whole archive, one folder (with its subfolders) or one file to extract.
#include <QDialog>
#include <functional>

#include "pages/unzip/ArchiveTree.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QTreeView;
class TUnzipPopupMenu;
enum class TLaunchProgram;

class TUnzipTreeviewForm : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kAll = 1, kFolder = 64, kFile = 255, kClosed = -1;

  struct THooks {
    std::function<QIcon(int)> Icon;
    // Opens the file of a full-list row with a program.
    std::function<void(int row, TLaunchProgram program)> Open;
    std::function<bool(const QString& fileName)> IsPicture;
    std::function<void()> Help;
    bool WordPadAvailable = false;
    bool QuickViewConfigured = false;
  };
  TUnzipTreeviewForm(TArchiveTree& tree, THooks hooks, QWidget* parent = nullptr);

  // The node chosen for extraction (-1: none) and its full path ("docs/img/" for a folder, the
  // archive's name for the root).
  int Answer() const { return answer_; }
  QString AnswerPath() const;

  // Selects a node in the tree shown (and brings the other tree, the label and the list along).
  void SelectNode(int node);
  // The node of a path below the root ("docs/img", "docs/a.txt"); -1 when none.
  int NodeOfPath(const QString& path) const;
  int SelectedNode() const;

  void ShowFiles();    // "Files": the full tree
  void ShowFolders();  // "Folders": the folder tree
  void BackButtonClick();
  void UnzipButtonClick();
  // "Search" (or Enter), "Find Next", "Find Previous": true when a node matched.
  bool SearchButtonClick();
  bool FindNextClick();
  bool FindPreviousClick();
  // A click on a list row: a folder opens in the tree, a file is selected and opened.
  void ListRowClicked(int row);
  // Enables the list's popup menu for its selection.
  void ListviewPopupMenuPopup();

  QTreeView* TreeView;
  QTreeView* FolderTreeView;
  QListView* ListView;
  QLabel* Label1;
  QPushButton *CloseButton, *HelpButton, *UnzipButton, *ExpandBranchButton, *CollapseBranchButton, *CollapseAllButton,
      *ExpandAllButton, *FoldersButton, *FilesButton, *SearchButton, *FindPreviousButton, *FindNextButton, *BackButton,
      *LargeIconsButton, *ListButton;
  QLineEdit* SearchEdit;
  QCheckBox* WholeWordCheckBox;
  QCheckBox* CaseCheckBox;
  TUnzipPopupMenu* ListviewPopupMenu;
  TFolderContentsModel* Contents() const { return contents_; }

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  QTreeView* Shown() const;
  TArchiveTreeModel* ModelOf(QTreeView* view) const;
  void NodeChosen(QTreeView* view);
  void SetLabel(int node);
  bool Matches(int node) const;
  bool RunSearch(int from, int step);
  void OpenSelected(TLaunchProgram program);

  TArchiveTree& tree_;
  THooks hooks_;
  TArchiveTreeModel* fullModel_;
  TArchiveTreeModel* folderModel_;
  TFolderContentsModel* contents_;
  int answer_ = -1;
  bool syncing_ = false;
  QString searchText_;
  int searchPos_ = 0;
  std::vector<int> outline_;
};
