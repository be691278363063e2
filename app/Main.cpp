#include "app/Main.h"

#include "platform/Errors.h"
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
        // A failed save raises and so ends the command; a cancelled Save As leaves the
        // archive without a file, and the command stops with it still in memory.
        FileSave();
        return !CurrentFileName.empty();
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
    try {
        // Whatever filter was chosen, the file is read as an archive, every entry at once.
        CurrentArchive = TDirFile::Create(fileName, true);
    } catch (...) {
        // The previous archive is gone. Forget its file name as well, so that a later Close
        // or Save cannot write the empty archive over the file it came from.
        ResetArchive();
        CurrentFileName.clear();
        toolkit_.SetCaption(MainCaption);
        throw;
    }
    std::vector<std::string> names;
    CurrentArchive->ListEntries(names);
    toolkit_.ListSetLines(names);
    CurrentFileName = fileName;
    SetFileCaption();
    toolkit_.SetStatusText(
        Format("%d file(s) in directory", static_cast<int>(CurrentArchive->Count())));
}

void TMainForm::FileSave() {
    if (CurrentFileName.empty()) {
        FileSaveAs();
        return;
    }
    CurrentArchive->SaveToFile(CurrentFileName);
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
    if (!CurrentFileName.empty()) {
        FileSave();
    } else if (!QuerySaveChanges()) {
        // A new archive that was filled but never saved would otherwise vanish unasked.
        return;
    }
    ResetArchive();
    ClearPreview();
    CurrentFileName.clear();
    toolkit_.SetCaption(MainCaption);
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
