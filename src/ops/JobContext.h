#pragma once
// The state of one running job, shared by the job and the adapter it drives: progress and message
// reporting, the run's own answers ("yes to all", the password given), counts, refused names and
// the cancel request. Lives on the job's thread; only RequestCancel and Cancelled may be called
// from another.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/Status.h"
#include "ops/JobParams.h"
#include "ops/JobQuestions.h"

struct TJobCounts {
  int64_t Entries = 0;  // entries listed
  int64_t Files = 0;    // files extracted, tested or stored
  int64_t Folders = 0;
  int64_t Links = 0;
  int64_t Skipped = 0;  // entries or files left out (refused, declined, unreadable)
  uint64_t Bytes = 0;   // data bytes extracted, tested or stored
};

struct TJobProgress {
  uint64_t Done = 0;   // bytes (of the archive or the data, as the operation counts)
  uint64_t Total = 0;  // 0 when unknown
  std::string Name;    // the entry or file at hand; empty at the end
};

class TJobContext {
 public:
  explicit TJobContext(IJobQuestions& questions) : questions_(questions) {}
  TJobContext(const TJobContext&) = delete;
  TJobContext& operator=(const TJobContext&) = delete;

  IJobQuestions& Questions() { return questions_; }

  // --- Cancel ---------------------------------------------------------------------------------
  bool Cancelled() const { return cancel_.load(std::memory_order_relaxed); }
  // Any thread: marks the run cancelled and runs the hook that tells the component at work.
  void RequestCancel();
  // The adapter's way to stop its component at once (e.g. set its own cancel flag); cleared by
  // passing an empty function. Runs on the cancelling thread.
  void SetCancelHook(std::function<void()> hook);

  // --- Reporting ------------------------------------------------------------------------------
  std::function<void(const TJobProgress&)> OnProgress;
  std::function<void(const TStatus&)> OnMessage;
  void Progress(uint64_t done, uint64_t total, const std::string& name);
  // A warning or failure as it happens: kept (warnings in Warnings), merged into Status, passed on.
  void Message(const TStatus& status);
  // Says something worth knowing about a readable archive (data in front of it, bytes after its
  // end) as a warning that leaves the outcome as it is.
  void Note(const std::string& text);
  // An entry or file left out: its name goes to Refused, the reason is a Warning message.
  void Refuse(const std::string& name, const std::string& why);

  // --- The run's answers ----------------------------------------------------------------------
  TOverwriteMode OverwriteMode = TOverwriteMode::Ask;
  // Whether to replace an existing file: the mode, then a "to all" answer, then the question. A
  // Cancel answer requests cancel and returns false.
  bool Overwrite(const TOverwriteQuestion& question);
  // The password to try for an encrypted entry: the one given or answered before, else asked (after
  // CancelAll no more). Ok with `password` filled, else the answer (Abort also requests cancel).
  TPasswordChoice Password(const std::string& entryName, std::string& password);
  // The password given in the parameters (never asked then).
  void SetGivenPassword(const std::string& password) { password_ = password; }
  // The password handed out last did not fit: the next call asks again.
  void PasswordFailed() { passwordStale_ = true; }

  // --- Outcome --------------------------------------------------------------------------------
  TJobCounts Counts;
  TStatus Status;
  std::vector<std::string> Refused;
  std::vector<std::string> Warnings;

 private:
  IJobQuestions& questions_;
  std::atomic<bool> cancel_{false};
  std::mutex hookMutex_;
  std::function<void()> cancelHook_;
  bool yesToAll_ = false, noToAll_ = false;
  std::string password_;
  bool passwordStale_ = false, noMorePasswords_ = false;
};
