// libFuzzer target: the whole library (open, headers, volumes, decoding through libarchive, CRC
// checks) over arbitrary bytes written to a file, every entry tested without writing output. Built a
// second time with a password (rar_crypt_fuzzer) for encrypted headers and data.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "rar/UnrarApi.h"

namespace {
std::string InputPath() {
  static std::string path = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/rarfuzz-XXXXXX";
    if (!mkdtemp(templ.data())) std::abort();
    return templ + "/input.part1.rar";
  }();
  return path;
}
int Decline(char*, int) { return 0; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = InputPath();
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  RAROpenArchiveData o{};
  o.ArcName = path.c_str();
  char comment[128];
  o.CmtBuf = comment;
  o.CmtBufSize = sizeof comment;
  RarHandle h = RAROpenArchive(&o);
  if (!h) return 0;
  RARSetChangeVolProc(h, Decline);
#ifdef TANDOR_FUZZ_PASSWORD
  RARSetPassword(h, TANDOR_FUZZ_PASSWORD);  // the encryption paths: keys, check values, decryption
#endif
  RARHeaderData hd{};
  for (int i = 0; i < 1000 && RARReadHeader(h, &hd) == 0; ++i)
    if (RARProcessFile(h, RAR_TEST, nullptr, nullptr) != 0) break;
  RARCloseArchive(h);
  return 0;
}
