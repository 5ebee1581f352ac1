// The gzip component and stream layer against gzip, pigz and hand-made files.
#include <sys/time.h>

#include <map>

#include "ScriptedPrompt.h"
#include "TarTestUtil.h"
#include "tar/Gzip.h"

using namespace tartest;
namespace fs = std::filesystem;
using testenv::Quote;

namespace {

std::string Decompressed(const fs::path& gz, int* code = nullptr, TGzip* use = nullptr) {
  TGzip local;
  TGzip& g = use ? *use : local;
  g.WindowOnError = false;
  g.FileSource = gz.string();
  g.FileDestination = gz.string() + ".out";
  int r = g.Decompress();
  if (code) *code = r;
  std::string data = fs::exists(g.FileDestination) ? testenv::ReadFile(g.FileDestination) : std::string("<none>");
  fs::remove(g.FileDestination);
  return data;
}

}  // namespace

TEST(Gzip, CompressedFilesPassGzipAndKeepTheirHeader) {
  fs::path dir = testenv::MakeTempDir("gzc");
  struct TCase {
    std::string label;
    size_t size;
    THeader header;
    std::string comment;
    int level;
    TCompressionType type;
  };
  std::vector<TCase> cases = {
      {"empty", 0, ghFilename, "", 6, TCompressionType::Standard},
      {"small", 5000, ghFilename | ghComment, "", 6, TCompressionType::Standard},
      {"tagged", 70000, ghFilename | ghComment, "abc", 1, TCompressionType::Standard},
      {"parallel", 5500000, ghFilename, "", 6, TCompressionType::Standard},
      {"huffman", 300000, ghFilename, "", 9, TCompressionType::HuffmanOnly},
      {"filtered", 2500000, 0, "", 4, TCompressionType::Filtered},
      {"stored", 2200000, ghFilename, "", 0, TCompressionType::Standard},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    fs::path src = dir / "report.txt";
    std::string data = testenv::RandomBytes(c.size, static_cast<uint32_t>(c.size), true);
    testenv::WriteFile(src, data);
    TGzip g;
    g.WindowOnError = false;
    g.FileSource = src.string();
    g.FileDestination = (dir / (c.label + ".gz")).string();
    g.GzipHeader = c.header;
    g.Comments = c.comment;
    g.CompressionLevel = c.level;
    g.CompressionType = c.type;
    ASSERT_EQ(g.Compress(), 0) << g.ErrorText;
    std::string gz = testenv::ReadFile(g.FileDestination);
    ASSERT_GE(gz.size(), 18u);
    unsigned char flags = static_cast<unsigned char>(gz[3]);
    EXPECT_EQ(flags, (c.header & ghFilename ? 0x08 : 0) | (c.header & ghComment ? 0x10 : 0));
    std::string fields;
    if (c.header & ghFilename) fields += std::string("report.txt") + '\0';
    if (c.header & ghComment) fields += c.comment + '\0';
    EXPECT_EQ(gz.substr(10, fields.size()), fields);
    Sh("gzip -t " + Quote(g.FileDestination));
    EXPECT_TRUE(Sh("gzip -dc " + Quote(g.FileDestination)) == data);
    EXPECT_TRUE(Decompressed(g.FileDestination) == data);
    if (c.size == 0) {
      // Header, the empty deflate stream, CRC 0 and length 0.
      EXPECT_EQ(gz.substr(10 + fields.size()), std::string("\x03\x00\0\0\0\0\0\0\0\0", 10));
    }
    TGzip h;
    h.FileSource = g.FileDestination;
    ASSERT_EQ(h.ReadHeader(), 0);
    EXPECT_EQ(h.HeaderFileName, c.header & ghFilename ? "report.txt" : "");
    EXPECT_EQ(h.HeaderComment, c.comment);
  }
  TGzip m;
  m.CompressionLevel = 9;
  m.CompressionType = TCompressionType::HuffmanOnly;
  EXPECT_EQ(m.ModeText(), "w9h");
  m.CompressionLevel = 6;
  m.CompressionType = TCompressionType::Standard;
  EXPECT_EQ(m.ModeText(), "w6 ");
}

TEST(Gzip, FilesOfOtherToolsDecompressWhole) {
  fs::path dir = testenv::MakeTempDir("gzr");
  std::string small = testenv::RandomBytes(100000, 7, true);
  std::string big = testenv::RandomBytes(5 << 20, 8, true);  // beyond the whole-member buffer
  testenv::WriteFile(dir / "small.dat", small);
  testenv::WriteFile(dir / "big.dat", big);
  std::string d = Quote(dir.string()) + "/";
  Sh("gzip -N -c " + d + "small.dat > " + d + "named.gz");
  Sh("gzip -n -c " + d + "small.dat > " + d + "nameless.gz");
  Sh("gzip -6 -c " + d + "big.dat > " + d + "big.gz");
  Sh("pigz -c " + d + "big.dat > " + d + "pigz.gz");
  Sh("cat " + d + "named.gz " + d + "big.gz " + d + "nameless.gz > " + d + "multi.gz");
  // A header with an extra field, name, comment and header CRC.
  Sh("python3 -c \"import zlib,struct,sys; d=open(sys.argv[1],'rb').read(); c=zlib.compressobj(6,8,-15); z=c.compress(d)+c.flush();"
     " h=b'\\x1f\\x8b\\x08\\x1e'+struct.pack('<I',1234567890)+b'\\x00\\x03'+struct.pack('<H',4)+b'ABCD'+b'inner.txt\\x00'+b'a comment\\x00';"
     " h+=struct.pack('<H',zlib.crc32(h)&0xffff); open(sys.argv[2],'wb').write(h+z+struct.pack('<II',zlib.crc32(d),len(d)))\" " +
     d + "small.dat " + d + "hand.gz");
  struct TCase {
    std::string file, name, comment, data;
  };
  std::vector<TCase> cases = {{"named.gz", "small.dat", "", small},
                              {"nameless.gz", "", "", small},
                              {"big.gz", "big.dat", "", big},
                              {"pigz.gz", "big.dat", "", big},
                              {"multi.gz", "small.dat", "", small + big + small},
                              {"hand.gz", "inner.txt", "a comment", small}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    TGzip g;
    g.FileSource = (dir / c.file).string();
    ASSERT_EQ(g.ReadHeader(), 0);
    EXPECT_EQ(g.HeaderFileName, c.name);
    EXPECT_EQ(g.HeaderComment, c.comment);
    int code = -1;
    EXPECT_TRUE(Decompressed(dir / c.file, &code) == c.data);
    EXPECT_EQ(code, 0);
  }
  TGzip t;
  t.FileSource = (dir / "hand.gz").string();
  t.ReadHeader();
  EXPECT_EQ(t.HeaderTime, 1234567890u);
}

TEST(Gzip, BrokenFilesFailClearly) {
  fs::path dir = testenv::MakeTempDir("gzbad");
  std::string data = testenv::RandomBytes(3 << 20, 9, true);
  testenv::WriteFile(dir / "d", data);
  Sh("gzip -c " + Quote((dir / "d").string()) + " > " + Quote((dir / "good.gz").string()));
  std::string good = testenv::ReadFile(dir / "good.gz");
  std::string badCrc = good;
  badCrc[badCrc.size() - 6] ^= 0x55;
  std::string badLen = good;
  badLen[badLen.size() - 2] ^= 0x01;
  std::string corrupt = good;
  for (size_t i = 40; i < 240; ++i) corrupt[i] = static_cast<char>(0xFF);
  std::map<std::string, std::string> bad = {{"truncated", good.substr(0, good.size() / 2)},
                                            {"no-trailer", good.substr(0, good.size() - 5)},
                                            {"bad-crc", badCrc},
                                            {"bad-length", badLen},
                                            {"corrupt", corrupt}};
  for (const auto& [label, bytes] : bad) {
    SCOPED_TRACE(label);
    fs::path f = dir / (label + ".gz");
    testenv::WriteFile(f, bytes);
    TScriptedPrompt prompt;
    TGzip g;
    g.FileSource = f.string();
    g.FileDestination = (dir / "out").string();
    EXPECT_EQ(g.Decompress(), 103);
    EXPECT_FALSE(fs::exists(dir / "out"));
    EXPECT_TRUE(prompt.Saw("gzclose Error."));
    EXPECT_FALSE(g.ErrorText.empty());
  }
  // A small member decoded in one piece must fail the same way.
  Sh("printf 'hello world' | gzip -c > " + Quote((dir / "tiny.gz").string()));
  std::string tiny = testenv::ReadFile(dir / "tiny.gz");
  tiny[tiny.size() - 8] ^= 1;
  testenv::WriteFile(dir / "tinybad.gz", tiny);
  int code = 0;
  Decompressed(dir / "tinybad.gz", &code);
  EXPECT_EQ(code, 103);

  // Not gzip at all: copied unchanged; the header reader refuses it.
  testenv::WriteFile(dir / "plain.txt", "just text");
  EXPECT_EQ(Decompressed(dir / "plain.txt", &code), "just text");
  EXPECT_EQ(code, 0);
  TGzip h;
  h.FileSource = (dir / "plain.txt").string();
  EXPECT_EQ(h.ReadHeader(), 2);
  EXPECT_TRUE(h.HeaderFileName.empty());
  testenv::WriteFile(dir / "method.gz", std::string("\x1f\x8b\x07\x00\0\0\0\0\0\0", 10));
  h.FileSource = (dir / "method.gz").string();
  EXPECT_EQ(h.ReadHeader(), 3);
  testenv::WriteFile(dir / "cut.gz", std::string("\x1f\x8b\x08\x08\0\0\0\0\0\0abc", 13));
  h.FileSource = (dir / "cut.gz").string();
  EXPECT_EQ(h.ReadHeader(), 2);

  // Missing files: result 1 and the message when asked for.
  TScriptedPrompt prompt;
  TGzip m;
  m.FileSource = (dir / "missing").string();
  m.FileDestination = (dir / "x.gz").string();
  EXPECT_EQ(m.Compress(), 1);
  EXPECT_EQ(m.Decompress(), 1);
  EXPECT_TRUE(prompt.Saw("Can't open: " + m.FileSource));
  m.FileSource = (dir / "d").string();
  m.FileDestination = (dir / "no-such-folder" / "x.gz").string();
  EXPECT_EQ(m.Compress(), 2);
  m.FileSource = (dir / "good.gz").string();
  EXPECT_EQ(m.Decompress(), 2);
  EXPECT_TRUE(prompt.Saw("Can't create: " + m.FileDestination));
}

TEST(Gzip, ProgressRisesInSteps) {
  fs::path dir = testenv::MakeTempDir("gzp");
  testenv::WriteFile(dir / "d", testenv::RandomBytes(6 << 20, 5, true));
  TGzip g;
  g.FileSource = (dir / "d").string();
  g.FileDestination = (dir / "d.gz").string();
  g.ProgressStep = 20;
  std::vector<int> seen;
  g.OnProgress = [&](TGzip& s) { seen.push_back(s.Progress); };
  ASSERT_EQ(g.Compress(), 0);
  ASSERT_GE(seen.size(), 3u);
  EXPECT_EQ(seen.front(), 0);
  EXPECT_EQ(seen.back(), 100);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  seen.clear();
  g.FileSource = (dir / "d.gz").string();
  g.FileDestination = (dir / "back").string();
  ASSERT_EQ(g.Decompress(), 0);
  EXPECT_EQ(seen.back(), 100);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
}

// One member for any size, with the source's time and OS 3: `gzip -l` sees the true size and single-member
// readers get everything (several members per MiB used to stop such readers after the first).
TEST(Gzip, OutputIsOneMemberWithTheSourcesTimeAndUnixAsSystem) {
  fs::path dir = testenv::MakeTempDir("gz1");
  struct TCase {
    const char* label;
    size_t size;
    int level;
    TCompressionType type;
  };
  const TCase cases[] = {{"three million bytes", 3000000, 6, TCompressionType::Standard},
                         {"fast level", 5000000, 1, TCompressionType::Standard},
                         {"best level", 5000000, 9, TCompressionType::Standard},
                         {"one piece", 4 << 20, 6, TCompressionType::Standard},
                         {"filtered", 2000000, 6, TCompressionType::Filtered},
                         {"empty", 0, 6, TCompressionType::Standard}};
  const uint32_t mtime = 1500000000;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.label);
    fs::path src = dir / "data.bin";
    std::string data = testenv::RandomBytes(c.size, static_cast<uint32_t>(c.size) + 1, true);
    testenv::WriteFile(src, data);
    struct timeval tv[2] = {{mtime, 0}, {mtime, 0}};
    ASSERT_EQ(::utimes(src.c_str(), tv), 0);
    TGzip g;
    g.WindowOnError = false;
    g.FileSource = src.string();
    g.FileDestination = (dir / "data.gz").string();
    g.CompressionLevel = c.level;
    g.CompressionType = c.type;
    ASSERT_EQ(g.Compress(), 0) << g.ErrorText;
    std::string gz = testenv::ReadFile(g.FileDestination);
    ASSERT_GE(gz.size(), 18u);
    EXPECT_EQ(static_cast<unsigned char>(gz[9]), 3u) << "OS";
    uint32_t stamp = 0;
    for (int i = 0; i < 4; ++i) stamp |= uint32_t(static_cast<unsigned char>(gz[4 + i])) << (8 * i);
    EXPECT_EQ(stamp, mtime);
    const std::string q = Quote(g.FileDestination);
    // gzip -l: compressed, uncompressed, ratio, name.
    std::string list = Sh("gzip -l " + q + " | tail -1");
    std::string size = std::to_string(c.size);
    EXPECT_NE(list.find(size.insert(0, 1, ' ').append(1, ' ')), std::string::npos) << list;
    EXPECT_EQ(Sh("python3 -c 'import sys, zlib; d = zlib.decompressobj(31); o = d.decompress(open(sys.argv[1], \"rb\").read());"
                 " print(len(o), d.eof, len(d.unused_data))' " + q),
              std::to_string(c.size) + " True 0\n");
    EXPECT_EQ(testenv::Run("7z t " + q + " >/dev/null"), 0);
    TGzip h;
    h.FileSource = g.FileDestination;
    ASSERT_EQ(h.ReadHeader(), 0);
    EXPECT_EQ(h.HeaderTime, mtime);
    EXPECT_TRUE(Decompressed(g.FileDestination) == data);
  }
}

// Member CRCs checked on the inflating thread or on the reading one: the same bytes and the same
// failure, with members that end on a ring buffer's edge (2 MiB), empty members and a bad CRC in each.
TEST(Gzip, MemberChecksOnEitherThreadAgree) {
  fs::path dir = testenv::MakeTempDir("gzcrc");
  const size_t sizes[] = {2u << 20, 1, 0, (3u << 20) + 5, 2u << 20};
  std::string whole, file;
  std::vector<size_t> trailerAt;  // offset of each member's stored CRC
  for (size_t i = 0; i < std::size(sizes); ++i) {
    std::string data = testenv::RandomBytes(sizes[i], uint32_t(20 + i), true);
    testenv::WriteFile(dir / "m", data);
    Sh("gzip -c " + Quote((dir / "m").string()) + " > " + Quote((dir / "m.gz").string()));
    file += testenv::ReadFile(dir / "m.gz");
    trailerAt.push_back(file.size() - 8);
    whole += data;
  }
  auto read = [&](const std::string& bytes, bool onReader, std::string& error) {
    testenv::WriteFile(dir / "t.gz", bytes);
    TGzReader in((dir / "t.gz").string());
    in.CrcOnReader = onReader;
    std::string out;
    std::vector<char> buf(700000);  // reads that straddle members and slots
    try {
      for (size_t n; (n = in.Read(buf.data(), buf.size())) > 0;) out.append(buf.data(), n);
    } catch (const ETarError& e) {
      error = e.what();
    }
    return out;
  };
  for (bool onReader : {false, true}) {
    SCOPED_TRACE(onReader ? "on the reader" : "on the inflater");
    std::string error;
    EXPECT_TRUE(read(file, onReader, error) == whole);
    EXPECT_EQ(error, "");
    for (size_t m = 0; m < trailerAt.size(); ++m) {
      SCOPED_TRACE("bad CRC in member " + std::to_string(m));
      std::string bad = file;
      bad[trailerAt[m]] ^= 0x20;
      std::string got = read(bad, onReader, error);
      EXPECT_NE(error.find("crc error"), std::string::npos) << error;
      EXPECT_LE(got.size(), whole.size());
      EXPECT_TRUE(whole.compare(0, got.size(), got) == 0);
      // Nothing after the damaged member is given.
      size_t end = 0;
      for (size_t k = 0; k <= m; ++k) end += sizes[k];
      EXPECT_LE(got.size(), end);
    }
  }
}
