// `tandor x --here` and `tandor a --here`: the file manager's "Extract here" and "Compress" actions.
// Nothing that exists is replaced: each run writes under a new name beside its input.
#include <cstring>
#include <filesystem>
#include <regex>

#include "cli/Commands.h"
#include "cli/Terminal.h"
#include "core/TextUtil.h"

namespace fs = std::filesystem;

namespace {

// "photos.tar.gz" -> "photos", "set.part1.rar" -> "set"; a name without a known extension loses its
// last one ("disk.img.zip" -> "disk.img", "notes" stays).
std::string ArchiveStem(const std::string& name) {
  const std::string lower = LowerCase(name);
  std::string stem = name;
  for (const char* ext : {".tar.gz", ".tgz", ".tar", ".gz", ".zip", ".rar"}) {
    const size_t n = std::strlen(ext);
    if (lower.size() > n && EndsWith(lower, ext)) {
      stem = name.substr(0, name.size() - n);
      break;
    }
  }
  if (stem == name) {
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) stem = name.substr(0, dot);
  }
  static const std::regex kVolume(R"(^(.+)\.part[0-9]+$)", std::regex::icase);
  std::smatch m;
  if (std::regex_match(stem, m, kVolume)) stem = m[1];
  return stem;
}

// "name", then "name (2)", "name (3)", ... : the first candidate `claim` accepts.
template <typename Claim>
fs::path FirstFreeName(const fs::path& folder, const std::string& base, const std::string& ext, Claim claim) {
  for (int n = 1; n < 10000; ++n) {
    const fs::path candidate = folder / (n == 1 ? base + ext : base + " (" + std::to_string(n) + ")" + ext);
    if (claim(candidate)) return candidate;
  }
  return {};
}

int ExtractHere(const TCliOptions& o) {
  std::vector<std::string> archives{o.Archive};
  archives.insert(archives.end(), o.Files.begin(), o.Files.end());
  int status = 0;
  for (const std::string& name : archives) {
    std::error_code ec;
    const fs::path archive = fs::absolute(name, ec).lexically_normal();
    if (ec || !fs::is_regular_file(archive, ec)) {
      PrintError("cannot open " + name + ": no such file");
      status = 1;
      continue;
    }
    // The folder is made here, so that a folder of that name made meanwhile is never written into.
    const fs::path folder = FirstFreeName(archive.parent_path(), ArchiveStem(archive.filename().string()), "",
                                          [](const fs::path& p) {
                                            std::error_code e;
                                            return fs::create_directory(p, e) && !e;
                                          });
    if (folder.empty()) {
      PrintError("cannot make a folder beside " + name);
      status = 1;
      continue;
    }
    TCliOptions one = o;
    one.Here = false;
    one.Archive = archive.string();
    one.Files.clear();
    one.Destination = folder.string();
    if (const int rc = RunCommand(one); rc != 0) {
      status = rc;
      if (fs::is_empty(folder, ec)) fs::remove(folder, ec);
    }
  }
  return status;
}

int CompressHere(const TCliOptions& o) {
  std::vector<std::string> names{o.Archive};
  names.insert(names.end(), o.Files.begin(), o.Files.end());
  std::vector<fs::path> inputs;
  std::error_code ec;
  for (const std::string& name : names) {
    fs::path p = fs::absolute(name, ec).lexically_normal();
    if (!p.has_filename()) p = p.parent_path();  // "folder/" names the folder
    inputs.push_back(p);
    if (!fs::exists(fs::symlink_status(p, ec))) {
      PrintError("cannot add " + p.string() + ": no such file");
      return 1;
    }
  }
  const fs::path folder = inputs.front().parent_path();
  std::string base;
  if (inputs.size() == 1) {
    const fs::path& only = inputs.front();
    base = fs::is_directory(only, ec) ? only.filename().string() : ArchiveStem(only.filename().string());
  } else {
    base = folder.filename().string();
  }
  if (base.empty()) base = "Archive";
  const fs::path zip = FirstFreeName(folder, base, ".zip", [](const fs::path& p) {
    std::error_code e;
    return !fs::exists(fs::symlink_status(p, e));
  });
  if (zip.empty()) {
    PrintError("cannot find a free name beside " + inputs.front().string());
    return 1;
  }
  // Names beside the first one are stored as they stand there; others with their whole path.
  TCliOptions one = o;
  one.Here = false;
  one.Recurse = true;
  one.Archive = zip.string();
  one.Files.clear();
  for (const fs::path& p : inputs)
    one.Files.push_back(p.parent_path() == folder ? p.filename().string() : p.string());
  fs::current_path(folder, ec);
  if (ec) {
    PrintError("cannot enter " + folder.string() + ": " + ec.message());
    return 1;
  }
  return RunCommand(one);
}

}  // namespace

int RunHereCommand(const TCliOptions& options) {
  return options.Command == 'x' ? ExtractHere(options) : CompressHere(options);
}
