// TZipKit: conversion between zip archives and self-extracting programs (".run": the stub, the
// settings header, the archive with its offsets counted from the start of the program).
//
// Both conversions write the new file under a hidden temporary name beside the target, flush it,
// read its directory back, and only then give it its name and remove the source: a failed
// conversion leaves the source untouched and no partial file under the target name.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <new>
#include <vector>

#include "SfxFormat.h"
#include "core/TextUtil.h"
#include "formats/ZipFormat.h"
#include "platform/Paths.h"
#include "safeout/Destination.h"
#include "zip/ZipKit.h"
#include "zip/ZipMessages.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kSigCentralHeader = zipfmt::kCentralHeaderSig;
constexpr uint32_t kSigEndRecord = zipfmt::kEndOfCentralSig;
constexpr uint32_t kSigZip64EndRecord = zipfmt::kZip64EndSig;
constexpr uint32_t kSigZip64Locator = zipfmt::kZip64LocatorSig;
constexpr int kEndRecordSize = static_cast<int>(zipfmt::kEndOfCentralSize);
constexpr int kCentralHeaderSize = static_cast<int>(zipfmt::kCentralHeaderSize);

constexpr char kSfxExtension[] = ".run";
constexpr char kZipExtension[] = ".zip";
constexpr char kStubName[] = "SfxStub.bin";
constexpr char kStubNameUpper[] = "SFXSTUB.BIN";

bool IsFile(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_regular_file(path, ec);
}

// A folder or device under the target's name is never removed to make room.
bool TargetBlocked(const std::string& target) {
  std::error_code ec;
  const fs::file_status st = fs::symlink_status(target, ec);
  return fs::exists(st) && !fs::is_regular_file(st) && !fs::is_symlink(st);
}

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t Get64(const uint8_t* p) { return Get32(p) | (static_cast<uint64_t>(Get32(p + 4)) << 32); }
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

bool ReadAll(int fd, int64_t pos, void* dst, size_t n) {
  size_t done = 0;
  while (done < n) {
    const ssize_t r = ::pread(fd, static_cast<char*>(dst) + done, n - done, pos + static_cast<int64_t>(done));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    done += static_cast<size_t>(r);
  }
  return true;
}

bool WriteAll(int fd, const void* src, size_t n) {
  size_t done = 0;
  while (done < n) {
    const ssize_t w = ::write(fd, static_cast<const char*>(src) + done, n - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    done += static_cast<size_t>(w);
  }
  return true;
}

// The file being written: a hidden name beside the target, removed unless it was given its name.
class TPendingFile {
 public:
  explicit TPendingFile(const std::string& target) : target_(target) {
    const size_t slash = target.rfind('/');
    std::string pattern = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    pattern += '.';
    pattern.append(target, slash == std::string::npos ? 0 : slash + 1, std::string::npos);
    pattern += ".XXXXXX";
    fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ >= 0) temp_ = pattern;
  }
  ~TPendingFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!temp_.empty()) ::unlink(temp_.c_str());
  }
  TPendingFile(const TPendingFile&) = delete;
  TPendingFile& operator=(const TPendingFile&) = delete;

  int Fd() const { return fd_; }
  const std::string& TempName() const { return temp_; }
  // Flushes and closes the file; false when the data may not be on disk.
  bool Flush(mode_t mode) {
    const bool ok = ::fchmod(fd_, mode) == 0 && ::fsync(fd_) == 0;
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    return ok && closed;
  }
  // Gives the flushed file the target's name and makes the rename durable.
  bool Commit() {
    if (::rename(temp_.c_str(), target_.c_str()) != 0) return false;
    temp_.clear();
    const std::string folder = fs::path(target_).parent_path().string();
    const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      ::fsync(dir);
      ::close(dir);
    }
    return true;
  }

 private:
  std::string target_;
  std::string temp_;
  int fd_ = -1;
};

// The name with its extension (`from`, any case) replaced by `to`.
std::string ChangeExtension(const std::string& name, size_t fromLength, const char* to) {
  return name.substr(0, name.size() - fromLength) + to;
}

// The directory of a written file, read back quietly: its entry count, or -1 when it does not read.
int64_t ReadBackEntries(const std::string& path, bool& offsetMismatch) {
  try {
    auto input = TArchiveFile::Open(path);
    if (!input) return -1;
    TEndRecordScan scan;
    if (ScanEndRecord(*input, scan) != TEndScanStatus::Found) return -1;
    TZipDirOptions options{true, cpNone};
    TZipDirResult result;
    ReadCentralDirectory(scan, *input, nullptr, options, TZipDirEvents{}, result);
    offsetMismatch = result.OffsetMismatch;
    return static_cast<int64_t>(result.Entries.size());
  } catch (...) {
    return -1;
  }
}

}  // namespace

std::string TZipKit::FindSfxStub() {
  std::vector<std::string> candidates;
  const std::string programDir = ProgramDir();
  if (!SFXPath.empty() && SFXPath[0] == '/') {
    candidates.push_back(SFXPath);
  } else if (!SFXPath.empty()) {
    // The program's folder comes first: a stub lying in the current folder is not taken over ours.
    candidates.push_back(programDir + "/" + SFXPath);
  }
  candidates.push_back(programDir + "/" + kStubName);
  candidates.push_back(programDir + "/" + kStubNameUpper);
  if (!dllDirectory_.empty()) {
    candidates.push_back(dllDirectory_ + "/" + kStubName);
    candidates.push_back(dllDirectory_ + "/" + kStubNameUpper);
  }
  if (!SFXPath.empty() && SFXPath[0] != '/') candidates.push_back(SFXPath);
  candidates.push_back(kStubNameUpper);
  for (const std::string& c : candidates) {
    SFXPath = c;
    if (IsFile(c)) return c;
  }
  return {};
}

// Copies the central directory and end records of the archive in `from` (which starts at
// `dirPos`) to `to`, adding `shift` to every offset they hold. Returns 0 or -2.
int32_t TZipKit::WriteShiftedDirectory(int from, int64_t dirPos, int to, int64_t shift) {
  const int64_t end = fileEnd_;
  if (dirPos < 0 || end < dirPos || endRecordOffset_ < dirPos || endRecordOffset_ + kEndRecordSize > end) {
    ReportMessage(11013);
    return -2;
  }
  std::vector<uint8_t> buf(static_cast<size_t>(end - dirPos));
  if (!ReadAll(from, dirPos, buf.data(), buf.size())) {
    ReportMessage(11013);
    return -2;
  }
  bool overflow = false;
  auto shift32 = [&](uint8_t* p) {
    const uint32_t v = Get32(p);
    if (v == 0xFFFFFFFFu) return;  // the value lies in a Zip64 record
    const int64_t n = static_cast<int64_t>(v) + shift;
    if (n < 0 || n >= 0xFFFFFFFFll) {
      overflow = true;
      return;
    }
    Put32(p, static_cast<uint32_t>(n));
  };
  auto shift64 = [&](uint8_t* p) {
    const int64_t n = static_cast<int64_t>(Get64(p)) + shift;
    if (n < 0) overflow = true;
    else Put64(p, static_cast<uint64_t>(n));
  };

  size_t pos = 0;
  const size_t dirEnd = static_cast<size_t>(endRecordOffset_ - dirPos - endRecord_.Zip64Bytes);
  for (uint64_t i = 0; i < endRecord_.TotalEntries; ++i) {
    if (pos + kCentralHeaderSize > dirEnd) {
      ReportMessage(11013);
      return -2;
    }
    uint8_t* h = buf.data() + pos;
    if (Get32(h) != kSigCentralHeader) {
      ReportMessage(11015);
      return -2;
    }
    const size_t nameLength = Get16(h + 28), extraLength = Get16(h + 30), commentLength = Get16(h + 32);
    if (pos + kCentralHeaderSize + nameLength + extraLength + commentLength > dirEnd) {
      ReportMessage(11042);
      return -2;
    }
    if (Get32(h + 42) != 0xFFFFFFFFu) {
      shift32(h + 42);
    } else {
      // The offset is in the Zip64 block, after the sizes the header marks as held there.
      uint8_t* extra = h + kCentralHeaderSize + nameLength;
      bool found = false;
      for (size_t p = 0; p + 4 <= extraLength;) {
        const uint16_t tag = Get16(extra + p), size = Get16(extra + p + 2);
        if (p + 4 + size > extraLength) break;
        if (tag == 0x0001) {
          size_t at = (Get32(h + 24) == 0xFFFFFFFFu ? 8 : 0) + (Get32(h + 20) == 0xFFFFFFFFu ? 8 : 0);
          if (at + 8 <= size) {
            shift64(extra + p + 4 + at);
            found = true;
          }
          break;
        }
        p += 4u + size;
      }
      if (!found) {
        ReportMessage(11013);
        return -2;
      }
    }
    pos += kCentralHeaderSize + nameLength + extraLength + commentLength;
  }
  uint8_t* eocd = buf.data() + (endRecordOffset_ - dirPos);
  if (Get32(eocd) != kSigEndRecord) {
    ReportMessage(11043);
    return -2;
  }
  shift32(eocd + 16);
  if (endRecord_.IsZip64) {
    uint8_t* record = eocd - endRecord_.Zip64Bytes;
    uint8_t* locator = eocd - 20;
    if (endRecord_.Zip64Bytes < 76 || Get32(record) != kSigZip64EndRecord || Get32(locator) != kSigZip64Locator) {
      ReportMessage(11043);
      return -2;
    }
    shift64(record + 48);
    shift64(locator + 8);
  }
  if (overflow) {
    ReportMessage(11029, ": an offset does not fit the archive's records");
    return -2;
  }
  if (!WriteAll(to, buf.data(), buf.size())) {
    ReportMessage(11030);
    return -2;
  }
  return 0;
}

// Copies the byte range [from, to) of `src` to `dst` at their positions.
static int32_t CopyRange(TZipKit& kit, int src, int64_t begin, int64_t end, int dst) {
  if (end <= begin) return 0;
  if (::lseek(src, begin, SEEK_SET) != begin) return -2;
  return kit.CopyFileData(src, dst, end - begin);
}

int32_t TZipKit::ConvertToSfx(bool newProgram) {
  ShowProgress = false;
  if (!newProgram && !IsFile(zipFileName_)) {
    ReportMessage(10102);
    return -9;
  }
  zipfmt::SfxSettings settings;
  settings.caption = SFXCaption;
  settings.defaultDir = SFXDefaultDir;
  settings.commandLine = SFXCommandLine;
  settings.message = SFXMessage;
  for (const std::string* s : {&SFXCaption, &SFXDefaultDir, &SFXCommandLine, &SFXMessage}) {
    if (s->size() > zipfmt::kSfxMaxString) {
      ReportMessage(10801, "\nSFXCaption + SFXDefaultDir + SFXCommandLine + SFXMessage = " +
                               std::to_string(zipfmt::SfxHeaderLength(settings) + 1));
      return -9;
    }
  }
  const std::string stub = FindSfxStub();
  if (stub.empty()) {
    ReportMessage(10802);
    return -9;
  }
  uint8_t flags = 0;
  if (SFXOptions.Has(SFXAskCmdLine)) flags |= zipfmt::kSfxFlagAskCmdLine;
  if (SFXOptions.Has(SFXAskFiles)) flags |= zipfmt::kSfxFlagAskFiles;
  if (SFXOptions.Has(SFXHideOverWriteBox)) flags |= zipfmt::kSfxFlagHideOverwriteBox;
  if (SFXOverWriteMode == OvrAlways) flags |= zipfmt::kSfxFlagOverwriteAlways;
  if (SFXOverWriteMode == OvrNever) flags |= zipfmt::kSfxFlagOverwriteNever;
  if (!SFXOptions.Has(SFXCheckSize)) flags |= zipfmt::kSfxFlagNoCheckSize;
  if (SFXOptions.Has(SFXAutoRun)) flags |= zipfmt::kSfxFlagAutoRun;
  if (SFXOptions.Has(SFXNoSuccessMsg)) flags |= zipfmt::kSfxFlagNoSuccessMsg;
  settings.flags = flags;

  std::string header;
  try {
    header = zipfmt::BuildSfxHeader(settings);
  } catch (const std::bad_alloc&) {
    ReportMessage(10103);
    return -9;
  }
  std::string target = zipFileName_;
  if (!newProgram) {
    if (!EndsWithNoCase(zipFileName_, kZipExtension)) {
      ReportMessage(10803);
      return -9;
    }
    target = ChangeExtension(zipFileName_, 4, kSfxExtension);
  }

  if (TargetBlocked(target)) return -1;
  StartWaitCursor();
  int32_t result = 0;
  TPendingFile out(target);
  int64_t stubSize = 0, archivePart = 0;
  const int src = newProgram ? -1 : ::open(zipFileName_.c_str(), O_RDONLY | O_CLOEXEC);
  const int stubFd = ::open(stub.c_str(), O_RDONLY | O_CLOEXEC);
  try {
    struct stat st {};
    if (out.Fd() < 0) result = -1;
    else if (stubFd < 0 || ::fstat(stubFd, &st) != 0 || (!newProgram && src < 0)) result = -3;
    if (result == 0) {
      stubSize = st.st_size;
      if (CopyFileData(stubFd, out.Fd(), -1) != 0) result = -2;
    }
    // The stub must carry its icon slot: one cut short has lost its section table.
    int64_t slot = -1;
    if (result == 0) {
      slot = zipfmt::FindSfxIconSlot(
          [&](uint64_t at, void* dst, size_t n) { return ReadAll(out.Fd(), static_cast<int64_t>(at), dst, n); },
          static_cast<uint64_t>(stubSize));
      if (slot < 0) result = -10;
    }
    if (result == 0 && !SFXIcon.empty()) {
      if (SFXIcon.size() != zipfmt::kSfxIconFileSize) {
        result = -12;
      } else if (::pwrite(out.Fd(), SFXIcon.data() + 22, zipfmt::kSfxIconImageSize, slot) !=
                 static_cast<ssize_t>(zipfmt::kSfxIconImageSize)) {
        result = -11;
      }
    }
    if (result == 0 && ::lseek(out.Fd(), stubSize, SEEK_SET) != stubSize) result = -11;
    if (result == 0 && !WriteAll(out.Fd(), header.data(), header.size())) result = -2;
    const int64_t shift = stubSize + static_cast<int64_t>(header.size());
    if (result == 0 && newProgram) {
      uint8_t end[kEndRecordSize] = {0x50, 0x4B, 0x05, 0x06};
      Put32(end + 16, static_cast<uint32_t>(shift));
      if (!WriteAll(out.Fd(), end, sizeof end)) result = -2;
    } else if (result == 0) {
      if (!ReadEndRecord(true)) throw EZipKit(11036);
      if (offsetMismatch_) {
        archivePart = physicalSize_;
        if (CopyRange(*this, src, 0, physicalSize_, out.Fd()) != 0) result = -2;
      } else {
        archivePart = fileEnd_;
        if (CopyRange(*this, src, 0, centralDirOffset_, out.Fd()) != 0) result = -2;
        if (result == 0) result = WriteShiftedDirectory(src, centralDirOffset_, out.Fd(), shift);
      }
    }
    if (result == 0 && !newProgram) {
      struct stat written {};
      if (::fstat(out.Fd(), &written) != 0 || written.st_size != shift + archivePart) result = -9;
    }
  } catch (const EZipKit& e) {
    ReportException(e);
    result = -3;
  } catch (const std::bad_alloc&) {
    result = -3;
  } catch (const std::exception&) {
    result = -3;
  }
  if (stubFd >= 0) ::close(stubFd);
  if (src >= 0) ::close(src);
  if (result == 0 && !out.Flush(0755)) result = -2;
  if (result == 0) {
    bool mismatch = false;
    const int64_t expected = newProgram ? 0 : static_cast<int64_t>(entries_.size()) + dirOnlyCount_;
    const int64_t found = ReadBackEntries(out.TempName(), mismatch);
    if (found != expected || (mismatch && !offsetMismatch_)) result = -9;
  }
  if (result == 0) {
    EraseFile(target, HowToDelete);
    if (!out.Commit()) result = -1;
  }
  if (result == 0 && !newProgram) {
    EraseFile(zipFileName_, HowToDelete);
    SetZipFileName(target);
  }
  EndWaitCursor();
  return result;
}

int32_t TZipKit::ConvertToZip() {
  ShowProgress = false;
  if (!IsFile(zipFileName_)) {
    ReportMessage(10901);
    return -3;
  }
  if (!EndsWithNoCase(zipFileName_, kSfxExtension)) {
    ReportMessage(10902);
    return -3;
  }
  if (sfxOffset_ == 0) {
    ReportMessage(10903);
    return -9;
  }
  const std::string program = zipFileName_;
  const std::string target = ChangeExtension(program, 4, kZipExtension);
  if (TargetBlocked(target)) return -1;
  StartWaitCursor();
  int32_t result = 0;
  int64_t archivePart = 0;
  TPendingFile out(target);
  const int src = ::open(program.c_str(), O_RDONLY | O_CLOEXEC);
  try {
    if (out.Fd() < 0) result = -1;
    else if (src < 0) result = -3;
    if (result == 0 && !ReadEndRecord(true)) throw EZipKit(11036);
    if (result == 0) {
      const size_t n = static_cast<size_t>(std::min<int64_t>(sfxOffset_, zipfmt::kSfxMaxHeaderSize));
      std::string window(n, '\0');
      if (!ReadAll(src, sfxOffset_ - static_cast<int64_t>(n), window.data(), n)) result = -2;
      zipfmt::SfxSettings s;
      size_t at = 0, length = 0;
      // A header that ends where the archive begins wins over one found earlier by chance.
      const bool found = result == 0 && (zipfmt::FindSfxHeader(window, true, s, at, length) ||
                                         zipfmt::FindSfxHeader(window, false, s, at, length));
      if (found) {
        const int64_t stubEnd = sfxOffset_ - static_cast<int64_t>(n - at);
        const int64_t slot = zipfmt::FindSfxIconSlot(
            [&](uint64_t pos, void* dst, size_t count) { return ReadAll(src, static_cast<int64_t>(pos), dst, count); },
            static_cast<uint64_t>(stubEnd));
        if (slot >= 0) {
          std::string image(zipfmt::kSfxIconImageSize, '\0');
          if (ReadAll(src, slot, image.data(), image.size())) {
            const std::string file = zipfmt::SfxIconFile(image);
            SFXIcon.assign(file.begin(), file.end());
          }
        }
        SFXOptions = SFXOpts{};
        SFXOverWriteMode = OvrConfirm;
        if (s.flags & zipfmt::kSfxFlagAskCmdLine) SFXOptions.Include(SFXAskCmdLine);
        if (s.flags & zipfmt::kSfxFlagAskFiles) SFXOptions.Include(SFXAskFiles);
        if (s.flags & zipfmt::kSfxFlagHideOverwriteBox) SFXOptions.Include(SFXHideOverWriteBox);
        if (s.flags & zipfmt::kSfxFlagOverwriteAlways) SFXOverWriteMode = OvrAlways;
        if (s.flags & zipfmt::kSfxFlagOverwriteNever) SFXOverWriteMode = OvrNever;
        if (!(s.flags & zipfmt::kSfxFlagNoCheckSize)) SFXOptions.Include(SFXCheckSize);
        if (s.flags & zipfmt::kSfxFlagAutoRun) SFXOptions.Include(SFXAutoRun);
        if (s.vForm && (s.flags & zipfmt::kSfxFlagNoSuccessMsg)) SFXOptions.Include(SFXNoSuccessMsg);
        SFXCaption = s.caption;
        SFXDefaultDir = s.defaultDir;
        SFXCommandLine = s.commandLine;
        if (s.vForm) SFXMessage = s.message;
      }
    }
    if (result == 0) {
      if (!offsetMismatch_) {
        archivePart = fileEnd_;
        if (CopyRange(*this, src, sfxOffset_, centralDirOffset_, out.Fd()) != 0) result = -2;
        if (result == 0) result = WriteShiftedDirectory(src, centralDirOffset_, out.Fd(), -sfxOffset_);
      } else {
        archivePart = physicalSize_;
        if (CopyRange(*this, src, sfxOffset_, physicalSize_, out.Fd()) != 0) result = -2;
      }
    }
    if (result == 0) {
      struct stat written {};
      if (::fstat(out.Fd(), &written) != 0 || written.st_size != archivePart - sfxOffset_) result = -9;
    }
  } catch (const EZipKit& e) {
    ReportException(e);
    result = -3;
  } catch (const std::bad_alloc&) {
    result = -10;
  } catch (const std::exception&) {
    result = -3;
  }
  if (src >= 0) ::close(src);
  if (result == 0 && !out.Flush(0666 & ~static_cast<mode_t>(safeout::Umask()))) result = -2;
  if (result == 0) {
    bool mismatch = false;
    if (ReadBackEntries(out.TempName(), mismatch) != static_cast<int64_t>(entries_.size()) + dirOnlyCount_ || mismatch)
      result = -9;
  }
  if (result == 0) {
    EraseFile(target, HowToDelete);
    if (!out.Commit()) result = -1;
  }
  if (result == 0) {
    EraseFile(program, HowToDelete);
    SetZipFileName(target);
  }
  EndWaitCursor();
  return result;
}
