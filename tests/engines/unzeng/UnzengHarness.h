#pragma once
// Drives libunzeng.so exactly as the zip component does: dlopen from the program folder, an
// UnzipParams record filled here, and a callback that records every call and answers from scripts.
#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace unzengtest {

struct TCall {
  int action;
  int32_t value1;
  int64_t value2;
  std::string text;
};

struct TRun {
  std::string archive;
  std::filesystem::path dest;
  std::string password;
  std::vector<std::string> specs;
  bool test = false, overwrite = false, freshen = false, update = false, dirNames = true;
  int passwordReqCount = 1;

  // Answers. A password answer of nullopt is "cancel all"; "" is "no password".
  std::deque<std::optional<std::string>> passwordAnswers;
  std::deque<int> overwriteAnswers;  // empty: the proposal stands
  int crcAnswer = 2;                 // 1 keep, 0 skip, 2 no handler
  int stopAtNewFile = -1;            // answer "stop" at this new-file callback (0-based)

  int result = 0;
  std::vector<TCall> calls;

  std::vector<TCall> Of(int action) const;
  // Texts of messages with a non-zero code (code, text).
  std::vector<std::pair<int, std::string>> Errors() const;
  bool HasError(int code, const std::string& part) const;
  std::string Dump() const;
};

// Runs the engine; returns its result (also in run.result).
int Execute(TRun& run);
int EngineVersion();

}  // namespace unzengtest

namespace unzengtest {

// Runs a shell command that must succeed; returns its output.
std::string Sh(const std::string& command);
// Every file, folder and link below `dir`, relative and sorted ("a/", "a/b", "l@"); links are
// listed under their own name.
std::vector<std::string> Tree(const std::filesystem::path& dir);
// Every file, folder and link of `expected` is in `actual` with the same content or target, and
// nothing else is.
void ExpectSameTree(const std::filesystem::path& expected, const std::filesystem::path& actual);
// A mixed tree: binary and text files, an empty file, an empty folder, nested folders.
void MakeMixedTree(const std::filesystem::path& dir);

}  // namespace unzengtest
