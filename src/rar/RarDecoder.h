#pragma once
// Decompression through libarchive: each entry's header is rebuilt as a plain, single-volume header
// (regular file named by its position, no encryption) and fed to libarchive together with the entry's packed data
// gathered from every volume it spans. Entries of one solid run are fed to one session in order.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "rar/RarCrypto.h"
#include "rar/RarFormat.h"

struct archive;

namespace rardec {

// A piece of an entry's packed data in one volume.
struct Part {
  int volume = 0;
  uint64_t offset = 0;
  uint64_t length = 0;
};

struct DataEntry {
  rarfmt::Entry entry;  // the first part's header, with the whole file's CRC
  std::vector<Part> parts;
  uint64_t packTotal = 0;
  // Encrypted data: its key; the decrypted stream goes to libarchive as plain data.
  std::shared_ptr<const rarcrypt::TCipherKey> cipher;
  uint8_t hashKey[32] = {};  // RAR 5 "tweaked" checksums: the key of the CRC's MAC
  uint64_t plainPacked = 0;  // RAR 5 packed data: where its last block ends (0: not known)
};

// Returns the bytes of a volume by its index, or nullptr.
using VolumeSource = std::function<rarfmt::ByteSource*(int volume)>;

class TDecoder {
 public:
  // `passThrough`: the entries are stored, and their bytes (decrypted) are the data; libarchive is not
  // involved (its CRC pass and copies are the larger part of a stored entry's cost).
  TDecoder(rarfmt::Format format, bool solid, VolumeSource volumes, bool passThrough = false);
  ~TDecoder();
  TDecoder(const TDecoder&) = delete;
  TDecoder& operator=(const TDecoder&) = delete;

  // Queues one entry; `closeStream` also queues the end block.
  void Feed(const DataEntry& e, bool closeStream);
  // Moves to the next queued entry. False on a libarchive error.
  bool NextEntry();
  // Unpacked bytes of the current entry: count, 0 at its end, -1 on error.
  long Read(void* buffer, size_t n);
  int EntriesStarted() const { return started_; }
  bool Failed() const { return failed_; }

  // Header bytes as libarchive expects them (exposed for the tests).
  static std::string Rar4Start(bool solid);
  static std::string Rar4FileHeader(const rarfmt::Entry& e, uint64_t packTotal, unsigned serial);
  static std::string Rar4End();
  static std::string Rar5Start(bool solid);
  static std::string Rar5FileHeader(const rarfmt::Entry& e, uint64_t packTotal, unsigned serial);
  static std::string Rar5End();
  // A header libarchive skips ("skip if unknown"), put after an entry of a solid run whose successor
  // is not known yet: libarchive reads a few bytes past an entry's data and must not meet the end of
  // the stream there, or it takes the stream as ended.
  static std::string Rar5Spacer();

 private:
  // Decryption of one entry's data across its parts; `left` caps the plain bytes passed on (a stored
  // entry's padding to whole cipher blocks is not data).
  struct Decrypting {
    explicit Decrypting(const rarcrypt::TCipherKey& k, uint64_t cap) : cbc(k), left(cap) {}
    rarcrypt::TCbcStream cbc;
    uint64_t left;
  };
  struct Segment {
    std::string bytes;  // synthesized header bytes, or
    int volume = -1;    // a range of a volume
    uint64_t offset = 0;
    uint64_t length = 0;
    uint64_t done = 0;
    std::shared_ptr<Decrypting> crypt;
  };
  static long ReadCallback(struct archive* a, void* self, const void** buffer);
  long Serve(const void** buffer);
  bool Open();

  rarfmt::Format format_;
  bool solid_;
  VolumeSource volumes_;
  struct archive* archive_ = nullptr;
  bool opened_ = false;
  bool failed_ = false;
  int started_ = 0;
  unsigned fed_ = 0;
  std::deque<Segment> queue_;
  bool popFront_ = false;
  bool passThrough_ = false;
  const uint8_t* pending_ = nullptr;  // pass-through: served bytes not read yet
  size_t pendingLength_ = 0;
  std::vector<uint8_t> buffer_;
  std::vector<uint8_t> raw_;
};

}  // namespace rardec
