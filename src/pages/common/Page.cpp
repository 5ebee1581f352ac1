#include "pages/common/Page.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "core/Settings.h"
#include "pages/common/FileList.h"
#include "pages/common/IconLists.h"

TPage::TPage(IPageHost& host, QWidget* parent) : QWidget(parent), Host(host) {}

void TPage::EnableWorkControls() {
  for (QWidget* w : WorkControls()) w->setEnabled(true);
}

void TPage::EnableCommonControls() {
  for (QWidget* w : CommonControls()) w->setEnabled(true);
}

bool TPage::HasRows() const {
  const TFileListView* list = MainList();
  return list && list->HasRows();
}

QPushButton* TPage::MakeButton(const QString& text, const QString& hint) {
  auto* b = new QPushButton(text, this);
  if (!hint.isEmpty()) b->setToolTip(hint);
  b->setMinimumWidth(64);
  return b;
}

QLineEdit* TPage::MakeCounter() {
  auto* e = new QLineEdit("0", this);
  e->setReadOnly(true);
  e->setAlignment(Qt::AlignRight);
  e->setMaximumWidth(160);
  return e;
}

QLabel* TPage::MakeStep(const QString& text) {
  auto* l = new QLabel(text, this);
  QFont f = l->font();
  f.setBold(true);
  l->setFont(f);
  return l;
}

void TPage::UseSharedIcons(TFileListView* list, bool pathIcon) {
  list->Model()->SetIconProvider([this](int i) { return Host.Icons().Icon(i); });
  if (pathIcon) list->Model()->SetPathIcon(0);
}

void TPage::ConnectExitButton(QPushButton* button, bool unlessBatchBusy) {
  connect(button, &QPushButton::clicked, this, [this, unlessBatchBusy] {
    if (!unlessBatchBusy || !Host.RunState().BatchBusy) Host.CloseProgram();
  });
}

void TPage::ConnectHelpButton(QPushButton* button, const std::string& page) {
  connect(button, &QPushButton::clicked, this, [this, page] { Host.OpenHelpPage(page); });
}
