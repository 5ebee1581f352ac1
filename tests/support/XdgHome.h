#pragma once
// A fresh XDG home for one test: HOME, XDG_CONFIG_HOME, XDG_DATA_HOME and the desktop folder in new
// temporary folders, with no system data folders (the machine's own handlers never leak in).
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <linux/fs.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TestEnv.h"

struct TXdgHome {
  std::filesystem::path home, config, data, desktop, system;
  TXdgHome() {
    home = testenv::MakeTempDir("home");
    config = home / ".config";
    data = home / ".local/share";
    desktop = home / "Desktop";
    system = testenv::MakeTempDir("system");  // stands in for /usr/share
    std::filesystem::create_directories(config);
    std::filesystem::create_directories(data);
    std::filesystem::create_directories(desktop);
    std::filesystem::create_directories(system / "applications");
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    setenv("XDG_DATA_DIRS", system.c_str(), 1);
    setenv("XDG_CONFIG_DIRS", (system / "etc").c_str(), 1);
    setenv("XDG_DESKTOP_DIR", desktop.c_str(), 1);
  }
  // An installed program that handles some types, as a package would put it into /usr/share.
  void InstallApp(const std::string& id, const std::string& name, const std::string& mimeTypes) const {
    testenv::WriteFile(system / "applications" / id, "[Desktop Entry]\nType=Application\nName=" + name +
                                                         "\nExec=true %f\nMimeType=" + mimeTypes + "\n");
  }
};

// Makes a folder unwritable, also for root (the immutable flag); false when the system allows neither.
inline bool MakeUnwritable(const std::filesystem::path& dir, bool on) {
  std::error_code ec;
  if (on) std::filesystem::permissions(dir, std::filesystem::perms(0555), ec);
  if (geteuid() == 0) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    if (!ok && on) return false;
  }
  if (!on) {
    std::filesystem::permissions(dir, std::filesystem::perms(0755), ec);
    return true;
  }
  const std::filesystem::path probe = dir / ".probe";
  const int fd = ::open(probe.c_str(), O_CREAT | O_WRONLY, 0644);
  if (fd >= 0) {
    ::close(fd);
    ::unlink(probe.c_str());
    return false;
  }
  return true;
}
