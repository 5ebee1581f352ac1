#pragma once
// The create page's multi-level undo: one step per adding action (ADD FILES, ADD FOLDER, a drop), each
// holding the rows that action put into the list, newest first.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

struct UndoEntryRec {
  std::string FileName;    // the row's caption
  std::string StoredPath;  // the row's Path cell
  int64_t Size = 0;
};

class TUndoStack {
 public:
  // A new, empty step on top.
  void PushUndoList() { steps_.emplace_back(); }
  // A new entry at the head of the top step (a step is pushed first when there is none).
  void AddUndoEntry(UndoEntryRec entry);
  // Removes the top step with its entries.
  void PopUndoList() {
    if (!steps_.empty()) steps_.pop_back();
  }
  // Frees every step.
  void DisposeUndoList() { steps_.clear(); }
  void clear() { DisposeUndoList(); }

  bool Empty() const { return steps_.empty(); }
  size_t Depth() const { return steps_.size(); }
  // Entries of the top step, newest first (empty when there is no step).
  const std::deque<UndoEntryRec>& Top() const;
  bool TopHasEntries() const { return !steps_.empty() && !steps_.back().empty(); }

 private:
  std::vector<std::deque<UndoEntryRec>> steps_;
};
