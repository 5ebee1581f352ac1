// Streaming inflate: any split of input and output, the exact end of the stream (what follows it is
// given back), broken and cut streams.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "TestEnv.h"
#include "codec/Inflate.h"

namespace {

std::string RawDeflate(const std::string& in, int level) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, uLong(in.size())), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = uInt(in.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = uInt(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

struct TResult {
  std::string out;
  codec::TInflateStatus status = codec::TInflateStatus::Ok;
  size_t used = 0;  // input bytes that belong to the stream
};

// Feeds `in` in steps of `inStep` bytes with `outStep` bytes of room.
TResult Inflate(const std::string& in, size_t inStep, size_t outStep) {
  codec::TInflater inf;
  TResult r;
  std::string room(outStep, '\0');
  size_t at = 0;
  for (int guard = 0; guard < 10000000; ++guard) {
    size_t give = std::min(inStep, in.size() - at), c = 0, p = 0;
    r.status = inf.Step(reinterpret_cast<const uint8_t*>(in.data()) + at, give, c,
                        reinterpret_cast<uint8_t*>(room.data()), room.size(), p);
    at += c;
    r.out.append(room.data(), p);
    if (r.status != codec::TInflateStatus::Ok) break;
    if (c == 0 && p == 0 && at == in.size()) break;  // wants more input than there is
  }
  uint8_t back[8];
  size_t k = r.status == codec::TInflateStatus::End ? inf.TakeBack(back) : 0;
  if (k) {
    EXPECT_EQ(std::string(reinterpret_cast<char*>(back), k), in.substr(at - k, k));
  }
  r.used = at - k;
  return r;
}

TEST(Inflater, AnySplitOfInputAndOutput) {
  const std::string data = testenv::RandomBytes(300000, 1, true) + testenv::RandomBytes(70000, 2);
  for (int level : {0, 1, 9}) {
    const std::string z = RawDeflate(data, level);
    struct {
      size_t in, out;
    } splits[] = {{1, 1 << 16}, {z.size(), 1}, {7, 13}, {z.size(), 1 << 20}, {4096, 100000}};
    for (auto s : splits) {
      SCOPED_TRACE("level " + std::to_string(level) + ", input by " + std::to_string(s.in) + ", output by " +
                   std::to_string(s.out));
      TResult r = Inflate(z, s.in, s.out);
      EXPECT_EQ(r.status, codec::TInflateStatus::End);
      EXPECT_EQ(r.out, data);
      EXPECT_EQ(r.used, z.size());
    }
  }
}

TEST(Inflater, BytesAfterTheStreamAreGivenBack) {
  const std::string tail = "\x12\x34\x56\x78TRAILER-AND-MORE";
  for (const std::string& data : {std::string(), std::string("a"), testenv::RandomBytes(100000, 3, true)}) {
    const std::string z = RawDeflate(data, 6);
    for (size_t step : {size_t(1), size_t(5), z.size() + tail.size()}) {
      TResult r = Inflate(z + tail, step, 1 << 16);
      EXPECT_EQ(r.status, codec::TInflateStatus::End);
      EXPECT_EQ(r.out, data);
      EXPECT_EQ(r.used, z.size()) << "input step " << step;
    }
  }
}

TEST(Inflater, BrokenAndCutStreams) {
  const std::string data = testenv::RandomBytes(200000, 4, true);
  const std::string z = RawDeflate(data, 6);
  std::string flipped = z;
  flipped[0] = char(flipped[0] | 0x06);  // block type 3 does not exist
  EXPECT_EQ(Inflate(flipped, 4096, 65536).status, codec::TInflateStatus::BadData);
  TResult cut = Inflate(z.substr(0, z.size() / 2), 4096, 65536);
  EXPECT_EQ(cut.status, codec::TInflateStatus::Ok) << "a cut stream never reports its end";
  EXPECT_LT(cut.out.size(), data.size());
  // Matches into a dictionary the inflater never saw reach back before the start.
  const std::string dict = testenv::RandomBytes(4000, 5);
  z_stream d{};
  deflateInit2(&d, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  deflateSetDictionary(&d, reinterpret_cast<const Bytef*>(dict.data()), uInt(dict.size()));
  std::string withDict(4096, '\0');
  d.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(dict.data()));
  d.avail_in = uInt(dict.size());
  d.next_out = reinterpret_cast<Bytef*>(withDict.data());
  d.avail_out = uInt(withDict.size());
  ASSERT_EQ(deflate(&d, Z_FINISH), Z_STREAM_END);
  withDict.resize(d.total_out);
  deflateEnd(&d);
  EXPECT_EQ(Inflate(withDict, 4096, 65536).status, codec::TInflateStatus::BadData);
}

}  // namespace
