#pragma once
// Non-visual parts of the update page: the folder a file is stored under, the duplicate and replace
// rule, the folder scan that TAddUpdateThread runs, and the engine items of one adding action.
#include <atomic>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "ops/JobParams.h"
#include "pages/common/FileList.h"
#include "pages/unzip/ArchiveNames.h"

namespace updatelist {

// A folder in the archive's form: "/"-separated, with a trailing "/", without a leading "/"; empty
// for the archive's root.
std::string ArchiveFolder(const std::string& folder);

// The path settings an adding action works with (copied when it starts).
struct TPathRule {
  bool SaveFolders = true;  // SaveZipFolders
  bool Relative = true;     // RelativePaths
};

// The folder (archive form) a file of `fileFolder` is stored under:
//   SaveFolders off: none;
//   relative, with a root (ADD FOLDER, a dropped folder): the file's folder below the root;
//   relative, without a root (ADD FILES, a dropped file): the last element of the file's folder;
//   absolute: the file's folder without its leading "/".
std::string StoredFolder(const std::string& fileFolder, const std::string& relativeRoot, const TPathRule& rule);

// A file found by an adding action.
struct TFoundFile {
  std::string Path;          // full path
  std::string StoredFolder;  // archive form
  int64_t Size = 0;
  int64_t MTime = 0;         // seconds since 1970
};

// A regular file (a link to one counts) at `path`; false when it is missing or anything else.
bool FindRegularFile(const std::string& path, TFoundFile& found);

// The entry time of a row listed from a zip archive: its MS-DOS date and time (kept in DateValue as
// if it were UTC) read as local time, seconds since 1970.
int64_t RowEntryTime(const TListRow& row);

// True when a file last written at `fileTime` is newer than an entry of `entryTime`: zip keeps
// times to two seconds, so a file less than two seconds later is the same age.
bool IsNewer(int64_t fileTime, int64_t entryTime);

// What one adding action does to the archive. The rows already listed are offered every found file in
// turn: a file whose stored folder and name equal a row's Path and File (letter case kept) replaces
// that entry when it is newer, else it is left out; any other file is added as a new row. Two files
// of one action under the same stored name: the newer one goes in.
class TUpdatePlan {
 public:
  // `notBefore`: files last written before this time are left out (0: no date filter).
  TUpdatePlan(const std::vector<TListRow>& rows, int64_t notBefore);

  enum class TVerdict { Added, Replaced, Older, BeforeCutoff };
  TVerdict Offer(const TFoundFile& file);

  // The engine items in the order offered: stored name = stored folder + file name.
  std::vector<TSourceItem> Items() const;
  bool Empty() const { return items_.empty(); }
  size_t Count() const { return items_.size(); }
  // Rows for the new files, and the listed rows that a newer file replaces (row index -> file).
  const std::vector<TListRow>& NewRows() const { return newRows_; }
  const std::vector<std::pair<int, TFoundFile>>& ReplacedRows() const { return replacedRows_; }
  // Bytes of the files going in.
  int64_t Bytes() const;

 private:
  struct TTarget {
    int Row = -1;       // listed row, or -1 for a file new in this action
    size_t Item = 0;    // its item once one goes in
    bool Taken = false;
    bool Listed = false;  // Time still holds the row's DateValue
    int64_t Time = 0;
  };
  int64_t notBefore_;
  TDateText dates_;
  std::unordered_map<QString, TTarget> byKey_;
  std::vector<TFoundFile> items_;
  std::vector<TListRow> newRows_;
  std::vector<size_t> newRowItem_;
  std::vector<std::pair<int, TFoundFile>> replacedRows_;
};

// The list row of a file going in (File, Size with separators, Date, Path, Extra = full path).
TListRow RowFor(const TFoundFile& file, const TDateText& dates);

// The folder scan of ADD FOLDER and dropped folders: every regular file below `folder` (its
// sub-folders too when `recurse`), stored folders by `rule` with `folder` as the relative root.
// Links to folders are never followed; links to files are taken as files. Stops early when `stop`
// is set; `found` counts as it goes.
void ScanFolder(const std::string& folder, bool recurse, const TPathRule& rule, std::vector<TFoundFile>& out,
                const std::atomic<bool>& stop, std::atomic<int64_t>& found);

}  // namespace updatelist
