// Files watched until they stop changing: the window's watch on the pictures open in the user's
// picture editor. Editors save in many ways: writing the file in place, writing a new file and
// renaming it over the old one, deleting it and making it again. The file and its folder are
// both watched, so that all of them are seen; a watch the system dropped with a replaced file is
// put back on the new one. Each change starts the file's settling time again; once it has
// passed without a change, the file is told settled.
#pragma once

#include <QFileSystemWatcher>
#include <QObject>

#include <functional>
#include <map>
#include <string>

class QTimer;

namespace pelfry {

class SettlingWatcher : public QObject {
public:
    // `settled` hears each watched file (its path as given) once it has stopped changing for
    // `settleMs` milliseconds, on the thread of the watcher.
    SettlingWatcher(QObject* parent, std::function<void(const std::string& file)> settled,
                    int settleMs = 400);

    void Watch(const std::string& file);
    // Nothing more is told of `file`, not even a change waiting to settle.
    void Unwatch(const std::string& file);

private:
    // A change of the file `file`: its watch is put back when the system dropped it, and its
    // settling time starts again.
    void Changed(const QString& file);
    // A change in the folder `folder`: a file of it may have been replaced or made again.
    void FolderChanged(const QString& folder);
    // Puts the watch back on `file` when it stands again and the system dropped it.
    void Rearm(const QString& file);

    QFileSystemWatcher watcher_;
    std::function<void(const std::string&)> settled_;
    int settleMs_;
    std::map<QString, QTimer*> files_; // each watched file and its settling timer
};

} // namespace pelfry
