#pragma once
// The window that warns about entries whose names reach outside the destination folder.
#include <QDialog>
#include <QStringList>

class TZipSecurityForm : public QDialog {
  Q_OBJECT
 public:
  // Results of the window's buttons.
  static constexpr int kDoNotUnzip = 128;
  static constexpr int kHalt = -1;
  static constexpr int kIgnore = 255;

  // `lines` lists the dangerous entries ("name,  folder").
  explicit TZipSecurityForm(const QStringList& lines, QWidget* parent = nullptr);
  QStringList Lines() const { return lines_; }

 private:
  QStringList lines_;
};
