#pragma once
// Decryption layers applied to an entry's data before it is decompressed.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace unzeng {

class TDecryptor {
 public:
  virtual ~TDecryptor() = default;
  // Decrypts `n` bytes in place, in stream order.
  virtual void Decrypt(uint8_t* data, size_t n) = 0;
  // After all data: true when the trailing authentication (if any) matches. `trailer` holds the
  // bytes after the data (WinZip AES: the 10-byte code).
  virtual bool Authenticate(const uint8_t* trailer, size_t n) { return true; }
  // Bytes in front of the data and behind it that belong to the encryption.
  virtual size_t HeaderSize() const = 0;
  virtual size_t TrailerSize() const { return 0; }
};

// WinZip AES (AE-1/AE-2). `strength` 1, 2, 3 = 128, 192, 256 bits.
struct TAesInfo {
  uint16_t vendorVersion = 0;  // 1 = AE-1 (CRC kept), 2 = AE-2 (CRC 0)
  uint8_t strength = 0;
  uint16_t method = 0;          // the real compression method
};

// Parses the 0x9901 extra field out of an extra block; false when absent or malformed.
bool FindAesExtra(const uint8_t* extra, size_t len, TAesInfo& info);

size_t AesSaltSize(uint8_t strength);  // 0 for an unknown strength

// Derives the keys from the password and the salt at the start of the data; returns null when the
// stored password verifier does not match. `header` holds salt + 2-byte verifier.
std::unique_ptr<TDecryptor> MakeAesDecryptor(const std::string& password, uint8_t strength, const uint8_t* header);

}  // namespace unzeng
