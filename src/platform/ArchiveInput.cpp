#include "platform/ArchiveInput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

bool IArchiveInput::ReadExact(uint64_t offset, void* buffer, size_t n) const {
  const uint64_t size = Size();
  if (offset > size || n > size - offset) return false;
  return n == 0 || ReadAt(offset, buffer, n) == static_cast<int64_t>(n);
}

TArchiveFile::~TArchiveFile() { Close(); }

std::unique_ptr<TArchiveFile> TArchiveFile::Open(const std::string& path) {
  auto file = std::make_unique<TArchiveFile>();
  std::string error;
  if (!file->Open(path, error)) return nullptr;
  return file;
}

bool TArchiveFile::Open(const std::string& path, std::string& error) {
  Close();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int err = errno;
    ::close(fd);
    error = path + " is not a regular file";
    errno = err ? err : EINVAL;
    return false;
  }
  fd_ = fd;
  size_ = static_cast<uint64_t>(st.st_size);
  identity_ = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  return true;
}

void TArchiveFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  size_ = 0;
  identity_ = {0, 0};
}

int64_t TArchiveFile::ReadAt(uint64_t offset, void* buffer, size_t n) const {
  if (fd_ < 0 || offset > static_cast<uint64_t>(LLONG_MAX)) return -1;
  n = std::min<size_t>(n, static_cast<size_t>(SSIZE_MAX));
  size_t done = 0;
  while (done < n) {
    const uint64_t at = offset + done;
    if (at > static_cast<uint64_t>(LLONG_MAX)) break;
    const ssize_t r = ::pread(fd_, static_cast<char*>(buffer) + done, n - done, static_cast<off_t>(at));
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return static_cast<int64_t>(done);
}

int64_t TArchiveMemory::ReadAt(uint64_t offset, void* buffer, size_t n) const {
  if (offset >= bytes_.size()) return 0;
  const size_t count = std::min<size_t>(n, bytes_.size() - static_cast<size_t>(offset));
  std::memcpy(buffer, bytes_.data() + offset, count);
  return static_cast<int64_t>(count);
}
