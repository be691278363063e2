// What pelfry-cli promises about a user's files, tried as a careful user and an attacker would:
// new archives that appear only complete, waits that are said, reasons in messages, things that
// are no files, entries that would land on one file, links planted in an exported folder, and
// files with other names.
#include "cli/CliOutput.h"
#include "cli/CliRun.h"

#include "archive/ArchiveTestUtil.h"
#include "archive/DirFileU.h"
#include "platform/FileLock.h"
#include "platform/FileTime.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <thread>

#ifndef _WIN32

#include <sys/resource.h>
#include <sys/stat.h>
#endif

using namespace pelfry;
using namespace pelfry::test;

namespace {

std::string Data(const std::string& name) {
    return std::string(PELFRY_TEST_DATA) + "/" + name;
}

} // namespace

// A new archive is locked by its name while its writer waits or works: killed at any moment,
// the writer leaves nothing under the name; let through, it makes the archive whole. Its wait
// is said once.
TEST(CliSafety, ANewArchiveAppearsOnlyCompleteAndAWaitIsSaid) {
    TestFolder folder;
    const std::string archive = folder / "NEW.DIR";
    WriteFile(folder / "entry", "data");
    for (bool kill : {true, false}) {
        std::optional<FileLock> held(std::in_place, archive, true);
        CliProcess add({"add", archive, folder / "entry"});
        ASSERT_TRUE(add.Says(WaitingFor + archive)); // after a second, told and waiting
        EXPECT_FALSE(FileExists(archive));
        if (kill) add.Kill();
        held.reset();
        const CliResult r = add.Finish();
        EXPECT_EQ(r.err, WaitingFor + archive + "\n");
        EXPECT_EQ(FileExists(archive), !kill);
    }
    EXPECT_EQ(test::NamesOf(*TDirFile::Create(archive, true)), std::vector<std::string>{"entry"});
}

// An ARCHIVE that is a link leading nowhere is refused with the reason, and nothing is made:
// neither the link's target nor an archive in the link's place.
TEST(CliSafety, AnArchiveThatIsALinkLeadingNowhereIsRefused) {
    TestFolder folder;
    WriteFile(folder / "x", "x");
    if (!MakeLink(folder / "gone/A.DIR", folder / "dangling.DIR", false) ||
        !MakeLink(folder / "loop2.DIR", folder / "loop1.DIR", false) ||
        !MakeLink(folder / "loop1.DIR", folder / "loop2.DIR", false))
        GTEST_SKIP() << "this system makes no symbolic links here";
    for (const auto& [link, reason] : {std::pair{"dangling.DIR", "the link leads nowhere"},
                                       std::pair{"loop1.DIR", "too many levels of links"}}) {
        const CliResult r = RunCli({"add", folder / link, folder / "x"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "pelfry-cli: Cannot open file " + folder / link + ": " + reason + "\n");
        EXPECT_TRUE(std::filesystem::is_symlink(folder / link));
    }
    EXPECT_EQ(folder.Entries(),
              (std::vector<std::string>{"dangling.DIR", "loop1.DIR", "loop2.DIR", "x"}));
}

// Over the file-size limit a write fails like any other, with the system's reason.
TEST(CliSafety, AWriteOverTheFileSizeLimitFailsAndLeavesNothing) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no file-size limit";
#else
    TestFolder folder;
    WriteFile(folder / "big", std::vector<uint8_t>(100000, 7));
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit lower = saved;
    lower.rlim_cur = 50000;
    // Only the child runs under the limit; SIGXFSZ keeps the disposition this program has.
    ::setrlimit(RLIMIT_FSIZE, &lower);
    CliProcess add({"add", folder / "BIG.DIR", folder / "big"});
    ::setrlimit(RLIMIT_FSIZE, &saved);
    const CliResult r = add.Finish();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "pelfry-cli: Cannot write file " + folder / "BIG.DIR" + ": File too large\n");
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"big"});
#endif
}

// A folder, a device or a FIFO is refused at once, never read and never waited on: `add`
// refuses it before it takes the archive's lock, which this test holds throughout.
TEST(CliSafety, OnlyRegularFilesAreRead) {
    TestFolder folder;
    const std::string archive = folder / "A.DIR";
    MakeArchive({{"keep", "k"}})->SaveToFile(archive);
    const std::vector<uint8_t> before = ReadFile(archive);
    std::vector<std::string> things = {folder.Path()};
#ifdef _WIN32
    things.push_back("NUL");
#else
    ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
    things.insert(things.end(), {folder / "fifo", "/dev/zero"});
#endif
    const FileLock held(archive, false);
    for (const std::string& thing : things) {
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"list", thing}, {"add", archive, thing}}) {
            const CliResult r = RunCli(args);
            EXPECT_EQ(r.status, 1) << thing;
            EXPECT_EQ(r.err, "pelfry-cli: Not a regular file: " + thing + "\n");
        }
    }
    EXPECT_EQ(ReadFile(archive), before);
}

// Entries that would write one file (or the log) are refused before anything is written:
// whatever the separator, with the files a conversion adds, and in the letter case the target
// folder ignores (on Windows; a Linux folder tells the names apart).
TEST(CliSafety, EntriesThatWouldWriteOneFileAreRefusedBeforeAnything) {
    struct Case {
        std::string command, archive;
        std::vector<Entry> entries;
        std::string refusal; // empty: written
    };
    const std::vector<Case> cases = {
        {"export",
         "A.DIR",
         {{"SUB\\X.IMG", "1"}, {"SUB/X.IMG", "2"}},
         "Entries SUB\\X.IMG and SUB/X.IMG would be written to the same file"},
        {"export",
         "A.DIR",
         {{"A.IMG", "1"}, {"A.IMG.bmp", "2"}},
         "Entries A.IMG and A.IMG.bmp would be written to the same file"},
        {"export",
         "lc.DIR",
         {{"x", "1"}, {"lc.DIR.txt", "2"}},
         "Entry lc.DIR.txt would be written over the log"},
        {"extract",
         "A.DIR",
         {{"Data.bin", "1"}, {"DATA.BIN", "2"}},
         OnWindows ? "Entries Data.bin and DATA.BIN would be written to the same file" : ""},
    };
    for (const Case& c : cases) {
        TestFolder folder;
        MakeArchive(c.entries)->SaveToFile(folder / c.archive);
        const CliResult r = RunCli({c.command, folder / c.archive, folder / "out"});
        if (c.refusal.empty()) {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(ReadFile(folder / "out/DATA.BIN"), Bytes("2"));
            continue;
        }
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "pelfry-cli: " + c.refusal + "\n");
        EXPECT_FALSE(DirectoryExists(folder / "out")) << c.refusal;
    }
}

// A link planted in an exported folder leads no rebuilt game file elsewhere.
TEST(CliSafety, RebuildWritesNothingThroughALinkInTheExportedFolder) {
    TestFolder folder;
    WriteFile(folder / "X.IMG.bmp", ReadFile(Data("bmp/pil_p8.bmp")));
    ASSERT_EQ(RunCli({"convert-back", folder / "X.IMG.bmp"}).status, 0);
    ASSERT_EQ(RunCli({"add", "--name", "SUB\\X.IMG", folder / "A.DIR", folder / "X.IMG"}).status,
              0);
    ASSERT_EQ(RunCli({"export", "-q", folder / "A.DIR", folder / "ex"}).status, 0);
    std::filesystem::rename(folder / "ex/SUB", folder / "elsewhere");
    if (!MakeLink(folder / "elsewhere", folder / "ex/SUB", true))
        GTEST_SKIP() << "this system makes no symbolic links here";
    SetFileAge(folder / "elsewhere/X.IMG.bmp", UnixToFileDate(2000000000)); // "edited"
    const std::vector<uint8_t> before = ReadFile(folder / "elsewhere/X.IMG");
    const CliResult r = RunCli({"rebuild", "-q", folder / "ex/A.DIR.txt", folder / "R.DIR"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "pelfry-cli: Cannot create file " + folder / "ex/SUB/X.IMG" +
                         ": a folder on the way is a link, which is not followed\n");
    EXPECT_EQ(ReadFile(folder / "elsewhere/X.IMG"), before);
    EXPECT_FALSE(FileExists(folder / "R.DIR"));
}

// An archive with other names is saved under the name given; the others keep the old contents,
// which the user is told.
TEST(CliSafety, AnArchiveWithOtherNamesIsSavedWithAWarning) {
    TestFolder folder;
    MakeArchive({{"old", "o"}})->SaveToFile(folder / "A.DIR");
    std::filesystem::create_hard_link(folder / "A.DIR", folder / "B.DIR");
    WriteFile(folder / "new", "n");
    const CliResult r = RunCli({"add", folder / "A.DIR", folder / "new"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "pelfry-cli: warning: " + folder / "A.DIR" +
                         " had other names (hard links), which keep the old contents\n");
    // Quiet, only errors would be said.
    std::filesystem::create_hard_link(folder / "A.DIR", folder / "C.DIR");
    const CliResult quiet = RunCli({"add", "-q", folder / "A.DIR", folder / "new"});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out + quiet.err, "");
    EXPECT_EQ(test::NamesOf(*TDirFile::Create(folder / "A.DIR", true)),
              (std::vector<std::string>{"old", "new"}));
    EXPECT_EQ(test::NamesOf(*TDirFile::Create(folder / "B.DIR", true)),
              std::vector<std::string>{"old"});
}
