#include "safeout/OutputFile.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "safeout/Destination.h"

namespace safeout {

namespace {

TResult WriteFailure(int err, const std::string& leaf) {
  if (err == ENOSPC || err == EDQUOT) return TResult::Fail(TFault::NoSpace, "the disk is full", err);
  return TResult::FromErrno(err, "write error on " + leaf);
}

// Links an unnamed file into `dirFd` as `name`.
int LinkUnnamed(int fd, int dirFd, const char* name) {
  char proc[64];
  std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
  if (::linkat(AT_FDCWD, proc, dirFd, name, AT_SYMLINK_FOLLOW) == 0) return 0;
  const int err = errno;
  if (err == ENOENT && ::linkat(fd, "", dirFd, name, AT_EMPTY_PATH) == 0) return 0;
  errno = err;
  return -1;
}

}  // namespace

TResult TResult::FromErrno(int err, const std::string& what) {
  return {err == ENOSPC || err == EDQUOT ? TFault::NoSpace : TFault::System, err, what + ": " + std::strerror(err)};
}

std::string TemporaryName(const std::string& leaf) {
  static std::atomic<unsigned> counter{0};
  // Room for the suffix within the 255 bytes of a name; cut at a character boundary.
  size_t keep = std::min<size_t>(leaf.size(), 200);
  while (keep > 0 && keep < leaf.size() && (static_cast<unsigned char>(leaf[keep]) & 0xC0) == 0x80) --keep;
  std::string name(1, '.');
  name.append(leaf, 0, keep);
  name += ".tandor-";
  name += std::to_string(::getpid());
  name += '-';
  name += std::to_string(counter++);
  name += ".part";
  return name;
}

bool IsTemporaryName(const std::string& name, long& pid) {
  static const std::string kSuffix = ".part", kMark = ".tandor-";
  if (name.size() < 1 + kMark.size() + 3 + kSuffix.size() || name[0] != '.' ||
      name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0)
    return false;
  // ".tandor-" PID "-" N ".part" at the end.
  size_t end = name.size() - kSuffix.size();
  size_t dash = name.rfind('-', end - 1);
  if (dash == std::string::npos || dash + 1 == end) return false;
  for (size_t i = dash + 1; i < end; ++i)
    if (name[i] < '0' || name[i] > '9') return false;
  size_t mark = name.rfind(kMark, dash);
  if (mark == std::string::npos || mark == 0 || mark + kMark.size() == dash) return false;
  pid = 0;
  for (size_t i = mark + kMark.size(); i < dash; ++i) {
    if (name[i] < '0' || name[i] > '9' || pid > 100000000) return false;
    pid = pid * 10 + (name[i] - '0');
  }
  return true;
}

TOutputFile::TOutputFile(std::shared_ptr<TFolder> folder, std::string leaf, int fd, std::string tempName, bool named)
    : folder_(std::move(folder)), leaf_(std::move(leaf)), fd_(fd), temp_(std::move(tempName)), named_(named) {}

TOutputFile::~TOutputFile() { Discard(); }

// Writes all `n` bytes at `offset`, or at the current position when `offset` is negative.
TResult TOutputFile::Put(const void* data, size_t n, int64_t offset) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    const size_t piece = std::min(n, size_t(1) << 30);
    const ssize_t w = offset < 0 ? ::write(fd_, p, piece) : ::pwrite(fd_, p, piece, static_cast<off_t>(offset));
    if (w < 0) {
      if (errno == EINTR) continue;
      return WriteFailure(errno, leaf_);
    }
    if (w == 0) return WriteFailure(ENOSPC, leaf_);
    p += w;
    n -= static_cast<size_t>(w);
    if (offset < 0) {
      pos_ += static_cast<uint64_t>(w);
    } else {
      offset += w;
      extent_ = std::max(extent_, static_cast<uint64_t>(offset));
    }
  }
  return {};
}

TResult TOutputFile::Write(const void* data, size_t n) { return Put(data, n, -1); }

TResult TOutputFile::WriteAt(uint64_t offset, const void* data, size_t n) {
  return Put(data, n, static_cast<int64_t>(offset));
}

TResult TOutputFile::Skip(uint64_t n) {
  if (n == 0) return {};
  if (::lseek(fd_, static_cast<off_t>(n), SEEK_CUR) < 0) return TResult::FromErrno(errno, "cannot seek in " + leaf_);
  pos_ += n;
  gap_ = true;
  return {};
}

TResult TOutputFile::SetSize(uint64_t size) {
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) return WriteFailure(errno, leaf_);
  pos_ = std::min(pos_, size);
  extent_ = size;
  return {};
}

uint8_t* TOutputFile::Map(size_t size) {
  if (size == 0 || map_ || ::fallocate(fd_, 0, 0, static_cast<off_t>(size)) != 0) return nullptr;
  void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
  if (p == MAP_FAILED) {
    if (::ftruncate(fd_, 0) != 0) return nullptr;
    return nullptr;
  }
  map_ = p;
  mapSize_ = size;
  extent_ = std::max<uint64_t>(extent_, size);
  return static_cast<uint8_t*>(p);
}

void TOutputFile::Unmap() {
  if (map_) ::munmap(map_, mapSize_);
  map_ = nullptr;
}

TResult TOutputFile::Commit(int mode, const timespec* mtime, bool replace) {
  if (fd_ < 0) return TResult::Fail(TFault::System, "the file was already closed", EBADF);
  Unmap();
  // A hole at the end (a skip past the last write) still counts in the size.
  const uint64_t size = std::max(pos_, extent_);
  // Only a skip can leave the file shorter than its size, and only a mode asked for needs the one
  // it has: most files need neither look (one system call less per file of a large tree).
  struct stat st {};
  const bool known = (gap_ || mode >= 0) && ::fstat(fd_, &st) == 0;
  if (gap_ && known && static_cast<uint64_t>(st.st_size) < size && ::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
    TResult r = WriteFailure(errno, leaf_);
    Discard();
    return r;
  }
  const mode_t want = static_cast<mode_t>(mode) & 0777;
  if (mode >= 0 && !(known && (st.st_mode & 07777) == want)) ::fchmod(fd_, want);
  if (mtime) {
    const timespec times[2] = {*mtime, *mtime};
    ::futimens(fd_, times);
  }
  const int dirFd = folder_->Fd();
  const char* leaf = leaf_.c_str();
  auto inTheWay = [&](int err) -> TResult {
    struct stat at {};
    if (::fstatat(dirFd, leaf, &at, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(at.st_mode))
      return TResult::Fail(TFault::FolderInTheWay, "a folder of that name is in the way", err);
    if (err == EEXIST) return TResult::Fail(TFault::Exists, "a file of that name exists", err);
    return TResult::FromErrno(err, "cannot name " + leaf_);
  };
  TResult result;
  if (named_) {
    // Already under its name.
  } else if (temp_.empty()) {
    // Unnamed: linked straight to its name when that is free, else beside it and renamed over it.
    if (LinkUnnamed(fd_, dirFd, leaf) != 0) {
      const int err = errno;
      if (err != EEXIST || !replace) {
        result = inTheWay(err);
      } else {
        std::string hidden;
        int e = EEXIST;
        for (int attempt = 0; attempt < 20 && e == EEXIST; ++attempt) {
          hidden = TemporaryName(leaf_);
          e = LinkUnnamed(fd_, dirFd, hidden.c_str()) == 0 ? 0 : errno;
        }
        if (e == 0 && ::renameat(dirFd, hidden.c_str(), dirFd, leaf) != 0) {
          e = errno;
          ::unlinkat(dirFd, hidden.c_str(), 0);
        }
        if (e != 0) result = inTheWay(e);
      }
    }
  } else {
    int r = replace ? ::renameat(dirFd, temp_.c_str(), dirFd, leaf)
                    : ::renameat2(dirFd, temp_.c_str(), dirFd, leaf, RENAME_NOREPLACE);
    if (r != 0 && !replace && (errno == EINVAL || errno == ENOSYS)) {
      // No RENAME_NOREPLACE on this file system: a hard link fails just as well on an existing name.
      r = ::linkat(dirFd, temp_.c_str(), dirFd, leaf, 0);
      if (r == 0) ::unlinkat(dirFd, temp_.c_str(), 0);
    }
    if (r != 0) {
      result = inTheWay(errno);
    } else {
      temp_.clear();
    }
  }
  if (!result) {
    Discard();
    return result;
  }
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) {
    const int err = errno;
    ::unlinkat(dirFd, leaf, 0);
    return WriteFailure(err, leaf_);
  }
  return {};
}

void TOutputFile::Discard() {
  Unmap();
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
    if (named_) ::unlinkat(folder_->Fd(), leaf_.c_str(), 0);
  }
  if (!temp_.empty()) {
    ::unlinkat(folder_->Fd(), temp_.c_str(), 0);
    temp_.clear();
  }
}

}  // namespace safeout
