#include "FakeMedia.h"

#include <algorithm>

namespace fs = std::filesystem;

TFakeMedia::TFakeMedia(const fs::path& root) : root_(root), mount_(root / "mnt") {
  fs::create_directories(root_);
  Insert(-1);
}

fs::path TFakeMedia::Folder(int medium) const { return root_ / ("medium" + std::to_string(medium)); }

int TFakeMedia::AddMedium(const std::string& label, int64_t capacity) {
  media_.push_back({label, capacity});
  fs::create_directories(Folder(MediumCount() - 1));
  return MediumCount() - 1;
}

void TFakeMedia::Insert(int medium) {
  std::error_code ec;
  fs::remove(mount_, ec);
  fs::create_directory_symlink(medium >= 0 ? Folder(medium) : root_ / "nothing-inserted", mount_);
  inserted_ = medium;
}

bool TFakeMedia::OnMount(const std::string& path) const {
  const std::string m = mount_.string();
  return inserted_ >= 0 && (path == m || (path.size() > m.size() && path.compare(0, m.size(), m) == 0 && path[m.size()] == '/'));
}

TDriveKind TFakeMedia::DriveKind(const std::string& path) { return OnMount(path) ? Kind : TDriveKind::Fixed; }

std::string TFakeMedia::VolumeLabel(const std::string& path) {
  return OnMount(path) ? media_[static_cast<size_t>(inserted_)].Label : std::string();
}

std::string TFakeMedia::DriveName(const std::string& path) {
  return OnMount(path) ? mount_.string() : fs::path(path).parent_path().string();
}

bool TFakeMedia::Space(const std::string& path, int64_t& freeBytes, int64_t& totalBytes) {
  if (!OnMount(path)) return false;
  TMediumContents c;
  CountTree(Folder(inserted_).string(), c);
  totalBytes = media_[static_cast<size_t>(inserted_)].Capacity;
  freeBytes = std::max<int64_t>(0, totalBytes - c.Bytes);
  return true;
}

bool TFakeMedia::SetVolumeLabel(const std::string& path, const std::string& label) {
  if (!OnMount(path) || !LabelsSettable) return false;
  media_[static_cast<size_t>(inserted_)].Label = label;
  return true;
}

std::string TFakeMedia::EraseRefusal(const std::string& mountPoint) {
  return mountPoint == mount_.string() && inserted_ >= 0 && Kind == TDriveKind::Removable && !RefuseErase
             ? std::string()
             : mountPoint + " is not a removable medium's mount point";
}

bool TFakeMedia::Contents(const std::string& mountPoint, TMediumContents& contents) {
  return OnMount(mountPoint) && CountTree(Folder(inserted_).string(), contents);
}

bool TFakeMedia::Erase(const std::string& mountPoint, const TEraseNotice& notice, std::string& error) {
  error = EraseRefusal(mountPoint);
  if (!error.empty()) return false;
  Erased.push_back(mountPoint);
  // Report the paths below the mount point, as a mounted medium would show them.
  const std::string folder = Folder(inserted_).string();
  return EraseTree(folder, [&](const std::string& path, bool isFolder) {
    if (notice) notice(mountPoint + path.substr(folder.size()), isFolder);
  }, error);
}
