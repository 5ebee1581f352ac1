#include "images/PictureFuzzEntry.h"

#include <array>

#include "images/Thumbnails.h"

bool FuzzDecodeAndThumbnail(const uint8_t* data, size_t size) {
  static constexpr std::array<const char*, 16> kExt = {".png", ".jpg", ".gif", ".bmp", ".tif", ".tga", ".pcx", ".ppm",
                                                       ".psd", ".sgi", ".xpm", ".pic", ".pix", ".lbm", ".pcd", ".raw"};
  if (size < 1) return false;
  const char* ext = kExt[data[0] % kExt.size()];
  const int thumbSize = 16 + (data[0] >> 4) * 8;
  QImage thumb;
  return MakeThumbnailOfData(data + 1, size - 1, ext, thumbSize, thumb).Succeeded();
}
