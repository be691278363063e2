// The Edit menu through the scripted toolkit: undo and redo against the bytes Save writes, the
// unsaved-changes state across the history, renaming and moving entries.
#include "AppTestSupport.h"
#include "FakeToolkit.h"

#include "app/Main.h"
#include "platform/FileUtil.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>

namespace pelfry::test {
namespace {

using Bytes = std::vector<uint8_t>;

class UndoTest : public ::testing::Test {
protected:
    void SetUp() override { form.FormCreate(); }

    // GFX.DIR holding entries named `names` (each entry's bytes its name), opened.
    void Open(const std::vector<std::string>& names) {
        std::vector<std::pair<std::string, Bytes>> entries;
        for (const std::string& name : names)
            entries.emplace_back(name, Bytes(name.begin(), name.end()));
        WriteArchive(dir, "GFX.DIR", entries);
        ui.OpenAnswers.push_back(dir / "GFX.DIR");
        form.FileOpen();
    }
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        form.CurrentArchive->ListEntries(names);
        return names;
    }
    std::vector<int> SelectedLines() {
        std::vector<int> lines;
        for (size_t i = 0; i < ui.Selected.size(); ++i)
            if (ui.Selected[i]) lines.push_back(static_cast<int>(i));
        return lines;
    }
    void Add(const std::string& name, const std::string& text) {
        ForceDirectories(dir / "add");
        WriteWholeFile(dir / ("add/" + name), Bytes(text.begin(), text.end()));
        ui.AddAnswers.push_back(std::vector<std::string>{dir / ("add/" + name)});
        form.btnAddClick();
    }

    TempDir dir;
    FakeToolkit ui;
    TMainForm form{ui};
};

// Random adds, deletes, renames, moves and saves, each undone and redone at random: after every
// undo or redo Save would write the very bytes it wrote in that state, Undo and Redo apply as
// far as the 100 steps kept reach, and the archive is unsaved except in the state last saved.
TEST_F(UndoTest, RandomChangesUndoAndRedoToTheBytesSaveWrites) {
    Open({"A.IMG", "B.SPR", "C.PAL", "D.BIN"});
    const std::vector<std::string> pool = {"A.IMG", "B.SPR", "C.PAL", "D.BIN", "E.IMG", "F"};
    std::deque<Bytes> states = {form.CurrentArchive->SaveToBytes()}; // states[k]: after k steps
    size_t at = 0;
    long saved = 0; // the step count of the state last saved; -1 when it can no longer be reached
    std::mt19937 random(29);
    auto pick = [&](size_t n) { return static_cast<int>(random() % n); };
    for (int round = 0; round < 700; ++round) {
        SCOPED_TRACE(round);
        const int count = static_cast<int>(form.CurrentArchive->Count());
        std::vector<int> some;
        for (int i = 0; i < count; ++i)
            if (pick(3) == 0) some.push_back(i);
        ui.ListSelect(some);
        switch (pick(8)) {
        case 0: // every add changes bytes: the text is new each time
            Add(pool[static_cast<size_t>(pick(pool.size()))], "v" + std::to_string(round));
            break;
        case 1:
            if (!some.empty()) form.btnDeleteClick();
            break;
        case 2: // a taken name is refused in a box and changes nothing
            if (count > 0)
                form.RenameLine(pick(static_cast<size_t>(count)),
                                pool[static_cast<size_t>(pick(pool.size()))]);
            break;
        case 3:
            form.EditMoveUp();
            break;
        case 4:
            form.MoveSelectedTo(pick(static_cast<size_t>(count) + 1));
            break;
        case 5:
            if (pick(3) == 0) {
                form.FileSave();
                saved = static_cast<long>(at);
            }
            break;
        case 6:
            ASSERT_EQ(form.EditCommands().CanUndo, at > 0);
            if (at == 0) continue;
            form.EditUndo();
            ASSERT_EQ(form.CurrentArchive->SaveToBytes(), states[--at]);
            break;
        case 7:
            ASSERT_EQ(form.EditCommands().CanRedo, at + 1 < states.size());
            if (at + 1 == states.size()) continue;
            form.EditRedo();
            ASSERT_EQ(form.CurrentArchive->SaveToBytes(), states[++at]);
            break;
        }
        Bytes now = form.CurrentArchive->SaveToBytes();
        if (now != states[at]) {
            // A new step: the steps undone go, and the oldest beyond the hundred kept.
            states.resize(++at);
            states.push_back(std::move(now));
            if (saved >= static_cast<long>(at)) saved = -1;
            if (states.size() > UndoHistory::Limit + 1) {
                states.pop_front();
                --at;
                saved = saved > 0 ? saved - 1 : -1;
            }
            EXPECT_FALSE(form.EditCommands().CanRedo);
        }
        ASSERT_EQ(form.CurrentArchive->Modified(), saved != static_cast<long>(at));
        ASSERT_EQ(ui.Lines, Names());
    }
}

TEST_F(UndoTest, UnsavedChangesFollowTheHistory) {
    Open({"A.IMG", "B.SPR", "C.PAL", "D.BIN"});
    const Bytes file = ReadWholeFile(dir / "GFX.DIR");
    ui.Select({0, 1, 2});
    form.btnDeleteClick();
    EXPECT_EQ(form.EditCommands().Undo, "Undo delete of 3 entries");
    form.EditUndo();
    EXPECT_EQ(ui.Status, "Undone: delete of 3 entries");
    EXPECT_EQ(form.EditCommands().Redo, "Redo delete of 3 entries");
    // Back where the file stands: Close asks nothing and writes nothing.
    EXPECT_FALSE(form.CurrentArchive->Modified());
    form.FileClose();
    EXPECT_TRUE(ui.Boxes.empty());
    EXPECT_EQ(ReadWholeFile(dir / "GFX.DIR"), file);

    // Open starts a new history. Undoing past a save is a change again; redoing to it is not.
    ui.OpenAnswers.push_back(dir / "GFX.DIR");
    form.FileOpen();
    EXPECT_FALSE(form.EditCommands().CanUndo);
    form.RenameLine(0, "X.IMG");
    form.FileSave();
    form.RenameLine(0, "Y.IMG");
    form.EditUndo();
    EXPECT_FALSE(form.CurrentArchive->Modified());
    form.EditUndo();
    EXPECT_TRUE(form.CurrentArchive->Modified());
    form.EditRedo();
    EXPECT_FALSE(form.CurrentArchive->Modified());
    form.FileExit();
    EXPECT_TRUE(ui.Boxes.empty());
    EXPECT_TRUE(ui.Closed);
}

TEST_F(UndoTest, RenameKeepsPlaceAndBytesAndRefusesTakenUnsafeAndEmptyNames) {
    Open({"A.IMG", "B.SPR", "C.PAL"});
    ui.Select({0});
    form.EditRename();
    EXPECT_EQ(ui.EditedLine, 0);
    const std::pair<std::string, std::string> refused[] = {
        {"C.PAL", "Cannot rename A.IMG to C.PAL: another entry has that name"},
        {"", "Cannot rename A.IMG: the new name is empty"},
        {"../A.IMG", "Unsafe entry name: ../A.IMG"},
        {"\\A.IMG", "Unsafe entry name: \\A.IMG"},
        {"c:A.IMG", "Unsafe entry name: c:A.IMG"},
        {std::string(31, 'N'), "Entry name too long (more than 30 bytes): " + std::string(31, 'N')},
    };
    for (const auto& [name, message] : refused) {
        form.RenameLine(0, name);
        ASSERT_FALSE(ui.Boxes.empty());
        EXPECT_EQ(ui.Boxes.back().Text, message);
        EXPECT_EQ(ui.Boxes.back().Title, "Error");
    }
    EXPECT_EQ(Names(), (std::vector<std::string>{"A.IMG", "B.SPR", "C.PAL"}));
    EXPECT_FALSE(form.EditCommands().CanUndo);

    // An image may become a sprite: the status line says so.
    form.RenameLine(0, "A.SPR");
    EXPECT_EQ(Names(), (std::vector<std::string>{"A.SPR", "B.SPR", "C.PAL"}));
    EXPECT_EQ(*form.CurrentArchive->Files()[0].Data, Bytes({'A', '.', 'I', 'M', 'G'}));
    EXPECT_EQ(ui.Status, "Renamed A.IMG to A.SPR; its kind changed from .IMG to .SPR, its "
                         "bytes did not");
    EXPECT_EQ(SelectedLines(), std::vector<int>{0});
    EXPECT_EQ(form.EditCommands().Undo, "Undo rename of A.IMG to A.SPR");
    EXPECT_EQ(form.CurrentArchive->FindEntry("A.SPR"), 0);
}

TEST_F(UndoTest, MovesKeepTheOrderOfTheSelectedLinesAndTheSelection) {
    const std::vector<std::string> original = {"A", "B", "C", "D", "E", "F"};
    Open(original);
    struct Case {
        std::vector<int> selected;
        int to; // -1: Alt+Up, -2: Alt+Down, else dropped before that line
        std::vector<std::string> names;
        std::vector<int> selectedAfter;
    };
    const Case cases[] = {
        {{1, 2}, -1, {"B", "C", "A", "D", "E", "F"}, {0, 1}},
        {{0, 2, 3}, -1, {"A", "C", "D", "B", "E", "F"}, {0, 1, 2}},
        {{3, 5}, -2, {"A", "B", "C", "E", "D", "F"}, {4, 5}},
        {{0, 1}, 4, {"C", "D", "A", "B", "E", "F"}, {2, 3}},
        {{4}, 0, {"E", "A", "B", "C", "D", "F"}, {0}},
        {{1, 3}, 6, {"A", "C", "E", "F", "B", "D"}, {4, 5}},
        // Already there: nothing moves, and no step is kept.
        {{0, 1}, -1, {"A", "B", "C", "D", "E", "F"}, {0, 1}},
        {{2}, 3, {"A", "B", "C", "D", "E", "F"}, {2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.to);
        ui.ListSelect(c.selected);
        // The menu offers a move exactly when it would move something.
        const TMainForm::EditState state = form.EditCommands();
        const bool moves = c.names != original;
        if (c.to == -1) {
            EXPECT_EQ(state.CanMoveUp, moves);
            form.EditMoveUp();
        } else if (c.to == -2) {
            EXPECT_EQ(state.CanMoveDown, moves);
            form.EditMoveDown();
        } else {
            form.MoveSelectedTo(c.to);
        }
        EXPECT_EQ(Names(), c.names);
        EXPECT_EQ(SelectedLines(), c.selectedAfter);
        // Undo puts them back, with the lines selected as they were.
        EXPECT_EQ(form.EditCommands().CanUndo, moves);
        if (!moves) continue;
        form.EditUndo();
        EXPECT_EQ(Names(), original);
        EXPECT_EQ(SelectedLines(), c.selected);
    }
}

} // namespace
} // namespace pelfry::test
