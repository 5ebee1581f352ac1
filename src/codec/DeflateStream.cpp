#include "codec/DeflateStream.h"

#include <libdeflate.h>
#include <zlib.h>
#ifdef TANDOR_WITH_ISAL
#include <isa-l/igzip_lib.h>
#endif

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

#include "codec/DeflateScan.h"

namespace codec {
namespace {

// An empty stored block that is not final, from a byte boundary: header bits and padding, LEN, NLEN.
constexpr char kSyncMarker[5] = {0x00, 0x00, 0x00, char(0xFF), char(0xFF)};
// An empty final block with the fixed code: header and end-of-block code.
constexpr char kEmptyFinal[2] = {0x03, 0x00};

// One libdeflate compressor per level and thread.
libdeflate_compressor* CompressorFor(int level) {
  struct TCache {
    libdeflate_compressor* c[13] = {};
    ~TCache() {
      for (auto* p : c)
        if (p) libdeflate_free_compressor(p);
    }
  };
  static thread_local TCache cache;
  level = std::clamp(level, 0, 12);
  if (!cache.c[level]) cache.c[level] = libdeflate_alloc_compressor(level);
  if (!cache.c[level]) throw std::bad_alloc();
  return cache.c[level];
}

// A thread's buffer for compressed output: only the bytes produced are touched, and only they are
// copied into the piece, so that a piece holds no more memory than its size.
uint8_t* Scratch(size_t n) {
  struct TScratch {
    std::unique_ptr<uint8_t[]> p;
    size_t size = 0;
  };
  static thread_local TScratch s;
  if (s.size < n) {
    s.p.reset(new uint8_t[n]);
    s.size = n;
  }
  return s.p.get();
}

// Stored blocks only, from a byte boundary.
void StorePiece(const uint8_t* in, size_t n, bool last, std::string& out) {
  if (n == 0) {
    if (last) out.append(kEmptyFinal, 2);
    else out.append(kSyncMarker, 5);
    return;
  }
  while (n > 0) {
    size_t k = std::min<size_t>(n, 65535);
    n -= k;
    char head[5] = {char(last && n == 0 ? 1 : 0), char(k & 0xFF), char(k >> 8), char(~k & 0xFF), char((~k >> 8) & 0xFF)};
    out.append(head, 5);
    out.append(reinterpret_cast<const char*>(in), k);
    in += k;
  }
}

// libdeflate output turned into a piece: the final bit cleared and an empty stored block to end on a
// byte boundary when more pieces follow.
void LibdeflatePiece(int level, const uint8_t* in, size_t n, bool last, std::string& out) {
  if (n == 0) {
    StorePiece(in, 0, last, out);
    return;
  }
  libdeflate_compressor* c = CompressorFor(LibdeflateLevel(level));
  const size_t bound = libdeflate_deflate_compress_bound(c, n);
  uint8_t* dst = Scratch(bound + sizeof kSyncMarker + 1);
  size_t got = libdeflate_deflate_compress(c, in, n, dst, bound);
  if (got == 0) {  // cannot happen within the bound; stored blocks are always right
    StorePiece(in, n, last, out);
    return;
  }
  if (last) {
    out.append(reinterpret_cast<const char*>(dst), got);
    return;
  }
  TDeflateLayout layout;
  if (!ScanDeflate(dst, got, layout)) {
    StorePiece(in, n, last, out);
    return;
  }
  dst[layout.FinalHeaderBit >> 3] &= uint8_t(~(1u << (layout.FinalHeaderBit & 7)));
  size_t bytes = size_t(layout.EndBit >> 3);
  unsigned bit = unsigned(layout.EndBit & 7);
  if (bit) {
    dst[bytes] &= uint8_t((1u << bit) - 1);  // nothing after the last code
    ++bytes;
  }
  // The stored block's three header bits fit in the last byte's free bits, or start a new byte.
  size_t at = bytes;
  if (bit == 0 || bit > 5) dst[at++] = 0;
  std::memcpy(dst + at, kSyncMarker + 1, 4);
  out.append(reinterpret_cast<const char*>(dst), at + 4);
}

#ifdef TANDOR_WITH_ISAL
// ISA-L keeps the dictionary: the piece's matches may reach into the 32 KiB before it.
void IsalPiece(int level, const uint8_t* dict, size_t dictLen, const uint8_t* in, size_t n, bool last,
               std::string& out) {
  static const uint32_t kLevelBuf[4] = {0, ISAL_DEF_LVL1_DEFAULT, ISAL_DEF_LVL2_DEFAULT, ISAL_DEF_LVL3_DEFAULT};
  struct TState {
    isal_zstream s;
    std::vector<uint8_t> levelBuf = std::vector<uint8_t>(ISAL_DEF_LVL3_DEFAULT);
  };
  static thread_local std::unique_ptr<TState> state;
  if (!state) state = std::make_unique<TState>();
  isal_zstream& s = state->s;
  isal_deflate_init(&s);
  s.level = uint32_t(level);
  s.level_buf = state->levelBuf.data();
  s.level_buf_size = kLevelBuf[level];
  s.end_of_stream = last ? 1 : 0;
  s.flush = last ? NO_FLUSH : SYNC_FLUSH;
  if (dictLen && isal_deflate_set_dict(&s, const_cast<uint8_t*>(dict), uint32_t(dictLen)) != COMP_OK)
    throw std::runtime_error("the compressor refused its dictionary");
  size_t room = n + n / 16 + 1024;
  uint8_t* dst = Scratch(room);
  s.next_in = const_cast<uint8_t*>(in);
  s.avail_in = uint32_t(n);
  size_t produced = 0;
  for (;;) {
    s.next_out = dst + produced;
    s.avail_out = uint32_t(std::min<size_t>(room - produced, 1u << 30));
    uint32_t before = s.avail_out;
    int r = isal_deflate(&s);
    if (r != COMP_OK) throw std::runtime_error("compression failed");
    produced += before - s.avail_out;
    if (last ? s.internal_state.state == ZSTATE_END : (s.avail_in == 0 && s.avail_out != 0)) break;
    if (s.avail_out == 0) {
      // More than the room: what came joins the piece and the buffer is used again.
      out.append(reinterpret_cast<const char*>(dst), produced);
      produced = 0;
    }
  }
  out.append(reinterpret_cast<const char*>(dst), produced);
}
#endif

}  // namespace

bool LooksIncompressible(const uint8_t* in, size_t n) {
  constexpr size_t kSample = 32u << 10;
  constexpr size_t kSamples = 8;
  if (n < (256u << 10)) return false;
  libdeflate_compressor* c = CompressorFor(1);
  uint8_t out[kSample + 1024];
  for (size_t i = 0; i < kSamples; ++i) {
    size_t at = (n - kSample) / (kSamples - 1) * i;
    size_t got = libdeflate_deflate_compress(c, in + at, kSample, out, sizeof out);
    if (got != 0 && got < kSample - kSample / 100) return false;
  }
  return true;
}

int LibdeflateLevel(int level) {
  static const int map[10] = {0, 1, 2, 3, 3, 4, 4, 6, 7, 9};
  return map[std::clamp(level, 0, 9)];
}

bool UsesIsal(int level) {
#ifdef TANDOR_WITH_ISAL
  return level >= 1 && level <= 3;
#else
  (void)level;
  return false;
#endif
}

void DeflatePiece(int level, const uint8_t* dict, size_t dictLen, const uint8_t* in, size_t n, bool last,
                  std::string& out) {
  level = std::clamp(level, 0, 9);
  if (level == 0 || LooksIncompressible(in, n)) {
    StorePiece(in, n, last, out);
    return;
  }
#ifdef TANDOR_WITH_ISAL
  if (UsesIsal(level)) {
    IsalPiece(level, dict, std::min(dictLen, kDeflateDictionary), in, n, last, out);
    return;
  }
#endif
  (void)dict;
  (void)dictLen;
  LibdeflatePiece(level, in, n, last, out);
}

uint32_t Crc32(uint32_t crc, const void* data, size_t n) { return libdeflate_crc32(crc, data, n); }

uint32_t Crc32Combine(uint32_t first, uint32_t second, uint64_t secondLength) {
  return uint32_t(crc32_combine64(first, second, z_off64_t(secondLength)));
}

// ---------------------------------------------------------------------------------------------------
// TParallelDeflate

struct TParallelDeflate::TImpl {
  struct TJob {
    std::string in, dict, out;
    bool last = false;
    bool done = false;
    uint32_t crc = 0;
    std::exception_ptr error;
  };

  int level;
  TSink sink;
  unsigned threads;
  size_t pieceSize;
  std::string current;
  std::string dict;  // the last 32 KiB of input handed out
  std::vector<std::string> spare;  // buffers of finished jobs, reused
  std::deque<std::shared_ptr<TJob>> inflight, queue;
  std::vector<std::thread> workers;
  std::mutex mutex;
  std::condition_variable wake, doneCv;
  bool stop = false;
  bool finished = false;
  uint32_t crc = 0;
  uint64_t bytesIn = 0, bytesOut = 0;

  TImpl(int l, TSink s, unsigned t, size_t p)
      : level(std::clamp(l, 0, 9)), sink(std::move(s)), threads(t ? t : std::max(1u, std::thread::hardware_concurrency())),
        pieceSize(std::max<size_t>(p, 1)) {}

  ~TImpl() { StopWorkers(); }

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

  std::string Spare() {
    if (spare.empty()) return std::string();
    std::string s = std::move(spare.back());
    spare.pop_back();
    s.clear();
    return s;
  }

  static void Run(TJob& job, int level) {
    try {
      job.crc = Crc32(0, job.in.data(), job.in.size());
      DeflatePiece(level, reinterpret_cast<const uint8_t*>(job.dict.data()), job.dict.size(),
                   reinterpret_cast<const uint8_t*>(job.in.data()), job.in.size(), job.last, job.out);
    } catch (...) {
      job.error = std::current_exception();
    }
  }

  void Worker() {
    for (;;) {
      std::shared_ptr<TJob> job;
      {
        std::unique_lock<std::mutex> lock(mutex);
        wake.wait(lock, [&] { return stop || !queue.empty(); });
        if (queue.empty()) return;
        job = queue.front();
        queue.pop_front();
      }
      Run(*job, level);
      {
        std::lock_guard<std::mutex> lock(mutex);
        job->done = true;
      }
      doneCv.notify_all();
    }
  }

  void Emit(TJob& job) {
    if (job.error) std::rethrow_exception(job.error);
    crc = Crc32Combine(crc, job.crc, job.in.size());
    bytesOut += job.out.size();
    sink(job.out.data(), job.out.size());
  }

  void EmitFront() {
    std::shared_ptr<TJob> job;
    {
      std::unique_lock<std::mutex> lock(mutex);
      doneCv.wait(lock, [&] { return inflight.front()->done; });
      job = inflight.front();
      inflight.pop_front();
    }
    Emit(*job);
    spare.push_back(std::move(job->in));
    spare.push_back(std::move(job->out));
  }

  void Submit(bool last) {
    auto job = std::make_shared<TJob>();
    job->in.swap(current);
    job->out = Spare();
    job->last = last;
    if (level > 0 && UsesIsal(level)) {
      job->dict = dict;
      const std::string& in = job->in;
      if (in.size() >= kDeflateDictionary) {
        dict.assign(in, in.size() - kDeflateDictionary, kDeflateDictionary);
      } else {
        dict.append(in);
        if (dict.size() > kDeflateDictionary) dict.erase(0, dict.size() - kDeflateDictionary);
      }
    }
    current = Spare();
    if (last && workers.empty()) {
      Run(*job, level);  // everything fitted in one piece: no threads
      Emit(*job);
      return;
    }
    if (workers.empty())
      for (unsigned i = 0; i < threads; ++i) workers.emplace_back([this] { Worker(); });
    {
      std::lock_guard<std::mutex> lock(mutex);
      inflight.push_back(job);
      queue.push_back(job);
    }
    wake.notify_one();
    while (inflight.size() > 2 * size_t(threads)) EmitFront();
  }

  void Write(const char* p, size_t n) {
    if (finished) throw std::logic_error("write after the end of the deflate stream");
    bytesIn += n;
    while (n > 0) {
      if (current.capacity() < pieceSize) current.reserve(pieceSize);
      size_t k = std::min(n, pieceSize - current.size());
      current.append(p, k);
      p += k;
      n -= k;
      if (current.size() == pieceSize) Submit(false);
    }
  }

  void Finish() {
    if (finished) return;
    finished = true;
    Submit(true);
    while (!inflight.empty()) EmitFront();
    StopWorkers();
  }
};

TParallelDeflate::TParallelDeflate(int level, TSink sink, unsigned threads, size_t pieceSize)
    : impl_(std::make_unique<TImpl>(level, std::move(sink), threads, pieceSize)) {}

TParallelDeflate::~TParallelDeflate() = default;

void TParallelDeflate::Write(const void* data, size_t n) { impl_->Write(static_cast<const char*>(data), n); }
void TParallelDeflate::Finish() { impl_->Finish(); }
uint32_t TParallelDeflate::Crc() const { return impl_->crc; }
uint64_t TParallelDeflate::BytesIn() const { return impl_->bytesIn; }
uint64_t TParallelDeflate::BytesOut() const { return impl_->bytesOut; }

}  // namespace codec
