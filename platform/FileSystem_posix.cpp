// Files and folders on POSIX systems.
#include "FileUtil.h"

#include <cerrno>
#include <cstdlib>
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

bool ForceDirectories(const std::string& path) {
    std::string p = NativePath(path);
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    if (p.empty()) return false;
    if (DirectoryExists(p)) return true;
    size_t slash = p.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
        if (!ForceDirectories(p.substr(0, slash))) return false;
    }
    if (::mkdir(p.c_str(), 0777) == 0) return true;
    return errno == EEXIST && DirectoryExists(p);
}

std::string TempFolder() {
    const char* dir = std::getenv("TMPDIR");
    std::string folder = (dir && *dir) ? dir : "/tmp";
    return IncludeTrailingSeparator(folder);
}

bool FileSystemRefusesName(std::string_view) {
    return false;
}

} // namespace pelfry
