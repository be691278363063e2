// Window folders on POSIX systems: made with mode 0700 and marked by an flock on the folder
// itself, held through an open descriptor for the window's life.
#include "WindowFolder.h"

#include "FileUtil.h"
#include "TempFiles.h"
#include "base/Errors.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace pelfry {

namespace {

// Empties the open folder `fd`: files and links are unlinked, folders emptied and removed; no
// link is followed.
void Empty(int fd) {
    for (const std::string& name : temps::FolderNames(fd)) {
        if (::unlinkat(fd, name.c_str(), 0) == 0) continue;
        const int sub = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub < 0) continue;
        Empty(sub);
        ::close(sub);
        ::unlinkat(fd, name.c_str(), AT_REMOVEDIR);
    }
}

int OpenFolder(const std::string& path) {
    return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

} // namespace

struct WindowFolder::Mark {
    int fd; // the folder, flocked
};

void WindowFolder::MarkDeleter::operator()(Mark* mark) const {
    ::close(mark->fd); // and with it the flock
    delete mark;
}

WindowFolder::WindowFolder(const std::string& parent) {
    const std::string place = IncludeTrailingSeparator(NativePath(parent));
    const int above = OpenFolder(place);
    if (above < 0) throw FileCreateError(place + std::string(temps::WindowFolderPrefix), errno);
    for (int attempt = 0; attempt < 100 && !mark_; ++attempt) {
        const std::string name = temps::NewName(temps::WindowFolderPrefix);
        if (::mkdirat(above, name.c_str(), 0700) != 0) {
            if (errno == EEXIST) continue;
            const int error = errno;
            ::close(above);
            throw FileCreateError(place + name, error);
        }
        const int fd =
            ::openat(above, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        // Until the mark is on, a window starting meanwhile may take the folder for a dead
        // window's: then it is gone or going, and another name is tried.
        if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && temps::StandsUnder(fd, above, name)) {
            ::fchmod(fd, 0700); // whatever the umask left
            path_ = place + name + "/";
            mark_.reset(new Mark{fd});
        } else if (fd >= 0) {
            ::close(fd);
        }
    }
    ::close(above);
    if (!mark_) throw FileCreateError(place + std::string(temps::WindowFolderPrefix), EEXIST);
}

WindowFolder::~WindowFolder() {
    // Emptied while the mark holds, so that no starting window takes it meanwhile.
    Empty(mark_->fd);
    ::rmdir(path_.c_str());
}

void RemoveDeadWindowFolders(const std::string& parent) {
    const int above = OpenFolder(NativePath(parent));
    if (above < 0) return;
    for (const std::string& name : temps::FolderNames(above)) {
        if (!temps::IsTemporaryName(name, temps::WindowFolderPrefix)) continue;
        const int fd =
            ::openat(above, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st {};
        // Another user's folder of that name is not ours to judge.
        if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0 && temps::StandsUnder(fd, above, name)) {
            Empty(fd);
            ::unlinkat(above, name.c_str(), AT_REMOVEDIR);
        }
        ::close(fd);
    }
    ::close(above);
}

} // namespace pelfry
