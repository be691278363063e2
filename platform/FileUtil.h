// Files and paths. Both "\" and "/" count as path separators everywhere, because entry
// names from the game use "\" while this platform's paths use "/".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pelfry {

inline bool IsPathSeparator(char c) { return c == '/' || c == '\\'; }

// Folder part: everything up to and including the last "\", "/" or ":"; "" when none.
std::string ExtractFilePath(std::string_view path);
// Name part: everything after the last "\", "/" or ":".
std::string ExtractFileName(std::string_view path);
// Extension: from the last "." after the last separator to the end; "" when there is none.
std::string ExtractFileExt(std::string_view path);

// The path as this platform spells it: every "\" becomes "/".
std::string NativePath(std::string_view path);

// Appends "/" unless the path already ends in a separator.
std::string IncludeTrailingSeparator(std::string_view folder);

// Length of a file in bytes, or -1 when it does not exist or is a folder.
int64_t FileLength(const std::string& path);
bool FileExists(const std::string& path);    // a file, not a folder
bool DirectoryExists(const std::string& path);
// Deletes a file; returns whether it was deleted.
bool DeleteFile(const std::string& path);
// Creates a folder and every missing folder above it; true when it exists afterwards.
bool ForceDirectories(const std::string& path);
// The system's temporary folder, ending in "/".
std::string TempFolder();

// Reads a whole file; FileOpenError when it cannot be opened.
std::vector<uint8_t> ReadWholeFile(const std::string& path);
// Creates or truncates `path` and writes `bytes`; FileCreateError or FileWriteError on failure.
void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);

// A new file beside `target` that takes the target's place on Commit, so that the target
// either stays as it was or holds everything written. Until Commit the target is untouched;
// an object dropped without Commit removes its file. A target that is a link is followed (the
// file it points to is replaced, the link stays).
class ReplacingFile {
public:
    // FileCreateError naming `target` when it is a folder, a file that may not be written, or
    // when the new file cannot be made beside it.
    explicit ReplacingFile(const std::string& target);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // Buffered; a failure is remembered and reported by Commit.
    void Write(const void* bytes, size_t count);
    // Writes out what is buffered, keeps the target's permissions, and renames the new file
    // over the target. FileWriteError naming the target when any write or the rename failed.
    void Commit();

private:
    static constexpr size_t BufferSize = 1 << 20;

    void Flush();
    void WriteOut(const uint8_t* bytes, size_t count);

    std::string shownName_; // the target as the caller named it
    std::string target_;    // the file replaced (a link's destination)
    std::string temp_;
    int fd_ = -1;
    bool failed_ = false;
    bool committed_ = false;
    std::vector<uint8_t> buffer_;
};

// Writes `bytes` to `path` through a ReplacingFile: `path` either stays as it was or holds
// all of them. FileCreateError / FileWriteError as ReplacingFile raises them.
void WriteFileReplacing(const std::string& path, const std::vector<uint8_t>& bytes);

} // namespace pelfry
