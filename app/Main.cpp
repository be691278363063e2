#include "app/Main.h"

#include "base/Errors.h"
#include "base/Text.h"
#include "platform/FileLock.h"
#include "platform/FileStream.h"
#include "platform/FileUtil.h"

#include <optional>
#include <utility>

namespace pelfry {

std::string ErrorBoxText(std::string_view message) {
    std::string text(message);
    // Compared as unsigned bytes, so that accented letters of 8-bit names count as letters.
    if (!text.empty() && static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.'))
        text += '.';
    return text;
}

TMainForm::TMainForm(Toolkit& toolkit)
    : CurrentArchive(std::make_unique<TDirFile>()), toolkit_(toolkit) {}

TMainForm::~TMainForm() = default;

void TMainForm::FormCreate() {
    toolkit_.SetHintHandler([this] { ShowHint(); });
    CurrentArchive = std::make_unique<TDirFile>();
    CurrentFileName.clear();
    ExtractFolder = TempFolder();
    // The folders of windows that were killed are not needed by anyone.
    WindowFoldersPlace = TempFolder();
    RemoveDeadWindowFolders(WindowFoldersPlace);
}

void TMainForm::ShowHint() {
    toolkit_.SetStatusText(toolkit_.ApplicationHint());
}

void TMainForm::ShowException(std::string_view message) {
    toolkit_.MessageBox("Pelfry", ErrorBoxText(message), MsgSymbol::Error, mbOK);
}

void TMainForm::SetFileCaption() {
    toolkit_.SetCaption(std::string(MainCaption) + " : " + CurrentFileName);
}

void TMainForm::ResetArchive() {
    CurrentArchive = std::make_unique<TDirFile>();
    history_.Clear();
    CloseEdits();
}

void TMainForm::ForgetFile() {
    CurrentFileName.clear();
    knownFile_.clear();
    knownIdentity_ = {};
    toolkit_.SetCaption(MainCaption);
}

void TMainForm::RunLong(bool cancellable, std::function<void(TDirFile&)> work,
                        std::function<void()> done, std::function<void()> failed,
                        std::function<std::string()> step) {
    PELFRY_CHECK(!busy_, (CheckSite{"Main.cpp", 60}), "A command is still running", "");
    busy_ = true;
    cancel_ = false;
    // The archive goes with the work and comes back when it has ended, whatever way: meanwhile
    // the window's thread holds only the snapshot.
    snapshot_ = CurrentArchive->Snapshot();
    auto lent = std::make_shared<std::unique_ptr<TDirFile>>(std::move(CurrentArchive));
    toolkit_.RunInBackground(
        cancellable, [lent, work = std::move(work)] { work(**lent); },
        [this, lent, done = std::move(done), failed = std::move(failed),
         step = std::move(step)](std::exception_ptr error) {
            CurrentArchive = std::move(*lent);
            const std::unique_ptr<TDirFile> before = std::move(snapshot_);
            busy_ = false;
            // What a cancelled or failed command did before it stopped is a step as well.
            if (step) RecordStep(step(), before->Files());
            const bool close = std::exchange(closeAfterCommand_, false);
            if (error) {
                // The user sees what went wrong before anything else; the window stays.
                if (failed) failed();
                TakeWaitingEdits();
                std::rethrow_exception(error);
            }
            done();
            TakeWaitingEdits();
            // A command that goes on with another long step closes after that one.
            if (close && busy_)
                closeAfterCommand_ = true;
            else if (close)
                toolkit_.CloseWindow();
        });
}

bool TMainForm::Idle() {
    if (!busy_) return true;
    toolkit_.MessageBox("Pelfry", "A command is still running. Try again when it has ended.",
                        MsgSymbol::Information, mbOK);
    return false;
}

TDirFile& TMainForm::Readable() {
    return CurrentArchive ? *CurrentArchive : *snapshot_;
}

std::string TMainForm::CancelledText(const BatchResult& walk) {
    return Format("Cancelled after %d of %d file(s)", walk.Done, walk.Total);
}

void TMainForm::CancelCommand() {
    if (busy_) cancel_ = true;
}

LockWait TMainForm::SaveWait(const std::string& file) {
    // A new file is locked by its name (nothing is made before the save), and another
    // program's turn is waited for only so long: every command waits meanwhile.
    LockWait wait;
    wait.Limit = SaveWaitLimit;
    wait.Slow = [this, file] {
        toolkit_.ShowProgress(
            0, 0, Format("Waiting for another program to finish with %s", file.c_str()));
    };
    return wait;
}

void TMainForm::SaveToCurrentFile(const std::function<void(bool saved)>& then) {
    struct Run {
        std::optional<FileLock> Lock;
        bool Known = false; // this window read or wrote the file as `Identity`
        FileIdentity Identity, Written;
        bool ChangedElsewhere = false;
    };
    auto run = std::make_shared<Run>();
    run->Known = knownFile_ == CurrentFileName;
    run->Identity = knownIdentity_;
    const std::string file = CurrentFileName;
    // Writers of this program take turns on the file, and the lock is held from the check to
    // the end of the write, across the question below.
    auto write = [run, file](TDirFile& archive) {
        archive.SaveToFile(file);
        run->Written = IdentifyFile(file);
        run->Lock.reset();
    };
    auto written = [this, run, file, then] {
        knownFile_ = file;
        knownIdentity_ = run->Written;
        history_.MarkSaved();
        then(true);
    };
    // Once the file is being replaced a save cannot be cancelled.
    RunLong(
        false,
        [run, file, write, wait = SaveWait(file)](TDirFile& archive) {
            run->Lock.emplace(file, true, wait);
            // Another program's change since we read the file would be lost without a word,
            // so the user decides first.
            const FileIdentity now = IdentifyFile(file);
            run->ChangedElsewhere = run->Known && now.Exists && now != run->Identity;
            if (!run->ChangedElsewhere) write(archive);
        },
        [this, run, file, write, written, then] {
            if (!run->ChangedElsewhere) return written();
            const std::string question =
                Format("%s was changed by another program. Overwrite it?", file.c_str());
            if (toolkit_.MessageBox("Pelfry", question, MsgSymbol::Warning, mbYes | mbNo) !=
                MsgResult::Yes) {
                run->Lock.reset();
                return then(false);
            }
            RunLong(false, write, written);
        });
}

std::string TMainForm::ArchiveFolder() const {
    return CurrentFileName.empty() ? std::string() : ExtractFilePath(CurrentFileName);
}

void TMainForm::ClearPreview() {
    toolkit_.PreviewClear();
    previewBlock_.reset();
    previewShown_ = false;
}

void TMainForm::ClearPreviewIfGone() {
    if (!previewShown_) return;
    if (const auto block = previewBlock_.lock())
        for (const FileInfo& entry : CurrentArchive->Files())
            if (entry.Data == block) return;
    ClearPreview();
}

void TMainForm::QuerySaveChanges(const std::function<void()>& then) {
    if (!CurrentArchive->Modified()) return then();
    const std::string name = CurrentFileName.empty() ? "the new directory" : CurrentFileName;
    switch (toolkit_.MessageBox("Pelfry", Format("Save changes to %s?", name.c_str()),
                                MsgSymbol::Confirmation, mbYes | mbNo | mbCancel)) {
    case MsgResult::Yes: {
        // A failed save raises and so ends the command; a cancelled Save As, or a file
        // changed by another program that the user keeps, stops it with the archive still in
        // memory.
        auto saved = [then](bool written) {
            if (written) then();
        };
        if (CurrentFileName.empty())
            SaveAs(saved);
        else
            SaveToCurrentFile(saved);
        return;
    }
    case MsgResult::No:
        return then();
    default:
        return;
    }
}

void TMainForm::FileOpen() {
    if (!Idle()) return;
    QueryCloseEdits([this] {
        QuerySaveChanges([this] {
            // The dialog starts in the archive's folder, else where it was last.
            toolkit_.SetOpenDialogFolder(ArchiveFolder());
            if (!toolkit_.ExecuteOpenDialog()) return;
            OpenArchiveFile(toolkit_.OpenDialogFileName());
        });
    });
}

void TMainForm::OpenArchiveFile(const std::string& fileName) {
    if (!Idle()) return;
    struct Read {
        std::unique_ptr<TDirFile> Archive;
        FileIdentity Identity;
        std::exception_ptr Error;
    };
    auto read = std::make_shared<Read>();
    // The archive open so far stays until the new one has been read whole: a cancelled Open
    // keeps it, even when the reading failed meanwhile.
    RunLong(
        true,
        [read, fileName](TDirFile&) {
            try {
                // Whatever filter was chosen, the file is read as an archive, every entry at
                // once. A file that is no archive is refused, so nothing can later be saved
                // over it.
                FileStream file(fileName, FileStream::Mode::OpenRead);
                read->Identity = IdentifyOpenFile(file);
                read->Archive = TDirFile::CreateFromStream(file, fileName, true);
            } catch (...) {
                read->Error = std::current_exception();
            }
        },
        [this, read, fileName] {
            if (cancel_) {
                toolkit_.SetStatusText(CancelledText({1, 0, true, 0}));
                return;
            }
            if (read->Error) {
                // The previous archive is gone. Forget its file name as well, so that a later
                // Close or Save cannot write the empty archive over the file it came from.
                ResetArchive();
                ClearPreview();
                toolkit_.ListClear();
                ForgetFile();
                std::rethrow_exception(read->Error);
            }
            ClearPreview();
            CurrentArchive = std::move(read->Archive);
            history_.Clear();
            CloseEdits();
            std::vector<std::string> names;
            CurrentArchive->ListEntries(names);
            toolkit_.ListSetLines(names);
            CurrentFileName = fileName;
            knownFile_ = fileName;
            knownIdentity_ = read->Identity;
            SetFileCaption();
            toolkit_.SetStatusText(
                Format("%d file(s) in directory", static_cast<int>(CurrentArchive->Count())));
        });
}

void TMainForm::FileSave() {
    if (!Idle()) return;
    if (CurrentFileName.empty())
        SaveAs([](bool) {});
    else
        SaveToCurrentFile([](bool) {});
}

void TMainForm::FileSaveAs() {
    if (Idle()) SaveAs([](bool) {});
}

void TMainForm::SaveAs(const std::function<void(bool saved)>& then) {
    toolkit_.SetSaveDialogFolder(ArchiveFolder());
    if (!toolkit_.ExecuteSaveDialog()) {
        SetFileCaption();
        return;
    }
    CurrentFileName = toolkit_.SaveDialogFileName();
    // A failed save leaves the new name and the caption as it was.
    SaveToCurrentFile([this, then](bool saved) {
        SetFileCaption();
        then(saved);
    });
}

void TMainForm::FileClose() {
    if (Idle()) QueryCloseEdits([this] { CloseArchive(); });
}

void TMainForm::CloseArchive() {
    auto close = [this] {
        ResetArchive();
        ClearPreview();
        ForgetFile();
        toolkit_.ListClear();
    };
    // Only changes are written: an archive that was just looked at leaves its file alone.
    if (!CurrentArchive->Modified()) return close();
    if (!CurrentFileName.empty()) {
        SaveToCurrentFile([close](bool saved) {
            if (saved) close();
        });
    } else {
        // A new archive that was filled but never saved would otherwise vanish unasked.
        QuerySaveChanges(close);
    }
}

void TMainForm::FileExit() {
    if (!Idle()) return;
    QueryCloseEdits([this] {
        QuerySaveChanges([this] {
            // Drop the archive first: the close that follows finds nothing left to ask about.
            ResetArchive();
            toolkit_.CloseWindow();
        });
    });
}

bool TMainForm::FormCloseQuery() {
    if (busy_) {
        if (toolkit_.MessageBox("Pelfry",
                                "A command is still running. Stop it and close the window?",
                                MsgSymbol::Confirmation, mbYes | mbNo) == MsgResult::Yes) {
            CancelCommand();
            closeAfterCommand_ = true;
        }
        return false;
    }
    // A save the question starts may end only later, off the window's thread: the window then
    // closes when it is done.
    closeAsked_ = true;
    closeApproved_ = false;
    try {
        QueryCloseEdits([this] {
            QuerySaveChanges([this] {
                if (closeAsked_) {
                    closeApproved_ = true;
                    return;
                }
                CloseEdits();
                toolkit_.CloseWindow();
            });
        });
    } catch (...) {
        closeAsked_ = false;
        throw;
    }
    closeAsked_ = false;
    if (closeApproved_) CloseEdits();
    return closeApproved_;
}

bool TMainForm::ChooseExtractFolder() {
    std::string chosen;
    const bool confirmed = toolkit_.ChooseFolder(ExtractFolder, chosen);
    if (confirmed) ExtractFolder = chosen;
    ExtractFolder = IncludeTrailingSeparator(ExtractFolder);
    return confirmed;
}

void TMainForm::lstDirContentsClick() {
    // While a long command holds the archive, the snapshot taken before shows the same.
    TDirFile& archive = Readable();
    const int k = toolkit_.ListFocused();
    // The list can show more lines than the archive has entries (a log that names an entry
    // twice); such a line is no entry and previews nothing.
    if (k < 0 || static_cast<uint32_t>(k) >= archive.Count()) return;
    ShowPreviewOf(archive, k);
}

void TMainForm::ShowPreviewOf(TDirFile& archive, int k) {
    const std::string name = archive.Files()[static_cast<size_t>(k)].Name;
    toolkit_.PreviewSetEntry(name, &archive);
    const std::string kind = FileKind(name);
    if (name.size() < 4) return;
    // What the preview shows is remembered by its bytes, so that it can be cleared when that
    // entry goes. A sprite that cannot be read hides the preview: nothing is shown then. An
    // image that cannot be read leaves the picture shown before.
    if (kind == ".SPR") {
        std::unique_ptr<TSetMemoryStream> stream = archive.EntryStream(k);
        previewShown_ = toolkit_.PreviewShowSpriteStream(stream.get(), false);
        previewBlock_ = archive.Files()[static_cast<size_t>(k)].Data;
    } else if (kind == ".IMG") {
        std::unique_ptr<TSetMemoryStream> stream = archive.EntryStream(k);
        if (toolkit_.PreviewShowImage(stream.get())) {
            previewShown_ = true;
            previewBlock_ = archive.Files()[static_cast<size_t>(k)].Data;
        }
    }
}

} // namespace pelfry
