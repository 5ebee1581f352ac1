#pragma once
// Bench programs start the whole window, which registers the program with the desktop (a launcher and
// the MIME cache under $XDG_DATA_HOME): everything a start writes goes below the bench's data folder,
// never into the real home folder.
#include <cstdlib>
#include <filesystem>
#include <utility>

inline void IsolateBenchHome(const std::filesystem::path& dataFolder) {
  namespace fs = std::filesystem;
  const fs::path user = dataFolder / "user";
  const std::pair<const char*, fs::path> vars[] = {{"HOME", user},
                                                   {"XDG_CONFIG_HOME", user / ".config"},
                                                   {"XDG_DATA_HOME", user / ".local" / "share"},
                                                   {"XDG_CACHE_HOME", user / ".cache"}};
  for (const auto& [name, path] : vars) {
    fs::create_directories(path);
    setenv(name, path.c_str(), 1);
  }
  fs::create_directories(dataFolder);
  setenv("TANDOR_HOME", dataFolder.c_str(), 1);
}
