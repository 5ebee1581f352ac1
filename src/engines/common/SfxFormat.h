#pragma once
// Self-extracting programs: the settings header that stands between the extractor stub and the zip
// data (V form written and read, the older U form read), and the stub's 744-byte icon slot (an ELF
// section named ".sfxicon"). Shared by the zip component, which writes and reads programs, and the
// stub, which reads its own.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace zipfmt {

// Flag bits of the header.
enum : uint8_t {
  kSfxFlagAskCmdLine = 0x01,
  kSfxFlagAskFiles = 0x02,
  kSfxFlagHideOverwriteBox = 0x04,
  kSfxFlagOverwriteAlways = 0x08,
  kSfxFlagOverwriteNever = 0x10,
  kSfxFlagNoCheckSize = 0x20,
  kSfxFlagAutoRun = 0x40,
  kSfxFlagNoSuccessMsg = 0x80,  // V form only
};

constexpr size_t kSfxMaxHeaderSize = 1032;
constexpr size_t kSfxMaxString = 255;
constexpr size_t kSfxIconImageSize = 744;
constexpr size_t kSfxIconFileSize = 766;  // 6-byte icon header, one 16-byte entry, the image
constexpr char kSfxIconSection[] = ".sfxicon";

struct SfxSettings {
  uint8_t flags = 0;
  std::string caption, defaultDir, commandLine, message;
  bool vForm = true;  // false: an "MPU" header (no message, flag bit 7 unused)
};

// The header's length for strings of these byte lengths: 12 + their sum, rounded up to 4.
size_t SfxHeaderLength(const SfxSettings& s);
// The V-form header. Each string must be at most 255 bytes (checked by the caller).
std::string BuildSfxHeader(const SfxSettings& s);

// Reads a header at the start of `bytes`; false when there is none or its strings run past the end.
// `length` is the header's length (V form: the stored length; U form: 7 + the strings).
bool ParseSfxHeader(std::string_view bytes, SfxSettings& out, size_t& length);
// Searches `window` (the bytes before the zip data) from its start for "MP" followed by "U" or "V"
// and reads the first header found there. With `endsWindow` only a header whose end is the window's
// end counts (a V header's stored length must reach it exactly, padding included).
bool FindSfxHeader(std::string_view window, bool endsWindow, SfxSettings& out, size_t& at, size_t& length);

// Reads `n` bytes at `offset`; false when they are not all there.
using ReadAtFn = std::function<bool(uint64_t offset, void* buffer, size_t n)>;
// The file offset of the 744-byte icon image of a 64-bit little-endian ELF program of `size` bytes;
// -1 when the file is no such program or has no ".sfxicon" section of exactly that size.
int64_t FindSfxIconSlot(const ReadAtFn& read, uint64_t size);

// The icon-file form (766 bytes) of a 744-byte image: one 32 x 32, 16-colour entry.
std::string SfxIconFile(std::string_view image);

}  // namespace zipfmt
