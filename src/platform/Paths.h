#pragma once
// Where the program and its files live.
#include <string>

// Full path of the running program file, and its folder without a trailing "/".
std::string ProgramPath();
std::string ProgramDir();
// Overrides ProgramPath (and so ProgramDir) for tests and tools that drive the components from elsewhere.
void SetProgramPath(const std::string& path);

// The file the install step puts into the program's folder: an installed program keeps its data in the
// XDG folders even where its folder is writable.
inline constexpr const char* kInstalledMarker = "installed";

// Folder of the settings ("config") and the queue file ("queue"): $TANDOR_HOME when set, else
// ProgramDir when writable and not installed, else $XDG_CONFIG_HOME/tandorfile. Created on demand.
std::string ConfigFolder();
// Folder of the temporary folders ("temp", "ziptemp"): $TANDOR_HOME, ProgramDir when writable and not
// installed, else $XDG_CACHE_HOME/tandorfile. Created on demand.
std::string CacheFolder();

// $XDG_CONFIG_HOME, $XDG_DATA_HOME, $XDG_CACHE_HOME with their standard fallbacks under $HOME.
std::string XdgConfigHome();
std::string XdgDataHome();
std::string XdgCacheHome();
std::string HomeFolder();
