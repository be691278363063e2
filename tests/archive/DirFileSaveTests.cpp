// Saving: a save either replaces its target completely or leaves it as it was, and the
// archive in memory survives every failed save intact.
#include "ArchiveTestUtil.h"
#include "TestFolder.h"

#include "archive/DirFileU.h"
#include "archive/DirFormat.h"
#include "base/Errors.h"
#include "platform/FileStream.h"
#include "support/FullDisk.h"
#include "support/System.h"

#include <gtest/gtest.h>

#include <filesystem>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace pelfry {
namespace {

using test::ErrorOf;
using test::MakeArchive;
using test::TestFolder;

TEST(DirSave, OverItsOwnFileEvenWhenEntriesWereNotLoaded) {
    TestFolder folder;
    const std::string path = folder / "OWN.DIR";
    MakeArchive({{"a", "first"}, {"b", ""}, {"c", "third"}})->SaveToFile(path);
    auto dir = TDirFile::Create(path, false);
    test::WriteFile(folder / "d", "fourth");
    int32_t index = 0;
    dir->AddFile(folder.Path(), "d", index);
    dir->DeleteEntry(0); // d moves to the front
    EXPECT_TRUE(dir->SaveToFile(path));
    EXPECT_EQ(dir->FileName, path);

    auto again = TDirFile::Create(path, true);
    EXPECT_EQ(test::NamesOf(*again), (std::vector<std::string>{"d", "b", "c"}));
    EXPECT_EQ(test::DataOf(again->Files()[0]), "fourth");
    EXPECT_EQ(test::DataOf(again->Files()[2]), "third");
    // The offsets in memory now describe the saved file.
    EXPECT_EQ(dir->Files()[2].Offset, again->Files()[2].Offset);
    // Where the system cannot rename over an open file (wine, Windows before 10), the old file
    // stays under a temporary name, marked for deletion, until its reader closes it.
    if (test::OnWindows) dir.reset();
    EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"OWN.DIR", "d"}));
}

TEST(DirSave, TargetsThatCannotBeCreatedLeaveTheArchiveIntact) {
    TestFolder folder;
    auto dir = MakeArchive({{"a", "data"}});
    test::WriteFile(folder / "x", "y");
    int32_t index = 0;
    dir->AddFile(folder.Path(), "x", index);
    ASSERT_TRUE(dir->Modified());

    const std::string missing = folder / "no/such/folder/A.DIR";
    EXPECT_EQ(ErrorOf([&] { dir->SaveToFile(missing); }), "Cannot create file " + missing);
    ASSERT_TRUE(std::filesystem::create_directory(folder / "sub"));
    EXPECT_EQ(ErrorOf([&] { dir->SaveToFile(folder / "sub"); }),
              "Cannot create file " + (folder / "sub"));
    EXPECT_TRUE(DirectoryExists(folder / "sub"));
    EXPECT_EQ(ErrorOf([&] { dir->SaveToFile(""); }), "Cannot create file ");
    EXPECT_TRUE(dir->Modified());

    EXPECT_TRUE(dir->SaveToFile(folder / "A.DIR"));
    EXPECT_FALSE(dir->Modified());
    EXPECT_EQ(test::NamesOf(*TDirFile::Create(folder / "A.DIR", true)),
              (std::vector<std::string>{"a", "x"}));
}

// Runs `check` (which returns "" when everything held, else what failed) as an ordinary user:
// in a child process that gives up the superuser's rights when the tests run as root, since
// file permissions do not bind the superuser.
#ifndef _WIN32
std::string AsOrdinaryUser(const std::function<std::string()>& check) {
    if (::geteuid() != 0) return check();
    pid_t child = ::fork();
    if (child < 0) return "cannot fork";
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        ::_exit(check().empty() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status)) return "the check crashed";
    return WEXITSTATUS(status) == 0 ? "" : "a check failed as user 65534";
}
#endif

TEST(DirSave, ReadOnlyTargetsAndFoldersAreNotOverwritten) {
#ifdef _WIN32
    GTEST_SKIP()
        << "POSIX permissions for an ordinary user (ReadOnlyFilesAreNotOverwrittenOnWindows)";
#else
    TestFolder folder;
    namespace fs = std::filesystem;
    fs::permissions(folder.Path(), fs::perms::all); // reachable by the ordinary user
    const std::string path = folder / "RO.DIR";
    test::WriteFile(path, "old contents");
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    ASSERT_TRUE(fs::create_directory(folder / "locked"));
    fs::permissions(folder / "locked", fs::perms::owner_read | fs::perms::owner_exec |
                                           fs::perms::others_read | fs::perms::others_exec);
    EXPECT_EQ(AsOrdinaryUser([&]() -> std::string {
                  auto dir = MakeArchive({{"a", "new"}});
                  if (ErrorOf([&] { dir->SaveToFile(path); }) != "Cannot create file " + path)
                      return "read-only file";
                  if (ErrorOf([&] { dir->SaveToFile(folder / "locked/N.DIR"); }) !=
                      "Cannot create file " + (folder / "locked/N.DIR"))
                      return "read-only folder";
                  return "";
              }),
              "");
    EXPECT_EQ(test::ReadFile(path), test::Bytes("old contents"));
    EXPECT_FALSE(FileExists(folder / "locked/N.DIR"));
#endif
}

// Windows has no permission bits to test, but the read-only attribute stops the replacement.
TEST(DirSave, ReadOnlyFilesAreNotOverwrittenOnWindows) {
    if (!test::OnWindows) {
        GTEST_SKIP() << "the read-only attribute is Windows'; POSIX modes are tested above";
    }
    TestFolder folder;
    const std::string path = folder / "RO.DIR";
    test::WriteFile(path, "old contents");
    std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::group_read |
                                           std::filesystem::perms::others_read);
    EXPECT_EQ(ErrorOf([&] {
                  MakeArchive({{"a", "new"}})->SaveToFile(path);
              }),
              "Cannot create file " + path);
    EXPECT_EQ(test::ReadFile(path), test::Bytes("old contents"));
    std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
}

// A disk that fills up during the save: the archive on disk and in memory stays as it was.
TEST(DirSave, FailedWriteKeepsTheOldFile) {
    using test::FullDisk;
    const FullDisk folder;
    if (!folder.Ready()) GTEST_SKIP() << FullDisk::Missing;
    const std::string path = folder / "FULL.DIR";
    MakeArchive({{"keep.img", "the old archive"}})->SaveToFile(path);
    const std::vector<uint8_t> before = test::ReadFile(path);
    const std::string data(2 * FullDisk::Room, 'b');
    auto big = MakeArchive({{"big.img", data}});
    TestFolder elsewhere; // the archive whose entry a save copies from its file, not memory
    big->SaveToFile(elsewhere / "BIG.DIR");
    auto copied = TDirFile::Create(elsewhere / "BIG.DIR", false);
    {
        const FullDisk::Filled full;
        EXPECT_EQ(ErrorOf([&] { big->SaveToFile(path); }), "Cannot write file " + path);
        EXPECT_EQ(ErrorOf([&] { copied->SaveToFile(path); }), "Cannot write file " + path);
    }
    ASSERT_EQ(big->Count(), 1);
    EXPECT_EQ(test::DataOf(big->Files()[0]), data);
    EXPECT_EQ(test::ReadFile(path), before);
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"FULL.DIR"}); // no half-written leftovers
}

TEST(DirSave, ThroughALinkReplacesTheFileItPointsTo) {
    TestFolder folder;
    MakeArchive({{"old", "1"}})->SaveToFile(folder / "REAL.DIR");
    if (!test::MakeLink(folder / "REAL.DIR", folder / "LINK.DIR", false)) {
        GTEST_SKIP() << "this system makes no links here";
    }
    MakeArchive({{"new", "2"}})->SaveToFile(folder / "LINK.DIR");
    EXPECT_TRUE(test::IsLink(folder / "LINK.DIR"));
    EXPECT_EQ(test::NamesOf(*TDirFile::Create(folder / "REAL.DIR", true)),
              std::vector<std::string>{"new"});
}

TEST(DirSave, ArchivesTheFormatCannotCarryAreRefusedBeforeAnythingChanges) {
    TestFolder folder;
    const std::string path = folder / "LONG.DIR";
    auto dir = MakeArchive({{"short", "1"}, {std::string(31, 'L'), "2"}});
    EXPECT_EQ(ErrorOf([&] { dir->SaveToFile(path); }),
              "Entry name too long (more than 30 bytes): " + std::string(31, 'L'));
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(dir->Files()[0].Offset, 0u) << "no layout computed";

    // More data than 32-bit positions reach: refused before any entry is read, by the check
    // every save makes first.
    FileArray huge(2);
    for (FileInfo& info : huge) {
        info.Name = "part";
        info.Size = 0x7FFFFFFF;
    }
    EXPECT_EQ(ErrorOf([&] { dirformat::CheckSaveable(huge); }),
              "Archive too large for the .DIR format (4 GiB or more)");
}

// A save copies the blocks not in memory from the archive file it was read from: the bytes of
// a save with every entry loaded, over the archive's own file too (and then again from the old
// file, which the object keeps). Blocks larger than the copy buffer, empty ones, a name held
// twice, a block running past the end of a damaged file (read as zeros), and blocks lying one
// after the other with the separator between them or another byte (copied as one run or not).
TEST(DirSave, BlocksNotInMemoryAreCopiedFromTheArchiveFile) {
    TestFolder folder;
    const std::string path = folder / "S.DIR";
    test::WriteFile(folder / "new", "added");
    std::string big((3u << 20) + 5, 'b');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7 + i / 4096);
    std::vector<uint8_t> records;
    test::PutRecord(records, 0, 12, 4, "a", 3);
    test::PutRecord(records, 0, 4140, 20, "p", 3); // 12 bytes past the end of the file
    std::vector<uint8_t> adjacent;
    for (const auto& [name, offset] : {std::pair{"a", 12}, {"b", 15}, {"c", 18}, {"d", 12}})
        test::PutRecord(adjacent, 0, offset, 2, name, 3);
    const std::vector<std::vector<uint8_t>> archives = {
        MakeArchive({{"a", "alpha"}, {"big", big}, {"empty", ""}, {"a", "again"}, {"z", "zz"}})
            ->SaveToBytes(),
        test::RawDir(16, test::Bytes("AAAA"), records),
        test::RawDir(20,
                     test::Bytes("aaXbb\x1A"
                                 "cc"),
                     adjacent)};
    for (const std::vector<uint8_t>& archive : archives) {
        auto edit = [&](TDirFile& dir) {
            int32_t index = 0;
            dir.DeleteEntry(0);
            dir.AddFile(folder.Path(), "new", index);
        };
        test::WriteFile(path, archive);
        auto loaded = TDirFile::Create(path, true);
        edit(*loaded);
        const std::vector<uint8_t> expected = loaded->SaveToBytes();

        FileStream file(path, FileStream::Mode::OpenRead);
        auto streamed = TDirFile::CreateOnFile(file, path);
        edit(*streamed);
        streamed->SaveToFile(path);
        EXPECT_EQ(test::ReadFile(path), expected);
        streamed->SaveToFile(folder / "T.DIR");
        EXPECT_EQ(test::ReadFile(folder / "T.DIR"), expected);
    }
}

TEST(DirSave, ModifiedFollowsEditsAndSaves) {
    TestFolder folder;
    test::WriteFile(folder / "f", "f");
    TDirFile dir;
    EXPECT_FALSE(dir.Modified());
    int32_t index = 0;
    dir.AddFile(folder.Path(), "f", index);
    EXPECT_TRUE(dir.Modified());
    dir.SaveToFile(folder / "M.DIR");
    EXPECT_FALSE(dir.Modified());
    auto loaded = TDirFile::Create(folder / "M.DIR", true);
    EXPECT_FALSE(loaded->Modified());
    loaded->DeleteEntry(0);
    EXPECT_TRUE(loaded->Modified());
    EXPECT_ANY_THROW(dir.AddFile(folder.Path(), "missing", index));
    EXPECT_FALSE(dir.Modified()); // a refused add changes nothing
}

} // namespace
} // namespace pelfry
