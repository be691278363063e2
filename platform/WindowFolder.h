// A folder of one editor window's own, for the files it hands to other programs: pictures open in
// the user's picture editor, entries dragged out of the list. Only the user may read it (on
// POSIX systems its mode is 0700; on Windows it lies in the user's own temporary folder and takes
// its permissions). While the window lives the folder carries a mark that goes with the process
// however it ends, as the replacing writer's temporaries do (TempFiles.h): an flock on the folder
// on POSIX systems, an open handle that lets nobody delete it on Windows. A window killed before
// it could remove its folder leaves one that no process marks, which the next window to start
// removes; the folders of windows still running are left alone.
#pragma once

#include <memory>
#include <string>

namespace pelfry {

class WindowFolder {
public:
    // Makes the folder "pelfry-window-" and eight letters or digits in `parent` (an existing
    // folder; the system's temporary folder unless told), and marks it. FileCreateError naming
    // the folder when it cannot be made.
    explicit WindowFolder(const std::string& parent);
    // Removes the folder and everything in it, links removed and never followed. What cannot be
    // removed (on Windows, a file another program holds open) stays for the next window's start
    // to remove, the mark being gone.
    ~WindowFolder();
    WindowFolder(const WindowFolder&) = delete;
    WindowFolder& operator=(const WindowFolder&) = delete;

    // The folder, ending in "/".
    const std::string& Path() const { return path_; }

private:
    struct Mark;
    struct MarkDeleter {
        void operator()(Mark* mark) const;
    };
    std::string path_;
    std::unique_ptr<Mark, MarkDeleter> mark_;
};

// Removes, in `parent`, the window folders that no live process marks: those of windows that
// were killed. Nothing named otherwise is touched, and nothing below them is followed through a
// link. Failures are passed over: a folder that cannot be removed now is tried at a later start.
void RemoveDeadWindowFolders(const std::string& parent);

} // namespace pelfry
