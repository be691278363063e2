#include "app/Main.h"

#include "platform/Errors.h"
#include "platform/FileLock.h"
#include "platform/FileUtil.h"
#include "platform/Text.h"

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
}

void TMainForm::ShowHint() { toolkit_.SetStatusText(toolkit_.ApplicationHint()); }

void TMainForm::ShowException(std::string_view message) {
    toolkit_.MessageBox("Pelfry", ErrorBoxText(message), MsgSymbol::Error, mbOK);
}

void TMainForm::SetFileCaption() {
    toolkit_.SetCaption(std::string(MainCaption) + " : " + CurrentFileName);
}

void TMainForm::ResetArchive() { CurrentArchive = std::make_unique<TDirFile>(); }

void TMainForm::ForgetFile() {
    CurrentFileName.clear();
    knownFile_.clear();
    knownIdentity_ = {};
    toolkit_.SetCaption(MainCaption);
}

bool TMainForm::SaveToCurrentFile() {
    // Writers of this program take turns on the file; another program's change since we read
    // it would be lost without a word, so the user decides.
    // A new file is locked by its name (nothing is made before the save), and another
    // program's turn is waited for only so long: the window must not hang on it.
    LockWait wait;
    wait.Limit = SaveWaitLimit;
    wait.Slow = [this] {
        toolkit_.SetStatusText(
            Format("Waiting for another program to finish with %s", CurrentFileName.c_str()));
        toolkit_.RepaintNow();
    };
    const FileLock lock(CurrentFileName, true, wait);
    const FileIdentity now = IdentifyFile(CurrentFileName);
    if (knownFile_ == CurrentFileName && now.Exists && now != knownIdentity_) {
        const std::string question =
            Format("%s was changed by another program. Overwrite it?", CurrentFileName.c_str());
        if (toolkit_.MessageBox("Pelfry", question, MsgSymbol::Warning, mbYes | mbNo) !=
            MsgResult::Yes)
            return false;
    }
    CurrentArchive->SaveToFile(CurrentFileName);
    knownFile_ = CurrentFileName;
    knownIdentity_ = IdentifyFile(CurrentFileName);
    return true;
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
        for (const FileInfo& entry : CurrentArchive->Files)
            if (entry.Data == block) return;
    ClearPreview();
}

bool TMainForm::QuerySaveChanges() {
    if (!CurrentArchive->Modified()) return true;
    const std::string name = CurrentFileName.empty() ? "the new directory" : CurrentFileName;
    switch (toolkit_.MessageBox("Pelfry", Format("Save changes to %s?", name.c_str()),
                                MsgSymbol::Confirmation, mbYes | mbNo | mbCancel)) {
    case MsgResult::Yes:
        // A failed save raises and so ends the command; a cancelled Save As, or a file
        // changed by another program that the user keeps, stops it with the archive still in
        // memory.
        if (CurrentFileName.empty()) {
            FileSave();
            return !CurrentFileName.empty() && !CurrentArchive->Modified();
        }
        return SaveToCurrentFile();
    case MsgResult::No:
        return true;
    default:
        return false;
    }
}

void TMainForm::FileOpen() {
    if (!QuerySaveChanges()) return;
    // The dialog starts in the archive's folder, else where it was last.
    toolkit_.SetOpenDialogFolder(ArchiveFolder());
    if (!toolkit_.ExecuteOpenDialog()) return;
    OpenArchiveFile(toolkit_.OpenDialogFileName());
}

void TMainForm::OpenArchiveFile(const std::string& fileName) {
    ResetArchive();
    ClearPreview();
    toolkit_.ListClear();
    FileIdentity identity;
    try {
        // Whatever filter was chosen, the file is read as an archive, every entry at once. A
        // file that is no archive is refused, so nothing can later be saved over it.
        FileStream file(fileName, FileStream::Mode::OpenRead);
        identity = IdentifyOpenFile(file);
        CurrentArchive = TDirFile::CreateFromStream(file, fileName, true);
    } catch (...) {
        // The previous archive is gone. Forget its file name as well, so that a later Close
        // or Save cannot write the empty archive over the file it came from.
        ResetArchive();
        ForgetFile();
        throw;
    }
    std::vector<std::string> names;
    CurrentArchive->ListEntries(names);
    toolkit_.ListSetLines(names);
    CurrentFileName = fileName;
    knownFile_ = fileName;
    knownIdentity_ = identity;
    SetFileCaption();
    toolkit_.SetStatusText(
        Format("%d file(s) in directory", static_cast<int>(CurrentArchive->Count())));
}

void TMainForm::FileSave() {
    if (CurrentFileName.empty()) {
        FileSaveAs();
        return;
    }
    SaveToCurrentFile();
}

void TMainForm::FileSaveAs() {
    toolkit_.SetSaveDialogFolder(ArchiveFolder());
    if (toolkit_.ExecuteSaveDialog()) {
        CurrentFileName = toolkit_.SaveDialogFileName();
        FileSave();
    }
    SetFileCaption();
}

void TMainForm::FileClose() {
    // Only changes are written: an archive that was just looked at leaves its file alone.
    if (CurrentArchive->Modified()) {
        if (!CurrentFileName.empty()) {
            if (!SaveToCurrentFile()) return;
        } else if (!QuerySaveChanges()) {
            // A new archive that was filled but never saved would otherwise vanish unasked.
            return;
        }
    }
    ResetArchive();
    ClearPreview();
    ForgetFile();
    toolkit_.ListClear();
}

void TMainForm::FileExit() {
    if (!QuerySaveChanges()) return;
    // Drop the archive first: the close that follows finds nothing left to ask about.
    ResetArchive();
    toolkit_.CloseWindow();
}

bool TMainForm::FormCloseQuery() { return QuerySaveChanges(); }

bool TMainForm::ChooseExtractFolder() {
    std::string chosen;
    const bool confirmed = toolkit_.ChooseFolder(ExtractFolder, chosen);
    if (confirmed) ExtractFolder = chosen;
    ExtractFolder = IncludeTrailingSeparator(ExtractFolder);
    return confirmed;
}

void TMainForm::lstDirContentsClick() {
    const int k = toolkit_.ListFocused();
    // The list can show more lines than the archive has entries (a log that does not match
    // it); such a line is no entry and previews nothing.
    if (k < 0 || static_cast<uint32_t>(k) >= CurrentArchive->Count()) return;
    const std::string name = CurrentArchive->Files[static_cast<size_t>(k)].Name;
    toolkit_.PreviewSetEntry(name, CurrentArchive.get());
    const std::string kind = FileKind(name);
    if (name.size() < 4) return;
    // What the preview shows is remembered by its bytes, so that it can be cleared when that
    // entry goes. A sprite that cannot be read hides the preview: nothing is shown then. An
    // image that cannot be read leaves the picture shown before.
    if (kind == ".SPR") {
        std::unique_ptr<TSetMemoryStream> stream = CurrentArchive->EntryStream(k);
        previewShown_ = toolkit_.PreviewShowSpriteStream(stream.get(), false);
        previewBlock_ = CurrentArchive->Files[static_cast<size_t>(k)].Data;
    } else if (kind == ".IMG") {
        std::unique_ptr<TSetMemoryStream> stream = CurrentArchive->EntryStream(k);
        if (toolkit_.PreviewShowImage(stream.get())) {
            previewShown_ = true;
            previewBlock_ = CurrentArchive->Files[static_cast<size_t>(k)].Data;
        }
    }
}

} // namespace pelfry
