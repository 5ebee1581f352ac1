#pragma once
// Broken archives shared by the hostile-input tests: each with the message id the reader gives.
#include <string>
#include <vector>

struct THostileCase {
  std::string Name;
  std::string Bytes;
  std::vector<int> Ids;  // acceptable final message ids
};

// A small valid archive (three entries, comments) the cases are cut from.
std::string HostileBaseArchive();
std::vector<THostileCase> HostileCases();
