// The page's job runner: the job runs on a worker, its progress, messages and end arrive on the
// thread of the runner, cancel reaches the job, and a runner destroyed mid-run stops it first.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <thread>

#include "ops/Job.h"
#include "pages/common/JobRunner.h"

namespace {

// A job that reports progress until cancelled (or `steps` are done), then a warning.
class TStepJob : public TJob {
 public:
  explicit TStepJob(int steps) : steps_(steps) {}
  const char* Name() const override { return "steps"; }
  std::atomic<bool> ranOnMain{true};

 protected:
  TStatus Execute(TJobContext& ctx) override {
    ranOnMain = QThread::currentThread() == QCoreApplication::instance()->thread();
    for (int i = 1; i <= steps_; ++i) {
      if (ctx.Cancelled()) return TStatus::Cancelled();
      ctx.Progress(static_cast<uint64_t>(i), static_cast<uint64_t>(steps_), "step");
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ctx.Message(TStatus::Warning("done with a remark"));
    return {};
  }

 private:
  int steps_;
};

bool OnMainThread() { return QThread::currentThread() == QCoreApplication::instance()->thread(); }

}  // namespace

TEST(JobRunner, CallbacksArriveOnTheRunnersThread) {
  TJobRunner runner;
  auto job = std::make_unique<TStepJob>(50);
  TStepJob* raw = job.get();
  uint64_t last = 0;
  bool progressOnMain = true, messageOnMain = false, finishedOnMain = false;
  std::string message;
  int finished = 0;
  ASSERT_TRUE(runner.Start(
      std::move(job),
      [&](const TJobProgress& p) {
        progressOnMain = progressOnMain && OnMainThread();
        EXPECT_GE(p.Done, last) << "progress never goes back";
        last = p.Done;
      },
      [&](const TStatus& s) {
        messageOnMain = OnMainThread();
        message = s.Message();
      },
      [&](const TJobResult& r) {
        finishedOnMain = OnMainThread();
        ++finished;
        EXPECT_EQ(message, "done with a remark") << "messages come before the end";
        EXPECT_EQ(r.Status.Code(), TStatusCode::Warning);
      }));
  EXPECT_TRUE(runner.Running());
  EXPECT_FALSE(runner.Start(std::make_unique<TStepJob>(1))) << "one job at a time";
  const TJobResult r = runner.Wait();
  EXPECT_FALSE(runner.Running());
  EXPECT_EQ(finished, 1);
  EXPECT_FALSE(raw->ranOnMain);
  EXPECT_TRUE(progressOnMain);
  EXPECT_TRUE(messageOnMain);
  EXPECT_TRUE(finishedOnMain);
  EXPECT_EQ(r.Warnings, std::vector<std::string>{"done with a remark"});
  EXPECT_LE(last, 50u);
  // The runner takes the next job once the first has ended.
  ASSERT_TRUE(runner.Start(std::make_unique<TStepJob>(3)));
  EXPECT_EQ(runner.Wait().Status.Code(), TStatusCode::Warning);
}

TEST(JobRunner, CancelAndDestroyWhileRunning) {
  TJobRunner runner;
  ASSERT_TRUE(runner.Start(std::make_unique<TStepJob>(1000000)));
  runner.Cancel();
  EXPECT_TRUE(runner.Wait().Status.IsCancelled());

  bool finished = false;
  {
    TJobRunner doomed;
    ASSERT_TRUE(doomed.Start(std::make_unique<TStepJob>(1000000), {}, {}, [&](const TJobResult&) { finished = true; }));
  }  // cancelled and joined here
  QCoreApplication::processEvents();
  EXPECT_FALSE(finished) << "no call reaches a runner that is gone";
}
