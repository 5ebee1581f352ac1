#pragma once
// Parallel compression with results handed out in file order. A small file is one piece, compressed
// whole (and encrypted in the worker when it needs it); a larger file is cut into pieces compressed
// independently on all workers, whose outputs join into one deflate stream (codec/DeflateStream.h).
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zipeng {

struct CompressTask {
  std::string path;
  uint64_t size = 0;        // size when examined
  bool deflate = true;
  int level = 6;
  std::string password;     // non-empty: encrypt (whole pieces only; the writer encrypts chunked files)
};

struct Piece {
  size_t task = 0;
  bool whole = true;         // the whole file in one piece
  bool last = true;          // last piece of its file
  bool ok = true;
  std::string error;
  std::string data;          // output bytes (for whole pieces: final, encryption header included)
  uint32_t crc = 0;          // CRC-32 of this piece's input
  uint64_t inputSize = 0;    // bytes of input this piece covers
  bool deflated = true;      // whole pieces may fall back to storing
};

class Compressor {
 public:
  // Files up to this size are compressed whole.
  static constexpr uint64_t kWholeLimit = 4ull << 20;
  static constexpr uint64_t kChunkSize = 4ull << 20;

  Compressor(std::vector<CompressTask> tasks, unsigned threads);
  ~Compressor();
  // The next piece in order; false when all pieces were handed out.
  bool Next(Piece& piece);
  // Stops the workers; pieces not yet taken are dropped.
  void Stop();

  static bool IsWhole(const CompressTask& t) { return t.size <= kWholeLimit; }

 private:
  // One unit of work: a run of small whole files, one whole file, or one piece of a large file.
  struct Slot {
    size_t task;
    size_t taskCount;
    uint64_t offset;
    uint64_t length;  // input bytes covered
    bool whole;
    bool last;
  };
  void Work();
  std::vector<Piece> Process(const Slot& slot);
  Piece ProcessWhole(size_t task);
  Piece ProcessChunk(const Slot& slot);

  std::vector<CompressTask> tasks_;
  std::vector<Slot> slots_;
  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable workCv_, doneCv_;
  size_t nextDispatch_ = 0;
  size_t nextConsume_ = 0;
  uint64_t inflight_ = 0;
  std::map<size_t, std::vector<Piece>> done_;
  std::deque<Piece> ready_;  // pieces of the slot being handed out (consumer side only)
  bool stop_ = false;
};

}  // namespace zipeng
