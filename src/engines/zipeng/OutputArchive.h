#pragma once
// The new archive being written: an unnamed file in the target's folder (or a hidden temporary of
// the safe-output library's naming where the file system lacks unnamed files, which a later run
// removes), buffered writes, the central directory, and the final rename over the target. Until
// Commit() the target is never touched; a discarded or abandoned output leaves nothing behind.
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "formats/ZipFormat.h"
#include "safeout/OutputFile.h"

namespace zipeng {

class OutputArchive {
 public:
  OutputArchive() = default;
  ~OutputArchive();
  OutputArchive(const OutputArchive&) = delete;
  OutputArchive& operator=(const OutputArchive&) = delete;

  // Opens the new file in the folder of `target`.
  bool Create(const std::string& target, std::string& error);
  bool Write(const void* data, size_t n);
  bool Write(const std::string& s) { return Write(s.data(), s.size()); }
  // Copies `length` bytes of `fd` starting at `offset` (kernel copy where possible).
  bool CopyFrom(int fd, uint64_t offset, uint64_t length);
  // Overwrites bytes already written at `offset`.
  bool PatchAt(uint64_t offset, const void* data, size_t n);
  uint64_t Offset() const { return offset_; }
  // Drops everything written from `offset` on.
  bool Truncate(uint64_t offset);

  void AddCentral(const zipfmt::EntryFields& entry) { central_.push_back(entry); }
  size_t CentralCount() const { return central_.size(); }
  // Writes the central directory and the end records.
  bool Finish(const std::string& comment);
  // Puts the file in place of the target. With `durable` the data reaches the disk first.
  // `mode` < 0: the default permissions of a new file.
  bool Commit(bool durable, int mode, std::string& error);
  void Discard();
  const std::string& LastError() const { return error_; }

 private:
  bool Flush();

  std::unique_ptr<safeout::TOutputFile> file_;
  int fd_ = -1;            // file_'s descriptor while it is written
  std::string target_;
  uint64_t offset_ = 0;
  std::vector<char> buffer_;
  size_t used_ = 0;
  std::vector<zipfmt::EntryFields> central_;
  std::string error_;
};

}  // namespace zipeng
