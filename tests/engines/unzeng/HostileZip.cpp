#include "HostileZip.h"

#include <zlib.h>

namespace unzengtest {
namespace {

void Put16(std::string& s, uint32_t v) {
  s.push_back(char(v & 0xFF));
  s.push_back(char((v >> 8) & 0xFF));
}
void Put32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(char((v >> (8 * i)) & 0xFF));
}

}  // namespace

std::string RawDeflate(const std::string& plain) {
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, plain.size()) + 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.data()));
  z.avail_in = uInt(plain.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = uInt(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

uint32_t Crc32(const std::string& s) {
  return uint32_t(crc32(0, reinterpret_cast<const Bytef*>(s.data()), uInt(s.size())));
}

THostileEntry SymlinkEntry(const std::string& name, const std::string& target) {
  THostileEntry e;
  e.name = name;
  e.plain = target;
  e.externalAttr = 0120777u << 16;
  return e;
}

std::string THostileZip::Build() const {
  std::string out, cd;
  std::vector<uint32_t> offsets;
  for (const auto& e : entries) {
    std::string data = e.stored ? *e.stored : (e.method == 8 ? RawDeflate(e.plain) : e.plain);
    uint32_t crc = e.crc ? *e.crc : Crc32(e.plain);
    uint32_t csize = uint32_t(e.compressedSize ? *e.compressedSize : data.size());
    uint32_t usize = uint32_t(e.uncompressedSize ? *e.uncompressedSize : e.plain.size());
    uint32_t offset;
    if (e.shareLocalOf >= 0) {
      offset = offsets[size_t(e.shareLocalOf)];
    } else {
      offset = uint32_t(out.size());
      Put32(out, 0x04034b50);
      Put16(out, 20);
      Put16(out, e.flags);
      Put16(out, e.method);
      Put16(out, 0x6000);  // 12:00
      Put16(out, 0x5a21);  // 2025-01-01
      Put32(out, crc);
      Put32(out, csize);
      Put32(out, usize);
      Put16(out, uint32_t(e.name.size()));
      Put16(out, 0);
      out += e.name;
      out += data;
    }
    offsets.push_back(offset);
    Put32(cd, 0x02014b50);
    Put16(cd, e.madeBy);
    Put16(cd, 20);
    Put16(cd, e.flags);
    Put16(cd, e.method);
    Put16(cd, 0x6000);
    Put16(cd, 0x5a21);
    Put32(cd, crc);
    Put32(cd, csize);
    Put32(cd, usize);
    Put16(cd, uint32_t(e.name.size()));
    Put16(cd, 0);
    Put16(cd, 0);
    Put16(cd, 0);
    Put16(cd, 0);
    Put32(cd, e.externalAttr);
    Put32(cd, offset);
    cd += e.name;
  }
  uint32_t cdStart = uint32_t(out.size());
  out += cd;
  Put32(out, 0x06054b50);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, uint32_t(entries.size()));
  Put16(out, uint32_t(entries.size()));
  Put32(out, uint32_t(cd.size()));
  Put32(out, cdOffset ? uint32_t(*cdOffset) : cdStart);
  Put16(out, 0);
  return out;
}

}  // namespace unzengtest
