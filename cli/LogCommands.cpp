// The whole-archive round trip: export (every entry out, converted, with a log) and rebuild
// (every log line back in, rebuilding what was edited, in the log's order).
#include "cli/Cli.h"

#include "app/LogRoundTrip.h"
#include "app/Toolkit.h"
#include "archive/DirFileU.h"
#include "platform/Errors.h"
#include "platform/FileLock.h"
#include "platform/FileUtil.h"
#include "platform/Text.h"

#include <unistd.h>

namespace pelfry::cli {

namespace {

// Progress goes to standard error, on one line rewritten in place when that is a terminal.
class Progress {
public:
    explicit Progress(int total) : total_(total), terminal_(::isatty(STDERR_FILENO) == 1) {}
    ~Progress() {
        if (terminal_ && shown_) std::fputc('\n', stderr);
    }
    void Show(int number, const std::string& file) {
        shown_ = true;
        if (terminal_) std::fprintf(stderr, "\r\033[KProcessing file %d of %d: ", number, total_);
        else std::fprintf(stderr, "Processing file %d of %d: ", number, total_);
        std::fwrite(file.data(), 1, file.size(), stderr);
        if (!terminal_) std::fputc('\n', stderr);
        std::fflush(stderr);
    }

private:
    int total_;
    bool terminal_;
    bool shown_ = false;
};

void Export(const Args& all) {
    PictureFormat format;
    const Args args = ParsePictureFormat(all, format);
    if (args.size() != 2) throw UsageError("export needs ARCHIVE and FOLDER");
    const std::string& archiveName = args[0];
    // An empty FOLDER would become "/", the root folder.
    if (args[1].empty()) throw UsageError("FOLDER must not be empty");
    auto archive = TDirFile::Create(archiveName, true);
    std::vector<std::string> names;
    archive->ListEntries(names);
    CheckLogNames(names); // before anything is written
    const std::string folder = IncludeTrailingSeparator(args[1]);
    if (!ForceDirectories(folder)) throw Error("Unable to create directory " + args[1]);
    {
        Progress progress(static_cast<int>(names.size()));
        for (size_t i = 0; i < names.size(); ++i) {
            progress.Show(static_cast<int>(i + 1), names[i]);
            ExportEntry(*archive, folder, static_cast<int32_t>(i), format);
        }
    }
    // The log is written last, so it exists only for a complete export.
    const std::string log = LogFileName(folder, archiveName);
    WriteTextLines(log, names);
    WriteLine(stdout, Format("Extracted and converted %zu file(s); wrote log to %s", names.size(), log.c_str()));
}

void Rebuild(const Args& args) {
    ConvertOptions options;
    bool recreate = false;
    const Args rest = ParseConvertOptions(args, options, recreate);
    if (rest.size() != 2) throw UsageError("rebuild needs LOG and ARCHIVE");
    const std::string& logName = rest[0];
    const std::string& archiveName = rest[1];

    const std::vector<std::string> lines = SplitTextLines(ReadWholeFile(logName));
    const std::string folder = ExtractFilePath(logName);
    // Other writers of ARCHIVE wait until the rebuilt archive is in place.
    FileLock lock(archiveName, true);
    TDirFile archive;
    int converted = 0;
    {
        Progress progress(static_cast<int>(lines.size()));
        for (size_t k = 0; k < lines.size(); ++k) {
            progress.Show(static_cast<int>(k + 1), folder + lines[k]);
            if (RebuildEntry(archive, folder, lines[k], recreate, options)) ++converted;
        }
    }
    // Only a complete rebuild is written: after an error the old archive stays as it was.
    archive.SaveToFile(archiveName);
    WriteLine(stdout, Format("Read log from %s; converted %d of %zu file(s) added; wrote %s",
                             logName.c_str(), converted, lines.size(), archiveName.c_str()));
}

} // namespace

void RegisterLogCommands(CliRegistry& registry) {
    registry.AddCommand({"export", "[--png] ARCHIVE FOLDER",
                         "every entry into FOLDER (created if missing), images and\n"
                         "sprites converted (to .png with --png), the log\n"
                         "FOLDER/<archive file name>.txt written",
                         80, 2, 3, Export});
    registry.AddCommand({"rebuild", "[OPTIONS] LOG ARCHIVE",
                         "rebuilds what was edited beside LOG (all with --recreate-all;\n"
                         "of X.bmp and X.png the later one), then writes ARCHIVE\n"
                         "with the log's entries in the log's order;\n"
                         "ARCHIVE is written only when every line was processed\n"
                         "OPTIONS: as for convert-back",
                         90, 2, SIZE_MAX, Rebuild});
}

} // namespace pelfry::cli
