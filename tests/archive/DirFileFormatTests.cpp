// The .DIR layout byte by byte: the name hash, what the writer puts where, and that the reader
// gets back exactly what the writer wrote.
#include "ArchiveTestUtil.h"
#include "TestFolder.h"

#include "archive/DirFileU.h"
#include "base/Bytes.h"
#include "support/Fields.h"

#include <gtest/gtest.h>

namespace pelfry {
namespace {

using test::Entry;
using test::MakeArchive;
using test::TestFolder;

TEST(NameHash, RotatesWithinTenBitsAndAddsEachByte) {
    EXPECT_EQ(NameHash(""), 0u);
    EXPECT_EQ(NameHash("a"), 97u);
    EXPECT_EQ(NameHash("abc"), 683u);
    EXPECT_EQ(NameHash("ABC"), 459u);  // no case folding
    EXPECT_EQ(NameHash("abcd"), 443u); // bit 9 rotates round to bit 0
    EXPECT_EQ(NameHash("x.img"), 983u);
    EXPECT_EQ(NameHash("yy.spr"), 836u);
    EXPECT_EQ(NameHash("\xff"), 255u); // bytes count unsigned
    // "ab" and "b`" share a bucket: 97*2+98 = 98*2+96.
    EXPECT_EQ(NameHash("ab"), 292u);
    EXPECT_EQ(NameHash("b`"), 292u);
    for (const char* name :
         {"some\\long\\path\\TO\\A_FILE_NAME.SPR", "\x80\x90\xa0\xb0\xc0\xd0\xe0\xf0"})
        EXPECT_LT(NameHash(name), 1024u);
}

// The two-entry example: x.img (3 bytes) and yy.spr (5 bytes), 4161 bytes in all.
std::vector<uint8_t> TwoEntryExample() {
    std::vector<uint8_t> e = {'D', 'I', 'R', 0x1A};
    PutU32(e, 4161);
    PutU32(e, 21);
    for (char c : std::string("abc"))
        e.push_back(static_cast<uint8_t>(c)); // 12..14
    e.push_back(0x1A);                        // 15
    for (char c : std::string("12345"))
        e.push_back(static_cast<uint8_t>(c)); // 16..20
    PutU32(e, 10);                            // 21
    std::vector<uint32_t> buckets(1024, 0);
    buckets[983] = 4100;
    buckets[836] = 4120;
    for (uint32_t b : buckets)
        PutU32(e, b);                          // 25..4120
    test::PutRecord(e, 0, 12, 3, "x.img", 3);  // 4121
    test::PutRecord(e, 0, 16, 5, "yy.spr", 2); // 4141
    return e;
}

TEST(DirLayout, TwoEntryExampleIsExactToTheByte) {
    TestFolder folder;
    auto dir = MakeArchive({{"x.img", "abc"}, {"yy.spr", "12345"}});
    const std::vector<uint8_t> expected = TwoEntryExample();
    ASSERT_EQ(expected.size(), 4161u);
    EXPECT_EQ(dir->SaveToBytes(), expected);
    EXPECT_TRUE(dir->SaveToFile(folder / "TWO.DIR"));
    EXPECT_EQ(test::ReadFile(folder / "TWO.DIR"), expected);

    // The writer's bookkeeping: offsets in the file, record positions relative to D.
    EXPECT_EQ(dir->Files()[0].Offset, 12u);
    EXPECT_EQ(dir->Files()[1].Offset, 16u);
    EXPECT_EQ(dir->Files()[0].RecordPos, 4100);
    EXPECT_EQ(dir->Files()[1].RecordPos, 4120);
    EXPECT_EQ(dir->Files()[0].RecordSize, 20);
    EXPECT_EQ(dir->Files()[1].RecordSize, 20);

    for (bool loadAll : {true, false}) {
        auto loaded = TDirFile::Create(folder / "TWO.DIR", loadAll);
        EXPECT_EQ(test::NamesOf(*loaded), (std::vector<std::string>{"x.img", "yy.spr"}));
        EXPECT_EQ(loaded->Files()[0].RecordPos, 4121);
        EXPECT_EQ(loaded->Files()[1].RecordPos, 4141);
        EXPECT_EQ(loaded->Files()[1].Offset, 16u);
        EXPECT_EQ(loaded->Files()[1].Size, 5u);
        EXPECT_EQ(loaded->Files()[0].Data != nullptr, loadAll);
        loaded->LoadEntry(1);
        EXPECT_EQ(test::DataOf(loaded->Files()[1]), "12345");
        EXPECT_EQ(loaded->FileName, folder / "TWO.DIR");
    }
}

TEST(DirLayout, EmptyArchiveIs4112Bytes) {
    TestFolder folder;
    TDirFile empty;
    EXPECT_EQ(empty.Count(), 0u);
    EXPECT_TRUE(empty.FileName.empty());
    std::vector<uint8_t> expected = {'D', 'I', 'R', 0x1A};
    PutU32(expected, 4112);
    PutU32(expected, 12);
    PutU32(expected, 10);
    expected.resize(4112, 0);
    EXPECT_EQ(empty.SaveToBytes(), expected);
    empty.SaveToFile(folder / "EMPTY.DIR");
    EXPECT_EQ(test::ReadFile(folder / "EMPTY.DIR"), expected);
    for (bool loadAll : {true, false}) {
        auto loaded = TDirFile::Create(folder / "EMPTY.DIR", loadAll);
        EXPECT_EQ(loaded->Count(), 0u);
        std::vector<std::string> names = {"left over"};
        loaded->ListEntries(names);
        EXPECT_TRUE(names.empty());
        EXPECT_EQ(loaded->FindEntry("x", 0), -1);
        EXPECT_EQ(loaded->EntryStream(0), nullptr);
    }
}

TEST(DirLayout, OneEntryHasNoSeparatorAndZeroSizeEntriesKeepTheirs) {
    auto one = MakeArchive({{"a", "hello"}});
    std::vector<uint8_t> bytes = one->SaveToBytes();
    EXPECT_EQ(GetU32(&bytes[8]), 12u + 5u); // D right after the data
    EXPECT_EQ(bytes.size(), 17u + 4100u + 16u);

    auto middle = MakeArchive({{"a", "xy"}, {"empty", ""}, {"b", "z"}});
    bytes = middle->SaveToBytes();
    // a at 12-13, separator 14, the empty block at 15, its separator 15, b at 16.
    EXPECT_EQ(middle->Files()[1].Offset, 15u);
    EXPECT_EQ(middle->Files()[2].Offset, 16u);
    EXPECT_EQ(bytes[14], 0x1A);
    EXPECT_EQ(bytes[15], 0x1A);
    EXPECT_EQ(bytes[16], 'z');
    EXPECT_EQ(GetU32(&bytes[8]), 17u);
    EXPECT_EQ(GetU32(&bytes[4]), bytes.size());
}

TEST(DirLayout, NameFieldsArePaddedWithOneToFourNuls) {
    const std::string name30 = "abcdefghijklmnopqrstuvwxyz.SPR";
    ASSERT_EQ(name30.size(), 30u);
    auto dir = MakeArchive({{"abcd", "1"}, {name30, "2"}, {"abc", "3"}});
    std::vector<uint8_t> bytes = dir->SaveToBytes();
    const size_t records = GetU32(&bytes[8]) + 4100;
    // "abcd": 12 fixed bytes, 4 name bytes, 4 NULs.
    EXPECT_EQ(std::string(bytes.begin() + records + 12, bytes.begin() + records + 16), "abcd");
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + records + 16, bytes.begin() + records + 20),
              std::vector<uint8_t>(4, 0));
    // The 30-byte name: a 32-byte field, the name and two NULs.
    const size_t second = records + 20;
    EXPECT_EQ(dir->Files()[1].RecordSize, 44);
    EXPECT_EQ(std::string(bytes.begin() + second + 12, bytes.begin() + second + 42), name30);
    EXPECT_EQ(bytes[second + 42], 0);
    EXPECT_EQ(bytes[second + 43], 0);
    // "abc": one NUL.
    EXPECT_EQ(dir->Files()[2].RecordSize, 16);
    EXPECT_EQ(bytes.size(), second + 44 + 16);

    TestFolder folder;
    dir->SaveToFile(folder / "NAMES.DIR");
    auto loaded = TDirFile::Create(folder / "NAMES.DIR", true);
    EXPECT_EQ(test::NamesOf(*loaded), (std::vector<std::string>{"abcd", name30, "abc"}));
    EXPECT_EQ(test::DataOf(loaded->Files()[2]), "3");
}

TEST(DirLayout, SharedBucketsChainInEntryOrder) {
    // "ab" and "b`" hash to 292; "q" sits between them in its own bucket.
    auto dir = MakeArchive({{"ab", "1"}, {"q", "2"}, {"b`", "3"}, {"ab", "4"}});
    std::vector<uint8_t> bytes = dir->SaveToBytes();
    const size_t d = GetU32(&bytes[8]);
    auto head = [&](uint32_t bucket) { return GetU32(&bytes[d + 4 + 4 * bucket]); };
    auto next = [&](uint32_t relative) { return GetU32(&bytes[d + relative]); };
    EXPECT_EQ(head(292), 4100u);              // "ab", the lowest index of the chain
    EXPECT_EQ(next(4100), 4100u + 16u + 16u); // then "b`" (records: 16, 16, 16, 16 bytes)
    EXPECT_EQ(next(4132), 4148u);             // then the second "ab"
    EXPECT_EQ(next(4148), 0u);
    EXPECT_EQ(head(NameHash("q")), 4116u);
    EXPECT_EQ(next(4116), 0u);
    uint32_t used = 0;
    for (uint32_t b = 0; b < 1024; ++b)
        used += head(b) != 0;
    EXPECT_EQ(used, 2u);
    EXPECT_EQ(dir->Files()[0].Next, 4132);
    EXPECT_EQ(dir->Files()[2].Next, 4148);
    EXPECT_EQ(dir->Files()[3].Next, 0);
}

TEST(DirLayout, WhatIsSavedLoadsBackTheSame) {
    TestFolder folder;
    std::vector<Entry> entries;
    std::string blob;
    for (int i = 0; i < 300; ++i) {
        blob.push_back(static_cast<char>(i * 7));
        // Every byte value but NUL in names, sizes from 0 up.
        std::string name = "E" + std::to_string(i % 250) + static_cast<char>(1 + i % 255) + ".IMG";
        entries.push_back(
            {name, i % 17 == 0 ? std::string() : blob.substr(0, static_cast<size_t>(i))});
    }
    entries.push_back({std::string(30, '\x80'), "last"});
    auto dir = MakeArchive(entries);
    dir->SaveToFile(folder / "MANY.DIR");
    const std::vector<uint8_t> first = test::ReadFile(folder / "MANY.DIR");

    auto loaded = TDirFile::Create(folder / "MANY.DIR", true);
    ASSERT_EQ(loaded->Count(), entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(loaded->Files()[i].Name, entries[i].first) << i;
        EXPECT_EQ(test::DataOf(loaded->Files()[i]), entries[i].second) << i;
        EXPECT_EQ(loaded->Files()[i].Size, entries[i].second.size()) << i;
    }
    // Saving what was loaded, over its own file, reproduces the file exactly.
    loaded->SaveToFile(folder / "MANY.DIR");
    EXPECT_EQ(test::ReadFile(folder / "MANY.DIR"), first);
}

TEST(DirLayout, MagicFileSizeAndBucketsAreNotRead) {
    std::vector<uint8_t> records;
    test::PutRecord(records, 0x12345678, 12, 2, "ok", 2);
    std::vector<uint8_t> bytes = test::RawDir(14, test::Bytes("hi"), records, 0xEE);
    bytes[0] = 'X';
    TestFolder folder;
    test::WriteFile(folder / "ODD.DIR", bytes);
    auto dir = TDirFile::Create(folder / "ODD.DIR", true);
    ASSERT_EQ(dir->Count(), 1u);
    EXPECT_EQ(dir->Files()[0].Name, "ok");
    EXPECT_EQ(dir->Files()[0].Next, 0x12345678);
    EXPECT_EQ(test::DataOf(dir->Files()[0]), "hi");
}

} // namespace
} // namespace pelfry
