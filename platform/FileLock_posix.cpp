// Writers' lock and file identity on POSIX systems: an advisory flock on the archive itself,
// or on its folder while the archive does not exist yet.
#include "FileLock.h"

#include "FileStream.h"
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
};

void FileLock::NameHoldDeleter::operator()(NameHold* hold) const {
    ::close(hold->folder); // and with it the flock
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
    try {
        if (Flock(fd, path, wait)) return NameLock(new NameHold{fd});
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
    return nullptr;
}

} // namespace pelfry
