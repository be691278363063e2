// What pelfry-cli meets on each system, run as a user would on Linux and on Windows alike:
// UTF-8 names through the command line and into files, output passed on byte for byte, names
// Windows cannot hold, and writers started together.
#include "CliOutput.h"
#include "CliRun.h"
#include "archive/ArchiveTestUtil.h"
#include "archive/TestFolder.h"

#include "archive/DirFileU.h"
#include "platform/FileLock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

namespace pelfry {
namespace {

using test::RunCli;
using test::TestFolder;

const std::string Cafe = "caf\xC3\xA9.bin"; // é as UTF-8

std::vector<std::string> NamesIn(const std::string& archive) {
    return test::NamesOf(*TDirFile::Create(archive, true));
}

TEST(CliNames, Utf8NamesGoThroughArgumentsIntoEntriesAndBackIntoFiles) {
    TestFolder folder;
    test::WriteFile(folder / Cafe, "accent");
    test::CliResult r = RunCli({"add", folder / "A.DIR", folder / Cafe});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(NamesIn(folder / "A.DIR"), std::vector<std::string>{Cafe}); // the bytes C3 A9

    r = RunCli({"extract", folder / "A.DIR", folder / "out", Cafe});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test::ReadFile(folder / "out/" + Cafe), test::Bytes("accent"));
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Processing file 1 of 1: " + Cafe + "\n"); // the name's bytes, unchanged
    // A folder with such a name works as well, for the archive and the extraction.
    r = RunCli({"extract", folder / "A.DIR", folder / "d\xC3\xA9j\xC3\xA0"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(FileExists(folder / "d\xC3\xA9j\xC3\xA0/" + Cafe));
}

TEST(CliNames, ListingIsTheNamesBytesEachFollowedByALineFeed) {
    TestFolder folder;
    test::MakeArchive({{Cafe, "1"}, {"sub\\x.img", "2"}, {"two words", "3"}})
        ->SaveToFile(folder / "A.DIR");
    const test::CliResult r = RunCli({"list", folder / "A.DIR"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, Cafe + "\nsub\\x.img\ntwo words\n"); // no CR before the LF, on Windows too
}

// Windows would send these to a device or to another name while reporting success.
TEST(CliNames, NamesWindowsCannotHoldAreRefusedThereAndExtractElsewhere) {
    TestFolder folder;
    for (const std::string name :
         {"NUL.bin", "aux", "Com3.txt", "lpt1.DIR", "dir\\CON\\x", "ab:c", "end.", "end "}) {
        test::MakeArchive({{"first", "1"}, {name, "data"}})->SaveToFile(folder / "A.DIR");
        const test::CliResult r = RunCli({"extract", folder / "A.DIR", folder / "out"});
        if (test::OnWindows) {
            EXPECT_EQ(r.status, 1) << name;
            EXPECT_EQ(test::LastLine(r.err), "pelfry-cli: Unsafe entry name: " + name);
        } else {
            EXPECT_EQ(r.status, 0) << name << r.err;
            EXPECT_EQ(test::ReadFile(NativePath(folder / "out/" + name)), test::Bytes("data"))
                << name;
        }
    }
}

// Writers started together while the lock is held: each waits its turn and adds to what the
// one before it saved, so no entry is lost, on any system.
TEST(CliConcurrency, WritersStartedTogetherAllLand) {
    TestFolder folder;
    const std::string archive = folder / "A.DIR";
    test::MakeArchive({{"base", "b"}})->SaveToFile(archive);
    const std::vector<std::string> names = {"one", "two", "three", "four"};
    for (const std::string& name : names)
        test::WriteFile(folder / name, name);
    std::vector<std::unique_ptr<test::CliProcess>> writers;
    {
        FileLock held(archive, false);
        for (const std::string& name : names)
            writers.push_back(std::make_unique<test::CliProcess>(
                std::vector<std::string>{"add", archive, folder / name}));
    }
    for (auto& writer : writers) {
        const test::CliResult r = writer->Finish();
        EXPECT_EQ(r.status, 0) << r.err;
    }
    std::vector<std::string> stored = NamesIn(archive);
    ASSERT_EQ(stored.size(), 5u);
    EXPECT_EQ(stored[0], "base");
    std::sort(stored.begin() + 1, stored.end());
    EXPECT_EQ(stored, (std::vector<std::string>{"base", "four", "one", "three", "two"}));
    // Nothing beside the archive and the inputs.
    EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"A.DIR", "four", "one", "three", "two"}));
}

} // namespace
} // namespace pelfry
