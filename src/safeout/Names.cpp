#include "safeout/Names.h"

#include <cctype>
#include <cstdio>

namespace safeout {

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Length of the control character at `i` (1, or 2 for a UTF-8 C1 character); 0 when there is none.
size_t ControlAt(std::string_view s, size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  if (c < 0x20 || c == 0x7F) return 1;
  if (c == 0xC2 && i + 1 < s.size()) {
    const auto d = static_cast<unsigned char>(s[i + 1]);
    if (d >= 0x80 && d <= 0x9F) return 2;
  }
  return 0;
}

}  // namespace

std::string TCleanName::Text() const {
  std::string s;
  for (const auto& d : dirs) {
    if (!s.empty()) s += '/';
    s += d;
  }
  if (!leaf.empty()) {
    if (!s.empty()) s += '/';
    s += leaf;
  }
  return s;
}

void TCleanName::MakeFolder() {
  if (!leaf.empty()) dirs.push_back(std::move(leaf));
  leaf.clear();
  isDir = true;
}

bool TCleanName::StripFolders() {
  if (leaf.empty()) return false;
  dirs.clear();
  return true;
}

bool CleanName(std::string_view name, TCleanName& out) {
  out = TCleanName{};
  if (name.find('\0') != std::string_view::npos) return false;
  out.isDir = !name.empty() && IsSeparator(name.back());
  if (name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0]))) {
    name.remove_prefix(2);
    out.altered = true;
  }
  if (!name.empty() && IsSeparator(name.front())) out.altered = true;
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i < name.size() && !IsSeparator(name[i])) continue;
    std::string_view p = name.substr(start, i - start);
    start = i + 1;
    if (p.empty() || p == ".") continue;
    if (p == "..") {
      out.altered = true;
      continue;
    }
    std::string e;
    e.reserve(p.size());
    for (size_t k = 0; k < p.size();) {
      if (size_t n = ControlAt(p, k)) {
        e += '_';
        out.controls = true;
        k += n;
      } else {
        e += p[k++];
      }
    }
    parts.push_back(std::move(e));
  }
  if (parts.empty()) return false;
  if (out.isDir) {
    out.dirs = std::move(parts);
  } else {
    out.leaf = std::move(parts.back());
    parts.pop_back();
    out.dirs = std::move(parts);
  }
  return true;
}

bool CleaningMovesName(std::string_view stored) {
  if (stored.find('\0') != std::string_view::npos) return true;
  TCleanName n;
  CleanName(stored, n);
  return n.altered;
}

bool HasControls(std::string_view s) {
  for (size_t i = 0; i < s.size(); ++i)
    if (ControlAt(s, i)) return true;
  return false;
}

std::string EscapeControls(std::string_view s) {
  if (!HasControls(s)) return std::string(s);
  std::string out;
  out.reserve(s.size() + 8);
  for (size_t i = 0; i < s.size();) {
    const size_t n = ControlAt(s, i);
    const auto c = static_cast<unsigned char>(s[i]);
    if (n == 0) {
      out += s[i++];
      continue;
    }
    // Caret notation as `cat -v` shows it; C1 characters with "M-" before the notation of c - 0x80.
    const unsigned code = n == 2 ? static_cast<unsigned char>(s[i + 1]) - 0x80u : c;
    char buf[8];
    std::snprintf(buf, sizeof buf, "%s^%c", n == 2 ? "M-" : "", code == 0x7F ? '?' : static_cast<char>(code + 0x40));
    out += buf;
    i += n;
  }
  return out;
}

}  // namespace safeout
