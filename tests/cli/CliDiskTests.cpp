// What pelfry-cli leaves when a write fails: on a full disk and over read-only files, every
// command that writes leaves the old file or none, never a cut-short one nor a temporary.
#include "CliOutput.h"
#include "CliRun.h"
#include "archive/ArchiveTestUtil.h"
#include "archive/TestFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#ifndef _WIN32
#include "platform/FileSizeLimit.h"
#endif

namespace pelfry {
namespace {

using test::LastLine;
using test::TestFolder;

// A folder where a file of more than about 1 MiB cannot be written. On Windows it lies on the
// small disk that PELFRY_TEST_SMALL_DISK names (tools/build-windows.sh gives wine a drive
// letter for a 1 MiB tmpfs), so the disk fills up as a real one would; elsewhere the programs
// run with a file size limit of 1 MiB, which fails a write the same way.
class FullDisk {
public:
    static constexpr size_t Room = 1 << 20;
    // The system's reason that pelfry-cli gives for the failed write.
    static constexpr const char* Reason =
        test::OnWindows ? "No space left on device" : "File too large";

    FullDisk() {
        if (!test::OnWindows) {
            folder_.emplace();
        } else if (const char* disk = std::getenv("PELFRY_TEST_SMALL_DISK"); disk && *disk) {
            folder_.emplace("pelfry-full-", IncludeTrailingSeparator(disk));
        }
    }
    bool Ready() const { return folder_.has_value(); }
    std::string operator/(const std::string& name) const { return *folder_ / name; }
    std::vector<std::string> Entries(const std::string& sub = "") const {
        return folder_->Entries(sub);
    }

    test::CliResult Run(const std::vector<std::string>& args) const {
#ifndef _WIN32
        test::FileSizeLimit limit(Room); // inherited by the program started
#endif
        return test::RunCli(args);
    }

private:
    std::optional<TestFolder> folder_;
};

// A command that fails, and the file it cannot write.
struct FailedWrite {
    std::vector<std::string> args;
    std::string file;
};

TEST(CliFullDisk, WritesFailWholeLeavingTheOldFileOrNoneAndNoTemporary) {
    const FullDisk disk;
    if (!disk.Ready()) {
        GTEST_SKIP() << "no small disk: PELFRY_TEST_SMALL_DISK names none (tools/build-windows.sh "
                        "maps one when it can mount a tmpfs)";
    }
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
        const test::CliResult r = disk.Run(c.args);
        EXPECT_EQ(r.status, 1) << c.args[0];
        EXPECT_EQ(LastLine(r.err), "pelfry-cli: Cannot write file " + c.file + ": " + FullDisk::Reason);
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
        EXPECT_EQ(LastLine(r.err), "pelfry-cli: Cannot create file " + c.file + ": Permission denied");
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
