// The window as a desktop program: the archive named on the command line, files dropped on
// the window, the details of the entry under the mouse in the list's tooltip, and the files
// handed to the user's picture editor, watched until each save has settled.
#include "app/qt/MainWindow.h"

#include "app/qt/PictureEditor.h"
#include "app/qt/SettlingWatcher.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHelpEvent>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QToolTip>
#include <QUrl>

namespace pelfry {

namespace {

// The local files a drag carries; empty when it carries anything else.
std::vector<std::string> DraggedFiles(const QMimeData* data) {
    std::vector<std::string> files;
    if (!data || !data->hasUrls()) return files;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile()) return {};
        files.push_back(PathBytes(url.toLocalFile()));
    }
    return files;
}

// Files are only ever copied from a drag: a move would let the program they come from delete
// them once dropped.
bool TakeAsCopy(QDropEvent* event) {
    if (!(event->possibleActions() & Qt::CopyAction) || DraggedFiles(event->mimeData()).empty())
        return false;
    event->setDropAction(Qt::CopyAction);
    event->accept();
    return true;
}

} // namespace

void MainWindow::OpenAtStart(const std::string& file) {
    // A name given relative to the folder the program started in (as file managers may give
    // it) is taken as its full path: the caption shows it, and the dialogs start beside it.
    const std::string path = PathBytes(QFileInfo(PathText(file)).absoluteFilePath());
    Guarded([this, &path] { form_.OpenStartFile(path); });
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == client_) return ClientEvent(event) || QMainWindow::eventFilter(watched, event);
    if (watched == list_->viewport() &&
        (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove ||
         event->type() == QEvent::Drop))
        return ListDragEvent(event);
    if (watched == list_->viewport() && event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = list_->indexAt(help->pos());
        std::string details;
        try {
            if (index.isValid()) details = form_.EntryDetails(index.row());
            // The entry on show tells at what scale.
            if (!details.empty() && lines_[static_cast<size_t>(index.row())] == previewEntry_)
                details += "; shown at " + PreviewScaleText();
        } catch (...) {
            // An entry that cannot be read now has no details; resting the mouse on its line
            // is no command, and shows no error.
        }
        if (details.empty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), DisplayText(details), list_->viewport(),
                               list_->visualRect(index));
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

// While a long command runs nothing is taken: the archive is its work's. Nor are the list's own
// lines dragged out of it and back onto the window: they are in the archive already, and asking
// for their files would write them.
void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!form_.Busy() && event->source() != list_) TakeAsCopy(event);
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event) {
    if (!form_.Busy() && event->source() != list_) TakeAsCopy(event);
}

void MainWindow::dropEvent(QDropEvent* event) {
    if (form_.Busy() || event->source() == list_ || !TakeAsCopy(event)) return;
    // The drop is answered at once and handled afterwards: its question and message boxes
    // must not keep the program the files come from waiting.
    QMetaObject::invokeMethod(
        this,
        [this, files = DraggedFiles(event->mimeData())] {
            Guarded([this, &files] { form_.DropFiles(files); });
        },
        Qt::QueuedConnection);
}

void MainWindow::ShowNotice(const std::string& text) {
    // One notice at a time, beside the window, which goes on working: a box that waited for an
    // answer would hold back every later save.
    if (!notice_) {
        notice_ = new QMessageBox(QMessageBox::Warning, "Pelfry", QString(), QMessageBox::Ok, this);
        notice_->setObjectName("Notice");
        notice_->setWindowModality(Qt::NonModal);
        notice_->setTextFormat(Qt::PlainText);
        notice_->setAttribute(Qt::WA_DeleteOnClose);
        notice_->setAttribute(Qt::WA_ShowWithoutActivating);
    }
    notice_->setText(DisplayText(text));
    notice_->show();
}

bool MainWindow::OpenInPictureEditor(const std::string& file) {
    return pelfry::OpenInPictureEditor(PathText(file));
}

void MainWindow::WatchFile(const std::string& file) {
    if (!watcher_)
        watcher_ = new SettlingWatcher(this, [this](const std::string& settled) {
            Guarded([&] { form_.EditedFileSettled(settled); });
        });
    watcher_->Watch(file);
}

void MainWindow::UnwatchFile(const std::string& file) {
    if (watcher_) watcher_->Unwatch(file);
}

} // namespace pelfry
