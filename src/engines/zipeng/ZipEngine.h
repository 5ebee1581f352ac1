#pragma once
// The zip engine's operations behind the exported entry point: adding files to a new or existing
// archive, and deleting entries. Both rewrite the archive into a new file beside it and put that
// file in place only when everything succeeded.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace zipeng {

// Codes of engine messages (the Info-ZIP zip exit codes where one fits).
enum EngineCode : int {
  kCodeOk = 0,
  kCodeStructure = 3,      // the existing archive is damaged or not a zip archive
  kCodeMemory = 4,
  kCodeInterrupted = 9,    // cancelled through the callback
  kCodeTempFile = 10,      // the new archive could not be created beside the old one
  kCodeRead = 11,          // a source file could not be read completely
  kCodeNothingToDo = 12,
  kCodeMissingZip = 13,
  kCodeWrite = 14,
  kCodeCreate = 15,
  kCodeParams = 16,
  kCodeNoPassword = 17,
  kCodeOpen = 18,          // a named file was not found or could not be opened
};

// Reasons handed with a skipped file (the callback receives reason + 1).
enum SkipReason : int {
  kSkipNotFound = 0,
  kSkipUnreadable = 1,
  kSkipDuplicate = 2,
};

// What the engine reports while it runs. Every method returns false when the caller wants the
// operation stopped.
class Host {
 public:
  virtual ~Host() = default;
  virtual bool TotalFiles(int64_t count) = 0;
  virtual bool TotalSize(int64_t bytes) = 0;
  virtual bool NewFile(const std::string& name, int64_t size) = 0;
  virtual bool Progress(int64_t bytes) = 0;
  virtual bool End() = 0;
  virtual bool Message(int code, const std::string& text) = 0;
  virtual bool Skipped(const std::string& name, int reason, int code) = 0;
  // Asks for a password (wantNew: for encrypting). Empty `password` = none given.
  virtual bool AskPassword(bool wantNew, std::string& password) = 0;
};

// One line of the file specification list.
struct SourceSpec {
  std::string spec;                      // path or wildcard pattern, relative to rootDir (or the current folder)
  std::string rootDir;                   // empty: the current folder
  bool recurse = false;
  enum class Crypt { None, Archive, Own } crypt = Crypt::None;
  std::string password;                  // for Crypt::Own
};

struct AddSettings {
  std::string archivePath;
  std::vector<SourceSpec> specs;
  std::vector<std::string> exclusions;
  int level = 6;                          // 0 = store
  bool stripPaths = false;
  bool hiddenFiles = false;
  bool separateDirs = false;              // folder entries of their own
  std::optional<time_t> fromDate;         // only files modified at or after this time
  bool freshen = false;
  bool update = false;                    // wins over freshen
  bool move = false;
  bool trashMoved = false;                // moved sources go to the trash instead of being deleted
  bool zipTime = false;                   // archive file gets the newest entry's time
  std::string password;                   // for Crypt::Archive lines; empty: ask
  std::vector<std::string> storeSuffixes; // lower case, with the dot
  bool oemNames = false;                  // store names as CP437 where possible
  std::optional<std::string> comment;     // archive comment to write; nullopt: keep the existing one
  bool verbose = false;
  unsigned threads = 0;                   // 0: one per core
};

struct DeleteSettings {
  std::string archivePath;
  std::vector<std::string> specs;
  std::vector<std::string> exclusions;    // entries matching one of these are kept
  bool verbose = false;
};

// Both return the number of entries added (or replaced) / deleted; 0 on failure or when nothing
// was done, with the reason reported through the host.
int Add(const AddSettings& settings, Host& host);
int Delete(const DeleteSettings& settings, Host& host);

}  // namespace zipeng
