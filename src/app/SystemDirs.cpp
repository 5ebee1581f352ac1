#include "app/SystemDirs.h"

#include <cstdlib>
#include <fstream>

#include "platform/Paths.h"

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

// A value of user-dirs.dirs: XDG_DESKTOP_DIR="$HOME/Desktop".
std::string UserDirsEntry(const std::string& key) {
  std::ifstream in(XdgConfigHome() + "/user-dirs.dirs");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key + "=", 0) != 0) continue;
    std::string v = line.substr(key.size() + 1);
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    if (v.rfind("$HOME", 0) == 0) v = HomeFolder() + v.substr(5);
    if (!v.empty() && v.front() == '/') return v;
  }
  return {};
}

}  // namespace

std::string XdgDesktopDir() {
  if (std::string d = Env("XDG_DESKTOP_DIR"); !d.empty()) return d;
  if (std::string d = UserDirsEntry("XDG_DESKTOP_DIR"); !d.empty()) return d;
  return HomeFolder() + "/Desktop";
}

TSystemDirs::TSystemDirs() {
  tempDir_ = Env("TMPDIR");
  while (tempDir_.size() > 1 && tempDir_.back() == '/') tempDir_.pop_back();
  if (tempDir_.empty()) tempDir_ = "/tmp";
  windowsDir_ = "/usr/share";
  programFilesDir_ = "/usr/bin";
  deskTopDir_ = XdgDesktopDir();
  fontsDir_ = XdgDataHome() + "/fonts";
  startMenuDir_ = XdgDataHome() + "/applications";
  recentDir_ = XdgDataHome();
  startUpDir_ = XdgConfigHome() + "/autostart";
}
