#include "core/Prompt.h"

#include <algorithm>
#include <atomic>
#include <filesystem>

#include "core/TextUtil.h"

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

TPromptAnswer IPromptService::AskPassword(const std::string& caption, const std::string& label, std::string& value,
                                          bool, bool) {
  return AskText(caption, label, value, true) ? TPromptAnswer::Ok : TPromptAnswer::Cancel;
}

std::string IPromptService::SaveArchiveName(const std::string& caption, const std::string& folder,
                                            const std::string& filter, const std::string&) {
  return SaveFileName(caption, folder, filter);
}

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

std::string ArchiveSuffixOf(const std::string& name) {
  const std::string lower = LowerCase(ExtractFileName(name));
  for (const char* suffix : {".tar.gz", ".tgz", ".zip", ".tar", ".gz", ".rar"})
    if (lower.size() > std::string_view(suffix).size() && EndsWith(lower, suffix)) return suffix;
  return {};
}

std::string AskArchiveSaveName(const std::string& caption, const std::string& folder, const std::string& filter,
                               const std::string& defaultSuffix, const std::vector<std::string>& kept) {
  const std::string typed = Prompt().SaveArchiveName(caption, folder, filter, defaultSuffix);
  const std::string suffix = ArchiveSuffixOf(typed);
  if (typed.empty() || (!suffix.empty() && std::find(kept.begin(), kept.end(), suffix) != kept.end())) return typed;
  const std::string name = typed + defaultSuffix;
  std::error_code ec;
  if (std::filesystem::exists(name, ec) &&
      Prompt().ShowMessage(caption, name + " already exists.\nDo you want to replace it?", TPromptIcon::Warning,
                           TPromptButtons::YesNo) != TPromptAnswer::Yes)
    return {};
  return name;
}
