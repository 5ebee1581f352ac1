#pragma once
// The chooser of the entry a self-extracting program starts once it has extracted its files.
#include <QDialog>

class QPushButton;
class QTreeWidget;

class TAutoStartSelectForm : public QDialog {
  Q_OBJECT
 public:
  explicit TAutoStartSelectForm(QWidget* parent = nullptr);
  // One row: the file part and the folder part (with its trailing "/") of an entry name.
  void AddEntry(const QString& fileName, const QString& path);
  // The chosen entry ("folder/file", or the file alone at the archive's root); empty when no row is
  // selected. Whichever button closed the window, a selected row counts.
  QString Chosen() const;

  QTreeWidget* ListView;
  QPushButton* OKButton;
  QPushButton* CancelButton;

 private:
  void ListViewClick();
};
