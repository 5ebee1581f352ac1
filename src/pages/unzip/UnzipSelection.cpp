// The unzip page's highlight: ALL and None, the mouse on both lists, the selection buttons that follow
// the highlight, the popup menu and the launching of single entries.
#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>

#include "core/Settings.h"
#include "pages/common/FileList.h"
#include "pages/unzip/EntryLauncher.h"
#include "pages/unzip/UnzipPage.h"
#include "pages/unzip/UnzipPopupMenu.h"
#include "platform/TempFolders.h"

namespace {

// Watches a list's viewport: whether the last press was a plain left click (no Shift, no Ctrl), and
// the releases.
class TMouseWatcher : public QObject {
 public:
  TMouseWatcher(QObject* parent, std::function<void()> onRelease) : QObject(parent), onRelease_(std::move(onRelease)) {}
  bool eventFilter(QObject* watched, QEvent* e) override {
    if (e->type() == QEvent::MouseButtonPress) {
      const auto* m = static_cast<QMouseEvent*>(e);
      PlainLeft = m->button() == Qt::LeftButton && !(m->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier));
    } else if (e->type() == QEvent::MouseButtonRelease) {
      QTimer::singleShot(0, this, onRelease_);
    }
    return QObject::eventFilter(watched, e);
  }
  bool PlainLeft = false;

 private:
  std::function<void()> onRelease_;
};

}  // namespace

void TUnzipPage::SetUpSelection() {
  launcher_ = std::make_unique<TEntryLauncher>();
  UnzipPopupMenu = new TUnzipPopupMenu(this);
  connect(SelectAllButton, &QPushButton::clicked, this, [this] { SelectAllButtonClick(); });
  connect(UnSelectAllButton, &QPushButton::clicked, this, [this] { UnSelectAllButtonClick(); });
  connect(SelectButton, &QPushButton::clicked, this, [this] { SelectButtonClick(); });
  connect(FolderFilterButton, &QPushButton::clicked, this, [this] { FolderFilterButtonClick(); });
  connect(TreeButton, &QPushButton::clicked, this, [this] { TreeButtonClick(); });
  for (TFileListView* list : {UnzipListView, UnzipFilteredListView}) {
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list, &QWidget::customContextMenuRequested, this, [this, list](const QPoint& at) {
      UnzipPopupMenuPopup(list);
      UnzipPopupMenu->popup(list->viewport()->mapToGlobal(at));
    });
    auto* watcher = new TMouseWatcher(list, [this, list] { ListMouseUp(list); });
    list->viewport()->installEventFilter(watcher);
    // The press has changed the highlight by the time `pressed` arrives; the launch runs after it.
    connect(list, &QAbstractItemView::pressed, this, [this, list, watcher] {
      if (!watcher->PlainLeft) return;
      QTimer::singleShot(0, this, [this, list] {
        if (list == UnzipListView)
          UnzipListViewMouseDown();
        else
          UnzipFilteredListViewMouseDown();
      });
    });
  }
  const auto launch = [this](TLaunchProgram program) {
    return [this, program] {
      // On the filtered list the launch takes its highlighted row.
      if (FilteredShown()) UnzipFilteredListViewMouseDown(program);
      else UnzipLaunchFile(program);
    };
  };
  connect(UnzipPopupMenu->Open1, &QAction::triggered, this, launch(TLaunchProgram::Desktop));
  connect(UnzipPopupMenu->NotePad1, &QAction::triggered, this, launch(TLaunchProgram::NotePad));
  connect(UnzipPopupMenu->WordPad1, &QAction::triggered, this, launch(TLaunchProgram::WordPad));
  connect(UnzipPopupMenu->QuickView1, &QAction::triggered, this, launch(TLaunchProgram::QuickView));
  connect(UnzipPopupMenu->ImageView1, &QAction::triggered, this, launch(TLaunchProgram::ImageView));
}

void TUnzipPage::SetSelectionButtons(bool on) {
  for (QPushButton* b : {UnzipButton, SaveUnzipFileButton, TAGButton}) b->setEnabled(on);
}

void TUnzipPage::SelectAllButtonClick() {
  if (!FilteredShown()) return UnzipLVSelect(true);
  UnzipListView->SelectNone();
  UnzipFilteredListView->SelectAllRows();
  SetFilteredSelect();
  UnzipFilteredListView->setFocus();
  SetSelectionButtons(UnzipFilteredListView->HasRows());
}

void TUnzipPage::UnzipLVSelect(bool on) {
  if (!UnzipListView->HasRows()) return;
  Host.DisableAll();
  SetWaitCursor(true);
  if (on)
    UnzipListView->SelectAllRows();
  else
    UnzipListView->SelectNone();
  Host.EnableAll();
  SetWaitCursor(false);
  SetSelectionButtons(on);
  VisibleList()->setEnabled(true);
  VisibleList()->setFocus();
}

void TUnzipPage::UnSelectAllButtonClick() {
  Host.DisableAll();
  SetWaitCursor(true);
  UnzipListView->SelectNone();
  UnzipFilteredListView->SelectNone();
  Host.EnableAll();
  SetWaitCursor(false);
  SetSelectionButtons(false);
  VisibleList()->setEnabled(true);
  VisibleList()->setFocus();
}

void TUnzipPage::UnzipListViewMouseDown() { UnzipLaunchFile(TLaunchProgram::Desktop); }

void TUnzipPage::UnzipFilteredListViewMouseDown() { UnzipFilteredListViewMouseDown(TLaunchProgram::Desktop); }

void TUnzipPage::UnzipFilteredListViewMouseDown(TLaunchProgram program) {
  const std::vector<int> rows = UnzipFilteredListView->SelectedRows();
  if (rows.empty()) return;
  const qint64 source = UnzipFilteredListView->Model()->Row(rows.front()).Data;
  if (source < 0 || source >= UnzipListView->Count()) return;
  UnzipListView->SelectNone();
  UnzipListView->SelectRow(static_cast<int>(source));
  UnzipButton->setEnabled(true);
  UnzipLaunchFile(program);
}

void TUnzipPage::ListMouseUp(TFileListView* list) {
  if (Busy() || !list->isEnabled()) return;
  const bool any = list->selectionModel() && list->selectionModel()->hasSelection();
  if (any != UnzipButton->isEnabled()) SetSelectionButtons(any);
}

void TUnzipPage::UnzipPopupMenuPopup(TFileListView* list) {
  const std::vector<int> rows = list->SelectedRows();
  bool picture = false;
  if (rows.size() == 1) {
    const std::string file = list->Model()->Row(rows.front()).File.toStdString();
    picture = launcher_->IsPicture ? launcher_->IsPicture(file) : TEntryLauncher::DesktopSaysPicture(file);
  }
  const TSettings& s = Host.Settings();
  UnzipPopupMenu->Prepare(rows.size(), picture, s.WordPadAvailable, !s.QuickViewProgram.empty());
}

void TUnzipPage::UnzipLaunchFile(TLaunchProgram program) {
  if (launching_ || Busy()) return;
  const std::vector<int> rows = UnzipListView->SelectedRows();
  if (rows.empty()) return;
  const TListRow& row = UnzipListView->Model()->Row(rows.front());
  if (row.Id < 0 || row.File.isEmpty()) return;  // a folder row has nothing to open
  TLaunchRequest r;
  r.Archive = Host.CurrentArchiveFile();
  r.Format = openedAs_;
  r.Id = static_cast<TEntryId>(row.Id);
  r.EntryName = row.Key().toStdString();
  r.WorkFolder = Host.TempFolders().TempFolder();
  r.Program = program;
  r.QuickViewProgram = Host.Settings().QuickViewProgram;
  r.ViewPicturesInternally = Host.Settings().ViewPicturesInternally;
  launching_ = true;
  SetWaitCursor(true);
  launcher_->Launch(r);
  SetWaitCursor(false);
  launching_ = false;
}
