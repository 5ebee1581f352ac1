#include "OutputName.h"

#include <cctype>

namespace unzeng {

std::string TOutputName::Text() const {
  std::string s;
  for (const auto& d : dirs) {
    s += d;
    s += '/';
  }
  s += leaf;
  return s;
}

namespace {

std::vector<std::string_view> SplitName(std::string_view s) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (size_t i = 0; i <= s.size(); ++i) {
    if (i == s.size() || s[i] == '/' || s[i] == '\\') {
      parts.push_back(s.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

}  // namespace

bool BuildOutputName(std::string_view name, bool dirNames, TOutputName& out) {
  out = TOutputName{};
  if (name.find('\0') != std::string_view::npos) return false;
  out.isDir = !name.empty() && (name.back() == '/' || name.back() == '\\');
  if (name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0]))) {
    name.remove_prefix(2);
    out.altered = true;
  }
  if (!name.empty() && (name.front() == '/' || name.front() == '\\')) out.altered = true;
  std::vector<std::string> parts;
  for (std::string_view p : SplitName(name)) {
    if (p.empty() || p == ".") continue;
    if (p == "..") {
      out.altered = true;
      continue;
    }
    parts.emplace_back(p);
  }
  if (parts.empty()) return false;
  if (out.isDir) {
    if (!dirNames) return false;
    out.dirs = std::move(parts);
    return true;
  }
  out.leaf = std::move(parts.back());
  parts.pop_back();
  if (dirNames) out.dirs = std::move(parts);
  return true;
}

bool SymlinkTargetStaysInside(std::string_view target, size_t depth) {
  if (target.empty() || target.front() == '/' || target.find('\0') != std::string_view::npos) return false;
  size_t climbs = 0;
  bool descended = false;
  for (std::string_view p : SplitName(target)) {
    if (p.empty() || p == ".") continue;
    if (p == "..") {
      if (descended) return false;  // "a/.." may climb through a link: not allowed
      if (++climbs > depth) return false;
      continue;
    }
    descended = true;
  }
  return true;
}

}  // namespace unzeng
