#include "PictureTestUtil.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "TestEnv.h"

namespace pictest {

void Convert(const std::string& arguments, const std::filesystem::path& out, const std::string& prefix) {
  ASSERT_TRUE(testenv::HaveTool("convert")) << "ImageMagick's convert is needed (scripts/install-deps.sh)";
  const std::string line = "convert " + arguments + " " + testenv::Quote(prefix + out.string()) + " 2>&1";
  std::string output;
  ASSERT_EQ(testenv::Run(line, &output), 0) << line << "\n" << output;
  ASSERT_TRUE(std::filesystem::exists(out)) << line;
}

std::filesystem::path RedBlue(const std::filesystem::path& dir, const std::string& name, int width, int height,
                              const std::string& prefix, const std::string& extra) {
  const std::filesystem::path out = dir / name;
  const std::string half = std::to_string(width / 2) + "x" + std::to_string(height);
  Convert("-size " + half + " xc:red -size " + half + " xc:blue +append " + extra, out, prefix);
  return out;
}

std::filesystem::path Plain(const std::filesystem::path& dir, const std::string& name, int width, int height,
                            const std::string& colour) {
  const std::filesystem::path out = dir / name;
  Convert("-size " + std::to_string(width) + "x" + std::to_string(height) + " " + testenv::Quote("xc:" + colour), out);
  return out;
}

unsigned Rgb(const QImage& image, int x, int y) { return image.pixel(x, y) & 0xFFFFFFu; }

bool Near(const QImage& image, int x, int y, unsigned rgb, int tolerance) {
  const unsigned got = Rgb(image, x, y);
  for (int shift : {0, 8, 16}) {
    const int a = static_cast<int>((got >> shift) & 0xFF), b = static_cast<int>((rgb >> shift) & 0xFF);
    if (std::abs(a - b) > tolerance) return false;
  }
  return true;
}

}  // namespace pictest
