#pragma once
// Extracting or testing the entries of a zip archive. Entries are prepared in archive order on
// the calling thread (which makes every callback), decoded and written by worker threads, and
// reported back in archive order.
#include <cstdint>
#include <string>
#include <vector>

namespace unzeng {

// Message codes, in the style of Info-ZIP's exit codes.
enum TErrCode : int {
  ErrNone = 0,
  ErrWarning = 1,      // something was changed or skipped, the rest is fine
  ErrData = 2,         // damaged data, CRC or authentication error
  ErrStructure = 3,    // invalid archive structure: refused entries, unreadable directory
  ErrNoMemory = 5,
  ErrNotFound = 9,     // the archive cannot be opened
  ErrNoMatch = 11,     // a file specification matched no entry
  ErrWrite = 50,       // a file or folder could not be written
  ErrAbort = 80,       // stopped by the caller
  ErrUnsupported = 81, // compression method or encryption we cannot decode
  ErrPassword = 82,    // no correct password
};

// Reasons given with a skipped entry.
enum TSkipType : int {
  SkipExists = 1,      // not overwritten
  SkipNotNewer = 2,    // freshen/update: the file on disk is as new or newer
  SkipNotOnDisk = 3,   // freshen: no file to refresh
};

struct TExtractOptions {
  std::string archivePath;
  std::string baseDir;
  std::string password;
  std::vector<std::string> specs;  // empty = every entry
  bool test = false;
  bool update = false;
  bool freshen = false;
  bool dirNames = true;
  bool overwrite = false;
  uint32_t passwordReqCount = 1;
};

// The engine's side of the callback conversation. Every method returns false when the caller
// wants the run to stop.
class TEngineEvents {
 public:
  virtual ~TEngineEvents() = default;
  virtual bool TotalFiles(uint64_t count) = 0;
  virtual bool TotalSize(uint64_t bytes) = 0;
  virtual bool NewFile(const std::string& name, uint64_t size) = 0;
  virtual bool Progress(uint64_t bytes) = 0;
  virtual bool End() = 0;
  virtual bool Message(int code, const std::string& text) = 0;
  virtual bool Skipped(const std::string& name, int skipType, int code) = 0;
  // `keep` comes in true; the answer tells whether the damaged file stays.
  virtual bool CrcError(const std::string& name, uint32_t found, uint32_t expected, bool& keep) = 0;
  // `overwrite` comes in with the engine's proposal.
  virtual bool Overwrite(const std::string& name, bool isOlder, int index, bool& overwrite) = 0;
  // Asks for a password; `repeat` is how many more times the engine may ask for this file and
  // comes back possibly changed. An empty answer means none; `cancelAll` stops asking for good.
  virtual bool AskPassword(const std::string& name, uint32_t& repeat, std::string& password, bool& cancelAll) = 0;
};

// Runs one extraction or test; returns the number of files processed successfully.
int RunExtraction(const TExtractOptions& options, TEngineEvents& events);

}  // namespace unzeng
