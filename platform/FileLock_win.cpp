// Writers' lock and file identity on Windows. The lock is LockFileEx on one byte far beyond the
// end of any archive: Windows locks keep others from reading and writing the bytes they cover,
// and readers (list, extract) must go on reading the archive while a writer holds the lock, as
// they do with the advisory lock of POSIX systems.
#include "FileLock.h"

#include "Errors.h"
#include "WinSupport.h"

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

FileIdentity FileLock::MakeEmptyFile(const std::string& path) {
    HANDLE h = ::CreateFileW(win::Widen(path).c_str(), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return {};
        throw FileOpenError(path);
    }
    win::FileFacts facts;
    const FileIdentity made = win::FactsOfHandle(h, facts) ? IdentityOf(facts) : FileIdentity{};
    ::CloseHandle(h);
    return made;
}

void FileLock::LockForWriting(FileStream& file, const std::string& path) {
    OVERLAPPED at = LockedByte();
    // Waits until no other writer holds the lock.
    if (!::LockFileEx(win::HandleOf(file.Handle()), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at))
        throw FileOpenError(path);
}

} // namespace pelfry
