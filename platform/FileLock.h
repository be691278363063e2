// Writers of one file taking turns, and telling whether a file changed under us.
#pragma once

#include "Stream.h"

#include <cstdint>
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

// An exclusive advisory lock on a file for one read-change-save cycle. Cooperating writers
// (every command of this program that saves an archive) wait for each other; each new
// writer then reads what the one before it saved.
class FileLock {
public:
    // Opens `path` (links followed), waits until no other writer holds it, and checks that
    // the path still names the file locked: a writer that replaced it meanwhile made a new
    // file, which is then opened and locked in turn. With `createMissing`, a missing file is
    // first made empty (an empty archive); should the path still name that empty file when
    // the lock goes, it is removed again, so that a failed command leaves nothing behind.
    // FileOpenError naming `path` when it cannot be opened (or made); a file that stood there
    // a moment ago is looked for again for half a second first, since another writer may be
    // putting its new file in place.
    FileLock(const std::string& path, bool createMissing);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // The locked file, open for reading from its start.
    FileStream& File() { return *file_; }

private:
    // Makes `path` a new empty file: its identity, or none when a file stood there already.
    // FileOpenError naming `path` when it cannot be made.
    static FileIdentity MakeEmptyFile(const std::string& path);
    // Waits until no other writer holds `file`'s lock, then holds it until the file is closed.
    // FileOpenError naming `path` when the system refuses the lock.
    static void LockForWriting(FileStream& file, const std::string& path);

    std::string path_;
    std::unique_ptr<FileStream> file_;
    bool created_ = false;
};

} // namespace pelfry
