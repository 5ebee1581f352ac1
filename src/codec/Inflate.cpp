#include "codec/Inflate.h"

#include <algorithm>
#include <new>

#ifdef TANDOR_WITH_ISAL
#include <isa-l/igzip_lib.h>
#else
#include <zlib.h>
#endif

namespace codec {

#ifdef TANDOR_WITH_ISAL

struct TInflater::TImpl {
  inflate_state s;
  bool ended = false;
};

TInflater::TInflater() : impl_(std::make_unique<TImpl>()) { Reset(); }
TInflater::~TInflater() = default;

void TInflater::Reset() {
  isal_inflate_init(&impl_->s);
  impl_->s.crc_flag = ISAL_DEFLATE;
  impl_->ended = false;
}

TInflateStatus TInflater::Step(const uint8_t* in, size_t inLen, size_t& consumed, uint8_t* out, size_t outLen,
                               size_t& produced) {
  inflate_state& s = impl_->s;
  consumed = produced = 0;
  if (impl_->ended) return TInflateStatus::End;
  const uint32_t inN = uint32_t(std::min<size_t>(inLen, 1u << 30));
  const uint32_t outN = uint32_t(std::min<size_t>(outLen, 1u << 30));
  s.next_in = const_cast<uint8_t*>(in);
  s.avail_in = inN;
  s.next_out = out;
  s.avail_out = outN;
  int r = isal_inflate(&s);
  consumed = inN - s.avail_in;
  produced = outN - s.avail_out;
  if (r < 0) return TInflateStatus::BadData;
  if (s.block_state == ISAL_BLOCK_FINISH) {
    impl_->ended = true;
    return TInflateStatus::End;
  }
  return TInflateStatus::Ok;
}

size_t TInflater::TakeBack(uint8_t bytes[8]) {
  inflate_state& s = impl_->s;
  if (!impl_->ended || s.read_in_length <= 0) return 0;
  // Whole bytes left in the bit buffer, after the padding bits of the stream's last byte.
  uint64_t bits = s.read_in >> (s.read_in_length & 7);
  size_t k = size_t(s.read_in_length >> 3);
  for (size_t i = 0; i < k; ++i) bytes[i] = uint8_t(bits >> (8 * i));
  s.read_in = 0;
  s.read_in_length = 0;
  return k;
}

const char* TInflater::Backend() { return "ISA-L"; }

#else

struct TInflater::TImpl {
  z_stream z{};
  bool ready = false;
  bool ended = false;
  ~TImpl() {
    if (ready) inflateEnd(&z);
  }
};

TInflater::TInflater() : impl_(std::make_unique<TImpl>()) {
  if (inflateInit2(&impl_->z, -15) != Z_OK) throw std::bad_alloc();
  impl_->ready = true;
}
TInflater::~TInflater() = default;

void TInflater::Reset() {
  inflateReset(&impl_->z);
  impl_->ended = false;
}

TInflateStatus TInflater::Step(const uint8_t* in, size_t inLen, size_t& consumed, uint8_t* out, size_t outLen,
                               size_t& produced) {
  z_stream& z = impl_->z;
  consumed = produced = 0;
  if (impl_->ended) return TInflateStatus::End;
  const uInt inN = uInt(std::min<size_t>(inLen, 1u << 30));
  const uInt outN = uInt(std::min<size_t>(outLen, 1u << 30));
  z.next_in = const_cast<Bytef*>(in);
  z.avail_in = inN;
  z.next_out = out;
  z.avail_out = outN;
  int r = inflate(&z, Z_NO_FLUSH);
  consumed = inN - z.avail_in;
  produced = outN - z.avail_out;
  if (r == Z_STREAM_END) {
    impl_->ended = true;
    return TInflateStatus::End;
  }
  if (r == Z_MEM_ERROR) throw std::bad_alloc();
  if (r == Z_OK || r == Z_BUF_ERROR) return TInflateStatus::Ok;
  return TInflateStatus::BadData;
}

size_t TInflater::TakeBack(uint8_t*) { return 0; }

const char* TInflater::Backend() { return "zlib"; }

#endif

}  // namespace codec
