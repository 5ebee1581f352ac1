#pragma once
// What a test that builds the whole window needs first: a data folder of its own ($TANDOR_HOME) with a
// settings file, so that no first-run window shows, and the program folder where the engines are.
#include <cstdlib>
#include <filesystem>

#include "TestEnv.h"
#include "core/Settings.h"
#include "platform/Paths.h"

namespace testenv {

inline std::filesystem::path PrepareWindowData() {
  const std::filesystem::path data = MakeTempDir("data");
  setenv("TANDOR_HOME", data.c_str(), 1);
  TSettings settings;
  settings.ConfigFile = (data / "config").string();
  settings.WriteDefaultSettings();
  SetProgramPath((ProgramDir() / "tandorfile").string());
  return data;
}

}  // namespace testenv
