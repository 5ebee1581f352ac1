#include "pages/unzip/ZipListing.h"

#include "core/TextUtil.h"

bool TRowMaker::Make(const TArchiveEntry& e, TListRow& row) {
  name_ = e.Name;
  ConvertSlashes(name_);
  SplitEntryName(name_, row.File, row.Path);
  row.SizeValue = static_cast<qint64>(e.Size);
  row.Size = sizes_(static_cast<qint64>(e.Size));
  if (dosDates_) {
    auto [it, added] = dateCache_.try_emplace(int64_t{e.DosTime});
    if (added) it->second = dates_.FromDos(e.DosTime);
    row.Date = it->second;
    row.DateValue = TDateText::DosSortKey(e.DosTime);
  } else {
    auto [it, added] = dateCache_.try_emplace(-1 - e.Time);
    if (added) it->second = dates_.FromUnix(e.Time);
    row.Date = it->second;
    row.DateValue = e.Time;
  }
  row.Id = static_cast<qint64>(e.Id);
  return !row.File.isEmpty();
}
