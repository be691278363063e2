// pelfry-cli: the archive and conversion jobs of the editor, from a shell.
#include "cli/Cli.h"

int main(int argc, char** argv) {
    pelfry::cli::CliRegistry registry;
    pelfry::cli::RegisterArchiveCommands(registry);
    // Register further command files here.
    pelfry::cli::RegisterInfoCommand(registry); // last: it describes every kind added above
    return pelfry::cli::RunCli(registry, argc, argv);
}
