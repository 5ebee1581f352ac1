// TZipKit: properties, reporting, internal routines and the directory.
#include "zip/ZipKit.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <stdexcept>

#include "core/Prompt.h"
#include "core/TextUtil.h"
#include "platform/FileSystem.h"
#include "formats/ZipFormat.h"
#include "zip/ZipCodePage.h"
#include "zip/ZipComment.h"
#include "zip/ZipMessages.h"
#include "zip/ZipSpanNames.h"

namespace fs = std::filesystem;

namespace {
const char kAppTitle[] = "Tandor File";

bool IsFile(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_regular_file(path, ec);
}
}  // namespace

// ---------------------------------------------------------------------------------------------
// Properties

void TZipKit::SetZipFileName(const std::string& name) {
  zipFileName_ = name;
  ReadDirectory();
}

void TZipKit::SetPassword(const std::string& password) { password_ = password.substr(0, 255); }

void TZipKit::SetDLLDirectory(const std::string& folder) {
  dllDirectory_ = folder;
  if (dllDirectory_.size() > 1 && dllDirectory_.back() == '/') dllDirectory_.pop_back();
}

void TZipKit::SetMinZipEngVers(int32_t v) {
  if (v >= kMinEngineVersion) minZipEngVers_ = v;
}

void TZipKit::SetMinUnzEngVers(int32_t v) {
  if (v >= kMinEngineVersion) minUnzEngVers_ = v;
}

void TZipKit::SetPasswordReqCount(uint32_t n) { passwordReqCount_ = std::min<uint32_t>(n, kMaxPasswordRepeat); }

// ---------------------------------------------------------------------------------------------
// Reporting

void TZipKit::ReportText(int32_t id, const std::string& text, bool display) {
  LastMessage = text;
  ErrCode = id;
  if (display && !Unattended) Prompt().ShowMessage(kAppTitle, text, TPromptIcon::None, TPromptButtons::Ok);
  if (OnMessage) OnMessage(this, 0, text);
}

void TZipKit::ReportMessage(int32_t id, const std::string& extra) { ReportText(id, ZipKitMessageText(id) + extra, true); }

void TZipKit::ReportException(const EZipKit& e) { ReportText(e.Id(), e.what(), e.DisplayMsg()); }

// ---------------------------------------------------------------------------------------------
// Internal routines

int TZipKit::EraseFile(const std::string& path, DeleteOpts mode) {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(path, ec))) return -1;
  if (mode == htdAllowUndo && MoveToTrash(path)) return 0;
  return ::unlink(path.c_str()) == 0 ? 0 : errno;
}

std::string TZipKit::MakeTempFileName(const std::string& prefix, const std::string& ext) {
  std::string dir;
  if (!TempDir.empty()) {
    if (TempDir.back() != '/') TempDir += '/';
    dir = TempDir;
  } else {
    std::error_code ec;
    dir = fs::temp_directory_path(ec).string();
    if (dir.empty()) dir = "/tmp";
    if (dir.back() != '/') dir += '/';
  }
  std::string pattern = dir + prefix + "XXXXXX";
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) return {};
  ::close(fd);
  ::unlink(pattern.c_str());
  return pattern + ext;
}

int32_t TZipKit::CopyFileData(int from, int to, int64_t count) {
  char buf[8192];
  while (count != 0) {
    const size_t want = count < 0 ? sizeof buf : static_cast<size_t>(std::min<int64_t>(count, sizeof buf));
    ssize_t got;
    do got = ::read(from, buf, want);
    while (got < 0 && errno == EINTR);
    if (got < 0) return -2;
    if (got == 0) return 0;
    size_t written = 0;
    while (written < static_cast<size_t>(got)) {
      const ssize_t w = ::write(to, buf + written, static_cast<size_t>(got) - written);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return -2;
      written += static_cast<size_t>(w);
    }
    if (count > 0) count -= got;
    if (ShowProgress && OnProgress) {
      try {
        OnProgress(this, PtAdvance, std::string(), got);
      } catch (...) {
        return -2;
      }
    }
    if (ProcessEvents) ProcessEvents();
  }
  return 0;
}

void TZipKit::StartWaitCursor() {
  if (waitCursorDepth_++ == 0 && OnWaitCursor) OnWaitCursor(true);
}

void TZipKit::EndWaitCursor() {
  if (waitCursorDepth_ > 0 && --waitCursorDepth_ == 0 && OnWaitCursor) OnWaitCursor(false);
}

// ---------------------------------------------------------------------------------------------
// Directory

ZipDirEntry TZipKit::DirEntry(int32_t index) const {
  if (index < 0 || index >= EntryCount())
    throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
  return entries_[static_cast<size_t>(index)];
}

std::string TZipKit::ArchiveComment() const {
  return CodePage == cpOEM ? OemToUtf8(comment_) : DecodeZipComment(comment_);
}

void TZipKit::ClearDirectoryState() {
  entries_.clear();
  entries_.shrink_to_fit();
  comment_.clear();
  endRecord_ = TZipEndRecord{};
  physicalSize_ = centralDirOffset_ = sfxOffset_ = endRecordOffset_ = fileEnd_ = 0;
  dirOnlyCount_ = 0;
  isSpanned_ = offsetMismatch_ = false;
  lastDisk_ = currentDisk_ = 0;
  splitParts_ = 1;
  lastHostSystem_ = lastVersionMadeBy_ = 0;
}

// Applies a scan of `input` to the component; raise mode throws when no end record is found.
void TZipKit::ScanEndRecordOf(const IArchiveInput& input, bool raiseMode, bool& found) {
  comment_.clear();
  endRecordOffset_ = 0;
  TEndRecordScan scan;
  const TEndScanStatus status = ScanEndRecord(input, scan);
  physicalSize_ = scan.PhysicalSize;
  fileEnd_ = scan.FileEnd;
  if (scan.StartsSpanSet) isSpanned_ = true;
  found = status == TEndScanStatus::Found;
  if (found) {
    endRecord_ = scan.Record;
    endRecordOffset_ = scan.EndRecordOffset;
    comment_ = scan.Comment;
    if (scan.Garbage) ReportMessage(10204);
    return;
  }
  if (!raiseMode) return;
  if (status == TEndScanStatus::SeekError) throw EZipKit(11008);
  if (status == TEndScanStatus::ReadError) throw EZipKit(11011);
  const int labelDisk = DiskNumberOfLabel(Media->VolumeLabel(zipFileName_));
  if (!scan.StartsSpanSet && labelDisk != 0) throw EZipKit(11038, labelDisk);
  if (!scan.StartsSpanSet) throw EZipKit(11036);
  if (labelDisk == 1) throw EZipKit(11037);
  throw EZipKit(11045);
}

bool TZipKit::ReadEndRecord(bool raiseMode) {
  comment_.clear();
  endRecordOffset_ = 0;
  int parts = 1;
  auto input = OpenArchiveInput(zipFileName_, parts);
  if (!input) {
    if (raiseMode) throw EZipKit(11001);
    ReportMessage(11002);
    return false;
  }
  if (parts > 1) isSpanned_ = true;
  bool found = false;
  ScanEndRecordOf(*input, raiseMode, found);
  return found;
}

// Supplies the other parts of a multi-disk set while the directory is read.
class TZipKit::TReadDisks : public IZipDiskProvider {
 public:
  explicit TReadDisks(TZipKit& kit) : kit_(kit) {}
  const IArchiveInput& GetDisk(int32_t n) override { return kit_.OpenDiskForRead(kit_.zipFileName_, n, input_); }

 private:
  TZipKit& kit_;
  std::unique_ptr<TArchiveFile> input_;
};

void TZipKit::AskForDisk(const std::string& name, int32_t disk) {
  if (Unattended) throw EZipKit(11025);
  const std::string drive = Media->DriveName(name);
  if (OnGetNextDisk) {
    bool abort = false;
    OnGetNextDisk(this, disk + 1, lastDisk_ + 1, drive, abort);
    if (abort) throw EZipKit(kMsgUserCanceled);
    return;
  }
  const bool last = disk < 0;
  const std::string text =
      last ? ZipKitMessageText(11033)
           : ZipKitFormat(11034, int64_t{disk} + 1, int64_t{lastDisk_} + 1) + ZipKitFormat(11035, drive);
  if (Prompt().ShowMessage(kAppTitle, text, last ? TPromptIcon::Error : TPromptIcon::Question,
                           TPromptButtons::OkCancel) != TPromptAnswer::Ok)
    throw EZipKit(kMsgUserCanceled);
}

const IArchiveInput& TZipKit::OpenDiskForRead(const std::string& name, int32_t disk, std::unique_ptr<TArchiveFile>& input) {
  input.reset();
  currentDisk_ = disk;
  const TDriveKind kind = Media->DriveKind(name);
  const bool numberedFiles = kind != TDriveKind::Removable;
  for (;;) {
    if (kind == TDriveKind::Removable || kind == TDriveKind::CdRom) {
      AskForDisk(name, disk);
      if (kind == TDriveKind::Removable && disk >= 0 &&
          DiskNumberOfLabel(Media->VolumeLabel(name)) != disk + 1)
        continue;
    }
    const std::string path = numberedFiles && disk >= 0 ? SplitPartName(name, disk, lastDisk_) : name;
    input = TArchiveFile::Open(path);
    if (input) return *input;
    if (kind == TDriveKind::Fixed || kind == TDriveKind::Network)
      throw EZipKit(11001, ZipKitMessageText(11001) + ": " + path, true);
    ReportMessage(11001);
  }
}

void TZipKit::ReadDirectory() {
  ClearDirectoryState();
  if (!IsFile(zipFileName_)) {
    if (OnDirUpdate) OnDirUpdate(this);
    return;
  }
  StartWaitCursor();
  bool failed = false;
  try {
    // Any part of an Info-ZIP set names the set: its last part holds the directory.
    const TSplitSet set = FindSplitSet(zipFileName_);
    if (set.Naming == TSplitNaming::InfoZip) zipFileName_ = set.LastPart;
    int parts = 1;
    auto input = OpenArchiveInput(zipFileName_, parts);
    if (!input) throw EZipKit(11001, ZipKitMessageText(11001) + ": " + zipFileName_, true);
    splitParts_ = parts;
    if (parts > 1) isSpanned_ = true;
    bool found = false;
    ScanEndRecordOf(*input, true, found);
    lastDisk_ = static_cast<int32_t>(std::min<uint32_t>(endRecord_.ThisDisk, INT32_MAX));
    currentDisk_ = lastDisk_;
    if (lastDisk_ != 0) isSpanned_ = true;

    TEndRecordScan scan;
    scan.Record = endRecord_;
    scan.EndRecordOffset = endRecordOffset_;
    scan.FileEnd = fileEnd_;
    scan.PhysicalSize = physicalSize_;
    TReadDisks disks(*this);
    TZipDirOptions options{UseDirOnlyEntries, CodePage};
    TZipDirEvents events;
    events.Warning = [this](int32_t id) { ReportMessage(id); };
    events.NewEntry = [this](int32_t seq, const ZipDirEntry& e) {
      if (OnNewName) OnNewName(this, seq, e);
    };
    TZipDirResult result;
    ReadCentralDirectory(scan, *input, &disks, options, events, result);
    entries_ = std::move(result.Entries);
    centralDirOffset_ = result.CentralDirOffset;
    sfxOffset_ = result.SFXOffset;
    fileEnd_ = result.FileEnd;
    dirOnlyCount_ = result.DirOnlyCount;
    offsetMismatch_ = result.OffsetMismatch;
    lastHostSystem_ = result.LastHostSystem;
    lastVersionMadeBy_ = result.LastVersionMadeBy;
  } catch (const EZipKit& e) {
    failed = true;
    ReportException(e);
  } catch (const std::bad_alloc&) {
    failed = true;
    ReportMessage(10103);
  } catch (const std::exception& e) {
    failed = true;
    ReportMessage(10202, e.what());
  }
  EndWaitCursor();
  if (failed) {
    zipFileName_.clear();
    entries_.clear();
    sfxOffset_ = 0;
  }
  if (OnDirUpdate) OnDirUpdate(this);
}

void TZipKit::SetArchiveComment(const std::string& text) {
  const std::string stored = CodePage == cpOEM ? Utf8ToOem(text) : EncodeZipComment(text);
  if (zipFileName_.empty()) {
    comment_.clear();
    ReportMessage(10102);
    return;
  }
  // A comment is never cut: one that does not fit leaves the archive's own.
  if (stored.size() > kMaxZipCommentBytes) {
    ReportMessage(11044, ": the tag takes " + FormatWithCommas(static_cast<int64_t>(stored.size())) +
                             " bytes; a zip comment holds at most 65,535");
    return;
  }
  comment_ = stored;
  bool writing = false;
  // A byte-split set keeps its end record in its last part.
  std::string file;
  int64_t recordOffset = endRecordOffset_;
  const bool located = LocateInPart(zipFileName_, zipfmt::kEndOfCentralSize + int64_t{endRecord_.CommentLength}, file, recordOffset);
  const int fd = located ? ::open(file.c_str(), O_RDWR | O_CLOEXEC) : -1;
  try {
    if (!located) throw EZipKit(11030);
    if (fd < 0) throw EZipKit(11001);
    uint8_t rec[zipfmt::kEndOfCentralSize];
    const ssize_t got = ::pread(fd, rec, sizeof rec, recordOffset);
    if (got < 0) throw EZipKit(11008);
    if (got != static_cast<ssize_t>(sizeof rec) || rec[0] != 0x50 || rec[1] != 0x4B || rec[2] != 0x05 || rec[3] != 0x06) throw EZipKit(11011);
    rec[20] = static_cast<uint8_t>(stored.size() & 0xFF);
    rec[21] = static_cast<uint8_t>(stored.size() >> 8);
    writing = true;
    if (::pwrite(fd, rec, sizeof rec, recordOffset) != static_cast<ssize_t>(sizeof rec)) throw EZipKit(11030);
    const int64_t commentPos = recordOffset + zipfmt::kEndOfCentralSize;
    if (!stored.empty() &&
        ::pwrite(fd, stored.data(), stored.size(), commentPos) != static_cast<ssize_t>(stored.size()))
      throw EZipKit(11010);
    const int64_t end = commentPos + static_cast<int64_t>(stored.size());
    if (::ftruncate(fd, end) != 0) throw EZipKit(11010);
    endRecord_.CommentLength = static_cast<uint16_t>(stored.size());
    fileEnd_ = physicalSize_ = endRecordOffset_ + zipfmt::kEndOfCentralSize + static_cast<int64_t>(stored.size());
    writing = false;
  } catch (const EZipKit& e) {
    ReportException(e);
    comment_.clear();
  }
  if (fd >= 0) ::close(fd);
  if (writing) ReadDirectory();
}
