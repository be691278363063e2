#include "app/qt/FolderChooser.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTreeView>
#include <QVBoxLayout>

namespace pelfry {

FolderChooser::FolderChooser(QWidget* parent, const QString& startFolder)
    : QDialog(parent), startFolder_(QDir::cleanPath(QDir(startFolder).absolutePath())) {
    setObjectName("FolderChooser");
    setWindowTitle("Select Directory");
    setSizeGripEnabled(true);

    model_ = new QFileSystemModel(this);
    model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Hidden);
    model_->setRootPath(QDir::rootPath());

    tree_ = new QTreeView(this);
    tree_->setObjectName("FolderTree");
    tree_->setModel(model_);
    for (int column = 1; column < model_->columnCount(); ++column)
        tree_->hideColumn(column);
    tree_->setHeaderHidden(true);

    edit_ = new QLineEdit(startFolder_, this);
    edit_->setObjectName("FolderEdit");

    // A start folder that does not exist yet is shown at its nearest existing parent.
    shownFolder_ = startFolder_;
    while (!QFileInfo(shownFolder_).isDir() && shownFolder_ != QDir::rootPath())
        shownFolder_ = QFileInfo(shownFolder_).absolutePath();
    ShowStartFolder();
    // The model reads folders in the background; rows that arrive move the start folder, so
    // it is brought back into view as they do.
    connect(model_, &QFileSystemModel::directoryLoaded, this, [this] { ShowStartFolder(); });
    connect(model_, &QFileSystemModel::layoutChanged, this, [this] { ShowStartFolder(); });
    connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid() && !selectingStart_)
                    edit_->setText(model_->filePath(current));
            });

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { accept(); });
    connect(buttons, &QDialogButtonBox::rejected, this, [this] { reject(); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tree_);
    layout->addWidget(new QLabel("&Folder:", this));
    layout->addWidget(edit_);
    layout->addWidget(buttons);
    static_cast<QLabel*>(layout->itemAt(1)->widget())->setBuddy(edit_);
    resize(420, 380);
    // The folder is usually typed: keystrokes go to the folder line, replacing what it shows,
    // instead of searching the tree (which would move the choice to whatever matched).
    edit_->selectAll();
    edit_->setFocus();
}

void FolderChooser::ShowStartFolder() {
    const QModelIndex start = model_->index(shownFolder_);
    if (!start.isValid()) return;
    const QModelIndex current = tree_->currentIndex();
    if (current.isValid() && current != start) return; // the user has moved on
    if (!current.isValid()) {
        // Selecting it here leaves the folder line as it is (it shows the start folder, which
        // may not exist yet).
        selectingStart_ = true;
        tree_->setCurrentIndex(start);
        selectingStart_ = false;
    }
    tree_->scrollTo(start, QAbstractItemView::PositionAtCenter);
}

void FolderChooser::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    ShowStartFolder();
}

bool FolderChooser::TakeTypedFolder(QString& error) {
    const QString typed = edit_->text().trimmed();
    if (typed.isEmpty()) {
        error = "No folder given";
        return false;
    }
    const QString path = QDir::cleanPath(QDir(startFolder_).absoluteFilePath(typed));
    const QFileInfo info(path);
    if (!info.isDir() && !QDir().mkpath(path)) {
        error = QString("Cannot create folder %1").arg(path);
        return false;
    }
    folder_ = path;
    return true;
}

void FolderChooser::accept() {
    QString error;
    if (!TakeTypedFolder(error)) {
        QMessageBox::critical(this, windowTitle(), error);
        return;
    }
    QDialog::accept();
}

} // namespace pelfry
