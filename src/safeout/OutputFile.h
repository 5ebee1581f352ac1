#pragma once
// One file being written: an unnamed file (O_TMPFILE) or, where the file system has none, a hidden
// temporary of our own naming beside its final name. It takes its name only when committed, so a
// stopped, failed or killed run never leaves a partial file under the real name. Small files may be
// made under their name at once (see TDestination::NewFile): removed again unless committed.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "safeout/Result.h"

namespace safeout {

class TFolder;

class TOutputFile {
 public:
  // `named`: the file was made under `leaf` itself (removed again unless committed).
  TOutputFile(std::shared_ptr<TFolder> folder, std::string leaf, int fd, std::string tempName, bool named = false);
  ~TOutputFile();  // an uncommitted file is discarded
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;

  // The open descriptor (kernel copies); what is written through it counts once `Advance` is told.
  int Fd() const { return fd_; }
  // The name it gets.
  const std::string& Leaf() const { return leaf_; }
  // True when it was made under that name at once (the name was free).
  bool Named() const { return named_; }

  // Appends at the current position.
  TResult Write(const void* data, size_t n);
  // Writes at `offset` (sparse and random-access formats); the current position does not move.
  TResult WriteAt(uint64_t offset, const void* data, size_t n);
  // Leaves `n` bytes unwritten at the current position: a hole where the file system keeps holes.
  TResult Skip(uint64_t n);
  // Makes the file `size` bytes long: what lies beyond the last write is a hole (a sparse file's end).
  TResult SetSize(uint64_t size);
  // Notes `n` bytes appended through Fd() by the caller (copy_file_range, splice).
  void Advance(uint64_t n) { pos_ += n; }
  uint64_t Position() const { return pos_; }

  // Reserves `size` bytes and maps the file for writing, so that a decoder can write straight into
  // it; null when the file system cannot (use Write then). Unmap before Commit.
  uint8_t* Map(size_t size);
  void Unmap();

  // Gives the file its permissions (`mode` & 0777, -1 = as created) and time (null = now), then its
  // name. With `replace` a file or link at the name is replaced, never written through; without,
  // an existing name fails with TFault::Exists. A folder at the name is never replaced.
  TResult Commit(int mode, const timespec* mtime, bool replace);
  // Throws the file away (also done by the destructor when not committed).
  void Discard();

 private:
  TResult Put(const void* data, size_t n, int64_t offset);
  std::shared_ptr<TFolder> folder_;
  std::string leaf_;
  int fd_;
  std::string temp_;  // hidden name while written; empty for an unnamed file
  uint64_t pos_ = 0, extent_ = 0;
  bool gap_ = false;  // a skip past the end: the file may be shorter than pos_
  bool named_ = false;
  void* map_ = nullptr;
  size_t mapSize_ = 0;
};

// Hidden temporary name beside `leaf`: ".leaf.tandor-PID-N.part".
std::string TemporaryName(const std::string& leaf);
// True for a name of that form, with the process id it carries.
bool IsTemporaryName(const std::string& name, long& pid);

}  // namespace safeout
