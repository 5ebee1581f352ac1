// The media layer: mount table parsing, which file systems count as removable, the volume label
// file, and the erase that refuses everything but a removable medium's own mount point.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <filesystem>
#include <map>

#include "TestEnv.h"
#include "platform/Media.h"
#include "platform/Paths.h"

namespace fs = std::filesystem;

namespace {

// The mounts of a made-up machine (/proc/self/mountinfo lines).
const char kMountInfo[] =
    "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
    "23 22 8:2 / /home rw,relatime shared:2 - ext4 /dev/sda2 rw\n"
    "40 22 8:17 / /media/u/STICK rw,nosuid shared:30 - vfat /dev/sdb1 rw,uid=1000\n"
    "41 22 8:33 / /media/u/BIG\\040DISK rw shared:31 - ext4 /dev/sdc1 rw\n"
    "42 22 8:49 / /mnt/usb rw shared:32 - vfat /dev/sdd1 rw\n"
    "43 22 179:1 / /run/media/u/SD rw shared:33 master:2 - exfat /dev/mmcblk0p1 rw\n"
    "44 22 0:50 / /net/share rw - nfs4 server:/export rw\n"
    "45 22 11:0 / /media/u/CD ro - iso9660 /dev/sr0 ro\n"
    "46 22 8:65 / /media/u/ONROOT rw - vfat /dev/sde1 rw\n"
    "47 22 8:81 / /media/u/HOMESTICK rw - vfat /dev/sdf1 rw\n"
    "48 40 8:97 / /media/u/STICK/inner rw - vfat /dev/sdg1 rw\n"
    "malformed line\n";

TMediaSources MadeUpMachine() {
  TMediaSources s;
  s.MountInfo = [] { return std::string(kMountInfo); };
  s.IsRemovable = [](const std::string& mm) {
    return mm == "8:17" || mm == "8:49" || mm == "179:1" || mm == "8:65" || mm == "8:81" || mm == "8:97";
  };
  // Device numbers: each mount its own, but ONROOT reports the root's (a bind of it).
  static const std::map<std::string, uint64_t> kDevices = {
      {"/", 1}, {"/home", 2}, {"/home/u", 2}, {"/media/u/STICK", 17}, {"/media/u/STICK/sub", 17},
      {"/media/u/STICK/inner", 97}, {"/media/u/BIG DISK", 33}, {"/mnt/usb", 49}, {"/run/media/u/SD", 101},
      {"/net/share", 50}, {"/media/u/CD", 110}, {"/media/u/ONROOT", 1}, {"/media/u/HOMESTICK", 81},
      {"/media/u/HOMESTICK/u", 81}, {"/media/u/link", 17}, {"/media", 1}, {"/media/u", 1}, {"/run", 1},
      {"/run/media", 1}, {"/run/media/u", 1}, {"/mnt", 1}, {"/net", 1}};
  s.DeviceOf = [](const std::string& path, uint64_t& dev) {
    const auto it = kDevices.find(path);
    if (it == kDevices.end()) return false;
    dev = it->second;
    return true;
  };
  s.RealPath = [](const std::string& path) -> std::string {
    if (path == "/media/u/link") return "/media/u/STICK";
    std::string p = fs::path(path).lexically_normal().string();
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return kDevices.count(p) ? p : std::string();
  };
  s.HomeFolder = "/home/u";
  return s;
}

TEST(Media, ParsesMountInfoWithEscapesAndOptionalFields) {
  const auto mounts = ParseMountInfo(kMountInfo);
  ASSERT_EQ(mounts.size(), 11u);
  EXPECT_EQ(mounts[2].MountPoint, "/media/u/STICK");
  EXPECT_EQ(mounts[2].MajorMinor, "8:17");
  EXPECT_EQ(mounts[2].FsType, "vfat");
  EXPECT_EQ(mounts[2].Source, "/dev/sdb1");
  EXPECT_EQ(mounts[3].MountPoint, "/media/u/BIG DISK");
  EXPECT_EQ(mounts[5].FsType, "exfat");  // two optional fields before the separator
  EXPECT_EQ(mounts[6].Source, "server:/export");
}

TEST(Media, KindsOfTheMadeUpMachine) {
  TLinuxMedia media(MadeUpMachine());
  const struct {
    const char* Path;
    TDriveKind Kind;
    const char* Mount;
  } cases[] = {
      {"/home/u/a.zip", TDriveKind::Fixed, "/home"},
      {"/media/u/STICK/backup.zip", TDriveKind::Removable, "/media/u/STICK"},
      {"/media/u/STICK/sub/new/deeper.zip", TDriveKind::Removable, "/media/u/STICK"},
      {"/media/u/STICK/inner/x.zip", TDriveKind::Removable, "/media/u/STICK/inner"},
      {"/media/u/BIG DISK/x.zip", TDriveKind::Fixed, "/media/u/BIG DISK"},  // not marked removable
      {"/mnt/usb/x.zip", TDriveKind::Fixed, "/mnt/usb"},                    // outside /media, /run/media
      {"/run/media/u/SD/x.zip", TDriveKind::Removable, "/run/media/u/SD"},
      {"/net/share/x.zip", TDriveKind::Network, "/net/share"},
      {"/media/u/CD/x.zip", TDriveKind::CdRom, "/media/u/CD"},
      {"/media/u/GONE/x.zip", TDriveKind::Fixed, "/"},  // nothing mounted there
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Path);
    EXPECT_EQ(media.DriveKind(c.Path), c.Kind);
    EXPECT_EQ(media.DriveName(c.Path), c.Mount);
  }
}

TEST(Media, EraseRefusesAllButARemovableMountPoint) {
  TLinuxMedia media(MadeUpMachine());
  const char* refused[] = {
      "",                         // nothing named
      "media/u/STICK",            // relative
      "/",                        // the system
      "/home",                    // fixed
      "/home/u",                  // the home folder
      "/media/u/STICK/sub",       // inside a medium, not its mount point
      "/media/u/link",            // a link to a medium
      "/media/u/BIG DISK",        // not removable
      "/mnt/usb",                 // removable but not under /media or /run/media
      "/net/share",               // network
      "/media/u/CD",              // optical
      "/media/u/ONROOT",          // on the file system of "/"
      "/media/u/GONE",            // nothing there
      "/media",                   // a folder above the media
  };
  for (const char* path : refused) {
    SCOPED_TRACE(path);
    EXPECT_NE(media.EraseRefusal(path), "");
    std::string error;
    EXPECT_FALSE(media.Erase(path, nullptr, error));
    EXPECT_NE(error, "");
  }
  EXPECT_EQ(media.EraseRefusal("/media/u/STICK"), "");
  EXPECT_EQ(media.EraseRefusal("/media/u/STICK/"), "");
  EXPECT_EQ(media.EraseRefusal("/run/media/u/SD"), "");
  EXPECT_EQ(media.EraseRefusal("/media/u/STICK/inner"), "");

  // A medium holding the home folder.
  TMediaSources s = MadeUpMachine();
  s.HomeFolder = "/media/u/HOMESTICK/u";
  TLinuxMedia homeOnStick(s);
  EXPECT_NE(homeOnStick.EraseRefusal("/media/u/HOMESTICK"), "");
  EXPECT_EQ(media.EraseRefusal("/media/u/HOMESTICK"), "");
}

TEST(Media, ThisMachinesRootHomeAndTemporaryFoldersAreNeverErased) {
  const fs::path temp = testenv::MakeTempDir("noerase");
  testenv::WriteFile(temp / "keep.txt", "keep");
  for (const std::string& path : {std::string("/"), HomeFolder(), temp.string(), std::string("/tmp")}) {
    SCOPED_TRACE(path);
    EXPECT_NE(SystemMedia().EraseRefusal(path), "");
    std::string error;
    EXPECT_FALSE(SystemMedia().Erase(path, nullptr, error));
  }
  EXPECT_EQ(testenv::ReadFile(temp / "keep.txt"), "keep");
  EXPECT_NE(SystemMedia().DriveKind(temp.string()), TDriveKind::Removable);
  EXPECT_EQ(SystemMedia().VolumeLabel((temp / "keep.txt").string()), "");
  int64_t freeBytes = 0, total = 0;
  ASSERT_TRUE(SystemMedia().Space(temp.string(), freeBytes, total));
  EXPECT_GT(total, 0);
  EXPECT_GE(total, freeBytes);
}

TEST(Media, TreeEraseStaysBelowItsFolderAndDoesNotFollowLinks) {
  const fs::path dir = testenv::MakeTempDir("tree");
  const fs::path medium = dir / "medium", outside = dir / "outside";
  fs::create_directories(medium / "a" / "b");
  fs::create_directories(outside);
  testenv::WriteFile(outside / "precious.txt", "precious");
  testenv::WriteFile(medium / "x.txt", "12345");
  testenv::WriteFile(medium / "a" / "b" / "y.txt", "123");
  testenv::WriteFile(medium / kVolumeLabelFile, "PKBACK# 001\n");
  fs::create_directory_symlink(outside, medium / "a" / "to-outside");
  fs::create_symlink(outside / "precious.txt", medium / "link.txt");

  TMediumContents c;
  ASSERT_TRUE(CountTree(medium.string(), c));
  EXPECT_EQ(c.Files, 4);  // two files and two links; the label file is not counted
  EXPECT_EQ(c.Folders, 2);
  EXPECT_EQ(c.Bytes, 8);

  std::vector<std::string> notices;
  std::string error;
  ASSERT_TRUE(EraseTree(medium.string(), [&](const std::string& p, bool folder) {
    notices.push_back((folder ? "D " : "F ") + p.substr(medium.string().size()));
  }, error)) << error;
  EXPECT_TRUE(fs::is_empty(medium));
  EXPECT_EQ(testenv::ReadFile(outside / "precious.txt"), "precious");
  std::sort(notices.begin(), notices.end());
  EXPECT_EQ(notices, (std::vector<std::string>{"D /a", "D /a/b", "F /.tandor-volume", "F /a/b/y.txt",
                                               "F /a/to-outside", "F /link.txt", "F /x.txt"}));
  // The folder itself must be a real folder, not a link to one.
  fs::create_directory_symlink(outside, dir / "mountlink");
  EXPECT_FALSE(EraseTree((dir / "mountlink").string(), nullptr, error));
  EXPECT_TRUE(fs::exists(outside / "precious.txt"));
}

TEST(Media, LabelsGoToTheFileSystemOrToTheLabelFile) {
  // A removable medium mounted at a temporary folder.
  const fs::path mount = testenv::MakeTempDir("stick");
  const std::string mp = mount.string();
  std::string fsLabel = "FSLABEL";
  bool settable = false;
  TMediaSources s;
  s.MountInfo = [mp] { return "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n40 22 8:17 / " + mp + " rw - vfat /dev/sdb1 rw\n"; };
  s.IsRemovable = [](const std::string& mm) { return mm == "8:17"; };
  s.DeviceOf = [](const std::string& path, uint64_t& dev) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return false;
    dev = st.st_dev;
    return true;
  };
  s.RealPath = [](const std::string& path) {
    std::error_code ec;
    const fs::path p = fs::canonical(path, ec);
    return ec ? std::string() : p.string();
  };
  s.FileSystemLabel = [&](const TMountEntry& m) { return m.Source == "/dev/sdb1" ? fsLabel : std::string(); };
  s.SetFileSystemLabel = [&](const TMountEntry&, const std::string& label) {
    if (settable) fsLabel = label;
    return settable;
  };
  s.RemovableRoots = {mount.parent_path().string()};
  TLinuxMedia media(s);
  const std::string file = (mount / "backup.zip").string();
  ASSERT_EQ(media.DriveKind(file), TDriveKind::Removable);
  EXPECT_EQ(media.VolumeLabel(file), "FSLABEL");

  // No way to set the file system's label: the hidden label file holds it.
  ASSERT_TRUE(media.SetVolumeLabel(file, "PKBACK# 002"));
  EXPECT_EQ(testenv::ReadFile(mount / kVolumeLabelFile), "PKBACK# 002\n");
  EXPECT_EQ(media.VolumeLabel(file), "PKBACK# 002");
  EXPECT_EQ(fsLabel, "FSLABEL");
  TMediumContents c;
  ASSERT_TRUE(media.Contents(mp, c));
  EXPECT_EQ(c.Files, 0);

  // Settable: the file system gets it and the label file goes.
  settable = true;
  ASSERT_TRUE(media.SetVolumeLabel(file, "PKBACK# 003"));
  EXPECT_EQ(fsLabel, "PKBACK# 003");
  EXPECT_FALSE(fs::exists(mount / kVolumeLabelFile));
  EXPECT_EQ(media.VolumeLabel(file), "PKBACK# 003");

  // Fixed file systems are never labelled.
  EXPECT_FALSE(media.SetVolumeLabel((mount.parent_path() / "x.zip").string(), "PKBACK# 001"));
}

}  // namespace
