// info FILE: a short summary of a file, chosen by its kind (the last four characters of the
// name, upper-cased). The summaries come from the files of the archive and conversion commands.
#include "cli/Cli.h"
#include "cli/Messages.h"

#include "base/Errors.h"
#include "base/Text.h"

namespace pelfry::cli {

namespace {

using InfoFunction = void (*)(const std::string& path, std::FILE* out, bool quiet);

const std::vector<std::pair<std::string, InfoFunction>>& Kinds() {
    static const std::vector<std::pair<std::string, InfoFunction>> kinds = {
        {".DIR", DescribeDir}, {".IMG", DescribeImg}, {".SPR", DescribeSpr}};
    return kinds;
}

std::vector<std::string> KindNames() {
    std::vector<std::string> names;
    for (const auto& kind : Kinds())
        names.push_back(kind.first);
    return names;
}

struct InfoArgs {
    std::string file;
    bool quiet = false;
};

void Info(const InfoArgs& args) {
    const std::string& file = args.file;
    for (const auto& entry : Kinds())
        if (entry.first == FileKind(file))
            return ForFile(file, [&] { entry.second(file, stdout, args.quiet); });
    throw Error("Cannot describe file " + file + ": not a " + JoinWithOr(KindNames()) + " file");
}

} // namespace

void AddInfoCommand(CommandLine& cli) {
    auto args = std::make_shared<InfoArgs>();
    const std::string kinds = JoinWithOr(KindNames());
    CLI::App& command = cli.AddCommand(
        "info", "a short summary of a " + kinds + " file",
        "Prints a short summary of FILE, a " + kinds +
            " file told by its extension (in any case): sizes, colours, frames, and for an "
            "archive each entry with what it is, as the editor's list tells it.",
        [args] { Info(*args); });
    command.add_option("FILE", args->file, "the file to describe")->required();
    command.add_flag("-q,--quiet", args->quiet,
                     "no warnings (such as an image cut short): the summary alone");
}

} // namespace pelfry::cli
