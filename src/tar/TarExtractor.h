#pragma once
// Safe extraction of tar, tar.gz and gzip files into a destination folder, and the helpers that tell
// these files apart. Nothing is ever written outside the destination.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tar/TarLib.h"

// Answer to "replace this file?".
enum class TOverwriteAnswer { Yes, No, YesToAll, NoToAll, Cancel };

// Outcome of one extraction run.
struct TTarExtractResult {
  bool Ok = true;                     // false on a broken archive or a failed write
  bool Cancelled = false;             // the Cancel flag or an overwrite answer stopped the run
  std::string Error;                  // why the run failed
  int Files = 0, Folders = 0, Links = 0, Skipped = 0;
  std::vector<std::string> Warnings;  // entries refused, renamed or skipped, with the reason
  std::vector<std::string> Notes;     // warnings about the archive itself (trailing garbage)
};

class TTarExtractor {
 public:
  // Asked when a file exists already; unset means replace. Runs on the extracting thread.
  std::function<TOverwriteAnswer(const TTarDirRec& entry, const std::string& diskPath)> OnOverwrite;
  // Progress: bytes of the archive file consumed, its size, the entry being written.
  std::function<void(int64_t done, int64_t total, const std::string& name)> OnProgress;
  // Set from any thread to stop between (and inside) entries.
  std::atomic<bool> Cancel{false};
  // Entry names to extract (as stored, a folder name takes what is below it); empty = all.
  std::vector<std::string> Only;
  // When set, decides which entries are extracted instead of Only (runs on the extracting thread).
  std::function<bool(const TTarDirRec& entry)> Select;
  bool RestoreTimes = true;
  bool RestorePermissions = true;

  // Extracts a tar or gzipped tar file (told apart by content) into `destination` (created when missing).
  TTarExtractResult Extract(const std::string& archive, const std::string& destination);
  // Extracts from an open archive.
  TTarExtractResult Extract(TTarArchive& archive, const std::string& destination);
  // Decompresses a gzip file into `destination`, under the last element of its stored name.
  TTarExtractResult ExtractGz(const std::string& gzFile, const std::string& destination,
                              std::string* writtenPath = nullptr);

 private:
  struct TRun;
};

// The file name to write a gzip file's content to: the last element of its stored name, or the gzip
// file's own name without ".gz" (".tgz" gives ".tar") when none is stored.
std::string GzOutputName(const std::string& storedName, const std::string& gzFile);
// True when the file starts with the gzip magic bytes.
bool IsGzipFile(const std::string& path);
// True when the gzip file's stored name has the extension ".tar" (exactly, lower case).
bool IsaGzippedTarBall(const std::string& path);
// True when the file is gzip and its content starts with a valid tar header.
bool IsTarGzContent(const std::string& path);
// Opens a tar file, decompressing on the fly when it is gzip (constant memory).
std::unique_ptr<TTarArchive> OpenTarStream(const std::string& path);
