#pragma once
// "Image Browser": one thumbnail per picture in a list view (the thumbnails live in a model; the
// view draws only the visible ones), with checking, viewing one by one and copying the chosen
// pictures out. Results: kExit ("Exit"), kClear ("Clear"), kClosed ("Close" or closing the window).
#include <QAbstractListModel>
#include <QDialog>
#include <QImage>
#include <QListView>
#include <string>
#include <vector>

class IPageHost;
class QMenu;
class QAction;
class QPushButton;

// The browser's rows: caption, the picture file, its thumbnail, its check box.
class TThumbModel : public QAbstractListModel {
  Q_OBJECT
 public:
  struct Row {
    QString Caption;
    std::string Path;
    QImage Thumb;
    bool Checked = false;
    int PictureIndex = 0;  // the picture's place in the run's picture list
  };

  explicit TThumbModel(QObject* parent = nullptr) : QAbstractListModel(parent) {}
  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  void Append(std::vector<Row>&& rows);
  void Clear();
  const Row& At(int i) const { return rows_[static_cast<size_t>(i)]; }
  int Count() const { return static_cast<int>(rows_.size()); }
  void SetChecked(int i, bool checked);
  void SetAllChecked(bool checked);
  // Set when a check box changed since the last call (a click on a check box views nothing).
  bool TakeCheckToggled();

 private:
  std::vector<Row> rows_;
  bool checkToggled_ = false;
};

class TImageBrowserForm : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kExit = 255;
  static constexpr int kClear = 64;
  static constexpr int kClosed = -1;

  TImageBrowserForm(IPageHost& host, int thumbSize, QWidget* parent = nullptr);
  ~TImageBrowserForm() override;

  TThumbModel* Model() const { return model_; }
  // Highlighted rows, ascending.
  std::vector<int> SelectedRows() const;

  void BSelectAll1Click();
  void BUnSelectall1Click();
  // A left click on a row: the menu's enabling, then the row's picture in the Image window when it
  // is the only highlighted row.
  void ListViewMouseDown(int row, Qt::KeyboardModifiers modifiers);
  // Copies a picture file out through the "Save as" dialog.
  void ImageSave(const std::string& path);
  // False (after the message) when no row is highlighted or checked.
  bool CheckSelect();
  void BUnzipButtonClick();
  void ClosebuttonClick() { Finish(kClosed); }
  void clearbuttonClick() { Finish(kClear); }
  void ExitButtonClick() { Finish(kExit); }
  void HelpButtonClick();
  // Once: deletes what lies below the picture folder, drops the rows and their thumbnails.
  void DoCloseCode();
  bool Closed() const { return closed_; }

  QListView* ListView;
  QMenu* PopupMenu;
  QAction* BSelectAll1;
  QAction* BUnSelectall1;
  QPushButton* BUnzipButton;
  QPushButton* HelpButton;
  QPushButton* clearbutton;
  QPushButton* Closebutton;
  QPushButton* ExitButton;

 protected:
  void reject() override;  // the cancel key is "Clear"
  void closeEvent(QCloseEvent* event) override;

 private:
  void Finish(int result);
  IPageHost& host_;
  TThumbModel* model_;
  bool closed_ = false;
  std::string saveFolder_;  // where "Save as" starts next
};
