#include "ZipEngine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <set>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <unordered_map>

#include "Compressor.h"
#include "OutputArchive.h"
#include "SourceCollector.h"
#include "platform/FileSystem.h"
#include "Wildcard.h"
#include "ZipAttributes.h"
#include "ZipCrypto.h"
#include "formats/ZipDirectory.h"
#include "formats/ZipNames.h"
#include "ZipTime.h"

namespace zipeng {
namespace {

using zipfmt::CentralDirectory;
using zipfmt::CentralEntry;
using zipfmt::EntryFields;
using zipfmt::LocalInfo;

// Local headers of files this size or more carry Zip64 sizes (compressed output may exceed the input).
constexpr uint64_t kLocalZip64Threshold = 0xFF000000ull;

// The archive being changed, when it exists.
struct Existing {
  TArchiveFile file;
  CentralDirectory dir;
  std::vector<LocalInfo> local;
  std::string path;  // resolved path written over
  int mode = -1;
  bool present = false;
};

std::string ResolveTarget(const std::string& path) {
  char buf[PATH_MAX];
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && ::realpath(path.c_str(), buf)) return buf;
  return path;
}

// Opens and checks the archive at `path`. Missing or empty: a new archive. Reports failures.
bool OpenExisting(const std::string& path, Existing& ex, Host& host, bool mustExist) {
  ex.path = ResolveTarget(path);
  struct stat st {};
  if (::stat(ex.path.c_str(), &st) != 0) {
    if (errno == ENOENT && !mustExist) return true;
    host.Message(kCodeMissingZip, "zip file not found: " + path);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    host.Message(kCodeStructure, path + " is not a regular file");
    return false;
  }
  ex.mode = int(st.st_mode & 07777);
  if (st.st_size == 0 && !mustExist) return true;
  std::string err;
  if (!ex.file.Open(ex.path, err)) {
    host.Message(kCodeMissingZip, err);
    return false;
  }
  if (!zipfmt::ReadCentralDirectory(ex.file, ex.dir, err)) {
    host.Message(kCodeStructure, "invalid zip archive " + path + ": " + err);
    return false;
  }
  // Bytes after the end record are not ours to drop or to move: refuse before anything is written.
  // (Bytes in front, a self-extractor stub, are kept.)
  if (ex.dir.garbage) {
    host.Message(kCodeStructure, path + ": " + std::to_string(ex.file.Size() - ex.dir.fileEnd) +
                                     " bytes of other data follow the end of the zip archive; it was not changed");
    return false;
  }
  ex.local.resize(ex.dir.entries.size());
  for (size_t i = 0; i < ex.dir.entries.size(); ++i) {
    if (!zipfmt::LocateEntryData(ex.file, ex.dir, ex.dir.entries[i], ex.local[i], err)) {
      host.Message(kCodeStructure, "invalid zip archive " + path + ": " + err);
      return false;
    }
  }
  if (!zipfmt::CheckNoOverlaps(ex.dir, ex.local, err)) {
    host.Message(kCodeStructure, "invalid zip archive " + path + ": " + err);
    return false;
  }
  ex.present = true;
  return true;
}

// Copies an entry of the existing archive unchanged (its compressed bytes, local header and data
// descriptor) and records its central header at the new position.
bool CopyEntry(Existing& ex, size_t index, OutputArchive& out) {
  const LocalInfo& li = ex.local[index];
  EntryFields e = ex.dir.entries[index];
  e.localHeaderOffset = out.Offset();
  if (!out.CopyFrom(ex.file.Fd(), li.headerStart, li.recordEnd - li.headerStart)) return false;
  out.AddCentral(e);
  return true;
}

// Writes the bytes in front of the first entry (a self-extracting program's stub and settings) unchanged.
// Offsets that already count from the start of the file put them before the first local header;
// offsets that count from the zip data put them in the prefix; an empty archive has them before its
// directory.
bool CopyPrefix(Existing& ex, OutputArchive& out) {
  if (!ex.present) return true;
  uint64_t lead = ex.dir.cdStart;
  for (const LocalInfo& li : ex.local) lead = std::min(lead, li.headerStart);
  if (lead == 0) return true;
  return out.CopyFrom(ex.file.Fd(), 0, lead);
}

time_t EntryTime(const EntryFields& e) {
  time_t t;
  if (auto ut = zipfmt::FindExtra(e.extra, zipfmt::kExtraExtTime); ut && zipfmt::ReadExtTimeMtime(*ut, t)) return t;
  return zipfmt::DosToUnix(e.dosDate, e.dosTime);
}

bool EndsWithNoCase(const std::string& s, const std::string& suffix) {
  if (suffix.size() > s.size()) return false;
  for (size_t i = 0; i < suffix.size(); ++i)
    if (std::tolower(uint8_t(s[s.size() - suffix.size() + i])) != std::tolower(uint8_t(suffix[i]))) return false;
  return true;
}

// Runs the host's End() once, whatever way the operation leaves.
struct EndGuard {
  Host& host;
  ~EndGuard() { host.End(); }
};

// What the new archive holds, in order.
struct PlanEntry {
  enum class Kind { Copy, Source } kind;
  size_t oldIndex = SIZE_MAX;  // existing entry (copied, or replaced by the source)
  size_t item = SIZE_MAX;      // index into the collected sources
};

class Adder {
 public:
  Adder(const AddSettings& s, Host& host) : s_(s), host_(host) {}

  int Run() {
    if (s_.archivePath.empty()) {
      host_.Message(kCodeParams, "no zip file specified");
      return 0;
    }
    if (!OpenExisting(s_.archivePath, ex_, host_, false)) return 0;
    if (!CollectSources()) return 0;
    if (!Plan()) return 0;
    if (work_ == 0) {
      host_.Message(kCodeNothingToDo, "nothing to do: no files were added to " + s_.archivePath);
      return 0;
    }
    if (!ResolvePasswords()) return 0;
    int written = Write();
    if (written <= 0) return 0;
    AfterCommit();
    return written;
  }

 private:
  bool CollectSources() {
    SourceCollector collector(s_, [this](const std::string& name, int reason, const std::string& why) {
      bool go = host_.Skipped(name, reason, kCodeOpen);
      return host_.Message(kCodeOpen, why) && go;
    });
    if (!collector.Collect(items_)) {
      Cancelled();
      return false;
    }
    walked_ = collector.WalkedFolders();
    return true;
  }

  void Cancelled() { host_.Message(kCodeInterrupted, "operation cancelled; " + s_.archivePath + " left unchanged"); }

  bool Plan() {
    std::unordered_map<std::string, size_t> byName;
    for (size_t i = 0; i < ex_.dir.entries.size(); ++i)
      byName.emplace(zipfmt::NormalizeEntryName(ex_.dir.entries[i].name), i);
    std::vector<size_t> replacement(ex_.dir.entries.size(), SIZE_MAX);
    std::vector<size_t> added;
    for (size_t k = 0; k < items_.size(); ++k) {
      const SourceItem& it = items_[k];
      if (s_.fromDate && it.mtime < *s_.fromDate) continue;
      auto found = byName.find(it.storedName);
      if (found == byName.end() && it.isDir) found = byName.find(it.storedName.substr(0, it.storedName.size() - 1));
      if (found != byName.end()) {
        if (it.isDir) continue;  // the folder entry is there already
        if (s_.update || s_.freshen) {
          const EntryFields& old = ex_.dir.entries[found->second];
          bool newer = it.mtime > EntryTime(old) &&
                       zipfmt::UnixToDos(it.mtime).Packed() > ((uint32_t(old.dosDate) << 16) | old.dosTime);
          if (!newer) continue;
        }
        if (replacement[found->second] == SIZE_MAX) replacement[found->second] = k;
      } else {
        if (s_.freshen && !s_.update) continue;
        added.push_back(k);
      }
    }
    for (size_t i = 0; i < ex_.dir.entries.size(); ++i) {
      if (replacement[i] == SIZE_MAX) {
        plan_.push_back({PlanEntry::Kind::Copy, i, SIZE_MAX});
      } else {
        plan_.push_back({PlanEntry::Kind::Source, i, replacement[i]});
        ++work_;
      }
    }
    for (size_t k : added) {
      plan_.push_back({PlanEntry::Kind::Source, SIZE_MAX, k});
      ++work_;
    }
    return true;
  }

  bool ResolvePasswords() {
    passwords_.assign(items_.size(), std::string());
    bool asked = false;
    std::string archivePassword = s_.password;
    for (const PlanEntry& p : plan_) {
      if (p.kind != PlanEntry::Kind::Source || items_[p.item].isDir || items_[p.item].isLink) continue;
      const SourceSpec& spec = s_.specs[items_[p.item].specIndex];
      if (spec.crypt == SourceSpec::Crypt::Own) {
        passwords_[p.item] = spec.password;
      } else if (spec.crypt == SourceSpec::Crypt::Archive) {
        if (archivePassword.empty() && !asked) {
          asked = true;
          if (!host_.AskPassword(true, archivePassword)) {
            Cancelled();
            return false;
          }
        }
        if (archivePassword.empty()) {
          host_.Message(kCodeNoPassword, "no password given for encryption; nothing was added");
          return false;
        }
        passwords_[p.item] = archivePassword;
      }
    }
    return true;
  }

  bool StoreOnly(const SourceItem& it) const {
    if (s_.level <= 0) return true;
    for (const std::string& suffix : s_.storeSuffixes)
      if (EndsWithNoCase(it.fullPath, suffix)) return true;
    return false;
  }

  EntryFields FieldsFor(const SourceItem& it) const {
    EntryFields e;
    zipfmt::EncodedName n = zipfmt::EncodeEntryName(it.storedName, s_.oemNames);
    e.rawName = n.raw;
    e.flags = n.utf8Flag ? zipfmt::kFlagUtf8 : 0;
    zipfmt::DosDateTime dt = zipfmt::UnixToDos(it.mtime);
    e.dosTime = dt.time;
    e.dosDate = dt.date;
    e.externalAttr = zipfmt::ExternalAttrFromUnix(it.mode, it.hidden);
    e.extra = zipfmt::MakeExtTimeExtra(it.mtime);
    e.method = zipfmt::kMethodStored;
    e.versionNeeded = zipfmt::kVersionStored;
    return e;
  }

  bool Fail(int code, const std::string& text) {
    host_.Message(code, text);
    return false;
  }

  // Falls back after a source could not be read: the old entry stays, or the file is left out.
  bool SourceFailed(const PlanEntry& p, const std::string& error) {
    const SourceItem& it = items_[p.item];
    if (!host_.Skipped(it.storedName, kSkipUnreadable, kCodeRead)) return false;
    if (!host_.Message(kCodeRead, error)) return false;
    if (p.oldIndex != SIZE_MAX && !CopyEntry(ex_, p.oldIndex, out_)) return Fail(kCodeWrite, out_.LastError());
    return true;
  }

  int Write() {
    std::string err;
    if (!out_.Create(ex_.path, err)) {
      host_.Message(kCodeCreate, err);
      return 0;
    }
    // Tasks for every file to read, in plan order.
    std::vector<CompressTask> tasks;
    std::vector<size_t> taskOfItem(items_.size(), SIZE_MAX);
    int64_t totalSize = 0;
    for (const PlanEntry& p : plan_) {
      if (p.kind != PlanEntry::Kind::Source) continue;
      const SourceItem& it = items_[p.item];
      totalSize += int64_t(it.size);
      if (it.isDir || it.isLink) continue;
      CompressTask t;
      t.path = it.fullPath;
      t.size = it.size;
      t.deflate = !StoreOnly(it);
      t.level = s_.level;
      if (Compressor::IsWhole(t)) t.password = passwords_[p.item];
      taskOfItem[p.item] = tasks.size();
      tasks.push_back(std::move(t));
    }
    if (!host_.TotalFiles(work_) || !host_.TotalSize(totalSize)) {
      Cancelled();
      return 0;
    }
    Compressor compressor(std::move(tasks), s_.threads);
    if (!CopyPrefix(ex_, out_)) {
      host_.Message(kCodeWrite, out_.LastError());
      return 0;
    }
    int written = 0;
    for (const PlanEntry& p : plan_) {
      if (p.kind == PlanEntry::Kind::Copy) {
        if (!CopyEntry(ex_, p.oldIndex, out_)) {
          host_.Message(kCodeWrite, "cannot write the new archive: " + out_.LastError());
          return 0;
        }
        continue;
      }
      const SourceItem& it = items_[p.item];
      if (!host_.NewFile(it.storedName, int64_t(it.size))) {
        Cancelled();
        return 0;
      }
      bool ok = it.isDir ? WriteFolder(it) : it.isLink ? WriteLink(it) : WriteFile(p, compressor);
      if (!ok) {
        if (!stopped_ && !writeFailed_) host_.Message(kCodeWrite, "cannot write the new archive: " + out_.LastError());
        if (stopped_) Cancelled();
        return 0;
      }
      if (!failedItems_.count(p.item)) {
        ++written;
        doneItems_.push_back(p.item);
      }
    }
    std::string comment = s_.comment ? *s_.comment : ex_.dir.comment;
    if (!out_.Finish(comment)) {
      host_.Message(kCodeWrite, "cannot write the new archive: " + out_.LastError());
      return 0;
    }
    if (written == 0) {
      host_.Message(kCodeNothingToDo, "nothing to do: no files were added to " + s_.archivePath);
      return 0;
    }
    if (!out_.Commit(ex_.present, ex_.mode, err)) {
      host_.Message(kCodeWrite, err);
      return 0;
    }
    return written;
  }

  bool WriteFolder(const SourceItem& it) {
    EntryFields e = FieldsFor(it);
    e.localHeaderOffset = out_.Offset();
    if (!out_.Write(zipfmt::BuildLocalHeader(e, false))) return false;
    out_.AddCentral(e);
    return true;
  }

  // A symbolic link: its target stored as the data, the link mode in the Unix attributes (`zip -y`).
  bool WriteLink(const SourceItem& it) {
    EntryFields e = FieldsFor(it);
    e.localHeaderOffset = out_.Offset();
    e.crc32 = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(it.linkTarget.data()), uInt(it.linkTarget.size())));
    e.uncompressedSize = e.compressedSize = it.linkTarget.size();
    if (!out_.Write(zipfmt::BuildLocalHeader(e, false)) || !out_.Write(it.linkTarget)) return WriteFailed();
    out_.AddCentral(e);
    if (s_.verbose) Verbose(e);
    return host_.Progress(int64_t(it.size)) || Stopped();
  }

  bool WriteFile(const PlanEntry& p, Compressor& compressor) {
    const SourceItem& it = items_[p.item];
    Piece piece;
    if (!compressor.Next(piece)) return false;
    EntryFields e = FieldsFor(it);
    e.localHeaderOffset = out_.Offset();
    const std::string& password = passwords_[p.item];
    if (!password.empty()) {
      e.flags |= zipfmt::kFlagEncrypted;
      e.versionNeeded = zipfmt::kVersionDeflate;
    }
    if (piece.whole) {
      if (!piece.ok) {
        failedItems_.insert(p.item);
        if (!SourceFailed(p, piece.error)) return StopOrFail();
        return true;
      }
      e.method = piece.deflated ? zipfmt::kMethodDeflated : zipfmt::kMethodStored;
      if (piece.deflated) e.versionNeeded = zipfmt::kVersionDeflate;
      e.crc32 = piece.crc;
      e.uncompressedSize = piece.inputSize;
      e.compressedSize = piece.data.size();
      if (!out_.Write(zipfmt::BuildLocalHeader(e, false)) || !out_.Write(piece.data)) return WriteFailed();
      out_.AddCentral(e);
      if (s_.verbose) Verbose(e);
      if (!host_.Progress(int64_t(piece.inputSize))) return Stopped();
      return true;
    }
    // A large file in pieces: header now, sizes patched at the end.
    bool zip64 = it.size >= kLocalZip64Threshold;
    bool deflate = piece.deflated;
    e.method = deflate ? zipfmt::kMethodDeflated : zipfmt::kMethodStored;
    if (deflate) e.versionNeeded = zipfmt::kVersionDeflate;
    if (!password.empty()) e.flags |= zipfmt::kFlagDataDescriptor;
    std::string header = zipfmt::BuildLocalHeader(e, zip64);
    uint64_t headerAt = out_.Offset();
    if (!out_.Write(header)) return WriteFailed();
    std::unique_ptr<zipfmt::ZipCrypto> crypt;
    if (!password.empty()) {
      crypt = std::make_unique<zipfmt::ZipCrypto>(password);
      uint8_t h[zipfmt::kCryptHeaderSize];
      crypt->MakeHeader(h, uint8_t(e.dosTime >> 8));
      if (!out_.Write(h, sizeof h)) return WriteFailed();
      e.compressedSize += sizeof h;
    }
    uLong crc = 0;
    for (bool first = true;; first = false) {
      if (!first && !compressor.Next(piece)) return false;
      if (!piece.ok) {
        // Drain this file's remaining pieces, drop what was written of it, keep the old entry.
        while (!piece.last && compressor.Next(piece)) {
        }
        failedItems_.insert(p.item);
        if (!out_.Truncate(headerAt)) return WriteFailed();
        if (!SourceFailed(p, piece.error)) return StopOrFail();
        return true;
      }
      if (crypt) crypt->Encrypt(reinterpret_cast<uint8_t*>(piece.data.data()), piece.data.size());
      if (!out_.Write(piece.data)) return WriteFailed();
      crc = crc32_combine(crc, piece.crc, z_off_t(piece.inputSize));
      e.uncompressedSize += piece.inputSize;
      e.compressedSize += piece.data.size();
      if (!host_.Progress(int64_t(piece.inputSize))) return Stopped();
      if (piece.last) break;
    }
    e.crc32 = uint32_t(crc);
    if (!zip64 && (e.compressedSize >= zipfmt::kMax32 || e.uncompressedSize >= zipfmt::kMax32)) {
      host_.Message(kCodeRead, it.fullPath + " grew past the size announced in its header");
      writeFailed_ = true;
      return false;
    }
    zipfmt::PatchLocalSizes(header, e, zip64);
    if (!out_.PatchAt(headerAt, header.data(), header.size())) return WriteFailed();
    if (e.flags & zipfmt::kFlagDataDescriptor) {
      if (!out_.Write(zipfmt::BuildDataDescriptor(e, zip64))) return WriteFailed();
    }
    out_.AddCentral(e);
    if (s_.verbose) Verbose(e);
    return true;
  }

  void Verbose(const EntryFields& e) {
    int pct = e.uncompressedSize ? int(100 - (e.compressedSize * 100) / e.uncompressedSize) : 0;
    host_.Message(0, std::string("  adding: ") + e.rawName +
                         (e.method == zipfmt::kMethodDeflated ? " (deflated " + std::to_string(pct) + "%)"
                                                              : std::string(" (stored 0%)")));
  }

  bool WriteFailed() {
    host_.Message(kCodeWrite, "cannot write the new archive: " + out_.LastError());
    writeFailed_ = true;
    return false;
  }
  bool Stopped() {
    stopped_ = true;
    return false;
  }
  bool StopOrFail() {
    if (!writeFailed_) stopped_ = true;
    return false;
  }

  // Moves the new archive's time to its newest entry; deletes moved sources.
  void AfterCommit() {
    if (s_.zipTime && out_.CentralCount() > 0) {
      time_t newest = 0;
      for (const PlanEntry& p : plan_) {
        time_t t = 0;
        if (p.kind == PlanEntry::Kind::Source && !failedItems_.count(p.item))
          t = items_[p.item].mtime;
        else if (p.oldIndex != SIZE_MAX)
          t = EntryTime(ex_.dir.entries[p.oldIndex]);
        newest = std::max(newest, t);
      }
      struct timespec times[2] = {{0, UTIME_OMIT}, {newest, 0}};
      utimensat(AT_FDCWD, ex_.path.c_str(), times, 0);
    }
    if (!s_.move) return;
    for (size_t k : doneItems_) {
      const SourceItem& it = items_[k];
      if (it.isDir) continue;
      if (s_.trashMoved) {
        std::string err;
        if (!MoveToTrash(it.fullPath, err)) host_.Message(kCodeWrite, "moved file " + it.fullPath + " kept: " + err);
      } else if (::unlink(it.fullPath.c_str()) != 0) {
        host_.Message(kCodeWrite, "cannot delete moved file " + it.fullPath + ": " + std::strerror(errno));
      }
    }
    for (auto d = walked_.rbegin(); d != walked_.rend(); ++d) ::rmdir(d->c_str());  // only empty ones go
  }

  const AddSettings& s_;
  Host& host_;
  Existing ex_;
  std::vector<SourceItem> items_;
  std::vector<std::string> walked_;
  std::vector<PlanEntry> plan_;
  std::vector<std::string> passwords_;
  std::vector<size_t> doneItems_;
  std::set<size_t> failedItems_;
  int64_t work_ = 0;
  OutputArchive out_;
  bool stopped_ = false;
  bool writeFailed_ = false;
};

bool DeleteMatches(const std::string& pattern, const std::string& name) {
  if (zipfmt::WildcardMatch(pattern, name)) return true;
  return !name.empty() && name.back() == '/' && zipfmt::WildcardMatch(pattern, name.substr(0, name.size() - 1));
}

// The entries of an archive by name, for delete specifications: a specification that is an entry's
// name takes that entry (a folder entry's name may leave out its "/"), even when it holds "*" or "?";
// any other is a pattern over every name.
class EntryNames {
 public:
  explicit EntryNames(const std::vector<CentralEntry>& entries) : names_(entries.size()) {
    for (size_t i = 0; i < entries.size(); ++i) {
      names_[i] = zipfmt::NormalizeEntryName(entries[i].name);
      byName_[names_[i]].push_back(i);
    }
  }
  void Mark(const std::string& spec, std::vector<char>& marks) const {
    auto exact = byName_.find(spec);
    if (exact == byName_.end() && (spec.empty() || spec.back() != '/')) exact = byName_.find(spec + "/");
    if (exact != byName_.end()) {
      for (size_t i : exact->second) marks[i] = 1;
      return;
    }
    if (!zipfmt::HasWildcards(spec)) return;
    for (size_t i = 0; i < names_.size(); ++i)
      if (!marks[i] && DeleteMatches(spec, names_[i])) marks[i] = 1;
  }

 private:
  std::vector<std::string> names_;
  std::unordered_map<std::string, std::vector<size_t>> byName_;
};

}  // namespace

int Add(const AddSettings& settings, Host& host) {
  EndGuard end{host};
  try {
    Adder adder(settings, host);
    return adder.Run();
  } catch (const std::bad_alloc&) {
    host.Message(kCodeMemory, "out of memory; " + settings.archivePath + " left unchanged");
  } catch (const std::exception& e) {
    host.Message(kCodeStructure, std::string("internal error: ") + e.what());
  }
  return 0;
}

int Delete(const DeleteSettings& s, Host& host) {
  EndGuard end{host};
  try {
    if (s.archivePath.empty()) {
      host.Message(kCodeParams, "no zip file specified");
      return 0;
    }
    Existing ex;
    if (!OpenExisting(s.archivePath, ex, host, true)) return 0;
    const size_t n = ex.dir.entries.size();
    EntryNames names(ex.dir.entries);
    std::vector<char> hit(n, 0), kept(n, 0);
    for (const std::string& p : s.specs)
      if (!p.empty()) names.Mark(zipfmt::NormalizeEntryName(p), hit);
    for (const std::string& p : s.exclusions)
      if (!p.empty()) names.Mark(zipfmt::NormalizeEntryName(p), kept);
    std::vector<bool> remove(n, false);
    int count = 0;
    for (size_t i = 0; i < n; ++i) {
      if (hit[i] && !kept[i]) {
        remove[i] = true;
        ++count;
      }
    }
    if (count == 0) {
      host.Message(kCodeNothingToDo, "nothing to do: no entries of " + s.archivePath + " match");
      return 0;
    }
    if (!host.TotalFiles(count)) {
      host.Message(kCodeInterrupted, "operation cancelled; " + s.archivePath + " left unchanged");
      return 0;
    }
    OutputArchive out;
    std::string err;
    if (!out.Create(ex.path, err)) {
      host.Message(kCodeCreate, err);
      return 0;
    }
    if (!CopyPrefix(ex, out)) {
      host.Message(kCodeWrite, out.LastError());
      return 0;
    }
    for (size_t i = 0; i < ex.dir.entries.size(); ++i) {
      if (remove[i]) {
        if (!host.NewFile(ex.dir.entries[i].name, int64_t(ex.dir.entries[i].uncompressedSize)) ||
            (s.verbose && !host.Message(0, "deleting: " + ex.dir.entries[i].name))) {
          host.Message(kCodeInterrupted, "operation cancelled; " + s.archivePath + " left unchanged");
          return 0;
        }
        continue;
      }
      if (!CopyEntry(ex, i, out)) {
        host.Message(kCodeWrite, "cannot write the new archive: " + out.LastError());
        return 0;
      }
    }
    if (!out.Finish(ex.dir.comment) || !out.Commit(true, ex.mode, err)) {
      host.Message(kCodeWrite, err.empty() ? "cannot write the new archive: " + out.LastError() : err);
      return 0;
    }
    return count;
  } catch (const std::bad_alloc&) {
    host.Message(kCodeMemory, "out of memory; " + s.archivePath + " left unchanged");
  } catch (const std::exception& e) {
    host.Message(kCodeStructure, std::string("internal error: ") + e.what());
  }
  return 0;
}

}  // namespace zipeng
