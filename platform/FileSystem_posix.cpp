// Files and folders on POSIX systems.
#include "FileUtil.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelfry {

int64_t FileLength(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
    return st.st_size;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool DeleteFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

bool MakeFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    return errno == EEXIST && DirectoryExists(path);
}

std::string TempFolder() {
    const char* dir = std::getenv("TMPDIR");
    std::string folder = (dir && *dir) ? dir : "/tmp";
    return IncludeTrailingSeparator(folder);
}

uint64_t CopyFileRange(int from, uint64_t offset, int to, uint64_t count, int& error) {
    error = 0;
    uint64_t copied = 0;
    while (copied < count) {
        loff_t at = static_cast<loff_t>(offset + copied);
        // At most 1 GiB a call, as the kernel would cut it anyway.
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(count - copied, 1u << 30));
        const ssize_t n = ::copy_file_range(from, &at, to, nullptr, chunk, 0);
        if (n > 0) {
            copied += static_cast<uint64_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        // The disk refusing the bytes is the target's failure; anything else (another file
        // system, a kernel without the call) leaves the rest to the caller's own copy.
        if (n < 0 && (errno == ENOSPC || errno == EDQUOT || errno == EIO || errno == EFBIG))
            error = errno;
        break;
    }
    return copied;
}

bool FileSystemRefusesName(std::string_view) {
    return false;
}

} // namespace pelfry
