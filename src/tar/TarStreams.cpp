#include "tar/TarStreams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

std::string SystemErrorText(int err) { return std::strerror(err); }

namespace {

// Copies `n` bytes from `from` to `to` inside the kernel, from both files' current positions. Returns
// the bytes copied (fewer at the end of `from`); 0 with `unsupported` set when the file systems cannot
// do it, so the caller copies through memory.
uint64_t KernelCopy(int from, int to, uint64_t n, const std::string& path, bool& unsupported) {
  uint64_t done = 0;
  while (done < n) {
    ssize_t r = ::copy_file_range(from, nullptr, to, nullptr, static_cast<size_t>(std::min<uint64_t>(n - done, 1u << 30)), 0);
    if (r < 0) {
      if (errno == EINTR) continue;
      if (done == 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP || errno == EBADF)) {
        unsupported = true;
        return 0;
      }
      throw ETarError("Can't write " + path + ": " + SystemErrorText(errno));
    }
    if (r == 0) break;
    done += static_cast<uint64_t>(r);
  }
  return done;
}

}  // namespace

uint64_t TTarInput::Skip(uint64_t n) {
  char buf[65536];
  uint64_t done = 0;
  while (done < n) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(sizeof buf, n - done));
    size_t got = Read(buf, want);
    if (got == 0) break;
    done += got;
  }
  return done;
}

TFileInput::TFileInput(const std::string& path) : path_(path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) throw ETarError("Can't open " + path + ": " + SystemErrorText(errno));
  struct stat st {};
  if (fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
    size_ = st.st_size;
    seekable_ = true;
    auto holes = std::make_unique<codec::THoleReader>(fd_);
    if (holes->Sparse()) holes_ = std::move(holes);
  }
}

TFileInput::~TFileInput() {
  if (fd_ >= 0) ::close(fd_);
}

size_t TFileInput::Read(void* buffer, size_t n) {
  char* p = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < n) {
    ssize_t r = holes_ ? holes_->ReadAt(p + done, n - done, static_cast<uint64_t>(pos_) + done)
                       : ::read(fd_, p + done, n - done);
    if (r < 0) {
      if (errno == EINTR) continue;
      throw ETarError("Can't read " + path_ + ": " + SystemErrorText(errno));
    }
    if (r == 0) break;
    done += static_cast<size_t>(r);
    if (!seekable_) break;  // pipes deliver what they have
  }
  pos_ += static_cast<int64_t>(done);
  if (holes_ && done) ::lseek(fd_, pos_, SEEK_SET);  // the descriptor's offset follows, as with read()
  return done;
}

uint64_t TFileInput::Skip(uint64_t n) {
  if (!seekable_) return TTarInput::Skip(n);
  uint64_t room = size_ > pos_ ? static_cast<uint64_t>(size_ - pos_) : 0;
  uint64_t step = std::min(n, room);
  if (::lseek(fd_, pos_ + static_cast<int64_t>(step), SEEK_SET) < 0)
    throw ETarError("Can't seek in " + path_ + ": " + SystemErrorText(errno));
  pos_ += static_cast<int64_t>(step);
  return step;
}

bool TFileInput::Seek(int64_t offset) {
  if (!seekable_) return false;
  if (::lseek(fd_, offset, SEEK_SET) < 0) throw ETarError("Can't seek in " + path_ + ": " + SystemErrorText(errno));
  pos_ = offset;
  return true;
}

void WriteAllTo(int fd, const void* data, size_t n, const std::string& what) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      throw ETarError("Can't write " + what + ": " + SystemErrorText(errno));
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
}

TFileOutput::TFileOutput(const std::string& path, unsigned mode, size_t bufferSize, bool exclusive) : path_(path) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | (exclusive ? O_EXCL : O_TRUNC) | O_CLOEXEC, mode);
  if (fd_ < 0) throw ETarError("Can't create " + path + ": " + SystemErrorText(errno));
  buffer_.resize(bufferSize);
}

TFileOutput::~TFileOutput() {
  if (fd_ >= 0) {
    try {
      Flush();
    } catch (...) {
    }
    ::close(fd_);
  }
}

void TFileOutput::WriteRaw(const void* data, size_t n) {
  if (!holes_) {
    WriteAllTo(fd_, data, n, path_);
    return;
  }
  if (!holes_->Write(data, n)) throw ETarError("Can't write " + path_ + ": " + SystemErrorText(errno));
}

void TFileOutput::SetSparse() {
  holes_ = std::make_unique<codec::THoleWriter>(fd_);
  noKernelCopy_ = true;
}

void TFileOutput::Flush() {
  if (used_ > 0) {
    size_t n = used_;
    used_ = 0;
    WriteRaw(buffer_.data(), n);
  }
}

void TFileOutput::Write(const void* data, size_t n) {
  written_ += n;
  if (used_ + n <= buffer_.size()) {
    std::memcpy(buffer_.data() + used_, data, n);
    used_ += n;
    return;
  }
  Flush();
  if (n >= buffer_.size()) {
    WriteRaw(data, n);
  } else {
    std::memcpy(buffer_.data(), data, n);
    used_ = n;
  }
}

void TFileOutput::Close() {
  if (fd_ < 0) return;
  Flush();
  if (holes_ && !holes_->Finish()) throw ETarError("Can't write " + path_ + ": " + SystemErrorText(errno));
  int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) throw ETarError("Can't close " + path_ + ": " + SystemErrorText(errno));
}

uint64_t TFileOutput::CopyFromFd(int fd, uint64_t n) {
  if (fd_ < 0 || noKernelCopy_) return 0;
  Flush();
  const uint64_t done = KernelCopy(fd, fd_, n, path_, noKernelCopy_);
  written_ += done;
  return done;
}

// ---------------------------------------------------------------------------------------------------
// TAsyncFileOutput

struct TAsyncFileOutput::TState {
  std::thread thread;
  std::mutex mutex;
  std::condition_variable cv;
  TRawBuffer<char> busy;
  size_t busyLen = 0;
  bool hasJob = false;
  bool stop = false;
  std::string error;
};

TAsyncFileOutput::TAsyncFileOutput(const std::string& path, unsigned mode, bool exclusive, size_t bufferSize)
    : path_(path), state_(std::make_unique<TState>()) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | (exclusive ? O_EXCL : O_TRUNC) | O_CLOEXEC, mode);
  if (fd_ < 0) throw ETarError("Can't create " + path + ": " + SystemErrorText(errno));
  cur_.resize(bufferSize);
}

TAsyncFileOutput::TAsyncFileOutput(int fd, const std::string& name, size_t bufferSize)
    : path_(name), fd_(fd), ownsFd_(false), state_(std::make_unique<TState>()) {
  cur_.resize(bufferSize);
}

TAsyncFileOutput::~TAsyncFileOutput() {
  try {
    Close();
  } catch (...) {
  }
}

void TAsyncFileOutput::Drain() {
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->cv.wait(lock, [&] { return !state_->hasJob; });
  if (!state_->error.empty()) throw ETarError(state_->error);
}

void TAsyncFileOutput::Hand() {
  if (used_ == 0) return;
  TState& st = *state_;
  if (!st.thread.joinable()) {
    st.busy.resize(cur_.size());
    st.thread = std::thread([this, &st] {
      std::unique_lock<std::mutex> lock(st.mutex);
      for (;;) {
        st.cv.wait(lock, [&] { return st.hasJob || st.stop; });
        if (!st.hasJob) break;
        lock.unlock();
        std::string err;
        try {
          WriteAllTo(fd_, st.busy.data(), st.busyLen, path_);
        } catch (const ETarError& e) {
          err = e.what();
        }
        lock.lock();
        if (!err.empty() && st.error.empty()) st.error = err;
        st.hasJob = false;
        st.cv.notify_all();
      }
    });
  }
  Drain();
  {
    std::lock_guard<std::mutex> lock(st.mutex);
    st.busy.swap(cur_);
    if (cur_.size() < st.busy.size()) cur_.resize(st.busy.size());
    st.busyLen = used_;
    st.hasJob = true;
  }
  st.cv.notify_all();
  used_ = 0;
}

void TAsyncFileOutput::Write(const void* data, size_t n) {
  if (fd_ < 0) throw ETarError("Can't write " + path_ + ": closed");
  const char* p = static_cast<const char*>(data);
  written_ += n;
  while (n > 0) {
    size_t k = std::min(n, cur_.size() - used_);
    std::memcpy(cur_.data() + used_, p, k);
    used_ += k;
    p += k;
    n -= k;
    if (used_ == cur_.size()) Hand();
  }
}

char* TAsyncFileOutput::Reserve(size_t n) {
  if (fd_ < 0) throw ETarError("Can't write " + path_ + ": closed");
  if (n > cur_.size()) return nullptr;
  if (cur_.size() - used_ < n) Hand();  // a slightly short write rather than a split read
  return cur_.data() + used_;
}

void TAsyncFileOutput::Commit(size_t k) {
  used_ += k;
  written_ += k;
  if (used_ == cur_.size()) Hand();
}

uint64_t TAsyncFileOutput::CopyFromFd(int fd, uint64_t n) {
  if (fd_ < 0 || noKernelCopy_) return 0;
  Hand();
  Drain();
  const uint64_t done = KernelCopy(fd, fd_, n, path_, noKernelCopy_);
  written_ += done;
  return done;
}

void TAsyncFileOutput::Close() {
  if (fd_ < 0) return;
  std::string error;
  try {
    if (state_->thread.joinable()) {
      Hand();
      Drain();
    } else if (used_ > 0) {
      WriteAllTo(fd_, cur_.data(), used_, path_);
    }
  } catch (const ETarError& e) {
    error = e.what();
  }
  used_ = 0;
  if (state_->thread.joinable()) {
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      state_->stop = true;
    }
    state_->cv.notify_all();
    state_->thread.join();
  }
  int fd = fd_;
  fd_ = -1;
  if (ownsFd_ && ::close(fd) != 0 && error.empty()) error = "Can't close " + path_ + ": " + SystemErrorText(errno);
  if (!error.empty()) throw ETarError(error);
}
