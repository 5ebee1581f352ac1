#pragma once
// The list of a page: one row record per entry, held by a model and shown by a tree view. Rows arrive
// in large batches so that a million of them stay fluid; a click on a header sorts by that column
// (sizes as numbers, dates as times).
#include <QAbstractTableModel>
#include <QIcon>
#include <QLocale>
#include <QStringList>
#include <QTreeView>
#include <functional>
#include <vector>

// Whole numbers with the user's digit grouping ("1,234,567"; "1.234.567" in German; the C locale
// groups with ","), quick enough for a million rows. Any thread.
class TNumberText {
 public:
  TNumberText();
  QString operator()(qint64 value) const;

 private:
  QLocale locale_;
  QString separator_;
  bool threes_ = false;  // groups of three ASCII digits: made here, not by the locale
};
// TNumberText for one number.
QString GroupedNumber(qint64 value);
// The number in a text GroupedNumber wrote (or plain digits); 0 when the text is no number.
qint64 GroupedValue(const QString& text);

struct TListRow {
  QString File;   // column "File "
  QString Size;   // column "Size" (display text)
  QString Date;   // column "Date"
  QString Path;   // column "Path" (folder part with a trailing "/", empty at the root)
  QString Extra;  // fifth column where a list has one ("Source", "Unzipped Size")
  int Icon = 1;   // index into the shared small icon list
  qint64 SizeValue = 0;  // for sorting
  qint64 DateValue = 0;  // seconds since the epoch, for sorting
  qint64 Data = -1;      // item data: tar data offset, or the source row of a filtered row
  qint64 Id = -1;        // the entry's identity in its archive (TEntryId), -1 when none
  // The row's archive name: Path followed by File.
  QString Key() const { return Path + File; }
};

class TFileListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  TFileListModel(QStringList columns, QObject* parent = nullptr);

  void SetIconProvider(std::function<QIcon(int)> provider) { iconOf_ = std::move(provider); }
  void SetPathIcon(int icon) { pathIcon_ = icon; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  void sort(int column, Qt::SortOrder order) override;

  void Append(std::vector<TListRow>&& rows);
  // Makes room for `rows` rows in all, so that appending batches never moves the rows already held.
  void Reserve(size_t rows) { rows_.reserve(rows); }
  void Append(const TListRow& row);
  void Clear();
  void RemoveRows(std::vector<int> rows);
  void SetRows(std::vector<TListRow>&& rows);
  const TListRow& Row(int i) const { return rows_[static_cast<size_t>(i)]; }
  TListRow& MutableRow(int i) { return rows_[static_cast<size_t>(i)]; }
  void RowChanged(int i);
  const std::vector<TListRow>& Rows() const { return rows_; }
  int Count() const { return static_cast<int>(rows_.size()); }
  // The text a row shows in a column.
  static const QString& Cell(const TListRow& r, int column);

 private:
  QStringList columns_;
  std::vector<TListRow> rows_;
  std::function<QIcon(int)> iconOf_;
  int pathIcon_ = -1;
};

// A report view over a TFileListModel: grid lines, whole-row and multiple selection, read-only.
class TFileListView : public QTreeView {
  Q_OBJECT
 public:
  TFileListView(QStringList columns, QList<int> widths, QWidget* parent = nullptr);

  TFileListModel* Model() const { return model_; }
  int Count() const { return model_->Count(); }
  bool HasRows() const { return model_->Count() > 0; }
  // Highlighted rows, in model order.
  std::vector<int> SelectedRows() const;
  void SelectAllRows();
  void SelectNone();
  void SelectRow(int row, bool selected = true);
  // Highlights exactly these rows (any order, repeats allowed) in one step, as contiguous ranges.
  void SelectRows(std::vector<int> rows);
  bool IsSelected(int row) const;
  void selectAll() override;  // Ctrl+A
  // Widens each column but the last to its header and to the widest text of its rows, to at most 2.5
  // times its first width (a long name or path does not push the others away); never narrows one.
  // Rows are fitted as they arrive.
  void FitColumns();

 signals:
  void FilesDropped(const QStringList& paths);

 protected:
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dragMoveEvent(QDragMoveEvent* e) override;
  void dropEvent(QDropEvent* e) override;

 private:
  void FitRows(int first, int last);
  void Widen(int column, int width);
  TFileListModel* model_;
  std::vector<int> fitted_;  // per column: characters of the longest text fitted so far
  std::vector<int> caps_;    // per column: the widest it is made (two and a half times its first width)
};
