#include "SfxFormat.h"

#include <cstring>
#include <vector>

#include "formats/ZipFormat.h"

namespace zipfmt {

size_t SfxHeaderLength(const SfxSettings& s) {
  const size_t raw = 12 + s.caption.size() + s.defaultDir.size() + s.commandLine.size() + s.message.size();
  return (raw + 3) & ~size_t{3};
}

std::string BuildSfxHeader(const SfxSettings& s) {
  const size_t length = SfxHeaderLength(s);
  std::string h = "MPV";
  h.push_back(char(s.flags));
  h.push_back(0);
  h.push_back(1);
  Put16(h, uint16_t(length));
  for (const std::string* text : {&s.caption, &s.defaultDir, &s.commandLine, &s.message}) {
    h.push_back(char(uint8_t(text->size())));
    h += *text;
  }
  h.resize(length, '\0');
  return h;
}

bool ParseSfxHeader(std::string_view bytes, SfxSettings& out, size_t& length) {
  if (bytes.size() < 7 || bytes[0] != 'M' || bytes[1] != 'P' || (bytes[2] != 'U' && bytes[2] != 'V')) return false;
  SfxSettings s;
  s.vForm = bytes[2] == 'V';
  s.flags = uint8_t(bytes[3]);
  if (s.vForm) {
    if (bytes.size() < 12) return false;
    const size_t stored = Get16(bytes.data() + 6);
    size_t pos = 8;
    for (std::string* text : {&s.caption, &s.defaultDir, &s.commandLine, &s.message}) {
      if (pos >= bytes.size()) return false;
      const size_t n = uint8_t(bytes[pos++]);
      if (n > bytes.size() - pos) return false;
      text->assign(bytes.data() + pos, n);
      pos += n;
    }
    if (stored < pos || stored > bytes.size() || stored > kSfxMaxHeaderSize) return false;
    length = stored;
  } else {
    s.flags &= uint8_t(~kSfxFlagNoSuccessMsg);
    const size_t n1 = uint8_t(bytes[4]), n2 = uint8_t(bytes[5]), n3 = uint8_t(bytes[6]);
    if (7 + n1 + n2 + n3 > bytes.size()) return false;
    s.caption.assign(bytes.data() + 7, n1);
    s.defaultDir.assign(bytes.data() + 7 + n1, n2);
    s.commandLine.assign(bytes.data() + 7 + n1 + n2, n3);
    length = 7 + n1 + n2 + n3;
  }
  out = std::move(s);
  return true;
}

bool FindSfxHeader(std::string_view window, bool endsWindow, SfxSettings& out, size_t& at, size_t& length) {
  for (size_t i = 0; i + 3 <= window.size(); ++i) {
    if (window[i] != 'M' || window[i + 1] != 'P' || (window[i + 2] != 'U' && window[i + 2] != 'V')) continue;
    SfxSettings s;
    size_t n = 0;
    if (!ParseSfxHeader(window.substr(i), s, n)) continue;
    if (endsWindow) {
      // A U header has no stored length: up to three bytes of padding may follow it.
      const size_t rest = window.size() - i;
      if (s.vForm ? n != rest : (n > rest || rest - n > 3)) continue;
    }
    out = std::move(s);
    at = i;
    length = n;
    return true;
  }
  return false;
}

int64_t FindSfxIconSlot(const ReadAtFn& read, uint64_t size) {
  uint8_t eh[64];
  if (size < sizeof eh || !read(0, eh, sizeof eh)) return -1;
  if (std::memcmp(eh, "\x7f" "ELF", 4) != 0 || eh[4] != 2 || eh[5] != 1) return -1;
  const uint64_t shoff = Get64(eh + 0x28);
  const uint16_t shentsize = Get16(eh + 0x3A), shnum = Get16(eh + 0x3C), shstrndx = Get16(eh + 0x3E);
  if (shentsize < 64 || shnum == 0 || shstrndx >= shnum || shoff > size ||
      uint64_t(shnum) * shentsize > size - shoff)
    return -1;
  std::vector<uint8_t> table(size_t(shnum) * shentsize);
  if (!read(shoff, table.data(), table.size())) return -1;
  const uint8_t* strs = table.data() + size_t(shstrndx) * shentsize;
  const uint64_t strOff = Get64(strs + 24), strSize = Get64(strs + 32);
  if (strOff > size || strSize > size - strOff || strSize > (1u << 20)) return -1;
  std::string names(strSize, '\0');
  if (strSize && !read(strOff, names.data(), names.size())) return -1;
  for (uint16_t i = 0; i < shnum; ++i) {
    const uint8_t* sh = table.data() + size_t(i) * shentsize;
    const uint32_t name = Get32(sh);
    const uint32_t type = Get32(sh + 4);
    const uint64_t offset = Get64(sh + 24), length = Get64(sh + 32);
    if (name >= names.size() || std::strcmp(names.c_str() + name, kSfxIconSection) != 0) continue;
    const bool noBits = type == 8;  // SHT_NOBITS: nothing in the file
    if (noBits || length != kSfxIconImageSize || offset > size || length > size - offset) return -1;
    return int64_t(offset);
  }
  return -1;
}

std::string SfxIconFile(std::string_view image) {
  std::string f;
  Put16(f, 0);                            // reserved
  Put16(f, 1);                            // an icon
  Put16(f, 1);                            // one image
  f.push_back(32);                        // width
  f.push_back(32);                        // height
  f.push_back(16);                        // colours
  f.push_back(0);                         // reserved
  Put16(f, 1);                            // planes
  Put16(f, 4);                            // bits per pixel
  Put32(f, uint32_t(kSfxIconImageSize));  // image bytes
  Put32(f, 22);                           // image offset
  f.append(image.substr(0, kSfxIconImageSize));
  return f;
}

}  // namespace zipfmt
