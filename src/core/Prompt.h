#pragma once
// The prompt service: every message box, question, text entry and file dialog of the program goes
// through one object, so that tests can answer by script and read back every text shown. Non-visual
// components talk to it through this interface only; the window layer installs the real one.
#include <string>
#include <vector>

enum class TPromptIcon { None, Information, Warning, Error, Question };

enum class TPromptButtons { Ok, OkCancel, YesNo, YesCancel, YesNoCancel, YesNoAllCancel, AbortRetryIgnore, RetryCancel };

enum class TPromptAnswer { Ok, Cancel, Yes, No, YesToAll, NoToAll, Abort, Retry, Ignore };

class IPromptService {
 public:
  virtual ~IPromptService() = default;

  // A message box or question. `caption` is the window title, `text` may hold "\n".
  virtual TPromptAnswer ShowMessage(const std::string& caption, const std::string& text, TPromptIcon icon,
                                    TPromptButtons buttons) = 0;

  // A one-line text entry. Returns false when cancelled; `value` holds the start text and the answer.
  virtual bool AskText(const std::string& caption, const std::string& label, std::string& value, bool secret) = 0;

  // The password window: "&Ok" and "&Cancel", and "Cancel all" and "Abort" when asked for. Ok with
  // `value` holding the typed text (at most 80 characters), Cancel, NoToAll for "Cancel all", Abort.
  // Services without a window of their own ask with AskText (Ok or Cancel).
  virtual TPromptAnswer AskPassword(const std::string& caption, const std::string& label, std::string& value,
                                    bool cancelAll, bool abort);

  // File and folder dialogs. Empty results mean cancelled. `filter` uses Qt's syntax ("Zip (*.zip)").
  virtual std::string OpenFileName(const std::string& caption, const std::string& folder,
                                   const std::string& filter) = 0;
  virtual std::vector<std::string> OpenFileNames(const std::string& caption, const std::string& folder,
                                                 const std::string& filter) = 0;
  virtual std::string SaveFileName(const std::string& caption, const std::string& folder,
                                   const std::string& filter) = 0;
  // The same with `defaultSuffix` (".zip", ".tar.gz") added to a typed name that has no extension,
  // before the dialog asks about replacing an existing file. Services without a dialog of their own
  // answer as SaveFileName does.
  virtual std::string SaveArchiveName(const std::string& caption, const std::string& folder, const std::string& filter,
                                      const std::string& defaultSuffix);
  virtual std::string ChooseFolder(const std::string& caption, const std::string& folder) = 0;
};

// The service in force. Until one is installed, a silent one answers every question with its first
// "negative" choice (Cancel/No/Ok) and never blocks: command-line tools and early start-up use it.
IPromptService& Prompt();
void SetPromptService(IPromptService* service);
// The installed service, or nullptr while the silent one answers.
IPromptService* InstalledPromptService();

// Short forms of the common boxes.
void ShowInfo(const std::string& text, const std::string& caption = "Tandor File");
void ShowError(const std::string& text, const std::string& caption = "Tandor File");
void ShowWarning(const std::string& text, const std::string& caption = "Tandor File");
bool AskYesNo(const std::string& text, const std::string& caption = "Tandor File");

// The archive suffix a file name ends in (".zip", ".tar.gz", ".tgz", ".tar", ".gz", ".rar"; lower
// case), or empty.
std::string ArchiveSuffixOf(const std::string& name);
// Asks for the name of an archive to save. A name typed with one of the `kept` suffixes keeps it; any
// other gets `defaultSuffix`, and when that makes it the name of an existing file, the user is asked
// before it is replaced. Empty when cancelled.
std::string AskArchiveSaveName(const std::string& caption, const std::string& folder, const std::string& filter,
                               const std::string& defaultSuffix,
                               const std::vector<std::string>& kept = {".zip", ".tar.gz", ".tgz", ".tar", ".gz"});
