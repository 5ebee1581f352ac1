#include "pages/props/StartMenuForms.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QValidator>
#include <map>

#include "core/Prompt.h"
#include "pages/common/PromptService.h"
#include "platform/Launchers.h"

namespace {

// Drops the characters a folder name may not hold as they are typed.
class TFolderNameValidator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int&) const override {
    for (QChar c : input)
      if (c.unicode() < 128 && IsForbiddenFolderNameChar(static_cast<char>(c.unicode()))) return Invalid;
    return Acceptable;
  }
};

}  // namespace

TStartmenuForm::TStartmenuForm(const std::string& target, QWidget* parent) : QDialog(parent), target_(target) {
  setWindowTitle("Insert a link onto the Applications Menu");
  auto* layout = new QVBoxLayout(this);
  auto* text = new QLabel(
      "Tandor File can place links to itself where you start programs from. Check the places where a link "
      "should go, then click OK.",
      this);
  text->setWordWrap(true);
  layout->addWidget(text);
  startmenu_ = new QCheckBox("Check  this box to add a link to the Pop up Applications Menu", this);
  startmenu_->setObjectName("StartmenuCheckBox");
  startmenu_->setChecked(true);
  quicklaunch_ = new QCheckBox("Check  this box to add a link to the Quick Launch Toolbar", this);
  quicklaunch_->setObjectName("QuicklaunchCheckBox");
  quicklaunch_->setEnabled(false);  // no such toolbar on this system
  desktop_ = new QCheckBox("Check  this box to add a link on the Desktop", this);
  desktop_->setObjectName("DesktopCheckBox");
  for (QCheckBox* b : {startmenu_, quicklaunch_, desktop_}) {
    layout->addWidget(b);
    connect(b, &QCheckBox::clicked, this, [this] { UpdateOk(); });
  }
  auto* buttons = new QHBoxLayout;
  ok_ = new QPushButton("OK", this);
  ok_->setObjectName("OKButton");
  auto* cancel = new QPushButton("Cancel", this);
  cancel->setObjectName("CancelButton");
  buttons->addStretch();
  buttons->addWidget(ok_);
  buttons->addWidget(cancel);
  layout->addLayout(buttons);
  connect(ok_, &QPushButton::clicked, this, [this] { OKButtonClick(); });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  UpdateOk();
}

void TStartmenuForm::UpdateOk() {
  ok_->setEnabled(startmenu_->isChecked() || quicklaunch_->isChecked() || desktop_->isChecked());
}

void TStartmenuForm::OKButtonClick() {
  if (desktop_->isChecked()) {
    const TLauncherResult r = CreateShortcut(target_, kDesktopLauncher);
    if (r.Status.Failed()) ShowError(r.Status.Text());
  }
  if (quicklaunch_->isChecked()) CreateShortcut(target_, kQuickLaunchLauncher);
  if (startmenu_->isChecked()) {
    const TStatus made = MakeMenuFolder("", "");
    if (made.Failed()) {
      ShowError(
          "The system returned an error when trying to locate the Applications Menu directory.  The link to this "
          "program was not created.");
    } else {
      TStartMenuTreeForm chooser(MenuFolder(), this);
      if (ExecModal(chooser, "TStartMenuTreeForm") == QDialog::Accepted) {
        const TLauncherResult r = CreateShortcut(target_, kMenuLauncher, chooser.ChosenFolder());
        if (r.Status.Failed()) ShowError(r.Status.Text());
      }
    }
  }
  accept();
}

TStartMenuTreeForm::TStartMenuTreeForm(const std::string& root, QWidget* parent) : QDialog(parent), root_(root) {
  setWindowTitle("Choose a folder on the Applications Menu in which to place the link to this program...");
  resize(620, 440);
  auto* layout = new QVBoxLayout(this);
  tree_ = new QTreeWidget(this);
  tree_->setObjectName("StartMenuTree");
  tree_->setHeaderHidden(true);
  tree_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  layout->addWidget(tree_);
  folderEdit_ = new QLineEdit(this);
  folderEdit_->setObjectName("FolderEdit");
  folderEdit_->setReadOnly(true);
  layout->addWidget(folderEdit_);
  auto* newRow = new QHBoxLayout;
  newRow->addWidget(new QLabel("New Folder Name", this));
  newFolderEdit_ = new QLineEdit(this);
  newFolderEdit_->setObjectName("NewFolderEdit");
  newFolderEdit_->setValidator(new TFolderNameValidator(newFolderEdit_));
  newRow->addWidget(newFolderEdit_);
  auto* create = new QPushButton("Create New Folder", this);
  create->setObjectName("NewFolderButton");
  create->setAutoDefault(false);
  newRow->addWidget(create);
  layout->addLayout(newRow);
  auto* buttons = new QHBoxLayout;
  accept_ = new QPushButton("Accept", this);
  accept_->setObjectName("AcceptButton");
  auto* cancel = new QPushButton("Cancel", this);
  auto* collapse = new QPushButton("Collapse", this);
  auto* expand = new QPushButton("Expand", this);
  for (QPushButton* b : {accept_, cancel, collapse, expand}) {
    b->setAutoDefault(false);
    buttons->addWidget(b);
  }
  buttons->addStretch();
  layout->addLayout(buttons);

  auto* rootItem = new QTreeWidgetItem(tree_, {QString::fromStdString(root_)});
  rootItem->setIcon(0, style()->standardIcon(QStyle::SP_DirIcon));
  std::map<std::string, QTreeWidgetItem*> items{{"", rootItem}};
  for (const std::string& rel : MenuSubfolders()) {
    const size_t slash = rel.rfind('/');
    const std::string parent = slash == std::string::npos ? "" : rel.substr(0, slash);
    const auto it = items.find(parent);
    if (it == items.end()) continue;
    auto* item = new QTreeWidgetItem(it->second, {QString::fromStdString(rel.substr(slash + 1))});
    item->setIcon(0, style()->standardIcon(QStyle::SP_DirIcon));
    items[rel] = item;
  }
  CollapseButtonClick();

  connect(tree_, &QTreeWidget::itemSelectionChanged, this, [this] { ShowHighlighted(); });
  connect(accept_, &QPushButton::clicked, this, [this] { AcceptButtonClick(); });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(collapse, &QPushButton::clicked, this, [this] { CollapseButtonClick(); });
  connect(expand, &QPushButton::clicked, this, [this] { ExpandButtonClick(); });
  connect(create, &QPushButton::clicked, this, [this] { NewFolderButtonClick(); });
  connect(newFolderEdit_, &QLineEdit::returnPressed, this, [this] { NewFolderButtonClick(); });
}

std::string TStartMenuTreeForm::ShortenedPath(const std::string& path) {
  if (path.size() <= 70) return path;
  return path.substr(0, 35) + " ... " + path.substr(path.size() - 33);
}

std::string TStartMenuTreeForm::RelativePath(QTreeWidgetItem* item) const {
  std::string rel;
  for (; item && item->parent(); item = item->parent())
    rel = item->text(0).toStdString() + (rel.empty() ? "" : "/" + rel);
  return rel;
}

void TStartMenuTreeForm::ShowHighlighted() {
  QTreeWidgetItem* item = tree_->currentItem();
  accept_->setEnabled(item != nullptr);
  if (!item) return;
  const std::string rel = RelativePath(item);
  folderEdit_->setText(QString::fromStdString(ShortenedPath(root_ + (rel.empty() ? "" : "/" + rel))));
}

void TStartMenuTreeForm::AcceptButtonClick() {
  QTreeWidgetItem* item = tree_->currentItem();
  if (!item) return;
  chosen_ = RelativePath(item);
  accept();
}

void TStartMenuTreeForm::CollapseButtonClick() {
  tree_->collapseAll();
  QTreeWidgetItem* root = tree_->topLevelItem(0);
  root->setExpanded(true);
  if (root->childCount() > 0) root->child(0)->setExpanded(true);
  tree_->setCurrentItem(root);
  ShowHighlighted();
}

void TStartMenuTreeForm::ExpandButtonClick() {
  tree_->expandAll();
  if (tree_->currentItem()) tree_->scrollToItem(tree_->currentItem(), QAbstractItemView::PositionAtTop);
}

void TStartMenuTreeForm::NewFolderButtonClick() {
  const std::string name = newFolderEdit_->text().toStdString();
  QTreeWidgetItem* parent = tree_->currentItem();
  if (name.empty() || !parent) return;
  for (int i = 0; i < parent->childCount(); ++i)
    if (parent->child(i)->text(0).toStdString() == name) return;  // neither made nor added again
  const TStatus made = MakeMenuFolder(RelativePath(parent), name);
  if (made.Failed()) {
    ShowError(made.Text());
    return;
  }
  auto* item = new QTreeWidgetItem(parent, {QString::fromStdString(name)});
  item->setIcon(0, style()->standardIcon(QStyle::SP_DirIcon));
  parent->setExpanded(true);
  tree_->setCurrentItem(item);
  ShowHighlighted();
}
