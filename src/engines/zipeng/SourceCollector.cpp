#include "SourceCollector.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "Wildcard.h"

namespace zipeng {
namespace {

std::string CurrentFolder() {
  std::error_code ec;
  std::string cwd = std::filesystem::current_path(ec).string();
  return ec ? std::string("/") : cwd;
}

// Lexically normal absolute path without a trailing "/" (except the root).
std::string Normal(const std::string& p) {
  std::string s = std::filesystem::path(p).lexically_normal().string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

std::string BaseName(const std::string& p) {
  size_t slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string Slashes(std::string s) {
  std::replace(s.begin(), s.end(), '\\', '/');
  return s;
}

}  // namespace

SourceCollector::SourceCollector(const AddSettings& settings, SkipFn skipped)
    : settings_(settings), skipped_(std::move(skipped)) {
  for (const std::string& e : settings.exclusions)
    if (!e.empty()) exclusions_.push_back(Slashes(e));
  struct stat st {};
  if (!settings.archivePath.empty() && ::stat(settings.archivePath.c_str(), &st) == 0) {
    haveArchive_ = true;
    archiveDev_ = st.st_dev;
    archiveIno_ = st.st_ino;
  }
}

bool SourceCollector::Collect(std::vector<SourceItem>& items) {
  for (size_t i = 0; i < settings_.specs.size(); ++i)
    if (!CollectSpec(i, items)) return false;
  return true;
}

std::string SourceCollector::StoredName(const std::string& fullPath, const std::string& base, bool isDir) const {
  std::string name;
  if (settings_.stripPaths) {
    name = BaseName(fullPath);
  } else if (fullPath == base) {
    return name;  // the root folder itself ("." or the root named again): nothing of its own to store
  } else if (base == "/") {
    name = fullPath.substr(1);
  } else if (fullPath.size() > base.size() && fullPath.compare(0, base.size(), base) == 0 &&
             fullPath[base.size()] == '/') {
    name = fullPath.substr(base.size() + 1);
  } else {
    name = fullPath.substr(fullPath.find_first_not_of('/'));
  }
  if (isDir && !name.empty()) name += '/';
  return name;
}

bool SourceCollector::Excluded(const std::string& fullPath, const std::string& storedName, bool isDir) const {
  std::string stored = storedName;
  if (isDir && !stored.empty() && stored.back() == '/') stored.pop_back();
  std::string base = BaseName(fullPath);
  for (const std::string& p : exclusions_) {
    std::string pat = p;
    if (pat.size() > 1 && pat.back() == '/') pat.pop_back();
    if (pat.find('/') == std::string::npos) {
      if (zipfmt::WildcardMatch(pat, base)) return true;
      continue;
    }
    if (pat[0] == '/') {
      if (zipfmt::WildcardMatch(Normal(pat), fullPath)) return true;
      continue;
    }
    // Relative pattern: the whole stored name, or its tail from any folder boundary.
    if (zipfmt::WildcardMatch(pat, stored)) return true;
    for (size_t s = stored.find('/'); s != std::string::npos; s = stored.find('/', s + 1))
      if (zipfmt::WildcardMatch(pat, stored.substr(s + 1))) return true;
  }
  return false;
}

void SourceCollector::Push(const std::string& fullPath, const struct stat& st, const std::string& base, size_t index,
                           std::vector<SourceItem>& items) {
  if (haveArchive_ && st.st_dev == archiveDev_ && st.st_ino == archiveIno_) return;
  SourceItem it;
  it.fullPath = fullPath;
  it.isDir = S_ISDIR(st.st_mode);
  it.isLink = S_ISLNK(st.st_mode);
  if (it.isLink) {
    std::string target(size_t(st.st_size > 0 ? st.st_size : 0) + 4096, '\0');
    const ssize_t n = ::readlink(fullPath.c_str(), target.data(), target.size());
    if (n < 0) return;
    target.resize(size_t(n));
    it.linkTarget = std::move(target);
  }
  it.storedName = StoredName(fullPath, base, it.isDir);
  if (it.storedName.empty() || it.storedName == "/") return;
  if (!seenNames_.insert(it.storedName).second) return;  // named twice: the first one counts
  it.size = it.isDir ? 0 : it.isLink ? it.linkTarget.size() : uint64_t(st.st_size);
  it.mtime = st.st_mtime;
  it.mode = st.st_mode;
  it.hidden = BaseName(fullPath).starts_with(".");
  it.specIndex = index;
  items.push_back(std::move(it));
}

bool SourceCollector::CollectSpec(size_t index, std::vector<SourceItem>& items) {
  const SourceSpec& spec = settings_.specs[index];
  std::string text = spec.spec;
  if (text.empty()) return true;
  base_ = Normal(spec.rootDir.empty() ? CurrentFolder()
                                      : (spec.rootDir[0] == '/' ? spec.rootDir : CurrentFolder() + "/" + spec.rootDir));
  std::string full = Normal(text[0] == '/' ? text : base_ + "/" + text);
  std::string last = BaseName(full);
  std::set<std::pair<dev_t, ino_t>> stack;
  struct stat st {};
  // A name that exists as written is that file, even when it holds "*" or "?".
  if (zipfmt::HasWildcards(last) && ::lstat(full.c_str(), &st) != 0) {
    std::string dir = full.substr(0, full.size() - last.size());
    dir = dir.size() > 1 ? dir.substr(0, dir.size() - 1) : dir;
    bool whole = last == "*" || last == "*.*";
    size_t before = items.size();
    if (!Walk(dir, last, spec.recurse, index, whole, items, stack)) return false;
    if (items.size() == before) return skipped_(text, kSkipNotFound, "no files match " + text);
    return true;
  }
  if (::lstat(full.c_str(), &st) != 0) return skipped_(text, kSkipNotFound, "file not found: " + text);
  if (S_ISLNK(st.st_mode)) {
    if (!Excluded(full, StoredName(full, base_, false), false)) Push(full, st, base_, index, items);
    return true;
  }
  if (S_ISDIR(st.st_mode)) {
    if (settings_.separateDirs && !settings_.stripPaths && !Excluded(full, StoredName(full, base_, true), true))
      Push(full, st, base_, index, items);
    return Walk(full, "*", spec.recurse, index, true, items, stack);
  }
  if (!S_ISREG(st.st_mode)) return skipped_(text, kSkipUnreadable, "not a regular file: " + text);
  if (!Excluded(full, StoredName(full, base_, false), false)) Push(full, st, base_, index, items);
  return true;
}

bool SourceCollector::Walk(const std::string& dir, const std::string& pattern, bool recurse, size_t index,
                           bool wholeFolders, std::vector<SourceItem>& items,
                           std::set<std::pair<dev_t, ino_t>>& stack) {
  struct stat dst {};
  if (::stat(dir.c_str(), &dst) != 0 || !S_ISDIR(dst.st_mode))
    return skipped_(dir, kSkipNotFound, "folder not found: " + dir);
  if (!stack.insert({dst.st_dev, dst.st_ino}).second) return true;  // a link back up the tree
  DIR* d = ::opendir(dir.c_str());
  if (!d) {
    stack.erase({dst.st_dev, dst.st_ino});
    return skipped_(dir, kSkipUnreadable, "cannot read folder " + dir + ": " + std::strerror(errno));
  }
  std::vector<std::string> names;
  while (struct dirent* e = ::readdir(d)) {
    std::string n = e->d_name;
    if (n == "." || n == "..") continue;
    if (!settings_.hiddenFiles && n[0] == '.') continue;
    names.push_back(std::move(n));
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  std::string prefix = dir == "/" ? "/" : dir + "/";
  bool ok = true;
  for (const std::string& n : names) {
    std::string path = prefix + n;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
      if (!skipped_(path, kSkipUnreadable, "cannot examine " + path + ": " + std::strerror(errno))) {
        ok = false;
        break;
      }
      continue;
    }
    if (S_ISDIR(st.st_mode)) {
      if (!recurse) continue;
      if (Excluded(path, StoredName(path, base_, true), true)) continue;
      walked_.push_back(path);
      if (wholeFolders && settings_.separateDirs && !settings_.stripPaths) Push(path, st, base_, index, items);
      if (!Walk(path, pattern, recurse, index, wholeFolders, items, stack)) {
        ok = false;
        break;
      }
    } else if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) {
      if (!zipfmt::WildcardMatch(pattern, n)) continue;
      if (Excluded(path, StoredName(path, base_, false), false)) continue;
      Push(path, st, base_, index, items);
    }
  }
  stack.erase({dst.st_dev, dst.st_ino});
  return ok;
}

}  // namespace zipeng
