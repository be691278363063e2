#include "cli/Cli.h"

#include "app/Convert.h"
#include "base/Errors.h"
#include "base/Parallel.h"
#include "cli/Messages.h"

#include <new>

namespace pelfry::cli {

CommandLine::CommandLine()
    : app_("The archive and conversion jobs of the Pelfry editor, from a shell.", "pelfry-cli") {
    app_.formatter(MakeHelpFormatter());
    app_.set_help_flag("-h,--help", "print this help; after a command, that command's help");
    app_.set_version_flag("--version", "pelfry-cli " PELFRY_VERSION, "print the program's version");
    app_.require_subcommand(0, 1);
    app_.footer("Exit status: 0 on success; 1 on an error, its message on standard error; 2 on a "
                "usage error. Entry names are bytes, written and compared exactly as stored "
                "(case-sensitive).\n"
                "Run 'pelfry-cli COMMAND --help' for the operands and options of a command.");
}

CLI::App& CommandLine::AddCommand(const std::string& name, const std::string& summary,
                                  const std::string& details, std::function<void()> run) {
    CLI::App* command = app_.add_subcommand(name, summary);
    command->footer(details);
    command->set_help_flag("-h,--help", "print this help");
    runs_.emplace_back(command, std::move(run));
    return *command;
}

const CLI::App* CommandLine::ChosenCommand() const {
    const std::vector<CLI::App*> chosen = app_.get_subcommands();
    return chosen.empty() ? nullptr : chosen.front();
}

int CommandLine::UsageFailure(const std::string& reason, const CLI::App* command) const {
    const std::string help =
        command ? "pelfry-cli " + command->get_name() + " --help" : "pelfry-cli --help";
    std::fprintf(stderr, "pelfry-cli: %s\nRun '%s' for more information.\n", reason.c_str(),
                 help.c_str());
    return 2;
}

int CommandLine::Run(int argc, char** argv) {
    const CLI::App* command = nullptr;
    try {
        try {
            app_.parse(argc, argv);
            command = ChosenCommand();
        } catch (const CLI::ParseError& e) {
            command = ChosenCommand(); // as far as the parser got
            if (dynamic_cast<const CLI::CallForHelp*>(&e)) {
                std::fputs((command ? command : &app_)->help().c_str(), stdout);
            } else if (dynamic_cast<const CLI::CallForVersion*>(&e)) {
                WriteLine(stdout, e.what());
            } else if (!command && argc > 1 && argv[1][0] != '-') {
                return UsageFailure("unknown command '" + std::string(argv[1]) + "'", nullptr);
            } else {
                return UsageFailure(e.what(), command);
            }
            if (std::fflush(stdout) != 0 || std::ferror(stdout))
                throw Error("Cannot write to standard output");
            return 0;
        }
        if (!command) {
            if (argc > 1)
                return UsageFailure("unknown command '" + std::string(argv[1]) + "'", nullptr);
            return UsageFailure("no command given", nullptr);
        }
        for (const auto& [app, run] : runs_)
            if (app == command) run();
        if (std::fflush(stdout) != 0 || std::ferror(stdout))
            throw Error("Cannot write to standard output");
        return 0;
    } catch (const UsageError& e) {
        return UsageFailure(e.what(), command);
    } catch (const std::bad_alloc&) {
        std::fputs("pelfry-cli: Out of memory\n", stderr);
        return 1;
    } catch (const std::exception& e) {
        WriteLine(stderr, "pelfry-cli: " + ErrorText(e));
        return 1;
    }
}

void AddQuietOption(CLI::App& command, bool& quiet) {
    command.add_flag("-q,--quiet", quiet, "print errors only: no progress, results or warnings");
}

CLI::Option* AddPictureFormatOption(CLI::App& command, PictureFormat& format) {
    format = PictureFormat::Bmp;
    return command.add_flag_callback(
        "--png", [&format] { format = PictureFormat::Png; },
        "write pictures as PNG (X.IMG.png, X.SPR.png) instead of .bmp");
}

void AddConvertOptions(CLI::App& command, ConvertOptions& options, bool& recreate) {
    command.add_flag_callback(
        "--no-compress-img", [&options] { options.CompressImg = false; },
        "write images uncompressed");
    command.add_flag_callback(
        "--no-opaque", [&options] { options.OpaqueImg = false; },
        "keep the background of images transparent (by default it becomes "
        "opaque black)");
    command.add_flag_callback(
        "--no-compress-spr", [&options] { options.CompressSpr = false; },
        "write sprites uncompressed");
    command.add_flag("--recreate-all", recreate, "rebuild every game file, edited or not");
}

void AddJobsOption(CLI::App& command, unsigned& jobs) {
    jobs = DefaultJobs();
    command
        .add_option("-j,--jobs", jobs,
                    "convert N files at once (default: one per core); output and messages stay "
                    "as with one")
        ->type_name("N")
        ->check(CLI::Range(1u, 1024u).description(""));
}

CLI::Validator NotEmpty() {
    return CLI::Validator(
        [](const std::string& value) { return value.empty() ? "must not be empty" : ""; }, "");
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

} // namespace pelfry::cli
