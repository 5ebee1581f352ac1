#pragma once
// Runs one job of the operations layer on a worker thread for the batch page; its end arrives on
// the page's thread as one call. The page reads the job's progress itself from its timer.
#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "ops/Job.h"

class TBatchWorker : public QObject {
 public:
  using TFinishedFn = std::function<void(const TJobResult&)>;

  explicit TBatchWorker(QObject* parent = nullptr) : QObject(parent) {}
  // Cancels a running job and waits for it, the event loop running meanwhile (a question of the job
  // may be waiting for this thread).
  ~TBatchWorker() override;

  // Starts `job`; false while another runs.
  bool Start(std::unique_ptr<TJob> job, TFinishedFn onFinished);
  void Cancel();
  bool Running() const { return running_.load(); }

 private:
  std::unique_ptr<TJob> job_;
  std::thread worker_;
  std::atomic<bool> running_{false}, workerDone_{true};
  TFinishedFn onFinished_;
};
