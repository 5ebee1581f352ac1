#pragma once
// The folder-adding window: runs a folder scan on TAddFolderThread while it waits modally, shows the
// folder being searched, the file being looked at and the number collected, and offers STOP.
#include <QDialog>
#include <QTimer>
#include <optional>
#include <thread>
#include <vector>

#include "pages/create/CreateList.h"

class QLabel;
class QPushButton;

// The scan worker: gets its settings when it starts, writes only into the shared results, and is
// joined (not merely waited for) so that everything it wrote is visible once Wait returns.
class TAddFolderThread {
 public:
  TAddFolderThread(createlist::TScanSpec spec, createlist::TScanResults& results);
  ~TAddFolderThread() { Wait(); }
  TAddFolderThread(const TAddFolderThread&) = delete;
  TAddFolderThread& operator=(const TAddFolderThread&) = delete;
  void Wait() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::thread thread_;
};

class TAddFolderForm : public QDialog {
  Q_OBJECT
 public:
  TAddFolderForm(createlist::TScanSpec spec, QWidget* parent = nullptr);
  ~TAddFolderForm() override;

  // Rows and undo entries collected by the scan, in scan order; complete once the window closed.
  std::vector<TListRow> Rows;
  std::vector<UndoEntryRec> Undo;
  int64_t Total() const { return results_.Total(); }
  const createlist::TScanResults& Results() const { return results_; }

  QLabel* MaskLabel;
  QLabel* FolderLabel;  // the folder being searched
  QLabel* FileLabel;    // the file being looked at
  QLabel* CountLabel;   // files collected
  QPushButton* StopButton;

  void StopButtonClick();

 protected:
  void showEvent(QShowEvent* e) override;
  void reject() override {}  // closes only when the scan has ended

 private:
  void TimerTimer();
  void TakeBatch();
  createlist::TScanSpec spec_;
  createlist::TScanResults results_;
  std::optional<TAddFolderThread> worker_;
  QTimer timer_;
};
