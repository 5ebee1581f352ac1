#include "platform/Launchers.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

#include "platform/DesktopFiles.h"
#include "platform/Paths.h"

namespace fs = std::filesystem;

namespace {

const char* const kOurMark = "X-Tandor-Launcher";
const char* const kMenuPrefix = "tandorfile-launcher";

std::string Unquote(std::string v) {
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
  const std::string home = HomeFolder();
  if (v.rfind("$HOME", 0) == 0) v = home + v.substr(5);
  return v;
}

// The folder levels of a menu sub-folder: "A/B" gives "A", "B".
std::vector<std::string> Levels(const std::string& subFolder) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos <= subFolder.size()) {
    size_t slash = subFolder.find('/', pos);
    if (slash == std::string::npos) slash = subFolder.size();
    if (slash > pos) out.push_back(subFolder.substr(pos, slash - pos));
    pos = slash + 1;
  }
  return out;
}

std::string Joined(const std::vector<std::string>& levels, size_t count, char sep) {
  std::string out;
  for (size_t i = 0; i < count; ++i) out += (i ? std::string(1, sep) : std::string()) + levels[i];
  return out;
}

std::string XmlEscaped(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else if (c == '"')
      out += "&quot;";
    else
      out += c;
  }
  return out;
}

// Names made from folder names: letters and digits kept, anything else as "_" + hex.
std::string FileSafe(const std::string& s) {
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.')
      out += static_cast<char>(c);
    else
      out += std::string("_") + hex[c >> 4] + hex[c & 15];
  }
  return out;
}

std::string MenuFilesFolder() { return XdgConfigHome() + "/menus/applications-merged"; }
std::string DirectoryEntriesFolder() { return XdgDataHome() + "/desktop-directories"; }

std::string MenuFileFor(const std::vector<std::string>& levels) {
  std::string name = kMenuPrefix;
  for (const std::string& l : levels) name += "-" + FileSafe(l);
  return MenuFilesFolder() + "/" + name + ".menu";
}

std::string DirectoryIdFor(const std::vector<std::string>& levels, size_t count) {
  std::string name = kMenuPrefix;
  for (size_t i = 0; i < count; ++i) name += "-" + FileSafe(levels[i]);
  return name + ".directory";
}

std::string MenuFileText(const std::vector<std::string>& levels) {
  std::string id = Joined(levels, levels.size(), '-');
  id = (id.empty() ? std::string() : id + "-") + kLauncherFile;
  std::string text =
      "<!DOCTYPE Menu PUBLIC \"-//freedesktop//DTD Menu 1.0//EN\"\n"
      " \"http://www.freedesktop.org/standards/menu-spec/1.0/menu.dtd\">\n"
      "<!-- Made by Tandor File for its launcher; removed with it. -->\n"
      "<Menu>\n  <Name>Applications</Name>\n";
  std::string indent = "  ";
  for (size_t i = 0; i < levels.size(); ++i) {
    text += indent + "<Menu>\n";
    indent += "  ";
    text += indent + "<Name>" + XmlEscaped(levels[i]) + "</Name>\n";
    text += indent + "<Directory>" + XmlEscaped(DirectoryIdFor(levels, i + 1)) + "</Directory>\n";
  }
  text += indent + "<Include>\n" + indent + "  <Filename>" + XmlEscaped(id) + "</Filename>\n" + indent + "</Include>\n";
  for (size_t i = levels.size(); i > 0; --i) {
    indent.resize(indent.size() - 2);
    text += indent + "</Menu>\n";
  }
  return text + "</Menu>\n";
}

std::string DirectoryEntryText(const std::string& name) {
  return "[Desktop Entry]\nType=Directory\nName=" + EscapeEntryValue(name) + "\nIcon=folder\n";
}

bool IsOurLauncher(const std::string& path) {
  std::string text;
  return ReadWholeFile(path, text) && DesktopEntryValue(text, kOurMark) == "true";
}

// A file in the launcher's place: kept; one that no desktop could start is reported.
void KeepExisting(const std::string& path, TLauncherResult& result) {
  result.AlreadyThere = true;
  std::string text;
  const bool usable = ReadWholeFile(path, text) && text.find("[Desktop Entry]") != std::string::npos &&
                      (!DesktopEntryValue(text, "Exec").empty() || !DesktopEntryValue(text, "URL").empty());
  if (usable) return;
  result.Damaged = true;
  result.Status = TStatus(TStatusCode::Damaged, "THE LINK " + path +
                                                    " IS DAMAGED.  IT WAS LEFT AS IT IS; REMOVE IT AND CREATE THE LINK AGAIN.");
}

void Note(std::vector<std::string>* list, const std::string& path) {
  if (list) list->push_back(path);
}

}  // namespace

std::string DesktopFolder() {
  std::string text;
  if (ReadWholeFile(XdgConfigHome() + "/user-dirs.dirs", text)) {
    size_t pos = 0;
    while (pos < text.size()) {
      size_t end = text.find('\n', pos);
      if (end == std::string::npos) end = text.size();
      const std::string line = text.substr(pos, end - pos);
      pos = end + 1;
      if (line.rfind("XDG_DESKTOP_DIR=", 0) == 0) {
        const std::string v = Unquote(line.substr(16));
        if (!v.empty()) return v;
      }
    }
  }
  if (const char* env = std::getenv("XDG_DESKTOP_DIR"); env && *env) return env;
  return HomeFolder() + "/Desktop";
}

std::string MenuFolder() { return XdgDataHome() + "/applications"; }

std::string LauncherEntry(const std::string& programPath) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Version=1.4\n"
         "Name=" + std::string(kLauncherName) + "\n"
         "Comment=Open, extract and make zip, RAR, tar, gzip and tar.gz archives\n"
         "Icon=tandorfile\n"
         "TryExec=" + EscapeEntryValue(programPath) + "\n"
         "Exec=" + QuoteExecArgument(programPath) + " %f\n"
         "Terminal=false\n"
         "StartupNotify=true\n" +
         kOurMark + "=true\n";
}

TLauncherResult CreateShortcut(const std::string& programPath, int location, const std::string& subFolder) {
  TLauncherResult result;
  std::error_code ec;
  if (location == kDesktopLauncher) {
    const std::string folder = DesktopFolder();
    if (!fs::is_directory(folder, ec)) {
      result.Status = TStatus(TStatusCode::NotFound, "THE DESKTOP FOLDER " + folder +
                                                         " DOES NOT EXIST.  THE LINK ON THE DESKTOP WAS NOT CREATED.");
      return result;
    }
    const std::string path = folder + "/" + kLauncherFile;
    if (fs::symlink_status(path, ec).type() != fs::file_type::not_found) {
      KeepExisting(path, result);
      return result;
    }
    result.Status = WriteFileAtomically(path, LauncherEntry(programPath), 0755);
    if (!result.Status.IsOk()) return result;
    result.Made.push_back(path);
    // Desktops that ask before starting a launcher from the desktop take this as the user's consent.
    if (const std::string gio = FindOnPath("gio"); !gio.empty())
      RunQuietly(gio, {"set", path, "metadata::trusted", "true"}, 5000);
    return result;
  }
  if (location != kMenuLauncher) return result;

  const std::vector<std::string> levels = Levels(subFolder);
  const fs::path folder = fs::path(MenuFolder()) / subFolder;
  const std::string path = (folder / kLauncherFile).string();
  if (fs::symlink_status(path, ec).type() != fs::file_type::not_found) {
    KeepExisting(path, result);
    return result;
  }
  fs::create_directories(folder, ec);
  if (ec) {
    result.Status = TStatus::FromErrno(ec.value(), folder.string(), TStatusCode::WriteFailed);
    return result;
  }
  fs::create_directories(MenuFilesFolder(), ec);
  if (!levels.empty()) fs::create_directories(DirectoryEntriesFolder(), ec);
  for (size_t i = 0; i < levels.size(); ++i) {
    const std::string entry = DirectoryEntriesFolder() + "/" + DirectoryIdFor(levels, i + 1);
    if (fs::exists(entry, ec)) continue;
    result.Status.Merge(WriteFileAtomically(entry, DirectoryEntryText(levels[i]), 0644));
    if (!result.Status.IsOk()) return result;
    result.Made.push_back(entry);
  }
  const std::string menu = MenuFileFor(levels);
  result.Status.Merge(WriteFileAtomically(menu, MenuFileText(levels), 0644));
  if (!result.Status.IsOk()) return result;
  result.Made.push_back(menu);
  result.Status.Merge(WriteFileAtomically(path, LauncherEntry(programPath), 0644));
  if (result.Status.IsOk()) result.Made.push_back(path);
  return result;
}

TStatus RemoveShortcut(int location, const std::string& subFolder, std::vector<std::string>* removed) {
  TStatus status;
  std::error_code ec;
  const auto remove = [&](const std::string& path) {
    if (fs::remove(path, ec))
      Note(removed, path);
    else if (ec)
      status.Merge(TStatus::FromErrno(ec.value(), path, TStatusCode::WriteFailed));
  };
  if (location == kDesktopLauncher) {
    const std::string path = DesktopFolder() + "/" + kLauncherFile;
    if (IsOurLauncher(path)) remove(path);
    return status;
  }
  if (location != kMenuLauncher) return status;
  const std::vector<std::string> levels = Levels(subFolder);
  const std::string path = (fs::path(MenuFolder()) / subFolder / kLauncherFile).string();
  if (IsOurLauncher(path)) remove(path);
  const std::string menu = MenuFileFor(levels);
  if (fs::exists(menu, ec)) remove(menu);
  // Directory entries still named by another menu file of ours stay.
  std::string others;
  for (auto it = fs::directory_iterator(MenuFilesFolder(), ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.rfind(kMenuPrefix, 0) != 0) continue;
    std::string text;
    if (ReadWholeFile(it->path().string(), text)) others += text;
  }
  for (size_t i = levels.size(); i > 0; --i) {
    const std::string id = DirectoryIdFor(levels, i);
    if (others.find("<Directory>" + XmlEscaped(id) + "</Directory>") != std::string::npos) continue;
    const std::string entry = DirectoryEntriesFolder() + "/" + id;
    if (fs::exists(entry, ec)) remove(entry);
  }
  // The menu folders made for the first launcher go with the last one (only when empty).
  for (const std::string& folder : {MenuFilesFolder(), XdgConfigHome() + "/menus", DirectoryEntriesFolder()})
    fs::remove(folder, ec);
  return status;
}

std::vector<std::string> MenuLauncherFolders() {
  std::vector<std::string> out;
  const fs::path root = MenuFolder();
  if (IsOurLauncher((root / kLauncherFile).string())) out.push_back("");
  for (const std::string& sub : MenuSubfolders())
    if (IsOurLauncher((root / sub / kLauncherFile).string())) out.push_back(sub);
  return out;
}

TStatus RemoveAllShortcuts(std::vector<std::string>* removed) {
  TStatus status = RemoveShortcut(kDesktopLauncher, {}, removed);
  for (const std::string& sub : MenuLauncherFolders()) status.Merge(RemoveShortcut(kMenuLauncher, sub, removed));
  return status;
}

std::vector<std::string> MenuSubfolders() {
  std::vector<std::string> out;
  std::error_code ec;
  const fs::path root = MenuFolder();
  for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!name.empty() && name[0] == '.') {
      if (it->is_directory(ec)) it.disable_recursion_pending();
      continue;
    }
    if (it->is_directory(ec) && !it->is_symlink(ec)) out.push_back(fs::relative(it->path(), root, ec).string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

TStatus MakeMenuFolder(const std::string& parent, const std::string& name) {
  const fs::path path = fs::path(MenuFolder()) / parent / name;
  std::error_code ec;
  fs::create_directories(MenuFolder(), ec);
  if (::mkdir(path.c_str(), 0755) == 0 || (errno == EEXIST && fs::is_directory(path, ec))) return TStatus::Ok();
  return TStatus::FromErrno(errno, path.string());
}

bool IsForbiddenFolderNameChar(char c) {
  return c == '\\' || c == '/' || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|';
}
