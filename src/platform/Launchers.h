#pragma once
// Launchers of the program: a desktop entry named "Tandor File" on the desktop and in the
// applications menu (in a folder of the user's choice, placed there by a menu file of its own).
#include <string>
#include <vector>

#include "core/Status.h"

inline constexpr const char* kLauncherName = "Tandor File";
inline constexpr const char* kLauncherFile = "Tandor File.desktop";

// Where launchers go. 0 the desktop, 1 the quick-launch bar (none on this system), 3 the menu.
enum TLauncherLocation { kDesktopLauncher = 0, kQuickLaunchLauncher = 1, kMenuLauncher = 3 };

// The desktop folder: XDG_DESKTOP_DIR of $XDG_CONFIG_HOME/user-dirs.dirs, else $XDG_DESKTOP_DIR, else
// $HOME/Desktop.
std::string DesktopFolder();
// The applications menu's folder of the user: $XDG_DATA_HOME/applications.
std::string MenuFolder();

// The launcher's text for the program.
std::string LauncherEntry(const std::string& programPath);

struct TLauncherResult {
  TStatus Status;                  // a failure, or Ok (also when an existing launcher was kept)
  bool AlreadyThere = false;       // a launcher of that name was in place: left as it was
  bool Damaged = false;            // ... and it is no launcher a desktop can start (Status says so)
  std::vector<std::string> Made;   // every file written
};

// Makes the launcher at a location; `subFolder` (menu only) is a folder below MenuFolder(), "A/B",
// empty for the menu itself. An existing "Tandor File.desktop" is never replaced. The desktop's
// launcher is made executable and marked trusted with gio when gio is installed; a menu launcher gets
// a menu file in $XDG_CONFIG_HOME/menus/applications-merged and a directory entry per folder level
// in $XDG_DATA_HOME/desktop-directories. No quick-launch bar: nothing is made there.
TLauncherResult CreateShortcut(const std::string& programPath, int location, const std::string& subFolder = {});

// Removes what CreateShortcut made at that location: the launcher when it is ours (a file of that
// name made by anyone else stays), its menu file, and the directory entries no other menu file of
// ours names. Removed files are listed in `removed`.
TStatus RemoveShortcut(int location, const std::string& subFolder, std::vector<std::string>* removed = nullptr);

// The menu folders ("" for the menu itself, "A/B") that hold a launcher of ours, sorted.
std::vector<std::string> MenuLauncherFolders();
// Removes every launcher of ours, on the desktop and in the menu, as RemoveShortcut does.
TStatus RemoveAllShortcuts(std::vector<std::string>* removed = nullptr);

// The folders below MenuFolder() (paths relative to it, "A", "A/B"), names beginning with "." left
// out, sorted.
std::vector<std::string> MenuSubfolders();
// Makes the folder `name` below MenuFolder()/`parent`; an existing one is fine. A failure carries the
// system's error text.
TStatus MakeMenuFolder(const std::string& parent, const std::string& name);
// Characters a new folder name may not hold: \ / : * ? " < > |
bool IsForbiddenFolderNameChar(char c);
