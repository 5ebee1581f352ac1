#include "pages/batch/BatchWorker.h"

#include <QCoreApplication>

TBatchWorker::~TBatchWorker() {
  onFinished_ = {};
  Cancel();
  while (!workerDone_.load()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  if (worker_.joinable()) worker_.join();
}

bool TBatchWorker::Start(std::unique_ptr<TJob> job, TFinishedFn onFinished) {
  if (running_.load() || !job) return false;
  if (worker_.joinable()) worker_.join();
  job_ = std::move(job);
  onFinished_ = std::move(onFinished);
  running_ = true;
  workerDone_ = false;
  TJob* j = job_.get();
  worker_ = std::thread([this, j] {
    TJobResult r = j->Run();
    QMetaObject::invokeMethod(
        this,
        [this, r = std::move(r)] {
          if (worker_.joinable()) worker_.join();
          running_ = false;
          if (onFinished_) onFinished_(r);
        },
        Qt::QueuedConnection);
    workerDone_ = true;
  });
  return true;
}

void TBatchWorker::Cancel() {
  if (running_.load() && job_) job_->Cancel();
}
