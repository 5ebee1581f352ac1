#include "pages/images/ImageBrowserForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QHBoxLayout>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>
#include <filesystem>
#include <system_error>

#include "core/Prompt.h"
#include "core/Settings.h"
#include "images/PictureService.h"
#include "pages/common/PageHost.h"
#include "pages/common/PromptService.h"
#include "pages/images/ImageForm.h"
#include "platform/TempFolders.h"

namespace fs = std::filesystem;

namespace {

const char* const kNothingChosen =
    "NO FILES HAVE BEEN HIGHLIGHTED OR CHECKED!\nCHOOSE  SELECT ALL  OR CLICK FILES TO HIGHLIGHT OR CHECK THEM\nAND "
    "TRY AGAIN.  (ONLY HIGHLIGHTED OR CHECKMARKED FILES IN THE LIST WILL BE UNZIPPED)";
const char* const kReplace =
    "THE FILE IN THE ZIP FILE WILL REPLACE THE FILE ON DISK\nTO REPLACE THIS FILE CHOOSE  YES\nTO REPLACE ALL FILES AND "
    "AVOID RECEIVING THIS MESSAGE AGAIN CHOOSE  ALL";

class TWaitCursor {
 public:
  TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
};

}  // namespace

int TThumbModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : Count(); }

QVariant TThumbModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= Count()) return {};
  const Row& r = rows_[static_cast<size_t>(index.row())];
  switch (role) {
    case Qt::DisplayRole: return r.Caption;
    case Qt::DecorationRole: return r.Thumb;
    case Qt::CheckStateRole: return r.Checked ? Qt::Checked : Qt::Unchecked;
    case Qt::ToolTipRole: return r.Caption;
    default: return {};
  }
}

bool TThumbModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::CheckStateRole || index.row() >= Count()) return false;
  rows_[static_cast<size_t>(index.row())].Checked = value.toInt() == Qt::Checked;
  checkToggled_ = true;
  emit dataChanged(index, index, {Qt::CheckStateRole});
  return true;
}

Qt::ItemFlags TThumbModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | Qt::ItemNeverHasChildren;
}

void TThumbModel::Append(std::vector<Row>&& rows) {
  if (rows.empty()) return;
  beginInsertRows({}, Count(), Count() + static_cast<int>(rows.size()) - 1);
  rows_.reserve(rows_.size() + rows.size());
  for (Row& r : rows) rows_.push_back(std::move(r));
  endInsertRows();
}

void TThumbModel::Clear() {
  beginResetModel();
  rows_.clear();
  rows_.shrink_to_fit();
  endResetModel();
}

void TThumbModel::SetChecked(int i, bool checked) {
  rows_[static_cast<size_t>(i)].Checked = checked;
  emit dataChanged(index(i), index(i), {Qt::CheckStateRole});
}

void TThumbModel::SetAllChecked(bool checked) {
  for (Row& r : rows_) r.Checked = checked;
  if (!rows_.empty()) emit dataChanged(index(0), index(Count() - 1), {Qt::CheckStateRole});
}

bool TThumbModel::TakeCheckToggled() {
  const bool was = checkToggled_;
  checkToggled_ = false;
  return was;
}

TImageBrowserForm::TImageBrowserForm(IPageHost& host, int thumbSize, QWidget* parent)
    : QDialog(parent), host_(host), model_(new TThumbModel(this)) {
  setWindowTitle("Image Browser");
  setWindowState(Qt::WindowMaximized);
  setSizeGripEnabled(true);

  ListView = new QListView(this);
  ListView->setModel(model_);
  ListView->setViewMode(QListView::IconMode);
  ListView->setMovement(QListView::Static);
  ListView->setResizeMode(QListView::Adjust);
  ListView->setFlow(QListView::LeftToRight);
  ListView->setWrapping(true);
  ListView->setUniformItemSizes(true);
  ListView->setLayoutMode(QListView::Batched);
  ListView->setBatchSize(500);
  ListView->setIconSize(QSize(thumbSize, thumbSize));
  const int cell = std::max(thumbSize + 16, 72);
  ListView->setGridSize(QSize(cell, thumbSize + 2 * fontMetrics().height() + 8));
  ListView->setTextElideMode(Qt::ElideMiddle);
  ListView->setSelectionMode(QAbstractItemView::ExtendedSelection);
  ListView->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  ListView->viewport()->setCursor(Qt::PointingHandCursor);
  ListView->setContextMenuPolicy(Qt::CustomContextMenu);

  PopupMenu = new QMenu(this);
  BSelectAll1 = PopupMenu->addAction("Select All");
  BUnSelectall1 = PopupMenu->addAction("UnSelect all ");
  BUnSelectall1->setEnabled(false);
  connect(BSelectAll1, &QAction::triggered, this, [this] { BSelectAll1Click(); });
  connect(BUnSelectall1, &QAction::triggered, this, [this] { BUnSelectall1Click(); });
  connect(ListView, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { PopupMenu->popup(ListView->viewport()->mapToGlobal(at)); });
  connect(ListView, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) {
    if (model_->TakeCheckToggled()) return;  // the click ticked a check box
    ListViewMouseDown(index.row(), QApplication::keyboardModifiers());
  });

  BUnzipButton = new QPushButton("UNZIP", this);
  BUnzipButton->setDefault(true);
  HelpButton = new QPushButton("Help", this);
  clearbutton = new QPushButton("Clear", this);
  clearbutton->setToolTip("CLOSE WINDOW");
  Closebutton = new QPushButton("Close", this);
  Closebutton->setToolTip("CLOSE WINDOW");
  ExitButton = new QPushButton("Exit", this);
  ExitButton->setToolTip("EXIT PROGRAM");
  connect(BUnzipButton, &QPushButton::clicked, this, [this] { BUnzipButtonClick(); });
  connect(HelpButton, &QPushButton::clicked, this, [this] { HelpButtonClick(); });
  connect(clearbutton, &QPushButton::clicked, this, [this] { clearbuttonClick(); });
  connect(Closebutton, &QPushButton::clicked, this, [this] { ClosebuttonClick(); });
  connect(ExitButton, &QPushButton::clicked, this, [this] { ExitButtonClick(); });

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  for (QPushButton* b : {BUnzipButton, HelpButton, clearbutton, Closebutton, ExitButton}) {
    b->setMinimumWidth(90);
    buttons->addWidget(b);
  }
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(ListView, 1);
  layout->addLayout(buttons);
}

TImageBrowserForm::~TImageBrowserForm() { DoCloseCode(); }

std::vector<int> TImageBrowserForm::SelectedRows() const {
  std::vector<int> rows;
  for (const QModelIndex& i : ListView->selectionModel()->selectedIndexes()) rows.push_back(i.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

void TImageBrowserForm::BSelectAll1Click() {
  ListView->selectAll();
  model_->SetAllChecked(true);
  BSelectAll1->setEnabled(false);
  BUnSelectall1->setEnabled(true);
}

void TImageBrowserForm::BUnSelectall1Click() {
  ListView->clearSelection();
  model_->SetAllChecked(false);
  BSelectAll1->setEnabled(true);
  BUnSelectall1->setEnabled(false);
}

void TImageBrowserForm::ListViewMouseDown(int row, Qt::KeyboardModifiers modifiers) {
  if (modifiers & (Qt::ShiftModifier | Qt::ControlModifier)) return;
  const std::vector<int> selected = SelectedRows();
  BSelectAll1->setEnabled(true);
  BUnSelectall1->setEnabled(!selected.empty());
  if (selected.size() > 1 || row < 0 || row >= model_->Count()) return;
  const std::string path = model_->At(row).Path;
  TPicture picture = LoadPicture(path, TPictureUse::View);
  if (picture.Status.Succeeded() && picture.Info.Height > 0 && picture.Info.Width > 0) {
    int result;
    {
      TImageForm form(picture.Image, picture.Info, host_.Settings().FitPictureToScreen, {}, false, this);
      picture.Image = QImage();  // the window holds the picture while it is shown
      result = ExecModal(form, "TImageForm");
    }
    ListView->clearSelection();
    if (result == TImageForm::kUnzip) ImageSave(path);
  } else if (!picture.ViewMessage.empty()) {
    ShowError(picture.ViewMessage);
  }
}

void TImageBrowserForm::ImageSave(const std::string& path) {
  TWaitCursor wait;
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return;
  const fs::path source(path);
  const std::string ext = source.extension().string();
  if (saveFolder_.empty()) saveFolder_ = QDir::homePath().toStdString();
  const std::string filter = ext.empty() ? "All files (*)" : ext.substr(1) + " (*" + ext + ")";
  std::string chosen = Prompt().SaveFileName("Save as", (fs::path(saveFolder_) / source.filename()).string(), filter);
  if (chosen.empty()) return;
  if (fs::path(chosen).extension().empty()) chosen += ext;  // the default extension
  saveFolder_ = fs::path(chosen).parent_path().string();
  fs::copy_file(source, chosen, fs::copy_options::overwrite_existing, ec);  // the dialog asked first
  if (ec) ShowError("THE FILE COULD NOT BE SAVED\n" + chosen + "\n" + ec.message());
}

bool TImageBrowserForm::CheckSelect() {
  bool any = !SelectedRows().empty();
  for (int i = 0; i < model_->Count() && !any; ++i) any = model_->At(i).Checked;
  if (!any) ShowError(kNothingChosen);
  return any;
}

void TImageBrowserForm::BUnzipButtonClick() {
  if (!CheckSelect()) return;
  const std::string folder = host_.BrowseforFolder("SELECT A FOLDER FOR THE PICTURES", true, true);
  std::error_code ec;
  if (folder.empty() || !fs::is_directory(folder, ec)) return;
  TWaitCursor wait;
  const std::vector<int> selected = SelectedRows();
  std::vector<std::string> paths;
  for (int i = 0; i < model_->Count(); ++i)
    if (model_->At(i).Checked || std::binary_search(selected.begin(), selected.end(), i))
      paths.push_back(model_->At(i).Path);
  bool yesToAll = false, noToAll = false, failed = false;
  for (const std::string& path : paths) {
    if (!fs::is_regular_file(path, ec)) continue;  // gone since: skipped
    const fs::path target = fs::path(folder) / fs::path(path).filename();
    if (fs::exists(fs::symlink_status(target, ec))) {
      if (noToAll) continue;
      if (!yesToAll) {
        const TPromptAnswer a =
            Prompt().ShowMessage("Tandor File", kReplace, TPromptIcon::Question, TPromptButtons::YesNoAllCancel);
        if (a == TPromptAnswer::NoToAll) noToAll = true;
        if (a == TPromptAnswer::YesToAll) yesToAll = true;
        if (a != TPromptAnswer::Yes && a != TPromptAnswer::YesToAll) continue;  // No, Cancel, closed: kept
      }
      fs::remove(target, ec);  // a link in the target's place is replaced, never written through
    }
    fs::copy_file(path, target, fs::copy_options::none, ec);
    if (ec) failed = true;
  }
  if (paths.empty() || failed)
    ShowError("The operation failed");
  else
    ShowInfo("THE OPERATION IS COMPLETE.");
}

void TImageBrowserForm::HelpButtonClick() { host_.OpenHelpPage("imagebr.html"); }

void TImageBrowserForm::DoCloseCode() {
  if (closed_) return;
  closed_ = true;
  const fs::path folder = host_.TempFolders().ImageFolder();
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code rm;
    fs::remove_all(it->path(), rm);
  }
  model_->Clear();
}

void TImageBrowserForm::Finish(int result) {
  DoCloseCode();
  done(result);
}

void TImageBrowserForm::reject() { clearbuttonClick(); }

void TImageBrowserForm::closeEvent(QCloseEvent* event) {
  Finish(kClosed);
  event->accept();
}
