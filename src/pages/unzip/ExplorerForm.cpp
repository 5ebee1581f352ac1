#include "pages/unzip/ExplorerForm.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QStyleOptionViewItem>
#include <QTreeView>
#include <QVBoxLayout>

#include "core/Prompt.h"
#include "pages/unzip/EntryLauncher.h"
#include "pages/unzip/UnzipPopupMenu.h"

namespace {

const char* const kNotFound = "SEARCH RESULT NOT FOUND.";

QPushButton* Button(const QString& text, QWidget* parent, const QString& hint = {}) {
  auto* b = new QPushButton(text, parent);
  b->setAutoDefault(false);
  if (!hint.isEmpty()) b->setToolTip(hint);
  return b;
}

// The contents list. Large icons are a wrapped left-to-right list with each icon above its name: the
// icon mode proper keeps a spatial index of every item, which a folder of a million entries rebuilds
// in one step of 35 ms each time it is shown; the list mode lays out the same grid in small batches.
class TContentsView : public QListView {
 public:
  explicit TContentsView(QWidget* parent) : QListView(parent) { setItemDelegate(new TDelegate(large_, this)); }
  void ShowLargeIcons(bool on) {
    large_ = on;
    setFlow(on ? LeftToRight : TopToBottom);
    setWrapping(on);
    setGridSize(on ? kLargeGrid : QSize());
    setWordWrap(on);
  }

 protected:
  void initViewItemOption(QStyleOptionViewItem* option) const override {
    QListView::initViewItemOption(option);
    if (!large_) return;
    option->showDecorationSelected = false;
    option->decorationPosition = QStyleOptionViewItem::Top;
    option->displayAlignment = Qt::AlignCenter;
  }

 private:
  // Items of large icons fill their grid place, so that names use its width (the view takes one
  // item's size for all).
  class TDelegate : public QStyledItemDelegate {
   public:
    TDelegate(const bool& large, QObject* parent) : QStyledItemDelegate(parent), large_(large) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
      return large_ ? kLargeItem : QStyledItemDelegate::sizeHint(option, index);
    }

   private:
    const bool& large_;
  };
  static constexpr QSize kLargeGrid{110, 70}, kLargeItem{106, 66};
  bool large_ = false;
};

QTreeView* MakeTree(QAbstractItemModel* model, QWidget* parent) {
  auto* t = new QTreeView(parent);
  t->setModel(model);
  t->setHeaderHidden(true);
  t->setUniformRowHeights(true);
  t->setEditTriggers(QAbstractItemView::NoEditTriggers);
  t->setSelectionMode(QAbstractItemView::SingleSelection);
  return t;
}

}  // namespace

TUnzipTreeviewForm::TUnzipTreeviewForm(TArchiveTree& tree, THooks hooks, QWidget* parent)
    : QDialog(parent), tree_(tree), hooks_(std::move(hooks)) {
  setWindowTitle("Tandor File Unzip Explorer");
  setWindowState(Qt::WindowMaximized);
  fullModel_ = new TArchiveTreeModel(tree_, false, this);
  folderModel_ = new TArchiveTreeModel(tree_, true, this);
  contents_ = new TFolderContentsModel(tree_, this);
  for (TArchiveTreeModel* m : {fullModel_, folderModel_}) m->SetIconProvider(hooks_.Icon);
  contents_->SetIconProvider(hooks_.Icon);
  TreeView = MakeTree(fullModel_, this);
  FolderTreeView = MakeTree(folderModel_, this);
  FolderTreeView->hide();
  FolderTreeView->setEnabled(false);
  auto* contentsView = new TContentsView(this);
  ListView = contentsView;
  ListView->setModel(contents_);
  ListView->setIconSize(QSize(32, 32));
  contentsView->ShowLargeIcons(true);
  ListView->setResizeMode(QListView::Adjust);
  ListView->setMovement(QListView::Static);
  ListView->setUniformItemSizes(true);
  ListView->setLayoutMode(QListView::Batched);
  ListView->setSelectionMode(QAbstractItemView::ExtendedSelection);
  ListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ListView->setContextMenuPolicy(Qt::CustomContextMenu);
  Label1 = new QLabel(this);
  Label1->setTextInteractionFlags(Qt::TextSelectableByMouse);

  CloseButton = Button("CLOSE", this);
  HelpButton = Button("HELP", this);
  UnzipButton = Button("UNZIP", this, "UNZIP THE CHOSEN FOLDER OR FILE");
  UnzipButton->setEnabled(false);
  ExpandBranchButton = Button("Expand Branch", this);
  CollapseBranchButton = Button("Collapse Branch", this);
  CollapseAllButton = Button("Collapse All", this);
  ExpandAllButton = Button("Expand All", this);
  FoldersButton = Button("Folders", this);
  FilesButton = Button("Files", this);
  SearchButton = Button("Search", this);
  FindPreviousButton = Button("Find Previous", this);
  FindPreviousButton->setEnabled(false);
  FindNextButton = Button("Find Next", this);
  FindNextButton->setEnabled(false);
  BackButton = Button("BACK", this);
  BackButton->setEnabled(false);
  LargeIconsButton = Button("Icons", this, "LARGE ICONS");
  ListButton = Button("List", this, "LIST");
  for (QPushButton* b : {LargeIconsButton, ListButton}) b->setCheckable(true);
  LargeIconsButton->setChecked(true);
  SearchEdit = new QLineEdit(this);
  SearchEdit->setPlaceholderText("name to find");
  WholeWordCheckBox = new QCheckBox("Whole Word", this);
  CaseCheckBox = new QCheckBox("Case Sensitive", this);
  ListviewPopupMenu = new TUnzipPopupMenu(this);
  FilesButton->setStyleSheet("color: purple");

  auto* top = new QHBoxLayout;
  for (QWidget* w : {static_cast<QWidget*>(UnzipButton), static_cast<QWidget*>(BackButton), static_cast<QWidget*>(FilesButton),
                     static_cast<QWidget*>(FoldersButton), static_cast<QWidget*>(ExpandBranchButton),
                     static_cast<QWidget*>(CollapseBranchButton), static_cast<QWidget*>(ExpandAllButton),
                     static_cast<QWidget*>(CollapseAllButton)})
    top->addWidget(w);
  top->addStretch(1);
  top->addWidget(LargeIconsButton);
  top->addWidget(ListButton);
  top->addWidget(HelpButton);
  top->addWidget(CloseButton);
  auto* search = new QHBoxLayout;
  search->addWidget(SearchEdit, 1);
  search->addWidget(SearchButton);
  search->addWidget(FindPreviousButton);
  search->addWidget(FindNextButton);
  search->addWidget(WholeWordCheckBox);
  search->addWidget(CaseCheckBox);
  auto* trees = new QWidget(this);
  auto* treesLayout = new QVBoxLayout(trees);
  treesLayout->setContentsMargins(0, 0, 0, 0);
  treesLayout->addWidget(TreeView);
  treesLayout->addWidget(FolderTreeView);
  auto* split = new QSplitter(this);
  split->addWidget(trees);
  split->addWidget(ListView);
  split->setStretchFactor(0, 1);
  split->setStretchFactor(1, 2);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(search);
  layout->addWidget(Label1);
  layout->addWidget(split, 1);
  resize(1000, 700);

  connect(TreeView->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { NodeChosen(TreeView); });
  connect(FolderTreeView->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this] { NodeChosen(FolderTreeView); });
  connect(ListView, &QAbstractItemView::clicked, this, [this](const QModelIndex& i) {
    if (ListView->selectionModel()->selectedIndexes().size() == 1) ListRowClicked(i.row());
  });
  connect(ListView, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    ListviewPopupMenuPopup();
    ListviewPopupMenu->popup(ListView->viewport()->mapToGlobal(at));
  });
  connect(ListviewPopupMenu->Open1, &QAction::triggered, this, [this] { OpenSelected(TLaunchProgram::Desktop); });
  connect(ListviewPopupMenu->NotePad1, &QAction::triggered, this, [this] { OpenSelected(TLaunchProgram::NotePad); });
  connect(ListviewPopupMenu->WordPad1, &QAction::triggered, this, [this] { OpenSelected(TLaunchProgram::WordPad); });
  connect(ListviewPopupMenu->QuickView1, &QAction::triggered, this, [this] { OpenSelected(TLaunchProgram::QuickView); });
  connect(ListviewPopupMenu->ImageView1, &QAction::triggered, this, [this] { OpenSelected(TLaunchProgram::ImageView); });
  connect(FilesButton, &QPushButton::clicked, this, [this] { ShowFiles(); });
  connect(FoldersButton, &QPushButton::clicked, this, [this] { ShowFolders(); });
  connect(BackButton, &QPushButton::clicked, this, [this] { BackButtonClick(); });
  connect(UnzipButton, &QPushButton::clicked, this, [this] { UnzipButtonClick(); });
  connect(CloseButton, &QPushButton::clicked, this, [this] { done(kClosed); });
  connect(HelpButton, &QPushButton::clicked, this, [this] {
    if (hooks_.Help) hooks_.Help();
  });
  connect(SearchButton, &QPushButton::clicked, this, [this] { SearchButtonClick(); });
  connect(SearchEdit, &QLineEdit::returnPressed, this, [this] { SearchButtonClick(); });
  connect(FindNextButton, &QPushButton::clicked, this, [this] { FindNextClick(); });
  connect(FindPreviousButton, &QPushButton::clicked, this, [this] { FindPreviousClick(); });
  connect(ExpandBranchButton, &QPushButton::clicked, this, [this] {
    const QModelIndex i = Shown()->currentIndex();
    if (!i.isValid() || !tree_.At(ModelOf(Shown())->NodeOf(i)).Folder) return;
    Shown()->expandRecursively(i);
    Shown()->scrollTo(i, QAbstractItemView::PositionAtTop);
  });
  connect(CollapseBranchButton, &QPushButton::clicked, this, [this] {
    const QModelIndex i = Shown()->currentIndex();
    if (!i.isValid() || !tree_.At(ModelOf(Shown())->NodeOf(i)).Folder) return;
    Shown()->collapse(i);
    Shown()->scrollTo(i, QAbstractItemView::PositionAtTop);
  });
  connect(ExpandAllButton, &QPushButton::clicked, this, [this] {
    Shown()->expandRecursively(ModelOf(Shown())->IndexOf(0));
    Shown()->scrollTo(Shown()->currentIndex().isValid() ? Shown()->currentIndex() : ModelOf(Shown())->IndexOf(0));
  });
  connect(CollapseAllButton, &QPushButton::clicked, this, [this] { Shown()->collapseAll(); });
  connect(LargeIconsButton, &QPushButton::clicked, this, [this, contentsView] {
    contentsView->ShowLargeIcons(true);
    LargeIconsButton->setChecked(true);
    ListButton->setChecked(false);
  });
  connect(ListButton, &QPushButton::clicked, this, [this, contentsView] {
    contentsView->ShowLargeIcons(false);
    ListButton->setChecked(true);
    LargeIconsButton->setChecked(false);
    if (ListView->currentIndex().isValid()) ListView->scrollTo(ListView->currentIndex());
  });
  setResult(kClosed);
  // The root opened one level, its contents in the list.
  TreeView->expand(fullModel_->IndexOf(0));
  FolderTreeView->expand(folderModel_->IndexOf(0));
  TreeView->setCurrentIndex(fullModel_->IndexOf(0));
}

void TUnzipTreeviewForm::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  Shown()->setFocus();
}

QTreeView* TUnzipTreeviewForm::Shown() const { return FolderTreeView->isEnabled() ? FolderTreeView : TreeView; }

TArchiveTreeModel* TUnzipTreeviewForm::ModelOf(QTreeView* view) const {
  return view == FolderTreeView ? folderModel_ : fullModel_;
}

int TUnzipTreeviewForm::SelectedNode() const { return ModelOf(Shown())->NodeOf(Shown()->currentIndex()); }

void TUnzipTreeviewForm::ShowFiles() {
  FolderTreeView->hide();
  FolderTreeView->setEnabled(false);
  TreeView->setEnabled(true);
  TreeView->show();
  FilesButton->setStyleSheet("color: purple");
  FoldersButton->setStyleSheet({});
}

void TUnzipTreeviewForm::ShowFolders() {
  TreeView->hide();
  TreeView->setEnabled(false);
  FolderTreeView->setEnabled(true);
  FolderTreeView->show();
  FoldersButton->setStyleSheet("color: purple");
  FilesButton->setStyleSheet({});
}

void TUnzipTreeviewForm::SelectNode(int node) {
  if (node < 0 || node >= tree_.Count()) return;
  QTreeView* view = Shown();
  if (view == FolderTreeView && !tree_.At(node).Folder) node = tree_.At(node).Parent;
  const QModelIndex i = ModelOf(view)->IndexOf(node);
  view->setCurrentIndex(i);
  view->scrollTo(i, QAbstractItemView::PositionAtTop);
}

int TUnzipTreeviewForm::NodeOfPath(const QString& path) const {
  if (path.isEmpty()) return 0;
  int n = 0;
  for (const QString& part : path.split('/', Qt::SkipEmptyParts)) {
    int found = -1;
    for (int c : tree_.Children(n))
      if (tree_.At(c).Name == part) {
        found = c;
        break;
      }
    if (found < 0) return -1;
    n = found;
  }
  return n;
}

void TUnzipTreeviewForm::NodeChosen(QTreeView* view) {
  if (syncing_) return;
  const int n = ModelOf(view)->NodeOf(view->currentIndex());
  if (n < 0) {
    answer_ = -1;
    Label1->clear();
    UnzipButton->setEnabled(false);
    return;
  }
  const TArchiveTree::Node& node = tree_.At(n);
  view->scrollTo(view->currentIndex(), QAbstractItemView::PositionAtTop);
  const int folder = node.Folder ? n : node.Parent;
  if (node.Folder) view->expand(view->currentIndex());
  contents_->ShowFolder(folder);
  if (!node.Folder) {
    const int row = contents_->RowOf(n);
    ListView->selectionModel()->setCurrentIndex(contents_->index(row), QItemSelectionModel::ClearAndSelect);
  }
  BackButton->setEnabled(n != 0 && !(view == TreeView && !node.Folder && node.Parent == 0));
  answer_ = n;
  SetLabel(n);
  UnzipButton->setEnabled(true);
  // The other tree follows to the same folder.
  syncing_ = true;
  QTreeView* other = view == TreeView ? FolderTreeView : TreeView;
  const QModelIndex there = ModelOf(other)->IndexOf(other == FolderTreeView ? folder : n);
  other->setCurrentIndex(there);
  other->expand(there);
  syncing_ = false;
}

void TUnzipTreeviewForm::SetLabel(int n) {
  if (n == 0) {
    Label1->setText(tree_.At(0).Name);
    return;
  }
  const bool folder = tree_.At(n).Folder;
  const QString tail = folder ? "/*.*" : "";
  const QFontMetrics fm(Label1->font());
  const int room = std::max(width(), 200) - 32;
  QString text = tree_.At(n).Name + tail;
  int p = tree_.At(n).Parent;
  for (; p > 0; p = tree_.At(p).Parent) {
    const QString longer = tree_.At(p).Name + "/" + text;
    if (fm.horizontalAdvance(longer) >= room) break;
    text = longer;
  }
  Label1->setText(p > 0 ? "../" + text : text);
}

QString TUnzipTreeviewForm::AnswerPath() const {
  if (answer_ < 0) return {};
  if (answer_ == 0) return tree_.At(0).Name;
  return tree_.PathOf(answer_) + (tree_.At(answer_).Folder ? "/" : "");
}

void TUnzipTreeviewForm::BackButtonClick() {
  const int n = SelectedNode();
  if (n <= 0) return;
  SelectNode(tree_.At(n).Parent);
}

void TUnzipTreeviewForm::UnzipButtonClick() {
  if (answer_ < 0) {
    UnzipButton->setEnabled(false);
    return;
  }
  if (answer_ == 0)
    done(kAll);
  else
    done(tree_.At(answer_).Folder ? kFolder : kFile);
}

bool TUnzipTreeviewForm::Matches(int node) const {
  const QString& name = tree_.At(node).Name;
  const Qt::CaseSensitivity cs = CaseCheckBox->isChecked() ? Qt::CaseSensitive : Qt::CaseInsensitive;
  if (WholeWordCheckBox->isChecked()) return QString::compare(name, searchText_, cs) == 0;
  return name.size() >= searchText_.size() && name.contains(searchText_, cs);
}

bool TUnzipTreeviewForm::RunSearch(int from, int step) {
  if (FolderTreeView->isEnabled()) ShowFiles();
  if (outline_.empty()) outline_ = tree_.Outline();
  bool found = false;
  for (int i = from; i >= 0 && i < static_cast<int>(outline_.size()); i += step)
    if (Matches(outline_[static_cast<size_t>(i)])) {
      searchPos_ = i;
      SelectNode(outline_[static_cast<size_t>(i)]);
      found = true;
      break;
    }
  if (!found) ShowInfo(kNotFound);
  TreeView->setFocus();
  FindPreviousButton->setEnabled(searchPos_ > 0);
  FindNextButton->setEnabled(true);
  return found;
}

bool TUnzipTreeviewForm::SearchButtonClick() {
  if (SearchEdit->text().isEmpty()) return false;
  searchText_ = SearchEdit->text();
  searchPos_ = 0;
  return RunSearch(0, 1);
}

bool TUnzipTreeviewForm::FindNextClick() {
  if (searchText_.isEmpty() || searchPos_ + 1 >= static_cast<int>(outline_.size())) return false;
  return RunSearch(searchPos_ + 1, 1);
}

bool TUnzipTreeviewForm::FindPreviousClick() {
  if (searchText_.isEmpty() || searchPos_ <= 0) return false;
  return RunSearch(searchPos_ - 1, -1);
}

void TUnzipTreeviewForm::ListRowClicked(int row) {
  const int n = contents_->NodeAt(row);
  if (n < 0) return;
  SelectNode(n);
  if (!tree_.At(n).Folder && hooks_.Open) hooks_.Open(tree_.At(n).Row, TLaunchProgram::Desktop);
}

void TUnzipTreeviewForm::ListviewPopupMenuPopup() {
  const QModelIndexList rows = ListView->selectionModel()->selectedIndexes();
  bool picture = false;
  if (!rows.isEmpty()) {
    const int n = contents_->NodeAt(rows.front().row());
    picture = n >= 0 && hooks_.IsPicture && hooks_.IsPicture(tree_.At(n).Name);
  }
  ListviewPopupMenu->Prepare(rows.isEmpty() ? 0 : 1, picture, hooks_.WordPadAvailable, hooks_.QuickViewConfigured);
}

void TUnzipTreeviewForm::OpenSelected(TLaunchProgram program) {
  const QModelIndex i = ListView->currentIndex();
  const int n = i.isValid() ? contents_->NodeAt(i.row()) : -1;
  if (n < 0 || tree_.At(n).Folder || !hooks_.Open) return;  // a folder row does nothing
  hooks_.Open(tree_.At(n).Row, program);
}
