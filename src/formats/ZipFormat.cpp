#include "formats/ZipFormat.h"

#include <algorithm>

namespace zipfmt {

std::optional<std::string_view> FindExtra(std::string_view extra, uint16_t id) {
  size_t pos = 0;
  while (pos + 4 <= extra.size()) {
    uint16_t blockId = Get16(extra.data() + pos);
    uint16_t size = Get16(extra.data() + pos + 2);
    if (pos + 4 + size > extra.size()) return std::nullopt;
    if (blockId == id) return extra.substr(pos + 4, size);
    pos += 4 + size;
  }
  return std::nullopt;
}

std::string RemoveExtra(std::string_view extra, uint16_t id) {
  std::string out;
  size_t pos = 0;
  while (pos + 4 <= extra.size()) {
    uint16_t blockId = Get16(extra.data() + pos);
    uint16_t size = Get16(extra.data() + pos + 2);
    if (pos + 4 + size > extra.size()) break;
    if (blockId != id) out.append(extra.substr(pos, 4 + size));
    pos += 4 + size;
  }
  return out;
}

std::string MakeExtra(uint16_t id, std::string_view data) {
  std::string out;
  Put16(out, id);
  Put16(out, uint16_t(data.size()));
  out.append(data);
  return out;
}

bool ApplyZip64(std::string_view data, bool central, EntryFields& e) {
  size_t pos = 0;
  auto take64 = [&](uint64_t& v) {
    if (pos + 8 > data.size()) return false;
    v = Get64(data.data() + pos);
    pos += 8;
    return true;
  };
  if (e.uncompressedSize == kMax32 && !take64(e.uncompressedSize)) return false;
  if (e.compressedSize == kMax32 && !take64(e.compressedSize)) return false;
  if (central) {
    if (e.localHeaderOffset == kMax32 && !take64(e.localHeaderOffset)) return false;
    if (e.diskStart == kMax16) {
      if (pos + 4 > data.size()) return false;
      e.diskStart = Get32(data.data() + pos);
      pos += 4;
    }
  }
  return true;
}

bool NeedsZip64(const EntryFields& e) {
  return e.compressedSize >= kMax32 || e.uncompressedSize >= kMax32 || e.localHeaderOffset >= kMax32;
}

std::string BuildLocalHeader(const EntryFields& e, bool zip64) {
  std::string extra = RemoveExtra(e.extra, kExtraZip64);
  if (zip64) {
    std::string z;
    Put64(z, e.uncompressedSize);
    Put64(z, e.compressedSize);
    extra = MakeExtra(kExtraZip64, z) + extra;
  }
  std::string h;
  h.reserve(kLocalHeaderSize + e.rawName.size() + extra.size());
  Put32(h, kLocalHeaderSig);
  Put16(h, zip64 ? std::max<uint16_t>(e.versionNeeded, kVersionZip64) : e.versionNeeded);
  Put16(h, e.flags);
  Put16(h, e.method);
  Put16(h, e.dosTime);
  Put16(h, e.dosDate);
  Put32(h, e.crc32);
  Put32(h, zip64 ? kMax32 : uint32_t(e.compressedSize));
  Put32(h, zip64 ? kMax32 : uint32_t(e.uncompressedSize));
  Put16(h, uint16_t(e.rawName.size()));
  Put16(h, uint16_t(extra.size()));
  h += e.rawName;
  h += extra;
  return h;
}

void PatchLocalSizes(std::string& header, const EntryFields& e, bool zip64) {
  Set32At(header, 14, e.crc32);
  if (!zip64) {
    Set32At(header, 18, uint32_t(e.compressedSize));
    Set32At(header, 22, uint32_t(e.uncompressedSize));
    return;
  }
  // The Zip64 block is the first extra block: id, size, uncompressed, compressed.
  size_t at = kLocalHeaderSize + Get16(header.data() + 26) + 4;
  Set32At(header, at, uint32_t(e.uncompressedSize));
  Set32At(header, at + 4, uint32_t(e.uncompressedSize >> 32));
  Set32At(header, at + 8, uint32_t(e.compressedSize));
  Set32At(header, at + 12, uint32_t(e.compressedSize >> 32));
}

std::string BuildCentralHeader(const EntryFields& e, bool forceZip64) {
  std::string extra = RemoveExtra(e.extra, kExtraZip64);
  bool bigU = forceZip64 || e.uncompressedSize >= kMax32;
  bool bigC = forceZip64 || e.compressedSize >= kMax32;
  bool bigO = forceZip64 || e.localHeaderOffset >= kMax32;
  bool zip64 = bigU || bigC || bigO;
  if (zip64) {
    std::string z;
    if (bigU) Put64(z, e.uncompressedSize);
    if (bigC) Put64(z, e.compressedSize);
    if (bigO) Put64(z, e.localHeaderOffset);
    extra = MakeExtra(kExtraZip64, z) + extra;
  }
  if (extra.size() > kMax16) extra.resize(0);
  std::string comment = e.comment.substr(0, kMax16);
  std::string h;
  h.reserve(kCentralHeaderSize + e.rawName.size() + extra.size() + comment.size());
  Put32(h, kCentralHeaderSig);
  uint16_t made = e.versionMadeBy;
  uint16_t needed = e.versionNeeded;
  if (zip64) {
    needed = std::max<uint16_t>(needed, kVersionZip64);
    if ((made & 0xFF) < kVersionZip64) made = uint16_t((made & 0xFF00) | kVersionZip64);
  }
  Put16(h, made);
  Put16(h, needed);
  Put16(h, e.flags);
  Put16(h, e.method);
  Put16(h, e.dosTime);
  Put16(h, e.dosDate);
  Put32(h, e.crc32);
  Put32(h, bigC ? kMax32 : uint32_t(e.compressedSize));
  Put32(h, bigU ? kMax32 : uint32_t(e.uncompressedSize));
  Put16(h, uint16_t(e.rawName.size()));
  Put16(h, uint16_t(extra.size()));
  Put16(h, uint16_t(comment.size()));
  Put16(h, 0);  // disk number start: single-file archives only
  Put16(h, e.internalAttr);
  Put32(h, e.externalAttr);
  Put32(h, bigO ? kMax32 : uint32_t(e.localHeaderOffset));
  h += e.rawName;
  h += extra;
  h += comment;
  return h;
}

std::string BuildDataDescriptor(const EntryFields& e, bool zip64) {
  std::string d;
  Put32(d, kDataDescriptorSig);
  Put32(d, e.crc32);
  if (zip64) {
    Put64(d, e.compressedSize);
    Put64(d, e.uncompressedSize);
  } else {
    Put32(d, uint32_t(e.compressedSize));
    Put32(d, uint32_t(e.uncompressedSize));
  }
  return d;
}

std::string BuildEndRecords(uint64_t entryCount, uint64_t cdOffset, uint64_t cdSize, uint64_t zip64EndOffset,
                            std::string_view comment, bool forceZip64) {
  std::string out;
  bool zip64 = forceZip64 || entryCount >= kMax16 || cdOffset >= kMax32 || cdSize >= kMax32;
  if (zip64) {
    Put32(out, kZip64EndSig);
    Put64(out, kZip64EndSize - 12);
    Put16(out, (kHostUnix << 8) | kVersionZip64);
    Put16(out, kVersionZip64);
    Put32(out, 0);  // this disk
    Put32(out, 0);  // disk with the central directory
    Put64(out, entryCount);
    Put64(out, entryCount);
    Put64(out, cdSize);
    Put64(out, cdOffset);
    Put32(out, kZip64LocatorSig);
    Put32(out, 0);
    Put64(out, zip64EndOffset);
    Put32(out, 1);  // total disks
  }
  comment = comment.substr(0, std::min(comment.size(), kMaxCommentSize));
  Put32(out, kEndOfCentralSig);
  Put16(out, 0);
  Put16(out, 0);
  uint16_t count16 = entryCount >= kMax16 || forceZip64 ? kMax16 : uint16_t(entryCount);
  Put16(out, count16);
  Put16(out, count16);
  Put32(out, cdSize >= kMax32 || forceZip64 ? kMax32 : uint32_t(cdSize));
  Put32(out, cdOffset >= kMax32 || forceZip64 ? kMax32 : uint32_t(cdOffset));
  Put16(out, uint16_t(comment.size()));
  out.append(comment);
  return out;
}

}  // namespace zipfmt
