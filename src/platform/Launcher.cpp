#include "platform/Launcher.h"

#include <sys/stat.h>

#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// The Exec line of a desktop entry with the file put in for its field codes.
QStringList ExecLine(const QString& desktopFile, const QString& path) {
  QFile f(desktopFile);
  if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
  bool inEntry = false;
  QString exec;
  while (!f.atEnd()) {
    const QString line = QString::fromUtf8(f.readLine()).trimmed();
    if (line.startsWith('[')) {
      inEntry = line == "[Desktop Entry]";
      continue;
    }
    if (inEntry && line.startsWith("Exec=")) {
      exec = line.mid(5);
      break;
    }
  }
  if (exec.isEmpty()) return {};
  bool placed = false;
  QStringList out;
  for (QString a : QProcess::splitCommand(exec)) {
    if (a == "%f" || a == "%F" || a == "%u" || a == "%U") {
      out << path;
      placed = true;
      continue;
    }
    if (a.size() == 2 && a[0] == '%') continue;  // %i, %c, %k and the like
    a.replace("%%", "%");
    out << a;
  }
  if (!placed) out << path;
  return out;
}

class TDesktopLauncher final : public IDesktopLauncher {
 public:
  bool OpenFile(const std::string& path) override {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(QString::fromStdString(path)).absoluteFilePath()));
  }

  bool OpenWithTypeHandler(const std::string& mimeType, const std::string& path) override {
    const QString file = QFileInfo(QString::fromStdString(path)).absoluteFilePath();
    QProcess query;
    query.start("xdg-mime", {"query", "default", QString::fromStdString(mimeType)});
    if (query.waitForFinished(5000) && query.exitCode() == 0) {
      const QString id = QString::fromUtf8(query.readAllStandardOutput()).trimmed();
      const QString entry = id.isEmpty() ? QString() : QStandardPaths::locate(QStandardPaths::ApplicationsLocation, id);
      const QStringList command = entry.isEmpty() ? QStringList() : ExecLine(entry, file);
      if (!command.isEmpty() && QProcess::startDetached(command.front(), command.mid(1))) return true;
    }
    if (mimeType == "text/plain") {
      // No handler registered: a text editor found on PATH.
      for (const char* editor : {"gnome-text-editor", "gedit", "kate", "kwrite", "mousepad", "xed", "pluma", "leafpad"}) {
        const QString exe = QStandardPaths::findExecutable(editor);
        if (!exe.isEmpty() && QProcess::startDetached(exe, {file})) return true;
      }
    }
    return false;
  }

  bool OpenWithProgram(const std::string& program, const std::string& path) override {
    const QString exe = QStandardPaths::findExecutable(QString::fromStdString(program));
    const QString use = exe.isEmpty() ? QString::fromStdString(program) : exe;
    return QProcess::startDetached(use, {QFileInfo(QString::fromStdString(path)).absoluteFilePath()});
  }
};

TDesktopLauncher& Own() {
  static TDesktopLauncher launcher;
  return launcher;
}
IDesktopLauncher* installed = nullptr;

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool EndsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

IDesktopLauncher& DesktopLauncher() { return installed ? *installed : Own(); }
void SetDesktopLauncher(IDesktopLauncher* launcher) { installed = launcher; }

std::string FindWordProcessor() {
  for (const char* name : {"lowriter", "abiword", "libreoffice", "soffice"}) {
    const QString exe = QStandardPaths::findExecutable(name);
    if (!exe.isEmpty()) return exe.toStdString();
  }
  return {};
}

TRunRisk RunRiskOf(const std::string& path) {
  const std::string name = Lower(fs::path(path).filename().string());
  // Names a desktop runs or installs when asked to open them.
  static const std::array<const char*, 18> programs = {".exe", ".com", ".msi", ".scr", ".appimage", ".run",
                                                       ".elf", ".so",  ".deb", ".rpm", ".jar",      ".apk",
                                                       ".flatpakref", ".flatpak", ".snap", ".dll", ".cpl", ".pif"};
  static const std::array<const char*, 22> scripts = {".desktop", ".sh",  ".bash", ".zsh", ".csh", ".ksh", ".fish", ".py",
                                                      ".pyw",     ".pl",  ".rb",   ".php", ".lua", ".tcl", ".bat",  ".cmd",
                                                      ".ps1",     ".vbs", ".js",   ".jse", ".wsf", ".directory"};
  std::array<char, 512> head{};
  size_t got = 0;
  {
    std::ifstream in(path, std::ios::binary);
    if (in) {
      in.read(head.data(), static_cast<std::streamsize>(head.size()));
      got = static_cast<size_t>(in.gcount());
    }
  }
  const std::string start(head.data(), got);
  if (start.rfind("\x7f" "ELF", 0) == 0 || start.rfind("MZ", 0) == 0) return TRunRisk::Program;
  for (const char* ext : programs)
    if (EndsWith(name, ext)) return TRunRisk::Program;
  if (start.rfind("#!", 0) == 0 || start.find("[Desktop Entry]") != std::string::npos) return TRunRisk::Text;
  for (const char* ext : scripts)
    if (EndsWith(name, ext)) return TRunRisk::Text;
  return TRunRisk::None;
}

bool DropExecuteBits(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if ((st.st_mode & 07111) == 0) return true;
  return chmod(path.c_str(), st.st_mode & 0666) == 0;
}

std::vector<std::string> PlainFilesBelow(const std::string& folder) {
  std::vector<std::string> out;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (it->is_regular_file(ec) && !it->is_symlink(ec)) out.push_back(it->path().string());
  std::sort(out.begin(), out.end());
  return out;
}
