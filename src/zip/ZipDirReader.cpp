#include "zip/ZipDirReader.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "formats/ZipDirectory.h"
#include "zip/ZipCodePage.h"

namespace {

TZipEndRecord ComponentRecord(const zipfmt::EndRecord& end) {
  TZipEndRecord rec;
  rec.ThisDisk = end.thisDisk;
  rec.DirStartDisk = end.dirStartDisk;
  rec.EntriesThisDisk = end.entriesThisDisk;
  rec.TotalEntries = end.totalEntries;
  rec.DirSize = end.dirSize;
  rec.DirOffset = end.dirOffset;
  rec.CommentLength = end.commentLength;
  rec.IsZip64 = end.zip64;
  rec.Zip64Missing = end.zip64Missing;
  rec.Zip64Bytes = end.zip64 ? int64_t(end.offset - end.zip64Offset) : 0;
  return rec;
}

zipfmt::EndRecord ParserRecord(const TEndRecordScan& scan) {
  const TZipEndRecord& rec = scan.Record;
  zipfmt::EndRecord end;
  end.offset = uint64_t(std::max<int64_t>(0, scan.EndRecordOffset));
  end.fileEnd = uint64_t(std::max<int64_t>(0, scan.FileEnd));
  end.physicalSize = uint64_t(std::max<int64_t>(0, scan.PhysicalSize));
  end.thisDisk = rec.ThisDisk;
  end.dirStartDisk = rec.DirStartDisk;
  end.entriesThisDisk = rec.EntriesThisDisk;
  end.totalEntries = rec.TotalEntries;
  end.dirSize = rec.DirSize;
  end.dirOffset = rec.DirOffset;
  end.commentLength = rec.CommentLength;
  end.zip64 = rec.IsZip64;
  end.zip64Missing = rec.Zip64Missing;
  end.zip64Offset = end.offset - std::min<uint64_t>(end.offset, uint64_t(std::max<int64_t>(0, rec.Zip64Bytes)));
  const int64_t recordEnd = scan.EndRecordOffset + zipfmt::kEndOfCentralSize + rec.CommentLength;
  end.commentCut = uint64_t(std::max<int64_t>(0, recordEnd - scan.PhysicalSize));
  return end;
}

// The component's disk provider seen by the parser.
class TDisks : public zipfmt::IDiskSet {
 public:
  explicit TDisks(IZipDiskProvider& disks) : disks_(disks) {}
  const IArchiveInput& Disk(uint32_t number) override {
    return disks_.GetDisk(int32_t(std::min<uint32_t>(number, INT32_MAX)));
  }

 private:
  IZipDiskProvider& disks_;
};

int32_t MessageOf(zipfmt::DirError error) {
  switch (error) {
    case zipfmt::DirError::HeaderShort: return 11013;
    case zipfmt::DirError::BadSignature: return 11015;
    case zipfmt::DirError::NameShort: return 11017;
    case zipfmt::DirError::CommentShort: return 11022;
    case zipfmt::DirError::NoDisks: return 11001;
    default: return 10201;  // a seek or read failure, an extra field cut short, a missing Zip64 end record
  }
}

ZipDirEntry ComponentEntry(zipfmt::CentralEntry&& ce, CodePageOpts codePage) {
  ZipDirEntry e;
  e.VersionMadeBy = uint8_t(ce.versionMadeBy & 0xFF);
  e.HostSystem = uint8_t(ce.versionMadeBy >> 8);
  e.VersionNeeded = ce.versionNeeded;
  e.GeneralFlags = ce.flags;
  e.Method = ce.method;
  e.DosDateTime = (uint32_t(ce.dosDate) << 16) | ce.dosTime;
  e.Crc32 = ce.crc32;
  e.PackedSize = ce.compressedSize;
  e.UnpackedSize = ce.uncompressedSize;
  e.NameLength = uint16_t(ce.rawName.size());
  e.ExtraLength = uint16_t(ce.extra.size());
  e.CommentLength = uint16_t(ce.comment.size());
  e.DiskStart = ce.diskStart;
  e.InternalAttributes = ce.internalAttr;
  e.ExternalAttributes = ce.externalAttr;
  e.LocalHeaderOffset = ce.localHeaderOffset;
  e.IsEncrypted = ce.IsEncrypted();
  e.EntryName = std::move(ce.name);
  std::replace(e.EntryName.begin(), e.EntryName.end(), '\\', '/');
  if (!ce.comment.empty())
    e.EntryComment = zipfmt::DecodeEntryComment(ce.comment, ce.flags, ce.extra, ce.versionMadeBy, NameCodePageOf(codePage));
  if (!ce.extra.empty()) {
    std::shared_ptr<uint8_t> extra(new uint8_t[ce.extra.size()], std::default_delete<uint8_t[]>());
    std::memcpy(extra.get(), ce.extra.data(), ce.extra.size());
    e.ExtraField = std::move(extra);
  }
  return e;
}

}  // namespace

TEndScanStatus ScanEndRecord(const IArchiveInput& in, TEndRecordScan& out) {
  out = TEndRecordScan{};
  zipfmt::EndRecord end;
  const zipfmt::EndSearch status = zipfmt::FindEndRecord(in, end);
  out.PhysicalSize = int64_t(std::min<uint64_t>(end.physicalSize, INT64_MAX));
  out.FileEnd = int64_t(std::min<uint64_t>(end.fileEnd, INT64_MAX));
  out.StartsSpanSet = end.startsSpanSet;
  switch (status) {
    case zipfmt::EndSearch::NotFound: return TEndScanStatus::NotFound;
    case zipfmt::EndSearch::SeekError: return TEndScanStatus::SeekError;
    case zipfmt::EndSearch::ReadError: return TEndScanStatus::ReadError;
    case zipfmt::EndSearch::Found: break;
  }
  out.Record = ComponentRecord(end);
  out.EndRecordOffset = int64_t(end.offset);
  out.Garbage = end.garbage;
  // The comment as the component keeps it: cut at its first zero byte.
  out.Comment = end.comment.substr(0, std::min(end.comment.size(), end.comment.find('\0')));
  return TEndScanStatus::Found;
}

std::string ConvertStoredText(std::string_view raw, uint16_t flags, uint8_t host, uint8_t madeBy,
                              CodePageOpts codePage) {
  return zipfmt::DecodeEntryComment(raw, flags, {}, uint16_t((uint16_t(host) << 8) | madeBy), NameCodePageOf(codePage));
}

void ReadCentralDirectory(const TEndRecordScan& scan, const IArchiveInput& current, IZipDiskProvider* disks,
                          const TZipDirOptions& options, const TZipDirEvents& events, TZipDirResult& out) {
  out = TZipDirResult{};
  const zipfmt::EndRecord end = ParserRecord(scan);
  std::unique_ptr<TDisks> diskSet;
  if (disks) diskSet = std::make_unique<TDisks>(*disks);
  zipfmt::CentralDirectoryReader reader(current, end, diskSet.get(), NameCodePageOf(options.CodePage));
  const bool started = reader.Start();
  if (!started && reader.Error() != zipfmt::DirError::Seek) throw EZipKit(MessageOf(reader.Error()));
  if (!started || reader.Shift() != 0) {
    out.OffsetMismatch = true;
    if (events.Warning) events.Warning(10203);
  }
  if (!started) throw EZipKit(10201);
  out.CentralDirOffset = int64_t(std::min<uint64_t>(reader.DirectoryStart(), INT64_MAX));
  out.FileEnd = end.dirStartDisk == end.thisDisk ? scan.FileEnd
                                                 : int64_t(std::min<uint64_t>(reader.StartInput().Size(), INT64_MAX));
  // Reserve no more than the bytes present can hold.
  const uint64_t available = reader.StartInput().Size() - reader.DirectoryStart();
  const uint64_t plausible = std::min<uint64_t>(end.dirSize, available) / zipfmt::kCentralHeaderSize + 1;
  out.Entries.reserve(size_t(std::min<uint64_t>({end.totalEntries, plausible, 1u << 24})));

  uint64_t minLocal = end.dirOffset;
  zipfmt::CentralEntry ce;
  while (reader.Next(ce)) {
    ZipDirEntry e = ComponentEntry(std::move(ce), options.CodePage);
    out.LastHostSystem = e.HostSystem;
    out.LastVersionMadeBy = e.VersionMadeBy;
    minLocal = std::min(minLocal, e.LocalHeaderOffset);
    if (!options.UseDirOnlyEntries && !e.EntryName.empty() && e.EntryName.back() == '/') {
      ++out.DirOnlyCount;
      continue;
    }
    out.Entries.push_back(std::move(e));
    if (events.NewEntry)
      events.NewEntry(int32_t(std::min<uint64_t>(reader.Sequence(), INT32_MAX)), out.Entries.back());
  }
  if (reader.Error() != zipfmt::DirError::None) throw EZipKit(MessageOf(reader.Error()));
  const int64_t local = int64_t(std::min<uint64_t>(minLocal, INT64_MAX / 2));
  out.SFXOffset = std::max<int64_t>(0, local + std::max<int64_t>(reader.Shift(), -INT64_MAX / 2));
}
