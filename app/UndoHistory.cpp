#include "app/UndoHistory.h"

#include "base/Errors.h"

#include <utility>

namespace pelfry {

namespace {

// `order` as runs of consecutive indexes.
std::vector<std::pair<uint32_t, uint32_t>> Runs(const std::vector<uint32_t>& order) {
    std::vector<std::pair<uint32_t, uint32_t>> runs;
    for (uint32_t index : order) {
        if (!runs.empty() && runs.back().first + runs.back().second == index)
            ++runs.back().second;
        else
            runs.emplace_back(index, 1);
    }
    return runs;
}

} // namespace

bool UndoHistory::Record(std::string name, const FileArray& before, const FileArray& after,
                         std::vector<int> selectBefore, std::vector<int> selectAfter) {
    UndoStep step{std::move(name), DiffEntries(after, before), DiffEntries(before, after),
                  std::move(selectBefore), std::move(selectAfter)};
    if (step.Redo.Entries.empty() && step.Redo.Count == before.size()) return false;
    Push(std::move(step));
    return true;
}

void UndoHistory::RecordReorder(std::string name, const std::vector<uint32_t>& order,
                                std::vector<int> selectBefore, std::vector<int> selectAfter) {
    std::vector<uint32_t> back(order.size());
    for (size_t i = 0; i < order.size(); ++i)
        back[order[i]] = static_cast<uint32_t>(i);
    const auto count = static_cast<uint32_t>(order.size());
    Push({std::move(name),
          {Runs(back), count, {}},
          {Runs(order), count, {}},
          std::move(selectBefore),
          std::move(selectAfter)});
}

void UndoHistory::Push(UndoStep step) {
    // A new step ends the steps that were undone; the saved state may have been among them.
    steps_.erase(steps_.begin() + static_cast<std::ptrdiff_t>(done_), steps_.end());
    if (saved_ && *saved_ > done_) saved_.reset();
    steps_.push_back(std::move(step));
    ++done_;
    if (steps_.size() > Limit) {
        steps_.pop_front();
        --done_;
        if (saved_ && *saved_ == 0)
            saved_.reset();
        else if (saved_)
            --*saved_;
    }
}

const UndoStep* UndoHistory::NextUndo() const {
    return done_ > 0 ? &steps_[done_ - 1] : nullptr;
}

const UndoStep* UndoHistory::NextRedo() const {
    return done_ < steps_.size() ? &steps_[done_] : nullptr;
}

const UndoStep& UndoHistory::Undo(TDirFile& archive) {
    PELFRY_CHECK(done_ > 0, (CheckSite{"UndoHistory.cpp", 40}), "Nothing to undo", "");
    const UndoStep& step = steps_[--done_];
    archive.ApplyChange(step.Undo, saved_ != done_);
    return step;
}

const UndoStep& UndoHistory::Redo(TDirFile& archive) {
    PELFRY_CHECK(done_ < steps_.size(), (CheckSite{"UndoHistory.cpp", 47}), "Nothing to redo", "");
    const UndoStep& step = steps_[done_++];
    archive.ApplyChange(step.Redo, saved_ != done_);
    return step;
}

void UndoHistory::Clear() {
    steps_.clear();
    done_ = 0;
    saved_ = 0;
}

std::string StepName(const std::string& action, size_t count, const std::string& onlyName) {
    if (count == 1 && !onlyName.empty()) return action + " of " + onlyName;
    return Format("%s of %zu entries", action.c_str(), count);
}

} // namespace pelfry
