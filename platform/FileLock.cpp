// The writers' lock, the same on every system over the two calls each system makes its own
// way (FileLock_posix.cpp, FileLock_win.cpp): making a missing file, and waiting for the lock.
#include "FileLock.h"

#include "FileUtil.h"

namespace pelfry {

static bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.Exists && b.Exists && a.Device == b.Device && a.Inode == b.Inode;
}

FileLock::FileLock(const std::string& path, bool createMissing) : path_(path) {
    FileIdentity made; // the empty file this lock created, if any
    for (;;) {
        if (createMissing && !IdentifyFile(path).Exists) {
            const FileIdentity now = MakeEmptyFile(path);
            if (now.Exists) made = now;
        }
        file_ = std::make_unique<FileStream>(path, FileStream::Mode::OpenRead);
        LockForWriting(*file_, path);
        const FileIdentity locked = IdentifyOpenFile(*file_);
        if (SameFile(locked, IdentifyFile(path))) {
            created_ = SameFile(locked, made);
            return;
        }
        // Replaced (or removed) while we waited: the lock is on a file nobody will read again.
        file_.reset();
    }
}

FileLock::~FileLock() {
    // Still the empty file we made: the command that wanted it did not save.
    if (created_) {
        const FileIdentity now = IdentifyFile(path_);
        if (SameFile(now, IdentifyOpenFile(*file_)) && now.Size == 0) DeleteFile(path_);
    }
    file_.reset(); // closing releases the lock
}

} // namespace pelfry
