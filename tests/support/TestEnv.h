#pragma once
// Helpers shared by the tests: an isolated environment, temporary folders, files and peer tools.
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace testenv {

// The private root made for this test process; HOME, XDG_*, TMPDIR and TANDOR_HOME point inside it.
const std::filesystem::path& Root();

// A fresh empty folder under Root().
std::filesystem::path MakeTempDir(const std::string& hint = "t");

// The folder holding the built program, engines and libraries.
std::filesystem::path ProgramDir();
// The checkout the tests were built from.
std::filesystem::path SourceDir();
// The sample data folder, tests/data (RAR samples and the like).
std::filesystem::path TestDataDir();

void WriteFile(const std::filesystem::path& p, const std::string& bytes);
std::string ReadFile(const std::filesystem::path& p);
// Deterministic pseudo-random bytes; `compressible` mixes in text-like runs.
std::string RandomBytes(size_t n, uint32_t seed, bool compressible = false);
// A mutant of `seed` for the short fuzzing runs: one to four bit flips, cuts, splices of its own
// bytes, deletions, random bytes and extreme values near the front (where headers live). The first
// byte is never cut away.
std::string Mutate(const std::string& seed, std::mt19937& rng);
// The archive comment `unzip -z` prints (its first line, which names the archive, left out); with
// `fromCp437` its bytes are read as CP437.
std::string UnzipComment(const std::filesystem::path& zip, bool fromCp437 = false);
// A zip's bytes before its end record (entries, directory, Zip64 records); empty without one.
std::string BeforeEndRecord(const std::filesystem::path& zip);

// Runs a shell command line; returns its exit status and (optionally) its standard output.
int Run(const std::string& commandLine, std::string* output = nullptr);
// Quotes one argument for the shell.
std::string Quote(const std::string& s);
// True when the named program is on PATH.
bool HaveTool(const std::string& name);

// Every regular file, folder and link under `dir`, relative, sorted ("a/", "a/b.txt", "l@").
std::vector<std::string> ListTree(const std::filesystem::path& dir);

// The non-empty lines of `text`, sorted (a peer tool's listing, compared regardless of order).
std::vector<std::string> SortedLines(const std::string& text);

// Sets the free-space hook (TANDOR_FREE_BYTES, see platform/FileSystem.h): "N" for every path, or
// entries "PATH=N" separated by ";" (a bare "N" among them answers every other path). Empty clears it.
void SetFreeSpace(const std::string& value);
inline void SetFreeSpace(int64_t bytes) { SetFreeSpace(std::to_string(bytes)); }

}  // namespace testenv
