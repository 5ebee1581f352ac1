#pragma once
// Rows of the archive list made from the operations layer's entries, on the listing worker.
#include <QString>
#include <cstdint>
#include <unordered_map>

#include "ops/ArchiveEntry.h"
#include "pages/common/FileList.h"
#include "pages/unzip/ArchiveNames.h"

// Turns entries into rows: File and Path from the stored name ("\\" shown as "/"), the size, the
// date (DOS dates as the zip and RAR listings show them, others from the time), and the entry's
// identity. Dates repeat a lot in archives: their texts are kept.
class TRowMaker {
 public:
  // Sizes with the user's digit grouping; `dosDates`: the stored MS-DOS date and time make the date
  // (zip, RAR), else the entry's time.
  explicit TRowMaker(bool dosDates) : dosDates_(dosDates) {}
  // Fills the row; false when the name leaves no File text (a folder).
  bool Make(const TArchiveEntry& e, TListRow& row);

 private:
  bool dosDates_;
  TNumberText sizes_;
  TDateText dates_;
  std::unordered_map<int64_t, QString> dateCache_;
  std::string name_;
};
