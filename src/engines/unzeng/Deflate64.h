#pragma once
// Deflate64 (zip method 9, "enhanced deflate"): deflate with a 64 KiB window, length code 285
// carrying 16 extra bits (lengths 3 to 65538) and distance codes 30 and 31 (distances up to 65536).
// No library decodes it, so this is a small bounds-checked inflater of its own. A distance that
// reaches before the first byte written, an invalid code or a stream that ends early is damage.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "Decoders.h"

namespace unzeng {

// Decodes a complete stream into `out`, which holds exactly the declared size.
TDecodeStatus Deflate64Whole(const uint8_t* in, size_t inLen, uint8_t* out, size_t outLen);

std::unique_ptr<TStreamDecoder> MakeDeflate64Decoder();

}  // namespace unzeng
