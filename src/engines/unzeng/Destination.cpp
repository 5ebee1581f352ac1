#include "Destination.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace unzeng {

TDirHandle::~TDirHandle() {
  if (fd_ >= 0) ::close(fd_);
}

std::string FdPath(int fd) {
  char link[64];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char buf[4096];
  ssize_t n = ::readlink(link, buf, sizeof buf - 1);
  if (n <= 0) return {};
  return std::string(buf, static_cast<size_t>(n));
}

bool TDestination::Open(const std::string& baseDir, std::string& error) {
  std::string dir = baseDir.empty() ? std::string(".") : baseDir;
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    error = "cannot open destination folder " + dir + ": " + std::strerror(errno);
    return false;
  }
  base_ = std::make_shared<TDirHandle>(fd, false);
  realBase_ = FdPath(fd);
  cache_.clear();
  return true;
}

// Opens `rel` (a relative folder path) below the destination; -1 with errno set on failure.
int TDestination::OpenBeneath(const std::string& rel) {
  if (haveOpenat2_) {
    open_how how{};
    how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    int fd = static_cast<int>(::syscall(SYS_openat2, base_->Fd(), rel.c_str(), &how, sizeof how));
    if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) return fd;
    haveOpenat2_ = false;
  }
  // Without openat2: walk element by element and follow no link at all.
  int cur = ::dup(base_->Fd());
  size_t start = 0;
  while (cur >= 0 && start <= rel.size()) {
    size_t slash = rel.find('/', start);
    if (slash == std::string::npos) slash = rel.size();
    std::string part = rel.substr(start, slash - start);
    start = slash + 1;
    int next = ::openat(cur, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    int saved = errno;
    ::close(cur);
    cur = next;
    errno = saved;
  }
  return cur;
}

std::shared_ptr<TDirHandle> TDestination::Folder(const std::vector<std::string>& dirs, bool create,
                                                 std::string& error) {
  if (dirs.empty()) return base_;
  std::string rel;
  std::shared_ptr<TDirHandle> parent = base_;
  bool parentCreated = false;
  for (size_t i = 0; i < dirs.size(); ++i) {
    if (i) rel += '/';
    rel += dirs[i];
    auto it = cache_.find(rel);
    if (it != cache_.end()) {
      parent = it->second;
      parentCreated = parent->CreatedByUs();
      continue;
    }
    bool created = false;
    int fd = parentCreated ? -1 : OpenBeneath(rel);
    if (fd < 0 && (parentCreated || errno == ENOENT)) {
      if (!create) {
        error = "folder " + rel + " does not exist";
        return nullptr;
      }
      if (::mkdirat(parent->Fd(), dirs[i].c_str(), 0777) == 0) {
        created = true;
      } else if (errno != EEXIST) {
        error = "cannot create folder " + rel + ": " + std::strerror(errno);
        return nullptr;
      }
      if (created) {
        fd = ::openat(parent->Fd(), dirs[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      } else {
        fd = OpenBeneath(rel);
      }
    }
    if (fd < 0) {
      if (errno == EXDEV || errno == ELOOP || errno == ENOTDIR || errno == EAGAIN)
        error = "refused: " + rel + " is a file or a link leading outside the destination";
      else
        error = "cannot open folder " + rel + ": " + std::strerror(errno);
      return nullptr;
    }
    if (cache_.size() > 256) cache_.clear();
    parent = std::make_shared<TDirHandle>(fd, created);
    parentCreated = created;
    cache_.emplace(rel, parent);
  }
  return parent;
}

int64_t TDestination::FreeBytes() const {
  if (const char* env = std::getenv("TANDOR_UNZENG_FREE_BYTES"); env && *env) return std::strtoll(env, nullptr, 10);
  struct statvfs st;
  if (!base_ || ::fstatvfs(base_->Fd(), &st) != 0 || st.f_blocks == 0) return -1;
  return int64_t(st.f_bavail) * int64_t(st.f_frsize);
}

bool TDestination::DepthOf(const TDirHandle& dir, size_t& depth) const {
  std::string real = FdPath(dir.Fd());
  if (real == realBase_) {
    depth = 0;
    return true;
  }
  std::string prefix = realBase_ == "/" ? realBase_ : realBase_ + "/";
  if (real.compare(0, prefix.size(), prefix) != 0) return false;
  depth = 1;
  for (size_t i = prefix.size(); i < real.size(); ++i)
    if (real[i] == '/') ++depth;
  return true;
}

}  // namespace unzeng
