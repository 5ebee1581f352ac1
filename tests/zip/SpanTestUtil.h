#pragma once
// Helpers of the multi-part set tests: a folder worth splitting, its archive made by Info-ZIP zip,
// a record-by-record check of a written set, and extraction checked against the folder.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Files of every kind worth splitting: incompressible and text files (about `bigBytes` in all),
// nested folders, an empty file and one whose stored name is longer than 255 bytes.
void MakeSpanSourceTree(const std::filesystem::path& dir, uint32_t seed, int64_t bigBytes);
// Runs `zip -rq <options> archive .` inside `folder`; fails the test when zip fails.
void ZipFolder(const std::filesystem::path& folder, const std::filesystem::path& archive,
               const std::string& options = "");

struct TSetLayout {
  uint64_t Entries = 0;
  uint32_t LastDisk = 0;
  bool Zip64 = false;
};
// Checks a written set part by part: the first part starts with the span marker; every local
// header, central header and the end records lie whole within one part; the directory holds as many
// bytes and entries as the end record says, and the end record closes the last part.
::testing::AssertionResult CheckSetLayout(const std::vector<std::filesystem::path>& parts, TSetLayout& layout);

// `unzip -t` passes on `archive` and `unzip` extracts exactly the files of `expected`.
::testing::AssertionResult ExtractsLike(const std::filesystem::path& archive, const std::filesystem::path& expected);
// The folders hold the same files, byte for byte.
::testing::AssertionResult SameTree(const std::filesystem::path& a, const std::filesystem::path& b);

// The parts archive001.zip, archive002.zip, ... beside `target` (archive.zip), in order.
std::vector<std::filesystem::path> NumberedParts(const std::filesystem::path& target);
// Every file below `dir` with its bytes, to check that nothing changed.
std::vector<std::pair<std::string, std::string>> Snapshot(const std::filesystem::path& dir);
