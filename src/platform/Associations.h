#pragma once
// The program as the desktop's handler of archive types (XDG): its desktop entry ("the program's
// class") in $XDG_DATA_HOME/applications, the MIME package of self-extracting programs in
// $XDG_DATA_HOME/mime, the user's default handlers in $XDG_CONFIG_HOME/mimeapps.list, and the viewer
// programs the unzip page offers.
#include <string>

#include "core/Status.h"

struct TAssociationType {
  const char* Extension;  // ".zip"
  const char* MimeType;   // "application/zip"
};
// The types the program can take over, in the order they are handled.
inline constexpr TAssociationType kAssociationTypes[] = {
    {".zip", "application/zip"},    {".gz", "application/gzip"},           {".tar", "application/x-tar"},
    {".tgz", "application/x-compressed-tar"}, {".rar", "application/vnd.rar"},
};
inline constexpr int kAssociationTypeCount = 5;

// The desktop file id of the program's class, and the MIME type of its self-extracting programs.
inline constexpr const char* kProgramDesktopId = "tandorfile.desktop";
inline constexpr const char* kSfxMimeType = "application/x-tandor-sfx";

// The program's desktop entry as written for `programPath` (its Exec line passes the chosen file as
// the single argument), and the MIME package that names ".run" programs.
std::string ProgramDesktopEntry(const std::string& programPath);
std::string SfxMimePackage();

// Writes the program's desktop entry and MIME package where the desktop finds them, each only when
// its text differs from the one in place (written atomically), and then refreshes the desktop's
// caches with update-desktop-database and update-mime-database when those are installed.
TStatus InstallProgramClass(const std::string& programPath);

// The viewer programs of the unzip page: Quick View is the program named by $TANDOR_QUICKVIEW (a path,
// or a name on PATH), none when unset; WordPad is the word processor FindWordProcessor finds.
struct TViewerPrograms {
  std::string QuickView;
  std::string WordPad;
};
TViewerPrograms FindViewerPrograms();

// $XDG_CONFIG_HOME/mimeapps.list.
std::string UserMimeappsPath();
// The value of `mimeType` in the "[Default Applications]" group of a mimeapps.list text (as written,
// "a.desktop;b.desktop;"), empty when it has none.
std::string MimeappsDefault(const std::string& text, const std::string& mimeType);
// The text with that value set (empty: the key removed). Every other line stays as it was, in its
// order; a new key goes to the end of the group, a missing group to the end of the text; a group left
// without keys goes again.
std::string MimeappsWithDefault(const std::string& text, const std::string& mimeType, const std::string& value);

// The first desktop file id of a mimeapps.list value ("a.desktop;b.desktop;" gives "a.desktop").
std::string FirstDesktopId(const std::string& value);

// The user's own default for the type (the value in the user's mimeapps.list), empty when none.
std::string UserDefaultHandler(const std::string& mimeType);
// Sets (or with an empty value removes) the user's default for the type. A file that cannot be read
// or written is left as it was and the failure returned.
TStatus SetUserDefaultHandler(const std::string& mimeType, const std::string& value);
// The handler the desktop uses for the type: the first desktop file id of the first mimeapps.list (the
// user's, then those of $XDG_CONFIG_DIRS and the data folders) that names one; empty when none.
std::string CurrentDefaultHandler(const std::string& mimeType);
// The Name of the first desktop file of a mimeapps.list value found in the data folders; empty when
// none is installed or it has no name.
std::string HandlerDescription(const std::string& value);
