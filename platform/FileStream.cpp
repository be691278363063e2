// The file-backed stream's parts that every system shares.
#include "FileStream.h"

#include "base/Errors.h"

#include <algorithm>

namespace pelfry {

void FileStream::WriteAll(const void* buffer, int64_t count) {
    if (Write(buffer, count) != std::max<int64_t>(count, 0)) throw FileWriteError(fileName_);
}

int64_t FileStream::Read(void* buffer, int64_t count) {
    if (position_ < 0) return 0;
    const int64_t done = ReadAt(position_, buffer, count);
    position_ += done;
    return done;
}

int64_t FileStream::Seek(int64_t offset, SeekOrigin origin) {
    position_ = SeekTarget(*this, position_, offset, origin);
    return position_;
}

} // namespace pelfry
