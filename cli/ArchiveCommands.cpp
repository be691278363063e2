// The archive commands: list, extract, add, delete; and what `info` says about a .DIR file.
#include "cli/Cli.h"

#include "app/EntryDetails.h"
#include "app/LogRoundTrip.h"
#include "archive/DirFileU.h"
#include "platform/Errors.h"
#include "platform/FileLock.h"
#include "platform/FileUtil.h"
#include "platform/Text.h"

namespace pelfry::cli {

namespace {

int32_t FindOrFail(const TDirFile& dir, const std::string& name, const std::string& archive) {
    int32_t index = dir.FindEntry(name, 0);
    if (index < 0) throw Error("No entry named " + name + " in " + archive);
    return index;
}

void List(const Args& args) {
    auto dir = TDirFile::Create(args[0], false);
    for (const FileInfo& info : dir->Files) WriteLine(stdout, info.Name);
}

void Extract(const Args& args) {
    const std::string& archive = args[0];
    // An empty FOLDER (an unset shell variable, say) would otherwise become "/" and spill the
    // archive into the root folder.
    if (args[1].empty()) throw UsageError("FOLDER must not be empty");
    const std::string folder = IncludeTrailingSeparator(args[1]);
    const Args names(args.begin() + 2, args.end());
    // Extracting everything reads the archive once; a few names read only their own blocks.
    auto dir = TDirFile::Create(archive, names.empty());
    std::vector<int32_t> indexes;
    if (names.empty()) {
        for (uint32_t i = 0; i < dir->Count(); ++i) indexes.push_back(static_cast<int32_t>(i));
    } else {
        // Every name is looked up before anything is written.
        for (const std::string& name : names) indexes.push_back(FindOrFail(*dir, name, archive));
    }
    if (!ForceDirectories(folder)) throw Error("Unable to create directory " + args[1]);
    for (int32_t index : indexes) ExtractEntryOrFail(*dir, folder, index);
}

// Read, change and save under the writers' lock: a second command on the same archive waits
// and then works on what this one saved. A missing archive is made empty for the lock (and
// removed again should the command fail).
void Add(const Args& args) {
    const std::string& archive = args[0];
    FileLock lock(archive, true);
    auto dir = TDirFile::CreateFromStream(lock.File(), archive, true);
    for (size_t i = 1; i < args.size(); ++i) {
        int32_t index = 0;
        dir->AddFile(ExtractFilePath(args[i]), ExtractFileName(args[i]), index);
    }
    dir->SaveToFile(archive);
}

void Delete(const Args& args) {
    const std::string& archive = args[0];
    FileLock lock(archive, false);
    auto dir = TDirFile::CreateFromStream(lock.File(), archive, true);
    for (size_t i = 1; i < args.size(); ++i) dir->DeleteEntry(FindOrFail(*dir, args[i], archive));
    dir->SaveToFile(archive);
}

void DescribeDir(const std::string& path, std::FILE* out) {
    auto dir = TDirFile::Create(path, false);
    uint64_t data = 0;
    uint32_t images = 0, sprites = 0;
    for (const FileInfo& info : dir->Files) {
        data += info.Size;
        const std::string kind = FileKind(info.Name);
        if (kind == ".IMG") ++images;
        else if (kind == ".SPR") ++sprites;
    }
    WriteLine(out, "Directory archive: " + path);
    std::fprintf(out, "File size: %lld bytes\n", static_cast<long long>(FileLength(path)));
    std::fprintf(out, "Entries: %u (%u .IMG, %u .SPR, %u other)\n", dir->Count(), images, sprites,
                 dir->Count() - images - sprites);
    std::fprintf(out, "Data: %llu bytes\n", static_cast<unsigned long long>(data));
    // Each entry with what it is, as the editor's list tells it.
    for (int32_t i = 0; i < static_cast<int32_t>(dir->Count()); ++i) {
        const FileInfo& info = dir->Files[static_cast<size_t>(i)];
        std::fprintf(out, "%10u  ", info.Size);
        WriteLine(out, info.Name + ": " + DescribeEntry(info.Name, *dir->EntryStream(i)));
    }
}

} // namespace

void RegisterArchiveCommands(CliRegistry& registry) {
    registry.AddCommand({"list", "ARCHIVE",
                         "every entry name, one per line (bytes as stored),\n"
                         "in entry order",
                         10, 1, 1, List});
    registry.AddCommand({"extract", "ARCHIVE FOLDER [NAME...]",
                         "writes the named entries (all when no NAME) into FOLDER,\n"
                         "created if missing; \"\\\" and \"/\" in names make subfolders",
                         30, 2, SIZE_MAX, Extract});
    registry.AddCommand({"add", "ARCHIVE FILE...",
                         "adds each file as the entry named after its name part\n"
                         "(replacing the first entry of exactly that name, else\n"
                         "appending), in order, then saves; a missing ARCHIVE\n"
                         "is created",
                         40, 2, SIZE_MAX, Add});
    registry.AddCommand({"delete", "ARCHIVE NAME...",
                         "deletes the first entry of each NAME in turn, then saves;\n"
                         "a NAME that is not in the archive is an error and\n"
                         "nothing is saved",
                         50, 2, SIZE_MAX, Delete});
    registry.AddInfo(".DIR", DescribeDir);
}

} // namespace pelfry::cli
