// The replacing writer on POSIX systems (ReplacingFile_win.cpp is the one for Windows).
//
// The new file is made without a name (O_TMPFILE) in the target's folder wherever the file
// system allows: a process killed at any point then leaves nothing behind, since the kernel
// drops a nameless file with its last descriptor. Once complete and flushed it is linked under
// a short temporary name and renamed over the target at once, with the fatal signals that can
// be caught held back between the two steps. Where O_TMPFILE is missing the file is named from
// the start, and the signal handler of InstallTempFileCleanup removes it.
#include "ReplacingFile.h"

#include "Errors.h"
#include "FileUtil.h"
#include "Stream.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace pelfry {

namespace {

// ---- Named temporary files that a fatal signal must remove ------------------------------------

struct CleanupSlot {
    std::atomic<bool> taken{false};
    std::atomic<int> folder{-1}; // set last: the handler looks at a slot only once it is >= 0
    char name[32] = {};
};

CleanupSlot cleanupSlots[16];

int RegisterTemp(int folder, const std::string& name) {
    for (int i = 0; i < 16; ++i) {
        bool expected = false;
        if (!cleanupSlots[i].taken.compare_exchange_strong(expected, true)) continue;
        std::snprintf(cleanupSlots[i].name, sizeof cleanupSlots[i].name, "%s", name.c_str());
        cleanupSlots[i].folder.store(folder, std::memory_order_release);
        return i;
    }
    return -1; // more writes at once than slots: this one goes unguarded
}

void UnregisterTemp(int slot) {
    if (slot < 0) return;
    cleanupSlots[slot].folder.store(-1, std::memory_order_release);
    cleanupSlots[slot].taken.store(false);
}

extern "C" void RemoveTempsAndDie(int signal) {
    for (CleanupSlot& slot : cleanupSlots) {
        const int folder = slot.folder.load(std::memory_order_acquire);
        if (folder >= 0) ::unlinkat(folder, slot.name, 0);
    }
    // The handler was installed to run once and not to block its own signal: raising it
    // again now ends the process as the signal would have.
    ::raise(signal);
}

// Holds back the fatal signals that InstallTempFileCleanup handles, for the few system calls
// during which a temporary name exists that the handler does not know of.
class SignalHold {
public:
    SignalHold() {
        sigset_t set;
        sigemptyset(&set);
        for (int s : {SIGINT, SIGTERM, SIGHUP})
            sigaddset(&set, s);
        ::pthread_sigmask(SIG_BLOCK, &set, &saved_);
    }
    ~SignalHold() { ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

private:
    sigset_t saved_;
};

std::string TempName() {
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static thread_local std::mt19937 random(std::random_device{}());
    std::string name = ".pelfry-";
    for (int i = 0; i < 8; ++i)
        name += letters[random() % (sizeof letters - 1)];
    return name;
}

std::atomic<bool> forceNamed{false};

bool ProcFdAvailable() {
    static const bool available = ::access("/proc/self/fd", X_OK) == 0;
    return available;
}

// Errors that mean the disk could not take the bytes, as against a name that cannot be made.
bool IsWriteFailure(int error) {
    return error == ENOSPC || error == EDQUOT || error == EIO || error == EFBIG;
}

} // namespace

void UseNamedTempFiles(bool named) {
    forceNamed = named;
}

void InstallTempFileCleanup() {
    for (int s : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        ::sigaction(s, nullptr, &old);
        if (old.sa_handler == SIG_IGN) continue; // started under nohup and the like: keep it so
        struct sigaction action {};
        action.sa_handler = RemoveTempsAndDie;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND | SA_NODEFER;
        ::sigaction(s, &action, nullptr);
    }
}

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

Folder::Folder(Folder&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) {
    other.fd_ = -1;
}

Folder& Folder::operator=(Folder&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        path_ = std::move(other.path_);
        other.fd_ = -1;
    }
    return *this;
}

Folder Folder::Descend(std::string_view relative, const std::string& shownName) const {
    int current = ::dup(fd_);
    if (current < 0) throw FileCreateError(shownName, errno);
    Folder result(current, path_);
    size_t start = 0;
    while (start < relative.size()) {
        size_t end = start;
        while (end < relative.size() && !IsPathSeparator(relative[end]))
            ++end;
        const std::string part(relative.substr(start, end - start));
        start = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") throw FileCreateError(shownName);
        // O_NOFOLLOW: a link planted on the way is refused, never walked through.
        int next =
            ::openat(result.fd_, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT) {
            if (::mkdirat(result.fd_, part.c_str(), 0777) != 0 && errno != EEXIST)
                throw FileCreateError(shownName, errno);
            next =
                ::openat(result.fd_, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (next < 0) throw FileCreateError(shownName, errno);
        result = Folder(next, result.path_ + part + "/");
    }
    return result;
}

// ---- ReplacingFile ----------------------------------------------------------------------------

struct ReplacingFile::State {
    std::unique_ptr<Folder> ownFolder; // when made from a path
    int folder = -1;
    std::string name;
    std::string shownName;
    int fd = -1;
    bool nameless = false; // made with O_TMPFILE
    std::string tempName;  // the name it has until Commit, when not nameless
    int cleanupSlot = -1;
    mode_t mode = 0;
    bool failed = false;
    int error = 0;
    bool committed = false;
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
    s.folder = folder;
    s.name = name;
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        throw FileCreateError(s.shownName, EINVAL);
    const long nameMax = ::fpathconf(folder, _PC_NAME_MAX);
    if (name.size() > static_cast<size_t>(nameMax > 0 ? nameMax : NAME_MAX))
        throw FileCreateError(s.shownName, ENAMETOOLONG);

    // What stands under the name now: a folder is never replaced by a file, nor a file the
    // user may not write; a link is replaced, not followed.
    struct stat st {};
    if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISLNK(st.st_mode)) {
        if (!S_ISREG(st.st_mode))
            throw FileCreateError(s.shownName, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        if (::faccessat(folder, name.c_str(), W_OK, 0) != 0)
            throw FileCreateError(s.shownName, errno);
        s.mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        s.mode = 0666 & ~mask;
    }

    if (!forceNamed && ProcFdAvailable()) {
        s.fd = ::openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        s.nameless = s.fd >= 0;
    }
    for (int attempt = 0; s.fd < 0 && attempt < 100; ++attempt) {
        // No O_TMPFILE here: a named file, registered so that a fatal signal removes it.
        const std::string temp = TempName();
        SignalHold hold;
        s.fd = ::openat(folder, temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        0600);
        if (s.fd >= 0) {
            s.tempName = temp;
            s.cleanupSlot = RegisterTemp(folder, temp);
        } else if (errno != EEXIST) {
            break;
        }
    }
    if (s.fd < 0) throw FileCreateError(s.shownName, errno);
}

ReplacingFile::~ReplacingFile() {
    State& s = *state_;
    if (s.fd >= 0) ::close(s.fd);
    if (!s.committed && !s.tempName.empty()) ::unlinkat(s.folder, s.tempName.c_str(), 0);
    UnregisterTemp(s.cleanupSlot);
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

void ReplacingFile::Commit() {
    State& s = *state_;
    Flush();
    if (!s.failed && ::fchmod(s.fd, s.mode) != 0) {
        s.failed = true;
        s.error = errno;
    }
    if (!s.failed && ::fsync(s.fd) != 0 && errno != EINVAL) {
        s.failed = true;
        s.error = errno;
    }
    if (s.failed) throw FileWriteError(s.shownName, s.error);

    {
        SignalHold hold;
        if (s.nameless) {
            // Give the complete file a temporary name first: a nameless file can only be
            // linked to a name that is free, and the target's usually is not.
            const std::string self = "/proc/self/fd/" + std::to_string(s.fd);
            for (int attempt = 0; attempt < 100 && s.tempName.empty(); ++attempt) {
                const std::string temp = TempName();
                if (::linkat(AT_FDCWD, self.c_str(), s.folder, temp.c_str(), AT_SYMLINK_FOLLOW) ==
                    0)
                    s.tempName = temp;
                else if (errno != EEXIST)
                    break;
            }
            if (s.tempName.empty()) throw FileCreateError(s.shownName, errno);
        }
        if (::renameat(s.folder, s.tempName.c_str(), s.folder, s.name.c_str()) != 0) {
            const int error = errno;
            ::unlinkat(s.folder, s.tempName.c_str(), 0);
            s.tempName.clear();
            if (IsWriteFailure(error)) throw FileWriteError(s.shownName, error);
            throw FileCreateError(s.shownName, error);
        }
        s.committed = true;
    }
    ::close(s.fd);
    s.fd = -1;
    // The rename itself reaches the disk only with its folder.
    ::fsync(s.folder);
}

} // namespace pelfry
