// tandor: the command-line front of Tandor File, for scripts and benchmarks.
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>

#include "cli/Fronts.h"
#include "cli/Terminal.h"
#include "core/TextUtil.h"

std::string FormatLocalTime(int64_t unixSeconds) {
  const std::time_t t = static_cast<std::time_t>(unixSeconds);
  std::tm local{};
  localtime_r(&t, &local);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &local);
  return buf;
}

TArchiveFamily FamilyOf(const TCliOptions& o) {
  const std::string name = LowerCase(o.Archive);
  if (EndsWith(name, ".tar") || EndsWith(name, ".tgz") || EndsWith(name, ".gz")) return TArchiveFamily::Tar;
  if (EndsWith(name, ".rar")) return TArchiveFamily::Rar;
  if (EndsWith(name, ".zip") || o.Command == 'a' || o.Command == 'd') return TArchiveFamily::Zip;
  // Anything else is told apart by its first bytes.
  std::ifstream f(o.Archive, std::ios::binary);
  unsigned char head[8] = {};
  f.read(reinterpret_cast<char*>(head), sizeof head);
  if (head[0] == 'R' && head[1] == 'a' && head[2] == 'r' && head[3] == '!') return TArchiveFamily::Rar;
  if (head[0] == 0x1f && head[1] == 0x8b) return TArchiveFamily::Tar;
  if (f.gcount() == 8 && !(head[0] == 'P' && head[1] == 'K')) {
    std::ifstream t(o.Archive, std::ios::binary);
    char block[512] = {};
    t.read(block, sizeof block);
    if (t.gcount() == 512 && std::string(block + 257, 5) == "ustar") return TArchiveFamily::Tar;
  }
  return TArchiveFamily::Zip;
}

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  TCliOptions options;
  std::string error;
  if (args.empty()) {
    std::fputs(CliUsage(), stderr);
    return 2;
  }
  if (!ParseCliOptions(args, options, error)) {
    PrintError(error);
    return 2;
  }
  if (options.Help) {
    std::fputs(CliUsage(), stdout);
    return 0;
  }
  TTerminalPrompt prompt;
  SetPromptService(&prompt);
  int status = 1;
  try {
    switch (FamilyOf(options)) {
      case TArchiveFamily::Zip: status = RunZipCommand(options); break;
      case TArchiveFamily::Tar: status = RunTarCommand(options); break;
      case TArchiveFamily::Rar: status = RunRarCommand(options); break;
    }
  } catch (const std::exception& e) {
    PrintError(e.what());
    status = 1;
  }
  SetPromptService(nullptr);
  std::fflush(stdout);
  return status;
}
