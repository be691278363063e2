// The real Qt window on the offscreen platform: size and growth, places, captions, tab order,
// menu, dialogs, hints, the list's bytes and its filter, the preview wiring and its room,
// long commands off the window's thread, the error box, and the program's own options.
#include "AppTestSupport.h"

#include "app/qt/FolderChooser.h"
#include "app/qt/MainWindow.h"
#include "app/qt/SettlingWatcher.h"
#include "base/Errors.h"
#include "sprite/Sprite.h"
#include "support/System.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QTreeView>
#include <QUrl>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <clocale>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

namespace pelfry::test {
namespace {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        window = std::make_unique<MainWindow>();
        window->show();
        QCoreApplication::processEvents();
    }
    void TearDown() override {
        // Leave nothing unsaved behind, so that closing asks nothing.
        window->Form().CurrentArchive = std::make_unique<TDirFile>();
        window.reset();
    }

    template <typename T = QWidget> T* Find(const char* name) {
        T* widget = window->findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QString StatusText() { return Find<QLabel>("StatusText")->text(); }
    // Long commands end through the event loop, after their work off the window's thread.
    void WaitIdle() {
        EXPECT_TRUE(QTest::qWaitFor([this] { return !window->Form().Busy(); }, 10000));
    }
    void Open(const std::string& archive) {
        window->Form().OpenArchiveFile(archive);
        WaitIdle();
    }

    std::unique_ptr<MainWindow> window;
};

TEST_F(WindowTest, OpensAtItsFirstSizeCentredAndGrowsFromIt) {
    QWidget* client = window->centralWidget();
    ASSERT_NE(client, nullptr);
    const int menuHeight = window->menuBar()->height();
    EXPECT_GT(menuHeight, 0);
    EXPECT_EQ(client->size(), QSize(546, 435));
    EXPECT_EQ(client->geometry().topLeft(), QPoint(0, menuHeight));
    EXPECT_EQ(window->size(), QSize(546, 435 + menuHeight));
    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(window->windowTitle(), "Varn directory editor");
    // Centred on the screen.
    const QPoint screenCentre = window->screen()->availableGeometry().center();
    const QPoint windowCentre = window->frameGeometry().center();
    EXPECT_LE((screenCentre - windowCentre).manhattanLength(), 4);

    // Grown, the list takes the extra height and the status line stays at the bottom; the
    // buttons and check boxes keep their places.
    window->resize(window->size() + QSize(200, 100));
    QCoreApplication::processEvents();
    EXPECT_EQ(client->size(), QSize(746, 535));
    EXPECT_EQ(Find("SpeedBar")->geometry(), QRect(0, 0, 746, 33));
    EXPECT_EQ(Find("lstDirContents")->geometry(), QRect(8, 48, 209, 453));
    EXPECT_EQ(Find("StatusLine")->geometry(), QRect(0, 512, 746, 23));
    EXPECT_EQ(Find("btnConvAddLog")->geometry(), QRect(400, 112, 137, 25));
    EXPECT_EQ(Find("chkOpaqueImg")->geometry(), QRect(400, 192, 137, 17));
    // The first size is the least.
    window->resize(300, 200);
    QCoreApplication::processEvents();
    EXPECT_EQ(client->size(), QSize(546, 435));
}

TEST_F(WindowTest, ControlsAsPlaced) {
    struct Expected {
        const char* name;
        const char* className;
        const char* text;
        QRect place;
    };
    const Expected controls[] = {
        {"SpeedBar", "QFrame", "", {0, 0, 546, 33}},
        {"SpeedButton2", "QToolButton", "", {8, 4, 25, 25}},
        {"SpeedButton3", "QToolButton", "", {32, 4, 25, 25}},
        {"SpeedButton4", "QToolButton", "", {56, 4, 25, 25}},
        {"SpeedButton5", "QToolButton", "", {84, 4, 25, 25}},
        {"lstDirContents", "QListWidget", "", {8, 48, 209, 353}},
        {"btnExtract", "QPushButton", "Extract from directory", {232, 48, 137, 25}},
        {"btnExtrConvert", "QPushButton", "Extract and convert", {232, 80, 137, 25}},
        {"btnExtrConvLog", "QPushButton", "Extract, convert, log", {232, 112, 137, 25}},
        {"btnDelete", "QPushButton", "Delete from directory", {232, 168, 137, 25}},
        {"btnAdd", "QPushButton", "Add / Replace", {400, 48, 137, 25}},
        {"btnConvAdd", "QPushButton", "Convert and add", {400, 80, 137, 25}},
        {"btnConvAddLog", "QPushButton", "Reconstruct from log", {400, 112, 137, 25}},
        {"chkCompSpr", "QCheckBox", "Compress .SPR files", {400, 144, 137, 17}},
        {"chkCompImg", "QCheckBox", "Compress .IMG files", {400, 160, 137, 17}},
        {"chkRecreateAll", "QCheckBox", "Recreate all .SPR/.IMGs", {400, 176, 137, 17}},
        {"chkOpaqueImg", "QCheckBox", "Opaque .IMGs", {400, 192, 137, 17}},
        {"chkPngInsteadOfBmp", "QCheckBox", "PNG instead of .bmp", {400, 208, 137, 17}},
        {"PreviewSprite", "pelfry::TSprite", "", {232, 200, 65, 65}},
        {"FindEntry", "QLineEdit", "", {120, 6, 97, 21}},
        {"StatusLine", "QStatusBar", "", {0, 412, 546, 23}},
    };
    for (const Expected& c : controls) {
        QWidget* w = Find(c.name);
        if (!w) continue;
        SCOPED_TRACE(c.name);
        EXPECT_STREQ(w->metaObject()->className(), c.className);
        EXPECT_EQ(w->geometry(), c.place);
        EXPECT_TRUE(w->isEnabled());
        if (auto* button = qobject_cast<QAbstractButton*>(w); button && *c.text) {
            EXPECT_EQ(button->text(), c.text);
            // The caption fits its place.
            const int textWidth = button->fontMetrics().horizontalAdvance(button->text());
            if (qobject_cast<QCheckBox*>(w))
                EXPECT_LE(button->sizeHint().width(), c.place.width());
            else
                EXPECT_LE(textWidth + 8, c.place.width());
        }
    }
    // Tool buttons and the filter sit in the panel; everything else in the client area.
    EXPECT_EQ(Find("SpeedButton2")->parentWidget(), Find("SpeedBar"));
    EXPECT_EQ(Find<QLineEdit>("FindEntry")->placeholderText(), "Find entry");
    EXPECT_EQ(Find("lstDirContents")->parentWidget(), window->centralWidget());

    EXPECT_TRUE(Find<QCheckBox>("chkCompSpr")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("chkCompImg")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("chkRecreateAll")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("chkOpaqueImg")->isChecked());
    EXPECT_FALSE(window->IsChecked(CheckBoxId::PngInsteadOfBmp));
    EXPECT_EQ(Find("chkOpaqueImg")->layoutDirection(), Qt::RightToLeft); // caption left of the box
    EXPECT_TRUE(window->IsChecked(CheckBoxId::CompSpr));
    Find<QCheckBox>("chkRecreateAll")->setChecked(true);
    EXPECT_TRUE(window->IsChecked(CheckBoxId::RecreateAll));
    Find<QCheckBox>("chkOpaqueImg")->setChecked(false);
    EXPECT_FALSE(window->IsChecked(CheckBoxId::OpaqueImg));
    Find<QCheckBox>("chkPngInsteadOfBmp")->setChecked(true);
    EXPECT_TRUE(window->IsChecked(CheckBoxId::PngInsteadOfBmp));

    auto* list = Find<QListWidget>("lstDirContents");
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_FALSE(list->isSortingEnabled());
    EXPECT_EQ(list->count(), 0);
    window->ListSetLines({"B.IMG", "A.IMG"});
    EXPECT_EQ(list->item(0)->text(), "B.IMG"); // not sorted
    EXPECT_EQ(list->visualItemRect(list->item(0)).height(), 13);
    EXPECT_EQ(StatusText(), "");
}

TEST_F(WindowTest, TabOrderListButtonsThenCheckBoxes) {
    const QStringList expected = {
        "lstDirContents", "btnExtract",   "btnExtrConvert",    "btnExtrConvLog", "btnDelete",
        "btnAdd",         "btnConvAdd",   "btnConvAddLog",     "chkCompSpr",     "chkCompImg",
        "chkRecreateAll", "chkOpaqueImg", "chkPngInsteadOfBmp"};
    QWidget* first = Find("lstDirContents");
    QStringList order;
    QWidget* w = first;
    do {
        if ((w->focusPolicy() & Qt::TabFocus) && w->window() == window.get() && w->isVisible())
            order << w->objectName();
        w = w->nextInFocusChain();
    } while (w != first && order.size() < 50);
    EXPECT_EQ(order, expected);
    for (const char* name : {"SpeedButton2", "SpeedButton5", "PreviewSprite", "StatusLine"})
        EXPECT_FALSE(Find(name)->focusPolicy() & Qt::TabFocus) << name;
}

TEST_F(WindowTest, FileMenuItemsHintsAndNoShortcuts) {
    QMenuBar* bar = window->menuBar();
    EXPECT_EQ(bar->objectName(), "MainMenu");
    ASSERT_EQ(bar->actions().size(), 2); // File, then Edit
    QMenu* menu = bar->actions()[0]->menu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->objectName(), "FileMenu");
    EXPECT_EQ(menu->title(), "&File");
    const QList<QAction*> items = menu->actions();
    ASSERT_EQ(items.size(), 6);
    struct Item {
        const char* name;
        const char* caption;
        const char* hint;
    };
    const Item expected[] = {
        {"FileOpenItem", "&Open...", "Open an existing file"},
        {"FileSaveItem", "&Save", "Save current file"},
        {"FileSaveAsItem", "Save &As...", "Save current file under a new name"},
        {"CloseItem", "&Close", ""},
        {"", "", ""},
        {"FileExitItem", "E&xit", "Exit this application"},
    };
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        QAction* item = items[i];
        if (i == 4) {
            EXPECT_TRUE(item->isSeparator());
            continue;
        }
        EXPECT_EQ(item->objectName(), expected[i].name);
        EXPECT_EQ(item->text(), expected[i].caption);
        EXPECT_EQ(item->statusTip(), expected[i].hint);
        EXPECT_TRUE(item->shortcut().isEmpty());
        EXPECT_TRUE(item->shortcuts().isEmpty());
    }
}

TEST_F(WindowTest, ToolButtonsWithPicturesAndTooltips) {
    const std::pair<const char*, const char*> tools[] = {{"SpeedButton2", "Open"},
                                                         {"SpeedButton3", "Save"},
                                                         {"SpeedButton4", "Save As"},
                                                         {"SpeedButton5", "Exit"}};
    QList<QImage> pictures;
    for (const auto& [name, tip] : tools) {
        SCOPED_TRACE(name);
        auto* button = Find<QToolButton>(name);
        EXPECT_EQ(button->toolTip(), tip);
        EXPECT_EQ(button->statusTip(), ""); // the hint's long part is empty
        EXPECT_EQ(button->iconSize(), QSize(20, 20));
        const QIcon icon = button->icon();
        const QImage normal = icon.pixmap(QSize(20, 20), QIcon::Normal).toImage();
        const QImage greyed = icon.pixmap(QSize(20, 20), QIcon::Disabled).toImage();
        EXPECT_EQ(normal.size(), QSize(20, 20));
        EXPECT_EQ(greyed.size(), QSize(20, 20));
        EXPECT_NE(normal, greyed);
        // The greyed picture has no colour.
        bool grey = true;
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 20; ++x) {
                const QRgb p = greyed.pixel(x, y);
                if (qAlpha(p) > 0 && (qRed(p) != qGreen(p) || qGreen(p) != qBlue(p))) grey = false;
            }
        EXPECT_TRUE(grey);
        pictures << normal;
    }
    for (int i = 0; i < pictures.size(); ++i)
        for (int j = i + 1; j < pictures.size(); ++j)
            EXPECT_NE(pictures[i], pictures[j]);
}

TEST_F(WindowTest, DialogsAsConfigured) {
    auto* open = Find<QFileDialog>("OpenDialog");
    auto* save = Find<QFileDialog>("SaveDialog");
    auto* add = Find<QFileDialog>("AddDialog");
    ASSERT_TRUE(open && save && add);

    EXPECT_EQ(open->acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(open->fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(open->nameFilters(),
              (QStringList{"Sprite directory (*.DIR)", "Sprite file (*.SPR)", "Bitmap (*.BMP)",
                           "Image file (*.IMG)", "Directory log (*.DIR.TXT)"}));
    EXPECT_EQ(window->OpenDialogFilterIndex(), 1);
    window->SetOpenDialogFilterIndex(5);
    EXPECT_EQ(window->OpenDialogFilterIndex(), 5);
    EXPECT_TRUE(open->selectedNameFilter().startsWith("Directory log"));
    window->SetOpenDialogFilterIndex(3);
    EXPECT_EQ(window->OpenDialogFilterIndex(), 3);
    EXPECT_TRUE(open->testOption(QFileDialog::HideNameFilterDetails));
    window->SetOpenDialogFilterIndex(1);

    EXPECT_EQ(save->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(save->nameFilters(),
              (QStringList{"Sprite directory (*.DIR)", "Sprite file (*.SPR)", "Bitmap (*.BMP)"}));
    EXPECT_EQ(save->defaultSuffix(), "dir");
    EXPECT_TRUE(save->testOption(QFileDialog::DontConfirmOverwrite));

    EXPECT_EQ(add->windowTitle(), "Add files");
    EXPECT_EQ(add->fileMode(), QFileDialog::ExistingFiles);
    EXPECT_EQ(add->acceptMode(), QFileDialog::AcceptOpen);

    for (QFileDialog* dialog : {open, save, add})
        EXPECT_FALSE(dialog->filter() & QDir::CaseSensitive);
}

TEST_F(WindowTest, OpenDialogShowsMatchingNamesInAnyCase) {
    TempDir dir;
    for (const char* name : {"GFX.DIR", "low.dir", "Mixed.Dir", "notes.txt"})
        WriteWholeFile(dir / name, {1});
    auto* open = Find<QFileDialog>("OpenDialog");
    open->setDirectory(QString::fromStdString(dir.Path()));
    auto* model = open->findChild<QFileSystemModel*>();
    ASSERT_NE(model, nullptr);
    const QModelIndex folder = model->index(QString::fromStdString(dir.Path()));
    // The model reads the folder in the background.
    for (int i = 0; i < 200 && model->rowCount(folder) < 3; ++i) {
        QCoreApplication::processEvents();
        QTest::qSleep(10);
    }
    QStringList shown;
    for (int row = 0; row < model->rowCount(folder); ++row)
        shown << model->index(row, 0, folder).data().toString();
    shown.sort();
    EXPECT_EQ(shown, (QStringList{"GFX.DIR", "Mixed.Dir", "low.dir"}));
}

TEST_F(WindowTest, StatusLineShowsTheCurrentHint) {
    QStatusTipEvent hint("Open an existing file");
    QApplication::sendEvent(window.get(), &hint);
    EXPECT_EQ(window->ApplicationHint(), "Open an existing file");
    EXPECT_EQ(StatusText(), "Open an existing file");
    QStatusTipEvent none("");
    QApplication::sendEvent(window.get(), &none);
    EXPECT_EQ(StatusText(), "");
    // A command's message stays while the hint does not change.
    window->SetStatusText("3 file(s) in directory");
    QApplication::sendEvent(window.get(), &none);
    EXPECT_EQ(StatusText(), "3 file(s) in directory");

    // Highlighting a menu item of the menu bar's File menu shows its hint.
    QMenu* menu = window->menuBar()->actions()[0]->menu();
    window->menuBar()->setActiveAction(window->menuBar()->actions()[0]);
    QCoreApplication::processEvents();
    menu->setActiveAction(menu->actions()[2]);
    QCoreApplication::processEvents();
    EXPECT_EQ(StatusText(), "Save current file under a new name");
    menu->close();
    QCoreApplication::processEvents();
}

TEST_F(WindowTest, ListKeepsTheBytesOfEveryName) {
    const std::vector<std::string> names = {"b\xE9.spr", "\xFF\x80.IMG", "plain",
                                            "\xC3\x89T\xC3\x89.IMG"};
    window->ListSetLines(names);
    auto* list = Find<QListWidget>("lstDirContents");
    ASSERT_EQ(list->count(), 4);
    // Shown as UTF-8 when the bytes are valid UTF-8, else as Latin-1.
    EXPECT_EQ(list->item(0)->text(), QString::fromUtf8("b\u00E9.spr"));
    EXPECT_EQ(list->item(1)->text(), QString::fromUtf8("\u00FF\u0080.IMG"));
    EXPECT_EQ(list->item(3)->text(), QString::fromUtf8("\u00C9T\u00C9.IMG"));
    EXPECT_EQ(window->ListCount(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(window->ListLine(i), names[static_cast<size_t>(i)]);
    EXPECT_THROW(window->ListLine(4), Error);
    EXPECT_EQ(window->ListLines(), names);

    list->item(0)->setSelected(true);
    list->item(2)->setSelected(true);
    list->setCurrentRow(2, QItemSelectionModel::NoUpdate);
    EXPECT_EQ(window->ListSelCount(), 2);
    EXPECT_TRUE(window->ListSelected(0));
    EXPECT_FALSE(window->ListSelected(1));
    EXPECT_EQ(window->ListFocused(), 2);
    window->ListClear();
    EXPECT_EQ(window->ListCount(), 0);
    EXPECT_EQ(window->ListFocused(), -1);
}

// A name typed over a Latin-1 one goes back to Latin-1: the letters the user did not touch keep
// their bytes, and one Latin-1 cannot hold is refused.
TEST(NameBytes, TakeTheEncodingOfTheNameEdited) {
    const QString typed = QString::fromUtf8("\u00C9CRAN2.IMG");
    const std::string latin = "\xC9", utf8 = "\xC3\x89"; // É in each
    EXPECT_EQ(NameBytes(typed, latin + "CRAN.IMG"), latin + "CRAN2.IMG");
    EXPECT_EQ(NameBytes(typed, utf8 + "CRAN.IMG"), utf8 + "CRAN2.IMG");
    EXPECT_EQ(NameBytes(typed, "plain"), utf8 + "CRAN2.IMG");
    EXPECT_THROW(NameBytes(QString::fromUtf8("\u20AC.IMG"), latin + ".IMG"), Error);
}

TEST_F(WindowTest, KeyboardAndMousePreviewTheFocusedEntry) {
    TempDir dir;
    WriteArchive(dir, "P.DIR",
                 {{"walk.spr", SpriteBytes(3, 25, 0, 20, 16)},
                  {"STILL.IMG", ImageBytes(7, 5)},
                  {"notes.txt", {'x'}}});
    TMainForm& form = window->Form();
    form.CurrentArchive = TDirFile::Create(dir / "P.DIR", true);
    std::vector<std::string> names;
    form.CurrentArchive->ListEntries(names);
    window->ListSetLines(names);

    auto* list = Find<QListWidget>("lstDirContents");
    auto* preview = Find<TSprite>("PreviewSprite");
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down);
    if (list->currentRow() != 0) QTest::keyClick(list, Qt::Key_Down);
    QCoreApplication::processEvents();
    ASSERT_EQ(list->currentRow(), 0);
    EXPECT_EQ(preview->FileName, "walk.spr");
    EXPECT_EQ(preview->Archive, form.CurrentArchive.get());
    EXPECT_EQ(preview->geometry(), QRect(232, 200, 20, 16));
    EXPECT_TRUE(preview->TimerActive());

    QTest::keyClick(list, Qt::Key_Down);
    QCoreApplication::processEvents();
    EXPECT_EQ(preview->FileName, "STILL.IMG");
    EXPECT_EQ(preview->geometry(), QRect(232, 200, 7, 5));
    EXPECT_FALSE(preview->TimerActive());

    // Another kind names the entry and leaves the picture.
    QTest::keyClick(list, Qt::Key_Down);
    QCoreApplication::processEvents();
    EXPECT_EQ(preview->FileName, "notes.txt");
    EXPECT_EQ(preview->size(), QSize(7, 5));

    // A click, and a control-click that adds a line: the line clicked last is shown.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(1)).center());
    QCoreApplication::processEvents();
    EXPECT_EQ(preview->FileName, "STILL.IMG");
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      list->visualItemRect(list->item(0)).center());
    QCoreApplication::processEvents();
    EXPECT_EQ(window->ListSelCount(), 2);
    EXPECT_EQ(preview->FileName, "walk.spr");
    EXPECT_EQ(preview->size(), QSize(20, 16));

    // Changing the list from a command previews nothing by itself.
    window->ListSetLines(names);
    QCoreApplication::processEvents();
    EXPECT_EQ(preview->FileName, "walk.spr");
}

TEST_F(WindowTest, PicturesAreShownWholeAndNothingCoversThem) {
    TempDir dir;
    // Wider than the room beside the check boxes, taller than the room below them.
    WriteArchive(
        dir, "P.DIR",
        {{"BIG.IMG", MakeImage(320, 300).SaveToBytes(false)}, {"DOT.IMG", ImageBytes(16, 10)}});
    Open(dir / "P.DIR");
    auto* list = Find<QListWidget>("lstDirContents");
    auto* preview = Find<TSprite>("PreviewSprite");
    QWidget* client = window->centralWidget();
    auto show = [&](int row) {
        list->setCurrentRow(row);
        QCoreApplication::processEvents();
        return preview->geometry();
    };
    // Below the lowest check box (bottom 224) down to the list's bottom (401), at 176 / 300.
    EXPECT_EQ(show(0), QRect(232, 225, 187, 176));
    EXPECT_DOUBLE_EQ(PreviewScale({320, 300}, {306, 176}, 1), 176.0 / 300);
    // No control lies on the picture, and what the window shows there is the picture.
    for (QWidget* control : client->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (control->objectName() != "PreviewArea") {
            EXPECT_FALSE(control->geometry().intersects(preview->geometry()))
                << control->objectName().toStdString();
        }
    }
    const QImage drawn = preview->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(client->grab(preview->geometry()).toImage().convertToFormat(QImage::Format_RGB32),
              drawn);

    // A small picture keeps the preview's first corner; Ctrl + wheel over the room zooms it in
    // whole steps up to 8x, as far as it fits.
    EXPECT_EQ(show(1), QRect(232, 200, 16, 10));
    auto wheel = [&](int delta) {
        QWheelEvent event(QPointF(300, 300), client->mapToGlobal(QPointF(300, 300)), {}, {0, delta},
                          Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(client, &event);
    };
    wheel(120);
    EXPECT_EQ(preview->geometry(), QRect(232, 200, 32, 20));
    EXPECT_EQ(StatusText(), "16 x 10 shown at 2x");
    for (int i = 0; i < 9; ++i)
        wheel(120);
    EXPECT_EQ(preview->size(), QSize(128, 80));
    wheel(-120);
    EXPECT_EQ(preview->size(), QSize(112, 70));
    // The zoom text goes with its entry; a message written since stays.
    show(0);
    EXPECT_EQ(StatusText(), "");
    wheel(-120);
    window->SetStatusText("Extracted 1 file(s)");
    show(1);
    EXPECT_EQ(StatusText(), "Extracted 1 file(s)");

    // In a larger window the large picture has room at its own size.
    window->resize(window->size() + QSize(300, 200));
    QCoreApplication::processEvents();
    EXPECT_EQ(show(0), QRect(232, 225, 320, 300));
}

// The C library's numbers in German, as Qt sets them up under LANG=de_DE.UTF-8, and Qt's own.
class GermanLocale {
public:
    // Windows names its locales otherwise.
    static constexpr const char* Name = OnWindows ? "German_Germany.1252" : "de_DE.UTF-8";

    GermanLocale() : saved_(std::setlocale(LC_ALL, nullptr)) {
        Active = std::setlocale(LC_ALL, Name) != nullptr;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    }
    ~GermanLocale() {
        std::setlocale(LC_ALL, saved_.c_str());
        QLocale::setDefault(savedQt_);
    }
    bool Active = false;

private:
    std::string saved_;
    QLocale savedQt_;
};

TEST_F(WindowTest, ElapsedTimeUnderAGermanLocale) {
    GermanLocale german;
    ASSERT_TRUE(german.Active) << "the locale " << GermanLocale::Name
                               << " is missing (tools/install-deps.sh makes it)";
    auto* add = Find<QFileDialog>("AddDialog");
    QTimer::singleShot(0, add, [add] { add->reject(); });
    Find<QPushButton>("btnConvAdd")->click();
    // A fraction of a second, in days: "1,15740740740741E-5" is one second.
    const QString text = StatusText();
    EXPECT_TRUE(QRegularExpression("^Converted and added 0 file\\(s\\) in time \\d(,\\d+)?E-\\d+$")
                    .match(text)
                    .hasMatch())
        << text.toStdString();
}

TEST_F(WindowTest, DialogsStartInTheArchivesFolderElseWhereTheyWereLast) {
    TempDir dir;
    ForceDirectories(dir / "games");
    ForceDirectories(dir / "elsewhere");
    WriteArchive(dir, "games/GFX.DIR", {{"A.PAL", {1}}});
    auto* open = Find<QFileDialog>("OpenDialog");
    auto* save = Find<QFileDialog>("SaveDialog");
    QString shown;
    auto cancel = [&shown](QFileDialog* dialog) {
        QTimer::singleShot(0, dialog, [dialog, &shown] {
            shown = dialog->directory().absolutePath();
            dialog->reject();
        });
    };
    const QString games = QString::fromStdString(dir / "games");
    const QString elsewhere = QString::fromStdString(dir / "elsewhere");

    open->setDirectory(elsewhere);
    cancel(open);
    window->Form().FileOpen();
    EXPECT_EQ(shown, elsewhere);

    Open(dir / "games/GFX.DIR");
    cancel(open);
    window->Form().FileOpen();
    EXPECT_EQ(shown, games);
    save->setDirectory(elsewhere);
    cancel(save);
    window->Form().FileSaveAs();
    EXPECT_EQ(shown, games);

    // A log is looked for with the name field empty.
    auto* name = open->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(name, nullptr);
    name->setText("GFX.DIR");
    window->ClearOpenDialogName();
    EXPECT_EQ(name->text(), "");
}

TEST_F(WindowTest, RestingOnALineShowsWhatItsEntryIs) {
    TempDir dir;
    WriteArchive(dir, "P.DIR",
                 {{"PIC.IMG", ImageBytes(3, 2)}, {"\xC3\x89T\xC3\x89.IMG", {'b', 'a', 'd'}}});
    Open(dir / "P.DIR");
    auto* list = Find<QListWidget>("lstDirContents");
    auto hover = [&](QPoint at) {
        QHelpEvent help(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
        QApplication::sendEvent(list->viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    EXPECT_EQ(hover(list->visualItemRect(list->item(0)).center()),
              QString::fromStdString("Image, 3 x 2, 4 colours, uncompressed, " +
                                     std::to_string(ImageBytes(3, 2).size()) + " bytes"));
    EXPECT_EQ(hover(list->visualItemRect(list->item(1)).center()), "not a valid image, 3 bytes");
    // Below the last line the tooltip goes (after the toolkit's short delay).
    hover(QPoint(5, list->viewport()->height() - 5));
    EXPECT_TRUE(QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 5000));
}

TEST_F(WindowTest, DroppedFilesAreCopiedAndHandled) {
    TempDir dir;
    // A name outside ASCII: its path reaches the program as UTF-8 whatever the code page.
    const std::string name = "GR\u00DC\u00C9.DIR";
    WriteArchive(dir, name, {{"A.PAL", {1}}, {"B.PAL", {2}}});
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QString::fromStdString(dir / name))});
    // Over the list, which takes drags of its own lines too.
    QWidget* list = Find<QListWidget>("lstDirContents")->viewport();
    const QPoint at(20, 20);
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &files, Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(list, &enter);
    EXPECT_TRUE(enter.isAccepted());
    // Never a move: the program the files come from would delete them.
    EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
    QDropEvent drop(QPointF(at), Qt::CopyAction | Qt::MoveAction, &files, Qt::LeftButton,
                    Qt::NoModifier);
    QApplication::sendEvent(list, &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_EQ(drop.dropAction(), Qt::CopyAction);
    QCoreApplication::processEvents(); // the drop is handled once it has been answered
    WaitIdle();
    EXPECT_EQ(window->Form().CurrentFileName, dir / name);
    EXPECT_EQ(window->ListCount(), 2);

    // Text, or files that can only be moved, are not taken.
    QMimeData text;
    text.setText("GFX.DIR");
    QDragEnterEvent textEnter(at, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list, &textEnter);
    EXPECT_FALSE(textEnter.isAccepted());
    QDragEnterEvent moveOnly(at, Qt::MoveAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list, &moveOnly);
    EXPECT_FALSE(moveOnly.isAccepted());
}

// Answers the next modal box: records it and presses `button`.
struct BoxSeen {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};
// Runs `answer` on the next modal dialog of type T once it is shown (a long command shows its
// error box only when its work has ended).
template <typename T> void AnswerNextModal(std::function<void(T*)> answer) {
    auto* timer = new QTimer;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    QObject::connect(timer, &QTimer::timeout, [timer, answer, deadline] {
        auto* dialog = dynamic_cast<T*>(QApplication::activeModalWidget());
        if (!dialog && std::chrono::steady_clock::now() < deadline) return;
        timer->stop();
        timer->deleteLater();
        if (dialog)
            answer(dialog);
        else
            ADD_FAILURE() << "no " << typeid(T).name() << " shown";
    });
    timer->start(5);
}

void AnswerNextBox(BoxSeen& seen, QMessageBox::StandardButton button) {
    AnswerNextModal<QMessageBox>([&seen, button](QMessageBox* box) {
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        seen.buttons = box->standardButtons();
        box->button(button)->click();
    });
}

TEST_F(WindowTest, ErrorsEscapingACommandAreShownAndTheProgramGoesOn) {
    BoxSeen seen;
    AnswerNextBox(seen, QMessageBox::Ok);
    window->Guarded([] { throw FileOpenError("/games/GFX.DIR"); });
    EXPECT_EQ(seen.title, "Pelfry");
    EXPECT_EQ(seen.text, "Cannot open file /games/GFX.DIR.");
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
    EXPECT_EQ(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

    AnswerNextBox(seen, QMessageBox::Ok);
    window->Guarded([] { throw std::runtime_error("Too many colours in image!"); });
    EXPECT_EQ(seen.text, "Too many colours in image!");
    EXPECT_TRUE(window->isVisible());
}

TEST_F(WindowTest, ClosingWithUnsavedChangesAsks) {
    TempDir dir;
    WriteWholeFile(dir / "A.PAL", {1, 2});
    int32_t index = -1;
    window->Form().CurrentArchive->AddFile(dir.Path(), "A.PAL", index);

    BoxSeen seen;
    AnswerNextBox(seen, QMessageBox::Cancel);
    window->close();
    EXPECT_EQ(seen.text, "Save changes to the new directory?");
    EXPECT_EQ(seen.icon, QMessageBox::Question);
    EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    EXPECT_TRUE(window->isVisible());

    AnswerNextBox(seen, QMessageBox::No);
    window->close();
    EXPECT_FALSE(window->isVisible());
}

TEST_F(WindowTest, ArchiveFromTheCommandLineFailsAsOpenWould) {
    TempDir dir;
    BoxSeen seen;
    AnswerNextBox(seen, QMessageBox::Ok);
    window->OpenAtStart(dir / "no/such/GFX.DIR");
    EXPECT_TRUE(QTest::qWaitFor([&seen] { return !seen.title.isEmpty(); }, 10000));
    EXPECT_EQ(seen.title, "Pelfry");
    EXPECT_EQ(seen.text.toStdString(), "Cannot open file " + dir / "no/such/GFX.DIR.");
    EXPECT_EQ(window->windowTitle(), "Varn directory editor");

    // Named relative to the folder the program started in, it is shown by its full path.
    WriteArchive(dir, "GAME.DIR", {{"A.PAL", {1}}});
    const std::filesystem::path started = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    window->OpenAtStart("GAME.DIR");
    WaitIdle();
    std::filesystem::current_path(started);
    EXPECT_EQ(window->windowTitle().toStdString(), "Varn directory editor : " + dir / "GAME.DIR");
}

TEST_F(WindowTest, CaptionAndStatusShowPathsAndNames) {
    window->SetCaption("Varn directory editor : /home/j\xC3\xB6rg/GFX.DIR");
    EXPECT_EQ(window->windowTitle(),
              QString::fromUtf8("Varn directory editor : /home/j\u00F6rg/GFX.DIR"));
    window->SetStatusText("Processing file 1 of 2: b\xE9.spr");
    EXPECT_EQ(StatusText(), QString::fromUtf8("Processing file 1 of 2: b\u00E9.spr"));
}

// A window whose long commands wait before each file until the test lets that file go: a slow
// step on the worker's thread.
class SlowWindow : public MainWindow {
public:
    ~SlowWindow() override { Allow(1 << 30); }
    void ShowProgress(int number, int total, const std::string& text) override {
        MainWindow::ShowProgress(number, total, text);
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return allowed_ >= number; });
    }
    // Lets the files up to `number` go.
    void Allow(int number) {
        const std::lock_guard lock(mutex_);
        allowed_ = number;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int allowed_ = 0;
};

void AnswerFolder(const std::string& folder) {
    AnswerNextModal<FolderChooser>([folder](FolderChooser* chooser) {
        chooser->findChild<QLineEdit*>("FolderEdit")->setText(QString::fromStdString(folder));
        chooser->accept();
    });
}

TEST_F(WindowTest, LongCommandShowsProgressAnswersAndCancelsBetweenFiles) {
    window.reset();
    auto* slow = new SlowWindow;
    window.reset(slow);
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    TempDir dir;
    WriteArchive(
        dir, "P.DIR",
        {{"walk.spr", SpriteBytes(3, 50, 0)}, {"a.bin", {1}}, {"b.bin", {2}}, {"c.bin", {3}}});
    Open(dir / "P.DIR");
    auto* list = Find<QListWidget>("lstDirContents");
    auto* preview = Find<TSprite>("PreviewSprite");
    list->setCurrentRow(0);
    QCoreApplication::processEvents();
    list->selectAll();
    AnswerFolder(dir / "out");
    Find<QPushButton>("btnExtract")->click();
    ASSERT_TRUE(window->Form().Busy());

    // The first file done, the worker waits at the second: the window shows it and answers.
    slow->Allow(1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return StatusText() == "Processing file 2 of 4: a.bin"; }));
    auto* bar = Find<QProgressBar>("Progress");
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->maximum(), 4);
    EXPECT_EQ(bar->value(), 1);
    for (const char* name :
         {"btnExtract", "btnConvAddLog", "SpeedButton2", "lstDirContents", "FindEntry"})
        EXPECT_FALSE(Find(name)->isEnabled()) << name;
    for (QAction* item : window->menuBar()->actions()[0]->menu()->actions())
        EXPECT_TRUE(item->isSeparator() || !item->isEnabled()) << item->text().toStdString();
    auto* cancel = Find<QPushButton>("btnCancel");
    EXPECT_TRUE(cancel->isVisible() && cancel->isEnabled());
    const int frame = preview->FrameIndex();
    EXPECT_TRUE(QTest::qWaitFor([&] { return preview->FrameIndex() != frame; }))
        << "the preview plays on";

    // Closing asks whether to stop the command; No goes on.
    BoxSeen seen;
    AnswerNextBox(seen, QMessageBox::No);
    window->close();
    EXPECT_EQ(seen.text, "A command is still running. Stop it and close the window?");
    EXPECT_TRUE(window->isVisible());

    // Escape cancels: the file under way is finished, the next one is not begun.
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window.get(), Qt::Key_Escape);
    // (A button's shortcut clicks it once it has been seen pressed.)
    EXPECT_TRUE(QTest::qWaitFor([&] { return !cancel->isEnabled(); }));
    slow->Allow(4);
    WaitIdle();
    EXPECT_EQ(StatusText(), "Cancelled after 2 of 4 file(s)");
    EXPECT_TRUE(FileExists(dir / "out/a.bin"));
    EXPECT_FALSE(FileExists(dir / "out/b.bin"));
    EXPECT_TRUE(Find("btnExtract")->isEnabled());
    EXPECT_FALSE(bar->isVisible() || cancel->isVisible());

    // Yes to the question: the command stops, then the window closes.
    slow->Allow(0);
    list->selectAll();
    AnswerFolder(dir / "out2");
    Find<QPushButton>("btnExtract")->click();
    // (The worker waits at the first file before the question, however slowly it starts.)
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return StatusText() == "Processing file 1 of 4: walk.spr"; }));
    AnswerNextBox(seen, QMessageBox::Yes);
    window->close();
    EXPECT_TRUE(window->isVisible());
    slow->Allow(4);
    WaitIdle();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(FileExists(dir / "out2/walk.spr"));
    EXPECT_FALSE(FileExists(dir / "out2/a.bin"));
}

// A long command asked of the toolkit while one runs starts only once that one has finished.
TEST_F(WindowTest, ALongCommandAskedForWhileOneRunsWaitsForIt) {
    std::atomic<bool> release{false}, secondDone{false}, secondAfterFirst{false};
    bool firstDone = false;
    window->RunInBackground(
        false,
        [&] {
            while (!release)
                std::this_thread::yield();
        },
        [&](std::exception_ptr) { firstDone = true; });
    window->RunInBackground(
        false, [&] { secondAfterFirst = firstDone; },
        [&](std::exception_ptr) { secondDone = true; });
    release = true;
    EXPECT_TRUE(QTest::qWaitFor([&] { return secondDone.load(); }, 10000));
    EXPECT_TRUE(secondAfterFirst);
}

TEST_F(WindowTest, FilterShowsMatchingLinesAndCommandsTakeTheirEntries) {
    TempDir dir;
    WriteArchive(dir, "F.DIR",
                 {{"HERO.SPR", {1}},
                  {"castle.img", {2}},
                  {"superhero.pal", {3}},
                  {"Hero2.bin", {4}},
                  {"x.bin", {5}}});
    Open(dir / "F.DIR");
    auto* list = Find<QListWidget>("lstDirContents");
    auto* find = Find<QLineEdit>("FindEntry");
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window.get(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ(QApplication::focusWidget(), find);
    QTest::keyClicks(find, "hEro");
    auto shown = [&] {
        std::vector<int> rows;
        for (int i = 0; i < list->count(); ++i)
            if (!list->item(i)->isHidden()) rows.push_back(i);
        return rows;
    };
    EXPECT_EQ(shown(), (std::vector<int>{0, 2, 3}));

    // Every line shown, selected: Delete takes exactly their entries.
    list->selectAll();
    EXPECT_EQ(window->ListSelCount(), 3);
    Find<QPushButton>("btnDelete")->click();
    WaitIdle();
    std::vector<std::string> names;
    window->Form().CurrentArchive->ListEntries(names);
    EXPECT_EQ(names, (std::vector<std::string>{"x.bin", "castle.img"}));
    EXPECT_TRUE(shown().empty()) << "the new lines are filtered too";
    find->clear();
    EXPECT_EQ(shown(), (std::vector<int>{0, 1}));

    // Extract takes the entry of the one line shown.
    QTest::keyClicks(find, "CAST");
    list->selectAll();
    AnswerFolder(dir / "out");
    Find<QPushButton>("btnExtract")->click();
    WaitIdle();
    EXPECT_EQ(StatusText(), "Extracted 1 file(s)");
    EXPECT_TRUE(FileExists(dir / "out/castle.img"));
    EXPECT_FALSE(FileExists(dir / "out/x.bin"));
}

TEST_F(WindowTest, EditMenuAppliesWhereItCanAndF2RenamesInPlace) {
    TempDir dir;
    WriteArchive(dir, "E.DIR", {{"A.IMG", {1}}, {"B.PAL", {2}}});
    Open(dir / "E.DIR");
    QMenu* edit = window->menuBar()->actions()[1]->menu();
    EXPECT_EQ(edit->title(), "&Edit");
    auto* undo = Find<QAction>("EditUndoItem");
    auto* rename = Find<QAction>("EditRenameItem");
    auto* up = Find<QAction>("EditMoveUpItem");
    EXPECT_EQ(Find<QAction>("EditRedoItem")->shortcuts(),
              (QList<QKeySequence>{QKeySequence("Ctrl+Shift+Z"), QKeySequence("Ctrl+Y")}));
    EXPECT_EQ(rename->shortcut(), QKeySequence(Qt::Key_F2));
    EXPECT_FALSE(undo->isEnabled());
    EXPECT_FALSE(rename->isEnabled()); // nothing selected

    auto* list = Find<QListWidget>("lstDirContents");
    list->setCurrentRow(1);
    EXPECT_TRUE(rename->isEnabled());
    EXPECT_TRUE(up->isEnabled());
    EXPECT_FALSE(Find<QAction>("EditMoveDownItem")->isEnabled());

    // F2 edits the line; Escape leaves it, Enter takes the typed name.
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    auto typeName = [&](const char* name, Qt::Key end) {
        QTest::keyClick(list, Qt::Key_F2);
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        ASSERT_NE(editor, nullptr);
        editor->selectAll();
        QTest::keyClicks(editor, name);
        QTest::keyClick(editor, end);
        // The editor's commit follows, then the window's rename.
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    };
    typeName("Y.PAL", Qt::Key_Escape);
    EXPECT_EQ(list->item(1)->text(), "B.PAL");
    typeName("C.PAL", Qt::Key_Return);
    EXPECT_EQ(list->item(1)->text(), "C.PAL");
    EXPECT_EQ(window->Form().CurrentArchive->Files()[1].Name, "C.PAL");
    EXPECT_EQ(StatusText(), "Renamed B.PAL to C.PAL");
    EXPECT_EQ(undo->text(), "&Undo rename of B.PAL to C.PAL");
    QTest::keyClick(list, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(list->item(1)->text(), "B.PAL");
    EXPECT_FALSE(undo->isEnabled());
}

// An editor that saves by writing a new file and renaming it over the old one leaves the system's
// watch on a file that is gone: it is put back on the new file, so that a later save written in
// place (which the folder's watch does not see) settles too.
TEST(SettlingWatcher, FollowsAFileThroughRenamesOverIt) {
    TempDir dir;
    const std::string file = dir / "ICON.IMG.png";
    WriteWholeFile(file, {0});
    std::vector<std::string> settled;
    SettlingWatcher watcher(
        nullptr, [&](const std::string& f) { settled.push_back(f); }, 50);
    watcher.Watch(file);
    for (int save = 1; save <= 4; ++save) {
        SCOPED_TRACE(save);
        settled.clear();
        if (save % 2 == 1) {
            WriteWholeFile(file + ".new", {static_cast<uint8_t>(save)});
            std::filesystem::rename(file + ".new", file);
        } else {
            std::ofstream(file, std::ios::binary | std::ios::app) << "in place";
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return !settled.empty(); }, 5000));
        EXPECT_EQ(settled.front(), file);
    }
}

// The program answers --help and --version where there is no display at all.
TEST(Program, HelpAndVersionNeedNoDisplay) {
    const char* variables[] = {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"};
    std::vector<std::pair<std::string, QByteArray>> saved;
    for (const char* name : variables) {
        saved.emplace_back(name, qgetenv(name));
        SetEnvironment(name, nullptr);
    }
    TempDir dir;
    const std::pair<const char*, std::string> cases[] = {
        {"--help", StartUsage}, {"--version", "pelfry " PELFRY_VERSION "\n"}};
    for (const auto& [option, expected] : cases) {
        SCOPED_TRACE(option);
        ChildProcess program({std::string(PELFRY_BIN_DIR) + "/pelfry", option}, dir / "out",
                             dir / "err");
        EXPECT_EQ(program.Wait(), 0);
        const std::vector<uint8_t> out = ReadWholeFile(dir / "out");
        EXPECT_EQ(std::string(out.begin(), out.end()), expected);
    }
    for (const auto& [name, value] : saved)
        SetEnvironment(name, value.isNull() ? nullptr : value.constData());
}

TEST(FolderChooser, CreatesATypedFolderWithItsParents) {
    TempDir dir;
    FolderChooser chooser(nullptr, QString::fromStdString(dir.Path()));
    auto* edit = chooser.findChild<QLineEdit*>("FolderEdit");
    ASSERT_NE(edit, nullptr);
    // As users know it: its title, and the field Alt+F reaches.
    EXPECT_EQ(chooser.windowTitle(), "Select Directory");
    auto* label = chooser.findChild<QLabel*>();
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), "&Folder:");
    EXPECT_EQ(label->buddy(), edit);
    EXPECT_EQ(edit->text().toStdString() + "/", dir.Path());
    // Typing goes to the folder line and replaces the folder it shows, not to the tree.
    EXPECT_EQ(chooser.focusWidget(), edit);
    EXPECT_EQ(edit->selectedText(), edit->text());

    QString error;
    edit->setText(QString::fromStdString(dir / "new/deeper/"));
    ASSERT_TRUE(chooser.TakeTypedFolder(error)) << error.toStdString();
    EXPECT_TRUE(std::filesystem::is_directory(dir / "new/deeper"));
    EXPECT_EQ(chooser.Folder().toStdString(), dir / "new/deeper"); // no trailing separator

    // A relative name counts from the folder the chooser started in.
    edit->setText("rel");
    ASSERT_TRUE(chooser.TakeTypedFolder(error));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "rel"));

    edit->setText("/");
    ASSERT_TRUE(chooser.TakeTypedFolder(error));
    EXPECT_EQ(chooser.Folder(), QDir::rootPath()); // on Windows, the system drive's

    // A folder that cannot be made under a file is refused.
    WriteWholeFile(dir / "file", {1});
    edit->setText(QString::fromStdString(dir / "file/sub"));
    EXPECT_FALSE(chooser.TakeTypedFolder(error));
    EXPECT_FALSE(error.isEmpty());
}

} // namespace
} // namespace pelfry::test

namespace pelfry::test {
namespace {

TEST(FolderChooser, OpensWithItsStartFolderSelectedAndInView) {
    TempDir dir;
    // Enough folders beside it that the start folder lies far down the tree.
    for (int i = 10; i < 70; ++i)
        ForceDirectories(dir / ("f" + std::to_string(i)));
    const QString start = QString::fromStdString(dir / "f65");
    FolderChooser chooser(nullptr, start);
    chooser.show();
    auto* tree = chooser.findChild<QTreeView*>("FolderTree");
    ASSERT_NE(tree, nullptr);
    auto* model = qobject_cast<QFileSystemModel*>(tree->model());
    ASSERT_NE(model, nullptr);
    ASSERT_TRUE(model->index(start).isValid());
    // The tree reads folders in the background, moving rows as they arrive; the chooser keeps
    // its folder in view.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const QModelIndex index = model->index(start);
            return model->rowCount(index.parent()) == 60 &&
                   tree->viewport()->rect().contains(tree->visualRect(index));
        },
        10000));
    const QModelIndex index = model->index(start);
    EXPECT_EQ(tree->currentIndex(), index);
    EXPECT_TRUE(tree->selectionModel()->isSelected(index));

    // A folder still to be made: its nearest existing parent is shown, the line keeps it.
    const QString typed = QString::fromStdString(dir / "f12/new/deeper");
    FolderChooser later(nullptr, typed);
    auto* laterTree = later.findChild<QTreeView*>("FolderTree");
    auto* laterModel = qobject_cast<QFileSystemModel*>(laterTree->model());
    EXPECT_EQ(laterModel->filePath(laterTree->currentIndex()), QString::fromStdString(dir / "f12"));
    EXPECT_EQ(later.findChild<QLineEdit*>("FolderEdit")->text(), typed);
}

} // namespace
} // namespace pelfry::test
