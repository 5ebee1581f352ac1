#include "pages/unzip/ZipListing.h"

#include <unordered_map>

#include "pages/unzip/ArchiveNames.h"
#include "pages/unzip/RowSink.h"

int64_t FillZipListView(const std::vector<ZipDirEntry>& entries, TRowSink& sink) {
  const TDateText dates;
  std::unordered_map<uint32_t, QString> dateCache;  // archives repeat their dates a lot
  int64_t total = 0;
  std::string name;
  for (size_t i = 0; i < entries.size(); ++i) {
    if ((i & 4095) == 0 && sink.Cancelled()) break;
    const ZipDirEntry& e = entries[i];
    TListRow row;
    name = e.EntryName;
    ConvertSlashes(name);
    SplitEntryName(name, row.File, row.Path);
    row.SizeValue = static_cast<qint64>(e.UnpackedSize);
    row.Size = QString::number(e.UnpackedSize);
    auto [it, added] = dateCache.try_emplace(e.DosDateTime);
    if (added) it->second = dates.FromDos(e.DosDateTime);
    row.Date = it->second;
    row.DateValue = TDateText::DosSortKey(e.DosDateTime);
    total += static_cast<int64_t>(e.UnpackedSize);
    sink.Add(std::move(row));
  }
  return total;
}
