#include <gtest/gtest.h>

#include "pages/common/IconLists.h"

TEST(IconLists, LookupOncePerExtension) {
  TIconLists icons;
  EXPECT_EQ(icons.FindFilesIcon("readme"), 1);
  EXPECT_EQ(icons.FindFilesIcon("dir/app.exe"), 2);
  const int a = icons.FindFilesIcon("a.txt");
  const int b = icons.FindFilesIcon("B.TXT");
  EXPECT_EQ(a, 4);
  EXPECT_EQ(a, b);
  EXPECT_EQ(icons.Lookups, 1);
  EXPECT_EQ(icons.IconExtensionCache, std::vector<std::string>{".txt"});
  EXPECT_FALSE(icons.Icon(a).isNull()) << "a bare machine still shows an icon";
  EXPECT_EQ(icons.FindFilesIcon("x.unknownext"), 5);
  EXPECT_EQ(icons.FindFilesIcon("y.unknownext"), 5);
  EXPECT_EQ(icons.Lookups, 2);
  icons.ClearCache();
  EXPECT_EQ(icons.Count(), 4);
}
