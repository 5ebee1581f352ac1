#include "platform/DesktopFiles.h"

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

bool WriteAll(int fd, const std::string& content) {
  size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

TStatus WriteFileAtomically(const std::string& path, const std::string& content, mode_t mode) {
  std::string target = path;
  std::error_code ec;
  if (fs::is_symlink(target, ec)) {
    const fs::path resolved = fs::weakly_canonical(target, ec);
    if (ec) return TStatus::FromErrno(ec.value(), path, TStatusCode::WriteFailed);
    target = resolved.string();
  }
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) mode = st.st_mode & 07777;

  const fs::path folder = fs::path(target).parent_path();
  std::string temp = (folder / ("." + fs::path(target).filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return TStatus::FromErrno(errno, path, TStatusCode::WriteFailed);
  bool ok = WriteAll(fd, content) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
  int err = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    return TStatus::FromErrno(err, path, TStatusCode::WriteFailed);
  }
  return TStatus::Ok();
}

bool ReadWholeFile(const std::string& path, std::string& content) {
  content.clear();
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  char buffer[8192];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) content.append(buffer, n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

std::string DesktopEntryValue(const std::string& text, const std::string& key) {
  bool inEntry = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      inEntry = line == "[Desktop Entry]";
      continue;
    }
    if (!inEntry || line.empty() || line[0] == '#') continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string name = line.substr(0, eq);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    if (name != key) continue;
    size_t v = eq + 1;
    while (v < line.size() && line[v] == ' ') ++v;
    return line.substr(v);
  }
  return {};
}

std::string QuoteExecArgument(const std::string& path) {
  bool plain = !path.empty();
  for (char c : path) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
                    c == '.' || c == '_' || c == '-' || c == '+';
    plain = plain && ok;
  }
  if (plain) return path;
  // Inside double quotes: ", `, $ and \ take a backslash; the entry's own escaping then doubles each
  // backslash.
  std::string quoted = "\"";
  for (char c : path) {
    if (c == '\\')
      quoted += "\\\\\\\\";  // an escaped backslash, escaped again
    else if (c == '"' || c == '`' || c == '$')
      quoted += "\\\\";
    if (c == '%') quoted += '%';
    if (c != '\\') quoted += c;
  }
  return quoted + "\"";
}

std::string EscapeEntryValue(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\t')
      out += "\\t";
    else if (c == '\r')
      out += "\\r";
    else
      out += c;
  }
  return out;
}

std::string FindOnPath(const std::string& program) {
  return QStandardPaths::findExecutable(QString::fromStdString(program)).toStdString();
}

bool RunQuietly(const std::string& program, const std::vector<std::string>& arguments, int timeoutMs) {
  QStringList args;
  for (const std::string& a : arguments) args << QString::fromStdString(a);
  QProcess process;
  process.setStandardOutputFile(QProcess::nullDevice());
  process.setStandardErrorFile(QProcess::nullDevice());
  process.setStandardInputFile(QProcess::nullDevice());
  process.start(QString::fromStdString(program), args);
  if (!process.waitForStarted(timeoutMs)) return false;
  if (!process.waitForFinished(timeoutMs)) {
    process.kill();
    process.waitForFinished(1000);
    return false;
  }
  return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}
