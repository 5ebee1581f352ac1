#pragma once
// The size a picture file claims in its header, read before anything is decoded, and the limits a
// picture must keep to be decoded at all.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "core/Status.h"

struct TPictureDimensions {
  int64_t Width = 0;
  int64_t Height = 0;
};

// Largest side and largest pixel buffer (RGBA) a picture may have.
constexpr int64_t kMaxPictureSide = 60000;
constexpr int64_t kMaxPictureBytes = int64_t{256} << 20;

// The dimensions the header of a PNG, JPEG, GIF, BMP, TIFF, PSD, PCX, SGI or PNM file claims (found
// by content), or of a TGA file (by `ext`, lower case with its point). Nothing when the kind is not
// known or the header is too short to tell.
std::optional<TPictureDimensions> SniffPictureDimensions(const uint8_t* data, size_t size, std::string_view ext);

// True when a picture of these dimensions may be decoded: both sides above 0 and below the largest
// side, and its RGBA pixels within the largest buffer.
bool PictureDimensionsAllowed(int64_t width, int64_t height);

// Ok for allowed dimensions; Unsupported ("picture too large: W x H") for too large ones, Damaged for
// a side of 0 or less.
TStatus CheckPictureDimensions(int64_t width, int64_t height);

// True when `data` starts as a JPEG file (its start-of-image marker).
bool IsJpeg(const uint8_t* data, size_t size);
// For a JPEG file: Damaged when no end-of-image marker follows its first scan (a truncated file,
// which decoders would fill with grey), else Ok. Other files: Ok.
TStatus CheckJpegEnd(const uint8_t* data, size_t size);
