#pragma once
// The zip component's side of the one zip directory parser (formats/ZipDirectory.h): the end record
// and central directory read into the component's records. Every failure throws EZipKit with the
// message id of the step that failed.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ArchiveInput.h"
#include "zip/ZipKitTypes.h"

// Hands the reader the other disks of a multi-disk set.
class IZipDiskProvider {
 public:
  virtual ~IZipDiskProvider() = default;
  // Makes disk n (0-based) current and returns its input; throws EZipKit when it cannot.
  virtual const IArchiveInput& GetDisk(int32_t n) = 0;
};

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
  bool Zip64Missing = false;  // a Zip64 locator points to no Zip64 end record
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

// Finds the end record in the last 65,557 bytes (zipfmt::FindEndRecord: a signature inside the
// comment does not hide the real record).
TEndScanStatus ScanEndRecord(const IArchiveInput& in, TEndRecordScan& out);

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
void ReadCentralDirectory(const TEndRecordScan& scan, const IArchiveInput& current, IZipDiskProvider* disks,
                          const TZipDirOptions& options, const TZipDirEvents& events, TZipDirResult& out);

// Converts a stored comment to UTF-8 by the archive's rules (bit 11, code page).
std::string ConvertStoredText(std::string_view raw, uint16_t flags, uint8_t host, uint8_t madeBy,
                              CodePageOpts codePage);
