// The writers' lock, the same on every system over the two calls each system makes its own
// way (FileLock_posix.cpp, FileLock_win.cpp): making a missing file, and waiting for the lock.
#include "FileLock.h"

#include "Errors.h"
#include "FileUtil.h"

#include <chrono>
#include <thread>

namespace pelfry {

static bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.Exists && b.Exists && a.Device == b.Device && a.Inode == b.Inode;
}

// Where the system puts a new file in place in two steps (the old one moved aside, then the
// new one renamed in: wine, Windows before 10, or a target held open), the name stands empty,
// or the file refuses to be opened, for a moment. A file that was there a moment ago, or that
// another writer is replacing, is looked for again for a while before it counts as missing;
// and once another writer was seen at work, no empty file is made in its way.
static constexpr int LooksForAMomentarilyMissingFile = 500; // one every millisecond

FileLock::FileLock(const std::string& path, bool createMissing) : path_(path) {
    FileIdentity made;     // the empty file this lock created, if any
    bool replaced = false; // the file locked was replaced while we waited
    for (int looks = 0;;) {
        const bool there = IdentifyFile(path).Exists;
        if (createMissing && !there && !replaced) {
            const FileIdentity now = MakeEmptyFile(path);
            if (now.Exists) made = now;
        }
        try {
            file_ = std::make_unique<FileStream>(path, FileStream::Mode::OpenRead);
        } catch (const FileOpenError&) {
            const bool mayComeBack = there || createMissing || replaced;
            if (!mayComeBack || ++looks > LooksForAMomentarilyMissingFile) throw;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        LockForWriting(*file_, path);
        const FileIdentity locked = IdentifyOpenFile(*file_);
        if (SameFile(locked, IdentifyFile(path))) {
            created_ = SameFile(locked, made);
            return;
        }
        // Replaced (or removed) while we waited: the lock is on a file nobody will read again.
        file_.reset();
        replaced = true;
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
