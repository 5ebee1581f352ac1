#pragma once
// TJob: the base of every archive operation that the window's pages and the command line run.
//
// A job is made with its parameter record (filled completely by the caller beforehand), gets its
// callbacks and optionally its questions, and is run once with Run() on the thread that should do
// the work: a worker for the window (see pages/common/JobRunner.h), the main thread for `tandor`.
// Callbacks and questions are called on that thread. Cancel() may come from any thread. Every job
// keeps its own state (the "to all" answers, the password, totals, counts) in its TJobContext and
// owns the component instance it works with, so that two jobs never share one.
//
// Adding a job (batch unzip, batch create, self-extracting conversion, ...): derive from TJob,
// take a parameter record of its own in the constructor, and implement Execute() with adapters
// from MakeArchiveAdapter (or a component of its own), reporting through the context: progress,
// messages, Refuse, Counts. Execute returns the run's status; the base merges it with the messages
// seen and fills the result. A job that runs other jobs (one per archive) runs them with Run() on
// its own thread, passes Questions on, forwards Cancel through the context's cancel hook and adds
// their results up with AddUp().
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/Status.h"
#include "ops/ArchiveEntry.h"
#include "ops/JobContext.h"
#include "ops/JobQuestions.h"

struct TJobResult {
  TStatus Status;                     // the most serious status: the operation's own, else the first message as serious
  TJobCounts Counts;
  std::vector<std::string> Refused;   // entries or files left out, by name
  std::vector<std::string> Warnings;  // warning texts, in order

  // Adds another run's counts, names and warnings, and merges its status.
  void AddUp(const TJobResult& other);
};

class TJob {
 public:
  virtual ~TJob();
  TJob(const TJob&) = delete;
  TJob& operator=(const TJob&) = delete;

  // A short name of the operation ("list", "extract", ...).
  virtual const char* Name() const = 0;

  // Runs the job on the calling thread; once.
  TJobResult Run();
  // Asks the running (or not yet started) job to stop as soon as it can. Any thread.
  void Cancel();
  bool CancelRequested() const;
  // The result of the finished run.
  const TJobResult& Result() const { return result_; }

  // --- Set before Run -------------------------------------------------------------------------
  std::function<void(const TJobProgress&)> OnProgress;
  // Each warning or failure as it happens (an entry refused, a component's error message).
  std::function<void(const TStatus&)> OnMessage;
  // The questions to ask; null: TPromptQuestions (the prompt service). Must outlive the run.
  IJobQuestions* Questions = nullptr;

 protected:
  TJob();
  // The work; returns the run's own status (merged with the messages reported on the way).
  virtual TStatus Execute(TJobContext& ctx) = 0;

 private:
  TPromptQuestions defaultQuestions_;
  mutable std::mutex mutex_;  // guards ctx_ against Cancel from another thread
  std::unique_ptr<TJobContext> ctx_;
  bool cancelRequested_ = false;
  TJobResult result_;
};
