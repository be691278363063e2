// The one way this program writes a file. A new file is written beside its target and takes
// the target's name only once every byte of it is written and (unless a DurabilityScope holds
// back the flush of a file where none stood, below) has reached the disk, so the target either
// stays as it was or holds all of the new bytes; nothing half-written is ever left under a
// name, and no temporary file outlives the write: a killed writer's temporary vanishes with it
// or is removed by the next writer in that folder (see TempFiles.h, InstallTempFileCleanup).
//
// A replacement keeps what the user set on the file it replaces: its permissions, owner and
// group (where this process may set them) and extended attributes, access control lists
// included (on Windows: the permissions it has of its own, beyond those of its folder).
//
// A write takes these steps, in Commit:
//   1. the last buffered bytes are written;
//   2. the replaced file's permissions, owner and attributes are given to the new file, and
//      the time set with SetModifiedTime;
//   3. the new file is flushed to the disk (fsync, FlushFileBuffers);
//   4. it takes the target's name in one step (a rename; no moment without a file there);
//   5. the folder is flushed, so that the new name lasts too.
// Every step before 4 leaves the target untouched when it fails. Steps 1 to 3 may be taken
// ahead, on any thread, by Prepare; the file then waits complete under no name (or its
// temporary one) for Commit, which names it on the caller's thread. Under a DurabilityScope
// (Durability.h), a file made where nothing stood skips step 3, the naming waits for no flush
// and step 5 is left to the scope's one flush for the whole command; a file that replaces
// another is still flushed before it is named.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pelfry {

class FileStream;

// What to do when the target is a symbolic link.
enum class LinkPolicy {
    // The link itself is replaced by the new file; nothing is written through it. For files
    // the program makes on its own (extracted entries, converted pictures, logs): a link
    // planted where one of them goes must not lead the write elsewhere.
    Replace,
    // The file the link points to is replaced and the link stays. For a file the user named
    // (an archive saved under the path it was opened from).
    Follow,
};

// The reason given when a folder on the way to a file the program names is a link.
inline constexpr const char* LinkOnTheWay = "a folder on the way is a link, which is not followed";
// The reason given when such a folder was moved away while the file was written.
inline constexpr const char* FolderMoved = "a folder on the way was moved while it was written";

// An open folder, to write into without following links planted on the way to it.
class Folder {
public:
    // Opens `path` (links on the way are followed: the user named it). FileCreateError
    // naming `shownName` when it is not an existing folder.
    Folder(const std::string& path, const std::string& shownName);
    ~Folder();
    Folder(Folder&& other) noexcept;
    Folder& operator=(Folder&& other) noexcept;
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    // The folder `relative` below this one ("/" or "\" between its parts), made where
    // missing (with `make`; else a missing one is refused); empty and "." parts stay where
    // they are. A part that is a link (with the reason LinkOnTheWay), a file or ".." is
    // refused with FileCreateError naming `shownName`, and nothing is made below it. A folder
    // made under a DurabilityScope is made durable by it.
    Folder Descend(std::string_view relative, const std::string& shownName, bool make = true) const;

    // Whether the folder still stands where Descend found it below the folder it was walked
    // from: 0 when it does (always for a folder opened by its path, and on Windows, where the
    // folders held open cannot be moved), ELOOP when a link stands on the way now, ENOENT when
    // a folder on the way was moved. A file is named in it only while it does.
    int Moved() const;
    // The file `name` here, its link not followed: its modification time in nanoseconds since
    // 1970 (-1 when there is none); the time set, false when the system refuses; the file
    // removed, false when it is not there.
    int64_t ModifiedTime(const std::string& name) const;
    bool SetModifiedTime(const std::string& name, int64_t nanoseconds) const;
    bool Remove(const std::string& name) const;

    int Handle() const { return fd_; }
    const std::string& Path() const { return path_; }

private:
    friend class ReplacingFile;
    Folder(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    int fd_ = -1;
    std::string path_; // ends in "/"
    // What else the system keeps open for this folder (on Windows: the folder and every folder
    // above it up to the one the caller named, none of which can then be renamed or replaced;
    // elsewhere: the folder the walk began at, for Moved).
    std::shared_ptr<const void> held_;
    std::string walked_; // below held_, for Moved: the parts Descend walked, "/" after each
};

class ReplacingFile {
public:
    // A new file that will replace `target`. FileCreateError naming `target` when the target
    // is a folder, an existing file that may not be written, a name too long for the file
    // system, or in a folder where no new file can be made (with the reason "the folder lets
    // no new file be made there" when the folder refuses it).
    explicit ReplacingFile(const std::string& target, LinkPolicy links = LinkPolicy::Replace);
    // A new file that will replace `name` (a plain name, no separator) inside `folder`; a link
    // of that name is replaced. `shownName` names the target in errors. `folder` must stay
    // open until Commit or destruction.
    ReplacingFile(const Folder& folder, const std::string& name, const std::string& shownName);
    // A write that was not committed leaves the target as it was and no temporary file.
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // Buffered; a failure is remembered and reported by Commit.
    void Write(const void* bytes, size_t count);
    // Appends `count` bytes of the open file `source` from `offset` on: copied by the system
    // without passing through this process where it can (CopyFileRange), else in blocks of
    // BufferSize. Returns the bytes appended, fewer only when `source` ends first. A failure
    // is remembered and reported by Commit, as for Write. The position of `source` is left alone.
    uint64_t AppendFrom(const FileStream& source, uint64_t offset, uint64_t count);
    // The modification (and access) time the new file gets, in nanoseconds since 1970 (as
    // precise as the file system keeps it), instead of the time of the write: so that no later
    // call has to find the file by its name again.
    void SetModifiedTime(int64_t nanoseconds);
    // Steps 1 to 3, step 3 only for a file that replaces another: the file is complete and
    // waits for Commit. May run on a thread other than Commit's; nothing may be written after
    // it. FileWriteError as Commit.
    void Prepare();
    // Takes the steps above (those Prepare took are not taken again). FileWriteError naming
    // the target when any write failed (a full disk, a file-size limit) or the flush did,
    // FileCreateError when the name cannot be given, or the folder it goes into was moved
    // meanwhile (Folder::Moved; the reason LinkOnTheWay or FolderMoved).
    void Commit();

    // For tests: how many files the writers of this process flushed (step 3) so far.
    static uint64_t Flushes();

    // After Commit: what the user should know about the file just replaced, one sentence each
    // naming the target ("X was saved, but its permissions, owner and group could not be kept:
    // Operation not permitted"; "X had other names (hard links), which keep the old contents").
    // Empty when everything was kept. What the file system cannot keep (permissions on FAT, an
    // access control list on a share) is only said here: the file is saved all the same.
    const std::vector<std::string>& Warnings() const { return warnings_; }

private:
    struct State;
    void Open(const Folder& folder, const std::string& name);
    void Flush();
    void WriteOut(const uint8_t* bytes, size_t count);
    // Step 3, once; a failure is remembered.
    void Sync();
    // Runs the test hook and checks that the folder is still in place (Folder::Moved), just
    // before step 4.
    void BeforeNaming();
    // Step 4 for a file not flushed: names it only where nothing stands. False, with nothing
    // changed, when something does (or the name could not be given).
    bool NameIfFree();
    // The part of AppendFrom the system does: the bytes copied (all of them after a failure,
    // which is remembered), or 0 where the system cannot copy.
    uint64_t AppendInSystem(const FileStream& source, uint64_t offset, uint64_t count);
    // Step 2 on the system's own terms: what could not be kept goes to warnings_.
    void KeepAttributes();
    // Puts into warnings_ what step 2 found about the target `shown`: the things of the replaced
    // file that could not be kept ("owner and group") with the system's error number `why`, and
    // the number of names the file had.
    void Tell(const std::string& shown, const std::vector<std::string>& lost, int why,
              unsigned long links);

    std::unique_ptr<State> state_;
    // Small writes gather here and go to the file in blocks of BufferSize.
    static constexpr size_t BufferSize = 1 << 20;
    std::vector<uint8_t> buffer_;
    std::vector<std::string> warnings_;
};

// Writes `bytes` to `path` through a ReplacingFile; with `modifiedNs` >= 0 the file gets that
// time (nanoseconds since 1970).
void WriteFileReplacing(const std::string& path, const std::vector<uint8_t>& bytes,
                        LinkPolicy links = LinkPolicy::Replace, int64_t modifiedNs = -1);

// Writes `bytes` to root + relative through a ReplacingFile, for a file the program names
// below a folder the user named: `root` ("" for the current folder) is taken as it stands,
// links and all, and made when missing; the folders that `relative` adds below it are walked
// without following links and made where missing (Folder::Descend), and a link standing where
// the file goes is replaced. With `modifiedNs` >= 0 the file gets that time. Raises
// FileCreateError naming root + relative when a folder on the way is a link or a file, or the
// file cannot be made, and FileWriteError when it cannot be written whole. Returns the folder
// written into, still open: files that go beside it are written there (WriteFileIn) without
// walking the path again.
std::unique_ptr<Folder> WriteFileBelow(const std::string& root, std::string_view relative,
                                       const std::vector<uint8_t>& bytes, int64_t modifiedNs = -1);
// Writes `bytes` to the file `name` in `folder` through a ReplacingFile, `shownName` naming it
// in errors; with `modifiedNs` >= 0 it gets that time. Returns the warnings of its Commit.
std::vector<std::string> WriteFileIn(const Folder& folder, const std::string& name,
                                     const std::string& shownName,
                                     const std::vector<uint8_t>& bytes, int64_t modifiedNs = -1);

// A file written ahead, on any thread, that waits to be named in its turn: the work of many
// files spread over a pool of threads (Parallel.h), whose flushes (for files that replace
// others) then run there too, while the files are named in order. Destroyed uncommitted, it
// leaves nothing behind.
class PreparedFile {
public:
    PreparedFile(std::unique_ptr<Folder> folder, std::unique_ptr<ReplacingFile> file);
    ~PreparedFile();
    PreparedFile(const PreparedFile&) = delete;
    PreparedFile& operator=(const PreparedFile&) = delete;

    // ReplacingFile::Commit, on the thread that names the files.
    void Commit() { file_->Commit(); }
    const std::vector<std::string>& Warnings() const { return file_->Warnings(); }
    // The folder the file goes into, for files beside it; null for PrepareFileReplacing's.
    const Folder* Place() const { return folder_.get(); }

private:
    std::unique_ptr<Folder> folder_; // held open for file_, which it outlives
    std::unique_ptr<ReplacingFile> file_;
};

// WriteFileBelow and WriteFileReplacing up to the naming (ReplacingFile::Prepare), for a pool
// of threads. They make no folder, and give null when the file cannot be prepared now: a
// folder on the way is missing, too many prepared files are held open in the process already,
// or any other failure. The caller then writes the file the usual way in its turn, which meets
// the same failure there, or none (a folder made meanwhile).
std::unique_ptr<PreparedFile> PrepareFileBelow(const std::string& root, std::string_view relative,
                                               const std::vector<uint8_t>& bytes,
                                               int64_t modifiedNs = -1);
std::unique_ptr<PreparedFile> PrepareFileReplacing(const std::string& path,
                                                   const std::vector<uint8_t>& bytes,
                                                   int64_t modifiedNs = -1);

// Makes a fatal SIGINT, SIGTERM or SIGHUP first remove the temporary file of any write in
// progress, then end the process with the usual status for the signal (on Windows: Ctrl-C,
// Ctrl-Break, the console closing). Where the file system allows, new files have no name until
// they are complete and vanish by themselves when the process dies; this covers the file
// systems where they must be named from the start. Also makes a write beyond the file-size
// limit (ulimit -f) fail like any failed write instead of ending the process (SIGXFSZ).
void InstallTempFileCleanup();

// Makes new files named from the start, as on file systems without nameless files, so that
// tests (and tools/kill-test.sh, through pelfry-cli) can reach that path on any machine.
void UseNamedTempFiles(bool named);

// For tests: `hook` runs in Commit when the complete new file stands under its temporary name
// beside the target and is about to take the target's name (null: nothing runs). A test that
// ends the process there sees what a kill at the worst moment leaves; one that moves a folder
// there, what a swap of a folder for a link does to a command.
void SetBeforeRenameHook(void (*hook)());

} // namespace pelfry
