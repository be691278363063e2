// The window's view of the GUI toolkit. TMainForm reaches the screen only through this
// interface: the editor implements it with Qt Widgets (app/qt/), the tests with a scripted
// fake, so every command of the window runs and is tested without a display.
//
// Texts are 8-bit byte strings. Entry names and other texts are shown decoded as UTF-8 when
// their bytes are valid UTF-8, else as Latin-1, and every operation gives back exactly the
// bytes it was handed; file names are the file system's bytes.
#pragma once

#include "base/Text.h" // SplitTextLines, which reads the lines of ListLoadFromFile

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace pelfry {

class Stream;
class TDirFile;

// The symbol of a message box.
enum class MsgSymbol { Error, Warning, Information, Confirmation };

// Buttons of a message box; combine with |.
enum MsgButton : unsigned {
    mbYes = 1u << 0,
    mbNo = 1u << 1,
    mbOK = 1u << 2,
    mbCancel = 1u << 3,
};
using MsgButtons = unsigned;

// The button that closed a message box. Closing the box by other means (Escape, the title
// bar) gives Cancel when the box has a Cancel button, else the box's only or first button.
enum class MsgResult { Yes, No, OK, Cancel };

// The option check boxes of the window.
enum class CheckBoxId { CompSpr, CompImg, RecreateAll, OpaqueImg, PngInsteadOfBmp };

// How the user's locale writes numbers (UTF-8 bytes).
struct NumberSeparators {
    std::string Decimal = ".";
    std::string Group = ",";
};

class Toolkit {
public:
    virtual ~Toolkit() = default;

    // --- Application ---------------------------------------------------------------------
    // The application's current hint: the long hint of the control under the mouse or of the
    // highlighted menu item; empty otherwise.
    virtual std::string ApplicationHint() = 0;
    // `handler` runs whenever the current hint changes.
    virtual void SetHintHandler(std::function<void()> handler) = 0;
    // The separators of the user's locale, for the numbers the window shows.
    virtual NumberSeparators LocaleSeparators() = 0;

    // --- Window --------------------------------------------------------------------------
    virtual void SetCaption(const std::string& caption) = 0;
    // Closes the main window, which ends the program.
    virtual void CloseWindow() = 0;

    // --- Long commands -------------------------------------------------------------------
    // Runs `work` off the window's thread, so that the window goes on repainting and
    // answering: meanwhile every command control and menu item is disabled, a progress bar
    // shows beside the status line with a Cancel button (enabled when `cancellable`; Escape
    // presses it), and the preview goes on playing. Afterwards, on the window's thread,
    // `finished` runs with the error `work` raised, or null. `work` may call only
    // ShowProgress, RepaintNow and IsChecked, which are safe from its thread; the archive
    // belongs to it until `finished`. A fake toolkit may run both at once, inline. Called while
    // one runs, the new one waits until the running one has finished.
    virtual void RunInBackground(bool cancellable, std::function<void()> work,
                                 std::function<void(std::exception_ptr)> finished) = 0;
    // Before file `number` of `total` (1-based) of a long command: `text` in the status
    // line, the bar at the files done before it. Safe from the worker; the window shows the
    // latest when it next draws.
    virtual void ShowProgress(int number, int total, const std::string& text) = 0;
    // After each file of a long command: the bar counts that file done. Safe from the worker.
    virtual void RepaintNow() = 0;

    // --- List of entries -----------------------------------------------------------------
    virtual void ListClear() = 0;
    virtual void ListSetLines(const std::vector<std::string>& lines) = 0;
    virtual int ListCount() = 0;
    virtual std::string ListLine(int index) = 0;
    virtual bool ListSelected(int index) = 0;
    virtual int ListSelCount() = 0;
    // The line last clicked or moved to with the keyboard; -1 when there is none.
    virtual int ListFocused() = 0;
    // Selects exactly the lines `lines` (none for an empty list) and focuses the last of them,
    // bringing it into view. The preview is not told: it follows the user's clicks and keys.
    virtual void ListSelect(const std::vector<int>& lines) = 0;
    // Lets the user edit the text of line `index` in place: Enter takes it, and the window
    // hands it to TMainForm::RenameLine; Escape leaves the line as it was.
    virtual void ListEditLine(int index) = 0;

    // Every line, in order.
    std::vector<std::string> ListLines();
    // Replaces the lines with those of the text file `path`, read by SplitTextLines
    // (FileOpenError when it cannot be read).
    void ListLoadFromFile(const std::string& path);

    // --- Status line ---------------------------------------------------------------------
    virtual void SetStatusText(const std::string& text) = 0;

    // --- Check boxes ---------------------------------------------------------------------
    // Safe from a long command's worker: conversions read the boxes as each file is done.
    virtual bool IsChecked(CheckBoxId box) = 0;

    // --- File dialogs --------------------------------------------------------------------
    // Open dialog: one existing file; filters Sprite directory, Sprite file, Bitmap, Image
    // file, Directory log (1-based index). It keeps its file name and filter between uses.
    virtual bool ExecuteOpenDialog() = 0;
    virtual std::string OpenDialogFileName() = 0;
    virtual int OpenDialogFilterIndex() = 0;
    virtual void SetOpenDialogFilterIndex(int index) = 0;
    // The folder the open dialog shows when next executed; without a call it shows the
    // folder it was last in.
    virtual void SetOpenDialogFolder(const std::string& folder) = 0;
    // Empties the open dialog's name field for its next use; OpenDialogFileName still gives
    // the file last chosen.
    virtual void ClearOpenDialogName() = 0;
    // Save dialog: one file, default extension "dir", no question before overwriting.
    virtual bool ExecuteSaveDialog() = 0;
    virtual std::string SaveDialogFileName() = 0;
    // As SetOpenDialogFolder, for the save dialog.
    virtual void SetSaveDialogFolder(const std::string& folder) = 0;
    // Add dialog ("Add files"): several existing files, all shown.
    virtual bool ExecuteAddDialog() = 0;
    // The chosen full paths, in the dialog's order.
    virtual std::vector<std::string> AddDialogFiles() = 0;

    // A save dialog titled `title` for one file of the kind `filter` ("GIF animation
    // (*.gif)"), starting at the path `proposed`; it asks before replacing a file. On
    // confirmation `chosen` receives the path and true is returned.
    virtual bool ChooseSaveFile(const std::string& title, const std::string& filter,
                                const std::string& proposed, std::string& chosen) = 0;

    // Folder chooser starting at `startFolder`. A typed folder that does not exist yet is
    // created with its missing parents when confirmed. On confirmation `chosen` receives the
    // folder without a trailing separator (except for the root) and true is returned.
    virtual bool ChooseFolder(const std::string& startFolder, std::string& chosen) = 0;

    // --- Message box ---------------------------------------------------------------------
    virtual MsgResult MessageBox(const std::string& title, const std::string& text,
                                 MsgSymbol symbol, MsgButtons buttons) = 0;
    // Tells `text` without waiting for an answer: the window goes on working while it shows.
    // A notice shown already is replaced by the new one.
    virtual void ShowNotice(const std::string& text) = 0;

    // --- Files open in other programs ------------------------------------------------------
    // Opens `file` in the user's picture editor: the program chosen with "Picture editor…", else
    // the desktop's application for its type (PNG). False when no program could be started.
    virtual bool OpenInPictureEditor(const std::string& file) = 0;
    // Watches `file` and its folder, so that a file written in place, replaced by a rename, or
    // deleted and made again is followed alike. Once the file has stopped changing for a short
    // while (the settling time), the window calls TMainForm::EditedFileSettled with it, on the
    // window's thread; also when nothing changed but the folder (another file there).
    virtual void WatchFile(const std::string& file) = 0;
    virtual void UnwatchFile(const std::string& file) = 0;

    // --- Preview control -----------------------------------------------------------------
    // Tells the preview which entry it is about to show (its FileName and Archive).
    virtual void PreviewSetEntry(const std::string& fileName, TDirFile* archive) = 0;
    // Shows the sprite read from `stream` (the stream stays the caller's). Returns whether
    // it was a sprite; if not, the preview shows nothing.
    virtual bool PreviewShowSpriteStream(Stream* stream, bool pingPong) = 0;
    // Shows the image read from `stream` (the stream stays the caller's). Returns whether it
    // was an image; if not, the preview keeps what it showed.
    virtual bool PreviewShowImage(Stream* stream) = 0;
    // Shows nothing and stops: what was on show came from an archive or entry now gone.
    virtual void PreviewClear() = 0;
};

} // namespace pelfry
