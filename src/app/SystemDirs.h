#pragma once
// TSystemDirs: the system folders the program needs, read once when created.
#include <string>

class TSystemDirs {
 public:
  TSystemDirs();

  const std::string& TempDir() const { return tempDir_; }                  // $TMPDIR, else /tmp
  const std::string& WindowsDir() const { return windowsDir_; }            // the system's data root
  const std::string& ProgramFilesDir() const { return programFilesDir_; }  // where programs are installed
  const std::string& DeskTopDir() const { return deskTopDir_; }            // XDG_DESKTOP_DIR
  const std::string& FontsDir() const { return fontsDir_; }                // $XDG_DATA_HOME/fonts
  const std::string& StartMenuDir() const { return startMenuDir_; }        // $XDG_DATA_HOME/applications
  const std::string& StartMenuProgramsDir() const { return startMenuDir_; }
  const std::string& RecentDir() const { return recentDir_; }              // $XDG_DATA_HOME (recently-used.xbel)
  const std::string& StartMenuStartUp() const { return startUpDir_; }      // $XDG_CONFIG_HOME/autostart

 private:
  std::string tempDir_, windowsDir_, programFilesDir_, deskTopDir_, fontsDir_, startMenuDir_, recentDir_,
      startUpDir_;
};

// The desktop folder: $XDG_DESKTOP_DIR, else the user-dirs.dirs entry, else $HOME/Desktop.
std::string XdgDesktopDir();
