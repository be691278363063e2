// Reading what pelfry-cli wrote.
#pragma once

#include <string>

namespace pelfry::test {

// The last line of an output: after any progress lines, the error message.
inline std::string LastLine(const std::string& text) {
    size_t end = text.size();
    if (end > 0 && text[end - 1] == '\n') --end;
    size_t start = text.rfind('\n', end == 0 ? 0 : end - 1);
    start = start == std::string::npos ? 0 : start + 1;
    return text.substr(start, end - start);
}

} // namespace pelfry::test
