#pragma once
// Turning a stored entry name into a name below the destination folder.
#include <string>
#include <string_view>
#include <vector>

namespace unzeng {

struct TOutputName {
  std::vector<std::string> dirs;  // folders below the destination, outermost first
  std::string leaf;               // file name; empty for a folder entry
  bool isDir = false;
  bool altered = false;           // unsafe parts (root, drive, "..") were removed
  std::string Text() const;       // "a/b/c" form for messages
};

// Builds the output name of `name` ("/" or "\" separated). Leading separators, a drive prefix
// ("C:") and "." / ".." elements are dropped; without `dirNames` only the last element is kept.
// Returns false when nothing usable remains or the name holds a zero byte.
bool BuildOutputName(std::string_view name, bool dirNames, TOutputName& out);

// True when a symbolic link placed `depth` folders below the destination, pointing at `target`,
// cannot lead outside it: a relative target whose ".." elements all come first and climb at most
// `depth` levels.
bool SymlinkTargetStaysInside(std::string_view target, size_t depth);

}  // namespace unzeng
