#include "ScriptedPrompt.h"

TScriptedPrompt::TScriptedPrompt() {
  previous_ = &Prompt();
  SetPromptService(this);
}

TScriptedPrompt::~TScriptedPrompt() { SetPromptService(nullptr); }

void TScriptedPrompt::QueueAnswer(TPromptAnswer a) {
  std::lock_guard lock(mutex_);
  answers_.push_back(a);
}
void TScriptedPrompt::QueueText(const std::string& s) {
  std::lock_guard lock(mutex_);
  texts_.push_back(s);
}
void TScriptedPrompt::QueuePath(const std::string& s) {
  std::lock_guard lock(mutex_);
  paths_.push_back({s});
}
void TScriptedPrompt::QueuePaths(const std::vector<std::string>& s) {
  std::lock_guard lock(mutex_);
  paths_.push_back(s);
}

std::vector<TScriptedPrompt::Shown> TScriptedPrompt::History() const {
  std::lock_guard lock(mutex_);
  return history_;
}

std::vector<std::string> TScriptedPrompt::Texts() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (const auto& h : history_)
    if (h.kind == "message") out.push_back(h.text);
  return out;
}

bool TScriptedPrompt::Saw(const std::string& fragment) const {
  std::lock_guard lock(mutex_);
  for (const auto& h : history_)
    if (h.text.find(fragment) != std::string::npos || h.caption.find(fragment) != std::string::npos) return true;
  return false;
}

void TScriptedPrompt::Clear() {
  std::lock_guard lock(mutex_);
  history_.clear();
  answers_.clear();
  texts_.clear();
  paths_.clear();
}

TPromptAnswer TScriptedPrompt::ShowMessage(const std::string& caption, const std::string& text, TPromptIcon,
                                           TPromptButtons buttons) {
  std::lock_guard lock(mutex_);
  history_.push_back({"message", caption, text, {}});
  if (!answers_.empty()) {
    TPromptAnswer a = answers_.front();
    answers_.pop_front();
    return a;
  }
  return buttons == TPromptButtons::Ok ? TPromptAnswer::Ok : defaultAnswer_;
}

bool TScriptedPrompt::AskText(const std::string& caption, const std::string& label, std::string& value, bool) {
  std::lock_guard lock(mutex_);
  history_.push_back({"text", caption, label, {}});
  if (texts_.empty()) return false;
  std::string t = texts_.front();
  texts_.pop_front();
  if (t.rfind(kCancel, 0) == 0) return false;
  value = t;
  return true;
}

TPromptAnswer TScriptedPrompt::AskPassword(const std::string& caption, const std::string& label, std::string& value,
                                           bool cancelAll, bool abort) {
  std::lock_guard lock(mutex_);
  history_.push_back({"text", caption, label,
                      std::string("Ok|Cancel") + (cancelAll ? "|Cancel all" : "") + (abort ? "|Abort" : "")});
  if (texts_.empty()) return TPromptAnswer::Cancel;
  const std::string t = texts_.front();
  texts_.pop_front();
  if (t == kCancelAll && cancelAll) return TPromptAnswer::NoToAll;
  if (t == kAbort && abort) return TPromptAnswer::Abort;
  if (t.rfind(kCancel, 0) == 0) return TPromptAnswer::Cancel;
  value = t.substr(0, 80);
  return TPromptAnswer::Ok;
}

std::string TScriptedPrompt::NextPath() {
  if (paths_.empty()) return {};
  auto v = paths_.front();
  paths_.pop_front();
  return v.empty() ? std::string() : v.front();
}

std::string TScriptedPrompt::OpenFileName(const std::string& caption, const std::string&, const std::string&) {
  std::lock_guard lock(mutex_);
  history_.push_back({"open", caption, {}, {}});
  return NextPath();
}

std::vector<std::string> TScriptedPrompt::OpenFileNames(const std::string& caption, const std::string&,
                                                        const std::string&) {
  std::lock_guard lock(mutex_);
  history_.push_back({"opens", caption, {}, {}});
  if (paths_.empty()) return {};
  auto v = paths_.front();
  paths_.pop_front();
  return v;
}

std::string TScriptedPrompt::SaveFileName(const std::string& caption, const std::string&, const std::string&) {
  std::lock_guard lock(mutex_);
  history_.push_back({"save", caption, {}, {}});
  return NextPath();
}

std::string TScriptedPrompt::SaveArchiveName(const std::string& caption, const std::string&, const std::string&,
                                             const std::string& defaultSuffix) {
  std::lock_guard lock(mutex_);
  history_.push_back({"save", caption, defaultSuffix, {}});
  return NextPath();
}

std::string TScriptedPrompt::ChooseFolder(const std::string& caption, const std::string&) {
  std::lock_guard lock(mutex_);
  history_.push_back({"folder", caption, {}, {}});
  return NextPath();
}
