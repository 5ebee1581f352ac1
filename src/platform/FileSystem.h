#pragma once
// File-system queries and actions that differ between systems.
#include <cstdint>
#include <functional>
#include <string>

// Free bytes on the file system holding `path` (the nearest existing parent counts); negative when
// there is none. Tests may install an override that answers instead.
int64_t FreeOnDisk(const std::string& path);
void SetFreeSpaceOverride(std::function<int64_t(const std::string& path)> answer);

// True when `a` and `b` lie on the same file system.
bool SameFileSystem(const std::string& a, const std::string& b);

// Moves a file or folder to the desktop's trash (undoable); false when that is impossible.
bool MoveToTrash(const std::string& path);

// True when the folder exists and the current user may create files in it.
bool IsWritableFolder(const std::string& path);

// True when `path` is a regular file the current user may open for reading; otherwise `why` says
// why not ("No such file or directory", "Permission denied", "not a regular file").
bool CanReadFile(const std::string& path, std::string& why);
