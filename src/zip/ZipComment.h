#pragma once
// The archive comment of a zip file (its tag): how its text is stored and read back, and a copy of
// an archive with another comment. The end record has no flag for the comment's code page: text
// that CP437 can hold is stored in CP437, other text as UTF-8; reading takes well-formed UTF-8 with
// bytes above 0x7F as UTF-8 and everything else as CP437.
#include <cstddef>
#include <string>
#include <string_view>

#include "core/Status.h"
#include "formats/ZipFormat.h"

// The longest comment an end record holds.
constexpr size_t kMaxZipCommentBytes = zipfmt::kMaxCommentSize;

// The stored bytes of a comment given in UTF-8 (text that is not UTF-8 is kept as it is).
std::string EncodeZipComment(std::string_view utf8);
// The UTF-8 text of stored comment bytes.
std::string DecodeZipComment(std::string_view raw);

// Writes `target` (which must not exist) as a copy of the zip archive `source` with the stored
// comment `raw`: every byte before the end record is copied unchanged (entries, directory, Zip64
// records), then the end record with the new comment length and the comment. The new file gets the
// source's mode and is flushed to disk. A failed copy is removed. Multi-disk sets are refused.
TStatus CopyZipWithComment(const std::string& source, const std::string& target, std::string_view raw);

// Reads the stored comment of a zip archive (raw bytes) from its end record alone.
TStatus ReadZipComment(const std::string& archive, std::string& raw);
