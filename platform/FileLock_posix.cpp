// Writers' lock and file identity on POSIX systems: an advisory flock on the archive itself.
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

FileIdentity FileLock::MakeEmptyFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (errno == EEXIST) return {};
        throw FileOpenError(path);
    }
    struct stat st {};
    const FileIdentity made = ::fstat(fd, &st) == 0 ? IdentityOf(st) : FileIdentity{};
    ::close(fd);
    return made;
}

void FileLock::LockForWriting(FileStream& file, const std::string& path) {
    while (::flock(file.Handle(), LOCK_EX) != 0) {
        if (errno != EINTR) throw FileOpenError(path);
    }
}

} // namespace pelfry
