#include "pages/images/ThumbsizeForm.h"

#include <QActionGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "core/Settings.h"
#include "images/Thumbnails.h"
#include "pages/common/PromptService.h"

TThumbsizeForm::TThumbsizeForm(int current, QWidget* parent) : QDialog(parent) {
  setWindowTitle("Choose Thumbnail Size");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Choose Thumbnail Size", this));
  SizeEdit = new QSpinBox(this);
  SizeEdit->setRange(kMinThumbSize, kMaxThumbSize);
  SizeEdit->setValue(current);
  layout->addWidget(SizeEdit);
  auto* buttons = new QHBoxLayout;
  Button1 = new QPushButton("OK", this);
  Button2 = new QPushButton("Cancel", this);
  Button1->setDefault(true);
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);
  layout->addLayout(buttons);
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
}

void TThumbsizeForm::Button1Click() {
  SizeEdit->interpretText();
  done(SizeEdit->value());
}

void TThumbsizeForm::Button2Click() { done(-1); }

int TThumbsizeForm::Choose(int current, QWidget* parent) {
  TThumbsizeForm form(current, parent);
  const int result = ExecModal(form, "TThumbsizeForm");
  return result >= kMinThumbSize && result <= kMaxThumbSize ? result : -1;
}

QMenu* AddThumbSizeMenu(QMenu& menu, TSettings& settings) {
  QMenu* sizes = menu.addMenu("Thumbnail Size");
  FillThumbSizeMenu(*sizes, settings);
  return sizes;
}

void FillThumbSizeMenu(QMenu& menu, TSettings& settings) {
  QMenu* sizes = &menu;
  auto* group = new QActionGroup(sizes);
  group->setExclusive(true);
  QAction* other = nullptr;
  bool named = false;
  for (int size : {32, 64, 128, 192}) {
    QAction* a = sizes->addAction(QString("%1 X %1").arg(size));
    a->setCheckable(true);
    a->setActionGroup(group);
    a->setData(size);
    if (settings.ThumbSize == size) {
      a->setChecked(true);
      named = true;
    }
    QObject::connect(a, &QAction::triggered, sizes, [&settings, size] { settings.ThumbSize = size; });
  }
  other = sizes->addAction("Other");
  other->setCheckable(true);
  other->setActionGroup(group);
  other->setChecked(!named);
  QObject::connect(other, &QAction::triggered, sizes, [&settings, group, sizes] {
    const int chosen = TThumbsizeForm::Choose(settings.ThumbSize, sizes);
    if (chosen > 0) {
      settings.ThumbSize = chosen;
      return;
    }
    // Cancel changes nothing: the entry checked before stays checked.
    for (QAction* a : group->actions())
      a->setChecked(a->data().isValid() ? a->data().toInt() == settings.ThumbSize : false);
    bool any = false;
    for (QAction* a : group->actions()) any = any || a->isChecked();
    if (!any) group->actions().back()->setChecked(true);
  });
}
