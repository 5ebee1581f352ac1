#pragma once
// Handing a file to a program of the desktop: its handler for the file's type, the default handler of
// a named type ("text/plain"), or a program given by name. Tests install a recording fake.
#include <string>
#include <vector>

class IDesktopLauncher {
 public:
  virtual ~IDesktopLauncher() = default;
  // The desktop's handler for the file's own type.
  virtual bool OpenFile(const std::string& path) = 0;
  // The desktop's default handler of `mimeType`, whatever the file's own type is.
  virtual bool OpenWithTypeHandler(const std::string& mimeType, const std::string& path) = 0;
  // Starts `program` (a name on PATH or a path) with the file as its one argument.
  virtual bool OpenWithProgram(const std::string& program, const std::string& path) = 0;
};

// The launcher in use: the desktop's own unless a test installed another (null puts it back).
IDesktopLauncher& DesktopLauncher();
void SetDesktopLauncher(IDesktopLauncher* launcher);

// A word processor on PATH (LibreOffice Writer, AbiWord); empty when there is none.
std::string FindWordProcessor();

// What handing a file to the desktop could do beyond showing it.
enum class TRunRisk {
  None,     // data: any handler may have it
  Text,     // a script or a desktop entry: a handler could run it; shown as text it is harmless
  Program,  // a compiled program or installer: refused
};
// Looks at the name and the first bytes of a file.
TRunRisk RunRiskOf(const std::string& path);

// Clears every execute bit of a regular file (never follows a link); false when that failed.
bool DropExecuteBits(const std::string& path);

// The regular files below `folder` (links not followed), full paths, sorted.
std::vector<std::string> PlainFilesBelow(const std::string& folder);
