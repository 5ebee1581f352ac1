#pragma once
// Tar archives: TTarArchive walks an archive entry by entry, TTarWriter builds one. Old-style 512-byte
// headers as written; reading also understands ustar prefixes, GNU long names and pax headers, and
// writing stores long names and huge numbers in GNU long-name records and base-256 fields.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tar/TarStreams.h"

class TPathPrefetch;
struct TPrefetchedPath;

// Permission flags; bit i of TTarPermissions is flag i in this order.
enum TTarPermission : uint16_t {
  tpReadByOwner = 1 << 0,
  tpWriteByOwner = 1 << 1,
  tpExecuteByOwner = 1 << 2,
  tpReadByGroup = 1 << 3,
  tpWriteByGroup = 1 << 4,
  tpExecuteByGroup = 1 << 5,
  tpReadByOther = 1 << 6,
  tpWriteByOther = 1 << 7,
  tpExecuteByOther = 1 << 8,
};
using TTarPermissions = uint16_t;
constexpr TTarPermissions tpAll = 0x1FF;

// Special mode bits; bit i of TTarSpecialBits is flag i in this order.
enum TTarSpecialBit : uint8_t { tsSetUid = 1 << 0, tsSetGid = 1 << 1, tsSaveText = 1 << 2 };
using TTarSpecialBits = uint8_t;

// Entry kinds in header-flag order ("0".."7", "D", "M", "V").
enum class TTarEntryKind : uint8_t {
  Regular, Link, SymbolicLink, CharFile, BlockFile, Directory, FifoFile, Contiguous, DirDump, MultiVolume,
  VolumeHeader
};

// Display name of a kind ("Regular", "Symbolic Link", ...).
const char* TarEntryKindName(TTarEntryKind kind);

// Date-time values are days since 1899-12-30, the fraction being the time of day.
double UnixToDateTime(double unixSeconds);
// Whole seconds since 1970 of a date-time value (rounded to the nearest second).
int64_t DateTimeToUnix(double dateTime);

// Unix mode bits (0o7777) <-> permission and special flags.
unsigned TarModeOf(TTarPermissions permissions, TTarSpecialBits special);
void TarSplitMode(unsigned mode, TTarPermissions& permissions, TTarSpecialBits& special);

// A stretch of a sparse member that holds data: `Length` bytes at `Offset` of the file.
struct TTarSparseRegion {
  int64_t Offset = 0;
  int64_t Length = 0;
  bool operator==(const TTarSparseRegion&) const = default;
};

// One tar entry, as read by FindNext or built by the writer.
struct TTarDirRec {
  std::string Name;                               // entry path as stored ("/" separators)
  int64_t Size = 0;                               // data length in bytes
  double ModTime = 0;                             // modification time (date-time, UTC as stored)
  TTarPermissions Permissions = 0;                // the nine rwx flags
  TTarEntryKind EntryKind = TTarEntryKind::Regular;
  std::string LinkName;                           // target of a link
  int32_t UserId = 0;
  int32_t GroupId = 0;
  std::string UserName;
  std::string GroupName;
  bool ChecksumOk = false;                        // stored header checksum matched (reading only)
  TTarSpecialBits SpecialBits = 0;                // set-UID, set-GID, save-text
  std::string Magic;                              // magic text of the header, trimmed
  int32_t DeviceMajor = 0;
  int32_t DeviceMinor = 0;
  int64_t HeaderPos = 0;                          // archive offset of this entry's (first) header block
  // Sparse members (GNU type "S", pax GNU.sparse.* in formats 0.0, 0.1 and 1.0): `Size` is the real
  // size, `SparseMap` the regions that hold data, sorted; everything between them reads as zeros.
  bool Sparse = false;
  std::vector<TTarSparseRegion> SparseMap;

  // Clears every field to its initial state.
  void Clear() { *this = TTarDirRec(); }
  // Unix mode bits (permissions and special bits).
  unsigned Mode() const { return TarModeOf(Permissions, SpecialBits); }
  // Whether data blocks follow the header of this kind.
  bool HasData() const;
};

// Header block helpers, public for tests and other writers.
namespace tarheader {
constexpr size_t kBlock = 512;
// Writes an 8- or 12-byte number field: octal as laid out, or base-256 when it does not fit.
void PutNumber(char* field, size_t width, int64_t value);
// Reads a number field (octal with spaces/NULs, or base-256).
int64_t GetNumber(const char* field, size_t width);
// Reads a number field strictly: octal digits after any spaces, ended by a space, a NUL or the
// field's end (a blank field is 0), or base-256. False when the field holds anything else or its
// value does not fit in 64 bits.
bool ParseNumber(const char* field, size_t width, int64_t& value);
// Unsigned sum of the 512 bytes with the checksum field taken as spaces.
uint32_t ChecksumOf(const char* block);
// Builds one 512-byte header (no long-name handling).
void Build(const TTarDirRec& rec, char* block);
// Blocks needed for n data bytes.
inline uint64_t BlocksFor(uint64_t n) { return (n + kBlock - 1) / kBlock; }
}  // namespace tarheader

// Reads a tar archive entry by entry; streamed, constant memory.
class TTarArchive {
 public:
  // Opens the file for reading and owns it. Throws ETarError when it can't be opened.
  explicit TTarArchive(const std::string& fileName);
  // Reads from a stream (a file or a decompressor); `owns` makes the archive delete it.
  TTarArchive(TTarInput* input, bool owns);
  ~TTarArchive();
  TTarArchive(const TTarArchive&) = delete;
  TTarArchive& operator=(const TTarArchive&) = delete;

  // Back to the first entry (the stream must be able to seek unless nothing was read yet).
  void Reset();
  // Reads the next entry into `rec`; false at the end of the archive (end block, or less than a block left).
  bool FindNext(TTarDirRec& rec);
  // Copies the current entry's data to `dest`; throws ETarError when the archive ends before it.
  void ExtractToStream(TTarOutput& dest);
  // Creates (or truncates) a file and copies the current entry's data into it.
  void ExtractToFile(const std::string& fileName);
  // Reads up to `n` bytes of the current entry's data; 0 at its end. Throws on a truncated archive.
  // A sparse member reads as its whole file, holes as zeros.
  size_t ReadData(void* buffer, size_t n);
  // Reads up to `n` bytes of the data regions of the current entry and says where they belong in the
  // file: holes are left out (a plain entry is one region at 0). 0 at the end.
  size_t ReadRegion(void* buffer, size_t n, int64_t& fileOffset);
  // Skips the rest of the current entry's data.
  void SkipData();
  // Position of the next byte to read (after FindNext: the entry's first data byte) and the archive size.
  void GetFilePos(int64_t& current, int64_t& total) const;
  // True when the archive ended inside a header or an entry's data.
  bool Truncated() const { return truncated_; }
  // Reads the stream to its end after the archive's end: a gzipped archive's CRC and length are
  // checked there (ETarError when they do not match).
  void ReadToEnd();
  // The underlying stream (progress of compressed sources).
  TTarInput& Input() { return *input_; }

 private:
  size_t Fill(size_t want);
  bool ReadBlock(char* block);
  bool ReadHeaderBlock(char* block, int64_t& pos);
  std::string ReadLongData(int64_t size);
  void ApplyPax(const std::string& data, std::map<std::string, std::string>& into,
                std::vector<std::pair<std::string, std::string>>* ordered = nullptr);
  size_t ReadStored(void* buffer, size_t n);
  void ReadOldGnuSparse(const char* header, TTarDirRec& rec);
  bool ApplyPaxSparse(const std::map<std::string, std::string>& pax,
                      const std::vector<std::pair<std::string, std::string>>& ordered, TTarDirRec& rec);
  void ReadSparseMapFromData(TTarDirRec& rec);
  void CheckSparseMap(const TTarDirRec& rec, int64_t stored) const;

  TTarInput* input_ = nullptr;
  bool owns_ = false;
  TRawBuffer<char> buf_;
  size_t bufPos_ = 0, bufLen_ = 0;
  int64_t pending_ = 0;      // data bytes of the current entry not yet consumed
  int64_t padding_ = 0;      // zero bytes after them up to the next block
  bool truncated_ = false;
  std::map<std::string, std::string> globalPax_;
  // Reading a sparse member: its map, the region being read, the file offset reached.
  std::vector<TTarSparseRegion> sparse_;
  size_t region_ = 0;
  int64_t filePos_ = 0, fileSize_ = 0;
  bool sparseActive_ = false;
  int64_t stored_ = 0;  // data bytes of the current entry in the archive (after a sparse map)
};

// The folder of the last path asked for, kept open so that a run of files in one folder is looked up
// relative to it (one name to resolve instead of the whole path).
class TFolderCache {
 public:
  TFolderCache() = default;
  ~TFolderCache();
  TFolderCache(const TFolderCache&) = delete;
  TFolderCache& operator=(const TFolderCache&) = delete;
  // A descriptor for the folder holding `path` and the name inside it; AT_FDCWD and the whole path
  // when the path has no usable last element or its folder cannot be opened.
  int Parent(const std::string& path, std::string& leaf);

 private:
  std::string dir_;
  int fd_ = -1;
};

// Builds a tar archive. Values stamped into every added entry are public members.
class TTarWriter {
 public:
  // Creates (or truncates) the file and owns it. Throws ETarError when it can't be created.
  explicit TTarWriter(const std::string& fileName);
  // Writes to a stream (a file or a compressor); `owns` makes the writer delete it.
  TTarWriter(TTarOutput* output, bool owns);
  // Finalizes when not done yet (errors are swallowed here: call Finalize to see them).
  ~TTarWriter();
  TTarWriter(const TTarWriter&) = delete;
  TTarWriter& operator=(const TTarWriter&) = delete;

  // Adds a file from disk as a Regular entry with the stamped values; empty `tarName` stores `fileName`.
  void AddFile(const std::string& fileName, const std::string& tarName = "");
  // Adds the rest of `stream` as a Regular entry.
  void AddStream(TTarInput& stream, const std::string& tarName, double modTime);
  // Adds a header-only Volume Header entry.
  void AddVolumeHeader(const std::string& volumeId, double modTime);
  // Adds a file, folder or symbolic link from disk with its own mode, owner, time and kind; returns the
  // data bytes stored.
  int64_t AddPath(const std::string& fileName, const std::string& tarName);
  // The paths that AddPath will be given next, in that order: a thread of their own looks them up and
  // opens the files ahead of the writing (a path asked for out of order is looked up as usual).
  void Prefetch(std::vector<std::string> paths);
  // Adds an entry from a prepared record; `data` delivers exactly rec.Size bytes when the kind has data.
  void AddEntry(const TTarDirRec& rec, TTarInput* data);
  // Writes the end-of-archive blocks once and closes the stream.
  void Finalize();
  // Bytes written so far.
  uint64_t BytesWritten() const { return written_; }

  TTarPermissions Permissions = tpAll;
  int32_t UserId = 0;
  int32_t GroupId = 0;
  std::string UserName;
  std::string GroupName;
  TTarSpecialBits SpecialBits = 0;
  std::string Magic = "ustar";

 private:
  void Stamp(TTarDirRec& rec) const;
  void WriteHeaders(const TTarDirRec& rec);
  void WriteLongRecord(char flag, const std::string& text);
  void WriteData(TTarInput& data, int64_t size, int fd);
  void WriteFileData(int fd, const std::string& path, int64_t size);
  void WriteLoaded(const std::string& data, int64_t size);
  void Out(const void* p, size_t n);

  TTarOutput* output_ = nullptr;
  bool owns_ = false;
  bool finalized_ = false;
  uint64_t written_ = 0;
  std::vector<char> copyBuf_;
  TFolderCache folders_;
  std::unique_ptr<TPathPrefetch> prefetch_;
  std::unique_ptr<TPrefetchedPath> taken_;  // the last path taken from prefetch_
};
