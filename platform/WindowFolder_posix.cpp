// Window folders on POSIX systems: made with mode 0700 and marked by an flock on the folder
// itself, held through an open descriptor for the window's life.
#include "WindowFolder.h"

#include "FileUtil.h"
#include "TempFiles.h"
#include "base/Errors.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace pelfry {

namespace {

// Whether `name` in `parent` is still the folder open as `fd`.
bool StandsUnder(int fd, int parent, const std::string& name) {
    struct stat open {
    }, named{};
    return ::fstat(fd, &open) == 0 &&
           ::fstatat(parent, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

// Empties the open folder `fd`: files and links are unlinked, folders emptied and removed; no
// link is followed.
void Empty(int fd) {
    const int listing = ::dup(fd);
    DIR* dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (dir == nullptr) {
        if (listing >= 0) ::close(listing);
        return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir))
        if (std::string_view(entry->d_name) != "." && std::string_view(entry->d_name) != "..")
            names.emplace_back(entry->d_name);
    ::closedir(dir);
    for (const std::string& name : names) {
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
        if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && StandsUnder(fd, above, name)) {
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
    const int listing = ::dup(above);
    DIR* dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
    std::vector<std::string> found;
    if (dir != nullptr) {
        while (const dirent* entry = ::readdir(dir))
            if (temps::IsTemporaryName(entry->d_name, temps::WindowFolderPrefix))
                found.emplace_back(entry->d_name);
        ::closedir(dir);
    } else if (listing >= 0) {
        ::close(listing);
    }
    for (const std::string& name : found) {
        const int fd =
            ::openat(above, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st {};
        // Another user's folder of that name is not ours to judge.
        if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0 && StandsUnder(fd, above, name)) {
            Empty(fd);
            ::unlinkat(above, name.c_str(), AT_REMOVEDIR);
        }
        ::close(fd);
    }
    ::close(above);
}

} // namespace pelfry
