// libFuzzer target: the Deflate64 inflater over arbitrary streams, whole and streamed in small pieces;
// both ways must agree on the result and on the bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Deflate64.h"

using namespace unzeng;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  // The first bytes choose the declared size (up to 4 MiB) and the piece sizes of the streamed run.
  const size_t declared = (size_t(data[0]) | (size_t(data[1]) << 8)) * 64;
  const size_t piece = 1 + data[2] % 97;
  data += 3;
  size -= 3;
  std::vector<uint8_t> whole(declared + 1);
  const TDecodeStatus w = Deflate64Whole(data, size, whole.data(), declared);

  auto dec = MakeDeflate64Decoder();
  std::vector<uint8_t> out, buf(4099);
  size_t pos = 0;
  bool finished = false;
  TDecodeStatus s = TDecodeStatus::Ok;
  for (int idle = 0; !finished && idle < 3;) {
    const size_t n = std::min(piece, size - pos);
    size_t c = 0, p = 0;
    s = dec->Step(data + pos, n, c, buf.data(), buf.size(), p, pos + n == size, finished);
    if (s != TDecodeStatus::Ok) break;
    pos += c;
    out.insert(out.end(), buf.begin(), buf.begin() + p);
    if (out.size() > declared) {
      s = TDecodeStatus::TooLong;
      break;
    }
    idle = c == 0 && p == 0 ? idle + 1 : 0;
  }
  if (s == TDecodeStatus::Ok && !finished) s = TDecodeStatus::BadData;
  if (s == TDecodeStatus::Ok && out.size() < declared) s = TDecodeStatus::TooShort;
  // Whole and streamed agree: both good with the same bytes, or both not good.
  if ((w == TDecodeStatus::Ok) != (s == TDecodeStatus::Ok)) std::abort();
  if (w == TDecodeStatus::Ok && declared > 0 && std::memcmp(whole.data(), out.data(), declared) != 0) std::abort();
  return 0;
}
