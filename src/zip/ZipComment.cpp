#include "zip/ZipComment.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <vector>

#include "core/TextUtil.h"
#include "formats/CodePage.h"
#include "formats/ZipFormat.h"
#include "platform/ArchiveInput.h"
#include "zip/ZipDirReader.h"

std::string EncodeZipComment(std::string_view utf8) {
  if (codepage::IsAscii(utf8) || !codepage::IsValidUtf8(utf8)) return std::string(utf8);
  std::string oem;
  if (codepage::Utf8ToCp437(utf8, oem)) return oem;
  return std::string(utf8);
}

std::string DecodeZipComment(std::string_view raw) {
  if (codepage::IsAscii(raw) || codepage::IsValidUtf8(raw)) return std::string(raw);
  return codepage::Cp437ToUtf8(raw);
}

namespace {

// Copies n bytes from `in` at `pos` to the end of `out`.
bool CopyRange(int in, int out, int64_t pos, int64_t n) {
  off_t from = pos;
  while (n > 0) {
    const ssize_t got = ::copy_file_range(in, &from, out, nullptr, static_cast<size_t>(n), 0);
    if (got > 0) {
      n -= got;
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got == 0) return false;  // the source ended early
    // File systems without copy_file_range between these files: plain reads and writes.
    std::vector<char> buf(1 << 20);
    while (n > 0) {
      const ssize_t r = ::pread(in, buf.data(), static_cast<size_t>(std::min<int64_t>(n, int64_t(buf.size()))), from);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return false;
      for (ssize_t done = 0; done < r;) {
        const ssize_t w = ::write(out, buf.data() + done, static_cast<size_t>(r - done));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        done += w;
      }
      from += r;
      n -= r;
    }
  }
  return true;
}

bool WriteAll(int fd, const void* data, size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

}  // namespace

TStatus CopyZipWithComment(const std::string& source, const std::string& target, std::string_view raw) {
  if (raw.size() > kMaxZipCommentBytes)
    return {TStatusCode::Failed, "the tag takes " + FormatWithCommas(static_cast<int64_t>(raw.size())) +
                                     " bytes; a zip comment holds at most 65,535"};
  auto input = TArchiveFile::Open(source);
  if (!input) return TStatus::FromErrno(errno, source, TStatusCode::NotFound);
  TEndRecordScan scan;
  switch (ScanEndRecord(*input, scan)) {
    case TEndScanStatus::Found: break;
    case TEndScanStatus::NotFound: return {TStatusCode::Damaged, source + ": no zip end record was found"};
    default: return {TStatusCode::Unreadable, source + ": the end of the archive could not be read"};
  }
  if (scan.StartsSpanSet || scan.Record.ThisDisk != 0 || scan.Record.DirStartDisk != 0)
    return {TStatusCode::Unsupported, source + ": the tag of a multi-disk set cannot be changed"};
  uint8_t record[zipfmt::kEndOfCentralSize];
  if (!input->ReadExact(static_cast<uint64_t>(scan.EndRecordOffset), record, sizeof record))
    return {TStatusCode::Unreadable, source + ": the end record could not be read"};
  record[20] = static_cast<uint8_t>(raw.size() & 0xFF);
  record[21] = static_cast<uint8_t>(raw.size() >> 8);

  struct stat st {};
  if (::fstat(input->Fd(), &st) != 0) return TStatus::FromErrno(errno, source, TStatusCode::Unreadable);
  const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777);
  if (out < 0) return TStatus::FromErrno(errno, target, TStatusCode::WriteFailed);
  errno = 0;
  const int err = !CopyRange(input->Fd(), out, 0, scan.EndRecordOffset) || !WriteAll(out, record, sizeof record) ||
                          !WriteAll(out, raw.data(), raw.size()) || ::fchmod(out, st.st_mode & 07777) != 0 ||
                          ::fsync(out) != 0
                      ? (errno ? errno : EIO)
                      : 0;
  if (::close(out) != 0 && err == 0) {
    const int closeErr = errno;
    ::unlink(target.c_str());
    return TStatus::FromErrno(closeErr, target, TStatusCode::WriteFailed);
  }
  if (err != 0) {
    ::unlink(target.c_str());
    return TStatus::FromErrno(err, target, TStatusCode::WriteFailed);
  }
  return {};
}

TStatus ReadZipComment(const std::string& archive, std::string& raw) {
  raw.clear();
  auto input = TArchiveFile::Open(archive);
  if (!input) return TStatus::FromErrno(errno, archive, TStatusCode::NotFound);
  TEndRecordScan scan;
  switch (ScanEndRecord(*input, scan)) {
    case TEndScanStatus::Found: raw = scan.Comment; return {};
    case TEndScanStatus::NotFound: return {TStatusCode::Damaged, archive + ": no zip end record was found"};
    default: return {TStatusCode::Unreadable, archive + ": the end of the archive could not be read"};
  }
}
