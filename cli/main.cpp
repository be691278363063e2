// pelfry-cli: the archive and conversion jobs of the editor, from a shell.
#include "cli/Cli.h"

int main(int argc, char** argv) {
    pelfry::cli::CliRegistry registry;
    pelfry::cli::RegisterArchiveCommands(registry);
    pelfry::cli::RegisterConvertCommands(registry);
    pelfry::cli::RegisterLogCommands(registry);
    pelfry::cli::RegisterInfoCommand(registry); // last: it describes every kind added above
    return pelfry::cli::RunCli(registry, argc, argv);
}
