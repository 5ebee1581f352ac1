#pragma once
// The first frame of a GIF file, rendered at the picture's full (logical screen) size.
#include <QImage>
#include <cstddef>
#include <cstdint>

#include "core/Status.h"

// Decodes the first frame of the GIF in `data` into an RGBA picture of the logical screen's size;
// the parts the frame does not cover, and its transparent colour, are transparent. Sizes beyond the
// picture limits are refused before any pixel is read.
TStatus DecodeGifFirstFrame(const uint8_t* data, size_t size, QImage& out);
