#include "codec/DeflateScan.h"

#include <cstring>

namespace codec {
namespace {

constexpr int kMaxBits = 15;

// Reads bits least significant first from a 64-bit buffer refilled eight bytes at a time; bytes past
// the end read as zeros and are counted, so that a position past the end shows.
class TBits {
 public:
  TBits(const uint8_t* p, size_t n) : start_(p), p_(p), end_(p + n) {}
  // At least 56 bits in the buffer afterwards.
  void Refill() {
    if (count_ >= 56) return;
    if (end_ - p_ >= 8) {
      uint64_t v;
      std::memcpy(&v, p_, 8);
      buf_ |= v << count_;
      p_ += (63 - count_) >> 3;
      count_ |= 56;
      return;
    }
    while (count_ <= 56) {
      uint64_t b = 0;
      if (p_ < end_) b = *p_++;
      else ++past_;
      buf_ |= b << count_;
      count_ += 8;
    }
  }
  uint64_t Peek() const { return buf_; }
  void Drop(unsigned k) {
    buf_ >>= k;
    count_ -= k;
  }
  // Takes `k` <= 32 bits (refilling first).
  uint32_t Take(unsigned k) {
    Refill();
    uint32_t v = uint32_t(buf_ & ((uint64_t(1) << k) - 1));
    Drop(k);
    return v;
  }
  void AlignToByte() { Drop(count_ & 7); }
  // Skips whole bytes after AlignToByte; false when they are not there.
  bool SkipBytes(uint64_t n) {
    uint64_t inBuffer = count_ / 8;
    if (n < inBuffer) {
      Drop(unsigned(n * 8));
      return true;
    }
    n -= inBuffer;
    buf_ = 0;
    count_ = 0;
    if (past_ || uint64_t(end_ - p_) < n) return false;
    p_ += n;
    return true;
  }
  uint64_t Pos() const { return (uint64_t(p_ - start_) + past_) * 8 - count_; }
  // Bits beyond the data were taken.
  bool PastEnd() const { return past_ != 0 && Pos() > Limit(); }
  uint64_t Limit() const { return uint64_t(end_ - start_) * 8; }
  bool Over() const { return Pos() > Limit(); }

 private:
  const uint8_t* start_;
  const uint8_t* p_;
  const uint8_t* end_;
  uint64_t buf_ = 0;
  unsigned count_ = 0;
  uint64_t past_ = 0;
};

// Table entries: bits to drop (the code and, for lengths and distances, the extra bits after it) and
// what the code stands for.
enum : uint32_t { kLiteral = 0, kLength = 1, kEnd = 2, kLong = 3, kInvalid = 4 };
constexpr uint32_t Entry(uint32_t drop, uint32_t kind) { return drop | (kind << 8); }

constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// A canonical Huffman code: a direct table for codes up to TableBits, a bit-by-bit walk beyond.
// `Extra` gives the extra bits that follow a symbol; `Kind` what it stands for.
template <int TableBits>
class THuffman {
 public:
  // False for an over-subscribed set of lengths (incomplete codes are allowed, as in zlib).
  template <class TKind>
  bool Build(const uint8_t* lens, int n, TKind kind) {
    std::memset(count_, 0, sizeof count_);
    for (int s = 0; s < n; ++s) ++count_[lens[s]];
    count_[0] = 0;
    int left = 1;
    for (int len = 1; len <= kMaxBits; ++len) {
      left <<= 1;
      left -= count_[len];
      if (left < 0) return false;
    }
    for (uint32_t& e : table_) e = Entry(0, kLong);
    uint16_t offs[kMaxBits + 2] = {};
    for (int len = 1; len <= kMaxBits; ++len) offs[len + 1] = uint16_t(offs[len] + count_[len]);
    uint32_t next[kMaxBits + 2] = {};
    uint32_t code = 0;
    for (int len = 1; len <= kMaxBits; ++len) {
      code = (code + count_[len - 1]) << 1;
      next[len] = code;
    }
    for (int s = 0; s < n; ++s) {
      int len = lens[s];
      if (!len) continue;
      entries_[offs[len]] = kind(s, len);
      symbols_[offs[len]++] = uint16_t(s);
      uint32_t c = next[len]++;
      if (len > TableBits) continue;
      uint32_t rev = 0;
      for (int i = 0; i < len; ++i) rev |= ((c >> i) & 1u) << (len - 1 - i);
      for (uint32_t i = rev; i < (1u << TableBits); i += 1u << len) table_[i] = kind(s, len);
    }
    return true;
  }

  // The entry for the bits at the front of `bits` (at least 56 of them); kInvalid when none matches.
  uint32_t Lookup(uint64_t bits) const {
    uint32_t e = table_[bits & ((1u << TableBits) - 1)];
    if ((e >> 8) != kLong) return e;
    int code = 0, first = 0, index = 0;
    for (int len = 1; len <= kMaxBits; ++len) {
      code |= int((bits >> (len - 1)) & 1);
      int c = count_[len];
      if (code - c < first) return entries_[index + code - first];
      index += c;
      first = (first + c) << 1;
      code <<= 1;
    }
    return Entry(0, kInvalid);
  }

 private:
  uint32_t table_[1 << TableBits];
  uint16_t count_[kMaxBits + 1];
  uint16_t symbols_[320];
  uint32_t entries_[320];
};

using TLitCode = THuffman<11>;
using TDistCode = THuffman<10>;

uint32_t LitKind(int s, int len) {
  if (s < 256) return Entry(uint32_t(len), kLiteral);
  if (s == 256) return Entry(uint32_t(len), kEnd);
  if (s > 285) return Entry(0, kInvalid);
  return Entry(uint32_t(len + kLengthExtra[s - 257]), kLength);
}
uint32_t DistKind(int s, int len) {
  if (s >= 30) return Entry(0, kInvalid);
  return Entry(uint32_t(len + kDistExtra[s]), kLiteral);
}
uint32_t PlainKind(int s, int len) { return Entry(uint32_t(len), uint32_t(s) << 4); }

struct TFixedCodes {
  TLitCode lit;
  TDistCode dist;
  TFixedCodes() {
    uint8_t lens[288];
    for (int i = 0; i < 288; ++i) lens[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    lit.Build(lens, 288, LitKind);
    for (int i = 0; i < 30; ++i) lens[i] = 5;
    dist.Build(lens, 30, DistKind);
  }
};

bool ReadDynamicCodes(TBits& bits, TLitCode& lit, TDistCode& dist) {
  int nlit = int(bits.Take(5)) + 257;
  int ndist = int(bits.Take(5)) + 1;
  int nclen = int(bits.Take(4)) + 4;
  if (nlit > 286 || ndist > 30) return false;
  uint8_t clens[19] = {};
  for (int i = 0; i < nclen; ++i) clens[kCodeLengthOrder[i]] = uint8_t(bits.Take(3));
  // The code-length code: the symbol is kept above the kind bits.
  static thread_local THuffman<7> clcode;
  if (!clcode.Build(clens, 19, PlainKind)) return false;
  uint8_t lens[286 + 30] = {};
  int total = nlit + ndist;
  for (int i = 0; i < total;) {
    if (bits.Over()) return false;
    bits.Refill();
    uint32_t e = clcode.Lookup(bits.Peek());
    if ((e & 0xFF) == 0) return false;
    bits.Drop(e & 0xFF);
    int sym = int(e >> 12);
    if (sym < 16) {
      lens[i++] = uint8_t(sym);
      continue;
    }
    int rep;
    uint8_t value = 0;
    if (sym == 16) {
      if (i == 0) return false;
      value = lens[i - 1];
      rep = 3 + int(bits.Take(2));
    } else if (sym == 17) {
      rep = 3 + int(bits.Take(3));
    } else {
      rep = 11 + int(bits.Take(7));
    }
    if (i + rep > total) return false;
    while (rep--) lens[i++] = value;
  }
  if (lens[256] == 0) return false;
  return lit.Build(lens, nlit, LitKind) && dist.Build(lens + nlit, ndist, DistKind);
}

// Walks the codes of one block up to its end-of-block code.
bool SkipSymbols(TBits& bits, const TLitCode& lit, const TDistCode& dist) {
  for (;;) {
    bits.Refill();  // 56 bits: three literals, or a length and a distance with their extra bits
    if (bits.PastEnd()) return false;  // zeros past the end decode too: stop there
    uint64_t b = bits.Peek();
    uint32_t e = lit.Lookup(b);
    if ((e >> 8) == kLiteral) {
      unsigned used = e & 0xFF;
      e = lit.Lookup(b >> used);
      if ((e >> 8) == kLiteral) {
        used += e & 0xFF;
        e = lit.Lookup(b >> used);
        if ((e >> 8) == kLiteral) used += e & 0xFF;
      }
      bits.Drop(used);
      continue;
    }
    if ((e >> 8) == kEnd) {
      bits.Drop(e & 0xFF);
      return true;
    }
    if ((e >> 8) != kLength) return false;
    unsigned used = e & 0xFF;
    uint32_t d = dist.Lookup(b >> used);
    if ((d >> 8) != kLiteral) return false;
    bits.Drop(used + (d & 0xFF));
  }
}

}  // namespace

bool ScanDeflate(const uint8_t* data, size_t n, TDeflateLayout& layout) {
  static const TFixedCodes fixed;
  static thread_local TLitCode lit;
  static thread_local TDistCode dist;
  TBits bits(data, n);
  layout = TDeflateLayout();
  for (;;) {
    uint64_t header = bits.Pos();
    if (header + 3 > bits.Limit()) return false;
    bool final = bits.Take(1) != 0;
    uint32_t type = bits.Take(2);
    if (type == 0) {
      bits.AlignToByte();
      if (bits.Pos() + 32 > bits.Limit()) return false;
      uint32_t len = bits.Take(16);
      uint32_t nlen = bits.Take(16);
      if ((len ^ 0xFFFFu) != nlen) return false;
      if (!bits.SkipBytes(len)) return false;
    } else if (type == 1) {
      if (!SkipSymbols(bits, fixed.lit, fixed.dist)) return false;
    } else if (type == 2) {
      if (!ReadDynamicCodes(bits, lit, dist) || !SkipSymbols(bits, lit, dist)) return false;
    } else {
      return false;
    }
    if (bits.Over()) return false;
    ++layout.Blocks;
    if (final) {
      layout.FinalHeaderBit = header;
      layout.EndBit = bits.Pos();
      return true;
    }
  }
}

}  // namespace codec
