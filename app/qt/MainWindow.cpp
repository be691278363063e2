#include "app/qt/MainWindow.h"

#include "app/qt/FolderChooser.h"
#include "app/qt/Icons.h"
#include "base/Errors.h"
#include "sprite/Sprite.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QStringDecoder>
#include <QToolButton>

#include <optional>

namespace pelfry {

namespace {

const QStringList OpenFilters = {
    "Sprite directory (*.DIR)", "Sprite file (*.SPR)",       "Bitmap (*.BMP)",
    "Image file (*.IMG)",       "Directory log (*.DIR.TXT)",
};
const QStringList SaveFilters = {
    "Sprite directory (*.DIR)",
    "Sprite file (*.SPR)",
    "Bitmap (*.BMP)",
};

// The game's files are often named in upper case: the dialogs show matching names in any
// case.
void ConfigureFileDialog(QFileDialog* dialog) {
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setOption(QFileDialog::HideNameFilterDetails);
    dialog->setFilter(dialog->filter() & ~QDir::CaseSensitive);
    dialog->setSizeGripEnabled(true);
}

// A click on a control: the form's command, its errors shown in the error box.
std::function<void()> Command(MainWindow* window, void (TMainForm::*method)()) {
    return [window, method] { window->Guarded([window, method] { (window->Form().*method)(); }); };
}

// The tool bar's picture buttons, left to right.
struct ToolButton {
    const char* name;
    int left;
    ToolPicture picture;
    const char* tip;
    void (TMainForm::*click)();
};
constexpr ToolButton ToolButtons[] = {
    {"SpeedButton2", 8, ToolPicture::Open, "Open", &TMainForm::FileOpen},
    {"SpeedButton3", 32, ToolPicture::Save, "Save", &TMainForm::FileSave},
    {"SpeedButton4", 56, ToolPicture::SaveAs, "Save As", &TMainForm::FileSaveAs},
    {"SpeedButton5", 84, ToolPicture::Exit, "Exit", &TMainForm::FileExit},
};

// The command buttons, in the order keyboard focus takes them: the left-hand column top to
// bottom, then the right-hand one.
struct CommandButton {
    const char* name;
    const char* caption;
    int left;
    int top;
    void (TMainForm::*click)();
};
constexpr CommandButton CommandButtons[] = {
    {"btnExtract", "Extract from directory", 232, 48, &TMainForm::btnExtractClick},
    {"btnExtrConvert", "Extract and convert", 232, 80, &TMainForm::btnExtrConvertClick},
    {"btnExtrConvLog", "Extract, convert, log", 232, 112, &TMainForm::btnExtrConvLogClick},
    {"btnDelete", "Delete from directory", 232, 168, &TMainForm::btnDeleteClick},
    {"btnAdd", "Add / Replace", 400, 48, &TMainForm::btnAddClick},
    {"btnConvAdd", "Convert and add", 400, 80, &TMainForm::btnConvAddClick},
    {"btnConvAddLog", "Reconstruct from log", 400, 112, &TMainForm::btnConvAddLogClick},
};
constexpr QSize ButtonSize(137, 25);

// The check boxes stand one below the other from here, their captions left of the boxes.
constexpr QRect FirstCheckBox(400, 144, 137, 17);
constexpr int CheckBoxStep = 16;

} // namespace

// `text` as UTF-8, when it is valid UTF-8.
static std::optional<QString> Utf8Text(const std::string& text) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = utf8.decode(QByteArray::fromStdString(text));
    if (utf8.hasError()) return std::nullopt;
    return decoded;
}

QString DisplayText(const std::string& text) {
    std::optional<QString> decoded = Utf8Text(text);
    return decoded ? std::move(*decoded) : QString::fromLatin1(QByteArray::fromStdString(text));
}

std::string NameBytes(const QString& text, const std::string& like) {
    if (Utf8Text(like)) return text.toUtf8().toStdString();
    for (const QChar c : text)
        if (c.unicode() > 0xFF)
            throw Error("Cannot rename " + like +
                        ": its name is in 8-bit letters (Latin-1), which cannot hold every "
                        "character of the new name");
    return text.toLatin1().toStdString();
}

std::string PathBytes(const QString& path) {
    return path.toUtf8().toStdString();
}

QString PathText(const std::string& path) {
    return QString::fromUtf8(path);
}

MainWindow::MainWindow() : form_(*this) {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    setObjectName("MainForm");
    setWindowTitle(MainCaption);
    setWindowIcon(QIcon(DrawAppPicture(48)));
    // A small dialog font, so that every caption fits its control as placed.
    QFont small = font();
    small.setPixelSize(11);
    setFont(small);

    BuildMenu();
    BuildControls();
    BuildDialogs();
    // The window opens with the client area at the size every control was placed for, below
    // the menu bar; that is also its least size. It grows as the user likes.
    resize(ClientWidth, ClientHeight + menuBar()->sizeHint().height());
    // Files dropped anywhere on the window: an archive to open or files to add.
    setAcceptDrops(true);

    Guarded([this] { form_.FormCreate(); });
}

void MainWindow::BuildMenu() {
    QMenuBar* bar = menuBar();
    bar->setObjectName("MainMenu");
    bar->setNativeMenuBar(false);
    QMenu* fileMenu = bar->addMenu("&File");
    fileMenu->setObjectName("FileMenu");
    auto add = [&](const char* name, const char* caption, const char* hint,
                   void (TMainForm::*command)()) {
        QAction* action = fileMenu->addAction(caption);
        action->setObjectName(name);
        action->setStatusTip(hint);
        action->setShortcut(QKeySequence());
        connect(action, &QAction::triggered, this, Command(this, command));
        menuItems_.push_back(action);
    };
    add("FileOpenItem", "&Open...", "Open an existing file", &TMainForm::FileOpen);
    add("FileSaveItem", "&Save", "Save current file", &TMainForm::FileSave);
    add("FileSaveAsItem", "Save &As...", "Save current file under a new name",
        &TMainForm::FileSaveAs);
    add("CloseItem", "&Close", "", &TMainForm::FileClose);
    fileMenu->addSeparator();
    add("FileExitItem", "E&xit", "Exit this application", &TMainForm::FileExit);
    BuildEditMenu();
}

void MainWindow::BuildControls() {
    BuildClientArea();
    BuildSpeedBar();
    BuildList();
    // Keyboard focus: the list, the buttons, then the check boxes, each in its table's order.
    std::vector<QWidget*> tabOrder = {list_};
    BuildCommandButtons(tabOrder);
    BuildCheckBoxes(tabOrder);
    BuildPreview();
    BuildStatusLine();
    for (size_t i = 0; i + 1 < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i], tabOrder[i + 1]);
    list_->setFocus();
}

void MainWindow::BuildClientArea() {
    client_ = new QWidget(this);
    client_->setObjectName("ClientArea");
    client_->setMinimumSize(ClientWidth, ClientHeight);
    setCentralWidget(client_);
    // It grows (LayOutClient), and Ctrl + wheel over the preview zooms it.
    client_->installEventFilter(this);
}

void MainWindow::BuildSpeedBar() {
    // A raised panel along the top holding the picture buttons and the filter of the list.
    speedBar_ = new QFrame(client_);
    speedBar_->setObjectName("SpeedBar");
    speedBar_->setFrameStyle(QFrame::Panel | QFrame::Raised);
    speedBar_->setGeometry(0, 0, ClientWidth, 33);
    for (const ToolButton& tool : ToolButtons) {
        auto* button = new QToolButton(speedBar_);
        button->setObjectName(tool.name);
        button->setGeometry(tool.left, 4, 25, 25);
        button->setIcon(ToolIcon(tool.picture));
        button->setIconSize(QSize(20, 20));
        // Hint "Open|": the tooltip is the short part, the long part (the status tip) is empty.
        button->setToolTip(tool.tip);
        button->setStatusTip(QString());
        button->setFocusPolicy(Qt::NoFocus);
        connect(button, &QToolButton::clicked, this, Command(this, tool.click));
        commandControls_.push_back(button);
    }
    BuildFilter(speedBar_);
}

void MainWindow::BuildList() {
    list_ = NewEntryList(client_);
    list_->setObjectName("lstDirContents");
    list_->setGeometry(8, 48, 209, 353);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setSortingEnabled(false);
    list_->setUniformItemSizes(true);
    BuildListEditing();
    // The mouse resting on a line shows what its entry is.
    list_->viewport()->installEventFilter(this);
    // Clicks (also on the line already focused) and moves with the keyboard preview the
    // focused line.
    connect(list_, &QListWidget::itemSelectionChanged, this, [this] { SchedulePreview(); });
    connect(list_, &QListWidget::clicked, this, [this] { SchedulePreview(); });
    // Return in the filter goes on to the lines it left.
    connect(findEntry_, &QLineEdit::returnPressed, list_, [this] { list_->setFocus(); });
    commandControls_.push_back(list_);
}

void MainWindow::BuildCommandButtons(std::vector<QWidget*>& tabOrder) {
    for (const CommandButton& item : CommandButtons) {
        auto* button = new QPushButton(item.caption, client_);
        button->setObjectName(item.name);
        button->setGeometry(QRect(QPoint(item.left, item.top), ButtonSize));
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, Command(this, item.click));
        commandControls_.push_back(button);
        tabOrder.push_back(button);
    }
}

void MainWindow::BuildCheckBoxes(std::vector<QWidget*>& tabOrder) {
    struct CheckBoxLayout {
        QCheckBox* MainWindow::*control;
        CheckBoxId id;
        const char* name;
        const char* caption;
        bool checked;
    };
    static constexpr CheckBoxLayout boxes[] = {
        {&MainWindow::chkCompSpr_, CheckBoxId::CompSpr, "chkCompSpr", "Compress .SPR files", true},
        {&MainWindow::chkCompImg_, CheckBoxId::CompImg, "chkCompImg", "Compress .IMG files", true},
        {&MainWindow::chkRecreateAll_, CheckBoxId::RecreateAll, "chkRecreateAll",
         "Recreate all .SPR/.IMGs", false},
        {&MainWindow::chkOpaqueImg_, CheckBoxId::OpaqueImg, "chkOpaqueImg", "Opaque .IMGs", true},
        {&MainWindow::chkPngInsteadOfBmp_, CheckBoxId::PngInsteadOfBmp, "chkPngInsteadOfBmp",
         "PNG instead of .bmp", false},
    };
    static_assert(std::size(boxes) == CheckBoxCount);
    QRect place = FirstCheckBox;
    for (const CheckBoxLayout& item : boxes) {
        auto* box = new QCheckBox(item.caption, client_);
        this->*item.control = box;
        box->setObjectName(item.name);
        box->setGeometry(place);
        place.translate(0, CheckBoxStep);
        box->setLayoutDirection(Qt::RightToLeft); // the caption left of the box
        box->setChecked(item.checked);
        // Long commands read the states off the window's thread, as each file is converted.
        std::atomic<bool>& state = checks_[static_cast<size_t>(item.id)];
        state = item.checked;
        connect(box, &QCheckBox::toggled, this, [&state](bool on) { state = on; });
        tabOrder.push_back(box);
    }
    // "Recreate all .SPR/.IMGs" is wide in most fonts: the boxes share the largest font size
    // at which every caption fits its place.
    QFont font = chkCompSpr_->font();
    for (int pixels = font.pixelSize() > 0 ? font.pixelSize() : 11; pixels >= 8; --pixels) {
        font.setPixelSize(pixels);
        bool fits = true;
        for (const CheckBoxLayout& item : boxes) {
            QCheckBox* box = this->*item.control;
            box->setFont(font);
            fits = fits && box->sizeHint().width() <= box->width();
        }
        if (fits) break;
    }
}

void MainWindow::BuildPreview() {
    // The preview is a picture painted on the window: beneath every control and taking no
    // mouse input. It sits in a transparent area that covers the client area above the status
    // line and lies beneath every other control; PlacePreview keeps the picture clear of them.
    previewArea_ = new QWidget(client_);
    previewArea_->setObjectName("PreviewArea");
    previewArea_->setGeometry(0, 0, ClientWidth, ClientHeight - StatusHeight);
    previewArea_->setAttribute(Qt::WA_TransparentForMouseEvents);
    previewArea_->lower();
    preview_ = new TSprite(previewArea_);
    preview_->setObjectName("PreviewSprite");
    preview_->setGeometry(232, 200, 65, 65);
}

void MainWindow::BuildStatusLine() {
    statusLine_ = new QStatusBar(client_);
    statusLine_->setObjectName("StatusLine");
    statusLine_->setSizeGripEnabled(false);
    statusLine_->setAutoFillBackground(true);
    statusLine_->setGeometry(0, ClientHeight - StatusHeight, ClientWidth, StatusHeight);
    status_ = new QLabel(statusLine_);
    status_->setObjectName("StatusText");
    status_->setTextFormat(Qt::PlainText);
    statusLine_->addWidget(status_, 1);
    BuildProgress(statusLine_);
}

void MainWindow::BuildDialogs() {
    openDialog_ = new QFileDialog(this);
    openDialog_->setObjectName("OpenDialog");
    openDialog_->setAcceptMode(QFileDialog::AcceptOpen);
    openDialog_->setFileMode(QFileDialog::ExistingFile);
    ConfigureFileDialog(openDialog_);
    openDialog_->setNameFilters(OpenFilters);
    openDialog_->selectNameFilter(OpenFilters[0]);

    saveDialog_ = new QFileDialog(this);
    saveDialog_->setObjectName("SaveDialog");
    saveDialog_->setAcceptMode(QFileDialog::AcceptSave);
    saveDialog_->setFileMode(QFileDialog::AnyFile);
    ConfigureFileDialog(saveDialog_);
    saveDialog_->setNameFilters(SaveFilters);
    saveDialog_->setDefaultSuffix("dir");
    saveDialog_->setOption(QFileDialog::DontConfirmOverwrite);

    addDialog_ = new QFileDialog(this, "Add files");
    addDialog_->setObjectName("AddDialog");
    addDialog_->setAcceptMode(QFileDialog::AcceptOpen);
    addDialog_->setFileMode(QFileDialog::ExistingFiles);
    ConfigureFileDialog(addDialog_);
}

void MainWindow::Guarded(const std::function<void()>& command) {
    try {
        command();
    } catch (...) {
        ShowError(std::current_exception());
    }
    // Whatever the command changed, the Edit menu says what applies now.
    UpdateEditItems();
}

void MainWindow::ShowError(std::exception_ptr error) {
    std::string message = "Unknown error";
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        message = e.what();
    } catch (...) {
    }
    form_.ShowException(message);
}

void MainWindow::SchedulePreview() {
    if (previewPending_) return;
    previewPending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            previewPending_ = false;
            Guarded([this] { form_.lstDirContentsClick(); });
        },
        Qt::QueuedConnection);
}

// --- Events ------------------------------------------------------------------------------

bool MainWindow::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip) {
        // The current hint: the long hint of the highlighted menu item or of the control under
        // the mouse. The status line follows it only when it changes, so that the messages of
        // the commands stay until then.
        const std::string hint = static_cast<QStatusTipEvent*>(event)->tip().toStdString();
        if (hint != hint_) {
            hint_ = hint;
            if (hintHandler_) Guarded(hintHandler_);
        }
        return true;
    }
    return QMainWindow::event(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    bool allowed = false;
    Guarded([this, &allowed] { allowed = form_.FormCloseQuery(); });
    if (allowed) {
        event->accept();
    } else {
        event->ignore();
    }
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (centred_) return;
    centred_ = true;
    if (QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

// --- Toolkit -----------------------------------------------------------------------------

void MainWindow::SetHintHandler(std::function<void()> handler) {
    hintHandler_ = std::move(handler);
}

NumberSeparators MainWindow::LocaleSeparators() {
    const QLocale locale;
    return {locale.decimalPoint().toStdString(), locale.groupSeparator().toStdString()};
}

void MainWindow::SetCaption(const std::string& caption) {
    setWindowTitle(DisplayText(caption));
}

void MainWindow::CloseWindow() {
    close();
}

void MainWindow::ListClear() {
    const QSignalBlocker blocker(list_);
    list_->clear();
    lines_.clear();
}

void MainWindow::ListSetLines(const std::vector<std::string>& lines) {
    const QSignalBlocker blocker(list_);
    list_->clear();
    lines_ = lines;
    QStringList shown;
    shown.reserve(static_cast<qsizetype>(lines.size()));
    // Names are 8-bit bytes: shown as UTF-8 when they are valid UTF-8 (as file managers show
    // the files extracted from them), else as Latin-1; handed back from lines_ byte for byte.
    for (const std::string& line : lines)
        shown.append(DisplayText(line));
    list_->addItems(shown);
    ApplyFilter();
}

int MainWindow::ListCount() {
    return static_cast<int>(lines_.size());
}

std::string MainWindow::ListLine(int index) {
    if (index < 0 || index >= ListCount())
        throw Error(Format("List index out of bounds (%d)", index));
    return lines_[static_cast<size_t>(index)];
}

// Line i of the list is line i of the window, whatever the filter shows: the filter only hides
// lines, so line i is still entry i. A hidden line never counts as selected, so that every
// command works on the lines the user sees selected.
bool MainWindow::ListSelected(int index) {
    if (index < 0 || index >= list_->count())
        throw Error(Format("List index out of bounds (%d)", index));
    const QListWidgetItem* item = list_->item(index);
    return item->isSelected() && !item->isHidden();
}

int MainWindow::ListSelCount() {
    int count = 0;
    for (const QListWidgetItem* item : list_->selectedItems())
        count += item->isHidden() ? 0 : 1;
    return count;
}

int MainWindow::ListFocused() {
    return list_->currentRow();
}

void MainWindow::SetStatusText(const std::string& text) {
    status_->setText(DisplayText(text));
}

bool MainWindow::IsChecked(CheckBoxId box) {
    return checks_[static_cast<size_t>(box)];
}

bool MainWindow::ExecuteOpenDialog() {
    if (openDialog_->exec() != QDialog::Accepted) return false;
    const QStringList files = openDialog_->selectedFiles();
    if (files.isEmpty()) return false;
    openFileName_ = PathBytes(files.first());
    return true;
}

int MainWindow::OpenDialogFilterIndex() {
    // With the patterns hidden, the dialog names the filter by its label alone.
    const QString selected = openDialog_->selectedNameFilter();
    for (qsizetype i = 0; i < OpenFilters.size(); ++i) {
        const QString& filter = OpenFilters[i];
        if (selected == filter || selected == filter.left(filter.indexOf(" (")))
            return static_cast<int>(i) + 1;
    }
    return 1;
}

void MainWindow::SetOpenDialogFilterIndex(int index) {
    if (index >= 1 && index <= OpenFilters.size())
        openDialog_->selectNameFilter(OpenFilters[index - 1]);
}

void MainWindow::SetOpenDialogFolder(const std::string& folder) {
    if (!folder.empty()) openDialog_->setDirectory(PathText(folder));
}

void MainWindow::ClearOpenDialogName() {
    // The name field keeps what was typed or chosen last; selecting no file leaves it alone.
    if (auto* name = openDialog_->findChild<QLineEdit*>("fileNameEdit")) name->clear();
}

void MainWindow::SetSaveDialogFolder(const std::string& folder) {
    if (!folder.empty()) saveDialog_->setDirectory(PathText(folder));
}

bool MainWindow::ExecuteSaveDialog() {
    if (saveDialog_->exec() != QDialog::Accepted) return false;
    const QStringList files = saveDialog_->selectedFiles();
    if (files.isEmpty()) return false;
    saveFileName_ = PathBytes(files.first());
    return true;
}

bool MainWindow::ExecuteAddDialog() {
    if (addDialog_->exec() != QDialog::Accepted) return false;
    addFiles_.clear();
    for (const QString& file : addDialog_->selectedFiles())
        addFiles_.push_back(PathBytes(file));
    return true;
}

bool MainWindow::ChooseSaveFile(const std::string& title, const std::string& filter,
                                const std::string& proposed, std::string& chosen) {
    QFileDialog dialog(this, DisplayText(title));
    dialog.setObjectName("SaveFileDialog");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    ConfigureFileDialog(&dialog);
    dialog.setNameFilter(DisplayText(filter));
    dialog.selectFile(PathText(proposed));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    chosen = PathBytes(dialog.selectedFiles().first());
    return true;
}

bool MainWindow::ChooseFolder(const std::string& startFolder, std::string& chosen) {
    FolderChooser chooser(this, PathText(startFolder));
    if (chooser.exec() != QDialog::Accepted) return false;
    chosen = PathBytes(chooser.Folder());
    return true;
}

MsgResult MainWindow::MessageBox(const std::string& title, const std::string& text,
                                 MsgSymbol symbol, MsgButtons buttons) {
    QMessageBox::Icon icon = QMessageBox::Critical;
    switch (symbol) {
    case MsgSymbol::Error:
        icon = QMessageBox::Critical;
        break;
    case MsgSymbol::Warning:
        icon = QMessageBox::Warning;
        break;
    case MsgSymbol::Information:
        icon = QMessageBox::Information;
        break;
    case MsgSymbol::Confirmation:
        icon = QMessageBox::Question;
        break;
    }
    QMessageBox::StandardButtons standard;
    if (buttons & mbYes) standard |= QMessageBox::Yes;
    if (buttons & mbNo) standard |= QMessageBox::No;
    if (buttons & mbOK) standard |= QMessageBox::Ok;
    if (buttons & mbCancel) standard |= QMessageBox::Cancel;
    if (standard == QMessageBox::NoButton) standard = QMessageBox::Ok;
    QMessageBox box(icon, DisplayText(title), DisplayText(text), standard, this);
    box.setTextFormat(Qt::PlainText);
    if (buttons & mbCancel) box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return MsgResult::Yes;
    case QMessageBox::No:
        return MsgResult::No;
    case QMessageBox::Ok:
        return MsgResult::OK;
    case QMessageBox::Cancel:
        return MsgResult::Cancel;
    default:
        break;
    }
    if (buttons & mbCancel) return MsgResult::Cancel;
    if (buttons & mbOK) return MsgResult::OK;
    if (buttons & mbNo) return MsgResult::No;
    return MsgResult::Yes;
}

void MainWindow::PreviewSetEntry(const std::string& fileName, TDirFile* archive) {
    preview_->FileName = fileName;
    preview_->Archive = archive;
}

bool MainWindow::PreviewShowSpriteStream(Stream* stream, bool pingPong) {
    const bool shown = preview_->ShowSpriteStream(stream, pingPong);
    SetPreviewEntry(shown ? preview_->FileName : std::string());
    PlacePreview();
    return shown;
}

bool MainWindow::PreviewShowImage(Stream* stream) {
    const bool shown = preview_->ShowImage(stream);
    if (shown) SetPreviewEntry(preview_->FileName);
    PlacePreview();
    return shown;
}

void MainWindow::PreviewClear() {
    preview_->Clear();
    SetPreviewEntry({});
}

} // namespace pelfry
