#pragma once
// The popup menu of the unzip page's two lists: the launch items, then entries other parts of the
// program add (the image browser and its thumbnail sizes). Each added entry decides before every
// showing whether it is enabled.
#include <QMenu>
#include <functional>
#include <vector>

class TUnzipPopupMenu : public QMenu {
  Q_OBJECT
 public:
  explicit TUnzipPopupMenu(QWidget* parent = nullptr);

  // The launch items.
  QAction* Open1;
  QAction* NotePad1;
  QAction* WordPad1;
  QAction* QuickView1;
  QAction* ImageView1;

  // Adds an entry after those already there; `enabled` runs before every showing (none: always on).
  QAction* AddEntry(const QString& text, std::function<void()> action, std::function<bool()> enabled = {});
  // Adds a submenu (its actions are the caller's).
  QMenu* AddSubMenu(const QString& text);

  // Enables the launch items for the highlight of the list the menu opens on, then the added entries.
  // `highlighted` counts the highlighted rows; `picture` tells whether the one highlighted row is one.
  void Prepare(size_t highlighted, bool picture, bool wordPadAvailable, bool quickViewConfigured);

 private:
  std::vector<std::pair<QAction*, std::function<bool()>>> added_;
};
