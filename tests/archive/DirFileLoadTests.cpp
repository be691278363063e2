// Reading archives: lookup, loading on demand, entry streams, the cases a reader must take
// in its stride, and damaged files, which must be refused cleanly.
#include "ArchiveTestUtil.h"
#include "TestFolder.h"

#include "archive/DirFileU.h"
#include "base/Bytes.h"
#include "base/Errors.h"
#include "base/Stream.h"
#include "platform/FileStream.h"
#include "support/Fields.h"

#include <gtest/gtest.h>

#include <random>

namespace pelfry {
namespace {

using test::ErrorOf;
using test::MakeArchive;
using test::TestFolder;

TEST(DirLookup, FindEntryIsExactAndStartsWhereAsked) {
    auto dir = MakeArchive({{"x.img", "1"}, {"dup", "2"}, {"X.IMG", "3"}, {"dup", "4"}});
    EXPECT_EQ(dir->FindEntry("x.img", 0), 0);
    EXPECT_EQ(dir->FindEntry("X.IMG", 0), 2);
    EXPECT_EQ(dir->FindEntry("x.im", 0), -1);
    EXPECT_EQ(dir->FindEntry("x.img ", 0), -1);
    EXPECT_EQ(dir->FindEntry("dup", 0), 1);
    EXPECT_EQ(dir->FindEntry("dup", 2), 3);
    EXPECT_EQ(dir->FindEntry("dup", 4), -1); // StartIndex = Count
    EXPECT_EQ(dir->FindEntry("dup", 100), -1);
    EXPECT_EQ(TDirFile().FindEntry("", 0), -1);
}

// The index of names against a scan of the entries, for every name and start, through random
// adds, deletes and entries appended whatever their names, from an archive loaded with names held
// several times.
TEST(DirLookup, TheIndexAgreesWithAScanThroughRandomEdits) {
    TestFolder folder;
    const std::vector<std::string> names = {"a", "b", "c", "d", "e", "missing"};
    for (size_t n = 0; n + 1 < names.size(); ++n)
        test::WriteFile(folder / names[n], names[n]);
    MakeArchive({{"a", "1"}, {"b", "2"}, {"a", "3"}, {"c", "4"}, {"a", "5"}, {"b", "6"}})
        ->SaveToFile(folder / "D.DIR");
    auto dir = TDirFile::Create(folder / "D.DIR", false);
    std::mt19937 random(20);
    for (int step = 0; step < 300; ++step) {
        const uint32_t pick = random() % 20;
        int32_t index = 0;
        if (pick < 9 && dir->Count() > 0)
            dir->DeleteEntry(static_cast<int32_t>(random() % dir->Count()));
        else if (pick < 18)
            dir->AddFile(folder.Path(), names[random() % 5], index);
        else
            dir->AppendEntry(names[random() % 5], nullptr);
        for (const std::string& name : names) {
            for (int32_t start = -1; start <= static_cast<int32_t>(dir->Count()) + 1; ++start) {
                int32_t scan = -1;
                for (size_t i = static_cast<size_t>(std::max(start, 0));
                     i < dir->Count() && scan < 0; ++i)
                    if (dir->Files()[i].Name == name) scan = static_cast<int32_t>(i);
                ASSERT_EQ(dir->FindEntry(name, start), scan)
                    << name << " from " << start << " after step " << step;
            }
        }
    }
}

TEST(DirLoad, DuplicateNamesBothLoad) {
    TestFolder folder;
    MakeArchive({{"same", "first"}, {"same", "second"}})->SaveToFile(folder / "DUP.DIR");
    auto dir = TDirFile::Create(folder / "DUP.DIR", true);
    EXPECT_EQ(test::NamesOf(*dir), (std::vector<std::string>{"same", "same"}));
    int32_t first = dir->FindEntry("same", 0);
    EXPECT_EQ(test::DataOf(dir->Files()[static_cast<size_t>(first)]), "first");
    EXPECT_EQ(test::DataOf(dir->Files()[static_cast<size_t>(dir->FindEntry("same", first + 1))]),
              "second");
}

TEST(DirLoad, EntriesLoadOnDemandThroughTheDescriptorOpenedFirst) {
    TestFolder folder;
    const std::string path = folder / "LAZY.DIR";
    MakeArchive({{"a", "alpha"}, {"b", "beta"}, {"z", ""}})->SaveToFile(path);
    auto dir = TDirFile::Create(path, false);
    for (const FileInfo& info : dir->Files())
        EXPECT_EQ(info.Data, nullptr);
    dir->LoadEntry(1);
    EXPECT_EQ(test::DataOf(dir->Files()[1]), "beta");
    EXPECT_EQ(dir->Files()[0].Data, nullptr);
    // A snapshot reads the entries as they stood, through the same file.
    const auto snapshot = dir->Snapshot();
    dir->DeleteEntry(2);

    // Another program saves a different archive under the name: the entries still come from
    // the file that was read, never from the new one at the old offsets.
    MakeArchive({{"x", "0123456789"}, {"y", "9876543210"}})->SaveToFile(path);
    dir->LoadEntry(0);
    EXPECT_EQ(test::DataOf(dir->Files()[0]), "alpha");
    ASSERT_TRUE(DeleteFile(path));
    EXPECT_EQ(dir->EntryStream(0)->Size(), 5);
    EXPECT_EQ(ReadRest(*snapshot->EntryStream(0)), test::Bytes("alpha"));
    EXPECT_EQ(snapshot->Count(), 3u);
}

TEST(DirLoad, StreamArchivesReadLaterEntriesFromTheirFile) {
    TestFolder folder;
    const std::string path = folder / "LAZY.DIR";
    MakeArchive({{"a", "alpha"}, {"b", "beta"}, {"z", ""}})->SaveToFile(path);
    std::unique_ptr<TDirFile> dir;
    {
        FileStream file(path, FileStream::Mode::OpenRead);
        dir = TDirFile::CreateFromStream(file, path, false);
    }
    dir->LoadEntry(1);
    // Once the file is gone, what was loaded stays; what was not cannot be read.
    ASSERT_TRUE(DeleteFile(path));
    dir->LoadEntry(1);
    EXPECT_EQ(ErrorOf([&] { dir->LoadEntry(0); }), "Cannot open file " + path);
    // A size-0 entry needs no file.
    auto empty = dir->EntryStream(2);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->Size(), 0);
    // Nor does a save fail half-way: it stops before touching its target.
    EXPECT_EQ(ErrorOf([&] { dir->SaveToFile(folder / "OUT.DIR"); }), "Cannot open file " + path);
    EXPECT_FALSE(FileExists(folder / "OUT.DIR"));
    EXPECT_EQ(dir->Count(), 3u);
    EXPECT_EQ(test::DataOf(dir->Files()[1]), "beta");
}

TEST(DirLoad, MissingFileCannotBeOpened) {
    TestFolder folder;
    EXPECT_EQ(ErrorOf([&] { TDirFile::Create(folder / "NONE.DIR", true); }),
              "Cannot open file " + (folder / "NONE.DIR"));
    EXPECT_EQ(ErrorOf([&] { TDirFile::Create(folder.Path(), true); }),
              "Not a regular file: " + folder.Path());
}

TEST(DirEntryStream, ViewsTheEntryAndOutlivesIt) {
    TestFolder folder;
    const std::string path = folder / "S.DIR";
    MakeArchive({{"a.img", "ABCDEFG"}, {"b.spr", "xyz"}, {"c", "c"}})->SaveToFile(path);
    test::WriteFile(folder / "new", "replacement");

    auto dir = TDirFile::Create(path, false);
    EXPECT_EQ(dir->EntryStream(-1), nullptr);
    EXPECT_EQ(dir->EntryStream(3), nullptr);
    auto a = dir->EntryStream(0);
    auto b = dir->EntryStream(1);
    auto c = dir->EntryStream(2);
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(a->Size(), 7);
    EXPECT_EQ(a->Position(), 0);

    int32_t index = -1;
    dir->AddFile(folder.Path(), "new", index); // appends
    test::WriteFile(folder / "a.img", "replacement");
    dir->AddFile(folder.Path(), "a.img", index);
    EXPECT_EQ(index, 0);
    dir->DeleteEntry(1);
    dir.reset();

    char buffer[16] = {};
    EXPECT_EQ(a->Read(buffer, 16), 7);
    EXPECT_EQ(std::string(buffer, 7), "ABCDEFG");
    EXPECT_EQ(b->Read(buffer, 16), 3);
    EXPECT_EQ(std::string(buffer, 3), "xyz");
    EXPECT_EQ(c->Read(buffer, 16), 1);
}

// What tells an archive from a damaged or foreign file, and the oddities that still load.
TEST(DirLoad, ForeignAndCutShortFilesAreRefusedOddHeadersLoad) {
    const std::vector<uint8_t> good =
        MakeArchive({{"a.img", "0123456789"}, {"b", "xyz"}})->SaveToBytes();
    std::vector<uint8_t> records;
    test::PutRecord(records, 0, 12, 1, "one", 1);
    const std::vector<uint8_t> raw = test::RawDir(13, test::Bytes("!"), records);
    auto withByte = [](std::vector<uint8_t> bytes, size_t at, uint8_t value) {
        bytes[at] = value;
        return bytes;
    };
    auto withU32 = [](std::vector<uint8_t> bytes, size_t at, uint32_t value) {
        SetU32(bytes, at, value);
        return bytes;
    };
    auto plus = [](std::vector<uint8_t> bytes, const std::string& tail) {
        bytes.insert(bytes.end(), tail.begin(), tail.end());
        return bytes;
    };
    std::vector<uint8_t> noRecords = {'D', 'I', 'R', 0x1A, 0, 0, 0, 0};
    PutU32(noRecords, 100);
    noRecords.resize(100 + 4100, 0);
    std::vector<uint8_t> far = {'D', 'I', 'R', 0x1A, 0, 0, 0, 0};
    PutU32(far, 0xFFFFFFFFu - 4100);
    const std::string text = "These are my notes, not an archive.\nSecond line of them.\n";

    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        int entries; // -1: refused
    };
    const std::vector<Case> cases = {
        {"an empty file", {}, 0},
        {"the empty archive", MakeArchive({})->SaveToBytes(), 0},
        {"a directory block that just fits", noRecords, 0},
        {"a directory block past the end", far, -1},
        {"a text file", test::Bytes(text), -1},
        {"a sprite-like file", plus(test::Bytes("SPR\x1A"), std::string(5000, 'x')), -1},
        {"a size field larger than the file",
         withU32(good, 4, static_cast<uint32_t>(good.size() + 1)), -1},
        {"a size field smaller than the file", withU32(good, 4, 12), 2},
        {"a wrong magic with records in order", withByte(good, 0, 'X'), 2},
        {"a wrong magic with bytes after the records", plus(withByte(good, 0, 'X'), "junk"), -1},
        {"no magic, the last name cut by the end",
         withByte(std::vector<uint8_t>(raw.begin(), raw.end() - 1), 1, 'X'), -1},
        {"the magic, the last name cut by the end",
         withU32(std::vector<uint8_t>(raw.begin(), raw.end() - 1), 4, 0), 1},
        {"zeros appended to an archive", plus(good, std::string(4096, '\0')), -1},
        {"a file of zeros", std::vector<uint8_t>(8196, 0), -1},
    };
    TestFolder folder;
    for (const Case& c : cases) {
        const std::string path = folder / "F.DIR";
        test::WriteFile(path, c.bytes);
        for (bool loadAll : {true, false}) {
            try {
                EXPECT_EQ(static_cast<int>(TDirFile::Create(path, loadAll)->Count()), c.entries)
                    << c.what;
            } catch (const InvalidDirFileError& e) {
                EXPECT_EQ(c.entries, -1) << c.what;
                EXPECT_EQ(std::string(e.what()), "Invalid directory file " + path);
                EXPECT_FALSE(e.Reason().empty());
            }
        }
        EXPECT_EQ(test::ReadFile(path), c.bytes) << c.what; // a refused file is left as it was
    }
    // Zeros read as records of entries without a name, which no archive holds.
    MemoryStream zeros(std::vector<uint8_t>(8196, 0));
    try {
        TDirFile::CreateFromStream(zeros, "Z.DIR", true);
        ADD_FAILURE();
    } catch (const InvalidDirFileError& e) {
        EXPECT_NE(e.Reason().find("entry 1 has no name"), std::string::npos) << e.Reason();
    }
    // Every cut of a saved archive is refused, wherever it falls.
    for (size_t length = 1; length < good.size(); ++length) {
        MemoryStream stream(
            std::vector<uint8_t>(good.begin(), good.begin() + static_cast<long>(length)));
        EXPECT_THROW(TDirFile::CreateFromStream(stream, "cut.DIR", true), InvalidDirFileError)
            << length;
    }
}

TEST(DirLoad, DataPastTheEndIsZeroFilled) {
    std::vector<uint8_t> records;
    test::PutRecord(records, 0, 12, 2, "in", 2);
    const uint32_t d = 14;
    const uint32_t length = d + 4100 + 16 + 20;
    // Starts 8 bytes before the end (at the name "tail" and its NULs) and runs 10 bytes.
    test::PutRecord(records, 0, length - 8, 10, "tail", 4);
    std::vector<uint8_t> bytes = test::RawDir(d, test::Bytes("ok"), records);
    ASSERT_EQ(bytes.size(), length);
    TestFolder folder;
    test::WriteFile(folder / "T.DIR", bytes);
    for (bool loadAll : {true, false}) {
        auto dir = TDirFile::Create(folder / "T.DIR", loadAll);
        ASSERT_EQ(dir->Count(), 2u);
        auto stream = dir->EntryStream(1);
        std::vector<uint8_t> got = ReadRest(*stream);
        std::vector<uint8_t> want = {'t', 'a', 'i', 'l', 0, 0, 0, 0, 0, 0};
        EXPECT_EQ(got, want);
    }
    // One that starts beyond the end altogether.
    SetU32(bytes, bytes.size() - 16, length + 1000);
    test::WriteFile(folder / "T.DIR", bytes);
    auto dir = TDirFile::Create(folder / "T.DIR", true);
    EXPECT_EQ(*dir->Files()[1].Data, std::vector<uint8_t>(10, 0));
}

TEST(DirLoad, NameWindowStopsAtThirtyBytesOrTheEndOfTheFile) {
    std::vector<uint8_t> records;
    // A 30-byte name fills its window with no NUL: the reader takes all 30 bytes and steps
    // 12 + 28 + 4 to the next record.
    test::PutRecord(records, 0, 12, 1, std::string(30, 'n'), 2);
    // The file ends inside the last name: "abc" without NULs.
    test::PutRecord(records, 0, 12, 1, "abc", 0);
    std::vector<uint8_t> bytes = test::RawDir(13, test::Bytes("!"), records);
    TestFolder folder;
    test::WriteFile(folder / "W.DIR", bytes);
    auto dir = TDirFile::Create(folder / "W.DIR", true);
    EXPECT_EQ(test::NamesOf(*dir), (std::vector<std::string>{std::string(30, 'n'), "abc"}));
}

TEST(DirLoad, DamagedFilesAreRefused) {
    TestFolder folder;
    const std::string path = folder / "BAD.DIR";
    auto refused = [&](const std::vector<uint8_t>& bytes) {
        test::WriteFile(path, bytes);
        std::string loadAll = ErrorOf([&] { TDirFile::Create(path, true); });
        std::string records = ErrorOf([&] { TDirFile::Create(path, false); });
        EXPECT_EQ(loadAll, records);
        return loadAll;
    };
    const std::string invalid = "Invalid directory file " + path;

    // 1 to 11 bytes: DirOffset is incomplete.
    std::vector<uint8_t> header = {'D', 'I', 'R', 0x1A, 0x40, 0x10, 0, 0, 12, 0, 0, 0};
    for (size_t n = 1; n < 12; ++n)
        EXPECT_EQ(
            refused(std::vector<uint8_t>(header.begin(), header.begin() + static_cast<long>(n))),
            invalid)
            << n;

    // D + 4100 beyond the 32-bit range.
    for (uint32_t d : {0xFFFFFFFFu, 0xFFFFFFFFu - 4099}) {
        std::vector<uint8_t> bytes(header.begin(), header.begin() + 8);
        PutU32(bytes, d);
        bytes.resize(5000, 0);
        EXPECT_EQ(refused(bytes), invalid) << d;
    }

    // A record whose Next, Offset and Size run past the end.
    std::vector<uint8_t> records;
    test::PutRecord(records, 0, 12, 0, "ok", 2);
    records.insert(records.end(), 11, 0);
    EXPECT_EQ(refused(test::RawDir(12, {}, records)), invalid);
    records.resize(records.size() - 10);
    EXPECT_EQ(refused(test::RawDir(12, {}, records)), invalid);

    // A Size larger than the file.
    records.clear();
    test::PutRecord(records, 0, 12, 4200, "big", 1);
    EXPECT_EQ(refused(test::RawDir(12, {}, records)), invalid);
    // Sizes that each fit but together claim more than the file holds.
    records.clear();
    for (int i = 0; i < 3; ++i)
        test::PutRecord(records, 0, 12, 2000, "part", 4);
    std::vector<uint8_t> overlapping = test::RawDir(12, {}, records);
    ASSERT_LT(overlapping.size(), 6000u);
    EXPECT_EQ(refused(overlapping), invalid);
    // ... while the same blocks within the length load (each is the file's own bytes).
    records.resize(2 * 20);
    EXPECT_EQ(refused(test::RawDir(12, {}, records)), "(no error)");
}

TEST(DirLoad, StreamsLoadLikeFiles) {
    TestFolder folder;
    auto original = MakeArchive({{"one", "1"}, {"two", "22"}});
    MemoryStream stream(original->SaveToBytes());
    stream.Seek(77, SeekOrigin::Begin);
    auto dir = TDirFile::CreateFromStream(stream, "memory.DIR", true);
    EXPECT_EQ(dir->FileName, "memory.DIR");
    EXPECT_EQ(test::NamesOf(*dir), (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(test::DataOf(dir->Files()[1]), "22");
    MemoryStream shortStream(std::vector<uint8_t>{'D', 'I', 'R'});
    EXPECT_EQ(ErrorOf([&] { TDirFile::CreateFromStream(shortStream, "s.DIR", true); }),
              "Invalid directory file s.DIR");
}

// Mutated archives: each must load or be refused with an Error, never crash, hang or ask for
// more memory than the file's size (the sanitizers watch the rest).
TEST(DirLoad, MutatedArchivesLoadOrAreRefused) {
    auto source =
        MakeArchive({{"a.img", "0123456789"}, {"b", ""}, {"ccc.spr", "xyz"}, {"a.img", "q"}});
    const std::vector<uint8_t> good = source->SaveToBytes();
    const size_t d = GetU32(&good[8]);
    std::mt19937 random(12345);
    int loaded = 0, refusedCount = 0;
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> bytes = good;
        const int changes = 1 + static_cast<int>(random() % 4);
        for (int c = 0; c < changes; ++c) {
            // Mostly hit the header and the records, where the reader looks.
            size_t at =
                random() % 3 == 0 ? random() % 12 : d + 4100 + random() % (bytes.size() - d - 4100);
            bytes[at] = static_cast<uint8_t>(random());
        }
        if (random() % 5 == 0) bytes.resize(random() % bytes.size());
        MemoryStream stream(bytes);
        try {
            auto dir = TDirFile::CreateFromStream(stream, "m.DIR", true);
            uint64_t total = 0;
            for (const FileInfo& info : dir->Files()) {
                total += info.Size;
                EXPECT_LE(info.Name.size(), 30u);
            }
            EXPECT_LE(total, bytes.size());
            ++loaded;
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()), "Invalid directory file m.DIR");
            ++refusedCount;
        }
    }
    EXPECT_GT(loaded, 0);
    EXPECT_GT(refusedCount, 0);
}

} // namespace
} // namespace pelfry
