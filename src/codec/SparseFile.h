#pragma once
// Big files with holes. Reading: the holes of a sparse file come back as zeros without being read, so
// no page of zeros is filled in the cache. Writing: runs of zero blocks are skipped by seeking, so that
// zeros cost no disk and a sparse file comes out sparse; the content reads back the same everywhere.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace codec {

class THoleReader {
 public:
  // `fd` stays owned by the caller. A file that is not sparse is read with plain positional reads.
  explicit THoleReader(int fd);
  // Reads up to `n` bytes at `offset` (fewer at a boundary between data and hole); 0 at the end, -1 with
  // errno set on failure.
  ssize_t ReadAt(void* buffer, size_t n, uint64_t offset);
  bool Sparse() const { return sparse_; }

 private:
  int fd_;
  bool sparse_ = false;
  uint64_t size_ = 0;
  uint64_t dataStart_ = 0, dataEnd_ = 0;  // a known run of data
};

class THoleWriter {
 public:
  // Blocks of this size, at offsets that are multiples of it, are left as holes when all zero.
  static constexpr size_t kBlock = 64 << 10;
  // `fd` is a new, empty file written from its current position (normally 0); it stays the caller's.
  explicit THoleWriter(int fd, uint64_t position = 0) : fd_(fd), pos_(position) {}
  ~THoleWriter();
  THoleWriter(const THoleWriter&) = delete;
  THoleWriter& operator=(const THoleWriter&) = delete;
  // Writes all `n` bytes (holes for zero blocks); false with errno set on failure.
  bool Write(const void* data, size_t n);
  // Writes what is staged and gives the file its full size when it ends in a hole; false with errno set
  // on failure.
  bool Finish();
  uint64_t Position() const { return pos_; }

 private:
  bool Put(const char* p, size_t n);
  bool Hole();
  bool Block(const char* p);
  int fd_;
  uint64_t pos_;  // file offset of the next byte (staged bytes included)
  bool holeAtEnd_ = false;
  // The start of a block whose end has not come yet: written or skipped once complete.
  char* stage_ = nullptr;
  size_t staged_ = 0;
};

// True when all `n` bytes are zero.
bool AllZero(const void* data, size_t n);

// Splits `n` bytes that go to file offset `pos` into runs to write and whole blocks of zeros at block
// offsets (THoleWriter::kBlock) to leave as holes, handed in order to `write(p, n)` and `skip(n)`.
// Stops with false as soon as one of them returns false.
template <class TWrite, class TSkip>
bool SplitZeroBlocks(const char* p, size_t n, uint64_t pos, TWrite write, TSkip skip) {
  constexpr size_t kBlock = THoleWriter::kBlock;
  const char* run = p;
  while (n > 0) {
    const uint64_t at = pos + static_cast<uint64_t>(p - run);
    const size_t k = static_cast<size_t>(kBlock - at % kBlock < n ? kBlock - at % kBlock : n);
    if (k == kBlock && AllZero(p, k)) {
      if (p > run && !write(run, static_cast<size_t>(p - run))) return false;
      pos += static_cast<uint64_t>(p - run) + kBlock;
      if (!skip(kBlock)) return false;
      run = p + k;
    }
    p += k;
    n -= k;
  }
  return p == run || write(run, static_cast<size_t>(p - run));
}

}  // namespace codec
