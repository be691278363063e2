// File times on Windows: FILETIME (100 ns since 1601), set with SetFileTime.
#include "FileTime.h"

#include "Stream.h"
#include "WinSupport.h"

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

int32_t FileGetDate(const FileStream& file) {
    win::FileFacts facts;
    if (!win::FactsOfHandle(win::HandleOf(file.Handle()), facts)) return -1;
    return UnixToFileDate(static_cast<std::time_t>(win::UnixFromFileTime(facts.Modified)));
}

bool FileSetDate(const FileStream& file, int32_t age) {
    const std::time_t t = FileDateToUnix(age);
    if (t == static_cast<std::time_t>(-1)) return false;
    const uint64_t stamp = static_cast<uint64_t>(win::FileTimeFromUnix(t));
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(stamp);
    time.dwHighDateTime = static_cast<DWORD>(stamp >> 32);
    return ::SetFileTime(win::HandleOf(file.Handle()), nullptr, &time, &time) != 0;
}

} // namespace pelfry
