#pragma once
// Value types of the zip component: option sets, enumerations, the exception class and the
// directory entry.
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>

#include "zip/ZipStructs.h"

// A set of enumeration members stored as bits (bit = member's position).
template <typename E>
class TOptionSet {
 public:
  constexpr TOptionSet() = default;
  constexpr TOptionSet(std::initializer_list<E> members) {
    for (E m : members) bits_ |= Bit(m);
  }
  static constexpr TOptionSet FromBits(uint32_t bits) {
    TOptionSet s;
    s.bits_ = bits;
    return s;
  }
  constexpr bool Has(E m) const { return (bits_ & Bit(m)) != 0; }
  constexpr void Include(E m) { bits_ |= Bit(m); }
  constexpr void Exclude(E m) { bits_ &= ~Bit(m); }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr uint32_t Bits() const { return bits_; }
  constexpr bool operator==(const TOptionSet&) const = default;

 private:
  static constexpr uint32_t Bit(E m) { return uint32_t{1} << static_cast<int>(m); }
  uint32_t bits_ = 0;
};

using AddOpts = TOptionSet<AddOptsEnum>;
using ExtrOpts = TOptionSet<ExtrOptsEnum>;
using AddStoreExts = TOptionSet<AddStoreSuffixEnum>;

// Extensions of AddStoreSuffixEnum in member order, without the dot.
extern const char* const kStoreSuffixNames[kStoreSuffixCount];

enum CodePageOpts { cpAuto, cpNone, cpOEM };
enum DeleteOpts { htdFinal, htdAllowUndo };
enum OvrOpts { OvrConfirm, OvrAlways, OvrNever };

enum SFXOptsEnum : int {
  SFXAskCmdLine = 0,
  SFXAskFiles = 1,
  SFXAutoRun = 2,
  SFXHideOverWriteBox = 3,
  SFXCheckSize = 4,
  SFXNoSuccessMsg = 5,
};
using SFXOpts = TOptionSet<SFXOptsEnum>;

enum ProgressType { PtNewFile = 0, PtAdvance = 1, PtBatchEnd = 2, PtTotalFiles = 3, PtTotalSize = 4 };
enum TPasswordButton { PbOk = 0, PbCancel = 1, PbCancelAll = 2, PbAbort = 3 };

// Skip reasons are the engines' own; the value is the engine's code minus 1.
using UnZipSkipTypes = int32_t;

// Disk status bits handed to OnStatusDisk (they combine) and the answers.
enum TZipDiskStatusBits : int32_t {
  zdsEmpty = 1,
  zdsHasFiles = 2,
  zdsPreviousDisk = 4,
  zdsSameFileName = 8,
  zdsNotEnoughSpace = 16,
};
using TZipDiskStatus = int32_t;
enum TZipDiskAction { zdaOk = 0, zdaErase = 1, zdaReject = 2, zdaCancel = 3 };

// The component's exception: a message text, whether it is shown when reported, and its id.
class EZipKit : public std::runtime_error {
 public:
  explicit EZipKit(int32_t id);
  EZipKit(int32_t id, int64_t value);
  EZipKit(int32_t id, const std::string& value);
  EZipKit(int32_t id, std::string text, bool display);
  int32_t Id() const { return id_; }
  bool DisplayMsg() const { return display_; }

 private:
  int32_t id_;
  bool display_;
};

// Message id of "User canceled operation", the one message never shown in a box.
constexpr int32_t kMsgUserCanceled = 11007;

// One entry of a zip archive's central directory. Sizes, offsets and the disk number are widened
// to 64/32 bits and hold the Zip64 values when the archive stores them.
struct ZipDirEntry {
  uint8_t VersionMadeBy = 0;        // zip version of the writer (20 = 2.0)
  uint8_t HostSystem = 0;           // host of the writer: 0 MS-DOS, 3 Unix, 6 HPFS, 11 NTFS, ...
  uint16_t VersionNeeded = 0;       // version needed to extract
  uint16_t GeneralFlags = 0;        // bit 0 encrypted, bit 3 data descriptor, bit 11 UTF-8 name
  uint16_t Method = 0;              // 0 stored, 8 deflated, ...
  uint32_t DosDateTime = 0;         // MS-DOS time (low 16 bits) and date (high 16 bits)
  uint32_t Crc32 = 0;               // CRC-32 of the uncompressed data
  uint64_t PackedSize = 0;          // compressed size in bytes
  uint64_t UnpackedSize = 0;        // uncompressed size in bytes
  uint16_t NameLength = 0;          // stored name length in bytes
  uint16_t ExtraLength = 0;         // central extra field length in bytes
  uint16_t CommentLength = 0;       // entry comment length in bytes
  uint32_t DiskStart = 0;           // 0-based disk of the local header
  uint16_t InternalAttributes = 0;  // internal file attributes
  uint32_t ExternalAttributes = 0;  // external attributes (MS-DOS byte low, Unix mode high 16 bits)
  uint64_t LocalHeaderOffset = 0;   // local header offset as stored (relative to the zip data of its disk)
  std::string EntryName;            // UTF-8 name with "/" separators
  std::string EntryComment;         // UTF-8 entry comment
  bool IsEncrypted = false;         // bit 0 of GeneralFlags
  // Raw central extra field (ExtraLength bytes), or null; shared between copies, kept alive by them.
  std::shared_ptr<const uint8_t> ExtraField;
};
