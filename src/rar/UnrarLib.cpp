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

#include <map>

#include "rar/RarCrypto.h"
#include "rar/RarDecoder.h"
#include "rar/RarFormat.h"
#include "rar/UnrarApi.h"
#include "safeout/Destination.h"

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
  ~TRarArchive() {
    if (dest_) dest_->FinishFolders();
  }
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
  int Decode(const rardec::DataEntry& d, safeout::TOutputFile* out, std::string* linkTarget);
  int Extract(const rardec::DataEntry& d, int operation, const char* destPath, const char* destName);
  int CopyExtracted(const safeout::TCleanName& name, const rarfmt::Entry& e);
  safeout::TDestination* Destination(const std::string& folder);
  rarfmt::ByteSource* VolumeBytes(int index);
  int Broken(int code) { return broken_ = code; }
  int UnlockHeaders();
  int VolumeHeaderKey(rarfmt::ByteSource& src, rarfmt::ArchiveInfo& vi);
  int EntryKey(rardec::DataEntry& d);
  uint64_t Rar5PackedEnd(const rardec::DataEntry& d);
  const rarfmt::HeaderKey* HeaderKey() const { return headerKey_.get(); }
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
  bool lockedHeaders_ = false;                     // headers encrypted, no key yet
  std::unique_ptr<rarfmt::HeaderKey> headerKey_;
  std::map<std::string, rarcrypt::TRar5Keys> rar5Keys_;  // by password, salt and round count
  std::map<std::string, rarcrypt::TCipherKey> rar3Keys_;  // by password and salt
  std::vector<rardec::DataEntry> group_;  // entries of the current solid run (RAR 5)
  rardec::DataEntry single_;              // the last stored entry
  int groupId_ = 0;
  std::unique_ptr<rardec::TDecoder> decoder_;
  int decoderGroup_ = -1;
  size_t decoderFed_ = 0;
  // The folder entries are written to, open for the whole run; folder times are set when it ends.
  std::unique_ptr<safeout::TDestination> dest_;
  std::string destFolder_;
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
  const Status s = rarfmt::ReadArchiveStart(*src_, info_);
  if (s == Status::EncryptedHeaders) {
    // The headers wait for a password (RARSetPassword before the first RARReadHeader).
    lockedHeaders_ = true;
    offset_ = info_.firstBlock;
    d->CmtSize = 0;
    d->CmtState = RAR_CMT_NONE;
    return ERAR_SUCCESS;
  }
  const int r = MapOpenStatus(s);
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
      Status s = rarfmt::ReadArchiveStart(*src, vi);
      if (s == Status::EncryptedHeaders) {
        if (!headerKey_) return ERAR_ENCRYPTED_HEADERS;
        if (const int r = VolumeHeaderKey(*src, vi)) return r;
        s = Status::Ok;
      }
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

// Derives the header key from the password; a wrong password leaves the archive locked, so that the
// caller may set another one and read again.
int TRarArchive::UnlockHeaders() {
  if (password.empty()) return ERAR_MISSING_PASSWORD;
  auto key = std::make_unique<rarfmt::HeaderKey>();
  key->password = password;
  if (info_.format == rarfmt::Format::Rar5) {
    const rarfmt::CryptInfo& c = info_.headerCrypt;
    if (!c.sound) return Broken(ERAR_BAD_DATA);
    if (c.hasCheck && !rarcrypt::Rar5CheckValueSound(c.check, c.check + 8)) return Broken(ERAR_BAD_DATA);
    rarcrypt::TRar5Keys k;
    if (!rarcrypt::DeriveRar5(password, c.salt, c.kdfCount, k)) return Broken(ERAR_BAD_DATA);
    if (c.hasCheck && std::memcmp(k.check, c.check, 8) != 0) return ERAR_BAD_PASSWORD;
    std::memcpy(key->rar5Key, k.key, 32);
    rarfmt::ArchiveInfo unlocked = info_;
    const Status s = rarfmt::ReadEncryptedMain(*src_, unlocked, *key);
    if (s != Status::Ok) return ERAR_BAD_PASSWORD;  // without a check value only the header tells
    info_ = unlocked;
  } else {
    // RAR 3/4 has no check value: the first header's checksum tells.
    Block b;
    const Status s = rarfmt::ReadBlock(*src_, info_.format, info_.firstBlock, b, key.get());
    if (s != Status::Ok && s != Status::EndOfData) return ERAR_BAD_PASSWORD;
  }
  headerKey_ = std::move(key);
  lockedHeaders_ = false;
  offset_ = info_.firstBlock;
  return ERAR_SUCCESS;
}

// The next volume of a set with encrypted headers: its own salt may need a key of its own.
int TRarArchive::VolumeHeaderKey(rarfmt::ByteSource& src, rarfmt::ArchiveInfo& vi) {
  if (vi.format != rarfmt::Format::Rar5) return ERAR_SUCCESS;
  const rarfmt::CryptInfo& c = vi.headerCrypt;
  rarcrypt::TRar5Keys k;
  if (!c.sound || !rarcrypt::DeriveRar5(password, c.salt, c.kdfCount, k)) return ERAR_BAD_DATA;
  if (c.hasCheck && std::memcmp(k.check, c.check, 8) != 0) return ERAR_BAD_PASSWORD;
  std::memcpy(headerKey_->rar5Key, k.key, 32);
  return rarfmt::ReadEncryptedMain(src, vi, *headerKey_) == Status::Ok ? ERAR_SUCCESS : ERAR_BAD_DATA;
}

// Where the packed data of an encrypted RAR 5 entry really ends (0: not found). Its blocks are walked
// decrypting only the cipher blocks that hold their headers: in CBC the cipher block before is the IV.
uint64_t TRarArchive::Rar5PackedEnd(const rardec::DataEntry& d) {
  auto cipherAt = [&](uint64_t at, uint8_t* out, size_t n) {
    for (const rardec::Part& p : d.parts) {
      if (at >= p.length) {
        at -= p.length;
        continue;
      }
      rarfmt::ByteSource* src = VolumeBytes(p.volume);
      const size_t k = size_t(std::min<uint64_t>(n, p.length - at));
      if (!src || src->ReadAt(p.offset + at, out, k) != k) return false;
      out += k;
      n -= k;
      at = 0;
      if (n == 0) return true;
    }
    return n == 0;
  };
  const uint64_t total = d.packTotal & ~uint64_t(15);
  uint64_t pos = 0;
  for (uint32_t blocks = 0; blocks < (1u << 24); ++blocks) {
    const uint64_t first = pos & ~uint64_t(15);
    if (first >= total) return 0;
    const size_t span = first + 32 <= total ? 32 : 16;
    rarcrypt::TCipherKey k;
    k.key = d.cipher->key;
    if (first == 0) std::memcpy(k.iv, d.cipher->iv, 16);
    else if (!cipherAt(first - 16, k.iv, 16)) return 0;
    uint8_t plain[32] = {};
    if (!cipherAt(first, plain, span) || !rarcrypt::DecryptCbc(k, plain, span)) return 0;
    const size_t in = size_t(pos - first);
    const uint8_t* h = plain + in;
    const unsigned flags = h[0], sizeBytes = ((flags >> 3) & 7) + 1;
    if (sizeBytes > 3 || in + 2 + sizeBytes > span) return 0;
    uint32_t size = 0;
    uint8_t sum = 0x5A ^ uint8_t(flags);
    for (unsigned i = 0; i < sizeBytes; ++i) {
      size |= uint32_t(h[2 + i]) << (8 * i);
      sum ^= h[2 + i];
    }
    if (sum != h[1]) return 0;
    pos += 2 + sizeBytes + size;
    if (flags & 0x40) return pos <= d.packTotal ? pos : 0;
  }
  return 0;
}

// The key of an encrypted entry from the password; a RAR 5 check value tells a wrong password at once.
int TRarArchive::EntryKey(rardec::DataEntry& d) {
  if (d.cipher) return ERAR_SUCCESS;
  const rarfmt::CryptInfo& c = d.entry.crypt;
  if (password.empty()) return ERAR_MISSING_PASSWORD;
  if (!c.sound) return ERAR_BAD_DATA;
  auto cipher = std::make_shared<rarcrypt::TCipherKey>();
  if (c.rar5) {
    if (c.hasCheck && !rarcrypt::Rar5CheckValueSound(c.check, c.check + 8)) return ERAR_BAD_DATA;
    const std::string id = password + '\0' + std::string(reinterpret_cast<const char*>(c.salt), 16) + char(c.kdfCount);
    auto it = rar5Keys_.find(id);
    if (it == rar5Keys_.end()) {
      rarcrypt::TRar5Keys k;
      if (!rarcrypt::DeriveRar5(password, c.salt, c.kdfCount, k)) return ERAR_BAD_DATA;
      it = rar5Keys_.emplace(id, k).first;
    }
    if (c.hasCheck && std::memcmp(it->second.check, c.check, 8) != 0) return ERAR_BAD_PASSWORD;
    cipher->key.assign(it->second.key, it->second.key + 32);
    std::memcpy(cipher->iv, c.iv, 16);
    if (c.tweaked) {
      // The stored CRC is a MAC of the real one; what the data must give is checked through it.
      std::memcpy(d.hashKey, it->second.hashKey, 32);
    }
    d.cipher = cipher;
    if (d.entry.method != 0x30) d.plainPacked = Rar5PackedEnd(d);
  } else {
    // RAR 2.0 encryption (archives of RAR before 2.9) and RAR 3 without salt are not undone here.
    if (d.entry.unpVer < 29 || !c.hasSalt) return ERAR_ENCRYPTED_ENTRY;
    const std::string id = password + '\0' + std::string(reinterpret_cast<const char*>(c.salt), 8);
    auto it = rar3Keys_.find(id);
    if (it == rar3Keys_.end()) {
      rarcrypt::TCipherKey k;
      k.key.resize(16);
      rarcrypt::DeriveRar3(password, c.salt, k.key.data(), k.iv);
      it = rar3Keys_.emplace(id, k).first;
    }
    *cipher = it->second;
  }
  d.cipher = std::move(cipher);
  return ERAR_SUCCESS;
}

int TRarArchive::ReadHeader(RARHeaderData* h) {
  if (broken_) return broken_;
  if (lockedHeaders_) {
    const int r = UnlockHeaders();
    if (r) return r;
  }
  if (pending_) {
    const int r = ProcessFile(RAR_SKIP, nullptr, nullptr);
    if (r) return r;
  }
  for (;;) {
    Block b;
    const Status s = rarfmt::ReadBlock(*src_, info_.format, offset_, b, HeaderKey());
    // RAR 5 ends every volume with an end block: without it the archive was cut short (older RAR 4
    // writers could leave it out).
    if (s == Status::EndOfData)
      return info_.format == rarfmt::Format::Rar5 ? Broken(ERAR_BAD_DATA) : ERAR_END_ARCHIVE;
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
      const Status s = rarfmt::ReadBlock(*src_, info_.format, offset_, b, HeaderKey());
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
int ReadChecked(rardec::TDecoder& decoder, const rardec::DataEntry& d, Sink&& sink) {
  const rarfmt::Entry& e = d.entry;
  std::vector<uint8_t> buf(1 << 20);
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
  if (e.hasCrc && d.cipher && e.crypt.tweaked) crc = rarcrypt::Rar5TweakedCrc(crc, d.hashKey);
  if (e.hasCrc && crc != e.crc) return ERAR_BAD_DATA;
  return ERAR_SUCCESS;
}

}  // namespace

int TRarArchive::Decode(const rardec::DataEntry& d, safeout::TOutputFile* out, std::string* linkTarget) {
  std::unique_ptr<rardec::TDecoder> own;
  rardec::TDecoder* decoder;
  if (&d == &single_) {
    // A stored entry is read as it is (decrypted), unless only a BLAKE2 hash checks it: libarchive
    // checks that one.
    const bool passThrough = d.entry.method == 0x30 && d.entry.hashRecord.empty();
    own = std::make_unique<rardec::TDecoder>(info_.format, false, [this](int v) { return VolumeBytes(v); },
                                             passThrough);
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
    for (; decoderFed_ <= k; ++decoderFed_) {
      rardec::DataEntry& next = group_[decoderFed_];
      if (next.entry.encrypted)
        if (const int r = EntryKey(next)) return r;
      decoder_->Feed(next, !SolidStream());
    }
    while (size_t(decoder_->EntriesStarted()) < k) {
      const rardec::DataEntry& skipped = group_[size_t(decoder_->EntriesStarted())];
      if (!decoder_->NextEntry()) return ERAR_BAD_DATA;
      if (ReadChecked(*decoder_, skipped, [](const uint8_t*, size_t) { return 0; }) != ERAR_SUCCESS)
        return ERAR_BAD_DATA;
    }
    if (!decoder_->NextEntry()) return ERAR_BAD_DATA;
    decoder = decoder_.get();
  }
  return ReadChecked(*decoder, d, [&](const uint8_t* data, size_t n) {
    if (processData && processData(const_cast<uint8_t*>(data), int(n)) <= 0) return int(ERAR_UNKNOWN);
    if (linkTarget) {
      if (linkTarget->size() + n > kMaxLinkTarget) return int(ERAR_BAD_DATA);
      linkTarget->append(reinterpret_cast<const char*>(data), n);
    }
    if (out && !out->Write(data, n)) return int(ERAR_EWRITE);
    return int(ERAR_SUCCESS);
  });
}

safeout::TDestination* TRarArchive::Destination(const std::string& folder) {
  if (!dest_ || destFolder_ != folder) {
    if (dest_) dest_->FinishFolders();
    auto dest = std::make_unique<safeout::TDestination>();
    if (!dest->Open(folder.empty() ? std::string(".") : folder)) return nullptr;
    dest_ = std::move(dest);
    destFolder_ = folder;
  }
  return dest_.get();
}

// A hard link or file copy entry: a copy of the entry it names, extracted before into the same folder.
int TRarArchive::CopyExtracted(const safeout::TCleanName& name, const rarfmt::Entry& e) {
  safeout::TCleanName source;
  if (!safeout::CleanName(e.linkTarget, source) || source.Text() == name.Text()) return ERAR_UNSAFE_ENTRY;
  safeout::TResult why;
  const int in = dest_->OpenFile(source, why);
  if (in < 0) return ERAR_UNSAFE_ENTRY;
  auto folder = dest_->Folder(name.dirs, true, why);
  std::unique_ptr<safeout::TOutputFile> out = folder ? dest_->NewFile(folder, name.leaf, 0666, why) : nullptr;
  if (!out) {
    ::close(in);
    return why.fault == safeout::TFault::Refused ? ERAR_UNSAFE_ENTRY : ERAR_ECREATE;
  }
  std::vector<char> buf(1 << 16);
  int r = ERAR_SUCCESS;
  for (;;) {
    const ssize_t n = ::read(in, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) r = ERAR_EREAD;
    if (n <= 0) break;
    if (!out->Write(buf.data(), size_t(n))) {
      r = ERAR_EWRITE;
      break;
    }
  }
  ::close(in);
  if (r != ERAR_SUCCESS) return r;
  const timespec when{time_t(e.mtime), 0};
  return out->Commit(int(e.unixMode), &when, true) ? ERAR_SUCCESS : ERAR_ECREATE;
}

int TRarArchive::Extract(const rardec::DataEntry& d, int operation, const char* destPath, const char* destName) {
  const rarfmt::Entry& e = d.entry;
  const bool hasData = !e.isDir && (e.link == rarfmt::LinkKind::None || e.linkInData);
  if (operation == RAR_TEST) {
    if (!hasData) return ERAR_SUCCESS;
    std::string target;
    return Decode(d, nullptr, e.linkInData ? &target : nullptr);
  }
  std::string folder = destPath ? destPath : "";
  safeout::TCleanName name;
  bool named;
  if (destName && *destName) {
    const std::string full = destName;
    const size_t slash = full.rfind('/');
    folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : full.substr(0, slash));
    named = safeout::CleanName(slash == std::string::npos ? full : full.substr(slash + 1), name);
  } else {
    named = safeout::CleanName(e.name, name);
  }
  safeout::TDestination* dest = Destination(folder);
  if (!dest) return ERAR_ECREATE;
  if (!named) return e.isDir ? ERAR_SUCCESS : ERAR_UNSAFE_ENTRY;
  // Faults of the safe output as the library's codes.
  const auto code = [](const safeout::TResult& r) {
    return r ? ERAR_SUCCESS : r.fault == safeout::TFault::Refused ? ERAR_UNSAFE_ENTRY : ERAR_ECREATE;
  };
  if (e.isDir) {
    name.MakeFolder();
    const timespec when{time_t(e.mtime), 0};
    return code(dest->MakeFolder(name.dirs, -1, &when));
  }
  const uint32_t type = e.rawAttr & 0xF000;
  if (e.hostOS == RAR_HOST_UNIX && e.unpSize == 0 && (type == 0x1000 || type == 0x2000 || type == 0x6000 || type == 0xC000))
    return ERAR_SPECIAL_FILE;
  const timespec when{time_t(e.mtime), 0};
  if (e.link == rarfmt::LinkKind::Symlink) {
    std::string target = e.linkTarget;
    if (e.linkInData) {
      target.clear();
      const int r = Decode(d, nullptr, &target);
      if (r) return r;
    }
    // Windows links and junctions name a drive ("C:\\Windows"): absolute, so outside.
    if (target.size() >= 2 && target[1] == ':' && std::isalpha(uint8_t(target[0]))) return ERAR_UNSAFE_ENTRY;
    return code(dest->Symlink(name, target, true, &when));
  }
  if (e.link != rarfmt::LinkKind::None) return CopyExtracted(name, e);
  safeout::TResult why;
  auto parent = dest->Folder(name.dirs, true, why);
  if (!parent) return code(why);
  // Written unnamed and named only when its CRC checked out: a damaged or partial file is never left.
  auto out = dest->NewFile(parent, name.leaf, 0666, why);
  if (!out) return ERAR_ECREATE;
  const int r = Decode(d, out.get(), nullptr);
  if (r != ERAR_SUCCESS) return r;
  const safeout::TResult committed = out->Commit(int(e.unixMode), &when, true);
  return committed ? ERAR_SUCCESS : committed.fault == safeout::TFault::FolderInTheWay ? ERAR_ECREATE : ERAR_ECLOSE;
}

int TRarArchive::ProcessFile(int operation, const char* destPath, const char* destName) {
  if (broken_) return broken_;
  if (!pending_) return ERAR_UNKNOWN;
  pending_ = false;
  rardec::DataEntry d;
  if (const int g = Gather(d)) return g;
  const bool hasData = !d.entry.isDir && (d.entry.link == rarfmt::LinkKind::None || d.entry.linkInData);
  const bool encrypted = d.entry.encrypted;
  const bool rar4 = info_.format == rarfmt::Format::Rar4;
  // Stored entries never take part in a solid run: they neither need nor change the window.
  const bool stored = d.entry.method == 0x30;
  // libarchive unpacks solid runs of RAR 5 only; a packed solid RAR 4 entry after the first cannot be done.
  const bool unsupported = hasData && rar4 && d.entry.solid && !stored;
  rardec::DataEntry* entry = &d;
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
  if (unsupported) return ERAR_UNSUPPORTED_SOLID;
  if (encrypted && hasData) {
    if (const int k = EntryKey(*entry)) return k;
  }
  const int r = Extract(*entry, operation, destPath, destName);
  // Without a check value a wrong password shows only as data that does not decode or check out.
  if (r == ERAR_BAD_DATA && encrypted && !(entry->entry.crypt.rar5 && entry->entry.crypt.hasCheck))
    return ERAR_BAD_PASSWORD;
  return r;
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
