#pragma once
// The installed tree, shared by the install and package tests: what an installation must hold and how
// to make one.
#include <filesystem>
#include <string>
#include <vector>

namespace installtree {

// The build folder, the commands of the CMake that made it, and the version and icon sizes it knows.
std::filesystem::path BuildDir();
std::string CMakeCommand();
std::string CPackCommand();
std::string ExpectedVersion();
std::vector<int> IconSizes();

// Every file an installation holds, relative to the prefix ("lib/tandorfile/tandor", ...): the
// programs, engines and libraries, the help pages of the checkout, the stub when the build made one,
// the desktop files, icons, metadata, manual pages and documents. Links in bin/ are not among them.
std::vector<std::string> ExpectedFiles();
// The links in bin/ and the file each names, relative to bin/.
std::vector<std::pair<std::string, std::string>> ExpectedLinks();

// Installs the build under `prefix` below `destdir` (DESTDIR); the output of cmake goes to `log`.
// True on success.
bool InstallInto(const std::filesystem::path& destdir, const std::string& prefix, std::string* log);

// The value of `key` in group `group` of a desktop entry file; empty when missing.
std::string DesktopValue(const std::filesystem::path& file, const std::string& group, const std::string& key);

// Reads a gzip file whole through gzip -dc.
std::string Gunzip(const std::filesystem::path& file);

}  // namespace installtree
