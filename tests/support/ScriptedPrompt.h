#pragma once
// A prompt service for tests: answers from a script, records every text shown.
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "core/Prompt.h"

class TScriptedPrompt : public IPromptService {
 public:
  struct Shown {
    std::string kind;  // "message", "text", "open", "opens", "save", "folder"
    std::string caption;
    std::string text;
    std::string buttons;  // password window: "Ok|Cancel|Cancel all|Abort" as offered
  };

  TScriptedPrompt();
  ~TScriptedPrompt() override;

  // Answers are taken in order; when none is queued the default answer (or empty) is used.
  void QueueAnswer(TPromptAnswer a);
  // For AskText and AskPassword; a queued kCancel means Cancel, kCancelAll and kAbort press the password
  // window's "Cancel all" and "Abort" (AskText takes them as Cancel).
  static constexpr const char* kCancel = "\x18";
  static constexpr const char* kCancelAll = "\x18" "all";
  static constexpr const char* kAbort = "\x18" "abort";
  void QueueText(const std::string& s);
  void QueuePath(const std::string& s);  // for Open/Save/ChooseFolder
  void QueuePaths(const std::vector<std::string>& s);
  void SetDefaultAnswer(TPromptAnswer a) { defaultAnswer_ = a; }

  std::vector<Shown> History() const;
  std::vector<std::string> Texts() const;  // the texts of every message shown
  bool Saw(const std::string& fragment) const;
  void Clear();

  TPromptAnswer ShowMessage(const std::string& caption, const std::string& text, TPromptIcon icon,
                            TPromptButtons buttons) override;
  bool AskText(const std::string& caption, const std::string& label, std::string& value, bool secret) override;
  // Recorded as a "text" entry; the buttons offered are noted in `Buttons`.
  TPromptAnswer AskPassword(const std::string& caption, const std::string& label, std::string& value, bool cancelAll,
                            bool abort) override;
  std::string OpenFileName(const std::string& caption, const std::string& folder, const std::string& filter) override;
  std::vector<std::string> OpenFileNames(const std::string& caption, const std::string& folder,
                                         const std::string& filter) override;
  std::string SaveFileName(const std::string& caption, const std::string& folder, const std::string& filter) override;
  // Records the default suffix as the text shown; returns the queued path as typed.
  std::string SaveArchiveName(const std::string& caption, const std::string& folder, const std::string& filter,
                              const std::string& defaultSuffix) override;
  std::string ChooseFolder(const std::string& caption, const std::string& folder) override;

 private:
  std::string NextPath();
  mutable std::mutex mutex_;
  std::deque<TPromptAnswer> answers_;
  std::deque<std::string> texts_;
  std::deque<std::vector<std::string>> paths_;
  std::vector<Shown> history_;
  TPromptAnswer defaultAnswer_ = TPromptAnswer::Cancel;
  IPromptService* previous_ = nullptr;
};
