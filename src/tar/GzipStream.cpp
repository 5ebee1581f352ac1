#include "tar/GzipStream.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace {

constexpr size_t kInBuffer = 8 << 20;     // compressed bytes held at once
constexpr size_t kFastOutput = 4 << 20;   // members up to this size are inflated whole by libdeflate
constexpr size_t kBlock = 1 << 20;        // uncompressed bytes per parallel member

void PutLE32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
uint32_t GetLE32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

std::string GzMemberHeader(const TGzHeaderInfo& h) {
  std::string s = {'\x1f', '\x8b', 8, 0, 0, 0, 0, 0, 0, 0};
  unsigned char flags = 0;
  if (h.HasName) flags |= 0x08;
  if (h.HasComment) flags |= 0x10;
  s[3] = static_cast<char>(flags);
  PutLE32(reinterpret_cast<unsigned char*>(s.data() + 4), h.MTime);
  if (h.HasName) s += h.Name + '\0';
  if (h.HasComment) s += h.Comment + '\0';
  return s;
}

long ParseGzHeader(const unsigned char* p, size_t n, TGzHeaderInfo* info) {
  if (n >= 1 && p[0] != 0x1f) return -1;
  if (n >= 2 && p[1] != 0x8b) return -1;
  if (n < 10) return 0;
  if (p[2] != 8 || (p[3] & 0xE0)) return -2;
  unsigned flags = p[3];
  size_t pos = 10;
  if (flags & 0x04) {
    if (n < pos + 2) return 0;
    size_t xlen = p[pos] | (size_t(p[pos + 1]) << 8);
    pos += 2 + xlen;
    if (n < pos) return 0;
  }
  std::string name, comment;
  for (unsigned bit : {0x08u, 0x10u}) {
    if (!(flags & bit)) continue;
    const void* z = pos < n ? std::memchr(p + pos, 0, n - pos) : nullptr;
    if (!z) return 0;
    size_t end = static_cast<const unsigned char*>(z) - p;
    (bit == 0x08 ? name : comment).assign(reinterpret_cast<const char*>(p + pos), end - pos);
    pos = end + 1;
  }
  if (flags & 0x02) {
    pos += 2;
    if (n < pos) return 0;
  }
  if (info) {
    info->HasName = flags & 0x08;
    info->HasComment = flags & 0x10;
    info->Name = name;
    info->Comment = comment;
    info->MTime = GetLE32(p + 4);
  }
  return static_cast<long>(pos);
}

// ---------------------------------------------------------------------------------------------------
// TGzReader

struct TGzReader::TInflate {
  z_stream s{};
  bool ready = false;
  ~TInflate() {
    if (ready) inflateEnd(&s);
  }
};

TGzReader::TGzReader(const std::string& path) : path_(path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) throw ETarError("Can't open " + path + ": " + SystemErrorText(errno));
  struct stat st {};
  if (fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
    fileSize_ = st.st_size;
    posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
  }
  in_.resize(kInBuffer);
}

TGzReader::~TGzReader() {
  if (fd_ >= 0) ::close(fd_);
  if (fast_) libdeflate_free_decompressor(fast_);
}

void TGzReader::Fail(TGzReadError kind, const std::string& text) {
  error_ = kind;
  errorText_ = path_ + ": " + text;
  throw ETarError(errorText_);
}

// Makes `n` bytes available from inPos_ when the file has them; returns the bytes available.
size_t TGzReader::Ensure(size_t n) {
  size_t avail = inLen_ - inPos_;
  if (avail >= n || eof_) return avail;
  if (inPos_ > 0) {
    std::memmove(in_.data(), in_.data() + inPos_, avail);
    fileBase_ += static_cast<int64_t>(inPos_);
    inPos_ = 0;
    inLen_ = avail;
  }
  while (inLen_ < n && inLen_ < in_.size()) {
    ssize_t r = ::read(fd_, in_.data() + inLen_, in_.size() - inLen_);
    if (r < 0) {
      if (errno == EINTR) continue;
      Fail(TGzReadError::Io, "read error: " + SystemErrorText(errno));
    }
    if (r == 0) {
      eof_ = true;
      break;
    }
    inLen_ += static_cast<size_t>(r);
  }
  return inLen_ - inPos_;
}

bool TGzReader::StartMember() {
  size_t avail = Ensure(2);
  if (avail == 0) return false;
  if (avail < 2 || in_[inPos_] != 0x1f || in_[inPos_ + 1] != 0x8b) {
    if (members_ == 0) Fail(TGzReadError::BadHeader, "not in gzip format");
    return false;  // bytes after the last member are ignored, as gzip does
  }
  size_t want = 10;
  for (;;) {
    avail = Ensure(want);
    long r = ParseGzHeader(in_.data() + inPos_, avail, members_ == 0 ? &header_ : nullptr);
    if (r > 0) {
      inPos_ += static_cast<size_t>(r);
      break;
    }
    if (r < 0) Fail(TGzReadError::BadHeader, "unknown compression method or flags");
    if (avail < want) Fail(TGzReadError::Truncated, "unexpected end of file in a header");
    want = avail + 4096;
    if (want > in_.size()) Fail(TGzReadError::BadHeader, "header too long");
  }
  ++members_;
  inMember_ = true;
  slow_ = false;
  crc_ = 0;
  memberLen_ = 0;
  return true;
}

void TGzReader::FinishMember() {
  if (Ensure(8) < 8) Fail(TGzReadError::Truncated, "unexpected end of file");
  const unsigned char* t = in_.data() + inPos_;
  if (GetLE32(t) != crc_) Fail(TGzReadError::BadChecksum, "invalid compressed data--crc error");
  if (GetLE32(t + 4) != memberLen_) Fail(TGzReadError::BadChecksum, "invalid compressed data--length error");
  inPos_ += 8;
  inMember_ = false;
  slow_ = false;
}

// Inflates a whole member at once when it fits the buffers; false leaves the member to zlib.
bool TGzReader::FastMember() {
  // Refill (moving the rest to the front) only when little is left, not for every member.
  size_t avail = inLen_ - inPos_;
  if (avail < kFastOutput && !eof_) avail = Ensure(in_.size());
  if (!fast_) fast_ = libdeflate_alloc_decompressor();
  if (!fast_) return false;
  if (out_.size() < kFastOutput) out_.resize(kFastOutput);
  size_t used = 0, produced = 0;
  auto r = libdeflate_deflate_decompress_ex(fast_, in_.data() + inPos_, avail, out_.data(), out_.size(), &used,
                                            &produced);
  if (r != LIBDEFLATE_SUCCESS) return false;
  inPos_ += used;
  crc_ = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(out_.data()), static_cast<uInt>(produced)));
  memberLen_ = static_cast<uint32_t>(produced);
  outPos_ = 0;
  outLen_ = produced;
  FinishMember();
  return true;
}

size_t TGzReader::ReadSlow(char* out, size_t n) {
  if (!inflate_) inflate_ = std::make_unique<TInflate>();
  z_stream& s = inflate_->s;
  if (!inflate_->ready) {
    if (inflateInit2(&s, -15) != Z_OK) Fail(TGzReadError::Io, "out of memory");
    inflate_->ready = true;
  }
  if (memberLen_ == 0 && s.total_in != 0) inflateReset(&s);
  n = std::min<size_t>(n, 1u << 30);
  for (;;) {
    size_t avail = inLen_ - inPos_;
    if (avail == 0) avail = Ensure(1);
    if (avail == 0) Fail(TGzReadError::Truncated, "unexpected end of file");
    s.next_in = in_.data() + inPos_;
    s.avail_in = static_cast<uInt>(std::min<size_t>(avail, 1u << 30));
    s.next_out = reinterpret_cast<Bytef*>(out);
    s.avail_out = static_cast<uInt>(n);
    uInt before = s.avail_in;
    int ret = inflate(&s, Z_NO_FLUSH);
    inPos_ += before - s.avail_in;
    size_t produced = n - s.avail_out;
    crc_ = static_cast<uint32_t>(crc32(crc_, reinterpret_cast<const Bytef*>(out), static_cast<uInt>(produced)));
    memberLen_ += static_cast<uint32_t>(produced);
    if (ret == Z_STREAM_END) {
      inflateReset(&s);
      FinishMember();
      return produced;
    }
    if (ret == Z_DATA_ERROR) Fail(TGzReadError::BadData, std::string("invalid compressed data--") + (s.msg ? s.msg : "format violated"));
    if (ret != Z_OK && ret != Z_BUF_ERROR) Fail(TGzReadError::BadData, "inflate failed");
    if (produced > 0) return produced;
    if (s.avail_in == 0 && eof_ && inPos_ == inLen_) Fail(TGzReadError::Truncated, "unexpected end of file");
    if (s.avail_in != 0 && before == s.avail_in) Ensure(avail + 1);  // needs more input in one piece
  }
}

size_t TGzReader::ReadRaw(char* out, size_t n) {
  size_t avail = inLen_ - inPos_;
  if (avail > 0) {
    size_t k = std::min(avail, n);
    std::memcpy(out, in_.data() + inPos_, k);
    inPos_ += k;
    return k;
  }
  if (eof_) return 0;
  for (;;) {
    ssize_t r = ::read(fd_, out, n);
    if (r < 0) {
      if (errno == EINTR) continue;
      Fail(TGzReadError::Io, "read error: " + SystemErrorText(errno));
    }
    if (r == 0) eof_ = true;
    fileBase_ += r;
    return static_cast<size_t>(r);
  }
}

size_t TGzReader::Read(void* buffer, size_t n) {
  if (error_ != TGzReadError::None) throw ETarError(errorText_);
  if (n == 0) return 0;
  char* out = static_cast<char*>(buffer);
  if (!started_) {
    started_ = true;
    size_t avail = Ensure(2);
    if (avail < 2 || in_[inPos_] != 0x1f || in_[inPos_ + 1] != 0x8b) transparent_ = true;
  }
  if (transparent_) {
    size_t k = ReadRaw(out, n);
    delivered_ += static_cast<int64_t>(k);
    return k;
  }
  for (;;) {
    if (outPos_ < outLen_) {
      size_t k = std::min(n, outLen_ - outPos_);
      std::memcpy(out, out_.data() + outPos_, k);
      outPos_ += k;
      delivered_ += static_cast<int64_t>(k);
      return k;
    }
    if (finished_) return 0;
    if (!inMember_ && !StartMember()) {
      finished_ = true;
      return 0;
    }
    if (!slow_) {
      if (FastMember()) continue;
      slow_ = true;
    }
    size_t k = ReadSlow(out, n);
    if (k > 0) {
      delivered_ += static_cast<int64_t>(k);
      return k;
    }
  }
}

// ---------------------------------------------------------------------------------------------------
// TGzWriter

struct TGzWriter::TImpl {
  struct TJob {
    std::vector<unsigned char> in;
    std::vector<unsigned char> out;
    bool first = false;
    bool done = false;
  };

  TTarOutput* sink;
  bool owns;
  TGzWriteOptions opt;
  bool parallel;
  bool closed = false;
  bool anyMember = false;
  std::vector<unsigned char> current;
  // Parallel blocks.
  std::vector<std::thread> workers;
  std::mutex mutex;
  std::condition_variable wake, doneCv;
  std::deque<std::shared_ptr<TJob>> queue, inflight;
  bool stop = false;
  unsigned threads = 1;
  libdeflate_compressor* inlineCompressor = nullptr;
  // One zlib stream for the other strategies.
  z_stream zs{};
  bool zsReady = false;
  uint32_t crc = 0;
  uint32_t length = 0;
  std::vector<unsigned char> zout;

  TImpl(TTarOutput* s, bool o, const TGzWriteOptions& op) : sink(s), owns(o), opt(op) {
    opt.Level = std::clamp(opt.Level, 0, 9);
    parallel = opt.Strategy == TCompressionType::Standard;
    threads = opt.Threads > 0 ? static_cast<unsigned>(opt.Threads) : std::max(1u, std::thread::hardware_concurrency());
  }

  ~TImpl() {
    StopWorkers();
    if (inlineCompressor) libdeflate_free_compressor(inlineCompressor);
    if (zsReady) deflateEnd(&zs);
    if (owns) delete sink;
  }

  void StopWorkers() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stop = true;
      queue.clear();
    }
    wake.notify_all();
    for (auto& t : workers) t.join();
    workers.clear();
  }

  void Compress(TJob& job, libdeflate_compressor* c) {
    TGzHeaderInfo h;
    if (job.first) h = opt.Header;
    std::string head = GzMemberHeader(h);
    size_t bound = libdeflate_deflate_compress_bound(c, job.in.size());
    job.out.resize(head.size() + bound + 8);
    std::memcpy(job.out.data(), head.data(), head.size());
    size_t n;
    if (job.in.empty()) {
      // The shortest empty deflate stream: one final fixed-Huffman block holding only its end code.
      job.out[head.size()] = 0x03;
      job.out[head.size() + 1] = 0x00;
      n = 2;
    } else {
      n = libdeflate_deflate_compress(c, job.in.data(), job.in.size(), job.out.data() + head.size(), bound);
    }
    unsigned char* t = job.out.data() + head.size() + n;
    PutLE32(t, static_cast<uint32_t>(crc32(0, job.in.data(), static_cast<uInt>(job.in.size()))));
    PutLE32(t + 4, static_cast<uint32_t>(job.in.size()));
    job.out.resize(head.size() + n + 8);
  }

  void Worker() {
    libdeflate_compressor* c = libdeflate_alloc_compressor(opt.Level);
    for (;;) {
      std::shared_ptr<TJob> job;
      {
        std::unique_lock<std::mutex> lock(mutex);
        wake.wait(lock, [&] { return stop || !queue.empty(); });
        if (queue.empty()) break;
        job = queue.front();
        queue.pop_front();
      }
      Compress(*job, c);
      {
        std::lock_guard<std::mutex> lock(mutex);
        job->done = true;
      }
      doneCv.notify_all();
    }
    libdeflate_free_compressor(c);
  }

  void WriteFront() {
    std::shared_ptr<TJob> job;
    {
      std::unique_lock<std::mutex> lock(mutex);
      doneCv.wait(lock, [&] { return inflight.front()->done; });
      job = inflight.front();
      inflight.pop_front();
    }
    sink->Write(job->out.data(), job->out.size());
  }

  void Submit(bool last) {
    auto job = std::make_shared<TJob>();
    job->in.swap(current);
    job->first = !anyMember;
    anyMember = true;
    if (last && workers.empty()) {
      // A small file (one block): compress here without starting threads.
      if (!inlineCompressor) inlineCompressor = libdeflate_alloc_compressor(opt.Level);
      Compress(*job, inlineCompressor);
      sink->Write(job->out.data(), job->out.size());
      return;
    }
    if (workers.empty()) {
      for (unsigned i = 0; i < threads; ++i) workers.emplace_back([this] { Worker(); });
    }
    {
      std::lock_guard<std::mutex> lock(mutex);
      inflight.push_back(job);
      queue.push_back(job);
    }
    wake.notify_one();
    while (inflight.size() > 2 * threads) WriteFront();
    current.reserve(kBlock);
  }

  void ZlibStart() {
    if (deflateInit2(&zs, opt.Level, Z_DEFLATED, -15, 8,
                     opt.Strategy == TCompressionType::Filtered ? Z_FILTERED : Z_HUFFMAN_ONLY) != Z_OK)
      throw ETarError("Can't set up the compressor");
    zsReady = true;
    zout.resize(256 << 10);
    std::string head = GzMemberHeader(opt.Header);
    sink->Write(head.data(), head.size());
  }

  void ZlibDeflate(const unsigned char* p, size_t n, int flush) {
    zs.next_in = const_cast<Bytef*>(p);
    zs.avail_in = static_cast<uInt>(n);
    for (;;) {
      zs.next_out = zout.data();
      zs.avail_out = static_cast<uInt>(zout.size());
      int r = deflate(&zs, flush);
      size_t produced = zout.size() - zs.avail_out;
      if (produced) sink->Write(zout.data(), produced);
      if (r == Z_STREAM_END) break;
      if (r != Z_OK && r != Z_BUF_ERROR) throw ETarError("Deflate failed");
      if (flush == Z_NO_FLUSH && zs.avail_in == 0) break;
    }
  }

  void Write(const unsigned char* p, size_t n) {
    if (!parallel) {
      if (!zsReady) ZlibStart();
      crc = static_cast<uint32_t>(crc32(crc, p, static_cast<uInt>(n)));
      length += static_cast<uint32_t>(n);
      while (n > 0) {
        size_t k = std::min<size_t>(n, 1u << 30);
        ZlibDeflate(p, k, Z_NO_FLUSH);
        p += k;
        n -= k;
      }
      return;
    }
    if (current.capacity() < kBlock) current.reserve(kBlock);
    while (n > 0) {
      size_t k = std::min(n, kBlock - current.size());
      current.insert(current.end(), p, p + k);
      p += k;
      n -= k;
      if (current.size() == kBlock) Submit(false);
    }
  }

  void Close() {
    if (closed) return;
    closed = true;
    if (!parallel) {
      if (!zsReady) ZlibStart();
      ZlibDeflate(nullptr, 0, Z_FINISH);
      unsigned char t[8];
      PutLE32(t, crc);
      PutLE32(t + 4, length);
      sink->Write(t, 8);
    } else {
      if (!current.empty() || !anyMember) Submit(true);
      while (!inflight.empty()) WriteFront();
      StopWorkers();
    }
    sink->Close();
  }
};

TGzWriter::TGzWriter(TTarOutput* sink, bool owns, const TGzWriteOptions& options)
    : impl_(std::make_unique<TImpl>(sink, owns, options)) {}

TGzWriter::~TGzWriter() = default;

void TGzWriter::Write(const void* data, size_t n) {
  bytesIn_ += n;
  impl_->Write(static_cast<const unsigned char*>(data), n);
}

void TGzWriter::Close() { impl_->Close(); }
