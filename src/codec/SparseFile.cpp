#include "codec/SparseFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace codec {

bool AllZero(const void* data, size_t n) {
  const auto* p = static_cast<const unsigned char*>(data);
  while (n > 0 && (reinterpret_cast<uintptr_t>(p) & 7)) {
    if (*p++) return false;
    --n;
  }
  while (n >= 64) {
    uint64_t w[8];
    std::memcpy(w, p, 64);
    if (w[0] | w[1] | w[2] | w[3] | w[4] | w[5] | w[6] | w[7]) return false;
    p += 64;
    n -= 64;
  }
  while (n > 0) {
    if (*p++) return false;
    --n;
  }
  return true;
}

THoleReader::THoleReader(int fd) : fd_(fd) {
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    size_ = static_cast<uint64_t>(st.st_size);
    // Fewer blocks than the size needs: there are holes worth skipping.
    sparse_ = st.st_size >= (1 << 20) && static_cast<uint64_t>(st.st_blocks) * 512 < size_;
  }
}

ssize_t THoleReader::ReadAt(void* buffer, size_t n, uint64_t offset) {
  if (!sparse_ || (offset >= dataStart_ && offset < dataEnd_)) {
    if (sparse_) n = static_cast<size_t>(std::min<uint64_t>(n, dataEnd_ - offset));
    for (;;) {
      ssize_t r = ::pread(fd_, buffer, n, static_cast<off_t>(offset));
      if (r < 0 && errno == EINTR) continue;
      return r;
    }
  }
  off_t data = ::lseek(fd_, static_cast<off_t>(offset), SEEK_DATA);
  if (data < 0) {
    if (errno != ENXIO) return -1;
    if (offset >= size_) {  // at the end (or beyond the size seen at the start)
      dataStart_ = offset;
      dataEnd_ = UINT64_MAX;
      return ReadAt(buffer, n, offset);
    }
    data = static_cast<off_t>(size_);  // a hole up to the end
  }
  if (static_cast<uint64_t>(data) > offset) {
    size_t k = static_cast<size_t>(std::min<uint64_t>(n, static_cast<uint64_t>(data) - offset));
    std::memset(buffer, 0, k);
    return static_cast<ssize_t>(k);
  }
  off_t hole = ::lseek(fd_, static_cast<off_t>(offset), SEEK_HOLE);
  if (hole < 0) return -1;
  dataStart_ = offset;
  dataEnd_ = static_cast<uint64_t>(hole);
  if (dataEnd_ <= offset) dataEnd_ = offset + n;  // a file that changed meanwhile: read plainly
  return ReadAt(buffer, n, offset);
}

THoleWriter::~THoleWriter() { delete[] stage_; }

// Writes at the current file position (after any hole skipped before).
bool THoleWriter::Put(const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd_, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  holeAtEnd_ = false;
  return true;
}

// Leaves a block unwritten.
bool THoleWriter::Hole() {
  if (::lseek(fd_, static_cast<off_t>(kBlock), SEEK_CUR) < 0) return false;
  holeAtEnd_ = true;
  return true;
}

// One whole block at a block boundary: skipped when all zero.
bool THoleWriter::Block(const char* p) { return AllZero(p, kBlock) ? Hole() : Put(p, kBlock); }

bool THoleWriter::Write(const void* data, size_t n) {
  const char* p = static_cast<const char*>(data);
  // Bytes up to the next block boundary: they complete the staged start of a block, or are written at
  // once in a block that began before this writer (a start off a boundary).
  if (pos_ % kBlock != 0 && n > 0) {
    size_t k = static_cast<size_t>(std::min<uint64_t>(n, kBlock - pos_ % kBlock));
    if (staged_ > 0) {
      std::memcpy(stage_ + staged_, p, k);
      staged_ += k;
      if (staged_ == kBlock) {
        staged_ = 0;
        if (!Block(stage_)) return false;
      }
    } else if (!Put(p, k)) {
      return false;
    }
    pos_ += k;
    p += k;
    n -= k;
  }
  // Whole blocks: zero ones skipped, the others written in runs.
  const size_t whole = n / kBlock * kBlock;
  if (!SplitZeroBlocks(
          p, whole, pos_, [this](const char* q, size_t k) { return Put(q, k); },
          [this](size_t) { return Hole(); }))
    return false;
  pos_ += whole;
  p += whole;
  n -= whole;
  // The start of the next block waits for the rest of it.
  if (n > 0) {
    if (!stage_) stage_ = new char[kBlock];
    std::memcpy(stage_, p, n);
    staged_ = n;
    pos_ += n;
  }
  return true;
}

bool THoleWriter::Finish() {
  if (staged_ > 0) {
    size_t n = staged_;
    staged_ = 0;
    if (!Put(stage_, n)) return false;
  }
  if (!holeAtEnd_) return true;
  while (::ftruncate(fd_, static_cast<off_t>(pos_)) != 0) {
    if (errno != EINTR) return false;
  }
  holeAtEnd_ = false;
  return true;
}

}  // namespace codec
