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

// The modification time of an open file, as FileModifiedNanoseconds; -1 when it cannot be read.
int64_t FileModifiedNanoseconds(const FileStream& file);

// Whether a file made from a game file (its picture or description, stamped with the game file's
// time when made) was edited since: whether its modification time `edited` differs from the game
// file's, `game` (nanoseconds since 1970, -1 for a file that is not there). Times are compared
// as precisely as the file system keeps them; so an edit is seen however soon it follows, except
// within the file system's own step (two seconds on FAT, one on some others), where the file
// cannot show it. Where both times are in whole even seconds (FAT), they compare as ages. The
// stamps of earlier versions, times cut to their ages, count as copies: an export's on its
// pictures, and a back conversion's on its game file beside a picture whose time has a fraction
// of a second. The times alone cannot tell the latter from an edit made within two seconds of
// a game file stamped on a whole even second; so the game files this version stamps never are
// (GameFileStamp).
bool TimesDiffer(int64_t edited, int64_t game);

// The time to stamp on a game file this version writes (an export's, a back conversion's):
// `t`, moved on by 10 ms when it is a whole even second, so that it never looks like an earlier
// version's stamp cut to its age where the file system keeps a finer step (10 ms on exFAT, and
// finer elsewhere); where it keeps two seconds, the step is dropped and the times compare as
// ages.
int64_t GameFileStamp(int64_t t);

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
