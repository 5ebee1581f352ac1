#pragma once
// Name and comment conversion between the OEM code page of MS-DOS zip writers (CP437) and UTF-8.
#include <cstdint>
#include <string>
#include <string_view>

#include "zip/ZipKitTypes.h"

// CP437 bytes to UTF-8; bytes below 0x80 are copied.
std::string OemToUtf8(std::string_view oem);
// UTF-8 to CP437; characters CP437 lacks (and broken UTF-8 bytes) become '?'.
std::string Utf8ToOem(std::string_view utf8);

// True when text written by a writer with these header bytes is taken as OEM under `codePage`.
bool IsOemText(CodePageOpts codePage, uint8_t hostSystem, uint8_t versionMadeBy);

// Host system numbers of the zip format used by the rule above.
constexpr uint8_t kHostMsDos = 0;
constexpr uint8_t kHostHpfs = 6;
constexpr uint8_t kHostNtfs = 11;
