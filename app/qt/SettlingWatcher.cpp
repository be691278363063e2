#include "app/qt/SettlingWatcher.h"

#include "app/qt/MainWindow.h"

#include <QFileInfo>
#include <QTimer>

namespace pelfry {

SettlingWatcher::SettlingWatcher(QObject* parent,
                                 std::function<void(const std::string& file)> settled, int settleMs)
    : QObject(parent), watcher_(this), settled_(std::move(settled)), settleMs_(settleMs) {
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this,
            [this](const QString& file) { Changed(file); });
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this,
            [this](const QString& folder) { FolderChanged(folder); });
}

void SettlingWatcher::Watch(const std::string& file) {
    const QString path = PathText(file);
    if (files_.count(path)) return;
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    timer->setInterval(settleMs_);
    connect(timer, &QTimer::timeout, this, [this, path] {
        // An editor that deleted the file to make it again may have made it by now.
        Rearm(path);
        settled_(PathBytes(path));
    });
    files_[path] = timer;
    watcher_.addPath(path);
    watcher_.addPath(QFileInfo(path).absolutePath());
}

void SettlingWatcher::Unwatch(const std::string& file) {
    const QString path = PathText(file);
    const auto found = files_.find(path);
    if (found == files_.end()) return;
    // Also from the timer's own timeout, when the form stops a watch it was told of.
    found->second->stop();
    found->second->deleteLater();
    files_.erase(found);
    watcher_.removePath(path);
    // The folder stays watched while another file of it is.
    const QString folder = QFileInfo(path).absolutePath();
    for (const auto& [other, timer] : files_)
        if (QFileInfo(other).absolutePath() == folder) return;
    watcher_.removePath(folder);
}

void SettlingWatcher::Rearm(const QString& file) {
    if (files_.count(file) && !watcher_.files().contains(file) && QFileInfo::exists(file))
        watcher_.addPath(file);
}

void SettlingWatcher::Changed(const QString& file) {
    const auto found = files_.find(file);
    if (found == files_.end()) return;
    Rearm(file);
    found->second->start();
}

void SettlingWatcher::FolderChanged(const QString& folder) {
    for (const auto& [file, timer] : files_)
        if (QFileInfo(file).absolutePath() == folder) {
            Rearm(file);
            timer->start();
        }
}

} // namespace pelfry
