// Files and paths. Both "\" and "/" count as path separators everywhere, because entry
// names from the game use "\" while this platform's paths use "/".
#pragma once

#include "ReplacingFile.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace pelfry {

inline bool IsPathSeparator(char c) {
    return c == '/' || c == '\\';
}

// Folder part: everything up to and including the last "\", "/" or ":"; "" when none.
std::string ExtractFilePath(std::string_view path);
// Name part: everything after the last "\", "/" or ":".
std::string ExtractFileName(std::string_view path);
// Extension: from the last "." after the last separator to the end; "" when there is none.
std::string ExtractFileExt(std::string_view path);

// The parts of a relative name between its separators ("\" or "/"), without the empty and "."
// parts, which name no further folder: "a\\./b//c" gives a, b, c.
std::vector<std::string_view> NameParts(std::string_view name);

// The path as this platform spells it: every "\" becomes "/".
std::string NativePath(std::string_view path);

// Appends "/" unless the path already ends in a separator.
std::string IncludeTrailingSeparator(std::string_view folder);

// Length of a file in bytes, or -1 when it does not exist or is a folder.
int64_t FileLength(const std::string& path);
bool FileExists(const std::string& path); // a file, not a folder
bool DirectoryExists(const std::string& path);
// Deletes a file; returns whether it was deleted.
bool DeleteFile(const std::string& path);
// Creates the one folder `path` (the folder above it must exist); true when `path` is a folder
// afterwards, made now or before; else false, with errno set to the system's reason.
bool MakeFolder(const std::string& path);
// Creates a folder and every missing folder above it; true when it exists afterwards, else
// false with errno set to the system's reason. `made`, when given, receives the folders made,
// the innermost first, for RemoveMadeFolders.
bool ForceDirectories(const std::string& path, std::vector<std::string>* made = nullptr);
// Removes again the folders that ForceDirectories made, as long as they are empty: for a
// command refused before it wrote anything.
void RemoveMadeFolders(const std::vector<std::string>& made);
// For a path that is a symbolic link leading to no file: ENOENT when its target (or a folder on
// the way to it) is missing, ELOOP when it leads round in a circle; 0 for every other path.
int BrokenLink(const std::string& path);
// The system's temporary folder, ending in a separator.
std::string TempFolder();

// Whether a relative name ("\" or "/" between its parts) has a part that Windows file systems
// cannot hold as a file or folder of that name: a device name (CON, PRN, AUX, NUL, COM1-COM9,
// LPT1-LPT9, in any case, alone or with any extension), a part ending in "." or " " (dropped
// silently), or a ":" anywhere (a stream of another file). Writing to such a name there reaches
// a device or another file, and the data is lost.
bool IsUnsafeWindowsName(std::string_view name);
// Whether this system's file system cannot hold `name` (a relative name) safely: the rules
// of IsUnsafeWindowsName on Windows, none elsewhere.
bool FileSystemRefusesName(std::string_view name);
// Which spellings of a name a folder takes for one file.
enum class NameCase {
    Exact,   // every byte counts (most Linux folders)
    Ascii,   // the letters A-Z in either case alike (FAT through fusefat)
    Unicode, // every letter in either case alike (Windows, exFAT, case-folding ext4 folders)
};

// One part of a name (no separator) as this system stores it, upper-cased as `rule` says: the
// parts of NameKey.
std::string StoredName(std::string_view part, NameCase rule);

// How the existing folder `path` compares names, asked of the folder itself (never of the one
// above it): a probe file made there under a random name is looked for under its name with the
// ASCII letters in the other case, then with a non-ASCII letter in the other case
// (JudgeNameCase). The probe is one of the writer's temporaries (TempFiles.h): removed at once,
// and should the command be killed meanwhile, by the next writer in the folder. Exact when the
// folder cannot be asked.
NameCase FolderNameCase(const std::string& path);

// What the probe asks of a folder: FolderNameCase asks the system; tests ask a double that
// behaves as the file systems do.
class NameProbe {
public:
    virtual ~NameProbe() = default;
    // Makes a new empty file `name`; false when the folder cannot hold that name or it exists.
    virtual bool Make(const std::string& name) = 0;
    // Whether `name` reaches a file, and its identity (volume and index) then.
    virtual bool Identify(const std::string& name, uint64_t& volume, uint64_t& index) = 0;
    // Writes `bytes` as the contents of the file reached through `name`.
    virtual void Write(const std::string& name, const std::string& bytes) = 0;
    // The contents of the file reached through `name` ("" when there is none).
    virtual std::string Read(const std::string& name) = 0;
    virtual void Remove(const std::string& name) = 0;
};

// The judgement of FolderNameCase with the probe names it makes (`base`, a temporary's name,
// and `base` with a non-ASCII letter added). A spelling reaches the probe when the system gives
// both names one identity, or when bytes written through the probe's name read back through it:
// FUSE file systems give every spelling an identity of its own.
NameCase JudgeNameCase(NameProbe& folder, const std::string& base);

// The form in which a folder comparing names by `rule` compares the relative name `name`: "\"
// and "/" alike ("/" between the parts), empty and "." parts dropped, the name as the system
// stores it (on Windows, after the conversion to UTF-16 that bytes not UTF-8 do not survive),
// upper-cased as `rule` says. Two names land on one file exactly when their keys are equal.
std::string NameKey(std::string_view name, NameCase rule);

// Copies up to `count` bytes of the open file `from`, starting at `offset`, to the end of the
// open file `to` inside the system (copy_file_range), without passing them through this
// process. Returns the bytes copied: fewer when `from` ends first, or when the system cannot
// copy between these two files (other file systems, no such call: on Windows always 0), and
// the caller then copies the rest itself. A write that failed (a full disk) sets `error` to
// the system's error number; it stays 0 otherwise.
uint64_t CopyFileRange(int from, uint64_t offset, int to, uint64_t count, int& error);

// Reads a whole file; FileOpenError when it cannot be opened.
std::vector<uint8_t> ReadWholeFile(const std::string& path);
// Writes `bytes` as the whole file `path` through the replacing writer (a link standing at
// `path` is replaced); FileCreateError or FileWriteError on failure.
void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);
// Writes `lines` to `path`, each followed by CR LF (TextLinesBytes), through the replacing
// writer; FileCreateError/FileWriteError on failure.
void WriteTextLines(const std::string& path, const std::vector<std::string>& lines);

// For `count` items of work on files: whether item i reads a file that an item before it
// writes, and so must not be prepared ahead of them. `reads` and `writes` give an item's
// paths; two paths are taken for one file when they agree once made absolute and normal, and
// upper-cased (as file systems that ignore case see them; elsewhere an item waits needlessly).
std::vector<bool> ReadsEarlierWrites(size_t count,
                                     const std::function<std::vector<std::string>(size_t)>& reads,
                                     const std::function<std::vector<std::string>(size_t)>& writes);

} // namespace pelfry
