// TZipKit: copying a single-file archive onto the parts of a multi-part set (removable media, or
// numbered files on a fixed drive).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "formats/ZipFormat.h"
#include "core/Prompt.h"
#include "core/TextUtil.h"
#include "zip/ZipKit.h"
#include "zip/ZipMessages.h"
#include "zip/ZipSpanIo.h"
#include "zip/ZipSpanNames.h"
#include "zip/ZipSpanRecords.h"

namespace fs = std::filesystem;

namespace {

const char kAppTitle[] = "Tandor File";
const char kCentralDirectory[] = "Central directory";
constexpr size_t kBufferSize = 1 << 20;

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// Keeps room on removable media for what the file system needs beside the data.
int64_t MediumReserve(int64_t freeBytes) { return std::clamp<int64_t>(freeBytes / 100, 0, 1 << 20); }

// The parts being written: asks for media, checks them, keeps the free space, splits the bytes.
// Each part is written under a temporary name beside its final name; a part on a removable medium
// gets its name when it is complete, the parts on a fixed drive all at the end.
class TSpanOut {
 public:
  TSpanOut(TZipKit& kit, std::string target, int64_t archiveSize, const timespec& date)
      : kit_(kit), target_(std::move(target)), archiveSize_(archiveSize), date_(date) {
    kind_ = kit_.Media->DriveKind(target_);
    removable_ = kind_ == TDriveKind::Removable;
    mountPoint_ = kit_.Media->DriveName(target_);
    buffer_.reserve(kBufferSize);
  }
  ~TSpanOut() { Abandon(); }

  int32_t Part() const { return part_; }
  int64_t BytesOnPart() const { return bytesOnPart_ + static_cast<int64_t>(buffer_.size()); }

  // Makes sure `n` bytes fit on the current part, moving to the next part when they do not.
  void Reserve(int64_t n) {
    if (fd_ < 0) {
      OpenPart(n);
    } else if (free_ < n) {
      NextPart();
      OpenPart(n);
    }
  }

  // Writes bytes that may run over into the next parts.
  void Write(const char* p, int64_t n) {
    while (n > 0) {
      const int64_t k = Room(n);
      if (buffer_.size() + static_cast<size_t>(k) > kBufferSize) Flush();
      buffer_.insert(buffer_.end(), p, p + k);
      Advance(k);
      p += k;
      n -= k;
    }
  }

  // Copies `n` bytes of `fd` from `pos`, running over into the next parts as needed.
  void Copy(int fd, int64_t pos, int64_t n) {
    while (n > 0) {
      const int64_t k = Room(std::min(n, kSpanCopyBlock));
      if (k <= 64 * 1024) {
        if (buffer_.size() + static_cast<size_t>(k) > kBufferSize) Flush();
        const size_t at = buffer_.size();
        buffer_.resize(at + static_cast<size_t>(k));
        if (!ReadFileBytes(fd, pos, buffer_.data() + at, static_cast<size_t>(k))) throw EZipKit(11021);
      } else {
        Flush();
        const int64_t got = CopyFileBytes(fd, pos, fd_, k);
        if (got < 0) throw EZipKit(errno == ENOSPC || errno == EDQUOT ? 11010 : 11021);
        if (got < k) throw EZipKit(11021);
        bytesOnPart_ += k;
      }
      Advance(k);
      pos += k;
      n -= k;
    }
  }

  // Closes the last part and gives every part its final name.
  void Finish() {
    ClosePart();
    for (auto& [temp, final] : pending_)
      if (::rename(temp.c_str(), final.c_str()) != 0) throw EZipKit(11009, ZipKitMessageText(11009) + ": " + final, true);
    pending_.clear();
    finished_ = true;
  }

  // Removes the part being written and, on a fixed drive, every part of this run.
  void Abandon() {
    if (finished_) return;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!tempName_.empty()) ::unlink(tempName_.c_str());
    tempName_.clear();
    for (auto& [temp, final] : pending_) ::unlink(temp.c_str());
    pending_.clear();
    buffer_.clear();
  }

 private:
  // How many of `n` bytes go on the current part (at least one; opens parts as needed).
  int64_t Room(int64_t n) {
    CheckCancel();
    for (;;) {
      if (fd_ < 0) OpenPart(0);
      if (free_ > 0) return std::min(n, free_);
      NextPart();
    }
  }

  void CheckCancel() {
    if (kit_.ProcessEvents) kit_.ProcessEvents();
    if (kit_.Cancel) throw EZipKit(kMsgUserCanceled);
  }

  void Advance(int64_t n) {
    free_ -= n;
    if (kit_.ShowProgress && kit_.OnProgress) kit_.OnProgress(&kit_, PtAdvance, std::string(), n);
  }

  void Flush() {
    if (buffer_.empty()) return;
    if (!WriteFileBytes(fd_, buffer_.data(), buffer_.size())) throw EZipKit(11010);
    bytesOnPart_ += static_cast<int64_t>(buffer_.size());
    buffer_.clear();
  }

  void NextPart() {
    ClosePart();
    ++part_;
    bytesOnPart_ = 0;
  }

  void ClosePart() {
    if (fd_ < 0) return;
    Flush();
    const timespec times[2] = {date_, date_};
    ::futimens(fd_, times);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) throw EZipKit(11010);
    if (removable_) {
      if (::rename(tempName_.c_str(), partName_.c_str()) != 0) throw EZipKit(11009, ZipKitMessageText(11009) + ": " + partName_, true);
    } else {
      pending_.emplace_back(tempName_, partName_);
    }
    tempName_.clear();
  }

  // --- Questions ------------------------------------------------------------------------------

  // Asks for the medium of the current part until one is mounted where the target's medium was.
  void AskForDisk() {
    if (kit_.Unattended) throw EZipKit(11025);
    int64_t freeBytes = 0, total = 0;
    int64_t mediumSize = kit_.Media->Space(target_, freeBytes, total) ? total : 0;
    if (kit_.MaxVolumeSize > 0 && (mediumSize <= 0 || kit_.MaxVolumeSize < mediumSize)) mediumSize = kit_.MaxVolumeSize;
    int64_t estimate = 0;
    if (mediumSize > 0) estimate = std::max<int64_t>(part_, (archiveSize_ + kit_.KeepFreeOnDisk1 + 4) / mediumSize) + 1;
    const std::string text = (estimate > 0 ? ZipKitFormat(11034, int64_t{part_} + 1, estimate)
                                           : ZipKitFormat(11046, int64_t{part_} + 1)) +
                             ZipKitFormat(11035, mountPoint_);
    for (;;) {
      if (kit_.OnGetNextDisk) {
        bool abort = false;
        kit_.OnGetNextDisk(&kit_, part_ + 1, static_cast<int32_t>(estimate), mountPoint_, abort);
        if (abort) throw EZipKit(kMsgUserCanceled);
      } else if (Prompt().ShowMessage(kAppTitle, text, TPromptIcon::Question, TPromptButtons::OkCancel) !=
                 TPromptAnswer::Ok) {
        throw EZipKit(kMsgUserCanceled);
      }
      // The medium must be a removable one mounted where the first was.
      if (kit_.Media->DriveKind(target_) == TDriveKind::Removable && kit_.Media->DriveName(target_) == mountPoint_)
        return;
    }
  }

  TZipDiskAction AskStatus(int32_t previousDisk, const std::string& file, TZipDiskStatus status,
                           const std::string& text) {
    TZipDiskAction action = zdaCancel;
    if (kit_.OnStatusDisk) {
      action = zdaOk;
      kit_.OnStatusDisk(&kit_, previousDisk, file, status, action);
    } else {
      switch (Prompt().ShowMessage("Confirm", text, TPromptIcon::Warning, TPromptButtons::YesNoCancel)) {
        case TPromptAnswer::Yes: action = zdaOk; break;
        case TPromptAnswer::No: action = zdaReject; break;
        default: action = zdaCancel; break;
      }
    }
    lastStatusAnswer_ = action;
    return action;
  }

  // Erases the medium after a confirmation that names it; a refused erase cancels the run.
  void EraseMedium() {
    const std::string refusal = kit_.Media->EraseRefusal(mountPoint_);
    if (!refusal.empty()) throw EZipKit(kMsgUserCanceled, "The medium is not erased: " + refusal, true);
    TMediumContents contents;
    kit_.Media->Contents(mountPoint_, contents);
    const std::string label = kit_.Media->VolumeLabel(target_);
    const std::string text = "Erase " + mountPoint_ + "\nLabel: " + (label.empty() ? "(none)" : label) + "\n" +
                             FormatWithCommas(contents.Files) + " files, " + FormatWithCommas(contents.Bytes) +
                             " bytes will be deleted.";
    if (Prompt().ShowMessage("Confirm", text, TPromptIcon::Warning, TPromptButtons::YesNo) != TPromptAnswer::Yes)
      throw EZipKit(kMsgUserCanceled);
    std::string error;
    const TEraseNotice notice = [this](const std::string& path, bool folder) {
      if (kit_.Trace && kit_.OnMessage)
        kit_.OnMessage(&kit_, 0, std::string(folder ? "EraseFloopy - Removing " : "EraseFloopy - Deleting ") + path);
    };
    if (!kit_.Media->Erase(mountPoint_, notice, error))
      throw EZipKit(kMsgUserCanceled, "The medium could not be erased: " + error, true);
    if (!kit_.Media->SetVolumeLabel(target_, SpanLabel(part_ + 1).substr(0, 11))) throw EZipKit(11005);
  }

  // Opens the current part: asks for its medium, erases it, asks before replacing a file there,
  // and checks that at least `need` bytes (and the smallest part allowed) fit on it.
  void OpenPart(int64_t need) {
    const int64_t keep = part_ == 0 ? kit_.KeepFreeOnDisk1 : 0;
    const int64_t minimum = std::max<int64_t>(kit_.MinFreeVolumeSize, need);
    // A limit no medium can meet.
    if (kit_.MaxVolumeSize > 0 && kit_.MaxVolumeSize - keep < minimum) throw EZipKit(11032);
    for (;;) {
      if (removable_) AskForDisk();
      partName_ = removable_ ? target_ : SpanWritePartName(target_, part_ + 1);
      if (removable_ && (kit_.AddOptions.Has(AddDiskSpanErase)) && (!kit_.OnGetNextDisk || lastStatusAnswer_ == zdaErase))
        EraseMedium();
      if (FileExists(partName_)) {
        if (kit_.Unattended) throw EZipKit(11025);
        struct stat st {};
        ::stat(partName_.c_str(), &st);
        int32_t labelDisk = DiskNumberOfLabel(kit_.Media->VolumeLabel(partName_));
        if (labelDisk == 0) labelDisk = 1;
        // FAT keeps times to two seconds.
        const bool sameDate = std::llabs(static_cast<long long>(st.st_mtim.tv_sec - date_.tv_sec)) <= 2;
        const bool previous = sameDate && labelDisk - 1 < part_;
        TMediumContents contents;
        const bool empty = removable_ && kit_.Media->Contents(mountPoint_, contents) && contents.Files == 0;
        const TZipDiskStatus status = (previous ? zdsPreviousDisk : zdsSameFileName) | (empty ? zdsEmpty : zdsHasFiles);
        const std::string text =
            previous ? ZipKitFormat(11040, labelDisk) : ZipKitFormat(11039, ExtractFileName(partName_));
        const TZipDiskAction action = AskStatus(labelDisk, partName_, status, text);
        if (action == zdaCancel) throw EZipKit(kMsgUserCanceled);
        if (action == zdaReject) {
          // Another medium; on a fixed drive there is none to ask for.
          if (!removable_) throw EZipKit(kMsgUserCanceled);
          bytesOnPart_ = 0;
          continue;
        }
        // Replacing on a removable medium: the old file's room is needed now.
        if (removable_ && ::unlink(partName_.c_str()) != 0) throw EZipKit(11009, ZipKitMessageText(11009) + ": " + partName_, true);
      }
      CreateTemp();
      int64_t freeBytes = 0, total = 0;
      free_ = kit_.Media->Space(partName_, freeBytes, total) ? freeBytes : 0;
      if (removable_) free_ -= MediumReserve(free_);
      if (kit_.MaxVolumeSize > 0 && kit_.MaxVolumeSize < free_) free_ = kit_.MaxVolumeSize;
      free_ -= keep;
      if (free_ < minimum) {
        DropTemp();
        if (kit_.Unattended) throw EZipKit(11025);
        if (kit_.OnStatusDisk) {
          if (AskStatus(0, partName_, zdsNotEnoughSpace, std::string()) == zdaCancel) throw EZipKit(kMsgUserCanceled);
        } else if (Prompt().ShowMessage(kAppTitle, ZipKitMessageText(11032), TPromptIcon::Error,
                                        TPromptButtons::RetryCancel) != TPromptAnswer::Retry) {
          throw EZipKit(kMsgUserCanceled);
        }
        bytesOnPart_ = 0;
        continue;
      }
      if (removable_) {
        if (!kit_.Media->SetVolumeLabel(partName_, SpanLabel(part_ + 1))) {
          DropTemp();
          throw EZipKit(11005);
        }
        // A label kept in a file takes room too.
        if (kit_.Media->Space(partName_, freeBytes, total)) free_ = std::min(free_, freeBytes - MediumReserve(freeBytes) - keep);
      }
      bytesOnPart_ = 0;
      return;
    }
  }

  void CreateTemp() {
    const fs::path final(partName_);
    std::error_code ec;
    if (removable_ && final.has_parent_path()) fs::create_directories(final.parent_path(), ec);
    std::string pattern = (final.parent_path() / ("." + final.filename().string() + ".XXXXXX")).string();
    fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ < 0) throw EZipKit(11009, ZipKitMessageText(11009) + ": " + partName_, true);
    ::fchmod(fd_, 0644 & ~CurrentUmask());
    tempName_ = pattern;
  }

  void DropTemp() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    ::unlink(tempName_.c_str());
    tempName_.clear();
  }

  static mode_t CurrentUmask() {
    const mode_t m = ::umask(022);
    ::umask(m);
    return m;
  }

  TZipKit& kit_;
  const std::string target_;
  const int64_t archiveSize_;
  const timespec date_;
  TDriveKind kind_ = TDriveKind::Fixed;
  bool removable_ = false;
  std::string mountPoint_;
  int32_t part_ = 0;
  int64_t bytesOnPart_ = 0;  // flushed bytes of the current part
  int64_t free_ = 0;         // bytes that may still go on the current part
  int fd_ = -1;
  std::string partName_, tempName_;
  std::vector<std::pair<std::string, std::string>> pending_;
  std::vector<char> buffer_;
  TZipDiskAction lastStatusAnswer_ = zdaOk;
  bool finished_ = false;
};

// One entry of the source archive, in file order.
struct TSourceEntry {
  size_t Central = 0;     // index of its central header
  int64_t Start = 0;      // its local header
  int64_t End = 0;        // where the next entry (or the directory) begins
};

}  // namespace

int32_t TZipKit::WriteSpannedArchive(const std::string& source, const std::string& target) {
  const bool wasBusy = zipBusy_.exchange(true);
  StartWaitCursor();
  int src = -1;
  std::unique_ptr<TSpanOut> out;
  const int32_t result = RunSpanCopy(*this, [&] {
    auto input = TArchiveFile::Open(source);
    if (!input) throw EZipKit(11001);
    TEndRecordScan scan;
    const TEndScanStatus status = ScanEndRecord(*input, scan);
    if (status == TEndScanStatus::SeekError) throw EZipKit(11008);
    if (status == TEndScanStatus::ReadError) throw EZipKit(11011);
    if (status != TEndScanStatus::Found || scan.Record.ThisDisk != 0 || scan.Record.DirStartDisk != 0)
      throw EZipKit(11036);
    src = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (src < 0 || ::fstat(src, &st) != 0) throw EZipKit(11001);
    const TZipEndRecord& rec = scan.Record;

    // The directory, found from the end as the reader does; a stub in front shifts every offset.
    const int64_t dirStart = scan.FileEnd - static_cast<int64_t>(std::min<uint64_t>(rec.DirSize, INT64_MAX / 2)) -
                             rec.CommentLength - zipfmt::kEndOfCentralSize - rec.Zip64Bytes;
    if (dirStart < 0) throw EZipKit(11008);
    const int64_t shift = dirStart - static_cast<int64_t>(std::min<uint64_t>(rec.DirOffset, INT64_MAX / 2));
    std::string dirBytes(static_cast<size_t>(rec.DirSize), '\0');
    if (!ReadFileBytes(src, dirStart, dirBytes.data(), dirBytes.size())) throw EZipKit(11013);
    const std::vector<TSpanCentral> centrals = ParseCentralHeaders(dirBytes, rec.TotalEntries);
    dirBytes = std::string();
    std::string comment(rec.CommentLength, '\0');
    if (!ReadFileBytes(src, scan.EndRecordOffset + zipfmt::kEndOfCentralSize, comment.data(), comment.size()))
      throw EZipKit(11023);

    std::vector<TSourceEntry> order(centrals.size());
    for (size_t i = 0; i < centrals.size(); ++i) {
      order[i].Central = i;
      order[i].Start = static_cast<int64_t>(std::min<uint64_t>(centrals[i].LocalOffset, INT64_MAX / 2)) + shift;
    }
    std::sort(order.begin(), order.end(), [](const TSourceEntry& a, const TSourceEntry& b) { return a.Start < b.Start; });
    for (size_t k = 0; k < order.size(); ++k) {
      order[k].End = k + 1 < order.size() ? order[k + 1].Start : dirStart;
      // Local records that overlap or lie outside the data cannot be copied.
      if (order[k].Start < 0 || order[k].End - order[k].Start < static_cast<int64_t>(zipfmt::kLocalHeaderSize))
        throw EZipKit(11012);
    }

    out = std::make_unique<TSpanOut>(*this, target, scan.FileEnd, st.st_mtim);
    std::string marker;
    zipfmt::Put32(marker, zipfmt::kSpanMarkerSig);
    out->Reserve(static_cast<int64_t>(marker.size()));
    out->Write(marker.data(), static_cast<int64_t>(marker.size()));
    ShowProgress = true;
    if (OnProgress) {
      OnProgress(this, PtTotalFiles, std::string(), static_cast<int64_t>(centrals.size()));
      OnProgress(this, PtTotalSize, std::string(), scan.FileEnd);
    }

    std::vector<std::pair<int32_t, int64_t>> placed(centrals.size());
    for (const TSourceEntry& e : order) {
      const TSpanCentral& c = centrals[e.Central];
      char h[zipfmt::kLocalHeaderSize];
      if (!ReadFileBytes(src, e.Start, h, sizeof h)) throw EZipKit(11012);
      if (zipfmt::Get32(h) != zipfmt::kLocalHeaderSig) throw EZipKit(11014);
      const int64_t nameLen = zipfmt::Get16(h + 26), extraLen = zipfmt::Get16(h + 28);
      const int64_t headerSize = static_cast<int64_t>(sizeof h) + nameLen + extraLen;
      std::string name(static_cast<size_t>(nameLen), '\0');
      if (!ReadFileBytes(src, e.Start + static_cast<int64_t>(sizeof h), name.data(), name.size())) throw EZipKit(11016);
      if (e.End - e.Start < headerSize) throw EZipKit(11018);
      if (static_cast<uint64_t>(e.End - e.Start - headerSize) < c.CompressedSize) throw EZipKit(11021);
      const std::string shown = ConvertStoredText(name, c.Flags, 0, 0, CodePage);
      if (OnMessage) OnMessage(this, 0, ZipKitMessageText(10105) + shown);
      if (OnProgress) OnProgress(this, PtNewFile, shown, e.End - e.Start);
      out->Reserve(headerSize);
      placed[e.Central] = {out->Part(), out->BytesOnPart()};
      out->Copy(src, e.Start, e.End - e.Start);
    }

    if (OnMessage) OnMessage(this, 0, ZipKitMessageText(10105) + kCentralDirectory);
    if (OnProgress)
      OnProgress(this, PtNewFile, kCentralDirectory,
                 static_cast<int64_t>(rec.DirSize) + rec.CommentLength + zipfmt::kEndOfCentralSize);
    TZipEndRecord end;
    end.TotalEntries = centrals.size();
    for (size_t i = 0; i < centrals.size(); ++i) {
      const std::string h = RelocatedCentralHeader(centrals[i], static_cast<uint32_t>(placed[i].first),
                                                   static_cast<uint64_t>(placed[i].second));
      const int32_t before = out->Part();
      out->Reserve(static_cast<int64_t>(h.size()));
      if (i == 0) {
        end.DirStartDisk = static_cast<uint32_t>(out->Part());
        end.DirOffset = static_cast<uint64_t>(out->BytesOnPart());
      }
      if (out->Part() != before) end.EntriesThisDisk = 0;
      ++end.EntriesThisDisk;
      end.DirSize += h.size();
      out->Write(h.data(), static_cast<int64_t>(h.size()));
    }
    const int32_t lastDirPart = out->Part();
    out->Reserve(static_cast<int64_t>(SpanEndRecordsSize(end, comment.size())));
    if (centrals.empty()) {
      end.DirStartDisk = static_cast<uint32_t>(out->Part());
      end.DirOffset = static_cast<uint64_t>(out->BytesOnPart());
    }
    if (out->Part() != lastDirPart) end.EntriesThisDisk = 0;
    end.ThisDisk = static_cast<uint32_t>(out->Part());
    const std::string records = SpanEndRecords(end, static_cast<uint64_t>(out->BytesOnPart()), comment);
    out->Write(records.data(), static_cast<int64_t>(records.size()));
    ShowProgress = false;
    out->Finish();
    lastDisk_ = out->Part();
  });
  ShowProgress = false;
  out.reset();  // abandons an unfinished set
  if (OnProgress) OnProgress(this, PtBatchEnd, std::string(), 0);
  if (src >= 0) ::close(src);
  zipBusy_ = wasBusy;
  EndWaitCursor();
  return result;
}

std::string TZipKit::SpannedSetName(const std::string& target) {
  const TDriveKind kind = Media->DriveKind(target);
  return kind == TDriveKind::Fixed || kind == TDriveKind::Network ? SpanWritePartName(target, lastDisk_ + 1) : target;
}
