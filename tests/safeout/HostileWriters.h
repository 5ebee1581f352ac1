#pragma once
// Small writers for the hostile table: one list of entries written as zip, tar, tar.gz, gzip or RAR,
// with names, links and modes exactly as given (no honest archiver would write most of them).
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "HostileZip.h"
#include "RarWriter.h"

namespace hostile {

enum class TFormat { Zip, Tar, TarGz, Gz, Rar4, Rar5 };

inline const char* FormatName(TFormat f) {
  switch (f) {
    case TFormat::Zip:
      return "zip";
    case TFormat::Tar:
      return "tar";
    case TFormat::TarGz:
      return "tar.gz";
    case TFormat::Gz:
      return "gz";
    case TFormat::Rar4:
      return "rar4";
    case TFormat::Rar5:
      return "rar5";
  }
  return "?";
}
inline const char* Extension(TFormat f) {
  switch (f) {
    case TFormat::Zip:
      return ".zip";
    case TFormat::Tar:
      return ".tar";
    case TFormat::TarGz:
      return ".tar.gz";
    case TFormat::Gz:
      return ".gz";
    case TFormat::Rar4:
    case TFormat::Rar5:
      return ".rar";
  }
  return "";
}

// One entry. `data` is a file's content or a link's target; mode 0 takes the kind's usual mode.
struct TItem {
  enum TKind { File, Folder, Symlink, HardLink, Fifo, Device } kind = File;
  std::string name, data;
  uint32_t mode = 0;
  bool damaged = false;  // its stored check value does not match (formats without one: see Make)
};
inline TItem F(std::string name, std::string data = "payload") {
  return {TItem::File, std::move(name), std::move(data), 0, false};
}
// A file whose data fails its check.
inline TItem Bad(std::string name, std::string data = "damaged payload") {
  return {TItem::File, std::move(name), std::move(data), 0, true};
}
inline TItem D(std::string name, uint32_t mode = 0) { return {TItem::Folder, std::move(name), "", mode, false}; }
inline TItem L(std::string name, std::string target) {
  return {TItem::Symlink, std::move(name), std::move(target), 0, false};
}
inline TItem H(std::string name, std::string target) {
  return {TItem::HardLink, std::move(name), std::move(target), 0, false};
}

// Entries stored at this time (2025-01-01 12:00 UTC); folders made from them must carry it.
constexpr int64_t kEntryTime = 1735732800;

// ---- tar ---------------------------------------------------------------------------------------

inline void Octal(char* field, size_t width, uint64_t v) {
  std::snprintf(field, width, "%0*llo", int(width - 1), static_cast<unsigned long long>(v));
}

inline std::string TarBlockPad(std::string s) {
  s.resize((s.size() + 511) / 512 * 512, '\0');
  return s;
}

inline std::string TarHeader(const std::string& name, char type, const std::string& link, uint64_t size,
                             uint32_t mode) {
  char h[512] = {};
  std::snprintf(h, 100, "%s", name.substr(0, 99).c_str());
  Octal(h + 100, 8, mode & 07777);
  Octal(h + 108, 8, 1000);
  Octal(h + 116, 8, 1000);
  Octal(h + 124, 12, size);
  Octal(h + 136, 12, static_cast<uint64_t>(kEntryTime));
  h[156] = type;
  std::snprintf(h + 157, 100, "%s", link.substr(0, 99).c_str());
  std::memcpy(h + 257,
              "ustar\0"
              "00",
              8);
  std::memcpy(h + 148, "        ", 8);
  unsigned sum = 0;
  for (unsigned char c : h) sum += c;
  std::snprintf(h + 148, 8, "%06o", sum);
  h[155] = ' ';
  return std::string(h, 512);
}

// A pax record "LEN key=value\n" (the value may hold any byte).
inline std::string PaxRecord(const std::string& key, const std::string& value) {
  const std::string body = " " + key + "=" + value + "\n";
  size_t len = body.size() + 1;
  while (std::to_string(len).size() + body.size() != len) ++len;
  return std::to_string(len) + body;
}

inline std::string MakeTar(const std::vector<TItem>& items) {
  std::string out;
  for (const TItem& it : items) {
    std::string pax;
    // Names and targets that a header cannot hold as they are go into a pax header.
    if (it.name.size() > 99 || it.name.find('\0') != std::string::npos) pax += PaxRecord("path", it.name);
    if (it.data.size() > 99 && (it.kind == TItem::Symlink || it.kind == TItem::HardLink))
      pax += PaxRecord("linkpath", it.data);
    if (!pax.empty()) out += TarHeader("././@PaxHeader", 'x', "", pax.size(), 0644) + TarBlockPad(pax);
    const std::string shortName = it.name.substr(0, std::min(it.name.find('\0'), size_t(99)));
    switch (it.kind) {
      case TItem::File:
        out += TarHeader(shortName, '0', "", it.data.size(), it.mode ? it.mode : 0644) + TarBlockPad(it.data);
        break;
      case TItem::Folder:
        out += TarHeader(shortName, '5', "", 0, it.mode ? it.mode : 0755);
        break;
      case TItem::Symlink:
        out += TarHeader(shortName, '2', it.data, 0, 0777);
        break;
      case TItem::HardLink:
        out += TarHeader(shortName, '1', it.data, 0, 0644);
        break;
      case TItem::Fifo:
        out += TarHeader(shortName, '6', "", 0, 0644);
        break;
      case TItem::Device:
        out += TarHeader(shortName, '3', "", 0, 0644);
        break;
    }
  }
  return out + std::string(1024, '\0');
}

// ---- gzip --------------------------------------------------------------------------------------

// A gzip member with `storedName` (when not empty) in its header.
inline std::string Gzip(const std::string& data, const std::string& storedName = "", bool badCrc = false) {
  std::string out("\x1f\x8b\x08", 3);
  out += char(storedName.empty() ? 0 : 0x08);
  for (int i = 0; i < 4; ++i) out += char((uint64_t(kEntryTime) >> (8 * i)) & 0xFF);
  out += '\0';
  out += '\x03';
  if (!storedName.empty()) out += storedName + std::string(1, '\0');
  out += unzengtest::RawDeflate(data);
  const uint32_t crc = unzengtest::Crc32(data) ^ (badCrc ? 1u : 0u);
  for (int i = 0; i < 4; ++i) out += char((crc >> (8 * i)) & 0xFF);
  for (int i = 0; i < 4; ++i) out += char((data.size() >> (8 * i)) & 0xFF);
  return out;
}

// ---- zip ---------------------------------------------------------------------------------------

inline std::string MakeZip(const std::vector<TItem>& items) {
  unzengtest::THostileZip z;
  for (const TItem& it : items) {
    unzengtest::THostileEntry e;
    e.name = it.name;
    e.method = 8;
    switch (it.kind) {
      case TItem::File:
        e.plain = it.data;
        e.externalAttr = (it.mode ? it.mode : 0100644u) << 16;
        if (it.damaged) e.crc = unzengtest::Crc32(it.data) ^ 1u;
        break;
      case TItem::Folder:
        e.method = 0;
        e.externalAttr = (it.mode ? it.mode : 040755u) << 16;
        break;
      case TItem::Symlink:
        e = unzengtest::SymlinkEntry(it.name, it.data);
        break;
      case TItem::Fifo:
        e.externalAttr = 010644u << 16;
        break;
      case TItem::Device:
        e.externalAttr = 020644u << 16;
        break;
      case TItem::HardLink:
        continue;  // zip has no hard links
    }
    z.entries.push_back(std::move(e));
  }
  return z.Build();
}

// ---- RAR ---------------------------------------------------------------------------------------

inline std::string MakeRar4(const std::vector<TItem>& items) {
  std::vector<rartest::Rar4Item> out;
  for (const TItem& it : items) {
    rartest::Rar4Item r;
    r.name = it.name;
    r.hostOS = 3;
    switch (it.kind) {
      case TItem::File:
        r.data = it.data;
        r.attr = it.mode ? it.mode : 0100644;
        r.badCrc = it.damaged;
        break;
      case TItem::Folder:
        r.folder = true;
        if (it.mode) r.attr = it.mode;
        break;
      case TItem::Symlink:
        r.data = it.data;
        r.attr = 0120777;
        break;
      case TItem::Fifo:
        r.attr = 010644;
        break;
      case TItem::Device:
        r.attr = 020644;
        break;
      case TItem::HardLink:
        continue;  // RAR 4 has no hard links
    }
    out.push_back(std::move(r));
  }
  return rartest::MakeRar4(out);
}

inline std::string MakeRar5(const std::vector<TItem>& items) {
  std::vector<rartest::Rar5Item> out;
  for (const TItem& it : items) {
    rartest::Rar5Item r;
    r.name = it.name;
    switch (it.kind) {
      case TItem::File:
        r.data = it.data;
        r.unixMode = it.mode ? it.mode : 0100644;
        r.badCrc = it.damaged;
        break;
      case TItem::Symlink:
        r.redirect = 1;
        r.target = it.data;
        r.unixMode = 0120777;
        break;
      case TItem::HardLink:
        r.redirect = 4;
        r.target = it.data;
        break;
      case TItem::Folder:
        r.folder = true;
        r.unixMode = it.mode ? it.mode : 040755;
        break;
      case TItem::Fifo:
        r.unixMode = 010644;
        break;
      case TItem::Device:
        r.unixMode = 020644;
        break;
    }
    out.push_back(std::move(r));
  }
  return rartest::MakeRar5(out, false);
}

// The archive of `items` in `format`; for gzip the first file only, its name stored in the header.
inline std::string Make(TFormat format, const std::vector<TItem>& items) {
  switch (format) {
    case TFormat::Zip:
      return MakeZip(items);
    case TFormat::Tar:
      return MakeTar(items);
    case TFormat::TarGz:
      // Tar keeps no check value per entry: a damaged entry damages the stream's CRC.
      return Gzip(MakeTar(items), "hostile.tar",
                  std::any_of(items.begin(), items.end(), [](const TItem& it) { return it.damaged; }));
    case TFormat::Gz:
      for (const TItem& it : items)
        if (it.kind == TItem::File) return Gzip(it.data, it.name, it.damaged);
      return Gzip("");
    case TFormat::Rar4:
      return MakeRar4(items);
    case TFormat::Rar5:
      return MakeRar5(items);
  }
  return {};
}

}  // namespace hostile
