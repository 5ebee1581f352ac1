#pragma once
// Per-entry records used while a multi-disk set is copied to or from a single file.
#include <cstdint>
#include <string>
#include <vector>

struct TZipDataRecord {
  int32_t DiskStart = 0;        // disk holding the entry's local header
  int64_t RelOffLocal = 0;      // the entry's new local-header offset
  uint16_t FileNameLen = 0;     // stored name length
  std::string FileName;         // stored name (any length)
  uint64_t CompressedSize = 0;  // compressed size in bytes
};

class TMZipDataList {
 public:
  explicit TMZipDataList(int32_t count) : items_(count > 0 ? static_cast<size_t>(count) : 0) {}
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // Throws EZipKit "Index (%d) outside range 1..%d" when index is not below Count().
  TZipDataRecord& Items(int32_t index);
  // Case-insensitive search by stored name; throws EZipKit 11026 when none matches.
  int32_t IndexOf(const std::string& storedName) const;

 private:
  std::vector<TZipDataRecord> items_;
};
