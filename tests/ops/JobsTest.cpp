// The jobs' questions answered through the prompt service by script, cancel, testing that writes
// nothing, creation that leaves nothing behind, update and delete.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "OpsTestUtil.h"
#include "RarWriter.h"
#include "ScriptedPrompt.h"
#include "platform/FileSystem.h"
#include "zip/ZipKit.h"

using namespace opstest;
using testenv::Quote;

namespace {

void PythonZip(const fs::path& zip, const std::vector<std::pair<std::string, std::string>>& entries) {
  ASSERT_TRUE(testenv::PythonZip(zip, entries));
}

class JobsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testenv::MakeTempDir("jobs");
    src_ = MakeTree(dir_);
  }
  fs::path Make(const std::string& name) {
    TCreateParams p;
    p.Target = (dir_ / name).string();
    p.Items = {{src_.string(), "src", true}};
    const TJobResult r = TCreateJob(p).Run();
    EXPECT_TRUE(r.Status.IsOk()) << Why(r);
    return dir_ / name;
  }
  fs::path dir_, src_;
};

}  // namespace

TEST_F(JobsTest, OverwriteQuestionsThroughThePromptService) {
  for (const char* name : {"q.zip", "q.tar", "q.tar.gz"}) {
    const fs::path archive = Make(name);
    const fs::path out = dir_ / (std::string("out-") + name);
    ASSERT_TRUE(Extract(archive, out).Status.IsOk());
    for (const char* f : {"src/a.txt", "src/sub/b.bin", "src/sub/Grüße.txt", "src/sub/deeper/empty.txt"})
      testenv::WriteFile(out / f, "mine");
    // No for the first, Yes to All for the rest: one question less than there are files.
    TScriptedPrompt prompt;
    prompt.QueueAnswer(TPromptAnswer::No);
    prompt.QueueAnswer(TPromptAnswer::YesToAll);
    const TJobResult r = Extract(archive, out);
    EXPECT_TRUE(r.Status.Succeeded()) << name << " " << Why(r);
    const std::vector<std::string> asked = prompt.Texts();
    ASSERT_EQ(asked.size(), 2u) << name;
    EXPECT_NE(asked[0].find("REPLACE THE FILE"), std::string::npos);
    int kept = 0;
    for (const char* f : {"src/a.txt", "src/sub/b.bin", "src/sub/Grüße.txt", "src/sub/deeper/empty.txt"})
      kept += testenv::ReadFile(out / f) == "mine";
    EXPECT_EQ(kept, 1) << name;
    // Never: nothing asked, nothing replaced.
    prompt.Clear();
    testenv::WriteFile(out / "src/a.txt", "mine again");
    ASSERT_TRUE(Extract(archive, out, {}, TOverwriteMode::Never).Status.Succeeded());
    EXPECT_TRUE(prompt.Texts().empty());
    EXPECT_EQ(testenv::ReadFile(out / "src/a.txt"), "mine again");
    // Cancel (Escape, closing the question) keeps the file and ends the run, without a message.
    prompt.QueueAnswer(TPromptAnswer::Cancel);
    TExtractParams p;
    p.Archive = archive.string();
    p.Destination = out.string();
    TExtractJob job(p);
    std::vector<std::string> messages;
    job.OnMessage = [&](const TStatus& s) { messages.push_back(s.Message()); };
    const TJobResult c = job.Run();
    EXPECT_TRUE(c.Status.IsCancelled()) << name << " " << Why(c);
    EXPECT_EQ(prompt.Texts().size(), 1u) << name << ": no question after Cancel";
    EXPECT_EQ(messages, std::vector<std::string>{}) << name << ": a cancel the user asked for is quiet";
    EXPECT_EQ(testenv::ReadFile(out / "src/a.txt"), "mine again");
  }
}

TEST_F(JobsTest, PasswordAskedOnceAndKept) {
  ASSERT_EQ(testenv::Run("cd " + Quote(dir_.string()) + " && zip -qr -P s3cret enc.zip src"), 0);
  TScriptedPrompt prompt;
  prompt.QueueText("s3cret");
  const TJobResult r = Extract(dir_ / "enc.zip", dir_ / "out");
  ASSERT_TRUE(r.Status.IsOk()) << Why(r);
  EXPECT_TRUE(SameTree(src_, dir_ / "out/src"));
  int asked = 0;
  for (const auto& h : prompt.History()) asked += h.kind == "text";
  EXPECT_EQ(asked, 1);
  // Cancelled: nothing extracted, a failure.
  prompt.Clear();
  prompt.QueueText("\x18");
  const TJobResult c = Extract(dir_ / "enc.zip", dir_ / "none");
  EXPECT_TRUE(c.Status.Failed());
  EXPECT_FALSE(fs::exists(dir_ / "none/src/a.txt"));
  EXPECT_FALSE(fs::exists(dir_ / "none/src/sub/b.bin"));
  // Given in the parameters: never asked.
  prompt.Clear();
  TTestParams tp;
  tp.Archive = (dir_ / "enc.zip").string();
  tp.Password = "s3cret";
  EXPECT_TRUE(TTestJob(tp).Run().Status.IsOk());
  EXPECT_TRUE(prompt.History().empty());
}

TEST_F(JobsTest, PasswordWindowAnswers) {
  // Six encrypted files under d/ (with their folder entries) and one plain file.
  const fs::path work = testenv::MakeTempDir("pw");
  for (int i = 0; i < 3; ++i) {
    testenv::WriteFile(work / "d" / ("f" + std::to_string(i) + ".txt"), "file " + std::to_string(i));
    testenv::WriteFile(work / "d/sub" / ("g" + std::to_string(i) + ".txt"), "sub " + std::to_string(i));
  }
  testenv::WriteFile(work / "plain.txt", "plain");
  ASSERT_EQ(testenv::Run("cd " + Quote(work.string()) + " && zip -qr -P s3cret enc.zip d && zip -q enc.zip plain.txt"),
            0);
  struct Case {
    const char* what;
    std::vector<std::string> typed;
    size_t asked;
    const char* message;  // the one message of the run; empty: none
    bool cancelled;
    std::vector<std::string> tree;
  };
  const std::string k = TScriptedPrompt::kCancel, all = TScriptedPrompt::kCancelAll, abort = TScriptedPrompt::kAbort;
  const std::vector<std::string> everything{"d/", "d/f0.txt", "d/f1.txt", "d/f2.txt", "d/sub/", "d/sub/g0.txt",
                                            "d/sub/g1.txt", "d/sub/g2.txt", "plain.txt"};
  const std::vector<Case> cases{
      {"wrong every time: asked once per entry", std::vector<std::string>(6, "bad"), 6,
       "6 encrypted files were not extracted: no password or a wrong password", false, {"plain.txt"}},
      {"Cancel all", {all}, 1, "6 encrypted files were not extracted: no password or a wrong password", false,
       {"plain.txt"}},
      {"Cancel skips one entry only", {k, "s3cret"}, 2,
       "1 encrypted file was not extracted: no password or a wrong password", false, {}},
      {"Abort ends the run quietly", {abort}, 1, "", true, {}},
      {"right password: asked once", {"s3cret"}, 1, "", false, everything},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path out = testenv::MakeTempDir("pwout");
    TScriptedPrompt prompt;
    for (const std::string& t : c.typed) prompt.QueueText(t);
    TExtractParams p;
    p.Archive = (work / "enc.zip").string();
    p.Destination = out.string();
    TExtractJob job(p);
    std::vector<std::string> messages;
    job.OnMessage = [&](const TStatus& s) { messages.push_back(s.Message()); };
    const TJobResult r = job.Run();
    size_t asked = 0;
    for (const auto& h : prompt.History()) {
      if (h.kind != "text") continue;
      ++asked;
      EXPECT_EQ(h.caption, "Password");
      EXPECT_EQ(h.text, "Enter Password ");
      EXPECT_EQ(h.buttons, "Ok|Cancel|Cancel all|Abort");
    }
    EXPECT_EQ(asked, c.asked);
    // A wrong ZipCrypto password passes the one-byte header check now and then (1 in 256): that entry
    // is then damage, said on its own, and the count of the one message is one less.
    std::vector<std::string> rest;
    size_t damaged = 0;
    for (const std::string& m : messages) {
      if (m.find("(wrong password?)") != std::string::npos) ++damaged;
      else rest.push_back(m);
    }
    std::string expected = c.message;
    if (damaged > 0 && !expected.empty())
      expected = std::to_string(6 - damaged) + (6 - damaged == 1 ? " encrypted file was" : " encrypted files were") +
                 expected.substr(expected.find(" not extracted"));
    EXPECT_EQ(rest, expected.empty() ? std::vector<std::string>{} : std::vector<std::string>{expected});
    EXPECT_EQ(r.Status.IsCancelled(), c.cancelled) << Why(r);
    const std::vector<std::string> tree = testenv::ListTree(out);
    if (c.tree.empty()) {  // Cancel of one entry or Abort: which files remain depends on the order
      for (const std::string& e : tree)
        EXPECT_TRUE(e.back() != '/' || fs::exists(out / e / "f1.txt") || fs::exists(out / e / "g1.txt") ||
                    !fs::is_empty(out / e))
            << "empty folder left: " << e;
    } else {
      EXPECT_EQ(tree, c.tree) << "no empty folders left";
    }
  }
}

TEST_F(JobsTest, SecurityQuestionForNamesThatLeaveTheFolder) {
  PythonZip(dir_ / "evil.zip", {{"../evil.txt", "x"}, {"ok/fine.txt", "z"}, {"/abs/evil2.txt", "y"}});
  const struct {
    TPromptAnswer answer;
    std::vector<std::string> tree;
    bool ok;
  } cases[] = {
      {TPromptAnswer::Yes, {"ok/", "ok/fine.txt"}, true},                                  // do not unzip them
      {TPromptAnswer::Cancel, {}, false},                                                  // halt
      {TPromptAnswer::No, {"abs/", "abs/evil2.txt", "evil.txt", "ok/", "ok/fine.txt"}, true},  // cleaned names
  };
  int n = 0;
  for (const auto& c : cases) {
    TScriptedPrompt prompt;
    prompt.QueueAnswer(c.answer);
    const fs::path out = dir_ / ("x" + std::to_string(++n)) / "dest";
    TExtractParams p;
    p.Archive = (dir_ / "evil.zip").string();
    p.Destination = out.string();
    p.AskAboutUnsafeNames = true;
    const TJobResult r = TExtractJob(p).Run();
    EXPECT_EQ(r.Status.Succeeded(), c.ok) << n << " " << Why(r);
    ASSERT_EQ(prompt.Texts().size(), 1u);
    EXPECT_NE(prompt.Texts()[0].find("../evil.txt"), std::string::npos);
    EXPECT_EQ(testenv::ListTree(out.parent_path()).size(), c.tree.size() + (fs::exists(out) ? 1 : 0)) << n;
    if (fs::exists(out)) {
      EXPECT_EQ(testenv::ListTree(out), c.tree) << n;
    }
    if (c.answer == TPromptAnswer::Yes) {
      EXPECT_EQ(Sorted(r.Refused), (std::vector<std::string>{"../evil.txt", "/abs/evil2.txt"}));
    }
  }
}

TEST_F(JobsTest, TestingWritesNothing) {
  const fs::path tmp = dir_ / "tmp";
  fs::create_directories(tmp);
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old ? old : "";
  setenv("TMPDIR", tmp.c_str(), 1);
  testenv::WriteFile(dir_ / "r.rar", rartest::MakeRar4({{"a.txt", "hello"}, {"d/b.txt", "world"}}));
  for (const fs::path& archive : {Make("w.zip"), Make("w.tar"), Make("w.tgz"), dir_ / "r.rar"}) {
    const auto before = testenv::ListTree(dir_);
    const TJobResult r = TestArchive(archive);
    EXPECT_TRUE(r.Status.IsOk()) << archive.filename() << " " << Why(r);
    EXPECT_GT(r.Counts.Files, 1);
    EXPECT_EQ(testenv::ListTree(dir_), before) << archive.filename();
    EXPECT_TRUE(testenv::ListTree(tmp).empty()) << archive.filename();
  }
  setenv("TMPDIR", saved.c_str(), 1);
}

TEST_F(JobsTest, CancelLeavesNoArchiveAndStopsExtraction) {
  testenv::WriteFile(src_ / "big.bin", testenv::RandomBytes(12 << 20, 9));
  for (const char* name : {"c.zip", "c.tar", "c.tar.gz"}) {
    const fs::path target = dir_ / name;
    testenv::WriteFile(target, "an older file of that name");
    TCreateParams p;
    p.Target = target.string();
    p.Items = {{src_.string(), "src", true}};
    TCreateJob job(p);
    job.OnProgress = [&](const TJobProgress& pr) {
      if (pr.Done > 0) job.Cancel();
    };
    const TJobResult r = job.Run();
    EXPECT_TRUE(r.Status.IsCancelled()) << name << " " << Why(r);
    EXPECT_EQ(testenv::ReadFile(target), "an older file of that name") << name;
    for (const std::string& f : testenv::ListTree(dir_)) EXPECT_EQ(f.find(".~"), std::string::npos) << f;
  }
  // Cancelled before it starts: nothing is made.
  TCreateParams p;
  p.Target = (dir_ / "never.tar").string();
  p.Items = {{src_.string(), "src", true}};
  TCreateJob early(p);
  early.Cancel();
  EXPECT_TRUE(early.Run().Status.IsCancelled());
  EXPECT_FALSE(fs::exists(dir_ / "never.tar"));
  // Extraction: stopped inside the big file, which is not left behind.
  const fs::path tar = Make("x.tar");
  TExtractParams xp;
  xp.Archive = tar.string();
  xp.Destination = (dir_ / "xout").string();
  xp.Selection.Patterns = {"src/big.bin"};
  TExtractJob x(xp);
  x.OnProgress = [&](const TJobProgress&) { x.Cancel(); };
  EXPECT_TRUE(x.Run().Status.IsCancelled());
  EXPECT_FALSE(fs::exists(dir_ / "xout/src/big.bin"));
}

TEST_F(JobsTest, UpdateReplacesAndDeleteRemoves) {
  const fs::path zip = Make("u.zip");
  testenv::WriteFile(src_ / "a.txt", "changed");
  testenv::WriteFile(src_ / "new.txt", "new");
  TUpdateParams up;
  up.Archive = zip.string();
  up.Items = {{(src_ / "a.txt").string(), "src/a.txt"}, {(src_ / "new.txt").string(), "src/new.txt"}};
  const TJobResult u = TUpdateJob(up).Run();
  ASSERT_TRUE(u.Status.IsOk()) << Why(u);
  std::string names;
  testenv::Run("zipinfo -1 " + Quote(zip.string()) + " | sort", &names);
  EXPECT_EQ(std::count(names.begin(), names.end(), '\n'), 5) << names;  // one a.txt, replaced
  std::string data;
  testenv::Run("unzip -p " + Quote(zip.string()) + " src/a.txt", &data);
  EXPECT_EQ(data, "changed");

  const std::vector<TArchiveEntry> entries = List(zip);
  TDeleteParams dp;
  dp.Archive = zip.string();
  for (const TArchiveEntry& e : entries)
    if (e.Name == "src/sub/b.bin") dp.Selection.Ids.push_back(e.Id);
  dp.Selection.Patterns = {"src/new.txt"};
  const TJobResult d = TDeleteJob(dp).Run();
  ASSERT_TRUE(d.Status.IsOk()) << Why(d);
  EXPECT_EQ(Sorted(Names(List(zip))),
            (std::vector<std::string>{"src/a.txt", "src/sub/Grüße.txt", "src/sub/deeper/empty.txt"}));
  std::string after;
  testenv::Run("zipinfo -1 " + Quote(zip.string()) + " | sort", &after);
  EXPECT_EQ(after.find("b.bin"), std::string::npos);
  EXPECT_EQ(after.find("new.txt"), std::string::npos);
  EXPECT_NE(after.find("src/a.txt"), std::string::npos);
  // Formats that cannot: a status that says so, the archive untouched.
  const fs::path tar = Make("u.tar");
  const std::string before = testenv::ReadFile(tar);
  dp.Archive = tar.string();
  EXPECT_EQ(TDeleteJob(dp).Run().Status.Code(), TStatusCode::Unsupported);
  up.Archive = tar.string();
  EXPECT_EQ(TUpdateJob(up).Run().Status.Code(), TStatusCode::Unsupported);
  EXPECT_EQ(testenv::ReadFile(tar), before);
}

TEST_F(JobsTest, CreatingNeverAddsTheArchiveItself) {
  // Run twice over the folder that holds the archive: the old archive is not stored in the new one.
  for (const char* name : {"self.tar", "self.tgz", "self.zip"}) {
    for (int round = 0; round < 2; ++round) {
      TCreateParams p;
      p.Target = (src_ / name).string();
      p.Items = {{src_.string(), "src", true}};
      const TJobResult r = TCreateJob(p).Run();
      ASSERT_TRUE(r.Status.IsOk()) << name << " " << Why(r);
    }
    for (const std::string& n : Names(List(src_ / name))) EXPECT_EQ(n.find("self."), std::string::npos) << name << ": " << n;
    fs::remove(src_ / name);
  }
}

TEST(JobsMissing, ArchivesThatAreNotThere) {
  const fs::path dir = testenv::MakeTempDir("missing");
  TJobResult r;
  List(dir / "none.zip", &r);
  EXPECT_EQ(r.Status.Code(), TStatusCode::NotFound);
  EXPECT_NE(r.Status.Message().find("none.zip"), std::string::npos);
  testenv::WriteFile(dir / "notes.txt", "plain text");
  List(dir / "notes.txt", &r);
  EXPECT_EQ(r.Status.Code(), TStatusCode::Unsupported);
  testenv::WriteFile(dir / "junk.zip", "this is not a zip archive at all");
  List(dir / "junk.zip", &r);
  EXPECT_TRUE(r.Status.Failed());
  TCreateParams p;
  p.Target = (dir / "x.rar").string();
  p.Items = {{(dir / "notes.txt").string(), ""}};
  EXPECT_EQ(TCreateJob(p).Run().Status.Code(), TStatusCode::Unsupported);
}

TEST_F(JobsTest, SpannedZipIsOneArchiveCopiedOntoItsParts) {
  // Two groups of items (two engine runs) and a tag: one set holding them all.
  const fs::path other = dir_ / "other";
  fs::create_directories(other);
  testenv::WriteFile(other / "big.bin", testenv::RandomBytes(300000, 17));
  TCreateParams p;
  p.Target = (dir_ / "set.zip").string();
  p.Items = {{src_.string(), "src", true}, {(other / "big.bin").string(), "big.bin"}};
  p.Comment = "tag";
  p.Zip.Span = true;
  p.Zip.FolderEntries = true;
  p.Zip.MaxVolumeSize = 100000;
  const TJobResult r = TCreateJob(p).Run();
  ASSERT_TRUE(r.Status.IsOk()) << Why(r);
  std::vector<std::string> parts;
  for (const std::string& f : testenv::ListTree(dir_))
    if (f.rfind("set", 0) == 0) parts.push_back(f);
  ASSERT_GE(parts.size(), 4u);
  EXPECT_EQ(parts.front(), "set001.zip");
  EXPECT_FALSE(fs::exists(p.Target));
  for (const std::string& f : testenv::ListTree(dir_)) EXPECT_EQ(f.find(".~"), std::string::npos) << f;
  const fs::path last = dir_ / parts.back();
  const std::vector<std::string> names = Names(List(last));
  EXPECT_NE(std::find(names.begin(), names.end(), "big.bin"), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), "src/a.txt"), names.end());
  const fs::path out = dir_ / "out";
  ASSERT_TRUE(Extract(last, out).Status.IsOk());
  EXPECT_EQ(testenv::ReadFile(out / "big.bin"), testenv::ReadFile(other / "big.bin"));
  EXPECT_TRUE(SameTree(out / "src", src_));
  TZipKit kit;
  kit.SetZipFileName(last.string());
  EXPECT_EQ(kit.ArchiveComment(), "tag");
}

TEST_F(JobsTest, RoomRunningOutStopsTarAndGzipCreation) {
  testenv::WriteFile(src_ / "big.bin", testenv::RandomBytes(12 << 20, 4));
  // The drive is full from the start, or fills up once the first megabytes are written.
  for (const int fullAfter : {0, 1}) {
    for (const char* name : {"r.tar", "r.tar.gz", "r.gz"}) {
      SCOPED_TRACE(std::string(name) + " after " + std::to_string(fullAfter));
      const fs::path target = dir_ / name;
      testenv::WriteFile(target, "an older file of that name");
      std::atomic<int> calls{0};
      SetFreeSpaceOverride([&](const std::string&) { return calls++ < fullAfter ? int64_t{1} << 40 : int64_t{10}; });
      TCreateParams p;
      p.Target = target.string();
      p.KeepFree = 65000;
      if (std::string(name) == "r.gz") p.Items = {{(src_ / "big.bin").string(), "big.bin", false}};
      else p.Items = {{src_.string(), "src", true}};
      TCreateJob job(p);
      const TJobResult r = job.Run();
      SetFreeSpaceOverride(nullptr);
      EXPECT_EQ(r.Status.Code(), TStatusCode::NoSpace) << Why(r);
      EXPECT_GT(calls.load(), fullAfter) << "the room is looked at on the way";
      EXPECT_EQ(testenv::ReadFile(target), "an older file of that name");
      for (const std::string& f : testenv::ListTree(dir_)) EXPECT_EQ(f.find(".~"), std::string::npos) << f;
    }
  }
}
