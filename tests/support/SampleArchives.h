#pragma once
// Sample trees and hand-made archives shared by the tests of the command line and the jobs.
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace testenv {

// root/src with a text file, a binary file, an empty file, a UTF-8 name and an empty folder.
std::filesystem::path MakeSampleTree(const std::filesystem::path& root);
// True when `diff -r` finds the two trees the same.
bool SameTree(const std::filesystem::path& a, const std::filesystem::path& b);
// A zip of stored (name, data) entries written by Python, names taken as given (also hostile ones).
// False when Python failed.
bool PythonZip(const std::filesystem::path& zip, const std::vector<std::pair<std::string, std::string>>& entries);

}  // namespace testenv
