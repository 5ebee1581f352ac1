#include "platform/Associations.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <vector>

#include "platform/DesktopFiles.h"
#include "platform/Launcher.h"
#include "platform/Paths.h"

namespace fs = std::filesystem;

// The texts of data/tandorfile.desktop and data/tandorfile.xml (generated at configure time).
const char* InstalledDesktopEntryText();
const char* InstalledMimePackageText();

namespace {

const char* const kDefaultGroup = "[Default Applications]";

struct TLine {
  std::string text;  // without its line break
  bool hasBreak;     // ended by "\n"
};

std::vector<TLine> SplitLines(const std::string& text) {
  std::vector<TLine> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t end = text.find('\n', pos);
    if (end == std::string::npos) {
      lines.push_back({text.substr(pos), false});
      break;
    }
    lines.push_back({text.substr(pos, end - pos), true});
    pos = end + 1;
  }
  return lines;
}

std::string JoinLines(const std::vector<TLine>& lines) {
  std::string out;
  for (const TLine& l : lines) out += l.text + (l.hasBreak ? "\n" : "");
  return out;
}

std::string Trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) s.pop_back();
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  return s.substr(i);
}

bool IsGroup(const std::string& line) {
  const std::string t = Trimmed(line);
  return !t.empty() && t[0] == '[';
}

bool IsBlank(const std::string& line) { return Trimmed(line).empty(); }

// The key of a "key=value" line, empty for anything else.
std::string KeyOf(const std::string& line) {
  const std::string t = Trimmed(line);
  if (t.empty() || t[0] == '#' || t[0] == '[') return {};
  const size_t eq = t.find('=');
  return eq == std::string::npos ? std::string() : Trimmed(t.substr(0, eq));
}

// Where the value of a "key=value" line starts (after "=" and blanks).
size_t ValueStart(const std::string& line) {
  size_t v = line.find('=') + 1;
  while (v < line.size() && (line[v] == ' ' || line[v] == '\t')) ++v;
  return v;
}

// [first, end) of the default group's lines after its header; first = npos when there is no group.
void FindGroup(const std::vector<TLine>& lines, size_t& header, size_t& end) {
  header = std::string::npos;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (Trimmed(lines[i].text) == kDefaultGroup) {
      header = i;
      break;
    }
  }
  end = lines.size();
  if (header == std::string::npos) return;
  for (size_t i = header + 1; i < lines.size(); ++i) {
    if (IsGroup(lines[i].text)) {
      end = i;
      break;
    }
  }
}

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::string(v) : fallback;
}

std::vector<std::string> SplitColons(const std::string& s) {
  std::vector<std::string> out;
  std::stringstream in(s);
  std::string part;
  while (std::getline(in, part, ':'))
    if (!part.empty()) out.push_back(part);
  return out;
}

std::vector<std::string> DataFolders() {
  std::vector<std::string> folders{XdgDataHome()};
  for (const std::string& d : SplitColons(EnvOr("XDG_DATA_DIRS", "/usr/local/share:/usr/share"))) folders.push_back(d);
  return folders;
}

// The desktop file of a desktop file id in the data folders ("a-b.desktop" may be applications/a/b.desktop).
std::string FindDesktopFile(const std::string& id) {
  std::error_code ec;
  for (const std::string& folder : DataFolders()) {
    const fs::path apps = fs::path(folder) / "applications";
    if (fs::is_regular_file(apps / id, ec)) return (apps / id).string();
    for (size_t dash = id.find('-'); dash != std::string::npos; dash = id.find('-', dash + 1)) {
      const fs::path nested = apps / id.substr(0, dash) / id.substr(dash + 1);
      if (fs::is_regular_file(nested, ec)) return nested.string();
    }
  }
  return {};
}

}  // namespace

std::string FirstDesktopId(const std::string& value) {
  std::stringstream in(value);
  std::string id;
  while (std::getline(in, id, ';')) {
    id = Trimmed(id);
    if (!id.empty()) return id;
  }
  return {};
}

namespace {

// Writes a file when its text differs; true when it was written.
bool Refresh(const std::string& path, const std::string& text, TStatus& status) {
  std::string old;
  if (ReadWholeFile(path, old) && old == text) return false;
  std::error_code ec;
  fs::create_directories(fs::path(path).parent_path(), ec);
  const TStatus s = WriteFileAtomically(path, text, 0644);
  status.Merge(s);
  return s.IsOk();
}

}  // namespace

std::string ProgramDesktopEntry(const std::string& programPath) {
  std::string out;
  for (const TLine& l : SplitLines(InstalledDesktopEntryText())) {
    std::string line = l.text;
    const std::string key = KeyOf(line);
    if (key == "Exec")
      line = "Exec=" + QuoteExecArgument(programPath) + " %f";
    else if (key == "TryExec")
      line = "TryExec=" + EscapeEntryValue(programPath);
    out += line + "\n";
  }
  return out;
}

std::string SfxMimePackage() { return InstalledMimePackageText(); }

TStatus InstallProgramClass(const std::string& programPath) {
  TStatus status;
  const std::string apps = XdgDataHome() + "/applications";
  const std::string mime = XdgDataHome() + "/mime";
  if (Refresh(apps + "/" + kProgramDesktopId, ProgramDesktopEntry(programPath), status)) {
    const std::string tool = FindOnPath("update-desktop-database");
    if (!tool.empty()) RunQuietly(tool, {"-q", apps});
  }
  if (Refresh(mime + "/packages/tandorfile.xml", SfxMimePackage(), status)) {
    const std::string tool = FindOnPath("update-mime-database");
    if (!tool.empty()) RunQuietly(tool, {mime}, 30000);
  }
  return status;
}

TViewerPrograms FindViewerPrograms() {
  TViewerPrograms viewers;
  const std::string quickView = EnvOr("TANDOR_QUICKVIEW", "");
  if (!quickView.empty()) viewers.QuickView = quickView.find('/') != std::string::npos ? quickView : FindOnPath(quickView);
  viewers.WordPad = FindWordProcessor();
  return viewers;
}

std::string UserMimeappsPath() { return XdgConfigHome() + "/mimeapps.list"; }

std::string MimeappsDefault(const std::string& text, const std::string& mimeType) {
  const std::vector<TLine> lines = SplitLines(text);
  size_t header, end;
  FindGroup(lines, header, end);
  if (header == std::string::npos) return {};
  for (size_t i = header + 1; i < end; ++i) {
    if (KeyOf(lines[i].text) != mimeType) continue;
    std::string value = lines[i].text.substr(ValueStart(lines[i].text));
    if (!value.empty() && value.back() == '\r') value.pop_back();
    return value;
  }
  return {};
}

std::string MimeappsWithDefault(const std::string& text, const std::string& mimeType, const std::string& value) {
  std::vector<TLine> lines = SplitLines(text);
  const bool crlf = !lines.empty() && !lines[0].text.empty() && lines[0].text.back() == '\r';
  const std::string cr = crlf ? "\r" : "";
  size_t header, end;
  FindGroup(lines, header, end);

  if (header != std::string::npos) {
    for (size_t i = header + 1; i < end; ++i) {
      if (KeyOf(lines[i].text) != mimeType) continue;
      if (value.empty()) {
        lines.erase(lines.begin() + static_cast<long>(i));
        --end;
        // A group left without a line of its own goes, with the blank line that set it apart.
        bool empty = true;
        for (size_t j = header + 1; j < end; ++j) empty = empty && IsBlank(lines[j].text);
        if (empty) {
          const bool last = end == lines.size();
          lines.erase(lines.begin() + static_cast<long>(header), lines.begin() + static_cast<long>(end));
          if (last && header > 0 && IsBlank(lines[header - 1].text)) lines.erase(lines.begin() + static_cast<long>(header - 1));
        }
      } else {
        const std::string& old = lines[i].text;
        const bool oldCr = !old.empty() && old.back() == '\r';
        lines[i].text = old.substr(0, ValueStart(old)) + value + (oldCr ? "\r" : "");
      }
      return JoinLines(lines);
    }
    if (value.empty()) return text;
    // A new key after the group's last line that is not blank.
    size_t at = end;
    while (at > header + 1 && IsBlank(lines[at - 1].text)) --at;
    if (at > 0 && !lines[at - 1].hasBreak) lines[at - 1].hasBreak = true;
    lines.insert(lines.begin() + static_cast<long>(at), TLine{mimeType + "=" + value + cr, true});
    return JoinLines(lines);
  }

  if (value.empty()) return text;
  std::string out = text;
  if (!out.empty() && out.back() != '\n') out += "\n";
  if (!out.empty()) out += cr + "\n";
  return out + kDefaultGroup + cr + "\n" + mimeType + "=" + value + cr + "\n";
}

std::string UserDefaultHandler(const std::string& mimeType) {
  std::string text;
  ReadWholeFile(UserMimeappsPath(), text);
  return MimeappsDefault(text, mimeType);
}

TStatus SetUserDefaultHandler(const std::string& mimeType, const std::string& value) {
  const std::string path = UserMimeappsPath();
  std::string text;
  if (!ReadWholeFile(path, text) && errno != ENOENT) return TStatus::FromErrno(errno, path, TStatusCode::Unreadable);
  const std::string changed = MimeappsWithDefault(text, mimeType, value);
  if (changed == text) return TStatus::Ok();
  std::error_code ec;
  if (changed.empty()) {
    // Nothing left that was not ours: the file goes as it came.
    if (!fs::remove(path, ec) && ec) return TStatus::FromErrno(ec.value(), path, TStatusCode::WriteFailed);
    return TStatus::Ok();
  }
  fs::create_directories(XdgConfigHome(), ec);
  return WriteFileAtomically(path, changed, 0644);
}

std::string CurrentDefaultHandler(const std::string& mimeType) {
  std::vector<std::string> files{UserMimeappsPath()};
  for (const std::string& d : SplitColons(EnvOr("XDG_CONFIG_DIRS", "/etc/xdg"))) files.push_back(d + "/mimeapps.list");
  for (const std::string& d : DataFolders()) files.push_back(d + "/applications/mimeapps.list");
  for (const std::string& file : files) {
    std::string text;
    if (!ReadWholeFile(file, text)) continue;
    const std::string id = FirstDesktopId(MimeappsDefault(text, mimeType));
    if (!id.empty()) return id;
  }
  return {};
}

std::string HandlerDescription(const std::string& value) {
  const std::string id = FirstDesktopId(value);
  if (id.empty()) return {};
  const std::string file = FindDesktopFile(id);
  std::string text;
  if (file.empty() || !ReadWholeFile(file, text)) return {};
  return DesktopEntryValue(text, "Name");
}
