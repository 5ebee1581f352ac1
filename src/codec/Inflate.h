#pragma once
// Streaming inflate of raw deflate data: ISA-L when the build has it, zlib otherwise. Memory stays
// constant whatever the size of the stream.
#include <cstddef>
#include <cstdint>
#include <memory>

namespace codec {

enum class TInflateStatus {
  Ok,       // more to come: give more input or more room
  End,      // the stream is complete
  BadData,  // not a valid deflate stream
};

class TInflater {
 public:
  TInflater();
  ~TInflater();
  TInflater(const TInflater&) = delete;
  TInflater& operator=(const TInflater&) = delete;

  // Starts a new stream.
  void Reset();
  // Consumes input from `in` and writes output to `out`; `consumed`/`produced` tell how much.
  TInflateStatus Step(const uint8_t* in, size_t inLen, size_t& consumed, uint8_t* out, size_t outLen,
                      size_t& produced);
  // After End: input bytes counted as consumed that lie after the stream's end (at most 8), copied into
  // `bytes`, oldest first. The caller reads them again as what follows the stream.
  size_t TakeBack(uint8_t bytes[8]);
  // The name of the library doing the work ("ISA-L" or "zlib").
  static const char* Backend();

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

}  // namespace codec
