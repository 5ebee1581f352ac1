#include "pages/unzip/RowSink.h"

namespace {
constexpr size_t kLargeBatch = 50000;
constexpr auto kMaxBatchAge = std::chrono::milliseconds(100);
constexpr int kMaxBatchesInFlight = 2;
}  // namespace

TRowSink::TRowSink(TPost post, std::function<void(std::shared_ptr<TRowBatch>)> deliver,
                   std::function<void(int64_t)> total, std::function<void(int64_t)> progress,
                   std::shared_ptr<std::atomic<bool>> cancel)
    : post_(std::move(post)),
      deliver_(std::move(deliver)),
      total_(std::move(total)),
      progress_(std::move(progress)),
      cancel_(std::move(cancel)),
      batch_(std::make_shared<TRowBatch>()),
      lastPost_(std::chrono::steady_clock::now()) {}

void TRowSink::SetTotal(int64_t total) {
  batch_->Rows.reserve(static_cast<size_t>(std::min<int64_t>(total, static_cast<int64_t>(batchLimit_))));
  post_([f = total_, total] { f(total); });
}

void TRowSink::Add(TListRow&& row) {
  const qsizetype dot = row.File.lastIndexOf('.');
  const std::string ext = dot < 0 ? std::string() : row.File.mid(dot).toLower().toStdString();
  if (ext.empty()) {
    row.Icon = -1;
  } else {
    auto [it, added] = extensionIds_.try_emplace(ext, static_cast<int>(extensionIds_.size()));
    if (added) batch_->NewExtensions.push_back(ext);
    row.Icon = it->second;
  }
  batch_->Rows.push_back(std::move(row));
  ++count_;
  if (batch_->Rows.size() >= batchLimit_ ||
      ((count_ & 1023) == 0 && std::chrono::steady_clock::now() - lastPost_ > kMaxBatchAge))
    Flush();
}

void TRowSink::Flush() {
  if (batch_->Rows.empty() && batch_->NewExtensions.empty()) return;
  auto batch = std::move(batch_);
  batch_ = std::make_shared<TRowBatch>();
  batchLimit_ = kLargeBatch;
  batch_->Rows.reserve(kLargeBatch);
  const int64_t done = count_;
  WaitForRoom();
  post_([deliver = deliver_, progress = progress_, batch, done, inFlight = inFlight_] {
    deliver(batch);
    progress(done);
    {
      std::lock_guard<std::mutex> hold(inFlight->Lock);
      --inFlight->Count;
    }
    inFlight->Done.notify_one();
  });
  lastPost_ = std::chrono::steady_clock::now();
}

void TRowSink::WaitForRoom() {
  std::unique_lock<std::mutex> hold(inFlight_->Lock);
  // A cancelled listing still posts what it has; the wait ends then without room.
  while (inFlight_->Count >= kMaxBatchesInFlight && !Cancelled())
    inFlight_->Done.wait_for(hold, std::chrono::milliseconds(50));
  ++inFlight_->Count;
}
