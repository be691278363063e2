// The one way this program writes a file. A new file is written beside its target and takes
// the target's name only once every byte of it has reached the disk, so the target either
// stays as it was or holds all of the new bytes; nothing half-written is ever left under a
// name, and no temporary file outlives the write (see InstallTempFileCleanup).
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
    // missing; empty and "." parts stay where they are. A part that is a link, a file or ".."
    // is refused with FileCreateError
    // naming `shownName`, and nothing is made below it.
    Folder Descend(std::string_view relative, const std::string& shownName) const;

    int Handle() const { return fd_; }
    const std::string& Path() const { return path_; }

private:
    friend class ReplacingFile;
    Folder(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    int fd_ = -1;
    std::string path_; // ends in "/"
    // What else the system keeps open for this folder (on Windows: the folder and every folder
    // above it up to the one the caller named, none of which can then be renamed or replaced).
    std::shared_ptr<const void> held_;
};

class ReplacingFile {
public:
    // A new file that will replace `target`. FileCreateError naming `target` when the target
    // is a folder, an existing file that may not be written, a name too long for the file
    // system, or in a folder where no new file can be made.
    explicit ReplacingFile(const std::string& target, LinkPolicy links = LinkPolicy::Replace);
    // A new file that will replace `name` (a plain name, no separator) inside `folder`; a link
    // of that name is replaced. `shownName` names the target in errors. `folder` must stay
    // open until Commit or destruction.
    ReplacingFile(const Folder& folder, const std::string& name, const std::string& shownName);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // Buffered; a failure is remembered and reported by Commit.
    void Write(const void* bytes, size_t count);
    // Appends `count` bytes of the open file `source` from `offset` on: copied by the system
    // without passing through this process where it can (CopyFileRange), else in blocks of
    // BufferSize. Returns the bytes appended, fewer only when `source` ends first. A failure
    // is remembered and reported by Commit, as for Write.
    uint64_t AppendFrom(FileStream& source, uint64_t offset, uint64_t count);
    // Writes out what is buffered, gives the new file the target's permissions (or the usual
    // ones for a new target), flushes it to the disk and puts it in the target's place, then
    // flushes the folder. FileWriteError naming the target when any write failed (a full
    // disk, a file-size limit), FileCreateError when the name cannot be given.
    void Commit();

private:
    struct State;
    void Open(const Folder& folder, const std::string& name);
    void Flush();
    void WriteOut(const uint8_t* bytes, size_t count);
    // The part of AppendFrom the system does: the bytes copied (all of them after a failure,
    // which is remembered), or 0 where the system cannot copy.
    uint64_t AppendInSystem(const FileStream& source, uint64_t offset, uint64_t count);

    std::unique_ptr<State> state_;
    // Small writes gather here and go to the file in blocks of BufferSize.
    static constexpr size_t BufferSize = 1 << 20;
    std::vector<uint8_t> buffer_;
};

// Writes `bytes` to `path` through a ReplacingFile.
void WriteFileReplacing(const std::string& path, const std::vector<uint8_t>& bytes,
                        LinkPolicy links = LinkPolicy::Replace);

// Makes a fatal SIGINT, SIGTERM or SIGHUP first remove the temporary file of any write in
// progress, then end the process with the usual status for the signal. Where the file system
// allows, new files have no name until they are complete and vanish by themselves when the
// process dies; this covers the file systems where they must be named from the start.
void InstallTempFileCleanup();

// Makes new files named from the start, as on file systems without nameless files, so that
// tests can reach that path on any machine.
void UseNamedTempFiles(bool named);

} // namespace pelfry
