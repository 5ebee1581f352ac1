#pragma once
// Text encodings of archive names and comments: the OEM code page of MS-DOS writers (CP437) and
// UTF-8. One module for the zip component, the zip engines and the RAR library.
#include <cstdint>
#include <string>
#include <string_view>

namespace codepage {

// Appends the UTF-8 form of a code point.
void AppendUtf8(std::string& out, char32_t cp);
// Decodes one UTF-8 character at s[i]; returns its length, 0 when malformed (overlong forms,
// surrogates and values above U+10FFFF are malformed).
size_t DecodeUtf8(std::string_view s, size_t i, char32_t& cp);

bool IsAscii(std::string_view s);
bool IsValidUtf8(std::string_view s);

// CP437 bytes to UTF-8; bytes below 0x80 are copied.
std::string Cp437ToUtf8(std::string_view s);
// UTF-8 to CP437; false (with `out` partial) when a character has no CP437 form or the text is
// not valid UTF-8.
bool Utf8ToCp437(std::string_view s, std::string& out);
// UTF-8 to CP437 where characters CP437 lacks (and broken bytes) become '?'.
std::string Utf8ToCp437Lossy(std::string_view s);

}  // namespace codepage
