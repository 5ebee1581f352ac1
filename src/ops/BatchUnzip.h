#pragma once
// The batch unzip: a folder scan that finds archives (TBatchScanJob) and a run that unzips many of
// them, each into a new folder of its own, and optionally moves them afterwards (TBatchUnzipJob).
// Only zip archives are taken unless AllTypes is set; then tar, tar.gz, gzip and RAR archives too,
// each through its own extract job.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "ops/Job.h"

// True when the name marks an archive the batch takes: ".zip" (any case), and with `allTypes` also
// ".rar", ".tar", ".tar.gz", ".tgz" and ".gz".
bool IsBatchArchiveName(const std::string& name, bool allTypes);

// The name of the folder an archive is unzipped into: a zip archive's file name cut before its
// first ".zip" (any case), another archive's without its extension; a name without either whole.
std::string BatchFolderName(const std::string& archiveName);

// Makes a new folder `base`/`name`; when that name is taken, the first free of `name`01, `name`02,
// ... `name`09, `name`010, ... Missing parents of `base` are made. The folder made, or empty with
// `error` set.
std::string MakeNumberedFolder(const std::string& base, const std::string& name, std::string& error);

// True when an archive must never be moved: it lies under a system folder (/usr, /opt, /etc,
// /var/lib, /snap, /boot, also once links are resolved) or its folder or name contains "java" in
// any letter case.
bool NeverMoveArchive(const std::string& archive);

// The folder a moved archive goes to: `moveFolder`/ZipError when its unzip failed; else with
// `recreate` the move folder followed by the archive's folder path (without its leading "/"); else
// the move folder itself.
std::string BatchMoveFolder(const std::string& archive, const std::string& moveFolder, bool recreate, bool failed);

// What the listing of one archive says: its unpacked total and number of entries; false (both 0)
// when it cannot be read or is not of a kind the batch takes. Asks nothing.
struct TArchiveTally {
  uint64_t Unpacked = 0;
  int64_t Entries = 0;
};
bool TallyArchive(const std::string& path, bool allTypes, TArchiveTally& tally);

// ---------------------------------------------------------------------------------------------------
// The scan.

struct TBatchScanParams {
  std::string Folder;
  bool Subfolders = true;          // descend into sub-folders, depth first
  bool AllTypes = false;
  std::vector<std::string> Known;  // full paths already listed: not found again
};

// One archive found.
struct TBatchFound {
  std::string Path;                // full path, as found
  uint64_t Size = 0;
  int64_t Time = 0;                // modification time, seconds since 1970
  TArchiveTally Tally;
};

// Walks the folder (entries whose names begin with "." and symbolic links are passed over, folders
// that vanish or cannot be read are skipped) and tallies every archive it finds. Found archives
// wait in the job until the page takes them; TakeFound and the counters may be used from any
// thread while the job runs.
class TBatchScanJob : public TJob {
 public:
  explicit TBatchScanJob(TBatchScanParams params);
  const char* Name() const override { return "batch scan"; }

  // Moves the archives found since the last call into `out` (appended).
  void TakeFound(std::vector<TBatchFound>& out);
  int64_t FoundCount() const { return found_.load(); }
  uint64_t PackedTotal() const { return packed_.load(); }
  // The folder being read now.
  std::string CurrentFolder() const;

 protected:
  TStatus Execute(TJobContext& ctx) override;

 private:
  void ScanFolder(TJobContext& ctx, const std::string& folder);

  TBatchScanParams params_;
  std::vector<std::string> known_;  // sorted
  mutable std::mutex mutex_;
  std::vector<TBatchFound> pending_;
  std::string folder_;
  std::atomic<int64_t> found_{0};
  std::atomic<uint64_t> packed_{0};
};

// ---------------------------------------------------------------------------------------------------
// The run.

struct TBatchArchive {
  std::string Path;
  uint64_t Unpacked = 0;  // from the listing: the progress total when the extraction tells none
  int64_t Entries = 0;
  uint64_t Size = 0;      // the archive's own size
};

struct TBatchUnzipParams {
  std::vector<TBatchArchive> Archives;
  std::string Destination;      // empty: beside each archive
  std::string MoveFolder;       // empty: the archives stay where they are
  bool RecreateFolders = true;  // moved archives keep their folder path below the move folder
  bool AllTypes = false;
};

enum class TBatchMove : uint8_t {
  Stay,     // no move folder
  Moved,
  Never,    // under a system folder or a "java" name
  Failed,   // the archive is where it was; MoveStatus says why
};

// The outcome for one archive.
struct TBatchItem {
  std::string Archive;
  std::string Target;    // the folder made for it; empty when none was
  TStatus Status;        // Ok: every entry unzipped; anything else (warnings too) fails it, with the reason
  TBatchMove Move = TBatchMove::Stay;
  std::string MovedTo;   // the archive's new path
  TStatus MoveStatus;
  bool Unzipped() const { return Status.IsOk(); }
};

// Unzips the archives one after another; never replaces a file on disk (each goes into a folder
// made for it, nothing is overwritten). Cancel lets the archive in work finish, its move too, and
// ends the run; AbortCurrent stops that archive as well. Questions: a password is asked at most
// once per archive, with the archive's path as the name; CancelAll skips every encrypted archive
// after it. Damaged entries are skipped without a question.
class TBatchUnzipJob : public TJob {
 public:
  explicit TBatchUnzipJob(TBatchUnzipParams params) : params_(std::move(params)) {}
  const char* Name() const override { return "batch unzip"; }

  // After each archive (its extraction and its move), on the job's thread.
  std::function<void(size_t index, const TBatchItem& item)> OnArchiveDone;

  // Readable from any thread while the job runs: the archive in work, its entries and bytes.
  int32_t CurrentIndex() const { return index_.load(); }
  int64_t CurrentEntries() const { return entries_.load(); }
  uint64_t CurrentDone() const { return done_.load(); }
  uint64_t CurrentTotal() const { return total_.load(); }
  // Archives finished so far.
  int32_t Finished() const { return finished_.load(); }

  void AbortCurrent();
  // After the run: one item per archive taken, in order.
  const std::vector<TBatchItem>& Items() const { return items_; }

 protected:
  TStatus Execute(TJobContext& ctx) override;

 private:
  class TQuestions;
  TBatchItem UnzipOne(TJobContext& ctx, const TBatchArchive& archive, TQuestions& questions);
  void MoveOne(TBatchItem& item);

  TBatchUnzipParams params_;
  std::vector<TBatchItem> items_;
  std::atomic<int32_t> index_{0}, finished_{0};
  std::atomic<int64_t> entries_{0};
  std::atomic<uint64_t> done_{0}, total_{0};
  std::mutex innerMutex_;
  TJob* inner_ = nullptr;
  bool aborted_ = false;
};
