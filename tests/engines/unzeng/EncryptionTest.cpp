// ZipCrypto (Info-ZIP zip -P) and WinZip AES (7-Zip -mem=AES128/AES256) through one password flow.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "TestEnv.h"
#include "UnzengHarness.h"
#include "zip/ZipStructs.h"

namespace fs = std::filesystem;
using namespace unzengtest;
using testenv::Quote;

namespace {

struct TEncrypted {
  fs::path root, src, zip;
};

TEncrypted MakeEncrypted(const std::string& hint, const std::string& command) {
  TEncrypted t;
  t.root = testenv::MakeTempDir(hint);
  t.src = t.root / "src";
  fs::create_directories(t.src);
  testenv::WriteFile(t.src / "one.txt", testenv::RandomBytes(150000, 11, true));
  testenv::WriteFile(t.src / "two.bin", testenv::RandomBytes(90000, 12));
  testenv::WriteFile(t.src / "three.txt", "short\n");
  t.zip = t.root / "enc.zip";
  Sh("cd " + Quote(t.src.string()) + " && " + command + " " + Quote(t.zip.string()) + " one.txt two.bin three.txt >/dev/null");
  return t;
}

std::vector<TEncrypted> AllKinds() {
  return {MakeEncrypted("zipcrypto", "zip -q -P secret"),
          MakeEncrypted("aes128", "7z a -bd -tzip -psecret -mem=AES128"),
          MakeEncrypted("aes256", "7z a -bd -tzip -psecret -mem=AES256 -mm=BZip2")};
}

}  // namespace

TEST(UnzengEncryption, RightPasswordWholeAndStreaming) {
  for (const auto& t : AllKinds()) {
    SCOPED_TRACE(t.root.filename().string());
    for (bool streaming : {false, true}) {
      if (streaming) setenv("TANDOR_UNZENG_MEMORY", "0", 1);
      TRun run;
      run.archive = t.zip.string();
      run.dest = testenv::MakeTempDir("out");
      run.password = "secret";
      EXPECT_EQ(Execute(run), 3) << run.Dump();
      unsetenv("TANDOR_UNZENG_MEMORY");
      EXPECT_TRUE(run.Errors().empty()) << run.Dump();
      ExpectSameTree(t.src, run.dest);
      EXPECT_TRUE(run.Of(kActionPassword).empty());
    }
  }
}

TEST(UnzengEncryption, WrongPasswordWritesNothing) {
  for (const auto& t : AllKinds()) {
    SCOPED_TRACE(t.root.filename().string());
    TRun run;
    run.archive = t.zip.string();
    run.dest = testenv::MakeTempDir("out");
    run.password = "wrong";
    EXPECT_EQ(Execute(run), 0) << run.Dump();
    // A ZipCrypto check byte lets 1 wrong password in 256 pass: the data check catches it then.
    for (const char* name : {"one.txt", "two.bin", "three.txt"})
      EXPECT_TRUE(run.HasError(82, name) || run.HasError(2, name)) << name << "\n" << run.Dump();
    EXPECT_TRUE(Tree(run.dest).empty()) << run.Dump();
  }
}

TEST(UnzengEncryption, PasswordCallbackRetriesAndRemembers) {
  for (const auto& t : AllKinds()) {
    SCOPED_TRACE(t.root.filename().string());
    TRun run;
    run.archive = t.zip.string();
    run.dest = testenv::MakeTempDir("out");
    run.passwordReqCount = 2;
    run.passwordAnswers = {std::string("nope"), std::string("secret")};
    EXPECT_EQ(Execute(run), 3) << run.Dump();
    ExpectSameTree(t.src, run.dest);
    auto asks = run.Of(kActionPassword);
    ASSERT_EQ(asks.size(), 2u) << "the accepted password serves the later files";
    EXPECT_EQ(asks[0].text, "one.txt");
    EXPECT_EQ(asks[0].value2, 1) << "one more request left after this one";
  }
}

TEST(UnzengEncryption, CancelAllStopsAsking) {
  auto t = MakeEncrypted("cancel", "zip -q -P secret");
  TRun run;
  run.archive = t.zip.string();
  run.dest = testenv::MakeTempDir("out");
  run.passwordReqCount = 3;
  run.passwordAnswers = {std::nullopt};
  EXPECT_EQ(Execute(run), 0);
  EXPECT_EQ(run.Of(kActionPassword).size(), 1u) << run.Dump();
  EXPECT_EQ(run.Errors().size(), 3u) << run.Dump();
  EXPECT_TRUE(Tree(run.dest).empty());

  TRun none;  // PasswordReqCount 0: never asks
  none.archive = t.zip.string();
  none.dest = testenv::MakeTempDir("out");
  none.passwordReqCount = 0;
  EXPECT_EQ(Execute(none), 0);
  EXPECT_TRUE(none.Of(kActionPassword).empty());
}

TEST(UnzengEncryption, TamperedAesDataFailsAuthentication) {
  fs::path root = testenv::MakeTempDir("tamper");
  testenv::WriteFile(root / "f.bin", testenv::RandomBytes(50000, 21));
  fs::path zip = root / "t.zip";
  Sh("cd " + Quote(root.string()) + " && 7z a -bd -tzip -psecret -mem=AES256 -mm=Copy t.zip f.bin >/dev/null");
  std::string bytes = testenv::ReadFile(zip);
  size_t nameLen = uint8_t(bytes[26]) | (uint8_t(bytes[27]) << 8);
  size_t extraLen = uint8_t(bytes[28]) | (uint8_t(bytes[29]) << 8);
  size_t at = 30 + nameLen + extraLen + 16 + 2 + 1000;  // inside the encrypted data
  bytes[at] = char(bytes[at] ^ 0x40);
  testenv::WriteFile(zip, bytes);
  for (bool streaming : {false, true}) {
    if (streaming) setenv("TANDOR_UNZENG_MEMORY", "0", 1);
    TRun run;
    run.archive = zip.string();
    run.dest = testenv::MakeTempDir("out");
    run.password = "secret";
    EXPECT_EQ(Execute(run), 0);
    unsetenv("TANDOR_UNZENG_MEMORY");
    EXPECT_TRUE(run.HasError(2, "authentication failed")) << run.Dump();
    EXPECT_TRUE(Tree(run.dest).empty()) << "no damaged file may stay";
  }
}
