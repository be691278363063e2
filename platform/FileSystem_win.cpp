// Files and folders on Windows, through the wide (UTF-16) calls: every name is UTF-8 here.
#include "FileUtil.h"

#include "WinSupport.h"
#include "base/Text.h"

#include <cerrno>
#include <windows.h>
#undef DeleteFile // <windows.h> spells its own DeleteFile as a macro

namespace pelfry {

int64_t FileLength(const std::string& path) {
    win::FileFacts facts;
    if (!win::FactsOfPath(path, facts) || facts.Folder) return -1;
    return facts.Size;
}

bool FileExists(const std::string& path) {
    win::FileFacts facts;
    return win::FactsOfPath(path, facts) && !facts.Folder;
}

bool DirectoryExists(const std::string& path) {
    win::FileFacts facts;
    return win::FactsOfPath(path, facts) && facts.Folder;
}

bool DeleteFile(const std::string& path) {
    return !path.empty() && ::DeleteFileW(win::Widen(path).c_str()) != 0;
}

bool MakeFolder(const std::string& path) {
    if (::CreateDirectoryW(win::Widen(path).c_str(), nullptr)) return true;
    const DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS && DirectoryExists(path)) return true;
    errno = win::ErrnoOf(error);
    return false;
}

int BrokenLink(const std::string& path) {
    win::FileFacts facts;
    if (!win::FactsOfPath(path, facts, false) || !facts.Link || win::FactsOfPath(path, facts))
        return 0;
    const DWORD error = ::GetLastError();
    if (error == ERROR_CANT_RESOLVE_FILENAME) return ELOOP;
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT : 0;
}

std::string TempFolder() {
    wchar_t buffer[MAX_PATH + 2];
    const DWORD length = ::GetTempPathW(MAX_PATH + 2, buffer);
    if (length == 0 || length > MAX_PATH + 1) return "./";
    // Spelt with "/" like every path NativePath makes; the system takes both.
    return IncludeTrailingSeparator(NativePath(win::Narrow(std::wstring_view(buffer, length))));
}

uint64_t CopyFileRange(int, uint64_t, int, uint64_t, int& error) {
    // No copy between two open files inside the system here: the caller copies.
    error = 0;
    return 0;
}

bool FileSystemRefusesName(std::string_view name) {
    return IsUnsafeWindowsName(name);
}

std::string StoredName(std::string_view part, NameCase rule) {
    // Names reach the system as UTF-16, where bytes that are not UTF-8 all become U+FFFD.
    std::wstring wide = win::Widen(part);
    if (rule == NameCase::Ascii) return UpperCaseAscii(win::Narrow(wide));
    if (rule == NameCase::Unicode && !wide.empty())
        ::CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
    return win::Narrow(wide);
}

} // namespace pelfry
