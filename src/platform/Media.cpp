#include "platform/Media.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/MediaLabels.h"
#include "platform/Paths.h"

namespace fs = std::filesystem;

namespace {

// "\040" and the like in mountinfo fields.
std::string UnescapeOctal(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3' && s[i + 2] >= '0' &&
        s[i + 2] <= '7' && s[i + 3] >= '0' && s[i + 3] <= '7') {
      out.push_back(static_cast<char>(((s[i + 1] - '0') << 6) | ((s[i + 2] - '0') << 3) | (s[i + 3] - '0')));
      i += 3;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

std::vector<std::string_view> SplitSpaces(std::string_view line) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    const size_t start = i;
    while (i < line.size() && line[i] != ' ') ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

std::string ReadSmallFile(const std::string& path, size_t limit) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::string s(limit, '\0');
  in.read(s.data(), static_cast<std::streamsize>(limit));
  s.resize(static_cast<size_t>(in.gcount()));
  return s;
}

std::string FirstLine(std::string s) {
  const size_t nl = s.find_first_of("\r\n");
  if (nl != std::string::npos) s.resize(nl);
  return s;
}

// A device the system marks removable, or one on a USB bus, or an SD card.
bool SysIsRemovable(const std::string& majorMinor) {
  if (majorMinor.empty() || majorMinor.find('/') != std::string::npos) return false;
  std::error_code ec;
  const fs::path dev = fs::canonical(fs::path("/sys/dev/block") / majorMinor, ec);
  if (ec) return false;
  // A partition's flags sit on its disk.
  const fs::path disk = fs::exists(dev / "partition", ec) ? dev.parent_path() : dev;
  if (FirstLine(ReadSmallFile((disk / "removable").string(), 8)) == "1") return true;
  const std::string where = disk.string();
  if (where.find("/usb") != std::string::npos) return true;
  return where.find("/mmc") != std::string::npos && FirstLine(ReadSmallFile((disk / "device/type").string(), 16)) == "SD";
}

bool StatDevice(const std::string& path, uint64_t& device) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return false;
  device = static_cast<uint64_t>(st.st_dev);
  return true;
}

std::string SysRealPath(const std::string& path) {
  char* r = ::realpath(path.c_str(), nullptr);
  if (!r) return {};
  std::string out(r);
  std::free(r);
  return out;
}

bool IsBelow(const std::string& path, const std::string& folder) {
  if (folder == "/") return !path.empty() && path[0] == '/';
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

std::string Absolute(const std::string& path) {
  std::error_code ec;
  return fs::absolute(path, ec).lexically_normal().string();
}

// The nearest folder or file that exists, from `path` upwards.
std::string NearestExisting(const std::string& path, const TMediaSources& sources) {
  fs::path p = Absolute(path);
  for (;;) {
    uint64_t dev = 0;
    if (sources.DeviceOf(p.string(), dev)) return p.string();
    if (!p.has_relative_path()) return {};
    p = p.parent_path();
  }
}

bool IsNetworkFileSystem(const std::string& type) {
  static const char* const kTypes[] = {"nfs",  "nfs4",      "cifs",      "smb3",        "smbfs",   "ncpfs",
                                       "9p",   "afs",       "ceph",      "glusterfs",   "lustre",  "davfs",
                                       "sshfs", "fuse.sshfs", "fuse.davfs2", "fuse.rclone", "fuse.s3fs", "fuse.glusterfs"};
  for (const char* t : kTypes)
    if (type == t) return true;
  return false;
}

// Walks below an open folder. `erase` deletes what it meets; otherwise it counts.
bool WalkBelow(int fd, const std::string& path, uint64_t device, bool erase, bool skipLabelFile,
               TMediumContents& contents, const TEraseNotice& notice, std::string& error) {
  const int listFd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  DIR* dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
  if (!dir) {
    if (listFd >= 0) ::close(listFd);
    error = path + ": " + std::strerror(errno);
    return false;
  }
  std::vector<std::string> names;
  while (const dirent* e = ::readdir(dir)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    if (skipLabelFile && std::strcmp(e->d_name, kVolumeLabelFile) == 0) continue;
    names.emplace_back(e->d_name);
  }
  ::closedir(dir);
  for (const std::string& name : names) {
    const std::string child = path == "/" ? "/" + name : path + "/" + name;
    struct stat st {};
    if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;
      error = child + ": " + std::strerror(errno);
      return false;
    }
    if (S_ISDIR(st.st_mode)) {
      if (static_cast<uint64_t>(st.st_dev) != device) {
        error = child + ": another file system is mounted here";
        return false;
      }
      const int sub = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub < 0) {
        error = child + ": " + std::strerror(errno);
        return false;
      }
      const bool ok = WalkBelow(sub, child, device, erase, false, contents, notice, error);
      ::close(sub);
      if (!ok) return false;
      ++contents.Folders;
      if (erase) {
        if (notice) notice(child, true);
        if (::unlinkat(fd, name.c_str(), AT_REMOVEDIR) != 0) {
          error = child + ": " + std::strerror(errno);
          return false;
        }
      }
    } else {
      ++contents.Files;
      if (S_ISREG(st.st_mode)) contents.Bytes += static_cast<int64_t>(st.st_size);
      if (erase) {
        if (notice) notice(child, false);
        if (::unlinkat(fd, name.c_str(), 0) != 0) {
          error = child + ": " + std::strerror(errno);
          return false;
        }
      }
    }
  }
  return true;
}

bool WalkTree(const std::string& folder, bool erase, TMediumContents& contents, const TEraseNotice& notice,
              std::string& error) {
  contents = TMediumContents{};
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    error = folder + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0;
  if (!ok) error = folder + ": " + std::strerror(errno);
  if (ok) ok = WalkBelow(fd, folder, static_cast<uint64_t>(st.st_dev), erase, !erase, contents, notice, error);
  ::close(fd);
  return ok;
}

}  // namespace

std::vector<TMountEntry> ParseMountInfo(std::string_view text) {
  std::vector<TMountEntry> out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::vector<std::string_view> f = SplitSpaces(text.substr(pos, end - pos));
    pos = end + 1;
    // id parent major:minor root mount-point options [optional...] - type source super-options
    size_t dash = 6;
    while (dash < f.size() && f[dash] != "-") ++dash;
    if (f.size() < 5 || dash + 1 >= f.size()) continue;
    TMountEntry m;
    m.MajorMinor = std::string(f[2]);
    m.MountPoint = UnescapeOctal(f[4]);
    m.FsType = UnescapeOctal(f[dash + 1]);
    m.Source = dash + 2 < f.size() ? UnescapeOctal(f[dash + 2]) : std::string();
    out.push_back(std::move(m));
  }
  return out;
}

TMediaSources SystemMediaSources() {
  TMediaSources s;
  s.MountInfo = [] { return ReadSmallFile("/proc/self/mountinfo", 16 * 1024 * 1024); };
  s.IsRemovable = SysIsRemovable;
  s.DeviceOf = StatDevice;
  s.RealPath = SysRealPath;
  s.FileSystemLabel = [](const TMountEntry& m) { return FileSystemLabelOf(m.Source); };
  s.SetFileSystemLabel = [](const TMountEntry& m, const std::string& label) {
    return SetFileSystemLabelOf(m.Source, label);
  };
  s.HomeFolder = HomeFolder();
  return s;
}

IMedia& SystemMedia() {
  static TLinuxMedia media(SystemMediaSources());
  return media;
}

TLinuxMedia::TLinuxMedia(TMediaSources sources) : sources_(std::move(sources)) {}

bool TLinuxMedia::MountOf(const std::string& path, TMountEntry& mount) {
  const std::string existing = NearestExisting(path, sources_);
  if (existing.empty()) return false;
  const std::string real = sources_.RealPath(existing);
  if (real.empty()) return false;
  bool found = false;
  size_t best = 0;
  for (const TMountEntry& m : ParseMountInfo(sources_.MountInfo())) {
    if (m.MountPoint != real && !IsBelow(real, m.MountPoint)) continue;
    if (!found || m.MountPoint.size() >= best) {
      mount = m;
      best = m.MountPoint.size();
      found = true;
    }
  }
  return found;
}

TDriveKind TLinuxMedia::KindOf(const TMountEntry& mount) {
  if (IsNetworkFileSystem(mount.FsType)) return TDriveKind::Network;
  if (mount.FsType == "iso9660" || mount.FsType == "udf") return TDriveKind::CdRom;
  bool underRoot = false;
  for (const std::string& root : sources_.RemovableRoots) underRoot = underRoot || IsBelow(mount.MountPoint, root);
  return underRoot && sources_.IsRemovable(mount.MajorMinor) ? TDriveKind::Removable : TDriveKind::Fixed;
}

TDriveKind TLinuxMedia::DriveKind(const std::string& path) {
  TMountEntry m;
  return MountOf(path, m) ? KindOf(m) : TDriveKind::Fixed;
}

std::string TLinuxMedia::VolumeLabel(const std::string& path) {
  TMountEntry m;
  if (!MountOf(path, m) || KindOf(m) != TDriveKind::Removable) return {};
  const std::string file = m.MountPoint + "/" + kVolumeLabelFile;
  struct stat st {};
  if (::lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return FirstLine(ReadSmallFile(file, 256));
  return sources_.FileSystemLabel ? sources_.FileSystemLabel(m) : std::string();
}

std::string TLinuxMedia::DriveName(const std::string& path) {
  TMountEntry m;
  if (MountOf(path, m)) return m.MountPoint;
  return fs::path(Absolute(path)).parent_path().string();
}

bool TLinuxMedia::Space(const std::string& path, int64_t& freeBytes, int64_t& totalBytes) {
  const std::string existing = NearestExisting(path, sources_);
  struct statvfs s {};
  if (existing.empty() || ::statvfs(existing.c_str(), &s) != 0) return false;
  freeBytes = static_cast<int64_t>(s.f_bavail) * static_cast<int64_t>(s.f_frsize);
  totalBytes = static_cast<int64_t>(s.f_blocks) * static_cast<int64_t>(s.f_frsize);
  return true;
}

bool TLinuxMedia::SetVolumeLabel(const std::string& path, const std::string& label) {
  TMountEntry m;
  if (!MountOf(path, m) || KindOf(m) != TDriveKind::Removable) return false;
  const std::string file = m.MountPoint + "/" + kVolumeLabelFile;
  if (sources_.SetFileSystemLabel && sources_.SetFileSystemLabel(m, label)) {
    ::unlink(file.c_str());  // a label file from earlier would hide the new label
    return true;
  }
  const std::string temp = file + ".new";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << label << '\n';
    out.flush();
    if (!out) {
      ::unlink(temp.c_str());
      return false;
    }
  }
  if (::rename(temp.c_str(), file.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

std::string TLinuxMedia::EraseRefusal(const std::string& mountPoint) {
  if (mountPoint.empty() || mountPoint[0] != '/') return "\"" + mountPoint + "\" is not the full path of a medium";
  const std::string real = sources_.RealPath(mountPoint);
  if (real.empty()) return mountPoint + " does not exist";
  std::string given = fs::path(mountPoint).lexically_normal().string();
  while (given.size() > 1 && given.back() == '/') given.pop_back();
  if (real != given) return mountPoint + " is reached through a link or a relative step";
  if (real == "/") return "/ holds the system";
  const TMountEntry* own = nullptr;
  const std::vector<TMountEntry> mounts = ParseMountInfo(sources_.MountInfo());
  for (const TMountEntry& m : mounts)
    if (m.MountPoint == real) own = &m;
  if (!own) return real + " is not the mount point of a medium";
  if (KindOf(*own) != TDriveKind::Removable) return real + " is not a removable medium";
  const std::string home = sources_.HomeFolder.empty() ? std::string() : sources_.RealPath(sources_.HomeFolder);
  if (!home.empty() && (home == real || IsBelow(home, real))) return real + " holds the home folder";
  uint64_t dev = 0, rootDev = 0, homeDev = 0;
  if (!sources_.DeviceOf(real, dev)) return real + " cannot be examined";
  if (sources_.DeviceOf("/", rootDev) && rootDev == dev) return real + " lies on the file system of /";
  if (!home.empty() && sources_.DeviceOf(home, homeDev) && homeDev == dev)
    return real + " lies on the file system of the home folder";
  return {};
}

bool TLinuxMedia::Contents(const std::string& mountPoint, TMediumContents& contents) {
  std::string error;
  return WalkTree(mountPoint, false, contents, nullptr, error);
}

bool TLinuxMedia::Erase(const std::string& mountPoint, const TEraseNotice& notice, std::string& error) {
  error = EraseRefusal(mountPoint);
  if (!error.empty()) return false;
  return EraseTree(mountPoint, notice, error);
}

bool CountTree(const std::string& folder, TMediumContents& contents) {
  std::string error;
  return WalkTree(folder, false, contents, nullptr, error);
}

bool EraseTree(const std::string& folder, const TEraseNotice& notice, std::string& error) {
  TMediumContents contents;
  return WalkTree(folder, true, contents, notice, error);
}
