#pragma once
// The commands of `tandor`, each run as one job of the operations layer (the window runs the same).
#include <cstdint>
#include <string>

#include "cli/CliOptions.h"
#include "ops/ArchiveEntry.h"
#include "ops/FormatRegistry.h"

// Runs a parsed command; returns the exit status.
int RunCommand(const TCliOptions& options);
// `x --here` and `a --here`: each archive into a new folder beside it, or the files into a new zip
// beside them (the file manager's "Extract here" and "Compress").
int RunHereCommand(const TCliOptions& options);

// The listing of one entry per line, with a header and (zip) totals, as each format prints it.
class TListPrinter {
 public:
  TListPrinter(TArchiveFormat format, std::string& out);
  void Header();
  void Entry(const TArchiveEntry& e);
  // Totals and comment (zip), comment (gzip).
  void Footer(const std::string& comment);

 private:
  TArchiveFormat format_;
  std::string& out_;
  uint64_t total_ = 0, packed_ = 0;
  int64_t count_ = 0;
};

// "2024-01-31 12:34" from seconds since 1970 (local time), and from an MS-DOS date and time.
std::string FormatLocalTime(int64_t unixSeconds);
std::string DosTimeText(uint32_t dos);
