#include "Errors.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

namespace pelfry {

FileSystemError::FileSystemError(const std::string& message, int code, std::string reason)
    : Error(message, reason.empty() ? SystemReason(code) : std::move(reason)), code_(code) {}

FileOpenError::FileOpenError(const std::string& fileName, int code)
    : FileSystemError("Cannot open file " + fileName, code) {}

BrokenLinkError::BrokenLinkError(const std::string& fileName, int code)
    : FileOpenError("Cannot open file " + fileName, code,
                    code == ELOOP ? "too many levels of links" : "the link leads nowhere") {}

NotRegularFileError::NotRegularFileError(const std::string& fileName)
    : FileOpenError("Not a regular file: " + fileName, 0, {}) {}

FileCreateError::FileCreateError(const std::string& fileName, int code, std::string reason)
    : FileSystemError("Cannot create file " + fileName, code, std::move(reason)) {}

FolderCreateError::FolderCreateError(const std::string& folder, int code)
    : FileSystemError("Unable to create directory " + folder, code) {}

FileReadError::FileReadError(const std::string& fileName, int code)
    : FileSystemError("Cannot read file " + fileName, code) {}

FileWriteError::FileWriteError(const std::string& fileName, int code)
    : FileSystemError("Cannot write file " + fileName, code) {}

FileInUseError::FileInUseError(const std::string& fileName)
    : Error(fileName + " is in use by another program") {}

std::string SystemReason(int code) {
    // Spelt out here rather than taken from strerror, whose words differ between C run-times:
    // pelfry-cli says the same on Linux and on Windows.
    static const std::pair<int, const char*> reasons[] = {
        {EPERM, "Operation not permitted"},
        {ENOENT, "No such file or directory"},
        {EIO, "Input/output error"},
        {ENXIO, "No such device or address"},
        {EACCES, "Permission denied"},
        {EBUSY, "Device or resource busy"},
        {EEXIST, "File exists"},
        {EXDEV, "Invalid cross-device link"},
        {ENODEV, "No such device"},
        {ENOTDIR, "Not a directory"},
        {EISDIR, "Is a directory"},
        {EINVAL, "Invalid argument"},
        {ENFILE, "Too many open files in system"},
        {EMFILE, "Too many open files"},
        {EFBIG, "File too large"},
        {ENOSPC, "No space left on device"},
        {EROFS, "Read-only file system"},
        {EMLINK, "Too many links"},
        {ENAMETOOLONG, "File name too long"},
        {ELOOP, "Too many levels of symbolic links"},
        {ENOMEM, "Cannot allocate memory"},
        {ENOTSUP, "Operation not supported"},
#ifdef EDQUOT
        {EDQUOT, "Disk quota exceeded"},
#endif
#ifdef ESTALE
        {ESTALE, "Stale file handle"},
#endif
    };
    if (code == 0) return {};
    for (const auto& [number, words] : reasons)
        if (number == code) return words;
    return std::strerror(code);
}

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

std::string ErrorText(const std::exception& error) {
    const auto* known = dynamic_cast<const Error*>(&error);
    // The place a fault lies at leads, as compilers put it.
    const std::string text = known && !known->Where().empty() ? known->Where() + ": " + error.what()
                                                              : std::string(error.what());
    const std::string reason = known ? known->Reason() : std::string();
    if (reason.empty()) return text;
    // The system's words for a file it refused read on after a colon; what gave a damaged file
    // away stands apart in brackets.
    if (dynamic_cast<const FileSystemError*>(&error) != nullptr) return text + ": " + reason;
    return text + " [" + reason + "]";
}

ConvertError::ConvertError(std::string_view text) : Error(ConvertErrorText(text)) {}

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
