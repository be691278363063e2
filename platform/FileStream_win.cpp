// The file-backed stream on Windows. Files are opened in binary (the system's own calls never
// translate bytes), are not inherited by child processes, and share reading, writing and
// deletion with others, so that an open reader never stops another program from replacing the
// file (as on POSIX systems). Reads and writes name their offset (OVERLAPPED): the position
// lives in the object, as with pread and pwrite.

#include "FileStream.h"
#include "WinSupport.h"
#include "base/Errors.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace pelfry {

FileStream::FileStream(const std::string& fileName, Mode mode) : fileName_(fileName) {
    // Only files on a disk are opened: a folder, a device (NUL, CON, COM1) or a pipe is refused
    // with NotRegularFileError, as on POSIX systems.
    const auto refuse = [&](bool folder) {
        if (mode == Mode::Create) throw FileCreateError(fileName, folder ? EISDIR : EINVAL);
        throw NotRegularFileError(fileName);
    };
    win::FileFacts facts;
    if (win::FactsOfPath(fileName, facts) && facts.Folder) refuse(true);
    const DWORD access = mode == Mode::OpenRead ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    const DWORD disposition = mode == Mode::Create ? OPEN_ALWAYS : OPEN_EXISTING;
    // Without FILE_FLAG_BACKUP_SEMANTICS a folder does not open: it is no file.
    HANDLE h = fileName.empty()
                   ? INVALID_HANDLE_VALUE
                   : ::CreateFileW(win::Widen(fileName).c_str(), access,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD error = h == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
    if (h != INVALID_HANDLE_VALUE && ::GetFileType(h) != FILE_TYPE_DISK) {
        ::CloseHandle(h);
        refuse(false);
    }
    if (h != INVALID_HANDLE_VALUE && mode == Mode::Create) {
        // Truncated in place, so that the file keeps its identity as with O_TRUNC.
        LARGE_INTEGER start{};
        if (!::SetFilePointerEx(h, start, nullptr, FILE_BEGIN) || !::SetEndOfFile(h)) {
            ::CloseHandle(h);
            h = INVALID_HANDLE_VALUE;
        }
    }
    if (h != INVALID_HANDLE_VALUE) {
        fd_ = ::_open_osfhandle(reinterpret_cast<intptr_t>(h),
                                _O_BINARY | (mode == Mode::OpenRead ? _O_RDONLY : 0));
        if (fd_ < 0) ::CloseHandle(h);
    }
    if (fd_ < 0) {
        const int code = error == ERROR_SUCCESS ? EIO : win::ErrnoOf(error);
        if (mode == Mode::Create) throw FileCreateError(fileName, code);
        throw FileOpenError(fileName, code);
    }
}

FileStream::~FileStream() {
    if (fd_ >= 0) ::_close(fd_);
}

void FileStream::Close() {
    if (fd_ < 0) return;
    const int rc = ::_close(fd_);
    fd_ = -1;
    if (rc != 0) throw FileWriteError(fileName_, EIO);
}

static OVERLAPPED At(int64_t position) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<uint64_t>(position));
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(position) >> 32);
    return at;
}

int64_t FileStream::ReadAt(int64_t offset, void* buffer, int64_t count) const {
    if (count <= 0 || fd_ < 0 || offset < 0) return 0;
    // The system refuses as an error a read that runs past the largest offset; no file reaches
    // that far, so the read stops there, at an end like any other.
    count = std::min(count, INT64_MAX - offset);
    HANDLE h = win::HandleOf(fd_);
    auto* out = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        const DWORD chunk = static_cast<DWORD>(std::min<int64_t>(count - done, 1 << 30));
        OVERLAPPED at = At(offset + done);
        DWORD got = 0;
        // Past the end of the file the read fails with ERROR_HANDLE_EOF: nothing more to read.
        if (!::ReadFile(h, out + done, chunk, &got, &at)) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_HANDLE_EOF) break;
            throw FileReadError(fileName_, win::ErrnoOf(error));
        }
        if (got == 0) break;
        done += got;
    }
    return done;
}

int64_t FileStream::Write(const void* buffer, int64_t count) {
    if (count <= 0 || fd_ < 0 || position_ < 0) return 0;
    HANDLE h = win::HandleOf(fd_);
    auto* in = static_cast<const uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        const DWORD chunk = static_cast<DWORD>(std::min<int64_t>(count - done, 1 << 30));
        OVERLAPPED at = At(position_);
        DWORD put = 0;
        if (!::WriteFile(h, in + done, chunk, &put, &at) || put == 0) break;
        done += put;
        position_ += put;
    }
    return done;
}

int64_t FileStream::Size() {
    LARGE_INTEGER size{};
    if (fd_ < 0 || !::GetFileSizeEx(win::HandleOf(fd_), &size)) return 0;
    return size.QuadPart;
}

} // namespace pelfry
