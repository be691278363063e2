// Sprite strips: the .spd text rules, the strip bitmap and description ExportStrip writes,
// ImportStrip's frame grid, colour renumbering and tight boxes, round trips, and strips saved
// by other programs.
#include "SpriteTestUtil.h"

#include "image/ImgFileU.h"
#include "picture/Bitmap.h"
#include "picture/Picture.h"

#include <gtest/gtest.h>

#include <random>

using namespace pelfry;
using namespace sprtest;

namespace {

SpdValues Spd(const std::string& text) {
    return ReadSpd(std::vector<uint8_t>(text.begin(), text.end()));
}

std::string SpdError(const std::string& text) {
    return ErrorOf([&] { Spd(text); });
}

void WriteText(const std::string& path, const std::string& text) {
    WriteWholeFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

// A strip bitmap whose palette entry i is (i, 255 - i, i / 2), with entry 0 not black as
// picture editors often leave it.
Bitmap MakeStrip(int width, int height) {
    Bitmap b(width, height);
    for (int i = 0; i < 256; ++i)
        b.Palette()[i] = RGB{static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i),
                             static_cast<uint8_t>(i / 2)};
    return b;
}

// The colour of every pixel of a frame rendered through the sprite's palette; 0 stays "none".
std::vector<int> FrameColours(const TSprFile& s, int frame) {
    Bitmap b = s.MakeFrameBitmap(frame);
    std::vector<int> out;
    for (uint8_t p : b.Pixels()) {
        const RGB& c = b.Palette()[p];
        out.push_back(p == 0 ? -1 : (c.r << 16) | (c.g << 8) | c.b);
    }
    return out;
}

// A generated sprite: frames of random boxes and random colours below `colours`, some empty.
TSprFile RandomSprite(std::mt19937& random, uint16_t width, uint16_t height, uint16_t colours,
                      int frames) {
    TSprFile s = MakeSprite(width, height, colours);
    for (size_t i = 3; i < s.Palette.size(); ++i)
        s.Palette[i] = static_cast<uint8_t>(random());
    s.FrameRate = static_cast<uint16_t>(random() % 60);
    s.Flags = static_cast<uint16_t>(random());
    for (int f = 0; f < frames; ++f) {
        uint16_t l = static_cast<uint16_t>(random() % width),
                 t = static_cast<uint16_t>(random() % height);
        uint16_t r = static_cast<uint16_t>(l + random() % (width - l + 1));
        uint16_t b = static_cast<uint16_t>(t + random() % (height - t + 1));
        const bool blank = random() % 5 == 0;
        AddFrame(s, MakeFrame(l, t, r, b, [&](int, int) {
                     return blank || random() % 3 == 0 ? 0 : 1 + random() % (colours - 1);
                 }));
    }
    return s;
}

} // namespace

TEST(SpdText, KeysValuesAndDefaults) {
    SpdValues none = Spd("");
    EXPECT_EQ(none.Frames, 0);
    EXPECT_EQ(none.Height, 0);
    EXPECT_EQ(none.Width, 0);
    EXPECT_EQ(none.FrameRate, 25);
    EXPECT_EQ(none.Flags, 1);

    SpdValues v =
        Spd("flags = 6\r\nwidth=40\r\n\tframerate   =   12 \r\nheight = 32\r\nframes = 4\r\n");
    EXPECT_EQ(v.Frames, 4);
    EXPECT_EQ(v.Height, 32);
    EXPECT_EQ(v.Width, 40);
    EXPECT_EQ(v.FrameRate, 12);
    EXPECT_EQ(v.Flags, 6);

    // Numbers: hexadecimal, signs, the low 16 bits of any 32-bit value.
    EXPECT_EQ(Spd("flags = 70000").Flags, 4464);
    EXPECT_EQ(Spd("flags = -1").Flags, 65535);
    EXPECT_EQ(Spd("flags = $1F").Flags, 31);
    EXPECT_EQ(Spd("flags = 0x10").Flags, 16);
    EXPECT_EQ(Spd("flags = $FFFFFFFF").Flags, 65535);
    EXPECT_EQ(Spd("flags = +7").Flags, 7);
    EXPECT_EQ(SpdError("flags = 4294967296"), "'4294967296' is not a valid integer value");
    EXPECT_EQ(SpdError("flags = 1.5"), "'1.5' is not a valid integer value");

    // The last of a repeated key wins; capitalised and unknown keys are ignored once numeric;
    // a line without "=" is a number under the empty key.
    SpdValues w = Spd("frames = 2\r\nFrames = 9\r\nframe = 8\r\n17\r\n = 3\r\nframes = 5\r\n");
    EXPECT_EQ(w.Frames, 5);
    EXPECT_EQ(w.Height, 0);
    EXPECT_EQ(SpdError("speed = fast\r\nframes = 2\r\n"), "'fast' is not a valid integer value");
    EXPECT_EQ(SpdError("Frames = many"), "'many' is not a valid integer value");
    EXPECT_EQ(SpdError("frames = 4 frames"), "'4 frames' is not a valid integer value");
    EXPECT_EQ(SpdError("frames = = 4"), "'= 4' is not a valid integer value");
}

TEST(SpdText, LineEndsAndTheEndOfText) {
    EXPECT_EQ(Spd("frames = 4\rheight = 8\r").Height, 8) << "CR alone ends a line";
    EXPECT_EQ(Spd("frames = 4\r\nheight = 7").Height, 7) << "a last line without a line end";
    EXPECT_EQ(Spd("frames = 4\nheight = 8\n").Height, 8) << "LF alone ends a line";
    EXPECT_EQ(SpdError("frames = 4\n\rheight = 3"), "'' is not a valid integer value")
        << "LF then CR: two line ends around an empty line, as in the conversion log";
    EXPECT_EQ(SpdError("frames = 4\r\n\r\nheight = 8"), "'' is not a valid integer value")
        << "an empty line";
    EXPECT_EQ(SpdError("frames = 4\r\r\n"), "'' is not a valid integer value");
    EXPECT_EQ(SpdError("frames = 4\r\n\n"), "'' is not a valid integer value")
        << "a LF after the line end";
    EXPECT_EQ(Spd("frames = 4\r\n\x1a"
                  "garbage\r\n")
                  .Frames,
              4)
        << "character 26 ends the text";
    EXPECT_EQ(Spd("frames = 4\x1a\r\nframes = x").Frames, 4) << "also inside a line";
    const char withNul[] = "frames = 3\r\n\0height = 2\t\r\n";
    EXPECT_EQ(Spd(std::string(withNul, sizeof withNul - 1)).Height, 2)
        << "control characters are trimmed";
}

TEST(StripExport, BitmapCellsAndDescription) {
    TSprFile s = MakeSprite(40, 32, 6);
    s.FrameRate = 15;
    s.Flags = 65535;
    for (int f = 0; f < 4; ++f)
        AddFrame(s, MakeFrame(static_cast<uint16_t>(f), static_cast<uint16_t>(2 * f),
                              static_cast<uint16_t>(30 + f), static_cast<uint16_t>(20 + f),
                              [f](int x, int y) { return 1 + (x + y + f) % 5; }));
    TempDir dir;
    const std::string base = dir / "HERO.SPR";
    EXPECT_TRUE(s.ExportStrip(base));

    Bitmap expected(40, 128);
    expected.SetPalette(MakePalette(s.Palette, 6));
    for (int f = 0; f < 4; ++f) {
        const SpriteAnim& a = s.Frames[f];
        for (int y = a.Top; y < a.Bottom; ++y)
            for (int x = a.Left; x < a.Right; ++x)
                expected.Row(32 * f + y)[x] =
                    a.Pixels[static_cast<size_t>((y - a.Top) * (a.Right - a.Left) + x - a.Left)];
    }
    EXPECT_EQ(expected.Row(64 + 4)[2], 1 + (0 + 0 + 2) % 5) << "frame 2 starts at row 64";
    EXPECT_EQ(ReadWholeFile(base + ".bmp"), EncodeBitmap(expected));
    const std::string spd =
        "frames = 4\r\nheight = 32\r\nwidth = 40\r\nframerate = 15\r\nflags = 65535\r\n";
    EXPECT_EQ(ReadWholeFile(base + ".spd"), std::vector<uint8_t>(spd.begin(), spd.end()));

    // A strip taller than a bitmap can be is refused before anything is written.
    TSprFile tall = MakeSprite(2, 1000, 2);
    for (int f = 0; f < 66; ++f)
        AddFrame(tall, SolidFrame(0, 0, 1, 1, 1));
    std::string message = ErrorOf([&] { tall.ExportStrip(dir / "TALL.SPR"); });
    EXPECT_NE(message.find("66000 pixels high"), std::string::npos) << message;
    EXPECT_FALSE(FileExists(dir / "TALL.SPR.bmp"));
    EXPECT_FALSE(FileExists(dir / "TALL.SPR.spd"));

    // A header of a few bytes can claim a vast sprite; no picture that large is made of it.
    TSprFile vast = MakeSprite(4096, 65535, 2);
    AddFrame(vast, SolidFrame(0, 0, 1, 1, 1));
    EXPECT_EQ(ErrorOf([&] { vast.ExportStrip(dir / "VAST.SPR"); }),
              "The strip of " + dir / "VAST.SPR" + " is too large to convert");
    EXPECT_FALSE(FileExists(dir / "VAST.SPR.bmp"));
    EXPECT_EQ(ErrorOf([&] { vast.MakeFrameBitmap(0); }),
              "Sprite too large to show (4096 x 65535 pixels)");

    EXPECT_EQ(ErrorOf([&] { s.ExportStrip(dir / "no/HERO.SPR"); }),
              "Cannot create file " + (dir / "no/HERO.SPR.bmp"));
}

TEST(StripImport, FrameGridFromTheDescription) {
    TempDir dir;
    const std::string base = dir / "G.SPR";
    Bitmap strip = MakeStrip(20, 32);
    strip.Row(9)[3] = 40; // frame 1 of 8-row frames
    SaveBitmapFile(strip, base + ".bmp");

    WriteText(base + ".spd", "frames = 4\r\n");
    TSprFile s;
    ASSERT_TRUE(s.ImportStrip(base));
    EXPECT_EQ(s.FrameCount(), 4);
    EXPECT_EQ(s.Height, 8);
    EXPECT_EQ(s.Width, 20);
    EXPECT_EQ(s.FrameRate, 25);
    EXPECT_EQ(s.Flags, 1);
    EXPECT_EQ(s.Frames[1].Left, 3);
    EXPECT_EQ(s.Frames[1].Top, 1);

    // 35 rows of 10-row frames: 3 frames; rows 30 to 34 belong to none, but their colours count.
    strip = MakeStrip(20, 35);
    strip.Row(2)[5] = 50;
    strip.Row(31)[0] = 60;
    strip.Row(12)[19] = 70;
    SaveBitmapFile(strip, base + ".bmp");
    WriteText(base + ".spd", "height = 10\r\nwidth = 12\r\n");
    ASSERT_TRUE(s.ImportStrip(base));
    EXPECT_EQ(s.FrameCount(), 3);
    EXPECT_EQ(s.Width, 12);
    EXPECT_EQ(s.ColourCount(), 4);
    EXPECT_EQ(s.Frames[1].Right, 1) << "column 19 lies outside the 12-wide frames: an empty cell";
    EXPECT_EQ(s.Palette[6], 70);
    EXPECT_EQ(s.Palette[9], 60) << "numbered though only in rows that belong to no frame";

    struct Case {
        std::string spd, message;
    };
    const std::string spdName = base + ".spd", bmpName = base + ".bmp";
    const Case refused[] = {
        {"width = 20\r\n", spdName + " must give frames or height"},
        {"", spdName + " must give frames or height"},
        {"frames = 0\r\nheight = 0\r\n", spdName + " must give frames or height"},
        {"height = 36\r\n",
         spdName + " gives no frames: frames of 36 rows do not fit into the 35 rows of " + bmpName},
        {"frames = 36\r\n",
         spdName + " gives 36 frames, more than the 35 rows of " + bmpName + " hold"},
        {"frames = 4\r\nheight = 9\r\n",
         spdName +
             " describes 4 frames of 20 x 9 pixels, which do not fit into the 20 x 35 bitmap " +
             bmpName},
        {"height = 5\r\nwidth = 21\r\n",
         spdName +
             " describes 7 frames of 21 x 5 pixels, which do not fit into the 20 x 35 bitmap " +
             bmpName},
        {"frames = 1\r\nheight = 10\r\nwidth = x\r\n", "'x' is not a valid integer value"},
    };
    for (const Case& c : refused) {
        WriteText(spdName, c.spd);
        TSprFile t;
        EXPECT_EQ(ErrorOf([&] { t.ImportStrip(base); }), c.message) << c.spd;
    }
    // Exactly filling the bitmap is fine.
    WriteText(spdName, "frames = 7\r\nheight = 5\r\nwidth = 20\r\n");
    EXPECT_TRUE(s.ImportStrip(base));
    EXPECT_EQ(s.FrameCount(), 7);

    DeleteFile(spdName);
    EXPECT_EQ(ErrorOf([&] { s.ImportStrip(base); }), "Cannot open file " + spdName);
    DeleteFile(bmpName);
    WriteText(spdName, "frames = 1\r\n");
    EXPECT_EQ(ErrorOf([&] { s.ImportStrip(base); }), "Cannot open file " + bmpName);
}

TEST(StripImport, ColoursRenumberedByFirstAppearanceAndBoxesTightened) {
    TempDir dir;
    const std::string base = dir / "C.SPR";
    Bitmap strip = MakeStrip(6, 12); // two frames of 6 x 6
    strip.Palette()[0] = RGB{255, 0, 255};
    // Frame 0: value 200 at (4, 1), value 7 at (1, 3) and (2, 4).
    strip.Row(1)[4] = 200;
    strip.Row(3)[1] = 7;
    strip.Row(4)[2] = 7;
    // Frame 1: value 7 at (5, 6 + 5), value 30 at (5, 6 + 2); frame-relative box (5,2)-(6,6).
    strip.Row(11)[5] = 7;
    strip.Row(8)[5] = 30;
    SaveBitmapFile(strip, base + ".bmp");
    WriteText(base + ".spd", "frames = 2\r\nframerate = 8\r\nflags = 0\r\n");

    TSprFile s;
    // Whatever the object held before, the import starts from an empty sprite.
    s.Slots.resize(1);
    s.SlotFlags = 0x8000;
    s.FileSize = 99;
    ASSERT_TRUE(s.ImportStrip(base));
    EXPECT_EQ(s.SlotCount(), 0);
    EXPECT_TRUE(s.Slots.empty());
    EXPECT_EQ(s.SlotFlags, 0);
    EXPECT_EQ(s.FileSize, 0u);
    EXPECT_EQ(s.FrameRate, 8);
    EXPECT_EQ(s.Flags, 0);

    ASSERT_EQ(s.ColourCount(), 4); // 200 -> 1, 7 -> 2, 30 -> 3
    const std::vector<uint8_t> palette = {0, 0, 0, 200, 55, 100, 7, 248, 3, 30, 225, 15};
    EXPECT_EQ(s.Palette, palette);

    const SpriteAnim& a = s.Frames[0];
    EXPECT_EQ(std::vector<int>({a.Left, a.Top, a.Right, a.Bottom}), std::vector<int>({1, 1, 5, 5}));
    const std::vector<uint8_t> pixels0 = {
        0, 0, 0, 1, //
        0, 0, 0, 0, //
        2, 0, 0, 0, //
        0, 2, 0, 0,
    };
    EXPECT_EQ(a.Pixels, pixels0);
    const SpriteAnim& b = s.Frames[1];
    EXPECT_EQ(std::vector<int>({b.Left, b.Top, b.Right, b.Bottom}), std::vector<int>({5, 2, 6, 6}));
    EXPECT_EQ(b.Pixels, (std::vector<uint8_t>{3, 0, 0, 2}));
    for (const SpriteAnim& f : s.Frames) {
        EXPECT_EQ(f.Offset, 0u);
        EXPECT_EQ(f.Slot, 0);
    }
}

TEST(StripImport, EmptyCellsAndTheColourLimit) {
    TempDir dir;
    const std::string base = dir / "E.SPR";
    Bitmap strip = MakeStrip(9, 40);
    strip.Row(39)[8] = 3;
    SaveBitmapFile(strip, base + ".bmp");
    WriteText(base + ".spd", "frames = 2\r\n");
    TSprFile s;
    ASSERT_TRUE(s.ImportStrip(base));
    const SpriteAnim& empty = s.Frames[0];
    EXPECT_EQ(std::vector<int>({empty.Left, empty.Top, empty.Right, empty.Bottom}),
              std::vector<int>({0, 0, 1, 1}));
    EXPECT_EQ(empty.Pixels, std::vector<uint8_t>{0});
    EXPECT_EQ(s.Frames[1].Top, 19);
    EXPECT_EQ(s.Frames[1].Left, 8);
    // The one-pixel box is a frame like any other: it saves and loads.
    TSprFile back;
    ASSERT_EQ(LoadBytes(back, s.SaveToBytes(true)), 2);
    EXPECT_EQ(back.Frames[0].Pixels, std::vector<uint8_t>{0});

    // 127 different non-zero values fit; one more stops the import.
    Bitmap many = MakeStrip(128, 2);
    for (int x = 0; x < 127; ++x)
        many.Row(0)[x] = static_cast<uint8_t>(255 - x);
    many.Row(1)[0] = 200; // used twice: still 127 values
    many.Row(1)[1] = 255;
    SaveBitmapFile(many, base + ".bmp");
    WriteText(base + ".spd", "frames = 1\r\n");
    ASSERT_TRUE(s.ImportStrip(base));
    EXPECT_EQ(s.ColourCount(), 128);
    EXPECT_EQ(s.Frames[0].Pixels[126], 127);
    EXPECT_EQ(s.Frames[0].Right, 127);
    EXPECT_EQ(s.Frames[0].Pixels[127 + 0], 56);
    EXPECT_EQ(s.Frames[0].Pixels[127 + 1], 1);
    EXPECT_EQ(s.Palette[3 * 127], 129) << "value 129 is the 127th to appear";
    ASSERT_EQ(LoadBytes(back, s.SaveToBytes(true)), 1)
        << "every value stays below 128 for the codec";

    many.Row(1)[2] = 128;
    SaveBitmapFile(many, base + ".bmp");
    std::string message = ErrorOf([&] { s.ImportStrip(base); });
    EXPECT_EQ(message.rfind("Too many colours in image! (SprFileU.cpp, line ", 0), 0u) << message;
}

TEST(StripRoundTrip, ExportThenImportKeepsThePictures) {
    std::mt19937 random(7);
    TempDir dir;
    for (int round = 0; round < 12; ++round) {
        const uint16_t w = static_cast<uint16_t>(1 + random() % 40),
                       h = static_cast<uint16_t>(1 + random() % 30);
        const uint16_t colours = static_cast<uint16_t>(2 + random() % (round % 3 == 0 ? 126 : 20));
        TSprFile s = RandomSprite(random, w, h, colours, 1 + static_cast<int>(random() % 6));
        // Half of them go through a compressed file first, as the conversion does.
        if (round % 2 == 1) {
            TSprFile loaded;
            ASSERT_EQ(LoadBytes(loaded, s.SaveToBytes(true)), s.FrameCount());
            s = loaded;
        }
        const std::string base = dir / ("R" + std::to_string(round) + ".SPR");
        ASSERT_TRUE(s.ExportStrip(base));
        TSprFile t;
        ASSERT_TRUE(t.ImportStrip(base));
        ASSERT_EQ(t.FrameCount(), s.FrameCount());
        EXPECT_EQ(t.Width, w);
        EXPECT_EQ(t.Height, h);
        EXPECT_EQ(t.FrameRate, s.FrameRate);
        EXPECT_EQ(t.Flags, s.Flags);
        EXPECT_LE(t.ColourCount(), s.ColourCount());
        for (int f = 0; f < s.FrameCount(); ++f) {
            EXPECT_EQ(FrameColours(t, f), FrameColours(s, f))
                << "round " << round << " frame " << f;
            // Tight: every edge row and column of a box holds a visible pixel (unless empty).
            const SpriteAnim& a = t.Frames[f];
            const int bw = a.Right - a.Left, bh = a.Bottom - a.Top;
            bool any = false, top = false, bottom = false, left = false, right = false;
            for (int y = 0; y < bh; ++y)
                for (int x = 0; x < bw; ++x)
                    if (a.Pixels[static_cast<size_t>(y * bw + x)] != 0) {
                        any = true;
                        top |= y == 0, bottom |= y == bh - 1, left |= x == 0, right |= x == bw - 1;
                    }
            if (any)
                EXPECT_TRUE(top && bottom && left && right) << "round " << round << " frame " << f;
            else
                EXPECT_EQ(std::vector<int>({a.Left, a.Top, a.Right, a.Bottom}),
                          std::vector<int>({0, 0, 1, 1}));
        }
        // The imported sprite is settled: exporting and importing it again changes nothing, and
        // it survives both file forms.
        ASSERT_TRUE(t.ExportStrip(base));
        TSprFile u;
        ASSERT_TRUE(u.ImportStrip(base));
        EXPECT_EQ(u.Palette, t.Palette);
        for (bool compress : {true, false}) {
            TSprFile v;
            ASSERT_EQ(LoadBytes(v, u.SaveToBytes(compress)), t.FrameCount());
            for (int f = 0; f < t.FrameCount(); ++f) {
                EXPECT_EQ(v.Frames[f].Pixels, t.Frames[f].Pixels);
                EXPECT_EQ(v.Frames[f].Left, t.Frames[f].Left);
                EXPECT_EQ(v.Frames[f].Bottom, t.Frames[f].Bottom);
            }
        }
    }
}

TEST(StripImport, StripsSavedByOtherPrograms) {
    // walk.SPR.bmp was saved by PIL (8-bit, magenta background at index 0, colours at indices
    // 3, 7 and 12); walkrle.SPR.bmp is the same picture saved by ImageMagick with RLE8, and
    // walkrgba.SPR.png by PIL as RGBA with a transparent background (its .spd has LF line ends).
    for (const std::string name : {"walk.SPR", "walkrle.SPR", "walkrgba.SPR"}) {
        const std::string base = std::string(PELFRY_TEST_DATA) + "/sprite/" + name;
        TSprFile s;
        if (name == "walkrgba.SPR")
            ASSERT_TRUE(
                s.ImportStrip(LoadPictureFile(base + ".png").Image, base + ".png", base + ".spd"));
        else
            ASSERT_TRUE(s.ImportStrip(base)) << name;
        EXPECT_EQ(s.FrameCount(), 3);
        EXPECT_EQ(s.Height, 8);
        EXPECT_EQ(s.Width, 10);
        EXPECT_EQ(s.FrameRate, 15);
        EXPECT_EQ(s.Flags, 2);
        // Green appears first (frame 0, row 1), then blue (row 5), then red (frame 1).
        EXPECT_EQ(s.Palette, (std::vector<uint8_t>{0, 0, 0, 10, 200, 10, 10, 10, 200, 200, 10, 10}))
            << name;
        const SpriteAnim& a = s.Frames[0];
        EXPECT_EQ(std::vector<int>({a.Left, a.Top, a.Right, a.Bottom}),
                  std::vector<int>({2, 1, 7, 6}))
            << name;
        std::vector<uint8_t> pixels0(25, 0);
        for (int i : {0, 1, 2, 5, 6, 7})
            pixels0[static_cast<size_t>(i)] = 1;
        pixels0[24] = 2;
        EXPECT_EQ(a.Pixels, pixels0) << name;
        const SpriteAnim& b = s.Frames[1];
        EXPECT_EQ(std::vector<int>({b.Left, b.Top, b.Right, b.Bottom}),
                  std::vector<int>({0, 0, 8, 8}))
            << name;
        for (int i = 0; i < 64; ++i)
            EXPECT_EQ(b.Pixels[static_cast<size_t>(i)], i % 9 == 0 ? 3 : 0) << name << i;
        const SpriteAnim& c = s.Frames[2];
        EXPECT_EQ(std::vector<int>({c.Left, c.Top, c.Right, c.Bottom}),
                  std::vector<int>({0, 0, 1, 1}))
            << name;

        TSprFile back;
        ASSERT_EQ(LoadBytes(back, s.SaveToBytes(true)), 3);
        EXPECT_EQ(back.Frames[1].Pixels, b.Pixels);
        EXPECT_EQ(FrameColours(back, 0), FrameColours(s, 0));
    }
}

TEST(StripImport, AFailedImportLeavesTheSpriteAsItWas) {
    TempDir dir;
    TSprFile s = MakeSprite(4, 3, 3);
    AddFrame(s, SolidFrame(1, 0, 3, 2, 2));
    s.SlotFlags = 0x8000;
    s.FileSize = 77;
    const auto saved = [](TSprFile copy) { return copy.SaveToBytes(true); };
    const std::vector<uint8_t> before = saved(s);
    Bitmap colourful(128, 1); // 128 colours besides the background, one too many
    for (int x = 0; x < 128; ++x)
        colourful.Row(0)[x] = static_cast<uint8_t>(x + 1);
    const struct {
        const char* what;
        Bitmap strip;
        const char* spd; // nullptr: no description at all
    } cases[] = {
        {"too many colours", colourful, "frames = 1\r\n"},
        {"a value that is no number", MakeStrip(2, 2), "frames = two\r\n"},
        {"frames that do not fit", MakeStrip(2, 2), "frames = 1\r\nheight = 5\r\n"},
        {"no description", MakeStrip(2, 2), nullptr},
    };
    const std::string spd = dir / "s.SPR.spd";
    for (const auto& c : cases) {
        DeleteFile(spd);
        if (c.spd != nullptr) WriteText(spd, c.spd);
        EXPECT_THROW(s.ImportStrip(c.strip, "s.SPR.bmp", spd), Error) << c.what;
        EXPECT_EQ(saved(s), before) << c.what;
        EXPECT_EQ(s.FileSize, 77u) << c.what;
    }
}
