#pragma once
// Entry names made safe to create below a destination folder, and names shown safely.
#include <string>
#include <string_view>
#include <vector>

namespace safeout {

struct TCleanName {
  std::vector<std::string> dirs;  // folders below the destination, outermost first
  std::string leaf;               // last element; empty when the name is a folder
  bool isDir = false;             // the stored name ended with a separator
  bool altered = false;           // a root, drive or ".." element was removed: it pointed elsewhere
  bool controls = false;          // control characters were replaced by "_"

  // "a/b/c" (a folder name without a trailing "/").
  std::string Text() const;
  // The folder path when this name is a folder.
  const std::vector<std::string>& FolderElements() const { return dirs; }
  // Turns a file name into the name of a folder ("m" with a folder mode).
  void MakeFolder();
  // Keeps the last element only (extraction without folder names). False for a folder name.
  bool StripFolders();
};

// Cleans a stored name: "\" is read as "/"; a drive prefix ("C:"), leading separators, empty, "."
// and ".." elements are dropped; control characters become "_". False when nothing is left or the
// name holds a zero byte.
bool CleanName(std::string_view stored, TCleanName& out);

// True when cleaning changes where `stored` leads (a root, drive or ".." element): the question the
// security window asks before extraction.
bool CleaningMovesName(std::string_view stored);

// True for a byte string holding a control character (C0, DEL, or C1 in UTF-8).
bool HasControls(std::string_view s);
// Control characters shown in listings and messages in caret notation, as `cat -v` shows them:
// "^J" for a line feed, "^[" for ESC, "^?" for DEL, "^@" for a zero byte, "M-^[" for the C1
// character U+009B. Other text is left as it is (no "\", which messages turn into "/").
std::string EscapeControls(std::string_view s);

}  // namespace safeout
