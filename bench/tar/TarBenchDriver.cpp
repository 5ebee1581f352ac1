// Runs one tar or gzip operation as the program's jobs do, for the benchmark script; also makes the
// benchmark corpus (a mixed file and a tree of many small files).
//   gz <file> <out.gz>            compress at level 6
//   gunzip <in.gz> <out>          decompress
//   tar|tgz <out> <folder>        archive a folder (stored names relative to it)
//   untar <archive> <dest>        extract a tar or tar.gz
//   gen-mixed <file> <MiB>        a mixed file: text, records, binary, random and zero runs
//   gen-tree <folder> <count>     a tree of small and medium files in nested folders
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "ops/Jobs.h"
#include "tar/ArchiveCreator.h"

namespace fs = std::filesystem;

namespace {

int Fail(const std::string& text) {
  std::cerr << text << "\n";
  return 1;
}

// Words for text-like data.
std::vector<std::string> Words(std::mt19937_64& rng) {
  std::vector<std::string> w;
  std::uniform_int_distribution<int> len(2, 10), ch('a', 'z');
  for (int i = 0; i < 4000; ++i) {
    std::string s;
    for (int k = len(rng); k > 0; --k) s += static_cast<char>(ch(rng));
    w.push_back(s);
  }
  return w;
}

void AppendText(std::string& out, size_t n, std::mt19937_64& rng, const std::vector<std::string>& words) {
  std::geometric_distribution<size_t> pick(0.01);
  size_t line = 0;
  while (n > 0) {
    const std::string& w = words[std::min(pick(rng), words.size() - 1)];
    std::string piece = w + ((++line % 12) ? " " : ".\n");
    piece.resize(std::min(piece.size(), n));
    out += piece;
    n -= piece.size();
  }
}

void AppendRecords(std::string& out, size_t n, std::mt19937_64& rng) {
  char buf[160];
  uint64_t id = rng() % 100000;
  while (n > 0) {
    int k = std::snprintf(buf, sizeof buf, "%llu,2026-12-%02d %02d:%02d:%02d,user%03d,%s,%u\n",
                          static_cast<unsigned long long>(id++), int(rng() % 28 + 1), int(rng() % 24), int(rng() % 60),
                          int(rng() % 60), int(rng() % 300), (rng() & 1) ? "GET /index.html" : "POST /api/v1/items",
                          static_cast<unsigned>(rng() % 5000));
    size_t m = std::min<size_t>(static_cast<size_t>(k), n);
    out.append(buf, m);
    n -= m;
  }
}

void AppendBinary(std::string& out, size_t n, std::mt19937_64& rng) {
  // Machine-code-like: small values with structure, repeated short patterns.
  std::vector<uint8_t> dict(256);
  for (auto& d : dict) d = static_cast<uint8_t>(rng() & 0x3F);
  while (n > 0) {
    uint64_t r = rng();
    for (int i = 0; i < 8 && n > 0; ++i, --n) out += static_cast<char>(dict[(r >> (i * 8)) & 0xFF] ^ (i & 1 ? 0x40 : 0));
  }
}

void AppendRandom(std::string& out, size_t n, std::mt19937_64& rng) {
  while (n > 0) {
    uint64_t r = rng();
    size_t k = std::min<size_t>(8, n);
    out.append(reinterpret_cast<const char*>(&r), k);
    n -= k;
  }
}

// One MiB of mixed content.
std::string MixedChunk(std::mt19937_64& rng, const std::vector<std::string>& words, size_t n) {
  std::string out;
  out.reserve(n);
  while (out.size() < n) {
    size_t piece = std::min<size_t>(n - out.size(), 64 << 10);
    switch (rng() % 10) {
      case 0: case 1: case 2: case 3: AppendText(out, piece, rng, words); break;
      case 4: case 5: AppendRecords(out, piece, rng); break;
      case 6: case 7: AppendBinary(out, piece, rng); break;
      case 8: AppendRandom(out, piece, rng); break;
      default: out.append(piece, '\0'); break;
    }
  }
  return out;
}

int GenMixed(const std::string& path, size_t mib) {
  std::mt19937_64 rng(20261209);
  auto words = Words(rng);
  std::ofstream f(path, std::ios::binary);
  for (size_t i = 0; i < mib; ++i) {
    std::string c = MixedChunk(rng, words, 1 << 20);
    f.write(c.data(), static_cast<std::streamsize>(c.size()));
  }
  return f ? 0 : Fail("can't write " + path);
}

int GenTree(const std::string& root, size_t count) {
  std::mt19937_64 rng(7);
  auto words = Words(rng);
  std::string pool = MixedChunk(rng, words, 8 << 20);
  std::geometric_distribution<size_t> small(1.0 / 4000);
  for (size_t i = 0; i < count; ++i) {
    // (appended rather than "d" + number: GCC 12 warns falsely about the latter, -Wrestrict)
    std::string d(1, 'd'), s(1, 's');
    d += std::to_string(i % 50);
    s += std::to_string((i / 50) % 20);
    fs::path dir = fs::path(root) / d / s;
    if (i < 1000) fs::create_directories(dir);
    size_t size = (i % 1000 == 0) ? (1 << 20) + rng() % (2 << 20) : std::min<size_t>(small(rng), 100000);
    size_t off = rng() % (pool.size() - size);
    std::ofstream f(dir / ("file" + std::to_string(i) + ".dat"), std::ios::binary);
    f.write(pool.data() + off, static_cast<std::streamsize>(size));
  }
  return 0;
}

// Every entry below `root`, folders before their contents, in directory order as GNU tar walks.
void Collect(const std::string& dir, const std::string& rel, std::vector<TArchiveItem>& items) {
  for (const auto& e : fs::directory_iterator(dir)) {
    std::string name = e.path().filename().string();
    std::string stored = rel.empty() ? name : rel + "/" + name;
    items.push_back({e.path().string(), stored});
    if (e.is_directory() && !e.is_symlink()) Collect(e.path().string(), stored, items);
  }
}

// Runs a job and reports its failure.
int RunJob(TJob& job) {
  const TJobResult r = job.Run();
  return r.Status.Succeeded() ? 0 : Fail(std::string(job.Name()) + " failed: " + r.Status.Text());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return Fail("usage: tar_bench_driver gz|gunzip|tar|tgz|untar|gen-mixed|gen-tree <a> <b>");
  std::string op = argv[1], a = argv[2], b = argv[3];
  // The measured operations run as the jobs that the window and tandor run.
  if (op == "gz") {
    TCreateParams p;
    p.Target = b;
    p.Format = TArchiveFormat::Gzip;
    p.Items = {{a, ""}};
    TCreateJob job(p);
    return RunJob(job);
  }
  if (op == "gunzip") {
    // Into a folder of its own beside the output, under the stored name, then moved to the output.
    const fs::path out = fs::absolute(b);
    const fs::path folder = out.parent_path() / (".gunzip-" + out.filename().string());
    fs::remove_all(folder);
    TExtractParams p;
    p.Archive = a;
    p.Format = TArchiveFormat::Gzip;
    p.Destination = folder.string();
    p.Overwrite = TOverwriteMode::Always;
    TExtractJob job(p);
    const int r = RunJob(job);
    if (r == 0) {
      for (const auto& e : fs::directory_iterator(folder)) fs::rename(e.path(), out);
    }
    fs::remove_all(folder);
    return r;
  }
  if (op == "tar" || op == "tgz") {
    std::vector<TArchiveItem> found;
    Collect(b, "", found);
    TCreateParams p;
    p.Target = a;
    p.Format = op == "tar" ? TArchiveFormat::Tar : TArchiveFormat::TarGz;
    for (TArchiveItem& it : found) p.Items.push_back({std::move(it.Source), std::move(it.StoredName)});
    TCreateJob job(p);
    return RunJob(job);
  }
  if (op == "untar") {
    TExtractParams p;
    p.Archive = a;
    p.Destination = b;
    p.Overwrite = TOverwriteMode::Always;
    TExtractJob job(p);
    return RunJob(job);
  }
  if (op == "gen-mixed") return GenMixed(a, std::stoul(b));
  if (op == "gen-tree") return GenTree(a, std::stoul(b));
  return Fail("unknown operation " + op);
}
