#include "zip/ZipSpanNames.h"

#include <sys/stat.h>

#include <climits>
#include <cstdio>

#include "core/TextUtil.h"
#include "zip/ZipMedia.h"

namespace {

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string Stem(const std::string& name, const std::string& ext) { return name.substr(0, name.size() - ext.size()); }

// ".z01", ".Z17", ".z100": Info-ZIP's parts before the last.
bool IsInfoZipPartExt(const std::string& ext) {
  return ext.size() >= 4 && (ext[1] == 'z' || ext[1] == 'Z') && IsAllDigits(std::string_view(ext).substr(2));
}

// ".001", ".0002": byte-split parts.
bool IsByteSplitExt(const std::string& ext) { return ext.size() >= 4 && IsAllDigits(std::string_view(ext).substr(1)); }

std::string InfoZipPart(const std::string& stem, bool upper, int32_t number) {
  char buf[16];
  std::snprintf(buf, sizeof buf, ".%c%02d", upper ? 'Z' : 'z', number);
  return stem + buf;
}

// The last part of an Info-ZIP set named by one of its ".zNN" parts, or by its ".zip" with a ".z01" beside.
bool InfoZipLastPart(const std::string& name, std::string& last) {
  const std::string ext = ExtractFileExt(name);
  const std::string stem = Stem(name, ext);
  if (IsInfoZipPartExt(ext)) {
    const bool upper = ext[1] == 'Z';
    last = stem + (upper ? ".ZIP" : ".zip");
    if (!Exists(last) && Exists(stem + (upper ? ".zip" : ".ZIP"))) last = stem + (upper ? ".zip" : ".ZIP");
    return true;
  }
  if (EqualsNoCase(ext, ".zip") && (Exists(InfoZipPart(stem, false, 1)) || Exists(InfoZipPart(stem, true, 1)))) {
    last = name;
    return true;
  }
  return false;
}

}  // namespace

TSplitSet FindSplitSet(const std::string& name) {
  TSplitSet set;
  set.LastPart = name;
  if (InfoZipLastPart(name, set.LastPart)) {
    set.Naming = TSplitNaming::InfoZip;
    return set;
  }
  const std::string ext = ExtractFileExt(name);
  if (!IsByteSplitExt(ext)) return set;
  const std::string stem = Stem(name, ext);
  const int width = static_cast<int>(ext.size()) - 1;
  for (int n = 1;; ++n) {
    char buf[32];
    std::snprintf(buf, sizeof buf, ".%0*d", width, n);
    if (!Exists(stem + buf)) break;
    set.Parts.push_back(stem + buf);
  }
  bool given = false;
  for (const std::string& p : set.Parts) given = given || p == name;
  if (!given) {
    set.Parts.clear();
    return set;
  }
  set.Naming = TSplitNaming::ByteSplit;
  set.LastPart = set.Parts.back();
  return set;
}

std::string SplitPartName(const std::string& lastPart, int32_t disk, int32_t lastDisk) {
  if (disk == lastDisk) return lastPart;
  const std::string ext = ExtractFileExt(lastPart);
  if (EqualsNoCase(ext, ".zip")) {
    // Info-ZIP naming when its first part, or the one before the last, lies beside the last part.
    const std::string stem = Stem(lastPart, ext);
    for (bool upper : {false, true})
      for (int32_t probe : {1, lastDisk})
        if (probe >= 1 && Exists(InfoZipPart(stem, upper, probe))) return InfoZipPart(stem, upper, disk + 1);
  }
  return SpanPartFileName(lastPart, disk + 1);
}

std::string SpanWritePartName(const std::string& target, int partNumber) {
  const std::string ext = ExtractFileExt(target);
  char digits[16];
  std::snprintf(digits, sizeof digits, "%03d", partNumber);
  return Stem(target, ext) + digits + ext;
}

std::unique_ptr<TZipPartsInput> TZipPartsInput::Open(const std::vector<std::string>& parts) {
  std::unique_ptr<TZipPartsInput> in(new TZipPartsInput);
  int64_t start = 0;
  for (const std::string& p : parts) {
    auto f = TArchiveFile::Open(p);
    if (!f) return nullptr;
    in->starts_.push_back(start);
    start += static_cast<int64_t>(f->Size());
    in->parts_.push_back(std::move(f));
  }
  in->starts_.push_back(start);
  return in;
}

int64_t TZipPartsInput::ReadAt(uint64_t pos, void* dst, size_t n) const {
  if (pos > uint64_t(INT64_MAX)) return -1;
  size_t done = 0;
  for (size_t i = 0; i < parts_.size() && done < n; ++i) {
    const int64_t at = int64_t(pos) + static_cast<int64_t>(done);
    if (at >= starts_[i + 1]) continue;
    const size_t want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n - done), starts_[i + 1] - at));
    const int64_t got = parts_[i]->ReadAt(at - starts_[i], static_cast<char*>(dst) + done, want);
    if (got < 0) return -1;
    done += static_cast<size_t>(got);
    if (static_cast<size_t>(got) < want) break;  // the part shrank since it was opened
  }
  return static_cast<int64_t>(done);
}

std::unique_ptr<IArchiveInput> OpenArchiveInput(const std::string& name, int& parts) {
  parts = 1;
  const TSplitSet set = FindSplitSet(name);
  if (set.Naming == TSplitNaming::ByteSplit) {
    parts = static_cast<int>(set.Parts.size());
    return TZipPartsInput::Open(set.Parts);
  }
  return TArchiveFile::Open(name);
}

bool LocateInPart(const std::string& name, int64_t recordSize, std::string& file, int64_t& offset) {
  file = name;
  const TSplitSet set = FindSplitSet(name);
  if (set.Naming != TSplitNaming::ByteSplit) return true;
  int64_t start = 0;
  for (const std::string& p : set.Parts) {
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0) return false;
    const int64_t size = static_cast<int64_t>(st.st_size);
    if (offset < start + size) {
      if (offset + recordSize > start + size) return false;
      file = p;
      offset -= start;
      return true;
    }
    start += size;
  }
  return false;
}
