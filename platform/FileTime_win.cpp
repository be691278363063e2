// File times on Windows: FILETIME (100 ns since 1601), set with SetFileTime.
#include "FileTime.h"

#include "FileStream.h"
#include "WinSupport.h"
#include "base/Errors.h"

#include <cerrno>
#include <windows.h>

namespace pelfry {

int32_t UnixToFileDate(std::time_t time) {
    std::tm local{};
    localtime_s(&local, &time); // the C run-time's thread-safe form; left zero on failure
    return PackFileDate(local);
}

int32_t FileAge(const std::string& path) {
    win::FileFacts facts;
    if (!win::FactsOfPath(path, facts) || facts.Folder) return -1;
    return UnixToFileDate(static_cast<std::time_t>(win::UnixFromFileTime(facts.Modified)));
}

int64_t FileModifiedNanoseconds(const std::string& path) {
    win::FileFacts facts;
    if (!win::FactsOfPath(path, facts) || facts.Folder) return -1;
    return (facts.Modified - win::FileTimeFromUnix(0)) * 100;
}

int64_t FileModifiedNanoseconds(const FileStream& file) {
    win::FileFacts facts;
    if (!win::FactsOfHandle(win::HandleOf(file.Handle()), facts)) return -1;
    return (facts.Modified - win::FileTimeFromUnix(0)) * 100;
}

int32_t FileGetDate(const FileStream& file) {
    win::FileFacts facts;
    if (!win::FactsOfHandle(win::HandleOf(file.Handle()), facts)) return -1;
    return UnixToFileDate(static_cast<std::time_t>(win::UnixFromFileTime(facts.Modified)));
}

// Sets the last write and access times of the open file `h` from an age.
static bool SetTimes(HANDLE h, int32_t age) {
    const std::time_t t = FileDateToUnix(age);
    return t != static_cast<std::time_t>(-1) &&
           win::SetFileTimes(h, static_cast<int64_t>(t) * 1000000000);
}

bool FileSetDate(const FileStream& file, int32_t age) {
    return SetTimes(win::HandleOf(file.Handle()), age);
}

void SetFileAge(const std::string& target, int32_t age) {
    win::FileFacts facts;
    if (!win::FactsOfPath(target, facts, false)) throw FileOpenError(target, ENOENT);
    if (facts.Folder && !facts.Link) throw NotRegularFileError(target);
    // Opened for its attributes only, the link itself rather than what it points to.
    HANDLE h = ::CreateFileW(win::Widen(target).c_str(), FILE_WRITE_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING,
                             FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    SetTimes(h, age);
    ::CloseHandle(h);
}

} // namespace pelfry
