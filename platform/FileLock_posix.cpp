// Writers' lock and file identity on POSIX systems: an advisory flock on the archive itself,
// or on a lock file named after it while the archive does not exist yet.
#include "FileLock.h"

#include "FileStream.h"
#include "FileUtil.h"
#include "TempFiles.h"
#include "base/Errors.h"

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

// flock, waiting or not; false when it would have to wait and may not.
static bool Flock(int fd, const std::string& path, bool wait) {
    while (::flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB)) != 0) {
        if (errno == EWOULDBLOCK && !wait) return false;
        if (errno != EINTR) throw FileOpenError(path, errno);
    }
    return true;
}

struct FileLock::NameHold {
    int folder;
    std::string lock; // the name of the lock file there
    int file = -1;    // the lock file, locked; -1 when the folder itself is locked
};

namespace {

// The lock file of the name `name`: one of the writer's temporaries' names, made from the name
// as a folder that ignores case compares it, so that every spelling of it meets the same file.
std::string LockFileName(const std::string& name) {
    constexpr std::string_view letters = "abcdefghijklmnopqrstuvwxyz0123456789";
    uint64_t hash = 14695981039346656037ULL; // FNV-1a
    for (unsigned char c : StoredName(name, NameCase::Unicode))
        hash = (hash ^ c) * 1099511628211ULL;
    std::string lock = ".pelfry-";
    for (int i = 0; i < 8; ++i, hash /= letters.size())
        lock += letters[hash % letters.size()];
    return lock;
}

// The lock file `name` in `folder`, opened (made when missing, readable by every user, who may
// lock it too); -1 where no such file can be had.
int OpenLockFile(int folder, const std::string& name) {
    for (;;) {
        int fd = ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT) {
            fd = ::openat(folder, name.c_str(),
                          O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0444);
            if (fd < 0 && errno == EEXIST) continue; // made by another writer meanwhile
            if (fd >= 0) ::fchmod(fd, 0444);         // whatever the umask
        }
        struct stat st {};
        if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
            ::close(fd);
            return -1;
        }
        return fd;
    }
}

} // namespace

void FileLock::NameHoldDeleter::operator()(NameHold* hold) const {
    if (hold->file >= 0) {
        // Removed while still locked: a writer waiting on it finds it gone and makes another.
        if (temps::StandsUnder(hold->file, hold->folder, hold->lock))
            ::unlinkat(hold->folder, hold->lock.c_str(), 0);
        ::close(hold->file);
    }
    ::close(hold->folder); // and with it any flock on the folder
    delete hold;
}

bool FileLock::LockFile(FileStream& file, const std::string& path, bool wait) {
    return Flock(file.Handle(), path, wait);
}

FileLock::NameLock FileLock::LockName(const std::string& path, bool wait) {
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) throw FileOpenError(path, errno);
    NameLock hold(new NameHold{fd, LockFileName(path.substr(slash + 1))});
    for (;;) {
        const int lock = OpenLockFile(fd, hold->lock);
        // No file can be made there (a read-only folder, which takes no archive either): the
        // folder is locked instead.
        if (lock < 0) return Flock(fd, path, wait) ? std::move(hold) : nullptr;
        try {
            if (!Flock(lock, path, wait)) {
                ::close(lock);
                return nullptr;
            }
        } catch (...) {
            ::close(lock);
            throw;
        }
        if (temps::StandsUnder(lock, fd, hold->lock)) {
            hold->file = lock;
            return hold;
        }
        ::close(lock); // removed by its holder while we waited: another one
    }
}

} // namespace pelfry
