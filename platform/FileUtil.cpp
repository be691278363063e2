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
    FileStream file(path, FileStream::Mode::Create);
    file.WriteAll(bytes);
    file.Close();
}

ReplacingFile::ReplacingFile(const std::string& target) : shownName_(target), target_(target) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::is_symlink(target, ec)) {
        fs::path resolved = fs::weakly_canonical(fs::path(target), ec);
        if (!ec) target_ = resolved.string();
    }
    // A folder can never be replaced by the file, and a file the user may not write must not
    // be replaced behind its back.
    if (DirectoryExists(target_) || (FileExists(target_) && ::access(target_.c_str(), W_OK) != 0))
        throw FileCreateError(shownName_);
    // The new file sits beside the target (a rename never crosses file systems); its name is
    // cut so that the added characters never make it too long where the target's is not.
    temp_ = ExtractFilePath(target_) + "." + ExtractFileName(target_).substr(0, 200) + ".XXXXXX";
    fd_ = ::mkstemp(temp_.data());
    if (fd_ < 0) throw FileCreateError(shownName_);
    buffer_.reserve(BufferSize);
}

ReplacingFile::~ReplacingFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_) ::unlink(temp_.c_str());
}

void ReplacingFile::Write(const void* bytes, size_t count) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    if (buffer_.size() + count > BufferSize) Flush();
    if (count >= BufferSize) WriteOut(p, count); // large blocks skip the buffer
    else buffer_.insert(buffer_.end(), p, p + count);
}

void ReplacingFile::Flush() {
    WriteOut(buffer_.data(), buffer_.size());
    buffer_.clear();
}

void ReplacingFile::WriteOut(const uint8_t* p, size_t count) {
    // After the first failure nothing more is tried; Commit reports it.
    while (count > 0 && !failed_) {
        const ssize_t put = ::write(fd_, p, count);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            failed_ = true;
            break;
        }
        p += put;
        count -= static_cast<size_t>(put);
    }
}

void ReplacingFile::Commit() {
    Flush();
    // Keep the permissions an existing target had; a new file gets the usual ones.
    struct stat st {};
    mode_t mode = 0;
    if (::stat(target_.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::fchmod(fd_, mode);
    if (::fsync(fd_) != 0 && errno != EINVAL) failed_ = true;
    if (::close(fd_) != 0) failed_ = true;
    fd_ = -1;
    if (failed_) throw FileWriteError(shownName_);
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
        // The new file's name is kept short, so a target name the file system cannot hold
        // shows only here: that target cannot be created at all.
        if (errno == ENAMETOOLONG) throw FileCreateError(shownName_);
        throw FileWriteError(shownName_);
    }
    committed_ = true;
}

void WriteFileReplacing(const std::string& path, const std::vector<uint8_t>& bytes) {
    ReplacingFile file(path);
    file.Write(bytes.data(), bytes.size());
    file.Commit();
}

} // namespace pelfry
