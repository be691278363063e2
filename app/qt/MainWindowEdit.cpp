// The window's Edit menu and the editing the entry list does itself: a name edited in place
// (F2), lines dragged to another place or out of the window, entries opened in the picture
// editor (Ctrl+E, a double click, Enter), and the list's context menu. What each does is
// TMainForm's (app/MainEdit.cpp); here it is wired to Qt.
#include "app/qt/MainWindow.h"

#include "app/qt/PictureEditor.h"

#include <QAction>
#include <QDrag>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QUrl>

namespace pelfry {

namespace {

constexpr int ListItemHeight = 13;

// Lines of the entry list are 13 pixels high. A name edited in place is handed to `renamed`
// when the edit is taken (Enter, or the focus leaving it), never written into the line: the
// window decides, and shows the archive's names.
class EntryDelegate : public QStyledItemDelegate {
public:
    EntryDelegate(QObject* parent, std::function<void(int row, const QString& text)> renamed)
        : QStyledItemDelegate(parent), renamed_(std::move(renamed)) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(), ListItemHeight};
    }
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex&) const override {
        // Taller than the line, so that the typed text is not cut off.
        editor->setGeometry(option.rect.adjusted(0, -3, 0, 3));
    }
    void setModelData(QWidget* editor, QAbstractItemModel*,
                      const QModelIndex& index) const override {
        if (auto* line = qobject_cast<QLineEdit*>(editor)) renamed_(index.row(), line->text());
    }

private:
    std::function<void(int, const QString&)> renamed_;
};

// What a drag of the list's lines carries: the lines, for a drop on the list itself, which moves
// them; and the entries as files for other programs, written only once one asks for them, so
// that a move within the list writes nothing.
class EntryDragData : public QMimeData {
public:
    explicit EntryDragData(std::function<std::vector<std::string>()> files)
        : files_(std::move(files)) {}
    QStringList formats() const override {
        QStringList formats = QMimeData::formats();
        if (!formats.contains(UriList)) formats << UriList;
        return formats;
    }

protected:
    QVariant retrieveData(const QString& format, QMetaType type) const override {
        if (format == UriList && files_) {
            QList<QUrl> urls;
            for (const std::string& file : std::exchange(files_, nullptr)())
                urls << QUrl::fromLocalFile(PathText(file));
            const_cast<EntryDragData*>(this)->setUrls(urls);
        }
        return QMimeData::retrieveData(format, type);
    }

private:
    static inline const QString UriList = "text/uri-list";
    mutable std::function<std::vector<std::string>()> files_;
};

// The entry list. Its lines are dragged as copies: a program that took them as a move would have
// the list drop them, out of step with the archive; a drop on the list itself moves the entries.
class EntryList : public QListWidget {
public:
    EntryList(QWidget* parent, std::function<std::vector<std::string>()> files)
        : QListWidget(parent), files_(std::move(files)) {}

protected:
    void startDrag(Qt::DropActions) override {
        const QModelIndexList lines = selectedIndexes();
        if (lines.isEmpty()) return;
        const std::unique_ptr<QMimeData> own(model()->mimeData(lines));
        auto* data = new EntryDragData(files_);
        for (const QString& format : own->formats())
            data->setData(format, own->data(format));
        auto* drag = new QDrag(this);
        drag->setMimeData(data);
        drag->exec(Qt::CopyAction);
    }

private:
    std::function<std::vector<std::string>()> files_;
};

// The Edit menu's items, in order; Undo and Redo name the step they take.
struct EditItem {
    const char* name;
    const char* caption;
    QList<QKeySequence> keys;
    const char* hint;
    void (TMainForm::*command)();
};

const EditItem EditItems[] = {
    {"EditInEditorItem",
     "&Edit in picture editor",
     {QKeySequence(Qt::CTRL | Qt::Key_E)},
     "Open the selected pictures in your picture editor; every save there comes back",
     &TMainForm::EditInPictureEditor},
    {"EditUndoItem",
     "&Undo",
     {QKeySequence(Qt::CTRL | Qt::Key_Z)},
     "Undo the last change to the directory",
     &TMainForm::EditUndo},
    {"EditRedoItem",
     "&Redo",
     {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)},
     "Redo the change last undone",
     &TMainForm::EditRedo},
    {"EditRenameItem",
     "Re&name",
     {QKeySequence(Qt::Key_F2)},
     "Rename the selected entry",
     &TMainForm::EditRename},
    {"EditMoveUpItem",
     "Move &up",
     {QKeySequence(Qt::ALT | Qt::Key_Up)},
     "Move the selected entries one place up",
     &TMainForm::EditMoveUp},
    {"EditMoveDownItem",
     "Move &down",
     {QKeySequence(Qt::ALT | Qt::Key_Down)},
     "Move the selected entries one place down",
     &TMainForm::EditMoveDown},
};

// A menu caption for `text` with its first letter as the access key; entry names may hold "&".
QString Caption(const std::string& text) {
    return "&" + DisplayText(text).replace("&", "&&");
}

} // namespace

QListWidget* MainWindow::NewEntryList(QWidget* parent) {
    return new EntryList(parent, [this] { return DraggedEntries(); });
}

std::vector<std::string> MainWindow::DraggedEntries() {
    try {
        return form_.FilesForDrag();
    } catch (...) {
        // Not in the middle of the drag: the box would wait for an answer the drop waits for.
        QMetaObject::invokeMethod(
            this, [this, error = std::current_exception()] { ShowError(error); },
            Qt::QueuedConnection);
        return {};
    }
}

void MainWindow::BuildEditMenu() {
    QMenu* menu = menuBar()->addMenu("&Edit");
    menu->setObjectName("EditMenu");
    for (const EditItem& item : EditItems) {
        QAction* action = menu->addAction(item.caption);
        action->setObjectName(item.name);
        action->setShortcuts(item.keys);
        action->setStatusTip(item.hint);
        const auto command = item.command;
        connect(action, &QAction::triggered, this,
                [this, command] { Guarded([this, command] { (form_.*command)(); }); });
        editItems_.push_back(action);
        if (item.command == &TMainForm::EditInPictureEditor || item.command == &TMainForm::EditRedo)
            menu->addSeparator();
    }
    menu->addSeparator();
    QAction* choose = menu->addAction("&Picture editor\xE2\x80\xA6");
    choose->setObjectName("EditPictureEditorItem");
    choose->setStatusTip("Choose the program that Edit in picture editor opens pictures in");
    connect(choose, &QAction::triggered, this, [this] { PictureEditorDialog(this).exec(); });
    connect(menu, &QMenu::aboutToShow, this, [this] { UpdateEditItems(); });
}

void MainWindow::BuildListEditing() {
    list_->setItemDelegate(new EntryDelegate(list_, [this](int row, const QString& text) {
        // After the editor has closed: the list is then filled again.
        QMetaObject::invokeMethod(
            this,
            [this, row, text] {
                if (row >= ListCount() || text == DisplayText(lines_[static_cast<size_t>(row)]))
                    return;
                Guarded([&] {
                    form_.RenameLine(row, NameBytes(text, lines_[static_cast<size_t>(row)]));
                });
            },
            Qt::QueuedConnection);
    }));
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Selected lines are dragged to another place; files dragged in from outside are still
    // opened or added (eventFilter).
    list_->setDragEnabled(true);
    list_->setAcceptDrops(true);
    list_->setDragDropMode(QAbstractItemView::DragDrop);
    list_->setDropIndicatorShown(true);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { ShowListMenu(at); });
    connect(list_, &QListWidget::itemSelectionChanged, this, [this] { UpdateEditItems(); });
    // A double click or Enter on a line opens it in the picture editor; Enter in the line being
    // renamed takes the name instead, its editor having the focus.
    auto edit = [this] { Guarded([this] { form_.EditInPictureEditor(); }); };
    connect(list_, &QListWidget::doubleClicked, this, edit);
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter})
        connect(new QShortcut(QKeySequence(key), list_, nullptr, nullptr, Qt::WidgetShortcut),
                &QShortcut::activated, this, edit);
}

void MainWindow::UpdateEditItems() {
    if (editItems_.empty()) return;
    const TMainForm::EditState state = form_.EditCommands();
    const bool enabled[] = {state.CanEditInEditor, state.CanUndo,   state.CanRedo,
                            state.CanRename,       state.CanMoveUp, state.CanMoveDown};
    static_assert(std::size(enabled) == std::size(EditItems));
    for (size_t i = 0; i < editItems_.size(); ++i)
        editItems_[i]->setEnabled(enabled[i]);
    editItems_[1]->setText(Caption(state.Undo));
    editItems_[2]->setText(Caption(state.Redo));
}

void MainWindow::ShowListMenu(const QPoint& at) {
    UpdateEditItems();
    QMenu menu(this);
    menu.setObjectName("ListMenu");
    for (QAction* item : editItems_) {
        menu.addAction(item);
        if (item == editItems_[0] || item == editItems_[2]) menu.addSeparator();
    }
    menu.addSeparator();
    // The buttons that work on the selected entries.
    for (const char* name : {"btnExtract", "btnExtrConvert", "btnDelete"}) {
        auto* button = findChild<QPushButton*>(name);
        QAction* action = menu.addAction(button->text(), button, &QPushButton::click);
        action->setEnabled(button->isEnabled());
    }
    // What the form offers for the entry under the mouse alone.
    std::vector<TMainForm::EntryCommand> commands;
    Guarded([&] { commands = form_.EntryMenu(list_->indexAt(at).row()); });
    if (!commands.empty()) menu.addSeparator();
    for (const TMainForm::EntryCommand& command : commands) {
        QAction* action = menu.addAction(DisplayText(command.Caption));
        connect(action, &QAction::triggered, this, [this, run = command.Run] { Guarded(run); });
    }
    menu.exec(list_->viewport()->mapToGlobal(at));
}

bool MainWindow::ListDragEvent(QEvent* event) {
    auto* drop = static_cast<QDropEvent*>(event);
    if (drop->source() != list_) {
        // Files from outside, as anywhere on the window.
        if (event->type() == QEvent::Drop)
            dropEvent(drop);
        else
            dragMoveEvent(static_cast<QDragMoveEvent*>(event));
        return true;
    }
    // The list shows where the lines would go; they are moved by the archive, not by the list,
    // which is filled again afterwards.
    if (event->type() != QEvent::Drop) return false;
    const QPoint at = drop->position().toPoint();
    const QModelIndex index = list_->indexAt(at);
    int line = list_->count();
    if (index.isValid())
        line = index.row() + (at.y() > list_->visualRect(index).center().y() ? 1 : 0);
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
    QMetaObject::invokeMethod(
        this, [this, line] { Guarded([&] { form_.MoveSelectedTo(line); }); }, Qt::QueuedConnection);
    return true;
}

void MainWindow::ListSelect(const std::vector<int>& lines) {
    // The preview follows the user's clicks and keys, not the window's own selection: an entry
    // renamed to another kind is shown only when the user goes to it.
    const QSignalBlocker blocker(list_);
    // One selection of runs of lines, not a signal for each line.
    QItemSelection selection;
    QAbstractItemModel* model = list_->model();
    for (size_t i = 0; i < lines.size();) {
        size_t end = i + 1;
        while (end < lines.size() && lines[end] == lines[end - 1] + 1)
            ++end;
        selection.select(model->index(lines[i], 0), model->index(lines[end - 1], 0));
        i = end;
    }
    list_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    if (lines.empty()) return;
    QListWidgetItem* last = list_->item(lines.back());
    list_->setCurrentItem(last, QItemSelectionModel::NoUpdate);
    list_->scrollToItem(last);
}

void MainWindow::ListEditLine(int index) {
    QListWidgetItem* item = list_->item(index);
    if (!item) return;
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    list_->setCurrentItem(item, QItemSelectionModel::NoUpdate);
    list_->scrollToItem(item);
    list_->editItem(item);
}

} // namespace pelfry
