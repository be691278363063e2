// One flush to the disk for all the files a command makes, instead of one or two for each.
//
// On its own the replacing writer (ReplacingFile.h) flushes every file before it names it,
// and its folder after. A command that makes many files opens a DurabilityScope; while the
// scope is current on the thread that names the files:
//   - a file made where nothing stood under its name is named without a flush of its own;
//   - a file that replaces another is still flushed before it is named, so that the old
//     contents outlive a power cut until the new ones are on the disk; its folder is not;
// and before the command reports success it calls Commit, which makes all of them durable
// at once: every file system written to is flushed whole (syncfs), then every folder written
// into or made there. A failure or a kill still leaves each file complete or absent, since a
// file is named only once all its bytes are written; what the scope gives up is that a power
// cut before Commit may lose the new files made since the scope began (a name may then stand
// empty where nothing stood before), as it may lose anything a program has not flushed yet.
//
// On Windows, where only an administrator may flush a whole volume, every file is still
// flushed before it is named, and Commit has nothing left to do.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace pelfry {

class DurabilityScope {
public:
    // Becomes the scope of the calling thread until it is destroyed; the one current before
    // it is current again then.
    DurabilityScope();
    // Makes durable what no Commit has, without reporting a failure: a command that stops on
    // an error keeps the files it made before it as a successful one does.
    ~DurabilityScope();
    DurabilityScope(const DurabilityScope&) = delete;
    DurabilityScope& operator=(const DurabilityScope&) = delete;

    // Makes every file named and every folder made under this scope so far durable. Raises
    // FileWriteError naming a folder when its file system reports bytes it could not keep (a
    // full disk, an I/O error). Files named after it wait for the next Commit.
    void Commit();

    // The scope current on the calling thread; null when none is.
    static DurabilityScope* Current();

    // For tests: how many times the file systems were flushed by Commit in this process.
    static uint64_t FileSystemFlushes();
    // For tests: the next flush of a folder fails with the system's error number `error`, as
    // on a disk that could not keep the bytes.
    static void FailNextFlush(int error);

private:
    friend class ReplacingFile;
    friend class Folder;
    // Remembers the open folder `folder` (named `path` in errors), into which a file was just
    // named or in which a folder was made, for the next Commit. Where no descriptor is left
    // to hold it open, the folder is flushed at once instead.
    void Enrol(int folder, const std::string& path);
    // Flushes what is held and lets it go; a failure is kept for the next Commit to raise.
    void Flush();

    struct Held {
        int fd = -1;
        std::string path;
        uint64_t device = 0;
    };
    std::vector<Held> held_;
    std::set<std::pair<uint64_t, uint64_t>> known_; // the held folders' identities
    int error_ = 0;         // the first failure of a flush, as the system's error number
    std::string errorPath_; // the folder it concerns
    DurabilityScope* outer_ = nullptr;
};

} // namespace pelfry
