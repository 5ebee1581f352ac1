#include "OutputFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace unzeng {

TOutputFile::~TOutputFile() {
  Unmap();
  if (fd_ >= 0) ::close(fd_);
}

uint8_t* TOutputFile::Map(size_t size) {
  if (size == 0 || ::fallocate(fd_, 0, 0, off_t(size)) != 0) return nullptr;
  void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
  if (p == MAP_FAILED) {
    ::ftruncate(fd_, 0);
    return nullptr;
  }
  map_ = p;
  mapSize_ = size;
  return static_cast<uint8_t*>(p);
}

void TOutputFile::Unmap() {
  if (map_) ::munmap(map_, mapSize_);
  map_ = nullptr;
}

unsigned CurrentUmask() {
  FILE* f = std::fopen("/proc/self/status", "re");
  unsigned mask = 022;
  if (!f) return mask;
  char line[256];
  while (std::fgets(line, sizeof line, f))
    if (std::sscanf(line, "Umask: %o", &mask) == 1) break;
  std::fclose(f);
  return mask;
}

bool TOutputFile::Create(int dirFd, const std::string& leaf, unsigned createMode, std::string& error) {
  fd_ = ::openat(dirFd, leaf.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, createMode & 0777);
  if (fd_ < 0) {
    error = "cannot create " + leaf + ": " + std::strerror(errno);
    return false;
  }
  dirFd_ = dirFd;
  leaf_ = leaf;
  return true;
}

bool TOutputFile::Write(const uint8_t* data, size_t n, std::string& error) {
  while (n > 0) {
    ssize_t w = ::write(fd_, data, n > (1u << 30) ? (1u << 30) : n);
    if (w < 0) {
      if (errno == EINTR) continue;
      error = "write error on " + leaf_ + ": " + std::strerror(errno);
      return false;
    }
    data += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

bool TOutputFile::Finish(int mode, time_t mtime, std::string& error) {
  if (mode >= 0) ::fchmod(fd_, static_cast<mode_t>(SafePermissions(static_cast<unsigned>(mode))));
  timespec times[2];
  times[0].tv_sec = times[1].tv_sec = mtime;
  times[0].tv_nsec = times[1].tv_nsec = 0;
  ::futimens(fd_, times);
  int r = ::close(fd_);
  fd_ = -1;
  if (r != 0) {
    error = "write error on " + leaf_ + ": " + std::strerror(errno);
    ::unlinkat(dirFd_, leaf_.c_str(), 0);
    return false;
  }
  return true;
}

void TOutputFile::Discard() {
  Unmap();
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
    ::unlinkat(dirFd_, leaf_.c_str(), 0);
  }
}

}  // namespace unzeng
