#include "safeout/MoveFile.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "safeout/Destination.h"

namespace safeout {

namespace {

constexpr size_t kChunk = 1 << 20;

class TFd {
 public:
  explicit TFd(int fd) : fd_(fd) {}
  ~TFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Reads exactly `n` bytes at `offset` (fewer only at the end of the file); -1 on an error.
ssize_t ReadAt(int fd, char* buf, size_t n, off_t offset) {
  size_t got = 0;
  while (got < n) {
    const ssize_t r = ::pread(fd, buf + got, n - got, offset + static_cast<off_t>(got));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    got += static_cast<size_t>(r);
  }
  return static_cast<ssize_t>(got);
}

// Copies `size` bytes of `in` into `out`: in the kernel where it can, else through a buffer.
TResult CopyData(int in, TOutputFile& out, uint64_t size, const std::string& source) {
  bool kernel = true;
  std::vector<char> buf;
  uint64_t done = 0;
  while (done < size) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(size - done, 16 * kChunk));
    if (kernel) {
      off_t from = static_cast<off_t>(done);
      const ssize_t n = ::copy_file_range(in, &from, out.Fd(), nullptr, want, 0);
      if (n > 0) {
        out.Advance(static_cast<uint64_t>(n));
        done += static_cast<uint64_t>(n);
        continue;
      }
      if (n == 0) break;  // the source got shorter
      if (errno == EINTR) continue;
      if (errno == ENOSPC || errno == EDQUOT || errno == EIO) return TResult::FromErrno(errno, "cannot copy " + source);
      kernel = false;  // not between these file systems: through the buffer
      // A partial kernel copy moved the file position; the buffer copy writes at Position().
      if (::lseek(out.Fd(), static_cast<off_t>(out.Position()), SEEK_SET) < 0)
        return TResult::FromErrno(errno, "cannot copy " + source);
    }
    if (buf.empty()) buf.resize(kChunk);
    const ssize_t n = ReadAt(in, buf.data(), std::min(want, kChunk), static_cast<off_t>(done));
    if (n < 0) return TResult::FromErrno(errno, "cannot read " + source);
    if (n == 0) break;
    if (TResult w = out.Write(buf.data(), static_cast<size_t>(n)); !w) return w;
    done += static_cast<uint64_t>(n);
  }
  if (done != size) return TResult::Fail(TFault::System, source + " changed while it was copied", EIO);
  return {};
}

// The copy reads back the same as the source: both read again from the start, the copy's cached
// pages dropped first so that it comes from the disk.
TResult CompareCopy(int in, int out, uint64_t size, const std::string& source) {
  ::posix_fadvise(out, 0, 0, POSIX_FADV_DONTNEED);
  std::vector<char> a(kChunk), b(kChunk);
  for (uint64_t off = 0; off < size;) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(size - off, kChunk));
    const ssize_t na = ReadAt(in, a.data(), want, static_cast<off_t>(off));
    const ssize_t nb = ReadAt(out, b.data(), want, static_cast<off_t>(off));
    if (na < 0 || nb < 0) return TResult::FromErrno(errno, "cannot compare the copy of " + source);
    if (na != static_cast<ssize_t>(want) || nb != na || std::memcmp(a.data(), b.data(), want) != 0)
      return TResult::Fail(TFault::System, "the copy of " + source + " does not match it", EIO);
    off += want;
  }
  char extra;
  if (ReadAt(out, &extra, 1, static_cast<off_t>(size)) != 0 || ReadAt(in, &extra, 1, static_cast<off_t>(size)) != 0)
    return TResult::Fail(TFault::System, "the copy of " + source + " does not match it", EIO);
  return {};
}

TResult CopyAcross(const std::string& source, const std::string& target) {
  const TFd in(::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (in.Get() < 0) return TResult::FromErrno(errno, "cannot read " + source);
  struct stat st {};
  if (::fstat(in.Get(), &st) != 0) return TResult::FromErrno(errno, "cannot read " + source);
  if (!S_ISREG(st.st_mode)) return TResult::Fail(TFault::System, source + " is not a regular file", EINVAL);
  TResult why;
  std::unique_ptr<TOutputFile> out = NewFileAt(target, 0600, why);
  if (!out) return why;
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  if (TResult r = CopyData(in.Get(), *out, size, source); !r) return r;
  if (::fsync(out->Fd()) != 0) return TResult::FromErrno(errno, "cannot write " + target);
  if (TResult r = CompareCopy(in.Get(), out->Fd(), size, source); !r) return r;
  const timespec mtime = st.st_mtim;
  if (TResult r = out->Commit(static_cast<int>(st.st_mode & 0777), &mtime, false); !r) return r;
  out.reset();
  SyncFolder(FolderOf(target));
  if (::unlink(source.c_str()) != 0) {
    // The archive stays where it was; so must nothing else be left behind.
    const int err = errno;
    ::unlink(target.c_str());
    return TResult::FromErrno(err, "cannot remove " + source);
  }
  return {};
}

}  // namespace

TResult MoveFileNoReplace(const std::string& source, const std::string& target, TMoveWay* way) {
  if (way) *way = TMoveWay::None;
  struct stat st {};
  if (::lstat(source.c_str(), &st) != 0) return TResult::FromErrno(errno, "cannot move " + source);
  if (!S_ISREG(st.st_mode)) return TResult::Fail(TFault::System, source + " is not a regular file", EINVAL);
  if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
    if (way) *way = TMoveWay::Renamed;
    return {};
  }
  int err = errno;
  if (err == EINVAL || err == ENOSYS) {
    // No RENAME_NOREPLACE on this file system: a hard link fails just as well on an existing name.
    if (::link(source.c_str(), target.c_str()) == 0) {
      if (::unlink(source.c_str()) != 0) {
        const int e = errno;
        ::unlink(target.c_str());
        return TResult::FromErrno(e, "cannot remove " + source);
      }
      if (way) *way = TMoveWay::Renamed;
      return {};
    }
    err = errno;
  }
  if (err == EEXIST) return TResult::Fail(TFault::Exists, "a file of that name exists: " + target, err);
  if (err != EXDEV && err != EPERM && err != EINVAL && err != ENOSYS && err != EOPNOTSUPP)
    return TResult::FromErrno(err, "cannot move " + source);
  TResult r = CopyAcross(source, target);
  if (r && way) *way = TMoveWay::Copied;
  return r;
}

}  // namespace safeout
