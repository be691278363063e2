// Writers' lock and file identity on Windows. The lock is LockFileEx on one byte far beyond the
// end of any archive: Windows locks keep others from reading and writing the bytes they cover,
// and readers (list, extract) must go on reading the archive while a writer holds the lock, as
// they do with the advisory lock of POSIX systems. A file that does not exist yet is locked
// through a mutex of the system instead (LockName).
#include "FileLock.h"

#include "FileStream.h"
#include "FileUtil.h"
#include "WinSupport.h"
#include "base/Errors.h"

#include <cerrno>
#include <cwchar>
#include <windows.h>

namespace pelfry {

static FileIdentity IdentityOf(const win::FileFacts& facts) {
    FileIdentity id;
    id.Exists = true;
    id.Device = facts.Volume;
    id.Inode = facts.Index;
    id.Size = facts.Size;
    id.ModifiedNs = (facts.Modified - win::FileTimeFromUnix(0)) * 100;
    return id;
}

FileIdentity IdentifyFile(const std::string& path) {
    win::FileFacts facts;
    if (!win::FactsOfPath(path, facts)) return {};
    return IdentityOf(facts);
}

FileIdentity IdentifyOpenFile(const FileStream& file) {
    win::FileFacts facts;
    if (!win::FactsOfHandle(win::HandleOf(file.Handle()), facts)) return {};
    return IdentityOf(facts);
}

// The byte the writers lock: 2^62, beyond any file this program reads.
static OVERLAPPED LockedByte() {
    OVERLAPPED at{};
    at.OffsetHigh = 0x40000000;
    return at;
}

struct FileLock::NameHold {
    HANDLE mutex;
};

void FileLock::NameHoldDeleter::operator()(NameHold* hold) const {
    ::ReleaseMutex(hold->mutex);
    ::CloseHandle(hold->mutex);
    delete hold;
}

bool FileLock::LockFile(FileStream& file, const std::string& path, bool wait) {
    OVERLAPPED at = LockedByte();
    const DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
    if (::LockFileEx(win::HandleOf(file.Handle()), flags, 0, 1, 0, &at)) return true;
    const DWORD error = ::GetLastError();
    if (!wait && (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING)) return false;
    throw FileOpenError(path, win::ErrnoOf(error));
}

// The mutex is named after the folder's identity and the name as the folder compares it
// (letter case ignored), so that every spelling of one path meets the same one.
void* win::NameMutex(const FileFacts& folder, const std::string& name) {
    uint64_t hash = 14695981039346656037ULL; // FNV-1a: a mutex name has a length limit
    for (unsigned char c : StoredName(name, NameCase::Unicode))
        hash = (hash ^ c) * 1099511628211ULL;
    wchar_t mutexName[96];
    std::swprintf(mutexName, 96, L"Local\\pelfry-%llx-%llx-%llx",
                  static_cast<unsigned long long>(folder.Volume),
                  static_cast<unsigned long long>(folder.Index),
                  static_cast<unsigned long long>(hash));
    return ::CreateMutexW(nullptr, FALSE, mutexName);
}

FileLock::NameLock FileLock::LockName(const std::string& path, bool wait) {
    const std::string native = NativePath(path);
    const size_t slash = native.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : native.substr(0, slash + 1);
    win::FileFacts facts;
    if (!win::FactsOfPath(folder, facts) || !facts.Folder) throw FileOpenError(path, ENOENT);
    HANDLE mutex =
        win::NameMutex(facts, slash == std::string::npos ? native : native.substr(slash + 1));
    if (mutex == nullptr) throw FileOpenError(path, win::ErrnoOf(::GetLastError()));
    // An abandoned mutex (its holder died) is taken over like a free one.
    const DWORD got = ::WaitForSingleObject(mutex, wait ? INFINITE : 0);
    if (got == WAIT_OBJECT_0 || got == WAIT_ABANDONED) return NameLock(new NameHold{mutex});
    ::CloseHandle(mutex);
    return nullptr;
}

} // namespace pelfry
