#pragma once
// The user's options, persisted in the text file "config" (the 60 lines of the record, then the batch
// page's archive types), and the run-time record shared by pages, event handlers and workers.
#include <atomic>
#include <cstdint>
#include <string>

class TSettings {
 public:
  // Fields in record order. Flags are bools; short texts are cut to 255 characters when read.
  bool Reserved25 = false;
  int32_t Reserved24 = 0;
  bool UnzipFolders = true;
  bool UnzipOverwrite = false;
  bool UnzipUpdateFiles = false;
  bool UnzipFreshenFiles = false;
  bool SaveUnzipDefault = false;
  bool CreateOptionsEditable = true;  // memory only
  bool SaveZipFolders = true;
  bool RecurseFolders = true;
  bool ArchiveBitOnly = false;
  bool LongFileNames = true;
  bool AddPassword = false;
  bool SetArchiveTime = false;
  bool OnlyNewerThanDate = false;
  int64_t CreateCutoffDate = 0;  // memory only: day number; 0 not asked, -1 cancelled
  int64_t UpdateCutoffDate = 0;  // memory only
  bool SpanDisks = false;
  bool EraseDisk = false;
  bool SelfExtracting = false;
  bool SaveZipDefault = false;
  bool Reserved17 = true;
  bool Reserved18 = false;
  bool UpdateSaveFolders = true;
  bool UpdateRecurseFolders = true;
  bool Reserved30 = false;
  bool Reserved31 = true;
  bool Reserved32 = false;
  bool Reserved33 = false;
  bool Reserved34 = false;
  std::string PrevZipProgId, PrevZipName;
  std::string PrevGzProgId, PrevGzName;
  int32_t DefaultArchiveType = 1;  // 0 ask, 1 zip, 2 tar.gz, 3 tar, 4 gzip
  bool OpenTarInGz = true;
  bool ShortGzPaths = true;
  std::string PrevTarProgId, PrevTarName;
  bool TarAttributes = false;
  bool RelativePaths = true;
  bool WordPadAvailable = false;  // memory only
  bool ViewPicturesInternally = true;
  bool FitPictureToScreen = true;
  bool SelectAllOnLoad = true;
  int32_t ThumbSize = 64;
  std::string PrevTgzProgId, PrevTgzName;
  std::string PrevRarProgId, PrevRarName;
  bool ConfirmQueueDelete = true;
  bool QueueBringToFront = true;
  bool UpdateCheckEnabled = false;
  std::string UpdateCheckDate = "38474";
  bool QueueEnabled = true;
  bool AutoThumbnails = false;
  bool BatchAllArchiveTypes = false;  // the batch page takes tar, tar.gz, gzip and RAR archives too

  // Unbounded texts held beside the record and persisted with it.
  std::string BatchOpenFolder, ArchiveOpenFolder, AddFilesFolder, ArchiveSaveFolder, Reserved23;
  std::string SfxIconFolder, SfxIconFile, BrowseFolder;
  std::string QuickViewProgram;  // memory only

  // Path of the config file; set by the owner before loading or saving.
  std::string ConfigFile;
  // The last I/O failure, for the caller to report once; empty when none.
  std::string LastError;

  void SetDefaultSettings();
  void ClearSettingStrings();
  // False when the config file does not exist (first run) or cannot be read (LastError set).
  bool LoadSettings();
  // Writes the lines through a temporary file renamed over the config file; false on failure.
  // After a load that found the file unreadable, writes nothing (and succeeds).
  bool SaveSettings();
  // Sets the first-run values and writes them.
  bool WriteDefaultSettings();
  // Keeps UpdateCheckDate between 2 May 2005 and today; saves when it changed it.
  void ClampUpdateCheckDate();

  // The lines as they would be written.
  std::string Serialize() const;
  // Applies the lines of a config file (CR LF or bare LF) with the reading rules.
  void Parse(const std::string& text);

 private:
  bool keepFile_ = false;  // the last load could not read the file
};

// True for ".zip", ".gz", ".tar", ".rar", ".tgz" and ".run" (a self-extracting program) in any letter
// case.
bool IsArchiveExtension(const std::string& ext);

// Run-time flags and counters; never persisted. Every field may be read and written from workers.
struct TRunState {
  std::atomic<bool> BatchStop{false};
  std::atomic<bool> BatchBusy{false};
  std::atomic<bool> BatchScanning{false};
  std::atomic<bool> BatchScanSubfolders{false};
  std::atomic<int32_t> BatchIndex{0};
  std::atomic<int32_t> BatchCount{0};
  std::atomic<bool> BatchRecreateFolders{false};
  std::atomic<int64_t> BatchUnpackedTotal{0};
  std::atomic<int64_t> BatchPackedTotal{0};
  std::atomic<bool> OverwriteCurrent{false};
  std::atomic<int64_t> JobTotalBytes{0};
  std::atomic<int64_t> JobDoneBytes{0};
  std::atomic<int32_t> JobKind{0};  // 0 extraction, 1 creation, 2 batch unzip, 3 update
  std::atomic<bool> SfxCreated{false};
  std::atomic<bool> OverwriteYesToAll{false};
  std::atomic<bool> OverwriteNoToAll{false};
  std::atomic<bool> RarPasswordCancelled{false};
  std::atomic<bool> RarErrorSeen{false};

  // The fields cleared when the main window starts.
  void ClearAtStartup();
};
