#pragma once
// TJobRunner: runs one job of the operations layer on a worker thread for a page. The job gets all
// its inputs in its parameter record before it starts; the worker never touches a widget. Progress
// and messages reach the runner's thread queued (progress coalesced: only the latest waits), the
// end arrives there as one call. Questions go through the job's Questions, by default the prompt
// service, which carries them to the user-interface thread and back. Entry callbacks (listing) run
// on the worker: hand them to something made for it, such as TRowSink.
#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "ops/Job.h"

class QEventLoop;

class TJobRunner : public QObject {
 public:
  using TProgressFn = std::function<void(const TJobProgress&)>;
  using TMessageFn = std::function<void(const TStatus&)>;
  using TFinishedFn = std::function<void(const TJobResult&)>;

  explicit TJobRunner(QObject* parent = nullptr);
  // Cancels a running job and waits for it, the event loop running meanwhile.
  ~TJobRunner() override;

  // Starts `job` on a worker; false (and nothing started) while another runs. The functions run on
  // this object's thread; any may be empty.
  bool Start(std::unique_ptr<TJob> job, TProgressFn onProgress = {}, TMessageFn onMessage = {},
             TFinishedFn onFinished = {});
  // Asks the running job to stop. Any thread.
  void Cancel();
  bool Running() const { return running_.load(); }
  // Runs the event loop until the job has ended (and onFinished has run); returns its result.
  TJobResult Wait();
  // The job last started (kept until the next Start).
  TJob* Job() const { return job_.get(); }
  const TJobResult& Result() const { return result_; }

 private:
  void Finish();

  std::unique_ptr<TJob> job_;
  std::thread worker_;
  std::atomic<bool> running_{false};
  std::atomic<bool> workerDone_{true};
  TProgressFn onProgress_;
  TMessageFn onMessage_;
  TFinishedFn onFinished_;
  std::mutex progressMutex_;
  TJobProgress pendingProgress_;
  bool progressPosted_ = false;
  TJobResult result_;
  QEventLoop* waitLoop_ = nullptr;
};
