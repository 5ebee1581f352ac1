// Adding files through libzipeng.so: archives checked and extracted by Info-ZIP unzip and 7-Zip.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "EngineRunner.h"
#include "TestEnv.h"
#include "formats/ZipDirectory.h"

namespace fs = std::filesystem;
using testenv::WriteFile;

namespace {

std::string U(const char8_t* s) { return reinterpret_cast<const char*>(s); }

zipfmt::CentralDirectory ReadDir(const fs::path& zip) {
  TArchiveFile f;
  zipfmt::CentralDirectory d;
  std::string err;
  EXPECT_TRUE(f.Open(zip.string(), err)) << err;
  EXPECT_TRUE(zipfmt::ReadCentralDirectory(f, d, err)) << err;
  return d;
}

std::vector<std::string> Names(const fs::path& zip) {
  std::vector<std::string> n;
  for (const auto& e : ReadDir(zip).entries) n.push_back(e.name);
  std::sort(n.begin(), n.end());
  return n;
}

const zipfmt::CentralEntry* Find(const zipfmt::CentralDirectory& d, const std::string& name) {
  for (const auto& e : d.entries)
    if (e.name == name) return &e;
  return nullptr;
}

// A tree with text, random, empty files, an empty folder and a UTF-8 name.
fs::path MakeTree() {
  fs::path root = testenv::MakeTempDir("src");
  WriteFile(root / "text.txt", testenv::RandomBytes(200000, 1, true));
  WriteFile(root / "random.bin", testenv::RandomBytes(300000, 2));  // sampled, then stored
  WriteFile(root / "empty.dat", "");
  WriteFile(root / "sub" / "deeper" / "note.txt", "hello\n");
  WriteFile(root / "sub" / U(u8"Grüße €.txt"), "utf8\n");
  fs::create_directories(root / "sub" / "hollow");
  return root;
}

}  // namespace

TEST(ZipEngineAdd, TreeRoundTripsThroughPeersWithCallbackSequence) {
  fs::path src = MakeTree();
  fs::path zip = testenv::MakeTempDir("out") / "tree.zip";
  EngineRunner eng;
  EXPECT_GE(eng.Version(), 170);
  EngineRun r;
  r.archive = zip.string();
  r.specs = {{"*.*", src.string()}};
  r.recurse = true;
  r.separateDirs = true;
  int n = eng.Run(r);
  EXPECT_EQ(n, 8) << eng.Messages();  // 5 files and 3 folders
  ExpectPeersExtract(zip, src);

  ASSERT_GE(eng.events.size(), 4u);
  EXPECT_EQ(eng.events[0].action, kActionTotalFiles);
  EXPECT_EQ(eng.events[0].value2, 8);
  EXPECT_EQ(eng.events[1].action, kActionTotalSize);
  EXPECT_EQ(eng.events[1].value2, 500000 + 6 + 5);
  EXPECT_EQ(eng.events.back().action, kActionEndBatch);
  int64_t progress = 0;
  for (const auto& e : eng.Of(kActionProgress)) progress += e.value2;
  EXPECT_EQ(progress, 500011);
  auto files = eng.Of(kActionNewFile);
  ASSERT_EQ(files.size(), 8u);
  EXPECT_EQ(files[0].text, "empty.dat");  // sorted walk, file order kept in the callbacks
  auto d = ReadDir(zip);
  auto* u = Find(d, U(u8"sub/Grüße €.txt"));
  ASSERT_NE(u, nullptr);
  EXPECT_TRUE(u->flags & zipfmt::kFlagUtf8);
  EXPECT_EQ(Find(d, "random.bin")->method, zipfmt::kMethodStored);  // incompressible: stored
  EXPECT_EQ(Find(d, "text.txt")->method, zipfmt::kMethodDeflated);
}

// "." is the root folder itself: its contents are stored as "*.*" stores them, never the folder under
// its absolute path.
TEST(ZipEngineAdd, DotStoresTheFolderContentsOnly) {
  fs::path src = MakeTree();
  fs::path out = testenv::MakeTempDir("out");
  EngineRunner eng;
  std::vector<std::vector<std::string>> names;
  for (const char* spec : {"*.*", "."}) {
    EngineRun r;
    r.archive = (out / (std::string(spec == std::string(".") ? "dot" : "all") + ".zip")).string();
    r.specs = {{spec, src.string()}};
    r.recurse = true;
    r.separateDirs = true;
    EXPECT_EQ(eng.Run(r), 8) << spec << ": " << eng.Messages();
    names.push_back(Names(r.archive));
  }
  EXPECT_EQ(names[1], names[0]);
}

TEST(ZipEngineAdd, LevelsAndStoreSuffixes) {
  fs::path src = testenv::MakeTempDir("src");
  WriteFile(src / "a.txt", testenv::RandomBytes(50000, 3, true));
  WriteFile(src / "b.PNG", testenv::RandomBytes(50000, 4, true));
  EngineRunner eng;
  fs::path out = testenv::MakeTempDir("out");
  std::vector<uint64_t> sizes;
  for (int level : {0, 1, 6, 9}) {
    EngineRun r;
    r.archive = (out / ("l" + std::to_string(level) + ".zip")).string();
    r.specs = {{"*", src.string()}};
    r.level = level;
    r.storeSuffixes = ".gif:.png:.zip";
    ASSERT_EQ(eng.Run(r), 2) << eng.Messages();
    ExpectPeersExtract(r.archive, src);
    auto d = ReadDir(r.archive);
    EXPECT_EQ(Find(d, "b.PNG")->method, zipfmt::kMethodStored);
    EXPECT_EQ(Find(d, "a.txt")->method, level == 0 ? zipfmt::kMethodStored : zipfmt::kMethodDeflated);
    sizes.push_back(Find(d, "a.txt")->compressedSize);
  }
  EXPECT_GT(sizes[0], sizes[1]);
  EXPECT_GE(sizes[1], sizes[3]);
}

TEST(ZipEngineAdd, EncryptionRecordLinesAndCallbackPasswords) {
  fs::path src = testenv::MakeTempDir("src");
  WriteFile(src / "one.txt", testenv::RandomBytes(30000, 5, true));
  WriteFile(src / "two.txt", testenv::RandomBytes(30000, 6, true));
  WriteFile(src / "open.txt", "not secret\n");
  fs::path out = testenv::MakeTempDir("out");
  EngineRunner eng;

  // The record's password for every file.
  EngineRun r;
  r.archive = (out / "rec.zip").string();
  r.specs = {{"*.txt", src.string()}};
  r.encrypt = true;
  r.password = "s3cret";
  ASSERT_EQ(eng.Run(r), 3) << eng.Messages();
  ExpectPeersExtract(r.archive, src, "s3cret");
  EXPECT_NE(ShStatus("unzip -tq -P wrong " + testenv::Quote(r.archive)), 0);
  for (const auto& e : ReadDir(r.archive).entries) EXPECT_TRUE(e.IsEncrypted()) << e.name;

  // Per-line passwords: one line with its own, one ending in "<" (stored open).
  EngineRun l;
  l.archive = (out / "lines.zip").string();
  l.specs = {{"one.txt", src.string(), std::string("pw1")}, {"open.txt", src.string(), std::nullopt, true}};
  l.encrypt = true;
  l.password = "unused";
  ASSERT_EQ(eng.Run(l), 2) << eng.Messages();
  auto d = ReadDir(l.archive);
  EXPECT_TRUE(Find(d, "one.txt")->IsEncrypted());
  EXPECT_FALSE(Find(d, "open.txt")->IsEncrypted());
  fs::path x = testenv::MakeTempDir("x");
  Sh("unzip -q -P pw1 " + testenv::Quote(l.archive) + " -d " + testenv::Quote(x.string()));
  EXPECT_EQ(testenv::ReadFile(x / "one.txt"), testenv::ReadFile(src / "one.txt"));

  // No password in the record: the callback is asked once for a new password.
  EngineRun c;
  c.archive = (out / "cb.zip").string();
  c.specs = {{"*.txt", src.string()}};
  c.encrypt = true;
  eng.answer = [](CallbackRecord& rec) {
    if (rec.ActionCode == kActionPassword) {
      std::strcpy(rec.Text, "fromcb");
      rec.Value1 = 1;
    }
    return kCallbackContinue;
  };
  ASSERT_EQ(eng.Run(c), 3) << eng.Messages();
  auto asks = eng.Of(kActionPassword);
  ASSERT_EQ(asks.size(), 1u);
  EXPECT_EQ(asks[0].value1 & kPasswordWantNew, kPasswordWantNew);
  ExpectPeersExtract(c.archive, src, "fromcb");

  // "Cancel all" at the password question: nothing written, a message with a code.
  EngineRun none = c;
  none.archive = (out / "none.zip").string();
  eng.answer = [](CallbackRecord& rec) {
    if (rec.ActionCode == kActionPassword) rec.ActionCode = kActionNone;
    return kCallbackContinue;
  };
  EXPECT_EQ(eng.Run(none), 0);
  EXPECT_FALSE(fs::exists(none.archive));
  EXPECT_FALSE(eng.Of(kActionMessage).empty());
  EXPECT_NE(eng.Of(kActionMessage).back().value1, 0);
}

TEST(ZipEngineAdd, LargeFileIsCompressedAndEncryptedInPieces) {
  fs::path src = testenv::MakeTempDir("src");
  std::string big;
  big.reserve(70u << 20);
  for (uint32_t i = 0; big.size() < (70u << 20); ++i) big += "line " + std::to_string(i * 2654435761u) + " of a large text\n";
  WriteFile(src / "big1.txt", big);
  fs::path zip = testenv::MakeTempDir("out") / "big.zip";
  EngineRunner eng;
  EngineRun e;
  e.archive = zip.string();
  e.specs = {{"big1.txt", src.string()}};
  e.level = 1;
  e.encrypt = true;
  e.password = "large";
  ASSERT_EQ(eng.Run(e), 1) << eng.Messages();
  EXPECT_GT(eng.Of(kActionProgress).size(), 5u);  // one per piece
  auto d = ReadDir(zip);
  EXPECT_TRUE(d.entries[0].flags & zipfmt::kFlagDataDescriptor);
  EXPECT_TRUE(d.entries[0].IsEncrypted());
  EXPECT_EQ(d.entries[0].method, zipfmt::kMethodDeflated);
  Sh("7z t -plarge " + testenv::Quote(zip.string()));
  EXPECT_EQ(Sh("unzip -p -P large " + testenv::Quote(zip.string()) + " big1.txt | md5sum"),
            Sh("md5sum < " + testenv::Quote((src / "big1.txt").string())));
}

TEST(ZipEngineAdd, SixtyFiveThousandEntriesUseZip64) {
  fs::path src = testenv::MakeTempDir("many");
  for (int d = 0; d < 66; ++d) {
    fs::path dir = src / ("d" + std::to_string(d));
    fs::create_directories(dir);
    WriteFile(dir / "0.t", "some text\n");
    for (int f = 1; f < 1000; ++f) fs::create_hard_link(dir / "0.t", dir / (std::to_string(f) + ".t"));
  }
  fs::path zip = testenv::MakeTempDir("out") / "many.zip";
  EngineRunner eng;
  EngineRun r;
  r.archive = zip.string();
  r.specs = {{src.string()}};
  r.recurse = true;
  ASSERT_EQ(eng.Run(r), 66000) << eng.Messages();
  auto d = ReadDir(zip);
  EXPECT_TRUE(d.zip64);
  EXPECT_EQ(d.entries.size(), 66000u);
  Sh("unzip -tq " + testenv::Quote(zip.string()));
  std::string out = Sh("7z t " + testenv::Quote(zip.string()));
  EXPECT_NE(out.find("Files: 66000"), std::string::npos) << out;
}

TEST(ZipEngineAdd, WildcardsRecursionExclusionsHiddenAndStripPaths) {
  fs::path src = testenv::MakeTempDir("src");
  WriteFile(src / "a.txt", "a");
  WriteFile(src / "b.log", "b");
  WriteFile(src / "c1.txt", "c");
  WriteFile(src / ".hidden.txt", "h");
  WriteFile(src / "sub" / "d.txt", "d");
  WriteFile(src / "sub" / "e.log", "e");
  WriteFile(src / "skip" / "f.txt", "f");
  WriteFile(src / ".cache" / "g.txt", "g");
  fs::path out = testenv::MakeTempDir("out");
  EngineRunner eng;

  EngineRun r;
  r.archive = (out / "w.zip").string();
  r.specs = {{"*.txt", src.string()}};
  r.recurse = true;
  r.exclusions = {"skip/*"};
  ASSERT_GT(eng.Run(r), 0) << eng.Messages();
  EXPECT_EQ(Names(r.archive), (std::vector<std::string>{"a.txt", "c1.txt", "sub/d.txt"}));

  // Per-line recursion marker wins over the record; "?" matches one character; hidden files.
  EngineRun m;
  m.archive = (out / "m.zip").string();
  m.specs = {{"c?.txt", src.string()}, {"*", src.string(), std::nullopt, false, true}};
  m.hidden = true;
  m.exclusions = {"*.log", "skip"};
  ASSERT_GT(eng.Run(m), 0) << eng.Messages();
  EXPECT_EQ(Names(m.archive), (std::vector<std::string>{".cache/g.txt", ".hidden.txt", "a.txt", "c1.txt", "sub/d.txt"}));

  // Strip paths; a spec relative to the current folder when there is no root folder.
  EngineRun s;
  s.archive = (out / "s.zip").string();
  s.specs = {{(src / "sub").string()}};
  s.recurse = true;
  s.dirNames = false;
  ASSERT_EQ(eng.Run(s), 2) << eng.Messages();
  EXPECT_EQ(Names(s.archive), (std::vector<std::string>{"d.txt", "e.log"}));

  fs::path cwd = fs::current_path();
  fs::current_path(src);
  EngineRun c;
  c.archive = (out / "c.zip").string();
  c.specs = {{"sub/d.txt"}, {"missing.txt"}};
  EXPECT_EQ(eng.Run(c), 1);
  fs::current_path(cwd);
  EXPECT_EQ(Names(c.archive), (std::vector<std::string>{"sub/d.txt"}));
  auto skipped = eng.Of(kActionSkipped);
  ASSERT_EQ(skipped.size(), 1u);
  EXPECT_EQ(skipped[0].text, "missing.txt");
  EXPECT_NE(skipped[0].value1, 0);
}

TEST(ZipEngineAdd, FromDateAndZipTime) {
  fs::path src = testenv::MakeTempDir("src");
  WriteFile(src / "old.txt", "old");
  WriteFile(src / "new.txt", "new");
  SetMtime(src / "old.txt", 946684800);   // 2000-01-01
  SetMtime(src / "new.txt", 1600000000);  // 2020-09-13
  fs::path zip = testenv::MakeTempDir("out") / "d.zip";
  EngineRunner eng;
  EngineRun r;
  r.archive = zip.string();
  r.specs = {{"*", src.string()}};
  r.fromDate = "06 15 10";
  r.zipTime = true;
  ASSERT_EQ(eng.Run(r), 1) << eng.Messages();
  EXPECT_EQ(Names(zip), (std::vector<std::string>{"new.txt"}));
  struct stat st {};
  ASSERT_EQ(stat(zip.c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 1600000000);
}

TEST(ZipEngineAdd, UnwritableFolderGivesMessageAndNoArchive) {
  fs::path src = MakeTree();
  fs::path out = testenv::MakeTempDir("ro");
  bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(ShStatus("chattr +i " + testenv::Quote(out.string())), 0);
  } else {
    fs::permissions(out, fs::perms::owner_read | fs::perms::owner_exec);
  }
  EngineRunner eng;
  EngineRun r;
  r.archive = (out / "x.zip").string();
  r.specs = {{"*", src.string()}};
  EXPECT_EQ(eng.Run(r), 0);
  auto msgs = eng.Of(kActionMessage);
  ASSERT_FALSE(msgs.empty());
  EXPECT_NE(msgs.back().value1, 0);
  if (root) {
    ShStatus("chattr -i " + testenv::Quote(out.string()));
  } else {
    fs::permissions(out, fs::perms::owner_all);
  }
  EXPECT_TRUE(fs::is_empty(out));
}
