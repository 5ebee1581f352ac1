#pragma once
// "Creating Thumbnails": the progress of a thumbnail run, with Stop. Stays on top; not modal.
#include <QDialog>
#include <functional>

class QProgressBar;
class QPushButton;

class TThumbProgressForm : public QDialog {
  Q_OBJECT
 public:
  explicit TThumbProgressForm(QWidget* parent = nullptr);

  // Called when Stop is pressed (or the window closed).
  std::function<void()> OnStop;

  QProgressBar* ProgressBar;
  QPushButton* StopButton;

 protected:
  void reject() override;
};
