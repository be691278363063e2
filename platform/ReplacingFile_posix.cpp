// The replacing writer on POSIX systems (ReplacingFile_win.cpp is the one for Windows).
//
// The new file is made without a name (O_TMPFILE) in the target's folder wherever the file
// system allows: a process killed at any point then leaves nothing behind, since the kernel
// drops a nameless file with its last descriptor. Once complete and flushed it is linked under
// a short temporary name and renamed over the target at once, with the fatal signals that can
// be caught held back between the two steps. Where O_TMPFILE is missing the file is named from
// the start, and the signal handler of InstallTempFileCleanup removes it. Either way the file
// carries the temporaries' mark (TempFiles.h): what SIGKILL leaves under a temporary name is
// removed by the next writer in the folder.
#include "ReplacingFile.h"

#include "Durability.h"
#include "FileStream.h"
#include "FileUtil.h"
#include "TempFiles.h"
#include "base/Errors.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace pelfry {

namespace {

// The extended attributes of a file, names and values; the access control list is one of them.
using Attributes = std::vector<std::pair<std::string, std::vector<char>>>;

constexpr const char* AccessAcl = "system.posix_acl_access";

std::atomic<uint64_t> fileFlushes{0};

// Errors that mean the disk could not take the bytes, as against a name that cannot be made.
bool IsWriteFailure(int error) {
    return error == ENOSPC || error == EDQUOT || error == EIO || error == EFBIG;
}

// The value of the attribute `name` of the open file `fd`; false when it has none.
bool ReadAttribute(int fd, const char* name, std::vector<char>& value) {
    for (;;) {
        const ssize_t size = ::fgetxattr(fd, name, nullptr, 0);
        if (size < 0) return false;
        value.resize(static_cast<size_t>(size));
        const ssize_t got = ::fgetxattr(fd, name, value.data(), value.size());
        if (got >= 0) {
            value.resize(static_cast<size_t>(got));
            return true;
        }
        if (errno != ERANGE) return false; // else it grew meanwhile: again
    }
}

// Every extended attribute of `name` in `folder` that this process can read.
Attributes ReadAttributes(int folder, const std::string& name) {
    Attributes attributes;
    const int fd = ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return attributes;
    std::vector<char> names;
    ssize_t size = ::flistxattr(fd, nullptr, 0);
    if (size > 0) {
        names.resize(static_cast<size_t>(size));
        size = ::flistxattr(fd, names.data(), names.size());
    }
    for (ssize_t at = 0; at < size;) {
        const std::string key(names.data() + at);
        at += static_cast<ssize_t>(key.size()) + 1;
        std::vector<char> value;
        if (ReadAttribute(fd, key.c_str(), value)) attributes.emplace_back(key, std::move(value));
    }
    ::close(fd);
    return attributes;
}

} // namespace

// ---- Folder -----------------------------------------------------------------------------------

Folder::Folder(const std::string& path, const std::string& shownName) {
    const std::string native = NativePath(path);
    fd_ = ::open(native.empty() ? "." : native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) throw FileCreateError(shownName, errno);
    path_ = native.empty() ? std::string() : IncludeTrailingSeparator(native);
}

Folder::~Folder() {
    if (fd_ >= 0) ::close(fd_);
}

Folder::Folder(Folder&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)), held_(std::move(other.held_)),
      walked_(std::move(other.walked_)) {
    other.fd_ = -1;
}

Folder& Folder::operator=(Folder&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        path_ = std::move(other.path_);
        held_ = std::move(other.held_);
        walked_ = std::move(other.walked_);
        other.fd_ = -1;
    }
    return *this;
}

Folder Folder::Descend(std::string_view relative, const std::string& shownName, bool make) const {
    // The folder the walk began at, kept open for Moved.
    std::shared_ptr<const void> start = held_;
    if (!start) {
        const int root = ::dup(fd_);
        if (root < 0) throw FileCreateError(shownName, errno);
        start = std::shared_ptr<const int>(new int(root), [](const int* fd) {
            ::close(*fd);
            delete fd;
        });
    }
    int current = ::dup(fd_);
    if (current < 0) throw FileCreateError(shownName, errno);
    Folder result(current, path_);
    result.held_ = std::move(start);
    result.walked_ = walked_;
    for (std::string_view name : NameParts(relative)) {
        const std::string part(name);
        if (part == "..") throw FileCreateError(shownName, EINVAL);
        // O_NOFOLLOW: a link planted on the way is refused, never walked through.
        int next =
            ::openat(result.fd_, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT && make) {
            if (::mkdirat(result.fd_, part.c_str(), 0777) == 0) {
                if (DurabilityScope* scope = DurabilityScope::Current())
                    scope->Enrol(result.fd_, result.path_);
            } else if (errno != EEXIST) {
                throw FileCreateError(shownName, errno);
            }
            next =
                ::openat(result.fd_, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (next < 0) {
            const int error = errno;
            struct stat st {};
            if (::fstatat(result.fd_, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISLNK(st.st_mode))
                throw FileCreateError(shownName, ELOOP, LinkOnTheWay);
            throw FileCreateError(shownName, error);
        }
        ::close(result.fd_);
        result.fd_ = next;
        result.path_ += part + "/";
        result.walked_ += part + "/";
    }
    return result;
}

int Folder::Moved() const {
    if (!held_ || walked_.empty()) return 0;
    int at = ::dup(*static_cast<const int*>(held_.get()));
    for (std::string_view name : NameParts(walked_)) {
        const std::string part(name);
        const int next =
            ::openat(at, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_PATH);
        struct stat st {};
        const bool link = next < 0 && ::fstatat(at, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                          S_ISLNK(st.st_mode);
        ::close(at);
        if (next < 0) return link ? ELOOP : ENOENT;
        at = next;
    }
    struct stat found {
    }, open{};
    const bool same = ::fstat(at, &found) == 0 && ::fstat(fd_, &open) == 0 &&
                      found.st_dev == open.st_dev && found.st_ino == open.st_ino;
    ::close(at);
    return same ? 0 : ENOENT;
}

int64_t Folder::ModifiedTime(const std::string& name) const {
    struct stat st {};
    if (::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode))
        return -1;
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

bool Folder::SetModifiedTime(const std::string& name, int64_t nanoseconds) const {
    const struct timespec time = {static_cast<time_t>(nanoseconds / 1000000000),
                                  static_cast<long>(nanoseconds % 1000000000)};
    const struct timespec times[2] = {time, time};
    return nanoseconds >= 0 && ::utimensat(fd_, name.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

bool Folder::Remove(const std::string& name) const {
    return ::unlinkat(fd_, name.c_str(), 0) == 0;
}

// ---- ReplacingFile ----------------------------------------------------------------------------

struct ReplacingFile::State {
    std::unique_ptr<Folder> ownFolder; // when made from a path
    const Folder* place = nullptr;     // the folder written into
    int folder = -1;
    std::string name;
    std::string shownName;
    int fd = -1;
    bool nameless = false; // made with O_TMPFILE
    std::string tempName;  // the name it has until Commit, when not nameless
    int cleanupSlot = -1;
    // What the new file takes over from the file it replaces.
    mode_t mode = 0;
    bool replacing = false;
    uid_t owner = 0;
    gid_t group = 0;
    nlink_t links = 1;
    Attributes attributes;
    int64_t modified = -1; // nanoseconds, from SetModifiedTime
    bool failed = false;
    int error = 0;
    bool prepared = false; // Prepare's steps taken
    bool flushed = false;  // step 3 taken
    bool committed = false;
    std::string folderPath; // the folder's path, for the errors of a DurabilityScope
};

ReplacingFile::ReplacingFile(const std::string& target, LinkPolicy links)
    : state_(std::make_unique<State>()) {
    state_->shownName = target;
    if (target.empty()) throw FileCreateError(target);
    std::string path = NativePath(target);
    if (links == LinkPolicy::Follow) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            std::error_code ec;
            const std::filesystem::path resolved = std::filesystem::weakly_canonical(path, ec);
            if (!ec) path = resolved.string();
        }
    }
    const size_t slash = path.find_last_of('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    state_->ownFolder = std::make_unique<Folder>(folder, target);
    Open(*state_->ownFolder, name);
}

ReplacingFile::ReplacingFile(const Folder& folder, const std::string& name,
                             const std::string& shownName)
    : state_(std::make_unique<State>()) {
    state_->shownName = shownName;
    Open(folder, name);
}

void ReplacingFile::Open(const Folder& dir, const std::string& name) {
    State& s = *state_;
    const int folder = dir.Handle();
    s.place = &dir;
    s.folder = folder;
    s.folderPath = dir.Path();
    s.name = name;
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        throw FileCreateError(s.shownName, EINVAL);
    const long nameMax = ::fpathconf(folder, _PC_NAME_MAX);
    if (name.size() > static_cast<size_t>(nameMax > 0 ? nameMax : NAME_MAX))
        throw FileCreateError(s.shownName, ENAMETOOLONG);
    temps::RemoveStaleTemporaries(folder);

    // What stands under the name now: a folder is never replaced by a file, nor a file the
    // user may not write; a link is replaced, not followed.
    struct stat st {};
    if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISLNK(st.st_mode)) {
        if (!S_ISREG(st.st_mode))
            throw FileCreateError(s.shownName, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        if (::faccessat(folder, name.c_str(), W_OK, 0) != 0)
            throw FileCreateError(s.shownName, errno);
        s.replacing = true;
        s.mode = st.st_mode & 07777;
        s.owner = st.st_uid;
        s.group = st.st_gid;
        s.links = st.st_nlink;
        s.attributes = ReadAttributes(folder, name);
    }

    int error = 0;
    {
        // A named temporary is known to the signal handler from the moment it exists.
        temps::SignalHold hold;
        // A new file is made with the permissions of any new file there (umask, the folder's
        // default access control list); one that replaces another takes its permissions later.
        s.fd = temps::MakeTemporary(folder, !temps::NamedOnly(), s.tempName,
                                    s.replacing ? 0600 : 0666);
        error = errno;
        if (s.fd >= 0 && !s.tempName.empty()) s.cleanupSlot = temps::Remember(folder, s.tempName);
    }
    s.nameless = s.fd >= 0 && s.tempName.empty();
    if (s.fd >= 0) return;
    // The file itself may be writable while its folder is not, which the user cannot guess.
    if (error == EACCES || error == EPERM)
        throw FileCreateError(s.shownName, error, "the folder lets no new file be made there");
    throw FileCreateError(s.shownName, error);
}

ReplacingFile::~ReplacingFile() {
    State& s = *state_;
    if (s.fd >= 0) ::close(s.fd);
    if (!s.committed && !s.tempName.empty()) ::unlinkat(s.folder, s.tempName.c_str(), 0);
    temps::Forget(s.cleanupSlot);
}

void ReplacingFile::SetModifiedTime(int64_t nanoseconds) {
    state_->modified = nanoseconds;
}

void ReplacingFile::WriteOut(const uint8_t* p, size_t count) {
    State& s = *state_;
    // After the first failure nothing more is tried; Commit reports it.
    while (count > 0 && !s.failed) {
        const ssize_t put = ::write(s.fd, p, count);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            s.failed = true;
            s.error = put < 0 ? errno : ENOSPC;
            break;
        }
        p += put;
        count -= static_cast<size_t>(put);
    }
}

uint64_t ReplacingFile::AppendInSystem(const FileStream& source, uint64_t offset, uint64_t count) {
    State& s = *state_;
    if (s.failed) return count;
    int error = 0;
    const uint64_t copied = CopyFileRange(source.Handle(), offset, s.fd, count, error);
    if (error == 0) return copied;
    s.failed = true;
    s.error = error;
    return count;
}

void ReplacingFile::KeepAttributes() {
    State& s = *state_;
    std::vector<std::string> lost; // what the new file could not take over
    int why = 0;
    struct stat made {};
    if (s.replacing && ::fstat(s.fd, &made) == 0 &&
        (made.st_uid != s.owner || made.st_gid != s.group) &&
        ::fchown(s.fd, s.owner, s.group) != 0) {
        why = errno;
        // A group the user belongs to can be kept without the owner.
        const bool groupKept =
            made.st_gid == s.group || ::fchown(s.fd, static_cast<uid_t>(-1), s.group) == 0;
        lost.push_back(made.st_uid == s.owner ? "group" : groupKept ? "owner" : "owner and group");
    }
    // An access control list the new file took from its folder's default would give other
    // people other rights than the file it replaces, which had none.
    if (s.replacing && std::none_of(s.attributes.begin(), s.attributes.end(),
                                    [](const auto& a) { return a.first == AccessAcl; }))
        ::fremovexattr(s.fd, AccessAcl);
    // A file system that keeps no permissions (FAT) gives every file the same ones, and one
    // that keeps some may refuse to change them (a share): the file is saved all the same.
    if (s.replacing && (made.st_mode & 07777) != s.mode && ::fchmod(s.fd, s.mode) != 0) {
        if (why == 0) why = errno;
        lost.insert(lost.begin(), "permissions");
    }
    for (const auto& [name, value] : s.attributes) {
        // One the system gave the new file already (a security label) is not set again.
        std::vector<char> now;
        if (ReadAttribute(s.fd, name.c_str(), now) && now == value) continue;
        if (::fsetxattr(s.fd, name.c_str(), value.data(), value.size(), 0) != 0) {
            if (why == 0) why = errno;
            lost.push_back(name == AccessAcl ? "access control list"
                                             : "extended attribute " + name);
        }
    }
    if (s.modified >= 0) {
        const struct timespec time = {static_cast<time_t>(s.modified / 1000000000),
                                      static_cast<long>(s.modified % 1000000000)};
        const struct timespec times[2] = {time, time};
        ::futimens(s.fd, times);
    }
    Tell(s.shownName, lost, why, s.replacing ? s.links : 1);
}

void ReplacingFile::Sync() {
    State& s = *state_;
    if (s.flushed || s.failed) return;
    s.flushed = true;
    ++fileFlushes;
    if (::fsync(s.fd) != 0 && errno != EINVAL) {
        s.failed = true;
        s.error = errno;
    }
}

void ReplacingFile::Prepare() {
    State& s = *state_;
    if (!s.prepared) {
        s.prepared = true;
        Flush();
        if (!s.failed) KeepAttributes();
        // A file that replaces another is on the disk before it is named, whatever the scope.
        if (s.replacing) Sync();
    }
    if (s.failed) throw FileWriteError(s.shownName, s.error);
}

bool ReplacingFile::NameIfFree() {
    State& s = *state_;
    if (s.nameless) {
        const std::string self = "/proc/self/fd/" + std::to_string(s.fd);
        return ::linkat(AT_FDCWD, self.c_str(), s.folder, s.name.c_str(), AT_SYMLINK_FOLLOW) == 0;
    }
    if (::renameat2(s.folder, s.tempName.c_str(), s.folder, s.name.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    // A file system that cannot refuse to replace: the name is looked at instead.
    struct stat st {};
    return errno != EEXIST && ::fstatat(s.folder, s.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 &&
           ::renameat(s.folder, s.tempName.c_str(), s.folder, s.name.c_str()) == 0;
}

void ReplacingFile::Commit() {
    State& s = *state_;
    Prepare();
    DurabilityScope* scope = DurabilityScope::Current();
    // A new file outside a scope is flushed on its own, as any file is.
    if (!scope) Sync();
    if (s.failed) throw FileWriteError(s.shownName, s.error);

    {
        temps::SignalHold hold;
        // A new file not flushed takes its name only where nothing stands: a file that came
        // there meanwhile is replaced only once the new bytes are on the disk.
        const bool unflushed = !s.flushed;
        bool named = false;
        if (unflushed) {
            BeforeNaming();
            named = NameIfFree();
            if (!named) Sync();
        }
        if (!named) {
            if (s.failed) {
                if (!s.tempName.empty()) ::unlinkat(s.folder, s.tempName.c_str(), 0);
                s.tempName.clear();
                throw FileWriteError(s.shownName, s.error);
            }
            if (s.nameless) {
                // Give the complete file a temporary name first: a nameless file can only be
                // linked to a name that is free, and the target's usually is not.
                const std::string self = "/proc/self/fd/" + std::to_string(s.fd);
                for (int attempt = 0; attempt < 100 && s.tempName.empty(); ++attempt) {
                    const std::string temp = temps::NewName();
                    if (::linkat(AT_FDCWD, self.c_str(), s.folder, temp.c_str(),
                                 AT_SYMLINK_FOLLOW) == 0)
                        s.tempName = temp;
                    else if (errno != EEXIST)
                        break;
                }
                if (s.tempName.empty()) throw FileCreateError(s.shownName, errno);
            }
            if (!unflushed) BeforeNaming();
            if (::renameat(s.folder, s.tempName.c_str(), s.folder, s.name.c_str()) != 0) {
                const int error = errno;
                ::unlinkat(s.folder, s.tempName.c_str(), 0);
                s.tempName.clear();
                if (IsWriteFailure(error)) throw FileWriteError(s.shownName, error);
                throw FileCreateError(s.shownName, error);
            }
        }
        s.committed = true;
    }
    ::close(s.fd);
    s.fd = -1;
    // The new name reaches the disk only with its folder: now, or at the scope's Commit.
    if (scope)
        scope->Enrol(s.folder, s.folderPath);
    else
        ::fsync(s.folder);
}

void ReplacingFile::BeforeNaming() {
    temps::BeforeRename();
    // The folder was walked without links, and is written into through its handle: moved away
    // (for a link to stand in its place), it would receive the file where nobody looks for it.
    if (const int moved = state_->place->Moved())
        throw FileCreateError(state_->shownName, moved,
                              moved == ELOOP ? LinkOnTheWay : FolderMoved);
}

uint64_t ReplacingFile::Flushes() {
    return fileFlushes;
}

} // namespace pelfry
