#pragma once
// The switches `tandorfile` answers before it starts as usual (only as the first argument):
//   --version      prints "tandorfile VERSION";
//   --help         prints the usage;
//   --start-check  starts the window without the single-instance hand-over, answers any window that
//                  opens before the main one (the first-run window, a message) with Cancel, and quits
//                  after the main window's first paint. It prints "painted MICROSECONDS TITLE" for every
//                  window painted (wall clock since the epoch) and one line per zip engine; the exit
//                  status is 0 when the main window painted and both engines loaded, else 1.
#include <optional>

// The exit status when argv[1] is one of the switches; nothing otherwise.
std::optional<int> RunProgramSwitch(int argc, char** argv);

// Application-wide names and icon, shared by every way the window starts.
void SetApplicationIdentity();
