#pragma once
// Entry names: CP437 <-> UTF-8, UTF-8 validation, the Info-ZIP Unicode Path extra field (0x7075),
// and the choice of stored bytes and flags for new entries.
#include <cstdint>
#include <string>
#include <string_view>

namespace zipfmt {

// True when `s` is well-formed UTF-8 (no overlongs, no surrogates).
bool IsValidUtf8(std::string_view s);
bool IsAscii(std::string_view s);
// CP437 bytes to UTF-8.
std::string Cp437ToUtf8(std::string_view s);
// UTF-8 to CP437; returns false (and leaves `out` partial) when a character has no CP437 form.
bool Utf8ToCp437(std::string_view s, std::string& out);

enum class NameCodePage { Auto, Oem };

// The UTF-8 form of a stored name: flag bit 11 -> taken as is (invalid bytes read as CP437);
// else a Unicode Path extra field whose CRC matches the stored name wins; else, under Auto, a name
// that is valid UTF-8 from a Unix host is taken as UTF-8; everything else is CP437.
std::string DecodeEntryName(std::string_view rawName, uint16_t flags, std::string_view extra,
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
