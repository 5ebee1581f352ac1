#pragma once
// Reading a zip archive's end record and central directory from a random-access input.
// Every failure throws EZipKit with the message id of the step that failed; no read leaves the
// bytes actually present.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "zip/ZipKitTypes.h"

// One file (one disk of a set) read by position.
class IZipInput {
 public:
  virtual ~IZipInput() = default;
  virtual int64_t Size() const = 0;
  // Reads up to n bytes at pos into dst; returns the count read (short at the end), -1 on failure.
  virtual int64_t ReadAt(int64_t pos, void* dst, size_t n) = 0;
};

// A file opened for reading.
class TZipFileInput : public IZipInput {
 public:
  // Null when the file cannot be opened.
  static std::unique_ptr<TZipFileInput> Open(const std::string& path);
  ~TZipFileInput() override;
  int64_t Size() const override { return size_; }
  int64_t ReadAt(int64_t pos, void* dst, size_t n) override;
  int Fd() const { return fd_; }

 private:
  TZipFileInput(int fd, int64_t size) : fd_(fd), size_(size) {}
  int fd_;
  int64_t size_;
};

// Bytes in memory (not copied; they must outlive the input).
class TZipMemoryInput : public IZipInput {
 public:
  explicit TZipMemoryInput(std::string_view bytes) : bytes_(bytes) {}
  int64_t Size() const override { return static_cast<int64_t>(bytes_.size()); }
  int64_t ReadAt(int64_t pos, void* dst, size_t n) override;

 private:
  std::string_view bytes_;
};

// Hands the reader the other disks of a multi-disk set.
class IZipDiskProvider {
 public:
  virtual ~IZipDiskProvider() = default;
  // Makes disk n (0-based) current and returns its input; throws EZipKit when it cannot.
  virtual IZipInput& GetDisk(int32_t n) = 0;
};

// Record signatures.
constexpr uint32_t kSigLocalHeader = 0x04034b50;
constexpr uint32_t kSigCentralHeader = 0x02014b50;
constexpr uint32_t kSigEndRecord = 0x06054b50;
constexpr uint32_t kSigSpanMarker = 0x08074b50;
constexpr uint32_t kSigZip64EndRecord = 0x06064b50;
constexpr uint32_t kSigZip64Locator = 0x07064b50;
constexpr int kEndRecordSize = 22;
constexpr int kCentralHeaderSize = 46;
constexpr int kMaxCommentSize = 65535;

// The end record's values, with the Zip64 end record's values put in where the classic record
// holds its "see Zip64" marks.
struct TZipEndRecord {
  uint32_t ThisDisk = 0;
  uint32_t DirStartDisk = 0;
  uint64_t EntriesThisDisk = 0;
  uint64_t TotalEntries = 0;
  uint64_t DirSize = 0;
  uint64_t DirOffset = 0;
  uint16_t CommentLength = 0;
  bool IsZip64 = false;
  int64_t Zip64Bytes = 0;  // Zip64 end record plus locator standing before the end record
};

struct TEndRecordScan {
  TZipEndRecord Record;
  int64_t EndRecordOffset = 0;
  int64_t FileEnd = 0;       // end of the end record plus its comment
  int64_t PhysicalSize = 0;  // the file's size
  std::string Comment;       // raw, cut at its first zero byte and at the end of the file
  bool StartsSpanSet = false;
  bool Garbage = false;      // bytes follow the comment and are not zero padding to a 512-byte block
};

enum class TEndScanStatus { Found, NotFound, SeekError, ReadError };

// Finds the end record: the last 22 bytes first, else a backwards scan over the last 65,557 bytes.
TEndScanStatus ScanEndRecord(IZipInput& in, TEndRecordScan& out);

struct TZipDirOptions {
  bool UseDirOnlyEntries = false;
  CodePageOpts CodePage = cpAuto;
};

struct TZipDirResult {
  std::vector<ZipDirEntry> Entries;
  int64_t CentralDirOffset = 0;  // where the directory was read (disk of its start)
  int64_t SFXOffset = 0;         // first byte of zip data
  int64_t FileEnd = 0;           // logical end of the file the directory was read from
  int32_t DirOnlyCount = 0;
  bool OffsetMismatch = false;
  uint8_t LastHostSystem = 0;    // header bytes of the last central header read
  uint8_t LastVersionMadeBy = 0;
};

struct TZipDirEvents {
  std::function<void(int32_t messageId)> Warning;                    // 10203
  std::function<void(int32_t seqNo, const ZipDirEntry& entry)> NewEntry;
};

// Reads the central directory described by `scan`. `current` is the input holding the end
// record, `disks` supplies other parts (null: single file). Throws EZipKit.
void ReadCentralDirectory(const TEndRecordScan& scan, IZipInput& current, IZipDiskProvider* disks,
                          const TZipDirOptions& options, const TZipDirEvents& events, TZipDirResult& out);

// Converts a stored name or comment to UTF-8 by the archive's rules (bit 11, code page).
std::string ConvertStoredText(std::string_view raw, uint16_t flags, uint8_t host, uint8_t madeBy,
                              CodePageOpts codePage);
