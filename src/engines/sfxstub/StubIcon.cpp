// The stub's icon slot: a 32 x 32, 16-colour icon image (a 40-byte bitmap header, 16 palette
// entries, the colour rows and the transparency mask, 744 bytes) in a section of its own, which
// the conversion finds by name and overwrites with the icon the user chose.
#include <array>
#include <cstddef>
#include <cstdint>

namespace {

constexpr std::array<uint8_t, 744> MakeIcon() {
  std::array<uint8_t, 744> b{};
  auto put32 = [&b](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
  };
  put32(0, 40);                // header size
  put32(4, 32);                // width
  put32(8, 64);                // height: colour rows and mask rows
  b[12] = 1;                   // planes
  b[14] = 4;                   // bits per pixel
  put32(20, 640);              // image bytes
  // The 16 standard colours (red, green, blue), stored blue-green-red-zero.
  const uint8_t palette[16][3] = {{0, 0, 0},     {128, 0, 0},   {0, 128, 0},     {128, 128, 0},
                                  {0, 0, 128},   {128, 0, 128}, {0, 128, 128},   {192, 192, 192},
                                  {128, 128, 128}, {255, 0, 0}, {0, 255, 0},     {255, 255, 0},
                                  {0, 0, 255},   {255, 0, 255}, {0, 255, 255},   {255, 255, 255}};
  for (size_t i = 0; i < 16; ++i)
    for (size_t c = 0; c < 3; ++c) b[40 + 4 * i + c] = palette[i][2 - c];
  // A box with a zipper down its middle; rows are stored bottom first.
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      const bool inside = x >= 4 && x < 28 && y >= 2 && y < 30;
      const bool edge = inside && (x == 4 || x == 27 || y == 2 || y == 29);
      const bool zipper = inside && !edge && x >= 14 && x < 18 && y >= 3 && y < 22;
      uint8_t colour = 0;
      if (edge) colour = 0;                                      // black outline
      else if (zipper) colour = ((y + (x < 16 ? 0 : 1)) % 2) ? 8 : 15;  // grey and white teeth
      else if (inside) colour = y < 8 ? 9 : 11;                  // red band, yellow body
      const size_t row = size_t(31 - y);
      const size_t at = 104 + row * 16 + size_t(x / 2);
      b[at] = uint8_t(b[at] | (x % 2 ? colour : uint8_t(colour << 4)));
      if (!inside) b[616 + row * 4 + size_t(x / 8)] |= uint8_t(0x80 >> (x % 8));  // transparent
    }
  }
  return b;
}

}  // namespace

// Kept by the linker and by strip: the conversion looks the section up in the program file.
extern "C" __attribute__((section(".sfxicon"), used, retain, aligned(4)))
const std::array<uint8_t, 744> tandor_sfx_icon = MakeIcon();
