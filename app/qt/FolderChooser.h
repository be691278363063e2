// The folder chooser of the extraction commands: pick a folder in the tree or type one; a
// typed folder that does not exist yet is created, with any missing parents, on OK.
#pragma once

#include <QDialog>
#include <QString>

class QFileSystemModel;
class QLineEdit;
class QTreeView;

namespace pelfry {

class FolderChooser : public QDialog {
public:
    FolderChooser(QWidget* parent, const QString& startFolder);

    // The chosen folder as an absolute path without a trailing separator (except the root).
    QString Folder() const { return folder_; }

    // Takes the typed folder (relative names count from the start folder), creating it when
    // it is missing. False with `error` set when it cannot be made.
    bool TakeTypedFolder(QString& error);

    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Selects the start folder (or its nearest existing parent) in the tree and scrolls it
    // into view, while the user has not chosen another.
    void ShowStartFolder();

    QString startFolder_;
    QString folder_;
    QString shownFolder_; // the start folder or its nearest existing parent
    bool selectingStart_ = false;
    QLineEdit* edit_ = nullptr;
    QTreeView* tree_ = nullptr;
    QFileSystemModel* model_ = nullptr;
};

} // namespace pelfry
