// span_bench_driver split ARCHIVE TARGET PART_BYTES  -> TARGET's numbered parts (target001.zip, ...)
// span_bench_driver join LAST_PART OUTPUT           -> OUTPUT, one archive again
// Runs the zip component's multi-part copies on a fixed drive, without questions.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "zip/ZipKit.h"

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  TZipKit kit;
  kit.Unattended = true;
  kit.OnMessage = [](TZipKit*, int32_t, const std::string&) {};
  int32_t result = -1;
  if (mode == "split" && argc == 5) {
    kit.MaxVolumeSize = std::atoll(argv[4]);
    result = kit.WriteSpannedArchive(argv[2], argv[3]);
  } else if (mode == "join" && argc == 4) {
    std::string out = argv[3];
    result = kit.ReadSpannedArchive(argv[2], out);
  } else {
    std::fprintf(stderr, "usage: span_bench_driver split ARCHIVE TARGET PART_BYTES | join LAST_PART OUTPUT\n");
    return 2;
  }
  if (result != 0) std::fprintf(stderr, "failed (%d): %s\n", result, kit.LastMessage.c_str());
  return result == 0 ? 0 : 1;
}
