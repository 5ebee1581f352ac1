#include "formats/ZipDirectory.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <numeric>

namespace zipfmt {
namespace {

constexpr uint64_t kWrap = 0x10000;  // a classic entry count wraps here

void DecodeEndRecord(const uint8_t* p, EndRecord& rec) {
  rec.thisDisk = Get16(p + 4);
  rec.dirStartDisk = Get16(p + 6);
  rec.entriesThisDisk = Get16(p + 8);
  rec.totalEntries = Get16(p + 10);
  rec.dirSize = Get32(p + 12);
  rec.dirOffset = Get32(p + 16);
  rec.commentLength = Get16(p + 20);
}

// Puts the Zip64 end record's values, found through the locator before the classic record, into
// the fields the classic record marks as "see Zip64". The record's stored position counts from the
// start of the zip data; with a stub in front it is short, so the place right before the locator is
// tried too.
void ApplyZip64End(const IArchiveInput& in, EndRecord& rec) {
  if (rec.offset < kZip64LocatorSize) return;
  const uint64_t locPos = rec.offset - kZip64LocatorSize;
  uint8_t loc[kZip64LocatorSize];
  if (!in.ReadExact(locPos, loc, sizeof loc) || Get32(loc) != kZip64LocatorSig) return;
  rec.zip64Disks = Get32(loc + 16);
  const uint64_t stored = Get64(loc + 8);
  const uint64_t beside = locPos >= kZip64EndSize ? locPos - kZip64EndSize : UINT64_MAX;
  for (uint64_t pos : {stored, beside}) {
    uint8_t r[kZip64EndSize];
    if (pos > locPos || locPos - pos < kZip64EndSize || !in.ReadExact(pos, r, sizeof r) || Get32(r) != kZip64EndSig)
      continue;
    if (rec.thisDisk == kMax16) rec.thisDisk = Get32(r + 16);
    if (rec.dirStartDisk == kMax16) rec.dirStartDisk = Get32(r + 20);
    if (rec.entriesThisDisk == kMax16) rec.entriesThisDisk = Get64(r + 24);
    if (rec.totalEntries == kMax16) rec.totalEntries = Get64(r + 32);
    if (rec.dirSize == kMax32) rec.dirSize = Get64(r + 40);
    if (rec.dirOffset == kMax32) rec.dirOffset = Get64(r + 48);
    rec.zip64 = true;
    rec.zip64Offset = pos;
    return;
  }
  rec.zip64Missing = true;
}

// True when a candidate end record describes a directory that can be there.
bool Consistent(const IArchiveInput& in, const EndRecord& rec) {
  if (rec.Unresolved()) return false;
  if (rec.thisDisk != rec.dirStartDisk) return true;  // the directory starts on another disk
  const uint64_t dirEnd = rec.DirectoryEnd();
  if (rec.dirSize > dirEnd) return false;
  const uint64_t start = dirEnd - rec.dirSize;
  if (rec.dirOffset > start) return false;
  if (rec.dirSize == 0) return rec.totalEntries == 0;
  uint8_t sig[4];
  return rec.totalEntries != 0 && in.ReadExact(start, sig, sizeof sig) && Get32(sig) == kCentralHeaderSig;
}

}  // namespace

bool EndRecord::Unresolved() const {
  if (!zip64Missing) return false;
  return thisDisk == kMax16 || dirStartDisk == kMax16 || entriesThisDisk == kMax16 || totalEntries == kMax16 ||
         dirSize == kMax32 || dirOffset == kMax32;
}

EndSearch FindEndRecord(const IArchiveInput& in, EndRecord& end) {
  end = EndRecord{};
  const uint64_t size = in.Size();
  end.physicalSize = end.fileEnd = size;
  uint8_t head[8];
  const bool spanStart =
      in.ReadExact(0, head, sizeof head) && Get32(head) == kSpanMarkerSig && Get32(head + 4) == kLocalHeaderSig;
  end.startsSpanSet = spanStart;
  if (size < kEndOfCentralSize) return EndSearch::NotFound;

  const size_t length = size_t(std::min<uint64_t>(size, kEndOfCentralSize + kMaxCommentSize));
  const uint64_t bufferStart = size - length;
  std::string buf(length, '\0');
  const int64_t got = in.ReadAt(bufferStart, buf.data(), length);
  if (got < 0) return EndSearch::SeekError;
  if (size_t(got) != length) return EndSearch::ReadError;

  bool haveAny = false, haveConsistent = false;
  EndRecord firstAny, firstConsistent;
  for (size_t hit = length - kEndOfCentralSize + 1; hit-- > 0;) {
    const auto* p = reinterpret_cast<const uint8_t*>(buf.data() + hit);
    if (Get32(p) != kEndOfCentralSig) continue;
    EndRecord c;
    c.physicalSize = c.fileEnd = size;
    c.startsSpanSet = spanStart;
    c.offset = bufferStart + hit;
    DecodeEndRecord(p, c);
    const size_t commentStart = hit + kEndOfCentralSize;
    const size_t recordEnd = commentStart + c.commentLength;
    const bool fits = recordEnd <= length;
    c.commentCut = fits ? 0 : recordEnd - length;
    if (recordEnd < length) {
      c.fileEnd = bufferStart + recordEnd;
      const size_t after = length - recordEnd;
      const bool zeroPadding = size % 512 == 0 && after < 512 &&
                               std::all_of(buf.begin() + std::ptrdiff_t(recordEnd), buf.end(), [](char b) { return b == 0; });
      c.garbage = !zeroPadding;
    }
    c.comment.assign(buf, commentStart, std::min(recordEnd, length) - commentStart);
    ApplyZip64End(in, c);
    const bool consistent = fits && Consistent(in, c);
    if (consistent && !c.garbage) {
      end = std::move(c);
      return EndSearch::Found;
    }
    if (consistent && !haveConsistent) firstConsistent = c, haveConsistent = true;
    if (!haveAny) firstAny = std::move(c), haveAny = true;
  }
  if (!haveAny) return EndSearch::NotFound;
  end = haveConsistent ? std::move(firstConsistent) : std::move(firstAny);
  return EndSearch::Found;
}

// ---------------------------------------------------------------------------------------------

CentralDirectoryReader::CentralDirectoryReader(const IArchiveInput& current, const EndRecord& end, IDiskSet* disks,
                                               NameCodePage codePage)
    : input_(&current), startInput_(&current), end_(end), disks_(disks), codePage_(codePage) {}

bool CentralDirectoryReader::Start() {
  seq_ = 0;
  limit_ = end_.totalEntries;
  consumed_ = 0;
  buf_.clear();
  pos_ = 0;
  if (end_.Unresolved()) {
    error_ = DirError::Unresolved;
    return false;
  }
  startDisk_ = disk_ = end_.dirStartDisk;
  if (end_.dirStartDisk == end_.thisDisk) {
    // The directory is looked for from the end of the input, where a comment cut short by a
    // truncated file would put it.
    const uint64_t recordEnd = end_.DirectoryEnd();
    const uint64_t dirEnd = recordEnd - std::min(recordEnd, end_.commentCut);
    if (end_.dirSize > dirEnd || end_.commentCut > recordEnd) {
      error_ = DirError::Seek;
      return false;
    }
    start_ = dirEnd - end_.dirSize;
    shift_ = start_ >= end_.dirOffset ? int64_t(std::min<uint64_t>(start_ - end_.dirOffset, INT64_MAX))
                                      : -int64_t(std::min<uint64_t>(end_.dirOffset - start_, INT64_MAX));
  } else {
    if (!disks_) {
      error_ = DirError::NoDisks;
      return false;
    }
    input_ = &disks_->Disk(end_.dirStartDisk);
    start_ = end_.dirOffset;
    shift_ = 0;
  }
  startInput_ = input_;
  if (start_ > input_->Size()) {
    error_ = DirError::Seek;
    return false;
  }
  filePos_ = start_;
  error_ = DirError::None;
  return true;
}

// Makes `n` bytes available at pos_; false when the input ends first.
bool CentralDirectoryReader::Fill(size_t n) {
  const size_t have = buf_.size() - pos_;
  if (have >= n) return true;
  if (pos_ > 0) {
    buf_.erase(0, pos_);
    filePos_ += pos_;
    pos_ = 0;
  }
  const uint64_t readFrom = filePos_ + buf_.size();
  const uint64_t left = input_->Size() > readFrom ? input_->Size() - readFrom : 0;
  // The whole directory in one read in the usual case; never more than the input holds.
  const uint64_t dirLeft = end_.dirSize > consumed_ ? end_.dirSize - consumed_ : 0;
  const uint64_t want = std::max<uint64_t>({n - have, std::min<uint64_t>(dirLeft, 1u << 30), 64 * 1024});
  const size_t toRead = size_t(std::min(want, left));
  if (toRead > 0) {
    const size_t old = buf_.size();
    buf_.resize(old + toRead);
    const int64_t got = input_->ReadAt(readFrom, buf_.data() + old, toRead);
    if (got < 0) {
      buf_.resize(old);
      error_ = DirError::Seek;
      return false;
    }
    buf_.resize(old + size_t(got));
  }
  return buf_.size() >= n;
}

bool CentralDirectoryReader::NextDisk() {
  if (!disks_ || disk_ >= end_.thisDisk) return false;
  input_ = &disks_->Disk(++disk_);
  filePos_ = 0;
  buf_.clear();
  pos_ = 0;
  return true;
}

bool CentralDirectoryReader::Next(CentralEntry& e) {
  if (error_ != DirError::None) return false;
  if (seq_ >= limit_) {
    // A classic count that wrapped at 65,536: go on while a whole further wrap fits in the
    // recorded size and another header follows.
    uint8_t sig[4];
    const bool more = !end_.zip64 && end_.totalEntries < kWrap && disk_ == startDisk_ &&
                      startDisk_ == end_.thisDisk && consumed_ <= end_.dirSize &&
                      end_.dirSize - consumed_ >= kWrap * kCentralHeaderSize && Fill(4) &&
                      (std::memcpy(sig, buf_.data() + pos_, 4), Get32(sig) == kCentralHeaderSig);
    if (!more) return false;
    limit_ += kWrap;
  }
  ++seq_;
  while (!Fill(kCentralHeaderSize)) {
    if (error_ != DirError::None) return false;
    if (!NextDisk()) {
      error_ = DirError::HeaderShort;
      return false;
    }
  }
  const char* h = buf_.data() + pos_;
  if (Get32(h) != kCentralHeaderSig) {
    error_ = DirError::BadSignature;
    return false;
  }
  e = CentralEntry{};
  e.versionMadeBy = Get16(h + 4);
  e.versionNeeded = Get16(h + 6);
  e.flags = Get16(h + 8);
  e.method = Get16(h + 10);
  e.dosTime = Get16(h + 12);
  e.dosDate = Get16(h + 14);
  e.crc32 = Get32(h + 16);
  e.compressedSize = Get32(h + 20);
  e.uncompressedSize = Get32(h + 24);
  const size_t nameLen = Get16(h + 28), extraLen = Get16(h + 30), commentLen = Get16(h + 32);
  e.diskStart = Get16(h + 34);
  e.internalAttr = Get16(h + 36);
  e.externalAttr = Get32(h + 38);
  e.localHeaderOffset = Get32(h + 42);
  e.centralOffset = filePos_ + pos_;
  e.centralDisk = disk_;
  // Each part is checked on its own so that a short read names the part that is missing.
  const DirError shortOf[3] = {DirError::NameShort, DirError::ExtraShort, DirError::CommentShort};
  const size_t ends[3] = {kCentralHeaderSize + nameLen, kCentralHeaderSize + nameLen + extraLen,
                          kCentralHeaderSize + nameLen + extraLen + commentLen};
  for (int k = 0; k < 3; ++k) {
    if (!Fill(ends[k])) {
      if (error_ == DirError::None) error_ = shortOf[k];
      return false;
    }
  }
  h = buf_.data() + pos_;
  e.rawName.assign(h + kCentralHeaderSize, nameLen);
  e.extra.assign(h + kCentralHeaderSize + nameLen, extraLen);
  e.comment.assign(h + kCentralHeaderSize + nameLen + extraLen, commentLen);
  if (e.compressedSize == kMax32 || e.uncompressedSize == kMax32 || e.localHeaderOffset == kMax32 ||
      e.diskStart == kMax16) {
    auto z = FindExtra(e.extra, kExtraZip64);
    e.hasZip64 = z.has_value();
    e.zip64Damaged = !z || !ApplyZip64(*z, true, e);
  }
  e.name = DecodeEntryName(e.rawName, e.flags, e.extra, e.versionMadeBy, codePage_);
  pos_ += ends[2];
  if (disk_ == startDisk_) consumed_ += ends[2];
  return true;
}

// ---------------------------------------------------------------------------------------------

bool ReadCentralDirectory(const IArchiveInput& input, CentralDirectory& dir, std::string& error,
                          NameCodePage codePage) {
  dir = CentralDirectory{};
  EndRecord end;
  switch (FindEndRecord(input, end)) {
    case EndSearch::Found:
      break;
    case EndSearch::NotFound:
      error = "not a zip archive (no end of central directory record)";
      return false;
    default:
      error = "cannot read the end of the archive";
      return false;
  }
  if (end.Unresolved()) {
    error = "Zip64 end of central directory record missing or damaged";
    return false;
  }
  if (end.commentCut > 0) {
    error = "the archive comment runs past the end of the file (a truncated archive)";
    return false;
  }
  if (end.thisDisk != 0 || end.dirStartDisk != 0 || end.entriesThisDisk != end.totalEntries || end.zip64Disks > 1) {
    error = "multi-disk archives are not supported";
    return false;
  }
  CentralDirectoryReader reader(input, end, nullptr, codePage);
  if (!reader.Start()) {
    error = "central directory size exceeds the file";
    return false;
  }
  if (reader.Shift() < 0) {
    error = "central directory offset lies past the end of the archive";
    return false;
  }
  dir.comment = end.comment;
  dir.prefixSize = uint64_t(reader.Shift());
  dir.cdStart = reader.DirectoryStart();
  dir.cdSize = end.dirSize;
  dir.endStart = end.DirectoryEnd();
  dir.fileEnd = end.fileEnd;
  dir.zip64 = end.zip64;
  dir.garbage = end.garbage;
  if (end.totalEntries > end.dirSize / kCentralHeaderSize) {
    error = "entry count does not fit the central directory";
    return false;
  }
  dir.entries.reserve(size_t(end.totalEntries));
  CentralEntry ce;
  while (reader.Next(ce)) {
    const std::string number = std::to_string(reader.Sequence());
    if (ce.zip64Damaged) {
      error = "damaged Zip64 information in entry " + number;
      return false;
    }
    if (ce.diskStart != 0) {
      error = "multi-disk archives are not supported";
      return false;
    }
    dir.entries.push_back(std::move(ce));
  }
  switch (reader.Error()) {
    case DirError::None:
      break;
    case DirError::NameShort:
    case DirError::ExtraShort:
    case DirError::CommentShort:
      error = "damaged central directory (entry " + std::to_string(reader.Sequence()) + " runs past its end)";
      return false;
    default:
      error = "damaged central directory (entry " + std::to_string(reader.Sequence()) + ")";
      return false;
  }
  if (reader.Consumed() != end.dirSize) {
    error = "damaged central directory (its headers do not fill its recorded size)";
    return false;
  }
  return true;
}

bool LocateEntryData(const IArchiveInput& input, const CentralDirectory& dir, const CentralEntry& entry,
                     LocalInfo& info, std::string& error) {
  info = LocalInfo{};
  const uint64_t limit = dir.cdStart;
  if (entry.localHeaderOffset > limit || dir.prefixSize > limit - entry.localHeaderOffset ||
      limit - (dir.prefixSize + entry.localHeaderOffset) < kLocalHeaderSize) {
    error = "local header of " + entry.name + " lies outside the archive";
    return false;
  }
  info.headerStart = dir.prefixSize + entry.localHeaderOffset;
  uint8_t h[kLocalHeaderSize];
  if (!input.ReadExact(info.headerStart, h, sizeof h) || Get32(h) != kLocalHeaderSig) {
    error = "local header of " + entry.name + " is missing or damaged";
    return false;
  }
  info.localFlags = Get16(h + 6);
  const uint64_t nameLen = Get16(h + 26), extraLen = Get16(h + 28);
  const uint64_t afterHeader = info.headerStart + kLocalHeaderSize;
  if (limit - afterHeader < nameLen + extraLen) {
    error = "local header of " + entry.name + " runs past the data area";
    return false;
  }
  info.localExtra.resize(size_t(extraLen));
  if (extraLen && !input.ReadExact(afterHeader + nameLen, info.localExtra.data(), info.localExtra.size())) {
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
    const bool zip64 = FindExtra(info.localExtra, kExtraZip64).has_value() || entry.compressedSize >= kMax32 ||
                       entry.uncompressedSize >= kMax32;
    uint64_t size = zip64 ? 20 : 12;
    uint8_t sig[4];
    if (limit - info.dataEnd >= 4 && input.ReadExact(info.dataEnd, sig, 4) && Get32(sig) == kDataDescriptorSig) size += 4;
    // A descriptor that does not fit: keep the data, ignore the descriptor bytes.
    if (limit - info.dataEnd < size) size = 0;
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
