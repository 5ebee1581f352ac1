#pragma once
// Making self-extracting programs for the stub's tests (with the zip component and the build's
// SfxStub.bin) and running them: without a terminal, or on a pseudo-terminal that answers its
// questions.
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "zip/ZipKit.h"

namespace stubtest {

struct TSettings {
  std::string caption = "Test Archive", folder, command, message;
  SFXOpts options{SFXCheckSize};
  OvrOpts overwrite = OvrConfirm;
};

// Turns the zip archive `zip` into a program (zip's name with ".run"); returns its path.
std::filesystem::path MakeProgram(const std::filesystem::path& zip, const TSettings& s);

struct TRun {
  int status = -1;
  std::string out, err;
  std::string Text() const { return "exit " + std::to_string(status) + "\nstdout:\n" + out + "stderr:\n" + err; }
};

// Runs `program args` in `cwd` with standard input from `input` (a file's path; empty: /dev/null),
// no terminal and no display; `env` is put in front ("TMPDIR=/x PATH=...").
TRun RunQuiet(const std::filesystem::path& program, const std::string& args, const std::filesystem::path& cwd,
              const std::string& env = {}, const std::string& input = {});

// A program on a pseudo-terminal: Expect waits for a text on its screen, Send types.
class TPty {
 public:
  TPty(const std::filesystem::path& program, const std::vector<std::string>& args, const std::filesystem::path& cwd);
  ~TPty();
  // True once `text` appeared after what earlier calls consumed (within `seconds`).
  bool Expect(const std::string& text, int seconds = 20);
  void Send(const std::string& text);
  // Waits for the end; the exit status.
  int Wait();
  const std::string& Screen() const { return seen_; }

 private:
  void ReadSome(int milliseconds);
  pid_t pid_ = -1;
  int fd_ = -1;
  std::string seen_;
  size_t mark_ = 0;
};

}  // namespace stubtest
