// The real Qt window on the offscreen platform: size, places, captions, tab order, menu,
// dialogs, hints, the list's bytes, the preview wiring and the error box.
#include "AppTestSupport.h"

#include "app/qt/FolderChooser.h"
#include "app/qt/MainWindow.h"
#include "platform/Errors.h"
#include "sprite/Sprite.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <filesystem>

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

    template <typename T = QWidget>
    T* Find(const char* name) {
        T* widget = window->findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QString StatusText() { return Find<QLabel>("StatusText")->text(); }

    std::unique_ptr<MainWindow> window;
};

TEST_F(WindowTest, FixedClientAreaBelowTheMenuBar) {
    QWidget* client = window->centralWidget();
    ASSERT_NE(client, nullptr);
    const int menuHeight = window->menuBar()->height();
    EXPECT_GT(menuHeight, 0);
    EXPECT_EQ(client->size(), QSize(546, 435));
    EXPECT_EQ(client->geometry().topLeft(), QPoint(0, menuHeight));
    EXPECT_EQ(window->size(), QSize(546, 435 + menuHeight));
    // Not resizable.
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(window->windowTitle(), "Varn directory editor");
    // Centred on the screen.
    const QPoint screenCentre = window->screen()->availableGeometry().center();
    const QPoint windowCentre = window->frameGeometry().center();
    EXPECT_LE((screenCentre - windowCentre).manhattanLength(), 4);
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
        {"PreviewSprite", "pelfry::TSprite", "", {232, 200, 65, 65}},
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
    // Tool buttons sit in the panel; everything else in the client area.
    EXPECT_EQ(Find("SpeedButton2")->parentWidget(), Find("SpeedBar"));
    EXPECT_EQ(Find("lstDirContents")->parentWidget(), window->centralWidget());

    EXPECT_TRUE(Find<QCheckBox>("chkCompSpr")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("chkCompImg")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("chkRecreateAll")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("chkOpaqueImg")->isChecked());
    EXPECT_EQ(Find("chkOpaqueImg")->layoutDirection(), Qt::RightToLeft); // caption left of the box
    EXPECT_TRUE(window->IsChecked(CheckBoxId::CompSpr));
    Find<QCheckBox>("chkRecreateAll")->setChecked(true);
    EXPECT_TRUE(window->IsChecked(CheckBoxId::RecreateAll));
    Find<QCheckBox>("chkOpaqueImg")->setChecked(false);
    EXPECT_FALSE(window->IsChecked(CheckBoxId::OpaqueImg));

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
    const QStringList expected = {"lstDirContents", "btnExtract",  "btnExtrConvert", "btnExtrConvLog",
                                  "btnDelete",      "btnAdd",      "btnConvAdd",     "btnConvAddLog",
                                  "chkCompSpr",     "chkCompImg",  "chkRecreateAll", "chkOpaqueImg"};
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
    ASSERT_EQ(bar->actions().size(), 1);
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
    const std::pair<const char*, const char*> tools[] = {
        {"SpeedButton2", "Open"}, {"SpeedButton3", "Save"}, {"SpeedButton4", "Save As"}, {"SpeedButton5", "Exit"}};
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
        for (int j = i + 1; j < pictures.size(); ++j) EXPECT_NE(pictures[i], pictures[j]);
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

    for (QFileDialog* dialog : {open, save, add}) EXPECT_FALSE(dialog->filter() & QDir::CaseSensitive);
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
    const std::vector<std::string> names = {"b\xE9.spr", "\xFF\x80.IMG", "plain"};
    window->ListSetLines(names);
    auto* list = Find<QListWidget>("lstDirContents");
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->item(0)->text(), QString::fromUtf8("b\u00E9.spr"));
    EXPECT_EQ(list->item(1)->text(), QString::fromUtf8("\u00FF\u0080.IMG"));
    EXPECT_EQ(window->ListCount(), 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(window->ListLine(i), names[static_cast<size_t>(i)]);
    EXPECT_THROW(window->ListLine(3), Error);
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

TEST_F(WindowTest, KeyboardAndMousePreviewTheFocusedEntry) {
    TempDir dir;
    WriteArchive(dir, "P.DIR", {{"walk.spr", SpriteBytes(3, 25, 0, 20, 16)},
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
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1)).center());
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

// Answers the next modal box: records it and presses `button`.
struct BoxSeen {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};
void AnswerNextBox(BoxSeen& seen, QMessageBox::StandardButton button) {
    QTimer::singleShot(0, [&seen, button] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            ADD_FAILURE() << "no message box";
            return;
        }
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

TEST_F(WindowTest, CaptionAndStatusShowPathsAndNames) {
    window->SetCaption("Varn directory editor : /home/j\xC3\xB6rg/GFX.DIR");
    EXPECT_EQ(window->windowTitle(), QString::fromUtf8("Varn directory editor : /home/j\u00F6rg/GFX.DIR"));
    window->SetStatusText("Processing file 1 of 2: b\xE9.spr");
    EXPECT_EQ(StatusText(), QString::fromUtf8("Processing file 1 of 2: b\u00E9.spr"));
}

TEST(FolderChooser, CreatesATypedFolderWithItsParents) {
    TempDir dir;
    FolderChooser chooser(nullptr, QString::fromStdString(dir.Path()));
    auto* edit = chooser.findChild<QLineEdit*>("FolderEdit");
    ASSERT_NE(edit, nullptr);
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
    EXPECT_EQ(chooser.Folder(), "/");

    // A folder that cannot be made under a file is refused.
    WriteWholeFile(dir / "file", {1});
    edit->setText(QString::fromStdString(dir / "file/sub"));
    EXPECT_FALSE(chooser.TakeTypedFolder(error));
    EXPECT_FALSE(error.isEmpty());
}

} // namespace
} // namespace pelfry::test
