#pragma once
// The RAR samples of tests/data/rar and their bsdtar listings.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace rartest {

std::filesystem::path Sample(const std::string& name);

struct ListedEntry {
  std::string name;
  uint64_t size = 0;
  int year = 0, month = 0, day = 0;  // year 0: bsdtar printed a time instead of the year
};

// expected/NAME.list: the entries and bsdtar's exit status.
std::vector<ListedEntry> ExpectedListing(const std::string& sample, int& exitStatus);
// expected/NAME.sha256: name (without "./") and hex digest per line, and bsdtar's exit status.
std::vector<std::pair<std::string, std::string>> ExpectedSums(const std::string& sample, int& exitStatus);

std::string Sha256Hex(const std::string& bytes);
// Date of a DOS date-time.
void DosDate(uint32_t dos, int& year, int& month, int& day);

}  // namespace rartest
