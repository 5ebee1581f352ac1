#include "images/PictureHeader.h"

#include <cstring>
#include <string>

namespace {

uint32_t Be16(const uint8_t* p) { return uint32_t{p[0]} << 8 | p[1]; }
uint32_t Le16(const uint8_t* p) { return uint32_t{p[1]} << 8 | p[0]; }
uint32_t Be32(const uint8_t* p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]; }
uint32_t Le32(const uint8_t* p) { return uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0]; }

std::optional<TPictureDimensions> Png(const uint8_t* d, size_t n) {
  static const uint8_t sig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (n < 24 || std::memcmp(d, sig, 8) != 0 || std::memcmp(d + 12, "IHDR", 4) != 0) return std::nullopt;
  return TPictureDimensions{Be32(d + 16), Be32(d + 20)};
}

std::optional<TPictureDimensions> Jpeg(const uint8_t* d, size_t n) {
  if (n < 4 || d[0] != 0xFF || d[1] != 0xD8) return std::nullopt;
  size_t i = 2;
  while (i + 4 <= n) {
    if (d[i] != 0xFF) return std::nullopt;
    const uint8_t marker = d[i + 1];
    if (marker == 0xFF) {  // fill byte
      ++i;
      continue;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {  // markers without a length
      i += 2;
      continue;
    }
    if (marker == 0xD9 || marker == 0xDA) return std::nullopt;  // end or scan before any frame header
    const size_t length = Be16(d + i + 2);
    if (length < 2) return std::nullopt;
    const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame) {
      if (i + 9 > n) return std::nullopt;
      return TPictureDimensions{Be16(d + i + 7), Be16(d + i + 5)};
    }
    i += 2 + length;
  }
  return std::nullopt;
}

std::optional<TPictureDimensions> Gif(const uint8_t* d, size_t n) {
  if (n < 10 || std::memcmp(d, "GIF8", 4) != 0) return std::nullopt;
  return TPictureDimensions{Le16(d + 6), Le16(d + 8)};
}

std::optional<TPictureDimensions> Bmp(const uint8_t* d, size_t n) {
  if (n < 26 || d[0] != 'B' || d[1] != 'M') return std::nullopt;
  const uint32_t header = Le32(d + 14);
  if (header == 12) return TPictureDimensions{Le16(d + 18), Le16(d + 20)};
  const auto width = static_cast<int32_t>(Le32(d + 18));
  const auto height = static_cast<int32_t>(Le32(d + 22));
  const int64_t w = width, h = height;
  return TPictureDimensions{w < 0 ? -w : w, h < 0 ? -h : h};  // a negative height is a top-down picture
}

std::optional<TPictureDimensions> Tiff(const uint8_t* d, size_t n) {
  if (n < 8) return std::nullopt;
  bool little;
  if (d[0] == 'I' && d[1] == 'I' && d[2] == 42 && d[3] == 0)
    little = true;
  else if (d[0] == 'M' && d[1] == 'M' && d[2] == 0 && d[3] == 42)
    little = false;
  else
    return std::nullopt;
  auto u16 = [&](size_t at) { return little ? Le16(d + at) : Be16(d + at); };
  auto u32 = [&](size_t at) { return little ? Le32(d + at) : Be32(d + at); };
  const size_t ifd = u32(4);
  if (ifd > n || n - ifd < 2) return std::nullopt;
  const size_t count = u16(ifd);
  int64_t width = -1, height = -1;
  for (size_t k = 0; k < count; ++k) {
    const size_t at = ifd + 2 + k * 12;
    if (at > n || n - at < 12) break;
    const uint32_t tag = u16(at), type = u16(at + 2);
    int64_t value;
    if (type == 3)
      value = u16(at + 8);  // SHORT
    else if (type == 4)
      value = u32(at + 8);  // LONG
    else
      continue;
    if (tag == 256) width = value;
    if (tag == 257) height = value;
  }
  if (width < 0 || height < 0) return std::nullopt;
  return TPictureDimensions{width, height};
}

std::optional<TPictureDimensions> Psd(const uint8_t* d, size_t n) {
  if (n < 22 || std::memcmp(d, "8BPS", 4) != 0) return std::nullopt;
  return TPictureDimensions{Be32(d + 18), Be32(d + 14)};
}

std::optional<TPictureDimensions> Pcx(const uint8_t* d, size_t n) {
  if (n < 12 || d[0] != 0x0A || d[1] > 5 || d[2] > 1) return std::nullopt;
  const int64_t x0 = Le16(d + 4), y0 = Le16(d + 6), x1 = Le16(d + 8), y1 = Le16(d + 10);
  return TPictureDimensions{x1 - x0 + 1, y1 - y0 + 1};
}

std::optional<TPictureDimensions> Sgi(const uint8_t* d, size_t n) {
  if (n < 10 || Be16(d) != 474) return std::nullopt;
  return TPictureDimensions{Be16(d + 6), Be16(d + 8)};
}

std::optional<TPictureDimensions> Pnm(const uint8_t* d, size_t n) {
  if (n < 3 || d[0] != 'P' || d[1] < '1' || d[1] > '6') return std::nullopt;
  size_t i = 2;
  int64_t values[2];
  for (int64_t& v : values) {
    for (;;) {  // white space and comments
      if (i >= n) return std::nullopt;
      if (d[i] == '#') {
        while (i < n && d[i] != '\n') ++i;
      } else if (d[i] == ' ' || d[i] == '\t' || d[i] == '\r' || d[i] == '\n') {
        ++i;
      } else {
        break;
      }
    }
    if (d[i] < '0' || d[i] > '9') return std::nullopt;
    v = 0;
    while (i < n && d[i] >= '0' && d[i] <= '9') {
      if (v > (int64_t{1} << 40)) return TPictureDimensions{v, v};  // absurd: refused by the limits
      v = v * 10 + (d[i++] - '0');
    }
  }
  return TPictureDimensions{values[0], values[1]};
}

std::optional<TPictureDimensions> Tga(const uint8_t* d, size_t n) {
  if (n < 18) return std::nullopt;
  return TPictureDimensions{Le16(d + 12), Le16(d + 14)};
}

}  // namespace

std::optional<TPictureDimensions> SniffPictureDimensions(const uint8_t* data, size_t size, std::string_view ext) {
  for (auto sniff : {Png, Jpeg, Gif, Bmp, Tiff, Psd, Sgi, Pnm})
    if (auto found = sniff(data, size)) return found;
  if (ext == ".pcx")
    if (auto found = Pcx(data, size)) return found;
  if (ext == ".tga") return Tga(data, size);
  return std::nullopt;
}

bool PictureDimensionsAllowed(int64_t width, int64_t height) {
  if (width <= 0 || height <= 0 || width >= kMaxPictureSide || height >= kMaxPictureSide) return false;
  return width * height * 4 <= kMaxPictureBytes;
}

TStatus CheckPictureDimensions(int64_t width, int64_t height) {
  if (width <= 0 || height <= 0) return {TStatusCode::Damaged, "picture without pixels"};
  if (!PictureDimensionsAllowed(width, height))
    return {TStatusCode::Unsupported, "picture too large: " + std::to_string(width) + " x " + std::to_string(height)};
  return {};
}

bool IsJpeg(const uint8_t* data, size_t size) { return size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF; }

TStatus CheckJpegEnd(const uint8_t* d, size_t n) {
  if (!IsJpeg(d, n)) return {};
  // Past the header segments to the first scan; the entropy-coded data never holds FF D9 itself.
  size_t i = 2;
  while (i + 4 <= n) {
    if (d[i] != 0xFF) return {TStatusCode::Damaged, "damaged JPEG header"};
    const uint8_t marker = d[i + 1];
    if (marker == 0xFF) {
      ++i;
      continue;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
      i += 2;
      continue;
    }
    if (marker == 0xD9) return {TStatusCode::Damaged, "JPEG without a picture"};
    const size_t length = Be16(d + i + 2);
    if (length < 2) return {TStatusCode::Damaged, "damaged JPEG header"};
    i += 2 + length;
    if (marker == 0xDA) break;
  }
  for (; i + 1 < n; ++i)
    if (d[i] == 0xFF && d[i + 1] == 0xD9) return {};
  return {TStatusCode::Damaged, "truncated JPEG (no end marker)"};
}
