#include "RingWriter.h"

#include <libdeflate.h>

#include "codec/SparseFile.h"

namespace unzeng {

TRingWriter::TRingWriter(safeout::TOutputFile* out) : out_(out), lens_(kSlots, 0) {
  for (int i = 0; i < kSlots; ++i) slots_.emplace_back(new uint8_t[kSlotSize]);
  thread_ = std::thread([this] { Run(); });
}

TRingWriter::~TRingWriter() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  cv_.notify_all();
  thread_.join();
}

uint8_t* TRingWriter::Acquire() {
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait(lock, [&] { return failed_ || filled_ < kSlots; });
  if (failed_) return nullptr;
  acquired_ = true;
  return slots_[nextFill_].get();
}

void TRingWriter::Publish(size_t n) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!acquired_) return;
    acquired_ = false;
    lens_[nextFill_] = n;
    nextFill_ = (nextFill_ + 1) % kSlots;
    ++filled_;
  }
  cv_.notify_all();
}

bool TRingWriter::Finish(std::string& error) {
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait(lock, [&] { return failed_ || filled_ == 0; });
  if (failed_) error = error_;
  return !failed_;
}

// Whole zero blocks at block offsets of the file become holes; the rest is written in runs.
bool TRingWriter::WriteOut(const uint8_t* p, size_t n) {
  const bool ok = codec::SplitZeroBlocks(
      reinterpret_cast<const char*>(p), n, written_,
      [this](const char* q, size_t k) {
        safeout::TResult r = out_->Write(q, k);
        if (!r) error_ = r.text;
        return r.Ok();
      },
      [this](size_t k) {
        safeout::TResult r = out_->Skip(k);
        if (!r) error_ = r.text;
        return r.Ok();
      });
  written_ += n;
  return ok;
}

void TRingWriter::Run() {
  for (;;) {
    int slot;
    size_t n;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      cv_.wait(lock, [&] { return stop_ || filled_ > 0; });
      if (filled_ == 0 || failed_) return;
      slot = nextDrain_;
      n = lens_[slot];
    }
    const uint8_t* p = slots_[slot].get();
    crc_ = static_cast<uint32_t>(libdeflate_crc32(crc_, p, n));
    bool ok = !out_ || WriteOut(p, n);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      nextDrain_ = (nextDrain_ + 1) % kSlots;
      --filled_;
      if (!ok) failed_ = true;
    }
    cv_.notify_all();
  }
}

}  // namespace unzeng
