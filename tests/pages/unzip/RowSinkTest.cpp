// Rows made on a worker reach the page complete and in order, and the worker never gets more than two
// batches ahead of the page, however slowly the page takes them.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "pages/unzip/RowSink.h"

namespace {

// Stands in for the page's thread: posted functions wait in a queue until Drain runs them.
class TPageQueue {
 public:
  void Post(std::function<void()> f) {
    std::lock_guard<std::mutex> hold(lock_);
    queue_.push_back(std::move(f));
    most_ = std::max(most_, queue_.size());
    posted_.notify_all();
  }
  // Runs one posted function; false when none came within a second.
  bool RunOne() {
    std::function<void()> f;
    {
      std::unique_lock<std::mutex> hold(lock_);
      if (!posted_.wait_for(hold, std::chrono::seconds(1), [&] { return !queue_.empty(); })) return false;
      f = std::move(queue_.front());
      queue_.pop_front();
    }
    f();
    return true;
  }
  size_t Most() {
    std::lock_guard<std::mutex> hold(lock_);
    return most_;
  }

 private:
  std::mutex lock_;
  std::condition_variable posted_;
  std::deque<std::function<void()>> queue_;
  size_t most_ = 0;
};

TListRow Row(int i) {
  TListRow r;
  r.File = QString("file%1.%2").arg(i).arg(i % 3 == 0 ? "txt" : "bin");
  r.SizeValue = i;
  return r;
}

}  // namespace

TEST(RowSinkTest, RowsArriveInOrderWithAtMostTwoBatchesWaiting) {
  TPageQueue page;
  std::vector<TListRow> received;
  std::vector<std::string> extensions;
  std::vector<size_t> batchSizes;
  int64_t lastProgress = 0;
  std::atomic<bool> finished{false};
  constexpr int kRows = 230000;

  std::thread worker([&] {
    TRowSink sink([&](std::function<void()> f) { page.Post(std::move(f)); },
                  [&](std::shared_ptr<TRowBatch> b) {
                    batchSizes.push_back(b->Rows.size());
                    for (auto& e : b->NewExtensions) extensions.push_back(e);
                    for (auto& r : b->Rows) received.push_back(std::move(r));
                  },
                  [](int64_t) {}, [&](int64_t done) { lastProgress = done; }, nullptr);
    sink.SetTotal(kRows);
    for (int i = 0; i < kRows; ++i) sink.Add(Row(i));
    sink.Flush();
    sink.Post([&] { finished = true; });
  });
  // A slow page: the worker has long finished making rows by the time the first batch is taken.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  while (!finished) ASSERT_TRUE(page.RunOne()) << "the worker stopped posting";
  worker.join();

  // Two batches plus the progress maximum at most were ever waiting.
  EXPECT_LE(page.Most(), 3u);
  ASSERT_EQ(received.size(), static_cast<size_t>(kRows));
  for (int i = 0; i < kRows; ++i) ASSERT_EQ(received[static_cast<size_t>(i)].SizeValue, i) << "row " << i;
  EXPECT_EQ(lastProgress, kRows);
  EXPECT_LT(batchSizes.front(), 50000u) << "a small first batch so rows show at once";
  EXPECT_EQ(extensions, (std::vector<std::string>{".txt", ".bin"}));
  EXPECT_EQ(received[1].Icon, 1);  // ".bin" is the second extension seen
  EXPECT_EQ(received[3].Icon, 0);
}

TEST(RowSinkTest, CancelFreesAWorkerWaitingForThePage) {
  TPageQueue page;
  auto cancel = std::make_shared<std::atomic<bool>>(false);
  std::atomic<bool> done{false};
  std::thread worker([&] {
    TRowSink sink([&](std::function<void()> f) { page.Post(std::move(f)); }, [](std::shared_ptr<TRowBatch>) {},
                  [](int64_t) {}, [](int64_t) {}, cancel);
    for (int i = 0; i < 300000 && !sink.Cancelled(); ++i) sink.Add(Row(i));
    sink.Flush();
    done = true;
  });
  // Nobody takes the batches; the worker must wait, then end once cancelled.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(done) << "the worker ran ahead of a page that took nothing";
  *cancel = true;
  worker.join();
  EXPECT_TRUE(done);
}
