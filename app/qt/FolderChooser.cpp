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
    for (int column = 1; column < model_->columnCount(); ++column) tree_->hideColumn(column);
    tree_->setHeaderHidden(true);

    edit_ = new QLineEdit(startFolder_, this);
    edit_->setObjectName("FolderEdit");

    const QModelIndex start = model_->index(startFolder_);
    if (start.isValid()) {
        tree_->setCurrentIndex(start);
        tree_->scrollTo(start);
    }
    connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid()) edit_->setText(model_->filePath(current));
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
