#pragma once
// The media that hold files: which kind of file system a path lies on (a removable medium such as a
// USB stick or SD card, a fixed disk, a network share, an optical disc), where that file system is
// mounted, its space and volume label, and erasing a removable medium.
//
// A removable medium is a mounted file system under /media or /run/media whose device the system
// marks removable (or that sits on a USB or MMC bus). Its volume label is the file system's label,
// set through udisks2 when that service answers; otherwise a hidden ".tandor-volume" file at the
// medium's root holds it.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

enum class TDriveKind { Fixed, Removable, Network, CdRom };

// What a medium holds, counted below its mount point (the label file is not counted).
struct TMediumContents {
  int64_t Files = 0;    // everything that is not a folder
  int64_t Folders = 0;
  int64_t Bytes = 0;    // sizes of the files
};

// Told about every file (folder = false) and folder removed by an erase, with its path.
using TEraseNotice = std::function<void(const std::string& path, bool folder)>;

class IMedia {
 public:
  virtual ~IMedia() = default;
  virtual TDriveKind DriveKind(const std::string& path) = 0;
  // The label of the medium holding `path`; empty when it has none (fixed file systems: always).
  virtual std::string VolumeLabel(const std::string& path) = 0;
  // The mount point of the medium holding `path` (used in questions: "in drive: ...").
  virtual std::string DriveName(const std::string& path) = 0;
  // Free bytes (for the user) and total bytes of the medium holding `path`; false when unknown.
  virtual bool Space(const std::string& path, int64_t& freeBytes, int64_t& totalBytes) = 0;
  // Labels the removable medium holding `path`; false when neither way of labelling worked.
  virtual bool SetVolumeLabel(const std::string& path, const std::string& label) = 0;
  // Why `mountPoint` may not be erased; empty when it is a removable medium's own mount point.
  virtual std::string EraseRefusal(const std::string& mountPoint) = 0;
  virtual bool Contents(const std::string& mountPoint, TMediumContents& contents) = 0;
  // Deletes everything below `mountPoint` after the same checks as EraseRefusal; false with a reason.
  virtual bool Erase(const std::string& mountPoint, const TEraseNotice& notice, std::string& error) = 0;
};

// The media of this system.
IMedia& SystemMedia();

// Name of the hidden label file at a medium's root.
inline constexpr char kVolumeLabelFile[] = ".tandor-volume";

// --- The parts of the system's media that tests replace --------------------------------------

// One line of /proc/self/mountinfo.
struct TMountEntry {
  std::string MajorMinor;  // "8:17"
  std::string MountPoint;  // unescaped
  std::string FsType;
  std::string Source;      // "/dev/sdb1"
};

// The mounts in the order listed; later mounts on the same point hide earlier ones. Malformed
// lines are skipped.
std::vector<TMountEntry> ParseMountInfo(std::string_view text);

struct TMediaSources {
  std::function<std::string()> MountInfo;                          // text of /proc/self/mountinfo
  std::function<bool(const std::string& majorMinor)> IsRemovable;   // the device is marked removable
  // The device number of a path itself (links not followed); false when it does not exist.
  std::function<bool(const std::string& path, uint64_t& device)> DeviceOf;
  std::function<std::string(const std::string& path)> RealPath;      // links resolved; empty when missing
  std::function<std::string(const TMountEntry&)> FileSystemLabel;    // empty when none or unknown
  std::function<bool(const TMountEntry&, const std::string& label)> SetFileSystemLabel;
  std::string HomeFolder;
  std::vector<std::string> RemovableRoots{"/media", "/run/media"};
};

// The sources of the running system (/proc, /sys, stat, udisks2).
TMediaSources SystemMediaSources();

class TLinuxMedia : public IMedia {
 public:
  explicit TLinuxMedia(TMediaSources sources);
  TDriveKind DriveKind(const std::string& path) override;
  std::string VolumeLabel(const std::string& path) override;
  std::string DriveName(const std::string& path) override;
  bool Space(const std::string& path, int64_t& freeBytes, int64_t& totalBytes) override;
  bool SetVolumeLabel(const std::string& path, const std::string& label) override;
  std::string EraseRefusal(const std::string& mountPoint) override;
  bool Contents(const std::string& mountPoint, TMediumContents& contents) override;
  bool Erase(const std::string& mountPoint, const TEraseNotice& notice, std::string& error) override;

  // The mount holding `path` (its nearest existing folder, links resolved); false when none.
  bool MountOf(const std::string& path, TMountEntry& mount);
  TDriveKind KindOf(const TMountEntry& mount);

 private:
  TMediaSources sources_;
};

// Counts what lies below `folder` without following links or entering other file systems.
bool CountTree(const std::string& folder, TMediumContents& contents);
// Deletes everything below `folder` (not the folder itself) without following links or entering
// other file systems; false with a reason at the first failure.
bool EraseTree(const std::string& folder, const TEraseNotice& notice, std::string& error);
