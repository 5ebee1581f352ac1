#pragma once
// Decompression of zip entry data: stored, deflate, bzip2 and LZMA, either whole-buffer
// (the entry fits in memory) or streaming. A decoder never produces more than the declared
// uncompressed size: more data than declared is an error, as is less.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace unzeng {

enum class TDecodeStatus {
  Ok,
  BadData,        // corrupt or truncated compressed data
  TooLong,        // the data decodes to more bytes than the entry declares
  TooShort,       // the data ends before the declared size
  Unsupported,    // no decoder for this method
  NoMemory,
};

const char* DecodeStatusText(TDecodeStatus s);

// Zip compression method numbers.
enum : uint16_t {
  MethodStored = 0,
  MethodDeflate = 8,
  MethodDeflate64 = 9,
  MethodBzip2 = 12,
  MethodLzma = 14,
  MethodAes = 99,
};

bool MethodSupported(uint16_t method);
std::string MethodName(uint16_t method);

// Decodes the complete compressed data `in` into `out`, which holds exactly the declared size.
// `lzmaEndMarker` is the entry's flag bit 1 (LZMA streams may end with an end marker).
TDecodeStatus DecodeWhole(uint16_t method, const uint8_t* in, size_t inLen, uint8_t* out, size_t outLen,
                          bool lzmaEndMarker);

// Incremental decoding for entries too large to hold in memory.
class TStreamDecoder {
 public:
  virtual ~TStreamDecoder() = default;
  // Consumes from `in` and produces into `out`. `inputEnd` tells that `in` holds the last input.
  // Sets `consumed`/`produced`; returns Ok while more is to come, sets `finished` at the stream end.
  virtual TDecodeStatus Step(const uint8_t* in, size_t inLen, size_t& consumed, uint8_t* out, size_t outLen,
                             size_t& produced, bool inputEnd, bool& finished) = 0;
};

// Null when the method has no decoder (the caller checks MethodSupported first).
std::unique_ptr<TStreamDecoder> MakeStreamDecoder(uint16_t method, uint64_t declaredSize, bool lzmaEndMarker);

}  // namespace unzeng
