#pragma once
// Rows of an archive listing made on a worker thread and handed to the unzip page in batches.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "pages/common/FileList.h"

// One batch of rows. A row's Icon holds the id of its extension (-1 when it has none); extension
// ids count up over the whole listing and NewExtensions names those first seen in this batch.
struct TRowBatch {
  std::vector<TListRow> Rows;
  std::vector<std::string> NewExtensions;
};

// Collects rows on the worker and posts them to the page's thread: a small first batch so that
// rows appear at once, then large ones, and at least every 100 ms. At most two batches wait on the
// page's thread at a time; the worker waits for the page rather than piling batches up, so the
// window handles its other events between any two batches.
class TRowSink {
 public:
  using TPost = std::function<void(std::function<void()>)>;  // runs a function on the page's thread, queued

  TRowSink(TPost post, std::function<void(std::shared_ptr<TRowBatch>)> deliver,
           std::function<void(int64_t)> total, std::function<void(int64_t)> progress,
           std::shared_ptr<std::atomic<bool>> cancel);

  // The number of rows to expect (the progress bar's maximum).
  void SetTotal(int64_t total);
  // Adds a row; its Icon is set from the extension of its File text.
  void Add(TListRow&& row);
  // Posts what is collected.
  void Flush();
  bool Cancelled() const { return cancel_ && cancel_->load(); }
  int64_t Count() const { return count_; }
  // Runs `f` on the page's thread after everything posted so far.
  void Post(std::function<void()> f) { post_(std::move(f)); }

 private:
  TPost post_;
  std::function<void(std::shared_ptr<TRowBatch>)> deliver_;
  std::function<void(int64_t)> total_;
  std::function<void(int64_t)> progress_;
  std::shared_ptr<std::atomic<bool>> cancel_;
  std::shared_ptr<TRowBatch> batch_;
  std::unordered_map<std::string, int> extensionIds_;
  int64_t count_ = 0;
  size_t batchLimit_ = 2000;
  std::chrono::steady_clock::time_point lastPost_;

  struct TInFlight {
    std::mutex Lock;
    std::condition_variable Done;
    int Count = 0;
  };
  std::shared_ptr<TInFlight> inFlight_ = std::make_shared<TInFlight>();
  void WaitForRoom();
};
