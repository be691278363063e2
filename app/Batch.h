// The batch commands, written once for the window and for pelfry-cli: extract (and convert),
// export with a log, add (edited pictures converted back first), rebuild from a log, and convert
// and convert back files.
//
// Each command walks its files in order on the caller's thread, which alone writes the files,
// changes the archive and reports; reading, decoding and encoding run ahead on a pool of Jobs
// threads (OrderedWork), so that with any number of threads the files, the messages and the
// first error are those of one thread, and nothing is written past that error. The files made
// where none stood reach the disk all at once at the end (DurabilityScope); one that replaces
// another is still flushed before it takes the other's place. A front end follows the walk
// through a BatchFollower: its progress, its Cancel, read between two files, the errors of each
// file, its warnings, and the settings of the back conversions.
#pragma once

#include "app/Convert.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pelfry {

class TDirFile;

// What back conversions are asked for: the window's check boxes, pelfry-cli's options.
struct BackSettings {
    bool Recreate = false;  // every image and sprite rebuilt, edited or not
    ConvertOptions Options; // its Warn is not used: warnings go to BatchFollower::Warn
};

// How a front end follows a batch command. Called on the command's thread only.
class BatchFollower {
public:
    virtual ~BatchFollower() = default;
    // Whether the user asked the command to stop; asked before each file, so that the file
    // under way is always finished.
    virtual bool Cancelled() { return false; }
    // Before file `number` (from 1) of `total`; `shown` names it in the progress message.
    virtual void Begin(int number, int total, const std::string& shown) = 0;
    // Runs `work`, all that is done for the file begun last; a front end may wrap what it
    // raises (pelfry-cli names the file).
    virtual void Work(const std::function<void()>& work) { work(); }
    // After that file is done.
    virtual void End(int /*number*/) {}
    // What a back conversion noticed but did not stop for.
    virtual void Warn(const std::string& /*text*/) {}
    // The settings of the back conversions, read before each file they concern.
    virtual BackSettings Settings() { return {}; }
};

// How far a command got.
struct BatchResult {
    int Total = 0;
    int Done = 0;         // files done
    bool Stopped = false; // Cancel stopped the command before file Done + 1
    int Converted = 0;    // game files rebuilt (rebuild, convert back)
};

// Where a command that writes into a folder writes.
struct FolderJob {
    std::string Folder; // ends in a separator
    // When not empty, Folder is made first with the folders above it, refused with "Unable to
    // create directory " and this (the folder as the user named it), the system's reason with
    // it (FolderCreateError), when it cannot be; and taken away again when the command is
    // refused before it writes anything.
    std::string MakeFolder;
    unsigned Jobs = 1; // threads that prepare the files
};

// Writes the entries `Entries` (indexes) of the archive into the folder, shown by their names.
// With Convert (extract and convert), each image and sprite is converted to pictures in that
// format and its game file removed. Entries that would write one file are refused before
// anything is written (CheckDistinctFiles).
struct ExtractJob : FolderJob {
    std::vector<int32_t> Entries;
    std::optional<PictureFormat> Convert;
};
BatchResult Extract(TDirFile& archive, const ExtractJob& job, BatchFollower& follower);

// Writes every entry into the folder with its pictures beside it (the game files stay, for the
// rebuild to compare with), then the log `Log` holding `LogLines` (the entries' names, as the
// window's list shows them), only when every entry was written. Names the log cannot hold, and
// entries that would write one file or the log, are refused before anything is written.
struct ExportJob : FolderJob {
    PictureFormat Format = PictureFormat::Bmp;
    std::string Log;
    std::vector<std::string> LogLines;
};
BatchResult Export(TDirFile& archive, const ExportJob& job, BatchFollower& follower);

// Adds each file as the entry of its name part (or of Names[i] when given), replacing the first
// entry of that name. With ConvertBack, an edited picture or description is converted back first
// and the game file added in its place, then removed from the disk.
struct AddJob {
    std::vector<std::string> Files;
    std::vector<std::string> Names; // empty, or one for each file
    bool ConvertBack = false;
    unsigned Jobs = 1;
};
BatchResult AddFiles(TDirFile& archive, const AddJob& job, BatchFollower& follower);

// Takes every line `lines` of the log `log` back into `archive` from the log's folder, in order
// (RebuildEntry): the images and sprites rebuilt when edited; Converted counts them. A line that
// names no entry the archive can hold is refused with its number (CheckLogLine).
BatchResult Rebuild(TDirFile& archive, const std::string& log,
                    const std::vector<std::string>& lines, unsigned jobs, BatchFollower& follower);

// Converts each file forward (ConvertFile); `told` hears each file's result as it is done.
// A file that is not there is an error, not one of no convertible kind.
BatchResult ConvertFiles(const std::vector<std::string>& files, PictureFormat format, unsigned jobs,
                         BatchFollower& follower,
                         const std::function<void(size_t index, const std::string& result)>& told);
// Makes the GIF of each file (MakeGifFiles, stamped as ConvertFile stamps), as ConvertFiles.
BatchResult
ConvertFilesToGif(const std::vector<std::string>& files, unsigned jobs, BatchFollower& follower,
                  const std::function<void(size_t index, const std::string& result)>& told);
// Converts each edited file back (ConvertBack); `told` hears each file's result and whether its
// game file was rebuilt. A file that is not there is an error.
BatchResult ConvertBackFiles(
    const std::vector<std::string>& files, unsigned jobs, BatchFollower& follower,
    const std::function<void(size_t index, const std::string& result, bool converted)>& told);

} // namespace pelfry
