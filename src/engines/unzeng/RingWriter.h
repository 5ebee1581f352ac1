#pragma once
// The writing side of a streamed entry: the decoder fills buffers of a small ring and goes on while a
// thread of its own computes the CRC-32 and writes them out, leaving blocks of zeros as holes. Memory
// stays the ring's whatever the entry's size.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "safeout/OutputFile.h"

namespace unzeng {

class TRingWriter {
 public:
  static constexpr size_t kSlotSize = size_t(1) << 20;
  static constexpr int kSlots = 4;

  // `out` null: only the CRC is computed (testing an archive).
  explicit TRingWriter(safeout::TOutputFile* out);
  ~TRingWriter();  // stops the thread; what was not written stays unwritten
  TRingWriter(const TRingWriter&) = delete;
  TRingWriter& operator=(const TRingWriter&) = delete;

  // A free buffer of kSlotSize bytes to fill; waits while all are being written. Null after a failure
  // of the writing thread (see Finish).
  uint8_t* Acquire();
  // Hands the `n` first bytes of the buffer from Acquire to the writing thread.
  void Publish(size_t n);
  // Waits until everything handed over is written; false with `error` set when a write failed.
  bool Finish(std::string& error);
  // CRC-32 of everything written (after Finish).
  uint32_t Crc() const { return crc_; }

 private:
  void Run();
  bool WriteOut(const uint8_t* p, size_t n);

  safeout::TOutputFile* out_;
  std::vector<std::unique_ptr<uint8_t[]>> slots_;
  std::vector<size_t> lens_;
  int nextFill_ = 0, nextDrain_ = 0, filled_ = 0;
  bool acquired_ = false, stop_ = false, failed_ = false;
  std::string error_;
  uint32_t crc_ = 0;
  uint64_t written_ = 0;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::thread thread_;
};

}  // namespace unzeng
