// What the replacing writer does the same on every system: gathering small writes into large
// ones, and copying from another file where the system cannot. Making, writing and committing the
// file are in ReplacingFile_posix.cpp and ReplacingFile_win.cpp.
#include "ReplacingFile.h"

#include "FileStream.h"
#include "base/Errors.h"
#include "base/Stream.h"

#include <algorithm>

namespace pelfry {

void ReplacingFile::Write(const void* bytes, size_t count) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    if (buffer_.size() + count > BufferSize) Flush();
    if (count >= BufferSize)
        WriteOut(p, count); // large blocks skip the buffer
    else
        buffer_.insert(buffer_.end(), p, p + count);
}

uint64_t ReplacingFile::AppendFrom(const FileStream& source, uint64_t offset, uint64_t count) {
    Flush();
    uint64_t copied = AppendInSystem(source, offset, count);
    std::vector<uint8_t> block;
    while (copied < count) {
        block.resize(static_cast<size_t>(std::min<uint64_t>(count - copied, BufferSize)));
        const int64_t got = source.ReadAt(static_cast<int64_t>(offset + copied), block.data(),
                                          static_cast<int64_t>(block.size()));
        if (got <= 0) break;
        WriteOut(block.data(), static_cast<size_t>(got));
        copied += static_cast<uint64_t>(got);
    }
    return copied;
}

void ReplacingFile::Tell(const std::string& shown, const std::vector<std::string>& lost, int why,
                         unsigned long links) {
    if (!lost.empty()) {
        std::string items;
        for (size_t i = 0; i < lost.size(); ++i)
            items += (i == 0 ? "" : i + 1 == lost.size() ? " and " : ", ") + lost[i];
        warnings_.push_back(shown + " was saved, but its " + items +
                            " could not be kept: " + SystemReason(why));
    }
    if (links > 1)
        warnings_.push_back(shown + " had other names (hard links), which keep the old contents");
}

void ReplacingFile::Flush() {
    WriteOut(buffer_.data(), buffer_.size());
    buffer_.clear();
}

} // namespace pelfry
