// The tar reader and writer: header layout, long names, huge sizes, and archives of the peer tools.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>

#include "TarTestUtil.h"
#include "tar/TarLib.h"

using namespace tartest;
namespace fs = std::filesystem;

namespace {

std::string Block(const std::string& archive, size_t index) { return archive.substr(index * 512, 512); }

struct TListed {
  TTarDirRec rec;
  std::string data;
};

std::vector<TListed> ReadAll(TTarArchive& ar) {
  std::vector<TListed> out;
  TTarDirRec rec;
  while (ar.FindNext(rec)) {
    TMemOutput mem;
    ar.ExtractToStream(mem);
    out.push_back({rec, mem.data});
  }
  return out;
}

std::vector<TListed> ReadAll(const fs::path& file) {
  TTarArchive ar(file.string());
  return ReadAll(ar);
}

}  // namespace

TEST(TarHeader, LayoutOfASmallFile) {
  fs::path dir = testenv::MakeTempDir("hdr");
  testenv::WriteFile(dir / "src", "12345");
  TMemOutput* mem = new TMemOutput;
  {
    TTarWriter w(mem, false);
    w.Permissions = tpReadByOther | tpWriteByOther | tpExecuteByOther;  // mode 0o007
    w.UserId = 0;
    w.AddFile((dir / "src").string(), "a/b.txt");
    w.Finalize();
  }
  const std::string& a = mem->data;
  ASSERT_EQ(a.size(), 512u * 4);  // header, one data block, two end blocks
  std::string h = Block(a, 0);
  EXPECT_EQ(h.substr(0, 8), std::string("a/b.txt\0", 8));
  EXPECT_EQ(h.substr(8, 92), std::string(92, '\0'));
  EXPECT_EQ(h.substr(100, 8), std::string("     7 \0", 8));
  EXPECT_EQ(h.substr(108, 8), std::string("     0 \0", 8));
  EXPECT_EQ(h.substr(124, 12), "          5 ");
  EXPECT_EQ(h[156], '0');
  EXPECT_EQ(h.substr(257, 8), "ustar   ");
  EXPECT_EQ(h.substr(345), std::string(167, '\0'));
  EXPECT_EQ(tarheader::GetNumber(h.data() + 148, 8), tarheader::ChecksumOf(h.data()));
  EXPECT_EQ(Block(a, 1), std::string("12345") + std::string(507, '\0'));
  EXPECT_EQ(a.substr(1024), std::string(1024, '\0'));
  delete mem;
}

TEST(TarHeader, NumbersOctalAndBase256) {
  char f[12];
  tarheader::PutNumber(f, 12, 0);
  EXPECT_EQ(std::string(f, 12), "          0 ");
  tarheader::PutNumber(f, 12, 077777777777LL);  // largest octal value of the field
  EXPECT_EQ(std::string(f, 12), "77777777777 ");
  const int64_t nineGiB = 9LL << 30;
  tarheader::PutNumber(f, 12, nineGiB);
  EXPECT_EQ(static_cast<unsigned char>(f[0]), 0x80);
  EXPECT_EQ(tarheader::GetNumber(f, 12), nineGiB);
  tarheader::PutNumber(f, 12, -86400);  // times before 1970
  EXPECT_EQ(tarheader::GetNumber(f, 12), -86400);
  char m[8];
  tarheader::PutNumber(m, 8, 0777777);
  EXPECT_EQ(std::string(m, 8), std::string("777777 \0", 8));
  tarheader::PutNumber(m, 8, 2000000);  // owner ids beyond six digits are not cut
  EXPECT_EQ(tarheader::GetNumber(m, 8), 2000000);
  EXPECT_EQ(tarheader::GetNumber("0000644\0", 8), 0644);
}

TEST(TarHeader, HugeSizeFieldIsReadByPeers) {
  // A header announcing 9 GiB, followed by a sparse hole instead of real data.
  fs::path dir = testenv::MakeTempDir("huge");
  fs::path file = dir / "huge.tar";
  TTarDirRec rec;
  rec.Name = "huge.bin";
  rec.Size = 9LL << 30;
  rec.ModTime = UnixToDateTime(1700000000);
  rec.Permissions = tpReadByOwner | tpWriteByOwner;
  rec.Magic = "ustar";
  char block[512];
  tarheader::Build(rec, block);
  int fd = ::open(file.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, block, 512), 512);
  ASSERT_EQ(::ftruncate(fd, 512 + rec.Size + 1024), 0);
  ::close(fd);
  std::string gnu = Sh("tar -tvf " + testenv::Quote(file.string()) + " 2>&1");
  EXPECT_NE(gnu.find("9663676416"), std::string::npos) << gnu;
  std::string bsd = Sh("bsdtar -tvf " + testenv::Quote(file.string()) + " 2>&1");
  EXPECT_NE(bsd.find("9663676416"), std::string::npos) << bsd;
  TTarArchive ar(file.string());
  TTarDirRec back;
  ASSERT_TRUE(ar.FindNext(back));
  EXPECT_EQ(back.Size, rec.Size);
  EXPECT_TRUE(back.ChecksumOk);
  EXPECT_FALSE(ar.FindNext(back));
  EXPECT_FALSE(ar.Truncated());
}

TEST(TarHeader, NamesAtAndBeyondTheFieldWidth) {
  fs::path dir = testenv::MakeTempDir("names");
  testenv::WriteFile(dir / "f", "x");
  std::string hundred(100, 'h');
  std::string longName = std::string(150, 'L') + "/" + std::string(150, 'M') + ".txt";
  std::string longLink = std::string(200, 'T');
  auto* mem = new TMemOutput;
  {
    TTarWriter w(mem, true);
    w.AddFile((dir / "f").string(), hundred);
    w.AddFile((dir / "f").string(), longName);
    TTarDirRec link;
    link.Name = "l";
    link.EntryKind = TTarEntryKind::SymbolicLink;
    link.LinkName = longLink;
    w.AddEntry(link, nullptr);
    w.Finalize();
    // The 100-byte name fills its field without a NUL.
    EXPECT_EQ(mem->data.substr(0, 100), hundred);
    EXPECT_EQ(mem->data[100], ' ');
    TMemInput* in = new TMemInput(mem->data);
    TTarArchive ar(in, true);
    auto all = ReadAll(ar);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].rec.Name, hundred);
    EXPECT_EQ(all[1].rec.Name, longName);
    EXPECT_EQ(all[1].data, "x");
    EXPECT_EQ(all[2].rec.LinkName, longLink);
    EXPECT_EQ(all[2].rec.EntryKind, TTarEntryKind::SymbolicLink);
    testenv::WriteFile(dir / "names.tar", mem->data);
  }
  std::string gnu = Sh("tar -tf " + testenv::Quote((dir / "names.tar").string()));
  EXPECT_EQ(gnu, hundred + "\n" + longName + "\nl\n");
  std::string bsd = Sh("bsdtar -tvf " + testenv::Quote((dir / "names.tar").string()));
  EXPECT_NE(bsd.find(longName), std::string::npos);
  EXPECT_NE(bsd.find("l -> " + longLink), std::string::npos) << bsd;
}

TEST(TarReader, EndsWithoutEndBlockAndSkipsDirectorySizes) {
  TTarDirRec d;
  d.Name = "dir/";
  d.EntryKind = TTarEntryKind::Directory;
  d.Size = 4096;  // a folder never has data blocks, whatever its size says
  TTarDirRec f;
  f.Name = "dir/f";
  f.Size = 3;
  std::string a(1536, '\0');
  tarheader::Build(d, a.data());
  tarheader::Build(f, a.data() + 512);
  std::memcpy(a.data() + 1024, "abc", 3);
  TTarArchive ar(new TMemInput(a), true);
  auto all = ReadAll(ar);
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[1].rec.Name, "dir/f");
  EXPECT_EQ(all[1].data, "abc");
  EXPECT_FALSE(ar.Truncated());
  // Rewinding starts again at the first entry.
  ar.Reset();
  TTarDirRec rec;
  ASSERT_TRUE(ar.FindNext(rec));
  EXPECT_EQ(rec.Name, "dir/");
  int64_t cur, total;
  ar.GetFilePos(cur, total);
  EXPECT_EQ(cur, 512);
  EXPECT_EQ(total, 1536);
}

TEST(TarReader, TruncationAndBadChecksumAreVisible) {
  TTarDirRec f;
  f.Name = "f";
  f.Size = 2000;
  std::string a(512 + 1000, 'x');
  tarheader::Build(f, a.data());
  {
    TTarArchive ar(new TMemInput(a), true);
    TTarDirRec rec;
    ASSERT_TRUE(ar.FindNext(rec));
    TMemOutput mem;
    EXPECT_THROW(ar.ExtractToStream(mem), ETarError);
    EXPECT_TRUE(ar.Truncated());
  }
  {
    std::string b = a.substr(0, 300);  // a header cut short
    TTarArchive ar(new TMemInput(b), true);
    TTarDirRec rec;
    EXPECT_FALSE(ar.FindNext(rec));
    EXPECT_TRUE(ar.Truncated());
  }
  {
    std::string c = a;
    c[0] = 'g';  // name changed after the checksum was computed
    TTarArchive ar(new TMemInput(c), true);
    TTarDirRec rec;
    ASSERT_TRUE(ar.FindNext(rec));
    EXPECT_FALSE(rec.ChecksumOk);
  }
}

TEST(TarReader, ArchivesOfPeerTools) {
  fs::path src = testenv::MakeTempDir("peersrc");
  auto samples = MakeTree(src, true, true);
  std::map<std::string, TSample> byName;
  for (const auto& s : samples) byName[s.name] = s;
  auto shortOnly = [&](const TSample& s) { return s.name.size() < 100 && s.data.size() < 100; };
  std::string names, shortNames;
  for (const auto& s : samples) {
    if (s.name.find('/') == std::string::npos) names += " " + testenv::Quote(s.name);
  }
  for (const auto& s : samples)
    if (shortOnly(s) && s.name.rfind("n", 0) != 0) shortNames += " " + testenv::Quote(s.name);

  struct TCase {
    std::string label, command;
    bool longNames;
  };
  fs::path out = testenv::MakeTempDir("peers");
  auto q = [&](const std::string& n) { return testenv::Quote((out / n).string()); };
  std::string cdSrc = "cd " + testenv::Quote(src.string()) + " && ";
  std::vector<TCase> cases = {
      {"v7", cdSrc + "tar --format=v7 --no-recursion -cf " + q("v7.tar") + shortNames, false},
      {"ustar", cdSrc + "tar --format=ustar -cf " + q("ustar.tar") + " docs Grüße", false},
      {"gnu", cdSrc + "tar --format=gnu -cf " + q("gnu.tar") + names, true},
      {"pax", cdSrc + "tar --format=pax -cf " + q("pax.tar") + names, true},
      {"bsdtar", cdSrc + "bsdtar -cf " + q("bsdtar.tar") + names, true},
      {"python", "python3 -c \"import tarfile,os,sys; os.chdir(sys.argv[1]); t=tarfile.open(sys.argv[2],'w',format=tarfile.PAX_FORMAT); [t.add(n) for n in sys.argv[3:]]; t.close()\" " +
                     testenv::Quote(src.string()) + " " + q("python.tar") + names, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Sh(c.command);
    fs::path file = out / (c.label + ".tar");
    std::set<std::string> seen;
    for (const auto& e : ReadAll(file)) {
      EXPECT_TRUE(e.rec.ChecksumOk);
      std::string name = e.rec.Name;
      if (!name.empty() && name.back() == '/') name.pop_back();
      auto it = byName.find(name);
      ASSERT_NE(it, byName.end()) << name;
      const TSample& s = it->second;
      seen.insert(name);
      EXPECT_EQ(DateTimeToUnix(e.rec.ModTime), s.mtime) << name;
      if (s.kind == 'f') {
        EXPECT_EQ(e.rec.EntryKind, TTarEntryKind::Regular) << name;
        EXPECT_EQ(e.rec.Size, static_cast<int64_t>(s.data.size())) << name;
        EXPECT_TRUE(e.data == s.data) << name;
      } else if (s.kind == 'd') {
        EXPECT_EQ(e.rec.EntryKind, TTarEntryKind::Directory) << name;
      } else {
        EXPECT_EQ(e.rec.EntryKind, TTarEntryKind::SymbolicLink) << name;
        EXPECT_EQ(e.rec.LinkName, s.data) << name;
      }
    }
    // Every entry the peer lists was seen by us.
    std::string listing = Sh("tar -tf " + testenv::Quote(file.string()));
    size_t lines = std::count(listing.begin(), listing.end(), '\n');
    EXPECT_EQ(seen.size(), lines);
    if (c.longNames) {
      EXPECT_GT(lines, 12u);
    }
  }
}

TEST(TarWriter, PeersListAndExtractOurArchives) {
  fs::path src = testenv::MakeTempDir("oursrc");
  auto samples = MakeTree(src, true, true);
  fs::path dir = testenv::MakeTempDir("ours");
  fs::path ours = dir / "ours.tar";
  {
    TTarWriter w(ours.string());
    for (const auto& s : samples) w.AddPath((src / s.name).string(), s.name);
    w.Finalize();
  }
  // The same tree by GNU tar, in the same order.
  std::string list;
  for (const auto& s : samples) list += s.name + "\n";
  testenv::WriteFile(dir / "list", list);
  Sh("cd " + testenv::Quote(src.string()) + " && tar --format=gnu --no-recursion -cf " +
     testenv::Quote((dir / "gnu.tar").string()) + " -T " + testenv::Quote((dir / "list").string()));
  for (std::string tool : {"tar -tv --numeric-owner --full-time -f ", "bsdtar -tv --numeric-owner -f "}) {
    SCOPED_TRACE(tool);
    std::string a = Sh(tool + testenv::Quote(ours.string()) + " 2>&1");
    std::string b = Sh(tool + testenv::Quote((dir / "gnu.tar").string()) + " 2>&1");
    EXPECT_EQ(a, b);
  }
  fs::path x1 = testenv::MakeTempDir("x-gnu"), x2 = testenv::MakeTempDir("x-bsd");
  Sh("tar -xf " + testenv::Quote(ours.string()) + " -C " + testenv::Quote(x1.string()));
  Sh("bsdtar -xf " + testenv::Quote(ours.string()) + " -C " + testenv::Quote(x2.string()));
  ExpectSameTree(src, x1);
  ExpectSameTree(src, x2);
  // An archive of three small files: three headers, three data blocks and the end blocks.
  {
    TTarWriter w((dir / "three.tar").string());
    for (const char* n : {"docs/five.txt", "docs/block512.bin", "docs/empty.txt"}) w.AddFile((src / n).string(), n);
  }
  EXPECT_EQ(fs::file_size(dir / "three.tar"), 512u * (3 + 2) + 1024);
}

// Paths looked up and opened ahead give the same archive as paths looked up one by one, whatever the
// order the writer is then asked in; a missing path fails as it does without, and a pipe is never opened.
TEST(TarWriter, PrefetchedPathsGiveTheSameArchive) {
  fs::path src = testenv::MakeTempDir("presrc");
  auto samples = MakeTree(src, true, true);
  testenv::WriteFile(src / "docs/limit.bin", testenv::RandomBytes(64 << 10, 4));
  testenv::WriteFile(src / "docs/over.bin", testenv::RandomBytes((64 << 10) + 1, 5));
  testenv::WriteFile(src / "docs/mega.bin", testenv::RandomBytes((1 << 20) + 700, 6));
  ASSERT_EQ(::mkfifo((src / "docs/pipe").c_str(), 0600), 0);
  std::vector<std::string> names;
  for (const auto& s : samples) names.push_back(s.name);
  for (const char* n : {"docs/limit.bin", "docs/over.bin", "docs/mega.bin", "docs/pipe", "docs/gone.txt"})
    names.push_back(n);
  for (int i = 0; i < 300; ++i) {  // more paths than the prefetching window
    std::string n = "many/f" + std::to_string(i);
    testenv::WriteFile(src / n, std::string(size_t(i * 37), char('a' + i % 26)));
    names.push_back(n);
  }
  fs::path dir = testenv::MakeTempDir("pre");
  // Writes `order` (indexes into names) with `prefetched` announced; failures are listed.
  auto write = [&](const std::vector<size_t>& order, const std::vector<size_t>& prefetched, std::string& failed) {
    std::string file = (dir / "a.tar").string();
    TTarWriter w(file);
    std::vector<std::string> paths;
    for (size_t i : prefetched) paths.push_back((src / names[i]).string());
    if (!paths.empty()) w.Prefetch(paths);
    for (size_t i : order) {
      try {
        w.AddPath((src / names[i]).string(), names[i]);
      } catch (const ETarError& e) {
        failed += names[i] + ": " + e.what() + "\n";
      }
    }
    w.Finalize();
    return testenv::ReadFile(file);
  };
  std::vector<size_t> inOrder(names.size());
  for (size_t i = 0; i < names.size(); ++i) inOrder[i] = i;
  std::vector<size_t> swapped = inOrder;
  std::swap(swapped[3], swapped[4]);
  std::vector<size_t> shortList(inOrder.begin(), inOrder.begin() + 5);
  struct TCase {
    const char* what;
    std::vector<size_t> order, prefetched;
  } cases[] = {
      {"in order", inOrder, inOrder},
      {"out of order after three", swapped, inOrder},
      {"more asked than announced", inOrder, shortList},
      {"first path not the one announced", inOrder, {1, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string plainFailed, preFailed;
    const std::string plain = write(c.order, {}, plainFailed);
    const std::string pre = write(c.order, c.prefetched, preFailed);
    EXPECT_TRUE(plain == pre) << "archives differ";
    EXPECT_EQ(plainFailed, preFailed);
    EXPECT_NE(preFailed.find("docs/gone.txt: Can't open"), std::string::npos) << preFailed;
  }
  // The peer reads the pipe as a pipe and every file back.
  testenv::WriteFile(dir / "b.tar", [&] { std::string f; return write(inOrder, inOrder, f); }());
  std::string listing = Sh("tar -tvf " + testenv::Quote((dir / "b.tar").string()) + " docs/pipe");
  EXPECT_EQ(listing.substr(0, 1), "p") << listing;
  fs::path x = testenv::MakeTempDir("pre-x");
  Sh("tar -xf " + testenv::Quote((dir / "b.tar").string()) + " -C " + testenv::Quote(x.string()) + " --exclude docs/pipe");
  for (const char* n : {"docs/limit.bin", "docs/over.bin", "docs/mega.bin", "many/f299"})
    EXPECT_TRUE(testenv::ReadFile(x / n) == testenv::ReadFile(src / n)) << n;
}

TEST(TarHeader, SizeFieldsReadStrictly) {
  struct Case {
    std::string field;  // 12 bytes
    bool ok;
    int64_t value;
  };
  const Case cases[] = {
      {std::string("00000000005\0", 12), true, 5},
      {std::string("          5 ", 12), true, 5},
      {std::string(12, '\0'), true, 0},
      {std::string(12, ' '), true, 0},
      {std::string("777777777777", 12), true, 077777777777LL * 8 + 7},  // twelve digits, no terminator
      {std::string("zzzz\0\0\0\0\0\0\0\0", 12), false, 0},
      {std::string("0000000005x\0", 12), false, 0},
      {std::string("-0000000005\0", 12), false, 0},
      {std::string("\x80\0\0\0\0\0\0\0\0\0\x01\x00", 12), true, 256},
      {std::string("\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xf0", 12), true, -16},
      {std::string("\x80\0\0\0\x7f\xff\xff\xff\xff\xff\xff\xff", 12), true, INT64_MAX},
      {std::string("\x80\0\0\0\x80\0\0\0\0\0\0\0", 12), false, 0},  // 2^63
      {std::string("\x80\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff", 12), false, 0},
      {std::string("\xff\xff\xff\xff\x80\0\0\0\0\0\0\0", 12), true, INT64_MIN},
      {std::string("\xff\xff\xff\xfe\x80\0\0\0\0\0\0\0", 12), false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.field));
    int64_t v = -1;
    ASSERT_EQ(tarheader::ParseNumber(c.field.data(), 12, v), c.ok);
    if (c.ok) {
      EXPECT_EQ(v, c.value);
    }
  }
}

namespace {

// A header for `name` holding `data`, with its size field replaced by `sizeField` when given and
// the checksum summed over signed bytes when `signedSum`.
std::string Entry(const std::string& name, const std::string& data, const std::string& sizeField = "",
                  bool signedSum = false) {
  TTarDirRec r;
  r.Name = name;
  r.Size = static_cast<int64_t>(data.size());
  r.Magic = "ustar";
  std::string h(512, '\0');
  tarheader::Build(r, h.data());
  if (!sizeField.empty()) std::memcpy(h.data() + 124, sizeField.data(), 12);
  std::memset(h.data() + 148, ' ', 8);
  int sum = 0;
  for (char c : h) sum += signedSum ? static_cast<signed char>(c) : static_cast<unsigned char>(c);
  std::snprintf(h.data() + 148, 8, "%06o", static_cast<unsigned>(sum) & 0777777u);
  std::string body = data;
  body.resize((data.size() + 511) / 512 * 512, '\0');
  return h + body;
}

}  // namespace

// A header without a name is an entry (GNU tar and bsdtar go on); a size that is not a number, is
// negative or is beyond 64 bits is damage at that header; a checksum summed over signed bytes reads.
TEST(TarReader, DamagedSizesAndEmptyNames) {
  const std::string first = Entry("first.txt", "one\n");
  const std::string last = Entry("last.txt", "last\n") + std::string(1024, '\0');
  {
    TTarArchive ar(new TMemInput(first + Entry("", "nameless\n") + last), true);
    const auto all = ReadAll(ar);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[1].rec.Name, "");
    EXPECT_EQ(all[2].data, "last\n");
    EXPECT_FALSE(ar.Truncated());
  }
  for (const std::string& size : {std::string("zzzz\0\0\0\0\0\0\0\0", 12),
                                  std::string("\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xf0", 12),
                                  std::string("\x80\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff", 12),
                                  std::string("\x80\0\0\0\x7f\xff\xff\xff\xff\xff\xff\xff", 12)}) {
    TTarArchive ar(new TMemInput(first + Entry("bad.txt", "data", size) + last), true);
    TTarDirRec rec;
    ASSERT_TRUE(ar.FindNext(rec));
    try {
      ar.FindNext(rec);
      ADD_FAILURE() << "bad size read as " << rec.Size;
    } catch (const ETarError& e) {
      EXPECT_STREQ(e.what(), "Bad size field in the header at offset 1024: the archive is damaged");
    }
  }
  {
    TTarArchive ar(new TMemInput(Entry("caf\xc3\xa9.txt", "old", "", true) + last), true);
    const auto all = ReadAll(ar);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_TRUE(all[0].rec.ChecksumOk);
    EXPECT_EQ(all[0].data, "old");
  }
}
