#pragma once
// RAR encryption: the key derivations of RAR 5 (PBKDF2-HMAC-SHA256, AES-256) and RAR 3/4 (SHA-1 over
// the UTF-16LE password and salt, AES-128), and AES-CBC decryption of a stream cut at any length.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace rarcrypt {

#ifndef TANDOR_RAR_MAX_KDF
#define TANDOR_RAR_MAX_KDF 24  // 2^24 rounds at most, as RAR itself allows (the fuzz build lowers it)
#endif
constexpr unsigned kMaxRar5KdfCount = TANDOR_RAR_MAX_KDF;

struct TRar5Keys {
  uint8_t key[32];
  uint8_t hashKey[32];  // for the checksums of entries with "tweaked" checksums
  uint8_t check[8];     // the password check value
};

// `kdfCount` is the binary logarithm of the round count; false when it is out of range.
bool DeriveRar5(const std::string& password, const uint8_t salt[16], unsigned kdfCount, TRar5Keys& out);
// The stored form of a CRC-32 under "tweaked" checksums (an HMAC of it folded to 32 bits).
uint32_t Rar5TweakedCrc(uint32_t crc, const uint8_t hashKey[32]);
// The 4-byte check of a password check value (the start of its SHA-256).
bool Rar5CheckValueSound(const uint8_t check[8], const uint8_t sum[4]);

// RAR 3/4: AES-128 key and IV from the password (UTF-8, taken as UTF-16LE) and an 8-byte salt.
void DeriveRar3(const std::string& password, const uint8_t salt[8], uint8_t key[16], uint8_t iv[16]);

// A key and the first IV of one encrypted stream.
struct TCipherKey {
  std::vector<uint8_t> key;  // 16 or 32 bytes
  uint8_t iv[16];
};

// AES-CBC decryption of a stream fed in pieces of any length; whole blocks come out.
class TCbcStream {
 public:
  explicit TCbcStream(const TCipherKey& k);
  ~TCbcStream();
  TCbcStream(const TCbcStream&) = delete;
  TCbcStream& operator=(const TCbcStream&) = delete;
  // Decrypts `n` bytes into `out` (room for n + 16); returns the bytes written (whole blocks).
  size_t Feed(const uint8_t* in, size_t n, uint8_t* out);
  bool Ok() const { return ctx_ != nullptr; }

 private:
  void* ctx_ = nullptr;
  uint8_t carry_[16];
  size_t carried_ = 0;
};

// Decrypts whole blocks in place (headers); `n` is a multiple of 16.
bool DecryptCbc(const TCipherKey& k, uint8_t* data, size_t n);

}  // namespace rarcrypt
