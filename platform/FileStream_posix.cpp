// The file-backed stream on POSIX systems: positioned reads and writes (pread, pwrite), so
// the position lives in the object and never in the shared descriptor.
#include "Stream.h"

#include "Errors.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelfry {

FileStream::FileStream(const std::string& fileName, Mode mode) : fileName_(fileName) {
    switch (mode) {
    case Mode::OpenRead:
        fd_ = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
        break;
    case Mode::OpenReadWrite:
        fd_ = ::open(fileName.c_str(), O_RDWR | O_CLOEXEC);
        break;
    case Mode::Create:
        fd_ = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        break;
    }
    if (fd_ >= 0) {
        // A folder opens for reading on this platform, but it is no file.
        struct stat st {};
        if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
            ::close(fd_);
            fd_ = -1;
            errno = EISDIR;
        }
    }
    if (fd_ < 0) {
        if (mode == Mode::Create) throw FileCreateError(fileName);
        throw FileOpenError(fileName);
    }
}

FileStream::~FileStream() {
    if (fd_ >= 0) ::close(fd_);
}

void FileStream::Close() {
    if (fd_ < 0) return;
    int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0 && errno != EINTR) throw FileWriteError(fileName_);
}

int64_t FileStream::Read(void* buffer, int64_t count) {
    if (count <= 0 || fd_ < 0 || position_ < 0) return 0;
    auto* out = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        size_t chunk = static_cast<size_t>(std::min<int64_t>(count - done, 1 << 30));
        ssize_t got = ::pread(fd_, out + done, chunk, static_cast<off_t>(position_));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += got;
        position_ += got;
    }
    return done;
}

int64_t FileStream::Write(const void* buffer, int64_t count) {
    if (count <= 0 || fd_ < 0 || position_ < 0) return 0;
    auto* in = static_cast<const uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        size_t chunk = static_cast<size_t>(std::min<int64_t>(count - done, 1 << 30));
        ssize_t put = ::pwrite(fd_, in + done, chunk, static_cast<off_t>(position_));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) break;
        done += put;
        position_ += put;
    }
    return done;
}

int64_t FileStream::Size() {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) return 0;
    return st.st_size;
}

} // namespace pelfry
