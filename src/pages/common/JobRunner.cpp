#include "pages/common/JobRunner.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <chrono>

TJobRunner::TJobRunner(QObject* parent) : QObject(parent) {}

TJobRunner::~TJobRunner() {
  // Nothing is called back any more; the job is stopped and waited for.
  onProgress_ = {};
  onMessage_ = {};
  onFinished_ = {};
  Cancel();
  // The worker may wait for this thread (a question, a queued call): deliver queued calls, and only
  // those. The runner often dies with its page, while widgets around it are being destroyed, and
  // other events (polishing, layout) must not reach them then.
  while (!workerDone_.load()) {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (worker_.joinable()) worker_.join();
}

bool TJobRunner::Start(std::unique_ptr<TJob> job, TProgressFn onProgress, TMessageFn onMessage, TFinishedFn onFinished) {
  if (running_.load() || !job) return false;
  if (worker_.joinable()) worker_.join();
  job_ = std::move(job);
  onProgress_ = std::move(onProgress);
  onMessage_ = std::move(onMessage);
  onFinished_ = std::move(onFinished);
  result_ = TJobResult();
  progressPosted_ = false;
  const bool wantProgress = static_cast<bool>(onProgress_), wantMessages = static_cast<bool>(onMessage_);
  job_->OnProgress = [this, wantProgress](const TJobProgress& p) {
    if (!wantProgress) return;
    std::lock_guard lock(progressMutex_);
    pendingProgress_ = p;
    if (progressPosted_) return;
    progressPosted_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
          TJobProgress latest;
          {
            std::lock_guard inner(progressMutex_);
            latest = pendingProgress_;
            progressPosted_ = false;
          }
          if (running_.load() && onProgress_) onProgress_(latest);
        },
        Qt::QueuedConnection);
  };
  job_->OnMessage = [this, wantMessages](const TStatus& s) {
    if (!wantMessages) return;
    QMetaObject::invokeMethod(this, [this, s] { if (onMessage_) onMessage_(s); }, Qt::QueuedConnection);
  };
  running_ = true;
  workerDone_ = false;
  TJob* j = job_.get();
  worker_ = std::thread([this, j] {
    TJobResult r = j->Run();
    QMetaObject::invokeMethod(
        this,
        [this, r = std::move(r)] {
          result_ = r;
          Finish();
        },
        Qt::QueuedConnection);
    workerDone_ = true;
  });
  return true;
}

void TJobRunner::Finish() {
  if (worker_.joinable()) worker_.join();
  running_ = false;
  if (onFinished_) onFinished_(result_);
  if (waitLoop_) waitLoop_->quit();
}

void TJobRunner::Cancel() {
  if (running_.load() && job_) job_->Cancel();
}

TJobResult TJobRunner::Wait() {
  if (running_.load()) {
    QEventLoop loop;
    waitLoop_ = &loop;
    if (running_.load()) loop.exec();
    waitLoop_ = nullptr;
  }
  return result_;
}
