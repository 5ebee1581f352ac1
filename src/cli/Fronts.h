#pragma once
// One front per archive family; each runs a parsed command and returns the exit status.
#include "cli/CliOptions.h"

int RunZipCommand(const TCliOptions& options);
int RunTarCommand(const TCliOptions& options);  // tar, tar.gz, tgz and gz
int RunRarCommand(const TCliOptions& options);

// Archive families told apart by name (and, for listing, by content).
enum class TArchiveFamily { Zip, Tar, Rar };
TArchiveFamily FamilyOf(const TCliOptions& options);

// "2024-01-31 12:34" from seconds since 1970 (local time).
std::string FormatLocalTime(int64_t unixSeconds);
