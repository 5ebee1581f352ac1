#pragma once
// The format registry: the one place that tells which kind of archive a file is, by its content
// first and its name second, and which kind a new archive's name asks for.
#include <cstdint>
#include <string>
#include <string_view>

#include "core/Status.h"

enum class TArchiveFormat : uint8_t { Unknown, Zip, Rar, Tar, TarGz, Gzip };

// "zip", "RAR", "tar", "tar.gz", "gzip"; "unknown".
const char* ArchiveFormatName(TArchiveFormat format);

// What decided a file's kind.
enum class TFormatEvidence : uint8_t {
  None,       // neither content nor name
  Signature,  // the content (a signature or a valid header)
  Extension,  // only the name: the content is empty, cut short or of no known kind
};

struct TFormatMatch {
  TArchiveFormat Format = TArchiveFormat::Unknown;
  TFormatEvidence Evidence = TFormatEvidence::None;
  int64_t ZipPrefix = -1;  // zip found by its end record with this many bytes before its first record; else -1
  TStatus Status;          // NotFound or Unreadable when the file could not be read
};

// The kind of an existing file. Signatures, in this order: gzip magic (a tar inside makes it
// TarGz), the RAR 4 and RAR 5 marks, a whole zip record at the start (local header, empty-archive
// end record, split marker), "ustar" at offset 257, a zip end record near the end (archives with data
// in front, such as self-extracting programs), an old tar header with a valid checksum. Without
// any, the name's extension decides.
TFormatMatch DetectArchiveFormat(const std::string& path);

// Whether a file can be opened as an archive at all: Ok, else NotFound or Unreadable with the reason
// as its message ("No such file or directory", "Permission denied", "not a regular file", "the file
// is empty"). Reads nothing but the file's status.
TStatus CheckArchiveFile(const std::string& path);

// The kind that a name's extension names (case ignored): ".zip", ".rar", ".tar", ".tar.gz" and
// ".tgz", ".gz". Unknown for anything else.
TArchiveFormat FormatByExtension(std::string_view name);

// The kind of archive a new file of this name is made as: ".zip" and self-extracting ".run"
// programs, ".tar", ".tar.gz"/".tgz", ".gz" (case ignored); Unknown for other names.
TArchiveFormat FormatForNewArchive(std::string_view name);

// True when `block` (512 bytes) is a tar header: "ustar" magic, or a non-empty name with a stored
// checksum that matches.
bool LooksLikeTarHeader(const unsigned char* block);
