#pragma once
// Builds small archives in memory from the format library's records, for the format tests.
#include <string>
#include <vector>

#include "formats/ZipFormat.h"

struct MiniEntry {
  std::string name;   // UTF-8
  std::string data;
  bool deflate = true;
  std::string password;  // non-empty: ZipCrypto
  bool descriptor = false;
};

// A complete archive; with `forceZip64` every header and the end records use Zip64 forms.
std::string BuildMiniArchive(const std::vector<MiniEntry>& entries, bool forceZip64 = false,
                             const std::string& comment = "");
std::string RawDeflate(const std::string& data);
