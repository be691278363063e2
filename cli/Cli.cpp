#include "cli/Cli.h"

#include "archive/DirFileU.h"
#include "platform/Errors.h"

#include <algorithm>
#include <new>

namespace pelfry::cli {

namespace {

// Where descriptions start in the help text; a longer synopsis puts its description on the
// next line.
constexpr size_t DescriptionColumn = 40;

void AppendUsageLine(std::string& text, const std::string& synopsis, const std::string& description) {
    std::string line = "  " + synopsis;
    size_t start = 0;
    bool first = true;
    do {
        size_t end = description.find('\n', start);
        if (end == std::string::npos) end = description.size();
        std::string part = description.substr(start, end - start);
        if (!first || line.size() + 1 > DescriptionColumn) {
            text += line + "\n";
            line.clear();
        }
        if (!part.empty()) {
            line.resize(DescriptionColumn, ' ');
            line += part;
        }
        first = false;
        start = end + 1;
    } while (start <= description.size());
    if (!line.empty()) text += line + "\n";
}

} // namespace

void CliRegistry::AddCommand(CliCommand command) {
    commands_.push_back(std::move(command));
    std::stable_sort(commands_.begin(), commands_.end(),
                     [](const CliCommand& a, const CliCommand& b) { return a.Order < b.Order; });
}

void CliRegistry::AddInfo(const std::string& kind, InfoFunction describe) {
    infos_.emplace_back(kind, std::move(describe));
}

const CliCommand* CliRegistry::FindCommand(std::string_view name) const {
    for (const CliCommand& command : commands_)
        if (command.Name == name) return &command;
    return nullptr;
}

const InfoFunction* CliRegistry::FindInfo(std::string_view kind) const {
    for (const auto& [k, describe] : infos_)
        if (k == kind) return &describe;
    return nullptr;
}

std::vector<std::string> CliRegistry::InfoKinds() const {
    std::vector<std::string> kinds;
    for (const auto& entry : infos_) kinds.push_back(entry.first);
    return kinds;
}

std::string CliRegistry::UsageText() const {
    std::string text = "Usage:\n";
    for (const CliCommand& command : commands_)
        AppendUsageLine(text, "pelfry-cli " + command.Name + " " + command.Synopsis, command.Description);
    AppendUsageLine(text, "pelfry-cli --help", "this text");
    text += "\nExit status: 0 on success; 1 on an error, its message on standard error;\n"
            "2 on a usage error, with this text. Entry names are bytes, written and\n"
            "compared exactly as stored (case-sensitive).\n";
    return text;
}

void WriteLine(std::FILE* out, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), out);
    std::fputc('\n', out);
}

std::string JoinWithOr(const std::vector<std::string>& items) {
    std::string text;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) text += i + 1 == items.size() ? " or " : ", ";
        text += items[i];
    }
    return text;
}

int RunCli(const CliRegistry& registry, int argc, char** argv) {
    const std::string usage = registry.UsageText();
    try {
        if (argc < 2) throw UsageError("no command given");
        const std::string word = argv[1];
        if (word == "--help" || word == "-h") {
            if (argc > 2) throw UsageError("--help takes no arguments");
            std::fputs(usage.c_str(), stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        const CliCommand* command = registry.FindCommand(word);
        if (!command) throw UsageError("unknown command '" + word + "'");
        Args args(argv + 2, argv + argc);
        if (args.size() < command->MinArgs || args.size() > command->MaxArgs)
            throw UsageError("wrong number of arguments for '" + word + "'");
        command->Run(args);
        if (std::fflush(stdout) != 0 || std::ferror(stdout))
            throw Error("Cannot write to standard output");
        return 0;
    } catch (const UsageError& e) {
        std::fprintf(stderr, "pelfry-cli: %s\n\n%s", e.what(), usage.c_str());
        return 2;
    } catch (const std::bad_alloc&) {
        std::fputs("Out of memory\n", stderr);
        return 1;
    } catch (const InvalidDirFileError& e) {
        WriteLine(stderr, std::string(e.what()) + " (" + e.Reason() + ")");
        return 1;
    } catch (const std::exception& e) {
        WriteLine(stderr, e.what());
        return 1;
    }
}

} // namespace pelfry::cli
