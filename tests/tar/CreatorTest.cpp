// Creation runs: peers read what we make, and a stopped or failed run leaves no archive behind.
#include "TarTestUtil.h"
#include "tar/ArchiveCreator.h"
#include "tar/Gzip.h"
#include "tar/TarExtractor.h"

using namespace tartest;
namespace fs = std::filesystem;
using testenv::Quote;

namespace {

std::vector<TArchiveItem> ItemsOf(const fs::path& src, const std::vector<TSample>& samples) {
  std::vector<TArchiveItem> items;
  for (const auto& s : samples) items.push_back({(src / s.name).string(), s.name});
  return items;
}

}  // namespace

TEST(Create, TarAndTarGzReadByPeers) {
  fs::path src = testenv::MakeTempDir("csrc");
  auto samples = MakeTree(src, true, true);
  testenv::WriteFile(src / "large.bin", testenv::RandomBytes(3 << 20, 11, true));  // several gzip blocks
  samples.push_back({"large.bin", 'f', "", 0});
  fs::path dir = testenv::MakeTempDir("cout");
  for (const char* name : {"t.tar", "t.tar.gz", "t.tgz"}) {
    SCOPED_TRACE(name);
    TArchiveCreator c;
    ASSERT_TRUE(TArchiveCreator::KindForName(name, c.Kind));
    c.Items = ItemsOf(src, samples);
    c.StoreComment = true;
    c.Comment = "tag";
    std::string target = (dir / name).string();
    auto r = c.Create(target);
    ASSERT_TRUE(r.Ok) << r.Error;
    EXPECT_EQ(r.Entries, static_cast<int>(samples.size()));
    EXPECT_EQ(r.BytesOut, fs::file_size(target));
    fs::path out = testenv::MakeTempDir("cx");
    Sh("tar -xf " + Quote(target) + " -C " + Quote(out.string()));
    ExpectSameTree(src, out);
    if (c.Kind == TArchiveKind::TarGz) {
      Sh("gzip -t " + Quote(target));
      TGzip g;
      g.FileSource = target;
      ASSERT_EQ(g.ReadHeader(), 0);
      EXPECT_EQ(g.HeaderFileName, "t.tar");
      EXPECT_EQ(g.HeaderComment, "tag");
      EXPECT_TRUE(IsaGzippedTarBall(target));
      fs::path out2 = testenv::MakeTempDir("cx2");
      TTarExtractor x;
      ASSERT_TRUE(x.Extract(target, out2.string()).Ok);
      ExpectSameTree(src, out2);
    }
  }
  // No temporary files stay beside the targets.
  EXPECT_EQ(testenv::ListTree(dir), (std::vector<std::string>{"t.tar", "t.tar.gz", "t.tgz"}));
}

TEST(Create, GzipOfOneFileAndStampedTar) {
  fs::path dir = testenv::MakeTempDir("cg");
  std::string data = testenv::RandomBytes(2500000, 12, true);
  testenv::WriteFile(dir / "in.dat", data);
  TArchiveCreator g;
  g.Kind = TArchiveKind::Gz;
  g.Items = {{(dir / "in.dat").string(), "folder/stored.dat"}};
  auto r = g.Create((dir / "out.gz").string());
  ASSERT_TRUE(r.Ok) << r.Error;
  Sh("gzip -t " + Quote((dir / "out.gz").string()));
  EXPECT_TRUE(Sh("gzip -dc " + Quote((dir / "out.gz").string())) == data);
  TGzip h;
  h.FileSource = (dir / "out.gz").string();
  ASSERT_EQ(h.ReadHeader(), 0);
  EXPECT_EQ(h.HeaderFileName, "stored.dat");

  TArchiveCreator t;
  t.Items = {{(dir / "in.dat").string(), "a/in.dat"}};
  t.KeepAttributes = false;
  t.Permissions = tpReadByOther | tpWriteByOther | tpExecuteByOther;
  t.Magic = "";
  t.VolumeHeader = "VOL1";
  ASSERT_TRUE(t.Create((dir / "s.tar").string()).Ok);
  TTarArchive ar((dir / "s.tar").string());
  TTarDirRec rec;
  ASSERT_TRUE(ar.FindNext(rec));
  EXPECT_EQ(rec.EntryKind, TTarEntryKind::VolumeHeader);
  EXPECT_EQ(rec.Name, "VOL1");
  ASSERT_TRUE(ar.FindNext(rec));
  EXPECT_EQ(rec.Name, "a/in.dat");
  EXPECT_EQ(rec.Mode(), 07u);
  EXPECT_EQ(rec.Magic, "");
  EXPECT_EQ(rec.Size, static_cast<int64_t>(data.size()));
}

TEST(Create, CancelAndFailureLeaveNoArchive) {
  fs::path dir = testenv::MakeTempDir("cc");
  testenv::WriteFile(dir / "big.bin", testenv::RandomBytes(12 << 20, 13, true));
  testenv::WriteFile(dir / "small", "s");
  for (auto kind : {TArchiveKind::Tar, TArchiveKind::TarGz, TArchiveKind::Gz}) {
    fs::path target = dir / "target";
    testenv::WriteFile(target, "previous archive");
    TArchiveCreator c;
    c.Kind = kind;
    c.Items = {{(dir / "big.bin").string(), "big.bin"}};
    int reports = 0;
    c.OnProgress = [&](uint64_t done, uint64_t total, const std::string&) {
      EXPECT_LE(done, total);
      if (++reports == 1) c.Cancel = true;
    };
    auto r = c.Create(target.string());
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.Cancelled);
    EXPECT_EQ(testenv::ReadFile(target), "previous archive");
    EXPECT_EQ(testenv::ListTree(dir), (std::vector<std::string>{"big.bin", "small", "target"}));
  }
  TArchiveCreator f;
  f.Items = {{(dir / "small").string(), "small"}, {(dir / "missing").string(), "missing"}};
  auto r = f.Create((dir / "f.tar").string());
  EXPECT_FALSE(r.Ok);
  EXPECT_NE(r.Error.find("missing"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "f.tar"));
  f.SkipUnreadable = true;
  r = f.Create((dir / "f.tar").string());
  EXPECT_TRUE(r.Ok);
  EXPECT_EQ(r.Entries, 1);
  EXPECT_EQ(r.Warnings.size(), 1u);
  EXPECT_EQ(Sh("tar -tf " + Quote((dir / "f.tar").string())), "small\n");
}
