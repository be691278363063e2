#include "app/LogRoundTrip.h"

#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "platform/Text.h"

namespace pelfry {

std::string ExtractEntryOrFail(TDirFile& archive, const std::string& folder, int32_t index) {
    const std::string target = NativePath(folder + archive.Files[static_cast<size_t>(index)].Name);
    // Extraction reports a file it could not write through its result; a batch must not
    // count such an entry as done.
    if (archive.ExtractEntry(folder, index) != 0) throw FileCreateError(target);
    return target;
}

void ExportEntry(TDirFile& archive, const std::string& folder, int32_t index, PictureFormat format) {
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
    if (ext == ".SPR") converted = ConvertBack(file + ".spd", recreate, options, result);
    else if (ext == ".IMG") converted = ConvertBack(EditedPicture(file), recreate, options, result);
    int32_t index = 0;
    archive.AddFile(folder, line, index);
    return converted;
}

} // namespace pelfry
