#include "tar/PathPrefetch.h"

#include <unistd.h>

#include <cerrno>

#include "tar/TarLib.h"

TPathPrefetch::TPathPrefetch(std::vector<std::string> paths, size_t ahead)
    : paths_(std::move(paths)), ahead_(ahead < 8 ? 8 : ahead) {
  thread_ = std::thread([this] { Run(); });
}

TPathPrefetch::~TPathPrefetch() { Stop(); }

void TPathPrefetch::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  consumed_.notify_all();
  if (thread_.joinable()) thread_.join();
  for (const auto& r : ready_)
    if (r.Fd >= 0) ::close(r.Fd);
  ready_.clear();
}

// Reads the whole (small) file with one read into a buffer used before, and closes it.
void TPathPrefetch::Load(TPrefetchedPath& r) {
  {
    std::lock_guard lock(mutex_);
    if (!spare_.empty()) {
      r.Data = std::move(spare_.back());
      spare_.pop_back();
    }
  }
  const size_t want = static_cast<size_t>(r.Status.stx_size);
  if (r.Data.capacity() < kPrefetchReadLimit) r.Data.reserve(kPrefetchReadLimit);
  r.Data.resize(want);
  size_t got = 0;
  while (got < want) {
    ssize_t n = ::read(r.Fd, r.Data.data() + got, want - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) r.ReadError = errno;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  r.Data.resize(got);
  r.Loaded = true;
  ::close(r.Fd);
  r.Fd = -1;
}

void TPathPrefetch::Run() {
  TFolderCache folders;
  std::string leaf;
  std::vector<TPrefetchedPath> batch;
  for (size_t i = 0; i < paths_.size();) {
    // Up to a quarter of the window at a time: one lock and at most one wake-up per batch.
    size_t room;
    {
      std::unique_lock lock(mutex_);
      producerWaits_ = true;
      consumed_.wait(lock, [&] { return stop_ || ready_.size() + ahead_ / 4 <= ahead_; });
      producerWaits_ = false;
      if (stop_) return;
      room = ahead_ - ready_.size();
    }
    batch.clear();
    for (size_t k = 0; k < room && k < ahead_ / 4 && i < paths_.size(); ++k, ++i) {
      TPrefetchedPath r;
      int dir = folders.Parent(paths_[i], leaf);
      if (::statx(dir, leaf.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_BASIC_STATS, &r.Status) != 0) {
        r.StatError = errno;
      } else if (S_ISREG(r.Status.stx_mode)) {
        r.Fd = ::openat(dir, leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
        if (r.Fd < 0) r.OpenError = errno;
        else if (r.Status.stx_size <= kPrefetchReadLimit) Load(r);
      }
      batch.push_back(std::move(r));
    }
    bool wake;
    {
      std::lock_guard lock(mutex_);
      if (stop_) {
        for (const auto& r : batch)
          if (r.Fd >= 0) ::close(r.Fd);
        return;
      }
      for (auto& r : batch) ready_.push_back(std::move(r));
      if (i == paths_.size()) done_ = true;
      wake = consumerWaits_;
    }
    if (wake) produced_.notify_one();
  }
  std::lock_guard lock(mutex_);
  done_ = true;
  if (consumerWaits_) produced_.notify_one();
}

bool TPathPrefetch::Take(const std::string& path, TPrefetchedPath& out) {
  if (next_ >= paths_.size()) return false;
  if (paths_[next_] != path) {
    next_ = paths_.size();
    Stop();
    return false;
  }
  bool wake;
  {
    std::unique_lock lock(mutex_);
    consumerWaits_ = true;
    produced_.wait(lock, [&] { return !ready_.empty() || done_; });
    consumerWaits_ = false;
    if (ready_.empty()) return false;
    if (out.Data.capacity() >= kPrefetchReadLimit && spare_.size() < ahead_) spare_.push_back(std::move(out.Data));
    out = std::move(ready_.front());
    ready_.pop_front();
    wake = producerWaits_ && ready_.size() + ahead_ / 4 <= ahead_;
  }
  if (wake) consumed_.notify_one();
  ++next_;
  return true;
}
