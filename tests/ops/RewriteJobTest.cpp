// Update and delete as one rewrite: items below different roots in one engine run, every item or
// none, the checks before writing (changed, read-only, no room, multi-disk), exact deletion of names
// that look like patterns, and the listing handed back after a rewrite.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "OpsTestUtil.h"
#include "platform/FileSystem.h"

using namespace opstest;
using testenv::Quote;

namespace {

std::string ZipNames(const fs::path& zip) {
  std::string out;
  testenv::Run("zipinfo -1 " + Quote(zip.string()) + " 2>&1", &out);
  return out;
}

class RewriteJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testenv::MakeTempDir("rewrite");
    fs::create_directories(dir_ / "one" / "docs");
    fs::create_directories(dir_ / "two" / "pics");
    testenv::WriteFile(dir_ / "one" / "docs" / "a.txt", "alpha");
    testenv::WriteFile(dir_ / "two" / "pics" / "b.bin", testenv::RandomBytes(70000, 3));
    testenv::WriteFile(dir_ / "old.txt", "old entry");
    std::string out;
    ASSERT_EQ(testenv::Run("cd " + Quote(dir_.string()) + " && zip -q base.zip old.txt 2>&1", &out), 0) << out;
    zip_ = dir_ / "base.zip";
  }
  void TearDown() override { testenv::SetFreeSpace(""); }

  TUpdateParams Update(std::vector<TSourceItem> items) {
    TUpdateParams p;
    p.Archive = zip_.string();
    p.Items = std::move(items);
    p.AllOrNothing = true;
    p.Expected = FileStampOf(zip_.string());
    return p;
  }
  // The two files below different roots, stored as "docs/a.txt" and "pics/b.bin".
  std::vector<TSourceItem> TwoRoots() const {
    return {{(dir_ / "one/docs/a.txt").string(), "docs/a.txt"}, {(dir_ / "two/pics/b.bin").string(), "pics/b.bin"}};
  }

  fs::path dir_, zip_;
};

}  // namespace

TEST_F(RewriteJobTest, ItemsBelowDifferentRootsInOneRewrite) {
  TUpdateJob job(Update(TwoRoots()));
  std::vector<std::string> listed;
  job.OnEntry = [&](const TArchiveEntry& e) { listed.push_back(e.Name); };
  const TJobResult r = job.Run();
  ASSERT_TRUE(r.Status.IsOk()) << Why(r);
  EXPECT_EQ(r.Counts.Files, 2);
  EXPECT_EQ(testenv::SortedLines(ZipNames(zip_)), (std::vector<std::string>{"docs/a.txt", "old.txt", "pics/b.bin"}));
  EXPECT_EQ(testenv::Run("unzip -tq " + Quote(zip_.string()) + " >/dev/null"), 0);
  // The listing after the rewrite is the archive as it now stands, in its order.
  EXPECT_EQ(listed, (std::vector<std::string>{"old.txt", "docs/a.txt", "pics/b.bin"}));
  EXPECT_EQ(job.Stamp(), FileStampOf(zip_.string()));
  EXPECT_FALSE(job.ArchiveChanged());
}

TEST_F(RewriteJobTest, FailuresLeaveTheArchiveByteIdentical) {
  // Each case breaks one run; the archive must be exactly as before and say why.
  ASSERT_EQ(::mkfifo((dir_ / "two/pipe").c_str(), 0644), 0);
  struct Case {
    const char* name;
    std::function<void(TUpdateParams&)> arrange;
    TStatusCode code;
    bool changed;
  };
  const std::string nowhere = (dir_ / "gone.txt").string();
  const std::vector<Case> cases = {
      {"a file that is not there", [&](TUpdateParams& p) { p.Items.push_back({nowhere, "gone.txt"}); },
       TStatusCode::NotFound, false},
      // Not a regular file: the engine itself refuses it half-way, after the first file was taken.
      {"a second file the engine cannot read",
       [&](TUpdateParams& p) { p.Items.push_back({(dir_ / "two/pipe").string(), "pipe"}); }, TStatusCode::Unreadable,
       false},
      {"no room for the new copy",
       [](TUpdateParams&) { testenv::SetFreeSpace(int64_t{1000}); },
       TStatusCode::NoSpace, false},
      {"the archive changed since it was listed",
       [&](TUpdateParams& p) { p.Expected.Size += 1; }, TStatusCode::Failed, true},
      {"a read-only archive", [&](TUpdateParams&) { fs::permissions(zip_, fs::perms(0444)); },
       TStatusCode::WriteFailed, false},
      {"a read-only folder", [&](TUpdateParams&) { fs::permissions(dir_, fs::perms(0555)); },
       TStatusCode::WriteFailed, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string before = testenv::ReadFile(zip_);
    const std::vector<std::string> tree = testenv::ListTree(dir_);
    TUpdateParams p = Update(TwoRoots());
    c.arrange(p);
    TUpdateJob job(p);
    bool listed = false;
    job.OnEntry = [&](const TArchiveEntry&) { listed = true; };
    const TJobResult r = job.Run();
    fs::permissions(dir_, fs::perms(0755));
    fs::permissions(zip_, fs::perms(0644));
    testenv::SetFreeSpace("");
    EXPECT_EQ(r.Status.Code(), c.code) << Why(r);
    EXPECT_EQ(job.ArchiveChanged(), c.changed);
    EXPECT_FALSE(listed) << "no listing after a failed run";
    EXPECT_EQ(testenv::ReadFile(zip_), before);
    EXPECT_EQ(testenv::ListTree(dir_), tree) << "nothing left beside the archive";
  }
}

TEST_F(RewriteJobTest, ReplacedEntryKeepsItsPlace) {
  testenv::WriteFile(dir_ / "new" / "old.txt", "replacement");
  TUpdateJob job(Update({{(dir_ / "new/old.txt").string(), "old.txt"}, {(dir_ / "one/docs/a.txt").string(), "docs/a.txt"}}));
  ASSERT_TRUE(job.Run().Status.IsOk());
  EXPECT_EQ(testenv::SortedLines(ZipNames(zip_)), (std::vector<std::string>{"docs/a.txt", "old.txt"}));
  std::string data;
  testenv::Run("unzip -p " + Quote(zip_.string()) + " old.txt", &data);
  EXPECT_EQ(data, "replacement");
}

TEST_F(RewriteJobTest, NamesThatLookLikePatternsAreTakenAsWritten) {
  // Linux names may hold "*" and "?": adding one adds that file only, deleting it deletes it only.
  fs::create_directories(dir_ / "w");
  for (const char* n : {"a*.txt", "ab.txt", "a?.txt", "ax.txt"}) testenv::WriteFile(dir_ / "w" / n, n);
  TUpdateJob one(Update({{(dir_ / "w/a*.txt").string(), "w/a*.txt"}}));
  ASSERT_TRUE(one.Run().Status.IsOk());
  EXPECT_EQ(Sorted(Names(List(zip_))), (std::vector<std::string>{"old.txt", "w/a*.txt"}));
  TUpdateJob add(Update({{(dir_ / "w/ab.txt").string(), "w/ab.txt"}, {(dir_ / "w/a?.txt").string(), "w/a?.txt"},
                         {(dir_ / "w/ax.txt").string(), "w/ax.txt"}}));
  ASSERT_TRUE(add.Run().Status.IsOk());
  EXPECT_EQ(List(zip_).size(), 5u);

  const struct {
    std::vector<std::string> remove;
    std::vector<std::string> left;
  } cases[] = {
      {{"w/a*.txt"}, {"old.txt", "w/a?.txt", "w/ab.txt", "w/ax.txt"}},
      {{"w/a?.txt"}, {"old.txt", "w/ab.txt", "w/ax.txt"}},
      {{"w/ab.txt"}, {"old.txt", "w/ax.txt"}},
  };
  for (const auto& c : cases) {
    TDeleteParams p;
    p.Archive = zip_.string();
    for (const TArchiveEntry& e : List(zip_))
      if (std::find(c.remove.begin(), c.remove.end(), e.Name) != c.remove.end()) p.Selection.Ids.push_back(e.Id);
    ASSERT_EQ(p.Selection.Ids.size(), c.remove.size());
    const TJobResult r = TDeleteJob(p).Run();
    ASSERT_TRUE(r.Status.IsOk()) << Why(r);
    EXPECT_EQ(Sorted(Names(List(zip_))), c.left);
  }
}

TEST_F(RewriteJobTest, DeleteChecksAndListsLikeUpdate) {
  TDeleteParams p;
  p.Archive = zip_.string();
  p.Selection.Ids = {0};
  p.Expected = FileStampOf(zip_.string());
  p.Expected.MTimeNs -= 1000000000;
  const std::string before = testenv::ReadFile(zip_);
  TDeleteJob stale(p);
  EXPECT_TRUE(stale.Run().Status.Failed());
  EXPECT_TRUE(stale.ArchiveChanged());
  EXPECT_EQ(testenv::ReadFile(zip_), before);

  // Everything deleted: an empty archive, listed as such.
  p.Expected = FileStampOf(zip_.string());
  TDeleteJob all(p);
  int listed = 0;
  all.OnEntry = [&](const TArchiveEntry&) { ++listed; };
  ASSERT_TRUE(all.Run().Status.IsOk());
  EXPECT_EQ(listed, 0);
  EXPECT_TRUE(List(zip_).empty());
}

TEST_F(RewriteJobTest, MultiDiskArchiveIsRefused) {
  // A set of numbered parts made by Info-ZIP: neither adding nor deleting touches any part.
  testenv::WriteFile(dir_ / "big.bin", testenv::RandomBytes(200000, 9));
  std::string out;
  ASSERT_EQ(testenv::Run("cd " + Quote(dir_.string()) + " && zip -q -s 64k set.zip big.bin 2>&1", &out), 0) << out;
  const fs::path last = dir_ / "set.zip";
  const std::string before = testenv::ReadFile(last);
  TUpdateParams up;
  up.Archive = last.string();
  up.Items = {{(dir_ / "old.txt").string(), "old.txt"}};
  const TJobResult u = TUpdateJob(up).Run();
  EXPECT_EQ(u.Status.Code(), TStatusCode::Unsupported) << Why(u);
  EXPECT_EQ(u.Status.Message(), "Delete files from archive not implemented for a spanned zip file");
  TDeleteParams dp;
  dp.Archive = last.string();
  dp.Selection.Ids = {0};
  const TJobResult d = TDeleteJob(dp).Run();
  EXPECT_EQ(d.Status.Code(), TStatusCode::Unsupported) << Why(d);
  EXPECT_EQ(testenv::ReadFile(last), before);
}
