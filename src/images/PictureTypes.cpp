#include "images/PictureTypes.h"

#include <algorithm>
#include <array>

namespace {
constexpr std::array<std::string_view, 26> kPictureExtensions = {
    ".bmp", ".gif", ".jpeg", ".jpe", ".jpg", ".pcx", ".png", ".pbm", ".pgm", ".ppm", ".psd", ".raw", ".sgi",
    ".bw",  ".rgb", ".rgba", ".tga", ".tif", ".tiff", ".lbm", ".pcd", ".pix", ".pic", ".pnm", ".pxr", ".xpm"};
}  // namespace

bool IsPictureExtension(std::string_view ext) {
  return std::find(kPictureExtensions.begin(), kPictureExtensions.end(), ext) != kPictureExtensions.end();
}

std::string LowerExtension(std::string_view name) {
  const size_t slash = name.find_last_of('/');
  const std::string_view base = slash == std::string_view::npos ? name : name.substr(slash + 1);
  const size_t dot = base.find_last_of('.');
  if (dot == std::string_view::npos) return {};
  std::string ext(base.substr(dot));
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return ext;
}

bool HasPictureExtension(std::string_view name) { return IsPictureExtension(LowerExtension(name)); }
