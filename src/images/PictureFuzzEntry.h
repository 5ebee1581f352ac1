#pragma once
// The decode-and-thumbnail path as the fuzz target and its short run in the tests drive it.
#include <cstddef>
#include <cstdint>

// data[0] picks the extension (one of the picture extensions), the rest is the file's content;
// decodes it and, when that works, draws a thumbnail at a size taken from data[0] too. Returns true
// when a thumbnail was made.
bool FuzzDecodeAndThumbnail(const uint8_t* data, size_t size);
