#pragma once
// The incoming file queue: archives waiting to be opened on the unzip page. `QueueList` and the
// queue box are kept parallel (entry 0 of both is the box's state line); the list survives restarts
// in the "queue" file, and archives that came from a temporary location are queued as copies kept in
// the "ziptemp" folder.
#include <functional>
#include <string>
#include <vector>

class QComboBox;

class TIncomingQueue {
 public:
  static constexpr const char* kEmptyText = "{ QUEUE - EMPTY }";
  static constexpr const char* kWaitingText = "{ QUEUE - WAITING }";

  // `list` is the window's QueueList; `isTemporary` tells a temporary location.
  TIncomingQueue(std::vector<std::string>& list, QComboBox* box, std::string queueFile, std::string copiesFolder,
                 std::function<bool(const std::string&)> isTemporary);

  // Fills the box and the list from the queue file: lines naming existing archives are kept.
  void LoadQueue();
  // Writes entries 1..n to the queue file (through a temporary file renamed over it), or deletes the
  // file when nothing is queued. False (after showing the error) when it cannot be written.
  bool SaveQueue();
  // True when some entry equals `path` without regard to case.
  bool IsInQueue(const std::string& path) const;
  // Queues an archive unless it is not an existing archive or already queued; an archive in a
  // temporary location is queued as its copy. Saves the queue. True when something was queued.
  bool AddToQueue(const std::string& path);
  // The same without saving: for callers that queue several archives and save once.
  bool QueueOne(const std::string& path);
  // Removes entry i (1..n) from the box and the list and saves the queue.
  void RemoveFromQueue(int i);
  // Empties the queue: only the placeholder and the state line stay. The copies go too unless
  // `keepCopies` (the batch page lists them now). Does not save.
  void ClearAll(bool keepCopies = false);

  // Copies an archive into the copies folder; the copy's path, or empty when the copy failed. An
  // archive already there is its own copy; a queued copy of another archive with the same name is
  // never overwritten.
  std::string CopyToQueueFolder(const std::string& path) const;
  // The two halves of CopyToQueueFolder: choosing the copy's name (reads the queue: main thread) and
  // copying (any thread).
  std::string CopyTargetFor(const std::string& path) const;
  static bool CopyFileTo(const std::string& source, const std::string& target);
  // Deletes the copies that are no longer queued and not in use.
  void PruneQueueCopies() const;

  // Item 0 of the box tells whether archives are waiting; item 0 is selected.
  void ShowState();
  int Count() const { return int(list_.size()) - 1; }
  const std::string& QueueFile() const { return queueFile_; }
  std::string CopiesFolder() const;

  // Tells a path that must not be overwritten by a copy nor pruned (the archive shown on the page).
  std::function<bool(const std::string&)> InUse;

 private:
  void EnsureHeader();
  std::vector<std::string>& list_;
  QComboBox* box_;
  std::string queueFile_;
  std::string copiesFolder_;
  std::function<bool(const std::string&)> isTemporary_;
};
