#pragma once
// Entry names and comments: the stored bytes decoded to UTF-8 (flag bit 11, the Info-ZIP Unicode
// Path and Comment extra fields, the OEM code page), and the stored bytes and flags of new names.
#include <cstdint>
#include <string>
#include <string_view>

#include "formats/CodePage.h"

namespace zipfmt {

using codepage::Cp437ToUtf8;
using codepage::IsAscii;
using codepage::IsValidUtf8;
using codepage::Utf8ToCp437;

// How names without flag bit 11 are read: Auto by the writer's host, None as UTF-8 where they are
// valid UTF-8, Oem always in the OEM code page (CP437).
enum class NameCodePage { Auto, None, Oem };

// True when text from a writer with these header bytes is in the OEM code page: MS-DOS hosts under
// Auto, HPFS hosts, NTFS hosts of version 5.0, and everything under Oem.
bool StoredAsOem(NameCodePage codePage, uint8_t hostSystem, uint8_t versionMadeBy);

// The UTF-8 form of a stored name: with flag bit 11 as is (invalid bytes read as CP437); else an
// Info-ZIP Unicode Path extra field whose CRC matches the stored name wins; else ASCII as is, OEM
// text (StoredAsOem) from CP437, valid UTF-8 as is, and anything else from CP437. The result is
// always valid UTF-8.
std::string DecodeEntryName(std::string_view rawName, uint16_t flags, std::string_view extra,
                            uint16_t versionMadeBy, NameCodePage codePage = NameCodePage::Auto);
// The same for an entry comment, with the Unicode Comment extra field (0x6375).
std::string DecodeEntryComment(std::string_view rawComment, uint16_t flags, std::string_view extra,
                               uint16_t versionMadeBy, NameCodePage codePage = NameCodePage::Auto);

// Stored bytes and flag for a new entry name given in UTF-8 (or raw file-system bytes):
// ASCII is stored as is; other valid UTF-8 gets flag bit 11, or with `oem` CP437 bytes when
// every character has one; invalid UTF-8 is stored as raw bytes without the flag.
struct EncodedName {
  std::string raw;
  bool utf8Flag = false;
};
EncodedName EncodeEntryName(std::string_view utf8Name, bool oem = false);

// Replaces "\" by "/" and drops leading "/" (the form entry names are compared in).
std::string NormalizeEntryName(std::string_view name);

}  // namespace zipfmt
