// A short fuzzing run under the address and undefined-behaviour sanitizers of one libFuzzer entry
// of fuzz/ (compiled into this test with the tar and gzip sources): archives of every tar format GNU
// tar writes (pax, GNU long names and sparse maps included), their gzip files and gzip members joined,
// then mutants of them for a fixed time. Longer runs: fuzz/sparse and fuzz/gzip (libFuzzer).
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "TestEnv.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int Feed(const std::string& input) {
  return LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

std::vector<std::string> Seeds() {
  const fs::path dir = testenv::MakeTempDir("seeds");
  const fs::path src = dir / "s";
  testenv::WriteFile(src / "a.txt", "alpha\n");
  testenv::WriteFile(src / "d" / "b.bin", testenv::RandomBytes(3000, 5));
  testenv::WriteFile(src / std::string(120, 'x') / std::string(90, 'y'), "long");
  fs::create_symlink("a.txt", src / "l");
  {
    std::string sparse(100000, '\0');
    sparse += "z";
    testenv::WriteFile(src / "sp", sparse);
  }
  std::vector<std::string> tars;
  const std::string in = " -C " + testenv::Quote(dir.string()) + " s";
  int n = 0;
  for (const char* options : {"--format=gnu", "--format=pax", "--format=ustar", "--format=oldgnu", "--format=v7",
                              "--format=gnu --sparse", "--format=pax --sparse --sparse-version=0.0",
                              "--format=pax --sparse --sparse-version=0.1", "--format=pax --sparse --sparse-version=1.0"}) {
    const fs::path out = dir / ("t" + std::to_string(++n) + ".tar");
    // ustar and v7 refuse the long name and say so; what they wrote is a seed all the same.
    testenv::Run(std::string("tar ") + options + " -cf " + testenv::Quote(out.string()) + in + " 2>/dev/null");
    if (fs::exists(out)) tars.push_back(testenv::ReadFile(out));
  }
  std::vector<std::string> seeds = tars;
  for (size_t i = 0; i < tars.size(); i += 3) {
    const fs::path t = dir / ("g" + std::to_string(i) + ".tar");
    testenv::WriteFile(t, tars[i]);
    testenv::Run("gzip -kN " + testenv::Quote(t.string()));
    seeds.push_back(testenv::ReadFile(t.string() + ".gz"));
  }
  seeds.push_back(seeds.back() + seeds.back());  // two members
  return seeds;
}

}  // namespace

TEST(TarGzipFuzz, ShortRunOverEveryFormat) {
  const std::vector<std::string> seeds = Seeds();
  ASSERT_GE(seeds.size(), 10u);
  for (const std::string& s : seeds) EXPECT_EQ(Feed(s), 0);
  std::mt19937 rng(20261209);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(6);
  int runs = 0;
  while (std::chrono::steady_clock::now() < end) {
    EXPECT_EQ(Feed(testenv::Mutate(seeds[rng() % seeds.size()], rng)), 0);
    ++runs;
  }
  EXPECT_GT(runs, 50) << "the run did too little to mean anything";
}
