// The replacing writer on Windows.
//
// The new file is made under a temporary name in the target's folder and at once marked for
// deletion (FileDispositionInfo): should the process die at any point before the end, by
// Ctrl-C, a crash or TerminateProcess, the system removes it with the last handle. Once complete
// and flushed (FlushFileBuffers), the mark is lifted and the open file is renamed over the target
// in one step (SetFileInformationByHandle, replacing; with POSIX semantics where the system has
// them, so that a reader holding the old file open does not stop the save). Where a file system
// cannot mark files for deletion, the Ctrl-C handler of InstallTempFileCleanup removes the
// named temporary file, as the signal handler does on POSIX systems.
//
// Folders are opened without sharing deletion, from the folder the caller named down to the
// one written into, and kept open until the write ends: none of them can be renamed, removed
// or replaced by a link meanwhile, so the paths built below them lead where they were checked
// to lead. A folder that is a reparse point (a symbolic link, a junction) is refused.
#include "ReplacingFile.h"

#include "Errors.h"
#include "FileUtil.h"
#include "WinSupport.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <random>
#include <windows.h>

namespace pelfry {

namespace {

using win::Widen;

// ---- Named temporary files that Ctrl-C must remove ---------------------------------------------

// Held while a name is in flux (the steps of a replacement): the Ctrl-C handler waits for it,
// as the POSIX writer holds back signals for those steps.
std::mutex nameSteps;

constexpr size_t SlotPathLength = 1024;

struct CleanupSlot {
    std::atomic<bool> taken{false};
    std::atomic<bool> armed{false}; // set last: the handler looks at a slot only once it is
    wchar_t path[SlotPathLength] = {};
};

CleanupSlot cleanupSlots[16];

int RegisterTemp(const std::wstring& path) {
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

void UnregisterTemp(int& slot) {
    if (slot < 0) return;
    cleanupSlots[slot].armed.store(false, std::memory_order_release);
    cleanupSlots[slot].taken.store(false);
    slot = -1;
}

// Runs on a thread of its own when Ctrl-C, Ctrl-Break or the closing of the console arrives;
// then the next handler (the system's) ends the process.
BOOL WINAPI RemoveTempsOnConsoleEvent(DWORD) {
    std::lock_guard<std::mutex> hold(nameSteps);
    for (CleanupSlot& slot : cleanupSlots)
        if (slot.armed.load(std::memory_order_acquire)) ::DeleteFileW(slot.path);
    return FALSE;
}

std::wstring TempName() {
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static thread_local std::mt19937 random(std::random_device{}());
    std::wstring name = L".pelfry-";
    for (int i = 0; i < 8; ++i)
        name += static_cast<wchar_t>(letters[random() % (sizeof letters - 1)]);
    return name;
}

std::atomic<bool> forceNamed{false};

bool IsWriteFailure(int error) {
    return error == ENOSPC || error == EFBIG || error == EIO;
}

// Marks an open file for deletion when its last handle closes, or lifts the mark.
bool MarkForDeletion(HANDLE h, bool remove) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = remove ? TRUE : FALSE;
    return ::SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition) !=
           0;
}

// FileRenameInfoEx (Windows 10 1607 and later), which this SDK declares only for a newer target.
constexpr auto RenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

// Renames the open file `h` to `target` (a full path), replacing what stands there; with
// POSIX semantics where the system has them (Windows 10 and later, NTFS), so that the target
// may be open elsewhere.
bool RenameOver(HANDLE h, const std::wstring& target) {
    const size_t bytes = sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t);
    std::vector<uint8_t> buffer(bytes, 0);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::memcpy(info->FileName, target.c_str(), target.size() * sizeof(wchar_t));
    info->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
    if (::SetFileInformationByHandle(h, RenameInfoEx, info, static_cast<DWORD>(bytes))) return true;
    const DWORD error = ::GetLastError();
    if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED &&
        error != ERROR_INVALID_FUNCTION && error != ERROR_CALL_NOT_IMPLEMENTED)
        return false;
    info->Flags = 0;
    info->ReplaceIfExists = TRUE;
    return ::SetFileInformationByHandle(h, FileRenameInfo, info, static_cast<DWORD>(bytes)) != 0;
}

// Puts the open file `h` in the place of `target` in `folder`. Where the system cannot rename
// over a file that another handle holds open (a reader, the writers' lock), the old file is
// first moved aside under a temporary name (every open of this program shares deletion, which
// allows it), the new one takes the name, and the old one is deleted: it goes with its last
// handle, and its readers read it to the end. A file put under the name in the moment between
// (a writer that waits for the lock makes an empty archive where it finds none) is moved aside
// in turn and deleted with it: that writer finds its file replaced and looks again.
bool ReplaceTarget(HANDLE h, const std::wstring& folder, const std::wstring& target) {
    std::lock_guard<std::mutex> hold(nameSteps);
    std::vector<std::wstring> aside; // what stood under the name, the old file first
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (RenameOver(h, target)) {
            for (const std::wstring& old : aside)
                ::DeleteFileW(old.c_str());
            return true;
        }
        error = ::GetLastError();
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) break;
        aside.push_back(folder + TempName());
        if (!::MoveFileExW(target.c_str(), aside.back().c_str(), MOVEFILE_WRITE_THROUGH)) {
            aside.pop_back();
            break;
        }
    }
    // Failed: the old file goes back under its name.
    for (size_t i = aside.size(); i-- > 1;)
        ::DeleteFileW(aside[i].c_str());
    if (!aside.empty()) ::MoveFileExW(aside[0].c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
    ::SetLastError(error);
    return false;
}

// An open folder and the folders above it, down from the one the caller named.
struct HeldFolder {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::wstring path; // the system's full name of the folder, ending in "\"
    std::shared_ptr<const HeldFolder> above;
    ~HeldFolder() {
        if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
    }
};

const HeldFolder& Held(const std::shared_ptr<const void>& held) {
    return *static_cast<const HeldFolder*>(held.get());
}

// Opens a folder to hold it: others may read and write in it, but not rename or remove it.
HANDLE OpenFolder(const std::wstring& path, bool followLink) {
    return ::CreateFileW(
        path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT),
        nullptr);
}

// The system's full name of an open file or folder ("\\?\C:\..."), which no link can redirect.
std::wstring FinalPath(HANDLE h) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetFinalPathNameByHandleW(h, path.data(), static_cast<DWORD>(path.size()),
                                        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(length + 1);
    }
}

} // namespace

void UseNamedTempFiles(bool named) {
    forceNamed = named;
}

void InstallTempFileCleanup() {
    ::SetConsoleCtrlHandler(RemoveTempsOnConsoleEvent, TRUE);
}

// ---- Folder -----------------------------------------------------------------------------------

Folder::Folder(const std::string& path, const std::string& shownName) {
    const std::string native = NativePath(path);
    // Links on the way are followed: the user named this folder.
    HANDLE h = OpenFolder(Widen(native.empty() ? "." : native), true);
    if (h == INVALID_HANDLE_VALUE) throw FileCreateError(shownName, win::ErrnoOf(::GetLastError()));
    auto held = std::make_shared<HeldFolder>();
    held->handle = h;
    win::FileFacts facts;
    if (!win::FactsOfHandle(h, facts) || !facts.Folder) throw FileCreateError(shownName, ENOTDIR);
    held->path = FinalPath(h);
    if (held->path.empty()) throw FileCreateError(shownName, win::ErrnoOf(::GetLastError()));
    if (held->path.back() != L'\\') held->path += L'\\';
    path_ = native.empty() ? std::string() : IncludeTrailingSeparator(native);
    held_ = std::move(held);
}

Folder::~Folder() = default;

Folder::Folder(Folder&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)), held_(std::move(other.held_)) {
    other.fd_ = -1;
}

Folder& Folder::operator=(Folder&& other) noexcept {
    if (this != &other) {
        fd_ = other.fd_;
        path_ = std::move(other.path_);
        held_ = std::move(other.held_);
        other.fd_ = -1;
    }
    return *this;
}

Folder Folder::Descend(std::string_view relative, const std::string& shownName) const {
    std::shared_ptr<const HeldFolder> current = std::static_pointer_cast<const HeldFolder>(held_);
    std::string shown = path_;
    size_t start = 0;
    while (start < relative.size()) {
        size_t end = start;
        while (end < relative.size() && !IsPathSeparator(relative[end]))
            ++end;
        const std::string part(relative.substr(start, end - start));
        start = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == ".." || IsUnsafeWindowsName(part)) throw FileCreateError(shownName, EINVAL);
        const std::wstring path = current->path + Widen(part);
        // A reparse point planted on the way is opened as itself and refused, never walked through.
        HANDLE h = OpenFolder(path, false);
        if (h == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
            if (!::CreateDirectoryW(path.c_str(), nullptr) &&
                ::GetLastError() != ERROR_ALREADY_EXISTS)
                throw FileCreateError(shownName, win::ErrnoOf(::GetLastError()));
            h = OpenFolder(path, false);
        }
        if (h == INVALID_HANDLE_VALUE)
            throw FileCreateError(shownName, win::ErrnoOf(::GetLastError()));
        auto next = std::make_shared<HeldFolder>();
        next->handle = h;
        next->path = path + L"\\";
        next->above = current;
        win::FileFacts facts;
        if (!win::FactsOfHandle(h, facts))
            throw FileCreateError(shownName, win::ErrnoOf(::GetLastError()));
        if (facts.Link) throw FileCreateError(shownName, ELOOP);
        if (!facts.Folder) throw FileCreateError(shownName, ENOTDIR);
        current = std::move(next);
        shown += part + "/";
    }
    Folder result(-1, shown);
    result.held_ = std::move(current);
    return result;
}

// ---- ReplacingFile ----------------------------------------------------------------------------

struct ReplacingFile::State {
    std::unique_ptr<Folder> ownFolder;  // when made from a path
    std::shared_ptr<const void> folder; // kept open until the write ends
    std::wstring target;                // full path of the target
    std::wstring tempPath;              // full path of the new file until Commit
    std::string shownName;
    HANDLE file = INVALID_HANDLE_VALUE;
    bool markedForDeletion = false;
    int cleanupSlot = -1;
    bool failed = false;
    int error = 0;
    bool committed = false;
};

ReplacingFile::ReplacingFile(const std::string& target, LinkPolicy links)
    : state_(std::make_unique<State>()) {
    state_->shownName = target;
    if (target.empty()) throw FileCreateError(target);
    std::string path = NativePath(target);
    if (links == LinkPolicy::Follow) {
        win::FileFacts facts;
        if (win::FactsOfPath(path, facts, false) && facts.Link) {
            // The file the link leads to is replaced, in its own folder.
            HANDLE h = ::CreateFileW(Widen(path).c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
            if (h != INVALID_HANDLE_VALUE) {
                const std::wstring resolved = FinalPath(h);
                ::CloseHandle(h);
                if (!resolved.empty()) path = win::Narrow(resolved);
            }
        }
    }
    const size_t slash = path.find_last_of("/\\");
    const std::string folder =
        slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    state_->ownFolder = std::make_unique<Folder>(folder, target);
    Open(*state_->ownFolder, name);
}

ReplacingFile::ReplacingFile(const Folder& folder, const std::string& name,
                             const std::string& shownName)
    : state_(std::make_unique<State>()) {
    state_->shownName = shownName;
    Open(folder, name);
}

void ReplacingFile::Open(const Folder& dir, const std::string& name) {
    State& s = *state_;
    s.folder = dir.held_;
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of("/\\") != std::string::npos || IsUnsafeWindowsName(name))
        throw FileCreateError(s.shownName, EINVAL);
    const std::wstring wideName = Widen(name);
    if (wideName.size() > 255) throw FileCreateError(s.shownName, ENAMETOOLONG);
    const std::wstring& folder = Held(s.folder).path;
    s.target = folder + wideName;

    // What stands under the name now: a folder is never replaced by a file, nor a file the
    // user may not write; a link is replaced, not followed.
    win::FileFacts facts;
    if (win::FactsOfPath(win::Narrow(s.target), facts, false) && !facts.Link) {
        if (facts.Folder) throw FileCreateError(s.shownName, EISDIR);
        if (facts.ReadOnly) throw FileCreateError(s.shownName, EACCES);
        HANDLE probe = ::CreateFileW(s.target.c_str(), FILE_WRITE_DATA,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (probe != INVALID_HANDLE_VALUE)
            ::CloseHandle(probe);
        else if (::GetLastError() == ERROR_ACCESS_DENIED)
            throw FileCreateError(s.shownName, EACCES);
    }

    DWORD error = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring temp = folder + TempName();
        s.file = ::CreateFileW(temp.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                               FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (s.file != INVALID_HANDLE_VALUE) {
            s.tempPath = temp;
            break;
        }
        error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    if (s.file == INVALID_HANDLE_VALUE) throw FileCreateError(s.shownName, win::ErrnoOf(error));
    s.markedForDeletion = !forceNamed && MarkForDeletion(s.file, true);
    if (!s.markedForDeletion) s.cleanupSlot = RegisterTemp(s.tempPath);
}

ReplacingFile::~ReplacingFile() {
    State& s = *state_;
    if (s.file != INVALID_HANDLE_VALUE) {
        if (!s.committed && !s.markedForDeletion) MarkForDeletion(s.file, true);
        ::CloseHandle(s.file);
        if (!s.committed && !s.markedForDeletion) ::DeleteFileW(s.tempPath.c_str());
    }
    UnregisterTemp(s.cleanupSlot);
}

void ReplacingFile::WriteOut(const uint8_t* p, size_t count) {
    State& s = *state_;
    // After the first failure nothing more is tried; Commit reports it.
    while (count > 0 && !s.failed) {
        const DWORD chunk = static_cast<DWORD>(count < (1u << 30) ? count : (1u << 30));
        DWORD put = 0;
        if (!::WriteFile(s.file, p, chunk, &put, nullptr) || put == 0) {
            s.failed = true;
            s.error = put == 0 && ::GetLastError() == ERROR_SUCCESS
                          ? ENOSPC
                          : win::ErrnoOf(::GetLastError());
            break;
        }
        p += put;
        count -= put;
    }
}

void ReplacingFile::Commit() {
    State& s = *state_;
    Flush();
    if (!s.failed && !::FlushFileBuffers(s.file)) {
        s.failed = true;
        s.error = win::ErrnoOf(::GetLastError());
    }
    if (s.failed) throw FileWriteError(s.shownName, s.error);

    // From here until the rename the file must keep its bytes: the mark is lifted, and Ctrl-C
    // removes it by name instead.
    if (s.markedForDeletion) {
        if (s.cleanupSlot < 0) s.cleanupSlot = RegisterTemp(s.tempPath);
        if (!MarkForDeletion(s.file, false))
            throw FileCreateError(s.shownName, win::ErrnoOf(::GetLastError()));
        s.markedForDeletion = false;
    }
    if (!ReplaceTarget(s.file, Held(s.folder).path, s.target)) {
        const int error = win::ErrnoOf(::GetLastError());
        if (IsWriteFailure(error)) throw FileWriteError(s.shownName, error);
        throw FileCreateError(s.shownName, error);
    }
    s.committed = true;
    UnregisterTemp(s.cleanupSlot);
    // The new name reaches the disk with the file's own metadata.
    ::FlushFileBuffers(s.file);
    ::CloseHandle(s.file);
    s.file = INVALID_HANDLE_VALUE;
}

} // namespace pelfry
