#include "app/Toolkit.h"

#include "base/Text.h"
#include "platform/FileUtil.h"

namespace pelfry {

std::vector<std::string> Toolkit::ListLines() {
    std::vector<std::string> lines;
    const int count = ListCount();
    lines.reserve(count > 0 ? static_cast<size_t>(count) : 0);
    for (int i = 0; i < count; ++i)
        lines.push_back(ListLine(i));
    return lines;
}

void Toolkit::ListLoadFromFile(const std::string& path) {
    // Read everything first: a file that cannot be read leaves the list as it was.
    ListSetLines(SplitTextLines(ReadWholeFile(path)));
}

} // namespace pelfry
