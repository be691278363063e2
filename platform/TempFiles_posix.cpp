// The replacing writer's temporaries on POSIX systems: made nameless where the file system
// allows (O_TMPFILE: the kernel drops the file with its last descriptor, however the process
// ends), else named and removed by the handler of a fatal signal; marked with a flock in both
// cases, so that a named one that a killed writer left is told from a live writer's and removed
// by the next writer in its folder. Also the folder probe of FolderNameCase, which is one.
#include "TempFiles.h"

#include "FileUtil.h"
#include "ReplacingFile.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace pelfry {

namespace {

// ---- Named temporaries that a fatal signal must remove ----------------------------------------

struct CleanupSlot {
    std::atomic<bool> taken{false};
    std::atomic<int> folder{-1}; // set last: the handler looks at a slot only once it is >= 0
    char name[32] = {};
};

// As many as files may be written at once: those prepared ahead on a pool of threads
// (PrepareFileBelow) and a few more.
constexpr int CleanupSlots = 160;
CleanupSlot cleanupSlots[CleanupSlots];

extern "C" void RemoveTempsAndDie(int signal) {
    for (CleanupSlot& slot : cleanupSlots) {
        const int folder = slot.folder.load(std::memory_order_acquire);
        if (folder >= 0) ::unlinkat(folder, slot.name, 0);
    }
    // The handler was installed to run once and not to block its own signal: raising it
    // again now ends the process as the signal would have.
    ::raise(signal);
}

bool ProcFdAvailable() {
    static const bool available = ::access("/proc/self/fd", X_OK) == 0;
    return available;
}

// Removes the temporary `name` when it is a regular file that no live writer marks.
void RemoveIfStale(int folder, const std::string& name) {
    const int fd = ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        temps::StandsUnder(fd, folder, name))
        ::unlinkat(folder, name.c_str(), 0);
    ::close(fd);
}

} // namespace

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
    // Beyond the file-size limit (ulimit -f) a write then fails, and is reported like a full
    // disk, instead of the process ending without a word.
    ::signal(SIGXFSZ, SIG_IGN);
}

namespace temps {

bool StandsUnder(int fd, int folder, const std::string& name) {
    struct stat open {
    }, named{};
    return ::fstat(fd, &open) == 0 &&
           ::fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

std::vector<std::string> FolderNames(int folder) {
    std::vector<std::string> names;
    const int listing = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (dir == nullptr) {
        if (listing >= 0) ::close(listing);
        return names;
    }
    while (const dirent* entry = ::readdir(dir))
        if (std::string_view(entry->d_name) != "." && std::string_view(entry->d_name) != "..")
            names.emplace_back(entry->d_name);
    ::closedir(dir);
    return names;
}

int Remember(int folder, const std::string& name) {
    for (int i = 0; i < CleanupSlots; ++i) {
        bool expected = false;
        if (!cleanupSlots[i].taken.compare_exchange_strong(expected, true)) continue;
        std::snprintf(cleanupSlots[i].name, sizeof cleanupSlots[i].name, "%s", name.c_str());
        cleanupSlots[i].folder.store(folder, std::memory_order_release);
        return i;
    }
    return -1; // more writes at once than slots: this one goes unguarded
}

void Forget(int slot) {
    if (slot < 0) return;
    cleanupSlots[slot].folder.store(-1, std::memory_order_release);
    cleanupSlots[slot].taken.store(false);
}

SignalHold::SignalHold() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&set, s);
    ::pthread_sigmask(SIG_BLOCK, &set, &saved_);
}

SignalHold::~SignalHold() {
    ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
}

int MakeTemporary(int folder, bool nameless, std::string& name, unsigned mode) {
    name.clear();
    // A nameless file is linked to a name at the end through /proc.
    if (nameless && ProcFdAvailable()) {
        const int fd = ::openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
        if (fd >= 0) {
            ::flock(fd, LOCK_EX); // nobody else can reach it yet: never waits
            return fd;
        }
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temp = NewName();
        const int fd = ::openat(folder, temp.c_str(),
                                O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return -1;
        }
        // Until the mark is on, another writer's cleaning may take the file for a stale one:
        // then it is gone or going, and another name is tried.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && temps::StandsUnder(fd, folder, temp)) {
            name = temp;
            return fd;
        }
        ::close(fd);
    }
    errno = EEXIST;
    return -1;
}

void RemoveStaleTemporaries(int folder) {
    struct stat st {};
    if (::fstat(folder, &st) != 0 ||
        !FirstVisit(static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)))
        return;
    for (const std::string& name : FolderNames(folder))
        if (IsTemporaryName(name)) RemoveIfStale(folder, name);
}

} // namespace temps

namespace {

// The folder probe's questions asked of the system, in the open folder `folder`.
class SystemProbe : public NameProbe {
public:
    explicit SystemProbe(int folder) : folder_(folder) {}
    ~SystemProbe() override {
        if (fd_ >= 0) Remove(made_);
    }

    bool Make(const std::string& name) override {
        // Known to the signal handler from the moment it exists, and marked as a live writer's
        // temporary is, so that only a killed command leaves it to the next writer to remove.
        temps::SignalHold hold;
        fd_ = ::openat(folder_, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                       0600);
        if (fd_ < 0) return false;
        ::flock(fd_, LOCK_EX | LOCK_NB);
        made_ = name;
        slot_ = temps::Remember(folder_, name);
        return true;
    }
    bool Identify(const std::string& name, uint64_t& volume, uint64_t& index) override {
        struct stat st {};
        if (::fstatat(folder_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            return false;
        volume = static_cast<uint64_t>(st.st_dev);
        index = static_cast<uint64_t>(st.st_ino);
        return true;
    }
    void Write(const std::string& name, const std::string& bytes) override {
        if (name != made_ || ::ftruncate(fd_, 0) != 0) return;
        if (::pwrite(fd_, bytes.data(), bytes.size(), 0) < 0) return;
    }
    std::string Read(const std::string& name) override {
        const int fd =
            ::openat(folder_, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return {};
        char bytes[64];
        const ssize_t got = ::pread(fd, bytes, sizeof bytes, 0);
        ::close(fd);
        return got > 0 ? std::string(bytes, static_cast<size_t>(got)) : std::string();
    }
    void Remove(const std::string& name) override {
        // Closed first: FUSE keeps a file removed while open under a hidden name.
        ::close(fd_);
        fd_ = -1;
        ::unlinkat(folder_, name.c_str(), 0);
        temps::Forget(slot_);
        slot_ = -1;
    }

private:
    int folder_;
    int fd_ = -1;
    std::string made_;
    int slot_ = -1;
};

} // namespace

NameCase FolderNameCase(const std::string& path) {
    const std::string native = NativePath(path);
    const int folder =
        ::open(native.empty() ? "." : native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return NameCase::Exact;
    // A probe that a killed command left goes first.
    temps::RemoveStaleTemporaries(folder);
    NameCase rule = NameCase::Exact;
    {
        SystemProbe probe(folder);
        rule = JudgeNameCase(probe, temps::NewName());
    }
    ::close(folder);
    return rule;
}

} // namespace pelfry
