// GNU sparse members: archives made here by GNU tar in every sparse format list with their real names and
// sizes and extract byte for byte with the holes left as holes; the member after each one is read. Broken
// and hostile maps are damage with a clear error and leave no file behind.
#include <sys/stat.h>
#include <unistd.h>

#include "TarTestUtil.h"
#include "tar/TarExtractor.h"
#include "tar/TarLib.h"

using namespace tartest;
using testenv::Quote;

namespace {

struct TSparseFile {
  std::string name;
  int64_t size;
  std::vector<std::pair<int64_t, std::string>> data;  // offset, bytes
};

// The sample files: a large file with a little data, many regions (GNU extension blocks), data at the end,
// only holes.
std::vector<TSparseFile> SparseFiles() {
  std::vector<TSparseFile> files;
  files.push_back({"big.img", int64_t(1) << 30, {{123456789, testenv::RandomBytes(4096, 1)}}});
  TSparseFile many{"dir/many.bin", 3 << 20, {}};
  for (int i = 0; i < 40; ++i) many.data.push_back({int64_t(i) * 70000 + 5000, testenv::RandomBytes(100 + i, 10 + i)});
  files.push_back(many);
  files.push_back({"tail.bin", 900000, {{10, "head"}, {900000 - 9000, testenv::RandomBytes(9000, 3)}}});
  files.push_back({"holes.bin", 2 << 20, {}});
  return files;
}

void MakeSparse(const fs::path& root, const TSparseFile& f) {
  const fs::path p = root / f.name;
  fs::create_directories(p.parent_path());
  int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  for (const auto& [at, bytes] : f.data) ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), at), ssize_t(bytes.size()));
  ASSERT_EQ(::ftruncate(fd, f.size), 0);
  ::close(fd);
}

// The file holds exactly the sample's bytes, zeros elsewhere. Only what the file system reports as data is
// read (holes read as zeros by definition).
void ExpectSameContent(const fs::path& p, const TSparseFile& f) {
  ASSERT_EQ(fs::file_size(p), uint64_t(f.size)) << p;
  int fd = ::open(p.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  std::vector<char> got(1 << 20), want(1 << 20);
  for (off_t pos = 0; pos < f.size;) {
    off_t data = ::lseek(fd, pos, SEEK_DATA);
    if (data < 0) break;  // only a hole is left
    const off_t hole = ::lseek(fd, data, SEEK_HOLE);
    for (off_t at = data; at < hole;) {
      const size_t n = size_t(std::min<off_t>(hole - at, off_t(got.size())));
      ASSERT_EQ(::pread(fd, got.data(), n, at), ssize_t(n));
      std::fill(want.begin(), want.begin() + ptrdiff_t(n), '\0');
      for (const auto& [o, bytes] : f.data) {
        const off_t lo = std::max<off_t>(o, at), hi = std::min<off_t>(o + off_t(bytes.size()), at + off_t(n));
        if (lo < hi) std::memcpy(want.data() + (lo - at), bytes.data() + (lo - o), size_t(hi - lo));
      }
      if (std::memcmp(got.data(), want.data(), n) != 0) {
        ::close(fd);
        FAIL() << p << " differs between " << at << " and " << at + off_t(n);
      }
      at += off_t(n);
    }
    pos = hole;
  }
  for (const auto& [o, bytes] : f.data) {  // and the data is where it belongs
    std::string back(bytes.size(), '\0');
    ASSERT_EQ(::pread(fd, back.data(), back.size(), o), ssize_t(back.size()));
    EXPECT_TRUE(back == bytes) << p << " at " << o;
  }
  ::close(fd);
}

std::string ArchiveOf(const fs::path& root, const std::string& format, bool gzip) {
  const std::string tar = (root / ("s-" + format + (gzip ? ".tar.gz" : ".tar"))).string();
  std::string fmt = format == "gnu" ? "--format=gnu" : "--format=pax --sparse-version=" + format;
  std::string names;
  for (const auto& f : SparseFiles()) names += " " + Quote(f.name) + " after-" + Quote(fs::path(f.name).filename().string());
  EXPECT_EQ(testenv::Run("cd " + Quote((root / "src").string()) + " && tar --sparse " + fmt + (gzip ? " -z" : "") +
                         " -cf " + Quote(tar) + names),
            0);
  return tar;
}

}  // namespace

TEST(TarSparse, GnuTarFormatsListAndExtract) {
  const fs::path root = testenv::MakeTempDir("sparse");
  for (const auto& f : SparseFiles()) {
    MakeSparse(root / "src", f);
    testenv::WriteFile(root / "src" / ("after-" + fs::path(f.name).filename().string()), "after " + f.name);
  }
  for (const char* format : {"gnu", "0.0", "0.1", "1.0"}) {
    for (bool gzip : {false, true}) {
      if (gzip && std::string(format) != "1.0" && std::string(format) != "gnu") continue;
      SCOPED_TRACE(std::string(format) + (gzip ? " gzip" : ""));
      const std::string tar = ArchiveOf(root, format, gzip);
      // Listing: real names and sizes, every member in order.
      {
        auto ar = OpenTarStream(tar);
        TTarDirRec rec;
        std::vector<std::pair<std::string, int64_t>> seen;
        while (ar->FindNext(rec)) {
          seen.emplace_back(rec.Name, rec.Size);
          ar->SkipData();
        }
        EXPECT_FALSE(ar->Truncated());
        std::vector<std::pair<std::string, int64_t>> want;
        for (const auto& f : SparseFiles()) {
          want.emplace_back(f.name, f.size);
          const std::string after = "after-" + fs::path(f.name).filename().string();
          want.emplace_back(after, int64_t(("after " + f.name).size()));
        }
        EXPECT_EQ(seen, want);
      }
      // Reading the data whole: holes read as zeros.
      {
        auto ar = OpenTarStream(tar);
        TTarDirRec rec;
        ASSERT_TRUE(ar->FindNext(rec));
        ASSERT_TRUE(ar->FindNext(rec));
        ASSERT_TRUE(ar->FindNext(rec));
        ASSERT_EQ(rec.Name, "dir/many.bin");
        EXPECT_TRUE(rec.Sparse);
        TMemOutput all;
        ar->ExtractToStream(all);
        const fs::path copy = root / "copy.bin";
        testenv::WriteFile(copy, all.data);
        ExpectSameContent(copy, SparseFiles()[1]);
        ASSERT_TRUE(ar->FindNext(rec));
        EXPECT_EQ(rec.Name, "after-many.bin");
      }
      // Extraction: byte for byte, the 1 GiB file takes little room.
      const fs::path out = testenv::MakeTempDir("out");
      TTarExtractor x;
      const TTarExtractResult r = x.Extract(tar, out.string());
      ASSERT_TRUE(r.Ok) << r.Error;
      EXPECT_EQ(r.Files, 8);
      for (const auto& f : SparseFiles()) {
        ExpectSameContent(out / f.name, f);
        const std::string after = "after-" + fs::path(f.name).filename().string();
        EXPECT_EQ(testenv::ReadFile(out / after), "after " + f.name);
      }
      struct stat st {};
      ASSERT_EQ(::stat((out / "big.img").c_str(), &st), 0);
      EXPECT_LT(int64_t(st.st_blocks) * 512, int64_t(64) << 20) << "holes were written as zeros";
    }
  }
}

namespace {

// A ustar header with the given name, type and size (octal), checksum filled in.
std::string Header(const std::string& name, char type, int64_t size) {
  TTarDirRec rec;
  rec.Name = name;
  rec.Size = size;
  rec.Permissions = tpAll;
  rec.Magic = "ustar";
  char block[512];
  tarheader::Build(rec, block);
  block[156] = type;
  std::memset(block + 148, ' ', 8);
  tarheader::PutNumber(block + 148, 8, tarheader::ChecksumOf(block));
  return std::string(block, 512);
}

std::string Padded(const std::string& data) { return data + std::string((512 - data.size() % 512) % 512, '\0'); }

std::string PaxRecord(const std::string& key, const std::string& value) {
  const std::string body = " " + key + "=" + value + "\n";
  size_t len = body.size() + 1;
  while (std::to_string(len).size() + body.size() != len) ++len;
  return std::to_string(len) + body;
}

// A pax member: the extended header records, then the member with `data`, then "next.txt".
std::string PaxArchive(const std::vector<std::pair<std::string, std::string>>& records, const std::string& name,
                       const std::string& data) {
  std::string x;
  for (const auto& [k, v] : records) x += PaxRecord(k, v);
  return Header("PaxHeaders/x", 'x', int64_t(x.size())) + Padded(x) + Header(name, '0', int64_t(data.size())) +
         Padded(data) + Header("next.txt", '0', 4) + Padded("next") + std::string(1024, '\0');
}

// An old GNU "S" member: regions in the header (up to 4) and in extension blocks, then "next.txt".
std::string OldGnuArchive(const std::vector<std::pair<int64_t, int64_t>>& map, int64_t realSize, const std::string& data,
                          int extensionBlocks = -1) {
  std::string h = Header("s.bin", 'S', int64_t(data.size()));
  std::memcpy(h.data() + 257, "ustar  ", 8);
  const size_t inHeader = std::min<size_t>(4, map.size());
  for (size_t i = 0; i < inHeader; ++i) {
    tarheader::PutNumber(h.data() + 386 + 24 * i, 12, map[i].first);
    tarheader::PutNumber(h.data() + 398 + 24 * i, 12, map[i].second);
  }
  tarheader::PutNumber(h.data() + 483, 12, realSize);
  std::string ext;
  for (size_t i = inHeader, k = 0; i < map.size(); ++i, ++k) {
    if (k % 21 == 0) {
      if (!ext.empty()) ext[ext.size() - 512 + 504] = 1;
      ext += std::string(512, '\0');
    }
    char* e = ext.data() + ext.size() - 512 + 24 * (k % 21);
    tarheader::PutNumber(e, 12, map[i].first);
    tarheader::PutNumber(e + 12, 12, map[i].second);
  }
  h[482] = ext.empty() && extensionBlocks < 0 ? 0 : 1;
  if (extensionBlocks >= 0) ext = ext.substr(0, 512 * size_t(extensionBlocks));
  std::memset(h.data() + 148, ' ', 8);
  tarheader::PutNumber(h.data() + 148, 8, tarheader::ChecksumOf(h.data()));
  return h + ext + Padded(data) + Header("next.txt", '0', 4) + Padded("next") + std::string(1024, '\0');
}

bool SaysSparse(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text.find("sparse") != std::string::npos;
}

std::string V1Archive(const std::string& mapText, const std::string& data, int64_t realSize) {
  const std::string stored = Padded(mapText) + data;
  return PaxArchive({{"GNU.sparse.major", "1"},
                     {"GNU.sparse.minor", "0"},
                     {"GNU.sparse.name", "s.bin"},
                     {"GNU.sparse.realsize", std::to_string(realSize)}},
                    "GNUSparseFile.1/s.bin", stored);
}

}  // namespace

// The hand-made maps read right, so the hostile cases below differ from them in the map alone.
TEST(TarSparse, HandMadeMembersRead) {
  const std::string data = "abcdXYZ";
  const std::vector<std::string> archives = {
      OldGnuArchive({{2, 4}, {10, 3}}, 20, data),
      PaxArchive({{"GNU.sparse.size", "20"}, {"GNU.sparse.map", "2,4,10,3"}}, "s.bin", data),
      PaxArchive({{"GNU.sparse.size", "20"},
                  {"GNU.sparse.offset", "2"},
                  {"GNU.sparse.numbytes", "4"},
                  {"GNU.sparse.offset", "10"},
                  {"GNU.sparse.numbytes", "3"}},
                 "s.bin", data),
      V1Archive("2\n2\n4\n10\n3\n", data, 20),
  };
  for (const std::string& a : archives) {
    TTarArchive ar(new TMemInput(a), true);
    TTarDirRec rec;
    ASSERT_TRUE(ar.FindNext(rec));
    EXPECT_EQ(rec.Name, "s.bin");
    EXPECT_EQ(rec.Size, 20);
    TMemOutput out;
    ar.ExtractToStream(out);
    EXPECT_EQ(out.data, std::string("\0\0abcd\0\0\0\0XYZ\0\0\0\0\0\0\0", 20));
    ASSERT_TRUE(ar.FindNext(rec));
    EXPECT_EQ(rec.Name, "next.txt");
  }
  // Many regions spread over extension blocks.
  std::vector<std::pair<int64_t, int64_t>> map;
  std::string many;
  for (int i = 0; i < 60; ++i) {
    map.push_back({int64_t(i) * 10, 1});
    many += char('A' + i % 26);
  }
  TTarArchive ar(new TMemInput(OldGnuArchive(map, 600, many)), true);
  TTarDirRec rec;
  ASSERT_TRUE(ar.FindNext(rec));
  EXPECT_EQ(rec.SparseMap.size(), 60u);
  ar.SkipData();
  ASSERT_TRUE(ar.FindNext(rec));
  EXPECT_EQ(rec.Name, "next.txt");
}

TEST(TarSparse, HostileMapsAreDamage) {
  const std::string data = "abcdXYZ";
  std::vector<std::pair<int64_t, int64_t>> hugeMap;
  for (int i = 0; i < 5000; ++i) hugeMap.push_back({int64_t(i) * 2, 1});
  struct Case {
    const char* what;
    std::string archive;
  } cases[] = {
      {"old GNU: region past the size", OldGnuArchive({{2, 4}, {18, 3}}, 20, data)},
      {"old GNU: regions overlap", OldGnuArchive({{2, 4}, {4, 3}}, 20, data)},
      {"old GNU: regions unsorted", OldGnuArchive({{10, 3}, {2, 4}}, 20, data)},
      {"old GNU: map and data disagree", OldGnuArchive({{2, 4}, {10, 2}}, 20, data)},
      {"old GNU: negative real size", OldGnuArchive({{2, 4}, {10, 3}}, -5, data)},
      {"old GNU: size overflow", OldGnuArchive({{2, 4}, {INT64_MAX - 1, 3}}, INT64_MAX, data)},
      {"old GNU: extension blocks missing", OldGnuArchive({{0, 1}, {2, 1}, {4, 1}, {6, 1}, {8, 3}}, 20, data, 0)},
      {"old GNU: a map larger than its data", OldGnuArchive(hugeMap, 10000, data)},
      {"0.1: region past the size", PaxArchive({{"GNU.sparse.size", "12"}, {"GNU.sparse.map", "2,4,10,3"}}, "s.bin", data)},
      {"0.1: overlap", PaxArchive({{"GNU.sparse.size", "20"}, {"GNU.sparse.map", "2,4,5,3"}}, "s.bin", data)},
      {"0.1: odd map", PaxArchive({{"GNU.sparse.size", "20"}, {"GNU.sparse.map", "2,4,10"}}, "s.bin", data)},
      {"0.1: not a number", PaxArchive({{"GNU.sparse.size", "20"}, {"GNU.sparse.map", "2,4,1x,3"}}, "s.bin", data)},
      {"0.1: negative", PaxArchive({{"GNU.sparse.size", "20"}, {"GNU.sparse.map", "2,4,-1,3"}}, "s.bin", data)},
      {"0.1: count announced wrong",
       PaxArchive({{"GNU.sparse.size", "20"}, {"GNU.sparse.numblocks", "9"}, {"GNU.sparse.map", "2,4,10,3"}}, "s.bin", data)},
      {"0.1: no real size", PaxArchive({{"GNU.sparse.map", "2,4,10,3"}}, "s.bin", data)},
      {"0.1: real size beyond 64 bits",
       PaxArchive({{"GNU.sparse.size", "99999999999999999999"}, {"GNU.sparse.map", "2,4,10,3"}}, "s.bin", data)},
      {"0.0: size before offset",
       PaxArchive({{"GNU.sparse.size", "20"}, {"GNU.sparse.numbytes", "4"}, {"GNU.sparse.offset", "2"}}, "s.bin", data)},
      {"1.0: huge count", V1Archive("99999999999\n2\n4\n", data, 20)},
      {"1.0: count beyond the data", V1Archive("3\n2\n4\n10\n3\n", data, 20)},
      {"1.0: junk in the map", V1Archive("2\n2\n4\n1 0\n3\n", data, 20)},
      {"1.0: map past the size", V1Archive("2\n2\n4\n18\n3\n", data, 20)},
      {"1.0: unknown version",
       PaxArchive({{"GNU.sparse.major", "2"}, {"GNU.sparse.minor", "0"}, {"GNU.sparse.realsize", "20"}}, "s.bin", data)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    {
      TTarArchive ar(new TMemInput(c.archive), true);
      TTarDirRec rec;
      try {
        while (ar.FindNext(rec)) ar.SkipData();
        ADD_FAILURE() << "read without an error";
      } catch (const ETarError& e) {
        EXPECT_TRUE(SaysSparse(e.what())) << e.what();
      }
    }
    const fs::path dir = testenv::MakeTempDir("hostile");
    testenv::WriteFile(dir / "a.tar", c.archive);
    TTarExtractor x;
    const TTarExtractResult r = x.Extract((dir / "a.tar").string(), (dir / "out").string());
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(SaysSparse(r.Error)) << r.Error;
    EXPECT_FALSE(fs::exists(dir / "out" / "s.bin"));
  }
}
