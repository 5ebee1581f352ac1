#include "ZipCrypto.h"

#include <random>

namespace zipfmt {
namespace {

struct CrcTable {
  uint32_t t[256];
  CrcTable() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
  }
};
const CrcTable kCrc;

inline uint32_t Crc32Byte(uint32_t crc, uint8_t b) { return kCrc.t[(crc ^ b) & 0xFF] ^ (crc >> 8); }

}  // namespace

ZipCrypto::ZipCrypto(std::string_view password) {
  keys_[0] = 0x12345678u;
  keys_[1] = 0x23456789u;
  keys_[2] = 0x34567890u;
  for (char c : password) Update(uint8_t(c));
}

void ZipCrypto::Update(uint8_t plain) {
  keys_[0] = Crc32Byte(keys_[0], plain);
  keys_[1] = (keys_[1] + (keys_[0] & 0xFF)) * 134775813u + 1;
  keys_[2] = Crc32Byte(keys_[2], uint8_t(keys_[1] >> 24));
}

void ZipCrypto::Encrypt(uint8_t* data, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    uint8_t plain = data[i];
    data[i] = plain ^ StreamByte();
    Update(plain);
  }
}

void ZipCrypto::Decrypt(uint8_t* data, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    uint8_t plain = data[i] ^ StreamByte();
    Update(plain);
    data[i] = plain;
  }
}

void ZipCrypto::MakeHeader(uint8_t header[kCryptHeaderSize], uint8_t check) {
  static thread_local std::mt19937 rng{std::random_device{}()};
  for (size_t i = 0; i + 1 < kCryptHeaderSize; ++i) header[i] = uint8_t(rng());
  header[kCryptHeaderSize - 1] = check;
  Encrypt(header, kCryptHeaderSize);
}

uint8_t ZipCrypto::ReadHeader(uint8_t header[kCryptHeaderSize]) {
  Decrypt(header, kCryptHeaderSize);
  return header[kCryptHeaderSize - 1];
}

}  // namespace zipfmt
