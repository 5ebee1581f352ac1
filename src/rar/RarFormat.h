#pragma once
// RAR 4 and RAR 5 block parsing: signature, main header, file and service headers, end block.
// Every size and count read from the archive is checked against the header and the source size.
#include <cstdint>
#include <map>
#include <string>
#include <vector>
#include <utility>

namespace rarfmt {

enum class Format { Rar4, Rar5 };

// Random-access bytes of one volume.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t Size() const = 0;
  // Reads up to n bytes at offset; returns the count read (short only at the end).
  virtual size_t ReadAt(uint64_t offset, void* buffer, size_t n) = 0;
};

class MemorySource : public ByteSource {
 public:
  MemorySource(const void* data, size_t size) : data_(static_cast<const uint8_t*>(data)), size_(size) {}
  uint64_t Size() const override { return size_; }
  size_t ReadAt(uint64_t offset, void* buffer, size_t n) override;

 private:
  const uint8_t* data_;
  size_t size_;
};

// A file opened read-only; Ok() is false when it could not be opened.
class FileSource : public ByteSource {
 public:
  explicit FileSource(const std::string& path);
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;
  bool Ok() const { return fd_ >= 0; }
  uint64_t Size() const override { return size_; }
  size_t ReadAt(uint64_t offset, void* buffer, size_t n) override;
  // Device and inode: the same file reached under another name compares equal.
  std::pair<uint64_t, uint64_t> Identity() const { return {device_, inode_}; }

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
  uint64_t device_ = 0, inode_ = 0;
};

enum class Status {
  Ok,
  EndOfData,  // no more bytes where the next block would start
  Truncated,  // a header is cut short
  BadCrc,     // a header's checksum does not match
  Bad,        // a value that cannot be (not RAR, impossible size)
  EncryptedHeaders,
};

// How an entry's data (or, for the archive, its headers) is encrypted.
struct CryptInfo {
  bool sound = true;       // false: an unknown version or a record of the wrong size
  bool rar5 = false;       // RAR 5 (AES-256) rather than RAR 3/4 (AES-128)
  unsigned kdfCount = 0;   // RAR 5: binary logarithm of the PBKDF2 rounds
  uint8_t salt[16] = {};   // RAR 5: 16 bytes; RAR 3/4: 8 bytes
  bool hasSalt = false;
  uint8_t iv[16] = {};     // RAR 5 entries
  bool hasCheck = false;   // RAR 5: password check value and its checksum
  uint8_t check[12] = {};
  bool tweaked = false;    // RAR 5: the CRC and hash are stored as MACs
};

struct ArchiveInfo {
  Format format = Format::Rar4;
  uint64_t firstBlock = 0;  // offset of the first block after the main header
  bool volume = false;
  bool firstVolume = true;
  bool newNumbering = false;  // name.partN.rar rather than name.rNN
  bool solid = false;
  bool oldComment = false;  // RAR 4 comment packed inside the main header
  bool encryptedHeaders = false;
  CryptInfo headerCrypt;     // RAR 5: the archive encryption header
};

// Decrypts the headers of an archive whose headers are encrypted: RAR 5 with one key (every header
// preceded by its IV), RAR 3/4 from the password (every header preceded by its own salt).
struct HeaderKey {
  uint8_t rar5Key[32] = {};
  std::string password;
  mutable std::map<std::string, std::pair<std::vector<uint8_t>, std::vector<uint8_t>>> rar4Keys;  // salt -> key, IV
};

enum class LinkKind { None, Symlink, HardLink, FileCopy };

struct Entry {
  std::string name;  // UTF-8, "/" separators
  uint64_t packSize = 0;
  uint64_t unpSize = 0;
  bool unpSizeUnknown = false;
  uint32_t crc = 0;
  bool hasCrc = false;
  uint32_t dosTime = 0;   // local DOS date-time
  int64_t mtime = 0;      // seconds since 1970
  uint32_t hostOS = 0;    // RAR_HOST_*
  uint32_t rawAttr = 0;   // as stored (DOS attributes or Unix mode)
  uint32_t dosAttr = 0;   // DOS-style attributes
  uint32_t unixMode = 0;  // permission bits to give the extracted file
  uint32_t unpVer = 0;
  uint32_t method = 0;    // 0x30 stored .. 0x35 best
  uint32_t flags = 0;     // RHDF_* view of the entry
  uint32_t rawFlags = 0;  // RAR 4 header flags as stored
  uint64_t compInfo = 0;  // RAR 5 compression information
  bool isDir = false;
  bool encrypted = false;
  bool solid = false;
  bool splitBefore = false;
  bool splitAfter = false;
  LinkKind link = LinkKind::None;
  bool linkInData = false;  // RAR 4 Unix symlink: the target is the entry's data
  std::string linkTarget;   // RAR 5 redirection target
  std::string hashRecord;   // RAR 5 hash extra record, kept whole
  uint64_t dataOffset = 0;  // where the packed data starts in this volume
  CryptInfo crypt;          // when `encrypted`
};

enum class BlockKind { File, Service, End, Other };

struct Block {
  BlockKind kind = BlockKind::Other;
  Entry entry;                // File and Service
  bool moreVolumes = false;   // End: the set goes on in the next volume
  uint64_t next = 0;          // offset of the block after this one (and its data)
};

// Finds the signature (also after a self-extractor stub of up to 1 MiB) and reads the main header.
// Encrypted headers: EncryptedHeaders, with `info` filled as far as the plain part allows (RAR 5:
// `firstBlock` is the encrypted main header; ReadEncryptedMain reads it with the key).
Status ReadArchiveStart(ByteSource& src, ArchiveInfo& info);
Status ReadEncryptedMain(ByteSource& src, ArchiveInfo& info, const HeaderKey& key);
// Reads the block at `offset` (`key`: the headers are encrypted).
Status ReadBlock(ByteSource& src, Format format, uint64_t offset, Block& block, const HeaderKey* key = nullptr);

// Helpers shared with the stream builder and the tests.
uint32_t Crc32(uint32_t crc, const void* data, size_t n);
// Decodes the RAR 4 Unicode name field (ASCII part, zero, encoded part) into UTF-8.
std::string DecodeRar4UnicodeName(const uint8_t* field, size_t size);
// DOS date-time (local) <-> seconds since 1970.
int64_t DosTimeToUnix(uint32_t dos);
uint32_t UnixToDosTime(int64_t t);
// Reads a RAR 5 variable-length integer; false when cut short or longer than 10 bytes.
bool ReadVint(const uint8_t* p, size_t avail, uint64_t& value, size_t& used);
void AppendVint(std::string& out, uint64_t value);

}  // namespace rarfmt
