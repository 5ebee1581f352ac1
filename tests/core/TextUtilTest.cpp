#include <gtest/gtest.h>

#include "core/TextUtil.h"

TEST(TextUtil, CommasBothWays) {
  EXPECT_EQ(FormatWithCommas(0), "0");
  EXPECT_EQ(FormatWithCommas(999), "999");
  EXPECT_EQ(FormatWithCommas(1000), "1,000");
  EXPECT_EQ(FormatWithCommas(1234567), "1,234,567");
  EXPECT_EQ(FormatWithCommas(-1234567), "-1,234,567");
  EXPECT_EQ(FormatWithCommas(5000000000LL), "5,000,000,000");
  EXPECT_EQ(RemoveCommas("5,000,000,000"), 5000000000LL);
  EXPECT_EQ(RemoveCommas("-12,345"), -12345);
  EXPECT_EQ(RemoveCommas("12a"), 0);
}

TEST(TextUtil, DayNumbers) {
  EXPECT_EQ(DayNumberOf(1899, 12, 30), 0);
  EXPECT_EQ(DayNumberOf(2005, 5, 2), 38474);
  EXPECT_EQ(DayNumberOf(1900, 3, 1), 61);
  int y, m, d;
  DateOfDayNumber(38474, y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 20050502);
  EXPECT_GT(TodayDayNumber(), 46000);
}

TEST(TextUtil, PathParts) {
  EXPECT_EQ(ExtractFileName("a/b\\c.txt"), "c.txt");
  EXPECT_EQ(ExtractFileDir("a/b/c.txt"), "a/b");
  EXPECT_EQ(ExtractFileDir("/c.txt"), "/");
  EXPECT_EQ(ExtractFileExt("a.b/c.Tar.GZ"), ".GZ");
  EXPECT_EQ(ExtractFileExt("a.b/c"), "");
  EXPECT_TRUE(EndsWithNoCase("X.ZIP", ".zip"));
  EXPECT_FALSE(IsAllDigits(""));
  EXPECT_FALSE(IsAllDigits("12a"));
  EXPECT_TRUE(IsAllDigits("0123"));
}
