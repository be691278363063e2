// What the replacing writer does the same on every system: gathering small writes into large
// ones. Making, writing and committing the file are in ReplacingFile_posix.cpp and
// ReplacingFile_win.cpp.
#include "ReplacingFile.h"

#include "Errors.h"

namespace pelfry {

void ReplacingFile::Write(const void* bytes, size_t count) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    if (buffer_.size() + count > BufferSize) Flush();
    if (count >= BufferSize)
        WriteOut(p, count); // large blocks skip the buffer
    else
        buffer_.insert(buffer_.end(), p, p + count);
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
