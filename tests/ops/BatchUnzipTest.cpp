// The batch unzip job: folder names, the never-move rule, moving without replacing, the scan, and
// runs over a mixed set of archives (good, damaged, encrypted, empty, hostile, same names).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <set>

#include "OpsTestUtil.h"
#include "ops/BatchUnzip.h"
#include "safeout/MoveFile.h"

using namespace opstest;
using testenv::Quote;

namespace {

void Zip(const fs::path& zip, const std::vector<std::pair<std::string, std::string>>& entries) {
  fs::create_directories(zip.parent_path());
  ASSERT_TRUE(testenv::PythonZip(zip, entries)) << zip;
  fs::remove(zip.string() + ".py");
}

// A zip made by Info-ZIP from files written in a scratch folder; `password` encrypts it.
void InfoZip(const fs::path& zip, const std::vector<std::pair<std::string, std::string>>& files,
             const std::string& password = "") {
  const fs::path scratch = testenv::MakeTempDir("izip");
  std::string names;
  for (const auto& [name, data] : files) {
    testenv::WriteFile(scratch / name, data);
    names += " " + Quote(name);
  }
  fs::create_directories(zip.parent_path());
  ASSERT_EQ(testenv::Run("cd " + Quote(scratch.string()) + " && zip -q " + (password.empty() ? "" : "-P " + Quote(password) + " ") +
                         Quote(zip.string()) + names),
            0);
}

// Answers password questions from a table of archive file names; records who was asked.
class TPasswords final : public IJobQuestions {
 public:
  std::map<std::string, std::pair<TPasswordChoice, std::string>> Answers;
  std::vector<std::string> Asked;
  std::function<void()> OnAsk;

  TOverwriteChoice AskOverwrite(const TOverwriteQuestion&) override {
    ADD_FAILURE() << "an overwrite question during a batch run";
    return TOverwriteChoice::No;
  }
  TPasswordChoice AskPassword(const std::string& name, std::string& password) override {
    Asked.push_back(fs::path(name).filename().string());
    if (OnAsk) OnAsk();
    const auto it = Answers.find(Asked.back());
    if (it == Answers.end()) return TPasswordChoice::Cancel;
    password = it->second.second;
    return it->second.first;
  }
  TSecurityChoice AskSecurity(const std::vector<TUnsafeName>&) override {
    ADD_FAILURE() << "a security question during a batch run";
    return TSecurityChoice::Halt;
  }
  TDamagedChoice AskDamaged(const std::string&, const TStatus&) override { return TDamagedChoice::Skip; }
};

// Printable pseudo-random text (the Python zip writer takes text only).
std::string Text(size_t n, uint32_t seed) {
  std::string s = testenv::RandomBytes(n, seed);
  for (char& c : s) c = static_cast<char>('a' + static_cast<unsigned char>(c) % 26);
  return s;
}

std::vector<std::string> Tree(const fs::path& dir) { return testenv::ListTree(dir); }

class BatchUnzipTest : public ::testing::Test {
 protected:
  void SetUp() override { root_ = testenv::MakeTempDir("batch"); }

  TBatchUnzipParams Params(const std::vector<fs::path>& archives) {
    TBatchUnzipParams p;
    for (const fs::path& a : archives) {
      TBatchArchive b;
      b.Path = a.string();
      TArchiveTally t;
      TallyArchive(b.Path, true, t);
      b.Unpacked = t.Unpacked;
      b.Entries = t.Entries;
      p.Archives.push_back(b);
    }
    return p;
  }
  static const TBatchItem* Item(const std::vector<TBatchItem>& items, const fs::path& archive) {
    for (const TBatchItem& i : items)
      if (i.Archive == archive.string()) return &i;
    return nullptr;
  }

  fs::path root_;
};

}  // namespace

TEST(BatchNames, FolderNamesAndArchiveNames) {
  const std::vector<std::pair<std::string, std::string>> folders = {
      {"photos.zip", "photos"},       {"REPORT.ZIP", "REPORT"},   {"a.zip.zip", "a"},   {"my.zipper.zip", "my"},
      {"data.Zip", "data"},           {"x.tar.gz", "x"},          {"y.TGZ", "y"},       {"z.gz", "z"},
      {"r.rar", "r"},                 {"t.tar", "t"},             {"noext", "noext"},   {".zip", ".zip"},
      {"data.zip.tar.gz", "data.zip"},
  };
  for (const auto& [name, folder] : folders) EXPECT_EQ(BatchFolderName(name), folder) << name;

  struct Case {
    const char* name;
    bool zipOnly, allTypes;
  };
  for (const Case& c : std::initializer_list<Case>{{"a.zip", true, true},     {"B.ZIP", true, true},
                                                   {"c.tar.gz", false, true}, {"d.TGZ", false, true},
                                                   {"e.tar", false, true},    {"f.gz", false, true},
                                                   {"g.rar", false, true},    {"h.txt", false, false},
                                                   {"zip", false, false},     {"i.zip.txt", false, false}}) {
    EXPECT_EQ(IsBatchArchiveName(c.name, false), c.zipOnly) << c.name;
    EXPECT_EQ(IsBatchArchiveName(c.name, true), c.allTypes) << c.name;
  }
}

TEST(BatchNames, NeverMoveRule) {
  const fs::path tmp = testenv::MakeTempDir("never");
  fs::create_directory_symlink("/usr/share", tmp / "shared");
  const std::vector<std::pair<std::string, bool>> cases = {
      {"/usr/share/x.zip", true},       {"/opt/app/x.zip", true},         {"/etc/x.zip", true},
      {"/var/lib/pkg/x.zip", true},     {"/snap/core/x.zip", true},       {"/boot/x.zip", true},
      {"/usrlocal/x.zip", false},       {"/var/library/x.zip", false},    {"/var/x.zip", false},
      {"/home/u/Java/x.zip", true},     {"/home/u/x/myJAVAlib.zip", true}, {"/home/u/javascript/a.zip", true},
      {"/home/u/a.zip", false},         {(tmp / "shared/x.zip").string(), true},
      {(tmp / "plain/x.zip").string(), false},
  };
  for (const auto& [path, never] : cases) EXPECT_EQ(NeverMoveArchive(path), never) << path;
}

TEST(BatchNames, MoveFolders) {
  struct Case {
    const char* archive;
    const char* move;
    bool recreate, failed;
    const char* folder;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"/d/a/b/x.zip", "/keep", true, false, "/keep/d/a/b"},
           {"/d/a/b/x.zip", "/keep/", true, false, "/keep/d/a/b"},
           {"/d/a/b/x.zip", "/keep", false, false, "/keep"},
           {"/d/a/b/x.zip", "/keep", true, true, "/keep/ZipError"},
           {"/d/a/b/x.zip", "/keep", false, true, "/keep/ZipError"},
           {"/x.zip", "/keep", true, false, "/keep"},
           {"/d/x.zip", "/", true, false, "/d"},
       })
    EXPECT_EQ(BatchMoveFolder(c.archive, c.move, c.recreate, c.failed), c.folder) << c.archive << " " << c.move;
}

TEST(BatchNames, NumberedFolders) {
  const fs::path base = testenv::MakeTempDir("num");
  std::string error;
  EXPECT_EQ(MakeNumberedFolder(base.string(), "photos", error), (base / "photos").string());
  EXPECT_EQ(MakeNumberedFolder(base.string(), "photos", error), (base / "photos01").string());
  testenv::WriteFile(base / "photos02", "a file in the way");
  for (int n = 3; n <= 9; ++n) MakeNumberedFolder(base.string(), "photos", error);
  EXPECT_EQ(MakeNumberedFolder(base.string(), "photos", error), (base / "photos010").string());
  EXPECT_EQ(testenv::ReadFile(base / "photos02"), "a file in the way");
  // Missing parents are made.
  EXPECT_EQ(MakeNumberedFolder((base / "new/deeper").string(), "x", error), (base / "new/deeper/x").string());
  // A base that cannot be made: an error, not an endless search.
  testenv::WriteFile(base / "file", "x");
  EXPECT_TRUE(MakeNumberedFolder((base / "file/sub").string(), "x", error).empty());
  EXPECT_FALSE(error.empty());
}

TEST(BatchMove, NeverReplacesWithinAndAcrossFileSystems) {
  const fs::path here = testenv::MakeTempDir("move");
  // Another file system for the copy: the shared-memory one.
  struct stat a {}, b {};
  ASSERT_EQ(::stat(here.c_str(), &a), 0);
  ASSERT_EQ(::stat("/dev/shm", &b), 0) << "/dev/shm is needed as a second file system";
  ASSERT_NE(a.st_dev, b.st_dev) << "the test folder and /dev/shm share a file system";
  char pattern[] = "/dev/shm/tandor-move-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const fs::path there = pattern;
  const std::string data = testenv::RandomBytes(3 * 1024 * 1024 + 17, 5);

  struct Case {
    const char* what;
    fs::path target;
    safeout::TMoveWay way;
  };
  for (const Case& c : {Case{"rename", here / "moved.zip", safeout::TMoveWay::Renamed},
                        Case{"copy", there / "moved.zip", safeout::TMoveWay::Copied}}) {
    const fs::path source = here / "src.zip";
    testenv::WriteFile(source, data);
    const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), old, 0), 0);
    safeout::TMoveWay way;
    const safeout::TResult r = safeout::MoveFileNoReplace(source.string(), c.target.string(), &way);
    ASSERT_TRUE(r) << c.what << ": " << r.text;
    EXPECT_EQ(way, c.way) << c.what;
    EXPECT_FALSE(fs::exists(source)) << c.what;
    EXPECT_EQ(testenv::ReadFile(c.target), data) << c.what;
    struct stat st {};
    ASSERT_EQ(::stat(c.target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1000000000) << c.what;

    // Something at the target: nothing moves, nothing is replaced, nothing is left behind.
    testenv::WriteFile(source, "another archive");
    const safeout::TResult again = safeout::MoveFileNoReplace(source.string(), c.target.string());
    EXPECT_EQ(again.fault, safeout::TFault::Exists) << c.what;
    EXPECT_EQ(testenv::ReadFile(source), "another archive") << c.what;
    EXPECT_EQ(testenv::ReadFile(c.target), data) << c.what;
    EXPECT_EQ(Tree(c.target.parent_path()).size(), c.way == safeout::TMoveWay::Renamed ? 2u : 1u) << c.what;
    fs::remove(source);
    fs::remove(c.target);
  }
  // A missing source or a folder in the target's place.
  EXPECT_FALSE(safeout::MoveFileNoReplace((here / "none.zip").string(), (there / "none.zip").string()));
  testenv::WriteFile(here / "f.zip", "x");
  fs::create_directory(there / "f.zip");
  EXPECT_FALSE(safeout::MoveFileNoReplace((here / "f.zip").string(), (there / "f.zip").string()));
  EXPECT_EQ(testenv::ReadFile(here / "f.zip"), "x");
  fs::remove_all(there);
}

TEST_F(BatchUnzipTest, ScanWithAndWithoutSubfolders) {
  const fs::path in = root_ / "scan";
  Zip(in / "a.zip", {{"one.txt", "1"}, {"two.txt", "22"}});
  Zip(in / "sub/B.ZIP", {{"x/three.txt", "333"}});
  Zip(in / "sub/deep/c.zip", {{"four.txt", std::string(4000, 'f')}});
  Zip(in / ".hidden/h.zip", {{"h", "h"}});
  Zip(in / ".dot.zip", {{"d", "d"}});
  testenv::WriteFile(in / "notes.txt", "not an archive");
  testenv::WriteFile(in / "broken.zip", "not a zip at all");
  ASSERT_EQ(testenv::Run("tar czf " + Quote((in / "sub/t.tar.gz").string()) + " -C " + Quote(in.string()) + " notes.txt"), 0);
  fs::create_directory_symlink(in / "sub", in / "sub/deep/loop");  // a loop, never followed
  fs::create_symlink(in / "a.zip", in / "link.zip");

  auto scan = [&](bool subfolders, bool allTypes, std::vector<std::string> known) {
    TBatchScanParams p;
    p.Folder = in.string() + "/";
    p.Subfolders = subfolders;
    p.AllTypes = allTypes;
    p.Known = std::move(known);
    TBatchScanJob job(p);
    const TJobResult r = job.Run();
    EXPECT_TRUE(r.Status.IsOk()) << Why(r);
    std::vector<TBatchFound> found;
    job.TakeFound(found);
    EXPECT_EQ(job.FoundCount(), static_cast<int64_t>(found.size()));
    uint64_t packed = 0;
    std::map<std::string, TBatchFound> byName;
    for (const TBatchFound& f : found) {
      packed += f.Size;
      EXPECT_EQ(f.Size, fs::file_size(f.Path)) << f.Path;
      byName[fs::relative(f.Path, in).string()] = f;
    }
    EXPECT_EQ(job.PackedTotal(), packed);
    return byName;
  };

  const auto deep = scan(true, false, {});
  std::vector<std::string> names;
  for (const auto& [name, f] : deep) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"a.zip", "broken.zip", "sub/B.ZIP", "sub/deep/c.zip"}));
  struct Tally {
    const char* name;
    uint64_t unpacked;
    int64_t entries;
  };
  for (const Tally& t : {Tally{"a.zip", 3, 2}, Tally{"sub/B.ZIP", 3, 1}, Tally{"sub/deep/c.zip", 4000, 1},
                         Tally{"broken.zip", 0, 0}}) {
    ASSERT_TRUE(deep.count(t.name)) << t.name;
    EXPECT_EQ(deep.at(t.name).Tally.Unpacked, t.unpacked) << t.name;
    EXPECT_EQ(deep.at(t.name).Tally.Entries, t.entries) << t.name;
  }
  // The file's own time.
  struct stat st {};
  ASSERT_EQ(::stat((in / "a.zip").c_str(), &st), 0);
  EXPECT_EQ(deep.at("a.zip").Time, st.st_mtim.tv_sec);

  const auto flat = scan(false, false, {});
  EXPECT_EQ(flat.size(), 2u);
  EXPECT_TRUE(flat.count("a.zip") && flat.count("broken.zip"));

  // Archives already listed are not found again; all archive types bring the tar.gz.
  const auto again = scan(true, true, {(in / "a.zip").string(), (in / "sub/B.ZIP").string()});
  names.clear();
  for (const auto& [name, f] : again) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"broken.zip", "sub/deep/c.zip", "sub/t.tar.gz"}));
  EXPECT_GT(again.at("sub/t.tar.gz").Tally.Unpacked, 0u);

  // A folder that is not there: nothing found, no failure.
  TBatchScanParams gone;
  gone.Folder = (root_ / "nowhere").string();
  TBatchScanJob job(gone);
  EXPECT_TRUE(job.Run().Status.IsOk());
  EXPECT_EQ(job.FoundCount(), 0);
}

TEST_F(BatchUnzipTest, ThirtyArchivesMovedFlat) {
  const fs::path in = root_ / "in", keep = root_ / "keep";
  std::vector<fs::path> archives;
  std::map<std::string, std::vector<std::string>> content;  // archive -> its tree once unzipped
  for (int i = 1; i <= 18; ++i) {
    const std::string n = (i < 10 ? "g0" : "g") + std::to_string(i);
    const fs::path a = in / (i % 3 == 0 ? "a" : i % 3 == 1 ? "b" : "b/c") / (n + ".zip");
    Zip(a, {{n + "/readme.txt", "archive " + n}, {"data/" + n + ".bin", Text(200 + i, i)}});
    content[a.string()] = {"data/", "data/" + n + ".bin", n + "/", n + "/readme.txt"};
    archives.push_back(a);
  }
  Zip(in / "a/same.zip", {{"which.txt", "first"}});
  Zip(in / "b/same.zip", {{"which.txt", "second"}});
  InfoZip(in / "a/REPORT.ZIP", {{"r.txt", "report"}});
  InfoZip(in / "a/enc1.zip", {{"s1.txt", "secret one"}, {"s2.txt", "secret two"}}, "pw");
  InfoZip(in / "a/enc2.zip", {{"s.txt", "secret"}}, "pw");
  InfoZip(in / "a/enc3.zip", {{"s.txt", "secret"}}, "pw");
  Zip(in / "b/empty.zip", {});
  Zip(in / "b/evil.zip", {{"../evil.txt", "out"}, {"/abs-evil.txt", "abs"}, {"fine.txt", "in"}});
  testenv::WriteFile(in / "b/junk.zip", "this is no zip archive, only text");
  // CRC error: the stored text changed after the archive was written.
  Zip(in / "b/crc.zip", {{"c.txt", "crc crc crc crc"}});
  {
    std::string bytes = testenv::ReadFile(in / "b/crc.zip");
    bytes[bytes.find("crc crc")] = 'X';
    testenv::WriteFile(in / "b/crc.zip", bytes);
  }
  Zip(in / "java/lib.zip", {{"l.txt", "lib"}});
  Zip(in / "a/MyJavaTools.zip", {{"t.txt", "tools"}});
  for (const char* n : {"same.zip", "REPORT.ZIP", "enc1.zip", "enc2.zip", "enc3.zip", "MyJavaTools.zip"})
    archives.push_back(in / "a" / n);
  for (const char* n : {"same.zip", "empty.zip", "evil.zip", "junk.zip", "crc.zip"}) archives.push_back(in / "b" / n);
  archives.push_back(in / "java/lib.zip");
  ASSERT_EQ(archives.size(), 30u);
  // Folders and files already there: "photos" style numbering and a file in the move folder.
  fs::create_directories(in / "a/g03");
  testenv::WriteFile(in / "a/g03/mine.txt", "mine");
  fs::create_directories(in / "a/g0301");
  testenv::WriteFile(keep / "g06.zip", "mine too");

  TBatchUnzipParams p = Params(archives);
  p.MoveFolder = keep.string();
  p.RecreateFolders = false;
  TBatchUnzipJob job(p);
  TPasswords questions;
  questions.Answers["enc1.zip"] = {TPasswordChoice::Ok, "pw"};
  questions.Answers["enc2.zip"] = {TPasswordChoice::CancelAll, ""};
  job.Questions = &questions;
  std::vector<size_t> done;
  job.OnArchiveDone = [&](size_t i, const TBatchItem&) { done.push_back(i); };
  const TJobResult r = job.Run();
  EXPECT_EQ(r.Status.Code(), TStatusCode::Warning) << Why(r);
  const std::vector<TBatchItem>& items = job.Items();
  ASSERT_EQ(items.size(), 30u);
  EXPECT_EQ(done.size(), 30u);
  EXPECT_EQ(questions.Asked, (std::vector<std::string>{"enc1.zip", "enc2.zip"}));  // once each, none after Cancel all

  // The good ones: unzipped beside the archive, moved flat.
  for (size_t i = 0; i < 18; ++i) {
    const TBatchItem& it = items[i];
    const std::string name = archives[i].stem().string();
    EXPECT_TRUE(it.Unzipped()) << it.Archive << " " << it.Status.Text();
    const fs::path expectedTarget = archives[i].parent_path() / (name == "g03" ? "g0302" : name);
    EXPECT_EQ(it.Target, expectedTarget.string());
    EXPECT_EQ(Tree(it.Target), content[archives[i].string()]) << it.Archive;
    EXPECT_EQ(it.Move, TBatchMove::Moved);
    EXPECT_EQ(it.MovedTo, (keep / (name == "g06" ? "dupe01" : "") / archives[i].filename()).string());
    EXPECT_FALSE(fs::exists(archives[i]));
  }
  EXPECT_EQ(Tree(in / "a/g03"), (std::vector<std::string>{"mine.txt"}));
  EXPECT_EQ(testenv::ReadFile(keep / "g06.zip"), "mine too");

  const auto item = [&](const std::string& rel) {
    const TBatchItem* it = Item(items, in / rel);
    EXPECT_NE(it, nullptr) << rel;
    return it ? *it : TBatchItem();
  };
  // Same names in two folders: the second goes to dupe01.
  EXPECT_EQ(item("a/same.zip").MovedTo, (keep / "same.zip").string());
  EXPECT_EQ(item("b/same.zip").MovedTo, (keep / "dupe01/same.zip").string());
  EXPECT_EQ(testenv::ReadFile(in / "b/same/which.txt"), "second");
  EXPECT_EQ(item("a/REPORT.ZIP").Target, (in / "a/REPORT").string());
  // Encrypted: the password given unzips both files; Cancel all fails this one and the next.
  EXPECT_TRUE(item("a/enc1.zip").Unzipped()) << item("a/enc1.zip").Status.Text();
  EXPECT_EQ(testenv::ReadFile(in / "a/enc1/s2.txt"), "secret two");
  for (const char* n : {"a/enc2.zip", "a/enc3.zip"}) {
    EXPECT_FALSE(item(n).Unzipped()) << n;
    EXPECT_EQ(item(n).MovedTo, (keep / "ZipError" / fs::path(n).filename()).string()) << n;
    EXPECT_FALSE(fs::exists(in / "a" / fs::path(n).stem() / "s.txt")) << n;
  }
  // Empty: unzipped into an empty folder.
  EXPECT_TRUE(item("b/empty.zip").Unzipped()) << item("b/empty.zip").Status.Text();
  EXPECT_TRUE(Tree(in / "b/empty").empty());
  // Damaged and hostile ones fail with their reason and go to ZipError; nothing lands outside.
  for (const char* n : {"b/evil.zip", "b/junk.zip", "b/crc.zip"}) {
    const TBatchItem it = item(n);
    EXPECT_FALSE(it.Unzipped()) << n;
    EXPECT_FALSE(it.Status.Message().empty()) << n;
    EXPECT_EQ(it.MovedTo, (keep / "ZipError" / fs::path(n).filename()).string()) << n;
  }
  EXPECT_NE(item("b/evil.zip").Status.Message().find("unsafe"), std::string::npos) << item("b/evil.zip").Status.Text();
  EXPECT_EQ(Tree(in / "b/evil"), (std::vector<std::string>{"abs-evil.txt", "evil.txt", "fine.txt"}));
  EXPECT_FALSE(fs::exists(in / "evil.txt"));
  EXPECT_FALSE(fs::exists(root_ / "evil.txt"));
  EXPECT_FALSE(fs::exists("/abs-evil.txt"));
  EXPECT_FALSE(fs::exists(in / "b/crc/c.txt"));
  // "java" in the folder or the name: unzipped, never moved.
  for (const char* n : {"java/lib.zip", "a/MyJavaTools.zip"}) {
    EXPECT_TRUE(item(n).Unzipped()) << n;
    EXPECT_EQ(item(n).Move, TBatchMove::Never) << n;
    EXPECT_TRUE(fs::exists(in / n)) << n;
  }
}

TEST_F(BatchUnzipTest, IntoChosenFolderWithRecreateAndNumbering) {
  const fs::path in = root_ / "in", out = root_ / "out", keep = root_ / "keep";
  Zip(in / "x/photos.zip", {{"p.jpg", "jpeg"}});
  Zip(in / "y/photos.zip", {{"p.jpg", "other"}});
  Zip(in / "y/z/deep.zip", {{"d/e.txt", "deep"}});
  fs::create_directories(out / "photos");
  TBatchUnzipParams p = Params({in / "x/photos.zip", in / "y/photos.zip", in / "y/z/deep.zip"});
  p.Destination = out.string();
  p.MoveFolder = keep.string();
  p.RecreateFolders = true;
  TBatchUnzipJob job(p);
  const TJobResult r = job.Run();
  EXPECT_TRUE(r.Status.IsOk()) << Why(r);
  EXPECT_EQ(Tree(out), (std::vector<std::string>{"deep/", "deep/d/", "deep/d/e.txt", "photos/", "photos01/",
                                                 "photos01/p.jpg", "photos02/", "photos02/p.jpg"}));
  EXPECT_EQ(testenv::ReadFile(out / "photos02/p.jpg"), "other");
  // The folder path of each archive recreated below the move folder.
  const std::string rel = in.relative_path().string();
  for (const char* n : {"x/photos.zip", "y/photos.zip", "y/z/deep.zip"}) {
    EXPECT_TRUE(fs::exists(keep / rel / n)) << n;
    EXPECT_FALSE(fs::exists(in / n)) << n;
  }
}

TEST_F(BatchUnzipTest, VanishedArchiveFullDestinationAndOtherTypes) {
  const fs::path in = root_ / "in";
  Zip(in / "gone.zip", {{"g.txt", "g"}});
  Zip(in / "big.zip", {{"big.bin", Text(100000, 3)}});
  Zip(in / "small.zip", {{"s.txt", "small"}});
  ASSERT_EQ(testenv::Run("cd " + Quote(in.string()) + " && tar cf t.tar small.zip && tar czf tg.tar.gz small.zip && cp small.zip s && gzip s"), 0);
  fs::copy_file(testenv::TestDataDir() / "rar/test_read_format_rar5_multiple_files.rar", in / "r.rar");
  fs::copy_file(in / "t.tar", in / "tar-named.zip");
  const std::vector<fs::path> archives = {in / "gone.zip", in / "big.zip",  in / "small.zip", in / "t.tar",
                                          in / "tg.tar.gz", in / "s.gz",    in / "r.rar",     in / "tar-named.zip"};
  TBatchUnzipParams p = Params(archives);
  fs::remove(in / "gone.zip");
  testenv::SetFreeSpace(5000);
  TBatchUnzipJob zipOnly(p);
  zipOnly.Run();
  testenv::SetFreeSpace("");
  const std::vector<TBatchItem>& a = zipOnly.Items();
  ASSERT_EQ(a.size(), archives.size());
  EXPECT_EQ(a[0].Status.Code(), TStatusCode::NotFound);
  EXPECT_TRUE(a[0].Target.empty());
  EXPECT_FALSE(fs::exists(in / "gone"));
  EXPECT_FALSE(a[1].Unzipped());
  EXPECT_NE(a[1].Status.Message().find("free space"), std::string::npos) << a[1].Status.Text();
  EXPECT_FALSE(fs::exists(in / "big/big.bin"));
  EXPECT_TRUE(a[2].Unzipped()) << a[2].Status.Text();
  for (size_t i = 3; i < a.size(); ++i) {
    EXPECT_EQ(a[i].Status.Code(), TStatusCode::Unsupported) << a[i].Archive;
    EXPECT_TRUE(a[i].Target.empty()) << a[i].Archive;
  }

  // All archive types: each through its own extraction, into the same kind of folder.
  p.AllTypes = true;
  p.Archives.erase(p.Archives.begin(), p.Archives.begin() + 3);
  TBatchUnzipJob all(p);
  const TJobResult r = all.Run();
  EXPECT_TRUE(r.Status.IsOk()) << Why(r);
  for (const TBatchItem& it : all.Items()) EXPECT_TRUE(it.Unzipped()) << it.Archive << " " << it.Status.Text();
  EXPECT_EQ(testenv::ReadFile(in / "t/small.zip"), testenv::ReadFile(in / "small.zip"));
  EXPECT_EQ(testenv::ReadFile(in / "tg/small.zip"), testenv::ReadFile(in / "small.zip"));
  EXPECT_EQ(testenv::ReadFile(in / "s/s"), testenv::ReadFile(in / "small.zip"));
  EXPECT_EQ(testenv::ReadFile(in / "tar-named/small.zip"), testenv::ReadFile(in / "small.zip"));
  EXPECT_FALSE(Tree(in / "r").empty());
}

TEST_F(BatchUnzipTest, CancelLetsTheArchiveInWorkFinish) {
  const fs::path in = root_ / "in", keep = root_ / "keep";
  Zip(in / "one.zip", {{"1.txt", "1"}});
  InfoZip(in / "two.zip", {{"a.txt", "a"}, {"b.txt", "b"}, {"c.txt", "c"}}, "pw");
  Zip(in / "three.zip", {{"3.txt", "3"}});
  Zip(in / "four.zip", {{"4.txt", "4"}});
  TBatchUnzipParams p = Params({in / "one.zip", in / "two.zip", in / "three.zip", in / "four.zip"});
  p.MoveFolder = keep.string();
  p.RecreateFolders = false;
  TBatchUnzipJob job(p);
  TPasswords questions;
  questions.Answers["two.zip"] = {TPasswordChoice::Ok, "pw"};
  // STOP while the second archive is at work (its password question is open).
  questions.OnAsk = [&] { job.Cancel(); };
  job.Questions = &questions;
  const TJobResult r = job.Run();
  EXPECT_EQ(r.Status.Code(), TStatusCode::Cancelled);
  ASSERT_EQ(job.Items().size(), 2u);
  EXPECT_TRUE(job.Items()[1].Unzipped()) << job.Items()[1].Status.Text();
  EXPECT_EQ(Tree(in / "two"), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
  EXPECT_EQ(job.Items()[1].MovedTo, (keep / "two.zip").string());
  EXPECT_TRUE(fs::exists(in / "three.zip"));
  EXPECT_FALSE(fs::exists(in / "three"));
}
