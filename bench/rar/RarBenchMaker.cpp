// Writes the RAR decryption benchmark's archive: stored files of pseudo-random bytes, every entry
// encrypted (RAR 5, AES-256, 2^15 key rounds as RAR uses), optionally with encrypted headers.
// Usage: rar_bench_maker OUT.rar MIB FILES PASSWORD [headers]
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "RarWriter.h"

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s OUT.rar MIB FILES PASSWORD [headers]\n", argv[0]);
    return 2;
  }
  const size_t mib = std::strtoull(argv[2], nullptr, 10), files = std::max<size_t>(1, std::strtoull(argv[3], nullptr, 10));
  rartest::Rar5Crypt crypt(argv[4], 15);
  crypt.headers = argc > 5 && std::string(argv[5]) == "headers";
  std::vector<rartest::Rar5Item> items(files);
  std::mt19937_64 rng(7);
  for (size_t i = 0; i < files; ++i) {
    items[i].name = "file" + std::to_string(i) + ".bin";
    items[i].data.resize((mib << 20) / files);
    for (size_t k = 0; k + 8 <= items[i].data.size(); k += 8) {
      const uint64_t v = rng();
      std::memcpy(items[i].data.data() + k, &v, 8);
    }
  }
  const std::string archive = rartest::MakeRar5Encrypted(items, crypt);
  FILE* f = std::fopen(argv[1], "wb");
  if (!f || std::fwrite(archive.data(), 1, archive.size(), f) != archive.size() || std::fclose(f) != 0) return 1;
  return 0;
}
