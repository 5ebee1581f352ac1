#pragma once
// File-system queries and actions that differ between systems. Qt-free: the engines link it too.
#include <cstdint>
#include <functional>
#include <string>

// Free bytes on the file system holding `path` (the nearest existing parent counts); negative when
// there is none.
//
// The one test hook: the environment variable TANDOR_FREE_BYTES answers instead of the file system.
// It holds entries separated by ";": "PATH=N" answers N for PATH and everything below it, a bare "N"
// answers every other path; a path no entry covers gets the real value.
int64_t FreeOnDisk(const std::string& path);
// The same for the file system of the open file or folder `fd`; `path` names it for the hook.
int64_t FreeOnDiskAt(int fd, const std::string& path);
// The name of that variable.
inline constexpr const char* kFreeSpaceHookVariable = "TANDOR_FREE_BYTES";
// The same hook set from inside a test process (asked before the variable); empty clears it. For
// answers that change during a run, which a variable cannot give.
void SetFreeSpaceOverride(std::function<int64_t(const std::string&)> hook);

// True when `a` and `b` lie on the same file system.
bool SameFileSystem(const std::string& a, const std::string& b);

// Moves a file, link or folder into the freedesktop.org trash of its file system: the home trash
// ($XDG_DATA_HOME/Trash) when it lies on the same file system, else the top folder's ".Trash-<uid>".
// False, with the reason in `error`, when neither can take it; the file is then untouched.
bool MoveToTrash(const std::string& path, std::string& error);
bool MoveToTrash(const std::string& path);

// True when the folder exists and the current user may create files in it.
bool IsWritableFolder(const std::string& path);
