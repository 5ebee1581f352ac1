// Choosing entries by identity, not by display name: tar names with "\" and bytes that are not
// UTF-8, entries that share a name, zip and RAR subsets; names as patterns for the command line.
#include <gtest/gtest.h>

#include "OpsTestUtil.h"
#include "RarWriter.h"

using namespace opstest;
using testenv::Quote;

namespace {

// A tar written by Python with entries (name, data) taken byte for byte.
void PythonTar(const fs::path& tar, const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string script = "import tarfile,io,sys\nt=tarfile.open(sys.argv[1],'w',format=tarfile.GNU_FORMAT,encoding='utf-8',errors='surrogateescape')\n";
  for (const auto& [name, data] : entries) {
    std::string hex, hexName;
    for (unsigned char ch : data) {
      char b[3];
      std::snprintf(b, sizeof b, "%02x", ch);
      hex += b;
    }
    for (unsigned char ch : name) {
      char b[3];
      std::snprintf(b, sizeof b, "%02x", ch);
      hexName += b;
    }
    script += "n=bytes.fromhex('" + hexName + "').decode('utf-8','surrogateescape'); d=bytes.fromhex('" + hex +
              "')\ni=tarfile.TarInfo(n); i.size=len(d); i.mtime=1700000000; t.addfile(i, io.BytesIO(d))\n";
  }
  script += "t.close()\n";
  testenv::WriteFile(tar.string() + ".py", script);
  ASSERT_EQ(testenv::Run("python3 " + Quote(tar.string() + ".py") + " " + Quote(tar.string())), 0);
}

TEntryId IdOf(const std::vector<TArchiveEntry>& entries, const std::string& name, int nth = 0) {
  for (const TArchiveEntry& e : entries)
    if (e.Name == name && nth-- == 0) return e.Id;
  ADD_FAILURE() << "no entry " << name;
  return ~TEntryId{0};
}

}  // namespace

TEST(Selection, TarEntriesByIdentity) {
  const fs::path dir = testenv::MakeTempDir("sel");
  for (const char* kind : {"tar", "tar.gz"}) {
    const fs::path tar = dir / (std::string("odd.") + kind);
    PythonTar(dir / "odd.tar", {{"dir\\back.txt", "backslash"},
                                {"caf\xe9.txt", "latin-1 byte"},
                                {"dup.txt", "first"},
                                {"dup.txt", "second"},
                                {"dupdir/x.txt", "in a folder"},
                                {"dupdir", "a file named like the folder above"}});
    if (std::string(kind) == "tar.gz") {
      ASSERT_EQ(testenv::Run("gzip -c " + Quote((dir / "odd.tar").string()) + " > " + Quote(tar.string())), 0);
    }
    const std::vector<TArchiveEntry> entries = List(tar);
    ASSERT_EQ(entries.size(), 6u) << kind;
    EXPECT_EQ(entries[0].Name, "dir\\back.txt");
    EXPECT_EQ(entries[1].Name, "caf\xe9.txt");

    // The second "dup.txt" alone; the one with the odd byte; the file "dupdir" without the folder's content.
    const fs::path out = dir / (std::string("out-") + kind);
    TSelection s;
    s.Ids = {IdOf(entries, "dup.txt", 1), IdOf(entries, "caf\xe9.txt"), IdOf(entries, "dupdir")};
    TJobResult r = Extract(tar, out, s);
    ASSERT_TRUE(r.Status.Succeeded()) << Why(r);
    EXPECT_EQ(r.Counts.Files, 3);
    EXPECT_EQ(testenv::ReadFile(out / "dup.txt"), "second");
    EXPECT_EQ(testenv::ReadFile(out / "caf\xe9.txt"), "latin-1 byte");
    EXPECT_EQ(testenv::ReadFile(out / "dupdir"), "a file named like the folder above") << kind;
    EXPECT_FALSE(fs::exists(out / "dir")) << kind;

    // The backslash name is written under "/" folders.
    s.Ids = {IdOf(entries, "dir\\back.txt")};
    r = Extract(tar, out, s);
    EXPECT_TRUE(r.Status.Succeeded()) << Why(r);
    EXPECT_EQ(testenv::ReadFile(out / "dir/back.txt"), "backslash");
    // Tested by identity: only the chosen entry is read.
    const TJobResult t = TestArchive(tar, s);
    EXPECT_TRUE(t.Status.IsOk()) << Why(t);
    EXPECT_EQ(t.Counts.Files, 1);
  }
}

TEST(Selection, ZipSubsetsAndPatterns) {
  const fs::path dir = testenv::MakeTempDir("zipsel");
  const fs::path src = MakeTree(dir);
  ASSERT_EQ(testenv::Run("cd " + Quote(dir.string()) + " && zip -qr t.zip src"), 0);
  const std::vector<TArchiveEntry> entries = List(dir / "t.zip");
  TSelection s;
  s.Ids = {IdOf(entries, "src/sub/b.bin"), IdOf(entries, "src/sub/Grüße.txt")};
  ASSERT_TRUE(Extract(dir / "t.zip", dir / "ids", s).Status.IsOk());
  EXPECT_EQ(testenv::ListTree(dir / "ids"),
            (std::vector<std::string>{"src/", "src/sub/", "src/sub/Grüße.txt", "src/sub/b.bin"}));
  TSelection p;
  p.Patterns = {"src/sub/*.bin"};
  ASSERT_TRUE(Extract(dir / "t.zip", dir / "pattern", p).Status.IsOk());
  EXPECT_EQ(testenv::ListTree(dir / "pattern"), (std::vector<std::string>{"src/", "src/sub/", "src/sub/b.bin"}));
  // Every entry chosen one by one is the whole archive.
  TSelection all;
  for (const TArchiveEntry& e : entries) all.Ids.push_back(e.Id);
  ASSERT_TRUE(Extract(dir / "t.zip", dir / "all", all).Status.IsOk());
  EXPECT_TRUE(SameTree(src, dir / "all/src"));
}

TEST(Selection, RarEntriesThatShareAName) {
  const fs::path dir = testenv::MakeTempDir("rarsel");
  testenv::WriteFile(dir / "dup.rar", rartest::MakeRar4({{"a/dup.txt", "first"}, {"b.txt", "bee"}, {"a/dup.txt", "second"}}));
  const std::vector<TArchiveEntry> entries = List(dir / "dup.rar");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[2].Id, 2u);
  TSelection s;
  s.Ids = {entries[2].Id};
  const TJobResult r = Extract(dir / "dup.rar", dir / "out", s);
  ASSERT_TRUE(r.Status.IsOk()) << Why(r);
  EXPECT_EQ(testenv::ListTree(dir / "out"), (std::vector<std::string>{"a/", "a/dup.txt"}));
  EXPECT_EQ(testenv::ReadFile(dir / "out/a/dup.txt"), "second");
  TSelection byName;
  byName.Patterns = {"b.txt"};
  ASSERT_TRUE(Extract(dir / "dup.rar", dir / "named", byName).Status.IsOk());
  EXPECT_EQ(testenv::ListTree(dir / "named"), std::vector<std::string>{"b.txt"});
}
