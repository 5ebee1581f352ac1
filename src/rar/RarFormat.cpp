#include "rar/RarFormat.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <libdeflate.h>

#include <cstring>
#include <ctime>
#include <vector>

#include "formats/CodePage.h"
#include "rar/RarCrypto.h"
#include "rar/UnrarApi.h"

namespace rarfmt {

namespace {

constexpr uint8_t kSig4[7] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
constexpr uint8_t kSig5[8] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x01, 0x00};
constexpr uint64_t kMaxSfxScan = 1 << 20;
constexpr uint64_t kMaxRar5Header = 2 * 1024 * 1024;

uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }
uint64_t Get64(const uint8_t* p) { return uint64_t(Get32(p)) | (uint64_t(Get32(p + 4)) << 32); }

bool AddOverflows(uint64_t a, uint64_t b, uint64_t& sum) { return __builtin_add_overflow(a, b, &sum); }

bool ReadExact(ByteSource& src, uint64_t offset, void* buf, size_t n) { return src.ReadAt(offset, buf, n) == n; }

// Names: "\" separates folders as "/" does; zero bytes end the name.
std::string NormalizeName(std::string name) {
  const size_t zero = name.find('\0');
  if (zero != std::string::npos) name.resize(zero);
  for (char& c : name)
    if (c == '\\') c = '/';
  return name;
}

std::string DecodeLegacyName(const uint8_t* s, size_t n) {
  const std::string_view text(reinterpret_cast<const char*>(s), n);
  return codepage::IsValidUtf8(text) ? std::string(text) : codepage::Cp437ToUtf8(text);
}

void FillAttributes(Entry& e) {
  const bool unixHost = e.hostOS == RAR_HOST_UNIX;
  // A folder mode or attribute on an entry that carries data does not make it a folder: it is a
  // file, as an entry with a folder mode and data in a zip is.
  const bool carriesData = e.packSize > 0 || e.unpSize > 0;
  if (unixHost) {
    const uint32_t type = e.rawAttr & 0xF000;
    if (type == 0x4000 && !carriesData) e.isDir = true;
    if (type == 0xA000 && e.link == LinkKind::None) {
      e.link = LinkKind::Symlink;
      e.linkInData = true;
    }
    e.dosAttr = e.isDir ? RAR_ATTR_DIRECTORY : RAR_ATTR_ARCHIVE;
    if (!(e.rawAttr & 0200)) e.dosAttr |= RAR_ATTR_READONLY;
    if (!e.name.empty() && e.name.rfind('/') + 1 < e.name.size() && e.name[e.name.rfind('/') + 1] == '.')
      e.dosAttr |= RAR_ATTR_HIDDEN;
    e.unixMode = e.rawAttr & 0777;
  } else {
    if ((e.rawAttr & RAR_ATTR_DIRECTORY) && !carriesData) e.isDir = true;
    e.dosAttr = e.rawAttr & 0x3F;
    if (e.isDir) e.dosAttr |= RAR_ATTR_DIRECTORY;
    e.unixMode = e.isDir ? 0755 : ((e.rawAttr & RAR_ATTR_READONLY) ? 0444 : 0644);
  }
  if (e.isDir) {
    e.dosAttr = (e.dosAttr & ~RAR_ATTR_ARCHIVE) | RAR_ATTR_DIRECTORY;
    e.unixMode = (e.unixMode & 0777) | 0700;
    e.link = LinkKind::None;
    e.linkInData = false;
  }
  if (e.isDir) e.flags |= RHDF_DIRECTORY;
  if (e.encrypted) e.flags |= RHDF_ENCRYPTED;
  if (e.solid) e.flags |= RHDF_SOLID;
  if (e.splitBefore) e.flags |= RHDF_SPLITBEFORE;
  if (e.splitAfter) e.flags |= RHDF_SPLITAFTER;
}

// ---- RAR 4 ----

Status ReadMain4(ByteSource& src, uint64_t offset, ArchiveInfo& info) {
  uint8_t h[13];
  if (!ReadExact(src, offset, h, 7)) return Status::Truncated;
  const uint16_t size = Get16(h + 5);
  if (h[2] != 0x73 || size < 13) return Status::Bad;
  std::vector<uint8_t> hdr(size);
  if (!ReadExact(src, offset, hdr.data(), size)) return Status::Truncated;
  const uint16_t flags = Get16(h + 3);
  const uint16_t crc = Get16(hdr.data());
  // Old archives with a packed comment inside the main header checksum only its fixed part.
  const bool crcOk = (Crc32(0, hdr.data() + 2, size - 2) & 0xFFFF) == crc ||
                     (Crc32(0, hdr.data() + 2, 11) & 0xFFFF) == crc;
  if (!crcOk) return Status::BadCrc;
  info.format = Format::Rar4;
  info.volume = flags & 0x0001;
  info.oldComment = flags & 0x0002;
  info.solid = flags & 0x0008;
  info.newNumbering = flags & 0x0010;
  info.firstVolume = !info.volume || (flags & 0x0100) || !info.newNumbering;
  uint64_t next = offset + size;
  if (flags & 0x8000) {
    if (size < 11) return Status::Bad;
    uint64_t add = Get32(hdr.data() + 7);
    if (AddOverflows(next, add, next)) return Status::Bad;
  }
  info.firstBlock = next;
  info.encryptedHeaders = flags & 0x0080;
  return info.encryptedHeaders ? Status::EncryptedHeaders : Status::Ok;
}

Status ReadBlock4(ByteSource& src, uint64_t offset, Block& block) {
  uint8_t h[11];
  const size_t got = src.ReadAt(offset, h, 7);
  if (got == 0) return Status::EndOfData;
  if (got < 7) return Status::Truncated;
  const uint8_t type = h[2];
  const uint16_t flags = Get16(h + 3);
  const uint16_t size = Get16(h + 5);
  if (size < 7 || type < 0x72 || type > 0x7B) return Status::Bad;
  block = Block();
  if (type == 0x74 || type == 0x7A) {
    if (size < 32) return Status::Bad;
    std::vector<uint8_t> hdr(size);
    if (!ReadExact(src, offset, hdr.data(), size)) return Status::Truncated;
    if ((Crc32(0, hdr.data() + 2, size - 2) & 0xFFFF) != Get16(hdr.data())) return Status::BadCrc;
    const uint8_t* p = hdr.data();
    Entry& e = block.entry;
    e.rawFlags = flags;
    uint64_t pack = Get32(p + 7), unp = Get32(p + 11);
    e.hostOS = p[15];
    e.crc = Get32(p + 16);
    e.hasCrc = true;
    e.dosTime = Get32(p + 20);
    e.mtime = DosTimeToUnix(e.dosTime);
    e.unpVer = p[24];
    e.method = p[25];
    const uint16_t nameSize = Get16(p + 26);
    e.rawAttr = Get32(p + 28);
    size_t pos = 32;
    if (flags & 0x0100) {
      if (size < 40) return Status::Bad;
      pack |= uint64_t(Get32(p + 32)) << 32;
      unp |= uint64_t(Get32(p + 36)) << 32;
      pos = 40;
    }
    if (pos + nameSize > size) return Status::Bad;
    if (flags & 0x0400) {  // the salt of RAR 3 encryption follows the name
      if (pos + nameSize + 8 > size) return Status::Bad;
      std::memcpy(block.entry.crypt.salt, p + pos + nameSize, 8);
      block.entry.crypt.hasSalt = true;
    }
    const uint8_t* name = p + pos;
    std::string decoded;
    if (flags & 0x0200) {
      decoded = DecodeRar4UnicodeName(name, nameSize);
    } else {
      decoded = DecodeLegacyName(name, nameSize);
    }
    e.name = NormalizeName(decoded);
    e.packSize = pack;
    e.unpSize = unp;
    e.unpSizeUnknown = (flags & 0x0100) && unp == UINT64_MAX;
    e.splitBefore = flags & 0x0001;
    e.splitAfter = flags & 0x0002;
    e.encrypted = flags & 0x0004;
    e.solid = flags & 0x0010;
    if ((flags & 0x00E0) == 0x00E0) e.isDir = true;
    e.flags = flags & 0x1FFF & ~0x00E0u;
    if (!e.isDir) e.flags |= flags & 0x00E0;
    if (e.hostOS > 5) e.hostOS = RAR_HOST_WIN32;
    FillAttributes(e);
    e.dataOffset = offset + size;
    uint64_t next;
    if (AddOverflows(e.dataOffset, pack, next)) return Status::Bad;
    block.kind = type == 0x74 ? BlockKind::File : BlockKind::Service;
    block.next = next;
    return Status::Ok;
  }
  uint64_t next = offset + size;
  if (flags & 0x8000) {
    if (size < 11 || !ReadExact(src, offset, h, 11)) return size < 11 ? Status::Bad : Status::Truncated;
    if (AddOverflows(next, Get32(h + 7), next)) return Status::Bad;
  }
  block.next = next;
  if (type == 0x7B) {
    block.kind = BlockKind::End;
    block.moreVolumes = flags & 0x0001;
  }
  return Status::Ok;
}

// ---- RAR 5 ----

struct Cursor {
  const uint8_t* p;
  size_t pos;
  size_t end;
  bool ok = true;
  uint64_t Vint() {
    uint64_t v = 0;
    size_t used = 0;
    if (!ok || !ReadVint(p + pos, end - pos, v, used)) {
      ok = false;
      return 0;
    }
    pos += used;
    return v;
  }
  uint32_t U32() {
    if (!ok || end - pos < 4) {
      ok = false;
      return 0;
    }
    pos += 4;
    return Get32(p + pos - 4);
  }
  uint64_t U64() {
    if (!ok || end - pos < 8) {
      ok = false;
      return 0;
    }
    pos += 8;
    return Get64(p + pos - 8);
  }
  bool Take(uint64_t n, const uint8_t*& out) {
    if (!ok || n > end - pos) return ok = false;
    out = p + pos;
    pos += size_t(n);
    return true;
  }
};

struct Header5 {
  std::vector<uint8_t> bytes;
  uint64_t type = 0, flags = 0, extraSize = 0, dataSize = 0;
  size_t bodyPos = 0;    // first byte after the common fields
  size_t extraStart = 0;
  uint64_t total = 0;    // CRC, size field and header
};

Status ReadHeader5(ByteSource& src, uint64_t offset, Header5& h) {
  uint8_t start[7];
  const size_t got = src.ReadAt(offset, start, sizeof start);
  if (got == 0) return Status::EndOfData;
  if (got < 5) return Status::Truncated;
  uint64_t size = 0;
  size_t used = 0;
  if (!ReadVint(start + 4, got - 4, size, used) || used > 3) return Status::Truncated;
  if (size == 0 || size > kMaxRar5Header) return Status::Bad;
  h.total = 4 + used + size;
  h.bytes.resize(size_t(h.total));
  if (!ReadExact(src, offset, h.bytes.data(), h.bytes.size())) return Status::Truncated;
  if (Crc32(0, h.bytes.data() + 4, h.bytes.size() - 4) != Get32(h.bytes.data())) return Status::BadCrc;
  Cursor c{h.bytes.data(), 4 + used, h.bytes.size()};
  h.type = c.Vint();
  h.flags = c.Vint();
  if (h.flags & 0x0001) h.extraSize = c.Vint();
  if (h.flags & 0x0002) h.dataSize = c.Vint();
  if (!c.ok) return Status::Bad;
  h.bodyPos = c.pos;
  if (h.extraSize > h.bytes.size() - c.pos) return Status::Bad;
  h.extraStart = h.bytes.size() - size_t(h.extraSize);
  return Status::Ok;
}

// The encryption record of a RAR 5 entry or the archive encryption header: version, flags, round
// count, salt, (entries) IV, optional check value. Any other size or version is unsound.
void ParseCrypt5(Cursor& r, CryptInfo& c, bool archive) {
  c.rar5 = true;
  const uint64_t version = r.Vint();
  const uint64_t flags = r.Vint();
  const uint8_t* p = nullptr;
  c.sound = false;
  if (!r.ok || version != 0 || !r.Take(1, p)) return;
  c.kdfCount = p[0];
  if (!r.Take(16, p)) return;
  std::memcpy(c.salt, p, 16);
  c.hasSalt = true;
  if (!archive) {
    if (!r.Take(16, p)) return;
    std::memcpy(c.iv, p, 16);
  }
  if (flags & 0x0001) {
    if (!r.Take(12, p)) return;
    std::memcpy(c.check, p, 12);
    c.hasCheck = true;
  }
  c.tweaked = flags & 0x0002;
  c.sound = r.pos == r.end && c.kdfCount <= rarcrypt::kMaxRar5KdfCount;
}

int64_t FileTimeToUnix(uint64_t ft) { return int64_t(ft / 10000000ULL) - 11644473600LL; }

void ParseExtra5(const Header5& h, Entry& e) {
  Cursor c{h.bytes.data(), h.extraStart, h.bytes.size()};
  while (c.ok && c.pos < c.end) {
    const size_t recStart = c.pos;
    const uint64_t recSize = c.Vint();
    if (!c.ok || recSize == 0 || recSize > c.end - c.pos) return;
    const size_t recEnd = c.pos + size_t(recSize);
    Cursor r{h.bytes.data(), c.pos, recEnd};
    const uint64_t type = r.Vint();
    if (type == 1) {
      e.encrypted = true;
      ParseCrypt5(r, e.crypt, false);
    } else if (type == 2) {
      e.hashRecord.assign(reinterpret_cast<const char*>(h.bytes.data() + recStart), recEnd - recStart);
    } else if (type == 3) {
      const uint64_t tf = r.Vint();
      if (r.ok && (tf & 0x2)) {
        const int64_t t = (tf & 0x1) ? int64_t(r.U32()) : FileTimeToUnix(r.U64());
        if (r.ok) e.mtime = t;
      }
    } else if (type == 5) {
      const uint64_t rtype = r.Vint();
      r.Vint();  // flags
      const uint64_t len = r.Vint();
      const uint8_t* name = nullptr;
      if (r.ok && len <= 65536 && r.Take(len, name)) {
        e.linkTarget = NormalizeName(std::string(reinterpret_cast<const char*>(name), size_t(len)));
        if (rtype >= 1 && rtype <= 3) e.link = LinkKind::Symlink;
        else if (rtype == 4) e.link = LinkKind::HardLink;
        else if (rtype == 5) e.link = LinkKind::FileCopy;
      }
    }
    c.pos = recEnd;
  }
}

Status ParseFile5(const Header5& h, Entry& e) {
  Cursor c{h.bytes.data(), h.bodyPos, h.extraStart};
  const uint64_t fileFlags = c.Vint();
  e.unpSize = c.Vint();
  e.rawAttr = uint32_t(c.Vint());
  bool hasTime = false;
  if (fileFlags & 0x0002) {
    e.mtime = c.U32();
    hasTime = true;
  }
  if (fileFlags & 0x0004) {
    e.crc = c.U32();
    e.hasCrc = true;
  }
  e.compInfo = c.Vint();
  const uint64_t host = c.Vint();
  const uint64_t nameLen = c.Vint();
  const uint8_t* name = nullptr;
  if (!c.ok || !c.Take(nameLen, name)) return Status::Bad;
  e.name = NormalizeName(std::string(reinterpret_cast<const char*>(name), size_t(nameLen)));
  e.unpSizeUnknown = fileFlags & 0x0008;
  e.isDir = fileFlags & 0x0001;
  e.hostOS = host == 1 ? RAR_HOST_UNIX : RAR_HOST_WIN32;
  e.splitBefore = h.flags & 0x0008;
  e.splitAfter = h.flags & 0x0010;
  e.solid = e.compInfo & 0x40;
  const uint32_t methodNo = uint32_t((e.compInfo >> 7) & 7);
  e.method = 0x30 + methodNo;
  e.unpVer = (e.compInfo & 0x3F) == 0 ? 50 : 70;
  e.packSize = h.dataSize;
  ParseExtra5(h, e);
  if (!hasTime && e.mtime == 0) e.mtime = 0;
  e.dosTime = UnixToDosTime(e.mtime);
  if (!e.isDir) e.flags |= std::min<uint32_t>(uint32_t((e.compInfo >> 10) & 0xF), 6) << 5;
  FillAttributes(e);
  return Status::Ok;
}

Status ReadMain5(ByteSource& src, uint64_t offset, ArchiveInfo& info) {
  Header5 h;
  Status s = ReadHeader5(src, offset, h);
  if (s == Status::EndOfData) return Status::Truncated;
  if (s != Status::Ok) return s;
  if (h.type == 4) {
    Cursor c{h.bytes.data(), h.bodyPos, h.extraStart};
    ParseCrypt5(c, info.headerCrypt, true);
    info.format = Format::Rar5;
    info.encryptedHeaders = true;
    info.firstBlock = offset + h.total;  // the encrypted main header
    return Status::EncryptedHeaders;
  }
  if (h.type != 1) return Status::Bad;
  Cursor c{h.bytes.data(), h.bodyPos, h.extraStart};
  const uint64_t flags = c.Vint();
  if (flags & 0x0002) {
    const uint64_t volNo = c.Vint();
    info.firstVolume = volNo == 0;
  }
  if (!c.ok) return Status::Bad;
  info.format = Format::Rar5;
  info.volume = flags & 0x0001;
  info.solid = flags & 0x0004;
  info.newNumbering = true;
  if (info.volume && !(flags & 0x0002)) info.firstVolume = true;
  if (AddOverflows(offset + h.total, h.dataSize, info.firstBlock)) return Status::Bad;
  return Status::Ok;
}

Status ReadBlock5(ByteSource& src, uint64_t offset, Block& block) {
  Header5 h;
  const Status s = ReadHeader5(src, offset, h);
  if (s != Status::Ok) return s;
  block = Block();
  const uint64_t dataOffset = offset + h.total;
  if (AddOverflows(dataOffset, h.dataSize, block.next)) return Status::Bad;
  if (h.type == 2 || h.type == 3) {
    const Status fs = ParseFile5(h, block.entry);
    if (fs != Status::Ok) return fs;
    block.entry.dataOffset = dataOffset;
    block.kind = h.type == 2 ? BlockKind::File : BlockKind::Service;
  } else if (h.type == 5) {
    Cursor c{h.bytes.data(), h.bodyPos, h.extraStart};
    const uint64_t endFlags = c.Vint();
    block.kind = BlockKind::End;
    block.moreVolumes = c.ok && (endFlags & 1);
  } else if (h.type == 4) {
    return Status::EncryptedHeaders;
  } else if (h.type == 0 || h.type > 5) {
    return Status::Bad;
  }
  return Status::Ok;
}

uint64_t Round16(uint64_t n) { return (n + 15) & ~uint64_t(15); }

// A RAR 5 header behind its IV: decrypted into `plain` (exactly the header); `end` is where the
// encrypted header ends in the source.
Status DecryptHeader5(ByteSource& src, uint64_t offset, const HeaderKey& key, std::vector<uint8_t>& plain,
                      uint64_t& end) {
  rarcrypt::TCipherKey k;
  k.key.assign(key.rar5Key, key.rar5Key + 32);
  const size_t got = src.ReadAt(offset, k.iv, 16);
  if (got == 0) return Status::EndOfData;
  if (got < 16) return Status::Truncated;
  uint8_t first[16];
  if (!ReadExact(src, offset + 16, first, 16) || !rarcrypt::DecryptCbc(k, first, 16)) return Status::Truncated;
  uint64_t size = 0;
  size_t used = 0;
  if (!ReadVint(first + 4, 12, size, used) || used > 3 || size == 0 || size > kMaxRar5Header) return Status::BadCrc;
  const uint64_t total = 4 + used + size, padded = Round16(total);
  std::vector<uint8_t> all(static_cast<size_t>(padded));
  if (!ReadExact(src, offset + 16, all.data(), all.size())) return Status::Truncated;
  if (!rarcrypt::DecryptCbc(k, all.data(), all.size())) return Status::Bad;
  all.resize(size_t(total));
  plain = std::move(all);
  end = offset + 16 + padded;
  return Status::Ok;
}

// A RAR 3/4 header behind its own salt.
Status DecryptHeader4(ByteSource& src, uint64_t offset, const HeaderKey& key, std::vector<uint8_t>& plain,
                      uint64_t& end) {
  uint8_t salt[8];
  const size_t got = src.ReadAt(offset, salt, 8);
  if (got == 0) return Status::EndOfData;
  if (got < 8) return Status::Truncated;
  rarcrypt::TCipherKey k;
  auto& known = key.rar4Keys[std::string(reinterpret_cast<const char*>(salt), 8)];
  if (known.first.empty()) {  // one derivation per salt: it costs 262,144 rounds of SHA-1
    known.first.resize(16);
    known.second.resize(16);
    rarcrypt::DeriveRar3(key.password, salt, known.first.data(), known.second.data());
  }
  k.key = known.first;
  std::memcpy(k.iv, known.second.data(), 16);
  uint8_t first[16];
  if (!ReadExact(src, offset + 8, first, 16) || !rarcrypt::DecryptCbc(k, first, 16)) return Status::Truncated;
  const uint16_t size = Get16(first + 5);
  if (size < 7) return Status::BadCrc;
  const uint64_t padded = Round16(size);
  std::vector<uint8_t> all(static_cast<size_t>(padded));
  if (!ReadExact(src, offset + 8, all.data(), all.size())) return Status::Truncated;
  if (!rarcrypt::DecryptCbc(k, all.data(), all.size())) return Status::Bad;
  all.resize(size);
  plain = std::move(all);
  end = offset + 8 + padded;
  return Status::Ok;
}

// Reads an encrypted block: parsed from its plain text, its offsets moved to where the block lies.
Status ReadEncryptedBlock(ByteSource& src, Format format, uint64_t offset, Block& block, const HeaderKey& key) {
  std::vector<uint8_t> plain;
  uint64_t end = 0;
  Status s = format == Format::Rar5 ? DecryptHeader5(src, offset, key, plain, end)
                                    : DecryptHeader4(src, offset, key, plain, end);
  if (s != Status::Ok) return s;
  MemorySource ms(plain.data(), plain.size());
  s = format == Format::Rar5 ? ReadBlock5(ms, 0, block) : ReadBlock4(ms, 0, block);
  if (s == Status::EndOfData || s == Status::Truncated) return Status::Bad;
  if (s != Status::Ok) return s;
  const uint64_t dataSize = block.next - plain.size();
  if (AddOverflows(end, dataSize, block.next)) return Status::Bad;
  if (block.kind == BlockKind::File || block.kind == BlockKind::Service) block.entry.dataOffset = end;
  return Status::Ok;
}

}  // namespace

size_t MemorySource::ReadAt(uint64_t offset, void* buffer, size_t n) {
  if (offset >= size_) return 0;
  const size_t k = size_t(std::min<uint64_t>(n, size_ - offset));
  std::memcpy(buffer, data_ + offset, k);
  return k;
}

FileSource::FileSource(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd_ >= 0 && (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))) {
    ::close(fd_);
    fd_ = -1;
  }
  if (fd_ >= 0) {
    size_ = uint64_t(st.st_size);
    device_ = uint64_t(st.st_dev);
    inode_ = uint64_t(st.st_ino);
  }
}

FileSource::~FileSource() {
  if (fd_ >= 0) ::close(fd_);
}

size_t FileSource::ReadAt(uint64_t offset, void* buffer, size_t n) {
  size_t done = 0;
  while (done < n && fd_ >= 0) {
    const ssize_t r = ::pread(fd_, static_cast<char*>(buffer) + done, n - done, off_t(offset + done));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += size_t(r);
  }
  return done;
}

uint32_t Crc32(uint32_t crc, const void* data, size_t n) { return libdeflate_crc32(crc, data, n); }

bool ReadVint(const uint8_t* p, size_t avail, uint64_t& value, size_t& used) {
  value = 0;
  for (size_t i = 0; i < avail && i < 10; ++i) {
    value |= uint64_t(p[i] & 0x7F) << (7 * i);
    if (!(p[i] & 0x80)) {
      used = i + 1;
      return true;
    }
  }
  return false;
}

void AppendVint(std::string& out, uint64_t value) {
  do {
    uint8_t b = value & 0x7F;
    value >>= 7;
    if (value) b |= 0x80;
    out += char(b);
  } while (value);
}

std::string DecodeRar4UnicodeName(const uint8_t* field, size_t size) {
  const uint8_t* zero = static_cast<const uint8_t*>(std::memchr(field, 0, size));
  if (!zero) return DecodeLegacyName(field, size);  // stored as UTF-8 already
  const size_t asciiLen = size_t(zero - field);
  const uint8_t* enc = zero + 1;
  const size_t encSize = size - asciiLen - 1;
  constexpr size_t kMaxChars = 2048;
  std::vector<uint32_t> units;
  size_t pos = 0;
  const uint8_t high = pos < encSize ? enc[pos++] : 0;
  uint8_t flags = 0;
  int flagBits = 0;
  while (pos < encSize && units.size() < kMaxChars) {
    if (flagBits == 0) {
      flags = enc[pos++];
      flagBits = 8;
    }
    switch (flags >> 6) {
      case 0:
        if (pos >= encSize) break;
        units.push_back(enc[pos++]);
        break;
      case 1:
        if (pos >= encSize) break;
        units.push_back(enc[pos++] + (uint32_t(high) << 8));
        break;
      case 2:
        if (pos + 1 >= encSize) break;
        units.push_back(enc[pos] + (uint32_t(enc[pos + 1]) << 8));
        pos += 2;
        break;
      case 3: {
        if (pos >= encSize) break;
        int length = enc[pos++];
        if (length & 0x80) {
          if (pos >= encSize) break;
          const uint8_t correction = enc[pos++];
          for (length = (length & 0x7F) + 2; length > 0 && units.size() < kMaxChars; --length) {
            const size_t d = units.size();
            const uint8_t a = d < asciiLen ? field[d] : 0;
            units.push_back(((a + correction) & 0xFF) + (uint32_t(high) << 8));
          }
        } else {
          for (length += 2; length > 0 && units.size() < kMaxChars; --length) {
            const size_t d = units.size();
            units.push_back(d < asciiLen ? field[d] : 0);
          }
        }
        break;
      }
    }
    flags = uint8_t(flags << 2);
    flagBits -= 2;
  }
  std::string out;
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t u = units[i];
    if (u == 0) break;
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      u = 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      u = 0xFFFD;
    }
    codepage::AppendUtf8(out, char32_t(u));
  }
  return out;
}

int64_t DosTimeToUnix(uint32_t dos) {
  struct tm t {};
  t.tm_sec = int(dos & 0x1F) * 2;
  t.tm_min = int((dos >> 5) & 0x3F);
  t.tm_hour = int((dos >> 11) & 0x1F);
  t.tm_mday = int((dos >> 16) & 0x1F);
  t.tm_mon = int((dos >> 21) & 0x0F) - 1;
  t.tm_year = int((dos >> 25) & 0x7F) + 80;
  t.tm_isdst = -1;
  if (t.tm_mday == 0) t.tm_mday = 1;
  if (t.tm_mon < 0 || t.tm_mon > 11) t.tm_mon = 0;
  return int64_t(mktime(&t));
}

uint32_t UnixToDosTime(int64_t value) {
  time_t tt = time_t(value);
  struct tm t {};
  if (!localtime_r(&tt, &t) || t.tm_year < 80) return (1u << 21) | (1u << 16);  // 1 January 1980
  if (t.tm_year > 207) t.tm_year = 207;
  return (uint32_t(t.tm_year - 80) << 25) | (uint32_t(t.tm_mon + 1) << 21) | (uint32_t(t.tm_mday) << 16) |
         (uint32_t(t.tm_hour) << 11) | (uint32_t(t.tm_min) << 5) | uint32_t(t.tm_sec / 2);
}

Status ReadArchiveStart(ByteSource& src, ArchiveInfo& info) {
  const uint64_t scan = std::min<uint64_t>(src.Size(), kMaxSfxScan + 8);
  std::vector<uint8_t> head{};
  head.resize(size_t(scan));
  if (src.ReadAt(0, head.data(), head.size()) != head.size()) return Status::Truncated;
  int candidates = 0;  // a stub full of signature look-alikes must not cost a header check each
  for (size_t i = 0; i + 7 <= head.size() && candidates < 16; ++i) {
    if (head[i] != 0x52) continue;
    if (i + 8 <= head.size() && std::memcmp(head.data() + i, kSig5, 8) == 0) {
      ++candidates;
      info = ArchiveInfo();
      const Status s = ReadMain5(src, i + 8, info);
      if (s == Status::Ok || s == Status::EncryptedHeaders || i == 0) return s;
    } else if (std::memcmp(head.data() + i, kSig4, 7) == 0) {
      ++candidates;
      info = ArchiveInfo();
      const Status s = ReadMain4(src, i + 7, info);
      if (s == Status::Ok || s == Status::EncryptedHeaders || i == 0) return s;
    }
  }
  return Status::Bad;
}

Status ReadBlock(ByteSource& src, Format format, uint64_t offset, Block& block, const HeaderKey* key) {
  if (key) return ReadEncryptedBlock(src, format, offset, block, *key);
  return format == Format::Rar4 ? ReadBlock4(src, offset, block) : ReadBlock5(src, offset, block);
}

Status ReadEncryptedMain(ByteSource& src, ArchiveInfo& info, const HeaderKey& key) {
  if (info.format == Format::Rar4) return Status::Ok;  // the main header itself is plain
  std::vector<uint8_t> plain;
  uint64_t end = 0;
  Status s = DecryptHeader5(src, info.firstBlock, key, plain, end);
  if (s != Status::Ok) return s == Status::EndOfData ? Status::Truncated : s;
  MemorySource ms(plain.data(), plain.size());
  ArchiveInfo main;
  s = ReadMain5(ms, 0, main);
  if (s != Status::Ok) return s == Status::Truncated ? Status::Bad : s;
  main.encryptedHeaders = true;
  main.headerCrypt = info.headerCrypt;
  const uint64_t dataSize = main.firstBlock - plain.size();
  if (AddOverflows(end, dataSize, main.firstBlock)) return Status::Bad;
  info = main;
  return Status::Ok;
}

}  // namespace rarfmt
