#include "codec/DeflateScan.h"

#include <cstring>

namespace codec {
namespace {

constexpr int kFastBits = 10;
constexpr int kMaxBits = 15;

// Reads bits least significant first; bytes past the end read as zeros (the caller checks the position).
class TBits {
 public:
  TBits(const uint8_t* p, size_t n) : p_(p), n_(n) {}
  // At least 57 valid bits from the current position.
  uint64_t Peek() const {
    size_t at = size_t(pos_ >> 3);
    uint64_t v = 0;
    if (at + 8 <= n_) {
      std::memcpy(&v, p_ + at, 8);
    } else {
      for (size_t i = 0; at + i < n_ && i < 8; ++i) v |= uint64_t(p_[at + i]) << (8 * i);
    }
    return v >> (pos_ & 7);
  }
  uint32_t Take(int k) {
    uint32_t v = uint32_t(Peek() & ((uint64_t(1) << k) - 1));
    pos_ += uint64_t(k);
    return v;
  }
  void Skip(uint64_t k) { pos_ += k; }
  void AlignToByte() { pos_ = (pos_ + 7) & ~uint64_t(7); }
  uint64_t Pos() const { return pos_; }
  uint64_t Limit() const { return uint64_t(n_) * 8; }
  bool Over() const { return pos_ > Limit(); }

 private:
  const uint8_t* p_;
  size_t n_;
  uint64_t pos_ = 0;
};

// A canonical Huffman code: a direct table for codes up to kFastBits, a bit-by-bit walk beyond.
class THuffman {
 public:
  // False for an over-subscribed set of lengths (incomplete codes are allowed, as in zlib).
  bool Build(const uint8_t* lens, int n) {
    std::memset(count_, 0, sizeof count_);
    std::memset(fast_, 0, sizeof fast_);
    for (int s = 0; s < n; ++s) ++count_[lens[s]];
    count_[0] = 0;
    int left = 1;
    for (int len = 1; len <= kMaxBits; ++len) {
      left <<= 1;
      left -= count_[len];
      if (left < 0) return false;
    }
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
      symbols_[offs[len]++] = uint16_t(s);
      uint32_t c = next[len]++;
      if (len > kFastBits) continue;
      uint32_t rev = 0;
      for (int i = 0; i < len; ++i) rev |= ((c >> i) & 1u) << (len - 1 - i);
      for (uint32_t i = rev; i < (1u << kFastBits); i += 1u << len) fast_[i] = uint16_t((s << 4) | len);
    }
    return true;
  }

  // The next symbol, or -1 when the bits match no code.
  int Decode(TBits& bits) const {
    uint64_t v = bits.Peek();
    uint16_t e = fast_[v & ((1u << kFastBits) - 1)];
    if (e) {
      bits.Skip(e & 15);
      return e >> 4;
    }
    int code = 0, first = 0, index = 0;
    for (int len = 1; len <= kMaxBits; ++len) {
      code |= int((v >> (len - 1)) & 1);
      int c = count_[len];
      if (code - c < first) {
        bits.Skip(uint64_t(len));
        return symbols_[index + code - first];
      }
      index += c;
      first = (first + c) << 1;
      code <<= 1;
    }
    return -1;
  }

 private:
  uint16_t fast_[1 << kFastBits];
  uint16_t count_[kMaxBits + 1];
  uint16_t symbols_[320];
};

constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

struct TFixedCodes {
  THuffman lit, dist;
  TFixedCodes() {
    uint8_t lens[288];
    for (int i = 0; i < 288; ++i) lens[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    lit.Build(lens, 288);
    for (int i = 0; i < 30; ++i) lens[i] = 5;
    dist.Build(lens, 30);
  }
};

bool ReadDynamicCodes(TBits& bits, THuffman& lit, THuffman& dist) {
  int nlit = int(bits.Take(5)) + 257;
  int ndist = int(bits.Take(5)) + 1;
  int nclen = int(bits.Take(4)) + 4;
  if (nlit > 286 || ndist > 30) return false;
  uint8_t clens[19] = {};
  for (int i = 0; i < nclen; ++i) clens[kCodeLengthOrder[i]] = uint8_t(bits.Take(3));
  THuffman clcode;
  if (!clcode.Build(clens, 19)) return false;
  uint8_t lens[286 + 30] = {};
  int total = nlit + ndist;
  for (int i = 0; i < total;) {
    if (bits.Over()) return false;
    int sym = clcode.Decode(bits);
    if (sym < 0) return false;
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
  return lit.Build(lens, nlit) && dist.Build(lens + nlit, ndist);
}

bool SkipSymbols(TBits& bits, const THuffman& lit, const THuffman& dist) {
  const uint64_t limit = bits.Limit();
  for (;;) {
    if (bits.Pos() > limit) return false;
    int sym = lit.Decode(bits);
    if (sym < 256) {
      if (sym < 0) return false;
      continue;
    }
    if (sym == 256) return true;
    sym -= 257;
    if (sym >= 29) return false;
    bits.Skip(kLengthExtra[sym]);
    int d = dist.Decode(bits);
    if (d < 0 || d >= 30) return false;
    bits.Skip(kDistExtra[d]);
  }
}

}  // namespace

bool ScanDeflate(const uint8_t* data, size_t n, TDeflateLayout& layout) {
  static const TFixedCodes fixed;
  TBits bits(data, n);
  THuffman lit, dist;
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
      bits.Skip(uint64_t(len) * 8);
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
