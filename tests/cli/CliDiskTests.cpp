// What pelfry-cli leaves when a write fails: on a full disk and over read-only files, every
// command that writes leaves the old file or none, never a cut-short one nor a temporary.
#include "CliOutput.h"
#include "CliRun.h"
#include "archive/ArchiveTestUtil.h"
#include "archive/TestFolder.h"
#include "support/FullDisk.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace pelfry {
namespace {

using test::FullDisk;
using test::LastLine;
using test::TestFolder;

// A command that fails, and the file it cannot write.
struct FailedWrite {
    std::vector<std::string> args;
    std::string file;
};

TEST(CliFullDisk, WritesFailWholeLeavingTheOldFileOrNoneAndNoTemporary) {
    const FullDisk disk;
    if (!disk.Ready()) GTEST_SKIP() << FullDisk::Missing;
    TestFolder folder;
    const std::string big(2 * FullDisk::Room, 'b');
    test::WriteFile(folder / "big.bin", big);
    test::MakeArchive({{"big.bin", big}})->SaveToFile(folder / "BIG.DIR");
    test::MakeArchive({{"small", "s"}})->SaveToFile(disk / "A.DIR");
    const std::vector<uint8_t> archive = test::ReadFile(disk / "A.DIR");
    ASSERT_TRUE(ForceDirectories(disk / "old"));
    test::WriteFile(disk / "old/big.bin", "old");

    for (const FailedWrite& c :
         {FailedWrite{{"add", disk / "A.DIR", folder / "big.bin"}, disk / "A.DIR"},
          FailedWrite{{"extract", folder / "BIG.DIR", disk / "old"}, disk / "old/big.bin"},
          FailedWrite{{"extract", folder / "BIG.DIR", disk / "new"}, disk / "new/big.bin"}}) {
        const FullDisk::Filled full; // inherited by the program started
        const test::CliResult r = test::RunCli(c.args);
        EXPECT_EQ(r.status, 1) << c.args[0];
        EXPECT_EQ(LastLine(r.err),
                  "pelfry-cli: Cannot write file " + c.file + ": " + SystemReason(FullDisk::Code));
    }
    EXPECT_EQ(test::ReadFile(disk / "A.DIR"), archive);
    EXPECT_EQ(test::ReadFile(disk / "old/big.bin"), test::Bytes("old"));
    EXPECT_EQ(disk.Entries(), (std::vector<std::string>{"A.DIR", "new", "old"}));
    EXPECT_EQ(disk.Entries("old"), std::vector<std::string>{"big.bin"});
    EXPECT_EQ(disk.Entries("new"), std::vector<std::string>{});
}

// The read-only attribute (Windows) or mode (elsewhere) keeps a file as it is: neither a
// save nor an extraction replaces it.
TEST(CliReadOnly, ReadOnlyFilesAreNotReplaced) {
    namespace fs = std::filesystem;
    TestFolder folder;
    test::MakeArchive({{"a.img", "new"}})->SaveToFile(folder / "A.DIR");
    const std::vector<uint8_t> archive = test::ReadFile(folder / "A.DIR");
    test::WriteFile(folder / "a.img", "added");
    ASSERT_TRUE(ForceDirectories(folder / "out"));
    test::WriteFile(folder / "out/a.img", "old");
    const fs::perms readOnly =
        fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    fs::permissions(folder / "A.DIR", readOnly);
    fs::permissions(folder / "out/a.img", readOnly);
    // POSIX modes do not bind the superuser; Windows' attribute binds everyone.
    if (!test::OnWindows && std::ofstream(folder / "out/a.img", std::ios::app)) {
        GTEST_SKIP()
            << "this user may write read-only files (the superuser); POSIX modes are "
               "tested for an ordinary user by DirSave.ReadOnlyTargetsAndFoldersAreNotOverwritten";
    }
    for (const FailedWrite& c :
         {FailedWrite{{"add", folder / "A.DIR", folder / "a.img"}, folder / "A.DIR"},
          FailedWrite{{"extract", folder / "A.DIR", folder / "out"}, folder / "out/a.img"}}) {
        const test::CliResult r = test::RunCli(c.args);
        EXPECT_EQ(r.status, 1) << c.args[0];
        EXPECT_EQ(LastLine(r.err),
                  "pelfry-cli: Cannot create file " + c.file + ": Permission denied");
    }
    EXPECT_EQ(test::ReadFile(folder / "A.DIR"), archive);
    EXPECT_EQ(test::ReadFile(folder / "out/a.img"), test::Bytes("old"));
    EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"A.DIR", "a.img", "out"}));
    EXPECT_EQ(folder.Entries("out"), std::vector<std::string>{"a.img"});
    for (const std::string file : {"A.DIR", "out/a.img"}) // for the folder's removal
        fs::permissions(folder / file, fs::perms::owner_write, fs::perm_options::add);
}

} // namespace
} // namespace pelfry
