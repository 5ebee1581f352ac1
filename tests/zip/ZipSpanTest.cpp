// Multi-part sets on a fixed drive: splitting an archive into numbered parts, joining them again,
// Zip64 sets, and sets made by Info-ZIP zip and 7-Zip read from any of their parts.
#include <gtest/gtest.h>

#include <filesystem>
#include <chrono>
#include <functional>

#include "ScriptedPrompt.h"
#include "SpanTestUtil.h"
#include "TestEnv.h"
#include "ZipTestUtil.h"
#include "zip/ZipKit.h"
#include "zip/ZipSpanNames.h"

namespace fs = std::filesystem;

namespace {

// Files (and, with folders, folder entries) below `tree`, as zip -r stores them.
uint64_t CountEntries(const fs::path& tree, bool folders) {
  uint64_t n = 0;
  for (const std::string& rel : testenv::ListTree(tree)) n += rel.back() != '/' || folders ? 1 : 0;
  return n;
}

class ZipSpanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"zip", "unzip"}) ASSERT_TRUE(testenv::HaveTool(tool)) << tool << " is missing";
    dir_ = testenv::MakeTempDir("span");
    kit_.TempDir = (dir_ / "tmp").string();
    fs::create_directories(kit_.TempDir);
  }

  // The folder and its archive made by Info-ZIP zip.
  fs::path MakeSource(const std::string& name, uint32_t seed, int64_t bigBytes) {
    const fs::path tree = dir_ / (name + "-tree");
    MakeSpanSourceTree(tree, seed, bigBytes);
    const fs::path archive = dir_ / (name + ".zip");
    ZipFolder(tree, archive);
    return tree;
  }

  fs::path dir_;
  TScriptedPrompt prompt_;
  TZipKit kit_;
};

TEST_F(ZipSpanTest, SplitsIntoNumberedPartsThatJoinToTheSameArchive) {
  const fs::path tree = MakeSource("src", 1, 600000);
  fs::create_directories(dir_ / "out");
  const fs::path target = dir_ / "out" / "backup.zip";
  std::vector<std::string> copying;
  int64_t advanced = 0, total = 0;
  kit_.OnMessage = [&](TZipKit*, int32_t code, const std::string& text) {
    EXPECT_EQ(code, 0);
    copying.push_back(text);
  };
  kit_.OnProgress = [&](TZipKit*, ProgressType type, const std::string&, int64_t n) {
    if (type == PtAdvance) advanced += n;
    if (type == PtTotalSize) total = n;
  };
  kit_.MaxVolumeSize = 100000;
  ASSERT_EQ(kit_.WriteSpannedArchive((dir_ / "src.zip").string(), target.string()), 0) << kit_.LastMessage;
  EXPECT_TRUE(prompt_.History().empty());  // fixed drives are never asked for

  const auto parts = NumberedParts(target);
  ASSERT_GE(parts.size(), 6u);
  EXPECT_FALSE(fs::exists(target));
  EXPECT_EQ(kit_.LastDisk() + 1, static_cast<int32_t>(parts.size()));
  for (const fs::path& p : parts) EXPECT_LE(fs::file_size(p), 100000u) << p;
  TSetLayout layout;
  ASSERT_TRUE(CheckSetLayout(parts, layout));
  EXPECT_EQ(layout.Entries, CountEntries(tree, true));
  EXPECT_FALSE(layout.Zip64);
  // Every part carries the source's date; no temporary part is left.
  for (const fs::path& p : parts) EXPECT_EQ(fs::last_write_time(p), fs::last_write_time(dir_ / "src.zip"));
  EXPECT_EQ(testenv::ListTree(dir_ / "out").size(), parts.size());
  ASSERT_FALSE(copying.empty());
  EXPECT_EQ(copying.back(), "Copying: Central directory");
  EXPECT_EQ(total, static_cast<int64_t>(fs::file_size(dir_ / "src.zip")));
  int64_t written = 0;
  for (const fs::path& p : parts) written += static_cast<int64_t>(fs::file_size(p));
  EXPECT_EQ(advanced + 4, written);  // all but the span marker, written before the copy starts

  // Listed from its last part, joined, and extracted byte for byte by unzip.
  kit_.SetZipFileName(parts.back().string());
  EXPECT_EQ(kit_.EntryCount(), static_cast<int32_t>(CountEntries(tree, false))) << kit_.LastMessage;
  EXPECT_TRUE(kit_.IsSpanned());
  std::string joined = (dir_ / "joined.zip").string();
  ASSERT_EQ(kit_.ReadSpannedArchive(parts.back().string(), joined), 0) << kit_.LastMessage;
  EXPECT_EQ(joined, (dir_ / "joined.zip").string());
  EXPECT_TRUE(ExtractsLike(joined, tree));
  EXPECT_EQ(fs::last_write_time(joined), fs::last_write_time(parts.back()));
  // The join is the source again.
  EXPECT_TRUE(testenv::ReadFile(joined) == testenv::ReadFile(dir_ / "src.zip"));
}

TEST_F(ZipSpanTest, KeepFreeOnDisk1ShortensTheFirstPart) {
  MakeSource("src", 2, 700000);
  const fs::path target = dir_ / "kept.zip";
  kit_.MaxVolumeSize = 200000;
  kit_.KeepFreeOnDisk1 = 50000;
  ASSERT_EQ(kit_.WriteSpannedArchive((dir_ / "src.zip").string(), target.string()), 0) << kit_.LastMessage;
  const auto parts = NumberedParts(target);
  ASSERT_GE(parts.size(), 3u);
  EXPECT_LE(fs::file_size(parts[0]), 150000u);
  EXPECT_GT(fs::file_size(parts[0]), 140000u);  // filled up to the reserve (a header may not fit the rest)
  EXPECT_GT(fs::file_size(parts[1]), 150000u);
  EXPECT_LE(fs::file_size(parts[1]), 200000u);
  TSetLayout layout;
  EXPECT_TRUE(CheckSetLayout(parts, layout));
}

TEST_F(ZipSpanTest, SmallArchiveMakesOnePartSet) {
  const fs::path tree = dir_ / "small";
  fs::create_directories(tree);
  testenv::WriteFile(tree / "a.txt", "alpha\n");
  ZipFolder(tree, dir_ / "small.zip");
  // No limit: the medium's free space decides.
  const fs::path target = dir_ / "one.zip";
  ASSERT_EQ(kit_.WriteSpannedArchive((dir_ / "small.zip").string(), target.string()), 0) << kit_.LastMessage;
  const auto parts = NumberedParts(target);
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(parts[0], dir_ / "one001.zip");
  TSetLayout layout;
  ASSERT_TRUE(CheckSetLayout(parts, layout));
  EXPECT_EQ(layout.LastDisk, 0u);
  EXPECT_EQ(kit_.LastDisk(), 0);
  std::string joined;
  ASSERT_EQ(kit_.ReadSpannedArchive(parts[0].string(), joined), 0) << kit_.LastMessage;
  EXPECT_EQ(joined.rfind(kit_.TempDir, 0), 0u) << joined;
  EXPECT_TRUE(ExtractsLike(joined, tree));
}

TEST_F(ZipSpanTest, ArchiveCommentAndDataDescriptorsSurviveTheRoundTrip) {
  // Streamed entries (sizes in data descriptors) and an archive comment.
  const fs::path tree = dir_ / "streamed";
  fs::create_directories(tree);
  testenv::WriteFile(tree / "r.bin", testenv::RandomBytes(250000, 11));
  std::string out;
  ASSERT_EQ(testenv::Run("cd " + testenv::Quote(tree.string()) + " && cat r.bin | zip -q - - > ../piped.zip && "
                         "echo 'set comment' | zip -qz ../piped.zip",
                         &out),
            0)
      << out;
  const std::string single = testenv::ReadFile(dir_ / "piped.zip");
  kit_.MaxVolumeSize = 70000;
  ASSERT_EQ(kit_.WriteSpannedArchive((dir_ / "piped.zip").string(), (dir_ / "p.zip").string()), 0) << kit_.LastMessage;
  const auto parts = NumberedParts(dir_ / "p.zip");
  ASSERT_GE(parts.size(), 4u);
  std::string joined = (dir_ / "back.zip").string();
  ASSERT_EQ(kit_.ReadSpannedArchive(parts.back().string(), joined), 0) << kit_.LastMessage;
  // Info-ZIP's single-file archive again, byte for byte.
  EXPECT_TRUE(testenv::ReadFile(joined) == single);
  kit_.SetZipFileName(parts.back().string());
  EXPECT_EQ(kit_.ArchiveComment(), "set comment");
}

TEST_F(ZipSpanTest, ManyEntriesMakeAZip64Set) {
  std::vector<TCraftEntry> entries(70000);
  for (size_t i = 0; i < entries.size(); ++i) {
    entries[i].Name = "f/" + std::to_string(i);
    entries[i].Data = std::to_string(i * 7);
  }
  TCraftOptions options;
  options.Zip64End = true;
  testenv::WriteFile(dir_ / "many.zip", CraftZip(entries, options));
  kit_.MaxVolumeSize = 1500000;
  ASSERT_EQ(kit_.WriteSpannedArchive((dir_ / "many.zip").string(), (dir_ / "m.zip").string()), 0) << kit_.LastMessage;
  const auto parts = NumberedParts(dir_ / "m.zip");
  ASSERT_GE(parts.size(), 4u);
  TSetLayout layout;
  ASSERT_TRUE(CheckSetLayout(parts, layout));
  EXPECT_TRUE(layout.Zip64);
  EXPECT_EQ(layout.Entries, 70000u);
  kit_.SetZipFileName(parts.back().string());
  EXPECT_EQ(kit_.EntryCount(), 70000) << kit_.LastMessage;
  std::string joined = (dir_ / "m-joined.zip").string();
  ASSERT_EQ(kit_.ReadSpannedArchive(parts.back().string(), joined), 0) << kit_.LastMessage;
  std::string out;
  EXPECT_EQ(testenv::Run("unzip -tqq " + testenv::Quote(joined) + " 2>&1", &out), 0) << out;
  // Entries and directory as they were; the end records hold the same values.
  const std::string a = testenv::ReadFile(joined), b = testenv::ReadFile(dir_ / "many.zip");
  const size_t dirEnd = b.rfind(std::string("PK\x06\x06", 4));
  ASSERT_NE(dirEnd, std::string::npos);
  EXPECT_EQ(a.rfind(std::string("PK\x06\x06", 4)), dirEnd);
  EXPECT_TRUE(a.compare(0, dirEnd, b, 0, dirEnd) == 0);
  kit_.SetZipFileName(joined);
  EXPECT_EQ(kit_.EntryCount(), 70000) << kit_.LastMessage;
  EXPECT_EQ(kit_.DirEntry(69999).EntryName, "f/69999");
}

TEST_F(ZipSpanTest, OurSetsReadByPeersUnderInfoZipNames) {
  ASSERT_TRUE(testenv::HaveTool("7z"));
  const fs::path tree = MakeSource("src", 3, 300000);
  kit_.MaxVolumeSize = 100000;
  ASSERT_EQ(kit_.WriteSpannedArchive((dir_ / "src.zip").string(), (dir_ / "n.zip").string()), 0) << kit_.LastMessage;
  const auto parts = NumberedParts(dir_ / "n.zip");
  fs::create_directories(dir_ / "iz");
  for (size_t i = 0; i < parts.size(); ++i) {
    char ext[32];
    std::snprintf(ext, sizeof ext, ".z%02zu", i + 1);
    fs::copy_file(parts[i], dir_ / "iz" / (i + 1 == parts.size() ? std::string("n.zip") : "n" + std::string(ext)));
  }
  std::string out;
  ASSERT_EQ(testenv::Run("cd " + testenv::Quote((dir_ / "iz").string()) + " && 7z x -y -oout n.zip >/dev/null 2>&1 && "
                         "zip -q -s 0 n.zip --out whole.zip 2>&1",
                         &out),
            0)
      << out;
  EXPECT_TRUE(SameTree(dir_ / "iz" / "out", tree));
  EXPECT_TRUE(ExtractsLike(dir_ / "iz" / "whole.zip", tree));
}

TEST_F(ZipSpanTest, SpannedAddWritesNumberedPartsThroughTheEngine) {
  ASSERT_TRUE(fs::exists(testenv::ProgramDir() / "libzipeng.so")) << testenv::ProgramDir();
  const fs::path tree = dir_ / "addtree";
  MakeSpanSourceTree(tree, 12, 250000);
  kit_.SetDLLDirectory(testenv::ProgramDir().string());
  ASSERT_GE(kit_.LoadZipEngine(), 170);
  kit_.SetZipFileName((dir_ / "made.zip").string());
  kit_.AddOptions = {AddDirNames, AddDiskSpan};
  kit_.RootDir = tree.string();
  for (const std::string& rel : testenv::ListTree(tree))
    if (rel.back() != '/') kit_.FSpecArgs.push_back((tree / rel).string());
  kit_.MaxVolumeSize = 80000;
  kit_.AddFiles();
  ASSERT_GT(kit_.SuccessCount, 0) << kit_.LastMessage;
  const auto parts = NumberedParts(dir_ / "made.zip");
  ASSERT_GE(parts.size(), 4u);
  // The component names the last part, lists the set, and left no temporary archive.
  EXPECT_EQ(kit_.ZipFileName(), parts.back().string());
  EXPECT_EQ(kit_.EntryCount(), static_cast<int32_t>(CountEntries(tree, false))) << kit_.LastMessage;
  EXPECT_TRUE(testenv::ListTree(kit_.TempDir).empty());
  TSetLayout layout;
  EXPECT_TRUE(CheckSetLayout(parts, layout));
  std::string joined = (dir_ / "made-joined.zip").string();
  ASSERT_EQ(kit_.ReadSpannedArchive(kit_.ZipFileName(), joined), 0) << kit_.LastMessage;
  EXPECT_TRUE(ExtractsLike(joined, tree));
}

// Sets made by peers, opened from every one of their parts.
TEST_F(ZipSpanTest, PeerSplitSetsExtractFromAnyPart) {
  ASSERT_TRUE(testenv::HaveTool("7z"));
  const fs::path tree = MakeSource("peer", 4, 450000);
  std::string out;
  fs::create_directories(dir_ / "iz");
  fs::create_directories(dir_ / "sz");
  ASSERT_EQ(testenv::Run("cd " + testenv::Quote(tree.string()) +
                             " && zip -qr -s 100k ../iz/set.zip . && 7z a -v100k -tzip ../sz/set.zip . >/dev/null 2>&1",
                         &out),
            0)
      << out;
  std::vector<fs::path> given;
  for (const fs::path& folder : {dir_ / "iz", dir_ / "sz"})
    for (const std::string& rel : testenv::ListTree(folder)) given.push_back(folder / rel);
  ASSERT_GE(given.size(), 10u);
  for (const fs::path& part : given) {
    SCOPED_TRACE(part.string());
    kit_.SetZipFileName(part.string());
    EXPECT_EQ(kit_.EntryCount(), static_cast<int32_t>(CountEntries(tree, false))) << kit_.LastMessage;
    EXPECT_TRUE(kit_.IsSpanned());
    std::string joined;
    ASSERT_EQ(kit_.ReadSpannedArchive(part.string(), joined), 0) << kit_.LastMessage;
    EXPECT_TRUE(ExtractsLike(joined, tree));
    fs::remove(joined);
  }
  // Info-ZIP's set is named by its last part from then on.
  kit_.SetZipFileName((dir_ / "iz" / "set.z02").string());
  EXPECT_EQ(kit_.ZipFileName(), (dir_ / "iz" / "set.zip").string());
  EXPECT_TRUE(prompt_.History().empty());
}

TEST_F(ZipSpanTest, ComponentExtractsSetsThroughItsEngine) {
  ASSERT_TRUE(fs::exists(testenv::ProgramDir() / "libunzeng.so")) << testenv::ProgramDir();
  const fs::path tree = MakeSource("eng", 5, 250000);
  std::string out;
  fs::create_directories(dir_ / "sz");
  ASSERT_EQ(testenv::Run("cd " + testenv::Quote(tree.string()) + " && 7z a -v64k -tzip ../sz/set.zip . >/dev/null 2>&1",
                         &out),
            0)
      << out;
  kit_.MaxVolumeSize = 90000;
  ASSERT_EQ(kit_.WriteSpannedArchive((dir_ / "eng.zip").string(), (dir_ / "ours.zip").string()), 0);
  kit_.SetDLLDirectory(testenv::ProgramDir().string());
  ASSERT_GE(kit_.LoadUnzipEngine(), 170);
  kit_.ExtrOptions = {ExtrDirNames, ExtrOverWrite};
  const fs::path sets[] = {NumberedParts(dir_ / "ours.zip").back(), dir_ / "sz" / "set.zip.002"};
  for (const fs::path& set : sets) {
    SCOPED_TRACE(set.string());
    kit_.SetZipFileName(set.string());
    const fs::path dest = testenv::MakeTempDir("engine-out");
    kit_.ExtrBaseDir = dest.string();
    kit_.ExtractFiles();
    EXPECT_GE(kit_.SuccessCount, static_cast<int32_t>(CountEntries(tree, false))) << kit_.LastMessage;
    EXPECT_TRUE(SameTree(dest, tree));
  }
  // The joined copies went to the temporary folder and are gone.
  EXPECT_TRUE(testenv::ListTree(kit_.TempDir).empty());
}

}  // namespace

namespace {

// Damaged sets: each case changes the parts of a good set; the join must fail with a clear
// message, leave no output and no temporary file, and leave the parts as they were.
struct TBadSetCase {
  const char* Name;
  std::function<void(const std::vector<fs::path>& parts, const fs::path& other)> Damage;
  int32_t ErrCode;
  const char* Fragment;  // part of the message
};

void SwapFiles(const fs::path& a, const fs::path& b) {
  fs::rename(a, a.string() + ".x");
  fs::rename(b, a);
  fs::rename(a.string() + ".x", b);
}

void Truncate(const fs::path& p, uintmax_t by) { fs::resize_file(p, fs::file_size(p) - by); }

void Patch16(const fs::path& p, uintmax_t fromEnd, uint16_t v) {
  std::string s = testenv::ReadFile(p);
  const size_t at = s.size() - fromEnd;
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>(v >> 8);
  testenv::WriteFile(p, s);
}

void Patch32(const fs::path& p, uintmax_t fromEnd, uint32_t v) {
  Patch16(p, fromEnd, static_cast<uint16_t>(v & 0xFFFF));
  Patch16(p, fromEnd - 2, static_cast<uint16_t>(v >> 16));
}

TEST_F(ZipSpanTest, DamagedSetsFailCleanly) {
  MakeSource("good", 6, 400000);
  MakeSource("other", 7, 400000);
  kit_.MaxVolumeSize = 100000;
  const TBadSetCase cases[] = {
      {"missing middle part", [](auto& parts, auto&) { fs::remove(parts[1]); }, 11001, "set002.zip"},
      {"missing first part", [](auto& parts, auto&) { fs::remove(parts[0]); }, 11001, "set001.zip"},
      {"parts swapped", [](auto& parts, auto&) { SwapFiles(parts[1], parts[2]); }, 0, ""},
      {"first two parts swapped", [](auto& parts, auto&) { SwapFiles(parts[0], parts[1]); }, 11031, "set001.zip"},
      {"part of another set",
       [](auto& parts, auto& other) {
         fs::copy_file(other / "set002.zip", parts[1], fs::copy_options::overwrite_existing);
       },
       0, ""},
      {"truncated middle part", [](auto& parts, auto&) { Truncate(parts[1], 10); }, 0, ""},
      {"padded first part",
       [](auto& parts, auto&) { testenv::WriteFile(parts[0], testenv::ReadFile(parts[0]) + "xx"); }, 0, ""},
      {"truncated last part", [](auto& parts, auto&) { Truncate(parts.back(), 5); }, 11038, "backup set"},
      {"directory on a part past the last", [](auto& parts, auto&) { Patch16(parts.back(), 22 - 6, 9); }, 11008, ""},
      {"directory offset past its part", [](auto& parts, auto&) { Patch32(parts.back(), 22 - 16, 0x7FFFFFF0); }, 11008, ""},
      {"entry on a part past the last",
       [](auto& parts, auto&) {
         // The first central header's disk number.
         const std::string last = testenv::ReadFile(parts.back());
         const size_t at = last.find(std::string("PK\x01\x02", 4));
         Patch16(parts.back(), last.size() - at - 34, 40);
       },
       11008, ""},
  };
  for (const TBadSetCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const fs::path setDir = testenv::MakeTempDir("bad"), otherDir = testenv::MakeTempDir("other");
    ASSERT_EQ(kit_.WriteSpannedArchive((dir_ / "good.zip").string(), (setDir / "set.zip").string()), 0);
    ASSERT_EQ(kit_.WriteSpannedArchive((dir_ / "other.zip").string(), (otherDir / "set.zip").string()), 0);
    auto parts = NumberedParts(setDir / "set.zip");
    ASSERT_GE(parts.size(), 4u);
    c.Damage(parts, otherDir);
    const auto before = Snapshot(setDir);
    const fs::path outDir = testenv::MakeTempDir("bad-out");
    std::string joined = (outDir / "joined.zip").string();
    prompt_.Clear();
    EXPECT_EQ(kit_.ReadSpannedArchive(parts.back().string(), joined), -7);
    EXPECT_TRUE(joined.empty());
    EXPECT_TRUE(testenv::ListTree(outDir).empty()) << "output left behind";
    EXPECT_EQ(Snapshot(setDir), before) << "the parts were changed";
    if (c.ErrCode != 0) {
      EXPECT_EQ(kit_.ErrCode, c.ErrCode) << kit_.LastMessage;
    }
    EXPECT_NE(kit_.LastMessage.find(c.Fragment), std::string::npos) << kit_.LastMessage;
    EXPECT_EQ(prompt_.Texts().size(), 1u);  // the message, shown once
  }
}

TEST_F(ZipSpanTest, JoiningFromAPartWithoutEndRecordNamesTheLastPart) {
  MakeSource("src", 8, 300000);
  kit_.MaxVolumeSize = 100000;
  ASSERT_EQ(kit_.WriteSpannedArchive((dir_ / "src.zip").string(), (dir_ / "s.zip").string()), 0);
  std::string joined;
  EXPECT_EQ(kit_.ReadSpannedArchive((dir_ / "s001.zip").string(), joined), -7);
  EXPECT_EQ(kit_.LastMessage, "This is the first disk in a backup set,\nplease insert the last disk of this set");
  EXPECT_EQ(kit_.ReadSpannedArchive((dir_ / "s002.zip").string(), joined), -7);
  EXPECT_EQ(kit_.LastMessage, "This is the 2th disk in a backup set,\nplease insert the last disk of this set");
  EXPECT_TRUE(joined.empty());
  EXPECT_TRUE(testenv::ListTree(kit_.TempDir).empty());
}

TEST_F(ZipSpanTest, WriteRefusesWhatCannotBeSplit) {
  MakeSource("src", 9, 150000);
  const fs::path out = dir_ / "w";
  fs::create_directories(out);
  struct TCase {
    const char* Name;
    std::string Source;
    int64_t MaxVolume;
    int32_t KeepFree;
    int32_t ErrCode;
  } cases[] = {
      {"missing source", (dir_ / "none.zip").string(), 0, 0, 11001},
      {"not an archive", (dir_ / "src-tree" / "one.txt").string(), 0, 0, 11036},
      {"parts smaller than the least free space", (dir_ / "src.zip").string(), 60000, 0, 11032},
      {"first part reserved away", (dir_ / "src.zip").string(), 100000, 50000, 11032},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    kit_.MaxVolumeSize = c.MaxVolume;
    kit_.KeepFreeOnDisk1 = c.KeepFree;
    EXPECT_EQ(kit_.WriteSpannedArchive(c.Source, (out / "x.zip").string()), -7);
    EXPECT_EQ(kit_.ErrCode, c.ErrCode) << kit_.LastMessage;
    EXPECT_TRUE(testenv::ListTree(out).empty());
  }
  // An existing part is kept when the question is answered No (there is no other disk to ask for).
  kit_.MaxVolumeSize = 50000 + 65536;
  kit_.KeepFreeOnDisk1 = 0;
  testenv::WriteFile(out / "x002.zip", "older part");
  fs::last_write_time(out / "x002.zip", fs::last_write_time(dir_ / "src.zip") - std::chrono::hours(1));
  prompt_.Clear();
  prompt_.QueueAnswer(TPromptAnswer::No);
  EXPECT_EQ(kit_.WriteSpannedArchive((dir_ / "src.zip").string(), (out / "x.zip").string()), -7);
  EXPECT_EQ(kit_.ErrCode, 11007);
  ASSERT_EQ(prompt_.Texts().size(), 1u);
  EXPECT_EQ(prompt_.Texts()[0], "There is already a file x002.zip\nDo you want to overwrite this file");
  EXPECT_EQ(testenv::ListTree(out), std::vector<std::string>{"x002.zip"});
  EXPECT_EQ(testenv::ReadFile(out / "x002.zip"), "older part");
  // Yes replaces it.
  prompt_.QueueAnswer(TPromptAnswer::Yes);
  EXPECT_EQ(kit_.WriteSpannedArchive((dir_ / "src.zip").string(), (out / "x.zip").string()), 0) << kit_.LastMessage;
  EXPECT_NE(testenv::ReadFile(out / "x002.zip"), "older part");
}

TEST_F(ZipSpanTest, CancelStopsTheSplitAndTheJoinWithoutOutput) {
  MakeSource("src", 10, 300000);
  const fs::path out = testenv::MakeTempDir("cancel");
  kit_.MaxVolumeSize = 100000;
  int blocks = 0;
  kit_.OnProgress = [&](TZipKit* kit, ProgressType type, const std::string&, int64_t) {
    if (type == PtAdvance && ++blocks == 20) kit->Cancel = true;
  };
  EXPECT_EQ(kit_.WriteSpannedArchive((dir_ / "src.zip").string(), (out / "c.zip").string()), -7);
  EXPECT_EQ(kit_.ErrCode, 11007);
  EXPECT_TRUE(prompt_.History().empty());  // a cancel is not shown
  EXPECT_TRUE(testenv::ListTree(out).empty());

  kit_.Cancel = false;
  kit_.OnProgress = nullptr;
  ASSERT_EQ(kit_.WriteSpannedArchive((dir_ / "src.zip").string(), (out / "c.zip").string()), 0);
  const auto parts = NumberedParts(out / "c.zip");
  blocks = 0;
  kit_.OnProgress = [&](TZipKit* kit, ProgressType type, const std::string&, int64_t) {
    if (type == PtAdvance && ++blocks == 20) kit->Cancel = true;
  };
  const fs::path joinDir = testenv::MakeTempDir("cancel-join");
  std::string joined = (joinDir / "j.zip").string();
  EXPECT_EQ(kit_.ReadSpannedArchive(parts.back().string(), joined), -7);
  EXPECT_EQ(kit_.ErrCode, 11007);
  EXPECT_TRUE(testenv::ListTree(joinDir).empty());
}

}  // namespace
