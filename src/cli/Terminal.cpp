#include "cli/Terminal.h"

#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>

#include "safeout/Names.h"

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// One line on the terminal: line breaks become blanks, other control characters are shown escaped.
std::string OneLine(std::string s) {
  for (char& c : s)
    if (c == '\n' || c == '\r') c = ' ';
  return safeout::EscapeControls(s);
}

}  // namespace

void PrintError(const std::string& text) { std::cerr << "tandor: " << OneLine(text) << std::endl; }

TProgressBar::TProgressBar(bool enabled) : enabled_(enabled && isatty(STDERR_FILENO)) {}
TProgressBar::~TProgressBar() { Finish(); }

void TProgressBar::SetTotal(int64_t total) {
  total_ = total;
  Draw(false);
}
void TProgressBar::Advance(int64_t bytes) {
  done_ += bytes;
  Draw(false);
}
void TProgressBar::SetDone(int64_t done) {
  done_ = done;
  Draw(false);
}
void TProgressBar::SetName(const std::string& name) {
  name_ = safeout::EscapeControls(name);
  Draw(false);
}

void TProgressBar::Draw(bool force) {
  if (!enabled_) return;
  const int64_t now = NowMs();
  if (!force && now - lastDrawMs_ < 100) return;
  lastDrawMs_ = now;
  const int percent = total_ > 0 ? static_cast<int>(std::min<int64_t>(100, done_ * 100 / total_)) : 0;
  const int width = 30, filled = percent * width / 100;
  std::string name = name_.size() > 40 ? "..." + name_.substr(name_.size() - 37) : name_;
  std::fprintf(stderr, "\r[%s%s] %3d%% %-40s", std::string(filled, '#').c_str(), std::string(width - filled, '.').c_str(),
               percent, name.c_str());
  std::fflush(stderr);
  drawn_ = true;
}

void TProgressBar::Finish() {
  if (!enabled_ || !drawn_) return;
  std::fprintf(stderr, "\r%-80s\r", "");
  std::fflush(stderr);
  drawn_ = false;
}

bool TerminalAvailable() { return isatty(STDIN_FILENO) && isatty(STDERR_FILENO); }

char AskReplace(const std::string& name) {
  if (!TerminalAvailable()) return 'n';
  for (;;) {
    std::cerr << "\nreplace " << name << "? [y]es, [n]o, [A]ll, [N]one: " << std::flush;
    std::string line;
    if (!std::getline(std::cin, line)) return 'n';
    if (line == "y" || line == "n" || line == "A" || line == "N") return line[0];
  }
}

std::string AskPassword(const std::string& prompt) {
  if (!TerminalAvailable()) return {};
  std::cerr << prompt << std::flush;
  termios old{};
  const bool restore = tcgetattr(STDIN_FILENO, &old) == 0;
  if (restore) {
    termios quiet = old;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
  }
  std::string line;
  std::getline(std::cin, line);
  if (restore) tcsetattr(STDIN_FILENO, TCSANOW, &old);
  std::cerr << std::endl;
  return line;
}

TPromptAnswer TTerminalPrompt::ShowMessage(const std::string& caption, const std::string& text, TPromptIcon icon,
                                           TPromptButtons buttons) {
  if (icon == TPromptIcon::Error || icon == TPromptIcon::Warning) ++Errors;
  PrintError(text);
  switch (buttons) {
    case TPromptButtons::Ok: return TPromptAnswer::Ok;
    case TPromptButtons::YesNo: return TPromptAnswer::No;
    case TPromptButtons::AbortRetryIgnore: return TPromptAnswer::Abort;
    default: return TPromptAnswer::Cancel;
  }
}

bool TTerminalPrompt::AskText(const std::string& caption, const std::string& label, std::string& value, bool secret) {
  if (!TerminalAvailable()) return false;
  value = secret ? ::AskPassword(label + " ") : std::string();
  if (!secret) {
    std::cerr << label << " " << std::flush;
    std::getline(std::cin, value);
  }
  return !value.empty();
}
