// Entries handed to other programs: pictures edited in the user's picture editor, whose every
// save comes back into the archive as an undo step, and entries dragged out of the list.
//
// The files live in a folder of the window's own (WindowFolder), one subfolder for each entry
// opened or drag made, so that two entries of one last name never share a file. The watch,
// and the settling time that lets an editor finish its save, are the toolkit's; whether a file
// changed is told by its identity (the file under the name, its size and modification time),
// never by the two-second file age that convert-back compares: a save one second after opening
// counts, and the window's own writes come back as nothing.
#include "app/Main.h"

#include "app/Batch.h"
#include "app/Convert.h"
#include "base/Errors.h"
#include "base/Parallel.h"
#include "base/Text.h"
#include "platform/FileUtil.h"
#include "platform/ReplacingFile.h"

#include <algorithm>
#include <set>

namespace pelfry {

namespace {

bool IsPicture(const std::string& name) {
    const std::string kind = FileKind(name);
    return kind == ".IMG" || kind == ".SPR";
}

// A drag writes its files at once, with nothing to show on the way.
class QuietFollower : public BatchFollower {
public:
    void Begin(int, int, const std::string&) override {}
};

} // namespace

WindowFolder& TMainForm::OwnFolder() {
    if (!folder_) folder_ = std::make_unique<WindowFolder>(WindowFoldersPlace);
    return *folder_;
}

std::string TMainForm::NewSubfolder() {
    const std::string folder = OwnFolder().Path() + std::to_string(++subfolders_) + "/";
    if (!MakeFolder(folder)) throw FileCreateError(folder);
    return folder;
}

TMainForm::OpenEdit& TMainForm::StartEdit(int32_t index) {
    const std::string name = CurrentArchive->Files()[static_cast<size_t>(index)].Name;
    const std::string part = ExtractFileName(name);
    if (FileSystemRefusesName(part)) throw Error("Unsafe entry name: " + name);
    // Made under the entry's last name, which what it raises names, not the folder's path.
    std::unique_ptr<TSetMemoryStream> stream = CurrentArchive->EntryStream(index);
    const std::vector<MadeFile> made = MakeConvertedFiles(part, *stream, PictureFormat::Png);
    const std::string folder = NewSubfolder();
    OpenEdit edit;
    edit.Entry = name;
    edit.Base = folder + part;
    edit.Sprite = FileKind(name) == ".SPR";
    for (const MadeFile& file : made) {
        const std::string path = folder + file.Path;
        WriteFileReplacing(path, file.Bytes);
        // A damaged entry opens as far as it can be read, and the user hears of it.
        if (!file.Warning.empty()) toolkit_.ShowNotice(name + ": " + file.Warning);
        edit.Files.push_back(path);
        edit.Taken.push_back(IdentifyFile(path));
    }
    for (const std::string& file : edit.Files)
        toolkit_.WatchFile(file);
    return edits_.emplace_back(std::move(edit));
}

void TMainForm::EditInPictureEditor() {
    if (!Idle()) return;
    std::vector<std::string> opened, others;
    for (int line : SelectedEntries()) {
        const int32_t index = EntryOnLine(line);
        if (index < 0) continue;
        const std::string name = CurrentArchive->Files()[static_cast<size_t>(index)].Name;
        if (!IsPicture(name)) {
            others.push_back(name);
            continue;
        }
        auto open = std::find_if(edits_.begin(), edits_.end(),
                                 [&](const OpenEdit& edit) { return edit.Entry == name; });
        const OpenEdit& edit = open != edits_.end() ? *open : StartEdit(index);
        if (!toolkit_.OpenInPictureEditor(edit.Files.front())) {
            toolkit_.MessageBox("Error",
                                Format("No picture editor could be started for %s. Choose one "
                                       "with Edit, Picture editor\xE2\x80\xA6",
                                       edit.Files.front().c_str()),
                                MsgSymbol::Error, mbCancel);
            return;
        }
        opened.push_back(name);
    }
    std::string said;
    if (opened.size() == 1)
        said = "Opened " + opened.front() + " in the picture editor";
    else if (!opened.empty())
        said = Format("Opened %d entries in the picture editor", static_cast<int>(opened.size()));
    if (!others.empty()) {
        if (!said.empty()) said += "; ";
        said += (others.size() == 1 ? others.front() + " is"
                                    : Format("%d entries are", static_cast<int>(others.size()))) +
                " no image or sprite (.IMG, .SPR): only those open in the picture editor";
    }
    if (said.empty()) said = "Select an image or sprite (.IMG, .SPR) to edit it";
    toolkit_.SetStatusText(said);
}

void TMainForm::EditedFileSettled(const std::string& file) {
    auto edit = std::find_if(edits_.begin(), edits_.end(), [&](const OpenEdit& open) {
        return std::find(open.Files.begin(), open.Files.end(), file) != open.Files.end();
    });
    if (edit == edits_.end()) return;
    // The archive is the long command's now: the save is taken in when it has ended.
    if (busy_) {
        if (std::find(waitingEdits_.begin(), waitingEdits_.end(), file) == waitingEdits_.end())
            waitingEdits_.push_back(file);
        return;
    }
    TakeEdit(*edit);
}

void TMainForm::TakeWaitingEdits() {
    if (busy_) return;
    for (const std::string& file : std::exchange(waitingEdits_, {}))
        EditedFileSettled(file);
}

void TMainForm::TakeEdit(OpenEdit& edit) {
    // Deleted by the user or the editor: the entry keeps what was last taken in.
    for (const std::string& file : edit.Files)
        if (!FileExists(file)) {
            for (const std::string& watched : edit.Files)
                toolkit_.UnwatchFile(watched);
            toolkit_.SetStatusText(Format("%s was deleted: later saves no longer come back to %s",
                                          ExtractFileName(file).c_str(), edit.Entry.c_str()));
            edits_.erase(edits_.begin() + (&edit - edits_.data()));
            return;
        }
    std::vector<FileIdentity> now;
    for (const std::string& file : edit.Files)
        now.push_back(IdentifyFile(file));
    if (now == edit.Taken) return;
    // Taken as they stand before they are read: a save made while they are read changes them
    // again, and comes back once it has settled.
    edit.Taken = now;
    auto tell = [this](const std::string& text) {
        toolkit_.SetStatusText(text);
        toolkit_.ShowNotice(text);
    };
    const int32_t index = CurrentArchive->FindEntry(edit.Entry, 0);
    if (index < 0)
        return tell(Format("%s is no longer in the directory: the edit of %s was not taken in",
                           edit.Entry.c_str(), ExtractFileName(edit.Files.front()).c_str()));
    std::string warning;
    std::vector<uint8_t> bytes;
    try {
        bytes =
            RebuildGameFile(edit.Base, edit.Files.front(), edit.Sprite, CheckBoxOptions(), warning);
    } catch (const std::exception& e) {
        return tell(Format("The edit of %s was not taken in, the entry is as it was: ",
                           edit.Entry.c_str()) +
                    ErrorText(e));
    }
    const FileInfo& entry = CurrentArchive->Files()[static_cast<size_t>(index)];
    const bool same = entry.Data ? *entry.Data == bytes : bytes.empty() && entry.Size == 0;
    if (same)
        return toolkit_.SetStatusText(Format("%s saved with no change to %s",
                                             ExtractFileName(edit.Files.front()).c_str(),
                                             edit.Entry.c_str()));
    const bool shown = previewShown_ && previewBlock_.lock() == entry.Data;
    // The list's lines stay as they are, and so does what the user selected in it.
    const FileArray before = CurrentArchive->Files();
    CurrentArchive->ReplaceEntryData(
        index, std::make_shared<const std::vector<uint8_t>>(std::move(bytes)));
    RecordStep(StepName("edit", 1, edit.Entry), before, {index}, {index});
    if (shown) ShowPreviewOf(*CurrentArchive, index);
    std::string said = "Took in the edit of " + edit.Entry;
    if (!warning.empty()) said += "; " + warning;
    toolkit_.SetStatusText(said);
}

void TMainForm::QueryCloseEdits(const std::function<void()>& then) {
    // Saves still settling come in first: the question is about later ones.
    for (size_t i = edits_.size(); i-- > 0;)
        TakeEdit(edits_[i]);
    if (edits_.empty()) return then();
    const std::string open = edits_.size() == 1
                                 ? edits_.front().Entry + " is"
                                 : Format("%d entries are", static_cast<int>(edits_.size()));
    const std::string question =
        open + " still open in the picture editor. Close anyway? Saves made there later will no "
               "longer come back to the directory.";
    if (toolkit_.MessageBox("Pelfry", question, MsgSymbol::Confirmation, mbYes | mbNo) ==
        MsgResult::Yes)
        then();
}

void TMainForm::CloseEdits() {
    for (const OpenEdit& edit : edits_)
        for (const std::string& file : edit.Files)
            toolkit_.UnwatchFile(file);
    edits_.clear();
    waitingEdits_.clear();
    folder_.reset();
}

std::vector<std::string> TMainForm::FilesForDrag() {
    if (busy_) {
        toolkit_.SetStatusText("A command is still running. Try again when it has ended.");
        return {};
    }
    ExtractJob job;
    for (int line : SelectedEntries())
        if (const int32_t index = EntryOnLine(line); index >= 0) job.Entries.push_back(index);
    if (job.Entries.empty()) return {};
    job.Folder = NewSubfolder();
    if (toolkit_.IsChecked(CheckBoxId::PngInsteadOfBmp)) job.Convert = PictureFormat::Png;
    job.Jobs = DefaultJobs();
    QuietFollower follower;
    Extract(*CurrentArchive, job, follower);
    // What the folder holds now, each once: an entry in a subfolder goes with its folder.
    std::vector<std::string> carried;
    std::set<std::string> seen;
    auto carry = [&](const std::string& item) {
        if (seen.insert(item).second) carried.push_back(job.Folder + item);
    };
    for (int32_t index : job.Entries) {
        const std::string& name = CurrentArchive->Files()[static_cast<size_t>(index)].Name;
        const std::vector<std::string_view> parts = NameParts(name);
        const std::string first(parts.front()); // Extract refuses a name of no parts
        if (parts.size() > 1) {
            carry(first);
        } else if (job.Convert && IsPicture(name)) {
            carry(first + PictureSuffix(*job.Convert));
            if (FileKind(name) == ".SPR") carry(first + ".spd");
        } else {
            carry(first);
        }
    }
    return carried;
}

} // namespace pelfry
