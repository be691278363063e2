// A fresh folder for one test (the shared TempDir), plus small file helpers.
#pragma once

#include "base/Errors.h"
#include "platform/FileUtil.h"
#include "support/TempDir.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pelfry::test {

// The archive tests' name for the shared temporary folder.
using TestFolder = TempDir;

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

inline std::vector<uint8_t> ReadFile(const std::string& path) {
    return ReadWholeFile(path);
}

} // namespace pelfry::test
