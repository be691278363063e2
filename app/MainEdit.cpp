// The Edit menu: undo and redo of every change to the archive, renaming an entry in the list,
// and moving entries, one place with the keyboard or anywhere by dragging.
#include "app/Main.h"

#include "base/Errors.h"
#include "base/Text.h"

#include <algorithm>
#include <numeric>
#include <utility>

namespace pelfry {

namespace {

// The order that moves each run of the entries marked in `chosen` one place up (or down), past
// the entry beside it; a run already at that end stays. `chosen` follows the entries.
std::vector<uint32_t> StepOrder(std::vector<bool>& chosen, bool up) {
    const size_t count = chosen.size();
    std::vector<uint32_t> order(count);
    std::iota(order.begin(), order.end(), 0u);
    auto pass = [&](size_t i, size_t beside) {
        if (chosen[i] && !chosen[beside]) {
            std::swap(order[i], order[beside]);
            chosen[i] = false;
            chosen[beside] = true;
        }
    };
    if (up)
        for (size_t i = 1; i < count; ++i)
            pass(i, i - 1);
    else
        for (size_t i = count; i-- > 1;)
            pass(i - 1, i);
    return order;
}

std::vector<bool> Marked(size_t count, const std::vector<int>& lines) {
    std::vector<bool> marked(count, false);
    for (int line : lines)
        marked[static_cast<size_t>(line)] = true;
    return marked;
}

std::vector<int> MarkedLines(const std::vector<bool>& marked) {
    std::vector<int> lines;
    for (size_t i = 0; i < marked.size(); ++i)
        if (marked[i]) lines.push_back(static_cast<int>(i));
    return lines;
}

bool InOrder(const std::vector<uint32_t>& order) {
    for (size_t i = 0; i < order.size(); ++i)
        if (order[i] != i) return false;
    return true;
}

} // namespace

void TMainForm::RecordStep(std::string name, const FileArray& before, std::vector<int> selectBefore,
                           std::vector<int> selectAfter) {
    history_.Record(std::move(name), before, CurrentArchive->Files(), std::move(selectBefore),
                    std::move(selectAfter));
}

void TMainForm::ChangeArchive(std::string name, const std::function<void(TDirFile&)>& change,
                              std::vector<int> selectBefore, std::vector<int> selectAfter) {
    const FileArray before = CurrentArchive->Files();
    change(*CurrentArchive);
    RecordStep(std::move(name), before, std::move(selectBefore), selectAfter);
    RefreshList();
    toolkit_.ListSelect(selectAfter);
}

TMainForm::EditState TMainForm::EditCommands() {
    EditState state;
    if (busy_) return state;
    if (const UndoStep* step = history_.NextUndo()) {
        state.CanUndo = true;
        state.Undo += " " + step->Name;
    }
    if (const UndoStep* step = history_.NextRedo()) {
        state.CanRedo = true;
        state.Redo += " " + step->Name;
    }
    const std::vector<int> selected = SelectedEntries();
    state.CanEditInEditor = std::any_of(selected.begin(), selected.end(),
                                        [this](int line) { return EntryOnLine(line) >= 0; });
    if (selected.size() == 1 && toolkit_.ListSelCount() == 1) {
        const int line = selected.front();
        state.CanRename =
            toolkit_.ListLine(line) == CurrentArchive->Files()[static_cast<size_t>(line)].Name;
    }
    std::vector<bool> up = Marked(CurrentArchive->Count(), selected);
    std::vector<bool> down = up;
    state.CanMoveUp = !InOrder(StepOrder(up, true));
    state.CanMoveDown = !InOrder(StepOrder(down, false));
    return state;
}

void TMainForm::ShowStep(const std::vector<int>& lines, const std::string& done) {
    ClearPreviewIfGone();
    RefreshList();
    toolkit_.ListSelect(lines);
    toolkit_.SetStatusText(done);
}

void TMainForm::EditUndo() {
    if (!Idle() || !history_.NextUndo()) return;
    const UndoStep& step = history_.Undo(*CurrentArchive);
    ShowStep(step.SelectBefore, "Undone: " + step.Name);
}

void TMainForm::EditRedo() {
    if (!Idle() || !history_.NextRedo()) return;
    const UndoStep& step = history_.Redo(*CurrentArchive);
    ShowStep(step.SelectAfter, "Redone: " + step.Name);
}

void TMainForm::EditRename() {
    if (Idle() && EditCommands().CanRename) toolkit_.ListEditLine(SelectedEntries().front());
}

void TMainForm::RenameLine(int line, const std::string& name) {
    if (!Idle() || line < 0 || static_cast<uint32_t>(line) >= CurrentArchive->Count()) return;
    const std::string old = CurrentArchive->Files()[static_cast<size_t>(line)].Name;
    // A line of a log that does not name its entry is no entry to rename.
    if (toolkit_.ListLine(line) != old || name == old) return;
    try {
        ChangeArchive("rename of " + old + " to " + name,
                      [&](TDirFile& archive) { archive.RenameEntry(line, name); }, {line}, {line});
    } catch (const Error& e) {
        toolkit_.MessageBox("Error", e.what(), MsgSymbol::Error, mbCancel);
        return;
    }
    // An entry open in the picture editor goes on taking its saves under its new name.
    for (OpenEdit& edit : edits_)
        if (edit.Entry == old) edit.Entry = name;
    std::string done = Format("Renamed %s to %s", old.c_str(), name.c_str());
    // The user may make an image a sprite: the bytes stay, and the preview and the
    // conversions now take them for the other kind.
    const std::string was = FileKind(old), is = FileKind(name);
    if (was != is && (was == ".IMG" || was == ".SPR" || is == ".IMG" || is == ".SPR"))
        done +=
            Format("; its kind changed from %s to %s, its bytes did not", was.c_str(), is.c_str());
    toolkit_.SetStatusText(done);
}

void TMainForm::MoveLines(const std::vector<uint32_t>& order, const std::vector<int>& selected,
                          const std::vector<int>& selectedAfter) {
    if (InOrder(order)) return;
    const std::string only =
        selected.size() == 1 ? CurrentArchive->Files()[static_cast<size_t>(selected[0])].Name : "";
    CurrentArchive->Reorder(order);
    history_.RecordReorder(StepName("move", selected.size(), only), order, selected, selectedAfter);
    RefreshList();
    toolkit_.ListSelect(selectedAfter);
    toolkit_.SetStatusText(Format("Moved %d file(s)", static_cast<int>(selected.size())));
}

void TMainForm::MoveOnePlace(bool up) {
    if (!Idle()) return;
    const std::vector<int> selected = SelectedEntries();
    std::vector<bool> chosen = Marked(CurrentArchive->Count(), selected);
    const std::vector<uint32_t> order = StepOrder(chosen, up);
    MoveLines(order, selected, MarkedLines(chosen));
}

void TMainForm::EditMoveUp() {
    MoveOnePlace(true);
}

void TMainForm::EditMoveDown() {
    MoveOnePlace(false);
}

void TMainForm::MoveSelectedTo(int line) {
    if (!Idle()) return;
    const std::vector<int> selected = SelectedEntries();
    const std::vector<bool> chosen = Marked(CurrentArchive->Count(), selected);
    // The entries not dragged keep their order around the dragged ones, which stand together
    // where they were dropped.
    std::vector<uint32_t> order;
    std::vector<int> after;
    auto others = [&](size_t from, size_t to) {
        for (size_t i = from; i < to; ++i)
            if (!chosen[i]) order.push_back(static_cast<uint32_t>(i));
    };
    const size_t drop = std::min<size_t>(static_cast<size_t>(std::max(line, 0)), chosen.size());
    others(0, drop);
    for (int i : selected) {
        after.push_back(static_cast<int>(order.size()));
        order.push_back(static_cast<uint32_t>(i));
    }
    others(drop, chosen.size());
    MoveLines(order, selected, after);
}

} // namespace pelfry
