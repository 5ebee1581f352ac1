#pragma once
// The parameter records of the jobs. The caller fills one completely before the job starts (on the
// user-interface thread for the window); the job never reads anything else of its caller.
#include <cstdint>
#include <string>
#include <vector>

#include "ops/ArchiveEntry.h"
#include "ops/FormatRegistry.h"
#include "tar/TarLib.h"

enum class TOverwriteMode : uint8_t { Ask, Always, Never };

// One file, folder or pattern to store.
struct TSourceItem {
  std::string Source;      // path on disk; relative ones count from the current folder (zip: from RootDir)
  // Name in the archive ("/" separators). Empty: zip stores the source's path below RootDir (its
  // full path without the leading "/" when it lies elsewhere); tar stores the source as given,
  // made relative. Zip needs a stored name that ends the source's path.
  std::string StoredName;
  bool Recurse = false;    // a folder brings everything below it
};

// Zip options of a creation or update (the zip component's add options).
struct TZipAddOptions {
  bool StorePaths = true;      // false: every file under its bare name (one engine run for all)
  bool FolderEntries = false;  // folders get entries of their own
  bool HiddenFiles = true;
  bool ForceDos = false;       // 8.3 upper-case names
  bool ArchiveTime = false;    // the archive gets the time of its newest entry
  bool ArchiveOnly = false, ResetArchive = false;
  bool Span = false, SpanErase = false;  // multi-disk set, written by the component itself
  int64_t MaxVolumeSize = 0;
  std::string TempDir;         // the component's temporary folder (spanning); empty: the system's
};

// How tar entries are stamped (tar and tar.gz creation).
struct TTarStampOptions {
  bool KeepAttributes = true;          // true: each entry's own mode, owner and kind; false: the stamps
  TTarPermissions Permissions = tpAll;
  int32_t UserId = 0, GroupId = 0;
  std::string UserName, GroupName;
  std::string Magic = "ustar";
  std::string VolumeHeader;            // first entry of kind Volume Header when not empty
};

struct TListParams {
  std::string Archive;
  TArchiveFormat Format = TArchiveFormat::Unknown;  // Unknown: the registry decides
  std::string Password;                             // RAR archives with encrypted headers
};

struct TTestParams {
  std::string Archive;
  TArchiveFormat Format = TArchiveFormat::Unknown;
  TSelection Selection;
  std::string Password;  // empty: asked when needed
};

struct TExtractParams {
  std::string Archive;
  TArchiveFormat Format = TArchiveFormat::Unknown;
  std::string Destination;              // created when missing
  TSelection Selection;
  bool DirNames = true;                 // false: every file into the destination itself (zip)
  TOverwriteMode Overwrite = TOverwriteMode::Ask;
  bool Update = false;                  // zip: only new files and newer versions
  bool Freshen = false;                 // zip: only newer versions of files on disk
  std::string Password;                 // empty: asked when needed
  bool AskAboutUnsafeNames = false;     // ask (security question) before extracting names that cleaning changes
  bool RestoreTimes = true, RestorePermissions = true;  // tar and gzip
};

struct TCreateParams {
  std::string Target;                                // written under a temporary name, renamed at the end
  TArchiveFormat Format = TArchiveFormat::Unknown;   // Unknown: FormatForNewArchive(Target)
  std::vector<TSourceItem> Items;
  std::string RootDir;                               // zip: the folder stored names are relative to
  int Level = 6;                                     // 0-9
  std::string Password;                              // zip: encrypts every entry when set
  std::string Comment;                               // zip comment, or gzip header comment (tag)
  bool StoreComment = false;                         // gzip and tar.gz: write Comment into the header
  bool CheckSourcesFirst = false;                    // every listed file must be readable before anything is written
  bool SkipUnreadable = false;                       // tar: warn about unreadable files and go on
  // Tar, tar.gz and gzip: the run stops with NoSpace when the target's drive has fewer bytes free
  // than this, before writing and on the way (0: no check).
  int64_t KeepFree = 0;
  TZipAddOptions Zip;
  TTarStampOptions Tar;
  // Tar.gz in two steps: the tar is made at this path first, then compressed into Target; the tar
  // stays for the caller's clean-up. Empty: one stream.
  std::string TempTar;
};

// An archive file as it was seen: a later look tells whether it changed in between.
struct TFileStamp {
  int64_t Size = -1;     // -1: not taken
  int64_t MTimeNs = 0;   // modification time, nanoseconds since 1970
  uint64_t Inode = 0, Device = 0;
  bool Taken() const { return Size >= 0; }
  bool operator==(const TFileStamp&) const = default;
};

struct TUpdateParams {
  std::string Archive;                               // an existing archive (zip)
  TArchiveFormat Format = TArchiveFormat::Unknown;
  std::vector<TSourceItem> Items;                    // entries of the same stored name are replaced
  std::string RootDir;
  int Level = 6;
  std::string Password;
  TZipAddOptions Zip;
  bool OnlyNewer = false;                            // replace an entry only with a newer file (update)
  bool OnlyExisting = false;                         // only replace entries that exist (freshen)
  // Every item is stored or none: a file that vanished or cannot be read stops the run before the
  // archive is touched (otherwise it is left out with a warning).
  bool AllOrNothing = false;
  // The archive as the caller listed it; when taken and the file differs now, nothing is written.
  TFileStamp Expected;
};

struct TDeleteParams {
  std::string Archive;
  TArchiveFormat Format = TArchiveFormat::Unknown;
  TSelection Selection;                              // must not be empty
  TFileStamp Expected;                               // as for TUpdateParams
};
