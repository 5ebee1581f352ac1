#pragma once
// The command line of `tandor`: COMMAND [OPTIONS] ARCHIVE [FILES...], options anywhere after COMMAND.
#include <optional>
#include <string>
#include <vector>

struct TCliOptions {
  char Command = 0;          // 'l', 'x', 't', 'a', 'd'
  std::string Archive;
  std::vector<std::string> Files;
  std::string Destination = ".";
  std::optional<std::string> Password;
  bool Recurse = false;
  int Level = 6;
  bool Overwrite = false;
  bool Quiet = false;
  bool Help = false;
  bool Version = false;
  bool Here = false;  // x: every name is an archive to extract beside itself; a: zip the names beside them
};

// Parses argv (without the program name); on error returns false with a one-line `error`.
bool ParseCliOptions(const std::vector<std::string>& args, TCliOptions& options, std::string& error);
const char* CliUsage();
