#include "FileLock.h"

#include "Errors.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelfry {

static FileIdentity IdentityOf(const struct stat& st) {
    FileIdentity id;
    id.Exists = true;
    id.Device = static_cast<uint64_t>(st.st_dev);
    id.Inode = static_cast<uint64_t>(st.st_ino);
    id.Size = static_cast<int64_t>(st.st_size);
    id.ModifiedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return id;
}

FileIdentity IdentifyFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    return IdentityOf(st);
}

FileIdentity IdentifyOpenFile(const FileStream& file) {
    struct stat st {};
    if (::fstat(file.Handle(), &st) != 0) return {};
    return IdentityOf(st);
}

static bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.Exists && b.Exists && a.Device == b.Device && a.Inode == b.Inode;
}

FileLock::FileLock(const std::string& path, bool createMissing) : path_(path) {
    FileIdentity made; // the empty file this lock created, if any
    for (;;) {
        if (createMissing && !IdentifyFile(path).Exists) {
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                struct stat st {};
                if (::fstat(fd, &st) == 0) made = IdentityOf(st);
                ::close(fd);
            } else if (errno != EEXIST) {
                throw FileOpenError(path);
            }
        }
        file_ = std::make_unique<FileStream>(path, FileStream::Mode::OpenRead);
        while (::flock(file_->Handle(), LOCK_EX) != 0) {
            if (errno != EINTR) throw FileOpenError(path);
        }
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
        if (SameFile(now, IdentifyOpenFile(*file_)) && now.Size == 0) ::unlink(path_.c_str());
    }
    file_.reset(); // closing releases the lock
}

} // namespace pelfry
