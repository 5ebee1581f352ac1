#include "pages/common/FileList.h"

#include <QDragEnterEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLocale>
#include <QMimeData>
#include <QUrl>
#include <algorithm>

namespace {

QLocale GroupingLocale() {
  QLocale locale;
  locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
  return locale;
}

}  // namespace

TNumberText::TNumberText() : locale_(GroupingLocale()), separator_(locale_.groupSeparator()) {
  // Most locales group ASCII digits by three; those are made here (a locale call per row is slow).
  const QString probe = locale_.toString(qint64{-1234567890});
  threes_ = probe == "-1" + separator_ + "234" + separator_ + "567" + separator_ + "890";
}

QString TNumberText::operator()(qint64 value) const {
  if (!threes_) return locale_.toString(value);
  char digits[24];
  const bool negative = value < 0;
  quint64 v = negative ? 0 - static_cast<quint64>(value) : static_cast<quint64>(value);
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  QString out;
  out.reserve(n + (n / 3) * static_cast<int>(separator_.size()) + 1);
  if (negative) out += '-';
  for (int i = n - 1; i >= 0; --i) {
    out += QLatin1Char(digits[i]);
    if (i > 0 && i % 3 == 0) out += separator_;
  }
  return out;
}

QString GroupedNumber(qint64 value) { return TNumberText()(value); }

qint64 GroupedValue(const QString& text) {
  const QLocale locale = GroupingLocale();
  bool ok = false;
  const qint64 v = locale.toLongLong(text.trimmed(), &ok);
  if (ok) return v;
  // Plain digits, or grouping of another kind (",", blanks).
  const QString separator = locale.groupSeparator();
  qint64 value = 0;
  bool negative = false, any = false;
  for (const QChar c : text) {
    if (c.isDigit()) {
      value = value * 10 + c.digitValue();
      any = true;
    } else if (c == '-' && !any && !negative) {
      negative = true;
    } else if (!separator.contains(c) && c != ',' && !c.isSpace()) {
      return 0;
    }
  }
  return negative ? -value : value;
}

TFileListModel::TFileListModel(QStringList columns, QObject* parent)
    : QAbstractTableModel(parent), columns_(std::move(columns)) {}

int TFileListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TFileListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

const QString& TFileListModel::Cell(const TListRow& r, int column) {
  static const QString none;
  switch (column) {
    case 0: return r.File;
    case 1: return r.Size;
    case 2: return r.Date;
    case 3: return r.Path;
    case 4: return r.Extra;
    default: return none;
  }
}

QVariant TFileListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
  const TListRow& r = rows_[static_cast<size_t>(index.row())];
  if (role == Qt::DisplayRole) return Cell(r, index.column());
  if (role == Qt::DecorationRole && iconOf_) {
    if (index.column() == 0) return iconOf_(r.Icon);
    if (index.column() == 3 && pathIcon_ >= 0) return iconOf_(pathIcon_);
  }
  if (role == Qt::TextAlignmentRole && (index.column() == 1 || (index.column() == 4 && columns_.size() > 4 &&
                                                                 columns_[4].contains("Size"))))
    return int(Qt::AlignRight | Qt::AlignVCenter);
  return {};
}

Qt::ItemFlags TFileListModel::flags(const QModelIndex& index) const {
  // A flat list: telling the view that no row has children spares it a question per row. The view
  // asks once per row whenever it lays out a million of them: no further calls back into the model.
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

QVariant TFileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= columns_.size()) return {};
  if (role == Qt::DisplayRole) return columns_[section];
  if (role == Qt::DecorationRole && section == 3 && iconOf_) return iconOf_(0);
  return {};
}

void TFileListModel::sort(int column, Qt::SortOrder order) {
  if (rows_.empty()) return;
  emit layoutAboutToBeChanged();
  const auto less = [column](const TListRow& a, const TListRow& b) {
    switch (column) {
      case 1: return a.SizeValue < b.SizeValue;
      case 2: return a.DateValue < b.DateValue;
      default: {
        const int c = QString::localeAwareCompare(column == 0 ? a.File : column == 3 ? a.Path : a.Extra,
                                                  column == 0 ? b.File : column == 3 ? b.Path : b.Extra);
        return c < 0;
      }
    }
  };
  if (order == Qt::AscendingOrder) std::stable_sort(rows_.begin(), rows_.end(), less);
  else std::stable_sort(rows_.begin(), rows_.end(), [&](const TListRow& a, const TListRow& b) { return less(b, a); });
  emit layoutChanged();
}

void TFileListModel::Append(std::vector<TListRow>&& rows) {
  if (rows.empty()) return;
  const int first = static_cast<int>(rows_.size());
  beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
  if (rows_.empty() && rows_.capacity() < rows.size()) {
    rows_ = std::move(rows);
  } else {
    // Grow geometrically: a million rows in batches must not move the earlier rows at every batch.
    const size_t needed = rows_.size() + rows.size();
    if (needed > rows_.capacity()) rows_.reserve(std::max(needed, rows_.capacity() * 2));
    std::move(rows.begin(), rows.end(), std::back_inserter(rows_));
  }
  endInsertRows();
}

void TFileListModel::Append(const TListRow& row) {
  std::vector<TListRow> one{row};
  Append(std::move(one));
}

void TFileListModel::Clear() {
  beginResetModel();
  rows_.clear();
  rows_.shrink_to_fit();
  endResetModel();
}

void TFileListModel::SetRows(std::vector<TListRow>&& rows) {
  beginResetModel();
  rows_ = std::move(rows);
  endResetModel();
}

void TFileListModel::RemoveRows(std::vector<int> rows) {
  if (rows.empty()) return;
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  beginResetModel();
  std::vector<TListRow> kept;
  kept.reserve(rows_.size() - rows.size());
  size_t k = 0;
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (k < rows.size() && static_cast<size_t>(rows[k]) == i) {
      ++k;
      continue;
    }
    kept.push_back(std::move(rows_[i]));
  }
  rows_ = std::move(kept);
  endResetModel();
}

void TFileListModel::RowChanged(int i) { emit dataChanged(index(i, 0), index(i, columnCount() - 1)); }

TFileListView::TFileListView(QStringList columns, QList<int> widths, QWidget* parent)
    : QTreeView(parent), model_(new TFileListModel(columns, this)) {
  setModel(model_);
  setRootIsDecorated(false);
  setUniformRowHeights(true);  // keeps a million rows fluid
  setAlternatingRowColors(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSortingEnabled(true);
  header()->setSortIndicatorShown(false);
  header()->setSortIndicator(-1, Qt::AscendingOrder);
  header()->setStretchLastSection(true);
  for (int i = 0; i + 1 < widths.size(); ++i) setColumnWidth(i, widths[i]);  // the last one stretches
  for (int w : widths) caps_.push_back(w * 5 / 2);
  fitted_.assign(static_cast<size_t>(columns.size()), 0);
  connect(model_, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex&, int first, int last) {
    FitRows(first, last);
  });
  connect(model_, &QAbstractItemModel::modelReset, this, [this] { FitRows(0, model_->Count() - 1); });
  FitColumns();
  // The header paints the selection state of its sections, which costs a look at every row of a
  // column whenever the selection changed (80 ms for a million highlighted rows at each repaint).
  // It selects nothing here, so it gets a selection model of its own that stays empty.
  header()->setSelectionModel(new QItemSelectionModel(model_, this));
  setAcceptDrops(true);
  setDropIndicatorShown(false);
  setCursor(Qt::PointingHandCursor);
  // Grid lines between the cells; a highlighted row keeps the palette's highlight colours.
  setStyleSheet(
      "QTreeView::item { border-right: 1px solid palette(midlight); border-bottom: 1px solid palette(midlight); }"
      "QTreeView::item:selected { background: palette(highlight); color: palette(highlighted-text); }");
}

void TFileListView::FitColumns() {
  for (int c = 0; c + 1 < model_->columnCount(); ++c) {
    const int hint = header()->sectionSizeHint(c);
    if (columnWidth(c) < hint) Widen(c, hint);
  }
  std::fill(fitted_.begin(), fitted_.end(), 0);
  FitRows(0, model_->Count() - 1);
}

void TFileListView::FitRows(int first, int last) {
  if (first > last) return;
  const std::vector<TListRow>& rows = model_->Rows();
  // The longest text of the new rows in each column but the last (a size or a date: the widest too),
  // found in one pass over the rows (a million of them are read once, not once per column).
  const size_t columns = static_cast<size_t>(std::max(0, model_->columnCount() - 1));
  std::vector<qsizetype> chars(fitted_.begin(), fitted_.begin() + static_cast<std::ptrdiff_t>(columns));
  std::vector<int> longest(columns, -1);
  for (int r = first; r <= last; ++r) {
    const TListRow& row = rows[static_cast<size_t>(r)];
    for (size_t c = 0; c < columns; ++c) {
      const qsizetype n = TFileListModel::Cell(row, static_cast<int>(c)).size();
      if (n > chars[c]) {
        chars[c] = n;
        longest[c] = r;
      }
    }
  }
  for (size_t c = 0; c < columns; ++c) {
    if (longest[c] < 0) continue;
    fitted_[c] = static_cast<int>(chars[c]);
    // Measured with the cell's icon and margins.
    const int column = static_cast<int>(c);
    int width = sizeHintForIndex(model_->index(longest[c], column)).width() + 2;  // the grid line and a pixel of air
    if (c < caps_.size()) width = std::min(width, caps_[c]);
    if (columnWidth(column) < width) Widen(column, width);
  }
}

void TFileListView::Widen(int column, int width) {
  // The last column (it stretches to the view's edge) gives up what this one takes, so that the
  // columns keep fitting the view.
  setColumnWidth(column, width);
}

std::vector<int> TFileListView::SelectedRows() const {
  std::vector<int> out;
  if (!selectionModel()) return out;
  for (const QItemSelectionRange& range : selectionModel()->selection())
    for (int r = range.top(); r <= range.bottom(); ++r) out.push_back(r);
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

void TFileListView::SelectAllRows() {
  // One range straight into the selection model: the tree view's own selectAll walks every row.
  if (model_->Count() == 0) return;
  const QItemSelection all(model_->index(0, 0), model_->index(model_->Count() - 1, model_->columnCount() - 1));
  selectionModel()->select(all, QItemSelectionModel::ClearAndSelect);
}

void TFileListView::selectAll() {
  if (selectionMode() == QAbstractItemView::ExtendedSelection || selectionMode() == QAbstractItemView::MultiSelection)
    SelectAllRows();
  else
    QTreeView::selectAll();
}
void TFileListView::SelectNone() { clearSelection(); }

void TFileListView::SelectRow(int row, bool selected) {
  selectionModel()->select(model_->index(row, 0), (selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                                                      QItemSelectionModel::Rows);
}

void TFileListView::SelectRows(std::vector<int> rows) {
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  QItemSelection selection;
  const int last = model_->columnCount() - 1;
  for (size_t i = 0; i < rows.size();) {
    size_t j = i;
    while (j + 1 < rows.size() && rows[j + 1] == rows[j] + 1) ++j;
    if (rows[i] >= 0 && rows[j] < model_->Count()) selection.select(model_->index(rows[i], 0), model_->index(rows[j], last));
    i = j + 1;
  }
  selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

bool TFileListView::IsSelected(int row) const { return selectionModel()->isRowSelected(row, {}); }

void TFileListView::dragEnterEvent(QDragEnterEvent* e) {
  if (e->mimeData()->hasUrls()) e->acceptProposedAction();
}

void TFileListView::dragMoveEvent(QDragMoveEvent* e) {
  if (e->mimeData()->hasUrls()) e->acceptProposedAction();
}

void TFileListView::dropEvent(QDropEvent* e) {
  QStringList paths;
  for (const QUrl& u : e->mimeData()->urls())
    if (u.isLocalFile()) paths << u.toLocalFile();
  if (!paths.isEmpty()) {
    e->acceptProposedAction();
    emit FilesDropped(paths);
  }
}
