#include "zip/ZipDataList.h"

#include "core/TextUtil.h"
#include "zip/ZipKitTypes.h"

TZipDataRecord& TMZipDataList::Items(int32_t index) {
  if (index < 0 || index >= Count())
    throw EZipKit(0,
                  "Index (" + std::to_string(index) + ") outside range 1.." + std::to_string(Count() - 1), true);
  return items_[static_cast<size_t>(index)];
}

int32_t TMZipDataList::IndexOf(const std::string& storedName) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (EqualsNoCase(items_[i].FileName, storedName)) return static_cast<int32_t>(i);
  throw EZipKit(11026);
}
