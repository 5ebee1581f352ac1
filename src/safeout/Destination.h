#pragma once
// The destination folder of an extraction: the one way any extractor writes. Folders are opened
// beneath it (openat2 RESOLVE_BENEATH, or a walk that follows no link where that call is missing),
// files appear under their names only when complete, links are made only when they stay inside,
// and folders that existed before the run keep their modes and times.
#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "safeout/Names.h"
#include "safeout/OutputFile.h"
#include "safeout/Result.h"

namespace safeout {

// An open folder below the destination (or the folder of a new archive); shared by the files
// written into it.
class TFolder {
 public:
  TFolder(int fd, bool created, std::string rel) : fd_(fd), created_(created), rel_(std::move(rel)) {}
  ~TFolder();
  TFolder(const TFolder&) = delete;
  TFolder& operator=(const TFolder&) = delete;
  int Fd() const { return fd_; }
  // True when this run created the folder (it then holds only what this run wrote).
  bool CreatedByUs() const { return created_; }
  // Its path as opened below the destination ("a/b"; empty for the destination itself).
  const std::string& Rel() const { return rel_; }

 private:
  int fd_;
  bool created_;
  std::string rel_;
};

// What a name holds now; links are not followed.
enum class TKind { None, File, Folder, Link, Other };
struct TExisting {
  TKind kind = TKind::None;
  struct stat st {};
};

class TDestination {
 public:
  TDestination() = default;
  ~TDestination() = default;
  TDestination(const TDestination&) = delete;
  TDestination& operator=(const TDestination&) = delete;

  // Opens the destination folder, creating it when missing (the path itself is the caller's
  // choice and may run through links). Temporary files a killed run left in it are removed.
  TResult Open(const std::string& path);
  bool IsOpen() const { return root_ != nullptr; }
  const std::string& Path() const { return path_; }
  const std::shared_ptr<TFolder>& Root() const { return root_; }

  // The folder `dirs` below the destination, creating missing levels when `create`. Refused when a
  // level is a file or a link that leads outside.
  std::shared_ptr<TFolder> Folder(const std::vector<std::string>& dirs, bool create, TResult& why);
  // What is at `leaf` in `folder` now.
  static TExisting Look(const TFolder& folder, const std::string& leaf);

  // A new file that takes the name `leaf` in `folder` when committed. Safe to call from any thread.
  // A file of at most kSmallFile bytes (`size`, when the caller knows it) whose name is free is made
  // under that name at once and removed again unless committed: for a tree of small files an
  // unnamed file and its link cost more than the writing. Only a killed run can leave such a file
  // short; a stopped or failed one never does.
  static constexpr uint64_t kSmallFile = 1 << 20;
  static constexpr uint64_t kUnknownSize = ~uint64_t(0);
  std::unique_ptr<TOutputFile> NewFile(const std::shared_ptr<TFolder>& folder, const std::string& leaf,
                                       unsigned createMode, TResult& why, uint64_t size = kUnknownSize);

  // Whether a symbolic link in `folder` pointing at `target` stays inside: a relative target whose
  // ".." elements all come first and climb no higher than the destination, and which, resolved
  // beneath the destination with the links on disk now, does not lead out.
  TResult CheckLink(const TFolder& folder, const std::string& target);
  // Makes the symbolic link `name` -> `target` when it stays inside. With `replace` a file or link
  // at the name is replaced (never followed); a folder never is.
  TResult Symlink(const TCleanName& name, const std::string& target, bool replace, const timespec* mtime);
  // Makes `name` a hard link to the earlier written `source`. A source that is a symbolic link is
  // checked as a link at the new place; folders and devices are refused.
  TResult HardLink(const TCleanName& name, const TCleanName& source, bool replace);
  // Opens an earlier written regular file for reading (file copies); -1 with `why` when refused.
  int OpenFile(const TCleanName& name, TResult& why);

  // A folder entry: created when missing. Its mode (-1: as created) and time (null: untouched) are set by
  // FinishFolders, and only when this run created the folder.
  TResult MakeFolder(const std::vector<std::string>& dirs, int mode, const timespec* mtime);
  // Sets the recorded folder modes and times, deepest first. Call once every file is written.
  void FinishFolders();

  // Bytes free for this user on the destination's file system (FreeOnDiskAt, with its test hook);
  // negative when unknown.
  int64_t FreeBytes() const;

 private:
  struct TFolderAttrs {
    std::string rel;
    size_t depth;
    dev_t dev;
    ino_t ino;
    int mode;
    bool haveTime;
    timespec mtime;
  };
  int OpenBeneath(const std::string& rel, int flags);
  bool DepthOf(const TFolder& folder, size_t& depth) const;
  void Scrub(int fd, dev_t dev, ino_t ino);
  TResult Place(const TFolder& folder, const std::string& leaf, bool replace, const char* what,
                const std::function<int(int fd, const char* name)>& make);

  std::string path_;
  std::shared_ptr<TFolder> root_;
  dev_t rootDev_ = 0;
  ino_t rootIno_ = 0;
  std::unordered_map<std::string, std::shared_ptr<TFolder>> cache_;
  std::set<std::pair<dev_t, ino_t>> created_, scrubbed_;
  std::vector<TFolderAttrs> folderAttrs_;
  bool haveOpenat2_ = true;
  std::atomic<bool> noTmpfile_{false};
};


// The process umask, read without changing it.
unsigned Umask();

// A new file that takes the place of `path` when committed (an archive being made): the folder of
// `path` is the caller's choice. Temporary files a killed run left beside it are removed first.
std::unique_ptr<TOutputFile> NewFileAt(const std::string& path, unsigned createMode, TResult& why);

}  // namespace safeout
