// The replacing writer's temporaries on Windows: the Ctrl-C handler that removes named ones, the
// removal of those a killed writer left (a temporary no handle holds open), and the folder
// probe of FolderNameCase.
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

namespace {

// The folder probe's questions asked of the system, in the folder `folder` (ending in "/"). The
// probe is deleted when its handle closes, however the process ends.
class SystemProbe : public NameProbe {
public:
    explicit SystemProbe(std::string folder) : folder_(std::move(folder)) {}
    ~SystemProbe() override {
        if (made_ != INVALID_HANDLE_VALUE) ::CloseHandle(made_);
    }

    bool Make(const std::string& name) override {
        made_ = ::CreateFileW(
            win::Widen(folder_ + name).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        return made_ != INVALID_HANDLE_VALUE;
    }
    bool Identify(const std::string& name, uint64_t& volume, uint64_t& index) override {
        win::FileFacts facts;
        if (!win::FactsOfPath(folder_ + name, facts, false) || facts.Folder || facts.Link)
            return false;
        volume = facts.Volume;
        index = facts.Index;
        return true;
    }
    void Write(const std::string&, const std::string& bytes) override {
        DWORD put = 0;
        LARGE_INTEGER start{};
        if (::SetFilePointerEx(made_, start, nullptr, FILE_BEGIN) && ::SetEndOfFile(made_))
            ::WriteFile(made_, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
    }
    std::string Read(const std::string& name) override {
        HANDLE h = ::CreateFileW(win::Widen(folder_ + name).c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (h == INVALID_HANDLE_VALUE) return {};
        char bytes[64];
        DWORD got = 0;
        const bool read = ::ReadFile(h, bytes, sizeof bytes, &got, nullptr);
        ::CloseHandle(h);
        return read ? std::string(bytes, got) : std::string();
    }
    void Remove(const std::string&) override {
        ::CloseHandle(made_);
        made_ = INVALID_HANDLE_VALUE;
    }

private:
    std::string folder_;
    HANDLE made_ = INVALID_HANDLE_VALUE;
};

} // namespace

NameCase FolderNameCase(const std::string& path) {
    const std::string folder = path.empty() ? std::string("./") : IncludeTrailingSeparator(path);
    win::FileFacts facts;
    if (!win::FactsOfPath(folder, facts) || !facts.Folder) return NameCase::Exact;
    // A probe that a file system without deletion on close kept goes first.
    temps::RemoveStaleTemporaries(win::Widen(NativePath(folder)), facts.Volume, facts.Index);
    SystemProbe probe(folder);
    return JudgeNameCase(probe, temps::NewName());
}

} // namespace pelfry
