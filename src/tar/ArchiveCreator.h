#pragma once
// Makes a tar, gzipped tar or gzip file from a list of files with their stored names. The archive is
// written under a temporary name beside the target and renamed only on success: a cancelled or failed
// run leaves nothing under the target name.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tar/GzipStream.h"
#include "tar/TarLib.h"

enum class TArchiveKind { Tar, TarGz, Gz };

// One file, folder or link to store: where it is on disk and the name it gets in the archive.
struct TArchiveItem {
  std::string Source;
  std::string StoredName;  // "/" separators; empty = the source's file name
};

struct TCreateResult {
  bool Ok = false;
  bool Cancelled = false;
  std::string Error;
  int Entries = 0;                    // entries stored
  uint64_t BytesIn = 0;               // file bytes read
  uint64_t BytesOut = 0;              // size of the archive written
  std::vector<std::string> Warnings;  // files skipped (with SkipUnreadable)
};

class TArchiveCreator {
 public:
  TArchiveKind Kind = TArchiveKind::Tar;
  std::vector<TArchiveItem> Items;               // in archive order; Gz takes exactly one file
  int CompressionLevel = 6;                      // gzip level 0-9
  std::string Comment;                           // gzip comment (tag); written when StoreComment
  bool StoreComment = false;
  bool KeepAttributes = true;                    // true: each entry's own mode, owner and kind; false: the stamps below
  TTarPermissions Permissions = tpAll;           // stamps for regular files when KeepAttributes is false
  int32_t UserId = 0, GroupId = 0;
  std::string UserName, GroupName;
  std::string Magic = "ustar";
  std::string VolumeHeader;                      // first entry of kind Volume Header when not empty
  bool SkipUnreadable = false;                   // true: warn and go on; false: stop at the first unreadable file
  // Progress: source bytes done, total source bytes, the current stored name. Runs on the creating thread.
  std::function<void(uint64_t done, uint64_t total, const std::string& name)> OnProgress;
  std::atomic<bool> Cancel{false};               // set from any thread to stop; the target stays untouched

  // The kind a target name asks for (".tar", ".tar.gz"/".tgz", ".gz"); false when none fits.
  static bool KindForName(const std::string& target, TArchiveKind& kind);
  // Writes the archive at `target` (replacing an existing file only on success).
  TCreateResult Create(const std::string& target);
};
