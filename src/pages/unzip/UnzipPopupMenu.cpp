#include "pages/unzip/UnzipPopupMenu.h"

TUnzipPopupMenu::TUnzipPopupMenu(QWidget* parent) : QMenu(parent) {
  Open1 = addAction("Open");
  NotePad1 = addAction("Note Pad");
  WordPad1 = addAction("Word Pad");
  QuickView1 = addAction("Quick View");
  ImageView1 = addAction("Image View");
  ImageView1->setEnabled(false);
  Open1->setObjectName("Open1");
  NotePad1->setObjectName("NotePad1");
  WordPad1->setObjectName("WordPad1");
  QuickView1->setObjectName("QuickView1");
  ImageView1->setObjectName("ImageView1");
}

QAction* TUnzipPopupMenu::AddEntry(const QString& text, std::function<void()> action, std::function<bool()> enabled) {
  QAction* a = addAction(text);
  connect(a, &QAction::triggered, this, [action = std::move(action)] {
    if (action) action();
  });
  added_.emplace_back(a, std::move(enabled));
  return a;
}

QMenu* TUnzipPopupMenu::AddSubMenu(const QString& text) { return addMenu(text); }

void TUnzipPopupMenu::Prepare(size_t highlighted, bool picture, bool wordPadAvailable, bool quickViewConfigured) {
  const bool one = highlighted == 1;
  Open1->setEnabled(one);
  ImageView1->setEnabled(one && picture);
  NotePad1->setEnabled(one && !picture);
  WordPad1->setEnabled(one && !picture && wordPadAvailable);
  QuickView1->setEnabled(one && quickViewConfigured);
  for (auto& [action, enabled] : added_) action->setEnabled(!enabled || enabled());
}
