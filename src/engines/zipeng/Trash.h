#pragma once
// The freedesktop.org trash, for source files a move deletes when undo is allowed.
#include <string>

namespace zipeng {

// Moves `path` (a regular file) into the trash of its file system: the home trash when it lies on
// the same file system, else the top folder's ".Trash-<uid>". False, with a reason, when neither
// can take it; the file is then untouched.
bool MoveToTrash(const std::string& path, std::string& error);

}  // namespace zipeng
