// Options and the callback conversation: test mode, overwrite/freshen/update, specifications,
// folder names, the order of callbacks and stopping.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "HostileZip.h"
#include "TestEnv.h"
#include "UnzengHarness.h"
#include "zip/ZipStructs.h"

namespace fs = std::filesystem;
using namespace unzengtest;
using testenv::Quote;

namespace {

// Source tree with fixed times, zipped by Info-ZIP.
struct TArchive {
  fs::path root = testenv::MakeTempDir("arch");
  fs::path src = root / "src";
  fs::path zip = root / "a.zip";
  TArchive() {
    MakeMixedTree(src);
    testenv::WriteFile(src / "x.bin", "x");
    Sh("cd " + Quote(src.string()) + " && find . -exec touch -h -d '2024-03-04 05:06:07' {} + && zip -qry " +
       Quote(zip.string()) + " .");
  }
};

TRun Make(const TArchive& a, const fs::path& dest) {
  TRun run;
  run.archive = a.zip.string();
  run.dest = dest;
  return run;
}

void SetTime(const fs::path& p, const char* when) { Sh("touch -d '" + std::string(when) + "' " + Quote(p.string())); }

}  // namespace

TEST(UnzengBehaviour, TestModeWritesNothing) {
  TArchive a;
  fs::path dest = a.root / "never";
  TRun run = Make(a, dest);
  run.test = true;
  EXPECT_EQ(Execute(run), 7) << run.Dump();
  EXPECT_TRUE(run.Errors().empty()) << run.Dump();
  EXPECT_FALSE(fs::exists(dest));

  THostileZip z;  // a damaged entry is reported in test mode too
  THostileEntry bad;
  bad.name = "bad.txt";
  bad.plain = "data";
  bad.crc = 1;
  z.entries.push_back(bad);
  testenv::WriteFile(a.root / "bad.zip", z.Build());
  TRun t;
  t.archive = (a.root / "bad.zip").string();
  t.dest = dest;
  t.test = true;
  EXPECT_EQ(Execute(t), 0);
  EXPECT_TRUE(t.HasError(2, "bad.txt")) << t.Dump();
  EXPECT_FALSE(fs::exists(dest));
}

TEST(UnzengBehaviour, OverwriteQuestionAndAnswers) {
  TArchive a;
  fs::path dest = testenv::MakeTempDir("ow");
  testenv::WriteFile(dest / "x.bin", "old");
  SetTime(dest / "x.bin", "2030-01-01");  // newer than the archive copy
  {
    TRun run = Make(a, dest);  // no overwrite, no answer: the proposal (skip) stands
    run.specs = {"x.bin"};
    EXPECT_EQ(Execute(run), 0);
    auto q = run.Of(kActionOverwrite);
    ASSERT_EQ(q.size(), 1u) << run.Dump();
    EXPECT_EQ(q[0].text, "x.bin");
    EXPECT_EQ(q[0].value2 & 0xFF, 0);
    EXPECT_TRUE(q[0].value1 & kOverwriteIsOlder);
    EXPECT_EQ(testenv::ReadFile(dest / "x.bin"), "old");
    EXPECT_EQ(run.Of(kActionSkipped).size(), 1u);
  }
  {
    TRun run = Make(a, dest);  // the answer "yes" wins over the proposal
    run.specs = {"x.bin"};
    run.overwriteAnswers = {1};
    EXPECT_EQ(Execute(run), 1);
    EXPECT_EQ(testenv::ReadFile(dest / "x.bin"), "x");
  }
  {
    testenv::WriteFile(dest / "x.bin", "old");
    SetTime(dest / "x.bin", "2001-01-01");
    TRun run = Make(a, dest);  // overwrite proposed, file on disk older
    run.specs = {"x.bin"};
    run.overwrite = true;
    EXPECT_EQ(Execute(run), 1);
    auto q = run.Of(kActionOverwrite);
    ASSERT_EQ(q.size(), 1u);
    EXPECT_EQ(q[0].value2 & 0xFF, 1);
    EXPECT_FALSE(q[0].value1 & kOverwriteIsOlder);
    EXPECT_EQ(testenv::ReadFile(dest / "x.bin"), "x");
  }
}

TEST(UnzengBehaviour, FreshenAndUpdate) {
  TArchive a;
  fs::path dest = testenv::MakeTempDir("fresh");
  testenv::WriteFile(dest / "x.bin", "older on disk");
  SetTime(dest / "x.bin", "2001-01-01");
  testenv::WriteFile(dest / "empty.txt", "newer on disk");
  SetTime(dest / "empty.txt", "2030-01-01");
  {
    TRun run = Make(a, dest);
    run.freshen = true;
    EXPECT_EQ(Execute(run), 1) << run.Dump();
    EXPECT_EQ(testenv::ReadFile(dest / "x.bin"), "x");
    EXPECT_EQ(testenv::ReadFile(dest / "empty.txt"), "newer on disk");
    EXPECT_FALSE(fs::exists(dest / "random.bin")) << "freshen creates nothing new";
  }
  testenv::WriteFile(dest / "x.bin", "older on disk");
  SetTime(dest / "x.bin", "2001-01-01");
  {
    TRun run = Make(a, dest);
    run.update = true;
    EXPECT_EQ(Execute(run), 6) << run.Dump();
    EXPECT_EQ(testenv::ReadFile(dest / "x.bin"), "x");
    EXPECT_EQ(testenv::ReadFile(dest / "empty.txt"), "newer on disk");
    EXPECT_TRUE(fs::exists(dest / "random.bin"));
    EXPECT_TRUE(fs::exists(dest / "sub/deep/b.dat"));
  }
}

TEST(UnzengBehaviour, SpecificationsAndFolderNames) {
  TArchive a;
  {
    TRun run = Make(a, testenv::MakeTempDir("spec"));
    run.specs = {"sub/*.txt", "?.bin", "sub\\deep\\b.dat", "/random.bin", "missing.txt"};
    EXPECT_EQ(Execute(run), 4) << run.Dump();
    EXPECT_EQ(Tree(run.dest),
              (std::vector<std::string>{"random.bin", "sub/", "sub/a.txt", "sub/deep/", "sub/deep/b.dat", "x.bin"}));
    EXPECT_TRUE(run.HasError(11, "missing.txt")) << run.Dump();
  }
  {
    TRun run = Make(a, testenv::MakeTempDir("flat"));
    run.dirNames = false;
    EXPECT_EQ(Execute(run), 7) << run.Dump();
    auto tree = Tree(run.dest);
    EXPECT_EQ(tree.size(), 7u);
    for (const auto& t : tree) EXPECT_EQ(t.find('/'), std::string::npos) << t;
  }
}

TEST(UnzengBehaviour, CallbacksComeInArchiveOrder) {
  fs::path root = testenv::MakeTempDir("order");
  fs::path src = root / "src";
  fs::create_directories(src);
  std::vector<std::string> names;
  for (int i = 0; i < 300; ++i) {
    char n[32];
    std::snprintf(n, sizeof n, "f%03d.txt", i);
    names.push_back(n);
    testenv::WriteFile(src / n, testenv::RandomBytes(size_t(i) * 997 % 60000, uint32_t(i), i % 2 == 0));
  }
  Sh("cd " + Quote(src.string()) + " && zip -q " + Quote((root / "o.zip").string()) + " f*.txt");
  TRun run;
  run.archive = (root / "o.zip").string();
  run.dest = root / "out";
  EXPECT_EQ(Execute(run), 300);
  ASSERT_GE(run.calls.size(), 3u);
  EXPECT_EQ(run.calls.front().action, kActionTotalFiles);
  EXPECT_EQ(run.calls.front().value2, 300);
  EXPECT_EQ(run.calls[1].action, kActionTotalSize);
  EXPECT_EQ(run.calls.back().action, kActionEndBatch);
  std::vector<std::string> order;
  int64_t pending = 0;
  for (const auto& c : run.calls) {
    if (c.action == kActionNewFile) {
      EXPECT_EQ(pending, 0) << "progress of the previous file incomplete before " << c.text;
      order.push_back(c.text);
      pending = c.value2;
    } else if (c.action == kActionProgress) {
      pending -= c.value2;
    }
  }
  EXPECT_EQ(order, names);
  ExpectSameTree(src, run.dest);
}

TEST(UnzengBehaviour, StopAnswerEndsTheRun) {
  TArchive a;
  TRun run = Make(a, testenv::MakeTempDir("stop"));
  run.stopAtNewFile = 1;
  int n = Execute(run);
  EXPECT_EQ(run.Of(kActionNewFile).size(), 2u) << run.Dump();
  EXPECT_EQ(run.calls.back().action, kActionEndBatch);
  // The count is what the stopped run left on disk: the workers may have finished files ahead of the
  // reports, and those are there under their names.
  int onDisk = 0;
  for (const auto& e : fs::recursive_directory_iterator(run.dest))
    if (fs::is_regular_file(e.symlink_status())) ++onDisk;
  EXPECT_EQ(n, onDisk);
}
