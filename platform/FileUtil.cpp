// Paths, and whole files read and written; the questions asked of the file system are in
// FileSystem_posix.cpp and FileSystem_win.cpp.
#include "FileUtil.h"

#include "FileStream.h"
#include "ReplacingFile.h"
#include "TempFiles.h"
#include "base/Errors.h"
#include "base/Stream.h"
#include "base/Text.h"

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <unordered_set>

namespace pelfry {

// The path as the standard library takes it. Names are UTF-8 everywhere (on Windows the path
// type would take a plain string for the code page).
static std::filesystem::path FilePath(const std::string& path) {
    const std::string native = NativePath(path);
    return std::filesystem::path(std::u8string(native.begin(), native.end()));
}

static size_t LastDelimiter(std::string_view path) {
    return path.find_last_of("/\\:");
}

std::string ExtractFilePath(std::string_view path) {
    size_t at = LastDelimiter(path);
    return at == std::string_view::npos ? std::string() : std::string(path.substr(0, at + 1));
}

std::string ExtractFileName(std::string_view path) {
    size_t at = LastDelimiter(path);
    return at == std::string_view::npos ? std::string(path) : std::string(path.substr(at + 1));
}

std::string ExtractFileExt(std::string_view path) {
    size_t dot = path.find_last_of(".\\/:");
    if (dot == std::string_view::npos || path[dot] != '.') return std::string();
    return std::string(path.substr(dot));
}

std::string NativePath(std::string_view path) {
    std::string out(path);
    for (char& c : out)
        if (c == '\\') c = '/';
    return out;
}

std::string IncludeTrailingSeparator(std::string_view folder) {
    std::string out(folder);
    if (out.empty() || !IsPathSeparator(out.back())) out += '/';
    return out;
}

// A device name, alone or before an extension: "nul", "Com1.txt", "LPT9.tar.gz", "aux .c".
// Windows also takes CONIN$, CONOUT$ and COM or LPT with a superscript 1, 2 or 3 as devices.
static bool IsDeviceName(std::string_view part) {
    std::string stem = UpperCaseAscii(part.substr(0, part.find('.')));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" || stem == "CONIN$" ||
        stem == "CONOUT$")
        return true;
    if (stem.compare(0, 3, "COM") != 0 && stem.compare(0, 3, "LPT") != 0) return false;
    const std::string_view number = std::string_view(stem).substr(3);
    return (number.size() == 1 && number[0] >= '1' && number[0] <= '9') || number == "\xC2\xB9" ||
           number == "\xC2\xB2" || number == "\xC2\xB3";
}

std::vector<std::string_view> NameParts(std::string_view name) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (start < name.size()) {
        size_t end = start;
        while (end < name.size() && !IsPathSeparator(name[end]))
            ++end;
        const std::string_view part = name.substr(start, end - start);
        start = end + 1;
        if (!part.empty() && part != ".") parts.push_back(part);
    }
    return parts;
}

bool IsUnsafeWindowsName(std::string_view name) {
    if (name.find(':') != std::string_view::npos) return true;
    for (std::string_view part : NameParts(name)) {
        if (part == "..") continue; // the caller's to judge
        if (part.back() == '.' || part.back() == ' ' || IsDeviceName(part)) return true;
    }
    return false;
}

std::string NameKey(std::string_view name, NameCase rule) {
    std::string key;
    for (std::string_view part : NameParts(name)) {
        // Appended piece by piece: GCC 12 takes "/" + a temporary string for an overlapping
        // copy (-Wrestrict) in the optimised build.
        if (!key.empty()) key += '/';
        key += StoredName(part, rule);
    }
    return key;
}

namespace {

// Whether `other` reaches the probe `name`, which holds `token`.
bool Reaches(NameProbe& folder, const std::string& name, const std::string& other,
             const std::string& token) {
    uint64_t volume = 0, index = 0, otherVolume = 0, otherIndex = 0;
    if (!folder.Identify(other, otherVolume, otherIndex)) return false;
    if (folder.Identify(name, volume, index) && volume == otherVolume && index == otherIndex)
        return true;
    // Another identity may still be the same file (FUSE), or another file of that spelling
    // left there: the contents tell, random bytes that no other file holds.
    return folder.Read(other) == token;
}

} // namespace

NameCase JudgeNameCase(NameProbe& folder, const std::string& base) {
    // With an "e acute", turned into its capital for the second question; a folder that cannot
    // hold the letter (FAT through fusefat) is asked about the ASCII letters alone.
    const std::string lower = base + "\xC3\xA9", upper = base + "\xC3\x89";
    const bool letter = folder.Make(lower);
    const std::string probe = letter ? lower : base;
    if (!letter && !folder.Make(base)) return NameCase::Exact;
    // Written before any other spelling is looked up: FUSE reads a file no further than the
    // size it was found with.
    const std::string token = temps::NewName();
    folder.Write(probe, token);
    NameCase rule = NameCase::Exact;
    if (Reaches(folder, probe, temps::OtherCase(probe), token))
        rule = letter && Reaches(folder, probe, upper, token) ? NameCase::Unicode : NameCase::Ascii;
    folder.Remove(probe);
    return rule;
}

bool ForceDirectories(const std::string& path, std::vector<std::string>* made) {
    std::string p = NativePath(path);
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    if (p.empty()) {
        errno = ENOENT;
        return false;
    }
    if (DirectoryExists(p)) return true;
    size_t slash = p.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
        if (!ForceDirectories(p.substr(0, slash), made)) return false;
    }
    if (!MakeFolder(p)) return false;
    if (made) made->insert(made->begin(), p);
    return true;
}

void RemoveMadeFolders(const std::vector<std::string>& made) {
    for (const std::string& folder : made) {
        std::error_code ec;
        // Only an empty folder goes: whatever another program put there meanwhile stays.
        if (std::filesystem::is_empty(FilePath(folder), ec) && !ec)
            std::filesystem::remove(FilePath(folder), ec);
    }
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    FileStream file(path, FileStream::Mode::OpenRead);
    return ReadRest(file);
}

void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    WriteFileReplacing(path, bytes);
}

void WriteFileReplacing(const std::string& path, const std::vector<uint8_t>& bytes,
                        LinkPolicy links, int64_t modifiedNs) {
    ReplacingFile file(path, links);
    file.Write(bytes.data(), bytes.size());
    if (modifiedNs >= 0) file.SetModifiedTime(modifiedNs);
    file.Commit();
}

namespace {

// Where root + relative goes: its folder (`made` below root when missing, else refused) and
// its name there. Everything the program adds below the user's folder is walked without
// following links: a link planted in a shared folder cannot take the file elsewhere.
std::unique_ptr<Folder> FolderBelow(const std::string& root, std::string_view relative,
                                    const std::string& shown, bool make, std::string& name) {
    const std::string top = NativePath(root);
    const std::string below = NativePath(relative);
    const size_t slash = below.find_last_of('/');
    name = slash == std::string::npos ? below : below.substr(slash + 1);
    return std::make_unique<Folder>(Folder(top, shown)
                                        .Descend(slash == std::string::npos
                                                     ? std::string_view()
                                                     : std::string_view(below).substr(0, slash + 1),
                                                 shown, make));
}

// Prepared files held open at once in the process, each with a file and a folder descriptor.
constexpr int MaxPrepared = 128;
std::atomic<int> preparedFiles{0};

// Writes `bytes` into the writer that `open` makes (and the folder it needs held open, if
// any) and prepares it; null where it cannot (see PrepareFileBelow).
std::unique_ptr<PreparedFile>
Prepare(const std::function<std::unique_ptr<ReplacingFile>(std::unique_ptr<Folder>&)>& open,
        const std::vector<uint8_t>& bytes, int64_t modifiedNs) {
    if (preparedFiles.fetch_add(1) >= MaxPrepared) {
        --preparedFiles;
        return nullptr;
    }
    try {
        std::unique_ptr<Folder> folder;
        std::unique_ptr<ReplacingFile> file = open(folder);
        file->Write(bytes.data(), bytes.size());
        if (modifiedNs >= 0) file->SetModifiedTime(modifiedNs);
        file->Prepare();
        return std::make_unique<PreparedFile>(std::move(folder), std::move(file));
    } catch (const std::exception&) {
        --preparedFiles;
        return nullptr;
    }
}

} // namespace

std::unique_ptr<Folder> WriteFileBelow(const std::string& root, std::string_view relative,
                                       const std::vector<uint8_t>& bytes, int64_t modifiedNs) {
    const std::string shown = NativePath(root + std::string(relative));
    const std::string top = NativePath(root);
    if (!top.empty()) ForceDirectories(top);
    std::string name;
    std::unique_ptr<Folder> parent = FolderBelow(root, relative, shown, true, name);
    WriteFileIn(*parent, name, shown, bytes, modifiedNs);
    return parent;
}

std::vector<std::string> WriteFileIn(const Folder& folder, const std::string& name,
                                     const std::string& shownName,
                                     const std::vector<uint8_t>& bytes, int64_t modifiedNs) {
    ReplacingFile file(folder, name, shownName);
    file.Write(bytes.data(), bytes.size());
    if (modifiedNs >= 0) file.SetModifiedTime(modifiedNs);
    file.Commit();
    return file.Warnings();
}

PreparedFile::PreparedFile(std::unique_ptr<Folder> folder, std::unique_ptr<ReplacingFile> file)
    : folder_(std::move(folder)), file_(std::move(file)) {}

PreparedFile::~PreparedFile() {
    file_.reset();
    --preparedFiles;
}

std::unique_ptr<PreparedFile> PrepareFileBelow(const std::string& root, std::string_view relative,
                                               const std::vector<uint8_t>& bytes,
                                               int64_t modifiedNs) {
    return Prepare(
        [&](std::unique_ptr<Folder>& folder) {
            const std::string shown = NativePath(root + std::string(relative));
            std::string name;
            folder = FolderBelow(root, relative, shown, false, name);
            return std::make_unique<ReplacingFile>(*folder, name, shown);
        },
        bytes, modifiedNs);
}

std::unique_ptr<PreparedFile> PrepareFileReplacing(const std::string& path,
                                                   const std::vector<uint8_t>& bytes,
                                                   int64_t modifiedNs) {
    return Prepare([&](std::unique_ptr<Folder>&) { return std::make_unique<ReplacingFile>(path); },
                   bytes, modifiedNs);
}

void WriteTextLines(const std::string& path, const std::vector<std::string>& lines) {
    WriteWholeFile(path, TextLinesBytes(lines));
}

namespace {

std::string FileKey(const std::string& path) {
    const std::filesystem::path given = FilePath(path);
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(given, ec);
    if (ec) full = given;
    const std::u8string key = full.lexically_normal().generic_u8string();
    return UpperCaseAscii(std::string(key.begin(), key.end()));
}

} // namespace

std::vector<bool>
ReadsEarlierWrites(size_t count, const std::function<std::vector<std::string>(size_t)>& reads,
                   const std::function<std::vector<std::string>(size_t)>& writes) {
    std::vector<bool> waits(count, false);
    std::unordered_set<std::string> written;
    for (size_t i = 0; i < count; ++i) {
        for (const std::string& path : reads(i))
            if (written.count(FileKey(path))) waits[i] = true;
        for (const std::string& path : writes(i))
            written.insert(FileKey(path));
    }
    return waits;
}

} // namespace pelfry
