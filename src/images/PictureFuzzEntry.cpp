#include "images/PictureFuzzEntry.h"

#include <array>

#include "images/PictureService.h"
#include "images/Thumbnails.h"

bool FuzzDecodeAndThumbnail(const uint8_t* data, size_t size) {
  static constexpr std::array<const char*, 16> kExt = {".png", ".jpg", ".gif", ".bmp", ".tif", ".tga", ".pcx", ".ppm",
                                                       ".psd", ".sgi", ".xpm", ".pic", ".pix", ".lbm", ".pcd", ".raw"};
  if (size < 1) return false;
  const char* ext = kExt[data[0] % kExt.size()];
  const int thumbSize = 16 + (data[0] >> 4) * 8;
  QImage picture;
  if (DecodePicture(data + 1, size - 1, ext, picture).Failed()) return false;
  QImage thumb;
  return MakeThumbnail(picture, thumbSize, thumb).Succeeded();
}
