#pragma once
// The batch create queue: the jobs of the "Batch Create" window run one after another on the create
// page, unattended. A one-shot timer (50 ms before the first job) takes the next job, fills the page's list as the user
// would (target, tag, files, folders) and starts the page's own creation run; the run's end starts
// the timer again. While the queue runs the page is in BatchCreateMode: no dialogs, no message
// boxes, questions answered by the unattended rules. At the end "Batch Processing Results" lists
// every job's outcome in three lines (result, target, empty line).
#include <QObject>
#include <QTimer>
#include <string>
#include <vector>

#include "pages/batchcreate/BatchCreateForm.h"

class IPageHost;
class TCreatePage;

extern const char* const kBatchCreated;       // "Created..."
extern const char* const kBatchError;         // "Error creating file..."
extern const char* const kBatchNoSpace;       // "Error...not enough disk space/"
extern const char* const kBatchTarGzNoRoom;   // the gzipped-tar room text

class TBatchCreateQueue : public QObject {
  Q_OBJECT
 public:
  TBatchCreateQueue(IPageHost& host, TCreatePage& page);

  // BATCH: the "Batch Create" window; its finished jobs then run.
  void BatchButtonClick();
  // Runs the given job rows (as the window leaves them).
  void Start(std::vector<TBatchRow> rows);
  void BatchTimerTimer();
  // Runs the job whose rows have just filled the page; `jobType` is its "Filename" action.
  void RunBatchJob(const std::string& jobType);
  // Room for a job of this type (0 zip, 1 tar.gz, 2 tar, 3 gz); false after recording why not.
  bool CheckBatchJobRoom(int type);
  void ShowBatchResults();

  bool Running() const { return running_; }
  const std::vector<std::string>& BatchResults() const { return results_; }

  QTimer BatchTimer;

 signals:
  // The queue has ended and its results window was closed.
  void Finished();

 private:
  void Record(const std::string& first, const std::string& second);
  void JobEnded(bool ok);
  void EndQueue();
  // Starts the timer for the next job.
  void Next();

  IPageHost& host_;
  TCreatePage& page_;
  std::vector<TBatchRow> rows_;
  size_t BatchJobPos = 0;
  std::vector<std::string> results_;
  bool running_ = false;
  bool jobRunning_ = false;
  bool stop_ = false;
  bool sourceMissing_ = false;
  std::string target_;
};
