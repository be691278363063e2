// The window's undo and redo: every change to the archive is one named step that holds the
// archive's entries before and after it, as the differences between the two (EntriesChange).
// Entry blocks are shared and never changed once filled, so a step costs memory for the
// entries it touched, not for their bytes nor for the rest of the archive.
#pragma once

#include "archive/DirFileU.h"

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace pelfry {

struct UndoStep {
    // What the step did, as the Edit menu names it: "delete of 3 entries", "edit of ICON.IMG".
    std::string Name;
    EntriesChange Undo; // from the state after the step to the one before
    EntriesChange Redo; // and back
    // The lines to select once the step is undone, or redone (empty: none).
    std::vector<int> SelectBefore, SelectAfter;
};

class UndoHistory {
public:
    // Steps kept; the oldest goes when another is recorded.
    static constexpr size_t Limit = 100;

    // A step that turned the entries `before` into `after`, named `name`. Forgets the steps that
    // were undone; returns false, recording nothing, when the two are the same.
    bool Record(std::string name, const FileArray& before, const FileArray& after,
                std::vector<int> selectBefore = {}, std::vector<int> selectAfter = {});
    // A step that put the entries in the order `order` (as TDirFile::Reorder takes it), kept as
    // its runs: a few lines dragged across the archive cost as little as one moved up.
    void RecordReorder(std::string name, const std::vector<uint32_t>& order,
                       std::vector<int> selectBefore, std::vector<int> selectAfter);
    // The step Undo or Redo would take; null when there is none.
    const UndoStep* NextUndo() const;
    const UndoStep* NextRedo() const;
    // Takes the step back (or again) on `archive`, and returns it. The archive is then Modified()
    // unless it is back at the state last saved.
    const UndoStep& Undo(TDirFile& archive);
    const UndoStep& Redo(TDirFile& archive);

    // The archive now stands as its file holds it (opened, saved).
    void MarkSaved() { saved_ = done_; }
    // No steps: an archive opened, closed or new, as its file holds it.
    void Clear();

private:
    void Push(UndoStep step);

    std::deque<UndoStep> steps_;
    size_t done_ = 0; // steps_[0, done_) are done; the rest were undone
    // How many steps were done when the archive stood as its file holds it; none when that
    // state can no longer be reached.
    std::optional<size_t> saved_ = 0;
};

// "ACTION of NAME" for one entry, else "ACTION of N entries".
std::string StepName(const std::string& action, size_t count, const std::string& onlyName);

} // namespace pelfry
