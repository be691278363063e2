#include "app/LogRoundTrip.h"

#include "archive/SetMemoryStreamU.h"
#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "platform/Text.h"

namespace pelfry {

std::string ExtractEntryOrFail(TDirFile& archive, const std::string& folder, int32_t index) {
    // A batch must not count an entry whose file could not be written as done.
    archive.WriteEntry(folder, index);
    return NativePath(folder + archive.Files[static_cast<size_t>(index)].Name);
}

void CheckLogNames(const std::vector<std::string>& names) {
    for (const std::string& name : names)
        if (name.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
            throw Error("Entry name cannot be written to the log: " + name);
}

void ExportEntry(TDirFile& archive, const std::string& folder, int32_t index,
                 PictureFormat format) {
    const std::string extracted = ExtractEntryOrFail(archive, folder, index);
    ConvertFile(extracted, format);
}

std::vector<MadeFile> MakeExportedFiles(const TDirFile& archive, const std::string& folder,
                                        int32_t index, PictureFormat format) {
    const FileInfo& info = archive.Files[static_cast<size_t>(index)];
    PELFRY_ASSERT(info.Data || info.Size == 0, "Entry not in memory");
    // The converter reads the entry's bytes as they are written to the extracted file.
    TSetMemoryStream contents(info.Data);
    return MakeConvertedFiles(NativePath(folder + info.Name), contents, format);
}

void ExportEntry(TDirFile& archive, const std::string& folder, int32_t index,
                 const std::function<std::vector<MadeFile>()>& made) {
    const std::string extracted = ExtractEntryOrFail(archive, folder, index);
    WriteConvertedFiles(extracted, made());
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
    if (FileKind(file) == ".SPR") return PrepareConvertBack(file + ".spd", recreate, options);
    return PrepareConvertBack(EditedPicture(file), recreate, options);
}

bool RebuildEntry(TDirFile& archive, const std::string& folder, const std::string& line,
                  const ConvertOptions& options, const std::function<BackConversion()>& prepared) {
    if (IsUnsafeEntryName(line)) throw Error("Unsafe entry name: " + line);
    std::string result;
    const bool converted = FinishConvertBack(prepared(), options, result);
    int32_t index = 0;
    archive.AddFile(folder, line, index);
    return converted;
}

bool RebuildEntry(TDirFile& archive, const std::string& folder, const std::string& line,
                  bool recreate, const ConvertOptions& options) {
    return RebuildEntry(archive, folder, line, options,
                        [&] { return PrepareRebuildEntry(folder, line, recreate, options); });
}

} // namespace pelfry
