#include "pages/create/UndoStack.h"

void TUndoStack::AddUndoEntry(UndoEntryRec entry) {
  if (steps_.empty()) PushUndoList();
  steps_.back().Entries.push_front(std::move(entry));
}

const std::deque<UndoEntryRec>& TUndoStack::Top() const {
  static const std::deque<UndoEntryRec> kNone;
  return steps_.empty() ? kNone : steps_.back().Entries;
}
