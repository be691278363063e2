// What the replacing writer does the same on every system: gathering small writes into large
// ones. Making, writing and committing the file are in ReplacingFile_posix.cpp and
// ReplacingFile_win.cpp.
#include "ReplacingFile.h"

namespace pelfry {

void ReplacingFile::Write(const void* bytes, size_t count) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    if (buffer_.size() + count > BufferSize) Flush();
    if (count >= BufferSize)
        WriteOut(p, count); // large blocks skip the buffer
    else
        buffer_.insert(buffer_.end(), p, p + count);
}

void ReplacingFile::Flush() {
    WriteOut(buffer_.data(), buffer_.size());
    buffer_.clear();
}

} // namespace pelfry
