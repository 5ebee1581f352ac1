#pragma once
// The removal window of the incoming queue: the queued archives with check boxes.
#include <QDialog>
#include <string>
#include <vector>

class QTreeWidget;

class TDeleteQueueFileForm : public QDialog {
  Q_OBJECT
 public:
  explicit TDeleteQueueFileForm(const std::vector<std::string>& paths, QWidget* parent = nullptr);

  void CheckAllClick();
  void UncheckAllClick();
  // Closes with OK when at least one item is checked, with Cancel otherwise.
  void DeleteClick();
  void SetChecked(int row, bool checked);
  // Checked rows, ascending (row i is the i-th path given).
  std::vector<int> CheckedRows() const;

  QTreeWidget* List;

 private:
  void SetAll(bool checked);
};
