// The help texts: usage line, description, commands or operands, options, footer; every line
// within 79 columns so that an 80-column terminal shows it unbroken. help2man reads the same
// texts to make the man page ("Usage:", "  or:" and the section titles are its conventions).
#include "cli/Cli.h"

#include <algorithm>

namespace pelfry::cli {

namespace {

constexpr size_t Width = 79;
// The widest first column (2 spaces, a name, 2 spaces); longer names put their description on
// the next line.
constexpr size_t MaxColumn = 26;

// Appends `text` filled into lines of at most Width columns, each starting with `indent`
// spaces (the first with `firstIndent`). "\n" in `text` starts a new line.
void AppendWrapped(std::string& out, std::string_view text, size_t indent, size_t firstIndent) {
    const size_t lastBreak = out.rfind('\n');
    size_t lineStart = lastBreak == std::string::npos ? 0 : lastBreak + 1;
    out.append(firstIndent, ' ');
    bool lineEmpty = true;
    size_t at = 0;
    while (at <= text.size()) {
        const size_t end = text.find_first_of(" \n", at);
        const std::string_view word =
            text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
        if (!word.empty()) {
            if (!lineEmpty && out.size() - lineStart + 1 + word.size() > Width) {
                out += '\n';
                lineStart = out.size();
                out.append(indent, ' ');
                lineEmpty = true;
            }
            if (!lineEmpty) out += ' ';
            out += word;
            lineEmpty = false;
        }
        if (end == std::string_view::npos) break;
        if (text[end] == '\n') {
            out += '\n';
            lineStart = out.size();
            out.append(indent, ' ');
            lineEmpty = true;
        }
        at = end + 1;
    }
    out += '\n';
}

using Row = std::pair<std::string, std::string>; // a name and its description

// Where the descriptions of `rows` start: after the longest name that fits.
size_t DescriptionColumn(const std::vector<Row>& rows) {
    size_t column = 0;
    for (const Row& row : rows)
        if (row.first.size() + 4 <= MaxColumn) column = std::max(column, row.first.size() + 4);
    return column;
}

void AppendSection(std::string& out, const std::string& title, const std::vector<Row>& rows,
                   size_t column) {
    if (rows.empty()) return;
    out += "\n" + title + ":\n";
    for (const auto& [name, description] : rows) {
        std::string first = "  " + name;
        if (first.size() + 2 > column) {
            out += first + "\n";
            first.clear();
        }
        first.resize(column, ' ');
        out += first;
        AppendWrapped(out, description, column, 0);
    }
}

std::string OptionName(const CLI::Option& option) {
    std::string name;
    for (const std::string& s : option.get_snames())
        name += (name.empty() ? "-" : ", -") + s;
    for (const std::string& l : option.get_lnames())
        name += (name.empty() ? "--" : ", --") + l;
    if (option.get_type_size() != 0) name += " " + option.get_type_name();
    return name;
}

bool IsRepeated(const CLI::Option& operand) {
    return operand.get_expected_max() >= CLI::detail::expected_max_vector_size;
}

class HelpFormatter : public CLI::FormatterBase {
public:
    std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const override {
        const CLI::App* parent = app->get_parent();
        std::vector<Row> listed; // the commands, or the command's operands
        for (const CLI::App* command : app->get_subcommands({}))
            listed.emplace_back(command->get_name(), command->get_description());
        const std::vector<const CLI::Option*> operands =
            app->get_options([](const CLI::Option* o) { return o->get_positional(); });
        for (const CLI::Option* o : operands)
            listed.emplace_back(o->get_name(true, false) + (IsRepeated(*o) ? "..." : ""),
                                o->get_description());
        std::vector<Row> options; // --help last
        for (const CLI::Option* o :
             app->get_options([](const CLI::Option* o) { return o->nonpositional(); }))
            if (o != app->get_help_ptr())
                options.emplace_back(OptionName(*o), o->get_description());
        options.emplace_back(OptionName(*app->get_help_ptr()),
                             app->get_help_ptr()->get_description());
        std::vector<Row> all = listed;
        all.insert(all.end(), options.begin(), options.end());
        const size_t column = DescriptionColumn(all);

        std::string out;
        if (!parent) {
            out += "Usage: " + app->get_name() + " COMMAND [OPTIONS] OPERAND...\n";
            out += "  or:  " + app->get_name() + " --help | --version\n\n";
            AppendWrapped(out, app->get_description(), 0, 0);
            AppendSection(out, "Commands", listed, column);
        } else {
            std::string usage = "Usage: " + parent->get_name() + " " + app->get_name();
            if (options.size() > 1) usage += " [OPTIONS]";
            for (const CLI::Option* o : operands) {
                const std::string name = o->get_name(true, false) + (IsRepeated(*o) ? "..." : "");
                usage += " " + (o->get_required() ? name : "[" + name + "]");
            }
            AppendWrapped(out, usage, 7, 0);
            out += "\n";
            AppendWrapped(out, app->get_footer(), 0, 0);
            AppendSection(out, "Operands", listed, column);
        }
        AppendSection(out, "Options", options, column);
        if (!parent) {
            out += "\n";
            AppendWrapped(out, app->get_footer(), 0, 0);
        }
        return out;
    }
};

} // namespace

std::shared_ptr<CLI::FormatterBase> MakeHelpFormatter() {
    return std::make_shared<HelpFormatter>();
}

} // namespace pelfry::cli
