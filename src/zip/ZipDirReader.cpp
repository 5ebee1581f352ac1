#include "zip/ZipDirReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "zip/ZipCodePage.h"

namespace {

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t Get64(const uint8_t* p) { return Get32(p) | (static_cast<uint64_t>(Get32(p + 4)) << 32); }

constexpr uint16_t kExtraZip64 = 0x0001;
constexpr uint16_t kExtraUnicodeComment = 0x6375;
constexpr uint16_t kExtraUnicodePath = 0x7075;
constexpr uint16_t kFlagUtf8 = 0x0800;
constexpr int kZip64LocatorSize = 20;
constexpr int kZip64EndRecordSize = 56;

bool ReadExact(IZipInput& in, int64_t pos, void* dst, size_t n) {
  return pos >= 0 && in.ReadAt(pos, dst, n) == static_cast<int64_t>(n);
}

// Reads the Zip64 end record that the locator before the end record points to, and puts its
// values into the fields the classic record marks as "see Zip64".
void ApplyZip64(IZipInput& in, int64_t endRecordOffset, TZipEndRecord& rec) {
  if (endRecordOffset < kZip64LocatorSize) return;
  uint8_t loc[kZip64LocatorSize];
  if (!ReadExact(in, endRecordOffset - kZip64LocatorSize, loc, sizeof loc) || Get32(loc) != kSigZip64Locator) return;
  const uint64_t stored = Get64(loc + 8);
  // The stored position counts from the start of the zip data; with a stub in front it is short.
  const int64_t besideLocator = endRecordOffset - kZip64LocatorSize - kZip64EndRecordSize;
  for (int64_t pos : {static_cast<int64_t>(std::min<uint64_t>(stored, INT64_MAX)), besideLocator}) {
    uint8_t r[kZip64EndRecordSize];
    if (pos < 0 || pos >= endRecordOffset || !ReadExact(in, pos, r, sizeof r) || Get32(r) != kSigZip64EndRecord)
      continue;
    if (rec.ThisDisk == 0xFFFF) rec.ThisDisk = Get32(r + 16);
    if (rec.DirStartDisk == 0xFFFF) rec.DirStartDisk = Get32(r + 20);
    if (rec.EntriesThisDisk == 0xFFFF) rec.EntriesThisDisk = Get64(r + 24);
    if (rec.TotalEntries == 0xFFFF) rec.TotalEntries = Get64(r + 32);
    if (rec.DirSize == 0xFFFFFFFF) rec.DirSize = Get64(r + 40);
    if (rec.DirOffset == 0xFFFFFFFF) rec.DirOffset = Get64(r + 48);
    rec.IsZip64 = true;
    rec.Zip64Bytes = endRecordOffset - pos;
    return;
  }
}

void DecodeEndRecord(const uint8_t* p, TZipEndRecord& rec) {
  rec.ThisDisk = Get16(p + 4);
  rec.DirStartDisk = Get16(p + 6);
  rec.EntriesThisDisk = Get16(p + 8);
  rec.TotalEntries = Get16(p + 10);
  rec.DirSize = Get32(p + 12);
  rec.DirOffset = Get32(p + 16);
  rec.CommentLength = Get16(p + 20);
}

}  // namespace

// ---------------------------------------------------------------------------------------------

std::unique_ptr<TZipFileInput> TZipFileInput::Open(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<TZipFileInput>(new TZipFileInput(fd, static_cast<int64_t>(st.st_size)));
}

TZipFileInput::~TZipFileInput() { ::close(fd_); }

int64_t TZipFileInput::ReadAt(int64_t pos, void* dst, size_t n) {
  if (pos < 0) return -1;
  size_t done = 0;
  while (done < n) {
    const ssize_t r = ::pread(fd_, static_cast<char*>(dst) + done, n - done, pos + static_cast<int64_t>(done));
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return static_cast<int64_t>(done);
}

int64_t TZipMemoryInput::ReadAt(int64_t pos, void* dst, size_t n) {
  if (pos < 0) return -1;
  if (pos >= Size()) return 0;
  const size_t count = std::min(n, bytes_.size() - static_cast<size_t>(pos));
  std::memcpy(dst, bytes_.data() + pos, count);
  return static_cast<int64_t>(count);
}

// ---------------------------------------------------------------------------------------------

TEndScanStatus ScanEndRecord(IZipInput& in, TEndRecordScan& out) {
  out = TEndRecordScan{};
  const int64_t size = in.Size();
  out.PhysicalSize = out.FileEnd = size;

  uint8_t head[8];
  if (ReadExact(in, 0, head, sizeof head) && Get32(head) == kSigSpanMarker && Get32(head + 4) == kSigLocalHeader)
    out.StartsSpanSet = true;

  // Fast path: an end record without comment closes the file.
  uint8_t tail[kEndRecordSize];
  if (size >= kEndRecordSize && ReadExact(in, size - kEndRecordSize, tail, sizeof tail) &&
      Get32(tail) == kSigEndRecord && Get16(tail + 20) == 0) {
    out.EndRecordOffset = size - kEndRecordSize;
    DecodeEndRecord(tail, out.Record);
    ApplyZip64(in, out.EndRecordOffset, out.Record);
    return TEndScanStatus::Found;
  }

  const int64_t length = std::min<int64_t>(size, kMaxCommentSize + kEndRecordSize);
  if (length < kEndRecordSize) return TEndScanStatus::NotFound;
  const int64_t bufferStart = size - length;
  std::vector<uint8_t> buf(static_cast<size_t>(length));
  const int64_t got = in.ReadAt(bufferStart, buf.data(), buf.size());
  if (got < 0) return TEndScanStatus::SeekError;
  if (got != length) return TEndScanStatus::ReadError;

  for (int64_t hit = length - kEndRecordSize; hit >= 0; --hit) {
    const uint8_t* p = buf.data() + hit;
    if (p[0] != 0x50 || p[1] != 0x4B || p[2] != 0x05 || p[3] != 0x06) continue;
    out.EndRecordOffset = bufferStart + hit;
    DecodeEndRecord(p, out.Record);
    const int64_t commentStart = hit + kEndRecordSize;
    const int64_t recordEnd = commentStart + out.Record.CommentLength;
    if (recordEnd < length) {
      out.FileEnd = bufferStart + recordEnd;
      const int64_t after = length - recordEnd;
      const bool zeroPadding = size % 512 == 0 && after < 512 &&
                               std::all_of(buf.begin() + recordEnd, buf.end(), [](uint8_t b) { return b == 0; });
      out.Garbage = !zeroPadding;
    }
    if (out.Record.CommentLength != 0) {
      const int64_t present = std::min<int64_t>(recordEnd, length) - commentStart;
      const char* c = reinterpret_cast<const char*>(buf.data() + commentStart);
      out.Comment.assign(c, strnlen(c, static_cast<size_t>(present)));
    }
    ApplyZip64(in, out.EndRecordOffset, out.Record);
    return TEndScanStatus::Found;
  }
  return TEndScanStatus::NotFound;
}

// ---------------------------------------------------------------------------------------------

std::string ConvertStoredText(std::string_view raw, uint16_t flags, uint8_t host, uint8_t madeBy,
                              CodePageOpts codePage) {
  if ((flags & kFlagUtf8) == 0 && IsOemText(codePage, host, madeBy)) return OemToUtf8(raw);
  return std::string(raw);
}

namespace {

// Bytes of the central directory, read in one piece and extended only when a record runs past
// what was read. Chunks are shared so that entries can keep pointers to their extra fields.
class TDirectoryBytes {
 public:
  TDirectoryBytes(IZipInput* input, int64_t pos, int32_t disk, int32_t lastDisk, IZipDiskProvider* disks)
      : input_(input), filePos_(pos), disk_(disk), lastDisk_(lastDisk), disks_(disks) {}

  // Makes n bytes available at the cursor; false when the input ends first.
  bool Need(size_t n, size_t firstRead) {
    if (chunk_ && cursor_ + n <= chunk_->size()) return true;
    const size_t have = chunk_ ? chunk_->size() - cursor_ : 0;
    const size_t want = std::max(n - have, std::max<size_t>(firstRead, 64 * 1024));
    const int64_t left = std::max<int64_t>(0, input_->Size() - filePos_);
    const size_t toRead = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(want), left));
    auto next = std::make_shared<std::vector<uint8_t>>();
    next->reserve(have + toRead);
    if (have) next->assign(chunk_->begin() + static_cast<std::ptrdiff_t>(cursor_), chunk_->end());
    next->resize(have + toRead);
    const int64_t got = toRead ? input_->ReadAt(filePos_, next->data() + have, toRead) : 0;
    if (got < 0) throw EZipKit(10201);
    next->resize(have + static_cast<size_t>(got));
    filePos_ += got;
    chunk_ = std::move(next);
    cursor_ = 0;
    return n <= chunk_->size();
  }

  // A central header that does not fit the rest of this disk is read again from the next disk.
  bool NextDisk() {
    if (!disks_ || disk_ >= lastDisk_) return false;
    input_ = &disks_->GetDisk(++disk_);
    filePos_ = 0;
    chunk_.reset();
    cursor_ = 0;
    return true;
  }

  const uint8_t* At() const { return chunk_->data() + cursor_; }
  void Skip(size_t n) { cursor_ += n; }
  const std::shared_ptr<std::vector<uint8_t>>& Chunk() const { return chunk_; }
  size_t Cursor() const { return cursor_; }

 private:
  IZipInput* input_;
  int64_t filePos_;
  int32_t disk_;
  int32_t lastDisk_;
  IZipDiskProvider* disks_;
  std::shared_ptr<std::vector<uint8_t>> chunk_;
  size_t cursor_ = 0;
};

// Applies the Zip64 and Unicode extra fields of one central header.
void ApplyExtraFields(const uint8_t* extra, size_t length, std::string_view rawName, std::string_view rawComment,
                      ZipDirEntry& e, bool& nameSet, bool& commentSet) {
  size_t p = 0;
  while (p + 4 <= length) {
    const uint16_t tag = Get16(extra + p);
    const uint16_t size = Get16(extra + p + 2);
    const uint8_t* data = extra + p + 4;
    if (p + 4 + size > length) break;
    if (tag == kExtraZip64) {
      size_t q = 0;
      auto take64 = [&](uint64_t& field) {
        if (q + 8 <= size) {
          field = Get64(data + q);
          q += 8;
        }
      };
      if (e.UnpackedSize == 0xFFFFFFFF) take64(e.UnpackedSize);
      if (e.PackedSize == 0xFFFFFFFF) take64(e.PackedSize);
      if (e.LocalHeaderOffset == 0xFFFFFFFF) take64(e.LocalHeaderOffset);
      if (e.DiskStart == 0xFFFF && q + 4 <= size) e.DiskStart = Get32(data + q);
    } else if ((tag == kExtraUnicodePath || tag == kExtraUnicodeComment) && size >= 5 && data[0] == 1) {
      const std::string_view raw = tag == kExtraUnicodePath ? rawName : rawComment;
      const uint32_t crc = static_cast<uint32_t>(
          crc32(0, reinterpret_cast<const Bytef*>(raw.data()), static_cast<uInt>(raw.size())));
      if (crc == Get32(data + 1)) {
        std::string text(reinterpret_cast<const char*>(data + 5), size - 5u);
        if (tag == kExtraUnicodePath) {
          e.EntryName = std::move(text);
          nameSet = true;
        } else {
          e.EntryComment = std::move(text);
          commentSet = true;
        }
      }
    }
    p += 4u + size;
  }
}

}  // namespace

void ReadCentralDirectory(const TEndRecordScan& scan, IZipInput& current, IZipDiskProvider* disks,
                          const TZipDirOptions& options, const TZipDirEvents& events, TZipDirResult& out) {
  out = TZipDirResult{};
  const TZipEndRecord& rec = scan.Record;
  IZipInput* input = &current;
  int64_t fileEnd = scan.FileEnd;
  int64_t start;
  if (rec.DirStartDisk == rec.ThisDisk) {
    start = fileEnd - static_cast<int64_t>(std::min<uint64_t>(rec.DirSize, INT64_MAX / 2)) - rec.CommentLength -
            kEndRecordSize - rec.Zip64Bytes;
  } else {
    if (!disks) throw EZipKit(11001);
    input = &disks->GetDisk(static_cast<int32_t>(rec.DirStartDisk));
    fileEnd = input->Size();
    start = static_cast<int64_t>(std::min<uint64_t>(rec.DirOffset, INT64_MAX));
  }
  out.CentralDirOffset = start;
  out.FileEnd = fileEnd;
  const int64_t shift = start - static_cast<int64_t>(std::min<uint64_t>(rec.DirOffset, INT64_MAX));
  if (shift != 0) {
    out.OffsetMismatch = true;
    if (events.Warning) events.Warning(10203);
  }
  if (start < 0 || start > input->Size()) throw EZipKit(10201);

  const int32_t lastDisk = static_cast<int32_t>(std::min<uint32_t>(rec.ThisDisk, INT32_MAX));
  TDirectoryBytes bytes(input, start, static_cast<int32_t>(std::min<uint32_t>(rec.DirStartDisk, INT32_MAX)),
                        lastDisk, disks);
  // One read of the whole directory in the usual case.
  const size_t firstRead = static_cast<size_t>(std::min<uint64_t>(rec.DirSize, 1u << 30));
  // Reserve no more than the bytes present can hold.
  const uint64_t available = static_cast<uint64_t>(input->Size() - start);
  const uint64_t plausible = std::min<uint64_t>(rec.DirSize, available) / kCentralHeaderSize + 1;
  out.Entries.reserve(static_cast<size_t>(std::min<uint64_t>({rec.TotalEntries, plausible, 1u << 24})));

  uint64_t minLocal = rec.DirOffset;
  for (uint64_t seq = 1; seq <= rec.TotalEntries; ++seq) {
    while (!bytes.Need(kCentralHeaderSize, firstRead)) {
      if (!bytes.NextDisk()) throw EZipKit(11013);
    }
    const uint8_t* h = bytes.At();
    if (Get32(h) != kSigCentralHeader) throw EZipKit(11015);
    ZipDirEntry e;
    e.VersionMadeBy = h[4];
    e.HostSystem = h[5];
    e.VersionNeeded = Get16(h + 6);
    e.GeneralFlags = Get16(h + 8);
    e.Method = Get16(h + 10);
    e.DosDateTime = Get32(h + 12);
    e.Crc32 = Get32(h + 16);
    e.PackedSize = Get32(h + 20);
    e.UnpackedSize = Get32(h + 24);
    e.NameLength = Get16(h + 28);
    e.ExtraLength = Get16(h + 30);
    e.CommentLength = Get16(h + 32);
    e.DiskStart = Get16(h + 34);
    e.InternalAttributes = Get16(h + 36);
    e.ExternalAttributes = Get32(h + 38);
    e.LocalHeaderOffset = Get32(h + 42);
    e.IsEncrypted = (e.GeneralFlags & 1) != 0;
    bytes.Skip(kCentralHeaderSize);
    out.LastHostSystem = e.HostSystem;
    out.LastVersionMadeBy = e.VersionMadeBy;

    // Each part is checked on its own so that a short read names the part that is missing.
    if (!bytes.Need(e.NameLength, firstRead)) throw EZipKit(11017);
    if (!bytes.Need(size_t{e.NameLength} + e.ExtraLength, firstRead)) throw EZipKit(10201);
    if (!bytes.Need(size_t{e.NameLength} + e.ExtraLength + e.CommentLength, firstRead)) throw EZipKit(11022);
    const char* base = reinterpret_cast<const char*>(bytes.At());
    const std::string_view name(base, e.NameLength);
    const uint8_t* extra = bytes.At() + e.NameLength;
    const std::string_view comment(base + e.NameLength + e.ExtraLength, e.CommentLength);

    bool nameSet = false;
    bool commentSet = false;
    if (e.ExtraLength) {
      e.ExtraField = std::shared_ptr<const uint8_t>(bytes.Chunk(), extra);
      ApplyExtraFields(extra, e.ExtraLength, name, comment, e, nameSet, commentSet);
    }
    if (!nameSet)
      e.EntryName = ConvertStoredText(name, e.GeneralFlags, e.HostSystem, e.VersionMadeBy, options.CodePage);
    if (!commentSet && e.CommentLength)
      e.EntryComment = ConvertStoredText(comment, e.GeneralFlags, e.HostSystem, e.VersionMadeBy, options.CodePage);
    std::replace(e.EntryName.begin(), e.EntryName.end(), '\\', '/');
    bytes.Skip(size_t{e.NameLength} + e.ExtraLength + e.CommentLength);

    minLocal = std::min(minLocal, e.LocalHeaderOffset);
    if (!options.UseDirOnlyEntries && !e.EntryName.empty() && e.EntryName.back() == '/') {
      ++out.DirOnlyCount;
      continue;
    }
    out.Entries.push_back(std::move(e));
    if (events.NewEntry) events.NewEntry(static_cast<int32_t>(std::min<uint64_t>(seq, INT32_MAX)), out.Entries.back());
  }
  out.SFXOffset = std::max<int64_t>(0, static_cast<int64_t>(std::min<uint64_t>(minLocal, INT64_MAX / 2)) + shift);
}
