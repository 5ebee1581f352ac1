#include "pages/common/Page.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TPage::TPage(TTandorForm& form, QWidget* parent) : QWidget(parent), Form(form) {}

void TPage::EnableWorkControls() {
  for (QWidget* w : WorkControls()) w->setEnabled(true);
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
