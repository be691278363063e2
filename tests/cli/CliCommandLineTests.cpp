// pelfry-cli's command line as a shell user meets it: each command's help wherever --help
// stands, the version, "--" before operands that look like options, options after operands,
// and entry names given with --name.
#include "CliRun.h"
#include "archive/ArchiveTestUtil.h"

#include "archive/DirFileU.h"

#include <gtest/gtest.h>

namespace pelfry {
namespace {

using test::RunCli;
using test::TestFolder;
using Entries = std::vector<std::pair<std::string, std::string>>;

Entries ReadArchive(const std::string& path) {
    auto dir = TDirFile::Create(path, true);
    Entries entries;
    for (const FileInfo& info : dir->Files())
        entries.push_back(
            {info.Name, info.Data ? std::string(info.Data->begin(), info.Data->end()) : ""});
    return entries;
}

size_t LongestLine(const std::string& text) {
    size_t longest = 0, start = 0;
    for (size_t end = text.find('\n'); end != std::string::npos;
         start = end + 1, end = text.find('\n', start))
        longest = std::max(longest, end - start);
    return std::max(longest, text.size() - start);
}

TEST(CliHelp, EveryHelpFitsEightyColumns) {
    test::CliResult help = RunCli({"-h"});
    EXPECT_EQ(help.status, 0);
    EXPECT_LE(LongestLine(help.out), 80u) << help.out;
    for (const std::string command : {"list", "info", "extract", "add", "delete", "convert",
                                      "convert-back", "export", "rebuild"}) {
        test::CliResult r = RunCli({command, "--help"});
        EXPECT_EQ(r.status, 0) << command;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out.rfind("Usage: pelfry-cli " + command + " ", 0), 0u) << r.out;
        EXPECT_LE(LongestLine(r.out), 80u) << r.out;
    }
}

TEST(CliHelp, HelpAnywhereAmongOperandsDoesNothingElse) {
    TestFolder folder;
    test::WriteFile(folder / "NOTES.TXT", "notes");
    const std::string add = RunCli({"add", "--help"}).out;
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"add", "--help", folder / "A.DIR", folder / "NOTES.TXT"},
             {"add", folder / "A.DIR", folder / "NOTES.TXT", "-h"},
             {"add", folder / "A.DIR", "--name", "N", "--help"}}) {
        test::CliResult r = RunCli(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, add);
        EXPECT_EQ(r.err, "");
    }
    EXPECT_EQ(RunCli({"extract", folder / "A.DIR", folder / "out", "--help"}).status, 0);
    EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"NOTES.TXT"}))
        << "nothing made, nothing added";
}

TEST(CliHelp, VersionIsTheProjectVersion) {
    test::CliResult r = RunCli({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "pelfry-cli " PELFRY_VERSION "\n");
    EXPECT_EQ(r.err, "");
}

TEST(CliCommandLine, DoubleDashEndsTheOptions) {
    TestFolder folder;
    test::MakeArchive({{"--help", "h"}, {"-q", "q"}, {"keep", "k"}})->SaveToFile(folder / "A.DIR");
    test::CliResult r = RunCli({"extract", folder / "A.DIR", folder / "out", "--", "--help", "-q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test::ReadFile(folder / "out/--help"), test::Bytes("h"));
    EXPECT_EQ(test::ReadFile(folder / "out/-q"), test::Bytes("q"));
    r = RunCli({"delete", folder / "A.DIR", "--", "-q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadArchive(folder / "A.DIR"), (Entries{{"--help", "h"}, {"keep", "k"}}));
}

TEST(CliCommandLine, OptionsMayFollowTheOperands) {
    TestFolder folder;
    test::MakeArchive({{"a", "1"}, {"b", "2"}})->SaveToFile(folder / "A.DIR");
    test::CliResult r = RunCli({"extract", folder / "A.DIR", folder / "out", "a", "--quiet"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "") << "--quiet after the names";
    EXPECT_EQ(test::ReadFile(folder / "out/a"), test::Bytes("1"));
    EXPECT_FALSE(FileExists(folder / "out/b"));
}

TEST(CliAdd, NameStoresTheFileUnderThatEntryName) {
    TestFolder folder;
    test::WriteFile(folder / "icon.img", "first");
    test::WriteFile(folder / "other.img", "second");
    test::CliResult r =
        RunCli({"add", "--name", "UI\\ICON.IMG", folder / "A.DIR", folder / "icon.img"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadArchive(folder / "A.DIR"), (Entries{{"UI\\ICON.IMG", "first"}}));
    // After the operands, and replacing the entry of exactly that name.
    r = RunCli({"add", folder / "A.DIR", folder / "other.img", "--name=UI\\ICON.IMG"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadArchive(folder / "A.DIR"), (Entries{{"UI\\ICON.IMG", "second"}}));

    const std::vector<uint8_t> before = test::ReadFile(folder / "A.DIR");
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"add", "--name", std::string(31, 'N'), folder / "A.DIR", folder / "icon.img"},
             {"add", "--name", "", folder / "A.DIR", folder / "icon.img"},
             {"add", "--name", "N", folder / "A.DIR", folder / "icon.img", folder / "other.img"}}) {
        r = RunCli(args);
        EXPECT_EQ(r.status, 2) << args[2];
        EXPECT_EQ(r.err.substr(r.err.find('\n')),
                  "\nRun 'pelfry-cli add --help' for more information.\n");
    }
    EXPECT_EQ(test::ReadFile(folder / "A.DIR"), before);
}

} // namespace
} // namespace pelfry
