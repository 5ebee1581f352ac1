#pragma once
// The one zip directory parser, shared by the zip component and both engines: the end records
// (classic and Zip64), the central directory (also across the parts of a multi-disk set) and each
// entry's local header. Every offset and length is checked against the input before use, so
// hostile or truncated archives give an error, never a bad read.
#include <cstdint>
#include <string>
#include <vector>

#include "formats/ZipFormat.h"
#include "formats/ZipNames.h"
#include "platform/ArchiveInput.h"

namespace zipfmt {

// The end of central directory record, with the Zip64 end record's values put in where the classic
// record holds its "see Zip64" marks.
struct EndRecord {
  uint64_t offset = 0;          // position of the classic end record
  uint64_t fileEnd = 0;         // end of the record and its comment (the input's size when the comment runs past it)
  uint64_t physicalSize = 0;    // the input's size
  bool garbage = false;         // bytes follow the comment and are not zero padding to a 512-byte block
  bool startsSpanSet = false;   // the input begins with the span marker and a local header
  uint16_t commentLength = 0;   // as recorded
  std::string comment;          // the comment bytes present (at most commentLength)
  uint64_t commentCut = 0;      // bytes of the recorded comment missing at the end of the input
  uint32_t thisDisk = 0;
  uint32_t dirStartDisk = 0;
  uint64_t entriesThisDisk = 0;
  uint64_t totalEntries = 0;
  uint64_t dirSize = 0;
  uint64_t dirOffset = 0;
  bool zip64 = false;           // a Zip64 end record was found through its locator
  bool zip64Missing = false;    // a locator is present but its Zip64 end record is not
  uint64_t zip64Offset = 0;     // position of the Zip64 end record
  uint32_t zip64Disks = 1;      // total number of disks, from the locator

  // Where the central directory ends on the disk of the end record.
  uint64_t DirectoryEnd() const { return zip64 ? zip64Offset : offset; }
  // True when the record still holds a "see Zip64" mark that no Zip64 end record filled in.
  bool Unresolved() const;
};

enum class EndSearch { Found, NotFound, SeekError, ReadError };

// Finds the end record in the last 65,557 bytes. A comment may itself hold the record's signature:
// of all candidates, counted from the end, the first whose record is consistent (its comment inside
// the input, its central directory inside the input and starting with a central header) and ends
// the input wins, else the first consistent one, else the last signature.
EndSearch FindEndRecord(const IArchiveInput& input, EndRecord& end);

// Supplies the parts of a multi-disk set while the directory is read. The returned input stays valid
// until the next call. May throw; the exception passes through the reader.
class IDiskSet {
 public:
  virtual ~IDiskSet() = default;
  virtual const IArchiveInput& Disk(uint32_t number) = 0;
};

struct CentralEntry : EntryFields {
  std::string name;            // decoded to UTF-8 (separators as stored)
  uint64_t centralOffset = 0;  // position of the central header on its disk
  uint32_t centralDisk = 0;    // disk of the central header
  bool hasZip64 = false;       // the central header carried a Zip64 block
  bool zip64Damaged = false;   // a saturated field found no value in the Zip64 block
  bool IsDirectory() const { return !rawName.empty() && (rawName.back() == '/' || rawName.back() == '\\'); }
  bool IsEncrypted() const { return flags & kFlagEncrypted; }
};

// Why reading the central directory stopped.
enum class DirError {
  None,
  Seek,          // the directory's start lies outside the input, or a read failed
  Unresolved,    // the end record needs a Zip64 end record that is missing
  HeaderShort,   // a central header is cut short on the last disk
  BadSignature,  // a central header signature is wrong
  NameShort,     // a name is cut short
  ExtraShort,    // an extra field is cut short
  CommentShort,  // an entry comment is cut short
  NoDisks,       // the directory starts on another disk and no disk set was given
};

// Reads the central directory described by an end record, header by header: the entries the end
// record counts (more when a count that wrapped at 65,536 is followed by further headers inside the
// recorded size). `current` is the input holding the end record.
class CentralDirectoryReader {
 public:
  CentralDirectoryReader(const IArchiveInput& current, const EndRecord& end, IDiskSet* disks,
                         NameCodePage codePage = NameCodePage::Auto);
  // Positions at the directory's start; false with the reason in Error().
  bool Start();
  // Reads the next central header into `entry`; false at the end of the directory or on an error.
  bool Next(CentralEntry& entry);
  DirError Error() const { return error_; }
  // Ordinal (1-based) of the header being read when the reading stopped, or of the last one read.
  uint64_t Sequence() const { return seq_; }
  // Bytes of headers read on the directory's first disk.
  uint64_t Consumed() const { return consumed_; }

  // Where the directory starts (on its disk) and by how much the stored offsets are short of the
  // real positions: the bytes in front of the zip data that a stub added without fixing the offsets.
  uint64_t DirectoryStart() const { return start_; }
  int64_t Shift() const { return shift_; }
  uint32_t StartDisk() const { return startDisk_; }
  const IArchiveInput& StartInput() const { return *startInput_; }

 private:
  bool Fill(size_t n);
  bool NextDisk();

  const IArchiveInput* input_;
  const IArchiveInput* startInput_;
  const EndRecord& end_;
  IDiskSet* disks_;
  NameCodePage codePage_;
  DirError error_ = DirError::None;
  uint64_t seq_ = 0;
  uint64_t limit_ = 0;  // headers to read (the recorded count, plus whole wraps of 65,536)
  uint64_t start_ = 0;
  int64_t shift_ = 0;
  uint32_t startDisk_ = 0;
  uint32_t disk_ = 0;
  uint64_t filePos_ = 0;  // input position of buf_[0]
  uint64_t consumed_ = 0;  // directory bytes read on the start disk
  std::string buf_;
  size_t pos_ = 0;
};

// A single-file archive's directory as the engines use it.
struct CentralDirectory {
  std::vector<CentralEntry> entries;
  std::string comment;       // archive comment bytes as stored
  uint64_t prefixSize = 0;   // bytes in front of the archive (a self-extractor stub); added to every offset
  uint64_t cdStart = 0;      // absolute position of the central directory
  uint64_t cdSize = 0;
  uint64_t endStart = 0;     // absolute position of the first end record (Zip64 end record when present)
  uint64_t fileEnd = 0;      // end of the end record and its comment
  bool zip64 = false;
  bool garbage = false;      // bytes follow the end record's comment
};

// Reads the directory of a single-file archive. False with a reason in `error` when the input is not
// a zip archive, is truncated, belongs to a multi-disk set, or its directory is inconsistent.
bool ReadCentralDirectory(const IArchiveInput& input, CentralDirectory& dir, std::string& error,
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
// descriptor lie inside the input and before the central directory.
bool LocateEntryData(const IArchiveInput& input, const CentralDirectory& dir, const CentralEntry& entry,
                     LocalInfo& info, std::string& error);

// Checks that no two entries share bytes (overlapping local records are a zip-bomb technique).
// `infos` must be in the same order as `dir.entries`; on failure names the first offending entry.
bool CheckNoOverlaps(const CentralDirectory& dir, const std::vector<LocalInfo>& infos, std::string& error);

}  // namespace zipfmt
