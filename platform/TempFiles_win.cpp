// The replacing writer's temporaries on Windows: the Ctrl-C handler that removes named ones, the
// removal of those a killed writer left (a temporary no handle holds open), and the folder
// probe of FolderIgnoresCase.
#include "TempFiles.h"

#include "FileUtil.h"
#include "ReplacingFile.h"
#include "WinSupport.h"

#include <atomic>
#include <cstring>
#include <vector>
#include <windows.h>

namespace pelfry {

namespace {

constexpr size_t SlotPathLength = 1024;

struct CleanupSlot {
    std::atomic<bool> taken{false};
    std::atomic<bool> armed{false}; // set last: the handler looks at a slot only once it is
    wchar_t path[SlotPathLength] = {};
};

CleanupSlot cleanupSlots[16];

// Runs on a thread of its own when Ctrl-C, Ctrl-Break or the closing of the console arrives;
// then the next handler (the system's) ends the process.
BOOL WINAPI RemoveTempsOnConsoleEvent(DWORD) {
    std::lock_guard<std::mutex> hold(temps::NameSteps());
    for (CleanupSlot& slot : cleanupSlots)
        if (slot.armed.load(std::memory_order_acquire)) ::DeleteFileW(slot.path);
    return FALSE;
}

// Removes the file `path` when no handle holds it open: an open that shares nothing succeeds
// only then, and deletes the file as it closes.
void RemoveIfStale(const std::wstring& path) {
    HANDLE h = ::CreateFileW(path.c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
}

} // namespace

void InstallTempFileCleanup() {
    ::SetConsoleCtrlHandler(RemoveTempsOnConsoleEvent, TRUE);
}

namespace temps {

std::mutex& NameSteps() {
    static std::mutex steps;
    return steps;
}

int Remember(const std::wstring& path) {
    if (path.size() >= SlotPathLength) return -1;
    for (int i = 0; i < 16; ++i) {
        bool expected = false;
        if (!cleanupSlots[i].taken.compare_exchange_strong(expected, true)) continue;
        std::memcpy(cleanupSlots[i].path, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
        cleanupSlots[i].armed.store(true, std::memory_order_release);
        return i;
    }
    return -1; // more writes at once than slots: this one goes unguarded
}

void Forget(int& slot) {
    if (slot < 0) return;
    cleanupSlots[slot].armed.store(false, std::memory_order_release);
    cleanupSlots[slot].taken.store(false);
    slot = -1;
}

void RemoveStaleTemporaries(const std::wstring& folder, uint64_t volume, uint64_t index) {
    if (!FirstVisit(volume, index)) return;
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW entry;
    HANDLE search = ::FindFirstFileW((folder + L".pelfry-*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = entry.cFileName;
        if ((entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
                0 &&
            IsTemporaryName(win::Narrow(name)))
            found.push_back(folder + name);
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
    for (const std::wstring& path : found)
        RemoveIfStale(path);
}

} // namespace temps

// A folder ignores case when a file made there can be found under its name in the other case.
bool FolderIgnoresCase(const std::string& path) {
    const std::string existing = temps::NearestFolder(path);
    const std::string folder =
        existing.empty() ? std::string("./") : IncludeTrailingSeparator(existing);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string probe = temps::NewName();
        HANDLE h = ::CreateFileW(win::Widen(folder + probe).c_str(), GENERIC_READ | DELETE,
                                 FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            if (::GetLastError() == ERROR_FILE_EXISTS) continue;
            return false;
        }
        win::FileFacts made, found;
        const bool ignores = win::FactsOfHandle(h, made) &&
                             win::FactsOfPath(folder + temps::OtherCase(probe), found) &&
                             made.Volume == found.Volume && made.Index == found.Index;
        ::CloseHandle(h);
        return ignores;
    }
    return false;
}

} // namespace pelfry
