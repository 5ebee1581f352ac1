#include "Compressor.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "ZipCrypto.h"
#include "codec/DeflateStream.h"
#include "codec/SparseFile.h"

namespace zipeng {
namespace {

constexpr uint64_t kMemoryBudget = 24ull << 20;  // input bytes in flight (their output comes on top)
// Small files are handed to the workers in runs, so that tiny files do not cost a hand-over each.
constexpr uint64_t kSmallFile = 256u << 10;
constexpr uint64_t kRunBytes = 2u << 20;
constexpr size_t kRunFiles = 256;

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

// Reads at `offset`; the holes of a sparse file come back as zeros without being read.
bool ReadFull(int fd, char* p, size_t n, uint64_t offset, size_t& got) {
  got = 0;
  std::unique_ptr<codec::THoleReader> holes;
  if (n >= (1u << 20)) holes = std::make_unique<codec::THoleReader>(fd);
  while (got < n) {
    ssize_t r = holes ? holes->ReadAt(p + got, n - got, offset + got) : ::pread(fd, p + got, n - got, off_t(offset + got));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return false;
    if (r == 0) break;
    got += size_t(r);
  }
  return true;
}

}  // namespace

Compressor::Compressor(std::vector<CompressTask> tasks, unsigned threads) : tasks_(std::move(tasks)) {
  for (size_t i = 0; i < tasks_.size(); ++i) {
    const CompressTask& t = tasks_[i];
    if (t.size <= kSmallFile) {
      Slot* run = slots_.empty() ? nullptr : &slots_.back();
      if (run && run->whole && run->taskCount < kRunFiles && run->length + t.size <= kRunBytes &&
          tasks_[run->task + run->taskCount - 1].size <= kSmallFile) {
        ++run->taskCount;
        run->length += t.size;
      } else {
        slots_.push_back({i, 1, 0, t.size, true, true});
      }
      continue;
    }
    if (IsWhole(t)) {
      slots_.push_back({i, 1, 0, t.size, true, true});
      continue;
    }
    for (uint64_t off = 0; off < t.size; off += kChunkSize) {
      uint64_t len = std::min(kChunkSize, t.size - off);
      slots_.push_back({i, 1, off, len, false, off + len >= t.size});
    }
  }
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  threads = unsigned(std::min<size_t>(threads, std::max<size_t>(1, slots_.size())));
  for (unsigned k = 0; k < threads && !slots_.empty(); ++k) workers_.emplace_back([this] { Work(); });
}

Compressor::~Compressor() { Stop(); }

void Compressor::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  workCv_.notify_all();
  doneCv_.notify_all();
  for (auto& w : workers_)
    if (w.joinable()) w.join();
  workers_.clear();
}

void Compressor::Work() {
  for (;;) {
    size_t index;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      workCv_.wait(lock, [&] {
        if (stop_ || nextDispatch_ >= slots_.size()) return true;
        return nextDispatch_ == nextConsume_ || inflight_ + slots_[nextDispatch_].length <= kMemoryBudget;
      });
      if (stop_ || nextDispatch_ >= slots_.size()) return;
      index = nextDispatch_++;
      inflight_ += slots_[index].length;
    }
    std::vector<Piece> p;
    try {
      p = Process(slots_[index]);
    } catch (const std::bad_alloc&) {
      p.clear();
      for (size_t k = 0; k < slots_[index].taskCount; ++k) {
        Piece fail;
        fail.task = slots_[index].task + k;
        fail.whole = slots_[index].whole;
        fail.last = slots_[index].last;
        fail.ok = false;
        fail.error = "out of memory";
        p.push_back(std::move(fail));
      }
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_.emplace(index, std::move(p));
    }
    doneCv_.notify_all();
  }
}

bool Compressor::Next(Piece& piece) {
  if (ready_.empty()) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (nextConsume_ >= slots_.size()) return false;
    doneCv_.wait(lock, [&] { return stop_ || done_.count(nextConsume_); });
    if (stop_) return false;
    auto it = done_.find(nextConsume_);
    for (Piece& p : it->second) ready_.push_back(std::move(p));
    done_.erase(it);
    inflight_ -= slots_[nextConsume_].length;
    ++nextConsume_;
    lock.unlock();
    workCv_.notify_all();
    if (ready_.empty()) return false;
  }
  piece = std::move(ready_.front());
  ready_.pop_front();
  return true;
}

std::vector<Piece> Compressor::Process(const Slot& slot) {
  std::vector<Piece> out;
  if (!slot.whole) {
    out.push_back(ProcessChunk(slot));
    return out;
  }
  for (size_t k = 0; k < slot.taskCount; ++k) out.push_back(ProcessWhole(slot.task + k));
  return out;
}

Piece Compressor::ProcessWhole(size_t task) {
  const CompressTask& t = tasks_[task];
  Piece p;
  p.task = task;
  Fd f;
  f.fd = ::open(t.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (f.fd < 0) {
    p.ok = false;
    p.error = "cannot open " + t.path + ": " + std::strerror(errno);
    return p;
  }
  // Read up to the examined size plus one byte to notice growth; a changed file is read as it is now.
  std::string input;
  input.resize(size_t(t.size) + 1);
  size_t got = 0;
  if (!ReadFull(f.fd, input.data(), input.size(), 0, got)) {
    p.ok = false;
    p.error = "cannot read " + t.path + ": " + std::strerror(errno);
    return p;
  }
  if (got > t.size) {
    p.ok = false;
    p.error = t.path + " grew while it was being added";
    return p;
  }
  input.resize(got);
  p.inputSize = got;
  p.crc = uint32_t(libdeflate_crc32(0, input.data(), input.size()));
  p.deflated = false;
  if (t.deflate && !input.empty() && !codec::LooksIncompressible(reinterpret_cast<const uint8_t*>(input.data()), input.size())) {
    std::string out(t.password.empty() ? 0 : zipfmt::kCryptHeaderSize, '\0');
    codec::DeflatePiece(t.level, nullptr, 0, reinterpret_cast<const uint8_t*>(input.data()), input.size(), true, out);
    size_t at = t.password.empty() ? 0 : zipfmt::kCryptHeaderSize;
    if (out.size() - at < input.size()) {
      p.data = std::move(out);
      p.deflated = true;
    }
  }
  if (!p.deflated) {
    if (t.password.empty()) {
      p.data = std::move(input);
    } else {
      p.data.assign(zipfmt::kCryptHeaderSize, '\0');
      p.data += input;
    }
  }
  if (!t.password.empty()) {
    zipfmt::ZipCrypto crypt(t.password);
    uint8_t header[zipfmt::kCryptHeaderSize];
    crypt.MakeHeader(header, uint8_t(p.crc >> 24));
    std::memcpy(p.data.data(), header, sizeof header);
    crypt.Encrypt(reinterpret_cast<uint8_t*>(p.data.data()) + sizeof header, p.data.size() - sizeof header);
  }
  return p;
}

Piece Compressor::ProcessChunk(const Slot& slot) {
  const CompressTask& t = tasks_[slot.task];
  Piece p;
  p.task = slot.task;
  p.whole = false;
  p.last = slot.last;
  p.deflated = t.deflate;
  Fd f;
  f.fd = ::open(t.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (f.fd < 0) {
    p.ok = false;
    p.error = "cannot open " + t.path + ": " + std::strerror(errno);
    return p;
  }
  size_t dict = size_t(std::min<uint64_t>(slot.offset, t.deflate ? codec::kDeflateDictionary : 0));
  std::string input(size_t(slot.length) + dict, '\0');
  size_t got = 0;
  if (!ReadFull(f.fd, input.data(), input.size(), slot.offset - dict, got) || got != input.size()) {
    p.ok = false;
    p.error = t.path + " changed or could not be read while it was being added";
    return p;
  }
  const char* data = input.data() + dict;
  size_t len = size_t(slot.length);
  p.inputSize = len;
  p.crc = uint32_t(libdeflate_crc32(0, data, len));
  if (slot.last) {
    // A file that grew since it was examined would be cut short: refuse it.
    char extra;
    size_t more = 0;
    if (ReadFull(f.fd, &extra, 1, slot.offset + slot.length, more) && more != 0) {
      p.ok = false;
      p.error = t.path + " grew while it was being added";
      return p;
    }
  }
  if (!t.deflate) {
    p.data.assign(data, len);
    return p;
  }
  // One piece of the entry's deflate stream: pieces of one file follow each other as they are.
  codec::DeflatePiece(t.level, reinterpret_cast<const uint8_t*>(input.data()), dict,
                      reinterpret_cast<const uint8_t*>(data), len, slot.last, p.data);
  return p;
}

}  // namespace zipeng
