// A fresh folder under the system's temporary folder for one test, removed with everything
// in it when the test ends, plus small file helpers.
#pragma once

#include "platform/Errors.h"
#include "platform/FileUtil.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace pelfry::test {

class TestFolder {
public:
    TestFolder() {
        std::string pattern = TempFolder() + "pelfry-archive-XXXXXX";
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
        path_ = pattern + "/";
    }
    ~TestFolder() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    // The folder, ending in "/".
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + name; }

    // Names of everything directly inside the folder, sorted.
    std::vector<std::string> Listing() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(path_))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::string path_;
};

// The message of the pelfry::Error that `action` raises, or "(no error)".
inline std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Error& e) {
        return e.what();
    }
    return "(no error)";
}

inline std::vector<uint8_t> Bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

inline void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    WriteWholeFile(path, bytes);
}

inline void WriteFile(const std::string& path, const std::string& text) {
    WriteWholeFile(path, Bytes(text));
}

inline std::vector<uint8_t> ReadFile(const std::string& path) { return ReadWholeFile(path); }

} // namespace pelfry::test
