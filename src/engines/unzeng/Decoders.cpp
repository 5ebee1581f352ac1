#include "Decoders.h"

#include <bzlib.h>
#include <libdeflate.h>
#include <lzma.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "Deflate64.h"
#include "codec/Inflate.h"

namespace unzeng {

const char* DecodeStatusText(TDecodeStatus s) {
  switch (s) {
    case TDecodeStatus::Ok: return "ok";
    case TDecodeStatus::BadData: return "compressed data is damaged or truncated";
    case TDecodeStatus::TooLong: return "data is larger than its declared size";
    case TDecodeStatus::TooShort: return "data is shorter than its declared size";
    case TDecodeStatus::Unsupported: return "unsupported compression method";
    case TDecodeStatus::NoMemory: return "not enough memory";
  }
  return "?";
}

bool MethodSupported(uint16_t method) {
  return method == MethodStored || method == MethodDeflate || method == MethodDeflate64 || method == MethodBzip2 ||
         method == MethodLzma;
}

std::string MethodName(uint16_t method) {
  switch (method) {
    case 0: return "Stored";
    case 1: return "Shrunk";
    case 2: case 3: case 4: case 5: return "Reduced";
    case 6: return "Imploded";
    case 8: return "Deflate";
    case 9: return "Deflate64";
    case 10: return "PKWARE DCL Implode";
    case 12: return "BZip2";
    case 14: return "LZMA";
    case 18: return "IBM TERSE";
    case 19: return "IBM LZ77";
    case 93: return "Zstandard";
    case 94: return "MP3";
    case 95: return "XZ";
    case 96: return "JPEG";
    case 97: return "WavPack";
    case 98: return "PPMd";
    default: return "method " + std::to_string(method);
  }
}

namespace {

class TStoredDecoder final : public TStreamDecoder {
 public:
  TDecodeStatus Step(const uint8_t* in, size_t inLen, size_t& consumed, uint8_t* out, size_t outLen,
                     size_t& produced, bool inputEnd, bool& finished) override {
    size_t n = std::min(inLen, outLen);
    if (n) std::memcpy(out, in, n);
    consumed = produced = n;
    finished = inputEnd && n == inLen;
    return TDecodeStatus::Ok;
  }
};

// Streaming inflate through the codec (ISA-L, or zlib when the build chose it).
class TInflateDecoder final : public TStreamDecoder {
 public:
  TDecodeStatus Step(const uint8_t* in, size_t inLen, size_t& consumed, uint8_t* out, size_t outLen,
                     size_t& produced, bool inputEnd, bool& finished) override {
    codec::TInflateStatus r = inflater_.Step(in, inLen, consumed, out, outLen, produced);
    finished = r == codec::TInflateStatus::End;
    return r == codec::TInflateStatus::BadData ? TDecodeStatus::BadData : TDecodeStatus::Ok;
  }

 private:
  codec::TInflater inflater_;
};

class TBzip2Decoder final : public TStreamDecoder {
 public:
  TBzip2Decoder() { ok_ = BZ2_bzDecompressInit(&s_, 0, 0) == BZ_OK; }
  ~TBzip2Decoder() override {
    if (ok_) BZ2_bzDecompressEnd(&s_);
  }
  TDecodeStatus Step(const uint8_t* in, size_t inLen, size_t& consumed, uint8_t* out, size_t outLen,
                     size_t& produced, bool inputEnd, bool& finished) override {
    if (!ok_) return TDecodeStatus::NoMemory;
    unsigned inN = static_cast<unsigned>(std::min<size_t>(inLen, 1u << 30));
    unsigned outN = static_cast<unsigned>(std::min<size_t>(outLen, 1u << 30));
    s_.next_in = reinterpret_cast<char*>(const_cast<uint8_t*>(in));
    s_.avail_in = inN;
    s_.next_out = reinterpret_cast<char*>(out);
    s_.avail_out = outN;
    int r = BZ2_bzDecompress(&s_);
    consumed = inN - s_.avail_in;
    produced = outN - s_.avail_out;
    finished = r == BZ_STREAM_END;
    if (r == BZ_OK || r == BZ_STREAM_END) return TDecodeStatus::Ok;
    if (r == BZ_MEM_ERROR) return TDecodeStatus::NoMemory;
    return TDecodeStatus::BadData;
  }

 private:
  bz_stream s_{};
  bool ok_ = false;
};

// Zip LZMA data: 2 bytes version, 2 bytes properties size (5), the properties, then a raw LZMA1
// stream with or without an end marker.
class TLzmaDecoder final : public TStreamDecoder {
 public:
  TLzmaDecoder(uint64_t declaredSize) : size_(declaredSize) {}
  ~TLzmaDecoder() override { lzma_end(&s_); }
  TDecodeStatus Step(const uint8_t* in, size_t inLen, size_t& consumed, uint8_t* out, size_t outLen,
                     size_t& produced, bool inputEnd, bool& finished) override {
    consumed = produced = 0;
    finished = false;
    if (!started_) {
      while (header_.size() < 4 && consumed < inLen) header_.push_back(static_cast<char>(in[consumed++]));
      if (header_.size() >= 4) {
        size_t propsLen = static_cast<uint8_t>(header_[2]) | (static_cast<uint8_t>(header_[3]) << 8);
        if (propsLen != 5) return TDecodeStatus::BadData;
        while (header_.size() < 4 + propsLen && consumed < inLen) header_.push_back(static_cast<char>(in[consumed++]));
        if (header_.size() == 4 + propsLen) {
          TDecodeStatus st = Start(reinterpret_cast<const uint8_t*>(header_.data()) + 4, propsLen);
          if (st != TDecodeStatus::Ok) return st;
        }
      }
      if (!started_) return inputEnd && consumed == inLen ? TDecodeStatus::BadData : TDecodeStatus::Ok;
    }
    s_.next_in = in + consumed;
    s_.avail_in = inLen - consumed;
    s_.next_out = out;
    s_.avail_out = outLen;
    lzma_ret r = lzma_code(&s_, LZMA_RUN);
    consumed = inLen - s_.avail_in;
    produced = outLen - s_.avail_out;
    finished = r == LZMA_STREAM_END;
    if (r == LZMA_OK || r == LZMA_STREAM_END || r == LZMA_BUF_ERROR) return TDecodeStatus::Ok;
    if (r == LZMA_MEM_ERROR || r == LZMA_MEMLIMIT_ERROR) return TDecodeStatus::NoMemory;
    return TDecodeStatus::BadData;
  }

 private:
  TDecodeStatus Start(const uint8_t* props, size_t propsLen) {
    lzma_filter filters[2];
    filters[0].id = LZMA_FILTER_LZMA1;
    filters[0].options = nullptr;
    if (lzma_properties_decode(&filters[0], nullptr, props, propsLen) != LZMA_OK) return TDecodeStatus::BadData;
    auto* opt = static_cast<lzma_options_lzma*>(filters[0].options);
    filters[0].id = LZMA_FILTER_LZMA1EXT;
    opt->ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
    opt->ext_size_low = static_cast<uint32_t>(size_);
    opt->ext_size_high = static_cast<uint32_t>(size_ >> 32);
    filters[1].id = LZMA_VLI_UNKNOWN;
    filters[1].options = nullptr;
    lzma_ret r = lzma_raw_decoder(&s_, filters);
    std::free(opt);
    if (r == LZMA_MEM_ERROR) return TDecodeStatus::NoMemory;
    if (r != LZMA_OK) return TDecodeStatus::BadData;
    started_ = true;
    return TDecodeStatus::Ok;
  }

  lzma_stream s_ = LZMA_STREAM_INIT;
  uint64_t size_;
  std::string header_;
  bool started_ = false;
};

// Runs a stream decoder over a complete input into an output of exactly the declared size.
TDecodeStatus RunWhole(TStreamDecoder& dec, const uint8_t* in, size_t inLen, uint8_t* out, size_t outLen) {
  size_t inPos = 0, outPos = 0;
  bool finished = false;
  uint8_t probe[16];
  while (!finished) {
    bool probing = outPos >= outLen;
    size_t c = 0, p = 0;
    TDecodeStatus st = dec.Step(in + inPos, inLen - inPos, c, probing ? probe : out + outPos,
                                probing ? sizeof probe : outLen - outPos, p, true, finished);
    if (st != TDecodeStatus::Ok) return st;
    if (probing && p > 0) return TDecodeStatus::TooLong;
    inPos += c;
    outPos += p;
    if (!finished && c == 0 && p == 0) return outPos < outLen ? TDecodeStatus::BadData : TDecodeStatus::BadData;
  }
  return outPos == outLen ? TDecodeStatus::Ok : TDecodeStatus::TooShort;
}

struct TDeflateFree {
  void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

libdeflate_decompressor* ThreadDecompressor() {
  thread_local std::unique_ptr<libdeflate_decompressor, TDeflateFree> d(libdeflate_alloc_decompressor());
  return d.get();
}

}  // namespace

std::unique_ptr<TStreamDecoder> MakeStreamDecoder(uint16_t method, uint64_t declaredSize, bool lzmaEndMarker) {
  switch (method) {
    case MethodStored: return std::make_unique<TStoredDecoder>();
    case MethodDeflate: return std::make_unique<TInflateDecoder>();
    case MethodDeflate64: return MakeDeflate64Decoder();
    case MethodBzip2: return std::make_unique<TBzip2Decoder>();
    case MethodLzma: return std::make_unique<TLzmaDecoder>(declaredSize);
    default: return nullptr;
  }
}

TDecodeStatus DecodeWhole(uint16_t method, const uint8_t* in, size_t inLen, uint8_t* out, size_t outLen,
                          bool lzmaEndMarker) {
  if (method == MethodStored) {
    if (inLen > outLen) return TDecodeStatus::TooLong;
    if (inLen < outLen) return TDecodeStatus::TooShort;
    if (inLen) std::memcpy(out, in, inLen);
    return TDecodeStatus::Ok;
  }
  if (method == MethodDeflate) {
    libdeflate_decompressor* d = ThreadDecompressor();
    if (!d) return TDecodeStatus::NoMemory;
    size_t used = 0, actual = 0;
    libdeflate_result r = libdeflate_deflate_decompress_ex(d, in, inLen, out, outLen, &used, &actual);
    if (r == LIBDEFLATE_SUCCESS) return actual == outLen ? TDecodeStatus::Ok : TDecodeStatus::TooShort;
    if (r == LIBDEFLATE_INSUFFICIENT_SPACE) return TDecodeStatus::TooLong;
    return TDecodeStatus::BadData;
  }
  if (method == MethodDeflate64) return Deflate64Whole(in, inLen, out, outLen);
  auto dec = MakeStreamDecoder(method, outLen, lzmaEndMarker);
  if (!dec) return TDecodeStatus::Unsupported;
  return RunWhole(*dec, in, inLen, out, outLen);
}

}  // namespace unzeng
