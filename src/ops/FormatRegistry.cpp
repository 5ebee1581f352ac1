#include "ops/FormatRegistry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "core/TextUtil.h"
#include "tar/GzipStream.h"
#include "tar/TarLib.h"

namespace {

constexpr size_t kTarBlock = 512;
constexpr size_t kZipEndRecord = 22;
constexpr size_t kZipLocalHeader = 30;
constexpr size_t kZipTailSearch = kZipEndRecord + 65535;

uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const unsigned char* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

bool StartsWithBytes(const std::vector<unsigned char>& b, std::string_view mark) {
  return b.size() >= mark.size() && std::memcmp(b.data(), mark.data(), mark.size()) == 0;
}

// Reads up to n bytes at pos; the count read, -1 on failure.
ssize_t ReadAt(int fd, int64_t pos, unsigned char* out, size_t n) {
  size_t got = 0;
  while (got < n) {
    const ssize_t r = ::pread(fd, out + got, n - got, static_cast<off_t>(pos) + static_cast<off_t>(got));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    got += static_cast<size_t>(r);
  }
  return static_cast<ssize_t>(got);
}

// The bytes before the first record of a zip archive whose end record lies in `tail` (the last
// bytes of a file of `size` bytes); -1 when there is no plausible end record. An end record
// whose comment ends exactly at the end of the file wins; one followed by other bytes counts when
// its directory fits before it.
int64_t ZipPrefixFromTail(const std::vector<unsigned char>& tail, int64_t size) {
  if (tail.size() < kZipEndRecord) return -1;
  const int64_t tailStart = size - static_cast<int64_t>(tail.size());
  int64_t loose = -1;
  for (size_t i = tail.size() - kZipEndRecord + 1; i-- > 0;) {
    const unsigned char* p = tail.data() + i;
    if (p[0] != 'P' || p[1] != 'K' || p[2] != 5 || p[3] != 6) continue;
    const int64_t at = tailStart + static_cast<int64_t>(i);
    const uint32_t dirSize = Le32(p + 12), dirOffset = Le32(p + 16);
    const int64_t end = at + static_cast<int64_t>(kZipEndRecord) + Le16(p + 20);
    if (end > size) continue;
    const bool zip64 = dirSize == 0xFFFFFFFFu || dirOffset == 0xFFFFFFFFu;
    if (!zip64 && int64_t(dirOffset) + int64_t(dirSize) > at) continue;
    // The directory ends where the end record (or the Zip64 records before it) starts; what is
    // left before its offset is the data in front.
    const int64_t prefix = zip64 ? 0 : at - int64_t(dirSize) - int64_t(dirOffset);
    if (end == size) return std::max<int64_t>(prefix, 0);
    if (loose < 0) loose = std::max<int64_t>(prefix, 0);
  }
  return loose;
}

// True when the gzip file's content starts with a tar header.
bool GzipHoldsTar(const std::string& path) {
  try {
    TGzReader in(path);
    unsigned char block[kTarBlock];
    size_t got = 0;
    while (got < sizeof block) {
      const size_t n = in.Read(block + got, sizeof block - got);
      if (n == 0) return false;
      got += n;
    }
    return LooksLikeTarHeader(block);
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

const char* ArchiveFormatName(TArchiveFormat format) {
  switch (format) {
    case TArchiveFormat::Zip: return "zip";
    case TArchiveFormat::Rar: return "RAR";
    case TArchiveFormat::Tar: return "tar";
    case TArchiveFormat::TarGz: return "tar.gz";
    case TArchiveFormat::Gzip: return "gzip";
    case TArchiveFormat::Unknown: break;
  }
  return "unknown";
}

bool LooksLikeTarHeader(const unsigned char* block) {
  if (std::memcmp(block + 257, "ustar", 5) == 0) return true;
  if (block[0] == 0) return false;
  // Old headers: the checksum field is octal digits ended by a NUL or a blank.
  const char* field = reinterpret_cast<const char*>(block + 148);
  bool digits = false;
  for (size_t i = 0; i < 8; ++i) {
    const char c = field[i];
    if (c >= '0' && c <= '7') digits = true;
    else if (c != ' ' && c != '\0') return false;
  }
  if (!digits) return false;
  const int64_t stored = tarheader::GetNumber(field, 8);
  if (stored == static_cast<int64_t>(tarheader::ChecksumOf(reinterpret_cast<const char*>(block)))) return true;
  // Some old writers summed signed bytes.
  int64_t sum = 8 * ' ';
  for (size_t i = 0; i < kTarBlock; ++i)
    if (i < 148 || i >= 156) sum += static_cast<signed char>(block[i]);
  return stored == sum;
}

TArchiveFormat FormatByExtension(std::string_view name) {
  const std::string n = LowerCase(name);
  if (EndsWith(n, ".zip")) return TArchiveFormat::Zip;
  if (EndsWith(n, ".rar")) return TArchiveFormat::Rar;
  if (EndsWith(n, ".tar.gz") || EndsWith(n, ".tgz")) return TArchiveFormat::TarGz;
  if (EndsWith(n, ".tar")) return TArchiveFormat::Tar;
  if (EndsWith(n, ".gz")) return TArchiveFormat::Gzip;
  return TArchiveFormat::Unknown;
}

TArchiveFormat FormatForNewArchive(std::string_view name) {
  // A self-extracting program starts as the stub with an empty zip archive behind it.
  if (EndsWith(LowerCase(name), ".run")) return TArchiveFormat::Zip;
  const TArchiveFormat f = FormatByExtension(name);
  return f == TArchiveFormat::Rar ? TArchiveFormat::Unknown : f;
}

TStatus CheckArchiveFile(const std::string& path) {
  if (path.empty()) return {TStatusCode::NotFound, std::strerror(ENOENT)};
  // Non-blocking: a FIFO in the archive's place must not hang the open.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    const int err = errno;
    return {err == ENOENT || err == ENOTDIR ? TStatusCode::NotFound : TStatusCode::Unreadable, std::strerror(err)};
  }
  struct stat st {};
  const int got = ::fstat(fd, &st);
  ::close(fd);
  if (got != 0 || !S_ISREG(st.st_mode)) return {TStatusCode::Unreadable, "not a regular file"};
  if (st.st_size == 0) return {TStatusCode::Unreadable, "the file is empty"};
  return {};
}

TFormatMatch DetectArchiveFormat(const std::string& path) {
  TFormatMatch m;
  const auto byName = [&] {
    m.Format = FormatByExtension(path);
    m.Evidence = m.Format == TArchiveFormat::Unknown ? TFormatEvidence::None : TFormatEvidence::Extension;
    return m;
  };
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);  // a FIFO must not block
  if (fd < 0) {
    m.Status = TStatus::FromErrno(errno, "Can't open " + path, TStatusCode::Unreadable);
    return byName();
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    m.Status = TStatus(TStatusCode::Unreadable, path + " is not a regular file");
    ::close(fd);
    return byName();
  }
  const int64_t size = st.st_size;
  std::vector<unsigned char> head(kTarBlock);
  const ssize_t got = ReadAt(fd, 0, head.data(), head.size());
  if (got < 0) {
    m.Status = TStatus::FromErrno(errno, "Can't read " + path, TStatusCode::Unreadable);
    ::close(fd);
    return byName();
  }
  head.resize(static_cast<size_t>(got));
  const auto found = [&](TArchiveFormat f) {
    ::close(fd);
    m.Format = f;
    m.Evidence = TFormatEvidence::Signature;
    return m;
  };

  if (head.size() >= 2 && head[0] == 0x1f && head[1] == 0x8b)
    return found(GzipHoldsTar(path) ? TArchiveFormat::TarGz : TArchiveFormat::Gzip);
  if (StartsWithBytes(head, std::string_view("Rar!\x1a\x07\x00", 7)) ||
      StartsWithBytes(head, std::string_view("Rar!\x1a\x07\x01\x00", 8)))
    return found(TArchiveFormat::Rar);
  // A zip record at the start counts only when it is there whole: a local header (30 bytes), the end
  // record of an empty archive (22 bytes and its comment), a split marker before a local header.
  const bool local = head.size() >= kZipLocalHeader && StartsWithBytes(head, "PK\x03\x04");
  const bool emptyArchive = head.size() >= kZipEndRecord && StartsWithBytes(head, "PK\x05\x06") &&
                            static_cast<int64_t>(kZipEndRecord) + Le16(head.data() + 20) <= size;
  const bool split = head.size() >= 4 + kZipLocalHeader && StartsWithBytes(head, "PK\x07\x08") &&
                     std::memcmp(head.data() + 4, "PK\x03\x04", 4) == 0;
  if (local || emptyArchive || split) {
    m.ZipPrefix = 0;
    return found(TArchiveFormat::Zip);
  }
  if (head.size() >= 262 && std::memcmp(head.data() + 257, "ustar", 5) == 0) return found(TArchiveFormat::Tar);

  // A zip archive with data in front: its end record near the end of the file.
  if (size >= static_cast<int64_t>(kZipEndRecord)) {
    const size_t n = static_cast<size_t>(std::min<int64_t>(size, static_cast<int64_t>(kZipTailSearch)));
    std::vector<unsigned char> tail(n);
    const ssize_t t = ReadAt(fd, size - static_cast<int64_t>(n), tail.data(), n);
    if (t == static_cast<ssize_t>(n)) {
      const int64_t prefix = ZipPrefixFromTail(tail, size);
      if (prefix >= 0) {
        m.ZipPrefix = prefix;
        return found(TArchiveFormat::Zip);
      }
    }
  }
  if (head.size() == kTarBlock && LooksLikeTarHeader(head.data())) return found(TArchiveFormat::Tar);
  ::close(fd);
  return byName();
}
