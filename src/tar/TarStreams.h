#pragma once
// Byte streams under the tar and gzip classes: plain files with large buffers, errors as exceptions.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "codec/SparseFile.h"

// A byte buffer whose contents start uninitialised, so that no page is touched before it is used.
// resize() discards the contents.
template <typename T>
class TRawBuffer {
 public:
  explicit TRawBuffer(size_t n = 0) { resize(n); }
  void resize(size_t n) {
    p_.reset(n ? new T[n] : nullptr);
    n_ = n;
  }
  T* data() { return p_.get(); }
  const T* data() const { return p_.get(); }
  size_t size() const { return n_; }
  bool empty() const { return n_ == 0; }
  T& operator[](size_t i) { return p_[i]; }
  const T& operator[](size_t i) const { return p_[i]; }
  void swap(TRawBuffer& o) {
    p_.swap(o.p_);
    std::swap(n_, o.n_);
  }

 private:
  std::unique_ptr<T[]> p_;
  size_t n_ = 0;
};

// Failure of a tar or gzip stream (open, read, write, bad or truncated data).
class ETarError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A source of bytes read from front to back.
class TTarInput {
 public:
  virtual ~TTarInput() = default;
  // Reads up to `n` bytes; 0 only at the end. Throws ETarError on failure.
  virtual size_t Read(void* buffer, size_t n) = 0;
  // Moves forward `n` bytes (reading and discarding when the source cannot seek); returns bytes skipped.
  virtual uint64_t Skip(uint64_t n);
  // Offset of the next byte to be read.
  virtual int64_t Position() const = 0;
  // Total size in bytes, -1 when unknown.
  virtual int64_t Size() const { return -1; }
  // Jumps to an absolute offset; false when the source cannot seek.
  virtual bool Seek(int64_t offset) { return false; }
  // Offset in the underlying file for progress (for a decompressor: compressed bytes consumed).
  virtual int64_t SourcePosition() const { return Position(); }
  virtual int64_t SourceSize() const { return Size(); }
};

// A sink of bytes.
class TTarOutput {
 public:
  virtual ~TTarOutput() = default;
  // Writes all `n` bytes or throws ETarError.
  virtual void Write(const void* data, size_t n) = 0;
  // Pushes buffered bytes down and finishes the underlying stream; called once at the end.
  virtual void Close() {}
  // Copies up to `n` bytes from the current position of descriptor `fd` inside the kernel when the sink
  // can; returns the bytes copied (0 when not supported, the caller then copies itself).
  virtual uint64_t CopyFromFd(int fd, uint64_t n) { return 0; }
  // Room for `n` contiguous bytes to be filled in place, so that data is read straight into the sink's
  // buffer; null when the sink has no such room (the caller then uses Write). Commit takes `k` <= n of them.
  virtual char* Reserve(size_t n) { return nullptr; }
  virtual void Commit(size_t k) {}
};

// A plain file opened for reading (unbuffered reads: callers use large buffers). The holes of a sparse
// file are returned as zeros without being read.
class TFileInput : public TTarInput {
 public:
  explicit TFileInput(const std::string& path);
  ~TFileInput() override;
  size_t Read(void* buffer, size_t n) override;
  uint64_t Skip(uint64_t n) override;
  int64_t Position() const override { return pos_; }
  int64_t Size() const override { return size_; }
  bool Seek(int64_t offset) override;
  int Handle() const { return fd_; }

 private:
  std::string path_;
  int fd_ = -1;
  int64_t pos_ = 0;
  int64_t size_ = -1;
  bool seekable_ = false;
  std::unique_ptr<codec::THoleReader> holes_;
};

// A plain file created (or truncated) for writing, with a large write buffer.
class TFileOutput : public TTarOutput {
 public:
  // `mode` is the permission of a newly created file; `exclusive` fails when the file exists.
  explicit TFileOutput(const std::string& path, unsigned mode = 0666, size_t bufferSize = 1 << 20,
                       bool exclusive = false);
  ~TFileOutput() override;
  void Write(const void* data, size_t n) override;
  void Close() override;
  uint64_t CopyFromFd(int fd, uint64_t n) override;
  void Flush();
  int Handle() const { return fd_; }
  // Bytes written so far (buffered ones included).
  uint64_t Written() const { return written_; }
  // Leaves blocks of zeros as holes (extracted files); call before the first Write.
  void SetSparse();

 private:
  void WriteRaw(const void* data, size_t n);
  std::string path_;
  int fd_ = -1;
  TRawBuffer<char> buffer_;
  size_t used_ = 0;
  uint64_t written_ = 0;
  bool noKernelCopy_ = false;
  std::unique_ptr<codec::THoleWriter> holes_;
};

// A file created for writing whose writes run on a background thread while the caller goes on; large
// outputs overlap producing and writing. Errors of the background writes are thrown by later calls.
class TAsyncFileOutput : public TTarOutput {
 public:
  explicit TAsyncFileOutput(const std::string& path, unsigned mode = 0666, bool exclusive = false,
                            size_t bufferSize = 512 << 10);
  // Writes to an open descriptor that stays the caller's (Close flushes it but does not close it);
  // `name` is for messages.
  TAsyncFileOutput(int fd, const std::string& name, size_t bufferSize = 512 << 10);
  ~TAsyncFileOutput() override;
  void Write(const void* data, size_t n) override;
  void Close() override;
  uint64_t CopyFromFd(int fd, uint64_t n) override;
  char* Reserve(size_t n) override;
  void Commit(size_t k) override;
  // Bytes taken so far.
  uint64_t Written() const { return written_; }

 private:
  struct TState;
  void Hand();
  void Drain();
  std::string path_;
  int fd_ = -1;
  bool ownsFd_ = true;
  TRawBuffer<char> cur_;
  size_t used_ = 0;
  uint64_t written_ = 0;
  bool noKernelCopy_ = false;
  std::unique_ptr<TState> state_;
};

// Writes all bytes to a descriptor; throws ETarError naming `what` on failure.
void WriteAllTo(int fd, const void* data, size_t n, const std::string& what);
// Text of errno for messages.
std::string SystemErrorText(int err);
