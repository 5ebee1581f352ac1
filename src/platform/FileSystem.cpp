#include "platform/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QFile>
#include <QString>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace {

std::mutex gOverrideMutex;
std::function<int64_t(const std::string&)> gFreeOverride;

std::string NearestExisting(std::string path) {
  struct stat st {};
  while (!path.empty() && stat(path.c_str(), &st) != 0) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return {};
    path = slash == 0 ? std::string("/") : path.substr(0, slash);
    if (path == "/") break;
  }
  return path;
}

}  // namespace

void SetFreeSpaceOverride(std::function<int64_t(const std::string&)> answer) {
  std::lock_guard lock(gOverrideMutex);
  gFreeOverride = std::move(answer);
}

int64_t FreeOnDisk(const std::string& path) {
  {
    std::lock_guard lock(gOverrideMutex);
    if (gFreeOverride) return gFreeOverride(path);
  }
  const std::string existing = NearestExisting(path);
  if (existing.empty()) return -1;
  struct statvfs s {};
  if (statvfs(existing.c_str(), &s) != 0) return -1;
  return static_cast<int64_t>(s.f_bavail) * static_cast<int64_t>(s.f_frsize);
}

bool SameFileSystem(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  const std::string ea = NearestExisting(a), eb = NearestExisting(b);
  if (ea.empty() || eb.empty() || stat(ea.c_str(), &sa) != 0 || stat(eb.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev;
}

bool MoveToTrash(const std::string& path) { return QFile::moveToTrash(QString::fromStdString(path)); }

bool IsWritableFolder(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
         access(path.c_str(), W_OK | X_OK) == 0;
}

bool CanReadFile(const std::string& path, std::string& why) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);  // a pipe must not block
  if (fd < 0) {
    why = std::strerror(errno);
    return false;
  }
  struct stat st {};
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  ::close(fd);
  if (!regular) why = "not a regular file";
  return regular;
}
