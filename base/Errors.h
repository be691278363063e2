// Errors of the whole program: exceptions that carry the exact message the user sees.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace pelfry {

// Base of every error the program raises on purpose. what() is the message as shown.
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message, std::string reason = {})
        : std::runtime_error(message), reason_(std::move(reason)) {}

    // Why a file was refused, for tools that show more than the message: what gave a damaged
    // file away ("slot 3 decodes to 1,000 bytes, its entry says 1,024, at byte 0x1C4"), or the
    // system's words for a file it refused (FileSystemError). pelfry-cli prints it after the
    // message, while the window shows the message alone. Empty when the message says all there
    // is.
    const std::string& Reason() const { return reason_; }

    // Where in a file the fault lies, when it is a place a user can go to: a line of a text
    // file, and what it sets ("walk.SPR.spd, line 4 (framerate)"). pelfry-cli prints it before
    // the message, while the window shows the message alone. Empty when there is no such place.
    const std::string& Where() const { return where_; }
    void SetWhere(std::string where) { where_ = std::move(where); }

private:
    std::string reason_;
    std::string where_;
};

// An error about one file that the system refused to open, make or write. Code() is the
// system's error number when one is known, else 0. Reason() is a reason of the program's own
// when one was given, else the system's words for Code() (SystemReason), else nothing; what()
// never holds it.
class FileSystemError : public Error {
public:
    int Code() const { return code_; }

protected:
    FileSystemError(const std::string& message, int code, std::string reason = {});

private:
    int code_;
};

// "Cannot open file %s": a file could not be opened for reading (or reading and writing).
class FileOpenError : public FileSystemError {
public:
    explicit FileOpenError(const std::string& fileName, int code = 0);

protected:
    FileOpenError(const std::string& message, int code, std::string reason)
        : FileSystemError(message, code, std::move(reason)) {}
};

// "Not a regular file: %s": a folder, a device, a FIFO or a socket where a file is read. Such a
// thing is never opened for reading (it could block, or a device could act on the open), and
// is refused before any lock is taken.
class NotRegularFileError : public FileOpenError {
public:
    explicit NotRegularFileError(const std::string& fileName);
};

// "Cannot open file %s" for a symbolic link that leads to no file (ENOENT: "the link leads
// nowhere") or only to more links (ELOOP: "too many levels of links").
class BrokenLinkError : public FileOpenError {
public:
    BrokenLinkError(const std::string& fileName, int code);
};

// "Cannot create file %s": a file could not be created or truncated. `reason` replaces the
// system's words when the program knows better ("the folder lets no new file be made there").
class FileCreateError : public FileSystemError {
public:
    explicit FileCreateError(const std::string& fileName, int code = 0, std::string reason = {});
};

// "Unable to create directory %s": a folder could not be made; the system's words for `code`
// are its reason.
class FolderCreateError : public FileSystemError {
public:
    FolderCreateError(const std::string& folder, int code);
};

// "Cannot read file %s": the system failed a read of an open file (an I/O error), as against
// its end, which only ends the read.
class FileReadError : public FileSystemError {
public:
    explicit FileReadError(const std::string& fileName, int code = 0);
};

// "Cannot write file %s": a write delivered fewer bytes than asked (a full disk, a file-size
// limit), or the written bytes could not be flushed to the disk.
class FileWriteError : public FileSystemError {
public:
    explicit FileWriteError(const std::string& fileName, int code = 0);
};

// "%s is in use by another program": a writer that may wait only so long (the window's Save)
// did not get the writers' lock in time.
class FileInUseError : public Error {
public:
    explicit FileInUseError(const std::string& fileName);
};

// The system's words for an error number, the same on every system (the GNU C library's:
// "No space left on device", "Permission denied", "Read-only file system"...); "" for 0.
std::string SystemReason(int code);

// An internal check failed. The text is the message ("Assertion failure" when it is
// empty) followed by " (unit file, line N)", e.g. "Too many colours in image! (ImgFileU.cpp,
// line 354)"; `reason` says what the check found (see Error::Reason).
class AssertionError : public Error {
public:
    AssertionError(std::string_view message, std::string_view unitFile, int line,
                   std::string reason = {});
};

// A check of the program's own and the unit and number that its message shows as
// "(unit, line N)". The number belongs to the check, not to the line its code stands on: it
// never moves when code is edited or moved to another file, so that scripts matching the
// messages keep working. Each unit lists its checks at its top; numbers are unique per unit.
struct CheckSite {
    const char* Unit; // the source file the message names, e.g. "ImgFileU.cpp"
    int Number;
};

// The full message of `error`, as pelfry-cli prints it and the window's notices show it: what()
// and, for a damaged file, the reason in brackets ("Invalid directory file X.DIR [the file is
// too short ...]", "Too many colours in image! (ImgFileU.cpp, line 354) [the picture has 130
// colours ...]"); for a file the system refused, its reason after a colon ("Cannot write file
// X.DIR: No space left on device"); led by the place of the fault when it has one
// ("walk.SPR.spd, line 4 (framerate): '' is not a valid integer value").
std::string ErrorText(const std::exception& error);

// Raises the AssertionError of `site` with `message` ("" for "Assertion failure") and `reason`.
[[noreturn]] void Fail(CheckSite site, std::string_view message, std::string reason = {});

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

// Internal check: raises the AssertionError of `site` (a CheckSite) with `message` and `reason`
// when `cond` is false. The message and the reason are only made when the check fails.
#define PELFRY_CHECK(cond, site, message, reason)                                                  \
    do {                                                                                           \
        if (!(cond)) ::pelfry::Fail((site), (message), (reason));                                  \
    } while (0)
