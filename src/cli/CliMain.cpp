// tandor: the command-line front of Tandor File, for scripts and benchmarks.
#include <cstdio>
#include <exception>

#include "cli/Commands.h"
#include "cli/Terminal.h"
#include "core/Version.h"

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
  if (options.Version) {
    std::printf("tandor %s\n", ProgramVersion());
    return 0;
  }
  TTerminalPrompt prompt;
  SetPromptService(&prompt);
  int status = 1;
  try {
    status = options.Here ? RunHereCommand(options) : RunCommand(options);
  } catch (const std::exception& e) {
    PrintError(e.what());
    status = 1;
  }
  SetPromptService(nullptr);
  std::fflush(stdout);
  return status;
}
