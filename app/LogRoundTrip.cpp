#include "app/LogRoundTrip.h"

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

std::string LogFileName(const std::string& folder, const std::string& archiveFileName) {
    return folder + ExtractFileName(archiveFileName) + ".txt";
}

bool RebuildEntry(TDirFile& archive, const std::string& folder, const std::string& line,
                  bool recreate, const ConvertOptions& options) {
    if (IsUnsafeEntryName(line)) throw Error("Unsafe entry name: " + line);
    // Extensions are told in any case, as everywhere else: an edited D.IMG.bmp is rebuilt,
    // never silently added unchanged.
    const std::string ext = UpperCaseAscii(ExtractFileExt(line));
    const std::string file = NativePath(folder + line);
    bool converted = false;
    std::string result;
    if (ext == ".SPR")
        converted = ConvertBack(file + ".spd", recreate, options, result);
    else if (ext == ".IMG")
        converted = ConvertBack(EditedPicture(file), recreate, options, result);
    int32_t index = 0;
    archive.AddFile(folder, line, index);
    return converted;
}

} // namespace pelfry
