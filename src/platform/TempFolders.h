#pragma once
// The program's temporary folders: "temp" (and "temp/img") in the data folder, and "tandortemp"
// folders made elsewhere when the data folder's file system has no room for a temporary tar archive.
#include <cstdint>
#include <string>
#include <vector>

class TTempFolders {
 public:
  // `cacheFolder` holds "temp"; `systemTemp` is the system's temporary folder ($TMPDIR or /tmp).
  TTempFolders(std::string cacheFolder, std::string systemTemp);

  std::string TempFolder() const { return temp_; }          // ".../temp"
  std::string ImageFolder() const { return temp_ + "/img"; }  // ".../temp/img"

  // Creates "temp/img" with any missing parents.
  void EnsureFolders() const;
  // Empties "temp" (keeping queued archives) and removes the extra folders.
  void ClearTempFolders(const std::vector<std::string>& queueList);
  // Finds a folder elsewhere with room and makes "tandortemp" in it; false (after a message) when none.
  bool ChooseNewTempFolder(int64_t requiredBytes);
  // The first candidate folder ($TMPDIR, /var/tmp, $XDG_CACHE_HOME) that is writable and has more than
  // requiredBytes + 65000 bytes free; empty when none has.
  std::string FindDriveWithSpace(int64_t requiredBytes) const;
  // True when `path` lies in the system's temporary folder or contains "temporary".
  bool IsTemporaryLocation(const std::string& path) const;
  // Removes "temp" when it is empty (at exit).
  void RemoveTempIfEmpty() const;

  std::vector<std::string> ExtraTempFolders;
  std::string TarTempFolder;

 private:
  std::string temp_;
  std::string systemTemp_;
};
