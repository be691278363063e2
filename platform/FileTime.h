// File ages: a file's modification time as local time packed into 32 bits in the FAT
// date-time layout (bits 31-25 year - 1980, 24-21 month, 20-16 day, 15-11 hour,
// 10-5 minute, 4-0 seconds / 2). Two-second resolution; two ages are the same exactly
// when the packed values are equal.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace pelfry {

class FileStream;

// The age of the file at `path`; -1 when it does not exist or is a folder.
int32_t FileAge(const std::string& path);

// The modification time of the file at `path` in nanoseconds since 1970 (as precise as the
// file system keeps it), for telling which of two files was saved last; -1 when it does not
// exist or is a folder.
int64_t FileModifiedNanoseconds(const std::string& path);

// The age of an open file; -1 when its time cannot be read.
int32_t FileGetDate(const FileStream& file);
// Sets an open file's modification (and access) time from a packed age. Returns false when
// the platform refuses; callers that only stamp files ignore that.
bool FileSetDate(const FileStream& file, int32_t age);

// Reads the age of `source` (opened for reading) and sets it on `target` as SetFileAge does.
// FileOpenError when either cannot be found.
void CopyFileTime(const std::string& source, const std::string& target);
// Sets the age of `target` without opening it and without following a link standing there
// (a link gets the time itself): stamping a file never writes through a link to a file
// elsewhere. FileOpenError when there is nothing at `target`, NotRegularFileError for a
// folder and the like; a time the system refuses to set (a file of another user) is ignored.
void SetFileAge(const std::string& target, int32_t age);

// Packs a local calendar time; years before 1980 pack as 1980-01-01 00:00:00.
int32_t PackFileDate(const std::tm& local);
// The calendar time (local) that a packed age stands for.
std::tm UnpackFileDate(int32_t age);
// A POSIX time as an age, and back (local time both ways); FileDateToUnix gives -1 for an
// age whose fields name no calendar time (month 13, hour 24, -1 itself...).
int32_t UnixToFileDate(std::time_t t);
std::time_t FileDateToUnix(int32_t age);

} // namespace pelfry
