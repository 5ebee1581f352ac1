#pragma once
// Turns file specifications into the list of files and folders to add: wildcards in the last
// element, recursion, hidden files, exclusions, and the entry name each source is stored under.
// Symbolic links are never followed: each is stored as a link, as `zip -y` does.
#include <sys/stat.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "ZipEngine.h"

namespace zipeng {

struct SourceItem {
  std::string fullPath;    // on disk
  std::string storedName;  // entry name, "/" separators; folders end with "/"
  bool isDir = false;
  bool isLink = false;     // a symbolic link, stored as a link (its target as data), never followed
  std::string linkTarget;
  uint64_t size = 0;
  time_t mtime = 0;
  mode_t mode = 0;
  bool hidden = false;
  size_t specIndex = 0;
};

class SourceCollector {
 public:
  // `skipped` is told about names that matched nothing or could not be examined; it returns false
  // to stop.
  using SkipFn = std::function<bool(const std::string& name, int reason, const std::string& why)>;
  SourceCollector(const AddSettings& settings, SkipFn skipped);

  // Collects every specification in order; false when stopped.
  bool Collect(std::vector<SourceItem>& items);
  // Folders entered while recursing (for removing the emptied ones after a move), deepest last.
  const std::vector<std::string>& WalkedFolders() const { return walked_; }

 private:
  bool CollectSpec(size_t index, std::vector<SourceItem>& items);
  bool Walk(const std::string& dir, const std::string& pattern, bool recurse, size_t index, bool wholeFolders,
            std::vector<SourceItem>& items, std::set<std::pair<dev_t, ino_t>>& stack);
  bool Excluded(const std::string& fullPath, const std::string& storedName, bool isDir) const;
  std::string StoredName(const std::string& fullPath, const std::string& base, bool isDir) const;
  void Push(const std::string& fullPath, const struct stat& st, const std::string& base, size_t index,
            std::vector<SourceItem>& items);

  const AddSettings& settings_;
  SkipFn skipped_;
  std::vector<std::string> exclusions_;
  std::set<std::string> seenNames_;
  std::vector<std::string> walked_;
  std::string base_;  // base folder of the file specification being collected
  bool haveArchive_ = false;
  dev_t archiveDev_ = 0;  // the archive itself is never added to itself
  ino_t archiveIno_ = 0;
};

}  // namespace zipeng
