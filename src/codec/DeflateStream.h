#pragma once
// One raw deflate stream made of pieces compressed independently, on as many threads as there are
// processors. A piece that is not the last ends byte-aligned on an empty stored block, with its final-block
// bit cleared, so pieces simply follow each other; the last piece ends the stream. Levels 1-3 go through
// ISA-L (with the 32 KiB before the piece as dictionary), levels 4-9 through libdeflate, 0 stores.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace codec {

// Input bytes per piece of the parallel stream.
constexpr size_t kDeflatePiece = size_t(4) << 20;
// Bytes before a piece that levels with a dictionary use.
constexpr size_t kDeflateDictionary = 32768;

// The libdeflate level that gives output no larger than zlib's at `level` (4..9), measured on mixed
// text, binary and packed data.
int LibdeflateLevel(int level);
// True when `level` is compressed by ISA-L in this build.
bool UsesIsal(int level);

// Already-compressed data (pictures, archives, random bytes): eight samples spread over the input,
// none of which deflates by 1%. False for inputs under 256 KiB.
bool LooksIncompressible(const uint8_t* in, size_t n);

// Compresses `n` bytes at `in` as one piece of a stream (see above) and appends it to `out`; a piece
// that looks incompressible is stored without a full attempt. `dict` holds
// up to 32 KiB of input just before the piece (may be empty). Throws std::bad_alloc when memory runs out.
void DeflatePiece(int level, const uint8_t* dict, size_t dictLen, const uint8_t* in, size_t n, bool last,
                  std::string& out);

// CRC-32 as zip and gzip use it, and the CRC of two runs joined.
uint32_t Crc32(uint32_t crc, const void* data, size_t n);
uint32_t Crc32Combine(uint32_t first, uint32_t second, uint64_t secondLength);

// Compresses everything written into one raw deflate stream handed to `sink` in order, on the calling
// thread. Exceptions of the sink pass through Write and Finish.
class TParallelDeflate {
 public:
  using TSink = std::function<void(const char* data, size_t n)>;
  // `threads` 0 = one per processor.
  TParallelDeflate(int level, TSink sink, unsigned threads = 0, size_t pieceSize = kDeflatePiece);
  ~TParallelDeflate();
  TParallelDeflate(const TParallelDeflate&) = delete;
  TParallelDeflate& operator=(const TParallelDeflate&) = delete;

  void Write(const void* data, size_t n);
  // Ends the stream; once.
  void Finish();

  uint32_t Crc() const;
  uint64_t BytesIn() const;
  uint64_t BytesOut() const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

}  // namespace codec
