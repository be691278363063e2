// info FILE: a short summary of a file, chosen by its kind (the last four characters of the
// name, upper-cased). The kinds come from the other command files (CliRegistry::AddInfo).
#include "cli/Cli.h"

#include "platform/Errors.h"
#include "platform/Text.h"

namespace pelfry::cli {

void RegisterInfoCommand(CliRegistry& registry) {
    const std::vector<std::string> kinds = registry.InfoKinds();
    std::string description = "a short summary of a " + JoinWithOr(kinds) + " file";
    if (kinds.size() == 1 && kinds[0] == ".DIR") description += " (entries, sizes)";
    registry.AddCommand({"info", "FILE", description, 20, 1, 1, [&registry, kinds](const Args& args) {
                             const InfoFunction* describe = registry.FindInfo(FileKind(args[0]));
                             if (!describe)
                                 throw Error("Cannot describe file " + args[0] + ": not a " +
                                             JoinWithOr(kinds) + " file");
                             (*describe)(args[0], stdout);
                         }});
}

} // namespace pelfry::cli
