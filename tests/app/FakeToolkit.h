// A scripted stand-in for the GUI toolkit: it records what the window logic shows and answers
// dialogs and message boxes from queues the test fills. A dialog or box shown without a
// scripted answer fails the test and is cancelled. Long commands run inline; what their work
// asks of the toolkit beyond the calls allowed from a worker fails the test.
#pragma once

#include "app/Toolkit.h"
#include "base/Errors.h"
#include "base/Stream.h"
#include "image/ImgFileU.h"
#include "platform/FileUtil.h"
#include "sprite/SprFileU.h"

#include <gtest/gtest.h>

#include <deque>
#include <exception>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace pelfry::test {

struct ShownBox {
    std::string Title;
    std::string Text;
    MsgSymbol Symbol;
    MsgButtons Buttons;
};

struct PreviewCall {
    enum Kind { Entry, Sprite, Image, Clear } What = Entry;
    std::string Name;            // Entry: the file name given
    TDirFile* Archive = nullptr; // Entry: the archive given
    bool PingPong = false;       // Sprite
    bool HadStream = false;      // Sprite, Image
    std::vector<uint8_t> Bytes;  // Sprite, Image: what the stream held
};

class FakeToolkit : public Toolkit {
public:
    // --- Scripts ---------------------------------------------------------------------------
    std::deque<std::optional<std::string>> OpenAnswers; // nullopt: the user cancels
    std::deque<std::optional<std::string>> SaveAnswers;
    std::deque<std::optional<std::vector<std::string>>> AddAnswers;
    std::deque<std::optional<std::string>> FolderAnswers;
    std::deque<std::optional<std::string>> SaveFileAnswers; // ChooseSaveFile
    std::deque<MsgResult> BoxAnswers;

    // --- Records ---------------------------------------------------------------------------
    std::string Hint;
    std::function<void()> HintHandler;
    std::string Caption;
    int Repaints = 0;
    bool Closed = false;
    std::vector<std::string> Lines;
    std::vector<bool> Selected;
    int Focused = -1;
    int EditedLine = -1; // the line last edited in place
    std::string Status;
    bool Checks[5] = {true, true, false, true, false}; // by CheckBoxId, as the window starts
    int OpenShown = 0, SaveShown = 0, AddShown = 0, FolderShown = 0;
    std::string OpenFileName, SaveFileName;
    std::vector<std::string> AddFiles;
    int FilterIndex = 1;
    std::vector<std::string> FolderStarts;
    std::vector<std::string> SaveFileProposals;        // what ChooseSaveFile proposed
    std::vector<std::string> OpenFolders, SaveFolders; // folder set before each dialog
    int OpenNamesCleared = 0;
    NumberSeparators Separators;
    // Whether the preview shows something: a show that reads its stream (with the real
    // readers) shows it; a sprite that cannot be read hides the preview, an image that cannot
    // be read leaves it as it was; a clear shows nothing.
    bool PreviewShowing = false;
    std::vector<ShownBox> Boxes;
    std::vector<PreviewCall> Previews;
    // Files opened in the picture editor, whether it starts, the files watched, the notices.
    std::vector<std::string> Edited;
    bool EditorStarts = true;
    std::set<std::string> Watched;
    std::vector<std::string> Notices;
    // Long commands: whether each could be cancelled, and the progress shown (number, total).
    std::vector<bool> LongCommands;
    std::vector<std::pair<int, int>> Progress;
    bool InWork = false;
    // Runs on the window's thread while a long command's work holds the archive (after it).
    std::function<void()> WhileBusy;

    // Sets the current hint as the toolkit would when the mouse or the menu moves.
    void ChangeHint(const std::string& hint) {
        if (hint == Hint) return;
        Hint = hint;
        if (HintHandler) HintHandler();
    }
    // Selects the given lines and focuses the last of them.
    void Select(std::initializer_list<int> lines) { ListSelect(lines); }

    // --- Toolkit ---------------------------------------------------------------------------
    std::string ApplicationHint() override { return Hint; }
    void SetHintHandler(std::function<void()> handler) override {
        HintHandler = std::move(handler);
    }
    NumberSeparators LocaleSeparators() override { return Separators; }
    void SetCaption(const std::string& caption) override {
        WindowThread("SetCaption");
        Caption = caption;
    }
    void RepaintNow() override { ++Repaints; }
    void CloseWindow() override { Closed = true; }
    void RunInBackground(bool cancellable, std::function<void()> work,
                         std::function<void(std::exception_ptr)> finished) override {
        WindowThread("RunInBackground");
        LongCommands.push_back(cancellable);
        std::exception_ptr error;
        InWork = true;
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
        InWork = false;
        if (WhileBusy) std::exchange(WhileBusy, nullptr)();
        finished(error);
    }
    void ShowProgress(int number, int total, const std::string& text) override {
        Progress.emplace_back(number, total);
        const bool inWork = std::exchange(InWork, false);
        SetStatusText(text);
        InWork = inWork;
    }
    void ListClear() override {
        WindowThread("ListClear");
        Lines.clear();
        Selected.clear();
        Focused = -1;
    }
    void ListSetLines(const std::vector<std::string>& lines) override {
        WindowThread("ListSetLines");
        Lines = lines;
        Selected.assign(lines.size(), false);
        Focused = -1;
    }
    int ListCount() override {
        WindowThread("ListCount");
        return static_cast<int>(Lines.size());
    }
    std::string ListLine(int index) override {
        WindowThread("ListLine");
        if (index < 0 || index >= ListCount())
            throw Error(Format("List index out of bounds (%d)", index));
        return Lines[static_cast<size_t>(index)];
    }
    bool ListSelected(int index) override {
        WindowThread("ListSelected");
        if (index < 0 || index >= ListCount())
            throw Error(Format("List index out of bounds (%d)", index));
        return Selected[static_cast<size_t>(index)];
    }
    int ListSelCount() override {
        int n = 0;
        for (bool s : Selected)
            n += s ? 1 : 0;
        return n;
    }
    int ListFocused() override { return Focused; }
    void ListSelect(const std::vector<int>& lines) override {
        WindowThread("ListSelect");
        Selected.assign(Lines.size(), false);
        for (int i : lines) {
            Selected.at(static_cast<size_t>(i)) = true;
            Focused = i;
        }
    }
    void ListEditLine(int index) override {
        WindowThread("ListEditLine");
        EditedLine = index;
    }
    void SetStatusText(const std::string& text) override {
        WindowThread("SetStatusText");
        Status = text;
    }
    bool IsChecked(CheckBoxId box) override { return Checks[static_cast<int>(box)]; }

    bool ExecuteOpenDialog() override {
        WindowThread("ExecuteOpenDialog");
        ++OpenShown;
        auto answer = Next(OpenAnswers, "Open dialog");
        if (!answer) return false;
        OpenFileName = *answer;
        return true;
    }
    std::string OpenDialogFileName() override { return OpenFileName; }
    int OpenDialogFilterIndex() override { return FilterIndex; }
    void SetOpenDialogFilterIndex(int index) override { FilterIndex = index; }
    void SetOpenDialogFolder(const std::string& folder) override { OpenFolders.push_back(folder); }
    void ClearOpenDialogName() override { ++OpenNamesCleared; }
    void SetSaveDialogFolder(const std::string& folder) override { SaveFolders.push_back(folder); }
    bool ExecuteSaveDialog() override {
        WindowThread("ExecuteSaveDialog");
        ++SaveShown;
        auto answer = Next(SaveAnswers, "Save dialog");
        if (!answer) return false;
        SaveFileName = *answer;
        return true;
    }
    std::string SaveDialogFileName() override { return SaveFileName; }
    bool ExecuteAddDialog() override {
        WindowThread("ExecuteAddDialog");
        ++AddShown;
        auto answer = Next(AddAnswers, "Add dialog");
        if (!answer) return false;
        AddFiles = *answer;
        return true;
    }
    std::vector<std::string> AddDialogFiles() override { return AddFiles; }
    bool ChooseSaveFile(const std::string&, const std::string&, const std::string& proposed,
                        std::string& chosen) override {
        WindowThread("ChooseSaveFile");
        SaveFileProposals.push_back(proposed);
        auto answer = Next(SaveFileAnswers, "Save file dialog");
        if (answer) chosen = *answer;
        return answer.has_value();
    }
    bool ChooseFolder(const std::string& startFolder, std::string& chosen) override {
        WindowThread("ChooseFolder");
        ++FolderShown;
        FolderStarts.push_back(startFolder);
        auto answer = Next(FolderAnswers, "Folder chooser");
        if (!answer) return false;
        // The real chooser creates a typed folder that does not exist yet.
        ForceDirectories(*answer);
        chosen = *answer;
        return true;
    }
    MsgResult MessageBox(const std::string& title, const std::string& text, MsgSymbol symbol,
                         MsgButtons buttons) override {
        WindowThread("MessageBox");
        Boxes.push_back({title, text, symbol, buttons});
        if (BoxAnswers.empty()) {
            // An error box needs no script: it only has OK (or Cancel).
            if (buttons == mbOK) return MsgResult::OK;
            if (buttons == mbCancel) return MsgResult::Cancel;
            ADD_FAILURE() << "unscripted message box: " << text;
            return MsgResult::Cancel;
        }
        MsgResult answer = BoxAnswers.front();
        BoxAnswers.pop_front();
        return answer;
    }

    void ShowNotice(const std::string& text) override {
        WindowThread("ShowNotice");
        Notices.push_back(text);
    }
    bool OpenInPictureEditor(const std::string& file) override {
        WindowThread("OpenInPictureEditor");
        Edited.push_back(file);
        return EditorStarts;
    }
    void WatchFile(const std::string& file) override {
        WindowThread("WatchFile");
        Watched.insert(file);
    }
    void UnwatchFile(const std::string& file) override {
        WindowThread("UnwatchFile");
        Watched.erase(file);
    }

    void PreviewSetEntry(const std::string& fileName, TDirFile* archive) override {
        WindowThread("PreviewSetEntry");
        PreviewCall call;
        call.What = PreviewCall::Entry;
        call.Name = fileName;
        call.Archive = archive;
        Previews.push_back(call);
    }
    bool PreviewShowSpriteStream(Stream* stream, bool pingPong) override {
        PreviewCall call;
        call.What = PreviewCall::Sprite;
        call.PingPong = pingPong;
        Capture(stream, call);
        Previews.push_back(call);
        MemoryStream bytes(call.Bytes);
        PreviewShowing = TSprFile().LoadFromStream(&bytes) > 0;
        return PreviewShowing;
    }
    bool PreviewShowImage(Stream* stream) override {
        PreviewCall call;
        call.What = PreviewCall::Image;
        Capture(stream, call);
        Previews.push_back(call);
        MemoryStream bytes(call.Bytes);
        const bool read = TImgFile().LoadFromStream(&bytes) != 0;
        PreviewShowing = PreviewShowing || read;
        return read;
    }
    void PreviewClear() override {
        WindowThread("PreviewClear");
        PreviewCall call;
        call.What = PreviewCall::Clear;
        Previews.push_back(call);
        PreviewShowing = false;
    }

private:
    // Calls that the real toolkit takes only on the window's thread.
    void WindowThread(const char* call) const {
        if (InWork) ADD_FAILURE() << call << " called from a long command's work";
    }
    template <typename T> static T Next(std::deque<T>& answers, const char* what) {
        if (answers.empty()) {
            ADD_FAILURE() << what << " shown without a scripted answer";
            return T{};
        }
        T answer = std::move(answers.front());
        answers.pop_front();
        return answer;
    }
    static void Capture(Stream* stream, PreviewCall& call) {
        call.HadStream = stream != nullptr;
        if (stream) {
            stream->SetPosition(0);
            call.Bytes = ReadRest(*stream);
        }
    }
};

} // namespace pelfry::test
