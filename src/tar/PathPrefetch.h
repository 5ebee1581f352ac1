#pragma once
// Looks up and opens the paths about to be archived on a thread of its own, in order and a bounded
// number ahead, so that the writing thread finds each file's status and descriptor ready.
#include <fcntl.h>
#include <sys/stat.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Regular files up to this size are read ahead too.
constexpr size_t kPrefetchReadLimit = 64u << 10;

struct TPrefetchedPath {
  struct statx Status {};
  int StatError = 0;  // errno of the lookup, 0 when Status holds
  int Fd = -1;        // a regular file opened for reading and not read ahead; -1 otherwise
  int OpenError = 0;  // errno of the open of a regular file
  bool Loaded = false;  // a small regular file read ahead: Data holds what it gave, or ReadError is set
  int ReadError = 0;
  std::string Data;
};

class TPathPrefetch {
 public:
  // Starts at once; `ahead` bounds the paths looked up but not yet taken (and the descriptors held).
  explicit TPathPrefetch(std::vector<std::string> paths, size_t ahead = 128);
  // Stops the thread and closes every descriptor not taken.
  ~TPathPrefetch();
  TPathPrefetch(const TPathPrefetch&) = delete;
  TPathPrefetch& operator=(const TPathPrefetch&) = delete;

  // The next path's result when `path` is that next path (the caller then owns Fd; the buffer `out`
  // held before is used again). A path out of order ends the prefetching: this and every later call
  // return false, and the caller looks up for itself.
  bool Take(const std::string& path, TPrefetchedPath& out);

 private:
  void Run();
  void Load(TPrefetchedPath& r);
  void Stop();

  std::vector<std::string> paths_;
  size_t ahead_;
  size_t next_ = 0;  // index of the next path to take
  std::mutex mutex_;
  std::condition_variable produced_, consumed_;
  std::deque<TPrefetchedPath> ready_;
  std::vector<std::string> spare_;  // data buffers handed back
  bool stop_ = false;
  bool done_ = false;  // the thread has looked up every path
  bool consumerWaits_ = false, producerWaits_ = false;
  std::thread thread_;
};
