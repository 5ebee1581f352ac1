#pragma once
// Base of the five pages of the main window: the controls that DisableAll/EnableAll and the common
// buttons act on, the page's main list and progress bar, and small builders for its controls.
#include <QWidget>
#include <vector>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStatusBar;
class TFileListView;
class TTandorForm;

class TPage : public QWidget {
  Q_OBJECT
 public:
  TPage(TTandorForm& form, QWidget* parent = nullptr);

  // The page's main list (none on the self-extracting page) and progress bar.
  virtual TFileListView* MainList() const = 0;
  virtual QProgressBar* ProgressBar() const = 0;
  // The controls DisableAll disables (and EnableAll enables) on this page.
  virtual std::vector<QWidget*> WorkControls() const = 0;
  // The controls that never depend on loaded data.
  virtual std::vector<QWidget*> CommonControls() const = 0;
  // EnableAll's part on this page; pages with exceptions override it.
  virtual void EnableWorkControls();

 protected:
  QPushButton* MakeButton(const QString& text, const QString& hint = {});
  QLineEdit* MakeCounter();
  QLabel* MakeStep(const QString& text);
  TTandorForm& Form;
};
