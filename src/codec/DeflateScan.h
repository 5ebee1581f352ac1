#pragma once
// Walks the block structure of a raw deflate stream without producing output: where its final block
// starts and where the stream ends, to the bit. Used to join separately compressed pieces.
#include <cstddef>
#include <cstdint>

namespace codec {

struct TDeflateLayout {
  uint64_t FinalHeaderBit = 0;  // bit offset of the final block's header (its BFINAL bit)
  uint64_t EndBit = 0;          // bit offset just after the final block
  uint64_t Blocks = 0;          // blocks seen
};

// False when the data is not one complete, well-formed deflate stream within `n` bytes.
bool ScanDeflate(const uint8_t* data, size_t n, TDeflateLayout& layout);

}  // namespace codec
