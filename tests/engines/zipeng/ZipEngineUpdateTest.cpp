// Changing existing archives through libzipeng.so: freshen, update, move, delete, comments, and
// the safe rewrite (cancel, damaged archives, entries copied without recompressing).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "EngineRunner.h"
#include "TestEnv.h"
#include "formats/ZipDirectory.h"

namespace fs = std::filesystem;
using testenv::WriteFile;

namespace {

struct Listing {
  std::vector<std::string> names;
  std::map<std::string, std::string> raw;  // name -> compressed bytes
  std::string comment;
};

Listing List(const fs::path& zip) {
  Listing l;
  TArchiveFile f;
  zipfmt::CentralDirectory d;
  std::string err;
  EXPECT_TRUE(f.Open(zip.string(), err)) << err;
  EXPECT_TRUE(zipfmt::ReadCentralDirectory(f, d, err)) << err;
  l.comment = d.comment;
  for (const auto& e : d.entries) {
    l.names.push_back(e.name);
    zipfmt::LocalInfo li;
    EXPECT_TRUE(zipfmt::LocateEntryData(f, d, e, li, err)) << err;
    std::string bytes(li.dataEnd - li.dataStart, '\0');
    EXPECT_TRUE(f.ReadAt(li.dataStart, bytes.data(), bytes.size()));
    l.raw[e.name] = bytes;
  }
  return l;
}

struct Fixture {
  fs::path src = testenv::MakeTempDir("src");
  fs::path zip = testenv::MakeTempDir("out") / "arch.zip";
  EngineRunner eng;
  Fixture() {
    WriteFile(src / "a.txt", testenv::RandomBytes(40000, 11, true));
    WriteFile(src / "b.txt", testenv::RandomBytes(40000, 12, true));
    WriteFile(src / "dir" / "c.txt", testenv::RandomBytes(40000, 13, true));
    for (const char* n : {"a.txt", "b.txt", "dir/c.txt"}) SetMtime(src / n, 1500000000);
    EngineRun r = Base();
    r.recurse = true;
    r.comment = "kept comment";
    EXPECT_EQ(eng.Run(r), 3) << eng.Messages();
  }
  EngineRun Base() {
    EngineRun r;
    r.archive = zip.string();
    r.specs = {{"*", src.string()}};
    return r;
  }
};

}  // namespace

TEST(ZipEngineUpdate, FreshenAndUpdateReplaceOnlyNewerAndCopyTheRest) {
  Fixture fx;
  Listing before = List(fx.zip);
  EXPECT_EQ(before.comment, "kept comment");
  WriteFile(fx.src / "a.txt", "changed a\n");
  SetMtime(fx.src / "a.txt", 1600000000);
  WriteFile(fx.src / "new.txt", "brand new\n");
  WriteFile(fx.src / "b.txt", "older content must not win\n");
  SetMtime(fx.src / "b.txt", 1400000000);

  EngineRun f = fx.Base();
  f.freshen = true;
  EXPECT_EQ(fx.eng.Run(f), 1) << fx.eng.Messages();
  Listing fresh = List(fx.zip);
  EXPECT_EQ(fresh.names, (std::vector<std::string>{"a.txt", "b.txt", "dir/c.txt"}));
  EXPECT_EQ(fresh.raw["b.txt"], before.raw["b.txt"]);  // copied, not recompressed
  EXPECT_EQ(fresh.raw["dir/c.txt"], before.raw["dir/c.txt"]);
  EXPECT_EQ(fresh.comment, "kept comment");
  EXPECT_EQ(Sh("unzip -p " + testenv::Quote(fx.zip.string()) + " a.txt"), "changed a\n");

  EngineRun u = fx.Base();
  u.update = true;
  u.freshen = true;  // update wins
  EXPECT_EQ(fx.eng.Run(u), 1) << fx.eng.Messages();
  Listing upd = List(fx.zip);
  EXPECT_EQ(upd.names, (std::vector<std::string>{"a.txt", "b.txt", "dir/c.txt", "new.txt"}));
  EXPECT_EQ(upd.raw["b.txt"], before.raw["b.txt"]);

  // Plain add replaces regardless of dates, in place.
  EngineRun plain = fx.Base();
  EXPECT_EQ(fx.eng.Run(plain), 3) << fx.eng.Messages();
  EXPECT_EQ(Sh("unzip -p " + testenv::Quote(fx.zip.string()) + " b.txt"), "older content must not win\n");
  Sh("unzip -tq " + testenv::Quote(fx.zip.string()));
  Sh("7z t " + testenv::Quote(fx.zip.string()));
}

TEST(ZipEngineUpdate, CommentFromRecordIsWritten) {
  Fixture fx;
  EngineRun r = fx.Base();
  r.specs = {{"a.txt", fx.src.string()}};
  r.comment = "new tag";
  ASSERT_EQ(fx.eng.Run(r), 1);
  EXPECT_EQ(List(fx.zip).comment, "new tag");
}

TEST(ZipEngineUpdate, MoveDeletesSourcesOnlyAfterSuccess) {
  Fixture fx;
  fs::path mv = testenv::MakeTempDir("mv");
  WriteFile(mv / "m1.txt", "m1");
  WriteFile(mv / "inner" / "m2.txt", "m2");
  EngineRun r = fx.Base();
  r.specs = {{"*", mv.string()}};
  r.recurse = true;
  r.move = true;
  ASSERT_EQ(fx.eng.Run(r), 2) << fx.eng.Messages();
  EXPECT_FALSE(fs::exists(mv / "m1.txt"));
  EXPECT_FALSE(fs::exists(mv / "inner"));
  EXPECT_EQ(Sh("unzip -p " + testenv::Quote(fx.zip.string()) + " inner/m2.txt"), "m2");

  // With undo allowed the moved file goes to the trash of the (test) home folder.
  WriteFile(mv / "t1.txt", "t1");
  EngineRun t = r;
  t.trash = true;
  ASSERT_EQ(fx.eng.Run(t), 1) << fx.eng.Messages();
  EXPECT_FALSE(fs::exists(mv / "t1.txt"));
  const char* xdg = std::getenv("XDG_DATA_HOME");
  ASSERT_NE(xdg, nullptr);
  EXPECT_EQ(testenv::ReadFile(fs::path(xdg) / "Trash" / "files" / "t1.txt"), "t1");
  EXPECT_NE(testenv::ReadFile(fs::path(xdg) / "Trash" / "info" / "t1.txt.trashinfo").find("Path=" + (mv / "t1.txt").string()),
            std::string::npos);

  // A failing run (the archive is damaged) deletes nothing.
  WriteFile(mv / "m3.txt", "m3");
  fs::path bad = fx.zip.parent_path() / "bad.zip";
  WriteFile(bad, "PK\x03\x04 this is not really a zip archive");
  EngineRun b = r;
  b.archive = bad.string();
  EXPECT_EQ(fx.eng.Run(b), 0);
  EXPECT_TRUE(fs::exists(mv / "m3.txt"));
  EXPECT_EQ(fx.eng.Of(kActionMessage).back().value1, 3);
  EXPECT_EQ(testenv::ReadFile(bad), "PK\x03\x04 this is not really a zip archive");
}

TEST(ZipEngineUpdate, DeleteMatchesStoredNamesAndKeepsExclusions) {
  Fixture fx;
  Listing before = List(fx.zip);
  EngineRun d;
  d.deleteOp = true;
  d.archive = fx.zip.string();
  d.specs = {{"\\dir\\c.txt"}, {"/?.txt"}};
  d.exclusions = {"b.txt"};
  EXPECT_EQ(fx.eng.Run(d), 2) << fx.eng.Messages();
  Listing after = List(fx.zip);
  EXPECT_EQ(after.names, (std::vector<std::string>{"b.txt"}));
  EXPECT_EQ(after.raw["b.txt"], before.raw["b.txt"]);
  EXPECT_EQ(after.comment, "kept comment");
  Sh("unzip -tq " + testenv::Quote(fx.zip.string()));

  // Nothing matches: no change, a message with a code, result 0.
  std::string bytes = testenv::ReadFile(fx.zip);
  d.specs = {{"*.none"}};
  d.exclusions.clear();
  EXPECT_EQ(fx.eng.Run(d), 0);
  EXPECT_NE(fx.eng.Of(kActionMessage).back().value1, 0);
  EXPECT_EQ(testenv::ReadFile(fx.zip), bytes);

  // Deleting everything leaves a valid empty archive.
  d.specs = {{"*"}};
  EXPECT_EQ(fx.eng.Run(d), 1);
  EXPECT_TRUE(List(fx.zip).names.empty());
}

TEST(ZipEngineUpdate, CancelLeavesArchiveIdenticalAndNoTemporaryFile) {
  Fixture fx;
  for (int i = 0; i < 20; ++i) WriteFile(fx.src / "more" / ("f" + std::to_string(i) + ".txt"), testenv::RandomBytes(20000, 100 + i, true));
  std::string bytes = testenv::ReadFile(fx.zip);
  auto folderBefore = testenv::ListTree(fx.zip.parent_path());
  for (int cancelAt : {1, 10, 23}) {
    int seen = 0;
    fx.eng.answer = [&](CallbackRecord& rec) {
      if (rec.ActionCode == kActionNewFile && ++seen == cancelAt) return kCallbackStop;
      return kCallbackContinue;
    };
    EngineRun r = fx.Base();
    r.recurse = true;
    EXPECT_EQ(fx.eng.Run(r), 0);
    EXPECT_EQ(testenv::ReadFile(fx.zip), bytes) << cancelAt;
    EXPECT_EQ(testenv::ListTree(fx.zip.parent_path()), folderBefore) << cancelAt;
    EXPECT_EQ(fx.eng.events.back().action, kActionEndBatch);
  }
}

TEST(ZipEngineUpdate, AddingToInfoZipArchiveKeepsItsEntriesAndExtraFields) {
  fs::path src = testenv::MakeTempDir("src");
  WriteFile(src / "z1.txt", testenv::RandomBytes(10000, 21, true));
  WriteFile(src / "z2.bin", testenv::RandomBytes(10000, 22));
  fs::path zip = testenv::MakeTempDir("out") / "info.zip";
  Sh("cd " + testenv::Quote(src.string()) + " && echo 'zip comment' | zip -q -z " + testenv::Quote(zip.string()) +
     " z1.txt z2.bin");
  std::string extraBefore;
  {
    TArchiveFile f;
    zipfmt::CentralDirectory d;
    std::string err;
    ASSERT_TRUE(f.Open(zip.string(), err));
    ASSERT_TRUE(zipfmt::ReadCentralDirectory(f, d, err));
    extraBefore = d.entries[0].extra;
  }
  Listing before = List(zip);
  WriteFile(src / "z3.txt", "third");
  EngineRunner eng;
  EngineRun r;
  r.archive = zip.string();
  r.specs = {{"z3.txt", src.string()}};
  ASSERT_EQ(eng.Run(r), 1) << eng.Messages();
  Listing after = List(zip);
  EXPECT_EQ(after.names, (std::vector<std::string>{"z1.txt", "z2.bin", "z3.txt"}));
  EXPECT_EQ(after.raw["z1.txt"], before.raw["z1.txt"]);
  EXPECT_EQ(after.comment, before.comment);
  TArchiveFile f;
  zipfmt::CentralDirectory d;
  std::string err;
  ASSERT_TRUE(f.Open(zip.string(), err));
  ASSERT_TRUE(zipfmt::ReadCentralDirectory(f, d, err));
  EXPECT_EQ(d.entries[0].extra, extraBefore);
  fs::path x = testenv::MakeTempDir("x");
  Sh("unzip -q " + testenv::Quote(zip.string()) + " -d " + testenv::Quote(x.string()));
  EXPECT_EQ(testenv::ListTree(x), testenv::ListTree(src));
  Sh("7z t " + testenv::Quote(zip.string()));
}

TEST(ZipEngineUpdate, ArchiveInsideTheSourceFolderIsNotAddedToItself) {
  fs::path src = testenv::MakeTempDir("self");
  WriteFile(src / "a.txt", "a");
  EngineRunner eng;
  EngineRun r;
  r.archive = (src / "self.zip").string();
  r.specs = {{"*", src.string()}};
  ASSERT_EQ(eng.Run(r), 1) << eng.Messages();
  WriteFile(src / "b.txt", "b");
  ASSERT_EQ(eng.Run(r), 2) << eng.Messages();
  EXPECT_EQ(List(r.archive).names, (std::vector<std::string>{"a.txt", "b.txt"}));
  EXPECT_EQ(testenv::ListTree(src), (std::vector<std::string>{"a.txt", "b.txt", "self.zip"}));
}
