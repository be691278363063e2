// File times on POSIX systems.
#include "FileTime.h"

#include "FileStream.h"
#include "base/Errors.h"

#include <cerrno>
#include <fcntl.h>
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

int64_t FileModifiedNanoseconds(const FileStream& file) {
    struct stat st {};
    if (::fstat(file.Handle(), &st) != 0) return -1;
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

int32_t FileGetDate(const FileStream& file) {
    struct stat st {};
    if (::fstat(file.Handle(), &st) != 0) return -1;
    return UnixToFileDate(st.st_mtime);
}

// Both times of a file as an age; false for an age that names no calendar time.
static bool TimesOf(int32_t age, struct timespec (&times)[2]) {
    const std::time_t t = FileDateToUnix(age);
    if (t == static_cast<std::time_t>(-1)) return false;
    times[0].tv_sec = t;
    times[0].tv_nsec = 0;
    times[1] = times[0];
    return true;
}

bool FileSetDate(const FileStream& file, int32_t age) {
    struct timespec times[2];
    return TimesOf(age, times) && ::futimens(file.Handle(), times) == 0;
}

void SetFileAge(const std::string& target, int32_t age) {
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0) throw FileOpenError(target, errno);
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) throw NotRegularFileError(target);
    struct timespec times[2];
    if (TimesOf(age, times)) ::utimensat(AT_FDCWD, target.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

} // namespace pelfry
