#include "Trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace zipeng {
namespace {

bool MakeDirs(const std::string& path) {
  for (size_t pos = 1; pos != std::string::npos;) {
    pos = path.find('/', pos + 1);
    std::string part = path.substr(0, pos);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Parent(const std::string& p) {
  size_t slash = p.rfind('/');
  return slash == 0 || slash == std::string::npos ? "/" : p.substr(0, slash);
}

// The mount point holding `path`: the highest ancestor on the same device.
std::string TopFolder(const std::string& path, dev_t dev) {
  std::string cur = Parent(path);
  for (;;) {
    if (cur == "/") return cur;
    std::string up = Parent(cur);
    struct stat st {};
    if (::stat(up.c_str(), &st) != 0 || st.st_dev != dev) return cur;
    cur = up;
  }
}

std::string PercentEncode(const std::string& s) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      out.push_back(char(c));
    } else {
      out.push_back('%');
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    }
  }
  return out;
}

bool TrashInto(const std::string& trash, const std::string& path, std::string& error) {
  std::string files = trash + "/files", info = trash + "/info";
  if (!MakeDirs(files) || !MakeDirs(info)) {
    error = "cannot create " + trash;
    return false;
  }
  std::string base = path.substr(path.rfind('/') + 1);
  char date[32];
  time_t now = time(nullptr);
  struct tm tm {};
  localtime_r(&now, &tm);
  strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &tm);
  for (int n = 1; n < 1000; ++n) {
    std::string name = n == 1 ? base : base + "." + std::to_string(n);
    std::string infoPath = info + "/" + name + ".trashinfo";
    int fd = ::open(infoPath.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      error = std::string("cannot write to the trash: ") + std::strerror(errno);
      return false;
    }
    std::string text = "[Trash Info]\nPath=" + PercentEncode(path) + "\nDeletionDate=" + date + "\n";
    bool written = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
    ::close(fd);
    std::string target = files + "/" + name;
    if (!written || ::access(target.c_str(), F_OK) == 0 || ::rename(path.c_str(), target.c_str()) != 0) {
      int err = errno;
      ::unlink(infoPath.c_str());
      if (written && err == EEXIST) continue;
      error = std::string("cannot move to the trash: ") + std::strerror(err);
      return false;
    }
    return true;
  }
  error = "too many files of that name in the trash";
  return false;
}

}  // namespace

bool MoveToTrash(const std::string& path, std::string& error) {
  struct stat st {};
  if (path.empty() || path[0] != '/' || ::lstat(path.c_str(), &st) != 0) {
    error = "cannot find " + path;
    return false;
  }
  const char* xdg = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  std::string data = xdg && *xdg ? xdg : (home && *home ? std::string(home) + "/.local/share" : "");
  if (!data.empty()) {
    std::string trash = data + "/Trash";
    MakeDirs(data);
    struct stat dst {};
    if (::stat(data.c_str(), &dst) == 0 && dst.st_dev == st.st_dev) return TrashInto(trash, path, error);
  }
  std::string top = TopFolder(path, st.st_dev);
  return TrashInto((top == "/" ? "" : top) + "/.Trash-" + std::to_string(getuid()), path, error);
}

}  // namespace zipeng
