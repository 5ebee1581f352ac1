#pragma once
// The archive operations shared by the window and `tandor`: list, test, extract, create, update
// (add and replace) and delete, each a TJob with a fixed parameter record.
#include <string>

#include "ops/ArchiveAdapter.h"
#include "ops/Job.h"
#include "ops/JobParams.h"

// Lists an archive: OnEntry for every entry, in archive order, on the running thread.
class TListJob : public TJob {
 public:
  explicit TListJob(TListParams params) : params_(std::move(params)) {}
  const char* Name() const override { return "list"; }
  TEntryCallback OnEntry;
  // Before the first entry, when the format knows how many there will be (zip); on the running thread.
  std::function<void(int64_t count)> OnCount;

  // After the run: the format found, the archive comment, the entries and their unpacked total.
  TArchiveFormat Format() const { return format_; }
  const std::string& Comment() const { return comment_; }
  uint64_t TotalSize() const { return totalSize_; }

 protected:
  TStatus Execute(TJobContext& ctx) override;

 private:
  TListParams params_;
  TArchiveFormat format_ = TArchiveFormat::Unknown;
  std::string comment_;
  uint64_t totalSize_ = 0;
};

// Reads and checks the selected entries (every CRC) without writing anything.
class TTestJob : public TJob {
 public:
  explicit TTestJob(TTestParams params) : params_(std::move(params)) {}
  const char* Name() const override { return "test"; }
  TArchiveFormat Format() const { return format_; }

 protected:
  TStatus Execute(TJobContext& ctx) override;

 private:
  TTestParams params_;
  TArchiveFormat format_ = TArchiveFormat::Unknown;
};

// Extracts the selected entries into a folder, through each format's safe extractor.
class TExtractJob : public TJob {
 public:
  explicit TExtractJob(TExtractParams params) : params_(std::move(params)) {}
  const char* Name() const override { return "extract"; }
  TArchiveFormat Format() const { return format_; }

 protected:
  TStatus Execute(TJobContext& ctx) override;

 private:
  TExtractParams params_;
  TArchiveFormat format_ = TArchiveFormat::Unknown;
};

// Makes a new archive (zip, tar, tar.gz, gzip) from a list of files. The archive is written under a
// temporary name beside the target and renamed over it only when complete: a stopped or failed run
// leaves no archive under the target name and an older one as it was. A multi-disk zip set is the
// exception: the component writes its parts itself.
class TCreateJob : public TJob {
 public:
  explicit TCreateJob(TCreateParams params) : params_(std::move(params)) {}
  const char* Name() const override { return "create"; }
  TArchiveFormat Format() const { return format_; }
  // The name the archive ended up under (the last part of a multi-disk set).
  const std::string& ArchivePath() const { return archivePath_; }

 protected:
  TStatus Execute(TJobContext& ctx) override;

 private:
  TCreateParams params_;
  TArchiveFormat format_ = TArchiveFormat::Unknown;
  std::string archivePath_;
};

// What the two jobs that rewrite an existing archive have in common: the checks before anything is
// written (the archive unchanged since the caller listed it, writable, its folder writable, room for
// the new copy beside it), and the archive's entries as they stand after a successful rewrite.
class TRewriteJob : public TJob {
 public:
  // When set: after a successful rewrite, every entry of the archive as it now stands, in order.
  TEntryCallback OnEntry;
  // True when the run wrote nothing because the archive differed from the expected stamp.
  bool ArchiveChanged() const { return changed_; }
  // The archive's stamp after the run (written or not).
  const TFileStamp& Stamp() const { return stamp_; }

 protected:
  // Checks before a rewrite that may add `adding` bytes to an archive of `archive`.
  TStatus CheckBeforeRewrite(const std::string& archive, const TFileStamp& expected, uint64_t adding);
  // After the adapter's run: the new stamp, and the entries when the run succeeded.
  TStatus Finish(TJobContext& ctx, IArchiveAdapter& adapter, const std::string& archive, TStatus status);

 private:
  bool changed_ = false;
  TFileStamp stamp_;
};

// Adds files to an existing archive; entries of the same name are replaced in the same rewrite.
class TUpdateJob : public TRewriteJob {
 public:
  explicit TUpdateJob(TUpdateParams params) : params_(std::move(params)) {}
  const char* Name() const override { return "update"; }

 protected:
  TStatus Execute(TJobContext& ctx) override;

 private:
  TUpdateParams params_;
};

// Deletes the selected entries from an archive.
class TDeleteJob : public TRewriteJob {
 public:
  explicit TDeleteJob(TDeleteParams params) : params_(std::move(params)) {}
  const char* Name() const override { return "delete"; }

 protected:
  TStatus Execute(TJobContext& ctx) override;

 private:
  TDeleteParams params_;
};

// The stamp of a file now (not taken when it cannot be read).
TFileStamp FileStampOf(const std::string& path);

// The adapter for an existing archive: the format given, else the registry's finding; the status
// says why there is none (the file is missing, of no known kind).
TStatus OpenArchiveAdapter(const std::string& archive, TArchiveFormat format, TJobContext& ctx,
                           std::unique_ptr<IArchiveAdapter>& adapter);

// A name for a temporary file beside `target`, hidden, unlikely to exist.
std::string TempNameBeside(const std::string& target);
