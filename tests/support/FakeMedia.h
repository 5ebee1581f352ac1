#pragma once
// Media for tests: a removable drive whose mount point is a link to the folder of the medium
// inserted, with labels and sizes the test chooses. Erasing goes through the real tree eraser.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Media.h"

class TFakeMedia : public IMedia {
 public:
  // Makes `root`/mnt (the mount point) and keeps the media's folders under `root`.
  explicit TFakeMedia(const std::filesystem::path& root);

  // A medium of `capacity` bytes; returns its number.
  int AddMedium(const std::string& label, int64_t capacity);
  // The medium mounted at the mount point from now on (-1: none).
  void Insert(int medium);
  int Inserted() const { return inserted_; }
  std::filesystem::path MountPoint() const { return mount_; }
  std::filesystem::path Folder(int medium) const;
  std::string Label(int medium) const { return media_.at(static_cast<size_t>(medium)).Label; }
  int MediumCount() const { return static_cast<int>(media_.size()); }

  TDriveKind Kind = TDriveKind::Removable;  // of the mount point while a medium is inserted
  bool LabelsSettable = true;
  bool RefuseErase = false;
  std::vector<std::string> Erased;  // mount points erased, in order

  TDriveKind DriveKind(const std::string& path) override;
  std::string VolumeLabel(const std::string& path) override;
  std::string DriveName(const std::string& path) override;
  bool Space(const std::string& path, int64_t& freeBytes, int64_t& totalBytes) override;
  bool SetVolumeLabel(const std::string& path, const std::string& label) override;
  std::string EraseRefusal(const std::string& mountPoint) override;
  bool Contents(const std::string& mountPoint, TMediumContents& contents) override;
  bool Erase(const std::string& mountPoint, const TEraseNotice& notice, std::string& error) override;

 private:
  struct TMedium {
    std::string Label;
    int64_t Capacity = 0;
  };
  bool OnMount(const std::string& path) const;
  std::filesystem::path root_, mount_;
  std::vector<TMedium> media_;
  int inserted_ = -1;
};
