#include "app/Toolkit.h"

#include "platform/FileUtil.h"
#include "platform/Text.h"

namespace pelfry {

std::vector<std::string> SplitTextLines(const std::vector<uint8_t>& bytes) {
    std::vector<std::string> lines;
    const size_t size = bytes.size();
    size_t at = 0;
    // A 0x00 byte ends the text wherever it stands, also right after a line end.
    while (at < size && bytes[at] != 0) {
        const size_t start = at;
        while (at < size && bytes[at] != 0 && bytes[at] != '\r' && bytes[at] != '\n') ++at;
        lines.emplace_back(reinterpret_cast<const char*>(bytes.data()) + start, at - start);
        if (at < size && bytes[at] == '\r') ++at;
        if (at < size && bytes[at] == '\n') ++at;
    }
    return lines;
}

std::vector<std::string> Toolkit::ListLines() {
    std::vector<std::string> lines;
    const int count = ListCount();
    lines.reserve(count > 0 ? static_cast<size_t>(count) : 0);
    for (int i = 0; i < count; ++i) lines.push_back(ListLine(i));
    return lines;
}

void Toolkit::ListSaveToFile(const std::string& path) { WriteTextLines(path, ListLines()); }

void Toolkit::ListLoadFromFile(const std::string& path) {
    // Read everything first: a file that cannot be read leaves the list as it was.
    ListSetLines(SplitTextLines(ReadWholeFile(path)));
}

} // namespace pelfry
