#pragma once
// A stand-in for the zip engines: records every parameter record it receives (deep copies) and
// replays scripted callbacks. Built by the tests in several variants (version, missing functions).
#include <cstdint>
#include <string>
#include <vector>

#include "zip/ZipStructs.h"

struct TFakeSpec {
  std::string Text;
  bool HasPassword = false;
  std::string Password;
  int32_t Encrypt = 0;
  int16_t Recurse = 0;
  bool HasRootDir = false;
  std::string RootDir;
  bool ReservedZero = true;  // every reserved byte of the record was 0
};

struct TFakeCall {
  bool IsZip = false;
  ZipParams Zip{};      // raw copy; its pointers are dangling after the call
  UnzipParams Unzip{};  // raw copy
  bool HasPassword = false;
  std::string Password;
  std::string StoreSuffixes;
  std::string ZipFileName;
  bool HasTempDir = false;
  std::string TempDir;
  bool HasComment = false;
  std::string Comment;
  bool HasExtractDir = false;
  std::string ExtractDir;
  std::vector<TFakeSpec> Specs;
  std::vector<std::string> Exclusions;
  bool ReservedZero = true;  // every reserved and padding byte of the parameter record was 0
};

struct TFakeScript {
  std::vector<CallbackRecord> Callbacks;  // made in order during the call
  std::vector<CallbackRecord> Answers;    // the records as the callback left them
  std::vector<int32_t> Returns;           // the callback's return values
  bool StopOnCancel = true;               // end the call at the first kCallbackStop answer
  int32_t Result = -1;                    // value returned by Exec; -1: the number of specifications (1 when 0)
  bool Throw = false;                     // throw a C++ exception from Exec
};

// Exported by every variant (C linkage so dlsym finds them).
extern "C" {
typedef std::vector<TFakeCall>* (*FakeEngineCallsFn)();
typedef TFakeScript* (*FakeEngineScriptFn)();
}
