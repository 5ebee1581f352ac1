#include "StubAsk.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace sfxstub {
namespace {

void Say(const std::string& text) {
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
}

// One line of standard input without its line end; false at its end.
bool ReadLine(std::string& line) {
  line.clear();
  int c;
  while ((c = std::getchar()) != EOF && c != '\n') line.push_back(char(c));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return c != EOF || !line.empty();
}

std::string Trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t");
  if (a == std::string::npos) return {};
  return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

// "~" and "~/..." typed as a folder mean the home folder, as they do in the shell (not a folder
// named "~" in the current one).
std::string ExpandHome(const std::string& typed) {
  if (typed != "~" && typed.rfind("~/", 0) != 0) return typed;
  const char* home = std::getenv("HOME");
  if (!home || home[0] != '/') return typed;
  return std::string(home) + typed.substr(1);
}

// An executable file named `name` in a folder of PATH; empty when there is none.
std::string FindOnPath(const char* name) {
  const char* path = std::getenv("PATH");
  if (!path) return {};
  std::string all = path;
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find(':', start);
    if (end == std::string::npos) end = all.size();
    const std::string dir = all.substr(start, end - start);
    if (!dir.empty() && dir[0] == '/') {
      const std::string file = dir + "/" + name;
      struct stat st {};
      if (::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(file.c_str(), X_OK) == 0) return file;
    }
    start = end + 1;
  }
  return {};
}

// --- The terminal ---------------------------------------------------------------------------------

class TTerminalAsk : public IAsk {
 public:
  explicit TTerminalAsk(std::string caption) : caption_(std::move(caption)) {
    if (!caption_.empty()) Say("== " + caption_ + " ==\n");
  }
  bool Interactive() const override { return true; }

  bool Message(const std::string& text, TButtons buttons) override {
    Say(text + "\n");
    std::string line;
    switch (buttons) {
      case TButtons::Ok:
        Say("Press Enter to continue. ");
        return ReadLine(line);
      case TButtons::OkCancel:
        Say("[O]K or [C]ancel? [O] ");
        if (!ReadLine(line)) return false;
        line = Trim(line);
        return line.empty() || line[0] == 'o' || line[0] == 'O';
      case TButtons::YesNo:
        for (;;) {
          Say("[y]es or [n]o? ");
          if (!ReadLine(line)) return false;
          line = Trim(line);
          if (!line.empty() && (line[0] == 'y' || line[0] == 'Y')) return true;
          if (!line.empty() && (line[0] == 'n' || line[0] == 'N')) return false;
        }
    }
    return false;
  }
  void Error(const std::string& text) override { Say("error: " + text + "\n"); }
  std::string Folder(const std::string& proposed) override {
    Say("Extract into folder [" + proposed + "]: ");
    std::string line;
    if (!ReadLine(line)) return {};
    line = Trim(line);
    return line.empty() ? proposed : ExpandHome(line);
  }
  TMode OverwriteMode(TMode proposed) override {
    const char* shown = proposed == TMode::Always ? "a" : proposed == TMode::Never ? "n" : "c";
    Say(std::string("Existing files: (c)onfirm each, (a)lways replace, (n)ever replace [") + shown + "]: ");
    std::string line;
    if (!ReadLine(line)) return proposed;
    line = Trim(line);
    if (line.empty()) return proposed;
    if (line[0] == 'a' || line[0] == 'A') return TMode::Always;
    if (line[0] == 'n' || line[0] == 'N') return TMode::Never;
    if (line[0] == 'c' || line[0] == 'C') return TMode::Confirm;
    return proposed;
  }
  bool Choose(const std::vector<std::string>& names, std::vector<size_t>& chosen) override {
    for (size_t i = 0; i < names.size(); ++i) {
      char num[24];
      std::snprintf(num, sizeof num, "%6zu  ", i + 1);
      Say(num + names[i] + "\n");
    }
    for (;;) {
      Say("Extract which files (numbers and ranges such as 1-3,7; Enter for all)? ");
      std::string line;
      if (!ReadLine(line)) return false;
      if (ParseChoice(Trim(line), names.size(), chosen)) return true;
      Say("Not understood.\n");
    }
  }
  TReplace Replace(const std::string& name) override {
    for (;;) {
      Say("Replace " + name + "? [y]es, [n]o, [A]ll, [N]one: ");
      std::string line;
      if (!ReadLine(line)) return TReplace::NoToAll;
      line = Trim(line);
      if (line == "y" || line == "Y" || line == "yes") return TReplace::Yes;
      if (line == "n" || line == "no" || line.empty()) return TReplace::No;
      if (line == "A" || line == "all") return TReplace::YesToAll;
      if (line == "N" || line == "none") return TReplace::NoToAll;
    }
  }
  std::string Password(const std::string& name) override {
    // Echo goes off (and what was typed ahead is dropped) before the question shows, so that an
    // answer typed as soon as it shows is neither shown nor lost.
    termios old {};
    const bool tty = ::tcgetattr(STDIN_FILENO, &old) == 0;
    if (tty) {
      termios quiet = old;
      quiet.c_lflag &= ~tcflag_t(ECHO);
      ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    Say("Password for " + name + ": ");
    std::string line;
    ReadLine(line);
    if (tty) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &old);
    Say("\n");
    return line;
  }
  void Note(const std::string& text) override { Say(text + "\n"); }

 private:
  std::string caption_;
};

// --- No one to ask --------------------------------------------------------------------------------

class TSilentAsk : public IAsk {
 public:
  explicit TSilentAsk(std::string caption) {
    if (!caption.empty()) Say(caption + "\n");
  }
  bool Interactive() const override { return false; }
  bool Message(const std::string& text, TButtons) override {
    Say(text + "\n");
    return true;
  }
  void Error(const std::string& text) override { Say("error: " + text + "\n"); }
  std::string Folder(const std::string& proposed) override { return proposed; }
  TMode OverwriteMode(TMode proposed) override { return proposed; }
  bool Choose(const std::vector<std::string>& names, std::vector<size_t>& chosen) override {
    return ParseChoice({}, names.size(), chosen);
  }
  TReplace Replace(const std::string& name) override {
    Say("kept existing " + name + "\n");
    return TReplace::No;
  }
  // A password may come on standard input (a pipe or a file), read once.
  std::string Password(const std::string&) override {
    if (!passwordRead_) {
      passwordRead_ = true;
      if (!::isatty(STDIN_FILENO)) ReadLine(password_);
    }
    return password_;
  }
  void Note(const std::string& text) override { Say(text + "\n"); }

 private:
  bool passwordRead_ = false;
  std::string password_;
};

// --- zenity or kdialog ----------------------------------------------------------------------------

class TDialogAsk : public IAsk {
 public:
  TDialogAsk(std::string program, bool kde, std::string caption)
      : program_(std::move(program)), kde_(kde), caption_(caption.empty() ? "Self-extracting Archive" : caption) {}
  bool Interactive() const override { return true; }

  bool Message(const std::string& text, TButtons buttons) override {
    std::string out;
    if (kde_) {
      switch (buttons) {
        case TButtons::Ok: return Run({"--msgbox", text}, out) == 0;
        case TButtons::OkCancel: return Run({"--warningcontinuecancel", text, "--continue-label", "OK"}, out) == 0;
        case TButtons::YesNo: return Run({"--yesno", text}, out) == 0;
      }
    }
    switch (buttons) {
      case TButtons::Ok: return Run({"--info", "--no-markup", "--text", text}, out) == 0;
      case TButtons::OkCancel:
        return Run({"--question", "--no-markup", "--text", text, "--ok-label", "OK", "--cancel-label", "Cancel"}, out) == 0;
      case TButtons::YesNo:
        return Run({"--question", "--no-markup", "--text", text, "--ok-label", "Yes", "--cancel-label", "No"}, out) == 0;
    }
    return false;
  }
  void Error(const std::string& text) override {
    std::string out;
    Say("error: " + text + "\n");
    if (kde_) Run({"--error", text}, out);
    else Run({"--error", "--no-markup", "--text", text}, out);
  }
  std::string Folder(const std::string& proposed) override {
    std::string out;
    const int rc = kde_ ? Run({"--getexistingdirectory", proposed}, out)
                        : Run({"--file-selection", "--directory", "--filename", proposed + "/"}, out);
    if (rc != 0) return {};
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out.empty() ? proposed : out;
  }
  TMode OverwriteMode(TMode proposed) override {
    const char* items[3][2] = {{"c", "Confirm each replacement"}, {"a", "Always replace existing files"},
                               {"n", "Never replace existing files"}};
    const int current = proposed == TMode::Always ? 1 : proposed == TMode::Never ? 2 : 0;
    std::vector<std::string> args;
    if (kde_) {
      args = {"--radiolist", "Existing files:"};
      for (int i = 0; i < 3; ++i) args.insert(args.end(), {items[i][0], items[i][1], i == current ? "on" : "off"});
    } else {
      args = {"--list", "--radiolist", "--text", "Existing files:", "--column", "", "--column", "Key", "--column",
              "What to do", "--hide-column", "2", "--print-column", "2"};
      for (int i = 0; i < 3; ++i) args.insert(args.end(), {i == current ? "TRUE" : "FALSE", items[i][0], items[i][1]});
    }
    std::string out;
    if (Run(args, out) != 0 || out.empty()) return proposed;
    return out[0] == 'a' ? TMode::Always : out[0] == 'n' ? TMode::Never : TMode::Confirm;
  }
  bool Choose(const std::vector<std::string>& names, std::vector<size_t>& chosen) override {
    std::vector<std::string> args;
    if (kde_) {
      args = {"--checklist", "Files to extract:", "--separate-output"};
      for (size_t i = 0; i < names.size(); ++i) args.insert(args.end(), {std::to_string(i + 1), names[i], "on"});
    } else {
      args = {"--list", "--checklist", "--text", "Files to extract:", "--column", "", "--column", "No.", "--column",
              "Name", "--print-column", "2", "--separator", ",", "--width", "600", "--height", "450"};
      for (size_t i = 0; i < names.size(); ++i) args.insert(args.end(), {"TRUE", std::to_string(i + 1), names[i]});
    }
    std::string out;
    if (Run(args, out) != 0) return false;
    for (char& c : out)
      if (c == '\n' || c == '"') c = c == '\n' ? ',' : ' ';
    chosen.clear();
    out = Trim(out);
    while (!out.empty() && (out.back() == ',' || out.back() == ' ')) out.pop_back();
    if (out.empty()) return true;  // nothing ticked: nothing to extract
    return ParseChoice(out, names.size(), chosen);
  }
  TReplace Replace(const std::string& name) override {
    std::vector<std::string> args;
    const std::string q = "Replace the existing file " + name + "?";
    if (kde_) {
      args = {"--radiolist", q, "y", "Yes", "off", "n", "No", "on", "A", "Yes to all", "off", "N", "No to all", "off"};
    } else {
      args = {"--list", "--radiolist", "--text", q, "--column", "", "--column", "Key", "--column", "Answer",
              "--hide-column", "2", "--print-column", "2", "FALSE", "y", "Yes", "TRUE", "n", "No",
              "FALSE", "A", "Yes to all", "FALSE", "N", "No to all"};
    }
    std::string out;
    if (Run(args, out) != 0 || out.empty()) return TReplace::No;
    switch (out[0]) {
      case 'y': return TReplace::Yes;
      case 'A': return TReplace::YesToAll;
      case 'N': return TReplace::NoToAll;
      default: return TReplace::No;
    }
  }
  std::string Password(const std::string& name) override {
    std::string out;
    const int rc = kde_ ? Run({"--password", "Password for " + name}, out) : Run({"--password"}, out);
    if (rc != 0) return {};
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
  }
  void Note(const std::string& text) override { Say(text + "\n"); }

 private:
  // Runs the dialog program with the title and `args`; its standard output goes to `out`. Returns
  // its exit status (-1 when it could not run).
  int Run(const std::vector<std::string>& args, std::string& out) {
    std::vector<std::string> all = {program_, "--title", caption_};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program_.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    out.clear();
    if (spawned == 0) {
      char buf[4096];
      ssize_t n;
      while ((n = ::read(pipeFds[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) out.append(buf, size_t(n));
    }
    ::close(pipeFds[0]);
    if (spawned != 0) return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string program_;
  bool kde_;
  std::string caption_;
};

}  // namespace

bool ParseChoice(const std::string& text, size_t count, std::vector<size_t>& chosen) {
  chosen.clear();
  if (text.empty() || text == "all" || text == "a" || text == "*") {
    for (size_t i = 0; i < count; ++i) chosen.push_back(i);
    return true;
  }
  std::vector<bool> taken(count, false);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of(", ", pos);
    if (end == std::string::npos) end = text.size();
    const std::string part = text.substr(pos, end - pos);
    pos = end + 1;
    if (part.empty()) continue;
    char* rest = nullptr;
    const unsigned long a = std::strtoul(part.c_str(), &rest, 10);
    unsigned long b = a;
    if (rest == part.c_str()) return false;
    if (*rest == '-') {
      const char* second = rest + 1;
      b = std::strtoul(second, &rest, 10);
      if (rest == second) return false;
    }
    if (*rest != '\0' || a == 0 || b < a || b > count) return false;
    for (unsigned long i = a; i <= b; ++i) taken[i - 1] = true;
  }
  for (size_t i = 0; i < count; ++i)
    if (taken[i]) chosen.push_back(i);
  return !chosen.empty();
}

std::unique_ptr<IAsk> MakeAsk(const std::string& caption, bool quiet) {
  if (!quiet && ::isatty(STDIN_FILENO)) return std::make_unique<TTerminalAsk>(caption);
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (!quiet && ((display && *display) || (wayland && *wayland))) {
    if (std::string z = FindOnPath("zenity"); !z.empty()) return std::make_unique<TDialogAsk>(z, false, caption);
    if (std::string k = FindOnPath("kdialog"); !k.empty()) return std::make_unique<TDialogAsk>(k, true, caption);
  }
  return std::make_unique<TSilentAsk>(caption);
}

}  // namespace sfxstub
