#include "rar/RarCrypto.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>

namespace rarcrypt {

namespace {

struct TMdFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
using TMd = std::unique_ptr<EVP_MD_CTX, TMdFree>;

// HMAC-SHA256 with the key's inner and outer states computed once.
class THmac {
 public:
  THmac(const uint8_t* key, size_t keyLen) : inner_(EVP_MD_CTX_new()), outer_(EVP_MD_CTX_new()), work_(EVP_MD_CTX_new()) {
    uint8_t k[64] = {};
    if (keyLen > 64) {
      unsigned n = 0;
      EVP_Digest(key, keyLen, k, &n, EVP_sha256(), nullptr);
    } else if (keyLen) {
      std::memcpy(k, key, keyLen);
    }
    uint8_t pad[64];
    for (int i = 0; i < 64; ++i) pad[i] = k[i] ^ 0x36;
    EVP_DigestInit_ex(inner_.get(), EVP_sha256(), nullptr);
    EVP_DigestUpdate(inner_.get(), pad, 64);
    for (int i = 0; i < 64; ++i) pad[i] = k[i] ^ 0x5C;
    EVP_DigestInit_ex(outer_.get(), EVP_sha256(), nullptr);
    EVP_DigestUpdate(outer_.get(), pad, 64);
  }
  void Mac(const uint8_t* data, size_t n, uint8_t out[32]) {
    uint8_t mid[32];
    unsigned len = 0;
    EVP_MD_CTX_copy_ex(work_.get(), inner_.get());
    EVP_DigestUpdate(work_.get(), data, n);
    EVP_DigestFinal_ex(work_.get(), mid, &len);
    EVP_MD_CTX_copy_ex(work_.get(), outer_.get());
    EVP_DigestUpdate(work_.get(), mid, 32);
    EVP_DigestFinal_ex(work_.get(), out, &len);
  }

 private:
  TMd inner_, outer_, work_;
};

// UTF-8 to UTF-16LE bytes (invalid sequences taken byte by byte).
std::string Utf16Le(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<uint8_t>(s[i]);
    uint32_t cp = c;
    size_t len = 1;
    if (c >= 0xF0 && i + 3 < s.size()) {
      cp = ((c & 0x07u) << 18) | ((uint8_t(s[i + 1]) & 0x3Fu) << 12) | ((uint8_t(s[i + 2]) & 0x3Fu) << 6) |
           (uint8_t(s[i + 3]) & 0x3Fu);
      len = 4;
    } else if (c >= 0xE0 && i + 2 < s.size()) {
      cp = ((c & 0x0Fu) << 12) | ((uint8_t(s[i + 1]) & 0x3Fu) << 6) | (uint8_t(s[i + 2]) & 0x3Fu);
      len = 3;
    } else if (c >= 0xC0 && i + 1 < s.size()) {
      cp = ((c & 0x1Fu) << 6) | (uint8_t(s[i + 1]) & 0x3Fu);
      len = 2;
    }
    i += len;
    auto put = [&out](uint32_t u) {
      out += char(u & 0xFF);
      out += char((u >> 8) & 0xFF);
    };
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put(0xD800 + (cp >> 10));
      put(0xDC00 + (cp & 0x3FF));
    } else {
      put(cp);
    }
  }
  return out;
}

}  // namespace

bool DeriveRar5(const std::string& password, const uint8_t salt[16], unsigned kdfCount, TRar5Keys& out) {
  if (kdfCount > kMaxRar5KdfCount) return false;
  THmac hmac(reinterpret_cast<const uint8_t*>(password.data()), password.size());
  uint8_t block[20];
  std::memcpy(block, salt, 16);
  block[16] = block[17] = block[18] = 0;
  block[19] = 1;
  uint8_t u[32], fn[32];
  hmac.Mac(block, sizeof block, u);
  std::memcpy(fn, u, 32);
  // The key after 2^count rounds; the hash key 16 rounds later; the check value 16 rounds after that.
  const uint32_t rounds[3] = {(uint32_t(1) << kdfCount) - 1, 16, 16};
  uint8_t* values[3] = {out.key, out.hashKey, nullptr};
  uint8_t checkFull[32];
  values[2] = checkFull;
  for (int v = 0; v < 3; ++v) {
    for (uint32_t r = 0; r < rounds[v]; ++r) {
      hmac.Mac(u, 32, u);
      for (int i = 0; i < 32; ++i) fn[i] ^= u[i];
    }
    std::memcpy(values[v], fn, 32);
  }
  std::memset(out.check, 0, 8);
  for (int i = 0; i < 32; ++i) out.check[i % 8] ^= checkFull[i];
  return true;
}

uint32_t Rar5TweakedCrc(uint32_t crc, const uint8_t hashKey[32]) {
  THmac hmac(hashKey, 32);
  const uint8_t raw[4] = {uint8_t(crc), uint8_t(crc >> 8), uint8_t(crc >> 16), uint8_t(crc >> 24)};
  uint8_t d[32];
  hmac.Mac(raw, 4, d);
  uint32_t r = 0;
  for (int i = 0; i < 32; ++i) r ^= uint32_t(d[i]) << ((i & 3) * 8);
  return r;
}

bool Rar5CheckValueSound(const uint8_t check[8], const uint8_t sum[4]) {
  uint8_t d[32];
  unsigned n = 0;
  EVP_Digest(check, 8, d, &n, EVP_sha256(), nullptr);
  return std::memcmp(d, sum, 4) == 0;
}

void DeriveRar3(const std::string& password, const uint8_t salt[8], uint8_t key[16], uint8_t iv[16]) {
  std::string raw = Utf16Le(password.substr(0, 127));
  raw.append(reinterpret_cast<const char*>(salt), 8);
  TMd c(EVP_MD_CTX_new()), tmp(EVP_MD_CTX_new());
  EVP_DigestInit_ex(c.get(), EVP_sha1(), nullptr);
  constexpr uint32_t kRounds = 0x40000;
  uint8_t d[20];
  unsigned n = 0;
  for (uint32_t i = 0; i < kRounds; ++i) {
    EVP_DigestUpdate(c.get(), raw.data(), raw.size());
    const uint8_t num[3] = {uint8_t(i), uint8_t(i >> 8), uint8_t(i >> 16)};
    EVP_DigestUpdate(c.get(), num, 3);
    if (i % (kRounds / 16) == 0) {
      EVP_MD_CTX_copy_ex(tmp.get(), c.get());
      EVP_DigestFinal_ex(tmp.get(), d, &n);
      iv[i / (kRounds / 16)] = d[19];
    }
  }
  EVP_DigestFinal_ex(c.get(), d, &n);
  // The digest's first four big-endian words, each written little-endian.
  for (int w = 0; w < 4; ++w)
    for (int b = 0; b < 4; ++b) key[w * 4 + b] = d[w * 4 + 3 - b];
}

TCbcStream::TCbcStream(const TCipherKey& k) {
  EVP_CIPHER_CTX* c = EVP_CIPHER_CTX_new();
  const EVP_CIPHER* type = k.key.size() == 32 ? EVP_aes_256_cbc() : k.key.size() == 16 ? EVP_aes_128_cbc() : nullptr;
  if (c && type && EVP_DecryptInit_ex(c, type, nullptr, k.key.data(), k.iv) == 1) {
    EVP_CIPHER_CTX_set_padding(c, 0);
    ctx_ = c;
  } else if (c) {
    EVP_CIPHER_CTX_free(c);
  }
}

TCbcStream::~TCbcStream() {
  if (ctx_) EVP_CIPHER_CTX_free(static_cast<EVP_CIPHER_CTX*>(ctx_));
}

size_t TCbcStream::Feed(const uint8_t* in, size_t n, uint8_t* out) {
  if (!ctx_) return 0;
  auto* c = static_cast<EVP_CIPHER_CTX*>(ctx_);
  size_t done = 0;
  int len = 0;
  if (carried_) {
    const size_t take = std::min(n, 16 - carried_);
    std::memcpy(carry_ + carried_, in, take);
    carried_ += take;
    in += take;
    n -= take;
    if (carried_ < 16) return 0;
    EVP_DecryptUpdate(c, out, &len, carry_, 16);
    done += size_t(len);
    carried_ = 0;
  }
  const size_t whole = n & ~size_t(15);
  for (size_t at = 0; at < whole;) {
    const size_t piece = std::min<size_t>(whole - at, size_t(1) << 30);
    EVP_DecryptUpdate(c, out + done, &len, in + at, int(piece));
    done += size_t(len);
    at += piece;
  }
  carried_ = n - whole;
  std::memcpy(carry_, in + whole, carried_);
  return done;
}

bool DecryptCbc(const TCipherKey& k, uint8_t* data, size_t n) {
  if (n % 16) return false;
  TCbcStream s(k);
  if (!s.Ok()) return false;
  std::vector<uint8_t> out(n + 16);
  if (s.Feed(data, n, out.data()) != n) return false;
  std::memcpy(data, out.data(), n);
  return true;
}

}  // namespace rarcrypt
