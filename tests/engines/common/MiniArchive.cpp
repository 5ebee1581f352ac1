#include "MiniArchive.h"

#include <zlib.h>

#include "ZipCrypto.h"
#include "formats/ZipNames.h"
#include "ZipTime.h"

using namespace zipfmt;

std::string RawDeflate(const std::string& data) {
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, uLong(data.size())) + 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = uInt(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = uInt(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string BuildMiniArchive(const std::vector<MiniEntry>& entries, bool forceZip64, const std::string& comment) {
  std::string out, central;
  DosDateTime dt = UnixToDos(1700000000);
  for (const MiniEntry& m : entries) {
    EntryFields e;
    EncodedName n = EncodeEntryName(m.name);
    e.rawName = n.raw;
    e.flags = n.utf8Flag ? kFlagUtf8 : 0;
    e.method = m.deflate ? kMethodDeflated : kMethodStored;
    e.versionNeeded = m.deflate ? kVersionDeflate : kVersionStored;
    e.dosTime = dt.time;
    e.dosDate = dt.date;
    e.crc32 = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(m.data.data()), uInt(m.data.size())));
    e.uncompressedSize = m.data.size();
    e.externalAttr = (0100644u << 16) | kDosArchive;
    e.extra = MakeExtTimeExtra(1700000000);
    std::string payload = m.deflate ? RawDeflate(m.data) : m.data;
    if (!m.password.empty()) {
      e.flags |= kFlagEncrypted;
      if (m.descriptor) e.flags |= kFlagDataDescriptor;
      ZipCrypto c(m.password);
      uint8_t h[kCryptHeaderSize];
      c.MakeHeader(h, m.descriptor ? uint8_t(e.dosTime >> 8) : uint8_t(e.crc32 >> 24));
      std::string enc(reinterpret_cast<char*>(h), kCryptHeaderSize);
      c.Encrypt(reinterpret_cast<uint8_t*>(payload.data()), payload.size());
      payload = enc + payload;
    } else if (m.descriptor) {
      e.flags |= kFlagDataDescriptor;
    }
    e.compressedSize = payload.size();
    e.localHeaderOffset = out.size();
    out += BuildLocalHeader(e, forceZip64);
    out += payload;
    if (e.flags & kFlagDataDescriptor) out += BuildDataDescriptor(e, forceZip64);
    central += BuildCentralHeader(e, forceZip64);
  }
  uint64_t cdOffset = out.size();
  out += central;
  out += BuildEndRecords(entries.size(), cdOffset, central.size(), out.size(), comment, forceZip64);
  return out;
}
