#pragma once
// Drives libzipeng.so exactly as the zip component does: dlopen from ProgramDir, a zero-filled
// ZipParams with one ZipFileSpec per line, and a callback that records every event.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "zip/ZipStructs.h"

struct EngineEvent {
  int32_t action;
  int32_t value1;
  int64_t value2;
  std::string text;
};

struct SpecLine {
  SpecLine(std::string s, std::string root = "", std::optional<std::string> pw = std::nullopt, bool plainLine = false,
           std::optional<bool> rec = std::nullopt)
      : spec(std::move(s)), rootDir(std::move(root)), password(std::move(pw)), plain(plainLine), recurse(rec) {}
  std::string spec;
  std::string rootDir;            // empty: none
  std::optional<std::string> password;  // own password of the line
  bool plain = false;              // line ending in "<": stored unencrypted
  std::optional<bool> recurse;     // ">" / "|" markers
};

struct EngineRun {
  std::string archive;
  std::vector<SpecLine> specs;
  std::vector<std::string> exclusions;
  int level = 6;
  bool recurse = false;
  bool dirNames = true;       // false: strip paths
  bool hidden = false;
  bool separateDirs = false;
  std::string fromDate;       // "mm dd yy"
  bool freshen = false, update = false, move = false, zipTime = false, encrypt = false;
  bool trash = false;  // AllowUndoDelete
  std::string password;
  std::string storeSuffixes;
  std::optional<std::string> comment;
  bool deleteOp = false;
  bool verbose = false;
};

class EngineRunner {
 public:
  EngineRunner();
  ~EngineRunner();
  int32_t Version() const { return version_(); }
  int32_t Run(const EngineRun& run);

  std::vector<EngineEvent> events;
  // Optional answer hook: may change the record; returns the callback's result.
  std::function<int32_t(CallbackRecord&)> answer;

  std::vector<EngineEvent> Of(int32_t action) const;
  std::string Messages() const;

 private:
  static int32_t Callback(CallbackRecord* rec);
  void* lib_ = nullptr;
  GetZipEngVersionFn version_ = nullptr;
  ZipEngExecFn exec_ = nullptr;
};

// Helpers shared by the engine tests.
std::string Sh(const std::string& cmd);           // runs, expects status 0, returns output
int ShStatus(const std::string& cmd, std::string* out = nullptr);
void SetMtime(const std::filesystem::path& p, time_t t);
// Checks an archive with unzip -t and 7z t, then extracts it with both and compares with `expected`.
void ExpectPeersExtract(const std::filesystem::path& zip, const std::filesystem::path& expected,
                        const std::string& password = "");
