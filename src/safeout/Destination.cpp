#include "safeout/Destination.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <signal.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/FileSystem.h"

namespace safeout {

namespace {

// Makes `path` and its missing parents, as `mkdir -p` does (failures show when the path is opened).
// Plain calls: std::filesystem would bring the stream and locale libraries into the static
// self-extractor.
void MakeFolders(const std::string& path) {
  for (size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
    const std::string part = at == std::string::npos ? path : path.substr(0, at);
    if (!part.empty()) ::mkdir(part.c_str(), 0777);
    if (at == std::string::npos) break;
  }
}

// TANDOR_SAFEOUT_FALLBACK=1 makes the destination behave as on a system without openat2 and
// O_TMPFILE (tests of the fallback paths).
bool FallbackForced() {
  const char* v = std::getenv("TANDOR_SAFEOUT_FALLBACK");
  return v && *v && *v != '0';
}

bool ProcAvailable() {
  static const bool yes = ::access("/proc/self/fd", X_OK) == 0;
  return yes;
}

std::vector<std::string> Elements(const std::string& s) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t i = 0; i <= s.size(); ++i) {
    if (i < s.size() && s[i] != '/') continue;
    if (i > start) {
      std::string e = s.substr(start, i - start);
      if (e != ".") out.push_back(std::move(e));
    }
    start = i + 1;
  }
  return out;
}

std::string Join(const std::vector<std::string>& parts, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    if (i) s += '/';
    s += parts[i];
  }
  return s;
}

std::string Joined(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return a + "/" + b;
}

// Creates a new file that takes the name `leaf` in `folder` when committed.
std::unique_ptr<TOutputFile> CreateIn(const std::shared_ptr<TFolder>& folder, const std::string& leaf,
                                      unsigned createMode, std::atomic<bool>& noTmpfile, TResult& why) {
  const mode_t mode = static_cast<mode_t>(createMode & 0777);
  if (!noTmpfile && ProcAvailable()) {
    int fd = ::openat(folder->Fd(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
    if (fd >= 0) return std::make_unique<TOutputFile>(folder, leaf, fd, std::string());
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT) {
      why = TResult::FromErrno(errno, "cannot create " + leaf);
      return nullptr;
    }
    noTmpfile = true;
  }
  for (int attempt = 0; attempt < 20; ++attempt) {
    std::string temp = TemporaryName(leaf);
    int fd = ::openat(folder->Fd(), temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) return std::make_unique<TOutputFile>(folder, leaf, fd, std::move(temp));
    if (errno != EEXIST) break;
  }
  why = TResult::FromErrno(errno, "cannot create " + leaf);
  return nullptr;
}

// Removes the temporary files of runs that no longer exist from the folder `fd`.
void RemoveStaleTemporaries(int fd) {
  int dup = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dup < 0) return;
  DIR* d = ::fdopendir(dup);
  if (!d) {
    ::close(dup);
    return;
  }
  std::vector<std::string> stale;
  while (const dirent* e = ::readdir(d)) {
    long pid = 0;
    if (e->d_name[0] != '.' || !IsTemporaryName(e->d_name, pid) || pid == ::getpid()) continue;
    if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) stale.emplace_back(e->d_name);
  }
  ::closedir(d);
  for (const std::string& name : stale) {
    struct stat st {};
    if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
      ::unlinkat(fd, name.c_str(), 0);
  }
}

}  // namespace

TFolder::~TFolder() {
  if (fd_ >= 0) ::close(fd_);
}

TResult TDestination::Open(const std::string& path) {
  path_ = path.empty() ? std::string(".") : path;
  root_.reset();
  cache_.clear();
  created_.clear();
  scrubbed_.clear();
  folderAttrs_.clear();
  const bool fallback = FallbackForced();
  haveOpenat2_ = !fallback;
  noTmpfile_ = fallback;
  MakeFolders(path_);
  const int fd = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return TResult::FromErrno(errno, "cannot open the destination folder " + path_);
  struct stat st {};
  ::fstat(fd, &st);
  rootDev_ = st.st_dev;
  rootIno_ = st.st_ino;
  root_ = std::make_shared<TFolder>(fd, false, std::string());
  Scrub(fd, st.st_dev, st.st_ino);
  return {};
}

void TDestination::Scrub(int fd, dev_t dev, ino_t ino) {
  if (!scrubbed_.insert({dev, ino}).second) return;
  RemoveStaleTemporaries(fd);
}

// Opens `rel` below the destination with `flags`; -1 with errno set on failure. EXDEV or ELOOP:
// the path leads outside (or, without openat2, runs through a link).
int TDestination::OpenBeneath(const std::string& rel, int flags) {
  const std::string path = rel.empty() ? std::string(".") : rel;
  if (haveOpenat2_) {
    open_how how{};
    how.flags = static_cast<uint64_t>(flags | O_CLOEXEC);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    for (int attempt = 0; attempt < 8; ++attempt) {
      const int fd = static_cast<int>(::syscall(SYS_openat2, root_->Fd(), path.c_str(), &how, sizeof how));
      if (fd >= 0 || errno != EAGAIN) {
        if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) return fd;
        break;
      }
    }
    if (errno == EAGAIN) return -1;
    haveOpenat2_ = false;
  }
  // Without openat2: element by element, following no link at all and never climbing above.
  const std::vector<std::string> parts = Elements(path);
  int cur = ::openat(root_->Fd(), ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  size_t depth = 0;
  for (size_t i = 0; i < parts.size() && cur >= 0; ++i) {
    const bool last = i + 1 == parts.size();
    if (parts[i] == "..") {
      if (depth == 0) {
        ::close(cur);
        errno = EXDEV;
        return -1;
      }
      --depth;
    } else {
      ++depth;
    }
    int next = ::openat(cur, parts[i].c_str(), (last ? flags : O_PATH | O_DIRECTORY) | O_NOFOLLOW | O_CLOEXEC);
    int err = errno;
    struct stat st {};
    if (next >= 0 && last && (flags & O_PATH) && ::fstat(next, &st) == 0 && S_ISLNK(st.st_mode)) {
      ::close(next);
      next = -1;
      err = ELOOP;
    }
    ::close(cur);
    cur = next;
    errno = err;
  }
  if (cur >= 0 && parts.empty()) {
    ::close(cur);
    cur = ::openat(root_->Fd(), ".", flags | O_CLOEXEC);
  }
  return cur;
}

std::shared_ptr<TFolder> TDestination::Folder(const std::vector<std::string>& dirs, bool create, TResult& why) {
  if (dirs.empty()) return root_;
  std::string rel;
  std::shared_ptr<TFolder> parent = root_;
  for (size_t i = 0; i < dirs.size(); ++i) {
    rel = Joined(rel, dirs[i]);
    if (auto it = cache_.find(rel); it != cache_.end()) {
      parent = it->second;
      continue;
    }
    bool created = false;
    int fd = parent->CreatedByUs() ? -1 : OpenBeneath(rel, O_RDONLY | O_DIRECTORY);
    if (fd < 0 && (parent->CreatedByUs() || errno == ENOENT)) {
      if (!create) {
        why = TResult::Fail(TFault::System, "folder " + rel + " does not exist", ENOENT);
        return nullptr;
      }
      if (::mkdirat(parent->Fd(), dirs[i].c_str(), 0777) == 0) {
        created = true;
        fd = ::openat(parent->Fd(), dirs[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      } else if (errno == EEXIST) {
        fd = OpenBeneath(rel, O_RDONLY | O_DIRECTORY);
      } else {
        why = TResult::FromErrno(errno, "cannot create folder " + rel);
        return nullptr;
      }
    }
    if (fd < 0) {
      if (errno == EXDEV || errno == ELOOP || errno == ENOTDIR || errno == EAGAIN)
        why = TResult::Fail(TFault::Refused, "refused: " + rel + " is a file or a link leading outside the destination",
                            errno);
      else
        why = TResult::FromErrno(errno, "cannot open folder " + rel);
      return nullptr;
    }
    struct stat st {};
    ::fstat(fd, &st);
    if (created)
      created_.insert({st.st_dev, st.st_ino});
    else
      Scrub(fd, st.st_dev, st.st_ino);
    if (cache_.size() > 256) cache_.clear();
    parent = std::make_shared<TFolder>(fd, created, rel);
    cache_.emplace(rel, parent);
  }
  return parent;
}

TExisting TDestination::Look(const TFolder& folder, const std::string& leaf) {
  TExisting e;
  if (::fstatat(folder.Fd(), leaf.c_str(), &e.st, AT_SYMLINK_NOFOLLOW) != 0) return e;
  if (S_ISREG(e.st.st_mode))
    e.kind = TKind::File;
  else if (S_ISDIR(e.st.st_mode))
    e.kind = TKind::Folder;
  else if (S_ISLNK(e.st.st_mode))
    e.kind = TKind::Link;
  else
    e.kind = TKind::Other;
  return e;
}

std::unique_ptr<TOutputFile> TDestination::NewFile(const std::shared_ptr<TFolder>& folder, const std::string& leaf,
                                                   unsigned createMode, TResult& why, uint64_t size) {
  if (size <= kSmallFile) {
    // Never through a link or over anything: a name that is taken goes the unnamed way below.
    const int fd = ::openat(folder->Fd(), leaf.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                            static_cast<mode_t>(createMode & 0777));
    if (fd >= 0) return std::make_unique<TOutputFile>(folder, leaf, fd, std::string(), true);
  }
  return CreateIn(folder, leaf, createMode, noTmpfile_, why);
}

bool TDestination::DepthOf(const TFolder& folder, size_t& depth) const {
  depth = 0;
  int cur = ::openat(folder.Fd(), ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  while (cur >= 0) {
    struct stat st {
    }, up{};
    if (::fstat(cur, &st) != 0) break;
    if (st.st_dev == rootDev_ && st.st_ino == rootIno_) {
      ::close(cur);
      return true;
    }
    const int parent = ::openat(cur, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
    ::close(cur);
    cur = parent;
    // The top of the file system is its own parent: the folder is not below the destination.
    if (cur < 0 || ::fstat(cur, &up) != 0 || (up.st_dev == st.st_dev && up.st_ino == st.st_ino) || ++depth > 4096)
      break;
  }
  if (cur >= 0) ::close(cur);
  return false;
}

TResult TDestination::CheckLink(const TFolder& folder, const std::string& target) {
  auto refuse = [&](const std::string& why) { return TResult::Fail(TFault::Refused, why); };
  if (target.empty()) return refuse("the link has no target");
  if (target.find('\0') != std::string::npos) return refuse("the link target holds a zero byte");
  if (target[0] == '/') return refuse("an absolute link target leads outside the destination");
  const std::vector<std::string> parts = Elements(target);
  size_t ups = 0;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (parts[i] != "..") continue;
    // "a/.." may climb through a link that changes later: only leading ".." elements are taken.
    if (i != ups) return refuse("\"..\" after a name could lead outside the destination");
    ++ups;
  }
  size_t depth = 0;
  if (!DepthOf(folder, depth) || ups > depth) return refuse("the link would lead outside the destination");
  // Resolved beneath the destination as the system would follow it now, links on disk included.
  // A part that does not exist yet can only be made by this run, and holds names only.
  for (size_t keep = parts.size();; --keep) {
    const int fd = OpenBeneath(Joined(folder.Rel(), Join(parts, keep)), O_PATH);
    if (fd >= 0) {
      ::close(fd);
      return {};
    }
    const int err = errno;
    if ((err == ENOENT || err == ENOTDIR) && keep > ups) continue;
    if (err == EXDEV || err == ELOOP || err == ENOTDIR || err == ENOENT || err == EAGAIN)
      return refuse("the link would lead outside the destination through a link on the way");
    return TResult::FromErrno(err, "cannot check the link target");
  }
}

TResult TDestination::Place(const TFolder& folder, const std::string& leaf, bool replace, const char* what,
                            const std::function<int(int fd, const char* name)>& make) {
  const TExisting existing = Look(folder, leaf);
  if (existing.kind == TKind::Folder)
    return TResult::Fail(TFault::FolderInTheWay, "a folder of that name is in the way", EISDIR);
  if (existing.kind != TKind::None && !replace)
    return TResult::Fail(TFault::Exists, "a file of that name exists", EEXIST);
  if (existing.kind == TKind::None) {
    if (make(folder.Fd(), leaf.c_str()) == 0) return {};
    if (errno != EEXIST || !replace)
      return errno == EEXIST ? TResult::Fail(TFault::Exists, "a file of that name exists", EEXIST)
                             : TResult::FromErrno(errno, std::string("cannot create the ") + what);
  }
  // Made beside it and renamed over it: what was there is replaced, never followed.
  std::string hidden;
  int err = EEXIST;
  for (int attempt = 0; attempt < 20 && err == EEXIST; ++attempt) {
    hidden = TemporaryName(leaf);
    err = make(folder.Fd(), hidden.c_str()) == 0 ? 0 : errno;
  }
  if (err == 0 && ::renameat(folder.Fd(), hidden.c_str(), folder.Fd(), leaf.c_str()) != 0) {
    err = errno;
    ::unlinkat(folder.Fd(), hidden.c_str(), 0);
  }
  if (err == EISDIR || err == ENOTEMPTY)
    return TResult::Fail(TFault::FolderInTheWay, "a folder of that name is in the way", err);
  if (err != 0) return TResult::FromErrno(err, std::string("cannot create the ") + what);
  return {};
}

TResult TDestination::Symlink(const TCleanName& name, const std::string& target, bool replace, const timespec* mtime) {
  if (name.leaf.empty()) return TResult::Fail(TFault::Refused, "a link needs a name");
  TResult why;
  auto folder = Folder(name.dirs, true, why);
  if (!folder) return why;
  if (TResult check = CheckLink(*folder, target); !check) return check;
  TResult r = Place(*folder, name.leaf, replace, "link",
                    [&](int fd, const char* leaf) { return ::symlinkat(target.c_str(), fd, leaf); });
  if (!r) return r;
  cache_.clear();  // folders opened through an older link of that name are not reused
  if (mtime) {
    const timespec times[2] = {*mtime, *mtime};
    ::utimensat(folder->Fd(), name.leaf.c_str(), times, AT_SYMLINK_NOFOLLOW);
  }
  return {};
}

TResult TDestination::HardLink(const TCleanName& name, const TCleanName& source, bool replace) {
  auto notHere = [&] {
    return TResult::Fail(TFault::Refused, "the link target " + source.Text() + " is not in the destination");
  };
  if (name.leaf.empty() || source.leaf.empty()) return notHere();
  TResult why;
  auto from = Folder(source.dirs, false, why);
  if (!from) return notHere();
  const TExisting src = Look(*from, source.leaf);
  auto to = Folder(name.dirs, true, why);
  if (!to) return why;
  switch (src.kind) {
    case TKind::File:
      break;
    case TKind::Link: {
      // A hard link to a symbolic link is that link at a new place: it must stay inside from there.
      std::string target(4096, '\0');
      const ssize_t n = ::readlinkat(from->Fd(), source.leaf.c_str(), target.data(), target.size());
      if (n < 0 || static_cast<size_t>(n) >= target.size()) return notHere();
      target.resize(static_cast<size_t>(n));
      if (TResult check = CheckLink(*to, target); !check) return check;
      break;
    }
    case TKind::None:
      return notHere();
    case TKind::Folder:
      return TResult::Fail(TFault::Refused, "a hard link to a folder is not made");
    case TKind::Other:
      return TResult::Fail(TFault::Refused, "a hard link to a device or FIFO is not made");
  }
  const TExisting dst = Look(*to, name.leaf);
  if (dst.kind != TKind::None && dst.st.st_dev == src.st.st_dev && dst.st.st_ino == src.st.st_ino) return {};
  TResult r = Place(*to, name.leaf, replace, "link",
                    [&](int fd, const char* leaf) { return ::linkat(from->Fd(), source.leaf.c_str(), fd, leaf, 0); });
  if (r && src.kind == TKind::Link) cache_.clear();
  return r;
}

int TDestination::OpenFile(const TCleanName& name, TResult& why) {
  auto notHere = [&] {
    why = TResult::Fail(TFault::Refused, name.Text() + " is not a file in the destination");
    return -1;
  };
  if (name.leaf.empty()) return notHere();
  auto folder = Folder(name.dirs, false, why);
  if (!folder) return notHere();
  const int fd = ::openat(folder->Fd(), name.leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) ::close(fd);
    return notHere();
  }
  return fd;
}

TResult TDestination::MakeFolder(const std::vector<std::string>& dirs, int mode, const timespec* mtime) {
  TResult why;
  auto folder = Folder(dirs, true, why);
  if (!folder) return why;
  if (dirs.empty() || (mode < 0 && !mtime)) return {};
  struct stat st {};
  if (::fstat(folder->Fd(), &st) != 0 || !created_.count({st.st_dev, st.st_ino})) return {};
  TFolderAttrs a{folder->Rel(), dirs.size(), st.st_dev, st.st_ino, mode, mtime != nullptr, mtime ? *mtime : timespec{}};
  folderAttrs_.push_back(std::move(a));
  return {};
}

void TDestination::FinishFolders() {
  if (!root_) return;
  std::stable_sort(folderAttrs_.begin(), folderAttrs_.end(),
                   [](const TFolderAttrs& a, const TFolderAttrs& b) { return a.depth > b.depth; });
  for (const TFolderAttrs& a : folderAttrs_) {
    const int fd = OpenBeneath(a.rel, O_RDONLY | O_DIRECTORY);
    if (fd < 0) continue;
    struct stat st {};
    // Only the very folder this run created: never one a later link put at the same name.
    if (::fstat(fd, &st) == 0 && st.st_dev == a.dev && st.st_ino == a.ino) {
      if (a.mode >= 0) ::fchmod(fd, static_cast<mode_t>(a.mode) & 01777);
      if (a.haveTime) {
        const timespec times[2] = {a.mtime, a.mtime};
        ::futimens(fd, times);
      }
    }
    ::close(fd);
  }
  folderAttrs_.clear();
}

int64_t TDestination::FreeBytes() const { return root_ ? FreeOnDiskAt(root_->Fd(), path_) : -1; }

unsigned Umask() {
  unsigned mask = 022;
  FILE* f = std::fopen("/proc/self/status", "re");
  if (!f) return mask;
  char line[256];
  // Parsed by hand: sscanf would take the whole scanf machinery into the static self-extractor.
  while (std::fgets(line, sizeof line, f)) {
    if (std::strncmp(line, "Umask:", 6) != 0) continue;
    char* end = nullptr;
    const unsigned long v = std::strtoul(line + 6, &end, 8);
    if (end != line + 6) mask = static_cast<unsigned>(v);
    break;
  }
  std::fclose(f);
  return mask;
}

std::unique_ptr<TOutputFile> NewFileAt(const std::string& path, unsigned createMode, TResult& why) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string(".")
                             : slash == 0               ? std::string("/")
                                                        : path.substr(0, slash);
  const std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
  if (leaf.empty()) {
    why = TResult::Fail(TFault::System, "no file name in " + path, EINVAL);
    return nullptr;
  }
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    why = TResult::FromErrno(errno, "cannot open folder " + folder);
    return nullptr;
  }
  RemoveStaleTemporaries(fd);
  std::atomic<bool> noTmpfile{FallbackForced()};
  return CreateIn(std::make_shared<TFolder>(fd, false, std::string()), leaf, createMode, noTmpfile, why);
}

}  // namespace safeout
