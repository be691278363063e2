// TMainForm: the editor's one window, apart from any GUI toolkit. It holds the archive being
// edited and runs the File commands, the batch buttons and the entry preview, reaching the
// screen only through the Toolkit interface (app/Toolkit.h).
#pragma once

#include "app/Toolkit.h"
#include "archive/DirFileU.h"
#include "platform/FileLock.h"
#include "platform/Picture.h"

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

// The editor's command line, `pelfry [--help] [--] [ARCHIVE]`, without the program's name.
struct StartArguments {
    std::string Archive; // the archive to open at start; empty for none
    bool Help = false;   // --help or -h: print StartUsage and stop
    std::string Error;   // not empty: what is wrong; print it with StartUsage and stop
};
StartArguments ParseStartArguments(const std::vector<std::string>& args);
inline constexpr const char* StartUsage =
    "Usage: pelfry [ARCHIVE]\n"
    "Starts the directory editor, opening ARCHIVE (a .DIR file) as File, Open would.\n";

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
    // The archive being edited; never null (an empty archive while no file is open).
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
    bool FormCloseQuery();

    // When the archive holds changes that were not saved, asks "Save changes to %s?" with
    // Yes, No and Cancel. Yes saves (through Save As when there is no file name), No goes on
    // without saving, Cancel stops. True means the caller may go on and drop the archive.
    bool QuerySaveChanges();

    // Shows the folder chooser at ExtractFolder; takes the chosen folder when confirmed, and
    // in every case leaves ExtractFolder ending in a separator. Returns whether confirmed.
    bool ChooseExtractFolder();

    // --- Preview of the focused entry ----------------------------------------------------
    void lstDirContentsClick();

    // --- Desktop conventions (MainDesktop.cpp) -------------------------------------------
    // Files dropped on the window (full paths). One archive file (by its first bytes) is
    // opened after the unsaved-changes question; other files are added as Convert and add
    // adds them, with Add's summary; folders, several archives, or archives with other files
    // are refused in a box saying what a drop accepts.
    void DropFiles(const std::vector<std::string>& paths);
    // The tooltip of list line `line`: what its entry is (DescribeEntry), or empty for a line
    // that is no entry of the archive.
    std::string EntryDetails(int line);

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
    void SetFileCaption();
    void ResetArchive();
    // Forgets the archive's file after a command that lost the archive read from it, so that
    // a later Save or Close cannot write what is left over that file.
    void ForgetFile();
    // Writes the archive to CurrentFileName under the writers' lock, waiting for it at most
    // SaveWaitLimit (FileInUseError after that). When the file was changed by another program
    // since this window read or wrote it, asks first; returns false when the user declines
    // (nothing is written).
    bool SaveToCurrentFile();
    // The folder of the archive file, for the dialogs to start in; empty while there is none.
    std::string ArchiveFolder() const;
    // The preview forgets what it shows: the archive it came from is gone.
    void ClearPreview();
    // Clears the preview when the entry it shows was deleted or replaced.
    void ClearPreviewIfGone();
    // Adds each file as Add does (under its name part, replacing the first entry of that
    // name), converting edited bitmaps and descriptions back first when `convertBack`, with
    // progress; then refreshes the list. Returns the count of files added.
    int AddFiles(const std::vector<std::string>& files, bool convertBack);
    // Fills the list with the archive's entry names (line i is entry i).
    void RefreshList();
    // Indexes of the selected lines that are entries of the archive, in list order.
    std::vector<int> SelectedEntries();
    // The walk of the two extract buttons: the folder chooser, "No files selected!", then for
    // each selected entry its progress line and `work`, and at the end `summary` with the count.
    // Before anything is written, entries that would write one file (with the files their
    // conversion adds, for `converted`) are refused (CheckDistinctFiles).
    void ExtractSelected(const char* summary, std::optional<PictureFormat> converted,
                         const std::function<void(int index)>& work);

    Toolkit& toolkit_;
    // The file as this window last read or wrote it, to tell a change by another program.
    std::string knownFile_;
    FileIdentity knownIdentity_;
    // The bytes of the entry the preview shows (an entry's block is replaced, never changed,
    // so a block no entry holds any more is a deleted or replaced entry).
    std::weak_ptr<const std::vector<uint8_t>> previewBlock_;
    bool previewShown_ = false;
};

} // namespace pelfry
