// Writers of one file taking turns, and telling whether a file changed under us.
#pragma once

#include "FileStream.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace pelfry {

// Which file a path names and how it stood: two identities differ when the file was replaced
// (another inode under the name) or written (size or modification time changed).
struct FileIdentity {
    bool Exists = false;
    uint64_t Device = 0;
    uint64_t Inode = 0;
    int64_t Size = 0;
    int64_t ModifiedNs = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The identity of the file `path` names now (links followed); Exists false when there is none.
FileIdentity IdentifyFile(const std::string& path);
// The identity of an open file.
FileIdentity IdentifyOpenFile(const FileStream& file);

// How long a writer waits for another to finish with a file.
struct LockWait {
    // Called once when the lock has not come within a second, so that the user hears why
    // nothing happens; null: nothing is said.
    std::function<void()> Slow;
    // The longest wait; FileInUseError after it. Zero: as long as it takes.
    std::chrono::milliseconds Limit{0};
};

// An exclusive advisory lock on a file for one read-change-save cycle. Cooperating writers
// (every command of this program that saves an archive) wait for each other; each new
// writer then reads what the one before it saved.
//
// A file that does not exist yet is locked by its name, never by making it: a new archive
// appears only complete, when the first writer commits it. The lock on a name holds that name
// only, in any of the spellings a folder may take for it: on POSIX systems an flock on a lock
// file in the folder, named after the name (one of the writer's temporaries, TempFiles.h: its
// holder removes it, and one that a killed holder left goes with the next writer there; where
// no file can be made, an flock on the folder); on Windows a mutex of the system named after the
// folder and the name (which the thread holding it would be granted again: it keeps processes
// and threads apart). Both go with the process, however it ends.
class FileLock {
public:
    // Waits as `wait` says until no other writer holds `path` (links followed), and checks
    // that the path still names the file locked: a writer that replaced it meanwhile made a
    // new file, which is then opened and locked in turn. With `missingAllowed`, a path that
    // names nothing is locked by its name, and File() is null; it is looked at again once the
    // name is locked, since a writer holds the name while it stands empty between the two
    // steps of a replacement (Windows). Raises NotRegularFileError for a folder, device, FIFO
    // or socket, before any lock; FileOpenError naming `path` when it cannot be opened, or
    // names nothing without `missingAllowed`, or its folder is missing; FileInUseError when
    // wait.Limit passes; BrokenLinkError, before anything, when `path` is a link that leads to
    // no file.
    FileLock(const std::string& path, bool missingAllowed, const LockWait& wait = {});
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // The locked file, open for reading from its start; null when the path named no file.
    FileStream* File() { return file_.get(); }

private:
    // The system's hold of the lock on a name (see above); released when destroyed.
    struct NameHold;
    struct NameHoldDeleter {
        void operator()(NameHold* hold) const;
    };
    using NameLock = std::unique_ptr<NameHold, NameHoldDeleter>;

    // Takes the lock on `file`, held until the file is closed. With `wait` false, returns false
    // at once when another writer holds it; else waits. FileOpenError naming `path` when the
    // system refuses the lock.
    static bool LockFile(FileStream& file, const std::string& path, bool wait);
    // The lock on the name `path`; null when `wait` is false and another writer holds it.
    // FileOpenError naming `path` when its folder cannot be opened.
    static NameLock LockName(const std::string& path, bool wait);
    // Tries `attempt(false)` until it succeeds, as `wait` allows: at once `attempt(true)` when
    // the wait is neither told nor limited.
    void Acquire(const std::function<bool(bool wait)>& attempt);

    std::string path_;
    LockWait wait_;
    std::chrono::steady_clock::time_point start_;
    bool told_ = false;
    std::unique_ptr<FileStream> file_;
    NameLock name_;
};

} // namespace pelfry
