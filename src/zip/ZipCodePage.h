#pragma once
// The component's code-page conversions (ConvertOem) over the one code-page module.
#include <cstdint>
#include <string>
#include <string_view>

#include "formats/CodePage.h"
#include "formats/ZipNames.h"
#include "zip/ZipKitTypes.h"

// CP437 bytes to UTF-8; bytes below 0x80 are copied.
inline std::string OemToUtf8(std::string_view oem) { return codepage::Cp437ToUtf8(oem); }
// UTF-8 to CP437; characters CP437 lacks (and broken UTF-8 bytes) become '?'.
inline std::string Utf8ToOem(std::string_view utf8) { return codepage::Utf8ToCp437Lossy(utf8); }

// The parser's name for a CodePage setting.
inline zipfmt::NameCodePage NameCodePageOf(CodePageOpts codePage) {
  return codePage == cpOEM ? zipfmt::NameCodePage::Oem
                           : codePage == cpNone ? zipfmt::NameCodePage::None : zipfmt::NameCodePage::Auto;
}

// True when text written by a writer with these header bytes is taken as OEM under `codePage`.
inline bool IsOemText(CodePageOpts codePage, uint8_t hostSystem, uint8_t versionMadeBy) {
  return zipfmt::StoredAsOem(NameCodePageOf(codePage), hostSystem, versionMadeBy);
}
