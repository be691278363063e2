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

static bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.Exists && b.Exists && a.Device == b.Device && a.Inode == b.Inode;
}

// The byte the writers lock: 2^62, beyond any file this program reads.
static OVERLAPPED LockedByte() {
    OVERLAPPED at{};
    at.OffsetHigh = 0x40000000;
    return at;
}

FileLock::FileLock(const std::string& path, bool createMissing) : path_(path) {
    FileIdentity made; // the empty file this lock created, if any
    for (;;) {
        if (createMissing && !IdentifyFile(path).Exists) {
            HANDLE h = ::CreateFileW(win::Widen(path).c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h != INVALID_HANDLE_VALUE) {
                win::FileFacts facts;
                if (win::FactsOfHandle(h, facts)) made = IdentityOf(facts);
                ::CloseHandle(h);
            } else if (::GetLastError() != ERROR_FILE_EXISTS &&
                       ::GetLastError() != ERROR_ALREADY_EXISTS) {
                throw FileOpenError(path);
            }
        }
        file_ = std::make_unique<FileStream>(path, FileStream::Mode::OpenRead);
        OVERLAPPED at = LockedByte();
        // Waits until no other writer holds the lock.
        if (!::LockFileEx(win::HandleOf(file_->Handle()), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at))
            throw FileOpenError(path);
        const FileIdentity locked = IdentifyOpenFile(*file_);
        if (SameFile(locked, IdentifyFile(path))) {
            created_ = SameFile(locked, made);
            return;
        }
        // Replaced (or removed) while we waited: the lock is on a file nobody will read again.
        file_.reset();
    }
}

FileLock::~FileLock() {
    // Still the empty file we made: the command that wanted it did not save.
    if (created_) {
        const FileIdentity now = IdentifyFile(path_);
        if (SameFile(now, IdentifyOpenFile(*file_)) && now.Size == 0)
            ::DeleteFileW(win::Widen(path_).c_str());
    }
    file_.reset(); // closing releases the lock
}

} // namespace pelfry
