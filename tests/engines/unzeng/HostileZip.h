#pragma once
// A minimal zip writer for the tests: it writes exactly what it is told, including names, sizes,
// CRCs and offsets that no honest archiver would produce.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace unzengtest {

struct THostileEntry {
  std::string name;
  std::string plain;                    // uncompressed content (for the CRC and default sizes)
  std::optional<std::string> stored;    // bytes written as data; default: plain (method 0) or its deflate
  uint16_t method = 0;
  uint16_t flags = 0;
  uint16_t madeBy = (3 << 8) | 30;      // Unix
  uint32_t externalAttr = 0100644u << 16;
  std::optional<uint32_t> crc;
  std::optional<uint64_t> compressedSize, uncompressedSize;
  int shareLocalOf = -1;                // >= 0: no own local record, point at that entry's one
};

std::string RawDeflate(const std::string& plain);
uint32_t Crc32(const std::string& s);
THostileEntry SymlinkEntry(const std::string& name, const std::string& target);

struct THostileZip {
  std::vector<THostileEntry> entries;
  std::optional<uint64_t> cdOffset;     // override of the directory offset in the end record
  std::string Build() const;
};

}  // namespace unzengtest
