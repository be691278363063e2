// The file-backed stream on POSIX systems: positioned reads and writes (pread, pwrite), so
// the position lives in the object and never in the shared descriptor.

#include "FileStream.h"
#include "base/Errors.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelfry {

FileStream::FileStream(const std::string& fileName, Mode mode) : fileName_(fileName) {
    // Only regular files are opened: a FIFO would block the open or the reads, and a device
    // may act on being opened. Looked at first, so that such a thing is never opened at all,
    // and again once open (O_NONBLOCK: an open that raced with a swap cannot block either).
    struct stat st {};
    const auto refuse = [&] {
        if (mode == Mode::Create)
            throw FileCreateError(fileName, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        throw NotRegularFileError(fileName);
    };
    if (::stat(fileName.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) refuse();
    int flags = O_CLOEXEC | O_NONBLOCK;
    switch (mode) {
    case Mode::OpenRead:
        flags |= O_RDONLY;
        break;
    case Mode::OpenReadWrite:
        flags |= O_RDWR;
        break;
    case Mode::Create:
        flags |= O_RDWR | O_CREAT | O_TRUNC;
        break;
    }
    fd_ = ::open(fileName.c_str(), flags, 0666);
    if (fd_ < 0) {
        const int error = errno;
        // A socket cannot be opened at all (ENXIO).
        if (::stat(fileName.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) refuse();
        if (mode == Mode::Create) throw FileCreateError(fileName, error);
        throw FileOpenError(fileName, error);
    }
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        refuse();
    }
}

FileStream::~FileStream() {
    if (fd_ >= 0) ::close(fd_);
}

void FileStream::Close() {
    if (fd_ < 0) return;
    int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0 && errno != EINTR) throw FileWriteError(fileName_, errno);
}

int64_t FileStream::ReadAt(int64_t offset, void* buffer, int64_t count) const {
    if (count <= 0 || fd_ < 0 || offset < 0) return 0;
    // The system refuses as an error a read that runs past the largest offset; no file reaches
    // that far, so the read stops there, at an end like any other.
    count = std::min(count, INT64_MAX - offset);
    auto* out = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        size_t chunk = static_cast<size_t>(std::min<int64_t>(count - done, 1 << 30));
        ssize_t got = ::pread(fd_, out + done, chunk, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw FileReadError(fileName_, errno);
        if (got == 0) break;
        done += got;
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
