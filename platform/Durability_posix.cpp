// The flush of a DurabilityScope on POSIX systems: syncfs once per file system, then fsync of
// each folder held.
#include "Durability.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelfry {

namespace {

// Folders held open at most: beyond, what is held is flushed early and let go, so that a
// command writing into thousands of folders never runs out of descriptors.
constexpr size_t MaxHeld = 256;

std::atomic<uint64_t> fileSystemFlushes{0};
std::atomic<int> failNext{0};

} // namespace

uint64_t DurabilityScope::FileSystemFlushes() {
    return fileSystemFlushes;
}

void DurabilityScope::FailNextFlush(int error) {
    failNext = error;
}

void DurabilityScope::Enrol(int folder, const std::string& path) {
    struct stat st {};
    if (::fstat(folder, &st) == 0 &&
        known_.count({static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)}))
        return;
    const int copy = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) {
        ::fsync(folder);
        return;
    }
    known_.emplace(static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino));
    held_.push_back({copy, path, static_cast<uint64_t>(st.st_dev)});
    if (held_.size() >= MaxHeld) Flush();
}

void DurabilityScope::Flush() {
    if (held_.empty()) return;
    const auto fail = [this](const Held& held) {
        if (error_ != 0 || errno == EINVAL || errno == EROFS) return;
        error_ = errno;
        errorPath_ = held.path.empty() ? "." : held.path;
    };
    // A flush of the whole file system writes every file's bytes and, on the journaling file
    // systems, every name too; the folders' own flushes below are then quick.
    std::set<uint64_t> flushed;
    for (const Held& held : held_) {
        if (!flushed.insert(held.device).second) continue;
        ++fileSystemFlushes;
        if (::syncfs(held.fd) != 0) fail(held);
    }
    for (const Held& held : held_) {
        if (::fsync(held.fd) != 0) {
            fail(held);
        } else if (const int error = failNext.exchange(0); error != 0) {
            errno = error;
            fail(held);
        }
        ::close(held.fd);
    }
    held_.clear();
    known_.clear();
}

} // namespace pelfry
