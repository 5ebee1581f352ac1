#include "platform/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cctype>
#include <functional>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string_view>

namespace {

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

bool ParseBytes(std::string_view text, int64_t& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  const std::string s(text);
  const long long v = std::strtoll(s.c_str(), &end, 10);
  if (end == s.c_str() || *end != 0) return false;
  value = v;
  return true;
}

// True when `path` is `folder` or lies below it.
bool Covers(std::string_view folder, std::string_view path) {
  while (folder.size() > 1 && folder.back() == '/') folder.remove_suffix(1);
  if (path.substr(0, folder.size()) != folder) return false;
  return path.size() == folder.size() || folder == "/" || path[folder.size()] == '/';
}

// The hook's answer for `path`; false when it has none.
std::function<int64_t(const std::string&)>& InProcessHook() {
  static std::function<int64_t(const std::string&)> hook;
  return hook;
}

bool HookAnswer(const std::string& path, int64_t& bytes) {
  if (const auto& hook = InProcessHook()) {
    bytes = hook(path);
    return true;
  }
  const char* env = std::getenv(kFreeSpaceHookVariable);
  if (!env || !*env) return false;
  std::string_view rest(env);
  bool haveDefault = false;
  int64_t fallback = 0;
  while (!rest.empty()) {
    const size_t semi = rest.find(';');
    const std::string_view item = rest.substr(0, semi);
    rest = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 1);
    const size_t eq = item.rfind('=');
    int64_t v = 0;
    if (eq == std::string_view::npos) {
      if (!haveDefault && ParseBytes(item, v)) haveDefault = true, fallback = v;
    } else if (Covers(item.substr(0, eq), path) && ParseBytes(item.substr(eq + 1), v)) {
      bytes = v;
      return true;
    }
  }
  if (haveDefault) bytes = fallback;
  return haveDefault;
}

bool MakeDirs(const std::string& path) {
  for (size_t pos = 1; pos != std::string::npos;) {
    pos = path.find('/', pos + 1);
    const std::string part = path.substr(0, pos);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Parent(const std::string& p) {
  const size_t slash = p.rfind('/');
  return slash == 0 || slash == std::string::npos ? "/" : p.substr(0, slash);
}

// The mount point holding `path`: the highest ancestor on the same device.
std::string TopFolder(const std::string& path, dev_t dev) {
  std::string cur = Parent(path);
  for (;;) {
    if (cur == "/") return cur;
    const std::string up = Parent(cur);
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
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    }
  }
  return out;
}

bool TrashInto(const std::string& trash, const std::string& path, std::string& error) {
  const std::string files = trash + "/files", info = trash + "/info";
  if (!MakeDirs(files) || !MakeDirs(info)) {
    error = "cannot create " + trash;
    return false;
  }
  const std::string base = path.substr(path.rfind('/') + 1);
  char date[32];
  const time_t now = time(nullptr);
  struct tm tm {};
  localtime_r(&now, &tm);
  strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &tm);
  for (int n = 1; n < 1000; ++n) {
    const std::string name = n == 1 ? base : base + "." + std::to_string(n);
    const std::string infoPath = info + "/" + name + ".trashinfo";
    const int fd = ::open(infoPath.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      error = std::string("cannot write to the trash: ") + std::strerror(errno);
      return false;
    }
    const std::string text = "[Trash Info]\nPath=" + PercentEncode(path) + "\nDeletionDate=" + date + "\n";
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    const std::string target = files + "/" + name;
    struct stat st {};
    if (!written || ::lstat(target.c_str(), &st) == 0 || ::rename(path.c_str(), target.c_str()) != 0) {
      const int err = written && ::lstat(target.c_str(), &st) == 0 ? EEXIST : errno;
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

void SetFreeSpaceOverride(std::function<int64_t(const std::string&)> hook) { InProcessHook() = std::move(hook); }

int64_t FreeOnDisk(const std::string& path) {
  int64_t hooked = 0;
  if (HookAnswer(path, hooked)) return hooked;
  const std::string existing = NearestExisting(path);
  if (existing.empty()) return -1;
  struct statvfs s {};
  if (statvfs(existing.c_str(), &s) != 0 || s.f_blocks == 0) return -1;
  return static_cast<int64_t>(s.f_bavail) * static_cast<int64_t>(s.f_frsize);
}

int64_t FreeOnDiskAt(int fd, const std::string& path) {
  int64_t hooked = 0;
  if (HookAnswer(path, hooked)) return hooked;
  struct statvfs s {};
  if (fstatvfs(fd, &s) != 0 || s.f_blocks == 0) return -1;
  return static_cast<int64_t>(s.f_bavail) * static_cast<int64_t>(s.f_frsize);
}

bool SameFileSystem(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  const std::string ea = NearestExisting(a), eb = NearestExisting(b);
  if (ea.empty() || eb.empty() || stat(ea.c_str(), &sa) != 0 || stat(eb.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev;
}

bool MoveToTrash(const std::string& path, std::string& error) {
  struct stat st {};
  if (path.empty() || path[0] != '/' || ::lstat(path.c_str(), &st) != 0) {
    error = "cannot find " + path;
    return false;
  }
  const char* xdg = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  const std::string data = xdg && *xdg ? xdg : (home && *home ? std::string(home) + "/.local/share" : "");
  if (!data.empty()) {
    MakeDirs(data);
    struct stat dst {};
    if (::stat(data.c_str(), &dst) == 0 && dst.st_dev == st.st_dev) return TrashInto(data + "/Trash", path, error);
  }
  const std::string top = TopFolder(path, st.st_dev);
  return TrashInto((top == "/" ? "" : top) + "/.Trash-" + std::to_string(getuid()), path, error);
}

bool MoveToTrash(const std::string& path) {
  std::string error;
  return MoveToTrash(path, error);
}

bool IsWritableFolder(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
         access(path.c_str(), W_OK | X_OK) == 0;
}
