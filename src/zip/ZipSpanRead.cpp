// TZipKit: joining a multi-part set (ours, Info-ZIP's and PKZIP's split sets, 7-Zip's byte splits)
// into one archive. The parts are read one after another, so that a set on removable media asks
// for each disk once in order; nothing is written under the output name unless the join succeeds.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <memory>

#include "formats/ZipFormat.h"
#include "core/TextUtil.h"
#include "zip/ZipKit.h"
#include "zip/ZipMessages.h"
#include "zip/ZipSpanIo.h"
#include "zip/ZipSpanNames.h"
#include "zip/ZipSpanRecords.h"

namespace fs = std::filesystem;

namespace {

const char kCentralDirectory[] = "Central directory";
constexpr uint32_t kSigSingleSegment = 0x30304b50;  // "PK00": a split set that ended in one part
constexpr size_t kBufferSize = 1 << 20;

// A message of the component with where in the set it happened.
EZipKit Failure(int32_t id, const std::string& where) {
  return EZipKit(id, ZipKitMessageText(id) + (where.empty() ? std::string() : "\n" + where), true);
}

// The joined archive, written through a buffer.
class TJoinOut {
 public:
  TJoinOut(TZipKit& kit, int fd) : kit_(kit), fd_(fd) { buffer_.reserve(kBufferSize); }
  int64_t Position() const { return position_; }

  void Write(const void* p, size_t n, int32_t errorId) {
    const char* c = static_cast<const char*>(p);
    if (buffer_.size() + n > kBufferSize) Flush(errorId);
    if (n >= kBufferSize) {
      if (!WriteFileBytes(fd_, c, n)) throw EZipKit(errorId);
    } else {
      buffer_.insert(buffer_.end(), c, c + n);
    }
    Advance(static_cast<int64_t>(n));
  }

  // Copies `n` bytes of `in` from `pos`; short input throws `readErrorId`.
  void Copy(int in, int64_t pos, int64_t n, int32_t readErrorId) {
    while (n > 0) {
      const int64_t k = std::min(n, kSpanCopyBlock);
      if (k <= 64 * 1024) {
        if (buffer_.size() + static_cast<size_t>(k) > kBufferSize) Flush(11010);
        const size_t at = buffer_.size();
        buffer_.resize(at + static_cast<size_t>(k));
        if (!ReadFileBytes(in, pos, buffer_.data() + at, static_cast<size_t>(k))) throw EZipKit(readErrorId);
      } else {
        Flush(11010);
        const int64_t got = CopyFileBytes(in, pos, fd_, k);
        if (got < 0 && (errno == ENOSPC || errno == EDQUOT || errno == EFBIG)) throw EZipKit(11010);
        if (got != k) throw EZipKit(readErrorId);
      }
      Advance(k);
      pos += k;
      n -= k;
    }
  }

  void Flush(int32_t errorId) {
    if (buffer_.empty()) return;
    if (!WriteFileBytes(fd_, buffer_.data(), buffer_.size())) throw EZipKit(errorId);
    buffer_.clear();
  }

 private:
  void Advance(int64_t n) {
    position_ += n;
    if (kit_.ShowProgress && kit_.OnProgress) kit_.OnProgress(&kit_, PtAdvance, std::string(), n);
    if (kit_.ProcessEvents) kit_.ProcessEvents();
    if (kit_.Cancel) throw EZipKit(kMsgUserCanceled);
  }

  TZipKit& kit_;
  int fd_;
  int64_t position_ = 0;
  std::vector<char> buffer_;
};

// The parts of a set read one after another as one stream. Positions are (part, offset).
class TSetStream {
 public:
  using TOpen = std::function<std::unique_ptr<TArchiveFile>(int32_t disk)>;
  using TName = std::function<std::string(int32_t disk)>;

  // `last` is the last part, already open; its bytes from `lastLimit` on (the end records) are not read.
  TSetStream(TOpen open, TName name, int32_t lastDisk, std::unique_ptr<TArchiveFile> last, int64_t lastLimit)
      : open_(std::move(open)), name_(std::move(name)), lastDisk_(lastDisk), lastLimit_(lastLimit),
        input_(std::move(last)), disk_(lastDisk) {
    size_ = lastLimit_;
  }

  int32_t Disk() const { return disk_; }
  std::string Where() const { return name_(disk_); }

  // Goes to `offset` of part `disk`; throws `errorId` when the part is shorter.
  void Seek(int32_t disk, int64_t offset, int32_t errorId) {
    if (disk != disk_) OpenPart(disk);
    if (offset < 0 || offset > size_) throw Failure(errorId, Where());
    offset_ = offset;
  }

  // True when the stream stands at (disk, offset), counting the end of a part as the start of the next.
  bool At(int32_t disk, int64_t offset) {
    while (disk_ < disk && offset_ == size_) OpenPart(disk_ + 1);
    return disk_ == disk && offset_ == offset;
  }

  void Read(void* dst, size_t n, int32_t errorId) {
    char* p = static_cast<char*>(dst);
    while (n > 0) {
      const int64_t k = Available(static_cast<int64_t>(n), errorId);
      if (input_->ReadAt(offset_, p, static_cast<size_t>(k)) != k) throw Failure(errorId, Where());
      offset_ += k;
      p += k;
      n -= static_cast<size_t>(k);
    }
  }

  void CopyTo(TJoinOut& out, int64_t n, int32_t errorId) {
    while (n > 0) {
      const int64_t k = Available(n, errorId);
      try {
        out.Copy(input_->Fd(), offset_, k, errorId);
      } catch (const EZipKit& e) {
        if (e.Id() == errorId) throw Failure(errorId, Where());
        throw;
      }
      offset_ += k;
      n -= k;
    }
  }

 private:
  // Bytes readable in the current part (moving to the next part at the end of one).
  int64_t Available(int64_t n, int32_t errorId) {
    while (offset_ == size_) {
      if (disk_ >= lastDisk_) throw Failure(errorId, Where());
      OpenPart(disk_ + 1);
    }
    return std::min(n, size_ - offset_);
  }

  void OpenPart(int32_t disk) {
    input_.reset();
    input_ = open_(disk);
    disk_ = disk;
    offset_ = 0;
    const int64_t size = static_cast<int64_t>(input_->Size());
    size_ = disk == lastDisk_ ? std::min(lastLimit_, size) : size;
  }

  TOpen open_;
  TName name_;
  int32_t lastDisk_;
  int64_t lastLimit_;
  std::unique_ptr<TArchiveFile> input_;
  int32_t disk_;
  int64_t offset_ = 0;
  int64_t size_ = 0;
};

// The part number a numbered part carries before its extension ("set003.zip" -> 3); 0 when none.
int PartNumberOfName(const std::string& name) {
  const std::string ext = ExtractFileExt(name);
  const std::string file = ExtractFileName(name);
  const std::string stem = file.substr(0, file.size() - ext.size());
  if (stem.size() < 3 || !IsAllDigits(stem.substr(stem.size() - 3))) return 0;
  return std::stoi(stem.substr(stem.size() - 3));
}

struct TJoinEntry {
  size_t Central;
  int32_t Disk;
  int64_t Offset;
};

timespec FileDate(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return timespec{0, UTIME_OMIT};
  return st.st_mtim;
}

}  // namespace

int32_t TZipKit::ReadSpannedArchive(const std::string& setName, std::string& outputName) {
  const bool wasBusy = unzipBusy_.exchange(true);
  StartWaitCursor();
  std::string finalName, workName;
  int outFd = -1;
  const int32_t result = RunSpanCopy(*this, [&] {
    // The output: a temporary archive, or the name given with the extension ".zip".
    if (outputName.empty() || outputName.back() == '/') {
      finalName = MakeTempFileName();
      if (finalName.empty()) throw EZipKit(11027);
    } else {
      const std::string ext = ExtractFileExt(outputName);
      finalName = outputName.substr(0, outputName.size() - ext.size()) + ".zip";
    }
    const fs::path finalPath(finalName);
    workName = (finalPath.parent_path() / ("." + finalPath.filename().string() + ".XXXXXX")).string();
    outFd = ::mkostemp(workName.data(), O_CLOEXEC);
    if (outFd < 0) {
      workName.clear();
      throw EZipKit(11009);
    }
    TJoinOut out(*this, outFd);

    // The last part, which holds the end record.
    currentDisk_ = -1;
    const TDriveKind kind = Media->DriveKind(setName);
    const bool removable = kind == TDriveKind::Removable || kind == TDriveKind::CdRom;
    std::unique_ptr<TArchiveFile> last;
    TEndRecordScan scan;
    std::string lastName = setName;
    TSplitSet set;
    if (removable) {
      for (;;) {
        AskForDisk(setName, -1);
        last = TArchiveFile::Open(setName);
        if (!last) {
          ReportMessage(11002);
          continue;
        }
        if (ScanEndRecord(*last, scan) == TEndScanStatus::Found) break;
      }
    } else {
      set = FindSplitSet(setName);
      lastName = set.LastPart;
      if (set.Naming != TSplitNaming::ByteSplit) {
        last = TArchiveFile::Open(lastName);
        if (!last) throw Failure(11001, lastName);
        if (ScanEndRecord(*last, scan) != TEndScanStatus::Found) {
          const int n = PartNumberOfName(lastName);
          if (n == 1) throw EZipKit(11037);
          if (n > 1) throw EZipKit(11038, n);
          throw Failure(11036, lastName);
        }
      }
    }
    const timespec date = FileDate(lastName);

    if (set.Naming == TSplitNaming::ByteSplit) {
      // 7-Zip's volumes: the archive is their concatenation.
      int64_t total = 0;
      for (const std::string& p : set.Parts) {
        struct stat st {};
        if (::stat(p.c_str(), &st) == 0) total += st.st_size;
      }
      ShowProgress = true;
      if (OnProgress) {
        OnProgress(this, PtTotalFiles, std::string(), static_cast<int64_t>(set.Parts.size()));
        OnProgress(this, PtTotalSize, std::string(), total);
      }
      for (const std::string& p : set.Parts) {
        auto part = TArchiveFile::Open(p);
        if (!part) throw Failure(11001, p);
        if (OnMessage) OnMessage(this, 0, ZipKitMessageText(10105) + ExtractFileName(p));
        if (OnProgress) OnProgress(this, PtNewFile, ExtractFileName(p), static_cast<int64_t>(part->Size()));
        try {
          out.Copy(part->Fd(), 0, static_cast<int64_t>(part->Size()), 11021);
        } catch (const EZipKit& e) {
          if (e.Id() == 11021) throw Failure(11021, p);
          throw;
        }
      }
      out.Flush(11010);
      ShowProgress = false;
      auto joined = TArchiveFile::Open(workName);
      if (!joined || ScanEndRecord(*joined, scan) != TEndScanStatus::Found) {
        if (set.Parts.size() == 1) throw EZipKit(11037);
        throw EZipKit(11038, static_cast<int64_t>(set.Parts.size()));
      }
    } else {
      const TZipEndRecord& rec = scan.Record;
      lastDisk_ = static_cast<int32_t>(std::min<uint32_t>(rec.ThisDisk, INT32_MAX));
      const int32_t lastDisk = lastDisk_;
      const int32_t dirDisk = static_cast<int32_t>(std::min<uint32_t>(rec.DirStartDisk, INT32_MAX));
      if (dirDisk > lastDisk) throw Failure(11008, lastName);
      std::string comment(rec.CommentLength, '\0');
      if (last->ReadAt(scan.EndRecordOffset + zipfmt::kEndOfCentralSize, comment.data(), comment.size()) !=
          static_cast<int64_t>(comment.size()))
        throw Failure(11023, lastName);

      auto partName = [&](int32_t disk) {
        if (removable) return "disk " + std::to_string(disk + 1) + " (" + setName + ")";
        return SplitPartName(lastName, disk, lastDisk);
      };
      auto openPart = [&](int32_t disk) {
        std::unique_ptr<TArchiveFile> input;
        OpenDiskForRead(lastName, disk, input);
        return input;
      };
      TSetStream stream(openPart, partName, lastDisk, std::move(last), scan.EndRecordOffset - rec.Zip64Bytes);

      // First pass: the whole directory into memory (it may run over several parts).
      stream.Seek(dirDisk, static_cast<int64_t>(std::min<uint64_t>(rec.DirOffset, INT64_MAX)), 11008);
      std::string dir;
      for (uint64_t left = rec.DirSize; left > 0;) {
        const size_t k = static_cast<size_t>(std::min<uint64_t>(left, 1 << 16));
        const size_t at = dir.size();
        dir.resize(at + k);
        stream.Read(dir.data() + at, k, 11013);
        left -= k;
      }
      std::vector<TSpanCentral> centrals;
      try {
        centrals = ParseCentralHeaders(dir, rec.TotalEntries);
      } catch (const EZipKit& e) {
        throw Failure(e.Id(), stream.Where());
      }
      dir = std::string();
      std::vector<TJoinEntry> order(centrals.size());
      int64_t totalBytes = static_cast<int64_t>(rec.DirSize) + zipfmt::kEndOfCentralSize + rec.CommentLength;
      for (size_t i = 0; i < centrals.size(); ++i) {
        const TSpanCentral& c = centrals[i];
        if (c.Disk > static_cast<uint32_t>(lastDisk) || c.LocalOffset > static_cast<uint64_t>(INT64_MAX / 2))
          throw Failure(11008, partName(lastDisk));
        order[i] = {i, static_cast<int32_t>(c.Disk), static_cast<int64_t>(c.LocalOffset)};
        totalBytes += static_cast<int64_t>(zipfmt::kLocalHeaderSize + c.Name.size() +
                                           std::min<uint64_t>(c.CompressedSize, INT64_MAX / 4));
      }
      std::sort(order.begin(), order.end(), [](const TJoinEntry& a, const TJoinEntry& b) {
        return a.Disk != b.Disk ? a.Disk < b.Disk : a.Offset < b.Offset;
      });

      // Second pass: every entry from the first part on, in the order they were written.
      stream.Seek(0, 0, 11031);
      char marker[4];
      stream.Read(marker, sizeof marker, 11031);
      if (zipfmt::Get32(marker) != zipfmt::kSpanMarkerSig && zipfmt::Get32(marker) != kSigSingleSegment)
        throw Failure(11031, stream.Where());
      ShowProgress = true;
      if (OnProgress) {
        OnProgress(this, PtTotalFiles, std::string(), static_cast<int64_t>(centrals.size()));
        OnProgress(this, PtTotalSize, std::string(), totalBytes);
      }
      std::vector<int64_t> newOffset(centrals.size());
      for (const TJoinEntry& e : order) {
        const TSpanCentral& c = centrals[e.Central];
        // Each entry must follow the previous one: a missing, cut or padded part shows here.
        if (!stream.At(e.Disk, e.Offset)) throw Failure(11012, partName(e.Disk));
        char h[zipfmt::kLocalHeaderSize];
        stream.Read(h, sizeof h, 11012);
        if (zipfmt::Get32(h) != zipfmt::kLocalHeaderSig) throw Failure(11014, stream.Where());
        const uint16_t flags = zipfmt::Get16(h + 6);
        std::string name(zipfmt::Get16(h + 26), '\0');
        stream.Read(name.data(), name.size(), 11016);
        // The local header must be the one the directory describes (a part of another set is not).
        const uint32_t localC = zipfmt::Get32(h + 18);
        if (name != c.Name ||
            ((flags & zipfmt::kFlagDataDescriptor) == 0 &&
             (zipfmt::Get32(h + 14) != c.Crc ||
              (localC != 0 && localC != zipfmt::kMax32 && localC != static_cast<uint32_t>(c.CompressedSize)))))
          throw Failure(11026, stream.Where());
        std::string extra(zipfmt::Get16(h + 28), '\0');
        stream.Read(extra.data(), extra.size(), 11018);
        const std::string shown = ConvertStoredText(name, c.Flags, 0, 0, CodePage);
        if (OnMessage) OnMessage(this, 0, ZipKitMessageText(10105) + shown);
        if (OnProgress)
          OnProgress(this, PtNewFile, shown,
                     static_cast<int64_t>(sizeof h + name.size() + extra.size() +
                                          std::min<uint64_t>(c.CompressedSize, INT64_MAX / 4)));
        newOffset[e.Central] = out.Position();
        out.Write(h, sizeof h, 11028);
        out.Write(name.data(), name.size(), 11028);
        out.Write(extra.data(), extra.size(), 11028);
        stream.CopyTo(out, static_cast<int64_t>(c.CompressedSize), 11021);
        if (flags & zipfmt::kFlagDataDescriptor) {
          // With or without its signature; 8-byte sizes with Zip64.
          const bool zip64 = c.Zip64Sizes || zipfmt::FindExtra(extra, zipfmt::kExtraZip64).has_value();
          char d[24];
          stream.Read(d, 4, 11020);
          const bool signed_ = zipfmt::Get32(d) == zipfmt::kDataDescriptorSig;
          const size_t size = (signed_ ? 4 : 0) + 4 + (zip64 ? 16 : 8);
          stream.Read(d + 4, size - 4, 11020);
          if (zipfmt::Get32(d + (signed_ ? 4 : 0)) != c.Crc) throw Failure(11020, stream.Where());
          out.Write(d, size, 11020);
        }
      }
      if (!stream.At(dirDisk, static_cast<int64_t>(rec.DirOffset))) throw Failure(11021, partName(dirDisk));
      ShowProgress = false;

      // The directory again, every local header now on part 0 of one file.
      if (OnMessage) OnMessage(this, 0, ZipKitMessageText(10105) + kCentralDirectory);
      if (OnProgress) OnProgress(this, PtNewFile, kCentralDirectory, static_cast<int64_t>(rec.DirSize));
      TZipEndRecord end;
      end.DirOffset = static_cast<uint64_t>(out.Position());
      end.EntriesThisDisk = end.TotalEntries = centrals.size();
      for (size_t i = 0; i < centrals.size(); ++i) {
        const std::string h = RelocatedCentralHeader(centrals[i], 0, static_cast<uint64_t>(newOffset[i]));
        out.Write(h.data(), h.size(), 11029);
        end.DirSize += h.size();
      }
      const std::string records = SpanEndRecords(end, static_cast<uint64_t>(out.Position()), comment);
      out.Write(records.data(), records.size(), 11030);
      out.Flush(11030);
    }

    const timespec times[2] = {date, date};
    ::futimens(outFd, times);
    const int fd = outFd;
    outFd = -1;
    if (::close(fd) != 0) throw EZipKit(11010);
    EraseFile(finalName, HowToDelete);
    if (::rename(workName.c_str(), finalName.c_str()) != 0) throw Failure(11009, finalName);
    workName.clear();
    outputName = finalName;
  });
  ShowProgress = false;
  if (outFd >= 0) ::close(outFd);
  if (!workName.empty()) ::unlink(workName.c_str());
  if (result != 0) outputName.clear();
  if (OnProgress) OnProgress(this, PtBatchEnd, std::string(), 0);
  unzipBusy_ = wasBusy;
  EndWaitCursor();
  return result;
}
