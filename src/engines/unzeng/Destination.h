#pragma once
// The destination folder: folders below it are opened and created so that no path ever leaves it,
// whatever symbolic links an archive or the disk holds.
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace unzeng {

// An open folder below the destination; shared by the jobs that write into it.
class TDirHandle {
 public:
  TDirHandle(int fd, bool created) : fd_(fd), created_(created) {}
  ~TDirHandle();
  TDirHandle(const TDirHandle&) = delete;
  TDirHandle& operator=(const TDirHandle&) = delete;
  int Fd() const { return fd_; }
  // True when this run created the folder (it then holds only what this run wrote).
  bool CreatedByUs() const { return created_; }

 private:
  int fd_;
  bool created_;
};

class TDestination {
 public:
  // Opens (creating it when missing) the destination folder.
  bool Open(const std::string& baseDir, std::string& error);
  // Opens the folder `dirs` below the destination, creating missing folders when `create`.
  // Fails when a folder on the way is a file or a link leading outside.
  std::shared_ptr<TDirHandle> Folder(const std::vector<std::string>& dirs, bool create, std::string& error);
  // Levels between the destination and the real location of `dir` (links inside resolved).
  bool DepthOf(const TDirHandle& dir, size_t& depth) const;
  const std::string& RealBase() const { return realBase_; }
  // Bytes free for this user on the destination's file system; negative when unknown.
  // TANDOR_UNZENG_FREE_BYTES answers instead (tests).
  int64_t FreeBytes() const;

 private:
  int OpenBeneath(const std::string& rel);
  std::shared_ptr<TDirHandle> base_;
  std::string realBase_;
  std::unordered_map<std::string, std::shared_ptr<TDirHandle>> cache_;
  bool haveOpenat2_ = true;
};

// Real path of an open descriptor.
std::string FdPath(int fd);

}  // namespace unzeng
