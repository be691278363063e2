// The .bmp writer: the exact layout picture editors expect, and round trips through the reader.
#include "base/Bytes.h"
#include "base/Errors.h"
#include "picture/Bitmap.h"
#include "platform/FileUtil.h"

#include "BmpBuilder.h"
#include "support/Fields.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

namespace pelfry {
namespace {

using test::Bytes;
using test::RowsOf;
using test::TempDir;

Bitmap Sample(int width, int height) {
    Bitmap b(width, height);
    for (int i = 0; i < 256; ++i)
        b.Palette()[static_cast<size_t>(i)] = RGB{
            static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 3)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            b.Row(y)[x] = static_cast<uint8_t>(x * 31 + y * 17 + 1);
    return b;
}

TEST(PictureLimit, AtMost64MiPixelsAndWhyNotMore) {
    EXPECT_FALSE(TooManyPixels(8192, 8192));
    EXPECT_TRUE(TooManyPixels(8192, 8193));
    EXPECT_EQ(TooManyPixelsReason("the sprite's strip would be", 4096, 65535),
              "the sprite's strip would be 4096 x 65535 = 268 million pixels; at most 67 million");
    // Just past the limit, millions would read the same: the counts are given whole.
    EXPECT_EQ(TooManyPixelsReason("the image is", 8192, 8193),
              "the image is 8192 x 8193 = 67,117,056 pixels; at most 67,108,864");
}

TEST(BitmapWriter, LayoutIsUncompressed8BitBottomUpWith256Colours) {
    Bitmap b = Sample(3, 2);
    const Bytes out = EncodeBitmap(b);
    ASSERT_EQ(out.size(), 14u + 40 + 1024 + 2 * 4);
    EXPECT_EQ(out[0], 'B');
    EXPECT_EQ(out[1], 'M');
    EXPECT_EQ(GetU32(&out[2]), out.size());
    EXPECT_EQ(GetU32(&out[6]), 0u);
    EXPECT_EQ(GetU32(&out[10]), 1078u); // pixels right after the colour table
    const uint8_t* h = &out[14];
    EXPECT_EQ(GetU32(h), 40u);
    EXPECT_EQ(GetU32(h + 4), 3u);
    EXPECT_EQ(GetU32(h + 8), 2u); // positive: bottom-up
    EXPECT_EQ(GetU16(h + 12), 1);
    EXPECT_EQ(GetU16(h + 14), 8);
    EXPECT_EQ(GetU32(h + 16), 0u); // no compression
    EXPECT_EQ(GetU32(h + 20), 8u);
    EXPECT_EQ(GetU32(h + 32), 256u);
    // Colour table: blue, green, red, 0.
    EXPECT_EQ(out[54 + 4 * 200 + 0], b.Palette()[200].b);
    EXPECT_EQ(out[54 + 4 * 200 + 1], b.Palette()[200].g);
    EXPECT_EQ(out[54 + 4 * 200 + 2], b.Palette()[200].r);
    EXPECT_EQ(out[54 + 4 * 200 + 3], 0);
    // The bottom row comes first; rows are padded with zeros to 4 bytes.
    const Bytes rows(out.begin() + 1078, out.end());
    EXPECT_EQ(rows, (Bytes{b.Row(1)[0], b.Row(1)[1], b.Row(1)[2], 0, b.Row(0)[0], b.Row(0)[1],
                           b.Row(0)[2], 0}));
}

TEST(BitmapWriter, RoundTripsThroughTheReaderAtEveryPadding) {
    for (int width = 0; width <= 9; ++width) {
        for (int height = 0; height <= 3; ++height) {
            SCOPED_TRACE(testing::Message() << width << "x" << height);
            const Bitmap b = Sample(width, height);
            const Bytes out = EncodeBitmap(b);
            EXPECT_EQ(out.size(), 1078u + static_cast<size_t>((width + 3) / 4 * 4 * height));
            const Bitmap back = DecodeBitmap(out.data(), out.size(), "x.bmp");
            EXPECT_EQ(back.Width(), width);
            EXPECT_EQ(back.Height(), height);
            EXPECT_EQ(RowsOf(back), RowsOf(b));
            EXPECT_EQ(back.Palette(), b.Palette());
        }
    }
}

TEST(BitmapWriter, SavesAndLoadsFiles) {
    TempDir dir;
    const std::string f = dir / "A.IMG.bmp";
    const Bitmap b = Sample(13, 7);
    SaveBitmapFile(b, f);
    Bitmap back = LoadBitmapFile(f);
    EXPECT_EQ(RowsOf(back), RowsOf(b));
    EXPECT_EQ(back.Palette(), b.Palette());
    // Saving again replaces the file.
    SaveBitmapFile(Sample(2, 2), f);
    EXPECT_EQ(LoadBitmapFile(f).Width(), 2);
    // A save that cannot create its file leaves nothing behind.
    const std::string nowhere = dir / "none/A.IMG.bmp";
    try {
        SaveBitmapFile(b, nowhere);
        FAIL();
    } catch (const FileCreateError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file " + nowhere);
    }
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"A.IMG.bmp"});
    try {
        LoadBitmapFile(nowhere);
        FAIL();
    } catch (const FileOpenError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file " + nowhere);
    }
}

TEST(BitmapWriter, RefusesPicturesTooLargeForTheFormat) {
    Bitmap wide(65536, 1);
    EXPECT_THROW(EncodeBitmap(wide), AssertionError);
    Bitmap tall(1, 65536);
    EXPECT_THROW(EncodeBitmap(tall), AssertionError);
}

// Pixel colours "#RRGGBB" by position, as ImageMagick reads a file; empty when it is missing.
std::map<std::pair<int, int>, std::string> ReadWithImageMagick(const std::string& path) {
    std::map<std::pair<int, int>, std::string> pixels;
    const std::string command = "convert '" + path + "' -depth 8 txt:- 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return pixels;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        int x = 0, y = 0;
        char hex[8] = {};
        const char* hash = std::strchr(line, '#');
        if (std::sscanf(line, "%d,%d:", &x, &y) == 2 && hash &&
            std::sscanf(hash + 1, "%6[0-9A-Fa-f]", hex) == 1)
            pixels[{x, y}] = std::string("#") + hex;
    }
    ::pclose(pipe);
    return pixels;
}

TEST(BitmapWriter, AnotherProgramReadsWhatWeWrite) {
    if (std::system("command -v convert >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "ImageMagick's convert is not installed";
    TempDir dir;
    Bitmap b(5, 3);
    b.Palette()[1] = RGB{255, 0, 0};
    b.Palette()[2] = RGB{0, 0, 255};
    b.Palette()[200] = RGB{0x12, 0x34, 0x56};
    b.Row(0)[0] = 1;   // top left red
    b.Row(2)[4] = 2;   // bottom right blue
    b.Row(1)[2] = 200; // middle
    SaveBitmapFile(b, dir / "ours.bmp");
    auto pixels = ReadWithImageMagick(dir / "ours.bmp");
    ASSERT_EQ(pixels.size(), 15u);
    EXPECT_EQ((pixels[{0, 0}]), "#FF0000");
    EXPECT_EQ((pixels[{4, 2}]), "#0000FF");
    EXPECT_EQ((pixels[{2, 1}]), "#123456");
    EXPECT_EQ((pixels[{1, 0}]), "#000000");
}

} // namespace
} // namespace pelfry
