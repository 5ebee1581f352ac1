#include "pages/common/PromptService.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QVBoxLayout>
#include <algorithm>
#include <mutex>

namespace {

std::mutex gHookMutex;
std::function<int(QDialog&, const char*)> gModalHook;
std::function<void(bool)> gModalObserver;

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Converts "Name|*.a;*.b|Other|*.c" (the program's filter texts) to Qt's "Name (*.a *.b);;Other (*.c)".
QString QtFilter(const std::string& filter) {
  if (filter.find('|') == std::string::npos) return Q(filter);
  const QStringList parts = Q(filter).split('|');
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(';', ' ');
    out << parts[i] + " (" + patterns + ")";
  }
  return out.join(";;");
}

void NotifyModal(bool open) {
  std::function<void(bool)> observer;
  {
    std::lock_guard lock(gHookMutex);
    observer = gModalObserver;
  }
  if (observer) observer(open);
}

}  // namespace

void RunOnUiThread(const std::function<void()>& work) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() == app->thread()) {
    work();
    return;
  }
  QMetaObject::invokeMethod(app, work, Qt::BlockingQueuedConnection);
}

TPromptService::TPromptService(QWidget* owner) : owner_(owner) {}

void TPromptService::OnUiThread(const std::function<void()>& work) {
  RunOnUiThread([&] {
    NotifyModal(true);
    work();
    NotifyModal(false);
  });
}

TPromptAnswer TPromptService::ShowMessage(const std::string& caption, const std::string& text, TPromptIcon icon,
                                          TPromptButtons buttons) {
  TPromptAnswer answer = TPromptAnswer::Cancel;
  OnUiThread([&] {
    QMessageBox box(owner_);
    box.setWindowTitle(Q(caption));
    box.setText(Q(text));
    switch (icon) {
      case TPromptIcon::Information: box.setIcon(QMessageBox::Information); break;
      case TPromptIcon::Warning: box.setIcon(QMessageBox::Warning); break;
      case TPromptIcon::Error: box.setIcon(QMessageBox::Critical); break;
      case TPromptIcon::Question: box.setIcon(QMessageBox::Question); break;
      case TPromptIcon::None: break;
    }
    std::vector<std::pair<QAbstractButton*, TPromptAnswer>> map;
    const auto add = [&](QMessageBox::StandardButton b, TPromptAnswer a) { map.emplace_back(box.addButton(b), a); };
    switch (buttons) {
      case TPromptButtons::Ok: add(QMessageBox::Ok, TPromptAnswer::Ok); break;
      case TPromptButtons::OkCancel:
        add(QMessageBox::Ok, TPromptAnswer::Ok);
        add(QMessageBox::Cancel, TPromptAnswer::Cancel);
        break;
      case TPromptButtons::YesNo:
        add(QMessageBox::Yes, TPromptAnswer::Yes);
        add(QMessageBox::No, TPromptAnswer::No);
        break;
      case TPromptButtons::YesCancel:
        add(QMessageBox::Yes, TPromptAnswer::Yes);
        add(QMessageBox::Cancel, TPromptAnswer::Cancel);
        break;
      case TPromptButtons::YesNoCancel:
        add(QMessageBox::Yes, TPromptAnswer::Yes);
        add(QMessageBox::No, TPromptAnswer::No);
        add(QMessageBox::Cancel, TPromptAnswer::Cancel);
        break;
      case TPromptButtons::YesNoAllCancel:
        add(QMessageBox::Yes, TPromptAnswer::Yes);
        add(QMessageBox::YesToAll, TPromptAnswer::YesToAll);
        add(QMessageBox::No, TPromptAnswer::No);
        add(QMessageBox::NoToAll, TPromptAnswer::NoToAll);
        add(QMessageBox::Cancel, TPromptAnswer::Cancel);
        break;
      case TPromptButtons::AbortRetryIgnore:
        add(QMessageBox::Abort, TPromptAnswer::Abort);
        add(QMessageBox::Retry, TPromptAnswer::Retry);
        add(QMessageBox::Ignore, TPromptAnswer::Ignore);
        break;
      case TPromptButtons::RetryCancel:
        add(QMessageBox::Retry, TPromptAnswer::Retry);
        add(QMessageBox::Cancel, TPromptAnswer::Cancel);
        break;
    }
    box.exec();
    answer = map.back().second;  // closing the box counts as its last (most cautious) button
    for (const auto& [button, a] : map)
      if (box.clickedButton() == button) answer = a;
  });
  return answer;
}

bool TPromptService::AskText(const std::string& caption, const std::string& label, std::string& value, bool secret) {
  bool ok = false;
  OnUiThread([&] {
    QInputDialog dialog(owner_);
    dialog.setWindowTitle(Q(caption));
    dialog.setLabelText(Q(label));
    dialog.setTextEchoMode(secret ? QLineEdit::Password : QLineEdit::Normal);
    dialog.setTextValue(Q(value));
    FitToTitle(dialog);
    ok = dialog.exec() == QDialog::Accepted;
    if (ok) value = dialog.textValue().toStdString();
  });
  return ok;
}

TPromptAnswer TPromptService::AskPassword(const std::string& caption, const std::string& label, std::string& value,
                                         bool cancelAll, bool abort) {
  TPromptAnswer answer = TPromptAnswer::Cancel;
  OnUiThread([&] {
    QDialog dialog(owner_);
    dialog.setWindowTitle(Q(caption));
    QFont bold = dialog.font();
    bold.setBold(true);
    dialog.setFont(bold);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(Q(label), &dialog));
    auto* edit = new QLineEdit(&dialog);
    edit->setEchoMode(QLineEdit::Password);
    edit->setMaxLength(80);
    layout->addWidget(edit);
    auto* row = new QHBoxLayout;
    layout->addLayout(row);
    const auto add = [&](const char* text, TPromptAnswer a) {
      auto* b = new QPushButton(text, &dialog);
      b->setMinimumWidth(114);
      row->addWidget(b);
      QObject::connect(b, &QPushButton::clicked, &dialog, [&dialog, &answer, a] {
        answer = a;
        dialog.done(a == TPromptAnswer::Ok ? QDialog::Accepted : QDialog::Rejected);
      });
      return b;
    };
    add("&Ok", TPromptAnswer::Ok)->setDefault(true);
    add("&Cancel", TPromptAnswer::Cancel);
    if (cancelAll) add("Cancel all", TPromptAnswer::NoToAll);
    if (abort) add("Abort", TPromptAnswer::Abort);
    FitToTitle(dialog);
    answer = TPromptAnswer::Cancel;  // Escape and closing the window
    dialog.exec();
    if (answer == TPromptAnswer::Ok) value = edit->text().toStdString();
  });
  return answer;
}

std::string TPromptService::OpenFileName(const std::string& caption, const std::string& folder,
                                         const std::string& filter) {
  std::string r;
  OnUiThread([&] { r = QFileDialog::getOpenFileName(owner_, Q(caption), Q(folder), QtFilter(filter)).toStdString(); });
  return r;
}

std::vector<std::string> TPromptService::OpenFileNames(const std::string& caption, const std::string& folder,
                                                       const std::string& filter) {
  std::vector<std::string> r;
  OnUiThread([&] {
    for (const QString& f : QFileDialog::getOpenFileNames(owner_, Q(caption), Q(folder), QtFilter(filter)))
      r.push_back(f.toStdString());
  });
  return r;
}

std::string TPromptService::SaveFileName(const std::string& caption, const std::string& folder,
                                         const std::string& filter) {
  return SaveArchiveName(caption, folder, filter, {});
}

std::string TPromptService::SaveArchiveName(const std::string& caption, const std::string& folder,
                                            const std::string& filter, const std::string& defaultSuffix) {
  std::string r;
  OnUiThread([&] {
    QFileDialog dialog(owner_, Q(caption), Q(folder), QtFilter(filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    // Added before the dialog asks about replacing, so the question names the file really written.
    if (!defaultSuffix.empty()) dialog.setDefaultSuffix(Q(defaultSuffix.substr(defaultSuffix[0] == '.' ? 1 : 0)));
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
      r = dialog.selectedFiles().first().toStdString();
  });
  return r;
}

std::string TPromptService::ChooseFolder(const std::string& caption, const std::string& folder) {
  std::string r;
  OnUiThread([&] { r = QFileDialog::getExistingDirectory(owner_, Q(caption), Q(folder)).toStdString(); });
  return r;
}

int TitleBarWidth(const QString& title) {
  // Title bars draw the title in bold beside the window's icon and its three buttons.
  QFont font = QApplication::font();
  font.setBold(true);
  return QFontMetrics(font).horizontalAdvance(title) + 150;
}

void FitToTitle(QWidget& window) {
  int needed = TitleBarWidth(window.windowTitle());
  if (const QScreen* screen = window.screen()) needed = std::min(needed, screen->availableGeometry().width());
  // The width it would show with: the one it was given, else the one its layout asks for.
  const int width = window.testAttribute(Qt::WA_Resized) ? window.width()
                                                          : std::max(window.sizeHint().width(), window.minimumWidth());
  if (width >= needed) return;
  if (window.maximumWidth() < needed) window.setMaximumWidth(needed);
  window.setMinimumWidth(needed);
  if (window.testAttribute(Qt::WA_Resized)) window.resize(needed, window.height());
}

int ExecModal(QDialog& dialog, const char* name) {
  FitToTitle(dialog);
  std::function<int(QDialog&, const char*)> hook;
  {
    std::lock_guard lock(gHookMutex);
    hook = gModalHook;
  }
  NotifyModal(true);
  const int result = hook ? hook(dialog, name) : dialog.exec();
  NotifyModal(false);
  return result;
}

void SetModalHook(std::function<int(QDialog&, const char*)> hook) {
  std::lock_guard lock(gHookMutex);
  gModalHook = std::move(hook);
}

void SetModalObserver(std::function<void(bool)> observer) {
  std::lock_guard lock(gHookMutex);
  gModalObserver = std::move(observer);
}
