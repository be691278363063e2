// File times on POSIX systems.
#include "FileTime.h"

#include "Stream.h"

#include <sys/stat.h>

namespace pelfry {

int32_t UnixToFileDate(std::time_t time) {
    std::tm local{};
    localtime_r(&time, &local);
    return PackFileDate(local);
}

int32_t FileAge(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
    return UnixToFileDate(st.st_mtime);
}

int64_t FileModifiedNanoseconds(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

int32_t FileGetDate(const FileStream& file) {
    struct stat st {};
    if (::fstat(file.Handle(), &st) != 0) return -1;
    return UnixToFileDate(st.st_mtime);
}

bool FileSetDate(const FileStream& file, int32_t age) {
    std::time_t t = FileDateToUnix(age);
    if (t == static_cast<std::time_t>(-1)) return false;
    struct timespec times[2];
    times[0].tv_sec = t;
    times[0].tv_nsec = 0;
    times[1] = times[0];
    return ::futimens(file.Handle(), times) == 0;
}

} // namespace pelfry
