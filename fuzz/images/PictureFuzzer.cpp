// libFuzzer target over the picture service's decode-and-thumbnail path. The first input byte picks
// the extension the data is handed over with (as a picture extracted under that name would be).
#include <cstddef>
#include <cstdint>

#include "images/PictureFuzzEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzDecodeAndThumbnail(data, size);
  return 0;
}
