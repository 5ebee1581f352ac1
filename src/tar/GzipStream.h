#pragma once
// The gzip stream layer: TGzReader decompresses every member of a gzip file as one stream (a file that
// is not gzip reads through unchanged); TGzWriter compresses into gzip members, in parallel blocks.
#include <cstdint>
#include <memory>
#include <string>

#include "tar/TarStreams.h"

// Deflate strategies of the writer.
enum class TCompressionType { Standard, Filtered, HuffmanOnly };

// Header fields of a gzip member.
struct TGzHeaderInfo {
  bool HasName = false;
  bool HasComment = false;
  std::string Name;
  std::string Comment;
  uint32_t MTime = 0;  // seconds since 1970, 0 = none
  int Level = 6;       // written as the extra flags (2 = best, 4 = fastest)
};

// Kinds of reading failure.
enum class TGzReadError { None, Io, BadHeader, BadData, BadChecksum, Truncated };

// Reads a gzip file as the concatenation of all its members. Throws ETarError on bad data. A thread of
// its own inflates into a ring of large buffers while the caller takes the bytes, so that decompression
// and whatever the caller does with the data run at the same time; memory stays constant.
class TGzReader : public TTarInput {
 public:
  // Opens the file; throws ETarError when it can't be opened.
  explicit TGzReader(const std::string& path);
  ~TGzReader() override;
  size_t Read(void* buffer, size_t n) override;
  // Zero-copy reading: points `data` at up to `max` next bytes inside the reader's buffers and returns
  // their count (0 at the end). The bytes stay valid until the next call.
  size_t Next(const char*& data, size_t max);
  int64_t Position() const override { return delivered_; }
  int64_t SourcePosition() const override;
  int64_t SourceSize() const override { return fileSize_; }
  // True when the file is not gzip and is read through unchanged.
  bool Transparent() const { return transparent_; }
  // Set before the first read: the CRCs are computed on the reading thread as it takes the bytes,
  // not on the inflating thread (for a reader with time to spare: the inflating thread sets the pace).
  bool CrcOnReader = false;
  // The first member's header (valid after the first Read).
  const TGzHeaderInfo& Header() const { return header_; }
  TGzReadError Error() const { return error_; }
  // Once reading returned 0: the warning about bytes after the last member that are not zero
  // padding, or "" when there are none.
  std::string TrailingGarbage() const;

 private:
  struct TDecoder;
  void Start();
  size_t ReadRaw(char* out, size_t n);
  [[noreturn]] void Raise();

  std::string path_;
  int fd_ = -1;
  int64_t fileSize_ = -1;
  bool started_ = false, transparent_ = false;
  TGzReadError error_ = TGzReadError::None;
  std::string errorText_;
  TGzHeaderInfo header_;
  int64_t delivered_ = 0;
  int64_t rawPos_ = 0;
  // The slot being read from.
  int slot_ = -1;
  size_t slotPos_ = 0, slotLen_ = 0;
  size_t check_ = 0;   // the slot's next member end to check (CrcOnReader)
  uint32_t crc_ = 0;   // CRC of the member's bytes taken so far (CrcOnReader)
  std::unique_ptr<TDecoder> decoder_;
};

// Options of a new gzip file.
struct TGzWriteOptions {
  int Level = 6;                                         // 0-9
  TCompressionType Strategy = TCompressionType::Standard;
  TGzHeaderInfo Header;                                  // name and comment of the first member
  int Threads = 0;                                       // 0 = one per processor
};

// Compresses everything written into one gzip member on `sink`. The default strategy compresses pieces on
// all processors joined into one deflate stream; the other strategies go through zlib.
class TGzWriter : public TTarOutput {
 public:
  TGzWriter(TTarOutput* sink, bool owns, const TGzWriteOptions& options);
  ~TGzWriter() override;
  void Write(const void* data, size_t n) override;
  // Ends the last member and closes the sink.
  void Close() override;
  // Uncompressed bytes taken so far.
  uint64_t BytesIn() const { return bytesIn_; }

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
  uint64_t bytesIn_ = 0;
};

// Builds a member header (10 fixed bytes with OS 3, Unix, then name and comment with their NULs).
std::string GzMemberHeader(const TGzHeaderInfo& h);
// Parses a member header at `p`; returns its length, 0 when more bytes are needed, -1 when not gzip,
// -2 for a header this reader refuses (method not deflate, reserved flags).
long ParseGzHeader(const unsigned char* p, size_t n, TGzHeaderInfo* info);
