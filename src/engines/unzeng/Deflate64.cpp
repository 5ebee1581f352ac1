#include "Deflate64.h"

#include <algorithm>
#include <cstring>
#include <vector>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the bit reader loads little-endian words");

namespace unzeng {

namespace {

constexpr unsigned kLitBits = 10;   // primary table bits of the literal/length code
constexpr unsigned kDistBits = 8;   // primary table bits of the distance code
constexpr unsigned kLenBits = 7;    // the code-length code is at most 7 bits long
constexpr unsigned kMaxCodeLen = 15;
// Primary table plus the largest set of subtables any code of that many symbols can need.
constexpr size_t kLitTableSize = (size_t(1) << kLitBits) + 288 * (size_t(1) << (kMaxCodeLen - kLitBits));
constexpr size_t kDistTableSize = (size_t(1) << kDistBits) + 32 * (size_t(1) << (kMaxCodeLen - kDistBits));
constexpr size_t kMaxMatch = 65538;
constexpr size_t kWindow = 65536;

// Table entry: bits 0-4 the code length still to drop (or, for a link, the subtable's index bits),
// bit 6 no code here, bit 7 a link to a subtable, bits 8 and up the symbol (or the subtable's start).
constexpr uint32_t kBad = 0x40;
constexpr uint32_t kLink = 0x80;

constexpr uint16_t kLenBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                   31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 3};
constexpr uint8_t kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16};
constexpr uint32_t kDistBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                    49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                    2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr uint8_t kDistExtra[32] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6,
                                    7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
constexpr uint8_t kCodeLenOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Canonical code lengths -> two-level lookup table. False for an over-subscribed set; codes an
// incomplete set leaves unused decode as "no code".
bool BuildTable(const uint8_t* lens, unsigned n, unsigned primary, uint32_t* table, size_t capacity) {
  unsigned count[kMaxCodeLen + 1] = {};
  for (unsigned i = 0; i < n; ++i) ++count[lens[i]];
  count[0] = 0;
  int left = 1;
  for (unsigned len = 1; len <= kMaxCodeLen; ++len) {
    left = left * 2 - int(count[len]);
    if (left < 0) return false;
  }
  unsigned next[kMaxCodeLen + 2] = {};
  for (unsigned len = 1, code = 0; len <= kMaxCodeLen; ++len) {
    code = (code + count[len - 1]) << 1;
    next[len] = code;
  }
  const size_t psize = size_t(1) << primary;
  std::fill(table, table + psize, kBad);
  uint16_t rev[320];
  uint8_t longest[1 << kLitBits] = {};
  for (unsigned sym = 0; sym < n; ++sym) {
    const unsigned len = lens[sym];
    if (!len) continue;
    unsigned code = next[len]++, r = 0;
    for (unsigned b = 0; b < len; ++b, code >>= 1) r = (r << 1) | (code & 1);
    rev[sym] = uint16_t(r);
    if (len <= primary) {
      for (size_t i = r; i < psize; i += size_t(1) << len) table[i] = (uint32_t(sym) << 8) | len;
    } else {
      uint8_t& l = longest[r & (psize - 1)];
      l = std::max<uint8_t>(l, uint8_t(len));
    }
  }
  size_t off = psize;
  for (size_t p = 0; p < psize; ++p) {
    if (!longest[p]) continue;
    const unsigned bits = longest[p] - primary;
    if (off + (size_t(1) << bits) > capacity) return false;
    table[p] = (uint32_t(off) << 8) | kLink | bits;
    std::fill(table + off, table + off + (size_t(1) << bits), kBad);
    off += size_t(1) << bits;
  }
  for (unsigned sym = 0; sym < n; ++sym) {
    const unsigned len = lens[sym];
    if (len <= primary) continue;
    const uint32_t link = table[rev[sym] & (psize - 1)];
    const size_t start = link >> 8, size = size_t(1) << (link & 31);
    for (size_t i = rev[sym] >> primary; i < size; i += size_t(1) << (len - primary))
      table[start + i] = (uint32_t(sym) << 8) | (len - primary);
  }
  return true;
}

enum class TRun { NeedInput, NeedOutput, End, Bad, TooLong };

class TInflate64 {
 public:
  // Decodes in[0..inLen) into win[pos..limit); win[0..pos) is the history matches may reach.
  // `final`: no input follows. `exact`: `limit` is the declared end, so a symbol that does not
  // fit means the stream is too long; otherwise room for the longest match is kept free and the
  // call returns NeedOutput when it runs short.
  TRun Run(const uint8_t* in, size_t inLen, bool final, size_t& used, uint8_t* win, size_t& pos, size_t limit,
           bool exact);
  bool Done() const { return state_ == TState::Done; }

 private:
  enum class TState { Header, Stored, Codes, Done };

  // Bits beyond the input read as zeros when it is final; `overrun_` counts those bytes.
  void Refill() {
    if (iend_ - ip_ >= 8) {
      uint64_t w;
      std::memcpy(&w, ip_, 8);
      bits_ |= w << count_;
      ip_ += (63 - count_) >> 3;
      count_ |= 56;
      return;
    }
    while (count_ <= 56) {
      if (ip_ < iend_) bits_ |= uint64_t(*ip_++) << count_;
      else ++overrun_;
      count_ += 8;
    }
  }
  // Only for the block header: false when the input is not final and runs out.
  bool Need(unsigned n) {
    while (count_ < n) {
      if (ip_ < iend_) bits_ |= uint64_t(*ip_++) << count_;
      else if (final_) ++overrun_;
      else return false;
      count_ += 8;
    }
    return true;
  }
  uint32_t Take(unsigned n) {
    const uint32_t v = uint32_t(bits_ & ((uint64_t(1) << n) - 1));
    bits_ >>= n;
    count_ -= n;
    return v;
  }
  // Some bits taken were not in the input: the stream is cut short.
  bool Overran() const { return 8 * size_t(overrun_) > count_; }
  static uint32_t Lookup(const uint32_t* table, unsigned primary, uint64_t& bits, unsigned& count) {
    uint32_t e = table[bits & ((uint64_t(1) << primary) - 1)];
    if (e & kLink) {
      bits >>= primary;
      count -= primary;
      e = table[(e >> 8) + (bits & ((uint64_t(1) << (e & 31)) - 1))];
    }
    const unsigned len = e & 31;
    bits >>= len;
    count -= len;
    return e;
  }

  TRun Header();
  TRun DynamicTables();
  void FixedTables();
  TRun Stored(uint8_t* win, size_t& pos, size_t limit, bool exact);
  TRun Codes(uint8_t* win, size_t& pos, size_t limit, bool exact);

  TState state_ = TState::Header;
  bool last_ = false;
  bool final_ = false;
  uint64_t bits_ = 0;
  unsigned count_ = 0;
  unsigned overrun_ = 0;
  uint32_t storedLeft_ = 0;
  const uint8_t* ip_ = nullptr;
  const uint8_t* iend_ = nullptr;
  uint32_t lit_[kLitTableSize];
  uint32_t dist_[kDistTableSize];
};

TRun TInflate64::Run(const uint8_t* in, size_t inLen, bool final, size_t& used, uint8_t* win, size_t& pos,
                     size_t limit, bool exact) {
  ip_ = in;
  iend_ = in + inLen;
  final_ = final;
  TRun r = TRun::NeedInput;
  for (;;) {
    if (state_ == TState::Done) {
      r = TRun::End;
      break;
    }
    if (state_ == TState::Header) {
      if (last_) {
        state_ = TState::Done;
        if (Overran()) {
          r = TRun::Bad;
          break;
        }
        continue;
      }
      // A header cut short by the end of the input so far is read again when more has come.
      const uint8_t* saveIp = ip_;
      const uint64_t saveBits = bits_;
      const unsigned saveCount = count_, saveOverrun = overrun_;
      r = Header();
      if (r == TRun::NeedInput) {
        ip_ = saveIp;
        bits_ = saveBits;
        count_ = saveCount;
        overrun_ = saveOverrun;
        last_ = false;
        break;
      }
      if (r != TRun::End) break;
      continue;
    }
    r = state_ == TState::Stored ? Stored(win, pos, limit, exact) : Codes(win, pos, limit, exact);
    if (r != TRun::End) break;
    state_ = TState::Header;
  }
  used = size_t(ip_ - in);
  return r;
}

// Reads a block header (and its tables); End means "done, go on with the block".
TRun TInflate64::Header() {
  if (!Need(3)) return TRun::NeedInput;
  last_ = Take(1);
  const uint32_t type = Take(2);
  if (type == 0) {
    Take(count_ & 7);
    if (!Need(32)) return TRun::NeedInput;
    const uint32_t len = Take(16), nlen = Take(16);
    if (Overran() || len != (~nlen & 0xFFFF)) return TRun::Bad;
    storedLeft_ = len;
    state_ = TState::Stored;
    return TRun::End;
  }
  if (type == 1) {
    FixedTables();
  } else if (type == 2) {
    const TRun r = DynamicTables();
    if (r != TRun::End) return r;
  } else {
    return TRun::Bad;
  }
  if (Overran()) return TRun::Bad;
  state_ = TState::Codes;
  return TRun::End;
}

void TInflate64::FixedTables() {
  uint8_t lens[288 + 32];
  std::fill(lens, lens + 144, 8);
  std::fill(lens + 144, lens + 256, 9);
  std::fill(lens + 256, lens + 280, 7);
  std::fill(lens + 280, lens + 288, 8);
  std::fill(lens + 288, lens + 320, 5);
  BuildTable(lens, 288, kLitBits, lit_, kLitTableSize);
  BuildTable(lens + 288, 32, kDistBits, dist_, kDistTableSize);
}

TRun TInflate64::DynamicTables() {
  if (!Need(14)) return TRun::NeedInput;
  const unsigned nlit = Take(5) + 257, ndist = Take(5) + 1, ncode = Take(4) + 4;
  uint8_t codeLens[19] = {};
  for (unsigned i = 0; i < ncode; ++i) {
    if (!Need(3)) return TRun::NeedInput;
    codeLens[kCodeLenOrder[i]] = uint8_t(Take(3));
  }
  uint32_t codeTable[(1 << kLenBits) + 19 * 1];
  if (!BuildTable(codeLens, 19, kLenBits, codeTable, sizeof codeTable / sizeof codeTable[0])) return TRun::Bad;
  uint8_t lens[288 + 32] = {};
  for (unsigned i = 0; i < nlit + ndist;) {
    if (!Need(kLenBits)) return TRun::NeedInput;
    const uint32_t e = Lookup(codeTable, kLenBits, bits_, count_);
    if (e & kBad) return TRun::Bad;
    const unsigned sym = e >> 8;
    if (sym < 16) {
      lens[i++] = uint8_t(sym);
      continue;
    }
    unsigned repeat;
    uint8_t value = 0;
    if (sym == 16) {
      if (i == 0) return TRun::Bad;
      if (!Need(2)) return TRun::NeedInput;
      value = lens[i - 1];
      repeat = 3 + Take(2);
    } else if (sym == 17) {
      if (!Need(3)) return TRun::NeedInput;
      repeat = 3 + Take(3);
    } else {
      if (!Need(7)) return TRun::NeedInput;
      repeat = 11 + Take(7);
    }
    if (repeat > nlit + ndist - i) return TRun::Bad;
    std::fill(lens + i, lens + i + repeat, value);
    i += repeat;
  }
  if (Overran() || lens[256] == 0) return TRun::Bad;
  // The distance lengths follow the literal/length ones directly.
  uint8_t distLens[32] = {};
  std::memcpy(distLens, lens + nlit, ndist);
  std::fill(lens + nlit, lens + 288, 0);
  if (!BuildTable(lens, 288, kLitBits, lit_, kLitTableSize)) return TRun::Bad;
  if (!BuildTable(distLens, 32, kDistBits, dist_, kDistTableSize)) return TRun::Bad;
  return TRun::End;
}

TRun TInflate64::Stored(uint8_t* win, size_t& pos, size_t limit, bool exact) {
  if (Overran()) return TRun::Bad;
  // Whole bytes still in the bit buffer come first; the header left it byte-aligned.
  while (storedLeft_ > 0 && count_ >= 8 + 8 * overrun_ && pos < limit) {
    win[pos++] = uint8_t(bits_);
    bits_ >>= 8;
    count_ -= 8;
    --storedLeft_;
  }
  if (storedLeft_ > 0 && count_ < 8 + 8 * overrun_) {
    // The bit buffer is empty of real bytes: copy straight from the input.
    bits_ = 0;
    count_ = 0;
    if (overrun_) return TRun::Bad;
    const size_t n = std::min({size_t(storedLeft_), limit - pos, size_t(iend_ - ip_)});
    std::memcpy(win + pos, ip_, n);
    pos += n;
    ip_ += n;
    storedLeft_ -= uint32_t(n);
  }
  if (storedLeft_ == 0) return TRun::End;
  if (pos == limit) return exact ? TRun::TooLong : TRun::NeedOutput;
  return final_ ? TRun::Bad : TRun::NeedInput;
}

TRun TInflate64::Codes(uint8_t* win, size_t& pos, size_t limit, bool exact) {
  uint64_t bits = bits_;
  unsigned count = count_;
  auto refill = [&] {  // the bit buffer lives in locals inside the loop
    bits_ = bits;
    count_ = count;
    Refill();
    bits = bits_;
    count = count_;
  };
  TRun r;
  for (;;) {
    if (!final_ && iend_ - ip_ < 16) {
      r = TRun::NeedInput;
      break;
    }
    if (!exact && limit - pos < kMaxMatch) {
      r = TRun::NeedOutput;
      break;
    }
    if (overrun_ && 8 * size_t(overrun_) > count) {
      r = TRun::Bad;  // the last symbol took bits the input does not have
      break;
    }
    refill();
    const uint32_t e = Lookup(lit_, kLitBits, bits, count);
    const unsigned sym = e >> 8;
    if (e & kBad) {
      r = TRun::Bad;
      break;
    }
    if (sym < 256) {
      if (pos == limit) {
        r = TRun::TooLong;
        break;
      }
      win[pos++] = uint8_t(sym);
      continue;
    }
    if (sym == 256) {
      r = TRun::End;
      break;
    }
    if (sym > 285) {
      r = TRun::Bad;
      break;
    }
    const unsigned li = sym - 257;
    const size_t len = kLenBase[li] + size_t(bits & ((uint64_t(1) << kLenExtra[li]) - 1));
    bits >>= kLenExtra[li];
    count -= kLenExtra[li];
    refill();
    const uint32_t d = Lookup(dist_, kDistBits, bits, count);
    if (d & kBad) {
      r = TRun::Bad;
      break;
    }
    const unsigned ds = d >> 8;
    const size_t dist = kDistBase[ds] + size_t(bits & ((uint64_t(1) << kDistExtra[ds]) - 1));
    bits >>= kDistExtra[ds];
    count -= kDistExtra[ds];
    if (dist > pos) {
      r = TRun::Bad;
      break;
    }
    if (len > limit - pos) {
      r = TRun::TooLong;
      break;
    }
    uint8_t* dst = win + pos;
    const uint8_t* src = dst - dist;
    if (dist >= len) {
      std::memcpy(dst, src, len);
    } else if (dist == 1) {
      std::memset(dst, *src, len);
    } else {
      // The bytes from src repeat with period `dist`: every copy may take all that lies between.
      for (size_t n = len; n > 0;) {
        const size_t k = std::min(n, size_t(dst - src));
        std::memcpy(dst, src, k);
        dst += k;
        n -= k;
      }
    }
    pos += len;
  }
  bits_ = bits;
  count_ = count;
  if (r != TRun::Bad && Overran()) return TRun::Bad;
  return r;
}

class TDeflate64Decoder final : public TStreamDecoder {
 public:
  TDeflate64Decoder() : core_(new TInflate64), in_(kInSize), win_(kWindow + kWork) {}

  TDecodeStatus Step(const uint8_t* in, size_t inLen, size_t& consumed, uint8_t* out, size_t outLen,
                     size_t& produced, bool inputEnd, bool& finished) override {
    consumed = produced = 0;
    finished = false;
    if (inPos_ > 0) {
      std::memmove(in_.data(), in_.data() + inPos_, inHave_ - inPos_);
      inHave_ -= inPos_;
      inPos_ = 0;
    }
    consumed = std::min(inLen, in_.size() - inHave_);
    if (consumed) std::memcpy(in_.data() + inHave_, in, consumed);
    inHave_ += consumed;
    const bool final = inputEnd && consumed == inLen;
    Deliver(out, outLen, produced);
    while (!core_->Done() && produced < outLen) {
      if (winOut_ == winPos_ && win_.size() - winPos_ < kMaxMatch + 1) {
        const size_t keep = std::min(winPos_, kWindow);
        std::memmove(win_.data(), win_.data() + winPos_ - keep, keep);
        winPos_ = winOut_ = keep;
      }
      size_t used = 0;
      const TRun r = core_->Run(in_.data() + inPos_, inHave_ - inPos_, final, used, win_.data(), winPos_,
                                win_.size(), false);
      inPos_ += used;
      if (r == TRun::Bad) return TDecodeStatus::BadData;
      if (r == TRun::TooLong) return TDecodeStatus::TooLong;
      Deliver(out, outLen, produced);
      if (r == TRun::NeedInput) {
        if (final) return TDecodeStatus::BadData;
        break;
      }
    }
    Deliver(out, outLen, produced);
    finished = core_->Done() && winOut_ == winPos_;
    return TDecodeStatus::Ok;
  }

 private:
  static constexpr size_t kInSize = size_t(64) << 10;
  static constexpr size_t kWork = size_t(1) << 20;

  void Deliver(uint8_t* out, size_t outLen, size_t& produced) {
    const size_t n = std::min(winPos_ - winOut_, outLen - produced);
    if (n) std::memcpy(out + produced, win_.data() + winOut_, n);
    winOut_ += n;
    produced += n;
  }

  std::unique_ptr<TInflate64> core_;
  std::vector<uint8_t> in_;
  size_t inPos_ = 0, inHave_ = 0;
  std::vector<uint8_t> win_;
  size_t winPos_ = 0, winOut_ = 0;
};

}  // namespace

TDecodeStatus Deflate64Whole(const uint8_t* in, size_t inLen, uint8_t* out, size_t outLen) {
  auto core = std::make_unique<TInflate64>();
  size_t used = 0, pos = 0;
  switch (core->Run(in, inLen, true, used, out, pos, outLen, true)) {
    case TRun::End: return pos == outLen ? TDecodeStatus::Ok : TDecodeStatus::TooShort;
    case TRun::TooLong: return TDecodeStatus::TooLong;
    default: return TDecodeStatus::BadData;
  }
}

std::unique_ptr<TStreamDecoder> MakeDeflate64Decoder() { return std::make_unique<TDeflate64Decoder>(); }

}  // namespace unzeng
