// The .SPR format byte by byte: the writer's layout in both forms, slot grouping, what the reader
// accepts and refuses at the header, rendering frames, and saves that change or keep the sprite.
#include "SpriteTestUtil.h"

#include "image/ImgFileU.h"
#include "picture/Bitmap.h"
#include "support/Fields.h"

#include <gtest/gtest.h>

using namespace pelfry;
using namespace sprtest;

namespace {

std::vector<uint8_t> Slice(const std::vector<uint8_t>& v, size_t from, size_t n) {
    return std::vector<uint8_t>(v.begin() + static_cast<long>(from),
                                v.begin() + static_cast<long>(from + n));
}

} // namespace

TEST(SprLayout, CompressedFileOfFourColours) {
    TSprFile s = MakeSprite(3, 2, 4);
    s.FrameRate = 0x0102;
    s.Flags = 0x0304;
    AddFrame(s, MakeFrame(0, 0, 3, 2, [](int x, int) { return x + 1; })); // 1 2 3 / 1 2 3
    std::vector<uint8_t> bytes = s.SaveToBytes(true);

    // One line of bytes per field, as the file lays them out.
    // clang-format off
    const std::vector<uint8_t> expected = {
        'S', 'P', 'R', 0x1A, 67, 0, 0, 0, // magic, file size
        8, 0xC0, 3, 0,                   // depth, compressed, K = 3, reserved
        10, 21, 254, 20, 41, 253, 30, 61, 252, // palette entries 1 to 3
        1, 0,                            // slot count at 21
        0,                               // one fill byte at 23
        0, 0, 0, 0, 0, 0, 0, 0, 6, 0, 0, 0, // slot table at 24: offset 0, reserved, unpacked 6
        0, 0,                            // slot flags
        2, 1, 4, 3, 3, 0, 2, 0, 1, 0,    // frame rate, flags, width, height, frame count
        0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 2, 0, // frame 0: offset 0, slot 0, box (0,0)-(3,2)
        0x01, 0x02, 0x03, 0x88, 0x02, 0x80, 0x00, // 1 2 3, then 3 bytes from 3 back, terminator
    };
    // clang-format on
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(s.SlotCount(), 1);
    ASSERT_EQ(s.Slots.size(), 1u);
    EXPECT_EQ(s.Slots[0].PackedSize(), 7u);

    TSprFile back;
    ASSERT_EQ(LoadBytes(back, bytes), 1);
    EXPECT_EQ(back.SlotCount(), 1);
    EXPECT_EQ(back.ColourCount(), 4);
    EXPECT_EQ(back.Palette, s.Palette);
    EXPECT_EQ(back.Frames[0].Pixels, s.Frames[0].Pixels);
    EXPECT_EQ(back.FrameRate, 0x0102);
    EXPECT_EQ(back.Flags, 0x0304);
    EXPECT_EQ(back.FileSize, 67u);
}

TEST(SprLayout, UncompressedFileOfFiveColoursAndTwoFrames) {
    TSprFile s = MakeSprite(7, 6, 5);
    s.FrameRate = 25;
    s.Flags = 1;
    AddFrame(s, MakeFrame(1, 2, 4, 4, [](int x, int y) { return 1 + x + 3 * y; })); // 3 x 2
    AddFrame(s, SolidFrame(6, 5, 7, 6, 4));                                         // 1 x 1
    // Values left from an earlier compressed layout must not leak into the file.
    s.Frames[1].Slot = 3;
    s.Frames[1].Offset = 99;

    TempDir dir;
    const std::string path = dir / "two.spr";
    ASSERT_EQ(s.SaveToFile(path, false), 67);
    const std::vector<uint8_t> bytes = ReadWholeFile(path);
    // One line of bytes per field, as the file lays them out.
    // clang-format off
    const std::vector<uint8_t> expected = {
        'S', 'P', 'R', 0x1A, 67, 0, 0, 0, 8, 0x80, 4, 0,
        10, 21, 254, 20, 41, 253, 30, 61, 252, 40, 81, 251, // palette entries 1 to 4
        0, 0,                                               // slot count at 24
        25, 0, 1, 0, 7, 0, 6, 0, 2, 0,                      // at 26, 28, 30, 32, 34
        0, 0, 0, 0, 1, 0, 2, 0, 4, 0, 4, 0,                 // frame table at 36
        6, 0, 0, 0, 6, 0, 5, 0, 7, 0, 6, 0,
        1, 2, 3, 4, 5, 6,                                   // frame 0 at 60
        4,                                                  // frame 1 at 66
    };
    // clang-format on
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(s.Frames[1].Offset, 6u);
    EXPECT_EQ(s.Frames[1].Slot, 0);

    TSprFile back;
    ASSERT_EQ(back.LoadFromFile(path), 2);
    EXPECT_EQ(back.SlotCount(), 0);
    EXPECT_EQ(back.Frames[0].Pixels, s.Frames[0].Pixels);
    EXPECT_EQ(back.Frames[1].Pixels, std::vector<uint8_t>{4});
    EXPECT_EQ(back.Frames[1].Left, 6);
    EXPECT_EQ(back.Frames[1].Bottom, 6);
}

TEST(SprLayout, FrameTableFollowsFrameCountForEveryColourCount) {
    // The writer never puts fill before an uncompressed frame table, whatever the palette's
    // length, so every file it writes reads back.
    for (uint16_t colours : {1, 2, 3, 4, 5, 128, 256}) {
        TSprFile s = MakeSprite(5, 4, colours);
        AddFrame(s, SolidFrame(1, 1, 4, 3, static_cast<uint8_t>(colours - 1)));
        AddFrame(s, SolidFrame(0, 0, 5, 4, 0));
        std::vector<uint8_t> bytes = s.SaveToBytes(false);
        const size_t table = 12 + 3u * (colours - 1) + 12;
        EXPECT_EQ(bytes.size(), table + 24 + 6 + 20) << colours;
        EXPECT_EQ(GetU16(bytes.data() + table - 2), 2) << "frame count right before the table";
        EXPECT_EQ(bytes[table + 4], 1) << "frame 0's Left";
        TSprFile back;
        ASSERT_EQ(LoadBytes(back, bytes), 2) << colours;
        EXPECT_EQ(back.ColourCount(), colours);
        EXPECT_EQ(back.Frames[0].Pixels, s.Frames[0].Pixels);
        EXPECT_EQ(back.Frames[1].Pixels, s.Frames[1].Pixels);
    }
}

TEST(SprSlots, GroupsFramesBelowTheLimit) {
    TSprFile s = MakeSprite(100, 100, 8);
    AddFrame(s, SolidFrame(0, 0, 100, 100, 1)); // 10000
    AddFrame(s, SolidFrame(0, 0, 100, 70, 2));  // 7000
    AddFrame(s, SolidFrame(0, 0, 100, 50, 3));  // 5000
    std::vector<uint8_t> bytes = s.SaveToBytes(true);
    ASSERT_EQ(s.SlotCount(), 2);
    EXPECT_EQ(s.Slots[0].UnpackedSize(), 10000u);
    EXPECT_EQ(s.Slots[1].UnpackedSize(), 12000u);
    EXPECT_EQ(s.Frames[0].Slot, 0);
    EXPECT_EQ(s.Frames[0].Offset, 0u);
    EXPECT_EQ(s.Frames[1].Slot, 1);
    EXPECT_EQ(s.Frames[1].Offset, 0u);
    EXPECT_EQ(s.Frames[2].Slot, 1);
    EXPECT_EQ(s.Frames[2].Offset, 7000u);
    EXPECT_EQ(s.Slots[1].Offset, s.Slots[0].PackedSize()) << "packed blocks back to back";
    std::vector<uint8_t> unpacked1(12000, 2);
    std::fill(unpacked1.begin() + 7000, unpacked1.end(), 3);
    EXPECT_EQ(s.Slots[1].Unpacked, unpacked1);

    TSprFile back;
    ASSERT_EQ(LoadBytes(back, bytes), 3);
    ASSERT_EQ(back.SlotCount(), 2);
    EXPECT_EQ(back.Slots[1].UnpackedSize(), 12000u);
    for (int f = 0; f < 3; ++f)
        EXPECT_EQ(back.Frames[f].Pixels, s.Frames[f].Pixels) << f;
    EXPECT_EQ(back.Frames[2].Offset, 7000u);
}

TEST(SprSlots, ReachingTheLimitOpensANewSlotAndABigFrameStandsAlone) {
    TSprFile two = MakeSprite(128, 64, 3);
    AddFrame(two, SolidFrame(0, 0, 128, 64, 1)); // 8192
    AddFrame(two, SolidFrame(0, 0, 128, 64, 2)); // 8192 + 8192 reaches 16384
    two.BuildSlots(16384);
    ASSERT_EQ(two.SlotCount(), 2);
    EXPECT_EQ(two.Slots[0].UnpackedSize(), 8192u);
    EXPECT_EQ(two.Slots[1].UnpackedSize(), 8192u);
    EXPECT_EQ(two.Frames[1].Slot, 1);

    TSprFile one = MakeSprite(200, 100, 3);
    AddFrame(one, SolidFrame(0, 0, 200, 100, 1)); // 20000
    one.SaveToBytes(true);
    ASSERT_EQ(one.SlotCount(), 1);
    EXPECT_EQ(one.Slots[0].UnpackedSize(), 20000u);

    // A big frame after small ones closes their slot and stands alone; the next starts anew.
    TSprFile mixed = MakeSprite(200, 100, 3);
    AddFrame(mixed, SolidFrame(0, 0, 10, 10, 1));   // 100
    AddFrame(mixed, SolidFrame(0, 0, 200, 100, 2)); // 20000
    AddFrame(mixed, SolidFrame(0, 0, 10, 10, 1));   // 100
    mixed.BuildSlots(16384);
    ASSERT_EQ(mixed.SlotCount(), 3);
    EXPECT_EQ(mixed.Slots[0].UnpackedSize(), 100u);
    EXPECT_EQ(mixed.Slots[1].UnpackedSize(), 20000u);
    EXPECT_EQ(mixed.Frames[2].Slot, 2);

    // Rebuilding drops the old slots.
    mixed.BuildSlots(1000000);
    ASSERT_EQ(mixed.SlotCount(), 1);
    EXPECT_EQ(mixed.Slots[0].UnpackedSize(), 20200u);
    EXPECT_EQ(mixed.Frames[2].Offset, 20100u);
}

TEST(SprSlots, EmptyFramesShareASlotWithAnEncodedTerminator) {
    TSprFile s = MakeSprite(4, 4, 2);
    AddFrame(s, SolidFrame(2, 2, 2, 2, 0));
    AddFrame(s, SolidFrame(0, 0, 0, 4, 0));
    std::vector<uint8_t> bytes = s.SaveToBytes(true);
    ASSERT_EQ(s.SlotCount(), 1);
    EXPECT_EQ(s.Slots[0].Packed, (std::vector<uint8_t>{0x80, 0x00}));
    TSprFile back;
    ASSERT_EQ(LoadBytes(back, bytes), 2);
    EXPECT_TRUE(back.Frames[0].Pixels.empty());
    EXPECT_EQ(back.MakeFrameBitmap(1).Pixels(), std::vector<uint8_t>(16, 0));
}

TEST(SprSave, FileSizeFieldEqualsLengthAndResult) {
    TSprFile s = MakeSprite(20, 10, 6);
    AddFrame(s, MakeFrame(2, 1, 18, 9, [](int x, int y) { return (x * y) % 6; }));
    AddFrame(s, MakeFrame(0, 0, 20, 10, [](int x, int) { return x % 3; }));
    TempDir dir;
    for (bool compress : {false, true}) {
        const std::string path = dir / (compress ? "c.spr" : "u.spr");
        int32_t written = s.SaveToFile(path, compress);
        std::vector<uint8_t> bytes = ReadWholeFile(path);
        EXPECT_EQ(static_cast<size_t>(written), bytes.size());
        EXPECT_EQ(GetU32(bytes.data() + 4), bytes.size());
        EXPECT_EQ(bytes[9], compress ? 0xC0 : 0x80);
        TSprFile back;
        ASSERT_EQ(back.LoadFromFile(path), 2);
        EXPECT_EQ(back.SlotCount(), compress ? 1 : 0);
        EXPECT_EQ(back.Frames[0].Pixels, s.Frames[0].Pixels);
        EXPECT_EQ(back.Frames[1].Pixels, s.Frames[1].Pixels);
    }
}

TEST(SprSave, CompressedSaveKeepsSlotsAndUncompressedSaveDropsThem) {
    TSprFile s = MakeSprite(8, 8, 4);
    AddFrame(s, MakeFrame(0, 0, 8, 8, [](int x, int y) { return (x + y) % 4; }));
    AddFrame(s, MakeFrame(1, 1, 5, 7, [](int x, int) { return x % 4; }));
    std::vector<uint8_t> first = s.SaveToBytes(true);
    ASSERT_EQ(s.SlotCount(), 1);
    const std::vector<uint8_t> packed = s.Slots[0].Packed;
    // A second compressed save reuses the slots as they are.
    EXPECT_EQ(s.SaveToBytes(true), first);
    EXPECT_EQ(s.Slots[0].Packed, packed);

    std::vector<uint8_t> raw = s.SaveToBytes(false);
    EXPECT_EQ(s.SlotCount(), 0);
    EXPECT_TRUE(s.Slots.empty());
    EXPECT_EQ(s.Frames[1].Offset, 64u);
    EXPECT_EQ(raw[9], 0x80);
    // And compressing again builds them anew, with the same result.
    EXPECT_EQ(s.SaveToBytes(true), first);
}

TEST(SprSave, CompressedFileIsWrittenBackWithItsPackedBlocksAsTheyWere) {
    // Packed by some other encoder: literals only, plus junk after a slot's terminator, which
    // our encoder would never produce. Saving compressed keeps those bytes.
    SprBuilder b;
    b.flags = 0xC0;
    b.k = 3;
    b.width = 4;
    b.height = 2;
    b.slotCount = 2;
    b.slotFlags = 0x8000;
    b.slots = {{0, 0, 4}, {6, 0, 8}};
    b.frames = {{0, 0, 0, 0, 4, 1}, {0, 1, 0, 0, 4, 2}};
    b.data = {1, 1, 1, 1, 0x80, 0x00, 2, 2, 2, 3, 3, 3, 2, 2, 0x80, 0x00, 0x55};
    const std::vector<uint8_t> original = b.Bytes();
    TSprFile s;
    ASSERT_EQ(LoadBytes(s, original), 2);
    EXPECT_EQ(s.SlotFlags, 0x8000);
    EXPECT_EQ(s.Slots[1].Packed.size(), 11u);
    EXPECT_EQ(s.Frames[1].Pixels, (std::vector<uint8_t>{2, 2, 2, 3, 3, 3, 2, 2}));
    EXPECT_EQ(s.SaveToBytes(true), original);
}

TEST(SprSave, SlotsThatDoNotStartAtZeroAreLaidOutBackToBack) {
    // A data area with unused bytes before the first block: the table written back must point
    // at the blocks where they are written, so the file reads back.
    SprBuilder b;
    b.flags = 0xC0;
    b.width = 2;
    b.height = 1;
    b.slotCount = 1;
    b.slots = {{3, 0, 2}};
    b.frames = {{0, 0, 0, 0, 2, 1}};
    b.data = {9, 9, 9, 5, 6, 0x80, 0x00};
    TSprFile s;
    ASSERT_EQ(LoadBytes(s, b.Bytes()), 1);
    std::vector<uint8_t> bytes = s.SaveToBytes(true);
    EXPECT_EQ(s.Slots[0].Offset, 0u);
    EXPECT_EQ(Slice(bytes, bytes.size() - 4, 4), (std::vector<uint8_t>{5, 6, 0x80, 0x00}));
    TSprFile back;
    ASSERT_EQ(LoadBytes(back, bytes), 1);
    EXPECT_EQ(back.Frames[0].Pixels, (std::vector<uint8_t>{5, 6}));
}

TEST(SprSave, RefusesWhatTheFileCannotHoldBeforeTouchingIt) {
    TempDir dir;
    const std::string path = dir / "keep.spr";
    WriteWholeFile(path, {1, 2, 3});

    TSprFile none = MakeSprite(4, 4, 2);
    EXPECT_EQ(ErrorOf([&] { none.SaveToFile(path, false); }), "Sprite has no frames");
    EXPECT_EQ(ErrorOf([&] { none.SaveToFile(path, true); }), "Sprite has no frames");
    EXPECT_EQ(ErrorOf([&] { none.MakeFrameBitmap(0); }), "Sprite has no frames");
    EXPECT_EQ(ErrorOf([&] { none.ExportStrip(dir / "none.SPR"); }), "Sprite has no frames");
    EXPECT_FALSE(FileExists(dir / "none.SPR.bmp"));

    // 257 frames that each reach the slot limit need 257 slots.
    TSprFile many = MakeSprite(128, 128, 2);
    for (int i = 0; i < 257; ++i)
        AddFrame(many, SolidFrame(0, 0, 128, 128, 1));
    std::string message = ErrorOf([&] { many.SaveToFile(path, true); });
    EXPECT_NE(message.find("257 slots"), std::string::npos) << message;
    EXPECT_EQ(many.SlotCount(), 0) << "the sprite is left as it was";
    EXPECT_TRUE(many.Slots.empty());
    // 256 of them fit.
    many.Frames.pop_back();
    many.BuildSlots(16384);
    EXPECT_EQ(many.SlotCount(), 256);
    EXPECT_EQ(many.Frames[255].Slot, 255);

    // An uncompressed frame that would start at 2^24.
    TSprFile big = MakeSprite(4096, 4096, 2);
    AddFrame(big, SolidFrame(0, 0, 4096, 4096, 1));
    AddFrame(big, SolidFrame(0, 0, 1, 1, 1));
    message = ErrorOf([&] { big.SaveToFile(path, false); });
    EXPECT_NE(message.find("16777216"), std::string::npos) << message;

    // A pixel the codec cannot carry stops a compressed save inside the encoder.
    TSprFile bright = MakeSprite(2, 1, 2);
    AddFrame(bright, MakeFrame(0, 0, 2, 1, [](int x, int) { return x == 0 ? 1 : 200; }));
    message = ErrorOf([&] { bright.SaveToFile(path, true); });
    EXPECT_EQ(message.rfind("Decompressed bytes must not have msb set! (ImgFileU", 0), 0u)
        << message;
    EXPECT_EQ(ReadWholeFile(path), (std::vector<uint8_t>{1, 2, 3}));
    // Uncompressed, such a value is stored as it is.
    EXPECT_EQ(bright.SaveToFile(path, false), 41);

    // A frame whose pixels do not match its box cannot be written.
    TSprFile odd = MakeSprite(4, 4, 2);
    AddFrame(odd, SolidFrame(0, 0, 2, 2, 1));
    odd.Frames[0].Pixels.pop_back();
    message = ErrorOf([&] { odd.SaveToFile(path, false); });
    EXPECT_NE(message.find("Frame 0 holds 3 pixels instead of 4"), std::string::npos) << message;
    odd.Frames[0].Pixels.push_back(1);
    odd.Frames[0].Right = 5;
    message = ErrorOf([&] { odd.SaveToFile(path, false); });
    EXPECT_NE(message.find("does not lie inside the 4 x 4 sprite"), std::string::npos) << message;
}

TEST(SprSave, FailedWriteKeepsTheOldFileAndNamesTheFile) {
    TempDir dir;
    TSprFile s = MakeSprite(2, 2, 2);
    AddFrame(s, SolidFrame(0, 0, 2, 2, 1));
    std::string message = ErrorOf([&] { s.SaveToFile(dir / "missing/x.spr", false); });
    EXPECT_NE(message.find("missing/x.spr"), std::string::npos) << message;
    EXPECT_EQ(message.rfind("Cannot", 0), 0u) << message;

    const std::string path = dir / "old.spr";
    s.SaveToFile(path, false);
    const std::vector<uint8_t> before = ReadWholeFile(path);
    s.Frames[0].Pixels = {1, 1, 1, 0};
    s.SaveToFile(path, true);
    TSprFile back;
    ASSERT_EQ(back.LoadFromFile(path), 1);
    EXPECT_EQ(back.Frames[0].Pixels, (std::vector<uint8_t>{1, 1, 1, 0}))
        << "replaced when it succeeds";
    EXPECT_NE(ReadWholeFile(path), before);

    EXPECT_EQ(ErrorOf([&] { back.LoadFromFile(dir / "nothing.spr"); }),
              "Cannot open file " + (dir / "nothing.spr"));
}

TEST(SprHeader, RefusedHeadersLoadAsZeroWithoutAPalette) {
    TSprFile s;
    EXPECT_EQ(s.LoadFromStream(nullptr), 0);
    EXPECT_EQ(LoadBytes(s, {}), 0);
    EXPECT_EQ(LoadBytes(s, {'S', 'P', 'R', 0x1A, 7, 0, 0}), 0)
        << "7 bytes, even with a matching size";

    SprBuilder b;
    b.frames = {{0, 0, 0, 0, 1, 1}};
    b.data = {1};
    std::vector<uint8_t> good = b.Bytes();
    ASSERT_EQ(LoadBytes(s, good), 1);

    std::vector<uint8_t> wrongSize = b.Bytes(static_cast<int64_t>(good.size()) + 1);
    std::vector<uint8_t> depth = good;
    depth[8] = 4;
    std::vector<uint8_t> flags = good;
    flags[9] = 0x7F;
    std::vector<uint8_t> longer = good;
    longer.push_back(0);
    for (const auto& bad : {wrongSize, depth, flags, longer}) {
        TSprFile fresh;
        EXPECT_EQ(LoadBytes(fresh, bad), 0);
        EXPECT_TRUE(fresh.Palette.empty()) << "the header was refused before the palette";
    }
}

TEST(SprHeader, MagicIsNotExaminedAndSlotCountDecidesTheForm) {
    SprBuilder b;
    b.frames = {{0, 0, 0, 0, 2, 1}};
    b.data = {3, 4};
    b.width = 2;
    b.height = 1;
    std::vector<uint8_t> bytes = b.Bytes();
    bytes[0] = 'X';
    bytes[3] = 0;
    TSprFile s;
    ASSERT_EQ(LoadBytes(s, bytes), 1);
    EXPECT_EQ(s.Frames[0].Pixels, (std::vector<uint8_t>{3, 4}));

    b.flags = 0xC0; // says compressed, but no slots: raw
    ASSERT_EQ(LoadBytes(s, b.Bytes()), 1);
    EXPECT_EQ(s.SlotCount(), 0);
    EXPECT_EQ(s.Frames[0].Pixels, (std::vector<uint8_t>{3, 4}));

    SprBuilder c; // says raw, but has slots: compressed
    c.flags = 0x80;
    c.k = 2;
    c.width = 3;
    c.height = 1;
    c.slotCount = 3;
    c.slots = {{0, 0, 3}, {5, 0, 0}, {7, 0, 2}};
    c.frames = {{0, 0, 0, 0, 3, 1}, {0, 2, 1, 0, 3, 1}};
    c.data = {1, 2, 1, 0x80, 0x00, 0x80, 0x00, 2, 2, 0x80, 0x00};
    ASSERT_EQ(LoadBytes(s, c.Bytes()), 2);
    EXPECT_EQ(s.SlotCount(), 3);
    EXPECT_EQ(s.Slots[0].PackedSize(), 5u) << "the next slot's offset less its own";
    EXPECT_EQ(s.Slots[1].PackedSize(), 2u);
    EXPECT_EQ(s.Slots[2].PackedSize(), 4u);
    EXPECT_EQ(s.Frames[0].Pixels, (std::vector<uint8_t>{1, 2, 1}));
    EXPECT_EQ(s.Frames[1].Pixels, (std::vector<uint8_t>{2, 2}));
}

TEST(SprHeader, SingleColourPaletteAndFramelessFiles) {
    SprBuilder b; // K = 0: no palette bytes
    b.frames = {};
    TSprFile s;
    EXPECT_EQ(LoadBytes(s, b.Bytes()), 0);
    EXPECT_EQ(s.ColourCount(), 1);
    EXPECT_EQ(s.Palette, (std::vector<uint8_t>{0, 0, 0}));
    EXPECT_TRUE(s.Frames.empty());
    EXPECT_EQ(s.FrameCount(), 0);
    EXPECT_EQ(ErrorOf([&] { s.SaveToBytes(true); }), "Sprite has no frames");

    // A palette's stored entry 0 does not exist: entry 0 is black even after a coloured load.
    b.k = 255;
    b.frames = {{0, 0, 0, 0, 1, 1}};
    b.data = {255};
    ASSERT_EQ(LoadBytes(s, b.Bytes()), 1);
    EXPECT_EQ(s.ColourCount(), 256);
    EXPECT_EQ(s.Palette[0], 0);
    EXPECT_EQ(s.Palette[3 * 255], 255);
    Bitmap bmp = s.MakeFrameBitmap(0);
    EXPECT_EQ(bmp.Palette()[255], (RGB{255, 255, 255}));
    EXPECT_EQ(bmp.Row(0)[0], 255);
}

TEST(SprRender, FramesAreDrawnIntoTheirBoxesOnABlankSprite) {
    TSprFile s = MakeSprite(6, 5, 4);
    AddFrame(
        s, MakeFrame(2, 1, 5, 3, [](int x, int y) { return 1 + x + y; })); // rows 1-2, columns 2-4
    AddFrame(s, MakeFrame(0, 0, 6, 5, [](int x, int y) { return (x + y) % 4; }));
    AddFrame(s, SolidFrame(3, 3, 3, 3, 0)); // empty box
    Bitmap b = s.MakeFrameBitmap(0);
    ASSERT_EQ(b.Width(), 6);
    ASSERT_EQ(b.Height(), 5);
    EXPECT_EQ(b.Palette(), MakePalette(s.Palette, 4));
    // One line of bytes per field, as the file lays them out.
    // clang-format off
    const std::vector<uint8_t> expected = {
        0, 0, 0, 0, 0, 0, //
        0, 0, 1, 2, 3, 0, //
        0, 0, 2, 3, 4, 0, //
        0, 0, 0, 0, 0, 0, //
        0, 0, 0, 0, 0, 0,
    };
    // clang-format on
    EXPECT_EQ(b.Pixels(), expected);
    EXPECT_EQ(s.MakeFrameBitmap(1).Pixels(), s.Frames[1].Pixels) << "a full box copies every row";
    EXPECT_EQ(s.MakeFrameBitmap(2).Pixels(), std::vector<uint8_t>(30, 0));
    std::string message = ErrorOf([&] { s.MakeFrameBitmap(3); });
    EXPECT_NE(message.find("Frame 3 does not exist"), std::string::npos) << message;
    EXPECT_NE(ErrorOf([&] { s.MakeFrameBitmap(-1); }), "");
}
