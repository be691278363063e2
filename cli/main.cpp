// pelfry-cli: the archive and conversion jobs of the editor, from a shell.
#include "cli/Cli.h"
#include "platform/Process.h"
#include "platform/ReplacingFile.h"

int main(int argc, char** argv) {
    // Ctrl-C or a kill during a save must not leave a temporary file beside the archive.
    pelfry::InstallTempFileCleanup();
    // Names are UTF-8 and listings go out byte for byte, on every system.
    pelfry::UseBinaryStandardStreams();
    pelfry::ProgramArguments args(argc, argv);
    pelfry::cli::CliRegistry registry;
    pelfry::cli::RegisterArchiveCommands(registry);
    pelfry::cli::RegisterConvertCommands(registry);
    pelfry::cli::RegisterLogCommands(registry);
    pelfry::cli::RegisterInfoCommand(registry); // last: it describes every kind added above
    return pelfry::cli::RunCli(registry, args.Count(), args.Values());
}
