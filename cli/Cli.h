// The command line of pelfry-cli, parsed by CLI11. main.cpp adds the commands in the order the
// help lists them; each Add...Command function (in the file of its kind of work) declares the
// command's operands and options and what it runs. Commands raise pelfry::Error for failures
// (exit status 1, "pelfry-cli: MESSAGE" on standard error) and UsageError for a command line
// they cannot use (exit status 2, the reason and where to read more).
#pragma once

#include <CLI/CLI.hpp>

#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace pelfry {
struct ConvertOptions;
enum class PictureFormat;
} // namespace pelfry

namespace pelfry::cli {

// A command line that does not fit: exit status 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class CommandLine {
public:
    // The program with --help and --version, and no commands yet.
    CommandLine();

    // Adds the command `name`: `summary` is its line in the list of commands, `details` the
    // paragraph its own --help shows. `run` does the work once the command line is parsed;
    // the caller binds the operands and options to values that `run` reads.
    CLI::App& AddCommand(const std::string& name, const std::string& summary,
                         const std::string& details, std::function<void()> run);

    // Parses the command line and runs the command it names; returns the exit status (0, 1 or 2).
    // --help and --version print to standard output and run nothing.
    int Run(int argc, char** argv);

private:
    // The command the parser met; null before it met one.
    const CLI::App* ChosenCommand() const;
    // Writes "pelfry-cli: REASON" and where to read more (`command`'s help, else the program's
    // help) to standard error; returns 2.
    int UsageFailure(const std::string& reason, const CLI::App* command) const;

    CLI::App app_;
    std::vector<std::pair<const CLI::App*, std::function<void()>>> runs_;
};

// The help texts of the program and its commands, wrapped to 80 columns.
std::shared_ptr<CLI::FormatterBase> MakeHelpFormatter();

// The commands, in the order of the help text.
void AddListCommand(CommandLine& cli);
void AddInfoCommand(CommandLine& cli);
void AddExtractCommand(CommandLine& cli);
void AddAddCommand(CommandLine& cli);
void AddDeleteCommand(CommandLine& cli);
void AddRenameCommand(CommandLine& cli);
void AddConvertCommand(CommandLine& cli);
void AddConvertBackCommand(CommandLine& cli);
void AddThumbnailCommand(CommandLine& cli);
void AddExportCommand(CommandLine& cli);
void AddRebuildCommand(CommandLine& cli);

// Options shared by several commands.
// -q, --quiet: errors only, no progress, results or warnings.
void AddQuietOption(CLI::App& command, bool& quiet);
// --png: pictures written as PNG instead of .bmp.
CLI::Option* AddPictureFormatOption(CLI::App& command, PictureFormat& format);
// The window's check boxes: --no-compress-img, --no-opaque, --no-compress-spr, --recreate-all.
void AddConvertOptions(CLI::App& command, ConvertOptions& options, bool& recreate);
// -j, --jobs N: how many files to work on at once (by default as many as the system has
// cores); whatever N, the output, the messages and their order stay the same.
void AddJobsOption(CLI::App& command, unsigned& jobs);
// Refuses an empty operand (an unset shell variable), such as a FOLDER that would otherwise
// become the root folder.
CLI::Validator NotEmpty();

// Prints a summary of the file `path` (of one kind) to `out`: what `info` says; with `quiet`,
// without its warnings (an image cut short).
void DescribeDir(const std::string& path, std::FILE* out, bool quiet);
void DescribeImg(const std::string& path, std::FILE* out, bool quiet);
void DescribeSpr(const std::string& path, std::FILE* out, bool quiet);

// Writes `text` byte for byte and a line feed. Entry names go out exactly as stored.
void WriteLine(std::FILE* out, std::string_view text);

// "a, b or c": kinds and names in messages and help lines.
std::string JoinWithOr(const std::vector<std::string>& items);

} // namespace pelfry::cli
