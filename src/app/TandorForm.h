#pragma once
#include <QMainWindow>

class QTabWidget;

// The main window: owns the five pages and everything that lives for the whole run.
class TTandorForm : public QMainWindow {
  Q_OBJECT
 public:
  explicit TTandorForm(QWidget* parent = nullptr);
  ~TTandorForm() override;

 private:
  QTabWidget* TabbedNotebook = nullptr;
};
