#pragma once
// The terminal side of `tandor`: a progress bar on standard error, questions on the terminal, and a
// prompt service that answers the components without windows.
#include <cstdint>
#include <string>

#include "core/Prompt.h"

class TProgressBar {
 public:
  explicit TProgressBar(bool enabled);
  ~TProgressBar();
  void SetTotal(int64_t total);
  void Advance(int64_t bytes);
  void SetDone(int64_t done);
  void SetName(const std::string& name);
  void Finish();

 private:
  void Draw(bool force);
  bool enabled_;
  int64_t total_ = 0, done_ = 0;
  std::string name_;
  int64_t lastDrawMs_ = 0;
  bool drawn_ = false;
};

// Asks a question on the terminal; false when standard input is not a terminal.
bool TerminalAvailable();
// "replace NAME? [y]es, [n]o, [A]ll, [N]one": 'y', 'n', 'A', 'N'; 'n' without a terminal.
char AskReplace(const std::string& name);
// Reads a password without echo; empty when there is no terminal.
std::string AskPassword(const std::string& prompt);

// Messages go to standard error (errors counted); questions take the cautious answer; passwords are
// read from the terminal when there is one.
class TTerminalPrompt : public IPromptService {
 public:
  TPromptAnswer ShowMessage(const std::string& caption, const std::string& text, TPromptIcon icon,
                            TPromptButtons buttons) override;
  bool AskText(const std::string& caption, const std::string& label, std::string& value, bool secret) override;
  std::string OpenFileName(const std::string&, const std::string&, const std::string&) override { return {}; }
  std::vector<std::string> OpenFileNames(const std::string&, const std::string&, const std::string&) override {
    return {};
  }
  std::string SaveFileName(const std::string&, const std::string&, const std::string&) override { return {}; }
  std::string ChooseFolder(const std::string&, const std::string&) override { return {}; }
  int Errors = 0;
};

// Prints "tandor: text" on standard error (one line).
void PrintError(const std::string& text);
