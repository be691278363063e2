#include "Errors.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace pelfry {

FileOpenError::FileOpenError(const std::string& fileName) : Error("Cannot open file " + fileName) {}

FileCreateError::FileCreateError(const std::string& fileName, int code)
    : Error("Cannot create file " + fileName), code_(code) {}

FileWriteError::FileWriteError(const std::string& fileName, int code)
    : Error("Cannot write file " + fileName), code_(code) {}

static std::string AssertionText(std::string_view message, std::string_view unitFile, int line) {
    std::string text = message.empty() ? std::string("Assertion failure") : std::string(message);
    return text + " (" + std::string(unitFile) + ", line " + std::to_string(line) + ")";
}

AssertionError::AssertionError(std::string_view message, std::string_view unitFile, int line,
                               std::string reason)
    : Error(AssertionText(message, unitFile, line), std::move(reason)) {}

void Fail(CheckSite site, std::string_view message, std::string reason) {
    throw AssertionError(message, site.Unit, site.Number, std::move(reason));
}

AbstractError::AbstractError() : Error("Abstract Error") {}

static std::string ConvertErrorText(std::string_view text) {
    // Appended piece by piece: GCC 12 misreports "literal" + std::string as overlapping.
    std::string message(1, '\'');
    message.append(text);
    message.append("' is not a valid integer value");
    return message;
}

ConvertError::ConvertError(std::string_view text) : Error(ConvertErrorText(text)) {}

void ThrowAssertion(std::string_view message, const char* file, int line) {
    std::string_view path(file);
    size_t slash = path.find_last_of("/\\");
    if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
    throw AssertionError(message, path, line);
}

std::string Format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string out;
    if (needed > 0) {
        std::vector<char> buffer(static_cast<size_t>(needed) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), fmt, args);
        out.assign(buffer.data(), static_cast<size_t>(needed));
    }
    va_end(args);
    return out;
}

} // namespace pelfry
