#pragma once
// The launcher window ("Insert a link onto the Applications Menu") and the menu folder chooser with
// its new-folder function.
#include <QDialog>
#include <string>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class TStartmenuForm : public QDialog {
  Q_OBJECT
 public:
  TStartmenuForm(const std::string& target, QWidget* parent = nullptr);
  // OK: makes the launchers of the checked boxes (the menu one in a folder the user chooses).
  void OKButtonClick();

 private:
  void UpdateOk();
  std::string target_;
  QCheckBox* startmenu_;
  QCheckBox* quicklaunch_;
  QCheckBox* desktop_;
  QPushButton* ok_;
};

class TStartMenuTreeForm : public QDialog {
  Q_OBJECT
 public:
  explicit TStartMenuTreeForm(const std::string& root, QWidget* parent = nullptr);
  // The chosen folder below the menu's folder ("A/B"); empty for the menu folder itself.
  std::string ChosenFolder() const { return chosen_; }
  // The folder text shown for a path: longer than 70 characters, its first 35, " ... " and its last 33.
  static std::string ShortenedPath(const std::string& path);

  void AcceptButtonClick();
  void CollapseButtonClick();
  void ExpandButtonClick();
  void NewFolderButtonClick();

 private:
  std::string RelativePath(QTreeWidgetItem* item) const;
  void ShowHighlighted();
  std::string root_, chosen_;
  QTreeWidget* tree_;
  QLineEdit* folderEdit_;
  QLineEdit* newFolderEdit_;
  QPushButton* accept_;
};
