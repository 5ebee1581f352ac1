#pragma once
// Reading an existing archive's directory: the end records (classic and Zip64), the central
// directory and each entry's local header. Every offset and length is checked against the file
// size before use, so hostile or truncated archives give an error text, never a bad read.
#include <cstdint>
#include <string>
#include <vector>

#include "ZipFormat.h"
#include "ZipNames.h"

namespace zipfmt {

// A file opened for positional reads.
class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens `path`; on failure returns false with a reason in `error`.
  bool Open(const std::string& path, std::string& error);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  uint64_t Size() const { return size_; }
  // Reads exactly `n` bytes at `offset`; false when the range is outside the file or a read fails.
  bool ReadAt(uint64_t offset, void* buffer, size_t n) const;

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
};

struct CentralEntry : EntryFields {
  std::string name;            // decoded to UTF-8 as stored (separators untouched)
  uint64_t centralOffset = 0;  // absolute position of the central header
  bool hasZip64 = false;       // the central header carried a Zip64 block
  bool IsDirectory() const { return !rawName.empty() && (rawName.back() == '/' || rawName.back() == '\\'); }
  bool IsEncrypted() const { return flags & kFlagEncrypted; }
};

struct CentralDirectory {
  std::vector<CentralEntry> entries;
  std::string comment;       // archive comment bytes as stored
  uint64_t prefixSize = 0;   // bytes in front of the archive (a self-extractor stub); added to every offset
  uint64_t cdStart = 0;      // absolute position of the central directory
  uint64_t cdSize = 0;
  uint64_t endStart = 0;     // absolute position of the first end record (Zip64 end record when present)
  bool zip64 = false;
};

// Reads the directory of `file`. False with a reason in `error` when the file is not a zip archive,
// is truncated, belongs to a multi-disk set, or its directory is inconsistent.
bool ReadCentralDirectory(const InputFile& file, CentralDirectory& dir, std::string& error,
                          NameCodePage codePage = NameCodePage::Auto);

// Where an entry's bytes lie, from its local header.
struct LocalInfo {
  uint64_t headerStart = 0;  // absolute position of the local header
  uint64_t dataStart = 0;    // first byte of the (possibly encrypted) compressed data
  uint64_t dataEnd = 0;      // dataStart + compressed size
  uint64_t recordEnd = 0;    // end of the data descriptor when present, else dataEnd
  uint16_t localFlags = 0;
  std::string localExtra;
};

// Reads and checks an entry's local header: its signature, and that header, data and data
// descriptor lie inside the file and before the central directory.
bool LocateEntryData(const InputFile& file, const CentralDirectory& dir, const CentralEntry& entry, LocalInfo& info,
                     std::string& error);

// Checks that no two entries share bytes (overlapping local records are a zip-bomb technique).
// `infos` must be in the same order as `dir.entries`; on failure names the first offending entry.
bool CheckNoOverlaps(const CentralDirectory& dir, const std::vector<LocalInfo>& infos, std::string& error);

}  // namespace zipfmt
