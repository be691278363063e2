// .SPR files that passed their header but hold what the layout cannot mean, files of older
// writers, data that runs short, and damaged files: each loads as the format defines or stops
// with an error saying what is wrong, never reading or allocating beyond reason.
#include "SpriteTestUtil.h"

#include <gtest/gtest.h>

#include <random>

using namespace pelfry;
using namespace sprtest;

namespace {

// A valid compressed sprite of two slots: slot 0 holds frame 0 (1 2 3 4), slot 1 (5 5 5 5)
// frame 1 (its first 3 bytes).
SprBuilder TwoSlots() {
    SprBuilder b;
    b.flags = 0xC0;
    b.k = 5;
    b.width = 4;
    b.height = 2;
    b.slotCount = 2;
    b.slots = {{0, 0, 4}, {6, 0, 4}};
    b.frames = {{0, 0, 0, 0, 4, 1}, {0, 1, 1, 1, 4, 2}};
    b.data = {1, 2, 3, 4, 0x80, 0x00, 5, 0x88, 0x00, 0x80, 0x00}; // 5, then 3 more from 1 back
    return b;
}

// The error as pelfry-cli prints it: the message, then the reason in brackets.
std::string LoadError(const std::vector<uint8_t>& bytes) {
    try {
        TSprFile s;
        LoadBytes(s, bytes);
    } catch (const Error& e) {
        return e.Reason().empty() ? e.what() : std::string(e.what()) + " [" + e.Reason() + "]";
    }
    return "";
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

} // namespace

TEST(SprDamage, TheValidBaseLoads) {
    TSprFile s;
    ASSERT_EQ(LoadBytes(s, TwoSlots().Bytes()), 2);
    EXPECT_EQ(s.Frames[0].Pixels, (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(s.Frames[1].Pixels, (std::vector<uint8_t>{5, 5, 5}));
}

TEST(SprDamage, ReservedWordAndSlotFlagsAreAssertions) {
    SprBuilder b = TwoSlots();
    b.slots[1].reserved = 1;
    EXPECT_TRUE(StartsWith(LoadError(b.Bytes()), "Assertion failure (SprFileU.cpp, line "))
        << LoadError(b.Bytes());

    b = TwoSlots();
    b.slotFlags = 0x4000;
    EXPECT_TRUE(StartsWith(LoadError(b.Bytes()), "Assertion failure (SprFileU.cpp, line "))
        << LoadError(b.Bytes());

    b.slotFlags = 0x8000;
    TSprFile s;
    EXPECT_EQ(LoadBytes(s, b.Bytes()), 2);
    EXPECT_EQ(s.SlotFlags, 0x8000);
}

TEST(SprDamage, ImpossibleSlotsAndFramesSayWhatIsWrong) {
    struct Case {
        const char* what;
        void (*damage)(SprBuilder&);
        const char* message;
    };
    const Case cases[] = {
        {"slot out of range", [](SprBuilder& b) { b.frames[1].slot = 2; },
         "Frame 1 is in slot 2, but the sprite file has 2 slots (SprFileU.cpp, line "},
        {"decreasing offsets",
         [](SprBuilder& b) {
             b.slots = {{6, 0, 4}, {0, 0, 4}};
         },
         "Slot 1 starts before slot 0 in the sprite file (SprFileU.cpp, line "},
        {"offset past the end", [](SprBuilder& b) { b.slots[1].offset = 12; },
         "Slot 1 starts past the end of the sprite file (SprFileU.cpp, line "},
        {"right before left", [](SprBuilder& b) { b.frames[0].left = 3, b.frames[0].right = 2; },
         "Frame 0 has the box (3, 0)-(2, 1), which does not lie inside the 4 x 2 sprite "
         "(SprFileU.cpp, line "},
        {"bottom before top", [](SprBuilder& b) { b.frames[1].top = 2, b.frames[1].bottom = 1; },
         "Frame 1 has the box (1, 2)-(4, 1), which does not lie inside the 4 x 2 sprite"},
        {"box past the right edge", [](SprBuilder& b) { b.frames[1].right = 5; },
         "Frame 1 has the box (1, 1)-(5, 2), which does not lie inside"},
        {"box past the bottom", [](SprBuilder& b) { b.frames[0].bottom = 3; },
         "Frame 0 has the box (0, 0)-(4, 3)"},
        {"decodes to fewer", [](SprBuilder& b) { b.slots[0].unpacked = 5; },
         "Assertion failure (SprFileU.cpp, line 270) [slot 0 decodes to 4 bytes, its entry says 5, "
         "at byte 0x5C]"},
        {"decodes to more", [](SprBuilder& b) { b.slots[0].unpacked = 3; },
         "Assertion failure (SprFileU.cpp, line 268) [slot 0 decodes to more than the 3 bytes"},
        {"reference before the start", [](SprBuilder& b) { b.data[6] = 0x88; },
         "Assertion failure (SprFileU.cpp, line 270) [slot 1 decodes to 0 bytes, its entry says 4"},
        {"more unpacked than packed can make",
         [](SprBuilder& b) { b.slots[1].unpacked = 5 * 91 + 1; },
         "Slot 1 claims 456 unpacked bytes, more than its 5 packed bytes can hold"},
        {"unpacked size of 4 GB", [](SprBuilder& b) { b.slots[0].unpacked = 0xFFFFFFFF; },
         "Slot 0 claims 4294967295 unpacked bytes"},
    };
    for (const Case& c : cases) {
        SprBuilder b = TwoSlots();
        c.damage(b);
        std::string message = LoadError(b.Bytes());
        EXPECT_TRUE(StartsWith(message, c.message)) << c.what << ": " << message;
    }
}

TEST(SprDamage, TooManySlotsAreRefused) {
    SprBuilder b;
    b.flags = 0xC0;
    b.slotCount = 257;
    for (int i = 0; i < 257; ++i)
        b.slots.push_back({static_cast<uint32_t>(2 * i), 0, 0});
    b.frames = {{0, 0, 0, 0, 0, 0}};
    for (int i = 0; i < 257; ++i)
        b.data.insert(b.data.end(), {0x80, 0x00});
    std::string message = LoadError(b.Bytes());
    EXPECT_TRUE(StartsWith(message, "Sprite file has 257 slots; at most 256 are possible"))
        << message;

    b.slotCount = 256;
    b.slots.pop_back();
    b.data.resize(512);
    TSprFile s;
    EXPECT_EQ(LoadBytes(s, b.Bytes()), 1);
    EXPECT_EQ(s.SlotCount(), 256);
}

TEST(SprDamage, FramePixelsBeyondWhatTheFileCarriesAreRefused) {
    // A 60-byte file cannot make us hold a 65535 x 65535 frame.
    SprBuilder raw;
    raw.width = 65535;
    raw.height = 65535;
    raw.frames = {{0, 0, 0, 0, 65535, 65535}};
    std::string message = LoadError(raw.Bytes());
    EXPECT_TRUE(StartsWith(
        message, "The frames of the sprite hold 4294836225 pixels, more than a sprite file of"))
        << message;

    // Nor can many frames sharing a little data add up beyond it.
    SprBuilder shared = TwoSlots();
    shared.width = 4096;
    shared.height = 4096;
    for (int i = 0; i < 3; ++i)
        shared.frames.push_back({0, 0, 0, 0, 4096, 4096});
    message = LoadError(shared.Bytes());
    EXPECT_NE(message.find("more than a sprite file of"), std::string::npos) << message;

    // Up to one sprite area of zero fill beyond the data is still the format's own behaviour.
    SprBuilder tail;
    tail.width = 3;
    tail.height = 3;
    tail.frames = {{0, 0, 0, 0, 3, 3}};
    tail.data = {7, 7};
    TSprFile s;
    ASSERT_EQ(LoadBytes(s, tail.Bytes()), 1);
    EXPECT_EQ(s.Frames[0].Pixels, (std::vector<uint8_t>{7, 7, 0, 0, 0, 0, 0, 0, 0}));
    // A few pixels more than one sprite area beyond the data are no reason to refuse the file:
    // the allocation is small, and the missing pixels stay 0 as the format defines.
    tail.frames.push_back({0, 0, 0, 0, 3, 1});
    ASSERT_EQ(LoadBytes(s, tail.Bytes()), 2);
    EXPECT_EQ(s.Frames[0].Pixels, (std::vector<uint8_t>{7, 7, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(s.Frames[1].Pixels, (std::vector<uint8_t>{7, 7, 0}));
    for (int i = 0; i < 40; ++i)
        tail.frames.push_back({0, 0, 0, 0, 3, 3});
    ASSERT_EQ(LoadBytes(s, tail.Bytes()), 42);
    EXPECT_EQ(s.Frames[41].Pixels, (std::vector<uint8_t>{7, 7, 0, 0, 0, 0, 0, 0, 0}));

    // Frames without data are accepted up to 2048 x 2048 pixels in all, as for images; beyond
    // that (and beyond one sprite area) a file without the data is refused.
    SprBuilder hollow;
    hollow.width = 1024;
    hollow.height = 1024;
    hollow.frames.assign(4, {0, 0, 0, 0, 1024, 1024});
    ASSERT_EQ(LoadBytes(s, hollow.Bytes()), 4);
    EXPECT_EQ(s.Frames[3].Pixels, std::vector<uint8_t>(1024 * 1024, 0));
    hollow.frames.push_back({0, 0, 0, 0, 1024, 1});
    message = LoadError(hollow.Bytes());
    EXPECT_TRUE(StartsWith(
        message,
        "The frames of the sprite hold 4195328 pixels, more than a sprite file of 84 bytes"))
        << message;
}

TEST(SprDamage, BlocksRunningPastTheirDataKeepZeros) {
    SprBuilder b = TwoSlots();
    b.width = 8;
    b.frames = {{2, 0, 0, 0, 4, 1}, {1, 1, 0, 0, 4, 1}, {4, 1, 0, 1, 4, 2}, {9, 0, 0, 0, 2, 1}};
    TSprFile s;
    ASSERT_EQ(LoadBytes(s, b.Bytes()), 4);
    EXPECT_EQ(s.Frames[0].Pixels, (std::vector<uint8_t>{3, 4, 0, 0}))
        << "runs past the end of slot 0";
    EXPECT_EQ(s.Frames[1].Pixels, (std::vector<uint8_t>{5, 5, 5, 0}));
    EXPECT_EQ(s.Frames[2].Pixels, (std::vector<uint8_t>{0, 0, 0, 0}))
        << "starts at the end of slot 1";
    EXPECT_EQ(s.Frames[3].Pixels, (std::vector<uint8_t>{0, 0})) << "starts past it";

    SprBuilder raw;
    raw.width = 4;
    raw.height = 1;
    raw.frames = {{1, 0, 0, 0, 4, 1}, {8, 0, 0, 0, 2, 1}};
    raw.data = {1, 2, 3};
    ASSERT_EQ(LoadBytes(s, raw.Bytes()), 2);
    EXPECT_EQ(s.Frames[0].Pixels, (std::vector<uint8_t>{2, 3, 0, 0}));
    EXPECT_EQ(s.Frames[1].Pixels, (std::vector<uint8_t>{0, 0}));

    // Frame table running past the end of the file: its missing bytes read as 0, empty boxes.
    SprBuilder cut;
    cut.frames = {{0, 0, 0, 0, 1, 1}, {0, 0, 0, 0, 1, 1}, {0, 0, 0, 0, 1, 1}};
    std::vector<uint8_t> bytes = cut.Bytes();
    bytes.resize(bytes.size() - 20);
    SetU32(bytes, 4, static_cast<uint32_t>(bytes.size()));
    ASSERT_EQ(LoadBytes(s, bytes), 3);
    EXPECT_EQ(s.Frames[1].Right, 0);
    EXPECT_TRUE(s.Frames[2].Pixels.empty());
}

TEST(SprDamage, FillBeforeTheFrameTableOfOlderWritersIsSkipped) {
    // The frame count ends at 24 + 3K; older writers filled up to a multiple of 4 there.
    for (uint8_t k : {1, 2, 3, 5}) {
        SprBuilder b;
        b.k = k;
        b.width = 3;
        b.height = 2;
        b.frames = {{0, 0, 0, 0, 3, 2}, {6, 0, 1, 1, 2, 2}};
        b.data = {1, 2, 1, 2, 1, 2, 1};
        TSprFile plain;
        ASSERT_EQ(LoadBytes(plain, b.Bytes()), 2) << int(k);
        b.fillBeforeFrames = (4 - (24 + 3u * k) % 4) % 4;
        TSprFile older;
        ASSERT_EQ(LoadBytes(older, b.Bytes()), 2) << int(k);
        for (int f = 0; f < 2; ++f) {
            EXPECT_EQ(older.Frames[f].Pixels, plain.Frames[f].Pixels) << int(k);
            EXPECT_EQ(older.Frames[f].Left, plain.Frames[f].Left) << int(k);
            EXPECT_EQ(older.Frames[f].Offset, plain.Frames[f].Offset) << int(k);
        }
        // Written back, the file has no fill and reads the same.
        std::vector<uint8_t> again = older.SaveToBytes(false);
        EXPECT_EQ(again.size(), b.Bytes().size() - b.fillBeforeFrames);
        TSprFile back;
        ASSERT_EQ(LoadBytes(back, again), 2);
        EXPECT_EQ(back.Frames[1].Pixels, plain.Frames[1].Pixels);
    }
}

TEST(SprDamage, DamagedFilesLoadOrFailCleanly) {
    // Every byte of valid files, changed or cut: the reader either loads or raises an error.
    TSprFile compressed = MakeSprite(9, 7, 12);
    AddFrame(compressed, MakeFrame(1, 1, 8, 6, [](int x, int y) { return (x * 3 + y) % 12; }));
    AddFrame(compressed, MakeFrame(0, 2, 9, 7, [](int x, int y) { return (x ^ y) % 12; }));
    TSprFile raw = compressed;
    const std::vector<std::vector<uint8_t>> bases = {compressed.SaveToBytes(true),
                                                     raw.SaveToBytes(false), TwoSlots().Bytes()};
    std::mt19937 random(12345);
    int loaded = 0, refused = 0, failed = 0;
    for (const std::vector<uint8_t>& base : bases) {
        for (size_t at = 0; at < base.size(); ++at) {
            for (int round = 0; round < 3; ++round) {
                std::vector<uint8_t> bytes = base;
                bytes[at] = static_cast<uint8_t>(random());
                if (round == 2 && at >= 8) {
                    bytes.resize(at + 1);
                    SetU32(bytes, 4, static_cast<uint32_t>(bytes.size()));
                }
                TSprFile s;
                try {
                    int32_t n = LoadBytes(s, bytes);
                    n > 0 ? ++loaded : ++refused;
                    for (int f = 0; f < n; ++f) {
                        Bitmap b = s.MakeFrameBitmap(f);
                        ASSERT_EQ(b.Width(), s.Width);
                    }
                } catch (const pelfry::Error&) {
                    ++failed;
                }
            }
        }
    }
    EXPECT_GT(loaded, 0);
    EXPECT_GT(refused, 0);
    EXPECT_GT(failed, 0);
}
