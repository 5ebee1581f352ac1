// libunrar.so: the RAR library behind TRarKit. Headers are parsed here; libarchive decompresses;
// every entry's CRC-32 and size are checked here before success is reported.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "rar/RarDecoder.h"
#include "rar/RarFormat.h"
#include "rar/SafeOutput.h"
#include "rar/UnrarApi.h"

#define RAR_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using rarfmt::Block;
using rarfmt::BlockKind;
using rarfmt::Status;

constexpr size_t kMaxVolumes = 100000;
constexpr size_t kMaxLinkTarget = 4096;
constexpr size_t kMaxComment = 1 << 20;

void CopyName(char* dst, size_t cap, const std::string& src) {
  size_t n = std::min(src.size(), cap - 1);
  while (n > 0 && n < src.size() && (uint8_t(src[n]) & 0xC0) == 0x80) --n;  // keep UTF-8 sequences whole
  std::memset(dst, 0, cap);
  std::memcpy(dst, src.data(), n);
}

// name.part01.rar -> name.part02.rar; name.rar -> name.r00 -> name.r01 ... -> name.s00.
std::string NextVolumeName(const std::string& path, bool newNumbering) {
  const size_t slash = path.rfind('/');
  const size_t baseStart = slash == std::string::npos ? 0 : slash + 1;
  std::string name = path;
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot < baseStart) dot = name.size();
  if (newNumbering) {
    size_t start = dot;
    while (start > baseStart && std::isdigit(uint8_t(name[start - 1]))) --start;
    if (start < dot) {
      size_t i = dot;
      while (i > start) {
        --i;
        if (name[i] != '9') {
          ++name[i];
          return name;
        }
        name[i] = '0';
      }
      name = name.substr(0, start) + "1" + name.substr(start);
      return name;
    }
  }
  if (dot == name.size()) return name + ".r00";
  const std::string ext = name.substr(dot + 1);
  if (ext.size() == 3 && std::isalpha(uint8_t(ext[0])) && std::isdigit(uint8_t(ext[1])) &&
      std::isdigit(uint8_t(ext[2]))) {
    int n = (ext[1] - '0') * 10 + (ext[2] - '0') + 1;
    char letter = ext[0];
    if (n > 99) {
      n = 0;
      ++letter;
    }
    char buf[4] = {letter, char('0' + n / 10), char('0' + n % 10), 0};
    return name.substr(0, dot + 1) + buf;
  }
  return name.substr(0, dot + 1) + "r00";
}

class TRarArchive {
 public:
  int Open(RAROpenArchiveData* d);
  int ReadHeader(RARHeaderData* h);
  int ProcessFile(int operation, const char* destPath, const char* destName);

  CHANGEVOLPROC changeVol = nullptr;
  PROCESSDATAPROC processData = nullptr;
  std::string password;
  uint64_t lastPack = 0, lastUnp = 0;

 private:
  int SwitchToNextVolume();
  int Gather(rardec::DataEntry& d);
  int ReadComment(RAROpenArchiveData* d);
  int Decode(const rardec::DataEntry& d, int fd, std::string* linkTarget);
  int Extract(const rardec::DataEntry& d, int operation, const char* destPath, const char* destName);
  int CopyExtracted(rarout::TDestination& dest, const std::vector<std::string>& elements, const rarfmt::Entry& e);
  rarfmt::ByteSource* VolumeBytes(int index);
  int Broken(int code) { return broken_ = code; }
  bool SolidStream() const { return info_.solid && info_.format == rarfmt::Format::Rar5; }

  std::vector<std::string> volumes_;
  std::vector<std::pair<uint64_t, uint64_t>> seen_;  // identities of the volumes opened
  int current_ = 0;
  std::unique_ptr<rarfmt::FileSource> src_;
  std::unique_ptr<rarfmt::FileSource> readSrc_;
  int readIndex_ = -1;
  rarfmt::ArchiveInfo info_;
  uint64_t offset_ = 0;
  bool pending_ = false;
  rarfmt::Entry entry_;
  uint64_t entryNext_ = 0;
  int broken_ = 0;
  std::vector<rardec::DataEntry> group_;  // entries of the current solid run (RAR 5)
  rardec::DataEntry single_;              // the last stored entry
  int groupId_ = 0;
  std::unique_ptr<rardec::TDecoder> decoder_;
  int decoderGroup_ = -1;
  size_t decoderFed_ = 0;
};

int MapOpenStatus(Status s) {
  switch (s) {
    case Status::Ok: return ERAR_SUCCESS;
    case Status::BadCrc: return ERAR_BAD_DATA;
    case Status::EncryptedHeaders: return ERAR_ENCRYPTED_HEADERS;
    default: return ERAR_BAD_ARCHIVE;
  }
}

int TRarArchive::Open(RAROpenArchiveData* d) {
  if (!d->ArcName || !*d->ArcName) return ERAR_EOPEN;
  volumes_.push_back(d->ArcName);
  src_ = std::make_unique<rarfmt::FileSource>(volumes_[0]);
  if (!src_->Ok()) return ERAR_EOPEN;
  seen_.push_back(src_->Identity());
  const int r = MapOpenStatus(rarfmt::ReadArchiveStart(*src_, info_));
  if (r != ERAR_SUCCESS) return r;
  offset_ = info_.firstBlock;
  return ReadComment(d);
}

int TRarArchive::ReadComment(RAROpenArchiveData* d) {
  d->CmtSize = 0;
  d->CmtState = RAR_CMT_NONE;
  if (info_.oldComment) {
    d->CmtState = ERAR_UNKNOWN_FORMAT;
    return ERAR_SUCCESS;
  }
  Block b;
  if (rarfmt::ReadBlock(*src_, info_.format, offset_, b) != Status::Ok || b.kind != BlockKind::Service ||
      b.entry.name != "CMT")
    return ERAR_SUCCESS;
  const rarfmt::Entry& e = b.entry;
  if (e.method != 0x30 || e.encrypted || e.splitAfter || e.packSize > kMaxComment) {
    d->CmtState = ERAR_UNKNOWN_FORMAT;
    return ERAR_SUCCESS;
  }
  std::string text(size_t(e.packSize), '\0');
  text.resize(src_->ReadAt(e.dataOffset, text.data(), text.size()));
  if (e.hasCrc && rarfmt::Crc32(0, text.data(), text.size()) != e.crc && info_.format == rarfmt::Format::Rar5) {
    d->CmtState = ERAR_BAD_DATA;
    return ERAR_SUCCESS;
  }
  if (!d->CmtBuf || d->CmtBufSize == 0) return ERAR_SUCCESS;
  const size_t n = std::min<size_t>(text.size(), d->CmtBufSize - 1);
  std::memcpy(d->CmtBuf, text.data(), n);
  d->CmtBuf[n] = 0;
  d->CmtSize = unsigned(n + 1);
  d->CmtState = n < text.size() ? ERAR_SMALL_BUF : RAR_CMT_READ;
  return ERAR_SUCCESS;
}

int TRarArchive::SwitchToNextVolume() {
  if (!info_.volume) return ERAR_EOPEN;
  if (volumes_.size() >= kMaxVolumes) return ERAR_EOPEN;
  std::string next = NextVolumeName(volumes_[size_t(current_)], info_.newNumbering);
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto src = std::make_unique<rarfmt::FileSource>(next);
    if (src->Ok()) {
      rarfmt::ArchiveInfo vi;
      const Status s = rarfmt::ReadArchiveStart(*src, vi);
      if (s == Status::EncryptedHeaders) return ERAR_ENCRYPTED_HEADERS;
      // A volume met before (a renamed copy or a link back) would make the walk go round for ever.
      if (std::find(seen_.begin(), seen_.end(), src->Identity()) != seen_.end()) return ERAR_BAD_DATA;
      if (s == Status::Ok && vi.format == info_.format && vi.volume) {
        if (changeVol) {
          char buf[RAR_VOLNAME_SIZE];
          CopyName(buf, sizeof buf, next);
          if (changeVol(buf, RAR_VOL_NOTIFY) <= 0) return ERAR_EOPEN;
        }
        volumes_.push_back(next);
        seen_.push_back(src->Identity());
        current_ = int(volumes_.size() - 1);
        src_ = std::move(src);
        offset_ = vi.firstBlock;
        return ERAR_SUCCESS;
      }
    }
    if (!changeVol) return ERAR_EOPEN;
    char buf[RAR_VOLNAME_SIZE];
    CopyName(buf, sizeof buf, next);
    if (changeVol(buf, RAR_VOL_ASK) <= 0) return ERAR_EOPEN;
    buf[sizeof buf - 1] = 0;
    if (!*buf) return ERAR_EOPEN;
    next = buf;
  }
  return ERAR_EOPEN;
}

int TRarArchive::ReadHeader(RARHeaderData* h) {
  if (broken_) return broken_;
  if (pending_) {
    const int r = ProcessFile(RAR_SKIP, nullptr, nullptr);
    if (r) return r;
  }
  for (;;) {
    Block b;
    const Status s = rarfmt::ReadBlock(*src_, info_.format, offset_, b);
    if (s == Status::EndOfData) return ERAR_END_ARCHIVE;
    if (s == Status::EncryptedHeaders) return Broken(ERAR_ENCRYPTED_HEADERS);
    if (s != Status::Ok || b.next <= offset_) return Broken(ERAR_BAD_DATA);
    if (b.kind == BlockKind::End) {
      if (!b.moreVolumes || !info_.volume) return ERAR_END_ARCHIVE;
      const int r = SwitchToNextVolume();
      if (r) return Broken(r);
      continue;
    }
    offset_ = b.next;
    if (b.kind != BlockKind::File || b.entry.splitBefore) continue;
    entry_ = b.entry;
    entryNext_ = b.next;
    pending_ = true;
    lastPack = entry_.packSize;
    lastUnp = entry_.unpSize;
    std::memset(h, 0, offsetof(RARHeaderData, CmtBuf));
    CopyName(h->ArcName, sizeof h->ArcName, volumes_[size_t(current_)]);
    CopyName(h->FileName, sizeof h->FileName, entry_.name);
    h->Flags = entry_.flags;
    h->PackSize = uint32_t(entry_.packSize);
    h->UnpSize = uint32_t(entry_.unpSize);
    h->HostOS = entry_.hostOS;
    h->FileCRC = entry_.crc;
    h->FileTime = entry_.dosTime;
    h->UnpVer = entry_.unpVer;
    h->Method = entry_.method;
    h->FileAttr = entry_.dosAttr;
    h->CmtSize = 0;
    h->CmtState = RAR_CMT_NONE;
    return ERAR_SUCCESS;
  }
}

int TRarArchive::Gather(rardec::DataEntry& d) {
  d.entry = entry_;
  d.parts.push_back({current_, entry_.dataOffset, entry_.packSize});
  d.packTotal = entry_.packSize;
  offset_ = entryNext_;
  rarfmt::Entry part = entry_;
  while (part.splitAfter) {
    int r = SwitchToNextVolume();
    if (r) return Broken(r);
    Block b;
    for (;;) {
      const Status s = rarfmt::ReadBlock(*src_, info_.format, offset_, b);
      if (s != Status::Ok || b.next <= offset_ || b.kind == BlockKind::End) return Broken(ERAR_BAD_DATA);
      offset_ = b.next;
      if (b.kind == BlockKind::File) break;
    }
    if (!b.entry.splitBefore || b.entry.name != d.entry.name) return Broken(ERAR_BAD_DATA);
    if (__builtin_add_overflow(d.packTotal, b.entry.packSize, &d.packTotal)) return Broken(ERAR_BAD_DATA);
    d.parts.push_back({current_, b.entry.dataOffset, b.entry.packSize});
    part = b.entry;
  }
  d.entry.crc = part.crc;
  d.entry.hasCrc = part.hasCrc;
  if (!part.hashRecord.empty()) d.entry.hashRecord = part.hashRecord;
  d.entry.splitAfter = false;
  return ERAR_SUCCESS;
}

rarfmt::ByteSource* TRarArchive::VolumeBytes(int index) {
  if (index < 0 || size_t(index) >= volumes_.size()) return nullptr;
  if (readIndex_ != index) {
    readSrc_ = std::make_unique<rarfmt::FileSource>(volumes_[size_t(index)]);
    readIndex_ = index;
  }
  return readSrc_->Ok() ? readSrc_.get() : nullptr;
}

namespace {

// Reads the current entry of `decoder` to its end, checking its size and CRC; `sink` gets the data.
template <typename Sink>
int ReadChecked(rardec::TDecoder& decoder, const rarfmt::Entry& e, Sink&& sink) {
  std::vector<uint8_t> buf(1 << 16);
  uint32_t crc = 0;
  uint64_t total = 0;
  for (;;) {
    const long n = decoder.Read(buf.data(), buf.size());
    if (n < 0) return ERAR_BAD_DATA;
    if (n == 0) break;
    total += uint64_t(n);
    if (!e.unpSizeUnknown && total > e.unpSize) return ERAR_BAD_DATA;
    crc = rarfmt::Crc32(crc, buf.data(), size_t(n));
    if (const int r = sink(buf.data(), size_t(n))) return r;
  }
  if (!e.unpSizeUnknown && total != e.unpSize) return ERAR_BAD_DATA;
  if (e.hasCrc && crc != e.crc) return ERAR_BAD_DATA;
  return ERAR_SUCCESS;
}

}  // namespace

int TRarArchive::Decode(const rardec::DataEntry& d, int fd, std::string* linkTarget) {
  std::unique_ptr<rardec::TDecoder> own;
  rardec::TDecoder* decoder;
  if (&d == &single_) {
    own = std::make_unique<rardec::TDecoder>(info_.format, false, [this](int v) { return VolumeBytes(v); });
    own->Feed(d, true);
    if (!own->NextEntry()) return ERAR_BAD_DATA;
    decoder = own.get();
  } else {
    // A solid run is one stream: the entries before this one that were skipped are decoded (and their
    // CRCs checked) on the way.
    const size_t k = group_.size() - 1;
    if (!decoder_ || decoderGroup_ != groupId_ || decoder_->Failed() || size_t(decoder_->EntriesStarted()) > k) {
      decoder_ = std::make_unique<rardec::TDecoder>(info_.format, SolidStream(),
                                                    [this](int v) { return VolumeBytes(v); });
      decoderGroup_ = groupId_;
      decoderFed_ = 0;
    }
    for (; decoderFed_ <= k; ++decoderFed_) decoder_->Feed(group_[decoderFed_], !SolidStream());
    while (size_t(decoder_->EntriesStarted()) < k) {
      const rarfmt::Entry& skipped = group_[size_t(decoder_->EntriesStarted())].entry;
      if (!decoder_->NextEntry()) return ERAR_BAD_DATA;
      if (ReadChecked(*decoder_, skipped, [](const uint8_t*, size_t) { return 0; }) != ERAR_SUCCESS)
        return ERAR_BAD_DATA;
    }
    if (!decoder_->NextEntry()) return ERAR_BAD_DATA;
    decoder = decoder_.get();
  }
  return ReadChecked(*decoder, d.entry, [&](const uint8_t* data, size_t n) {
    if (processData && processData(const_cast<uint8_t*>(data), int(n)) <= 0) return int(ERAR_UNKNOWN);
    if (linkTarget) {
      if (linkTarget->size() + n > kMaxLinkTarget) return int(ERAR_BAD_DATA);
      linkTarget->append(reinterpret_cast<const char*>(data), n);
    }
    for (size_t done = 0; fd >= 0 && done < n;) {
      const ssize_t w = ::write(fd, data + done, n - done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return int(ERAR_EWRITE);
      done += size_t(w);
    }
    return int(ERAR_SUCCESS);
  });
}

// A hard link or file copy entry: a copy of the entry it names, extracted before into the same folder.
int TRarArchive::CopyExtracted(rarout::TDestination& dest, const std::vector<std::string>& elements,
                               const rarfmt::Entry& e) {
  const std::vector<std::string> source = rarout::SafeElements(e.linkTarget);
  if (source.empty() || source == elements) return ERAR_ECREATE;
  const int in = dest.OpenExisting(source);
  if (in < 0) return ERAR_ECREATE;
  const int out = dest.CreateFile(elements);
  if (out < 0) {
    ::close(in);
    return ERAR_ECREATE;
  }
  std::vector<char> buf(1 << 16);
  int r = ERAR_SUCCESS;
  for (;;) {
    const ssize_t n = ::read(in, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) r = ERAR_EREAD;
    if (n <= 0) break;
    for (ssize_t done = 0; done < n && r == ERAR_SUCCESS;) {
      const ssize_t w = ::write(out, buf.data() + done, size_t(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) r = ERAR_EWRITE;
      else done += w;
    }
    if (r != ERAR_SUCCESS) break;
  }
  ::close(in);
  if (r == ERAR_SUCCESS) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, {time_t(e.mtime), 0}};
    ::futimens(out, times);
    ::fchmod(out, e.unixMode);
  }
  ::close(out);
  if (r != ERAR_SUCCESS) dest.Remove(elements);
  return r;
}

int TRarArchive::Extract(const rardec::DataEntry& d, int operation, const char* destPath, const char* destName) {
  const rarfmt::Entry& e = d.entry;
  const bool hasData = !e.isDir && (e.link == rarfmt::LinkKind::None || e.linkInData);
  if (operation == RAR_TEST) {
    if (!hasData) return ERAR_SUCCESS;
    std::string target;
    return Decode(d, -1, e.linkInData ? &target : nullptr);
  }
  std::string folder = destPath ? destPath : "";
  std::vector<std::string> elements;
  if (destName && *destName) {
    const std::string full = destName;
    const size_t slash = full.rfind('/');
    folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : full.substr(0, slash));
    elements = rarout::SafeElements(slash == std::string::npos ? full : full.substr(slash + 1));
  } else {
    elements = rarout::SafeElements(e.name);
  }
  rarout::TDestination dest(folder);
  if (!dest.Ok()) return ERAR_ECREATE;
  if (elements.empty()) return e.isDir ? ERAR_SUCCESS : ERAR_ECREATE;
  if (e.isDir) return dest.MakeFolder(elements) == 0 ? ERAR_SUCCESS : ERAR_ECREATE;
  if (e.link == rarfmt::LinkKind::Symlink) {
    std::string target = e.linkTarget;
    if (e.linkInData) {
      const int r = Decode(d, -1, &target);
      if (r) return r;
    }
    return dest.MakeSymlink(elements, target) == 0 ? ERAR_SUCCESS : ERAR_ECREATE;
  }
  if (e.link != rarfmt::LinkKind::None) return CopyExtracted(dest, elements, e);
  const int fd = dest.CreateFile(elements);
  if (fd < 0) return ERAR_ECREATE;
  int r = Decode(d, fd, nullptr);
  if (r == ERAR_SUCCESS) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, {time_t(e.mtime), 0}};
    ::futimens(fd, times);
    ::fchmod(fd, e.unixMode);
  }
  if (::close(fd) != 0 && r == ERAR_SUCCESS) r = ERAR_ECLOSE;
  if (r != ERAR_SUCCESS) dest.Remove(elements);  // no damaged or partial file is left behind
  return r;
}

int TRarArchive::ProcessFile(int operation, const char* destPath, const char* destName) {
  if (broken_) return broken_;
  if (!pending_) return ERAR_UNKNOWN;
  pending_ = false;
  rardec::DataEntry d;
  const int r = Gather(d);
  if (r) return r;
  const bool hasData = !d.entry.isDir && (d.entry.link == rarfmt::LinkKind::None || d.entry.linkInData);
  const bool encrypted = d.entry.encrypted;
  const bool rar4 = info_.format == rarfmt::Format::Rar4;
  // Stored entries never take part in a solid run: they neither need nor change the window.
  const bool stored = d.entry.method == 0x30;
  // libarchive unpacks solid runs of RAR 5 only; a packed solid RAR 4 entry after the first cannot be done.
  const bool unsupported = hasData && rar4 && d.entry.solid && !stored;
  const rardec::DataEntry* entry = &d;
  if (hasData && stored) {
    d.entry.compInfo &= ~uint64_t(0x40);
    single_ = std::move(d);
    entry = &single_;
  } else if (hasData) {
    if (!(d.entry.solid && !rar4 && !group_.empty())) {
      group_.clear();
      ++groupId_;
    }
    group_.push_back(std::move(d));
    entry = &group_.back();
  }
  if (operation == RAR_SKIP) return ERAR_SUCCESS;
  if (operation != RAR_TEST && operation != RAR_EXTRACT) return ERAR_UNKNOWN;
  if (encrypted) return ERAR_ENCRYPTED_ENTRY;
  if (unsupported) return ERAR_UNSUPPORTED_SOLID;
  return Extract(*entry, operation, destPath, destName);
}

}  // namespace

RAR_EXPORT RarHandle RAROpenArchive(RAROpenArchiveData* data) {
  if (!data) return nullptr;
  try {
    auto archive = std::make_unique<TRarArchive>();
    data->OpenResult = unsigned(archive->Open(data));
    if (data->OpenResult != ERAR_SUCCESS) return nullptr;
    return archive.release();
  } catch (const std::bad_alloc&) {
    data->OpenResult = ERAR_NO_MEMORY;
  } catch (...) {
    data->OpenResult = ERAR_UNKNOWN;
  }
  return nullptr;
}

RAR_EXPORT int RARCloseArchive(RarHandle handle) {
  if (!handle) return ERAR_ECLOSE;
  delete static_cast<TRarArchive*>(handle);
  return ERAR_SUCCESS;
}

RAR_EXPORT int RARReadHeader(RarHandle handle, RARHeaderData* header) {
  if (!handle || !header) return ERAR_UNKNOWN;
  try {
    return static_cast<TRarArchive*>(handle)->ReadHeader(header);
  } catch (const std::bad_alloc&) {
    return ERAR_NO_MEMORY;
  } catch (...) {
    return ERAR_UNKNOWN;
  }
}

RAR_EXPORT int RARProcessFile(RarHandle handle, int operation, const char* destPath, const char* destName) {
  if (!handle) return ERAR_UNKNOWN;
  try {
    return static_cast<TRarArchive*>(handle)->ProcessFile(operation, destPath, destName);
  } catch (const std::bad_alloc&) {
    return ERAR_NO_MEMORY;
  } catch (...) {
    return ERAR_UNKNOWN;
  }
}

RAR_EXPORT void RARSetChangeVolProc(RarHandle handle, CHANGEVOLPROC proc) {
  if (handle) static_cast<TRarArchive*>(handle)->changeVol = proc;
}

RAR_EXPORT void RARSetProcessDataProc(RarHandle handle, PROCESSDATAPROC proc) {
  if (handle) static_cast<TRarArchive*>(handle)->processData = proc;
}

RAR_EXPORT void RARSetPassword(RarHandle handle, const char* password) {
  if (handle) static_cast<TRarArchive*>(handle)->password = password ? password : "";
}

RAR_EXPORT int RARGetHeaderSizes64(RarHandle handle, unsigned long long* packSize, unsigned long long* unpSize) {
  if (!handle) return ERAR_UNKNOWN;
  const auto* a = static_cast<TRarArchive*>(handle);
  if (packSize) *packSize = a->lastPack;
  if (unpSize) *unpSize = a->lastUnp;
  return ERAR_SUCCESS;
}
