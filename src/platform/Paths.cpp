#include "platform/Paths.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::mutex gMutex;
std::string gProgramPath;

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string DetectProgramPath() {
  std::error_code ec;
  fs::path p = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : p.string();
}

bool IsWritableFolder(const std::string& dir) { return !dir.empty() && access(dir.c_str(), W_OK | X_OK) == 0; }

// The program's own folder keeps the data only for a copy that was not installed: an installed
// folder may be writable (root, a prefix of the user's) and must still stay as installed.
bool KeepsDataInProgramDir(const std::string& dir) {
  std::error_code ec;
  return IsWritableFolder(dir) && !fs::exists(fs::path(dir) / kInstalledMarker, ec);
}

std::string Ensure(const std::string& dir) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  return dir;
}

}  // namespace

std::string ProgramPath() {
  std::lock_guard lock(gMutex);
  if (gProgramPath.empty()) gProgramPath = DetectProgramPath();
  return gProgramPath;
}

void SetProgramPath(const std::string& path) {
  std::lock_guard lock(gMutex);
  gProgramPath = path;
}

std::string ProgramDir() {
  const std::string p = ProgramPath();
  const size_t slash = p.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return p.substr(0, slash);
}

std::string HomeFolder() {
  std::string h = Env("HOME");
  return h.empty() ? std::string("/tmp") : h;
}

std::string XdgConfigHome() {
  std::string v = Env("XDG_CONFIG_HOME");
  return v.empty() ? HomeFolder() + "/.config" : v;
}

std::string XdgDataHome() {
  std::string v = Env("XDG_DATA_HOME");
  return v.empty() ? HomeFolder() + "/.local/share" : v;
}

std::string XdgCacheHome() {
  std::string v = Env("XDG_CACHE_HOME");
  return v.empty() ? HomeFolder() + "/.cache" : v;
}

std::string ConfigFolder() {
  if (std::string t = Env("TANDOR_HOME"); !t.empty()) return Ensure(t);
  if (std::string d = ProgramDir(); KeepsDataInProgramDir(d)) return d;
  return Ensure(XdgConfigHome() + "/tandorfile");
}

std::string CacheFolder() {
  if (std::string t = Env("TANDOR_HOME"); !t.empty()) return Ensure(t);
  if (std::string d = ProgramDir(); KeepsDataInProgramDir(d)) return d;
  return Ensure(XdgCacheHome() + "/tandorfile");
}
