// pelfry-cli's archive commands, run as a user would: exit statuses, messages on standard
// error, names on standard output byte for byte, and archives left alone on every error.
#include "CliOutput.h"
#include "CliRun.h"
#include "archive/ArchiveTestUtil.h"
#include "archive/TestFolder.h"

#include "archive/DirFileU.h"
#include "platform/FileLock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <thread>

namespace pelfry {
namespace {

using test::LastLine;
using test::RunCli;
using test::TestFolder;

using Entries = std::vector<std::pair<std::string, std::string>>;

void MakeArchive(const std::string& path, const Entries& entries) {
    test::MakeArchive(entries)->SaveToFile(path);
}

Entries ReadArchive(const std::string& path) {
    auto dir = TDirFile::Create(path, true);
    Entries entries;
    for (const FileInfo& info : dir->Files())
        entries.push_back(
            {info.Name, info.Data ? std::string(info.Data->begin(), info.Data->end()) : ""});
    return entries;
}

std::string Text(const std::string& path) {
    std::vector<uint8_t> bytes = test::ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

TEST(CliUsage, HelpAndUsageErrors) {
    test::CliResult help = RunCli({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
    // Every command once, in the order of the README's table.
    size_t at = 0;
    for (const char* command :
         {"\n  list ", "\n  info ", "\n  extract ", "\n  add ", "\n  delete ", "\n  rename ",
          "\n  convert ", "\n  convert-back ", "\n  export ", "\n  rebuild "}) {
        const size_t found = help.out.find(command);
        EXPECT_NE(found, std::string::npos) << command;
        EXPECT_GT(found, at) << command;
        at = found;
    }

    // A usage error is the reason and where to read more, nothing else.
    struct Case {
        std::vector<std::string> args;
        std::string reason;
        std::string help; // the command whose help is suggested
    };
    for (const Case& c : std::vector<Case>{
             {{}, "no command given", ""},
             {{"frobnicate", "x"}, "unknown command 'frobnicate'", ""},
             {{"list"}, "ARCHIVE is required", "list"},
             {{"list", "a", "b"}, "The following argument was not expected: b", "list"},
             {{"info"}, "FILE is required", "info"},
             {{"extract", "a"}, "FOLDER is required", "extract"},
             {{"add", "a"}, "FILE is required", "add"},
             {{"delete", "a"}, "NAME is required", "delete"},
             {{"rename", "a", "b"}, "NEW is required", "rename"},
             {{"list", "--quiet", "a"},
              "The following argument was not expected: --quiet",
              "list"}}) {
        test::CliResult r = RunCli(c.args);
        EXPECT_EQ(r.status, 2) << c.reason;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "pelfry-cli: " + c.reason + "\nRun 'pelfry-cli " +
                             (c.help.empty() ? "" : c.help + " ") +
                             "--help' for more information.\n");
    }
}

TEST(CliList, PrintsNamesAsStoredInEntryOrder) {
    TestFolder folder;
    const std::string names[] = {"x.img", "\xe9t\xe9\\HERO.SPR", "x.img", "Z"};
    MakeArchive(folder / "A.DIR",
                {{names[0], "1"}, {names[1], ""}, {names[2], "3"}, {names[3], "4"}});
    test::CliResult r = RunCli({"list", folder / "A.DIR"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "x.img\n\xe9t\xe9\\HERO.SPR\nx.img\nZ\n");
    EXPECT_EQ(r.err, "");

    MakeArchive(folder / "EMPTY.DIR", {});
    r = RunCli({"list", folder / "EMPTY.DIR"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
}

TEST(CliList, ErrorsGoToStandardErrorWithStatusOne) {
    TestFolder folder;
    test::CliResult r = RunCli({"list", folder / "NONE.DIR"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "pelfry-cli: Cannot open file " + (folder / "NONE.DIR") +
                         ": No such file or directory\n");

    test::WriteFile(folder / "BAD.DIR", "DIR\x1a\x01");
    r = RunCli({"list", folder / "BAD.DIR"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "pelfry-cli: Invalid directory file " + (folder / "BAD.DIR") +
                         " [the file is too short for an archive header]\n");
}

TEST(CliInfo, SummarisesADirectoryArchive) {
    TestFolder folder;
    MakeArchive(folder / "G.dir", {{"a.IMG", "12345"}, {"b.spr", "xy"}, {"c.txt", ""}});
    test::CliResult r = RunCli({"info", folder / "G.dir"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "Directory archive: " + (folder / "G.dir") + "\n" + "File size: " +
                         std::to_string(12 + 5 + 1 + 2 + 1 + 4100 + 3 * 20) + " bytes\n" +
                         "Entries: 3 (1 .IMG, 1 .SPR, 1 other)\n"
                         "Data: 7 bytes\n"
                         "         5  a.IMG: not a valid image, 5 bytes\n"
                         "         2  b.spr: not a valid sprite, 2 bytes\n"
                         "         0  c.txt: 0 bytes\n");

    test::WriteFile(folder / "notes.txt", "hello");
    r = RunCli({"info", folder / "notes.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind(
                  "pelfry-cli: Cannot describe file " + (folder / "notes.txt") + ": not a .DIR", 0),
              0u)
        << r.err;
    r = RunCli({"info", folder / "MISSING.DIR"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "pelfry-cli: Cannot open file " + (folder / "MISSING.DIR") +
                         ": No such file or directory\n");
}

TEST(CliExtract, WritesAllOrTheNamedEntries) {
    TestFolder folder;
    MakeArchive(folder / "A.DIR", {{"a.img", "alpha"}, {"sub\\b.spr", "beta"}, {"c", ""}});
    test::CliResult r = RunCli({"extract", folder / "A.DIR", folder / "all"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Text(folder / "all/a.img"), "alpha");
    EXPECT_EQ(Text(folder / "all/sub/b.spr"), "beta");
    EXPECT_EQ(Text(folder / "all/c"), "");

    r = RunCli({"extract", folder / "A.DIR", folder / "some/", "sub\\b.spr"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Text(folder / "some/sub/b.spr"), "beta");
    EXPECT_FALSE(FileExists(folder / "some/a.img"));

    // An empty archive still makes its folder.
    MakeArchive(folder / "E.DIR", {});
    EXPECT_EQ(RunCli({"extract", folder / "E.DIR", folder / "made"}).status, 0);
    EXPECT_TRUE(DirectoryExists(folder / "made"));
}

TEST(CliExtract, RefusesMissingNamesUnsafeNamesAndUnwritableTargets) {
    TestFolder folder;
    MakeArchive(folder / "A.DIR", {{"a.img", "alpha"}});
    test::CliResult r = RunCli({"extract", folder / "A.DIR", folder / "out", "a.img", "A.IMG"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "pelfry-cli: No entry named A.IMG in " + (folder / "A.DIR") + "\n");
    EXPECT_FALSE(FileExists(folder / "out/a.img")); // looked up before anything was written

    MakeArchive(folder / "EVIL.DIR", {{"fine", "1"}, {"..\\..\\evil", "2"}});
    r = RunCli({"extract", folder / "EVIL.DIR", folder / "deep/out"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(LastLine(r.err), "pelfry-cli: Unsafe entry name: ..\\..\\evil");
    EXPECT_FALSE(FileExists(folder / "evil"));

    ASSERT_TRUE(ForceDirectories(folder / "blocked/a.img"));
    r = RunCli({"extract", folder / "A.DIR", folder / "blocked"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(LastLine(r.err),
              "pelfry-cli: Cannot create file " + (folder / "blocked/a.img") + ": Is a directory");

    // An empty FOLDER is no folder at all, never the root folder.
    MakeArchive(folder / "E.DIR", {});
    r = RunCli({"extract", folder / "E.DIR", ""});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("pelfry-cli: FOLDER: must not be empty\n", 0), 0u) << r.err;

    test::WriteFile(folder / "file", "x");
    r = RunCli({"extract", folder / "A.DIR", folder / "file"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "pelfry-cli: Unable to create directory " + (folder / "file") + ": File exists\n");
}

TEST(CliAdd, CreatesReplacesAndAppendsThenSaves) {
    if (test::OnWindows) {
        GTEST_SKIP() << "two files whose names differ only in case are one file on Windows";
    }
    TestFolder folder;
    test::WriteFile(folder / "x.img", "abc");
    ASSERT_TRUE(ForceDirectories(folder / "in"));
    test::WriteFile(folder / "in/yy.spr", "12345");
    test::CliResult r = RunCli({"add", folder / "NEW.DIR", folder / "x.img", folder / "in/yy.spr"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");
    // Exactly the layout of the two-entry example.
    EXPECT_EQ(FileLength(folder / "NEW.DIR"), 4161);
    EXPECT_EQ(ReadArchive(folder / "NEW.DIR"), (Entries{{"x.img", "abc"}, {"yy.spr", "12345"}}));

    test::WriteFile(folder / "in/x.img", "replaced");
    test::WriteFile(folder / "in/X.IMG", "upper");
    r = RunCli({"add", folder / "NEW.DIR", folder / "in/x.img", folder / "in/X.IMG"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadArchive(folder / "NEW.DIR"),
              (Entries{{"x.img", "replaced"}, {"yy.spr", "12345"}, {"X.IMG", "upper"}}));
}

TEST(CliAdd, ReadsAFileToItsEndWhateverSizeItReports) {
    if (test::OnWindows) GTEST_SKIP() << "no /proc on Windows";
    // /proc reports 0 bytes for its files and reads their contents all the same.
    TestFolder folder;
    ASSERT_EQ(RunCli({"add", folder / "P.DIR", "/proc/version"}).status, 0);
    const Entries entries = ReadArchive(folder / "P.DIR");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_NE(entries[0].second.find("Linux"), std::string::npos) << entries[0].second;
    // A read the system fails (this process's memory at address 0) fails the command, where it
    // once ended the file there and added what was read.
    const test::CliResult r = RunCli({"add", folder / "M.DIR", "/proc/self/mem"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "pelfry-cli: Cannot read file /proc/self/mem: Input/output error\n");
    EXPECT_FALSE(FileExists(folder / "M.DIR"));
}

TEST(CliAdd, AnErrorSavesNothing) {
    TestFolder folder;
    MakeArchive(folder / "A.DIR", {{"keep", "k"}});
    const std::vector<uint8_t> before = test::ReadFile(folder / "A.DIR");
    test::WriteFile(folder / "good", "g");
    const std::string longName = folder / std::string(31, 'L');
    test::WriteFile(longName, "l");

    test::CliResult r = RunCli({"add", folder / "A.DIR", folder / "good", folder / "missing"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "pelfry-cli: Cannot open file " + (folder / "missing") +
                         ": No such file or directory\n");
    r = RunCli({"add", folder / "A.DIR", folder / "good", longName});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "pelfry-cli: Entry name too long (more than 30 bytes): " +
                         std::string(31, 'L') + "\n");
    EXPECT_EQ(test::ReadFile(folder / "A.DIR"), before);

    r = RunCli({"add", folder / "NEW.DIR", folder / "missing"});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(FileExists(folder / "NEW.DIR"));

    // A file that is no archive, as when the operands are given the wrong way round.
    test::WriteFile(folder / "notes.txt", "Some notes of mine, not an archive at all.\n");
    r = RunCli({"add", folder / "notes.txt", folder / "good"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "pelfry-cli: Invalid directory file " + (folder / "notes.txt") +
                         " [not an archive: it does not start with DIR 0x1A and the directory "
                         "block lies beyond the end of the file, at byte 0x8]\n");
    EXPECT_EQ(Text(folder / "notes.txt"), "Some notes of mine, not an archive at all.\n");
}

TEST(CliDelete, DeletesFirstEntriesInTurnOrNothing) {
    if (test::OnWindows) {
        GTEST_SKIP()
            << "Windows passes arguments as UTF-16: a name that is not UTF-8 cannot be given";
    }
    TestFolder folder;
    MakeArchive(folder / "A.DIR",
                {{"A", "a"}, {"dup", "1"}, {"C", "c"}, {"dup", "2"}, {"\xff", "e"}});
    test::CliResult r = RunCli({"delete", folder / "A.DIR", "dup"});
    EXPECT_EQ(r.status, 0) << r.err;
    // The last entry fills the gap.
    EXPECT_EQ(ReadArchive(folder / "A.DIR"),
              (Entries{{"A", "a"}, {"\xff", "e"}, {"C", "c"}, {"dup", "2"}}));

    const std::vector<uint8_t> before = test::ReadFile(folder / "A.DIR");
    r = RunCli({"delete", folder / "A.DIR", "A", "a"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "pelfry-cli: No entry named a in " + (folder / "A.DIR") + "\n");
    EXPECT_EQ(test::ReadFile(folder / "A.DIR"), before);

    r = RunCli({"delete", folder / "A.DIR", "dup", "\xff", "A", "C"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(FileLength(folder / "A.DIR"), 4112);
    r = RunCli({"delete", folder / "A.DIR", "dup"});
    EXPECT_EQ(r.status, 1);
}

TEST(CliRename, RenamesInPlaceOrRefusesLeavingTheArchiveAlone) {
    TestFolder folder;
    const std::string archive = folder / "A.DIR";
    MakeArchive(archive, {{"A.IMG", "a"}, {"B.SPR", "b"}, {"C", "c"}});
    test::CliResult r = RunCli({"rename", archive, "A.IMG", "UI\\A.SPR"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadArchive(archive), (Entries{{"UI\\A.SPR", "a"}, {"B.SPR", "b"}, {"C", "c"}}));

    const std::vector<uint8_t> before = test::ReadFile(archive);
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"B.SPR", "C"}, "Cannot rename B.SPR to C: another entry has that name"},
        {{"B.SPR", ""}, "Cannot rename B.SPR: the new name is empty"},
        {{"B.SPR", "../B.SPR"}, "Unsafe entry name: ../B.SPR"},
        {{"B.SPR", std::string(31, 'N')},
         "Entry name too long (more than 30 bytes): " + std::string(31, 'N')},
        {{"A.IMG", "X"}, "No entry named A.IMG in " + archive},
    };
    for (const auto& [names, message] : refused) {
        r = RunCli({"rename", archive, names[0], names[1]});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "pelfry-cli: " + message + "\n");
        EXPECT_EQ(test::ReadFile(archive), before);
    }
}

// Writers of one archive take turns, between processes: while this test holds the lock and
// saves an entry of its own, two adds wait (each says so), then each adds to what the one
// before it saved, and no entry is lost.
TEST(CliConcurrency, AddsWaitForTheHolderAndLoseNoEntry) {
    TestFolder folder;
    const std::string archive = folder / "A.DIR";
    MakeArchive(archive, {{"base", "b"}});
    test::WriteFile(folder / "one", "1");
    test::WriteFile(folder / "two", "2");
    std::optional<FileLock> held(std::in_place, archive, false);
    test::CliProcess first({"add", archive, folder / "one"});
    test::CliProcess second({"add", archive, folder / "two"});
    for (test::CliProcess* add : {&first, &second})
        ASSERT_TRUE(add->Says(test::WaitingFor + archive)) << "an add did not wait for the lock";
    MakeArchive(archive, {{"base", "b"}, {"held", "h"}});
    held.reset();
    for (test::CliProcess* add : {&first, &second}) {
        const test::CliResult r = add->Finish();
        EXPECT_EQ(r.status, 0) << r.err;
    }
    Entries entries = ReadArchive(archive);
    ASSERT_EQ(entries.size(), 4u);
    std::sort(entries.begin() + 2, entries.end());
    EXPECT_EQ(entries, (Entries{{"base", "b"}, {"held", "h"}, {"one", "1"}, {"two", "2"}}));
    EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"A.DIR", "one", "two"}));
}

TEST(CliExport, RefusesNamesTheLogCannotHoldBeforeWritingAnything) {
    TestFolder folder;
    MakeArchive(folder / "A.DIR", {{"ok", "1"}, {"two\r\nlines", "2"}});
    test::CliResult r = RunCli({"export", folder / "A.DIR", folder / "out"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "pelfry-cli: Entry name cannot be written to the log: two\r\nlines\n");
    EXPECT_FALSE(DirectoryExists(folder / "out"));
}

} // namespace
} // namespace pelfry
