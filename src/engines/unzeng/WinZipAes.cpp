#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <cstring>
#include <vector>

#include "Decryptor.h"

namespace unzeng {

namespace {

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

constexpr size_t kAuthCodeSize = 10;
constexpr size_t kVerifierSize = 2;

// AES in counter mode with WinZip's little-endian counter starting at 1, and HMAC-SHA1 over the
// encrypted bytes.
class TAesDecryptor final : public TDecryptor {
 public:
  TAesDecryptor(uint8_t strength) : saltSize_(AesSaltSize(strength)), keySize_(saltSize_ * 2) {}
  ~TAesDecryptor() override {
    EVP_CIPHER_CTX_free(cipher_);
    EVP_MAC_CTX_free(mac_);
  }

  bool Init(const std::string& password, const uint8_t* header) {
    std::vector<uint8_t> derived(keySize_ * 2 + kVerifierSize);
    if (PKCS5_PBKDF2_HMAC_SHA1(password.data(), static_cast<int>(password.size()), header,
                               static_cast<int>(saltSize_), 1000, static_cast<int>(derived.size()),
                               derived.data()) != 1)
      return false;
    if (std::memcmp(derived.data() + keySize_ * 2, header + saltSize_, kVerifierSize) != 0) return false;
    const EVP_CIPHER* c = keySize_ == 16 ? EVP_aes_128_ecb() : keySize_ == 24 ? EVP_aes_192_ecb() : EVP_aes_256_ecb();
    cipher_ = EVP_CIPHER_CTX_new();
    if (!cipher_ || EVP_EncryptInit_ex(cipher_, c, nullptr, derived.data(), nullptr) != 1) return false;
    EVP_CIPHER_CTX_set_padding(cipher_, 0);
    EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    if (!mac) return false;
    mac_ = EVP_MAC_CTX_new(mac);
    EVP_MAC_free(mac);
    char digest[] = "SHA1";
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0), OSSL_PARAM_construct_end()};
    if (!mac_ || EVP_MAC_init(mac_, derived.data() + keySize_, keySize_, params) != 1) return false;
    return true;
  }

  void Decrypt(uint8_t* data, size_t n) override {
    EVP_MAC_update(mac_, data, n);
    size_t i = 0;
    // Leftover key stream from the previous call.
    while (i < n && streamPos_ < stream_.size()) data[i++] ^= stream_[streamPos_++];
    while (i < n) {
      size_t remaining = n - i;
      size_t blocks = std::min<size_t>((remaining + 15) / 16, kBatchBlocks);
      FillKeyStream(blocks);
      size_t take = std::min(remaining, blocks * 16);
      for (size_t k = 0; k < take; ++k) data[i + k] ^= stream_[k];
      streamPos_ = take;
      i += take;
    }
  }

  bool Authenticate(const uint8_t* trailer, size_t n) override {
    if (n != kAuthCodeSize) return false;
    uint8_t code[EVP_MAX_MD_SIZE];
    size_t len = 0;
    if (EVP_MAC_final(mac_, code, &len, sizeof code) != 1 || len < kAuthCodeSize) return false;
    return std::memcmp(code, trailer, kAuthCodeSize) == 0;
  }

  size_t HeaderSize() const override { return saltSize_ + kVerifierSize; }
  size_t TrailerSize() const override { return kAuthCodeSize; }

 private:
  static constexpr size_t kBatchBlocks = 4096;

  void FillKeyStream(size_t blocks) {
    counters_.resize(blocks * 16);
    for (size_t b = 0; b < blocks; ++b) {
      // 128-bit little-endian increment.
      for (int k = 0; k < 16 && ++counter_[k] == 0; ++k) {
      }
      std::memcpy(counters_.data() + b * 16, counter_, 16);
    }
    stream_.resize(blocks * 16);
    int outLen = 0;
    EVP_EncryptUpdate(cipher_, stream_.data(), &outLen, counters_.data(), static_cast<int>(blocks * 16));
    streamPos_ = 0;
  }

  size_t saltSize_, keySize_;
  EVP_CIPHER_CTX* cipher_ = nullptr;
  EVP_MAC_CTX* mac_ = nullptr;
  uint8_t counter_[16] = {};
  std::vector<uint8_t> counters_, stream_;
  size_t streamPos_ = 0;
};

}  // namespace

size_t AesSaltSize(uint8_t strength) {
  switch (strength) {
    case 1: return 8;
    case 2: return 12;
    case 3: return 16;
    default: return 0;
  }
}

bool FindAesExtra(const uint8_t* extra, size_t len, TAesInfo& info) {
  size_t pos = 0;
  while (pos + 4 <= len) {
    uint16_t id = Le16(extra + pos), size = Le16(extra + pos + 2);
    if (pos + 4 + size > len) return false;
    if (id == 0x9901) {
      if (size < 7) return false;
      const uint8_t* d = extra + pos + 4;
      if (d[2] != 'A' || d[3] != 'E') return false;
      info.vendorVersion = Le16(d);
      info.strength = d[4];
      info.method = Le16(d + 5);
      return AesSaltSize(info.strength) != 0;
    }
    pos += 4 + size;
  }
  return false;
}

std::unique_ptr<TDecryptor> MakeAesDecryptor(const std::string& password, uint8_t strength, const uint8_t* header) {
  if (AesSaltSize(strength) == 0) return nullptr;
  auto d = std::make_unique<TAesDecryptor>(strength);
  if (!d->Init(password, header)) return nullptr;
  return d;
}

}  // namespace unzeng
