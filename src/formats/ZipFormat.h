#pragma once
// Zip record layouts shared by the zip and unzip engines: signatures, little-endian field access,
// local and central headers, data descriptors, end records (classic and Zip64) and extra fields.
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace zipfmt {

constexpr uint32_t kLocalHeaderSig = 0x04034b50;
constexpr uint32_t kCentralHeaderSig = 0x02014b50;
constexpr uint32_t kEndOfCentralSig = 0x06054b50;
constexpr uint32_t kZip64EndSig = 0x06064b50;
constexpr uint32_t kZip64LocatorSig = 0x07064b50;
constexpr uint32_t kDataDescriptorSig = 0x08074b50;
constexpr uint32_t kSpanMarkerSig = 0x08074b50;  // first bytes of a multi-disk set's first part

constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kEndOfCentralSize = 22;
constexpr size_t kZip64EndSize = 56;
constexpr size_t kZip64LocatorSize = 20;
constexpr size_t kMaxCommentSize = 0xFFFF;

constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;

// General purpose flag bits.
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagDataDescriptor = 0x0008;
constexpr uint16_t kFlagStrongEncryption = 0x0040;
constexpr uint16_t kFlagUtf8 = 0x0800;

// Extra field ids.
constexpr uint16_t kExtraZip64 = 0x0001;
constexpr uint16_t kExtraExtTime = 0x5455;
constexpr uint16_t kExtraUnicodePath = 0x7075;
constexpr uint16_t kExtraWinZipAes = 0x9901;

// Version made by: upper byte host system.
constexpr uint8_t kHostMsDos = 0;
constexpr uint8_t kHostUnix = 3;
constexpr uint16_t kVersionStored = 10;
constexpr uint16_t kVersionDeflate = 20;
constexpr uint16_t kVersionZip64 = 45;

constexpr uint32_t kMax32 = 0xFFFFFFFFu;
constexpr uint16_t kMax16 = 0xFFFF;

// MS-DOS attribute bits (low byte of the external attributes).
constexpr uint32_t kDosReadOnly = 0x01;
constexpr uint32_t kDosHidden = 0x02;
constexpr uint32_t kDosDirectory = 0x10;
constexpr uint32_t kDosArchive = 0x20;

inline uint16_t Get16(const void* p) {
  const auto* b = static_cast<const uint8_t*>(p);
  return uint16_t(b[0] | (b[1] << 8));
}
inline uint32_t Get32(const void* p) {
  const auto* b = static_cast<const uint8_t*>(p);
  return uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
}
inline uint64_t Get64(const void* p) {
  const auto* b = static_cast<const uint8_t*>(p);
  return uint64_t(Get32(b)) | (uint64_t(Get32(b + 4)) << 32);
}
inline void Put16(std::string& s, uint16_t v) {
  s.push_back(char(v & 0xFF));
  s.push_back(char(v >> 8));
}
inline void Put32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(char((v >> (8 * i)) & 0xFF));
}
inline void Put64(std::string& s, uint64_t v) {
  for (int i = 0; i < 8; ++i) s.push_back(char((v >> (8 * i)) & 0xFF));
}
inline void Set32At(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = char((v >> (8 * i)) & 0xFF);
}

// The fields an entry carries in both its local and its central header.
struct EntryFields {
  uint16_t versionMadeBy = (kHostUnix << 8) | 30;
  uint16_t versionNeeded = kVersionDeflate;
  uint16_t flags = 0;
  uint16_t method = kMethodDeflated;
  uint16_t dosTime = 0;
  uint16_t dosDate = 0;
  uint32_t crc32 = 0;
  uint64_t compressedSize = 0;
  uint64_t uncompressedSize = 0;
  uint64_t localHeaderOffset = 0;
  uint32_t diskStart = 0;
  uint16_t internalAttr = 0;
  uint32_t externalAttr = 0;
  std::string rawName;     // name bytes as stored
  std::string extra;       // extra field without Zip64 (rebuilt on writing)
  std::string comment;     // entry comment bytes
};

// Extra field helpers. A well-formed block is a sequence of (id, size, data).
// Returns the data of the first block with `id`, or nullopt (also when the field is malformed).
std::optional<std::string_view> FindExtra(std::string_view extra, uint16_t id);
// Removes every block with `id`; a malformed tail is dropped.
std::string RemoveExtra(std::string_view extra, uint16_t id);
// One block with `id` and `data`.
std::string MakeExtra(uint16_t id, std::string_view data);

// Zip64 extended information: only the fields whose 32-bit counterpart is saturated are present,
// in the order uncompressed size, compressed size, local header offset, disk number. Applies a Zip64 block to `e` where its 32-bit fields are saturated. Returns false when the block
// lacks a value that the saturated fields require.
bool ApplyZip64(std::string_view data, bool central, EntryFields& e);

// Writers. Each returns the full record bytes (header, name, extra[, comment]).
// Local header: with `zip64` the sizes are 0xFFFFFFFF and a Zip64 block holds both sizes
// (the caller may patch them later with PatchLocalSizes).
std::string BuildLocalHeader(const EntryFields& e, bool zip64);
// Patches CRC and sizes of a local header built by BuildLocalHeader (same `zip64` choice).
void PatchLocalSizes(std::string& header, const EntryFields& e, bool zip64);
// Central header; adds a Zip64 block when any size or the offset needs it (with `forceZip64`
// always, holding all three values).
std::string BuildCentralHeader(const EntryFields& e, bool forceZip64 = false);
// Data descriptor with signature; 64-bit sizes when `zip64`.
std::string BuildDataDescriptor(const EntryFields& e, bool zip64);
// True when an entry needs Zip64 in its central header.
bool NeedsZip64(const EntryFields& e);
// End of central directory (and, when needed or forced, the Zip64 end record and locator before
// it; `zip64EndOffset` is where that record will sit, normally cdOffset + cdSize).
std::string BuildEndRecords(uint64_t entryCount, uint64_t cdOffset, uint64_t cdSize, uint64_t zip64EndOffset,
                            std::string_view comment, bool forceZip64 = false);

}  // namespace zipfmt
