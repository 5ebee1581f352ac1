#pragma once
// The unzip page's queue controls: picking a queued archive, removing queued archives, moving the
// shown archive onto the queue, saving a copy of it, and starting the sibling program.
#include <QObject>

class TTandorForm;

class TQueueButtons : public QObject {
  Q_OBJECT
 public:
  explicit TQueueButtons(TTandorForm& form);

  // Item i of the queue box was picked.
  void ComboBoxChange(int i);
  void CLRButtonClick();
  void SaveQueueButtonClick();
  // "B": every queued archive onto the batch page's list, then that page.
  void MoveBatchButtonClick();
  void SaveUnzipFileButtonClick();
  void SpiderButtonClick();

 private:
  TTandorForm& form_;
};
