#pragma once
// Builds stored RAR 4 archives with chosen contents: marker, main header, file headers with the
// CRC-16 of the header and the CRC-32 of the data, end block.
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace rartest {

struct Rar4Item {
  std::string name;            // stored as given (bytes)
  std::string data;
  uint8_t hostOS = 2;          // 2 Windows, 3 Unix
  uint32_t attr = 0x20;        // DOS attributes or Unix mode
  bool folder = false;
  uint32_t dosTime = 0x5A8B6C21;  // 11 April 2025 13:33:02
  uint16_t extraFlags = 0;     // e.g. 0x04 encrypted, 0x200 Unicode name
};

inline void Put16(std::string& s, uint32_t v) {
  s += char(v & 0xFF);
  s += char((v >> 8) & 0xFF);
}
inline void Put32(std::string& s, uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}
inline uint32_t Crc(const std::string& s) {
  return uint32_t(crc32(0, reinterpret_cast<const Bytef*>(s.data()), uInt(s.size())));
}

// Seals a block whose first two bytes are reserved for HEAD_CRC.
inline std::string Seal(std::string h) {
  const uint32_t crc = Crc(h.substr(2)) & 0xFFFF;
  h[0] = char(crc & 0xFF);
  h[1] = char(crc >> 8);
  return h;
}

inline std::string Rar4Block(uint8_t type, uint16_t flags, const std::string& body) {
  std::string h(2, '\0');
  h += char(type);
  Put16(h, flags);
  Put16(h, uint32_t(7 + body.size()));
  return Seal(h + body);
}

inline std::string Rar4FileBlock(const Rar4Item& it) {
  std::string body;
  Put32(body, uint32_t(it.data.size()));
  Put32(body, uint32_t(it.data.size()));
  body += char(it.hostOS);
  Put32(body, Crc(it.data));
  Put32(body, it.dosTime);
  body += char(20);
  body += char(0x30);
  Put16(body, uint32_t(it.name.size()));
  Put32(body, it.folder ? (it.hostOS == 3 ? 0x41ED : 0x10) : it.attr);
  body += it.name;
  const uint16_t flags = uint16_t(0x8000 | (it.folder ? 0xE0 : 0) | it.extraFlags);
  return Rar4Block(0x74, flags, body) + it.data;
}

inline std::string Rar4Start(uint16_t mainFlags = 0) {
  std::string out("Rar!\x1A\x07\x00", 7);
  std::string body;
  Put16(body, 0);
  Put32(body, 0);
  return out + Rar4Block(0x73, mainFlags, body);
}

inline std::string Rar4End(uint16_t flags = 0x4000) { return Rar4Block(0x7B, flags, ""); }

inline std::string MakeRar4(const std::vector<Rar4Item>& items) {
  std::string out = Rar4Start();
  for (const Rar4Item& it : items) out += Rar4FileBlock(it);
  return out + Rar4End();
}

}  // namespace rartest
