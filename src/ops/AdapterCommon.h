#pragma once
// Shared by the adapters (not part of the layer's interface).
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "ops/ArchiveAdapter.h"

std::unique_ptr<IArchiveAdapter> MakeZipAdapter();
std::unique_ptr<IArchiveAdapter> MakeTarAdapter(bool gzipped);
std::unique_ptr<IArchiveAdapter> MakeGzipAdapter();
std::unique_ptr<IArchiveAdapter> MakeRarAdapter();

// The name an entry is written under once cleaned (the safe-output library's rule); empty when
// nothing is left.
std::string CleanedEntryName(const std::string& name);
// True when cleaning changes where the name leads (the security question's test).
bool CleaningChangesName(const std::string& name);

// MS-DOS date-times (local time) to seconds since 1970, one time-zone lookup per hour of the
// archive's times: entries of a listing share their hours, and the lookup costs.
class TDosTimes {
 public:
  int64_t ToUnix(uint32_t dosDateTime);

 private:
  std::unordered_map<uint32_t, int64_t> hours_;
};
