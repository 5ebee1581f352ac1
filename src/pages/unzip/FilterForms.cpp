#include "pages/unzip/FilterForms.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

constexpr int kExtensionRole = Qt::UserRole + 1;
constexpr int kWithSubfoldersRole = Qt::UserRole + 2;

QPushButton* Button(const QString& text, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  b->setAutoDefault(false);
  return b;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// File types

TUnzipFileTypeform::TUnzipFileTypeform(std::function<void()> help, QWidget* parent) : QDialog(parent) {
  setWindowTitle("Unzip File Display Filter");
  auto* intro = new QLabel(
      "Using the options below you can filter the way the results are displayed\nin the Unzip file display window...",
      this);
  FileTypeCheckBox = new QCheckBox("Select File types to show in the display", this);
  FileTypeCheckBox->setEnabled(false);  // until a type is listed
  FileTypeList = new QListWidget(this);
  FileTypeList->setSortingEnabled(true);
  FileTypeList->setEnabled(false);
  FileTypeList->setMinimumHeight(220);
  MatchCheckBox = new QCheckBox("Match this search pattern", this);
  MatchEdit = new QLineEdit(this);
  MatchEdit->setEnabled(false);
  WholeWordCheckBox = new QCheckBox("Whole Word", this);
  CaseCheckBox = new QCheckBox("Case Sensitive", this);
  OKButton = Button("OK", this);
  OKButton->setDefault(true);
  OKButton->setEnabled(false);
  CancelButton = Button("CANCEL", this);
  DisplayAllButton = Button("Display All", this);
  HelpButton = Button("HELP", this);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(intro);
  layout->addWidget(FileTypeCheckBox);
  layout->addWidget(FileTypeList, 1);
  layout->addWidget(MatchCheckBox);
  auto* match = new QHBoxLayout;
  match->addWidget(MatchEdit, 1);
  match->addWidget(WholeWordCheckBox);
  match->addWidget(CaseCheckBox);
  layout->addLayout(match);
  auto* all = new QHBoxLayout;
  all->addWidget(DisplayAllButton);
  all->addWidget(new QLabel("Display the entire zip file...", this), 1);
  layout->addLayout(all);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  for (QPushButton* b : {OKButton, CancelButton, HelpButton}) buttons->addWidget(b);
  layout->addLayout(buttons);

  connect(FileTypeCheckBox, &QCheckBox::toggled, this, [this](bool on) {
    FileTypeList->setEnabled(on);
    if (on) {
      if (!MatchCheckBox->isChecked()) OKButton->setEnabled(AnyChecked());
    } else if (!MatchCheckBox->isChecked() || MatchEdit->text().isEmpty()) {
      OKButton->setEnabled(false);
    }
  });
  connect(MatchCheckBox, &QCheckBox::toggled, this, [this](bool on) {
    MatchEdit->setEnabled(on);
    if (on) {
      if (!MatchEdit->text().isEmpty()) OKButton->setEnabled(true);
    } else {
      OKButton->setEnabled(FileTypeCheckBox->isChecked() && AnyChecked());
    }
  });
  connect(FileTypeList, &QListWidget::itemChanged, this, [this] {
    if (!MatchCheckBox->isChecked()) OKButton->setEnabled(AnyChecked());
  });
  connect(MatchEdit, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (!text.isEmpty())
      OKButton->setEnabled(true);
    else if (FileTypeCheckBox->isChecked())
      OKButton->setEnabled(AnyChecked());
    else
      OKButton->setEnabled(false);
  });
  connect(MatchEdit, &QLineEdit::returnPressed, this, [this] {
    if (!MatchEdit->text().isEmpty()) done(kOk);
  });
  connect(OKButton, &QPushButton::clicked, this, [this] { done(kOk); });
  connect(CancelButton, &QPushButton::clicked, this, [this] { done(kCancel); });
  connect(DisplayAllButton, &QPushButton::clicked, this, [this] { done(kDisplayAll); });
  connect(HelpButton, &QPushButton::clicked, this, [help = std::move(help)] {
    if (help) help();
  });
}

void TUnzipFileTypeform::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Escape) {
    done(kCancel);
    return;
  }
  QDialog::keyPressEvent(e);
}

void TUnzipFileTypeform::AddType(const QString& text, const QIcon& icon) {
  auto* item = new QListWidgetItem(icon, text);
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
  item->setCheckState(Qt::Unchecked);
  item->setData(kExtensionRole, AsciiLower(text.section(' ', 0, 0)));
  FileTypeList->addItem(item);
  FileTypeCheckBox->setEnabled(true);
}

bool TUnzipFileTypeform::CheckType(const QString& ext) {
  for (int i = 0; i < FileTypeList->count(); ++i)
    if (FileTypeList->item(i)->data(kExtensionRole).toString() == ext) {
      FileTypeList->item(i)->setCheckState(Qt::Checked);
      return true;
    }
  return false;
}

bool TUnzipFileTypeform::AnyChecked() const {
  for (int i = 0; i < FileTypeList->count(); ++i)
    if (FileTypeList->item(i)->checkState() == Qt::Checked) return true;
  return false;
}

TFileTypeFilter TUnzipFileTypeform::Inputs() const {
  TFileTypeFilter f;
  if (FileTypeCheckBox->isChecked())
    for (int i = 0; i < FileTypeList->count(); ++i)
      if (FileTypeList->item(i)->checkState() == Qt::Checked)
        f.Extensions << FileTypeList->item(i)->data(kExtensionRole).toString();
  if (MatchCheckBox->isChecked()) f.Pattern = MatchEdit->text();
  f.WholeWord = WholeWordCheckBox->isChecked();
  f.CaseSensitive = CaseCheckBox->isChecked();
  return f;
}

// ---------------------------------------------------------------------------------------------
// Folders

TFolderFilterForm::TFolderFilterForm(TArchiveTree& tree, std::function<QIcon(int)> icons, std::function<void()> help,
                                     QWidget* parent)
    : QDialog(parent), tree_(tree), icons_(std::move(icons)) {
  setWindowTitle("Folder Filter");
  auto* intro = new QLabel("Select folders to add them to the list.  Only these\nfolders will be displayed in the Zip File Window", this);
  TreeView = new QTreeView(this);
  model_ = new TArchiveTreeModel(tree_, true, this);
  model_->SetIconProvider(icons_);
  TreeView->setModel(model_);
  TreeView->setHeaderHidden(true);
  TreeView->setUniformRowHeights(true);
  TreeView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  TreeView->setMinimumSize(320, 320);
  FolderLabel = new QLabel(this);
  FolderLabel->setMinimumWidth(300);
  FolderList = new QListWidget(this);
  FolderList->setSelectionMode(QAbstractItemView::ExtendedSelection);
  IncludeFoldersCheckBox = new QCheckBox("Include Folders", this);
  FEComboBox = new QComboBox(this);
  FEComboBox->setMinimumWidth(140);
  AddFolderButton = Button("Add Folder", this);
  AddFolderButton->setEnabled(false);
  RemoveFolderButton = Button("Remove Folder", this);
  RemoveFolderButton->setEnabled(false);
  ExpandButton = Button("Expand", this);
  CollapseButton = Button("Collapse", this);
  FullExpandButton = Button("Full Expand", this);
  FullCollapseButton = Button("Full Collapse", this);
  OKButton = Button("OK", this);
  OKButton->setEnabled(false);
  DisplayAllButton = Button("Display All", this);
  HelpButton = Button("HELP", this);
  CancelButton = Button("CANCEL", this);

  auto* left = new QVBoxLayout;
  left->addWidget(intro);
  left->addWidget(TreeView, 1);
  left->addWidget(FolderLabel);
  auto* treeButtons = new QHBoxLayout;
  for (QPushButton* b : {ExpandButton, CollapseButton, FullExpandButton, FullCollapseButton}) treeButtons->addWidget(b);
  left->addLayout(treeButtons);
  auto* right = new QVBoxLayout;
  right->addWidget(new QLabel("Add Folders", this));
  right->addWidget(FolderList, 1);
  auto* folderButtons = new QHBoxLayout;
  folderButtons->addWidget(AddFolderButton);
  folderButtons->addWidget(RemoveFolderButton);
  right->addLayout(folderButtons);
  right->addWidget(IncludeFoldersCheckBox);
  auto* types = new QHBoxLayout;
  types->addWidget(new QLabel("Filetypes", this));
  types->addWidget(FEComboBox, 1);
  right->addLayout(types);
  auto* grid = new QGridLayout;
  grid->addWidget(OKButton, 0, 0);
  grid->addWidget(new QLabel("Change Zipfile Display", this), 0, 1);
  grid->addWidget(DisplayAllButton, 1, 0);
  grid->addWidget(new QLabel("Display entire zip file", this), 1, 1);
  right->addLayout(grid);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(HelpButton);
  bottom->addWidget(CancelButton);
  right->addLayout(bottom);
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left, 3);
  layout->addLayout(right, 2);

  connect(TreeView->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { NodeSelected(); });
  connect(AddFolderButton, &QPushButton::clicked, this, [this] { AddFolderButtonClick(); });
  connect(FolderList, &QListWidget::itemSelectionChanged, this,
          [this] { RemoveFolderButton->setEnabled(!FolderList->selectedItems().isEmpty()); });
  connect(RemoveFolderButton, &QPushButton::clicked, this, [this] {
    qDeleteAll(FolderList->selectedItems());
    RemoveFolderButton->setEnabled(false);
    if (FolderList->count() == 0) OKButton->setEnabled(false);
  });
  connect(ExpandButton, &QPushButton::clicked, this, [this] {
    const QModelIndex i = TreeView->currentIndex();
    if (!i.isValid()) return;
    TreeView->expandRecursively(i);
    TreeView->scrollTo(i, QAbstractItemView::PositionAtTop);
  });
  connect(CollapseButton, &QPushButton::clicked, this, [this] {
    const QModelIndex i = TreeView->currentIndex();
    if (!i.isValid()) return;
    TreeView->collapse(i);
    TreeView->scrollTo(i, QAbstractItemView::PositionAtTop);
  });
  connect(FullExpandButton, &QPushButton::clicked, this, [this] {
    TreeView->expandAll();
    TreeView->scrollTo(model_->IndexOf(0));
  });
  connect(FullCollapseButton, &QPushButton::clicked, this, [this] {
    TreeView->collapseAll();
    TreeView->expand(model_->IndexOf(0));
    TreeView->scrollTo(model_->IndexOf(0));
  });
  connect(OKButton, &QPushButton::clicked, this, [this] { done(FolderList->count() > 0 ? kOk : kCancel); });
  connect(DisplayAllButton, &QPushButton::clicked, this, [this] { done(kDisplayAll); });
  connect(CancelButton, &QPushButton::clicked, this, [this] { done(kCancel); });
  connect(HelpButton, &QPushButton::clicked, this, [help = std::move(help)] {
    if (help) help();
  });
  setResult(kCancel);
}

void TFolderFilterForm::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  TreeView->expandAll();
  const QModelIndex root = model_->IndexOf(0);
  TreeView->scrollTo(root);
  TreeView->setCurrentIndex(root);
}

void TFolderFilterForm::NodeSelected() {
  const QModelIndex i = TreeView->currentIndex();
  const int n = model_->NodeOf(i);
  if (n < 0) return;
  TreeView->expand(i);
  if (n == 0) {
    AddFolderButton->setEnabled(false);
    FolderLabel->clear();
    return;
  }
  AddFolderButton->setEnabled(true);
  FolderLabel->setText(ShortenedFolderLabel(tree_.PathOf(n)));
}

bool TFolderFilterForm::SelectFolder(const QString& path) {
  const int n = tree_.FolderNode(path);
  if (n < 0) return false;
  TreeView->setCurrentIndex(model_->IndexOf(n));
  return true;
}

void TFolderFilterForm::AddFolderButtonClick() {
  const int n = model_->NodeOf(TreeView->currentIndex());
  if (n <= 0) return;
  const bool sub = IncludeFoldersCheckBox->isChecked();
  auto* item = new QListWidgetItem(icons_ ? icons_(sub ? 3 : 1) : QIcon(), tree_.PathOf(n), FolderList);
  item->setData(kWithSubfoldersRole, sub);
  OKButton->setEnabled(true);
}

std::vector<TFolderChoice> TFolderFilterForm::Folders() const {
  std::vector<TFolderChoice> out;
  for (int i = 0; i < FolderList->count(); ++i)
    out.push_back({FolderList->item(i)->text(), FolderList->item(i)->data(kWithSubfoldersRole).toBool()});
  return out;
}

void TFolderFilterForm::AddFileType(const QString& type) {
  if (FEComboBox->findText(type) >= 0) return;
  int at = 0;
  while (at < FEComboBox->count() && FEComboBox->itemText(at) < type) ++at;
  FEComboBox->insertItem(at, type);
  FEComboBox->setCurrentIndex(-1);
}

QString TFolderFilterForm::FileTypeChoice() const { return FEComboBox->currentIndex() < 0 ? QString() : FEComboBox->currentText(); }
