#include "zip/ZipSpanIo.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <vector>

#include "zip/ZipKit.h"

int64_t CopyFileBytes(int in, int64_t inPos, int out, int64_t n) {
  int64_t done = 0;
  bool kernel = true;
  while (done < n) {
    if (kernel) {
      off64_t off = inPos + done;
      const ssize_t r = ::copy_file_range(in, &off, out, nullptr, static_cast<size_t>(n - done), 0);
      if (r > 0) {
        done += r;
        continue;
      }
      if (r == 0) return done;
      if (errno == EINTR) continue;
      if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) return -1;
      kernel = false;
    }
    constexpr int64_t kBuffer = 1 << 20;
    static thread_local std::vector<char> buffer(static_cast<size_t>(kBuffer));
    const size_t want = static_cast<size_t>(std::min<int64_t>(n - done, kBuffer));
    const ssize_t got = ::pread(in, buffer.data(), want, inPos + done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) return done;
    if (!WriteFileBytes(out, buffer.data(), static_cast<size_t>(got))) return -1;
    done += got;
  }
  return done;
}

bool WriteFileBytes(int fd, const void* data, size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      if (w == 0) errno = ENOSPC;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

bool ReadFileBytes(int fd, int64_t pos, void* data, size_t n) {
  char* p = static_cast<char*>(data);
  while (n > 0) {
    const ssize_t r = ::pread(fd, p, n, pos);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    pos += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

int32_t RunSpanCopy(TZipKit& kit, const std::function<void()>& copy) {
  try {
    copy();
    return 0;
  } catch (const EZipKit& e) {
    kit.ReportException(e);
    return -7;
  } catch (const std::bad_alloc&) {
    kit.ReportMessage(10103);
    return -8;
  } catch (const std::exception& e) {
    kit.ReportMessage(11024, e.what());
    return -9;
  }
}
