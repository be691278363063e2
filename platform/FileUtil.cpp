#include "FileUtil.h"

#include "Errors.h"
#include "Stream.h"

#include <cerrno>
#include <filesystem>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelfry {

static size_t LastDelimiter(std::string_view path) {
    return path.find_last_of("/\\:");
}

std::string ExtractFilePath(std::string_view path) {
    size_t at = LastDelimiter(path);
    return at == std::string_view::npos ? std::string() : std::string(path.substr(0, at + 1));
}

std::string ExtractFileName(std::string_view path) {
    size_t at = LastDelimiter(path);
    return at == std::string_view::npos ? std::string(path) : std::string(path.substr(at + 1));
}

std::string ExtractFileExt(std::string_view path) {
    size_t dot = path.find_last_of(".\\/:");
    if (dot == std::string_view::npos || path[dot] != '.') return std::string();
    return std::string(path.substr(dot));
}

std::string NativePath(std::string_view path) {
    std::string out(path);
    for (char& c : out)
        if (c == '\\') c = '/';
    return out;
}

std::string IncludeTrailingSeparator(std::string_view folder) {
    std::string out(folder);
    if (out.empty() || !IsPathSeparator(out.back())) out += '/';
    return out;
}

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

bool DeleteFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool ForceDirectories(const std::string& path) {
    std::string p = NativePath(path);
    while (p.size() > 1 && p.back() == '/') p.pop_back();
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

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    FileStream file(path, FileStream::Mode::OpenRead);
    return ReadRest(file);
}

void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    WriteFileReplacing(path, bytes);
}

} // namespace pelfry
