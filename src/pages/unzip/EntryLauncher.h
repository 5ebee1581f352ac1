#pragma once
// Opening one entry of the listed archive: the entry is extracted alone (the extract job, through the
// safe-output library) into a folder of its own under the working folder and handed to a program.
// The copy never keeps an execute bit, and a script, a desktop entry or a program is never handed to
// a handler that could run it: scripts and desktop entries open as text, programs are refused.
#include <functional>
#include <string>

#include "core/Status.h"
#include "ops/ArchiveEntry.h"
#include "ops/FormatRegistry.h"

// The program a launch asks for.
enum class TLaunchProgram {
  Desktop,    // the desktop's handler for the file's type ("Open", a click)
  NotePad,    // the default text/plain handler
  WordPad,    // a word processor on PATH
  QuickView,  // the configured quick-view program
  ImageView,  // the program's own picture viewer (the desktop's picture handler while there is none)
};

struct TLaunchRequest {
  std::string Archive;
  TArchiveFormat Format = TArchiveFormat::Unknown;
  TEntryId Id = 0;
  std::string EntryName;     // as listed (Path followed by File); for messages and the copy's name
  std::string WorkFolder;    // the working folder; each entry gets a folder of its own below it
  TLaunchProgram Program = TLaunchProgram::Desktop;
  std::string QuickViewProgram;
  bool ViewPicturesInternally = true;
};

class TEntryLauncher {
 public:
  // The program's picture viewer and its picture test; without a viewer pictures go to the desktop.
  std::function<void(const std::string& file)> PictureViewer;
  std::function<bool(const std::string& fileName)> IsPicture;

  // Extracts the entry and opens the copy. Runs the extraction on a worker while the caller's event
  // loop keeps running; messages go through the prompt service. True when the copy was handed on.
  bool Launch(const TLaunchRequest& request);

  // The steps of Launch, for callers and tests: the copy's path (empty, with `why`, when the entry
  // did not come out as a plain file) ...
  std::string ExtractCopy(const TLaunchRequest& request, TStatus& why);
  // ... and handing it on; false (after a message) when it was refused or no program started.
  bool OpenCopy(const std::string& copy, const TLaunchRequest& request);

  // True when the desktop's type database calls the name's extension a picture.
  static bool DesktopSaysPicture(const std::string& fileName);
  // The folder an entry's copy goes to.
  static std::string CopyFolder(const TLaunchRequest& request);
};
