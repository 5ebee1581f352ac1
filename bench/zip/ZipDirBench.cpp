// Benchmark: reading the central directory of a 100,000-entry archive with TZipKit, side by side
// with "unzip -Z1" on the same file. Run by hand: zip_dir_bench [entries] [runs]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "zip/ZipKit.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

int Shell(const std::string& command) { return std::system(command.c_str()); }

}  // namespace

int main(int argc, char** argv) {
  const int entries = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 7;
  std::string tmpl = (fs::temp_directory_path() / "zipbenchXXXXXX").string();
  if (!::mkdtemp(tmpl.data())) return 1;
  const fs::path dir = tmpl;
  const fs::path archive = dir / "many.zip";
  const fs::path script = dir / "make.py";

  // Names of realistic length in a few hundred folders, deflated small contents.
  FILE* f = std::fopen(script.c_str(), "w");
  std::fprintf(f,
               "import zipfile\n"
               "with zipfile.ZipFile('%s', 'w', zipfile.ZIP_DEFLATED) as z:\n"
               "    for i in range(%d):\n"
               "        z.writestr('project/folder%%03d/source_file_%%06d.txt' %% (i %% 500, i), 'line %%d\\n' %% i)\n",
               archive.c_str(), entries);
  std::fclose(f);
  std::printf("making %d-entry archive with Python zipfile...\n", entries);
  if (Shell("python3 " + script.string()) != 0) return 1;
  std::printf("archive: %.1f MB\n", fs::file_size(archive) / 1e6);

  std::vector<double> kitTimes, unzipTimes;
  int listed = 0;
  for (int r = 0; r < runs; ++r) {
    TZipKit kit;
    kit.Unattended = true;
    const auto t0 = Clock::now();
    kit.SetZipFileName(archive.string());
    const auto t1 = Clock::now();
    listed = kit.EntryCount();
    kitTimes.push_back(Seconds(t0, t1));

    const auto u0 = Clock::now();
    Shell("unzip -Z1 '" + archive.string() + "' > /dev/null");
    const auto u1 = Clock::now();
    unzipTimes.push_back(Seconds(u0, u1));
  }
  std::printf("entries listed by TZipKit: %d\n", listed);
  std::printf("TZipKit ReadDirectory: median %.3f s, best %.3f s (%d runs)\n", Median(kitTimes),
              *std::min_element(kitTimes.begin(), kitTimes.end()), runs);
  std::printf("unzip -Z1:             median %.3f s, best %.3f s (%d runs)\n", Median(unzipTimes),
              *std::min_element(unzipTimes.begin(), unzipTimes.end()), runs);
  std::printf("target: under 0.3 s -> %s\n", Median(kitTimes) < 0.3 ? "met" : "NOT met");
  fs::remove_all(dir);
  return 0;
}
