#pragma once
// Small pieces shared by the desktop-integration code: files written atomically, desktop entries read
// and written, the helper programs of the desktop run when present.
#include <string>
#include <sys/types.h>
#include <vector>

#include "core/Status.h"

// Writes `content` to `path` through a temporary file in the same folder, flushed and renamed over
// it: readers see the old or the new file, never a part. A symbolic link at `path` is followed (its
// target is replaced, the link stays); an existing file keeps its mode, a new one gets `mode`.
TStatus WriteFileAtomically(const std::string& path, const std::string& content, mode_t mode = 0644);

// The whole file, or false when it cannot be read (a missing file reads as false with ENOENT in errno).
bool ReadWholeFile(const std::string& path, std::string& content);

// The value of `key` in the "[Desktop Entry]" group of a desktop entry's text; empty when missing.
std::string DesktopEntryValue(const std::string& text, const std::string& key);

// A path as one argument of an Exec line: quoted with the escapes the desktop entry format asks for
// when it holds anything but letters, digits and "/._-+".
std::string QuoteExecArgument(const std::string& path);

// A text as a desktop entry value of type string ("\n", "\t", "\\" escaped).
std::string EscapeEntryValue(const std::string& text);

// Full path of a program found on PATH; empty when none.
std::string FindOnPath(const std::string& program);

// Runs a program with its arguments, output discarded, and waits at most `timeoutMs`; false when it
// could not run, failed or took too long.
bool RunQuietly(const std::string& program, const std::vector<std::string>& arguments, int timeoutMs = 10000);
