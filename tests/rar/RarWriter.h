#pragma once
// Builds stored RAR 4 archives with chosen contents: marker, main header, file headers with the
// CRC-16 of the header and the CRC-32 of the data, end block.
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace rartest {

struct Rar4Item {
  std::string name;            // stored as given (bytes)
  std::string data;
  uint8_t hostOS = 2;          // 2 Windows, 3 Unix
  uint32_t attr = 0x20;        // DOS attributes or Unix mode
  bool folder = false;
  uint32_t dosTime = 0x5A8B6C21;  // 11 April 2025 13:33:02
  uint16_t extraFlags = 0;     // e.g. 0x04 encrypted, 0x200 Unicode name
  bool badCrc = false;         // store a CRC that the data does not have
};

inline void Put16(std::string& s, uint32_t v) {
  s += char(v & 0xFF);
  s += char((v >> 8) & 0xFF);
}
inline void Put32(std::string& s, uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}
inline uint32_t Crc(const std::string& s) {
  return uint32_t(crc32(0, reinterpret_cast<const Bytef*>(s.data()), uInt(s.size())));
}

// Seals a block whose first two bytes are reserved for HEAD_CRC.
inline std::string Seal(std::string h) {
  const uint32_t crc = Crc(h.substr(2)) & 0xFFFF;
  h[0] = char(crc & 0xFF);
  h[1] = char(crc >> 8);
  return h;
}

inline std::string Rar4Block(uint8_t type, uint16_t flags, const std::string& body) {
  std::string h(2, '\0');
  h += char(type);
  Put16(h, flags);
  Put16(h, uint32_t(7 + body.size()));
  return Seal(h + body);
}

inline std::string Rar4FileBlock(const Rar4Item& it, uint8_t type = 0x74) {
  std::string body;
  Put32(body, uint32_t(it.data.size()));
  Put32(body, uint32_t(it.data.size()));
  body += char(it.hostOS);
  Put32(body, Crc(it.data) ^ (it.badCrc ? 1u : 0u));
  Put32(body, it.dosTime);
  body += char(20);
  body += char(0x30);
  Put16(body, uint32_t(it.name.size()));
  Put32(body, it.folder ? (it.hostOS != 3 ? 0x10 : (it.attr & 0170000) == 040000 ? it.attr : 0x41ED) : it.attr);
  body += it.name;
  const uint16_t flags = uint16_t(0x8000 | (it.folder ? 0xE0 : 0) | it.extraFlags);
  return Rar4Block(type, flags, body) + it.data;
}

inline std::string Rar4Start(uint16_t mainFlags = 0) {
  std::string out("Rar!\x1A\x07\x00", 7);
  std::string body;
  Put16(body, 0);
  Put32(body, 0);
  return out + Rar4Block(0x73, mainFlags, body);
}

inline std::string Rar4End(uint16_t flags = 0x4000) { return Rar4Block(0x7B, flags, ""); }

// A stored archive comment (a "CMT" sub-block right after the main header).
inline std::string Rar4Comment(const std::string& text) {
  Rar4Item it;
  it.name = "CMT";
  it.data = text;
  return Rar4FileBlock(it, 0x7A);
}

// `mainFlags` 0x0008 makes a solid archive; items then carry extraFlags 0x10 after the first.
inline std::string MakeRar4(const std::vector<Rar4Item>& items, uint16_t mainFlags = 0, const std::string& comment = "") {
  std::string out = Rar4Start(mainFlags);
  if (!comment.empty()) out += Rar4Comment(comment);
  for (const Rar4Item& it : items) out += Rar4FileBlock(it);
  return out + Rar4End();
}

}  // namespace rartest

namespace rartest {

// Stored RAR 5 archives: main header, file headers with CRC-32 of the data, end header.
struct Rar5Item {
  std::string name;
  std::string data;
  bool solid = false;  // the compression information's solid bit
  int redirect = 0;    // redirection record: 1 Unix symlink, 3 junction, 4 hard link, 5 file copy
  std::string target;  // its target
  uint32_t unixMode = 0;  // non-zero: a Unix host entry with this mode
  bool folder = false;    // a folder entry (no data, no CRC)
  bool badCrc = false;    // store a CRC that the data does not have
};

inline void AppendVint5(std::string& out, uint64_t v) {
  do {
    uint8_t b = v & 0x7F;
    v >>= 7;
    if (v) b |= 0x80;
    out += char(b);
  } while (v);
}

inline std::string Rar5Header(const std::string& body) {
  std::string sized;
  AppendVint5(sized, body.size());
  sized += body;
  std::string out;
  Put32(out, Crc(sized));
  return out + sized;
}

inline std::string MakeRar5(const std::vector<Rar5Item>& items, bool solidArchive) {
  std::string out("Rar!\x1A\x07\x01\x00", 8);
  std::string main;
  AppendVint5(main, 1);
  AppendVint5(main, 0);
  AppendVint5(main, solidArchive ? 0x0004 : 0);
  out += Rar5Header(main);
  for (const Rar5Item& it : items) {
    std::string extra;
    if (it.redirect) {
      std::string rec;
      AppendVint5(rec, 5);
      AppendVint5(rec, uint64_t(it.redirect));
      AppendVint5(rec, 0);
      AppendVint5(rec, it.target.size());
      rec += it.target;
      AppendVint5(extra, rec.size());
      extra += rec;
    }
    std::string b;
    AppendVint5(b, 2);
    AppendVint5(b, 0x0002 | (extra.empty() ? 0 : 0x0001));
    if (!extra.empty()) AppendVint5(b, extra.size());
    AppendVint5(b, it.data.size());
    AppendVint5(b, it.folder ? 0x0001 | 0x0002 : 0x0004 | 0x0002);  // folder, or CRC; time present
    AppendVint5(b, it.data.size());
    AppendVint5(b, it.unixMode ? it.unixMode : (it.folder ? 0x10 : 0x20));
    Put32(b, 1700000000);
    if (!it.folder) Put32(b, Crc(it.data) ^ (it.badCrc ? 1u : 0u));
    AppendVint5(b, it.solid ? 0x40 : 0);  // version 0, stored
    AppendVint5(b, it.unixMode ? 1 : 0);
    AppendVint5(b, it.name.size());
    b += it.name;
    b += extra;
    out += Rar5Header(b) + it.data;
  }
  std::string end;
  AppendVint5(end, 5);
  AppendVint5(end, 0);
  AppendVint5(end, 0);
  return out + Rar5Header(end);
}

}  // namespace rartest

#include <openssl/evp.h>
#include <openssl/hmac.h>

namespace rartest {

// RAR 5 encryption as RAR writes it, for stored entries: keys by PBKDF2-HMAC-SHA256 (the key after
// 2^kdf rounds, the hash key after 16 more, the check value after 16 more folded to 8 bytes),
// AES-256-CBC over data padded with zeros to whole blocks.
struct Rar5Crypt {
  std::string password;
  unsigned kdf = 6;
  bool headers = false;  // encrypt the headers too (-hp)
  bool tweaked = false;  // store the CRC as its MAC
  uint8_t salt[16];
  uint8_t key[32], hashKey[32], check[8];

  explicit Rar5Crypt(std::string pw, unsigned rounds = 6, uint8_t seed = 1) : password(std::move(pw)), kdf(rounds) {
    for (int i = 0; i < 16; ++i) salt[i] = uint8_t(seed * 31 + i * 7);
    const int n = 1 << kdf;
    PKCS5_PBKDF2_HMAC(password.data(), int(password.size()), salt, 16, n, EVP_sha256(), 32, key);
    PKCS5_PBKDF2_HMAC(password.data(), int(password.size()), salt, 16, n + 16, EVP_sha256(), 32, hashKey);
    uint8_t v[32];
    PKCS5_PBKDF2_HMAC(password.data(), int(password.size()), salt, 16, n + 32, EVP_sha256(), 32, v);
    std::memset(check, 0, 8);
    for (int i = 0; i < 32; ++i) check[i % 8] ^= v[i];
  }
  std::string CheckField() const {
    uint8_t d[32];
    unsigned len = 0;
    EVP_Digest(check, 8, d, &len, EVP_sha256(), nullptr);
    return std::string(reinterpret_cast<const char*>(check), 8) + std::string(reinterpret_cast<const char*>(d), 4);
  }
  uint32_t Mac(uint32_t crc) const {
    const uint8_t raw[4] = {uint8_t(crc), uint8_t(crc >> 8), uint8_t(crc >> 16), uint8_t(crc >> 24)};
    uint8_t d[32];
    unsigned len = 0;
    HMAC(EVP_sha256(), hashKey, 32, raw, 4, d, &len);
    uint32_t r = 0;
    for (int i = 0; i < 32; ++i) r ^= uint32_t(d[i]) << ((i & 3) * 8);
    return r;
  }
  static std::string Cbc(const uint8_t* k, const uint8_t* iv, std::string data) {
    data.resize((data.size() + 15) / 16 * 16, '\0');
    std::string out(data.size() + 16, '\0');
    EVP_CIPHER_CTX* c = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(c, EVP_aes_256_cbc(), nullptr, k, iv);
    EVP_CIPHER_CTX_set_padding(c, 0);
    int n = 0;
    EVP_EncryptUpdate(c, reinterpret_cast<uint8_t*>(out.data()), &n, reinterpret_cast<const uint8_t*>(data.data()),
                      int(data.size()));
    EVP_CIPHER_CTX_free(c);
    out.resize(size_t(n));
    return out;
  }
};

// A stored RAR 5 archive with every entry encrypted (and the headers when `c.headers`).
// `mutate` may change each entry's encryption record before it is written (hostile cases).
inline std::string MakeRar5Encrypted(const std::vector<Rar5Item>& items, const Rar5Crypt& c,
                                     std::string (*mutate)(std::string) = nullptr) {
  std::string out("Rar!\x1A\x07\x01\x00", 8);
  uint8_t ivSeed = 1;
  auto header = [&](const std::string& body) {
    std::string h = Rar5Header(body);
    if (!c.headers) return h;
    uint8_t iv[16];
    for (int i = 0; i < 16; ++i) iv[i] = uint8_t(ivSeed * 17 + i);
    ++ivSeed;
    return std::string(reinterpret_cast<const char*>(iv), 16) + Rar5Crypt::Cbc(c.key, iv, h);
  };
  if (c.headers) {
    std::string crypt;
    AppendVint5(crypt, 4);
    AppendVint5(crypt, 0);
    AppendVint5(crypt, 0);
    AppendVint5(crypt, 1);
    crypt += char(c.kdf);
    crypt.append(reinterpret_cast<const char*>(c.salt), 16);
    crypt += c.CheckField();
    out += Rar5Header(crypt);
  }
  std::string main;
  AppendVint5(main, 1);
  AppendVint5(main, 0);
  AppendVint5(main, 0);
  out += header(main);
  for (const Rar5Item& it : items) {
    uint8_t iv[16];
    for (int i = 0; i < 16; ++i) iv[i] = uint8_t(ivSeed * 13 + i * 3);
    ++ivSeed;
    const std::string data = Rar5Crypt::Cbc(c.key, iv, it.data);
    std::string rec;
    AppendVint5(rec, 1);
    AppendVint5(rec, 0);
    AppendVint5(rec, 0x0001 | (c.tweaked ? 0x0002 : 0));
    rec += char(c.kdf);
    rec.append(reinterpret_cast<const char*>(c.salt), 16);
    rec.append(reinterpret_cast<const char*>(iv), 16);
    rec += c.CheckField();
    if (mutate) rec = mutate(rec);
    std::string extra;
    AppendVint5(extra, rec.size());
    extra += rec;
    std::string b;
    AppendVint5(b, 2);
    AppendVint5(b, 0x0003);
    AppendVint5(b, extra.size());
    AppendVint5(b, data.size());
    AppendVint5(b, 0x0004 | 0x0002);
    AppendVint5(b, it.data.size());
    AppendVint5(b, 0x20);
    Put32(b, 1700000000);
    Put32(b, c.tweaked ? c.Mac(Crc(it.data)) : Crc(it.data));
    AppendVint5(b, 0);
    AppendVint5(b, 0);
    AppendVint5(b, it.name.size());
    b += it.name;
    b += extra;
    out += header(b) + data;
  }
  std::string end;
  AppendVint5(end, 5);
  AppendVint5(end, 0);
  AppendVint5(end, 0);
  return out + header(end);
}

}  // namespace rartest
