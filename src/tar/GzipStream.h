#pragma once
// The gzip stream layer: TGzReader decompresses every member of a gzip file as one stream (a file that
// is not gzip reads through unchanged); TGzWriter compresses into gzip members, in parallel blocks.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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
};

// Kinds of reading failure.
enum class TGzReadError { None, Io, BadHeader, BadData, BadChecksum, Truncated };

// Reads a gzip file as the concatenation of all its members. Throws ETarError on bad data.
class TGzReader : public TTarInput {
 public:
  // Opens the file; throws ETarError when it can't be opened.
  explicit TGzReader(const std::string& path);
  ~TGzReader() override;
  size_t Read(void* buffer, size_t n) override;
  int64_t Position() const override { return delivered_; }
  int64_t SourcePosition() const override { return fileBase_ + static_cast<int64_t>(inPos_); }
  int64_t SourceSize() const override { return fileSize_; }
  // True when the file is not gzip and is read through unchanged.
  bool Transparent() const { return transparent_; }
  // The first member's header (valid after the first Read).
  const TGzHeaderInfo& Header() const { return header_; }
  TGzReadError Error() const { return error_; }

 private:
  size_t Ensure(size_t n);
  void Fail(TGzReadError kind, const std::string& text);
  bool StartMember();
  void FinishMember();
  bool FastMember();
  size_t ReadSlow(char* out, size_t n);
  size_t ReadRaw(char* out, size_t n);

  std::string path_;
  int fd_ = -1;
  int64_t fileSize_ = -1;
  int64_t fileBase_ = 0;  // file offset of in_[0]
  TRawBuffer<unsigned char> in_;
  size_t inPos_ = 0, inLen_ = 0;
  bool eof_ = false;
  bool started_ = false, transparent_ = false, finished_ = false, inMember_ = false, slow_ = false;
  TGzReadError error_ = TGzReadError::None;
  std::string errorText_;
  TGzHeaderInfo header_;
  int members_ = 0;
  uint32_t crc_ = 0;
  uint32_t memberLen_ = 0;
  int64_t delivered_ = 0;
  TRawBuffer<char> out_;
  size_t outPos_ = 0, outLen_ = 0;
  struct TInflate;
  std::unique_ptr<TInflate> inflate_;
  struct libdeflate_decompressor* fast_ = nullptr;
};

// Options of a new gzip file.
struct TGzWriteOptions {
  int Level = 6;                                         // 0-9
  TCompressionType Strategy = TCompressionType::Standard;
  TGzHeaderInfo Header;                                  // name and comment of the first member
  int Threads = 0;                                       // 0 = one per processor
};

// Compresses everything written into gzip members on `sink`. The default strategy compresses 1 MiB
// blocks on all processors, one member each; other strategies write one member through zlib.
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

// Builds a member header (10 fixed bytes, then name and comment with their NULs).
std::string GzMemberHeader(const TGzHeaderInfo& h);
// Parses a member header at `p`; returns its length, 0 when more bytes are needed, -1 when not gzip,
// -2 for a header this reader refuses (method not deflate, reserved flags).
long ParseGzHeader(const unsigned char* p, size_t n, TGzHeaderInfo* info);
