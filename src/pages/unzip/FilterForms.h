#pragma once
// The windows of the unzip page's two filters: TUnzipFileTypeform (file types and a name pattern) and
// TFolderFilterForm (folders of the archive's tree, alone or with their subfolders, and a file type).
#include <QDialog>
#include <QIcon>
#include <functional>
#include <vector>

#include "pages/unzip/ArchiveTree.h"
#include "pages/unzip/EntryFilters.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTreeView;

class TUnzipFileTypeform : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kOk = 255, kDisplayAll = 64, kCancel = -1;
  TUnzipFileTypeform(std::function<void()> help, QWidget* parent = nullptr);

  // Adds a row to "File Types" (kept sorted by text).
  void AddType(const QString& text, const QIcon& icon);
  // The window's inputs on OK: the checked types' extensions (when FileTypeCheckBox is ticked), the
  // pattern (when MatchCheckBox is ticked) and the two flags.
  TFileTypeFilter Inputs() const;
  // Checks the row whose extension is `ext`; false when there is none.
  bool CheckType(const QString& ext);

  QCheckBox* FileTypeCheckBox;
  QListWidget* FileTypeList;
  QCheckBox* MatchCheckBox;
  QLineEdit* MatchEdit;
  QCheckBox* WholeWordCheckBox;
  QCheckBox* CaseCheckBox;
  QPushButton* OKButton;
  QPushButton* CancelButton;
  QPushButton* DisplayAllButton;
  QPushButton* HelpButton;

 protected:
  void keyPressEvent(QKeyEvent* e) override;

 private:
  bool AnyChecked() const;
  void UpdateOk();
};

class TFolderFilterForm : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kOk = 1, kCancel = 2, kDisplayAll = 3;
  TFolderFilterForm(TArchiveTree& tree, std::function<QIcon(int)> icons, std::function<void()> help,
                    QWidget* parent = nullptr);

  // Adds a type to FEComboBox (sorted, each once).
  void AddFileType(const QString& type);
  // Selects the tree's node of a folder path ("docs/sub"); false when there is none.
  bool SelectFolder(const QString& path);
  // "Add Folder" for the selected node.
  void AddFolderButtonClick();
  // The chosen folders in the list's order, and the type choice (empty: none).
  std::vector<TFolderChoice> Folders() const;
  QString FileTypeChoice() const;

  QTreeView* TreeView;
  QLabel* FolderLabel;
  QListWidget* FolderList;
  QCheckBox* IncludeFoldersCheckBox;
  QComboBox* FEComboBox;
  QPushButton* AddFolderButton;
  QPushButton* RemoveFolderButton;
  QPushButton* ExpandButton;
  QPushButton* CollapseButton;
  QPushButton* FullExpandButton;
  QPushButton* FullCollapseButton;
  QPushButton* OKButton;
  QPushButton* DisplayAllButton;
  QPushButton* HelpButton;
  QPushButton* CancelButton;

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  void NodeSelected();
  TArchiveTree& tree_;
  TArchiveTreeModel* model_;
  std::function<QIcon(int)> icons_;
};
