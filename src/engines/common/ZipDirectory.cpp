#include "ZipDirectory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <numeric>

namespace zipfmt {

InputFile::~InputFile() { Close(); }

bool InputFile::Open(const std::string& path, std::string& error) {
  Close();
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = path + " is not a regular file";
    Close();
    return false;
  }
  size_ = uint64_t(st.st_size);
  return true;
}

void InputFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  size_ = 0;
}

bool InputFile::ReadAt(uint64_t offset, void* buffer, size_t n) const {
  if (fd_ < 0 || offset > size_ || n > size_ - offset) return false;
  auto* p = static_cast<char*>(buffer);
  while (n > 0) {
    ssize_t r = ::pread(fd_, p, n, off_t(offset));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    n -= size_t(r);
    offset += uint64_t(r);
  }
  return true;
}

namespace {

// Finds the classic end record: the last signature whose comment fits in the file.
bool FindEndRecord(const InputFile& file, uint64_t& endPos, std::string& tail, size_t& tailPos) {
  uint64_t size = file.Size();
  if (size < kEndOfCentralSize) return false;
  uint64_t span = std::min<uint64_t>(size, kEndOfCentralSize + kMaxCommentSize);
  uint64_t start = size - span;
  tail.resize(size_t(span));
  if (!file.ReadAt(start, tail.data(), tail.size())) return false;
  for (size_t i = tail.size() - kEndOfCentralSize + 1; i-- > 0;) {
    if (Get32(tail.data() + i) != kEndOfCentralSig) continue;
    uint16_t commentLen = Get16(tail.data() + i + 20);
    if (i + kEndOfCentralSize + commentLen <= tail.size()) {
      endPos = start + i;
      tailPos = i;
      return true;
    }
  }
  return false;
}

}  // namespace

bool ReadCentralDirectory(const InputFile& file, CentralDirectory& dir, std::string& error, NameCodePage codePage) {
  dir = CentralDirectory{};
  uint64_t eocdPos = 0;
  std::string tail;
  size_t tp = 0;
  if (!FindEndRecord(file, eocdPos, tail, tp)) {
    error = "not a zip archive (no end of central directory record)";
    return false;
  }
  const char* e = tail.data() + tp;
  uint32_t diskNo = Get16(e + 4), cdDisk = Get16(e + 6);
  uint64_t countDisk = Get16(e + 8), count = Get16(e + 10);
  uint64_t cdSize = Get32(e + 12), cdOffset = Get32(e + 16);
  uint16_t commentLen = Get16(e + 20);
  dir.comment.assign(e + 22, commentLen);

  uint64_t cdEnd = eocdPos;  // where the central directory must end
  bool zip64 = false;
  if (eocdPos >= kZip64LocatorSize) {
    uint8_t loc[kZip64LocatorSize];
    if (file.ReadAt(eocdPos - kZip64LocatorSize, loc, sizeof loc) && Get32(loc) == kZip64LocatorSig) {
      uint64_t statedEnd64 = Get64(loc + 8);
      if (Get32(loc + 16) > 1 || Get32(loc + 4) != 0) {
        error = "multi-disk archives are not supported";
        return false;
      }
      // The Zip64 end record normally sits right before the locator; a stub in front shifts it.
      uint64_t end64 = statedEnd64;
      uint8_t rec[kZip64EndSize];
      bool found = end64 <= eocdPos - kZip64LocatorSize && file.ReadAt(end64, rec, sizeof rec) &&
                   Get32(rec) == kZip64EndSig;
      if (!found && eocdPos >= kZip64LocatorSize + kZip64EndSize) {
        end64 = eocdPos - kZip64LocatorSize - kZip64EndSize;
        found = file.ReadAt(end64, rec, sizeof rec) && Get32(rec) == kZip64EndSig;
      }
      if (!found) {
        error = "Zip64 end of central directory record missing or damaged";
        return false;
      }
      if (Get32(rec + 16) != 0 || Get32(rec + 20) != 0) {
        error = "multi-disk archives are not supported";
        return false;
      }
      countDisk = Get64(rec + 24);
      count = Get64(rec + 32);
      cdSize = Get64(rec + 40);
      cdOffset = Get64(rec + 48);
      cdEnd = end64;
      zip64 = true;
      diskNo = cdDisk = 0;
      dir.endStart = end64;
    }
  }
  if (!zip64) dir.endStart = eocdPos;
  if (diskNo != 0 || cdDisk != 0 || countDisk != count) {
    error = "multi-disk archives are not supported";
    return false;
  }
  if (cdSize > cdEnd) {
    error = "central directory size exceeds the file";
    return false;
  }
  uint64_t cdStart = cdEnd - cdSize;
  if (cdOffset > cdStart) {
    error = "central directory offset lies past the end of the archive";
    return false;
  }
  dir.prefixSize = cdStart - cdOffset;
  dir.cdStart = cdStart;
  dir.cdSize = cdSize;
  dir.zip64 = zip64;
  if (count > cdSize / kCentralHeaderSize) {
    error = "entry count does not fit the central directory";
    return false;
  }
  std::string cd;
  try {
    cd.resize(size_t(cdSize));
  } catch (const std::bad_alloc&) {
    error = "central directory too large";
    return false;
  }
  if (!file.ReadAt(cdStart, cd.data(), cd.size())) {
    error = "cannot read the central directory";
    return false;
  }
  dir.entries.reserve(size_t(std::min<uint64_t>(count, cdSize / kCentralHeaderSize)));
  size_t pos = 0;
  while (pos < cd.size()) {
    if (cd.size() - pos < kCentralHeaderSize || Get32(cd.data() + pos) != kCentralHeaderSig) {
      error = "damaged central directory (entry " + std::to_string(dir.entries.size() + 1) + ")";
      return false;
    }
    const char* h = cd.data() + pos;
    CentralEntry ce;
    ce.versionMadeBy = Get16(h + 4);
    ce.versionNeeded = Get16(h + 6);
    ce.flags = Get16(h + 8);
    ce.method = Get16(h + 10);
    ce.dosTime = Get16(h + 12);
    ce.dosDate = Get16(h + 14);
    ce.crc32 = Get32(h + 16);
    ce.compressedSize = Get32(h + 20);
    ce.uncompressedSize = Get32(h + 24);
    size_t nameLen = Get16(h + 28), extraLen = Get16(h + 30), commentLen2 = Get16(h + 32);
    ce.diskStart = Get16(h + 34);
    ce.internalAttr = Get16(h + 36);
    ce.externalAttr = Get32(h + 38);
    ce.localHeaderOffset = Get32(h + 42);
    size_t total = kCentralHeaderSize + nameLen + extraLen + commentLen2;
    if (cd.size() - pos < total) {
      error = "damaged central directory (entry " + std::to_string(dir.entries.size() + 1) + " runs past its end)";
      return false;
    }
    ce.rawName.assign(h + kCentralHeaderSize, nameLen);
    ce.extra.assign(h + kCentralHeaderSize + nameLen, extraLen);
    ce.comment.assign(h + kCentralHeaderSize + nameLen + extraLen, commentLen2);
    if (ce.compressedSize == kMax32 || ce.uncompressedSize == kMax32 || ce.localHeaderOffset == kMax32 ||
        ce.diskStart == kMax16) {
      auto z = FindExtra(ce.extra, kExtraZip64);
      if (!z || !ApplyZip64(*z, true, ce)) {
        error = "damaged Zip64 information in entry " + std::to_string(dir.entries.size() + 1);
        return false;
      }
      ce.hasZip64 = true;
    }
    if (ce.diskStart != 0) {
      error = "multi-disk archives are not supported";
      return false;
    }
    ce.centralOffset = cdStart + pos;
    ce.name = DecodeEntryName(ce.rawName, ce.flags, ce.extra, ce.versionMadeBy, codePage);
    dir.entries.push_back(std::move(ce));
    pos += total;
  }
  if ((dir.entries.size() & 0xFFFF) != (count & 0xFFFF)) {
    error = "entry count in the end record does not match the central directory";
    return false;
  }
  return true;
}

bool LocateEntryData(const InputFile& file, const CentralDirectory& dir, const CentralEntry& entry, LocalInfo& info,
                     std::string& error) {
  info = LocalInfo{};
  uint64_t limit = dir.cdStart;
  if (entry.localHeaderOffset > limit || dir.prefixSize > limit - entry.localHeaderOffset ||
      limit - (dir.prefixSize + entry.localHeaderOffset) < kLocalHeaderSize) {
    error = "local header of " + entry.name + " lies outside the archive";
    return false;
  }
  info.headerStart = dir.prefixSize + entry.localHeaderOffset;
  uint8_t h[kLocalHeaderSize];
  if (!file.ReadAt(info.headerStart, h, sizeof h) || Get32(h) != kLocalHeaderSig) {
    error = "local header of " + entry.name + " is missing or damaged";
    return false;
  }
  info.localFlags = Get16(h + 6);
  uint64_t nameLen = Get16(h + 26), extraLen = Get16(h + 28);
  uint64_t afterHeader = info.headerStart + kLocalHeaderSize;
  if (limit - afterHeader < nameLen + extraLen) {
    error = "local header of " + entry.name + " runs past the data area";
    return false;
  }
  info.localExtra.resize(size_t(extraLen));
  if (extraLen && !file.ReadAt(afterHeader + nameLen, info.localExtra.data(), info.localExtra.size())) {
    error = "cannot read the local header of " + entry.name;
    return false;
  }
  info.dataStart = afterHeader + nameLen + extraLen;
  if (entry.compressedSize > limit - info.dataStart) {
    error = "data of " + entry.name + " runs past the end of the archive data";
    return false;
  }
  info.dataEnd = info.dataStart + entry.compressedSize;
  info.recordEnd = info.dataEnd;
  if (entry.flags & kFlagDataDescriptor) {
    bool zip64 = FindExtra(info.localExtra, kExtraZip64).has_value() || entry.compressedSize >= kMax32 ||
                 entry.uncompressedSize >= kMax32;
    uint64_t size = zip64 ? 20 : 12;
    uint8_t sig[4];
    if (limit - info.dataEnd >= 4 && file.ReadAt(info.dataEnd, sig, 4) && Get32(sig) == kDataDescriptorSig) size += 4;
    if (limit - info.dataEnd < size) {
      // A descriptor that does not fit: keep the data, ignore the descriptor bytes.
      size = 0;
    }
    info.recordEnd = info.dataEnd + size;
  }
  return true;
}

bool CheckNoOverlaps(const CentralDirectory& dir, const std::vector<LocalInfo>& infos, std::string& error) {
  std::vector<size_t> order(infos.size());
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(),
            [&](size_t a, size_t b) { return infos[a].headerStart < infos[b].headerStart; });
  for (size_t k = 1; k < order.size(); ++k) {
    const LocalInfo& prev = infos[order[k - 1]];
    const LocalInfo& cur = infos[order[k]];
    if (cur.headerStart < prev.dataEnd) {
      error = "entries " + dir.entries[order[k - 1]].name + " and " + dir.entries[order[k]].name + " overlap";
      return false;
    }
  }
  return true;
}

}  // namespace zipfmt
