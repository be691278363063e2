// The writers' lock, the same on every system over the calls each system makes its own way
// (FileLock_posix.cpp, FileLock_win.cpp): locking a file, and locking the name of a file that
// does not exist yet.
#include "FileLock.h"

#include "FileStream.h"
#include "FileUtil.h"
#include "base/Errors.h"

#include <algorithm>
#include <thread>

namespace pelfry {

static bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.Exists && b.Exists && a.Device == b.Device && a.Inode == b.Inode;
}

FileLock::FileLock(const std::string& path, bool missingAllowed, const LockWait& wait)
    : path_(path), wait_(wait), start_(std::chrono::steady_clock::now()) {
    // A link that leads nowhere is no missing file: a save would put an archive in the link's
    // place, never where it points.
    if (const int broken = BrokenLink(path)) throw BrokenLinkError(path, broken);
    // A missing file is looked at again under the lock of its name, which a writer holds while
    // the name stands empty between the two steps of a replacement (Windows): such a writer is
    // waited for, and its new file found, rather than taken for no file at all.
    for (;;) {
        if (missingAllowed && !IdentifyFile(path).Exists) {
            Acquire([&](bool block) {
                name_ = LockName(path, block);
                return name_ != nullptr;
            });
            // Still nothing there: the name is ours until our save makes the file.
            if (!IdentifyFile(path).Exists) return;
            name_.reset(); // another writer made the file meanwhile: that file is locked instead
            continue;
        }
        try {
            file_ = std::make_unique<FileStream>(path, FileStream::Mode::OpenRead);
        } catch (const FileOpenError&) {
            if (!missingAllowed || IdentifyFile(path).Exists) throw;
            continue; // gone since it was seen: looked at again as above
        }
        Acquire([&](bool block) { return LockFile(*file_, path, block); });
        if (SameFile(IdentifyOpenFile(*file_), IdentifyFile(path))) return;
        // Replaced (or removed) while we waited: the lock is on a file nobody will read again.
        file_.reset();
    }
}

FileLock::~FileLock() = default;

void FileLock::Acquire(const std::function<bool(bool wait)>& attempt) {
    using namespace std::chrono;
    if (!wait_.Slow && wait_.Limit.count() == 0) {
        attempt(true);
        return;
    }
    // Asked again and again only while a word may be due or the wait may end; the pauses stay
    // short, so that the lock is taken soon after it is free.
    for (milliseconds pause{2};; pause = std::min(pause * 2, milliseconds(50))) {
        if (attempt(false)) return;
        const auto waited = steady_clock::now() - start_;
        if (wait_.Limit.count() > 0 && waited >= wait_.Limit) throw FileInUseError(path_);
        if (!told_ && waited >= seconds(1)) {
            told_ = true;
            if (wait_.Slow) wait_.Slow();
            if (wait_.Limit.count() == 0) {
                attempt(true); // the system's own wait, which ends the moment the lock is free
                return;
            }
        }
        std::this_thread::sleep_for(pause);
    }
}

} // namespace pelfry
