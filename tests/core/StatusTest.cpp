// The status type: merging keeps the most serious, errno values map to their codes.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "core/Status.h"

TEST(Status, MergeKeepsTheMostSeriousAndTheFirstOnATie) {
  TStatus s;
  EXPECT_TRUE(s.IsOk());
  s.Merge(TStatus::Warning("renamed a"));
  EXPECT_EQ(s.Code(), TStatusCode::Warning);
  EXPECT_TRUE(s.Succeeded());
  s.Merge(TStatus::Warning("renamed b"));
  EXPECT_EQ(s.Message(), "renamed a");
  s.Merge(TStatus::Cancelled());
  EXPECT_TRUE(s.IsCancelled());
  EXPECT_TRUE(s.Failed());
  s.Merge(TStatus(TStatusCode::Damaged, "CRC error"));
  EXPECT_EQ(s.Code(), TStatusCode::Damaged);
  s.Merge(TStatus(TStatusCode::NoSpace, "full"));
  EXPECT_EQ(s.Message(), "CRC error");
  s.Merge(TStatus::Ok());
  EXPECT_EQ(s.Code(), TStatusCode::Damaged);
}

TEST(Status, ErrnoValues) {
  const struct {
    int err;
    TStatusCode code;
  } cases[] = {{ENOSPC, TStatusCode::NoSpace},   {EDQUOT, TStatusCode::NoSpace},
               {ENOENT, TStatusCode::NotFound},  {ENOTDIR, TStatusCode::NotFound},
               {EACCES, TStatusCode::WriteFailed}, {EIO, TStatusCode::WriteFailed}};
  for (const auto& c : cases) {
    const TStatus s = TStatus::FromErrno(c.err, "out.txt", TStatusCode::WriteFailed);
    EXPECT_EQ(s.Code(), c.code) << c.err;
    EXPECT_EQ(s.Message().rfind("out.txt: ", 0), 0u) << s.Message();
    EXPECT_EQ(s.Message(), "out.txt: " + std::string(std::strerror(c.err))) << "the system's text, not a number";
  }
  EXPECT_EQ(TStatus::FromErrno(0, "x").Code(), TStatusCode::Failed) << "a failure without errno is still one";
  EXPECT_EQ(TStatus(TStatusCode::Damaged, "").Text(), "damaged");
}
