// Window folders on Windows: made in the user's own temporary folder and marked by a handle on
// the folder that shares no deletion, so that nobody removes or renames it while the window
// lives. A window that starts takes a folder for a dead window's when it can rename it.
#include "WindowFolder.h"

#include "FileUtil.h"
#include "TempFiles.h"
#include "WinSupport.h"
#include "base/Errors.h"

#include <vector>
#include <windows.h>

namespace pelfry {

namespace {

HANDLE OpenFolderHandle(const std::wstring& path, DWORD share) {
    return ::CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Removes everything in the folder `folder` (ending in "\"): a link (a reparse point) is
// removed itself, never followed; read-only files lose that attribute first.
void Empty(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    HANDLE search = ::FindFirstFileW((folder + L"*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    std::vector<WIN32_FIND_DATAW> found;
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") found.push_back(entry);
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
    for (const WIN32_FIND_DATAW& item : found) {
        const std::wstring path = folder + item.cFileName;
        const DWORD attributes = item.dwFileAttributes;
        if (attributes & FILE_ATTRIBUTE_READONLY)
            ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            ::DeleteFileW(path.c_str());
            continue;
        }
        if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) Empty(path + L"\\");
        ::RemoveDirectoryW(path.c_str());
    }
}

std::wstring WideFolder(const std::string& path) {
    std::wstring wide = win::Widen(IncludeTrailingSeparator(path));
    for (wchar_t& c : wide)
        if (c == L'/') c = L'\\';
    return wide;
}

} // namespace

struct WindowFolder::Mark {
    HANDLE handle; // the folder, shared for reading and writing but not for deletion
};

void WindowFolder::MarkDeleter::operator()(Mark* mark) const {
    ::CloseHandle(mark->handle);
    delete mark;
}

WindowFolder::WindowFolder(const std::string& parent) {
    const std::string place = IncludeTrailingSeparator(NativePath(parent));
    for (int attempt = 0; attempt < 100 && !mark_; ++attempt) {
        const std::string name = temps::NewName(temps::WindowFolderPrefix);
        const std::wstring wide = win::Widen(place + name);
        if (!::CreateDirectoryW(wide.c_str(), nullptr)) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_ALREADY_EXISTS) continue;
            throw FileCreateError(place + name, win::ErrnoOf(error));
        }
        // A window starting meanwhile may have taken it for a dead window's: then the open fails
        // or finds it gone, and another name is tried.
        HANDLE h = OpenFolderHandle(wide, FILE_SHARE_READ | FILE_SHARE_WRITE);
        if (h == INVALID_HANDLE_VALUE) continue;
        path_ = place + name + "/";
        mark_.reset(new Mark{h});
    }
    if (!mark_) throw FileCreateError(place + std::string(temps::WindowFolderPrefix), EEXIST);
}

WindowFolder::~WindowFolder() {
    const std::wstring folder = WideFolder(path_);
    Empty(folder);
    mark_.reset();
    ::RemoveDirectoryW(folder.c_str());
}

void RemoveDeadWindowFolders(const std::string& parent) {
    const std::wstring place = WideFolder(NativePath(parent));
    WIN32_FIND_DATAW entry;
    HANDLE search = ::FindFirstFileW(
        (place + win::Widen(std::string(temps::WindowFolderPrefix)) + L"*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    std::vector<std::wstring> found;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
            temps::IsTemporaryName(win::Narrow(entry.cFileName), temps::WindowFolderPrefix))
            found.push_back(entry.cFileName);
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
    for (const std::wstring& name : found) {
        // Renamed first: that fails while a window's mark, a handle that shares no deletion, is
        // open on it, and a window marks only the folder it has just made under its own name,
        // so the folder emptied under the new name is nobody's. The new name is a window
        // folder's too, so that what cannot be removed now is tried again at a later start.
        const std::wstring gone = place + win::Widen(temps::NewName(temps::WindowFolderPrefix));
        if (!::MoveFileExW((place + name).c_str(), gone.c_str(), 0)) continue;
        Empty(gone + L"\\");
        ::RemoveDirectoryW(gone.c_str());
    }
}

} // namespace pelfry
