// The whole-archive round trip: export (every entry out, converted, with a log) and rebuild
// (every log line back in, rebuilding what was edited, in the log's order).
#include "cli/Cli.h"
#include "cli/Messages.h"

#include "app/Batch.h"
#include "app/LogRoundTrip.h"
#include "archive/DirFileU.h"
#include "base/Errors.h"
#include "base/Text.h"
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
    // The records now, each entry when its turn comes: the memory of a few entries, not of the
    // archive.
    ForFile(args.archive, [&] { archive = TDirFile::Create(args.archive, false); });
    ExportJob job;
    archive->ListEntries(job.LogLines);
    job.Folder = IncludeTrailingSeparator(args.folder);
    job.MakeFolder = args.folder;
    job.Format = args.format;
    job.Log = LogFileName(job.Folder, args.archive);
    job.Jobs = args.jobs;
    {
        Progress progress(job.LogLines.size(), args.quiet, Progress::Plain::LinePerFile);
        CommandFollower follower(progress, [&](size_t i) {
            return std::pair(job.Folder + job.LogLines[i], job.LogLines[i]);
        });
        pelfry::Export(*archive, job, follower);
    }
    if (!args.quiet)
        WriteLine(stdout, Format("Extracted and converted %zu file(s); wrote log to %s",
                                 job.LogLines.size(), job.Log.c_str()));
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
        CommandFollower follower(progress,
                                 [&](size_t k) { return std::pair(folder + lines[k], lines[k]); },
                                 {args.recreate, args.options});
        converted = pelfry::Rebuild(archive, args.log, lines, args.jobs, follower).Converted;
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
        "that rebuild reads: the entry names in order. An entry that cannot be converted (a "
        "picture of more than 67,108,864 pixels among them) stops the export before any file of "
        "it is written, and no log is written.",
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
