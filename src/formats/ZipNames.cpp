#include "formats/ZipNames.h"

#include <zlib.h>

#include "formats/ZipFormat.h"

namespace zipfmt {
namespace {

constexpr uint16_t kExtraUnicodeComment = 0x6375;
constexpr uint8_t kHostHpfs = 6;
constexpr uint8_t kHostNtfs = 11;

// Text from an Info-ZIP Unicode extra field (version 1) whose CRC matches the stored bytes.
bool FromUnicodeExtra(std::string_view raw, std::string_view extra, uint16_t id, std::string& text) {
  auto up = FindExtra(extra, id);
  if (!up || up->size() < 5 || uint8_t((*up)[0]) != 1) return false;
  const uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(raw.data()), uInt(raw.size())));
  const std::string_view value = up->substr(5);
  if (crc != Get32(up->data() + 1) || !IsValidUtf8(value)) return false;
  text.assign(value);
  return true;
}

std::string DecodeText(std::string_view raw, uint16_t flags, std::string_view extra, uint16_t versionMadeBy,
                       NameCodePage codePage, uint16_t unicodeExtra) {
  if (flags & kFlagUtf8) return IsValidUtf8(raw) ? std::string(raw) : Cp437ToUtf8(raw);
  std::string text;
  if (FromUnicodeExtra(raw, extra, unicodeExtra, text)) return text;
  if (IsAscii(raw)) return std::string(raw);
  if (StoredAsOem(codePage, uint8_t(versionMadeBy >> 8), uint8_t(versionMadeBy & 0xFF))) return Cp437ToUtf8(raw);
  return IsValidUtf8(raw) ? std::string(raw) : Cp437ToUtf8(raw);
}

}  // namespace

bool StoredAsOem(NameCodePage codePage, uint8_t hostSystem, uint8_t versionMadeBy) {
  return (codePage == NameCodePage::Auto && hostSystem == kHostMsDos) || hostSystem == kHostHpfs ||
         (hostSystem == kHostNtfs && versionMadeBy == 50) || codePage == NameCodePage::Oem;
}

std::string DecodeEntryName(std::string_view rawName, uint16_t flags, std::string_view extra,
                            uint16_t versionMadeBy, NameCodePage codePage) {
  return DecodeText(rawName, flags, extra, versionMadeBy, codePage, kExtraUnicodePath);
}

std::string DecodeEntryComment(std::string_view rawComment, uint16_t flags, std::string_view extra,
                               uint16_t versionMadeBy, NameCodePage codePage) {
  return DecodeText(rawComment, flags, extra, versionMadeBy, codePage, kExtraUnicodeComment);
}

EncodedName EncodeEntryName(std::string_view utf8Name, bool oem) {
  EncodedName e;
  if (IsAscii(utf8Name) || !IsValidUtf8(utf8Name)) {
    e.raw = std::string(utf8Name);
    return e;
  }
  if (oem && Utf8ToCp437(utf8Name, e.raw)) return e;
  e.raw = std::string(utf8Name);
  e.utf8Flag = true;
  return e;
}

std::string NormalizeEntryName(std::string_view name) {
  std::string s(name);
  for (char& c : s)
    if (c == '\\') c = '/';
  size_t start = s.find_first_not_of('/');
  return start == std::string::npos ? std::string() : s.substr(start);
}

}  // namespace zipfmt
