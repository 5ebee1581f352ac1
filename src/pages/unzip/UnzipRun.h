#pragma once
// The worker thread of an extraction run: it frees itself when the run ends.
#include <QThread>

class TUnzipPage;

class Tunzipthread : public QThread {
  Q_OBJECT
 public:
  Tunzipthread(TUnzipPage& page, QObject* sender);

 protected:
  void run() override;

 private:
  TUnzipPage& page_;
  QObject* sender_;
};
