// The archive commands: list, extract, add, delete, rename; and what `info` says about a .DIR
// file.
#include "cli/Cli.h"
#include "cli/Messages.h"

#include "app/Batch.h"
#include "app/EntryDetails.h"
#include "archive/DirFileU.h"
#include "base/Errors.h"
#include "base/Text.h"
#include "platform/FileLock.h"
#include "platform/FileStream.h"
#include "platform/FileUtil.h"

namespace pelfry::cli {

namespace {

int32_t FindOrFail(const TDirFile& dir, const std::string& name, const std::string& archive) {
    int32_t index = dir.FindEntry(name, 0);
    if (index < 0) throw Error("No entry named " + name + " in " + archive);
    return index;
}

std::unique_ptr<TDirFile> ReadArchive(const std::string& archive, bool loadAll) {
    std::unique_ptr<TDirFile> dir;
    ForFile(archive, [&] { dir = TDirFile::Create(archive, loadAll); });
    return dir;
}

struct ExtractArgs {
    std::string archive;
    std::string folder;
    std::vector<std::string> names;
    bool quiet = false;
};

void Extract(const ExtractArgs& args) {
    // The records now, each entry when its turn comes: the memory of one entry, not of the
    // archive.
    auto dir = ReadArchive(args.archive, false);
    std::vector<int32_t> indexes;
    if (args.names.empty()) {
        for (uint32_t i = 0; i < dir->Count(); ++i)
            indexes.push_back(static_cast<int32_t>(i));
    } else {
        // Every name is looked up before anything is written.
        for (const std::string& name : args.names)
            indexes.push_back(FindOrFail(*dir, name, args.archive));
    }
    ExtractJob job;
    job.Entries = std::move(indexes);
    job.Folder = IncludeTrailingSeparator(args.folder);
    job.MakeFolder = args.folder;
    Progress progress(job.Entries.size(), args.quiet, Progress::Plain::LinePerFile);
    CommandFollower follower(progress, [&](size_t i) {
        return std::pair(dir->Files()[static_cast<size_t>(job.Entries[i])].Name, std::string());
    });
    pelfry::Extract(*dir, job, follower);
}

struct AddArgs {
    std::string archive;
    std::vector<std::string> files;
    std::string name;
    CLI::Option* nameOption = nullptr;
    bool quiet = false;
};

// Read, change and save under the writers' lock: a second command on the same archive waits
// and then works on what this one saved. A missing archive is locked by its name and made only
// by the save. Every FILE is looked at first: a FIFO or a folder is refused at once, never
// waited on while the archive is locked. Only the records and the added files are read into
// memory: the save copies the other entries from the locked file, so that a large archive
// needs no more memory than a small one.
void Add(const AddArgs& args) {
    const bool named = args.nameOption->count() > 0;
    if (named && args.files.size() != 1) throw UsageError("--name takes exactly one FILE");
    for (const std::string& file : args.files)
        ForFile(file, [&] { FileStream probe(NativePath(file), FileStream::Mode::OpenRead); });
    std::unique_ptr<FileLock> lock;
    std::unique_ptr<TDirFile> dir = std::make_unique<TDirFile>();
    ForFile(args.archive, [&] {
        lock = std::make_unique<FileLock>(args.archive, true,
                                          TellWhenWaiting(args.archive, args.quiet));
        if (lock->File()) dir = TDirFile::CreateOnFile(*lock->File(), args.archive);
    });
    AddJob job;
    job.Files = args.files;
    for (const std::string& file : args.files)
        job.Names.push_back(named ? args.name : ExtractFileName(file));
    Progress silent(job.Files.size(), true, Progress::Plain::Silent);
    CommandFollower follower(silent,
                             [&](size_t i) { return std::pair(job.Files[i], job.Names[i]); });
    AddFiles(*dir, job, follower);
    ForFile(args.archive, [&] {
        dir->SaveToFile(args.archive,
                        args.quiet ? std::function<void(const std::string&)>() : PrintWarning);
    });
}

// An archive that exists, read under the writers' lock to be changed and saved: only its
// records, the save copying the entries' blocks from the locked file.
struct LockedArchive {
    explicit LockedArchive(const std::string& archive) : name(archive) {
        ForFile(archive, [&] {
            lock = std::make_unique<FileLock>(archive, false, TellWhenWaiting(archive, false));
            dir = TDirFile::CreateOnFile(*lock->File(), archive);
        });
    }
    void Save() {
        ForFile(name, [&] { dir->SaveToFile(name, PrintWarning); });
    }
    std::string name;
    std::unique_ptr<FileLock> lock;
    std::unique_ptr<TDirFile> dir;
};

void Delete(const std::string& archive, const std::vector<std::string>& names) {
    LockedArchive locked(archive);
    for (const std::string& name : names)
        locked.dir->DeleteEntry(FindOrFail(*locked.dir, name, archive));
    locked.Save();
}

void Rename(const std::string& archive, const std::string& oldName, const std::string& newName) {
    LockedArchive locked(archive);
    locked.dir->RenameEntry(FindOrFail(*locked.dir, oldName, archive), newName);
    // An entry that has the name already leaves the file as it is.
    if (locked.dir->Modified()) locked.Save();
}

// An entry name the format can carry, given on the command line.
CLI::Validator EntryName() {
    return CLI::Validator(
        [](const std::string& name) -> std::string {
            if (name.empty()) return "must not be empty";
            if (name.size() > MaxEntryNameLength) return "entry name longer than 30 bytes: " + name;
            return "";
        },
        "");
}

} // namespace

void DescribeDir(const std::string& path, std::FILE* out, bool) {
    auto dir = TDirFile::Create(path, false);
    uint64_t data = 0;
    uint32_t images = 0, sprites = 0;
    for (const FileInfo& info : dir->Files()) {
        data += info.Size;
        const std::string kind = FileKind(info.Name);
        if (kind == ".IMG")
            ++images;
        else if (kind == ".SPR")
            ++sprites;
    }
    WriteLine(out, "Directory archive: " + path);
    std::fprintf(out, "File size: %lld bytes\n", static_cast<long long>(FileLength(path)));
    std::fprintf(out, "Entries: %u (%u .IMG, %u .SPR, %u other)\n", dir->Count(), images, sprites,
                 dir->Count() - images - sprites);
    std::fprintf(out, "Data: %llu bytes\n", static_cast<unsigned long long>(data));
    // Each entry with what it is, as the editor's list tells it.
    for (int32_t i = 0; i < static_cast<int32_t>(dir->Count()); ++i) {
        const FileInfo& info = dir->Files()[static_cast<size_t>(i)];
        std::fprintf(out, "%10u  ", info.Size);
        // Read for its line alone: the archive is never held whole.
        TSetMemoryStream entry(dir->ReadEntry(i));
        WriteLine(out, info.Name + ": " + DescribeEntry(info.Name, entry));
    }
}

void AddListCommand(CommandLine& cli) {
    auto archive = std::make_shared<std::string>();
    CLI::App& command = cli.AddCommand("list", "every entry name of an archive, one per line",
                                       "Prints the name of every entry of ARCHIVE, one per line, "
                                       "byte for byte as stored, in entry order.",
                                       [archive] {
                                           const auto dir = ReadArchive(*archive, false);
                                           for (const FileInfo& info : dir->Files())
                                               WriteLine(stdout, info.Name);
                                       });
    command.add_option("ARCHIVE", *archive, "the archive (.DIR file)")->required();
}

void AddExtractCommand(CommandLine& cli) {
    auto args = std::make_shared<ExtractArgs>();
    CLI::App& command = cli.AddCommand(
        "extract", "write entries of an archive into a folder",
        "Writes the entries named NAME (every entry when no NAME is given) into FOLDER, which is "
        "created if missing; \"\\\" and \"/\" in entry names make subfolders. Every NAME is looked "
        "up before anything is written.",
        [args] { Extract(*args); });
    command.add_option("ARCHIVE", args->archive, "the archive (.DIR file)")->required();
    command.add_option("FOLDER", args->folder, "the folder to write into")
        ->required()
        ->check(NotEmpty());
    command.add_option("NAME", args->names, "entry names, exactly as stored (case-sensitive)");
    AddQuietOption(command, args->quiet);
}

void AddAddCommand(CommandLine& cli) {
    auto args = std::make_shared<AddArgs>();
    CLI::App& command = cli.AddCommand(
        "add", "add or replace entries from files, then save",
        "Adds each FILE as the entry named after its name part (what follows its last \"/\" or "
        "\"\\\"), in order: the first entry of exactly that name is replaced, else the file is "
        "appended. Then saves ARCHIVE, which is created if missing. Nothing is saved after an "
        "error.",
        [args] { Add(*args); });
    command.add_option("ARCHIVE", args->archive, "the archive (.DIR file)")->required();
    command.add_option("FILE", args->files, "the files to add")->required();
    args->nameOption = command
                           .add_option("--name", args->name,
                                       "store the one FILE under the entry name NAME, exactly as "
                                       "given (at most 30 bytes), such as UI\\ICON.IMG")
                           ->type_name("NAME")
                           ->check(EntryName());
    AddQuietOption(command, args->quiet);
}

void AddDeleteCommand(CommandLine& cli) {
    auto archive = std::make_shared<std::string>();
    auto names = std::make_shared<std::vector<std::string>>();
    CLI::App& command =
        cli.AddCommand("delete", "delete entries by name, then save",
                       "Deletes the first entry of each NAME in turn, then saves ARCHIVE. A "
                       "NAME that is not in the archive is an error, and nothing is saved.",
                       [archive, names] { Delete(*archive, *names); });
    command.add_option("ARCHIVE", *archive, "the archive (.DIR file)")->required();
    command.add_option("NAME", *names, "entry names, exactly as stored (case-sensitive)")
        ->required();
}

void AddRenameCommand(CommandLine& cli) {
    struct Args {
        std::string archive, oldName, newName;
    };
    auto args = std::make_shared<Args>();
    CLI::App& command = cli.AddCommand(
        "rename", "rename an entry in place, then save",
        "Gives the first entry named OLD the name NEW, keeping its place in the archive and its "
        "bytes, then saves ARCHIVE. NEW is refused, and nothing is saved, when another entry has "
        "it, when it is empty or longer than 30 bytes, or when no file could be made of it "
        "(absolute, with a drive or a \"..\" part); so is an OLD that is not in the archive.",
        [args] { Rename(args->archive, args->oldName, args->newName); });
    command.add_option("ARCHIVE", args->archive, "the archive (.DIR file)")->required();
    command
        .add_option("OLD", args->oldName, "the entry's name, exactly as stored (case-sensitive)")
        ->required();
    command.add_option("NEW", args->newName, "its new name, stored exactly as given")->required();
}

} // namespace pelfry::cli
