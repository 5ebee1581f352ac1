#pragma once
// TZipKit: the zip component. It reads an archive's directory itself and hands adding, deleting,
// extracting and testing to two engines loaded at run time (libzipeng.so, libunzeng.so).
// Operations run on the calling thread; events fire there. Message boxes and questions go through
// the prompt service, never when Unattended is set.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "zip/ZipDirReader.h"
#include "zip/ZipKitTypes.h"
#include "zip/ZipMedia.h"
#include "zip/ZipStructs.h"

class TZipKit;

using TNotifyEvent = std::function<void(TZipKit* Sender)>;
using TProgressEvent = std::function<void(TZipKit* Sender, ProgressType ProgrType, const std::string& Filename,
                                          int64_t FileSize)>;
using TMessageEvent = std::function<void(TZipKit* Sender, int32_t ErrCode, const std::string& Message)>;
using TSetNewNameEvent = std::function<void(TZipKit* Sender, std::string& OldFileName, bool& IsChanged)>;
using TNewNameEvent = std::function<void(TZipKit* Sender, int32_t SeqNo, const ZipDirEntry& ZipEntry)>;
using TCRC32ErrorEvent = std::function<void(TZipKit* Sender, const std::string& ForFile, uint32_t FoundCRC,
                                            uint32_t ExpectedCRC, bool& DoExtract)>;
using TPasswordErrorEvent =
    std::function<void(TZipKit* Sender, bool IsZipAction, std::string& NewPassword, const std::string& ForFile,
                       uint32_t& RepeatCount, TPasswordButton& Action)>;
using TExtractOverwriteEvent = std::function<void(TZipKit* Sender, const std::string& ForFile, bool IsOlder,
                                                  bool& DoOverwrite, int32_t DirIndex)>;
using TExtractSkippedEvent = std::function<void(TZipKit* Sender, const std::string& ForFile,
                                                UnZipSkipTypes SkipType, int32_t ExtError)>;
using TCopyZipOverwriteEvent = std::function<void(TZipKit* Sender, const std::string& ForFile, bool& DoOverwrite)>;
using TFileCommentEvent = std::function<void(TZipKit* Sender, const std::string& ForFile, std::string& FileComment,
                                             bool& IsChanged)>;
using TGetNextDiskEvent = std::function<void(TZipKit* Sender, int32_t DiskSeqNo, int32_t DiskTotal,
                                             const std::string& Drive, bool& AbortAction)>;
using TStatusDiskEvent = std::function<void(TZipKit* Sender, int32_t PreviousDisk, const std::string& PreviousFile,
                                            TZipDiskStatus Status, TZipDiskAction& Action)>;

// The password entry: the prompt service's password window with the buttons asked for.
class TPasswordDlg {
 public:
  enum Buttons { pbOk = 1, pbCancel = 2, pbCancelAll = 4, pbAbort = 8 };
  // Shows the entry; `text` gets the typed text on OK (at most 80 characters), else "".
  static TPasswordButton Execute(const std::string& caption, const std::string& prompt, int buttons,
                                 std::string& text);
  // Replaces the entry (a test script); empty restores the prompt service's window.
  using TRunner = std::function<TPasswordButton(const std::string& caption, const std::string& prompt, int buttons,
                                                std::string& text)>;
  static void SetRunner(TRunner runner);
};

class TZipKit {
 public:
  TZipKit();
  ~TZipKit();
  TZipKit(const TZipKit&) = delete;
  TZipKit& operator=(const TZipKit&) = delete;

  // --- Published properties -----------------------------------------------------------------
  bool Verbose = false;
  bool Trace = false;
  int32_t AddCompLevel = 9;
  AddOpts AddOptions;
  int64_t AddFrom = 0;  // day number (days since 30 December 1899)
  std::string ExtrBaseDir;
  ExtrOpts ExtrOptions;
  std::vector<std::string> FSpecArgs;
  // Adding: the root folder of the FSpecArgs line at the same index (stored names are taken below
  // it); an empty or missing one means RootDir. Cleared with FSpecArgs.
  std::vector<std::string> FSpecRootDirs;
  bool Unattended = false;
  std::string TempDir;
  CodePageOpts CodePage = cpAuto;
  DeleteOpts HowToDelete = htdAllowUndo;
  AddStoreExts AddStoreSuffixes{assGIF, assPNG, assZ,   assZIP, assZOO, assARC, assLZH, assARJ, assTAZ,
                                assTGZ, assLHA, assRAR, assACE, assCAB, assGZ,  assGZIP, assJAR};
  std::vector<std::string> FSpecArgsExcl;
  bool UseDirOnlyEntries = false;
  std::string RootDir;
  bool ConfirmErase = true;
  bool FormatErase = false;
  int32_t KeepFreeOnDisk1 = 0;
  int64_t MaxVolumeSize = 0;
  int64_t MinFreeVolumeSize = 65536;
  std::string SFXCaption = "Self-extracting Archive";
  std::string SFXCommandLine;
  std::string SFXDefaultDir;
  std::vector<uint8_t> SFXIcon;  // icon-file bytes
  std::string SFXMessage;
  SFXOpts SFXOptions{SFXCheckSize};
  OvrOpts SFXOverWriteMode = OvrConfirm;
  std::string SFXPath = "SfxStub.bin";

  // Assigning runs ReadDirectory; after a failed read the name is empty again.
  const std::string& ZipFileName() const { return zipFileName_; }
  void SetZipFileName(const std::string& name);
  const std::string& Password() const { return password_; }
  void SetPassword(const std::string& password);  // at most 255 characters kept
  const std::string& DLLDirectory() const { return dllDirectory_; }
  void SetDLLDirectory(const std::string& folder);  // a trailing "/" is removed
  int32_t MinZipEngVers() const { return minZipEngVers_; }
  void SetMinZipEngVers(int32_t v);  // values below 170 are ignored
  int32_t MinUnzEngVers() const { return minUnzEngVers_; }
  void SetMinUnzEngVers(int32_t v);
  std::string VersionInfo() const { return "1.70"; }
  void SetVersionInfo(const std::string&) {}
  uint32_t PasswordReqCount() const { return passwordReqCount_; }
  void SetPasswordReqCount(uint32_t n);  // above 15 stores 15

  // --- Events -------------------------------------------------------------------------------
  TNotifyEvent OnDirUpdate;
  TProgressEvent OnProgress;
  TMessageEvent OnMessage;
  TSetNewNameEvent OnSetNewName;
  TNewNameEvent OnNewName;
  TCRC32ErrorEvent OnCRC32Error;
  TPasswordErrorEvent OnPasswordError;
  TExtractOverwriteEvent OnExtractOverwrite;
  TExtractSkippedEvent OnExtractSkipped;
  TCopyZipOverwriteEvent OnCopyZipOverwrite;  // never fired
  TFileCommentEvent OnFileComment;
  TGetNextDiskEvent OnGetNextDisk;
  TStatusDiskEvent OnStatusDisk;

  // Hooks of the host program: let the user interface run pending events (after each engine
  // callback and copy block), and show or hide the wait cursor.
  std::function<void()> ProcessEvents;
  std::function<void(bool busy)> OnWaitCursor;
  void* ApplicationHandle = nullptr;  // handed to the engines unless Unattended
  IZipMedia* Media = &DefaultZipMedia();

  // --- Run-time values ----------------------------------------------------------------------
  int32_t ErrCode = 0;
  int32_t FullErrCode = 0;
  std::string LastMessage;
  int32_t SuccessCount = 0;
  std::atomic<bool> Cancel{false};
  int64_t AnnouncedTotalSize = 0;
  bool ZipBusy() const { return zipBusy_; }
  bool UnzipBusy() const { return unzipBusy_; }

  // --- Operations ---------------------------------------------------------------------------
  int32_t LoadZipEngine();
  void UnloadZipEngine();
  int32_t LoadUnzipEngine();
  void UnloadUnzipEngine();
  bool ZipEngineLoaded() const { return zipEngine_.Library != nullptr; }
  bool UnzipEngineLoaded() const { return unzipEngine_.Library != nullptr; }
  const std::string& ZipEnginePath() const { return zipEngine_.Path; }
  const std::string& UnzipEnginePath() const { return unzipEngine_.Path; }
  // The engine's version after loading it when needed (0 = stop); `loadedHere` tells whether
  // this call loaded it.
  int32_t CheckZipEngine(bool& loadedHere);
  // Builds the parameter record and runs the zip engine over `archive`; SuccessCount holds its result.
  void RunZipEngine(bool forDelete, const std::string& archive, int32_t version);
  int32_t CheckUnzipEngine(bool& loadedHere);

  void AddFiles();
  void ExtractFiles();
  // Throws EZipKit when the archive has no end record or belongs to a multi-disk set (10402).
  void DeleteEntries();

  // --- Directory ----------------------------------------------------------------------------
  void ReadDirectory();
  int32_t EntryCount() const { return static_cast<int32_t>(entries_.size()); }
  // A copy of entry `index`; throws std::out_of_range outside 0 .. EntryCount() - 1.
  ZipDirEntry DirEntry(int32_t index) const;
  const std::vector<ZipDirEntry>& DirEntries() const { return entries_; }
  std::string ArchiveComment() const;
  void SetArchiveComment(const std::string& text);
  int64_t SFXOffset() const { return sfxOffset_; }
  bool IsSpanned() const { return isSpanned_; }
  int32_t LastDisk() const { return lastDisk_; }
  // Parts of a byte-split set (7-Zip's "name.zip.001", ...) read as one archive; 1 otherwise.
  int32_t SplitParts() const { return splitParts_; }
  int32_t DirOnlyCount() const { return dirOnlyCount_; }
  int64_t CentralDirOffset() const { return centralDirOffset_; }
  int64_t EndRecordOffset() const { return endRecordOffset_; }
  int64_t FileEnd() const { return fileEnd_; }
  int64_t PhysicalSize() const { return physicalSize_; }
  bool OffsetMismatch() const { return offsetMismatch_; }
  const TZipEndRecord& EndRecord() const { return endRecord_; }
  const std::string& RawArchiveComment() const { return comment_; }
  // Finds the end record of ZipFileName. Raise mode throws EZipKit; quiet mode reports 11002
  // when the file cannot be opened and returns false when there is no end record.
  bool ReadEndRecord(bool raiseMode);

  // --- Self-extracting programs and multi-disk sets -----------------------------------------
  // ZipFileName (a ".zip") becomes a program of the same name with ".run", made of the stub, the
  // settings header of the SFX* properties and the archive; with `newProgram`, ZipFileName (a
  // ".run" that does not exist yet) becomes a program holding an empty archive. 0 or a negative
  // result code (-1 create, -2 copy, -3 open, -9 general, -10 no icon slot in the stub, -11 icon
  // write, -12 icon size).
  int32_t ConvertToSfx(bool newProgram = false);
  // ZipFileName (a ".run" program) becomes a ".zip" archive; the SFX* properties and SFXIcon take
  // the settings found in the program. 0 or a negative result code (-10: out of memory).
  int32_t ConvertToZip();
  // The stub file: SFXPath when absolute, else looked for in the program's folder first, then in
  // DLLDirectory, then in the current folder. Empty when there is none; SFXPath keeps the last
  // candidate tried.
  std::string FindSfxStub();
  int32_t WriteSpannedArchive(const std::string& source, const std::string& target);
  // The part holding the directory of the set just written for `target`: the target's name on a
  // removable medium, its last numbered file ("archive003.zip") on a fixed or network drive.
  std::string SpannedSetName(const std::string& target);
  int32_t ReadSpannedArchive(const std::string& setName, std::string& outputName);

  // --- Internal routines, public for the other parts of the component -----------------------
  // Reports message `id` followed by `extra`: LastMessage, ErrCode, a message box unless
  // Unattended, then OnMessage with ErrCode 0.
  void ReportMessage(int32_t id, const std::string& extra = std::string());
  void ReportException(const EZipKit& e);
  // Deletes a file, to the trash when mode is htdAllowUndo (falling back to deleting it).
  // -1 when the file does not exist, 0 when done, else an errno value.
  int EraseFile(const std::string& path, DeleteOpts mode);
  std::string MakeTempFileName(const std::string& prefix = "zip", const std::string& ext = ".zip");
  // Copies count bytes (negative: to the end) between two descriptors at their positions in
  // blocks of 8192; 0, or -2 on a failed read or write. A short read ends the copy successfully.
  int32_t CopyFileData(int from, int to, int64_t count);
  void StartWaitCursor();
  void EndWaitCursor();

  struct TEngineKind;  // library and function names, message ids of one engine

  // The callback handed to the engines.
  static int32_t EngineCallback(CallbackRecord* record);
  std::string AskAddPassword(TPasswordButton& action);
  std::string AskExtractPassword(TPasswordButton& action);

  // Progress of the component's own copies goes to OnProgress only while this is set.
  bool ShowProgress = false;

 private:
  struct TEngine {
    void* Library = nullptr;
    void* Exec = nullptr;
    void* GetVersion = nullptr;
    std::string Path;
  };
  class TReadDisks;
  friend class TReadDisks;

  int32_t LoadEngine(TEngine& engine, const TEngineKind& kind);
  void UnloadEngine(TEngine& engine);
  int32_t CheckEngine(TEngine& engine, const TEngineKind& kind, int32_t minVersion, bool& loadedHere);
  std::string EngineCandidate(const std::string& libraryName) const;
  int32_t HandleCallback(CallbackRecord& record);
  void AnswerPassword(CallbackRecord& record, const std::string& forFile);

  void ClearDirectoryState();
  int32_t WriteShiftedDirectory(int from, int64_t dirPos, int to, int64_t shift);
  void ScanEndRecordOf(const IArchiveInput& input, bool raiseMode, bool& found);
  // Opens part `disk` of the set whose last part is `name` (asking for the disk on removable media).
  const IArchiveInput& OpenDiskForRead(const std::string& name, int32_t disk, std::unique_ptr<TArchiveFile>& input);
  void AskForDisk(const std::string& name, int32_t disk);
  void ReportText(int32_t id, const std::string& text, bool display);

  std::string zipFileName_;
  std::string password_;
  std::string dllDirectory_;
  int32_t minZipEngVers_ = kMinEngineVersion;
  int32_t minUnzEngVers_ = kMinEngineVersion;
  uint32_t passwordReqCount_ = 1;

  std::atomic<bool> zipBusy_{false};
  std::atomic<bool> unzipBusy_{false};
  TEngine zipEngine_;
  TEngine unzipEngine_;
  int waitCursorDepth_ = 0;

  std::vector<ZipDirEntry> entries_;
  std::string comment_;  // as stored in the file
  TZipEndRecord endRecord_;
  int64_t sfxOffset_ = 0;
  bool isSpanned_ = false;
  int32_t lastDisk_ = 0;
  int32_t currentDisk_ = 0;
  int32_t splitParts_ = 1;
  int32_t dirOnlyCount_ = 0;
  int64_t centralDirOffset_ = 0;
  int64_t endRecordOffset_ = 0;
  int64_t fileEnd_ = 0;
  int64_t physicalSize_ = 0;
  bool offsetMismatch_ = false;
  uint8_t lastHostSystem_ = 0;
  uint8_t lastVersionMadeBy_ = 0;
};
