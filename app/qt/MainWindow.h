// The editor's window in Qt Widgets: the controls, menu, tool bar and dialogs of the main
// window, and the Toolkit operations TMainForm works through.
#pragma once

#include "app/Main.h"
#include "app/Toolkit.h"

#include <QMainWindow>

#include <exception>
#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QFileDialog;
class QLabel;
class QListWidget;

namespace pelfry {

class TSprite;

// Display text for bytes that are not entry names (paths, messages): UTF-8 when they are
// valid UTF-8, else Latin-1, so that nothing is ever dropped.
QString DisplayText(const std::string& text);
// The bytes of a path as the file system takes them.
std::string PathBytes(const QString& path);

class MainWindow : public QMainWindow, public Toolkit {
public:
    // Builds the window and runs FormCreate.
    MainWindow();
    ~MainWindow() override;

    TMainForm& Form() { return form_; }

    // The global error handler: runs `command` and shows any error that escapes it in the
    // "Pelfry" error box. The program goes on.
    void Guarded(const std::function<void()>& command);
    void ShowError(std::exception_ptr error);
    // Opens `archive` as File, Open would, errors shown in the same box (the command line).
    void OpenAtStart(const std::string& archive);

    // Toolkit
    std::string ApplicationHint() override { return hint_; }
    void SetHintHandler(std::function<void()> handler) override;
    NumberSeparators LocaleSeparators() override;
    void SetCaption(const std::string& caption) override;
    void RepaintNow() override;
    void CloseWindow() override;
    void ListClear() override;
    void ListSetLines(const std::vector<std::string>& lines) override;
    int ListCount() override;
    std::string ListLine(int index) override;
    bool ListSelected(int index) override;
    int ListSelCount() override;
    int ListFocused() override;
    void SetStatusText(const std::string& text) override;
    bool IsChecked(CheckBoxId box) override;
    bool ExecuteOpenDialog() override;
    std::string OpenDialogFileName() override { return openFileName_; }
    int OpenDialogFilterIndex() override;
    void SetOpenDialogFilterIndex(int index) override;
    void SetOpenDialogFolder(const std::string& folder) override;
    bool ExecuteSaveDialog() override;
    std::string SaveDialogFileName() override { return saveFileName_; }
    void SetSaveDialogFolder(const std::string& folder) override;
    bool ExecuteAddDialog() override;
    std::vector<std::string> AddDialogFiles() override { return addFiles_; }
    bool ChooseFolder(const std::string& startFolder, std::string& chosen) override;
    MsgResult MessageBox(const std::string& title, const std::string& text, MsgSymbol symbol,
                         MsgButtons buttons) override;
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
    void BuildControls();
    void BuildMenu();
    void BuildDialogs();
    // Runs the list's click handler once, after the list has settled its focus and selection.
    void SchedulePreview();

    TMainForm form_;
    QListWidget* list_ = nullptr;
    QLabel* status_ = nullptr;
    QCheckBox* chkCompSpr_ = nullptr;
    QCheckBox* chkCompImg_ = nullptr;
    QCheckBox* chkRecreateAll_ = nullptr;
    QCheckBox* chkOpaqueImg_ = nullptr;
    QWidget* previewArea_ = nullptr; // beneath every control, above the status line
    TSprite* preview_ = nullptr;
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
};

} // namespace pelfry
