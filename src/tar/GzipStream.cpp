#include "tar/GzipStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "codec/DeflateStream.h"
#include "codec/Inflate.h"

namespace {

constexpr size_t kInBuffer = 4 << 20;   // compressed bytes read at once
constexpr size_t kMargin = 16;          // room to give back the bytes an inflater read past a stream's end
constexpr size_t kSlot = 2 << 20;       // decompressed bytes per ring buffer
constexpr int kSlots = 4;

void PutLE32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
uint32_t GetLE32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

std::string GzMemberHeader(const TGzHeaderInfo& h) {
  std::string s = {'\x1f', '\x8b', 8, 0, 0, 0, 0, 0, 0, 3};
  unsigned char flags = 0;
  if (h.HasName) flags |= 0x08;
  if (h.HasComment) flags |= 0x10;
  s[3] = static_cast<char>(flags);
  PutLE32(reinterpret_cast<unsigned char*>(s.data() + 4), h.MTime);
  s[8] = static_cast<char>(h.Level >= 9 ? 2 : h.Level == 1 ? 4 : 0);
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

// The decoding side: reads the file, walks the members and inflates into the ring. After the first
// member's header it runs on a thread of its own.
struct TGzReader::TDecoder {
  const std::string& path;
  int fd;
  TRawBuffer<unsigned char> in;
  size_t inPos = 0, inLen = 0;
  int64_t fileBase = 0;  // file offset of in[0]
  bool eof = false;
  int members = 0;
  uint64_t trailing = 0;  // bytes after the last member that are not zero padding
  uint32_t crc = 0, memberLen = 0;
  bool crcByReader = false;  // member CRCs left to the reader: `checks` say where members end
  struct TCheck {
    size_t at;      // offset in the slot just after the member's last byte
    uint32_t crc;   // the member's stored CRC
  };
  std::vector<TCheck>* checks = nullptr;  // of the slot being filled
  codec::TInflater inflater;
  std::atomic<int64_t> consumed{0};  // compressed bytes used, for progress

  // The ring: slots filled by the thread, taken by the reader, given back.
  TRawBuffer<char> slots[kSlots];
  size_t lens[kSlots] = {};
  std::vector<TCheck> slotChecks[kSlots];
  std::deque<int> filled, free;
  bool done = false;  // nothing will be filled after what is in `filled`
  TGzReadError error = TGzReadError::None;
  std::string errorText;
  bool stop = false;
  std::mutex mutex;
  std::condition_variable cv;
  std::thread thread;

  TDecoder(const std::string& p, int f) : path(p), fd(f) {
    in.resize(kInBuffer + kMargin);
    for (int i = 0; i < kSlots; ++i) free.push_back(i);
  }
  ~TDecoder() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stop = true;
    }
    cv.notify_all();
    if (thread.joinable()) thread.join();
  }

  struct EFailed {
    TGzReadError kind;
    std::string text;
  };
  [[noreturn]] void Fail(TGzReadError kind, const std::string& text) { throw EFailed{kind, path + ": " + text}; }

  // Makes `n` bytes available from inPos when the file has them; returns the bytes available.
  size_t Ensure(size_t n) {
    size_t avail = inLen - inPos;
    if (avail >= n || eof) return avail;
    if (inPos > kMargin) {
      // Keep a few bytes before inPos: an inflater may give back bytes it read past a stream's end.
      size_t from = inPos - kMargin;
      std::memmove(in.data(), in.data() + from, inLen - from);
      fileBase += static_cast<int64_t>(from);
      inPos -= from;
      inLen -= from;
    }
    while (inLen - inPos < n && inLen < in.size()) {
      ssize_t r = ::read(fd, in.data() + inLen, in.size() - inLen);
      if (r < 0) {
        if (errno == EINTR) continue;
        Fail(TGzReadError::Io, "read error: " + SystemErrorText(errno));
      }
      if (r == 0) {
        eof = true;
        break;
      }
      inLen += static_cast<size_t>(r);
    }
    return inLen - inPos;
  }

  // Steps back over bytes read past the end of a deflate stream.
  void Unread(const uint8_t* bytes, size_t k) {
    if (k > inPos) Fail(TGzReadError::BadData, "invalid compressed data--format violated");
    inPos -= k;
    std::memcpy(in.data() + inPos, bytes, k);
  }

  // The bytes from here to the end of the file, or 0 when all of them are zeros (padding).
  uint64_t CountTrailing() {
    uint64_t n = 0;
    bool data = false;
    for (size_t avail; (avail = Ensure(1)) > 0;) {
      const unsigned char* p = in.data() + inPos;
      data = data || std::any_of(p, p + avail, [](unsigned char c) { return c != 0; });
      n += avail;
      inPos += avail;
    }
    return data ? n : 0;
  }

  // Reads a member header; false at the end of the file (or of the gzip data in it).
  bool StartMember(TGzHeaderInfo* header) {
    size_t avail = Ensure(2);
    if (avail == 0) return false;
    if (avail < 2 || in[inPos] != 0x1f || in[inPos + 1] != 0x8b) {
      if (members == 0) Fail(TGzReadError::BadHeader, "not in gzip format");
      trailing = CountTrailing();  // bytes after the last member are ignored, as gzip does, and told
      return false;
    }
    size_t want = 10;
    for (;;) {
      avail = Ensure(want);
      long r = ParseGzHeader(in.data() + inPos, avail, header);
      if (r > 0) {
        inPos += static_cast<size_t>(r);
        break;
      }
      if (r < 0) Fail(TGzReadError::BadHeader, "unknown compression method or flags");
      if (avail < want) Fail(TGzReadError::Truncated, "unexpected end of file in a header");
      want = avail + 4096;
      if (want > kInBuffer) Fail(TGzReadError::BadHeader, "header too long");
    }
    ++members;
    crc = 0;
    memberLen = 0;
    inflater.Reset();
    return true;
  }

  void FinishMember(size_t filledNow) {
    if (Ensure(8) < 8) Fail(TGzReadError::Truncated, "unexpected end of file");
    const unsigned char* t = in.data() + inPos;
    if (crcByReader) checks->push_back({filledNow, GetLE32(t)});
    else if (GetLE32(t) != crc) Fail(TGzReadError::BadChecksum, "invalid compressed data--crc error");
    if (GetLE32(t + 4) != memberLen) Fail(TGzReadError::BadChecksum, "invalid compressed data--length error");
    inPos += 8;
  }

  // Inflates into `out` until it is full or the gzip data ends (`finished`); `filledNow` counts the bytes
  // written, also when a failure is thrown after them.
  void Fill(char* out, size_t room, size_t& filledNow, bool& inMember, bool& finished) {
    while (filledNow < room && !finished) {
      if (!inMember) {
        if (!StartMember(nullptr)) {
          finished = true;
          break;
        }
        inMember = true;
      }
      if (inPos == inLen) Ensure(1);
      size_t c = 0, p = 0;
      auto* dst = reinterpret_cast<uint8_t*>(out + filledNow);
      codec::TInflateStatus st = inflater.Step(in.data() + inPos, inLen - inPos, c, dst, room - filledNow, p);
      inPos += c;
      if (!crcByReader) crc = codec::Crc32(crc, dst, p);
      memberLen += static_cast<uint32_t>(p);
      filledNow += p;
      if (st == codec::TInflateStatus::BadData) Fail(TGzReadError::BadData, "invalid compressed data--format violated");
      if (st == codec::TInflateStatus::End) {
        uint8_t back[8];
        Unread(back, inflater.TakeBack(back));
        FinishMember(filledNow);
        inMember = false;
      } else if (c == 0 && p == 0) {
        size_t before = inLen - inPos;
        if (Ensure(before + 1) == before) Fail(TGzReadError::Truncated, "unexpected end of file");
      }
      consumed.store(fileBase + static_cast<int64_t>(inPos), std::memory_order_relaxed);
    }
  }

  void Run() {
    bool inMember = true, finished = false;
    for (;;) {
      int slot;
      {
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait(lock, [&] { return stop || !free.empty(); });
        if (stop) return;
        slot = free.front();
        free.pop_front();
      }
      if (slots[slot].empty()) slots[slot].resize(kSlot);
      slotChecks[slot].clear();
      checks = &slotChecks[slot];
      size_t n = 0;
      TGzReadError kind = TGzReadError::None;
      std::string text;
      try {
        Fill(slots[slot].data(), kSlot, n, inMember, finished);
      } catch (const EFailed& e) {
        kind = e.kind;
        text = e.text;
      } catch (const std::exception& e) {
        kind = TGzReadError::Io;
        text = path + ": " + e.what();
      }
      {
        std::lock_guard<std::mutex> lock(mutex);
        lens[slot] = n;
        if (n > 0) filled.push_back(slot);
        else free.push_back(slot);
        if (kind != TGzReadError::None) {
          error = kind;
          errorText = text;
        }
        if (finished || kind != TGzReadError::None) done = true;
      }
      cv.notify_all();
      if (done) return;
    }
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
}

TGzReader::~TGzReader() {
  decoder_.reset();
  if (fd_ >= 0) ::close(fd_);
}

int64_t TGzReader::SourcePosition() const {
  if (decoder_) return decoder_->consumed.load(std::memory_order_relaxed);
  return rawPos_;
}

std::string TGzReader::TrailingGarbage() const {
  if (!decoder_ || transparent_ || decoder_->trailing == 0) return "";
  return path_ + ": decompression OK, " + std::to_string(decoder_->trailing) + " bytes of trailing garbage ignored";
}

void TGzReader::Raise() {
  throw ETarError(errorText_);
}

// Tells gzip from other data, reads the first header here (so that Header() is valid at once) and
// starts the decoding thread.
void TGzReader::Start() {
  started_ = true;
  decoder_ = std::make_unique<TDecoder>(path_, fd_);
  TDecoder& d = *decoder_;
  try {
    size_t avail = d.Ensure(2);
    if (avail < 2 || d.in[0] != 0x1f || d.in[1] != 0x8b) {
      transparent_ = true;
    } else {
      d.StartMember(&header_);
    }
  } catch (const TDecoder::EFailed& e) {
    error_ = e.kind;
    errorText_ = e.text;
    Raise();
  }
  if (transparent_) {
    rawPos_ = 0;
    return;  // the bytes already read are served from d.in by ReadRaw
  }
  d.crcByReader = CrcOnReader;
  d.thread = std::thread([&d] { d.Run(); });
}

size_t TGzReader::ReadRaw(char* out, size_t n) {
  TDecoder& d = *decoder_;
  size_t avail = d.inLen - d.inPos;
  if (avail > 0) {
    size_t k = std::min(avail, n);
    std::memcpy(out, d.in.data() + d.inPos, k);
    d.inPos += k;
    rawPos_ += static_cast<int64_t>(k);
    return k;
  }
  if (d.eof) return 0;
  for (;;) {
    ssize_t r = ::read(fd_, out, n);
    if (r < 0) {
      if (errno == EINTR) continue;
      error_ = TGzReadError::Io;
      errorText_ = path_ + ": read error: " + SystemErrorText(errno);
      Raise();
    }
    if (r == 0) d.eof = true;
    rawPos_ += r;
    return static_cast<size_t>(r);
  }
}

size_t TGzReader::Next(const char*& data, size_t max) {
  if (error_ != TGzReadError::None) Raise();
  if (max == 0) return 0;
  if (!started_) Start();
  TDecoder& d = *decoder_;
  if (transparent_) {
    // Served from the input buffer, refilled as it runs dry.
    if (d.inPos == d.inLen && !d.eof) {
      d.inPos = d.inLen = 0;
      try {
        d.Ensure(1);
      } catch (const TDecoder::EFailed& e) {
        error_ = e.kind;
        errorText_ = e.text;
        Raise();
      }
    }
    size_t k = std::min(max, d.inLen - d.inPos);
    data = reinterpret_cast<const char*>(d.in.data() + d.inPos);
    d.inPos += k;
    rawPos_ += static_cast<int64_t>(k);
    delivered_ += static_cast<int64_t>(k);
    return k;
  }
  if (slot_ >= 0) {
    // Members that ended where the reading stands are checked before anything after them is given.
    const auto& checks = d.slotChecks[slot_];
    for (; check_ < checks.size() && checks[check_].at == slotPos_; ++check_) {
      if (checks[check_].crc != crc_) {
        error_ = TGzReadError::BadChecksum;
        errorText_ = path_ + ": invalid compressed data--crc error";
        Raise();
      }
      crc_ = 0;
    }
  }
  if (slot_ >= 0 && slotPos_ == slotLen_) {
    {
      std::lock_guard<std::mutex> lock(d.mutex);
      d.free.push_back(slot_);
    }
    d.cv.notify_all();
    slot_ = -1;
  }
  if (slot_ < 0) {
    std::unique_lock<std::mutex> lock(d.mutex);
    d.cv.wait(lock, [&] { return !d.filled.empty() || d.done; });
    if (d.filled.empty()) {
      if (d.error != TGzReadError::None) {
        error_ = d.error;
        errorText_ = d.errorText;
        lock.unlock();
        Raise();
      }
      return 0;
    }
    slot_ = d.filled.front();
    d.filled.pop_front();
    slotPos_ = 0;
    slotLen_ = d.lens[slot_];
    check_ = 0;
  }
  size_t end = slotLen_;
  if (d.crcByReader) {
    // Up to the next member end at most, so that each member's CRC is complete there.
    const auto& checks = d.slotChecks[slot_];
    if (check_ < checks.size()) end = checks[check_].at;
    if (end == slotPos_) return Next(data, max);  // a member ended at the start of this slot
  }
  size_t k = std::min(max, end - slotPos_);
  data = d.slots[slot_].data() + slotPos_;
  if (d.crcByReader) crc_ = codec::Crc32(crc_, data, k);
  slotPos_ += k;
  delivered_ += static_cast<int64_t>(k);
  return k;
}

size_t TGzReader::Read(void* buffer, size_t n) {
  if (error_ != TGzReadError::None) Raise();
  if (n == 0) return 0;
  if (!started_) Start();
  if (transparent_ && (n >= kSlot || decoder_->inPos == decoder_->inLen)) {
    // Large reads of a plain file go straight to the caller's buffer.
    size_t k = ReadRaw(static_cast<char*>(buffer), n);
    delivered_ += static_cast<int64_t>(k);
    return k;
  }
  const char* p = nullptr;
  size_t k = Next(p, n);
  if (k) std::memcpy(buffer, p, k);
  return k;
}

// ---------------------------------------------------------------------------------------------------
// TGzWriter

struct TGzWriter::TImpl {
  TTarOutput* sink;
  bool owns;
  TGzWriteOptions opt;
  bool closed = false;
  bool headerWritten = false;
  // The default strategy: parallel pieces joined into one stream.
  std::unique_ptr<codec::TParallelDeflate> parallel;
  // One zlib stream for the other strategies.
  z_stream zs{};
  bool zsReady = false;
  uint32_t crc = 0;
  uint32_t length = 0;
  std::vector<unsigned char> zout;

  TImpl(TTarOutput* s, bool o, const TGzWriteOptions& op) : sink(s), owns(o), opt(op) {
    opt.Level = std::clamp(opt.Level, 0, 9);
    opt.Header.Level = opt.Level;
    if (opt.Strategy == TCompressionType::Standard) {
      parallel = std::make_unique<codec::TParallelDeflate>(
          opt.Level, [this](const char* p, size_t n) { sink->Write(p, n); }, static_cast<unsigned>(std::max(0, opt.Threads)));
    }
  }

  ~TImpl() {
    parallel.reset();
    if (zsReady) deflateEnd(&zs);
    if (owns) delete sink;
  }

  void WriteHeader() {
    if (headerWritten) return;
    headerWritten = true;
    std::string head = GzMemberHeader(opt.Header);
    sink->Write(head.data(), head.size());
  }

  void ZlibStart() {
    if (deflateInit2(&zs, opt.Level, Z_DEFLATED, -15, 8,
                     opt.Strategy == TCompressionType::Filtered ? Z_FILTERED : Z_HUFFMAN_ONLY) != Z_OK)
      throw ETarError("Can't set up the compressor");
    zsReady = true;
    zout.resize(256 << 10);
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
    WriteHeader();
    if (parallel) {
      parallel->Write(p, n);
      return;
    }
    if (!zsReady) ZlibStart();
    crc = static_cast<uint32_t>(crc32(crc, p, static_cast<uInt>(n)));
    length += static_cast<uint32_t>(n);
    while (n > 0) {
      size_t k = std::min<size_t>(n, 1u << 30);
      ZlibDeflate(p, k, Z_NO_FLUSH);
      p += k;
      n -= k;
    }
  }

  void Close() {
    if (closed) return;
    closed = true;
    WriteHeader();
    unsigned char t[8];
    if (parallel) {
      try {
        parallel->Finish();
      } catch (const ETarError&) {
        throw;
      } catch (const std::exception& e) {
        throw ETarError(std::string("Deflate failed: ") + e.what());
      }
      PutLE32(t, parallel->Crc());
      PutLE32(t + 4, static_cast<uint32_t>(parallel->BytesIn()));
    } else {
      if (!zsReady) ZlibStart();
      ZlibDeflate(nullptr, 0, Z_FINISH);
      PutLE32(t, crc);
      PutLE32(t + 4, length);
    }
    sink->Write(t, 8);
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
