// The whole-archive round trip: export (every entry out, converted, with a log) and rebuild
// (every log line back in, rebuilding what was edited, in the log's order).
#include "cli/Cli.h"
#include "cli/Messages.h"

#include "app/LogRoundTrip.h"
#include "app/Toolkit.h"
#include "archive/DirFileU.h"
#include "base/Errors.h"
#include "base/Parallel.h"
#include "base/Text.h"
#include "platform/Durability.h"
#include "platform/FileLock.h"
#include "platform/FileUtil.h"

namespace pelfry::cli {

namespace {

struct ExportArgs {
    std::string archive;
    std::string folder;
    PictureFormat format = PictureFormat::Bmp;
    bool quiet = false;
    unsigned jobs = 1;
};

void Export(const ExportArgs& args) {
    std::unique_ptr<TDirFile> archive;
    ForFile(args.archive, [&] { archive = TDirFile::Create(args.archive, true); });
    std::vector<std::string> names;
    archive->ListEntries(names);
    // Before anything is written.
    CheckLogNames(names);
    const std::string folder = IncludeTrailingSeparator(args.folder);
    std::vector<int32_t> all(names.size());
    for (size_t i = 0; i < all.size(); ++i)
        all[i] = static_cast<int32_t>(i);
    CheckDistinctFiles(*archive, all, folder, args.format,
                       ExtractFileName(LogFileName(folder, args.archive)));
    if (!ForceDirectories(folder)) throw Error("Unable to create directory " + args.folder);
    {
        Progress progress(names.size(), args.quiet, Progress::Plain::LinePerFile);
        // The new files reach the disk all at once, before the log that stands for them.
        DurabilityScope durable;
        // The pictures are made on every core ahead of this loop, which writes in order.
        OrderedWork<std::vector<MadeFile>> work(names.size(), args.jobs, [&](size_t i) {
            return MakeExportedFiles(*archive, folder, static_cast<int32_t>(i), args.format);
        });
        for (size_t i = 0; i < names.size(); ++i) {
            progress.Show(i + 1, names[i]);
            ForFile(
                folder + names[i],
                [&] {
                    ExportEntry(*archive, folder, static_cast<int32_t>(i),
                                [&] { return work.Take(i); });
                },
                names[i]);
        }
        durable.Commit();
    }
    // The log is written last, so it exists only for a complete export.
    const std::string log = LogFileName(folder, args.archive);
    WriteTextLines(log, names);
    if (!args.quiet)
        WriteLine(stdout, Format("Extracted and converted %zu file(s); wrote log to %s",
                                 names.size(), log.c_str()));
}

struct RebuildArgs {
    std::string log;
    std::string archive;
    ConvertOptions options;
    bool recreate = false;
    bool quiet = false;
    unsigned jobs = 1;
};

void Rebuild(const RebuildArgs& args) {
    std::vector<std::string> lines;
    ForFile(args.log, [&] { lines = SplitTextLines(ReadWholeFile(args.log)); });
    const std::string folder = ExtractFilePath(args.log);
    // Other writers of ARCHIVE wait until the rebuilt archive is in place.
    std::unique_ptr<FileLock> lock;
    ForFile(args.archive, [&] {
        lock = std::make_unique<FileLock>(args.archive, true,
                                          TellWhenWaiting(args.archive, args.quiet));
    });
    TDirFile archive;
    int converted = 0;
    {
        Progress progress(lines.size(), args.quiet, Progress::Plain::LinePerFile);
        // The game files made anew reach the disk all at once, before the archive that holds
        // them is saved (with a flush of its own).
        DurabilityScope durable;
        ConvertOptions options = args.options;
        options.Warn = progress.Warner();
        // Edited pictures are converted on every core ahead of this loop, which writes the
        // game files and adds the entries in the log's order.
        std::vector<std::string> targets;
        for (const std::string& line : lines)
            targets.push_back(RebuildTarget(folder, line));
        const std::vector<bool> waits = BackConversionsThatWait(targets);
        OrderedWork<BackConversion> work(
            lines.size(), args.jobs,
            [&](size_t k) { return PrepareRebuildEntry(folder, lines[k], args.recreate, options); },
            [&](size_t k) { return waits[k]; });
        for (size_t k = 0; k < lines.size(); ++k) {
            progress.Show(k + 1, folder + lines[k]);
            ForFile(
                folder + lines[k],
                [&] {
                    if (RebuildEntry(archive, folder, lines[k], options,
                                     [&] { return work.Take(k); }))
                        ++converted;
                },
                lines[k]);
        }
        durable.Commit();
    }
    // Only a complete rebuild is written: after an error the old archive stays as it was.
    ForFile(args.archive, [&] {
        archive.SaveToFile(args.archive, [&](const std::string& warning) {
            if (!args.quiet) PrintWarning(warning);
        });
    });
    if (!args.quiet)
        WriteLine(stdout, Format("Read log from %s; converted %d of %zu file(s) added; wrote %s",
                                 args.log.c_str(), converted, lines.size(), args.archive.c_str()));
}

} // namespace

void AddExportCommand(CommandLine& cli) {
    auto args = std::make_shared<ExportArgs>();
    CLI::App& command = cli.AddCommand(
        "export", "every entry of an archive into a folder, converted, with a log",
        "Writes every entry of ARCHIVE into FOLDER (created if missing), images and sprites "
        "converted to pictures as by convert, and then the log FOLDER/<archive file name>.txt "
        "that rebuild reads: the entry names in order.",
        [args] { Export(*args); });
    command.add_option("ARCHIVE", args->archive, "the archive (.DIR file)")->required();
    command.add_option("FOLDER", args->folder, "the folder to write into")
        ->required()
        ->check(NotEmpty());
    AddPictureFormatOption(command, args->format);
    AddJobsOption(command, args->jobs);
    AddQuietOption(command, args->quiet);
}

void AddRebuildCommand(CommandLine& cli) {
    auto args = std::make_shared<RebuildArgs>();
    CLI::App& command = cli.AddCommand(
        "rebuild", "an archive from an exported folder, with what was edited there",
        "Rebuilds the images and sprites beside LOG whose pictures were edited (all with "
        "--recreate-all; of X.bmp and X.png the later one), as convert-back does, then writes "
        "ARCHIVE with the log's entries in the log's order. ARCHIVE is written only when every "
        "line was processed.",
        [args] { Rebuild(*args); });
    command.add_option("LOG", args->log, "the log written by export (X.DIR.txt)")->required();
    command.add_option("ARCHIVE", args->archive, "the archive (.DIR file) to write")->required();
    AddConvertOptions(command, args->options, args->recreate);
    AddJobsOption(command, args->jobs);
    AddQuietOption(command, args->quiet);
}

} // namespace pelfry::cli
