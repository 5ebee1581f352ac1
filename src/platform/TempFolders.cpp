#include "platform/TempFolders.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "core/Prompt.h"
#include "core/Settings.h"
#include "core/TextUtil.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

namespace fs = std::filesystem;

namespace {

void MakeWritable(const fs::path& p) {
  std::error_code ec;
  fs::permissions(p, fs::perms::owner_write, fs::perm_options::add, ec);
}

bool IsQueued(const fs::path& file, const std::vector<std::string>& queueList) {
  if (!IsArchiveExtension(ExtractFileExt(file.string()))) return false;
  const std::string name = file.string();
  return std::any_of(queueList.begin(), queueList.end(), [&](const std::string& q) { return EqualsNoCase(q, name); });
}

// Deletes every file below `folder` but queued archives; when none was kept, removes the sub-folders
// too. Links are removed themselves and never followed. Returns true when a file was kept.
bool EmptyFolder(const fs::path& folder, const std::vector<std::string>& queueList) {
  std::error_code ec;
  if (!fs::is_directory(fs::symlink_status(folder, ec))) return false;
  bool kept = false;
  std::vector<fs::path> folders;
  for (auto it = fs::recursive_directory_iterator(folder, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const fs::file_status st = it->symlink_status(ec);
    if (fs::is_directory(st)) {
      MakeWritable(it->path());
      folders.push_back(it->path());
      continue;
    }
    if (IsQueued(it->path(), queueList)) {
      kept = true;
      continue;
    }
    MakeWritable(it->path().parent_path());
    fs::remove(it->path(), ec);
  }
  if (kept) return true;
  // Deepest first: longer paths below shorter ones.
  std::sort(folders.begin(), folders.end(), [](const fs::path& a, const fs::path& b) {
    return a.string().size() > b.string().size();
  });
  for (const fs::path& f : folders) fs::remove_all(f, ec);
  return false;
}

}  // namespace

TTempFolders::TTempFolders(std::string cacheFolder, std::string systemTemp)
    : temp_(std::move(cacheFolder) + "/temp"), systemTemp_(std::move(systemTemp)) {}

void TTempFolders::EnsureFolders() const {
  std::error_code ec;
  fs::create_directories(ImageFolder(), ec);
}

void TTempFolders::ClearTempFolders(const std::vector<std::string>& queueList) {
  EmptyFolder(temp_, queueList);
  std::error_code ec;
  for (const std::string& extra : ExtraTempFolders) {
    if (!fs::exists(extra, ec)) continue;
    if (!EmptyFolder(extra, queueList)) fs::remove(extra, ec);
  }
  ExtraTempFolders.clear();
  fs::create_directories(temp_, ec);
}

std::string TTempFolders::FindDriveWithSpace(int64_t requiredBytes) const {
  std::vector<std::string> candidates;
  if (const char* t = std::getenv("TMPDIR"); t && *t) candidates.emplace_back(t);
  candidates.emplace_back("/var/tmp");
  candidates.push_back(XdgCacheHome());
  for (const std::string& c : candidates) {
    if (!IsWritableFolder(c)) continue;
    if (FreeOnDisk(c) > requiredBytes + 65000) return c;
  }
  return {};
}

bool TTempFolders::ChooseNewTempFolder(int64_t requiredBytes) {
  const std::string root = FindDriveWithSpace(requiredBytes);
  if (root.empty()) {
    ShowError("THE COMPUTER CANNOT FIND ENOUGH ROOM ON ANY OF YOUR DISK DRIVES ON WHICH IT CAN CREATE THE "
              "TEMPORARY TAR FILE.  YOU NEED ROOM ON A DISK WITH AT LEAST " +
              std::to_string(requiredBytes / 1024) + " KB FREE (WHICH IS " + std::to_string(requiredBytes) +
              " BYTES OF REQUIRED FREE SPACE FOR THE TAR FILE.  TRY FREEING UP SOME ROOM SOMEWHERE ON DISK AND TRY "
              "AGAIN.");
    return false;
  }
  const std::string folder = (root.back() == '/' ? root : root + "/") + "tandortemp";
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (std::find(ExtraTempFolders.begin(), ExtraTempFolders.end(), folder) == ExtraTempFolders.end())
    ExtraTempFolders.push_back(folder);
  TarTempFolder = folder;
  return true;
}

bool TTempFolders::IsTemporaryLocation(const std::string& path) const {
  const std::string p = LowerCase(path);
  const std::string t = LowerCase(systemTemp_);
  return (!t.empty() && StartsWith(p, t)) || p.find("temporary") != std::string::npos;
}

void TTempFolders::RemoveTempIfEmpty() const {
  std::error_code ec;
  if (fs::is_directory(temp_, ec) && fs::is_empty(temp_, ec)) fs::remove(temp_, ec);
}
