#include "tar/TarLib.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <vector>

#include "codec/SparseFile.h"
#include "tar/PathPrefetch.h"

namespace {

constexpr double kUnixEpochDays = 25569.0;
constexpr size_t kReadBuffer = 1 << 20;
constexpr size_t kMaxLongRecord = 1 << 20;  // GNU long names and pax headers beyond this are refused
constexpr size_t kMaxSparseRegions = 1 << 20;  // a sparse map with more regions is refused
// A larger entry size is damage: no file system holds it, and offsets computed from it stay in range.
constexpr int64_t kMaxEntrySize = int64_t(1) << 62;

const char kKindFlags[] = {'0', '1', '2', '3', '4', '5', '6', '7', 'D', 'M', 'V'};
const char* const kKindNames[] = {"Regular",   "Link",     "Symbolic Link", "Char File",    "Block File",
                                  "Directory", "FIFO File", "Contiguous",   "Dir Dump",     "Multivol",
                                  "Volume Header"};

std::string FieldText(const char* p, size_t width) {
  size_t n = 0;
  while (n < width && p[n] != 0) ++n;
  return std::string(p, n);
}

std::string TrimMagic(std::string s) {
  auto bad = [](unsigned char c) { return c <= ' '; };
  while (!s.empty() && bad(static_cast<unsigned char>(s.back()))) s.pop_back();
  size_t i = 0;
  while (i < s.size() && bad(static_cast<unsigned char>(s[i]))) ++i;
  return s.substr(i);
}

void PutText(char* field, size_t width, const std::string& text) {
  std::memcpy(field, text.data(), std::min(width, text.size()));
}

bool KindFromFlag(char flag, TTarEntryKind& kind) {
  if (flag == 0) {
    kind = TTarEntryKind::Regular;
    return true;
  }
  for (size_t i = 0; i < sizeof kKindFlags; ++i) {
    if (kKindFlags[i] == flag) {
      kind = static_cast<TTarEntryKind>(i);
      return true;
    }
  }
  kind = TTarEntryKind::Regular;
  return false;
}

std::string BadSize(int64_t headerPos) {
  return "Bad size field in the header at offset " + std::to_string(headerPos) + ": the archive is damaged";
}

// A decimal number of a sparse map: digits only, no sign, within 64 bits.
bool ParseSparseNumber(const std::string& v, int64_t& out) {
  if (v.empty() || v.size() > 19) return false;
  int64_t n = 0;
  for (char c : v) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  out = n;
  return true;
}

// Parses a decimal time with an optional fraction ("1700000000.25", "-5").
double ParsePaxTime(const std::string& v) {
  char* end = nullptr;
  double d = std::strtod(v.c_str(), &end);
  return end == v.c_str() ? 0.0 : d;
}

}  // namespace

const char* TarEntryKindName(TTarEntryKind kind) {
  size_t i = static_cast<size_t>(kind);
  return i < std::size(kKindNames) ? kKindNames[i] : "Regular";
}

double UnixToDateTime(double unixSeconds) { return unixSeconds / 86400.0 + kUnixEpochDays; }

int64_t DateTimeToUnix(double dateTime) {
  return static_cast<int64_t>(std::llround((dateTime - kUnixEpochDays) * 86400.0));
}

unsigned TarModeOf(TTarPermissions p, TTarSpecialBits s) {
  static const unsigned bits[9] = {0400, 0200, 0100, 040, 020, 010, 04, 02, 01};
  unsigned m = 0;
  for (int i = 0; i < 9; ++i)
    if (p & (1u << i)) m |= bits[i];
  if (s & tsSetUid) m |= 04000;
  if (s & tsSetGid) m |= 02000;
  if (s & tsSaveText) m |= 01000;
  return m;
}

void TarSplitMode(unsigned mode, TTarPermissions& p, TTarSpecialBits& s) {
  static const unsigned bits[9] = {0400, 0200, 0100, 040, 020, 010, 04, 02, 01};
  p = 0;
  s = 0;
  for (int i = 0; i < 9; ++i)
    if (mode & bits[i]) p |= static_cast<TTarPermissions>(1u << i);
  if (mode & 04000) s |= tsSetUid;
  if (mode & 02000) s |= tsSetGid;
  if (mode & 01000) s |= tsSaveText;
}

bool TTarDirRec::HasData() const {
  switch (EntryKind) {
    case TTarEntryKind::Link:
    case TTarEntryKind::SymbolicLink:
    case TTarEntryKind::Directory:
    case TTarEntryKind::FifoFile:
    case TTarEntryKind::VolumeHeader:
      return false;
    default:
      return true;
  }
}

// ---------------------------------------------------------------------------------------------------
namespace tarheader {

void PutNumber(char* field, size_t width, int64_t value) {
  // Octal digits: 6 in an 8-byte field (then space, NUL), 11 in a 12-byte field (then space).
  const size_t digits = width == 8 ? 6 : width - 1;
  const uint64_t limit = uint64_t(1) << (3 * digits);
  if (value >= 0 && static_cast<uint64_t>(value) < limit) {
    uint64_t v = static_cast<uint64_t>(value);
    for (size_t i = digits; i-- > 0;) {
      field[i] = static_cast<char>('0' + (v & 7));
      v >>= 3;
    }
    for (size_t i = 0; i + 1 < digits && field[i] == '0'; ++i) field[i] = ' ';
    field[digits] = ' ';
    if (width == 8) field[7] = 0;
    return;
  }
  // Base-256: big-endian two's complement, marker bit set in the first byte.
  uint64_t v = static_cast<uint64_t>(value);
  for (size_t i = width; i-- > 1;) {
    field[i] = static_cast<char>(v & 0xFF);
    v >>= 8;
  }
  field[0] = static_cast<char>(value < 0 ? 0xFF : 0x80);
}

int64_t GetNumber(const char* field, size_t width) {
  const auto* u = reinterpret_cast<const unsigned char*>(field);
  if (u[0] & 0x80) {
    uint64_t v = (u[0] & 0x40) ? ~uint64_t(0) : 0;
    v = (v << 7) | (u[0] & 0x7F);
    for (size_t i = 1; i < width; ++i) v = (v << 8) | u[i];
    return static_cast<int64_t>(v);
  }
  size_t i = 0;
  while (i < width && field[i] == ' ') ++i;
  uint64_t v = 0;
  for (; i < width && field[i] >= '0' && field[i] <= '7'; ++i) v = (v << 3) | uint64_t(field[i] - '0');
  return static_cast<int64_t>(v);
}

bool ParseNumber(const char* field, size_t width, int64_t& value) {
  const auto* u = reinterpret_cast<const unsigned char*>(field);
  if (u[0] & 0x80) {
    // Base-256: every bit shifted out, and the sign bit at the end, must repeat the sign.
    const uint64_t fill = (u[0] & 0x40) ? ~uint64_t(0) : 0;
    uint64_t v = (fill << 7) | (u[0] & 0x7F);
    for (size_t i = 1; i < width; ++i) {
      if ((v >> 55) != (fill >> 55)) return false;
      v = (v << 8) | u[i];
    }
    if ((v >> 63) != (fill >> 63)) return false;
    value = static_cast<int64_t>(v);
    return true;
  }
  size_t i = 0;
  while (i < width && field[i] == ' ') ++i;
  uint64_t v = 0;
  for (; i < width && field[i] >= '0' && field[i] <= '7'; ++i) {
    if (v >> 60) return false;
    v = (v << 3) | uint64_t(field[i] - '0');
  }
  if (i < width && field[i] != ' ' && field[i] != '\0') return false;
  value = static_cast<int64_t>(v);
  return true;
}

uint32_t ChecksumOf(const char* block) {
  const auto* u = reinterpret_cast<const unsigned char*>(block);
  uint32_t sum = 0;
  for (size_t i = 0; i < kBlock; ++i) sum += (i >= 148 && i < 156) ? ' ' : u[i];
  return sum;
}

static int32_t SignedChecksumOf(const char* block) {
  const auto* s = reinterpret_cast<const signed char*>(block);
  int32_t sum = 0;
  for (size_t i = 0; i < kBlock; ++i) sum += (i >= 148 && i < 156) ? ' ' : s[i];
  return sum;
}

static void BuildWithFlag(const TTarDirRec& rec, char flag, char* block) {
  std::memset(block, 0, kBlock);
  PutText(block + 0, 100, rec.Name);
  PutNumber(block + 100, 8, rec.Mode());
  PutNumber(block + 108, 8, rec.UserId);
  PutNumber(block + 116, 8, rec.GroupId);
  PutNumber(block + 124, 12, rec.Size);
  // Times before 1970 are written as 1970: peers reject or even crash on negative base-256 times.
  int64_t seconds = static_cast<int64_t>(std::floor((rec.ModTime - kUnixEpochDays) * 86400.0 + 0.5));
  PutNumber(block + 136, 12, std::max<int64_t>(0, seconds));
  block[156] = flag;
  PutText(block + 157, 100, rec.LinkName);
  std::string magic = (rec.Magic + "        ").substr(0, 8);
  std::memcpy(block + 257, magic.data(), 8);
  PutText(block + 265, 32, rec.UserName);
  PutText(block + 297, 32, rec.GroupName);
  PutNumber(block + 329, 8, rec.DeviceMajor);
  PutNumber(block + 337, 8, rec.DeviceMinor);
  PutNumber(block + 148, 8, ChecksumOf(block));
}

void Build(const TTarDirRec& rec, char* block) {
  BuildWithFlag(rec, kKindFlags[static_cast<size_t>(rec.EntryKind)], block);
}

}  // namespace tarheader

using namespace tarheader;

// ---------------------------------------------------------------------------------------------------
// TTarArchive

TTarArchive::TTarArchive(const std::string& fileName) : TTarArchive(new TFileInput(fileName), true) {}

TTarArchive::TTarArchive(TTarInput* input, bool owns) : input_(input), owns_(owns) {
  buf_.resize(kReadBuffer);
}

TTarArchive::~TTarArchive() {
  if (owns_) delete input_;
}

void TTarArchive::Reset() {
  if (input_->Position() != 0 || bufLen_ != 0) {
    if (!input_->Seek(0)) throw ETarError("The archive stream cannot be rewound");
  }
  bufPos_ = bufLen_ = 0;
  pending_ = padding_ = 0;
  truncated_ = false;
  globalPax_.clear();
}

void TTarArchive::GetFilePos(int64_t& current, int64_t& total) const {
  current = input_->Position() - static_cast<int64_t>(bufLen_ - bufPos_);
  total = input_->Size();
}

// Makes at least `want` bytes available in the buffer when the stream has them; returns bytes available.
size_t TTarArchive::Fill(size_t want) {
  size_t avail = bufLen_ - bufPos_;
  if (avail >= want) return avail;
  if (bufPos_ > 0) {
    std::memmove(buf_.data(), buf_.data() + bufPos_, avail);
    bufPos_ = 0;
    bufLen_ = avail;
  }
  while (bufLen_ < want) {
    size_t got = input_->Read(buf_.data() + bufLen_, buf_.size() - bufLen_);
    if (got == 0) break;
    bufLen_ += got;
  }
  return bufLen_ - bufPos_;
}

bool TTarArchive::ReadBlock(char* block) {
  size_t avail = Fill(kBlock);
  if (avail < kBlock) {
    if (avail > 0) truncated_ = true;
    bufPos_ = bufLen_;
    return false;
  }
  std::memcpy(block, buf_.data() + bufPos_, kBlock);
  bufPos_ += kBlock;
  return true;
}

std::string TTarArchive::ReadLongData(int64_t size) {
  if (size < 0 || static_cast<uint64_t>(size) > kMaxLongRecord) throw ETarError("Oversized extended header");
  std::string s(static_cast<size_t>(size), '\0');
  size_t got = 0;
  while (got < s.size()) {
    size_t avail = Fill(std::min(s.size() - got, buf_.size()));
    if (avail == 0) {
      truncated_ = true;
      throw ETarError("Unexpected end of archive");
    }
    size_t n = std::min(avail, s.size() - got);
    std::memcpy(s.data() + got, buf_.data() + bufPos_, n);
    bufPos_ += n;
    got += n;
  }
  uint64_t pad = BlocksFor(size) * kBlock - static_cast<uint64_t>(size);
  size_t avail = Fill(pad);
  bufPos_ += std::min<size_t>(avail, pad);
  return s;
}

void TTarArchive::ApplyPax(const std::string& data, std::map<std::string, std::string>& into,
                           std::vector<std::pair<std::string, std::string>>* ordered) {
  // Records: "<length> <key>=<value>\n", length counting the whole record.
  size_t pos = 0;
  while (pos < data.size()) {
    size_t sp = data.find(' ', pos);
    if (sp == std::string::npos) break;
    size_t len = std::strtoul(data.c_str() + pos, nullptr, 10);
    if (len == 0 || pos + len > data.size() || sp >= pos + len) break;
    std::string rec = data.substr(sp + 1, pos + len - sp - 1);
    if (!rec.empty() && rec.back() == '\n') rec.pop_back();
    size_t eq = rec.find('=');
    if (eq != std::string::npos) {
      into[rec.substr(0, eq)] = rec.substr(eq + 1);
      // Sparse format 0.0 repeats its offset and size keys: their order is the map.
      if (ordered && rec.compare(0, 11, "GNU.sparse.") == 0) {
        if (ordered->size() >= 2 * kMaxSparseRegions + 8) throw ETarError("Sparse map too large");
        ordered->emplace_back(rec.substr(0, eq), rec.substr(eq + 1));
      }
    }
    pos += len;
  }
}

bool TTarArchive::FindNext(TTarDirRec& rec) {
  sparseActive_ = false;
  // Skip what is left of the previous entry.
  if (pending_ > 0 || padding_ > 0) {
    SkipData();
    uint64_t pad = static_cast<uint64_t>(padding_);
    padding_ = 0;
    size_t avail = bufLen_ - bufPos_;
    if (avail >= pad) {
      bufPos_ += pad;
    } else {
      bufPos_ = bufLen_;
      input_->Skip(pad - avail);
    }
  }
  std::string longName, longLink;
  bool haveLongName = false, haveLongLink = false, checksumsOk = true;
  std::map<std::string, std::string> pax;
  std::vector<std::pair<std::string, std::string>> paxSparse;
  int64_t firstPos = -1;
  char block[kBlock];
  for (;;) {
    int64_t pos, total;
    GetFilePos(pos, total);
    if (!ReadBlock(block)) {
      if (firstPos >= 0) truncated_ = true;  // extension headers without their entry
      return false;
    }
    // Only a block of zeros ends the archive; a header with an empty name is an entry.
    if (block[0] == 0 && std::all_of(block, block + kBlock, [](char c) { return c == 0; })) return false;
    if (firstPos < 0) firstPos = pos;
    int64_t stored = GetNumber(block + 148, 8);
    bool sumOk = stored == static_cast<int64_t>(ChecksumOf(block)) || stored == SignedChecksumOf(block);
    checksumsOk = checksumsOk && sumOk;
    char flag = block[156];
    int64_t size = 0;
    if (!ParseNumber(block + 124, 12, size) || size < 0 || size > kMaxEntrySize) {
      if (sumOk) throw ETarError(BadSize(pos));
      size = 0;  // the bad checksum is reported
    }
    if (sumOk && (flag == 'L' || flag == 'K' || flag == 'x' || flag == 'g' || flag == 'X')) {
      std::string data = ReadLongData(size);
      if (flag == 'L' || flag == 'K') {
        std::string text = FieldText(data.data(), data.size());
        if (flag == 'L') longName = text, haveLongName = true;
        else longLink = text, haveLongLink = true;
      } else {
        ApplyPax(data, flag == 'g' ? globalPax_ : pax, flag == 'g' ? nullptr : &paxSparse);
      }
      continue;
    }

    rec.Clear();
    rec.HeaderPos = firstPos;
    rec.ChecksumOk = checksumsOk;
    rec.Name = FieldText(block, 100);
    rec.LinkName = FieldText(block + 157, 100);
    rec.UserName = FieldText(block + 265, 32);
    rec.GroupName = FieldText(block + 297, 32);
    std::string rawMagic(block + 257, 6);
    rec.Magic = TrimMagic(FieldText(block + 257, 8));
    if (rawMagic == std::string("ustar\0", 6) && block[345] != 0) {
      rec.Name = FieldText(block + 345, 155) + "/" + rec.Name;
    }
    rec.Size = size;
    rec.ModTime = UnixToDateTime(static_cast<double>(GetNumber(block + 136, 12)));
    TarSplitMode(static_cast<unsigned>(GetNumber(block + 100, 8)), rec.Permissions, rec.SpecialBits);
    rec.UserId = static_cast<int32_t>(GetNumber(block + 108, 8));
    rec.GroupId = static_cast<int32_t>(GetNumber(block + 116, 8));
    rec.DeviceMajor = static_cast<int32_t>(GetNumber(block + 329, 8));
    rec.DeviceMinor = static_cast<int32_t>(GetNumber(block + 337, 8));
    KindFromFlag(flag, rec.EntryKind);
    if (haveLongName) rec.Name = longName;
    if (haveLongLink) rec.LinkName = longLink;

    auto applyKeys = [&rec](const std::map<std::string, std::string>& keys, bool global) {
      for (const auto& [k, v] : keys) {
        if (k == "path" && !global) rec.Name = v;
        else if (k == "linkpath" && !global) rec.LinkName = v;
        else if (k == "size" && !global) {
          if (!ParseSparseNumber(v, rec.Size) || rec.Size > kMaxEntrySize) throw ETarError(BadSize(rec.HeaderPos));
        }
        else if (k == "mtime") rec.ModTime = UnixToDateTime(ParsePaxTime(v));
        else if (k == "uid") rec.UserId = static_cast<int32_t>(std::strtoll(v.c_str(), nullptr, 10));
        else if (k == "gid") rec.GroupId = static_cast<int32_t>(std::strtoll(v.c_str(), nullptr, 10));
        else if (k == "uname") rec.UserName = v;
        else if (k == "gname") rec.GroupName = v;
      }
    };
    applyKeys(globalPax_, true);
    applyKeys(pax, false);

    // Old archives mark folders only by a trailing slash.
    if (rec.EntryKind == TTarEntryKind::Regular && (flag == 0 || flag == '0') && !rec.Name.empty() &&
        rec.Name.back() == '/' && rec.Size == 0)
      rec.EntryKind = TTarEntryKind::Directory;

    if (rec.Size < 0) rec.Size = 0;
    // The data as stored; a sparse member's real size comes from its map records.
    const int64_t dataSize = rec.Size;
    bool mapInData = false;
    if (flag == 'S') {
      rec.EntryKind = TTarEntryKind::Regular;
      ReadOldGnuSparse(block, rec);
    } else if (rec.EntryKind == TTarEntryKind::Regular) {
      mapInData = ApplyPaxSparse(pax, paxSparse, rec);
    }
    pending_ = rec.HasData() ? dataSize : 0;
    padding_ = static_cast<int64_t>(BlocksFor(static_cast<uint64_t>(pending_)) * kBlock) - pending_;
    if (rec.Sparse) {
      if (mapInData) ReadSparseMapFromData(rec);
      CheckSparseMap(rec, pending_);
      sparse_ = rec.SparseMap;
      region_ = 0;
      filePos_ = 0;
      fileSize_ = rec.Size;
      sparseActive_ = true;
    }
    stored_ = pending_;
    return true;
  }
}

size_t TTarArchive::ReadStored(void* buffer, size_t n) {
  if (pending_ <= 0) return 0;
  n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), pending_));
  size_t avail = bufLen_ - bufPos_;
  size_t got;
  if (avail > 0) {
    got = std::min(avail, n);
    std::memcpy(buffer, buf_.data() + bufPos_, got);
    bufPos_ += got;
  } else if (n >= buf_.size() / 2) {
    got = input_->Read(buffer, n);
  } else {
    avail = Fill(n);
    got = std::min(avail, n);
    std::memcpy(buffer, buf_.data() + bufPos_, got);
    bufPos_ += got;
  }
  if (got == 0) {
    truncated_ = true;
    throw ETarError("Unexpected end of archive");
  }
  pending_ -= static_cast<int64_t>(got);
  return got;
}

size_t TTarArchive::ReadData(void* buffer, size_t n) {
  if (!sparseActive_) return ReadStored(buffer, n);
  if (n == 0 || filePos_ >= fileSize_) return 0;
  while (region_ < sparse_.size() && filePos_ >= sparse_[region_].Offset + sparse_[region_].Length) ++region_;
  const int64_t next = region_ < sparse_.size() ? sparse_[region_].Offset : fileSize_;
  if (filePos_ < next) {  // a hole
    const size_t k = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), next - filePos_));
    std::memset(buffer, 0, k);
    filePos_ += static_cast<int64_t>(k);
    return k;
  }
  const int64_t end = sparse_[region_].Offset + sparse_[region_].Length;
  const size_t got = ReadStored(buffer, static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), end - filePos_)));
  filePos_ += static_cast<int64_t>(got);
  return got;
}

size_t TTarArchive::ReadRegion(void* buffer, size_t n, int64_t& fileOffset) {
  if (!sparseActive_) {
    fileOffset = stored_ - pending_;
    return ReadStored(buffer, n);
  }
  while (region_ < sparse_.size() && filePos_ >= sparse_[region_].Offset + sparse_[region_].Length) ++region_;
  if (region_ == sparse_.size() || n == 0) return 0;
  filePos_ = std::max(filePos_, sparse_[region_].Offset);
  fileOffset = filePos_;
  const int64_t end = sparse_[region_].Offset + sparse_[region_].Length;
  const size_t got = ReadStored(buffer, static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), end - filePos_)));
  filePos_ += static_cast<int64_t>(got);
  return got;
}

// GNU type "S": four regions in the header, 21 more in each extension block that follows it while
// the "isextended" byte is set; the real size at offset 483.
void TTarArchive::ReadOldGnuSparse(const char* header, TTarDirRec& rec) {
  rec.Sparse = true;
  auto add = [&rec](const char* e) {
    if (e[0] == 0) return false;  // an unused slot ends the list
    if (rec.SparseMap.size() >= kMaxSparseRegions) throw ETarError("Sparse map of " + rec.Name + " is too large");
    rec.SparseMap.push_back({GetNumber(e, 12), GetNumber(e + 12, 12)});
    return true;
  };
  for (int i = 0; i < 4 && add(header + 386 + 24 * i); ++i) {
  }
  rec.Size = GetNumber(header + 483, 12);
  bool extended = header[482] != 0;
  char block[kBlock];
  while (extended) {
    if (!ReadBlock(block)) {
      truncated_ = true;
      throw ETarError("Unexpected end of archive in the sparse map of " + rec.Name);
    }
    for (int i = 0; i < 21 && add(block + 24 * i); ++i) {
    }
    extended = block[504] != 0;
  }
}

// Pax sparse formats: 0.0 (repeated GNU.sparse.offset/numbytes), 0.1 (GNU.sparse.map) and 1.0
// (GNU.sparse.major/minor, the map at the start of the data). True when the map is in the data.
bool TTarArchive::ApplyPaxSparse(const std::map<std::string, std::string>& pax,
                                 const std::vector<std::pair<std::string, std::string>>& ordered, TTarDirRec& rec) {
  auto get = [&pax](const char* key) -> const std::string* {
    auto it = pax.find(key);
    return it == pax.end() ? nullptr : &it->second;
  };
  const std::string* major = get("GNU.sparse.major");
  const std::string* minor = get("GNU.sparse.minor");
  const bool v1 = major || minor;
  if (!v1 && !get("GNU.sparse.map") && !get("GNU.sparse.offset") && !get("GNU.sparse.numblocks") &&
      !get("GNU.sparse.size"))
    return false;
  if (const std::string* name = get("GNU.sparse.name")) rec.Name = *name;
  auto bad = [&rec](const std::string& why) { return ETarError("Damaged sparse member " + rec.Name + ": " + why); };
  if (v1 && (!major || *major != "1" || !minor || *minor != "0"))
    throw bad("sparse format " + (major ? *major : std::string("?")) + "." + (minor ? *minor : std::string("?")) +
              " is not known");
  rec.Sparse = true;
  const std::string* real = get("GNU.sparse.realsize");
  if (!real) real = get("GNU.sparse.size");
  int64_t size = 0;
  if (!real || !ParseSparseNumber(*real, size)) throw bad("no valid real size");
  rec.Size = size;
  if (v1) return true;
  std::vector<int64_t> numbers;
  if (const std::string* map = get("GNU.sparse.map")) {
    size_t pos = 0;
    while (pos <= map->size() && !map->empty()) {
      size_t comma = map->find(',', pos);
      if (comma == std::string::npos) comma = map->size();
      int64_t v = 0;
      if (!ParseSparseNumber(map->substr(pos, comma - pos), v)) throw bad("unreadable map");
      if (numbers.size() >= 2 * kMaxSparseRegions) throw bad("map too large");
      numbers.push_back(v);
      pos = comma + 1;
    }
  } else {
    for (const auto& [key, value] : ordered) {
      const bool offset = key == "GNU.sparse.offset";
      if (!offset && key != "GNU.sparse.numbytes") continue;
      if (offset != (numbers.size() % 2 == 0)) throw bad("map offsets and sizes out of turn");
      int64_t v = 0;
      if (!ParseSparseNumber(value, v)) throw bad("unreadable map");
      numbers.push_back(v);
    }
  }
  if (numbers.size() % 2 != 0) throw bad("map ends inside a region");
  for (size_t i = 0; i < numbers.size(); i += 2) rec.SparseMap.push_back({numbers[i], numbers[i + 1]});
  int64_t count = 0;
  if (const std::string* blocks = get("GNU.sparse.numblocks");
      blocks && (!ParseSparseNumber(*blocks, count) || static_cast<size_t>(count) != rec.SparseMap.size()))
    throw bad("map has not the number of regions it announces");
  return false;
}

// Format 1.0: the data starts with the map in whole blocks, decimal numbers each ended by a newline: the
// count of regions, then offset and size of each.
void TTarArchive::ReadSparseMapFromData(TTarDirRec& rec) {
  auto bad = [&rec](const std::string& why) { return ETarError("Damaged sparse member " + rec.Name + ": " + why); };
  std::vector<int64_t> numbers;
  int64_t count = -1;
  std::string digits;
  char block[kBlock];
  while (count < 0 || numbers.size() < static_cast<size_t>(1 + 2 * count)) {
    size_t got = 0;
    while (got < kBlock) {
      const size_t n = ReadStored(block + got, kBlock - got);
      if (n == 0) throw bad("the map is cut short");
      got += n;
    }
    for (size_t i = 0; i < kBlock && (count < 0 || numbers.size() < static_cast<size_t>(1 + 2 * count)); ++i) {
      const char c = block[i];
      if (c >= '0' && c <= '9') {
        digits += c;
        if (digits.size() > 19) throw bad("unreadable map");
        continue;
      }
      int64_t v = 0;
      if (c != '\n' || !ParseSparseNumber(digits, v)) throw bad("unreadable map");
      digits.clear();
      numbers.push_back(v);
      if (numbers.size() == 1) {
        if (v > static_cast<int64_t>(kMaxSparseRegions)) throw bad("map too large");
        count = v;
      }
    }
  }
  for (size_t i = 1; i < numbers.size(); i += 2) rec.SparseMap.push_back({numbers[i], numbers[i + 1]});
}

// Regions sorted, apart, inside the real size, and together exactly the data stored.
void TTarArchive::CheckSparseMap(const TTarDirRec& rec, int64_t stored) const {
  auto bad = [&rec](const std::string& why) { return ETarError("Damaged sparse member " + rec.Name + ": " + why); };
  if (rec.Size < 0) throw bad("negative size");
  int64_t end = 0, sum = 0;
  for (const TTarSparseRegion& r : rec.SparseMap) {
    if (r.Offset < 0 || r.Length < 0) throw bad("negative offset or size in the map");
    if (r.Offset < end) throw bad("map regions overlap or are out of order");
    if (r.Offset > rec.Size || r.Length > rec.Size - r.Offset) throw bad("map reaches past the end of the file");
    end = r.Offset + r.Length;
    sum += r.Length;
  }
  if (sum != stored) throw bad("map does not match the data stored");
}

void TTarArchive::ReadToEnd() {
  std::vector<char> rest(1 << 16);
  while (input_->Read(rest.data(), rest.size()) > 0) {
  }
}

void TTarArchive::SkipData() {
  sparseActive_ = false;
  if (pending_ <= 0) return;
  uint64_t want = static_cast<uint64_t>(pending_);
  size_t avail = bufLen_ - bufPos_;
  if (avail >= want) {
    bufPos_ += want;
  } else {
    bufPos_ = bufLen_;
    uint64_t rest = want - avail;
    if (input_->Skip(rest) < rest) {
      pending_ = 0;
      padding_ = 0;
      truncated_ = true;
      throw ETarError("Unexpected end of archive");
    }
  }
  pending_ = 0;
}

void TTarArchive::ExtractToStream(TTarOutput& dest) {
  if (sparseActive_) {
    std::vector<char> chunk(1 << 16);
    while (size_t n = ReadData(chunk.data(), chunk.size())) dest.Write(chunk.data(), n);
    return;
  }
  while (pending_ > 0) {
    size_t avail = bufLen_ - bufPos_;
    if (avail == 0) avail = Fill(1);
    if (avail == 0) {
      truncated_ = true;
      throw ETarError("Unexpected end of archive");
    }
    size_t n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(avail), pending_));
    dest.Write(buf_.data() + bufPos_, n);
    bufPos_ += n;
    pending_ -= static_cast<int64_t>(n);
  }
}

void TTarArchive::ExtractToFile(const std::string& fileName) {
  TFileOutput out(fileName);
  ExtractToStream(out);
  out.Close();
}

// ---------------------------------------------------------------------------------------------------
// TTarWriter

TTarWriter::TTarWriter(const std::string& fileName) : TTarWriter(new TAsyncFileOutput(fileName), true) {}

TTarWriter::TTarWriter(TTarOutput* output, bool owns) : output_(output), owns_(owns) {}

TTarWriter::~TTarWriter() {
  try {
    Finalize();
  } catch (...) {
  }
  if (owns_) delete output_;
}

void TTarWriter::Prefetch(std::vector<std::string> paths) {
  prefetch_.reset();
  if (paths.empty()) return;
  prefetch_ = std::make_unique<TPathPrefetch>(std::move(paths));
  if (!taken_) taken_ = std::make_unique<TPrefetchedPath>();
}

void TTarWriter::Out(const void* p, size_t n) {
  output_->Write(p, n);
  written_ += n;
}

void TTarWriter::Stamp(TTarDirRec& rec) const {
  rec.Permissions = Permissions;
  rec.UserId = UserId;
  rec.GroupId = GroupId;
  rec.UserName = UserName;
  rec.GroupName = GroupName;
  rec.SpecialBits = SpecialBits;
  rec.Magic = Magic;
}

void TTarWriter::WriteLongRecord(char flag, const std::string& text) {
  TTarDirRec rec;
  rec.Name = "././@LongLink";
  rec.Size = static_cast<int64_t>(text.size() + 1);
  rec.Magic = Magic;
  char block[kBlock];
  tarheader::BuildWithFlag(rec, flag, block);
  Out(block, kBlock);
  std::string data = text;
  data.resize(BlocksFor(text.size() + 1) * kBlock, '\0');
  Out(data.data(), data.size());
}

void TTarWriter::WriteHeaders(const TTarDirRec& rec) {
  if (finalized_) throw ETarError("The tar archive is already finalized");
  if (rec.Name.size() > 100) WriteLongRecord('L', rec.Name);
  if (rec.LinkName.size() > 100) WriteLongRecord('K', rec.LinkName);
  char block[kBlock];
  Build(rec, block);
  Out(block, kBlock);
}

void TTarWriter::WriteData(TTarInput& data, int64_t size, int fd) {
  uint64_t left = static_cast<uint64_t>(size);
  if (fd >= 0 && left >= (1u << 20)) {
    uint64_t copied = output_->CopyFromFd(fd, left);
    left -= copied;
    written_ += copied;
  }
  if (copyBuf_.empty()) copyBuf_.resize(1 << 20);
  while (left > 0) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(copyBuf_.size(), left));
    size_t got = data.Read(copyBuf_.data(), want);
    if (got == 0) {
      // The source delivered less than announced: fill up with zeros to keep the archive sound.
      std::memset(copyBuf_.data(), 0, want);
      got = want;
    }
    Out(copyBuf_.data(), got);
    left -= got;
  }
  uint64_t pad = BlocksFor(static_cast<uint64_t>(size)) * kBlock - static_cast<uint64_t>(size);
  if (pad) {
    static const char zeros[kBlock] = {};
    Out(zeros, pad);
  }
}

void TTarWriter::AddEntry(const TTarDirRec& rec, TTarInput* data) {
  WriteHeaders(rec);
  if (rec.HasData() && rec.Size > 0) {
    if (!data) throw ETarError("No data for " + rec.Name);
    auto* file = dynamic_cast<TFileInput*>(data);
    WriteData(*data, rec.Size, file && file->Position() == 0 ? file->Handle() : -1);
  }
}

void TTarWriter::AddFile(const std::string& fileName, const std::string& tarName) {
  std::string name = tarName;
  if (name.empty()) {
    name = fileName;
    std::replace(name.begin(), name.end(), '\\', '/');
  }
  TFileInput in(fileName);
  struct stat st {};
  fstat(in.Handle(), &st);
  TTarDirRec rec;
  Stamp(rec);
  rec.Name = name;
  rec.Size = st.st_size;
  rec.ModTime = UnixToDateTime(static_cast<double>(st.st_mtim.tv_sec));
  rec.EntryKind = TTarEntryKind::Regular;
  AddEntry(rec, &in);
}

void TTarWriter::AddStream(TTarInput& stream, const std::string& tarName, double modTime) {
  if (stream.Size() < 0) throw ETarError("The size of the stream for " + tarName + " is unknown");
  TTarDirRec rec;
  Stamp(rec);
  rec.Name = tarName;
  rec.Size = std::max<int64_t>(0, stream.Size() - stream.Position());
  rec.ModTime = modTime;
  WriteHeaders(rec);
  if (rec.Size > 0) WriteData(stream, rec.Size, -1);
}

void TTarWriter::AddVolumeHeader(const std::string& volumeId, double modTime) {
  TTarDirRec rec;
  Stamp(rec);
  rec.Name = volumeId;
  rec.ModTime = modTime;
  rec.EntryKind = TTarEntryKind::VolumeHeader;
  WriteHeaders(rec);
}

namespace {
// Owner and group names by number, looked up once each.
const std::string& CachedName(bool user, uint32_t id) {
  thread_local std::unordered_map<uint64_t, std::string> cache;
  uint64_t key = (uint64_t(user) << 32) | id;
  auto it = cache.find(key);
  if (it != cache.end()) return it->second;
  std::string name;
  char buf[4096];
  if (user) {
    struct passwd pw {}, *res = nullptr;
    if (getpwuid_r(id, &pw, buf, sizeof buf, &res) == 0 && res) name = res->pw_name;
  } else {
    struct group gr {}, *res = nullptr;
    if (getgrgid_r(id, &gr, buf, sizeof buf, &res) == 0 && res) name = res->gr_name;
  }
  return cache.emplace(key, name).first->second;
}
}  // namespace

TFolderCache::~TFolderCache() {
  if (fd_ >= 0) ::close(fd_);
}

int TFolderCache::Parent(const std::string& path, std::string& leaf) {
  size_t slash = path.rfind('/');
  leaf = slash == std::string::npos ? path : path.substr(slash + 1);
  if (leaf.empty() || leaf == "." || leaf == "..") {
    leaf = path;
    return AT_FDCWD;
  }
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  if (fd_ < 0 || dir != dir_) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = ::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    dir_ = dir;
  }
  if (fd_ < 0) {
    leaf = path;
    return AT_FDCWD;
  }
  return fd_;
}

// A file's data from its open descriptor: large files through the kernel, the rest read once straight
// into the output's buffer together with the padding.
void TTarWriter::WriteFileData(int fd, const std::string& path, int64_t size) {
  const uint64_t total = static_cast<uint64_t>(size);
  uint64_t left = total;
  uint64_t pad = BlocksFor(left) * kBlock - left;
  std::unique_ptr<codec::THoleReader> holes;  // a sparse file: its holes are never read
  if (left >= (1u << 20)) {
    holes = std::make_unique<codec::THoleReader>(fd);
    if (!holes->Sparse()) {
      holes.reset();
      uint64_t copied = output_->CopyFromFd(fd, left);
      left -= copied;
      written_ += copied;
    }
  }
  while (left > 0) {
    size_t chunk = static_cast<size_t>(std::min<uint64_t>(left, kReadBuffer));
    size_t padHere = chunk == left ? static_cast<size_t>(pad) : 0;
    char* place = output_->Reserve(chunk + padHere);
    if (!place) {
      if (copyBuf_.size() < kReadBuffer + kBlock) copyBuf_.resize(kReadBuffer + kBlock);
      place = copyBuf_.data();
    }
    size_t got = 0;
    while (got < chunk) {
      ssize_t r = holes ? holes->ReadAt(place + got, chunk - got, total - left + got) : ::read(fd, place + got, chunk - got);
      if (r < 0) {
        if (errno == EINTR) continue;
        throw ETarError("Can't read " + path + ": " + SystemErrorText(errno));
      }
      if (r == 0) break;
      got += static_cast<size_t>(r);
    }
    // A file that shrank meanwhile is filled up with zeros to keep the archive sound.
    std::memset(place + got, 0, chunk - got + padHere);
    if (place == copyBuf_.data()) {
      Out(place, chunk + padHere);
    } else {
      output_->Commit(chunk + padHere);
      written_ += chunk + padHere;
    }
    left -= chunk;
    if (padHere) pad = 0;
  }
  if (pad) {
    static const char zeros[kBlock] = {};
    Out(zeros, static_cast<size_t>(pad));
  }
}

// A small file's data read ahead (short when the file shrank meanwhile: zeros fill up to `size`), with
// its padding, into one place of the output.
void TTarWriter::WriteLoaded(const std::string& data, int64_t size) {
  const size_t n = static_cast<size_t>(size);
  const size_t whole = static_cast<size_t>(BlocksFor(static_cast<uint64_t>(size)) * kBlock);
  const size_t got = std::min(data.size(), n);
  if (whole == 0) return;
  char* place = output_->Reserve(whole);
  if (!place) {
    if (copyBuf_.size() < kReadBuffer + kBlock) copyBuf_.resize(kReadBuffer + kBlock);
    place = copyBuf_.data();
  }
  std::memcpy(place, data.data(), got);
  std::memset(place + got, 0, whole - got);
  if (place == copyBuf_.data()) {
    Out(place, whole);
  } else {
    output_->Commit(whole);
    written_ += whole;
  }
}

int64_t TTarWriter::AddPath(const std::string& fileName, const std::string& tarName) {
  // One statx and, for a file, one open and (mostly) one read, looked up inside the cached folder (or
  // ahead, by the prefetching thread).
  std::string leaf;
  int dir = AT_FDCWD;
  TPrefetchedPath* pre = prefetch_ && prefetch_->Take(fileName, *taken_) ? taken_.get() : nullptr;
  const bool ready = pre != nullptr;
  struct statx own {};
  struct statx& sx = ready ? pre->Status : own;
  if (ready) {
    if (pre->StatError) throw ETarError("Can't open " + fileName + ": " + SystemErrorText(pre->StatError));
  } else {
    dir = folders_.Parent(fileName, leaf);
    if (::statx(dir, leaf.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_BASIC_STATS, &sx) != 0)
      throw ETarError("Can't open " + fileName + ": " + SystemErrorText(errno));
  }
  const mode_t mode = sx.stx_mode;
  TTarDirRec rec;
  rec.Name = tarName;
  rec.Magic = Magic;
  TarSplitMode(mode & 07777, rec.Permissions, rec.SpecialBits);
  rec.UserId = static_cast<int32_t>(sx.stx_uid);
  rec.GroupId = static_cast<int32_t>(sx.stx_gid);
  rec.UserName = CachedName(true, sx.stx_uid);
  rec.GroupName = CachedName(false, sx.stx_gid);
  rec.ModTime = UnixToDateTime(static_cast<double>(sx.stx_mtime.tv_sec));
  if (S_ISDIR(mode)) {
    rec.EntryKind = TTarEntryKind::Directory;
    if (!rec.Name.empty() && rec.Name.back() != '/') rec.Name += '/';
    AddEntry(rec, nullptr);
  } else if (S_ISLNK(mode)) {
    rec.EntryKind = TTarEntryKind::SymbolicLink;
    if (ready) dir = folders_.Parent(fileName, leaf);
    std::string target(static_cast<size_t>(sx.stx_size > 0 ? sx.stx_size : 4096) + 1, '\0');
    ssize_t n = ::readlinkat(dir, leaf.c_str(), target.data(), target.size());
    if (n < 0) throw ETarError("Can't read link " + fileName + ": " + SystemErrorText(errno));
    target.resize(static_cast<size_t>(n));
    rec.LinkName = target;
    AddEntry(rec, nullptr);
  } else if (S_ISREG(mode)) {
    rec.Size = static_cast<int64_t>(sx.stx_size);
    if (ready && pre->Loaded) {
      WriteHeaders(rec);
      if (pre->ReadError) throw ETarError("Can't read " + fileName + ": " + SystemErrorText(pre->ReadError));
      WriteLoaded(pre->Data, rec.Size);
      return rec.Size;
    }
    int fd = ready ? pre->Fd : ::openat(dir, leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) throw ETarError("Can't open " + fileName + ": " + SystemErrorText(ready ? pre->OpenError : errno));
    try {
      WriteHeaders(rec);
      WriteFileData(fd, fileName, rec.Size);
    } catch (...) {
      ::close(fd);
      throw;
    }
    ::close(fd);
  } else {
    rec.EntryKind = S_ISFIFO(mode)  ? TTarEntryKind::FifoFile
                    : S_ISCHR(mode) ? TTarEntryKind::CharFile
                    : S_ISBLK(mode) ? TTarEntryKind::BlockFile
                                    : TTarEntryKind::Regular;
    if (rec.EntryKind == TTarEntryKind::Regular) throw ETarError("Can't store " + fileName + ": unsupported file type");
    rec.DeviceMajor = static_cast<int32_t>(sx.stx_rdev_major);
    rec.DeviceMinor = static_cast<int32_t>(sx.stx_rdev_minor);
    AddEntry(rec, nullptr);
  }
  return rec.HasData() ? rec.Size : 0;
}

void TTarWriter::Finalize() {
  if (finalized_) return;
  finalized_ = true;
  // Two zero blocks end the archive: one alone makes GNU tar warn about a lone zero block.
  static const char zeros[2 * kBlock] = {};
  Out(zeros, sizeof zeros);
  output_->Close();
}
