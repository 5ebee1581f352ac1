#include "zip/ZipSpanRecords.h"

#include <algorithm>

#include "formats/ZipFormat.h"
#include "zip/ZipKitTypes.h"

using namespace zipfmt;

namespace {

void Set16At(std::string& s, size_t at, uint16_t v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>(v >> 8);
}

}  // namespace

std::vector<TSpanCentral> ParseCentralHeaders(std::string_view bytes, uint64_t count) {
  std::vector<TSpanCentral> out;
  out.reserve(static_cast<size_t>(std::min<uint64_t>(count, bytes.size() / zipfmt::kCentralHeaderSize + 1)));
  size_t pos = 0;
  for (uint64_t i = 0; i < count; ++i) {
    if (bytes.size() - pos < zipfmt::kCentralHeaderSize) throw EZipKit(11013);
    const char* h = bytes.data() + pos;
    if (Get32(h) != kCentralHeaderSig) throw EZipKit(11015);
    TSpanCentral c;
    c.Fixed.assign(h, zipfmt::kCentralHeaderSize);
    const size_t nameLen = Get16(h + 28), extraLen = Get16(h + 30), commentLen = Get16(h + 32);
    pos += zipfmt::kCentralHeaderSize;
    if (bytes.size() - pos < nameLen) throw EZipKit(11017);
    c.Name.assign(bytes.data() + pos, nameLen);
    pos += nameLen;
    if (bytes.size() - pos < extraLen) throw EZipKit(11019);
    c.Extra.assign(bytes.data() + pos, extraLen);
    pos += extraLen;
    if (bytes.size() - pos < commentLen) throw EZipKit(11022);
    c.Comment.assign(bytes.data() + pos, commentLen);
    pos += commentLen;

    EntryFields e;
    e.compressedSize = Get32(h + 20);
    e.uncompressedSize = Get32(h + 24);
    e.diskStart = Get16(h + 34);
    e.localHeaderOffset = Get32(h + 42);
    c.Zip64Sizes = e.compressedSize == kMax32 || e.uncompressedSize == kMax32;
    const bool saturated = c.Zip64Sizes || e.localHeaderOffset == kMax32 || e.diskStart == kMax16;
    if (saturated) {
      const auto z = FindExtra(c.Extra, kExtraZip64);
      if (!z || !ApplyZip64(*z, true, e)) throw EZipKit(11019);
    }
    c.Flags = Get16(h + 8);
    c.Crc = Get32(h + 16);
    c.CompressedSize = e.compressedSize;
    c.UncompressedSize = e.uncompressedSize;
    c.LocalOffset = e.localHeaderOffset;
    c.Disk = e.diskStart;
    out.push_back(std::move(c));
  }
  return out;
}

std::string RelocatedCentralHeader(const TSpanCentral& c, uint32_t disk, uint64_t offset) {
  std::string h = c.Fixed;
  const bool bigU = Get32(h.data() + 24) == kMax32;
  const bool bigC = Get32(h.data() + 20) == kMax32;
  const bool bigO = offset >= kMax32;
  const bool bigD = disk >= kMax16;
  std::string extra = RemoveExtra(c.Extra, kExtraZip64);
  if (bigU || bigC || bigO || bigD) {
    std::string z;
    if (bigU) Put64(z, c.UncompressedSize);
    if (bigC) Put64(z, c.CompressedSize);
    if (bigO) Put64(z, offset);
    if (bigD) Put32(z, disk);
    extra = MakeExtra(kExtraZip64, z) + extra;
    Set16At(h, 6, std::max<uint16_t>(Get16(h.data() + 6), kVersionZip64));
  }
  if (extra.size() > kMax16) throw EZipKit(11029);
  Set16At(h, 30, static_cast<uint16_t>(extra.size()));
  Set16At(h, 34, bigD ? kMax16 : static_cast<uint16_t>(disk));
  Set32At(h, 42, bigO ? kMax32 : static_cast<uint32_t>(offset));
  h.reserve(h.size() + c.Name.size() + extra.size() + c.Comment.size());
  h += c.Name;
  h += extra;
  h += c.Comment;
  return h;
}

bool SpanEndNeedsZip64(const TZipEndRecord& e) {
  return e.ThisDisk >= kMax16 || e.DirStartDisk >= kMax16 || e.EntriesThisDisk >= kMax16 || e.TotalEntries >= kMax16 ||
         e.DirSize >= kMax32 || e.DirOffset >= kMax32;
}

size_t SpanEndRecordsSize(const TZipEndRecord& e, size_t commentSize) {
  return (SpanEndNeedsZip64(e) ? kZip64EndSize + kZip64LocatorSize : 0) + kEndOfCentralSize +
         std::min(commentSize, zipfmt::kMaxCommentSize);
}

std::string SpanEndRecords(const TZipEndRecord& e, uint64_t recordOffset, std::string_view comment) {
  std::string out;
  if (SpanEndNeedsZip64(e)) {
    Put32(out, kZip64EndSig);
    Put64(out, kZip64EndSize - 12);
    Put16(out, (kHostUnix << 8) | kVersionZip64);
    Put16(out, kVersionZip64);
    Put32(out, e.ThisDisk);
    Put32(out, e.DirStartDisk);
    Put64(out, e.EntriesThisDisk);
    Put64(out, e.TotalEntries);
    Put64(out, e.DirSize);
    Put64(out, e.DirOffset);
    Put32(out, kZip64LocatorSig);
    Put32(out, e.ThisDisk);
    Put64(out, recordOffset);
    Put32(out, e.ThisDisk + 1);
  }
  auto sat16 = [](uint64_t v) { return v >= kMax16 ? kMax16 : static_cast<uint16_t>(v); };
  auto sat32 = [](uint64_t v) { return v >= kMax32 ? kMax32 : static_cast<uint32_t>(v); };
  comment = comment.substr(0, std::min(comment.size(), zipfmt::kMaxCommentSize));
  Put32(out, kEndOfCentralSig);
  Put16(out, sat16(e.ThisDisk));
  Put16(out, sat16(e.DirStartDisk));
  Put16(out, sat16(e.EntriesThisDisk));
  Put16(out, sat16(e.TotalEntries));
  Put32(out, sat32(e.DirSize));
  Put32(out, sat32(e.DirOffset));
  Put16(out, static_cast<uint16_t>(comment.size()));
  out.append(comment);
  return out;
}
