#pragma once
// Random-access input of an archive: one interface for every reader (zip directory, zip engines,
// RAR), a file and a memory implementation. Reads are positional and may run on several threads.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

class IArchiveInput {
 public:
  virtual ~IArchiveInput() = default;
  virtual uint64_t Size() const = 0;
  // Reads up to `n` bytes at `offset`; returns the count read (fewer only at the end of the input),
  // or -1 when reading fails.
  virtual int64_t ReadAt(uint64_t offset, void* buffer, size_t n) const = 0;
  // Reads exactly `n` bytes at `offset`; false when they do not all lie inside the input or a read fails.
  bool ReadExact(uint64_t offset, void* buffer, size_t n) const;
};

// A regular file opened read-only.
class TArchiveFile : public IArchiveInput {
 public:
  TArchiveFile() = default;
  ~TArchiveFile() override;
  TArchiveFile(const TArchiveFile&) = delete;
  TArchiveFile& operator=(const TArchiveFile&) = delete;

  // Null when the file cannot be opened or is not a regular file (errno tells why).
  static std::unique_ptr<TArchiveFile> Open(const std::string& path);
  // Opens `path`; false with the reason in `error`.
  bool Open(const std::string& path, std::string& error);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  // Device and inode: the same file reached under another name compares equal.
  std::pair<uint64_t, uint64_t> Identity() const { return identity_; }

  uint64_t Size() const override { return size_; }
  int64_t ReadAt(uint64_t offset, void* buffer, size_t n) const override;

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
  std::pair<uint64_t, uint64_t> identity_{0, 0};
};

// Bytes in memory, not copied: they must outlive the input.
class TArchiveMemory : public IArchiveInput {
 public:
  explicit TArchiveMemory(std::string_view bytes) : bytes_(bytes) {}
  TArchiveMemory(const void* data, size_t size) : bytes_(static_cast<const char*>(data), size) {}
  uint64_t Size() const override { return bytes_.size(); }
  int64_t ReadAt(uint64_t offset, void* buffer, size_t n) const override;

 private:
  std::string_view bytes_;
};
