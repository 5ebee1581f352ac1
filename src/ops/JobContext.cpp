#include "ops/JobContext.h"

void TJobContext::RequestCancel() {
  cancel_.store(true);
  std::lock_guard lock(hookMutex_);
  if (cancelHook_) cancelHook_();
}

void TJobContext::SetCancelHook(std::function<void()> hook) {
  std::lock_guard lock(hookMutex_);
  cancelHook_ = std::move(hook);
  if (cancelHook_ && Cancelled()) cancelHook_();
}

void TJobContext::Progress(uint64_t done, uint64_t total, const std::string& name) {
  if (OnProgress) OnProgress(TJobProgress{done, total, name});
}

void TJobContext::Message(const TStatus& status) {
  if (status.IsOk()) return;
  if (status.Code() == TStatusCode::Warning) Warnings.push_back(status.Message());
  Status.Merge(status);
  if (OnMessage) OnMessage(status);
}

void TJobContext::Note(const std::string& text) {
  if (OnMessage) OnMessage(TStatus::Warning(text));
}

void TJobContext::Refuse(const std::string& name, const std::string& why) {
  Refused.push_back(name);
  ++Counts.Skipped;
  Message(TStatus::Warning(why.empty() ? name : why));
}

bool TJobContext::Overwrite(const TOverwriteQuestion& question) {
  if (OverwriteMode == TOverwriteMode::Always || yesToAll_) return true;
  if (OverwriteMode == TOverwriteMode::Never || noToAll_) return false;
  switch (questions_.AskOverwrite(question)) {
    case TOverwriteChoice::Yes: return true;
    case TOverwriteChoice::YesToAll: yesToAll_ = true; return true;
    case TOverwriteChoice::NoToAll: noToAll_ = true; return false;
    case TOverwriteChoice::Cancel: RequestCancel(); return false;
    case TOverwriteChoice::No: break;
  }
  return false;
}

TPasswordChoice TJobContext::Password(const std::string& entryName, std::string& password) {
  password.clear();
  if (Cancelled()) return TPasswordChoice::Abort;
  if (noMorePasswords_) return TPasswordChoice::CancelAll;
  if (!password_.empty() && !passwordStale_) {
    password = password_;
    return TPasswordChoice::Ok;
  }
  std::string answer;
  const TPasswordChoice choice = questions_.AskPassword(entryName, answer);
  switch (choice) {
    case TPasswordChoice::Ok:
      if (answer.empty()) return TPasswordChoice::Cancel;
      password_ = password = answer;
      passwordStale_ = false;
      return choice;
    case TPasswordChoice::CancelAll: noMorePasswords_ = true; break;
    case TPasswordChoice::Abort: RequestCancel(); break;
    case TPasswordChoice::Cancel: break;
  }
  return choice;
}
