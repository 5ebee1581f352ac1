#include "StubHarness.h"

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "TestEnv.h"

namespace fs = std::filesystem;

namespace stubtest {

fs::path MakeProgram(const fs::path& zip, const TSettings& s) {
  TZipKit kit;
  kit.Unattended = true;
  kit.HowToDelete = htdFinal;
  kit.SetDLLDirectory(testenv::ProgramDir().string());
  kit.SetZipFileName(zip.string());
  kit.SFXCaption = s.caption;
  kit.SFXDefaultDir = s.folder;
  kit.SFXCommandLine = s.command;
  kit.SFXMessage = s.message;
  kit.SFXOptions = s.options;
  kit.SFXOverWriteMode = s.overwrite;
  kit.ErrCode = 0;
  if (kit.ConvertToSfx() != 0) return {};
  return kit.ZipFileName();
}

TRun RunQuiet(const fs::path& program, const std::string& args, const fs::path& cwd, const std::string& env,
              const std::string& input) {
  TRun r;
  const fs::path err = cwd / ".stderr.txt";
  const std::string command = "cd " + testenv::Quote(cwd.string()) + " && env -u DISPLAY -u WAYLAND_DISPLAY " + env +
                              " " + testenv::Quote(program.string()) + " " + args + " 2>" +
                              testenv::Quote(err.string()) + " <" + (input.empty() ? "/dev/null" : testenv::Quote(input));
  r.status = testenv::Run(command, &r.out);
  r.err = testenv::ReadFile(err);
  fs::remove(err);
  return r;
}

TPty::TPty(const fs::path& program, const std::vector<std::string>& args, const fs::path& cwd) {
  pid_ = forkpty(&fd_, nullptr, nullptr, nullptr);
  if (pid_ == 0) {
    if (::chdir(cwd.c_str()) != 0) _exit(126);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    std::vector<char*> argv;
    std::string p = program.string();
    argv.push_back(p.data());
    std::vector<std::string> copy = args;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(p.c_str(), argv.data());
    _exit(127);
  }
}

TPty::~TPty() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (fd_ >= 0) ::close(fd_);
}

void TPty::ReadSome(int milliseconds) {
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, milliseconds) <= 0) return;
  char buf[4096];
  const ssize_t n = ::read(fd_, buf, sizeof buf);
  if (n > 0) seen_.append(buf, size_t(n));
}

bool TPty::Expect(const std::string& text, int seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    const size_t at = seen_.find(text, mark_);
    if (at != std::string::npos) {
      mark_ = at + text.size();
      return true;
    }
    ReadSome(100);
  }
  return false;
}

void TPty::Send(const std::string& text) {
  if (::write(fd_, text.data(), text.size()) != ssize_t(text.size())) return;
}

int TPty::Wait() {
  // By the clock: once the program has closed the terminal, reading returns at once, and a loaded
  // machine may take a while to make the ended program waitable.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  int status = 0;
  while (std::chrono::steady_clock::now() < end) {
    ReadSome(50);
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      pid_ = -1;
      ReadSome(50);
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return -1;
}

}  // namespace stubtest
