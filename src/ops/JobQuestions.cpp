#include "ops/JobQuestions.h"

#include "core/Prompt.h"

namespace {
constexpr char kCaption[] = "Tandor File";
}

TOverwriteChoice TPromptQuestions::AskOverwrite(const TOverwriteQuestion& q) {
  const std::string text = "REPLACE THE FILE \n" + q.DiskPath + "\nWITH THE ARCHIVE FILE \n" + q.EntryName +
                           (q.EntryIsOlder ? "\n(THE FILE IN THE ARCHIVE IS OLDER THAN THE FILE ON DISK)" : "");
  switch (Prompt().ShowMessage(kCaption, text, TPromptIcon::Question, TPromptButtons::YesNoAllCancel)) {
    case TPromptAnswer::Yes: return TOverwriteChoice::Yes;
    case TPromptAnswer::YesToAll: return TOverwriteChoice::YesToAll;
    case TPromptAnswer::NoToAll: return TOverwriteChoice::NoToAll;
    case TPromptAnswer::No: return TOverwriteChoice::No;
    default: return TOverwriteChoice::Cancel;  // Cancel, Escape or closing the box: the file stays, the run ends
  }
}

TPasswordChoice TPromptQuestions::AskPassword(const std::string&, std::string& password) {
  password.clear();
  switch (Prompt().AskPassword("Password", "Enter Password ", password, true, true)) {
    case TPromptAnswer::Ok: return password.empty() ? TPasswordChoice::Cancel : TPasswordChoice::Ok;
    case TPromptAnswer::NoToAll: password.clear(); return TPasswordChoice::CancelAll;
    case TPromptAnswer::Abort: password.clear(); return TPasswordChoice::Abort;
    default: password.clear(); return TPasswordChoice::Cancel;
  }
}

TSecurityChoice TPromptQuestions::AskSecurity(const std::vector<TUnsafeName>& names) {
  std::string text =
      "THERE IS A POSSIBLE SECURITY THREAT IN THIS ARCHIVE...\nTHESE ENTRIES WOULD BE WRITTEN OUTSIDE THE CHOSEN "
      "FOLDER; THEIR NAMES ARE CLEANED:\n";
  size_t shown = 0;
  for (const TUnsafeName& n : names) {
    if (++shown > 20) {
      text += "... (" + std::to_string(names.size() - 20) + " more)\n";
      break;
    }
    text += n.EntryName + "\n";
  }
  text += "\nYES: DO NOT UNZIP THESE FILES\nNO: UNZIP THEM UNDER THEIR CLEANED NAMES\nCANCEL: HALT THE UNZIP PROCESS";
  switch (Prompt().ShowMessage(kCaption, text, TPromptIcon::Warning, TPromptButtons::YesNoCancel)) {
    case TPromptAnswer::Yes: return TSecurityChoice::SkipUnsafe;
    case TPromptAnswer::No: return TSecurityChoice::Ignore;
    default: return TSecurityChoice::Halt;
  }
}

TDamagedChoice TPromptQuestions::AskDamaged(const std::string& entryName, const TStatus& why) {
  if (!AskOnDamage) return TDamagedChoice::Skip;
  const std::string text = entryName + "\n" + why.Text() + "\n\nGO ON WITH THE OTHER FILES?";
  return Prompt().ShowMessage(kCaption, text, TPromptIcon::Error, TPromptButtons::YesNo) == TPromptAnswer::Yes
             ? TDamagedChoice::Skip
             : TDamagedChoice::Stop;
}
