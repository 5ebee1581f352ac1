#pragma once
// Helpers of the zip tests: hand-built archives and what zipinfo reports about real ones.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "zip/ZipKitTypes.h"

// Builds archives byte by byte, for cases peer tools cannot make.
struct TCraftEntry {
  std::string Name;  // raw stored bytes
  std::string Data;  // stored uncompressed
  uint16_t Flags = 0;
  uint8_t Host = 3;
  uint8_t MadeBy = 30;
  std::string Extra;    // central extra field
  std::string Comment;  // raw
  uint32_t DosDateTime = 0x5A2B6000;
  bool Zip64Sizes = false;          // store 0xFFFFFFFF and put sizes into a Zip64 extra field
  uint64_t FakeUnpackedSize = 0;    // with Zip64Sizes: the size written to the extra field
};

struct TCraftOptions {
  std::string Stub;            // bytes in front
  bool AdjustOffsets = false;  // offsets count from the start of the file (stub included)
  std::string Comment;         // archive comment
  std::string Trailer;         // bytes after the comment
  bool Zip64End = false;       // write a Zip64 end record and locator, classic fields saturated
};

std::string CraftZip(const std::vector<TCraftEntry>& entries, const TCraftOptions& options = {});
void Put16(std::string& s, uint16_t v);
void Put32(std::string& s, uint32_t v);
void Put64(std::string& s, uint64_t v);
uint32_t Crc32Of(const std::string& s);

// Appends the local header (with data) and the central header of one stored entry.
void AppendEntry(const std::string& name, const std::string& data, uint32_t localOffset, std::string& local,
                 std::string& central);
// A two-part set on a fixed drive: set001.zip (span marker, entries alpha.txt and beta.txt, first
// central header) and set002.zip (second central header, end record of disk 1).
void WriteTwoPartSet(const std::filesystem::path& dir);

// One entry as zipinfo -v reports it.
struct TZipInfoEntry {
  std::string Name;
  uint32_t Crc = 0;
  uint64_t PackedSize = 0;
  uint64_t UnpackedSize = 0;
  std::string DosDate;  // "2026 Dec 9 10:13:04"
  std::string Comment;
  bool Encrypted = false;
};

struct TZipInfo {
  std::string Comment;
  std::vector<TZipInfoEntry> Entries;
};

// Runs zipinfo -v (UTF-8 locale) and parses its report; fails the test when zipinfo fails.
TZipInfo RunZipInfo(const std::filesystem::path& archive);
// "2026 Dec 9 10:13:04" in zipinfo's form.
std::string FormatDosDateTime(uint32_t dosDateTime);
