#pragma once
// The create page's multi-level undo: one step per adding action (ADD FILES, ADD FOLDER, a drop), each
// holding the rows that action put into the list, newest first, and one per removal of rows, which
// names the removed rows the page keeps.
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
  // A step that puts removed rows back: `token` names them.
  void PushRemoval(int64_t token) { steps_.push_back(TStep{{}, token}); }
  // The token of the top step when it is a removal, else -1.
  int64_t TopRemoval() const { return steps_.empty() ? -1 : steps_.back().Removal; }
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
  bool TopHasEntries() const {
    return !steps_.empty() && (!steps_.back().Entries.empty() || steps_.back().Removal >= 0);
  }

 private:
  struct TStep {
    std::deque<UndoEntryRec> Entries;
    int64_t Removal = -1;
  };
  std::vector<TStep> steps_;
};
