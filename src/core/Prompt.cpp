#include "core/Prompt.h"

#include <atomic>

namespace {

class TSilentPrompt final : public IPromptService {
 public:
  TPromptAnswer ShowMessage(const std::string&, const std::string&, TPromptIcon, TPromptButtons buttons) override {
    switch (buttons) {
      case TPromptButtons::Ok: return TPromptAnswer::Ok;
      case TPromptButtons::YesNo: return TPromptAnswer::No;
      case TPromptButtons::AbortRetryIgnore: return TPromptAnswer::Abort;
      default: return TPromptAnswer::Cancel;
    }
  }
  bool AskText(const std::string&, const std::string&, std::string&, bool) override { return false; }
  std::string OpenFileName(const std::string&, const std::string&, const std::string&) override { return {}; }
  std::vector<std::string> OpenFileNames(const std::string&, const std::string&, const std::string&) override {
    return {};
  }
  std::string SaveFileName(const std::string&, const std::string&, const std::string&) override { return {}; }
  std::string ChooseFolder(const std::string&, const std::string&) override { return {}; }
};

TSilentPrompt gSilent;
std::atomic<IPromptService*> gService{nullptr};

}  // namespace

IPromptService& Prompt() {
  IPromptService* s = gService.load(std::memory_order_acquire);
  return s ? *s : gSilent;
}

void SetPromptService(IPromptService* service) { gService.store(service, std::memory_order_release); }

IPromptService* InstalledPromptService() { return gService.load(std::memory_order_acquire); }

void ShowInfo(const std::string& text, const std::string& caption) {
  Prompt().ShowMessage(caption, text, TPromptIcon::Information, TPromptButtons::Ok);
}

void ShowError(const std::string& text, const std::string& caption) {
  Prompt().ShowMessage(caption, text, TPromptIcon::Error, TPromptButtons::Ok);
}

void ShowWarning(const std::string& text, const std::string& caption) {
  Prompt().ShowMessage(caption, text, TPromptIcon::Warning, TPromptButtons::Ok);
}

bool AskYesNo(const std::string& text, const std::string& caption) {
  return Prompt().ShowMessage(caption, text, TPromptIcon::Question, TPromptButtons::YesNo) == TPromptAnswer::Yes;
}
