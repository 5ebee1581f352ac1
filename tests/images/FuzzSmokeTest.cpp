// A short fuzzing run of the decode-and-thumbnail path under the address sanitizer: pictures of
// every kind made by convert, mutated (bit flips, cuts, splices, extreme header values) for a fixed
// time. Longer runs: fuzz/images (libFuzzer).
#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "PictureTestUtil.h"
#include "TestEnv.h"
#include "images/PictureFuzzEntry.h"

namespace fs = std::filesystem;

namespace {

// The fuzz entry's extension order: the first byte of an input picks one.
const char* const kKinds[] = {".png", ".jpg", ".gif", ".bmp", ".tif", ".tga", ".pcx", ".ppm",
                              ".psd", ".sgi", ".xpm", ".pic", ".pix", ".lbm", ".pcd", ".raw"};


}  // namespace

TEST(PictureFuzz, ShortRunOverEveryKind) {
  const fs::path dir = testenv::MakeTempDir("fuzz");
  std::vector<std::string> seeds;
  for (size_t k = 0; k < 10; ++k) {
    const std::string name = std::string("seed") + kKinds[k];
    const fs::path file = pictest::RedBlue(dir, name, 16, 8, "", k == 9 ? "-depth 8" : "");
    if (HasFatalFailure()) return;
    seeds.push_back(std::string(1, static_cast<char>(k)) + testenv::ReadFile(file));
  }
  // Every seed decodes and gives a thumbnail before mutation.
  for (const std::string& seed : seeds)
    EXPECT_TRUE(FuzzDecodeAndThumbnail(reinterpret_cast<const uint8_t*>(seed.data()), seed.size()))
        << kKinds[static_cast<size_t>(seed[0])];

  std::mt19937 rng(20261209);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(8);
  long runs = 0, made = 0;
  while (std::chrono::steady_clock::now() < end) {
    const std::string input = testenv::Mutate(seeds[rng() % seeds.size()], rng);
    made += FuzzDecodeAndThumbnail(reinterpret_cast<const uint8_t*>(input.data()), input.size());
    ++runs;
  }
  std::printf("picture fuzz: %ld inputs, %ld thumbnails\n", runs, made);
  EXPECT_GT(runs, 100);
}
