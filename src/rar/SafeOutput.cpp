#include "rar/SafeOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <filesystem>

namespace rarout {

namespace {

std::vector<std::string> Split(const std::string& s) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= s.size()) {
    size_t slash = s.find_first_of("/\\", start);
    if (slash == std::string::npos) slash = s.size();
    out.push_back(s.substr(start, slash - start));
    start = slash + 1;
  }
  return out;
}

bool HasDrivePrefix(const std::string& e) { return e.size() >= 2 && std::isalpha(uint8_t(e[0])) && e[1] == ':'; }

}  // namespace

std::vector<std::string> SafeElements(const std::string& name) {
  std::vector<std::string> out;
  bool first = true;
  for (std::string e : Split(name)) {
    if (first && HasDrivePrefix(e)) e.erase(0, 2);
    first = false;
    if (e.empty() || e == "." || e == "..") continue;
    out.push_back(e);
  }
  return out;
}

bool LinkTargetStaysInside(const std::vector<std::string>& linkElements, const std::string& target) {
  if (target.find('\0') != std::string::npos) return false;  // the system would see a shorter target
  if (target.empty() || target[0] == '/' || target[0] == '\\' || HasDrivePrefix(target)) return false;
  if (linkElements.empty()) return false;
  long depth = long(linkElements.size()) - 1;
  for (const std::string& e : Split(target)) {
    if (e.empty() || e == ".") continue;
    if (e == "..") {
      if (--depth < 0) return false;
    } else {
      ++depth;
    }
  }
  return true;
}

TDestination::TDestination(const std::string& folder) {
  const std::string path = folder.empty() ? "." : folder;
  rootFd_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (rootFd_ < 0 && errno == ENOENT) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);  // the destination itself is the caller's choice
    rootFd_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  }
}

TDestination::~TDestination() {
  if (rootFd_ >= 0) ::close(rootFd_);
}

int TDestination::OpenParent(const std::vector<std::string>& elements, bool create) {
  if (rootFd_ < 0 || elements.empty()) return -EINVAL;
  int fd = ::dup(rootFd_);
  if (fd < 0) return -errno;
  for (size_t i = 0; i + 1 < elements.size(); ++i) {
    if (create && ::mkdirat(fd, elements[i].c_str(), 0755) != 0 && errno != EEXIST) {
      const int err = errno;
      ::close(fd);
      return -err;
    }
    const int next = ::openat(fd, elements[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int err = errno;
    ::close(fd);
    if (next < 0) return -err;  // a file or a symbolic link is in the way
    fd = next;
  }
  return fd;
}

int TDestination::MakeFolder(const std::vector<std::string>& elements) {
  const int parent = OpenParent(elements, true);
  if (parent < 0) return -parent;
  int result = 0;
  if (::mkdirat(parent, elements.back().c_str(), 0755) != 0) {
    struct stat st {};
    if (errno != EEXIST || ::fstatat(parent, elements.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISDIR(st.st_mode))
      result = errno == EEXIST ? EEXIST : errno;
  }
  ::close(parent);
  return result;
}

int TDestination::CreateFile(const std::vector<std::string>& elements) {
  const int parent = OpenParent(elements, true);
  if (parent < 0) return parent;
  const char* last = elements.back().c_str();
  const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC;
  int fd = ::openat(parent, last, flags, 0600);
  if (fd < 0 && (errno == ELOOP || errno == EACCES || errno == EPERM || errno == ETXTBSY)) {
    struct stat st {};
    if (::fstatat(parent, last, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode) &&
        ::unlinkat(parent, last, 0) == 0)
      fd = ::openat(parent, last, flags | O_EXCL, 0600);
  }
  const int err = errno;
  ::close(parent);
  return fd >= 0 ? fd : -err;
}

int TDestination::MakeSymlink(const std::vector<std::string>& elements, const std::string& target) {
  if (!LinkTargetStaysInside(elements, target)) return EPERM;
  const int parent = OpenParent(elements, true);
  if (parent < 0) return -parent;
  const char* last = elements.back().c_str();
  struct stat st {};
  int result = 0;
  if (::fstatat(parent, last, &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISDIR(st.st_mode)) result = EISDIR;
    else if (::unlinkat(parent, last, 0) != 0) result = errno;
  }
  if (result == 0 && ::symlinkat(target.c_str(), parent, last) != 0) result = errno;
  ::close(parent);
  return result;
}

int TDestination::OpenExisting(const std::vector<std::string>& elements) {
  const int parent = OpenParent(elements, false);
  if (parent < 0) return parent;
  const int fd = ::openat(parent, elements.back().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  const int err = errno;
  ::close(parent);
  if (fd < 0) return -err;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -EINVAL;
  }
  return fd;
}

void TDestination::Remove(const std::vector<std::string>& elements) {
  const int parent = OpenParent(elements, false);
  if (parent < 0) return;
  ::unlinkat(parent, elements.back().c_str(), 0);
  ::close(parent);
}

}  // namespace rarout
