// Paths with both separators and drive prefixes, folders, whole-file reads and writes, and
// replacing a file so that a failed write never loses the old one.
#include "platform/FileUtil.h"
#include "base/Errors.h"

#include "platform/FileStream.h"
#include "support/FullDisk.h"
#include "support/System.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace pelfry {
namespace {

using test::TempDir;
using Bytes = std::vector<uint8_t>;

TEST(Paths, FolderNameAndExtensionWithEitherSeparator) {
    struct Case {
        const char *path, *folder, *name, *ext;
    };
    const Case cases[] = {
        {"c:\\temp\\A.IMG", "c:\\temp\\", "A.IMG", ".IMG"},
        {"/tmp/x/A.SPR.bmp", "/tmp/x/", "A.SPR.bmp", ".bmp"},
        {"dir\\sub/name.spd", "dir\\sub/", "name.spd", ".spd"},
        {"c:A.DIR", "c:", "A.DIR", ".DIR"},
        {"noext", "", "noext", ""},
        {"folder.d/noext", "folder.d/", "noext", ""},
        {"folder.d\\noext", "folder.d\\", "noext", ""},
        {"trailing/", "trailing/", "", ""},
        {"a.b.c", "", "a.b.c", ".c"},
        {"name.", "", "name.", "."},
        {"", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(ExtractFilePath(c.path), c.folder);
        EXPECT_EQ(ExtractFileName(c.path), c.name);
        EXPECT_EQ(ExtractFileExt(c.path), c.ext);
        EXPECT_EQ(ExtractFilePath(c.path) + ExtractFileName(c.path), c.path);
    }
    EXPECT_EQ(NativePath("a\\b/c\\d.IMG"), "a/b/c/d.IMG");
    EXPECT_EQ(IncludeTrailingSeparator("a"), "a/");
    EXPECT_EQ(IncludeTrailingSeparator("a/"), "a/");
    EXPECT_EQ(IncludeTrailingSeparator("a\\"), "a\\");
    EXPECT_EQ(IncludeTrailingSeparator(""), "/");
}

// Names land on one file as the folder compares them.
TEST(Paths, NamesAreComparedAsTheFolderComparesThem) {
    struct Case {
        const char* name;
        NameCase rule;
        const char* key;
    };
    const Case cases[] = {
        {"SUB\\X.IMG", NameCase::Exact, "SUB/X.IMG"},
        {"./SUB//X.IMG", NameCase::Exact, "SUB/X.IMG"},
        {"Data.bin", NameCase::Exact, "Data.bin"},
        {"Data.bin", NameCase::Ascii, "DATA.BIN"},
        {"caf\xC3\xA9", NameCase::Ascii, "CAF\xC3\xA9"},
        {"caf\xC3\xA9", NameCase::Unicode, "CAF\xC3\x89"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NameKey(c.name, c.rule), c.key) << c.name;
}

// A folder as file systems keep names: spellings that `folds` takes alike reach one file; FUSE
// gives every spelling an identity of its own, and reads a file no further than the size it
// had when that spelling was looked up.
class FakeFolder : public NameProbe {
public:
    FakeFolder(NameCase folds, bool fuse, bool holdsAccents)
        : folds_(folds), fuse_(fuse), holdsAccents_(holdsAccents) {}
    std::map<std::string, std::string> files; // by key

    bool Make(const std::string& name) override {
        if (!holdsAccents_ && name.find('\xC3') != std::string::npos) return false;
        return files.emplace(NameKey(name, folds_), "").second;
    }
    bool Identify(const std::string& name, uint64_t& volume, uint64_t& index) override {
        const auto file = files.find(NameKey(name, folds_));
        if (file == files.end()) return false;
        seenSize_[name] = file->second.size();
        volume = 1;
        index = std::hash<std::string>()(fuse_ ? name : file->first);
        return true;
    }
    void Write(const std::string& name, const std::string& bytes) override {
        files[NameKey(name, folds_)] = bytes;
    }
    std::string Read(const std::string& name) override {
        const std::string& bytes = files[NameKey(name, folds_)];
        return fuse_ ? bytes.substr(0, seenSize_[name]) : bytes;
    }
    void Remove(const std::string& name) override { files.erase(NameKey(name, folds_)); }

private:
    NameCase folds_;
    bool fuse_, holdsAccents_;
    std::map<std::string, size_t> seenSize_;
};

// The probe judges by what the folder does, and leaves nothing, not even what a killed probe
// left; a real folder here tells case apart, except on Windows.
TEST(Paths, TheFolderProbeJudgesByWhatTheFolderDoes) {
    struct Case {
        const char* system;
        NameCase folds;
        bool fuse, holdsAccents;
        const char* stray; // another file already there
    };
    const Case cases[] = {
        {"exFAT through FUSE", NameCase::Unicode, true, true, nullptr},
        {"FAT through fusefat", NameCase::Ascii, true, false, nullptr},
        {"Windows, case-folding ext4", NameCase::Unicode, false, true, nullptr},
        {"ext4", NameCase::Exact, false, true, ".PELFRY-PROBE\xC3\xA9"},
    };
    for (const Case& c : cases) {
        FakeFolder folder(c.folds, c.fuse, c.holdsAccents);
        if (c.stray) folder.files[c.stray] = "another file";
        EXPECT_EQ(JudgeNameCase(folder, ".pelfry-probe"), c.folds) << c.system;
        EXPECT_EQ(folder.files.size(), c.stray ? 1u : 0u) << c.system;
    }
    TempDir dir;
    FileStream(dir / ".pelfry-killed12\xC3\xA9", FileStream::Mode::Create); // a killed probe's
    EXPECT_EQ(FolderNameCase(dir.Path()), test::OnWindows ? NameCase::Unicode : NameCase::Exact);
    EXPECT_TRUE(dir.Entries().empty());
}

// Names Windows file systems cannot hold, judged the same on every system; only Windows
// refuses them (FileSystemRefusesName).
TEST(Paths, NamesWindowsCannotHold) {
    for (const char* name : {"CON",         "prn",
                             "Aux.txt",     "nul.tar.gz",
                             "COM1",        "com9.bin",
                             "LPT1",        "lpt9",
                             "NUL ",        "aux .c",
                             "CONIN$",      "conout$.x",
                             "COM\xC2\xB9", "LPT\xC2\xB3.txt",
                             "dir/CON/x",   "dir\\nul",
                             "a:b",         "stream:name",
                             "end.",        "end ",
                             "dir./x",      "x/dir /y"})
        EXPECT_TRUE(IsUnsafeWindowsName(name)) << name;
    for (const char* name : {"CONSOLE", "COM10", "COM0", "LPT", "nul_", "xaux", "NULL.bin",
                             ".hidden", "a..b", "..", "./x", "", "dir/", "caf\xC3\xA9", "x.CON"})
        EXPECT_FALSE(IsUnsafeWindowsName(name)) << name;
#ifdef _WIN32
    EXPECT_TRUE(FileSystemRefusesName("NUL.bin"));
#else
    EXPECT_FALSE(FileSystemRefusesName("NUL.bin"));
#endif
}

TEST(Files, LengthExistenceAndDeletion) {
    TempDir dir;
    const std::string f = dir / "f.bin";
    EXPECT_EQ(FileLength(f), -1);
    EXPECT_FALSE(FileExists(f));
    EXPECT_FALSE(DeleteFile(f));
    WriteWholeFile(f, Bytes(300, 7));
    EXPECT_EQ(FileLength(f), 300);
    EXPECT_TRUE(FileExists(f));
    EXPECT_FALSE(DirectoryExists(f));
    // A folder is no file.
    EXPECT_EQ(FileLength(dir.Path()), -1);
    EXPECT_FALSE(FileExists(dir.Path()));
    EXPECT_TRUE(DirectoryExists(dir.Path()));
    EXPECT_FALSE(DeleteFile(dir.Path()));
    EXPECT_TRUE(DirectoryExists(dir.Path()));
    EXPECT_TRUE(DeleteFile(f));
    EXPECT_FALSE(FileExists(f));
    EXPECT_FALSE(TempFolder().empty());
    EXPECT_EQ(TempFolder().back(), '/');
}

TEST(Files, ForceDirectoriesMakesMissingParents) {
    TempDir dir;
    EXPECT_TRUE(ForceDirectories(dir / "a/b/c"));
    EXPECT_TRUE(DirectoryExists(dir / "a/b/c"));
    EXPECT_TRUE(ForceDirectories(dir / "a/b/c/")); // already there, trailing separator
    // Backslashes separate folders too.
    EXPECT_TRUE(ForceDirectories(dir / "x\\y\\z\\"));
    EXPECT_TRUE(DirectoryExists(dir / "x/y/z"));
    EXPECT_TRUE(ForceDirectories(dir / "p//q"));
    EXPECT_TRUE(DirectoryExists(dir / "p/q"));
    // A regular file in the way: no folder can be made there or below it.
    WriteWholeFile(dir / "file", Bytes{1});
    EXPECT_FALSE(ForceDirectories(dir / "file"));
    EXPECT_FALSE(ForceDirectories(dir / "file/sub"));
    EXPECT_EQ(ReadWholeFile(dir / "file"), Bytes{1});
    EXPECT_FALSE(ForceDirectories(""));
}

TEST(Files, WholeFileReadsAndWrites) {
    TempDir dir;
    Bytes data(70000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7);
    WriteWholeFile(dir / "w", data);
    EXPECT_EQ(ReadWholeFile(dir / "w"), data);
    WriteWholeFile(dir / "w", Bytes{});
    EXPECT_TRUE(ReadWholeFile(dir / "w").empty());
    EXPECT_THROW(ReadWholeFile(dir / "none"), FileOpenError);
    EXPECT_THROW(WriteWholeFile(dir / "none/x", data), FileCreateError);
}

TEST(Files, WriteFileReplacingReplacesAndKeepsPermissions) {
    TempDir dir;
    const std::string f = dir / "target.DIR";
    WriteFileReplacing(f, Bytes{1, 2, 3});
    EXPECT_EQ(ReadWholeFile(f), (Bytes{1, 2, 3}));
#ifndef _WIN32 // permission bits are POSIX's
    ::chmod(f.c_str(), 0640);
#endif
    WriteFileReplacing(f, Bytes{4, 5});
    EXPECT_EQ(ReadWholeFile(f), (Bytes{4, 5}));
#ifndef _WIN32
    struct stat st {};
    ASSERT_EQ(::stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
#endif
    WriteFileReplacing(f, Bytes{});
    EXPECT_EQ(FileLength(f), 0);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"target.DIR"}); // no temporary left behind
    // A name as long as the file system allows still works.
    const std::string longName(255, 'n');
    WriteFileReplacing(dir / longName, Bytes{7});
    EXPECT_EQ(ReadWholeFile(dir / longName), Bytes{7});
}

TEST(Files, WriteFileReplacingThatCannotCreateChangesNothing) {
    TempDir dir;
    // A missing folder, and a path through a regular file.
    const std::string missing = dir / "missing/target.DIR";
    try {
        WriteFileReplacing(missing, Bytes{1});
        FAIL();
    } catch (const FileCreateError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file " + missing);
    }
    WriteWholeFile(dir / "plain", Bytes{9});
    EXPECT_THROW(WriteFileReplacing(dir / "plain/target.DIR", Bytes{1}), FileCreateError);
    EXPECT_EQ(ReadWholeFile(dir / "plain"), Bytes{9});
    // A folder of the target's name stays a folder.
    ForceDirectories(dir / "folder.DIR/inner");
    EXPECT_THROW(WriteFileReplacing(dir / "folder.DIR", Bytes{1}), FileCreateError);
    EXPECT_TRUE(DirectoryExists(dir / "folder.DIR/inner"));
    // A name longer than the file system holds cannot be created either; no new file stays.
    EXPECT_THROW(WriteFileReplacing(dir / std::string(300, 'n'), Bytes{1}), FileCreateError);
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"folder.DIR", "plain"}));
}

TEST(Files, FailedWriteLeavesTheOldFileIntact) {
    using test::FullDisk;
    const FullDisk dir;
    if (!dir.Ready()) GTEST_SKIP() << FullDisk::Missing;
    const std::string f = dir / "game.DIR";
    const Bytes old(1000, 0xAB);
    WriteWholeFile(f, old);
    const Bytes big(2 * FullDisk::Room, 0xCD);
    {
        const FullDisk::Filled full;
        try {
            WriteFileReplacing(f, big);
            FAIL() << "the write should have failed";
        } catch (const FileWriteError& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot write file " + f);
        }
        // A plain stream write reports the same.
        FileStream s(dir / "other", FileStream::Mode::Create);
        EXPECT_THROW(s.WriteAll(big), FileWriteError);
    }
    EXPECT_EQ(ReadWholeFile(f), old);
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"game.DIR", "other"}));
    if (test::OnWindows) return; // the small disk stays full
    // With room again the same call succeeds.
    WriteFileReplacing(f, big);
    EXPECT_EQ(ReadWholeFile(f), big);
}

} // namespace
} // namespace pelfry
