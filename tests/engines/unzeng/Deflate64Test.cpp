// The Deflate64 inflater on its own: streams written here bit by bit (the Deflate64-only codes, broken
// and hostile streams) and streams from 7-Zip, decoded whole and in chunks of every size.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "Deflate64.h"
#include "TestEnv.h"

namespace fs = std::filesystem;
using unzeng::TDecodeStatus;

namespace {

// Writes deflate bit streams: fields least significant bit first, Huffman codes most significant first.
class TBits {
 public:
  void Put(uint32_t value, unsigned n) {
    for (unsigned i = 0; i < n; ++i) Bit((value >> i) & 1);
  }
  void Code(uint32_t code, unsigned len) {
    for (unsigned i = len; i-- > 0;) Bit((code >> i) & 1);
  }
  // Fixed-code symbols.
  void Lit(unsigned sym) {
    if (sym < 144) Code(0x30 + sym, 8);
    else if (sym < 256) Code(0x190 + sym - 144, 9);
    else if (sym < 280) Code(sym - 256, 7);
    else Code(0xC0 + sym - 280, 8);
  }
  void Dist(unsigned code) { Code(code, 5); }
  void Align() {
    while (n_ % 8) Bit(0);
  }
  std::string Bytes() const { return out_; }

 private:
  void Bit(unsigned b) {
    if (n_ % 8 == 0) out_ += '\0';
    if (b) out_.back() = char(out_.back() | (1 << (n_ % 8)));
    ++n_;
  }
  std::string out_;
  size_t n_ = 0;
};

struct TDecoded {
  TDecodeStatus status;
  std::string data;
};

TDecoded Whole(const std::string& in, size_t declared) {
  std::string out(declared, '\0');
  const auto st = unzeng::Deflate64Whole(reinterpret_cast<const uint8_t*>(in.data()), in.size(),
                                         reinterpret_cast<uint8_t*>(out.data()), out.size());
  return {st, out};
}

// Feeds the stream in chunks of `chunk` bytes (0: random sizes) and collects the output in pieces of `outChunk`.
TDecoded Streamed(const std::string& in, size_t chunk, size_t outChunk, uint64_t maxOut = 1 << 26) {
  auto dec = unzeng::MakeDeflate64Decoder();
  std::mt19937 rng(uint32_t(chunk * 31 + outChunk));
  std::vector<uint8_t> buf(outChunk);
  TDecoded r{TDecodeStatus::Ok, {}};
  size_t pos = 0;
  bool finished = false;
  int idle = 0;
  while (!finished) {
    const size_t want = chunk ? chunk : 1 + rng() % 5000;
    const size_t n = std::min(want, in.size() - pos);
    size_t c = 0, p = 0;
    r.status = dec->Step(reinterpret_cast<const uint8_t*>(in.data()) + pos, n, c, buf.data(), buf.size(), p,
                         pos + n == in.size(), finished);
    if (r.status != TDecodeStatus::Ok) return r;
    pos += c;
    r.data.append(reinterpret_cast<char*>(buf.data()), p);
    if (r.data.size() > maxOut) return {TDecodeStatus::TooLong, {}};
    idle = (c == 0 && p == 0) ? idle + 1 : 0;
    if (idle > 2) return {TDecodeStatus::BadData, r.data};
  }
  return r;
}

// A fixed-code block holding `head`, then a match of `len` at `dist` coded with the given symbols.
std::string FixedMatch(const std::string& head, unsigned lenSym, uint32_t lenExtra, unsigned lenBits, unsigned distSym,
                       uint32_t distExtra, unsigned distBits) {
  TBits b;
  b.Put(1, 1);
  b.Put(1, 2);
  for (unsigned char c : head) b.Lit(c);
  b.Lit(lenSym);
  b.Put(lenExtra, lenBits);
  b.Dist(distSym);
  b.Put(distExtra, distBits);
  b.Lit(256);
  return b.Bytes();
}

std::string Repeat(const std::string& head, size_t dist, size_t len) {
  std::string s = head;
  for (size_t i = 0; i < len; ++i) s += s[s.size() - dist];
  return s;
}

}  // namespace

// The codes deflate does not have: length 285 with 16 extra bits, distance codes 30 and 31.
TEST(Deflate64, CodesOfTheLargerWindow) {
  const std::string head = testenv::RandomBytes(65536, 7);
  struct Case {
    const char* what;
    unsigned lenExtra;  // length = 3 + this (code 285)
    unsigned distSym;
    unsigned distExtra;
    size_t dist;
  } cases[] = {
      {"shortest 285", 0, 0, 0, 1},
      {"longest 285, distance 1", 65535, 0, 0, 1},
      {"code 30 lowest", 1000, 30, 0, 32769},
      {"code 30 highest", 40000, 30, 16383, 49152},
      {"code 31 lowest", 77, 31, 0, 49153},
      {"code 31 highest (whole window)", 65535, 31, 16383, 65536},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const unsigned distBits = c.distSym >= 30 ? 14 : 0;
    const std::string stream = FixedMatch(head, 285, c.lenExtra, 16, c.distSym, c.distExtra, distBits);
    const std::string expected = Repeat(head, c.dist, 3 + c.lenExtra);
    const TDecoded w = Whole(stream, expected.size());
    ASSERT_EQ(w.status, TDecodeStatus::Ok);
    EXPECT_TRUE(w.data == expected);
    for (size_t chunk : {size_t(1), size_t(7), size_t(0)}) {
      const TDecoded s = Streamed(stream, chunk, 1000);
      ASSERT_EQ(s.status, TDecodeStatus::Ok) << chunk;
      EXPECT_TRUE(s.data == expected) << chunk;
    }
  }
}

TEST(Deflate64, BrokenAndHostileStreams) {
  const std::string head = "abcdefgh";
  auto stored = [](const std::string& data, uint16_t len, uint16_t nlen, bool last = true) {
    TBits b;
    b.Put(last, 1);
    b.Put(0, 2);
    b.Align();
    b.Put(len, 16);
    b.Put(nlen, 16);
    return b.Bytes() + data;
  };
  const std::string good = FixedMatch(head, 257, 0, 0, 0, 0, 0);  // "abcdefgh" + "hhh"
  TBits type3;
  type3.Put(1, 1);
  type3.Put(3, 2);
  TBits oversubscribed;  // dynamic block whose code-length code has three 1-bit codes
  oversubscribed.Put(1, 1);
  oversubscribed.Put(2, 2);
  oversubscribed.Put(0, 5);
  oversubscribed.Put(0, 5);
  oversubscribed.Put(0, 4);
  for (int i = 0; i < 4; ++i) oversubscribed.Put(i < 3 ? 1 : 0, 3);
  TBits repeatFirst;  // dynamic block starting with "repeat the previous length"
  repeatFirst.Put(1, 1);
  repeatFirst.Put(2, 2);
  repeatFirst.Put(0, 5);
  repeatFirst.Put(0, 5);
  repeatFirst.Put(0, 4);
  repeatFirst.Put(1, 3);  // symbol 16: 1 bit
  repeatFirst.Put(1, 3);  // symbol 17: 1 bit
  repeatFirst.Put(0, 3);
  repeatFirst.Put(0, 3);
  repeatFirst.Code(0, 1);
  repeatFirst.Put(0, 2);
  struct Case {
    const char* what;
    std::string stream;
    size_t declared;
    TDecodeStatus expected;
  } cases[] = {
      {"good", good, 11, TDecodeStatus::Ok},
      {"declared longer", good, 12, TDecodeStatus::TooShort},
      {"declared shorter", good, 10, TDecodeStatus::TooLong},
      {"distance before the first byte", FixedMatch(head, 257, 0, 0, 6, 0, 2), 8 + 3, TDecodeStatus::BadData},
      {"code 31 at the start", FixedMatch("", 285, 5, 16, 31, 0, 14), 8, TDecodeStatus::BadData},
      {"length symbol 286", FixedMatch(head, 286, 0, 0, 0, 0, 0), 20, TDecodeStatus::BadData},
      {"length symbol 287", FixedMatch(head, 287, 0, 0, 0, 0, 0), 20, TDecodeStatus::BadData},
      {"block type 3", type3.Bytes(), 1, TDecodeStatus::BadData},
      {"stored length check wrong", stored("xyz", 3, 3), 3, TDecodeStatus::BadData},
      {"stored data cut", stored("xy", 3, uint16_t(~3)), 3, TDecodeStatus::BadData},
      {"stored good", stored("xyz", 3, uint16_t(~3)), 3, TDecodeStatus::Ok},
      {"no last block", stored("xyz", 3, uint16_t(~3), false), 3, TDecodeStatus::BadData},
      {"over-subscribed code", oversubscribed.Bytes() + std::string(40, '\0'), 10, TDecodeStatus::BadData},
      {"repeat with nothing before", repeatFirst.Bytes() + std::string(40, '\0'), 10, TDecodeStatus::BadData},
      {"empty input", "", 0, TDecodeStatus::BadData},
      {"cut in the middle", good.substr(0, 4), 11, TDecodeStatus::BadData},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const TDecoded w = Whole(c.stream, c.declared);
    EXPECT_EQ(w.status, c.expected) << int(w.status);
    if (c.expected == TDecodeStatus::BadData) {
      for (size_t chunk : {size_t(1), size_t(0)}) EXPECT_EQ(Streamed(c.stream, chunk, 64).status, TDecodeStatus::BadData);
    }
  }
}

// A stream that never ends (a match repeated block after block) stops at the declared size.
TEST(Deflate64, EndlessStreamStopsAtTheDeclaredSize) {
  TBits b;
  for (int block = 0; block < 200; ++block) {
    b.Put(0, 1);
    b.Put(1, 2);
    if (block == 0) b.Lit('x');
    b.Lit(285);
    b.Put(65535, 16);
    b.Dist(0);
    b.Lit(256);
  }
  const std::string s = b.Bytes();
  EXPECT_EQ(Whole(s, 1 << 20).status, TDecodeStatus::TooLong);
  EXPECT_EQ(Streamed(s, 0, 1 << 16, 1 << 20).status, TDecodeStatus::TooLong);
}

// 7-Zip's streams (dynamic, fixed and stored blocks, long matches), whole and in chunks of every size.
TEST(Deflate64, SevenZipStreamsInChunks) {
  const fs::path dir = testenv::MakeTempDir("d64raw");
  std::string pattern = testenv::RandomBytes(60000, 11);
  std::string data;
  while (data.size() < 3000000) data += pattern;
  data += testenv::RandomBytes(100000, 12) + testenv::RandomBytes(500000, 13, true) + std::string(300000, 'z');
  testenv::WriteFile(dir / "data.bin", data);
  for (const char* level : {"-mx=1", "-mx=5"}) {
    SCOPED_TRACE(level);
    const fs::path zip = dir / (std::string("d") + level + ".zip");
    ASSERT_EQ(testenv::Run("cd " + testenv::Quote(dir.string()) + " && 7z a -bd -tzip -mm=Deflate64 " + level + " " +
                           testenv::Quote(zip.string()) + " data.bin >/dev/null"),
              0);
    // The raw stream of the one entry: after the local header, up to the central directory.
    const std::string z = testenv::ReadFile(zip);
    ASSERT_EQ(z[8], 9);
    const size_t nameLen = uint8_t(z[26]) | (uint8_t(z[27]) << 8), extraLen = uint8_t(z[28]) | (uint8_t(z[29]) << 8);
    const size_t csize = uint8_t(z[18]) | (uint8_t(z[19]) << 8) | (uint8_t(z[20]) << 16) | (size_t(uint8_t(z[21])) << 24);
    const std::string stream = z.substr(30 + nameLen + extraLen, csize);
    const TDecoded w = Whole(stream, data.size());
    ASSERT_EQ(w.status, TDecodeStatus::Ok);
    EXPECT_TRUE(w.data == data);
    for (size_t chunk : {size_t(1), size_t(13), size_t(0), size_t(1 << 20)}) {
      if (chunk == 1 && std::string(level) == "-mx=5") continue;  // one byte at a time once is enough
      const TDecoded s = Streamed(stream, chunk, chunk == 13 ? 100 : 1 << 22);
      ASSERT_EQ(s.status, TDecodeStatus::Ok) << chunk;
      EXPECT_TRUE(s.data == data) << chunk;
    }
    // Every cut of the stream is damage, never success or a crash.
    for (size_t cut = 0; cut + 1 < stream.size(); cut += 1 + stream.size() / 61)
      EXPECT_NE(Whole(stream.substr(0, cut), data.size()).status, TDecodeStatus::Ok) << cut;
  }
}
