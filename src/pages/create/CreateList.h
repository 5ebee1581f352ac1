#pragma once
// Non-visual parts of the create list: stored paths, display texts of a row, the date filter and the
// folder scan that TAddFolderThread runs.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "pages/common/FileList.h"
#include "pages/create/UndoStack.h"

namespace createlist {

// Position (from 1) of the last "/" in path; 0 when there is none.
int FindEndingSlash(const std::string& path);

// The folder path stored for a file found in `folder` (no trailing "/" except the root "/"):
// empty without saveFolders; relative: folder after its first n characters; absolute: folder
// without its leading "/".
std::string StoredPathOf(const std::string& folder, int n, bool saveFolders, bool relative);

// A folder shortened for display to fewer than 50 characters ("/data/../proj").
std::string ShortenFolder(const std::string& folder);

// "1,234" style size and the list's date text (short date and long time; no time at midnight).
QString SizeText(int64_t size);
QString DateText(int64_t unixSeconds);

// Facts about one file on disk; false when it is missing or not a regular file (links followed).
struct TFoundFile {
  int64_t Size = 0;
  int64_t MTime = 0;  // seconds since 1970
};
bool FindRegularFile(const std::string& path, TFoundFile& found);

// Start of the given day number in local time, as seconds since 1970.
int64_t StartOfDay(int64_t dayNumber);

// One create-list row for a found file.
TListRow MakeRow(const std::string& name, const TFoundFile& found, const std::string& storedPath,
                 const std::string& source);

// A folder scan: settings copied when it starts, results delivered in batches.
struct TScanSpec {
  std::string Folder;       // the chosen folder
  int PrefixLength = 0;     // n
  bool Recurse = true;
  bool SaveFolders = true;
  bool Relative = true;
  int64_t NotBefore = 0;    // skip files last written before this time (0: no date filter)
  bool MakeUndo = true;     // false in BatchCreateMode
};

// What a running scan shares with the user-interface thread. The worker appends; the user interface
// takes the rows in batches and reads the status lines when its timer fires.
class TScanResults {
 public:
  void Add(TListRow&& row, UndoEntryRec&& undo, bool makeUndo);
  void SetFolder(const std::string& shown);
  void SetFile(const std::string& name);
  // Moves the rows (and undo entries) collected since the last call into the given vectors.
  void Take(std::vector<TListRow>& rows, std::vector<UndoEntryRec>& undo);
  void Status(std::string& folder, std::string& file) const;
  int64_t Count() const { return count_; }
  int64_t Total() const { return total_; }

  std::atomic<bool> Stop{false};

 private:
  mutable std::mutex mutex_;
  std::vector<TListRow> rows_;
  std::vector<UndoEntryRec> undo_;
  std::string folder_, file_;
  std::atomic<int64_t> count_{0};
  std::atomic<int64_t> total_{0};
};

// Walks the folder (and its sub-folders when recursing) and collects every regular file. Folders that
// vanish end their branch silently; symbolic links to folders are not followed; fifos, sockets and
// devices are skipped. Returns when done or when results.Stop is set.
void ScanFolder(const TScanSpec& spec, TScanResults& results);

}  // namespace createlist
