#pragma once
// Traditional PKWARE encryption ("ZipCrypto").
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zipfmt {

constexpr size_t kCryptHeaderSize = 12;

class ZipCrypto {
 public:
  explicit ZipCrypto(std::string_view password);
  void Encrypt(uint8_t* data, size_t n);
  void Decrypt(uint8_t* data, size_t n);
  // Builds the 12-byte encryption header (random bytes, the last one `check`) and encrypts it.
  void MakeHeader(uint8_t header[kCryptHeaderSize], uint8_t check);
  // Decrypts a 12-byte header in place and returns its last byte (compare with the check byte:
  // the CRC's high byte, or the DOS time's high byte when the entry has a data descriptor).
  uint8_t ReadHeader(uint8_t header[kCryptHeaderSize]);

 private:
  void Update(uint8_t plain);
  uint8_t StreamByte() const {
    uint32_t t = (keys_[2] | 2) & 0xFFFF;
    return uint8_t((t * (t ^ 1)) >> 8);
  }
  uint32_t keys_[3];
};

}  // namespace zipfmt
