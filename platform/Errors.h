// Errors of the whole program: exceptions that carry the exact message the user sees.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace pelfry {

// Base of every error the program raises on purpose. what() is the message as shown.
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
};

// "Cannot open file %s": a file could not be opened for reading (or reading and writing).
class FileOpenError : public Error {
public:
    explicit FileOpenError(const std::string& fileName);
};

// "Cannot create file %s": a file could not be created or truncated. `code` is the system's
// error number when one is known, else 0.
class FileCreateError : public Error {
public:
    explicit FileCreateError(const std::string& fileName, int code = 0);
    int Code() const { return code_; }

private:
    int code_;
};

// "Cannot write file %s": a write delivered fewer bytes than asked (a full disk, a file-size
// limit), or the written bytes could not be flushed to the disk.
class FileWriteError : public Error {
public:
    explicit FileWriteError(const std::string& fileName, int code = 0);
    int Code() const { return code_; }

private:
    int code_;
};

// An internal check failed. The text is the message ("Assertion failure" when it is
// empty) followed by " (unit file, line N)", e.g. "Too many colours in image! (ImgFileU.cpp, line 354)".
class AssertionError : public Error {
public:
    AssertionError(std::string_view message, std::string_view unitFile, int line);
};

// "Abstract Error": an operation a stream does not support (writing to a read-only view).
class AbstractError : public Error {
public:
    AbstractError();
};

// "'%s' is not a valid integer value".
class ConvertError : public Error {
public:
    explicit ConvertError(std::string_view text);
};

// Raises AssertionError naming the base name of `file` (pass __FILE__) and `line`.
[[noreturn]] void ThrowAssertion(std::string_view message, const char* file, int line);

// The C99 conversions (%zu, %lld) are checked everywhere: on Windows this build's C run-time
// is mingw-w64's own C99 printf, not the system's, which knows neither.
#ifdef _WIN32
#define PELFRY_PRINTF_FORMAT gnu_printf
#else
#define PELFRY_PRINTF_FORMAT printf
#endif

// printf-style formatting into a std::string.
std::string Format(const char* fmt, ...) __attribute__((format(PELFRY_PRINTF_FORMAT, 1, 2)));

} // namespace pelfry

// Internal check: raises an AssertionError with `message` and this file and line when `cond` is false.
#define PELFRY_ASSERT(cond, message)                                                               \
    do {                                                                                           \
        if (!(cond)) ::pelfry::ThrowAssertion((message), __FILE__, __LINE__);                      \
    } while (0)

// Raises an AssertionError with `message` and this file and line.
#define PELFRY_FAIL(message) ::pelfry::ThrowAssertion((message), __FILE__, __LINE__)
