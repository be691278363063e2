// pelfry-cli: the archive and conversion jobs of the editor, from a shell.
#include "cli/Cli.h"
#include "platform/Process.h"
#include "platform/ReplacingFile.h"

#include <cstdlib>

int main(int argc, char** argv) {
    // Ctrl-C or a kill during a save must not leave a temporary file beside the archive.
    pelfry::InstallTempFileCleanup();
    // For tools/kill-test.sh: the writer's path for file systems without nameless files.
    if (const char* named = std::getenv("PELFRY_NAMED_TEMP_FILES"); named && *named == '1')
        pelfry::UseNamedTempFiles(true);
    // Names are UTF-8 and listings go out byte for byte, on every system.
    pelfry::UseBinaryStandardStreams();
    pelfry::ProgramArguments args(argc, argv);
    pelfry::cli::CommandLine cli;
    // In the order of the help text.
    pelfry::cli::AddListCommand(cli);
    pelfry::cli::AddInfoCommand(cli);
    pelfry::cli::AddExtractCommand(cli);
    pelfry::cli::AddAddCommand(cli);
    pelfry::cli::AddDeleteCommand(cli);
    pelfry::cli::AddRenameCommand(cli);
    pelfry::cli::AddConvertCommand(cli);
    pelfry::cli::AddConvertBackCommand(cli);
    pelfry::cli::AddThumbnailCommand(cli);
    pelfry::cli::AddExportCommand(cli);
    pelfry::cli::AddRebuildCommand(cli);
    return cli.Run(args.Count(), args.Values());
}
