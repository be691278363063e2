#include "Parallel.h"

#include "FileUtil.h"
#include "Text.h"

#include <algorithm>
#include <filesystem>
#include <unordered_set>

namespace pelfry {

unsigned DefaultJobs() {
    return std::max(1u, std::thread::hardware_concurrency());
}

namespace {

std::string FileKey(const std::string& path) {
    const std::string native = NativePath(path);
    // Names are UTF-8 everywhere (on Windows the path type would take them for the code page).
    const std::filesystem::path given(std::u8string(native.begin(), native.end()));
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(given, ec);
    if (ec) full = given;
    const std::u8string key = full.lexically_normal().generic_u8string();
    return UpperCaseAscii(std::string(key.begin(), key.end()));
}

} // namespace

std::vector<bool>
ReadsEarlierWrites(size_t count, const std::function<std::vector<std::string>(size_t)>& reads,
                   const std::function<std::vector<std::string>(size_t)>& writes) {
    std::vector<bool> waits(count, false);
    std::unordered_set<std::string> written;
    for (size_t i = 0; i < count; ++i) {
        for (const std::string& path : reads(i))
            if (written.count(FileKey(path))) waits[i] = true;
        for (const std::string& path : writes(i))
            written.insert(FileKey(path));
    }
    return waits;
}

} // namespace pelfry
