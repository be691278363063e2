// TMainForm: the editor's one window, apart from any GUI toolkit. It holds the archive being
// edited and runs the File commands, the batch buttons and the entry preview, reaching the
// screen only through the Toolkit interface (app/Toolkit.h).
//
// Long commands (Open, Save, the batch buttons, the log round trip) run their work through
// Toolkit::RunInBackground: the dialogs and questions come first on the window's thread, the
// files are then walked off it (by the batch engine, app/Batch.h), and what the window shows at
// the end follows back on it. While one runs the window is busy: the archive is moved into the
// work and handed back when it ends, failed or cancelled included, so the window's thread
// cannot reach it; the preview and the entry details read a snapshot taken before. No second
// command starts meanwhile.
#pragma once

#include "app/Batch.h"
#include "app/Toolkit.h"
#include "app/UndoHistory.h"
#include "archive/DirFileU.h"
#include "picture/Picture.h"
#include "platform/FileLock.h"
#include "platform/WindowFolder.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelfry {

// The caption of the window while no archive file is named.
inline constexpr const char* MainCaption = "Varn directory editor";

// The text the global error box shows for `message`: a full stop is appended when the last
// character sorts after "." (letters and digits do; "!", "?", ")" and "." itself do not).
std::string ErrorBoxText(std::string_view message);

// The editor's command line, `pelfry [--help | --version] [--] [ARCHIVE]`, without the
// program's name. --help and --version are answered whatever else the line holds; they need
// no display, so the program looks for them before it starts the GUI toolkit.
struct StartArguments {
    std::string Archive;  // the archive to open at start; empty for none
    bool Help = false;    // --help or -h: print StartUsage and stop
    bool Version = false; // --version: print the program's name and version and stop
    std::string Error;    // not empty: what is wrong; print it with StartUsage and stop
};
StartArguments ParseStartArguments(const std::vector<std::string>& args);
inline constexpr const char* StartUsage =
    "Usage: pelfry [ARCHIVE]\n"
    "       pelfry --help | --version\n"
    "Starts the directory editor, opening ARCHIVE (a .DIR file) as File, Open would; an\n"
    "image or sprite (.IMG, .SPR) is added to a new directory, as a drop adds it.\n";

// What a drop on the window accepts, for the box that refuses any other drop.
inline constexpr const char* DropRefusedText =
    "A drop opens one directory archive, or adds files to the directory (bitmaps and sprite "
    "descriptions are converted back first). Folders, and archives together with other files, "
    "cannot be dropped.";

class TMainForm {
public:
    explicit TMainForm(Toolkit& toolkit);
    ~TMainForm();
    TMainForm(const TMainForm&) = delete;
    TMainForm& operator=(const TMainForm&) = delete;

    // --- Window state, shared by every command -------------------------------------------
    // The archive being edited: an empty archive while no file is open; null while a long
    // command holds it.
    std::unique_ptr<TDirFile> CurrentArchive;
    // The file Save writes to; empty until an archive is opened or saved under a name.
    std::string CurrentFileName;
    // Where entries are extracted and converted; ends in a separator after every use of
    // ChooseExtractFolder. Starts as the system's temporary folder.
    std::string ExtractFolder;
    // How long a save waits for another program that writes the same file before it gives up
    // with "%s is in use by another program", keeping the archive unsaved in memory.
    std::chrono::milliseconds SaveWaitLimit{3000};

    // --- Start, hints, errors ------------------------------------------------------------
    // Runs once when the window has been built.
    void FormCreate();
    // The status line follows the application's current hint.
    void ShowHint();
    // The global error handler: any error that escapes a command ends up here and is shown
    // in a box titled "Pelfry" with the error symbol and OK.
    void ShowException(std::string_view message);

    // --- File menu and tool bar ----------------------------------------------------------
    void FileOpen();
    // Opens the archive `fileName` as File, Open does once a file is chosen (also at start,
    // from the command line). Raises the archive's errors.
    void OpenArchiveFile(const std::string& fileName);
    void FileSave();
    void FileSaveAs();
    void FileClose();
    void FileExit();
    // Asked when the user closes the window by its title bar; true lets it close.
    // While a long command runs, asks whether to stop it; Yes cancels it and closes the
    // window once it has stopped. A save that the question starts runs off the window's
    // thread; the window then closes when it is done.
    bool FormCloseQuery();

    // When the archive holds changes that were not saved, asks "Save changes to %s?" with
    // Yes, No and Cancel. Yes saves (through Save As when there is no file name), No goes on
    // without saving, Cancel stops. `then` runs when the caller may go on and drop the
    // archive: at once for No, after the save for Yes, never for Cancel or a failed save.
    void QuerySaveChanges(const std::function<void()>& then);

    // --- Long commands -------------------------------------------------------------------
    // True while a long command's work runs off the window's thread.
    bool Busy() const { return busy_; }
    // The Cancel button: the running command stops before its next file. Extract and export
    // keep the files written and write no log; Add and Convert and add keep the entries added;
    // a cancelled rebuild from a log is a failed one; a cancelled Open keeps the archive open
    // before; a Save cannot be cancelled. The status line says "Cancelled after %d of %d
    // file(s)", and the list shows the archive's entries.
    void CancelCommand();

    // Shows the folder chooser at ExtractFolder; takes the chosen folder when confirmed, and
    // in every case leaves ExtractFolder ending in a separator. Returns whether confirmed.
    bool ChooseExtractFolder();

    // --- Preview of the focused entry ----------------------------------------------------
    void lstDirContentsClick();

    // --- Edit menu and the list's own editing (MainEdit.cpp) ------------------------------
    // Every change the window makes to the archive is one undo step (UndoHistory): Add, Convert
    // and add, a drop, Delete, Reconstruct from log, Rename and the moves, a cancelled or failed
    // one with what it did before it stopped. Open and Close start a new history. Undoing back
    // to the state last saved leaves the archive unchanged (Modified() false).
    struct EditState {
        std::string Undo = "Undo"; // "Undo delete of 3 entries"
        std::string Redo = "Redo";
        bool CanUndo = false, CanRedo = false;
        bool CanRename = false; // one line selected, and it names its entry
        bool CanMoveUp = false, CanMoveDown = false;
        bool CanEditInEditor = false; // a line that names its entry is selected
    };
    // What the Edit menu's items say, and which apply now (none while a long command runs).
    EditState EditCommands();
    void EditUndo();
    void EditRedo();
    // Starts editing the selected line's name in the list (Toolkit::ListEditLine).
    void EditRename();
    // The name typed for list line `line`: the entry keeps its place and its bytes. A name
    // another entry holds, an unsafe or an empty one is refused in a box, changing nothing.
    void RenameLine(int line, const std::string& name);
    // The selected lines one place up or down, keeping their order and the selection.
    void EditMoveUp();
    void EditMoveDown();
    // The selected lines dragged to stand, in their order, before line `line` (the end for
    // ListCount()).
    void MoveSelectedTo(int line);

    // --- Desktop conventions (MainDesktop.cpp) -------------------------------------------
    // The file named on the command line: an image or sprite, told by its first bytes, is
    // added to the directory as a drop adds it (so that the file managers' "Open with" shows
    // it); any other file is opened as an archive (OpenArchiveFile).
    void OpenStartFile(const std::string& fileName);
    // Files dropped on the window (full paths). One archive file (by its first bytes) is
    // opened after the unsaved-changes question; other files are added as Convert and add
    // adds them, with Add's summary; folders, several archives, or archives with other files
    // are refused in a box saying what a drop accepts.
    void DropFiles(const std::vector<std::string>& paths);
    // The tooltip of list line `line`: what its entry is (DescribeEntry), or empty for a line
    // that is no entry of the archive.
    std::string EntryDetails(int line);

    // --- The entry list's context menu (MainDesktop.cpp) ---------------------------------
    // A command of the menu: its caption, and what it does.
    struct EntryCommand {
        std::string Caption;
        std::function<void()> Run;
    };
    // The commands the list offers for its line `line` (-1 for none): "Save animation as GIF…"
    // for a sprite. Empty for a line that is no entry of the archive.
    std::vector<EntryCommand> EntryMenu(int line);
    // Asks where to save the animation of the sprite on list line `line` (ChooseSaveFile,
    // starting at the entry's name + ".gif" in ExtractFolder), then writes there the GIF that
    // plays as the preview does (MakeGif) and says so in the status line.
    void SaveAnimationAsGif(int line);

    // --- Entries edited in the picture editor, and dragged out (MainOutside.cpp) ---------
    // Where the window keeps the files it hands to other programs: a folder of its own
    // (WindowFolder) made here when first needed. FormCreate sets it to the system's temporary
    // folder, and removes there the folders of windows that were killed.
    std::string WindowFoldersPlace;
    // "Edit in picture editor" (Ctrl+E, a double click or Enter on a line): each selected image
    // or sprite is written as `pelfry-cli convert --png` writes it (NAME.IMG.png; NAME.SPR.png
    // with NAME.SPR.spd beside it; NAME the last part of the entry's name) into a subfolder of
    // its own in the window's folder, watched (Toolkit::WatchFile), and opened in the picture
    // editor. An entry open already is opened again as its files stand. Other entries are not
    // opened, and the status line says why; when no program can be started, a box says so.
    void EditInPictureEditor();
    // A file of an entry open in the picture editor has stopped changing. When the entry's files
    // differ from what was last taken in, the entry is converted back from them by the rules of
    // convert-back (with the check boxes for compression and opacity) and gets the result as its
    // bytes, in its place: one undo step, "edit of NAME"; the preview shows it anew when it
    // showed that entry. A picture that cannot come back is told in the status line and a
    // notice, as pelfry-cli tells it, and the entry and the watch stay. A file that is gone ends
    // its entry's watch quietly. While a long command holds the archive, the conversion waits
    // for its end.
    void EditedFileSettled(const std::string& file);
    // How many entries are open in the picture editor.
    size_t OpenEdits() const { return edits_.size(); }
    // The selected entries written for a drag out of the list into a new subfolder of the
    // window's folder, as "Extract from directory" writes them, or converted to PNG (with its
    // .spd for a sprite) when "PNG instead of .bmp" is checked; returns what the drag carries:
    // the files and folders there (for "UI\ICON.IMG", the folder UI). Empty when no entry is
    // selected, or while a long command holds the archive (the status line says so then).
    std::vector<std::string> FilesForDrag();

    // --- Conversions and batch commands (MainBatch.cpp) ----------------------------------
    // Forward conversion of a game file by its name; `resultName` receives the bitmap made,
    // or `fileName` itself for a file of no convertible kind.
    void ConvertFile(const std::string& fileName, std::string& resultName);
    // Back conversion of an edited .bmp or .spd; `converted` tells whether the game file was
    // rebuilt, `resultName` receives the game file's name.
    void ConvertBack(const std::string& fileName, bool recreate, bool& converted,
                     std::string& resultName);
    void ConvertImgFile(const std::string& fileName);
    void ConvertSprFile(const std::string& fileName);
    void ConvertSpdFile(const std::string& baseName);
    void ConvertBmpFile(const std::string& baseName);

    void btnExtractClick();
    void btnExtrConvertClick();
    void btnDeleteClick();
    void btnAddClick();
    void btnConvAddClick();
    void btnExtrConvLogClick();
    void btnConvAddLogClick();

    Toolkit& UI() { return toolkit_; }

private:
    // Starts a long command (see the class comment): `work` gets the archive, which comes back
    // before `done` follows on the window's thread; when `work` raised, `failed` runs instead
    // (when given) and the error goes on to the global handler. With `step`, what the work
    // changed in the archive, finished or not, is kept as an undo step named by it.
    void RunLong(bool cancellable, std::function<void(TDirFile&)> work, std::function<void()> done,
                 std::function<void()> failed = {}, std::function<std::string()> step = {});
    // Keeps the change from the entries `before` to the archive's as an undo step (none when
    // nothing changed).
    void RecordStep(std::string name, const FileArray& before, std::vector<int> selectBefore = {},
                    std::vector<int> selectAfter = {});
    // Runs `change` on the archive and keeps it as one undo step; the list then shows the
    // entries with `selectAfter` selected.
    void ChangeArchive(std::string name, const std::function<void(TDirFile&)>& change,
                       std::vector<int> selectBefore, std::vector<int> selectAfter);
    // Puts the entries in the order `order` (see TDirFile::Reorder), the lines `selected` then
    // standing at `selectedAfter`; nothing when the order is the one they have.
    void MoveLines(const std::vector<uint32_t>& order, const std::vector<int>& selected,
                   const std::vector<int>& selectedAfter);
    // Alt+Up and Alt+Down.
    void MoveOnePlace(bool up);
    // The list after an undo or redo, which selects `lines`; `done` in the status line.
    void ShowStep(const std::vector<int>& lines, const std::string& done);
    // False, after saying so in a box, while a long command runs: every command asks first.
    bool Idle();
    // The archive the window's thread reads: the snapshot while a long command holds the
    // archive.
    TDirFile& Readable();
    // The entry on list line `line`, when the line names an entry of the archive the window's
    // thread reads; -1 otherwise (the list may show a log that does not match the archive).
    int32_t EntryOnLine(int line);
    // "Cancelled after %d of %d file(s)" for a walk that was stopped.
    static std::string CancelledText(const BatchResult& walk);
    // Follows the batch engine's walk with the progress bar, Cancel and the check boxes.
    class Follower;

    void SetFileCaption();
    // Forgets the archive: an empty one, no history, no entries open in the picture editor.
    void ResetArchive();
    // Close, once the question about entries open in the picture editor is answered.
    void CloseArchive();
    // Forgets the archive's file after a command that lost the archive read from it, so that
    // a later Save or Close cannot write what is left over that file.
    void ForgetFile();
    // Writes the archive to CurrentFileName under the writers' lock, off the window's thread,
    // waiting for the lock at most SaveWaitLimit (FileInUseError after that, the archive kept
    // unsaved). When the file was changed by another program since this window read or wrote
    // it, asks first. `then` follows with whether it was written (false when the user
    // declined); not at all when the save failed.
    void SaveToCurrentFile(const std::function<void(bool saved)>& then);
    // How a save of `file` waits for the writers' lock: at most SaveWaitLimit, saying so in
    // the status line after a second.
    LockWait SaveWait(const std::string& file);
    // Save As: the dialog, then the save under the chosen name; the caption follows, also
    // when the dialog was cancelled. `then` follows a save as for SaveToCurrentFile.
    void SaveAs(const std::function<void(bool saved)>& then);
    // The folder of the archive file, for the dialogs to start in; empty while there is none.
    std::string ArchiveFolder() const;
    // The preview forgets what it shows: the archive it came from is gone.
    void ClearPreview();
    // Clears the preview when the entry it shows was deleted or replaced.
    void ClearPreviewIfGone();
    // Adds each file as Add does (under its name part, replacing the first entry of that
    // name), converting edited bitmaps and descriptions back first when `convertBack`, with
    // progress; then refreshes the list (after a failure too) and writes `summary` with the
    // count of files added, or the cancelled text. The undo step is named `action`.
    void AddFiles(const std::vector<std::string>& files, bool convertBack,
                  const std::function<std::string(int added)>& summary, const std::string& action);
    // Reconstruct from log once the log is chosen: the list takes its lines, a fresh archive
    // is filled from them off the window's thread. A failed or cancelled rebuild lists the
    // entries it holds.
    void RebuildFromLog(const std::string& logName);
    // Fills the list with the archive's entry names (line i is entry i).
    void RefreshList();
    // Indexes of the selected lines that are entries of the archive, in list order.
    std::vector<int> SelectedEntries();
    // The two extract buttons: the folder chooser, "No files selected!", then the selected
    // entries extracted (and converted, with `convert`), and at the end `summary` with the
    // count.
    void ExtractSelected(const char* summary, bool convert);
    // The back conversions' options from the check boxes (safe from a long command's work).
    ConvertOptions CheckBoxOptions();
    // The format of the pictures the window's conversions make: "PNG instead of .bmp".
    PictureFormat ChosenFormat();

    // An entry open in the picture editor: its files, and how they stood when last written or
    // taken in, so that only a change brings the entry up to date.
    struct OpenEdit {
        std::string Entry;              // the entry's name
        std::string Base;               // the game file the files are named after (not written)
        bool Sprite = false;            // NAME.SPR.png and NAME.SPR.spd, else NAME.IMG.png
        std::vector<std::string> Files; // the picture first
        std::vector<FileIdentity> Taken;
    };
    // The window's folder, made when first needed; a new subfolder of it, ending in "/".
    WindowFolder& OwnFolder();
    std::string NewSubfolder();
    // Writes the entry `index` for the picture editor and watches its files.
    OpenEdit& StartEdit(int32_t index);
    // Brings the entry of `edit` up to date with its files, when they changed (EditedFileSettled).
    void TakeEdit(OpenEdit& edit);
    // Takes in every edit saved but not settled yet, then, when entries are still open in the
    // picture editor, asks whether to close them anyway; `then` runs when the caller may go on.
    void QueryCloseEdits(const std::function<void()>& then);
    // Stops watching every entry open in the picture editor and removes the window's folder.
    void CloseEdits();
    // The edits that settled while a long command ran, taken in once it has ended.
    void TakeWaitingEdits();
    // The preview shows entry `k` of `archive`.
    void ShowPreviewOf(TDirFile& archive, int k);

    Toolkit& toolkit_;
    std::vector<OpenEdit> edits_;
    std::unique_ptr<WindowFolder> folder_;
    int subfolders_ = 0;
    std::vector<std::string> waitingEdits_;
    UndoHistory history_;
    // The file as this window last read or wrote it, to tell a change by another program.
    std::string knownFile_;
    FileIdentity knownIdentity_;
    // The bytes of the entry the preview shows (an entry's block is replaced, never changed,
    // so a block no entry holds any more is a deleted or replaced entry).
    std::weak_ptr<const std::vector<uint8_t>> previewBlock_;
    bool previewShown_ = false;
    // The folder the last "Extract, convert, log" wrote its log to; where a rebuild starts.
    std::string logFolder_;
    // What the window's thread reads while a long command holds the archive.
    std::unique_ptr<TDirFile> snapshot_;
    // A long command's work is running; the user asked it to stop.
    bool busy_ = false;
    std::atomic<bool> cancel_{false};
    // The window closes once the running command has ended.
    bool closeAfterCommand_ = false;
    // FormCloseQuery is asking; what it should answer.
    bool closeAsked_ = false;
    bool closeApproved_ = false;
};

} // namespace pelfry
