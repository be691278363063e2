#include "app/LogRoundTrip.h"

#include "archive/SetMemoryStreamU.h"
#include "base/Errors.h"
#include "base/Text.h"
#include "platform/FileTime.h"
#include "platform/FileUtil.h"

#include <map>
#include <optional>

namespace pelfry {

std::string ExtractEntryOrFail(TDirFile& archive, const std::string& folder, int32_t index) {
    // A batch must not count an entry whose file could not be written as done.
    archive.WriteEntry(folder, index);
    return NativePath(folder + archive.Files()[static_cast<size_t>(index)].Name);
}

void CheckLogNames(const std::vector<std::string>& names) {
    for (const std::string& name : names)
        if (name.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
            throw Error("Entry name cannot be written to the log: " + name);
}

std::vector<MadeFile> MakeExportedFiles(const TDirFile& archive, const std::string& folder,
                                        int32_t index, PictureFormat format) {
    const FileInfo& info = archive.Files()[static_cast<size_t>(index)];
    const std::string kind = FileKind(info.Name);
    if (kind != ".IMG" && kind != ".SPR") return {};
    // The converter reads the entry's bytes as they are written to the extracted file, read
    // for it alone: a whole archive is never held at once.
    TSetMemoryStream contents(archive.ReadEntry(index));
    return MakeConvertedFiles(NativePath(folder + info.Name), contents, format);
}

void ExportEntry(TDirFile& archive, const std::string& folder, int32_t index,
                 const std::function<std::vector<MadeFile>()>& made, bool keepGameFile) {
    // An entry that cannot be converted stops the export before any file of it is written.
    const std::vector<MadeFile> files = made();
    // The pictures go into the folder the entry went into, held open since: a folder swapped
    // for a link meanwhile is not followed, and fails the naming of what goes into it.
    const std::unique_ptr<Folder> into = archive.WriteEntry(folder, index);
    const std::string path = NativePath(folder + archive.Files()[static_cast<size_t>(index)].Name);
    const std::string name = path.substr(path.find_last_of('/') + 1);
    int64_t time = into->ModifiedTime(name);
    if (!files.empty() && GameFileStamp(time) != time &&
        into->SetModifiedTime(name, GameFileStamp(time)))
        time = into->ModifiedTime(name);
    WriteConvertedFiles(*into, files, time);
    if (!keepGameFile && !files.empty()) into->Remove(name);
}

std::vector<std::string> FilesOfEntry(const std::string& name,
                                      std::optional<PictureFormat> converted) {
    std::vector<std::string> files = {name};
    const std::string kind = FileKind(name);
    if (converted && (kind == ".IMG" || kind == ".SPR"))
        files.push_back(name + PictureSuffix(*converted));
    if (converted && kind == ".SPR") files.push_back(name + ".spd");
    return files;
}

void CheckDistinctFiles(const TDirFile& archive, const std::vector<int32_t>& indexes,
                        const std::string& folder, std::optional<PictureFormat> converted,
                        const std::string& logName) {
    const NameCase rule = FolderNameCase(folder);
    const std::string logKey = logName.empty() ? std::string() : NameKey(logName, rule);
    std::map<std::string, int32_t> writers; // each file's key and the entry that writes it
    for (int32_t index : indexes) {
        const std::string& name = archive.Files()[static_cast<size_t>(index)].Name;
        for (const std::string& file : FilesOfEntry(name, converted)) {
            const std::string key = NameKey(file, rule);
            if (!logKey.empty() && key == logKey)
                throw Error("Entry " + name + " would be written over the log");
            const auto [at, added] = writers.emplace(key, index);
            if (!added && at->second != index)
                throw Error("Entries " + archive.Files()[static_cast<size_t>(at->second)].Name +
                            " and " + name + " would be written to the same file");
        }
    }
}

void CheckLogLine(const std::string& log, size_t number, const std::string& line) {
    std::optional<Error> refused;
    if (IsUnsafeEntryName(line))
        refused.emplace("Unsafe entry name: " + line);
    else if (line.size() > MaxEntryNameLength)
        refused.emplace("Entry name too long (more than 30 bytes): " + line);
    if (!refused) return;
    refused->SetWhere(Format("%s, line %zu", log.c_str(), number));
    throw *refused;
}

std::string LogFileName(const std::string& folder, const std::string& archiveFileName) {
    return folder + ExtractFileName(archiveFileName) + ".txt";
}

std::string RebuildTarget(const std::string& folder, const std::string& line) {
    // Extensions are told in any case, as everywhere else: an edited D.IMG.bmp is rebuilt,
    // never silently added unchanged.
    const std::string ext = UpperCaseAscii(ExtractFileExt(line));
    if (IsUnsafeEntryName(line) || (ext != ".SPR" && ext != ".IMG")) return std::string();
    return NativePath(folder + line);
}

BackConversion PrepareRebuildEntry(const std::string& folder, const std::string& line,
                                   bool recreate, const ConvertOptions& options) {
    const std::string file = RebuildTarget(folder, line);
    if (file.empty()) return BackConversion();
    // The folder of the log is the user's; what the lines add below it is walked without links.
    const std::string user = NativePath(folder);
    if (FileKind(file) == ".SPR") return PrepareConvertBack(file + ".spd", recreate, options, user);
    return PrepareConvertBack(EditedPicture(file), recreate, options, user);
}

bool RebuildEntry(TDirFile& archive, const std::string& folder, const std::string& line,
                  const ConvertOptions& options, const std::function<BackConversion()>& prepared) {
    if (IsUnsafeEntryName(line)) throw Error("Unsafe entry name: " + line);
    std::string result;
    // The folder of the log is the user's; what the lines add below it is walked without links.
    const bool converted = FinishConvertBack(prepared(), options, result, NativePath(folder));
    int32_t index = 0;
    archive.AddFile(folder, line, index);
    return converted;
}

} // namespace pelfry
