// The joined deflate stream: pieces compressed apart must read back as one stream in zlib and in the
// peers, on every kind of piece boundary and at every level family (stored, ISA-L, libdeflate).
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "TestEnv.h"
#include "codec/DeflateScan.h"
#include "codec/DeflateStream.h"

namespace {

// Raw inflate through zlib; fails the test on an error or bytes left after the stream.
std::string ZlibInflate(const std::string& in) {
  z_stream z{};
  EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
  std::string out;
  char buf[65536];
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = uInt(in.size());
  int r;
  do {
    z.next_out = reinterpret_cast<Bytef*>(buf);
    z.avail_out = sizeof buf;
    r = inflate(&z, Z_NO_FLUSH);
    out.append(buf, sizeof buf - z.avail_out);
  } while (r == Z_OK);
  EXPECT_EQ(r, Z_STREAM_END) << (z.msg ? z.msg : "");
  EXPECT_EQ(z.avail_in, 0u) << "bytes after the end of the stream";
  inflateEnd(&z);
  return out;
}

std::string Text(size_t n, uint32_t seed) { return testenv::RandomBytes(n, seed, true); }
std::string Noise(size_t n, uint32_t seed) { return testenv::RandomBytes(n, seed, false); }

struct TCase {
  const char* name;
  std::string input;
  size_t piece;
  std::vector<size_t> writes;  // sizes of the Write calls (cycled); empty = one call
};

std::vector<TCase> Cases() {
  std::vector<TCase> c;
  c.push_back({"empty", "", 1024, {}});
  c.push_back({"one byte", "x", 1024, {}});
  c.push_back({"pieces of one byte", Text(3000, 1), 1, {7, 1, 300}});
  c.push_back({"exactly one piece", Text(65536, 2), 65536, {}});
  c.push_back({"one piece and one byte", Text(65537, 3), 65536, {}});
  c.push_back({"smaller than a piece", Text(1000, 4), 65536, {}});
  // A run of 300 repeated bytes crosses the boundary at 1000: a 258-byte match would reach over it.
  std::string run = Noise(900, 5) + std::string(300, 'a') + Noise(900, 6);
  c.push_back({"boundary inside a long match", run, 1000, {}});
  // The second half repeats the first: matches reach back across the boundary at distance 1700.
  std::string half = Noise(1700, 7);
  c.push_back({"matches reaching back across", half + half, 1900, {}});
  c.push_back({"incompressible pieces", Noise(300000, 8), 100000, {}});
  c.push_back({"stored piece between text",
               Text(70000, 9) + Noise(70000, 10) + Text(70000, 11) + std::string(70000, '\0'), 70000, {5000}});
  c.push_back({"many pieces of text", Text(1 << 20, 12), 64 << 10, {4096, 100000}});
  return c;
}

std::string Compress(const TCase& t, int level, uint32_t* crc = nullptr, unsigned threads = 2) {
  std::string out;
  codec::TParallelDeflate d(level, [&](const char* p, size_t n) { out.append(p, n); }, threads, t.piece);
  size_t at = 0, k = 0;
  while (at < t.input.size()) {
    size_t n = t.writes.empty() ? t.input.size() : t.writes[k++ % t.writes.size()];
    n = std::min(n, t.input.size() - at);
    d.Write(t.input.data() + at, n);
    at += n;
  }
  d.Finish();
  EXPECT_EQ(d.BytesIn(), t.input.size());
  EXPECT_EQ(d.BytesOut(), out.size());
  if (crc) *crc = d.Crc();
  return out;
}

TEST(ParallelDeflate, PiecesJoinIntoOneStreamAtEveryLevel) {
  for (int level : {0, 1, 2, 3, 4, 6, 9}) {
    for (const TCase& t : Cases()) {
      SCOPED_TRACE(std::string(t.name) + " at level " + std::to_string(level));
      uint32_t crc = 0;
      std::string z = Compress(t, level, &crc);
      EXPECT_EQ(ZlibInflate(z), t.input);
      EXPECT_EQ(crc, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(t.input.data()), uInt(t.input.size()))));
      // One final block, at the very end.
      codec::TDeflateLayout layout;
      ASSERT_TRUE(codec::ScanDeflate(reinterpret_cast<const uint8_t*>(z.data()), z.size(), layout));
      EXPECT_EQ((layout.EndBit + 7) / 8, z.size());
    }
  }
}

TEST(ParallelDeflate, OutputDoesNotDependOnThreadsOrWriteSizes) {
  TCase t{"text", Text(600000, 20), 50000, {}};
  std::string one = Compress(t, 6, nullptr, 1);
  t.writes = {1, 4095, 77777};
  EXPECT_EQ(Compress(t, 6, nullptr, 3), one);
}

// Prose-like text: words of a fixed vocabulary, the frequent ones far more often, in lines.
std::string Prose(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::string> words;
  for (int i = 0; i < 3000; ++i) {
    std::string w;
    for (int k = 2 + int(rng() % 8); k > 0; --k) w += char('a' + rng() % 26);
    words.push_back(w);
  }
  std::string out;
  while (out.size() < n) {
    size_t r = rng() % 3000;
    out += words[r * r / 3000];  // skewed towards the first words
    out += (rng() % 12) ? ' ' : '\n';
  }
  out.resize(n);
  return out;
}

TEST(ParallelDeflate, SizeStaysAtZlibsForTheSameLevel) {
  // Independent pieces lose little: at level 6 the joined stream is no larger than zlib's one stream.
  std::string in = Prose(6 << 20, 21) + Noise(1 << 20, 22) + Prose(1 << 20, 23);
  TCase t{"text", in, codec::kDeflatePiece, {}};
  std::string ours = Compress(t, 6);
  uLongf n = compressBound(uLong(in.size()));
  std::string ref(n, '\0');
  ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(ref.data()), &n, reinterpret_cast<const Bytef*>(in.data()),
                      uLong(in.size()), 6),
            Z_OK);
  EXPECT_LE(ours.size(), n) << "zlib -6: " << n;
}

TEST(ParallelDeflate, SinkFailurePassesThroughAndStopsCleanly) {
  std::string in = Text(1 << 20, 22);
  int calls = 0;
  auto run = [&] {
    codec::TParallelDeflate d(6, [&](const char*, size_t) {
      if (++calls == 2) throw std::runtime_error("disk full");
    }, 2, 64 << 10);
    d.Write(in.data(), in.size());
    d.Finish();
  };
  EXPECT_THROW(run(), std::runtime_error);
  EXPECT_EQ(calls, 2);
}

void Le(std::string& s, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s += char(v >> (8 * i));
}

// A zip archive of one deflated entry around the stream.
std::string ZipAround(const std::string& body, uint32_t crc, size_t size) {
  const std::string name = "t.in";
  auto fields = [&](std::string& s) {
    Le(s, 20, 2);  // version needed
    Le(s, 0, 2);   // flags
    Le(s, 8, 2);   // deflate
    Le(s, 0, 2);   // time
    Le(s, 0x21, 2);  // 1980-01-01
    Le(s, crc, 4);
    Le(s, uint32_t(body.size()), 4);
    Le(s, uint32_t(size), 4);
    Le(s, uint32_t(name.size()), 2);
    Le(s, 0, 2);  // extra
  };
  std::string zip;
  Le(zip, 0x04034b50, 4);
  fields(zip);
  zip += name + body;
  std::string central;
  Le(central, 0x02014b50, 4);
  Le(central, 20, 2);  // made by
  fields(central);
  Le(central, 0, 2);  // comment
  Le(central, 0, 2);  // disk
  Le(central, 0, 2);  // internal attributes
  Le(central, 0, 4);  // external attributes
  Le(central, 0, 4);  // local header offset
  central += name;
  const uint32_t at = uint32_t(zip.size());
  zip += central;
  Le(zip, 0x06054b50, 4);
  Le(zip, 0, 4);
  Le(zip, 1, 2);
  Le(zip, 1, 2);
  Le(zip, uint32_t(central.size()), 4);
  Le(zip, at, 4);
  Le(zip, 0, 2);
  return zip;
}

// The stream in a gzip member and in a zip entry, checked by the peers.
TEST(ParallelDeflate, PeersReadTheJoinedStream) {
  for (const char* tool : {"gzip", "7z", "python3", "unzip"}) ASSERT_TRUE(testenv::HaveTool(tool)) << tool;
  const auto dir = testenv::MakeTempDir("peers");
  for (int level : {1, 6}) {
    for (const TCase& t : Cases()) {
      SCOPED_TRACE(std::string(t.name) + " at level " + std::to_string(level));
      uint32_t crc = 0;
      std::string body = Compress(t, level, &crc);
      std::string gz = {'\x1f', '\x8b', 8, 0, 0, 0, 0, 0, 0, 3};
      gz += body;
      for (uint32_t v : {crc, uint32_t(t.input.size())})
        for (int i = 0; i < 4; ++i) gz += char(v >> (8 * i));
      const auto file = dir / "t.gz";
      testenv::WriteFile(file, gz);
      testenv::WriteFile(dir / "t.in", t.input);
      const std::string q = testenv::Quote(file.string());
      EXPECT_EQ(testenv::Run("gzip -t " + q + " 2>&1"), 0);
      EXPECT_EQ(testenv::Run("7z t " + q + " >/dev/null 2>&1"), 0);
      const auto zip = dir / "t.zip";
      testenv::WriteFile(zip, ZipAround(body, crc, t.input.size()));
      EXPECT_EQ(testenv::Run("unzip -tq " + testenv::Quote(zip.string()) + " >/dev/null 2>&1"), 0);
      EXPECT_EQ(testenv::Run("unzip -p " + testenv::Quote(zip.string()) + " | cmp -s - " +
                             testenv::Quote((dir / "t.in").string())),
                0);
      EXPECT_EQ(testenv::Run("python3 -c 'import sys, zlib; d = zlib.decompressobj(31); "
                             "o = d.decompress(open(sys.argv[1], \"rb\").read()); "
                             "sys.exit(0 if d.eof and not d.unused_data and o == open(sys.argv[2], \"rb\").read() else 1)' " +
                             q + " " + testenv::Quote((dir / "t.in").string())),
                0);
    }
  }
}

// Hostile or cut input for the scanner: it must refuse, never read past the end.
TEST(DeflateScan, RefusesBrokenStreams) {
  std::string good;
  {
    TCase t{"text", Text(200000, 30), 1 << 20, {}};
    good = Compress(t, 6);
  }
  struct TBad {
    const char* name;
    std::string data;
  };
  std::vector<TBad> bad = {
      {"empty", ""},
      {"reserved block type", std::string(1, '\x07')},
      {"cut in the middle", good.substr(0, good.size() / 2)},
      {"cut before the last byte", good.substr(0, good.size() - 1)},
      {"stored length mismatch", std::string("\x01\x05\x00\x00\x00", 5)},
      {"stored block longer than the data", std::string("\x01\x05\x00\xfa\xff" "ab", 7)},
      {"no final block", std::string("\x00\x00\x00\xff\xff", 5)},
  };
  for (const TBad& b : bad) {
    codec::TDeflateLayout layout;
    EXPECT_FALSE(codec::ScanDeflate(reinterpret_cast<const uint8_t*>(b.data.data()), b.data.size(), layout)) << b.name;
  }
}

}  // namespace
