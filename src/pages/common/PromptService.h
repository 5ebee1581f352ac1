#pragma once
// The window layer's prompt service: message boxes, text entry and file dialogs shown by Qt on the
// user-interface thread. A call from a worker thread waits while the user-interface thread shows it.
#include <QObject>
#include <QString>
#include <functional>

#include "core/Prompt.h"

class QDialog;
class QWidget;

class TPromptService final : public QObject, public IPromptService {
  Q_OBJECT
 public:
  explicit TPromptService(QWidget* owner);

  TPromptAnswer ShowMessage(const std::string& caption, const std::string& text, TPromptIcon icon,
                            TPromptButtons buttons) override;
  bool AskText(const std::string& caption, const std::string& label, std::string& value, bool secret) override;
  TPromptAnswer AskPassword(const std::string& caption, const std::string& label, std::string& value, bool cancelAll,
                            bool abort) override;
  std::string OpenFileName(const std::string& caption, const std::string& folder, const std::string& filter) override;
  std::vector<std::string> OpenFileNames(const std::string& caption, const std::string& folder,
                                         const std::string& filter) override;
  std::string SaveFileName(const std::string& caption, const std::string& folder, const std::string& filter) override;
  std::string SaveArchiveName(const std::string& caption, const std::string& folder, const std::string& filter,
                              const std::string& defaultSuffix) override;
  std::string ChooseFolder(const std::string& caption, const std::string& folder) override;

 private:
  // Runs `work` on the user-interface thread and waits for it.
  void OnUiThread(const std::function<void()>& work);
  QWidget* owner_;
};

// Runs the given function on the user-interface thread and waits for it to finish (or runs it at once
// when already there).
void RunOnUiThread(const std::function<void()>& work);

// The width a title bar needs for `title` (bold text, the window's icon and buttons).
int TitleBarWidth(const QString& title);
// Widens a window (never past the screen) so that its title bar shows its whole title.
void FitToTitle(QWidget& window);

// Shows one of the program's own modal windows; fitted to its title first. Tests install a hook that fills the window's fields and
// answers instead of showing it; `name` is the window's class name ("TDatePickForm").
int ExecModal(QDialog& dialog, const char* name);
void SetModalHook(std::function<int(QDialog& dialog, const char* name)> hook);
// Called around every modal window (the main window keeps its ModalDialogOpen flag with it).
void SetModalObserver(std::function<void(bool open)> observer);
