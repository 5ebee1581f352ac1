#pragma once
// Writing one extracted file inside an open folder: created fresh (never through a link or an
// existing inode), then given its time and permissions (never set-user-ID or set-group-ID).
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace unzeng {

class TOutputFile {
 public:
  TOutputFile() = default;
  ~TOutputFile();
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;

  // Creates `leaf` in `dirFd` with `createMode` (the umask applies); it must not exist (the caller
  // removed an old file first).
  bool Create(int dirFd, const std::string& leaf, unsigned createMode, std::string& error);
  bool Write(const uint8_t* data, size_t n, std::string& error);
  // Reserves `size` bytes on disk and maps the file for writing, so that a decoder can write
  // straight into it; null when the file system cannot (the caller then uses Write).
  uint8_t* Map(size_t size);
  void Unmap();
  // Applies `mode` (permission bits only; < 0 = keep the default) and `mtime`, and closes.
  bool Finish(int mode, time_t mtime, std::string& error);
  // Closes and deletes a file that must not stay.
  void Discard();

 private:
  int dirFd_ = -1;
  int fd_ = -1;
  std::string leaf_;
  void* map_ = nullptr;
  size_t mapSize_ = 0;
};

// Permission bits that may be restored: set-user-ID, set-group-ID and sticky never are.
// The process umask, read without changing it.
unsigned CurrentUmask();

inline int SafePermissions(unsigned mode) { return static_cast<int>(mode & 0777); }

}  // namespace unzeng
