#pragma once
// One entry of an archive as every format reports it, and the choice of entries an operation
// works on.
#include <cstdint>
#include <string>
#include <vector>

enum class TEntryKind : uint8_t { File, Folder, SymLink, HardLink, CharDevice, BlockDevice, Fifo, Label, Other };

// Identity of an entry within one archive, stable between a listing and a later run over the same
// file: zip, the entry's index in the central directory; tar and tar.gz, the offset of its first
// header block in the (uncompressed) tar stream; RAR, its position among the archive's headers;
// gzip, 0.
using TEntryId = uint64_t;

struct TArchiveEntry {
  TEntryId Id = 0;
  std::string Name;          // as stored, with "/" separators (zip: decoded to UTF-8); folders may end in "/"
  TEntryKind Kind = TEntryKind::File;
  uint64_t Size = 0;         // unpacked bytes (gzip: the trailer's size, modulo 4 GiB)
  uint64_t PackedSize = 0;   // stored bytes (tar: the same as Size)
  int64_t Time = 0;          // modification time, seconds since 1970 (UTC); 0 when unknown
  uint32_t DosTime = 0;      // the stored MS-DOS date and time (zip, RAR); 0 when none
  uint32_t Mode = 0;         // Unix permission bits (07777) when stored, else 0
  bool Encrypted = false;
  std::string LinkTarget;    // links (tar)
  int64_t DataOffset = -1;   // offset of the entry's first data byte (tar: in the uncompressed stream); -1 unknown
  // Owner as stored (tar).
  int32_t UserId = 0, GroupId = 0;
  std::string UserName, GroupName;
};

// The entries an operation takes: those whose identity is listed, plus those whose name matches
// one of the patterns ("*" and "?" match, a name ending in "/" takes the folder's contents; each
// format matches as its component does). Both empty: every entry.
struct TSelection {
  std::vector<TEntryId> Ids;
  std::vector<std::string> Patterns;

  bool All() const { return Ids.empty() && Patterns.empty(); }
};
