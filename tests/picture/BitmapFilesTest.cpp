// Bitmaps written by other programs (ImageMagick and PIL, see tests/data/bmp/generate.sh):
// each must give the pixels those programs were asked to draw.
#include "base/Errors.h"
#include "picture/Bitmap.h"

#include <gtest/gtest.h>

#include <string>

namespace pelfry {
namespace {

const std::string kDir = std::string(PELFRY_TEST_DATA) + "/bmp/";

RGB At(const Bitmap& b, int x, int y) {
    return b.Palette()[b.Row(y)[x]];
}

const RGB kRed{255, 0, 0}, kBlue{0, 0, 255}, kLime{0, 255, 0}, kWhite{255, 255, 255}, kBlack{};

// 7x5 red, blue at (0,0), lime at (6,4), a white square (2,1)-(3,2).
void CheckQuad(const std::string& file) {
    SCOPED_TRACE(file);
    const Bitmap b = LoadBitmapFile(kDir + file);
    ASSERT_EQ(b.Width(), 7);
    ASSERT_EQ(b.Height(), 5);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 7; ++x) {
            RGB expected = kRed;
            if (x == 0 && y == 0)
                expected = kBlue;
            else if (x == 6 && y == 4)
                expected = kLime;
            else if (x >= 2 && x <= 3 && y >= 1 && y <= 2)
                expected = kWhite;
            EXPECT_EQ(At(b, x, y), expected) << x << "," << y;
        }
    }
}

TEST(BitmapFiles, ImageMagick4BitInEveryHeaderAndRle8) {
    CheckQuad("im_quad_4bit.bmp"); // 40-byte header
    CheckQuad("im_quad_core.bmp"); // 12-byte core header, 3-byte colours
    CheckQuad("im_quad_v5.bmp");   // 124-byte header
    CheckQuad("im_quad_rle8.bmp"); // RLE8 whose rows run past the right edge
}

TEST(BitmapFiles, ImageMagick8BitAndRle8With24Colours) {
    for (const char* file : {"im_grad_8bit.bmp", "im_grad_rle8.bmp"}) {
        SCOPED_TRACE(file);
        const Bitmap b = LoadBitmapFile(kDir + file);
        ASSERT_EQ(b.Width(), 6);
        ASSERT_EQ(b.Height(), 4);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x)
                EXPECT_EQ(At(b, x, y),
                          (RGB{static_cast<uint8_t>(40 * x), static_cast<uint8_t>(60 * y), 200}))
                    << x << "," << y;
    }
}

TEST(BitmapFiles, OneBitPictures) {
    const Bitmap dots = LoadBitmapFile(kDir + "im_dots_1bit.bmp");
    ASSERT_EQ(dots.Width(), 9);
    ASSERT_EQ(dots.Height(), 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 9; ++x) {
            const bool white = (x == 0 && y == 0) || (x == 4 && y == 1) || (x == 8 && y == 2);
            EXPECT_EQ(At(dots, x, y), white ? kWhite : kBlack) << x << "," << y;
        }
    const Bitmap checker = LoadBitmapFile(kDir + "pil_checker_1bit.bmp");
    ASSERT_EQ(checker.Width(), 10);
    ASSERT_EQ(checker.Height(), 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 10; ++x)
            EXPECT_EQ(At(checker, x, y), (x + y) % 2 ? kWhite : kBlack) << x << "," << y;
}

TEST(BitmapFiles, PilPalettedAndGrey) {
    // Index of (x,y) = x + 5y; entry i = (10i mod 256, (255 - 10i) mod 256, i): indices kept.
    const Bitmap p = LoadBitmapFile(kDir + "pil_p8.bmp");
    ASSERT_EQ(p.Width(), 5);
    ASSERT_EQ(p.Height(), 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(p.Row(y)[x], x + 5 * y);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(
            p.Palette()[static_cast<size_t>(i)],
            (RGB{static_cast<uint8_t>(i * 10 % 256),
                 static_cast<uint8_t>((255 - i * 10) % 256 + ((255 - i * 10) % 256 < 0 ? 256 : 0)),
                 static_cast<uint8_t>(i)}))
            << i;
    const Bitmap g = LoadBitmapFile(kDir + "pil_grey8.bmp");
    ASSERT_EQ(g.Width(), 3);
    ASSERT_EQ(g.Height(), 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            const uint8_t v = static_cast<uint8_t>(100 * x + 10 * y);
            EXPECT_EQ(At(g, x, y), (RGB{v, v, v}));
        }
}

TEST(BitmapFiles, TrueColourPicturesTakeIndicesByFirstAppearance) {
    struct Case {
        const char* file;
        int width, height;
        RGB colour; // of every pixel
    };
    for (const Case& c : {Case{"im_rgb24.bmp", 4, 3, kRed}, Case{"im_rgba32_v5.bmp", 4, 3, kRed},
                          Case{"pil_rgb24.bmp", 2, 2, RGB{1, 2, 3}}}) {
        SCOPED_TRACE(c.file);
        const Bitmap b = LoadBitmapFile(kDir + c.file);
        ASSERT_EQ(b.Width(), c.width);
        ASSERT_EQ(b.Height(), c.height);
        for (uint8_t p : b.Pixels())
            EXPECT_EQ(p, 1);
        EXPECT_EQ(b.Palette()[1], c.colour);
    }
}

} // namespace
} // namespace pelfry
