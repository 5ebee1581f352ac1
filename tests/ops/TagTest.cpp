// Tags: zip comments stored in CP437 or UTF-8 and read back by Info-ZIP, gzip header comments in
// ISO-8859-1, the comment rewrite of an existing archive (entries byte for byte, nothing written
// when it cannot be done) and tags that cannot be stored refused before a new archive is written.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "OpsTestUtil.h"
#include "core/TextUtil.h"
#include "ops/CommentJob.h"
#include "zip/ZipComment.h"

using namespace opstest;
using testenv::Quote;

namespace {

std::string Sh(const std::string& cmd, int* rc = nullptr) {
  std::string out;
  const int status = testenv::Run(cmd, &out);
  if (rc) *rc = status;
  return out;
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

std::vector<std::string> Leftovers(const fs::path& dir, const std::vector<std::string>& expected) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) {
    const std::string n = e.path().filename().string();
    if (std::find(expected.begin(), expected.end(), n) == expected.end()) out.push_back(n);
  }
  return out;
}

const std::string kCafe = "Caf\xC3\xA9 Gr\xC3\xB6\xC3\x9F" "e";                        // "Café Größe": CP437 holds it
const std::string kTokyo = "\xE6\x9D\xB1\xE4\xBA\xAC \xE2\x9C\x93 tag";                   // "東京 ✓ tag": needs UTF-8
const std::string kDash = "na\xC3\xAF" "ve \xE2\x80\x94 dash";                           // "naïve — dash": the dash is not CP437

TEST(TagText, ZipCommentEncoding) {
  struct Case {
    std::string text;
    std::string stored;
  };
  const std::vector<Case> cases{
      {"plain ascii tag", "plain ascii tag"},
      {kCafe, "Caf\x82 Gr\x94\xE1" "e"},
      {kTokyo, kTokyo},
      {kDash, kDash},
      {"", ""},
      {std::string("\xFF\xFE raw", 6), std::string("\xFF\xFE raw", 6)},  // not UTF-8: kept as given
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EncodeZipComment(c.text), c.stored) << c.text;
    if (c.text.find('\xFF') == std::string::npos) {
      EXPECT_EQ(DecodeZipComment(c.stored), c.text) << c.text;
    }
  }
  // CP437 bytes of other writers read as CP437.
  EXPECT_EQ(DecodeZipComment("\x9B\x9C\xE0"), "\xC2\xA2\xC2\xA3\xCE\xB1");  // "¢£α"
}

TEST(TagText, Latin1) {
  struct Case {
    std::string utf8;
    bool ok;
    std::string latin1;
  };
  const std::vector<Case> cases{
      {"nightly", true, "nightly"},
      {kCafe, true, "Caf\xE9 Gr\xF6\xDF" "e"},
      {"\xC2\xA0\xC3\xBF", true, "\xA0\xFF"},          // U+00A0 and U+00FF, the edges
      {"\xE2\x82\xAC" "uro", false, {}},                // "€" lies above U+00FF
      {kTokyo, false, {}},
      {"\xC3", false, {}},                              // cut short
      {"\xC3\x28", false, {}},                          // broken sequence
  };
  for (const Case& c : cases) {
    std::string out;
    EXPECT_EQ(Utf8ToLatin1(c.utf8, out), c.ok) << c.utf8;
    if (c.ok) {
      EXPECT_EQ(out, c.latin1);
      EXPECT_EQ(Latin1ToUtf8(out), c.utf8);
    }
  }
}

class TagJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testenv::HaveTool("zip"));
    ASSERT_TRUE(testenv::HaveTool("unzip"));
    ASSERT_TRUE(testenv::HaveTool("iconv"));
    dir_ = testenv::MakeTempDir("tags");
    testenv::WriteFile(dir_ / "src" / "a.txt", "alpha\n");
    testenv::WriteFile(dir_ / "src" / "b.bin", testenv::RandomBytes(40000, 5));
  }

  TJobResult Create(const fs::path& target, const std::string& tag, bool store = true) {
    TCreateParams p;
    p.Target = target.string();
    p.Items = {{(dir_ / "src" / "a.txt").string(), "a.txt", false}};
    if (!EndsWith(target.string(), ".gz")) p.Items.push_back({(dir_ / "src" / "b.bin").string(), "b.bin", false});
    p.Comment = tag;
    p.StoreComment = store;
    TCreateJob job(p);
    return job.Run();
  }
  TJobResult SetComment(const fs::path& zip, const std::string& text, TFileStamp expected = {}) {
    TSetCommentJob job({zip.string(), text, expected});
    return job.Run();
  }

  fs::path dir_;
};

TEST_F(TagJobTest, NewZipCarriesItsTag) {
  struct Case {
    std::string tag;
    bool cp437;  // stored in CP437: unzip prints those bytes
  };
  const std::vector<Case> cases{{"backup of Monday", false}, {kCafe, true}, {kTokyo, false}, {kDash, false}};
  int n = 0;
  for (const Case& c : cases) {
    const fs::path zip = dir_ / ("new" + std::to_string(++n) + ".zip");
    ASSERT_TRUE(Create(zip, c.tag).Status.Succeeded()) << c.tag;
    int rc = 1;
    Sh("unzip -tq " + Quote(zip.string()), &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(testenv::UnzipComment(zip, c.cp437), c.tag);
    TListParams lp;
    lp.Archive = zip.string();
    TListJob list(lp);
    ASSERT_TRUE(list.Run().Status.Succeeded());
    EXPECT_EQ(list.Comment(), c.tag);
  }
}

TEST_F(TagJobTest, TagsThatCannotBeStoredLeaveNoArchive) {
  struct Case {
    std::string target;
    std::string tag;
    std::string why;
  };
  const std::vector<Case> cases{
      {"long.zip", std::string(65536, 'x'), "65,535"},
      {"wide.zip", Repeat("\xE2\x9C\x93", 21846), "65,535"},  // 21,846 x "✓": 65,538 bytes
      {"euro.gz", "\xE2\x82\xAC 5", "ISO-8859-1"},
      {"euro.tar.gz", kTokyo, "ISO-8859-1"},
  };
  for (const Case& c : cases) {
    const TJobResult r = Create(dir_ / c.target, c.tag);
    EXPECT_TRUE(r.Status.Failed()) << c.target;
    EXPECT_NE(r.Status.Message().find(c.why), std::string::npos) << r.Status.Message();
  }
  EXPECT_EQ(Leftovers(dir_, {"src"}), std::vector<std::string>{});
  // The longest zip comment there is still fits.
  EXPECT_TRUE(Create(dir_ / "full.zip", std::string(65535, 'y')).Status.Succeeded());
  EXPECT_EQ(testenv::UnzipComment(dir_ / "full.zip"), std::string(65535, 'y'));
}

TEST_F(TagJobTest, GzipHeaderCommentIsLatin1) {
  struct Case {
    std::string target;
    std::string tag;
  };
  const std::vector<Case> cases{{"one.gz", "nightly"}, {"two.gz", kCafe}, {"three.tar.gz", kCafe}};
  for (const Case& c : cases) {
    const fs::path gz = dir_ / c.target;
    ASSERT_TRUE(Create(gz, c.tag).Status.Succeeded()) << c.target;
    int rc = 1;
    Sh("gzip -t " + Quote(gz.string()), &rc);
    EXPECT_EQ(rc, 0) << c.target;
    std::string latin1;
    ASSERT_TRUE(Utf8ToLatin1(c.tag, latin1));
    const std::string head = testenv::ReadFile(gz).substr(0, 128);
    EXPECT_EQ(static_cast<unsigned char>(head[3]) & 0x10, 0x10) << "comment flag";
    EXPECT_NE(head.find(std::string(1, '\0') + latin1 + std::string(1, '\0')), std::string::npos) << c.target;
  }
  TListParams lp;
  lp.Archive = (dir_ / "two.gz").string();
  TListJob list(lp);
  ASSERT_TRUE(list.Run().Status.Succeeded());
  EXPECT_EQ(list.Comment(), kCafe);
}

TEST_F(TagJobTest, CommentRewriteKeepsEveryEntry) {
  // Info-ZIP archives, one of them with Zip64 records, and one of ours.
  int rc = 1;
  Sh("cd " + Quote((dir_ / "src").string()) + " && zip -q ../info.zip a.txt b.bin && zip -q -fz ../z64.zip a.txt b.bin",
     &rc);
  ASSERT_EQ(rc, 0);
  ASSERT_TRUE(Create(dir_ / "ours.zip", "first tag").Status.Succeeded());
  struct Case {
    std::string text;
    bool cp437;
  };
  const std::vector<Case> texts{{"plain", false}, {kTokyo, false}, {kCafe, true}, {kDash, false},
                                {std::string(65535, 'z'), false}, {"", false}};
  for (const char* name : {"info.zip", "z64.zip", "ours.zip"}) {
    const fs::path zip = dir_ / name;
    ::chmod(zip.c_str(), 0640);
    const std::string before = testenv::BeforeEndRecord(zip);
    ASSERT_FALSE(before.empty());
    for (const Case& c : texts) {
      const TJobResult r = SetComment(zip, c.text, FileStampOf(zip.string()));
      ASSERT_TRUE(r.Status.Succeeded()) << name << ": " << r.Status.Message();
      EXPECT_EQ(testenv::BeforeEndRecord(zip), before) << name << ": the entries changed";
      Sh("unzip -tq " + Quote(zip.string()), &rc);
      EXPECT_EQ(rc, 0) << name;
      EXPECT_EQ(testenv::UnzipComment(zip, c.cp437), c.text) << name;
      TListParams lp;
      lp.Archive = zip.string();
      TListJob list(lp);
      ASSERT_TRUE(list.Run().Status.Succeeded());
      EXPECT_EQ(list.Comment(), c.text) << name;
    }
    struct stat st {};
    ASSERT_EQ(::stat(zip.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "the mode is kept";
  }
  EXPECT_EQ(Leftovers(dir_, {"src", "info.zip", "z64.zip", "ours.zip"}), std::vector<std::string>{});
}

TEST_F(TagJobTest, CommentRewriteRefusals) {
  int rc = 1;
  Sh("cd " + Quote((dir_ / "src").string()) + " && zip -q ../t.zip a.txt && zip -q ../ro.zip a.txt", &rc);
  ASSERT_EQ(rc, 0);
  ::chmod((dir_ / "ro.zip").c_str(), 0444);
  testenv::WriteFile(dir_ / "plain.zip", "not a zip at all, only text");
  const TFileStamp stale = FileStampOf((dir_ / "t.zip").string());
  struct Case {
    const char* name;
    std::function<TJobResult()> run;
    std::string why;
  };
  const std::vector<Case> cases{
      {"t.zip", [&] { return SetComment(dir_ / "t.zip", std::string(65536, 'x')); }, "65,535"},
      {"ro.zip", [&] { return SetComment(dir_ / "ro.zip", "tag"); }, "read-only"},
      {"plain.zip", [&] { return SetComment(dir_ / "plain.zip", "tag"); }, ""},
      {"gone.zip", [&] { return SetComment(dir_ / "gone.zip", "tag"); }, ""},
      {"t.zip", [&] {
         testenv::WriteFile(dir_ / "other.txt", "x");
         Sh("cd " + Quote(dir_.string()) + " && zip -q t.zip other.txt");
         return SetComment(dir_ / "t.zip", "tag", stale);
       }, "changed"},
  };
  for (const Case& c : cases) {
    const fs::path zip = dir_ / c.name;
    const std::string before = fs::exists(zip) ? testenv::ReadFile(zip) : std::string();
    const TJobResult r = c.run();
    EXPECT_TRUE(r.Status.Failed()) << c.name;
    EXPECT_NE(r.Status.Message().find(c.why), std::string::npos) << r.Status.Message();
    if (c.why != "changed" && fs::exists(zip)) {
      EXPECT_EQ(testenv::ReadFile(zip), before) << c.name;
    }
  }
  EXPECT_EQ(Leftovers(dir_, {"src", "t.zip", "ro.zip", "plain.zip", "other.txt"}), std::vector<std::string>{});
}

}  // namespace
