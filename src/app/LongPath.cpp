#include "app/LongPath.h"

#include <filesystem>

namespace fs = std::filesystem;

std::string ExpandLongPath(const std::string& path) {
  if (path.empty() || path.find_first_of("*?") != std::string::npos) return {};
  std::error_code ec;
  const fs::path canonical = fs::canonical(path, ec);
  if (ec) return {};
  return canonical.string();
}
