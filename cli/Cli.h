// The command table of pelfry-cli. Each source file of commands has one registration
// function that adds its commands (and, for `info`, the kinds of file it can describe) to the
// registry; main.cpp calls them in turn. Commands raise pelfry::Error for failures (exit
// status 1, the message on standard error) and UsageError for a command line they cannot use
// (exit status 2, the usage text on standard error).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace pelfry {
struct ConvertOptions;
enum class PictureFormat;
}

namespace pelfry::cli {

// A command line that does not fit: exit status 2 and the usage text.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using Args = std::vector<std::string>;

struct CliCommand {
    std::string Name;        // the word after "pelfry-cli"
    std::string Synopsis;    // its arguments as the help shows them, e.g. "ARCHIVE FOLDER [NAME...]"
    std::string Description; // one or more lines, "\n" between them
    int Order = 0;           // place in the help text, lowest first
    size_t MinArgs = 0;      // argument counts (after the command word) that the runner accepts
    size_t MaxArgs = std::numeric_limits<size_t>::max();
    std::function<void(const Args&)> Run; // the arguments after the command word
};

// Prints a summary of the file `path` (of one kind) to `out`.
using InfoFunction = std::function<void(const std::string& path, std::FILE* out)>;

class CliRegistry {
public:
    void AddCommand(CliCommand command);
    // What `info` prints for files of `kind`: FileKind of the name, such as ".DIR".
    void AddInfo(const std::string& kind, InfoFunction describe);

    const CliCommand* FindCommand(std::string_view name) const;
    const InfoFunction* FindInfo(std::string_view kind) const;
    // The kinds `info` knows, in the order they were added.
    std::vector<std::string> InfoKinds() const;
    // The whole --help text.
    std::string UsageText() const;

private:
    std::vector<CliCommand> commands_;
    std::vector<std::pair<std::string, InfoFunction>> infos_;
};

// list, extract, add, delete, and the .DIR summary for `info`.
void RegisterArchiveCommands(CliRegistry& registry);
// convert, convert-back, and the .IMG and .SPR summaries for `info`.
void RegisterConvertCommands(CliRegistry& registry);
// export and rebuild: the whole-archive round trip through a conversion log.
void RegisterLogCommands(CliRegistry& registry);
// info: describes a file by its kind. Register it last, after every kind it should know.
void RegisterInfoCommand(CliRegistry& registry);

// Runs one command line; returns the exit status (0, 1 or 2).
int RunCli(const CliRegistry& registry, int argc, char** argv);

// Takes the editor's check-box options (--no-compress-img, --no-compress-spr, --no-opaque,
// --recreate-all) out of `args` and returns the other arguments; UsageError for an unknown
// option. The conversion's warnings go to standard error.
Args ParseConvertOptions(const Args& args, ConvertOptions& options, bool& recreate);

// Takes --png out of `args` (pictures are then written as PNG, else as .bmp) and returns the
// other arguments.
Args ParsePictureFormat(const Args& args, PictureFormat& format);

// Writes `text` byte for byte and a line feed. Entry names go out exactly as stored.
void WriteLine(std::FILE* out, std::string_view text);

// "a, b or c": kinds and names in messages and help lines.
std::string JoinWithOr(const std::vector<std::string>& items);

} // namespace pelfry::cli
