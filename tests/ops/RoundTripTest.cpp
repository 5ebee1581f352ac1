// One table of round trips across every format the jobs write: create, list, test and extract
// through the jobs, each step compared with the peer tool (zipinfo and unzip, GNU tar, gzip);
// archives made by the peers read back by the jobs; RAR samples against bsdtar.
#include <gtest/gtest.h>

#include "OpsTestUtil.h"

using namespace opstest;
using testenv::Quote;

namespace {

struct TFormatCase {
  const char* label;
  TArchiveFormat format;
  const char* target;       // file name of the archive we make
  const char* peerList;     // prints one stored name per line: $A is the archive
  const char* peerExtract;  // extracts $A into $D
  const char* peerCreate;   // makes $A from "src" in the current folder
  bool listsFolders;        // false: folder-only entries are not listed (the zip component's directory)
};

const TFormatCase kCases[] = {
    {"zip", TArchiveFormat::Zip, "t.zip", "zipinfo -1 $A", "unzip -q $A -d $D", "zip -qr $A src", false},
    {"tar", TArchiveFormat::Tar, "t.tar", "tar -tf $A", "tar -xf $A -C $D", "tar -cf $A src", true},
    {"tar.gz", TArchiveFormat::TarGz, "t.tar.gz", "tar -tzf $A", "tar -xzf $A -C $D", "tar -czf $A src", true},
    {"tgz", TArchiveFormat::TarGz, "t.tgz", "tar -tzf $A", "tar -xzf $A -C $D", "tar -czf $A src", true},
};

std::string Fill(std::string cmd, const fs::path& archive, const fs::path& dest = {}) {
  for (size_t at; (at = cmd.find("$A")) != std::string::npos;) cmd.replace(at, 2, Quote(archive.string()));
  for (size_t at; (at = cmd.find("$D")) != std::string::npos;) cmd.replace(at, 2, Quote(dest.string()));
  return cmd;
}

std::vector<std::string> Trimmed(std::vector<std::string> names) {
  for (std::string& n : names)
    while (!n.empty() && n.back() == '/') n.pop_back();
  return Sorted(names);
}

class RoundTripTest : public ::testing::TestWithParam<TFormatCase> {};

}  // namespace

TEST_P(RoundTripTest, CreateListTestExtractAgainstThePeer) {
  const TFormatCase& c = GetParam();
  const fs::path dir = testenv::MakeTempDir(c.label);
  const fs::path src = MakeTree(dir);
  const fs::path archive = dir / c.target;

  TCreateParams cp;
  cp.Target = archive.string();
  cp.Items = {{src.string(), "src", true}};
  cp.Zip.FolderEntries = true;
  TCreateJob create(cp);
  const TJobResult made = create.Run();
  ASSERT_TRUE(made.Status.IsOk()) << Why(made);
  EXPECT_EQ(create.Format(), c.format);
  EXPECT_EQ(DetectArchiveFormat(archive.string()).Format, c.format);

  // Our listing is the peer's.
  TJobResult listed;
  const std::vector<TArchiveEntry> entries = List(archive, &listed);
  ASSERT_TRUE(listed.Status.IsOk()) << Why(listed);
  std::string peer;
  ASSERT_EQ(testenv::Run(Fill(c.peerList, archive), &peer), 0);
  std::vector<std::string> peerNames = testenv::SortedLines(peer);
  if (!c.listsFolders)
    std::erase_if(peerNames, [](const std::string& n) { return !n.empty() && n.back() == '/'; });
  EXPECT_EQ(Trimmed(Names(entries)), Trimmed(peerNames));
  EXPECT_EQ(listed.Counts.Entries, static_cast<int64_t>(entries.size()));
  for (const TArchiveEntry& e : entries) {
    if (e.Kind != TEntryKind::File) continue;
    EXPECT_EQ(e.Size, fs::file_size(dir / e.Name)) << e.Name;
    EXPECT_GT(e.Time, 0) << e.Name;
  }

  // Testing reads everything and writes nothing.
  const TJobResult tested = TestArchive(archive);
  EXPECT_TRUE(tested.Status.IsOk()) << Why(tested);
  EXPECT_EQ(tested.Counts.Files, 4);

  // Ours and the peer's extraction give the source tree.
  const fs::path ours = dir / "ours", theirs = dir / "theirs";
  const TJobResult x = Extract(archive, ours);
  ASSERT_TRUE(x.Status.IsOk()) << Why(x);
  EXPECT_EQ(x.Counts.Files, 4);
  EXPECT_TRUE(SameTree(src, ours / "src"));
  fs::create_directories(theirs);
  ASSERT_EQ(testenv::Run(Fill(c.peerExtract, archive, theirs)), 0);
  EXPECT_TRUE(SameTree(src, theirs / "src"));

  // The peer's archive, read by ours.
  const fs::path peerArchive = dir / (std::string("peer-") + c.target);
  ASSERT_EQ(testenv::Run("cd " + Quote(dir.string()) + " && " + Fill(c.peerCreate, peerArchive)), 0);
  const fs::path fromPeer = dir / "from-peer";
  const TJobResult y = Extract(peerArchive, fromPeer);
  ASSERT_TRUE(y.Status.IsOk()) << Why(y);
  EXPECT_TRUE(SameTree(src, fromPeer / "src"));
  EXPECT_TRUE(TestArchive(peerArchive).Status.IsOk());
}

INSTANTIATE_TEST_SUITE_P(Formats, RoundTripTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<TFormatCase>& i) {
                           std::string n = i.param.label;
                           for (char& ch : n)
                             if (ch == '.') ch = '_';
                           return n;
                         });

TEST(RoundTrip, GzipWithThePeer) {
  const fs::path dir = testenv::MakeTempDir("gz");
  const fs::path src = MakeTree(dir);
  TCreateParams cp;
  cp.Target = (dir / "b.bin.gz").string();
  cp.Items = {{(src / "sub/b.bin").string(), "b.bin"}};
  cp.Comment = "nightly";
  cp.StoreComment = true;
  const TJobResult made = TCreateJob(cp).Run();
  ASSERT_TRUE(made.Status.IsOk()) << Why(made);
  EXPECT_EQ(testenv::Run("gzip -t " + Quote(cp.Target)), 0);
  std::string peerData;
  ASSERT_EQ(testenv::Run("gzip -dc " + Quote(cp.Target), &peerData), 0);
  EXPECT_EQ(peerData, testenv::ReadFile(src / "sub/b.bin"));

  TListParams lp;
  lp.Archive = cp.Target;
  TListJob list(lp);
  std::vector<TArchiveEntry> entries;
  list.OnEntry = [&](const TArchiveEntry& e) { entries.push_back(e); };
  ASSERT_TRUE(list.Run().Status.IsOk());
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].Name, "b.bin");
  EXPECT_EQ(entries[0].Size, 70000u);
  EXPECT_EQ(entries[0].PackedSize, fs::file_size(cp.Target));
  EXPECT_EQ(list.Comment(), "nightly");
  EXPECT_EQ(list.Format(), TArchiveFormat::Gzip);

  EXPECT_TRUE(TestArchive(cp.Target).Status.IsOk());
  ASSERT_TRUE(Extract(cp.Target, dir / "out").Status.IsOk());
  EXPECT_EQ(testenv::ReadFile(dir / "out/b.bin"), testenv::ReadFile(src / "sub/b.bin"));

  // gzip's own file, with its stored name, read by ours; a flipped CRC is damage.
  ASSERT_EQ(testenv::Run("cd " + Quote(dir.string()) + " && cp src/a.txt a.txt && gzip -N a.txt"), 0);
  ASSERT_TRUE(Extract(dir / "a.txt.gz", dir / "peer").Status.IsOk());
  EXPECT_EQ(testenv::ReadFile(dir / "peer/a.txt"), testenv::ReadFile(src / "a.txt"));
  std::string bytes = testenv::ReadFile(dir / "a.txt.gz");
  bytes[bytes.size() - 6] = static_cast<char>(bytes[bytes.size() - 6] ^ 0x55);
  testenv::WriteFile(dir / "bad.gz", bytes);
  EXPECT_EQ(TestArchive(dir / "bad.gz").Status.Code(), TStatusCode::Damaged);
  // A gzip file holds one file.
  cp.Target = (dir / "two.gz").string();
  cp.Items = {{(src / "a.txt").string(), ""}, {(src / "sub/b.bin").string(), ""}};
  EXPECT_EQ(TCreateJob(cp).Run().Status.Code(), TStatusCode::Unsupported);
  EXPECT_FALSE(fs::exists(cp.Target));
}

TEST(RoundTrip, RarSamplesAgainstBsdtar) {
  const fs::path samples = testenv::TestDataDir() / "rar";
  ASSERT_TRUE(fs::is_directory(samples)) << samples;
  ASSERT_TRUE(testenv::HaveTool("bsdtar"));
  for (const char* name : {"test_read_format_rar5_stored_manyfiles.rar", "test_read_format_rar_binary_data.rar"}) {
    const fs::path rar = samples / name;
    const fs::path dir = testenv::MakeTempDir("rar");
    TJobResult listed;
    const std::vector<TArchiveEntry> entries = List(rar, &listed);
    ASSERT_TRUE(listed.Status.IsOk()) << name << " " << Why(listed);
    std::string peer;
    testenv::Run("bsdtar -tf " + Quote(rar.string()), &peer);
    EXPECT_EQ(Trimmed(Names(entries)), Trimmed(testenv::SortedLines(peer))) << name;
    EXPECT_TRUE(TestArchive(rar).Status.IsOk()) << name;
    const TJobResult x = Extract(rar, dir / "ours");
    ASSERT_TRUE(x.Status.IsOk()) << name << " " << Why(x);
    fs::create_directories(dir / "theirs");
    testenv::Run("bsdtar -xf " + Quote(rar.string()) + " -C " + Quote((dir / "theirs").string()));
    EXPECT_TRUE(SameTree(dir / "theirs", dir / "ours")) << name;
  }
  // A set of volumes from its first (bsdtar cannot read this one).
  const fs::path dir = testenv::MakeTempDir("rarmv");
  ASSERT_TRUE(Extract(samples / "test_rar_multivolume_single_file.part1.rar", dir).Status.IsOk());
  ASSERT_EQ(testenv::ListTree(dir).size(), 1u);
  EXPECT_EQ(fs::file_size(dir / testenv::ListTree(dir)[0]), 20111u);
  // RAR archives are read, never written.
  TUpdateParams up;
  up.Archive = (samples / "test_read_format_rar_binary_data.rar").string();
  up.Items = {{"x", ""}};
  EXPECT_EQ(TUpdateJob(up).Run().Status.Code(), TStatusCode::Unsupported);
}
