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
//
// The new file takes the replaced file's permissions when they are its own (not only those its
// folder gives every file); owners and other attributes are those a new file gets there.
//
// A named temporary that a killed writer left (between lifting the mark and the rename, or
// on a file system without the mark) is removed by the next writer in the folder (TempFiles.h).
#include "ReplacingFile.h"

#include "FileStream.h"
#include "FileUtil.h"
#include "TempFiles.h"
#include "WinSupport.h"
#include "base/Errors.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <windows.h>

#include <aclapi.h>

namespace pelfry {

namespace {

using win::Widen;

std::wstring TempName() {
    return Widen(temps::NewName());
}

// The permissions (the DACL) of the file `path` when they are its own: protected from its
// folder's, or with entries set on the file itself. A file with only what its folder gives it
// leaves `security` null: a new file there gets the same.
void ReadOwnPermissions(const std::wstring& path,
                        std::unique_ptr<void, decltype(&::LocalFree)>& security, PACL& permissions,
                        bool& isProtected) {
    HANDLE h = ::CreateFileW(path.c_str(), READ_CONTROL,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD got = ::GetSecurityInfo(h, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                        nullptr, &permissions, nullptr, &descriptor);
    ::CloseHandle(h);
    if (got != ERROR_SUCCESS) return;
    security.reset(descriptor);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ::GetSecurityDescriptorControl(descriptor, &control, &revision);
    isProtected = (control & SE_DACL_PROTECTED) != 0;
    bool own = isProtected || permissions == nullptr;
    for (DWORD i = 0; permissions != nullptr && i < permissions->AceCount && !own; ++i) {
        void* entry = nullptr;
        own = ::GetAce(permissions, i, &entry) &&
              (static_cast<ACE_HEADER*>(entry)->AceFlags & INHERITED_ACE) == 0;
    }
    if (!own) security.reset();
}

bool IsWriteFailure(int error) {
    return error == ENOSPC || error == EFBIG || error == EIO;
}

std::atomic<uint64_t> fileFlushes{0};

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

// The lock on the name `name` in the open folder `folder` (FileLock's), held until it goes. Its
// other holders are writers that look whether the file is there, or make it: none for long.
struct NameHold {
    HANDLE mutex = nullptr;
    NameHold(HANDLE folder, const std::string& name) {
        win::FileFacts facts;
        if (win::FactsOfHandle(folder, facts)) mutex = win::NameMutex(facts, name);
        if (mutex != nullptr) ::WaitForSingleObject(mutex, INFINITE);
    }
    ~NameHold() {
        if (mutex == nullptr) return;
        ::ReleaseMutex(mutex);
        ::CloseHandle(mutex);
    }
};

// Puts the open file `h` in the place of `target`, the file `name` in the open folder
// `folderHandle` (`folder` its path); the system's error, ERROR_SUCCESS when done. Where the
// system cannot rename over a file that another handle holds open (a reader, the writers' lock;
// so under wine, and before Windows 10 or off NTFS), the old file is first moved aside under a
// temporary name (every open of this program shares deletion, which allows it), the new one
// takes the name, and the old one is deleted: it goes with its last handle, and its readers
// read it to the end. The name stands empty between the two steps: its lock is held meanwhile,
// so that a writer finding no file there waits, then finds the new file instead of saving an
// archive of its own over it (FileLock).
DWORD ReplaceTarget(HANDLE h, HANDLE folderHandle, const std::wstring& folder,
                    const std::wstring& target, const std::string& name) {
    DWORD error = ERROR_SUCCESS;
    {
        std::lock_guard<std::mutex> hold(temps::NameSteps());
        if (RenameOver(h, target)) return ERROR_SUCCESS;
        error = ::GetLastError();
    }
    if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) return error;
    const NameHold empty(folderHandle, name); // before NameSteps, which Ctrl-C waits for
    std::lock_guard<std::mutex> hold(temps::NameSteps());
    // Not a temporary's name: should the process end before the new file has the target's
    // name, this is the old file, which no later writer may take for a stale temporary.
    const std::wstring aside = folder + L".pelfry-old-" + TempName().substr(8);
    if (!::MoveFileExW(target.c_str(), aside.c_str(), MOVEFILE_WRITE_THROUGH)) return error;
    if (!RenameOver(h, target)) {
        const DWORD failure = ::GetLastError();
        ::MoveFileExW(aside.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
        return failure;
    }
    ::DeleteFileW(aside.c_str());
    return ERROR_SUCCESS;
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

Folder Folder::Descend(std::string_view relative, const std::string& shownName, bool make) const {
    std::shared_ptr<const HeldFolder> current = std::static_pointer_cast<const HeldFolder>(held_);
    std::string shown = path_;
    for (std::string_view name : NameParts(relative)) {
        const std::string part(name);
        if (part == ".." || IsUnsafeWindowsName(part)) throw FileCreateError(shownName, EINVAL);
        const std::wstring path = current->path + Widen(part);
        // A reparse point planted on the way is opened as itself and refused, never walked through.
        HANDLE h = OpenFolder(path, false);
        if (h == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_NOT_FOUND && make) {
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
        if (facts.Link) throw FileCreateError(shownName, ELOOP, LinkOnTheWay);
        if (!facts.Folder) throw FileCreateError(shownName, ENOTDIR);
        current = std::move(next);
        shown += part + "/";
    }
    Folder result(-1, shown);
    result.held_ = std::move(current);
    return result;
}

int Folder::Moved() const {
    // Held open from the folder the caller named down, none of them can move on Windows; where
    // the system lets them all the same (wine), each must still stand under its path.
    for (const HeldFolder* folder = static_cast<const HeldFolder*>(held_.get()); folder;
         folder = folder->above.get()) {
        win::FileFacts there, held;
        if (!win::FactsOfPath(win::Narrow(folder->path), there, false)) return ENOENT;
        if (there.Link) return ELOOP;
        if (!win::FactsOfHandle(folder->handle, held) || held.Volume != there.Volume ||
            held.Index != there.Index)
            return ENOENT;
    }
    return 0;
}

// The file `name` in the folder `held`, as the system names it.
static std::wstring InFolder(const std::shared_ptr<const void>& held, const std::string& name) {
    return Held(held).path + Widen(name);
}

int64_t Folder::ModifiedTime(const std::string& name) const {
    win::FileFacts facts;
    if (!win::FactsOfPath(win::Narrow(InFolder(held_, name)), facts, false) || facts.Folder)
        return -1;
    return (facts.Modified - win::FileTimeFromUnix(0)) * 100;
}

bool Folder::SetModifiedTime(const std::string& name, int64_t nanoseconds) const {
    if (nanoseconds < 0) return false;
    HANDLE h = ::CreateFileW(InFolder(held_, name).c_str(), FILE_WRITE_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool set = win::SetFileTimes(h, nanoseconds);
    ::CloseHandle(h);
    return set;
}

bool Folder::Remove(const std::string& name) const {
    return ::DeleteFileW(InFolder(held_, name).c_str()) != 0;
}

// ---- ReplacingFile ----------------------------------------------------------------------------

struct ReplacingFile::State {
    std::unique_ptr<Folder> ownFolder;  // when made from a path
    std::shared_ptr<const void> folder; // kept open until the write ends
    const Folder* place = nullptr;      // the folder written into
    std::wstring target;                // full path of the target
    std::wstring tempPath;              // full path of the new file until Commit
    std::string shownName;
    HANDLE file = INVALID_HANDLE_VALUE;
    bool markedForDeletion = false;
    bool replacing = false;
    unsigned long links = 1;
    // The replaced file's permissions, when it has some of its own rather than its folder's.
    std::unique_ptr<void, decltype(&::LocalFree)> security{nullptr, &::LocalFree};
    PACL permissions = nullptr; // inside `security`
    bool permissionsProtected = false;
    int64_t modified = -1; // nanoseconds, from SetModifiedTime
    int cleanupSlot = -1;
    bool failed = false;
    int error = 0;
    bool prepared = false; // Prepare's steps taken
    bool flushed = false;  // step 3 taken
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
    s.place = &dir;
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of("/\\") != std::string::npos || IsUnsafeWindowsName(name))
        throw FileCreateError(s.shownName, EINVAL);
    const std::wstring wideName = Widen(name);
    if (wideName.size() > 255) throw FileCreateError(s.shownName, ENAMETOOLONG);
    const HeldFolder& held = Held(s.folder);
    const std::wstring& folder = held.path;
    s.target = folder + wideName;
    win::FileFacts folderFacts;
    if (win::FactsOfHandle(held.handle, folderFacts))
        temps::RemoveStaleTemporaries(folder, folderFacts.Volume, folderFacts.Index);

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
        s.replacing = true;
        s.links = facts.Links;
        ReadOwnPermissions(s.target, s.security, s.permissions, s.permissionsProtected);
    }

    DWORD error = 0;
    // WRITE_DAC, which a file's owner has unless its folder says otherwise, for the permissions
    // that KeepAttributes gives the new file; without it where the folder says otherwise.
    DWORD access = GENERIC_READ | GENERIC_WRITE | DELETE | (s.security ? WRITE_DAC : 0);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring temp = folder + TempName();
        s.file = ::CreateFileW(temp.c_str(), access, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (s.file != INVALID_HANDLE_VALUE) {
            s.tempPath = temp;
            break;
        }
        error = ::GetLastError();
        if (error == ERROR_ACCESS_DENIED && (access & WRITE_DAC) != 0) {
            access &= ~static_cast<DWORD>(WRITE_DAC);
            continue;
        }
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    if (s.file == INVALID_HANDLE_VALUE) {
        // The file itself may be writable while its folder is not, which the user cannot guess.
        if (error == ERROR_ACCESS_DENIED)
            throw FileCreateError(s.shownName, EACCES, "the folder lets no new file be made there");
        throw FileCreateError(s.shownName, win::ErrnoOf(error));
    }
    s.markedForDeletion = !temps::NamedOnly() && MarkForDeletion(s.file, true);
    if (!s.markedForDeletion) s.cleanupSlot = temps::Remember(s.tempPath);
}

ReplacingFile::~ReplacingFile() {
    State& s = *state_;
    if (s.file != INVALID_HANDLE_VALUE) {
        if (!s.committed && !s.markedForDeletion) MarkForDeletion(s.file, true);
        ::CloseHandle(s.file);
        if (!s.committed && !s.markedForDeletion) ::DeleteFileW(s.tempPath.c_str());
    }
    temps::Forget(s.cleanupSlot);
}

void ReplacingFile::SetModifiedTime(int64_t nanoseconds) {
    state_->modified = nanoseconds;
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

uint64_t ReplacingFile::AppendInSystem(const FileStream&, uint64_t, uint64_t) {
    return 0; // no copy between two open files inside the system: AppendFrom copies in blocks
}

void ReplacingFile::KeepAttributes() {
    State& s = *state_;
    std::vector<std::string> lost; // what the new file could not take over
    int why = 0;
    // Permissions of the file's own are given to the new file, which has its folder's.
    if (s.security) {
        const DWORD error =
            ::SetSecurityInfo(s.file, SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION |
                                  (s.permissionsProtected ? PROTECTED_DACL_SECURITY_INFORMATION
                                                          : UNPROTECTED_DACL_SECURITY_INFORMATION),
                              nullptr, nullptr, s.permissions, nullptr);
        if (error != ERROR_SUCCESS) {
            lost.push_back("access control list");
            why = win::ErrnoOf(error);
        }
    }
    if (s.modified >= 0) win::SetFileTimes(s.file, s.modified);
    Tell(s.shownName, lost, why, s.replacing ? s.links : 1);
}

void ReplacingFile::Sync() {
    State& s = *state_;
    if (s.flushed || s.failed) return;
    s.flushed = true;
    ++fileFlushes;
    if (!::FlushFileBuffers(s.file)) {
        s.failed = true;
        s.error = win::ErrnoOf(::GetLastError());
    }
}

void ReplacingFile::Prepare() {
    State& s = *state_;
    if (!s.prepared) {
        s.prepared = true;
        Flush();
        if (!s.failed) KeepAttributes();
        // Every file, new or not: only an administrator could flush them all at once here.
        Sync();
    }
    if (s.failed) throw FileWriteError(s.shownName, s.error);
}

bool ReplacingFile::NameIfFree() {
    return false; // every file is flushed before it is named (Prepare)
}

void ReplacingFile::BeforeNaming() {
    temps::BeforeRename();
    if (const int moved = state_->place->Moved())
        throw FileCreateError(state_->shownName, moved,
                              moved == ELOOP ? LinkOnTheWay : FolderMoved);
}

uint64_t ReplacingFile::Flushes() {
    return fileFlushes;
}

void ReplacingFile::Commit() {
    State& s = *state_;
    Prepare();

    // From here until the rename the file must keep its bytes: the mark is lifted, and Ctrl-C
    // removes it by name instead.
    if (s.markedForDeletion) {
        if (s.cleanupSlot < 0) s.cleanupSlot = temps::Remember(s.tempPath);
        if (!MarkForDeletion(s.file, false))
            throw FileCreateError(s.shownName, win::ErrnoOf(::GetLastError()));
        s.markedForDeletion = false;
    }
    BeforeNaming();
    const HeldFolder& folder = Held(s.folder);
    if (const DWORD failed =
            ReplaceTarget(s.file, folder.handle, folder.path, s.target,
                          win::Narrow(std::wstring_view(s.target).substr(folder.path.size())));
        failed != ERROR_SUCCESS) {
        const int error = win::ErrnoOf(failed);
        if (IsWriteFailure(error)) throw FileWriteError(s.shownName, error);
        throw FileCreateError(s.shownName, error);
    }
    s.committed = true;
    temps::Forget(s.cleanupSlot);
    // The new name reaches the disk with the file's own metadata.
    ::FlushFileBuffers(s.file);
    ::CloseHandle(s.file);
    s.file = INVALID_HANDLE_VALUE;
}

} // namespace pelfry
