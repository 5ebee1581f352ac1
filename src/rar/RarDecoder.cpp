#include "rar/RarDecoder.h"

#include <cstring>
#include <archive.h>
#include <archive_entry.h>

#include <algorithm>

#include "rar/UnrarApi.h"

namespace rardec {

namespace {

void Put16(std::string& s, uint32_t v) {
  s += char(v & 0xFF);
  s += char((v >> 8) & 0xFF);
}
void Put32(std::string& s, uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}

// Fills in HEAD_CRC and HEAD_SIZE of a RAR 4 block whose first 7 bytes are reserved.
std::string SealRar4(std::string block) {
  const uint32_t size = uint32_t(block.size());
  block[5] = char(size & 0xFF);
  block[6] = char(size >> 8);
  const uint32_t crc = rarfmt::Crc32(0, block.data() + 2, block.size() - 2) & 0xFFFF;
  block[0] = char(crc & 0xFF);
  block[1] = char(crc >> 8);
  return block;
}

std::string SealRar5(const std::string& body) {
  std::string sized;
  rarfmt::AppendVint(sized, body.size());
  sized += body;
  std::string out;
  Put32(out, rarfmt::Crc32(0, sized.data(), sized.size()));
  return out + sized;
}

}  // namespace

std::string TDecoder::Rar4Start(bool solid) {
  std::string s("Rar!\x1A\x07\x00", 7);
  std::string main(2, '\0');
  main += char(0x73);
  Put16(main, solid ? 0x0008 : 0);
  Put16(main, 0);
  Put16(main, 0);
  Put32(main, 0);
  return s + SealRar4(main);
}

std::string TDecoder::Rar4FileHeader(const rarfmt::Entry& e, uint64_t packTotal, unsigned serial) {
  const bool large = packTotal > 0xFFFFFFFFu || e.unpSize > 0xFFFFFFFFu;
  uint32_t flags = 0x8000 | (e.rawFlags & 0x00E0);
  if ((flags & 0x00E0) == 0x00E0) flags &= ~0x00E0u;
  if (large) flags |= 0x0100;
  std::string h(2, '\0');
  h += char(0x74);
  Put16(h, flags);
  Put16(h, 0);
  Put32(h, uint32_t(packTotal));
  Put32(h, uint32_t(e.unpSize));
  h += char(RAR_HOST_WIN32);
  Put32(h, e.crc);
  Put32(h, e.dosTime);
  h += char(e.unpVer);
  h += char(e.method);
  std::string name(1, 'f');
  name += std::to_string(serial);
  Put16(h, uint32_t(name.size()));
  Put32(h, RAR_ATTR_ARCHIVE);
  if (large) {
    Put32(h, uint32_t(packTotal >> 32));
    Put32(h, uint32_t(e.unpSize >> 32));
  }
  h += name;
  return SealRar4(h);
}

std::string TDecoder::Rar4End() {
  std::string h(2, '\0');
  h += char(0x7B);
  Put16(h, 0x4000);
  Put16(h, 0);
  return SealRar4(h);
}

std::string TDecoder::Rar5Start(bool solid) {
  std::string s("Rar!\x1A\x07\x01\x00", 8);
  std::string body;
  rarfmt::AppendVint(body, 1);
  rarfmt::AppendVint(body, 0);
  rarfmt::AppendVint(body, solid ? 0x0004 : 0);
  return s + SealRar5(body);
}

std::string TDecoder::Rar5FileHeader(const rarfmt::Entry& e, uint64_t packTotal, unsigned serial) {
  std::string body;
  rarfmt::AppendVint(body, 2);
  const bool extra = !e.hashRecord.empty();
  rarfmt::AppendVint(body, 0x0002 | (extra ? 0x0001 : 0));
  if (extra) rarfmt::AppendVint(body, e.hashRecord.size());
  rarfmt::AppendVint(body, packTotal);
  rarfmt::AppendVint(body, (e.hasCrc ? 0x0004 : 0) | (e.unpSizeUnknown ? 0x0008 : 0));
  rarfmt::AppendVint(body, e.unpSize);
  rarfmt::AppendVint(body, RAR_ATTR_ARCHIVE);
  if (e.hasCrc) Put32(body, e.crc);
  rarfmt::AppendVint(body, e.compInfo);
  rarfmt::AppendVint(body, 0);
  std::string name(1, 'f');
  name += std::to_string(serial);
  rarfmt::AppendVint(body, name.size());
  body += name;
  body += e.hashRecord;
  return SealRar5(body);
}

std::string TDecoder::Rar5End() {
  std::string body;
  rarfmt::AppendVint(body, 5);
  rarfmt::AppendVint(body, 0);
  rarfmt::AppendVint(body, 0);
  return SealRar5(body);
}

std::string TDecoder::Rar5Spacer() {
  // Type 6 (unknown) written as a two-byte number, so that the header has the minimum size of three
  // bytes and nothing in it is left unread; flag 0x0004: skip if unknown.
  std::string body("\x86\x00", 2);
  rarfmt::AppendVint(body, 0x0004);
  return SealRar5(body);
}

TDecoder::TDecoder(rarfmt::Format format, bool solid, VolumeSource volumes, bool passThrough)
    : format_(format), solid_(solid), volumes_(std::move(volumes)), passThrough_(passThrough), buffer_(1 << 20) {
  if (passThrough_) return;
  Segment start;
  start.bytes = format_ == rarfmt::Format::Rar4 ? Rar4Start(solid_) : Rar5Start(solid_);
  queue_.push_back(std::move(start));
}

TDecoder::~TDecoder() {
  if (archive_) archive_read_free(archive_);
}

void TDecoder::Feed(const DataEntry& e, bool closeStream) {
  Segment header;
  // Every entry gets a name of its own: libarchive takes a repeated name for the next part of a split file.
  const unsigned serial = fed_++;
  rarfmt::Entry plain = e.entry;
  uint64_t packTotal = e.packTotal;
  std::shared_ptr<Decrypting> crypt;
  if (e.cipher) {
    // Under "tweaked" checksums the stored CRC and hash are MACs: the caller checks them, libarchive must not.
    if (plain.crypt.tweaked) {
      plain.hasCrc = false;
      plain.hashRecord.clear();
    }
    // The padding to whole cipher blocks is not part of the packed data.
    if (plain.method == 0x30) packTotal = std::min(packTotal, plain.unpSize);
    else if (e.plainPacked) packTotal = std::min(packTotal, e.plainPacked);
    crypt = std::make_shared<Decrypting>(*e.cipher, packTotal);
  }
  if (!passThrough_) {
    header.bytes = format_ == rarfmt::Format::Rar4 ? Rar4FileHeader(plain, packTotal, serial)
                                                   : Rar5FileHeader(plain, packTotal, serial);
    queue_.push_back(std::move(header));
  }
  for (const Part& p : e.parts) {
    if (p.length == 0) continue;
    Segment s;
    s.volume = p.volume;
    s.offset = p.offset;
    s.length = p.length;
    s.crypt = crypt;
    queue_.push_back(std::move(s));
  }
  if (passThrough_) {
    return;
  } else if (closeStream) {
    Segment end;
    end.bytes = format_ == rarfmt::Format::Rar4 ? Rar4End() : Rar5End();
    queue_.push_back(std::move(end));
  } else if (format_ == rarfmt::Format::Rar5) {
    Segment spacer;
    spacer.bytes = Rar5Spacer() + Rar5Spacer();
    queue_.push_back(std::move(spacer));
  }
}

long TDecoder::ReadCallback(struct archive*, void* self, const void** buffer) {
  return static_cast<TDecoder*>(self)->Serve(buffer);
}

long TDecoder::Serve(const void** buffer) {
  for (;;) {
    if (popFront_ && !queue_.empty()) queue_.pop_front();
    popFront_ = false;
    if (queue_.empty()) return 0;
    Segment& s = queue_.front();
    if (s.volume < 0) {
      if (s.bytes.empty()) {
        popFront_ = true;
        continue;
      }
      *buffer = s.bytes.data();
      popFront_ = true;
      return long(s.bytes.size());
    }
    if (s.done >= s.length) {
      popFront_ = true;
      continue;
    }
    rarfmt::ByteSource* src = volumes_(s.volume);
    if (!src) return -1;
    const size_t want = size_t(std::min<uint64_t>(buffer_.size() - 16, s.length - s.done));
    if (!s.crypt) {
      const size_t got = src->ReadAt(s.offset + s.done, buffer_.data(), want);
      if (got == 0) return -1;  // the volume ends before the entry's data does
      s.done += got;
      *buffer = buffer_.data();
      return long(got);
    }
    raw_.resize(buffer_.size());
    const size_t got = src->ReadAt(s.offset + s.done, raw_.data(), want);
    if (got == 0) return -1;
    s.done += got;
    size_t n = s.crypt->cbc.Feed(raw_.data(), got, buffer_.data());
    n = size_t(std::min<uint64_t>(n, s.crypt->left));
    s.crypt->left -= n;
    if (n == 0) continue;  // less than a cipher block so far, or only padding
    *buffer = buffer_.data();
    return long(n);
  }
}

bool TDecoder::Open() {
  archive_ = archive_read_new();
  if (!archive_) return false;
  if (format_ == rarfmt::Format::Rar4) archive_read_support_format_rar(archive_);
  else archive_read_support_format_rar5(archive_);
  if (archive_read_open(archive_, this, nullptr, &TDecoder::ReadCallback, nullptr) != ARCHIVE_OK) return false;
  opened_ = true;
  return true;
}

bool TDecoder::NextEntry() {
  if (failed_) return false;
  if (passThrough_) {
    opened_ = true;
    ++started_;
    return true;
  }
  if (!opened_ && !Open()) return failed_ = true, false;
  struct archive_entry* entry = nullptr;
  const int r = archive_read_next_header(archive_, &entry);
  if (r != ARCHIVE_OK && r != ARCHIVE_WARN) return failed_ = true, false;
  ++started_;
  return true;
}

long TDecoder::Read(void* buffer, size_t n) {
  if (failed_ || !opened_) return -1;
  if (passThrough_) {
    if (pendingLength_ == 0) {
      const void* served = nullptr;
      const long got = Serve(&served);
      if (got < 0) {
        failed_ = true;
        return -1;
      }
      pending_ = static_cast<const uint8_t*>(served);
      pendingLength_ = size_t(got);
    }
    const size_t take = std::min(n, pendingLength_);
    if (take) std::memcpy(buffer, pending_, take);
    pending_ += take;
    pendingLength_ -= take;
    return long(take);
  }
  const la_ssize_t r = archive_read_data(archive_, buffer, n);
  if (r < 0) {
    failed_ = true;
    return -1;
  }
  return long(r);
}

}  // namespace rardec
