#pragma once
// The records a multi-part copy rewrites: central headers (the part and offset of their local
// header) and the end records of a set, with Zip64 blocks where the values need them.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zip/ZipDirReader.h"

// A central header as stored, with the values its Zip64 block supplies.
struct TSpanCentral {
  std::string Fixed;    // the 46 header bytes
  std::string Name;     // stored name bytes (any length)
  std::string Extra;
  std::string Comment;
  uint16_t Flags = 0;
  uint32_t Crc = 0;
  uint64_t CompressedSize = 0;
  uint64_t UncompressedSize = 0;
  uint64_t LocalOffset = 0;
  uint32_t Disk = 0;
  bool Zip64Sizes = false;  // a size is kept in the Zip64 block (its data descriptor has 8-byte sizes)
  size_t Size() const { return Fixed.size() + Name.size() + Extra.size() + Comment.size(); }
};

// Parses `count` central headers from the directory bytes. Throws EZipKit: 11013 (a header is cut
// short), 11015 (wrong signature), 11017 (name), 11019 (extra field or its Zip64 block), 11022 (comment).
std::vector<TSpanCentral> ParseCentralHeaders(std::string_view bytes, uint64_t count);

// The header again with its local header on part `disk` at `offset`. Throws EZipKit 11029 when
// the extra field would grow past its 16-bit length.
std::string RelocatedCentralHeader(const TSpanCentral& c, uint32_t disk, uint64_t offset);

bool SpanEndNeedsZip64(const TZipEndRecord& e);
// The Zip64 end record and locator when needed, then the end record and the comment. The records
// start at `recordOffset` of part `e.ThisDisk` (where the locator points).
std::string SpanEndRecords(const TZipEndRecord& e, uint64_t recordOffset, std::string_view comment);
// Their size.
size_t SpanEndRecordsSize(const TZipEndRecord& e, size_t commentSize);
