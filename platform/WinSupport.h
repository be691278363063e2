// Shared by the Windows implementation of the platform layer (the *_win.cpp files) and by
// nothing else. It does not include <windows.h>: handles are passed as void*.
//
// Every name and path in this program is UTF-8; the system's wide (UTF-16) calls take them
// after Widen, so that no name depends on the system's code page.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pelfry::win {

// The system's mutex that stands for the name `name` in the folder `folder` (FileLock's lock on
// a name; ReplacingFile holds it while a name stands empty): one for every spelling of the
// name in that folder. Null when the system cannot make it.
struct FileFacts;
void* NameMutex(const FileFacts& folder, const std::string& name);

// UTF-8 to UTF-16 and back. Bytes that are not UTF-8 become U+FFFD.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view wide);

// The errno value nearest to a system error (GetLastError), for FileCreateError and the
// extraction's error codes; EIO when there is none.
int ErrnoOf(unsigned long error);

// What the system says of a file or folder.
struct FileFacts {
    bool Folder = false;
    bool Link = false; // a reparse point: a symbolic link, a junction
    bool ReadOnly = false;
    unsigned long Links = 1; // names (hard links) of the file
    int64_t Size = 0;
    uint64_t Volume = 0;  // volume serial number
    uint64_t Index = 0;   // file index, unique on its volume
    int64_t Modified = 0; // last write, in 100 ns since 1601 (FILETIME)
};

// Facts of the file `path` names, links followed (`followLinks` false: of the link itself).
// False when it cannot be opened (missing, no access).
bool FactsOfPath(const std::string& path, FileFacts& facts, bool followLinks = true);
// Facts of an open file.
bool FactsOfHandle(void* handle, FileFacts& facts);

// The system handle behind a C run-time descriptor (FileStream::Handle()).
void* HandleOf(int fd);

// FILETIME (100 ns since 1601) and POSIX seconds.
int64_t FileTimeFromUnix(int64_t seconds);
int64_t UnixFromFileTime(int64_t fileTime);
// Sets the last write and access times of the open file `handle` to `nanoseconds` since 1970
// (to the system's 100 ns); false when the system refuses.
bool SetFileTimes(void* handle, int64_t nanoseconds);

} // namespace pelfry::win
