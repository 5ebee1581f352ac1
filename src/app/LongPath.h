#pragma once
#include <string>

// The path made absolute and canonical (symbolic links and "." / ".." resolved), as the file is
// stored on disk. Empty when the file does not exist or the name holds "*" or "?".
std::string ExpandLongPath(const std::string& path);
