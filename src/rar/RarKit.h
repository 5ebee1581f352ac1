#pragma once
// TRarKit: lists and extracts RAR archives through the RAR library (libunrar.so), loaded at run time
// from a folder, and turns every step of a run into an event. The library, the open archive and the
// component its callbacks reach are process-wide: one run at a time.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "rar/UnrarApi.h"

// Result codes of the component besides the library's (10 = end of archive, 12, 13, 16, ...).
constexpr int kRarKitOpenFailed = 101;      // the archive could not be opened (other than 12, 13)
constexpr int kRarKitStopped = 255;         // Stop was set, or the run was cancelled
constexpr int kRarKitNoLibrary = -101;      // the library could not be loaded

// The archive comment after opening.
struct TComment {
  unsigned int Size = 0;  // bytes in Text
  std::string Text;       // at most 65,535 bytes
};

// Loads the library from `folder` ("libunrar.so" when `name` is empty); true when loaded with all seven functions.
bool LoadUnrarLibrary(const std::string& folder, const std::string& name);
// Releases the library (closing an archive left open).
void UnloadUnrarLibrary();
// Closes the open archive handle, if any.
void CloseRarArchive();
// True while the library is loaded.
bool UnrarLibraryLoaded();

class TRarKit {
 public:
  std::string Archivefilename;                  // the archive to open (its first volume for a set)
  std::string TargetDirectory;                  // the folder extracted entries go to
  std::string Path2UnrarDll;                    // folder of the library (ProgramDir)
  std::string NameofUnrarDll = "libunrar.so";   // file name of the library; empty means "libunrar.so"
  std::atomic<bool> Stop{false};                // set by a handler (any thread) to end the run at the next header
  bool ErrorOnDirExists = false;                // false: a create error (16) on a folder entry counts as success

  std::function<void(TRarKit& sender, int error)> OnError;  // a library or component error (never 10)
  std::function<void(TRarKit& sender, const RARHeaderData& eFile)> OnExtracting;  // header read while extracting (also skipped entries)
  std::function<void(TRarKit& sender, const RARHeaderData& eFile, bool result)> OnExtract;  // entry extracted; result true on success
  std::function<void(TRarKit& sender, const unsigned char* addr, int blockSize, int64_t position)> OnProcessData;  // unpacked block; position counts the entry's bytes
  std::function<void(TRarKit& sender, const RARHeaderData& eFile)> OnListing;  // header read while listing
  std::function<void(TRarKit& sender, const RARHeaderData& eFile, bool result)> OnList;  // entry listed (skipped)
  std::function<void(TRarKit& sender, const RARHeaderData& eFile)> OnTesting;  // header read while testing (also skipped entries)
  std::function<void(TRarKit& sender, const RARHeaderData& eFile, bool result)> OnTest;  // entry tested; result true when it unpacked with a good CRC
  std::function<int(TRarKit& sender, char* arcName, int mode)> OnVolumeChange;  // next volume (RAR_VOL_ASK/NOTIFY); arcName holds RAR_VOLNAME_SIZE bytes; 0 stops
  std::function<void(TRarKit& sender, const RARHeaderData& eFile, std::string& password)> OnReqPassword;  // encrypted entry; empty password plus Stop cancels
  std::function<void(TRarKit& sender, const TComment& comment)> OnComment;  // the archive comment after opening
  std::function<bool(TRarKit& sender, const RARHeaderData& eFile, const std::string& diskPath)> OnOverwrite;  // the entry's file exists; true replaces it (unassigned: replace)
  std::function<void(TRarKit& sender, const RARHeaderData& eFile, const std::string& text)> OnWarning;  // the entry was written under a changed name (text says which and why)
  std::function<bool(TRarKit& sender, const RARHeaderData& eFile)> OnSelect;  // extract or test this entry? (unassigned: FilesToProcess decides)

  TRarKit() = default;
  ~TRarKit();
  TRarKit(const TRarKit&) = delete;
  TRarKit& operator=(const TRarKit&) = delete;

  // Names of the entries to extract ("/" separators, case ignored); empty means all. Assigning copies and sorts.
  void SetFilesToProcess(const std::vector<std::string>& names);
  void AddFileToProcess(const std::string& name);  // adds one name, keeping the list sorted
  const std::vector<std::string>& FilesToProcess() const { return files_; }
  bool ShouldProcess(const std::string& name) const;  // true when the list is empty or holds the name

  int ListRarArchive();     // list mode: OnListing/OnList per entry; returns 10 at the normal end, else an error code
  int ExtractRarArchive();  // extracts FilesToProcess (all when empty) into TargetDirectory; 10 at the normal end
  int TestRarArchive();     // unpacks FilesToProcess (all when empty) and checks them, writing nothing: OnTesting/OnTest per entry; 10 at the normal end

  static std::string GetRarErrorText(int code);                // the text of a result code
  static bool Succeeded(int code) { return code == ERAR_END_ARCHIVE || code == 0; }  // true for a run that ended normally
  static bool IsFolderEntry(const RARHeaderData& h);           // flags 0xE0 all set or the folder attribute
  static bool IsEncryptedEntry(const RARHeaderData& h) { return h.Flags & RHDF_ENCRYPTED; }  // entry data is encrypted
  static std::string EntryName(const RARHeaderData& h);        // the file name up to its terminating zero
  uint64_t EntryUnpackedSize() const { return entrySize_; }    // 64-bit unpacked size of the entry being handled
  int64_t Position() const { return position_; }               // bytes unpacked so far of the entry being handled
  int64_t EntryIndex() const { return index_; }                 // position of the entry being handled among the archive's headers (0-based)

 private:
  enum class TRunMode { List, Test, Extract };
  int Run(TRunMode mode);
  int ExtractOne(const RARHeaderData& header, const std::string& name);
  static bool EntryFailure(int code);
  int Finish(int code);
  static int VolumeCallback(char* arcName, int mode);
  static int DataCallback(unsigned char* addr, int size);

  std::vector<std::string> files_;
  int firstFailure_ = 0;  // the first entry that failed in a run that went on
  int64_t position_ = 0;
  uint64_t entrySize_ = 0;
  int64_t index_ = -1;
};
