// A new empty folder under the system's temporary folder for one test, removed with everything
// in it when the test ends. Shared by every test suite, on every system.
#pragma once

#include "platform/FileUtil.h"

#include <algorithm>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace pelfry::test {

class TempDir {
public:
    // In `parent` (a path ending in a separator), the system's temporary folder unless told.
    explicit TempDir(const std::string& prefix = "pelfry-test-",
                     const std::string& parent = TempFolder()) {
        static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
        std::random_device random;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            std::string name = parent + prefix;
            for (int i = 0; i < 8; ++i)
                name += letters[random() % (sizeof letters - 1)];
            std::error_code ec;
            if (std::filesystem::create_directory(name, ec)) path_ = name + "/";
        }
        if (path_.empty()) throw std::runtime_error("cannot make a temporary folder in " + parent);
    }
    ~TempDir() {
        std::error_code ec;
        // Folders a test made read-only must be writable again to be emptied.
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder, ending in "/".
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + name; }

    // Names (UTF-8) of everything directly inside the folder (or its subfolder `sub`), sorted.
    std::vector<std::string> Entries(const std::string& sub = "") const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(path_ + sub)) {
            const std::u8string name = e.path().filename().u8string();
            names.emplace_back(name.begin(), name.end());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::string path_;
};

} // namespace pelfry::test
