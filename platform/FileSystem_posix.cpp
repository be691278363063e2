// Files and folders on POSIX systems.
#include "FileUtil.h"

#include "base/Text.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <fcntl.h>
#include <locale.h>
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
    const int error = errno;
    if (error == EEXIST && DirectoryExists(path)) return true;
    errno = error; // a file in the way: "File exists"
    return false;
}

int BrokenLink(const std::string& path) {
    const std::string native = NativePath(path);
    struct stat st {};
    if (::lstat(native.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return 0;
    if (::stat(native.c_str(), &st) == 0) return 0;
    if (errno == ELOOP) return ELOOP;
    return errno == ENOENT || errno == ENOTDIR ? ENOENT : 0;
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

std::string StoredName(std::string_view part, NameCase rule) {
    if (rule == NameCase::Exact) return std::string(part);
    if (rule == NameCase::Ascii) return UpperCaseAscii(part);
    // Names are bytes here; a folder that ignores case compares those that are UTF-8 letter by
    // letter, and the others (Latin-1 names from old archives) only in their ASCII letters.
    static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    if (utf8 == nullptr) return UpperCaseAscii(part);
    const locale_t previous = ::uselocale(utf8);
    std::string out;
    std::mbstate_t in{}, put{};
    for (size_t at = 0; at < part.size();) {
        wchar_t letter = 0;
        const size_t used = std::mbrtowc(&letter, part.data() + at, part.size() - at, &in);
        if (used == 0 || used > part.size() - at) {
            out = UpperCaseAscii(part);
            break;
        }
        char bytes[MB_LEN_MAX];
        const size_t made = std::wcrtomb(
            bytes, static_cast<wchar_t>(std::towupper(static_cast<wint_t>(letter))), &put);
        out.append(bytes, made == static_cast<size_t>(-1) ? 0 : made);
        at += used;
    }
    ::uselocale(previous);
    return out;
}

} // namespace pelfry
