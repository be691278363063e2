#include "Stream.h"

#include "Errors.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelfry {

int64_t Stream::Write(const void*, int64_t) { throw AbstractError(); }

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

// Adds without overflow: the result saturates at the ends of the 64-bit range.
static int64_t AddClamped(int64_t a, int64_t b) {
    int64_t sum;
    if (__builtin_add_overflow(a, b, &sum)) return b > 0 ? INT64_MAX : INT64_MIN;
    return sum;
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

void FileStream::WriteAll(const void* buffer, int64_t count) {
    if (Write(buffer, count) != std::max<int64_t>(count, 0)) throw FileWriteError(fileName_);
}

int64_t FileStream::Seek(int64_t offset, SeekOrigin origin) {
    switch (origin) {
    case SeekOrigin::Begin: position_ = offset; break;
    case SeekOrigin::Current: position_ = AddClamped(position_, offset); break;
    case SeekOrigin::End: position_ = AddClamped(Size(), offset); break;
    }
    return position_;
}

int64_t FileStream::Size() {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) return 0;
    return st.st_size;
}

int64_t MemoryStream::Read(void* buffer, int64_t count) {
    if (count <= 0 || position_ < 0) return 0;
    int64_t available = Size() - position_;
    if (available <= 0) return 0;
    int64_t n = std::min(count, available);
    std::memcpy(buffer, bytes_.data() + position_, static_cast<size_t>(n));
    position_ += n;
    return n;
}

int64_t MemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0 || position_ < 0) return 0;
    int64_t endPosition;
    if (__builtin_add_overflow(position_, count, &endPosition)) return 0;
    size_t end = static_cast<size_t>(endPosition);
    if (end > bytes_.size()) bytes_.resize(end);
    std::memcpy(bytes_.data() + position_, buffer, static_cast<size_t>(count));
    position_ += count;
    return count;
}

int64_t MemoryStream::Seek(int64_t offset, SeekOrigin origin) {
    switch (origin) {
    case SeekOrigin::Begin: position_ = offset; break;
    case SeekOrigin::Current: position_ = AddClamped(position_, offset); break;
    case SeekOrigin::End: position_ = AddClamped(Size(), offset); break;
    }
    return position_;
}

uint8_t ReadU8(Stream& stream) {
    uint8_t b = 0;
    stream.Read(&b, 1);
    return b;
}

uint16_t ReadU16(Stream& stream) {
    uint8_t b[2] = {0, 0};
    stream.Read(b, 2);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

uint32_t ReadU32(Stream& stream) {
    uint8_t b[4] = {0, 0, 0, 0};
    stream.Read(b, 4);
    return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
           (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

std::vector<uint8_t> ReadRest(Stream& stream) {
    std::vector<uint8_t> out;
    const int64_t position = stream.Position();
    if (position < 0) return out; // reads before the start deliver nothing
    int64_t left = stream.Size() - position;
    if (left <= 0) return out;
    out.resize(static_cast<size_t>(left));
    out.resize(static_cast<size_t>(stream.Read(out.data(), left)));
    return out;
}

} // namespace pelfry
