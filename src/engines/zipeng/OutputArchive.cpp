#include "OutputArchive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "safeout/Destination.h"

namespace zipeng {
namespace {

constexpr size_t kBufferSize = 4 << 20;

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

OutputArchive::~OutputArchive() { Discard(); }

bool OutputArchive::Create(const std::string& target, std::string& error) {
  target_ = target;
  safeout::TResult why;
  file_ = safeout::NewFileAt(target, 0666, why);
  if (!file_) {
    error = "cannot create a new archive in " + FolderOf(target) + ": " + why.text;
    return false;
  }
  fd_ = file_->Fd();
  buffer_.resize(kBufferSize);
  return true;
}

bool OutputArchive::Flush() {
  size_t done = 0;
  while (done < used_) {
    ssize_t w = ::write(fd_, buffer_.data() + done, used_ - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      error_ = std::string("write failed: ") + std::strerror(errno);
      return false;
    }
    done += size_t(w);
  }
  used_ = 0;
  return true;
}

bool OutputArchive::Write(const void* data, size_t n) {
  if (fd_ < 0) return false;
  const char* p = static_cast<const char*>(data);
  if (n >= buffer_.size()) {
    if (!Flush()) return false;
    size_t done = 0;
    while (done < n) {
      ssize_t w = ::write(fd_, p + done, n - done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        error_ = std::string("write failed: ") + std::strerror(errno);
        return false;
      }
      done += size_t(w);
    }
  } else {
    if (used_ + n > buffer_.size() && !Flush()) return false;
    std::memcpy(buffer_.data() + used_, p, n);
    used_ += n;
  }
  offset_ += n;
  return true;
}

bool OutputArchive::CopyFrom(int fd, uint64_t offset, uint64_t length) {
  if (fd_ < 0 || !Flush()) return false;
  loff_t in = loff_t(offset);
  uint64_t left = length;
  while (left > 0) {
    ssize_t n = ::copy_file_range(fd, &in, fd_, nullptr, size_t(std::min<uint64_t>(left, 1u << 30)), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // not supported here, or short: finish with plain reads
    left -= uint64_t(n);
  }
  std::vector<char> buf;
  while (left > 0) {
    if (buf.empty()) buf.resize(1 << 20);
    size_t want = size_t(std::min<uint64_t>(left, buf.size()));
    ssize_t r = ::pread(fd, buf.data(), want, off_t(in));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      error_ = "cannot read the existing archive";
      return false;
    }
    if (!Write(buf.data(), size_t(r))) return false;
    offset_ -= uint64_t(r);  // Write counted it; counted once below
    in += r;
    left -= uint64_t(r);
  }
  offset_ += length;
  return Flush();
}

bool OutputArchive::PatchAt(uint64_t offset, const void* data, size_t n) {
  if (fd_ < 0 || !Flush()) return false;
  if (::pwrite(fd_, data, n, off_t(offset)) != ssize_t(n)) {
    error_ = std::string("write failed: ") + std::strerror(errno);
    return false;
  }
  return true;
}

bool OutputArchive::Truncate(uint64_t offset) {
  if (fd_ < 0 || !Flush()) return false;
  if (::ftruncate(fd_, off_t(offset)) != 0 || ::lseek(fd_, off_t(offset), SEEK_SET) < 0) {
    error_ = std::string("cannot shorten the new archive: ") + std::strerror(errno);
    return false;
  }
  offset_ = offset;
  return true;
}

bool OutputArchive::Finish(const std::string& comment) {
  uint64_t cdOffset = offset_;
  std::string chunk;
  for (const zipfmt::EntryFields& e : central_) {
    chunk += zipfmt::BuildCentralHeader(e);
    if (chunk.size() >= (1 << 20)) {
      if (!Write(chunk)) return false;
      chunk.clear();
    }
  }
  if (!Write(chunk)) return false;
  uint64_t cdSize = offset_ - cdOffset;
  if (!Write(zipfmt::BuildEndRecords(central_.size(), cdOffset, cdSize, offset_, comment))) return false;
  return Flush();
}

bool OutputArchive::Commit(bool durable, int mode, std::string& error) {
  if (fd_ < 0) {
    error = "no archive written";
    return false;
  }
  if (!Flush()) {
    error = error_;
    return false;
  }
  if (durable && fsync(fd_) != 0) {
    error = std::string("cannot write the new archive: ") + std::strerror(errno);
    return false;
  }
  fd_ = -1;
  if (safeout::TResult r = file_->Commit(mode, nullptr, true); !r) {
    error = "cannot replace " + target_ + ": " + r.text;
    file_.reset();
    return false;
  }
  file_.reset();
  if (durable) {
    int dfd = ::open(FolderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
      fsync(dfd);
      ::close(dfd);
    }
  }
  return true;
}

void OutputArchive::Discard() {
  fd_ = -1;
  file_.reset();
}

}  // namespace zipeng
