// The conversion log reader on arbitrary bytes. No line may hold a line end or a NUL, and the
// lines written back as a log (CR LF after each) must read as the same lines: what export
// writes, rebuild reads, whatever the log went through in between.
#include "app/LogRoundTrip.h"
#include "app/Toolkit.h"
#include "base/Errors.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace pelfry;
    const std::vector<uint8_t> bytes(data, data + size);
    const std::vector<std::string> lines = SplitTextLines(bytes);
    std::vector<uint8_t> written;
    size_t total = 0;
    for (const std::string& line : lines) {
        if (line.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) std::abort();
        total += line.size();
        written.insert(written.end(), line.begin(), line.end());
        written.push_back('\r');
        written.push_back('\n');
    }
    if (total > size) std::abort();
    CheckLogNames(lines); // every line read is a name the log can hold again
    if (SplitTextLines(written) != lines) std::abort();
    return 0;
}
