// Editing an archive: adding and replacing entries from files, deleting (the last entry fills
// the gap), and extracting, which must never write outside the folder it is given.
#include "ArchiveTestUtil.h"
#include "TestFolder.h"
#include "support/FullDisk.h"
#include "support/System.h"

#include "archive/DirFileU.h"
#include "base/Errors.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

namespace pelfry {
namespace {

using test::ErrorOf;
using test::MakeArchive;
using test::TestFolder;

TEST(DirAddFile, ReplacesTheFirstEntryOfExactlyThatNameElseAppends) {
    TestFolder folder;
    // In two folders: on Windows the two names are one file.
    test::WriteFile(folder / "a.img", "new a");
    ForceDirectories(folder / "upper");
    test::WriteFile(folder / "upper/A.IMG", "upper");
    auto dir = MakeArchive({{"a.img", "old"}, {"b", "bb"}, {"a.img", "second"}});

    int32_t index = -1;
    EXPECT_EQ(dir->AddFile(folder.Path(), "a.img", index), 5);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(dir->Count(), 3u);
    EXPECT_EQ(test::DataOf(dir->Files()[0]), "new a");
    EXPECT_EQ(dir->Files()[0].Size, 5u);
    EXPECT_EQ(test::DataOf(dir->Files()[2]), "second"); // other entries of that name untouched

    EXPECT_EQ(dir->AddFile(folder / "upper/", "A.IMG", index), 5);
    EXPECT_EQ(index, 3);
    EXPECT_EQ(test::NamesOf(*dir), (std::vector<std::string>{"a.img", "b", "a.img", "A.IMG"}));
}

TEST(DirAddFile, StoresTheNameExactlyAndReadsFromFolderPlusName) {
    TestFolder folder;
    ASSERT_TRUE(ForceDirectories(folder / "sub"));
    test::WriteFile(folder / "sub/x.spr", "in sub");
    TDirFile dir;
    int32_t index = -1;
    // The game's names use "\": the file is found in the subfolder, the name kept as given.
    EXPECT_EQ(dir.AddFile(folder.Path(), "sub\\x.spr", index), 6);
    EXPECT_EQ(dir.AddFile(folder / "sub/", "x.spr", index), 6);
    // Or from any file, under a name of its own; the name's rules stay.
    EXPECT_EQ(dir.AddFileAs(folder / "sub/x.spr", "UI\\ICON.IMG", index), 6);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(ErrorOf([&] { dir.AddFileAs(folder / "sub/x.spr", std::string(31, 'n'), index); }),
              "Entry name too long (more than 30 bytes): " + std::string(31, 'n'));
    EXPECT_EQ(test::NamesOf(dir),
              (std::vector<std::string>{"sub\\x.spr", "x.spr", "UI\\ICON.IMG"}));
}

TEST(DirAddFile, EmptyFilesGiveEntriesWithoutData) {
    TestFolder folder;
    test::WriteFile(folder / "empty", std::vector<uint8_t>{});
    auto dir = MakeArchive({{"empty", "was full"}, {"z", "z"}});
    int32_t index = -1;
    EXPECT_EQ(dir->AddFile(folder.Path(), "empty", index), 0);
    EXPECT_EQ(dir->Files()[0].Size, 0u);
    EXPECT_EQ(dir->Files()[0].Data, nullptr);
    // Neither saving nor extracting needs the archive file (it has none).
    dir->SaveToFile(folder / "E.DIR");
    EXPECT_EQ(dir->ExtractEntry(folder / "out/", 0), 0);
    EXPECT_EQ(FileLength(folder / "out/empty"), 0);
    auto loaded = TDirFile::Create(folder / "E.DIR", true);
    EXPECT_EQ(loaded->Files()[0].Size, 0u);
    EXPECT_EQ(test::DataOf(loaded->Files()[1]), "z");
}

TEST(DirAddFile, RefusalsChangeNothing) {
    TestFolder folder;
    const std::string name30(30, 'n');
    const std::string name31(31, 'n');
    test::WriteFile(folder / name30, "30");
    test::WriteFile(folder / name31, "31");
    MakeArchive({{"keep", "k"}})->SaveToFile(folder / "K.DIR");
    auto dir = TDirFile::Create(folder / "K.DIR", true);
    int32_t index = 42;

    EXPECT_EQ(ErrorOf([&] { dir->AddFile(folder.Path(), name31, index); }),
              "Entry name too long (more than 30 bytes): " + name31);
    EXPECT_EQ(ErrorOf([&] { dir->AddFile(folder.Path(), "missing.img", index); }),
              "Cannot open file " + (folder / "missing.img"));
    EXPECT_EQ(ErrorOf([&] { dir->AddFile(folder.Path(), "", index); }), "Unsafe entry name: ");
    EXPECT_EQ(index, 42);
    EXPECT_EQ(test::NamesOf(*dir), std::vector<std::string>{"keep"});
    EXPECT_FALSE(dir->Modified());

    dir->AddFile(folder.Path(), name30, index);
    EXPECT_EQ(index, 1);
    dir->SaveToFile(folder / "N.DIR");
    EXPECT_EQ(TDirFile::Create(folder / "N.DIR", true)->Files()[1].Name, name30);
}

TEST(DirAddFile, FilesTooLargeForTheFormatAreRefused) {
    TestFolder folder;
    const std::string path = folder / "huge";
    {
        test::WriteFile(path, "x");
        std::error_code ec;
        std::filesystem::resize_file(path, 0x100000000ull, ec); // sparse: takes no space
        if (ec) GTEST_SKIP() << "no sparse files here";
    }
    TDirFile dir;
    int32_t index = 0;
    EXPECT_EQ(ErrorOf([&] { dir.AddFile(folder.Path(), "huge", index); }),
              "File too large for an archive entry (4 GiB or more): " + path);
    EXPECT_EQ(dir.Count(), 0u);
}

TEST(DirDeleteEntry, TheLastEntryMovesIntoTheGap) {
    auto dir = MakeArchive({{"A", "a"}, {"B", "b"}, {"C", "c"}, {"D", "d"}, {"E", "e"}});
    EXPECT_EQ(dir->DeleteEntry(2), 4u);
    EXPECT_EQ(test::NamesOf(*dir), (std::vector<std::string>{"A", "B", "E", "D"}));
    EXPECT_EQ(test::DataOf(dir->Files()[2]), "e");
    EXPECT_EQ(dir->DeleteEntry(3), 3u); // the last one: the list just shortens
    EXPECT_EQ(test::NamesOf(*dir), (std::vector<std::string>{"A", "B", "E"}));
    EXPECT_EQ(dir->DeleteEntry(0), 2u);
    EXPECT_EQ(dir->DeleteEntry(0), 1u);
    EXPECT_EQ(dir->DeleteEntry(0), 0u);
    EXPECT_TRUE(dir->Files().empty());
    EXPECT_EQ(dir->SaveToBytes().size(), 4112u);
    EXPECT_ANY_THROW(dir->DeleteEntry(0));
}

TEST(DirRenameAndReorder, EntriesKeepTheirBytesAndTheNameIndexStaysInStep) {
    auto dir = MakeArchive({{"a", "1"}, {"dup", "2"}, {"dup", "3"}, {"b", "4"}});
    dir->RenameEntry(1, "x");
    EXPECT_EQ(test::NamesOf(*dir), (std::vector<std::string>{"a", "x", "dup", "b"}));
    EXPECT_EQ(test::DataOf(dir->Files()[1]), "2");
    EXPECT_EQ(dir->FindEntry("dup"), 2);
    EXPECT_EQ(dir->FindEntry("x"), 1);
    // Refused (the window's tests show the messages): nothing changes.
    for (const std::string& name :
         std::vector<std::string>{"b", "", "../y", "/y", "c:y", std::string(31, 'y')})
        EXPECT_ANY_THROW(dir->RenameEntry(0, name)) << name;
    EXPECT_EQ(test::NamesOf(*dir), (std::vector<std::string>{"a", "x", "dup", "b"}));

    dir->Reorder({3, 2, 1, 0});
    EXPECT_EQ(test::NamesOf(*dir), (std::vector<std::string>{"b", "dup", "x", "a"}));
    EXPECT_EQ(test::DataOf(dir->Files()[0]), "4");
    EXPECT_EQ(dir->FindEntry("a"), 3);
    EXPECT_EQ(dir->FindEntry("dup"), 1);
    EXPECT_ANY_THROW(dir->Reorder({0, 0, 1, 2}));
    EXPECT_ANY_THROW(dir->Reorder({0, 1, 2}));
}

TEST(DirExtractEntry, WritesIntoFolderMakingSubfolders) {
    TestFolder folder;
    auto dir = MakeArchive({{"top.img", "1"}, {"gfx\\hero\\HERO.SPR", "22"}, {"snd/a.raw", "333"}});
    const std::string out = folder / "not/yet/there/";
    for (int32_t i = 0; i < 3; ++i)
        EXPECT_EQ(dir->ExtractEntry(out, i), 0);
    EXPECT_EQ(test::ReadFile(out + "top.img"), test::Bytes("1"));
    EXPECT_EQ(test::ReadFile(out + "gfx/hero/HERO.SPR"), test::Bytes("22"));
    EXPECT_EQ(test::ReadFile(out + "snd/a.raw"), test::Bytes("333"));

    // Again: the first file is overwritten, not appended to.
    test::WriteFile(out + "top.img", "something much longer");
    EXPECT_EQ(dir->ExtractEntry(out, 0), 0);
    EXPECT_EQ(test::ReadFile(out + "top.img"), test::Bytes("1"));
}

TEST(DirExtractEntry, ReadsWhatIsNotInMemoryWithoutKeepingIt) {
    TestFolder folder;
    MakeArchive({{"a", "alpha"}, {"b", "beta"}})->SaveToFile(folder / "L.DIR");
    auto dir = TDirFile::Create(folder / "L.DIR", false);
    EXPECT_EQ(dir->ExtractEntry(folder / "x/", 1), 0);
    EXPECT_EQ(test::ReadFile(folder / "x/b"), test::Bytes("beta"));
    // Extracting a whole archive holds one entry at a time.
    EXPECT_EQ(dir->Files()[0].Data, nullptr);
    EXPECT_EQ(dir->Files()[1].Data, nullptr);
}

TEST(DirExtractEntry, UnsafeNamesAreRefusedAndNothingIsWritten) {
    TestFolder folder;
    const std::string out = folder / "out/";
    for (const std::string name :
         {"", "/etc/evil", "\\evil", "c:evil", "C:\\evil", "..", "../evil", "..\\evil",
          "a/../../evil", "a\\..\\..\\evil", "a/..", "a\\.."}) {
        auto dir = MakeArchive({{name, "bad"}});
        EXPECT_EQ(ErrorOf([&] { dir->ExtractEntry(out, 0); }), "Unsafe entry name: " + name)
            << name;
    }
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{}); // not even the folder was made

    // Dots that are not a ".." component are ordinary names (Windows refuses those ending in a
    // dot, and ":", below).
    auto dir =
        MakeArchive({{"..a", "1"}, {"a..", "2"}, {"x/.../y", "3"}, {"./z", "4"}, {"1:x", "5"}});
    for (int32_t i : {0, 3})
        EXPECT_EQ(dir->ExtractEntry(out, i), 0) << i;
    EXPECT_EQ(test::ReadFile(out + "z"), test::Bytes("4"));
    if (test::OnWindows) return;
    for (int32_t i : {1, 2, 4})
        EXPECT_EQ(dir->ExtractEntry(out, i), 0) << i;
    EXPECT_EQ(test::ReadFile(out + "x/.../y"), test::Bytes("3"));
    EXPECT_EQ(test::ReadFile(out + "1:x"), test::Bytes("5"));
}

// Names that Windows file systems cannot hold: there the data would go to a device or another
// name while the extraction reported success, so they are refused on Windows; elsewhere they
// are ordinary names.
TEST(DirExtractEntry, NamesWindowsCannotHoldAreRefusedThereOnly) {
    TestFolder folder;
    const std::string out = folder / "out/";
    for (const std::string name : {"NUL.bin", "con", "sub\\Aux.txt", "lpt9", "COM1.tar.gz",
                                   "x/prn/y", "dot.", "space ", "ab:c", "ok/trailing./x"}) {
        auto dir = MakeArchive({{name, "data"}});
        if (test::OnWindows) {
            EXPECT_EQ(ErrorOf([&] { dir->WriteEntry(out, 0); }), "Unsafe entry name: " + name)
                << name;
        } else {
            EXPECT_EQ(dir->ExtractEntry(out, 0), 0) << name;
            EXPECT_EQ(test::ReadFile(NativePath(out + name)), test::Bytes("data")) << name;
        }
    }
    if (test::OnWindows) {
        EXPECT_EQ(folder.Entries(), std::vector<std::string>{});
    }
    auto fine = MakeArchive({{"COM10", "1"}, {"NULL.bin", "2"}, {"lpt", "3"}, {"CONSOLE", "4"}});
    for (int32_t i = 0; i < 4; ++i)
        EXPECT_EQ(fine->ExtractEntry(out, i), 0) << i;
    EXPECT_EQ(test::ReadFile(out + "NULL.bin"), test::Bytes("2"));
}

TEST(DirExtractEntry, FailuresComeBackAsResults) {
    TestFolder folder;
    auto dir = MakeArchive({{"name.img", "data"}, {"sub/name.img", "data"}});
    // No folder part at all.
    EXPECT_EQ(ErrorOf([&] { dir->ExtractEntry("", 0); }), "Unable to create directory");
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{});
    // A file where a folder should be: the folder cannot be made, so neither can the file.
    test::WriteFile(folder / "blocker", "I am a file");
    EXPECT_NE(dir->ExtractEntry(folder / "blocker/", 0), 0);
    EXPECT_NE(dir->ExtractEntry(folder.Path() + "blocker\\", 0), 0);
    // A folder where the file should be.
    ASSERT_TRUE(ForceDirectories(folder / "out/name.img"));
    EXPECT_NE(dir->ExtractEntry(folder / "out/", 0), 0);
    EXPECT_EQ(dir->ExtractEntry(folder / "out/", 1), 0);
    EXPECT_EQ(test::ReadFile(folder / "blocker"), test::Bytes("I am a file"));
}

// The default extraction folder is shared with every local user: links found below it must
// never lead a write elsewhere.
TEST(DirExtractEntry, LinksBelowTheFolderAreNeverWrittenThrough) {
    TestFolder folder;
    const std::string out = folder / "out/";
    ForceDirectories(out);
    ForceDirectories(folder / "elsewhere");
    test::WriteFile(folder / "victim", "precious");
    if (!test::MakeLink(folder / "victim", out + "victim", false)) {
        GTEST_SKIP() << "this system makes no links here";
    }
    ASSERT_TRUE(test::MakeLink(folder / "elsewhere", out + "sub", true));
    auto dir = MakeArchive({{"victim", "entry"}, {"sub/file", "entry"}, {"sub\\file", "entry"}});

    EXPECT_EQ(dir->ExtractEntry(out, 0), 0);
    EXPECT_EQ(test::ReadFile(out + "victim"), test::Bytes("entry"));
    EXPECT_EQ(test::ReadFile(folder / "victim"), test::Bytes("precious"));
    for (int32_t i : {1, 2}) {
        EXPECT_NE(dir->ExtractEntry(out, i), 0);
        EXPECT_EQ(ErrorOf([&] { dir->WriteEntry(out, i); }),
                  "Cannot create file " + out + "sub/file");
    }
    EXPECT_TRUE(std::filesystem::is_empty(folder / "elsewhere"));

    // The folder the user names may itself be a link: it is where the user wants the files.
    ASSERT_TRUE(test::MakeLink(folder / "elsewhere", folder / "mine", true));
    EXPECT_EQ(dir->ExtractEntry(folder / "mine/", 0), 0);
    EXPECT_EQ(test::ReadFile(folder / "elsewhere/victim"), test::Bytes("entry"));
}

TEST(DirExtractEntry, AFailedWriteLeavesNoCutShortFile) {
    using test::FullDisk;
    const FullDisk folder;
    if (!folder.Ready()) GTEST_SKIP() << FullDisk::Missing;
    auto dir = MakeArchive({{"big.bin", std::string(2 * FullDisk::Room, 'b')}});
    test::WriteFile(folder / "big.bin", "old");
    {
        const FullDisk::Filled full;
        EXPECT_EQ(ErrorOf([&] { dir->WriteEntry(folder.Path(), 0); }),
                  "Cannot write file " + (folder / "big.bin"));
        EXPECT_EQ(dir->ExtractEntry(folder.Path(), 0), FullDisk::Code);
    }
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"big.bin"});
    EXPECT_EQ(test::ReadFile(folder / "big.bin"), test::Bytes("old"));
}

} // namespace
} // namespace pelfry
