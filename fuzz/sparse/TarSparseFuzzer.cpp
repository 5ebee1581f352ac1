// libFuzzer target: tar reading over arbitrary bytes, sparse members included. Every entry's data is
// read both ways (whole file with holes, and by regions); what comes out stays within the entry's size.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tar/TarLib.h"

namespace {

class TBytes : public TTarInput {
 public:
  TBytes(const uint8_t* d, size_t n) : d_(d), n_(n) {}
  size_t Read(void* b, size_t n) override {
    n = std::min(n, n_ - pos_);
    std::memcpy(b, d_ + pos_, n);
    pos_ += n;
    return n;
  }
  int64_t Position() const override { return int64_t(pos_); }
  int64_t Size() const override { return int64_t(n_); }
  bool Seek(int64_t p) override {
    if (p < 0 || uint64_t(p) > n_) return false;
    pos_ = size_t(p);
    return true;
  }

 private:
  const uint8_t* d_;
  size_t n_, pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (int way = 0; way < 2; ++way) {
    try {
      TTarArchive ar(new TBytes(data, size), true);
      TTarDirRec rec;
      std::vector<char> buf(4096);
      for (int n = 0; n < 200 && ar.FindNext(rec); ++n) {
        if (rec.Sparse && rec.Size > (int64_t(1) << 24)) continue;  // holes of many GiB: reading them is slow, not wrong
        uint64_t total = 0;
        if (way == 0) {
          while (size_t got = ar.ReadData(buf.data(), buf.size())) total += got;
          if (rec.HasData() && int64_t(total) != rec.Size && !ar.Truncated()) std::abort();
        } else {
          int64_t at = 0;
          while (size_t got = ar.ReadRegion(buf.data(), buf.size(), at))
            if (at < 0 || at + int64_t(got) > rec.Size) std::abort();
        }
      }
    } catch (const ETarError&) {
    }
  }
  return 0;
}
