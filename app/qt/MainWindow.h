// The editor's window in Qt Widgets: the controls, menu, tool bar and dialogs of the main
// window, and the Toolkit operations TMainForm works through. MainWindow.cpp builds it and
// holds the plain operations; MainWindowView.cpp its growth, the preview's room and zoom and
// the entry filter; MainWindowBusy.cpp the long commands run off its thread;
// MainWindowDesktop.cpp the command line, drops, entry details, and the files handed to the
// picture editor.
#pragma once

#include "app/Main.h"
#include "app/Toolkit.h"

#include <QMainWindow>
#include <QPointer>
#include <QRect>

#include <atomic>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class QAction;
class QCheckBox;
class QFileDialog;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QMessageBox;
class QProgressBar;
class QPushButton;
class QStatusBar;

namespace pelfry {

class SettlingWatcher;
class TSprite;

// Display text for bytes that are not entry names (paths, messages): UTF-8 when they are
// valid UTF-8, else Latin-1, so that nothing is ever dropped.
QString DisplayText(const std::string& text);
// The bytes of a name typed over the display of `like` (an entry's name as DisplayText shows
// it): UTF-8 when `like` is valid UTF-8, else Latin-1, so that the characters the user did not
// touch keep their bytes. Error, naming `like`, when Latin-1 cannot hold a character typed.
std::string NameBytes(const QString& text, const std::string& like);
// A path's bytes as the program takes them, and back: every path crosses between Qt and the
// program through these two. Paths are UTF-8 whatever the system's locale or code page (the
// file system's own bytes on Linux; the platform layer turns them into Windows' wide names).
std::string PathBytes(const QString& path);
QString PathText(const std::string& path);

class MainWindow : public QMainWindow, public Toolkit {
public:
    // The client area below the menu bar at the window's first and least size, for which
    // every control is placed; and the status line's height.
    static constexpr int ClientWidth = 546;
    static constexpr int ClientHeight = 435;
    static constexpr int StatusHeight = 23;

    // Builds the window and runs FormCreate.
    MainWindow();
    // A long command still running is cancelled and waited for.
    ~MainWindow() override;

    TMainForm& Form() { return form_; }

    // The global error handler: runs `command` and shows any error that escapes it in the
    // "Pelfry" error box. The program goes on.
    void Guarded(const std::function<void()>& command);
    void ShowError(std::exception_ptr error);
    // Opens the file named on the command line (TMainForm::OpenStartFile), errors shown in the
    // same box.
    void OpenAtStart(const std::string& file);

    // Toolkit
    std::string ApplicationHint() override { return hint_; }
    void SetHintHandler(std::function<void()> handler) override;
    NumberSeparators LocaleSeparators() override;
    void SetCaption(const std::string& caption) override;
    void CloseWindow() override;
    void RunInBackground(bool cancellable, std::function<void()> work,
                         std::function<void(std::exception_ptr)> finished) override;
    void ShowProgress(int number, int total, const std::string& text) override;
    void RepaintNow() override;
    void ListClear() override;
    void ListSetLines(const std::vector<std::string>& lines) override;
    int ListCount() override;
    std::string ListLine(int index) override;
    bool ListSelected(int index) override;
    int ListSelCount() override;
    int ListFocused() override;
    void ListSelect(const std::vector<int>& lines) override;
    void ListEditLine(int index) override;
    void SetStatusText(const std::string& text) override;
    bool IsChecked(CheckBoxId box) override;
    bool ExecuteOpenDialog() override;
    std::string OpenDialogFileName() override { return openFileName_; }
    int OpenDialogFilterIndex() override;
    void SetOpenDialogFilterIndex(int index) override;
    void SetOpenDialogFolder(const std::string& folder) override;
    void ClearOpenDialogName() override;
    bool ExecuteSaveDialog() override;
    std::string SaveDialogFileName() override { return saveFileName_; }
    void SetSaveDialogFolder(const std::string& folder) override;
    bool ExecuteAddDialog() override;
    std::vector<std::string> AddDialogFiles() override { return addFiles_; }
    bool ChooseSaveFile(const std::string& title, const std::string& filter,
                        const std::string& proposed, std::string& chosen) override;
    bool ChooseFolder(const std::string& startFolder, std::string& chosen) override;
    MsgResult MessageBox(const std::string& title, const std::string& text, MsgSymbol symbol,
                         MsgButtons buttons) override;
    void ShowNotice(const std::string& text) override;
    bool OpenInPictureEditor(const std::string& file) override;
    void WatchFile(const std::string& file) override;
    void UnwatchFile(const std::string& file) override;
    void PreviewSetEntry(const std::string& fileName, TDirFile* archive) override;
    bool PreviewShowSpriteStream(Stream* stream, bool pingPong) override;
    bool PreviewShowImage(Stream* stream) override;
    void PreviewClear() override;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void BuildMenu();
    // The controls of the client area, built in these steps; the buttons and check boxes each
    // from their table, adding themselves to `tabOrder` in its order.
    void BuildControls();
    void BuildClientArea();
    void BuildSpeedBar();
    void BuildList();
    void BuildCommandButtons(std::vector<QWidget*>& tabOrder);
    void BuildCheckBoxes(std::vector<QWidget*>& tabOrder);
    void BuildPreview();
    void BuildStatusLine();
    void BuildDialogs();
    // Runs the list's click handler once, after the list has settled its focus and selection.
    void SchedulePreview();

    // MainWindowEdit.cpp
    // The entry list: its lines are dragged to another place in it, or out of it as files
    // (TMainForm::FilesForDrag, written only when another program asks for them).
    QListWidget* NewEntryList(QWidget* parent);
    // The Edit menu, after the File menu.
    void BuildEditMenu();
    // The list's own editing: names edited in place, lines dragged to another place, and its
    // context menu.
    void BuildListEditing();
    // The Edit menu's items say what they would undo or redo, and are enabled only when they
    // apply: after every command, and when the selection changes.
    void UpdateEditItems();
    // The context menu of the list at `at` (the viewport's): the Edit items, then the buttons
    // that work on the selected entries.
    void ShowListMenu(const QPoint& at);
    // A drag over the list or a drop on it: the list's own lines are moved where they are
    // dropped, files from outside handled as anywhere on the window. True when taken.
    bool ListDragEvent(QEvent* event);
    // The files of a drag out of the list; errors shown once the drag has ended.
    std::vector<std::string> DraggedEntries();

    // MainWindowView.cpp
    // The filter box above the list, in the tool bar.
    void BuildFilter(QWidget* speedBar);
    // Resizing and Ctrl + wheel in the client area; true when the event was taken.
    bool ClientEvent(QEvent* event);
    // Places the controls in the client area as it grows: the list takes the extra height,
    // the preview's room the extra width and height; the rest keep their places.
    void LayOutClient();
    // Places the preview where its picture is seen largest and whole: beside the check boxes
    // from its first corner, or below them across the room.
    void PlacePreview();
    // Ctrl + wheel over the preview's room: one whole step of zoom up or down.
    void ZoomPreview(int steps);
    // The preview shows the picture of `entry` (empty: none); the zoom text of another goes.
    void SetPreviewEntry(const std::string& entry);
    // The scale of the picture on show: "4x", or "53%" when it is scaled down.
    std::string PreviewScaleText() const;
    // Hides the lines that do not contain the filter's text (ignoring case) and unselects
    // them, so that only the lines shown count as selected.
    void ApplyFilter();

    // MainWindowBusy.cpp
    // The progress bar and the Cancel button beside the status text, hidden until needed.
    void BuildProgress(QStatusBar* statusLine);
    // Disables every command control and menu item while a long command runs, and shows the
    // progress bar and the Cancel button; undoes it afterwards.
    void SetBusy(bool busy, bool cancellable);
    // Posts the latest progress to the window's thread, once until it has been shown.
    void PostProgress();

    TMainForm form_;
    QWidget* client_ = nullptr;
    QFrame* speedBar_ = nullptr;
    QStatusBar* statusLine_ = nullptr;
    QListWidget* list_ = nullptr;
    QLineEdit* findEntry_ = nullptr;
    QLabel* status_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    std::vector<QWidget*> commandControls_; // disabled while a long command runs
    std::vector<QAction*> menuItems_;
    std::vector<QAction*> editItems_;    // in the Edit menu's order
    SettlingWatcher* watcher_ = nullptr; // the files open in the picture editor
    QPointer<QMessageBox> notice_;       // the notice on show, if any
    QPointer<QWidget> focusBeforeBusy_;
    QCheckBox* chkCompSpr_ = nullptr;
    QCheckBox* chkCompImg_ = nullptr;
    QCheckBox* chkRecreateAll_ = nullptr;
    QCheckBox* chkOpaqueImg_ = nullptr;
    QCheckBox* chkPngInsteadOfBmp_ = nullptr; // the lowest
    QWidget* previewArea_ = nullptr;          // beneath every control, above the status line
    TSprite* preview_ = nullptr;
    QRect previewRoom_;        // where the preview may draw, and Ctrl + wheel zooms it
    std::string previewEntry_; // the entry whose picture the preview shows
    QString zoomText_;         // what ZoomPreview last wrote in the status line
    QFileDialog* openDialog_ = nullptr;
    QFileDialog* saveDialog_ = nullptr;
    QFileDialog* addDialog_ = nullptr;

    std::vector<std::string> lines_; // the list's lines, byte for byte
    std::string hint_;
    std::function<void()> hintHandler_;
    std::string openFileName_;
    std::string saveFileName_;
    std::vector<std::string> addFiles_;
    bool previewPending_ = false;
    bool centred_ = false;

    // The check boxes' states by CheckBoxId, read by long commands off the window's thread.
    static constexpr size_t CheckBoxCount = static_cast<size_t>(CheckBoxId::PngInsteadOfBmp) + 1;
    std::atomic<bool> checks_[CheckBoxCount] = {};
    // The long command's worker, the commands asked for meanwhile, and the progress it last
    // reported.
    std::thread worker_;
    struct LongCommand {
        bool Cancellable;
        std::function<void()> Work;
        std::function<void(std::exception_ptr)> Finished;
    };
    std::deque<LongCommand> waiting_;
    std::mutex progressMutex_;
    struct {
        std::string Text;
        int Total = 0;
        int Done = 0;
        bool Posted = false;
    } progress_;
};

} // namespace pelfry
