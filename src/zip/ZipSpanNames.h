#pragma once
// Names of the parts of a multi-part zip set on a fixed drive, and reading a byte-split set as one
// file. Three namings are known:
//  - numbered: our own sets, "archive001.zip", "archive002.zip", ... (the end record on the last);
//  - Info-ZIP (zip -s) and PKZIP split sets: "archive.z01", "archive.z02", ..., "archive.zip";
//  - byte splits (7-Zip -v): "archive.zip.001", "archive.zip.002", ... whose concatenation is an
//    ordinary archive.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zip/ZipDirReader.h"

enum class TSplitNaming { Numbered, InfoZip, ByteSplit };

struct TSplitSet {
  TSplitNaming Naming = TSplitNaming::Numbered;
  std::string LastPart;            // the file that holds the end record
  std::vector<std::string> Parts;  // byte splits: every part in order, from ".001" while they exist
};

// The set that `name` belongs to, judged by its name and its siblings; any part of an Info-ZIP or
// byte-split set names the set. Every other name is a numbered set's last part (or a plain archive).
TSplitSet FindSplitSet(const std::string& name);

// Part `disk` (0-based) of the set whose last part, number `lastDisk`, is `lastPart`.
std::string SplitPartName(const std::string& lastPart, int32_t disk, int32_t lastDisk);

// The part file a set being written gets on a fixed drive: the 3-digit part number (1-based) put
// before the extension ("archive.zip", 2 -> "archive002.zip").
std::string SpanWritePartName(const std::string& target, int partNumber);

// The byte-split parts read as one file.
class TZipPartsInput : public IArchiveInput {
 public:
  // Null when a part cannot be opened.
  static std::unique_ptr<TZipPartsInput> Open(const std::vector<std::string>& parts);
  uint64_t Size() const override { return starts_.empty() ? 0 : uint64_t(starts_.back()); }
  int64_t ReadAt(uint64_t pos, void* dst, size_t n) const override;

 private:
  std::vector<std::unique_ptr<TArchiveFile>> parts_;
  std::vector<int64_t> starts_;  // start of each part, then the total size
};

// Opens an archive for reading: a byte-split set as the concatenation of its parts (`parts` gets
// their count), anything else as the file itself (`parts` 1). Null when it cannot be opened.
std::unique_ptr<IArchiveInput> OpenArchiveInput(const std::string& name, int& parts);

// Where the end record at `offset` of the archive `name` lies on disk: for a byte-split set the
// part holding it and the offset within that part. False when the record is not whole in one part.
bool LocateInPart(const std::string& name, int64_t recordSize, std::string& file, int64_t& offset);
