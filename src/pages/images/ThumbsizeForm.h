#pragma once
// "Choose Thumbnail Size": a number box of 16..256 with OK (the value is the result) and Cancel (-1);
// and the "Thumbnail Size" submenu of the unzip list's popup menu that uses it.
#include <QDialog>

class QMenu;
class QPushButton;
class QSpinBox;
class TSettings;

class TThumbsizeForm : public QDialog {
  Q_OBJECT
 public:
  explicit TThumbsizeForm(int current, QWidget* parent = nullptr);

  // Shows the window modally: the chosen size, or -1 when cancelled.
  static int Choose(int current, QWidget* parent = nullptr);

  void Button1Click();  // OK
  void Button2Click();  // Cancel

  QSpinBox* SizeEdit;
  QPushButton* Button1;
  QPushButton* Button2;
};

// Adds the submenu "Thumbnail Size" ("32 X 32", "64 X 64", "128 X 128", "192 X 192", "Other", radio
// items) to `menu`; the entries set `settings.ThumbSize`. The entry of the current size is checked,
// "Other" for a size none of them names.
QMenu* AddThumbSizeMenu(QMenu& menu, TSettings& settings);
// The same entries in a submenu made elsewhere.
void FillThumbSizeMenu(QMenu& sizes, TSettings& settings);
