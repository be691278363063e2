// The .bmp reader on files built byte by byte: every depth, both RLE forms, every header
// size, both row orders, short colour tables, and damaged files.
#include "base/Errors.h"
#include "picture/Bitmap.h"
#include "picture/Picture.h"

#include "BmpBuilder.h"

#include <gtest/gtest.h>

namespace pelfry {
namespace {

using test::BmpSpec;
using test::BuildBmp;
using test::Bytes;
using test::PackRows;
using test::RowsOf;

const RGB kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255}, kBlack{};

Bitmap Decode(const Bytes& bytes, const std::string& name = "pic.bmp") {
    return DecodeBitmap(bytes.data(), bytes.size(), name);
}

std::string DecodeError(const Bytes& bytes, const std::string& name = "pic.bmp") {
    try {
        Decode(bytes, name);
    } catch (const Error& e) {
        return e.what();
    }
    return "<accepted>";
}

std::vector<RGB> Colours(size_t n) {
    std::vector<RGB> c(n);
    for (size_t i = 0; i < n; ++i)
        c[i] = RGB{static_cast<uint8_t>(i + 1), static_cast<uint8_t>(2 * i),
                   static_cast<uint8_t>(255 - i)};
    return c;
}

TEST(BitmapReader, UncompressedAtEveryDepth) {
    // Widths that end inside a byte and need row padding.
    const std::vector<Bytes> rows1 = {{1, 0, 1, 1, 0, 0, 1, 0, 1, 1},
                                      {0, 1, 0, 0, 1, 1, 0, 1, 0, 0}};
    const std::vector<Bytes> rows2 = {{3, 2, 1, 0, 1}, {0, 0, 3, 3, 2}, {1, 1, 1, 1, 1}};
    const std::vector<Bytes> rows4 = {{15, 0, 7, 8, 1, 2, 3}, {4, 5, 6, 9, 10, 11, 12}};
    const std::vector<Bytes> rows8 = {{0, 255, 17, 200, 3}, {9, 8, 7, 6, 5}, {1, 2, 3, 4, 250}};
    struct Case {
        int bpp;
        const std::vector<Bytes>& rows;
    };
    for (const Case& c : {Case{1, rows1}, Case{2, rows2}, Case{4, rows4}, Case{8, rows8}}) {
        SCOPED_TRACE(c.bpp);
        BmpSpec s;
        s.width = static_cast<int32_t>(c.rows[0].size());
        s.height = static_cast<int32_t>(c.rows.size());
        s.bpp = static_cast<uint16_t>(c.bpp);
        s.colours = Colours(size_t{1} << c.bpp);
        s.pixels = PackRows(c.rows, c.bpp);
        const Bitmap b = Decode(BuildBmp(s));
        EXPECT_EQ(RowsOf(b), c.rows);
        for (size_t i = 0; i < s.colours.size(); ++i)
            EXPECT_EQ(b.Palette()[i], s.colours[i]);
        for (size_t i = s.colours.size(); i < 256; ++i)
            EXPECT_EQ(b.Palette()[i], kBlack);
        // The same picture stored top-down.
        s.height = -s.height;
        s.pixels = PackRows(c.rows, c.bpp, true);
        EXPECT_EQ(RowsOf(Decode(BuildBmp(s))), c.rows);
    }
}

TEST(BitmapReader, EveryHeaderSize) {
    const std::vector<Bytes> rows = {{1, 2, 3}, {3, 2, 1}};
    for (uint32_t headerSize : {12u, 16u, 40u, 52u, 56u, 64u, 108u, 124u}) {
        SCOPED_TRACE(headerSize);
        BmpSpec s;
        s.headerSize = headerSize;
        s.width = 3;
        s.height = 2;
        s.bpp = 4;
        s.colours = {kBlack, kRed,   kGreen, kBlue,  kWhite, kWhite, kWhite, kWhite,
                     kWhite, kWhite, kWhite, kWhite, kWhite, kWhite, kWhite, kWhite};
        s.pixels = PackRows(rows, 4);
        const Bitmap b = Decode(BuildBmp(s));
        EXPECT_EQ(RowsOf(b), rows);
        EXPECT_EQ(b.Palette()[1], kRed);
        EXPECT_EQ(b.Palette()[3], kBlue);
        EXPECT_EQ(b.Palette()[15], kWhite);
    }
}

TEST(BitmapReader, ShortColourTablesLeaveTheRestBlack) {
    // Three colours for an 8-bit picture; pixel 5 lies beyond the table: it keeps its index
    // and shows black.
    const std::vector<Bytes> rows = {{0, 1, 2, 5}};
    BmpSpec s;
    s.width = 4;
    s.height = 1;
    s.colorsUsed = 3;
    s.colours = {kRed, kGreen, kBlue};
    s.pixels = PackRows(rows, 8);
    Bitmap b = Decode(BuildBmp(s));
    EXPECT_EQ(RowsOf(b), rows);
    EXPECT_EQ(b.Palette()[0], kRed);
    EXPECT_EQ(b.Palette()[2], kBlue);
    EXPECT_EQ(b.Palette()[3], kBlack);
    EXPECT_EQ(b.Palette()[5], kBlack);

    // Bytes between the table and the pixels (the offset says where the pixels are).
    s.gap = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    b = Decode(BuildBmp(s));
    EXPECT_EQ(RowsOf(b), rows);
    EXPECT_EQ(b.Palette()[3], kBlack);

    // A core header whose table is shorter than 2^bpp: the pixel offset ends it.
    BmpSpec core;
    core.headerSize = 12;
    core.width = 4;
    core.height = 1;
    core.colours = {kRed, kGreen};
    core.pixels = PackRows(rows, 8);
    b = Decode(BuildBmp(core));
    EXPECT_EQ(RowsOf(b), rows);
    EXPECT_EQ(b.Palette()[1], kGreen);
    EXPECT_EQ(b.Palette()[2], kBlack);

    // A table longer than 256 entries gives its first 256.
    BmpSpec many;
    many.width = 1;
    many.height = 1;
    many.colorsUsed = 300;
    many.colours = Colours(300);
    many.pixels = {255, 0, 0, 0};
    b = Decode(BuildBmp(many));
    EXPECT_EQ(b.Palette()[255], many.colours[255]);

    // No pixel offset at all: the pixels follow the declared table.
    s.gap.clear();
    s.offBits = 0;
    EXPECT_EQ(RowsOf(Decode(BuildBmp(s))), rows);
}

TEST(BitmapReader, Rle8) {
    BmpSpec s;
    s.width = 6;
    s.height = 4;
    s.compression = 1;
    s.colours = Colours(8);
    // Rows from the bottom: a run; an absolute run of 3 (padded) and a run; a run past the
    // right edge (cut there, as some writers pad rows); then a delta and the end of the bitmap.
    s.pixels = {
        // clang-format off
        6, 7, 0, 0,                 // bottom row: 7 7 7 7 7 7
        0, 3, 1, 2, 3, 0, 3, 4, 0, 0, // 1 2 3 4 4 4
        8, 5, 0, 0,                 // 5 5 5 5 5 5 (+2 cut)
        2, 6, 0, 2, 2, 0, 1, 1, 0, 1, // 6 6, move to x=4 of the top row, one 1, end
        // clang-format on
    };
    Bitmap b = Decode(BuildBmp(s));
    EXPECT_EQ(RowsOf(b),
              (std::vector<Bytes>{
                  {6, 6, 0, 0, 1, 0}, {5, 5, 5, 5, 5, 5}, {1, 2, 3, 4, 4, 4}, {7, 7, 7, 7, 7, 7}}));
    EXPECT_EQ(b.Palette()[7], s.colours[7]);

    // The end of the bitmap early: every pixel not reached is 0.
    s.pixels = {3, 9, 0, 1};
    b = Decode(BuildBmp(s));
    EXPECT_EQ(RowsOf(b),
              (std::vector<Bytes>{
                  {0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}, {9, 9, 9, 0, 0, 0}}));

    // Data that ends exactly after the last row needs no end-of-bitmap mark.
    s.height = 1;
    s.pixels = {6, 2, 0, 0};
    EXPECT_EQ(RowsOf(Decode(BuildBmp(s))), (std::vector<Bytes>{{2, 2, 2, 2, 2, 2}}));
    // A delta that leaves the picture ends it.
    s.pixels = {2, 2, 0, 2, 0, 5, 9, 9};
    EXPECT_EQ(RowsOf(Decode(BuildBmp(s))), (std::vector<Bytes>{{2, 2, 0, 0, 0, 0}}));
    // An absolute run past the right edge is cut there too.
    s.pixels = {0, 8, 1, 2, 3, 4, 5, 6, 7, 8, 0, 1};
    EXPECT_EQ(RowsOf(Decode(BuildBmp(s))), (std::vector<Bytes>{{1, 2, 3, 4, 5, 6}}));

    // Top-down RLE (rare, but harmless): the first row stored is the top one.
    s.height = -2;
    s.pixels = {6, 1, 0, 0, 6, 2, 0, 1};
    EXPECT_EQ(RowsOf(Decode(BuildBmp(s))),
              (std::vector<Bytes>{{1, 1, 1, 1, 1, 1}, {2, 2, 2, 2, 2, 2}}));
}

TEST(BitmapReader, Rle4) {
    BmpSpec s;
    s.width = 7;
    s.height = 3;
    s.bpp = 4;
    s.compression = 2;
    s.colours = Colours(16);
    s.pixels = {
        // clang-format off
        7, 0x12, 0, 0,                    // bottom: 1 2 1 2 1 2 1
        0, 5, 0xAB, 0xCD, 0xE0, 0, 2, 0xFF, 0, 0, // absolute 5 nibbles (3 bytes, padded): A B C D E, then F F
        0, 3, 0x34, 0x50, 1, 0x99, 0, 1,  // absolute 3 nibbles (2 bytes): 3 4 5, one 9, end
        // clang-format on
    };
    const Bitmap b = Decode(BuildBmp(s));
    EXPECT_EQ(RowsOf(b),
              (std::vector<Bytes>{
                  {3, 4, 5, 9, 0, 0, 0}, {10, 11, 12, 13, 14, 15, 15}, {1, 2, 1, 2, 1, 2, 1}}));
    EXPECT_EQ(b.Palette()[15], s.colours[15]);
}

TEST(BitmapReader, RleDescribingHugePicturesIsBounded) {
    BmpSpec s;
    s.compression = 1;
    s.colours = Colours(2);
    // A picture far larger than its runs can describe, and beyond the implicit-pixel limit.
    s.width = 65535;
    s.height = 65535;
    s.pixels = {0, 1};
    EXPECT_EQ(DecodeError(BuildBmp(s)), "Invalid bitmap file pic.bmp");
    s.width = 8193;
    s.height = 8192;
    EXPECT_EQ(DecodeError(BuildBmp(s)), "Invalid bitmap file pic.bmp");
    // A moderate picture left all implicit is fine: every pixel 0.
    s.width = 1000;
    s.height = 1000;
    const Bitmap b = Decode(BuildBmp(s));
    EXPECT_EQ(b.Width(), 1000);
    EXPECT_EQ(b.Height(), 1000);
    for (uint8_t p : b.Pixels())
        ASSERT_EQ(p, 0);
}

TEST(BitmapReader, TrueColourPicturesAreNumberedByFirstAppearance) {
    // Two rows, top first: background, red, red, green / blue, background, green, red. Each
    // case stores them its own way; all read as the indices 0 1 1 2 / 3 0 2 1.
    const std::vector<Bytes> expected = {{0, 1, 1, 2}, {3, 0, 2, 1}};
    auto rgb24 = [](uint8_t r, uint8_t g, uint8_t b) { return Bytes{b, g, r}; };
    auto px16 = [](uint16_t v) {
        return Bytes{static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
    };
    auto px32 = [](uint32_t v) {
        return Bytes{static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                     static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
    };
    auto words = [&](std::initializer_list<uint32_t> values) {
        Bytes out;
        for (uint32_t v : values) {
            const Bytes b = px32(v);
            out.insert(out.end(), b.begin(), b.end());
        }
        return out;
    };
    auto rows = [](std::vector<Bytes> pixels, size_t stride, bool topDown) { // 8 pixels, 4 a row
        Bytes out;
        for (int r = 0; r < 2; ++r) {
            const int row = topDown ? r : 1 - r;
            Bytes line;
            for (int x = 0; x < 4; ++x)
                line.insert(line.end(), pixels[row * 4 + x].begin(), pixels[row * 4 + x].end());
            line.resize(stride, 0);
            out.insert(out.end(), line.begin(), line.end());
        }
        return out;
    };
    const RGB red{255, 0, 0}, green{0, 255, 0}, blue{0, 0, 255};
    struct Case {
        const char* what;
        uint16_t bpp;
        uint32_t compression;
        uint32_t headerSize;
        Bytes masks; // after a 40-byte header, or inside a longer one
        std::vector<Bytes> pixels;
        bool topDown;
        RGB first, second, third; // colours 1, 2 and 3 as the format can carry them
    };
    const Bytes none;
    const std::vector<Bytes> bgr = {rgb24(0, 0, 0),   rgb24(255, 0, 0), rgb24(255, 0, 0),
                                    rgb24(0, 255, 0), rgb24(0, 0, 255), rgb24(0, 0, 0),
                                    rgb24(0, 255, 0), rgb24(255, 0, 0)};
    const Case cases[] = {
        {"24 bits", 24, 0, 40, none, bgr, false, red, green, blue},
        {"24 bits, core header", 24, 0, 12, none, bgr, false, red, green, blue},
        {"24 bits, top-down", 24, 0, 40, none, bgr, true, red, green, blue},
        {"16 bits 5-5-5",
         16,
         0,
         40,
         none,
         {px16(0), px16(0x7C00), px16(0x7C00), px16(0x03E0), px16(0x001F), px16(0x8000),
          px16(0x03E0), px16(0x7C00)},
         false,
         red,
         green,
         blue},
        {"16 bits 5-6-5 bit fields",
         16,
         3,
         40,
         words({0xF800, 0x07E0, 0x001F}),
         {px16(0), px16(0xF800), px16(0xF800), px16(0x0400), px16(0x001F), px16(0), px16(0x0400),
          px16(0xF800)},
         false,
         red,
         RGB{0, 130, 0},
         blue},
        {"32 bits, fourth byte padding",
         32,
         0,
         40,
         none,
         {px32(0x77000000), px32(0xFF0000), px32(0x12FF0000), px32(0xFF00), px32(0xFF), px32(0),
          px32(0xFF00), px32(0xFF0000)},
         false,
         red,
         green,
         blue},
        {"32 bits, alpha mask in a V5 header",
         32,
         3,
         124,
         words({0xFF, 0xFF00, 0xFF0000, 0xFF000000}),
         {px32(0x00FF00FF), px32(0xFF0000FF), px32(0x800000FF), px32(0xFF00FF00), px32(0xFFFF0000),
          px32(0x00000000), px32(0x0100FF00), px32(0xFF0000FF)},
         false,
         red,
         green,
         blue},
        {"32 bits, alpha bit fields after the header",
         32,
         6,
         40,
         words({0xFF0000, 0xFF00, 0xFF, 0xFF000000}),
         {px32(0x00123456), px32(0xFFFF0000), px32(0xFFFF0000), px32(0xFF00FF00), px32(0xFF0000FF),
          px32(0), px32(0xFF00FF00), px32(0xFFFF0000)},
         false,
         red,
         green,
         blue},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BmpSpec s;
        s.headerSize = c.headerSize;
        s.width = 4;
        s.height = c.topDown ? -2 : 2;
        s.bpp = c.bpp;
        s.compression = c.compression;
        const size_t stride = (4 * c.bpp + 31) / 32 * 4;
        s.pixels = rows(c.pixels, stride, c.topDown);
        if (c.headerSize == 40) s.gap = c.masks;
        Bytes file = BuildBmp(s);
        if (c.headerSize > 40)
            for (size_t k = 0; k < c.masks.size(); ++k)
                file[14 + 40 + k] = c.masks[k];
        const Picture p = DecodeBmp(file.data(), file.size(), "pic.bmp");
        EXPECT_FALSE(p.Indexed);
        EXPECT_EQ(RowsOf(p.Image), expected);
        EXPECT_EQ(p.Image.Palette()[0], kBlack);
        EXPECT_EQ(p.Image.Palette()[1], c.first);
        EXPECT_EQ(p.Image.Palette()[2], c.second);
        EXPECT_EQ(p.Image.Palette()[3], c.third);
        EXPECT_EQ(p.Image.Palette()[4], kBlack);
        EXPECT_EQ(RowsOf(Decode(file)), expected) << "DecodeBitmap reads them alike";
    }
}

TEST(BitmapReader, TrueColourLimitsAndRefusals) {
    BmpSpec s;
    s.width = 3;
    s.height = 2;
    s.bpp = 24;
    s.pixels = Bytes(12 + 9, 0x40); // the last row's padding may be missing, not a pixel
    EXPECT_NO_THROW(Decode(BuildBmp(s)));
    s.pixels.pop_back();
    EXPECT_EQ(DecodeError(BuildBmp(s)), "Invalid bitmap file pic.bmp");
    // Bit fields: only for 16 and 32 bits, with masks that are runs of bits, present in the file.
    s.pixels = Bytes(24, 0);
    s.compression = 3;
    EXPECT_EQ(DecodeError(BuildBmp(s)), "Invalid bitmap file pic.bmp");
    s.bpp = 32;
    s.gap = {0x0F, 0xF0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}; // red 0x0000F00F is not one run
    s.pixels = Bytes(24, 0);
    s.offBits = 14 + 40 + 12;
    EXPECT_EQ(DecodeError(BuildBmp(s)), "Invalid bitmap file pic.bmp");
    s.gap.clear();
    s.pixels.clear();
    s.offBits = 14 + 40 + 6; // masks cut off by the end of the file
    EXPECT_EQ(DecodeError(BuildBmp(s)), "Invalid bitmap file pic.bmp");
    // 300 colours: the first 255 keep their own index, the rest share index 255.
    BmpSpec many;
    many.width = 300;
    many.height = 1;
    many.bpp = 24;
    for (int i = 0; i < 300; ++i)
        many.pixels.insert(many.pixels.end(),
                           {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), 9});
    const Bitmap b = Decode(BuildBmp(many));
    EXPECT_EQ(b.Row(0)[254], 255);
    EXPECT_EQ(b.Row(0)[299], 255);
    EXPECT_EQ(b.Palette()[255], (RGB{9, 0, 254}));
    // JPEG or PNG inside a bitmap file is not read.
    BmpSpec jpeg;
    jpeg.width = 2;
    jpeg.height = 2;
    jpeg.bpp = 0;
    jpeg.compression = 4;
    jpeg.pixels = Bytes(16, 0);
    EXPECT_EQ(DecodeError(BuildBmp(jpeg), "photo.bmp"),
              "photo.bmp holds a JPEG or PNG picture inside a bitmap file: save it as a plain "
              "bitmap or as PNG");
}

TEST(BitmapReader, PicturesLargerThan65535PixelsAreRefused) {
    BmpSpec s;
    s.colours = Colours(2);
    s.bpp = 1;
    for (auto [w, h] : {std::pair{65536, 1}, std::pair{1, 65536}, std::pair{1, -65536},
                        std::pair{1, INT32_MIN}, std::pair{0x7FFFFFFF, 1}}) {
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        s.width = w;
        s.height = h;
        EXPECT_EQ(DecodeError(BuildBmp(s), "big.bmp"),
                  "big.bmp is wider or taller than 65,535 pixels");
    }
    // The largest sizes themselves are fine when the pixels are there (1 bit each).
    s.width = 65535;
    s.height = 2;
    s.pixels = Bytes(2 * 8192, 0xFF);
    const Bitmap b = Decode(BuildBmp(s));
    EXPECT_EQ(b.Width(), 65535);
    EXPECT_EQ(b.Row(1)[65534], 1);
}

TEST(BitmapReader, DamagedFilesAreInvalid) {
    BmpSpec good;
    good.width = 5;
    good.height = 3;
    good.colours = Colours(4);
    good.colorsUsed = 4;
    good.pixels = Bytes(24, 1);
    const Bytes base = BuildBmp(good);
    ASSERT_NO_THROW(Decode(base));
    const std::string invalid = "Invalid bitmap file c:\\x\\bad.bmp";
    auto check = [&](const Bytes& bytes, const char* what) {
        SCOPED_TRACE(what);
        EXPECT_EQ(DecodeError(bytes, "c:\\x\\bad.bmp"), invalid);
    };
    check({}, "empty");
    check({'B', 'M'}, "magic only");
    check(Bytes(base.begin(), base.begin() + 25), "header cut");
    check(Bytes(base.begin(), base.begin() + 53), "info header cut");
    Bytes b = base;
    b[0] = 'P';
    check(b, "wrong magic");
    for (uint32_t size : {0u, 11u, 13u, 15u, 125u, 0xFFFFFFFFu}) {
        b = base;
        SetU32(b, 14, size);
        check(b, "header size");
    }
    for (uint16_t bpp : {0, 3, 5, 7, 9, 64}) {
        b = base;
        b[28] = static_cast<uint8_t>(bpp);
        b[29] = static_cast<uint8_t>(bpp >> 8);
        check(b, "bits per pixel");
    }
    for (uint32_t compression :
         {2u, 3u, 7u, 0x80000000u}) { // RLE4 needs 4 bits; bit fields 16 or 32
        b = base;
        SetU32(b, 30, compression);
        check(b, "compression");
    }
    b = base;
    SetU32(b, 18, static_cast<uint32_t>(-5));
    check(b, "negative width");
    b = base;
    SetU32(b, 10, static_cast<uint32_t>(base.size() + 1));
    check(b, "pixels beyond the end");
    b = base;
    SetU32(b, 10, 20);
    check(b, "pixels inside the header");
    // One byte of the last row missing; its padding may be missing.
    check(Bytes(base.begin(), base.end() - 4), "last row cut");
    EXPECT_NO_THROW(Decode(Bytes(base.begin(), base.end() - 3)));
    // Colour table larger than the file.
    BmpSpec cut = good;
    cut.pixels.clear();
    cut.height = 0;
    cut.colorsUsed = 200;
    cut.offBits = 0; // pixels "after the table", which would lie past the end
    check(BuildBmp(cut), "table past the end");

    // RLE data that stops inside a command, or before the picture is complete.
    BmpSpec rle;
    rle.width = 4;
    rle.height = 2;
    rle.compression = 1;
    rle.colours = Colours(2);
    for (const Bytes& data : {Bytes{}, Bytes{4}, Bytes{4, 1, 0, 0}, Bytes{0, 2, 1},
                              Bytes{0, 4, 1, 1, 1}, Bytes{4, 1, 0, 0, 0, 6, 1, 1}}) {
        rle.pixels = data;
        check(BuildBmp(rle), "RLE cut");
    }
    rle.bpp = 4;
    rle.compression = 2;
    rle.pixels = {4, 0x11, 0, 0, 0, 5, 0x12, 0x34};
    check(BuildBmp(rle), "RLE4 absolute run cut");
}

TEST(BitmapReader, EmptyPicturesAreFine) {
    BmpSpec s;
    s.colours = Colours(256);
    s.width = 0;
    s.height = 0;
    Bitmap b = Decode(BuildBmp(s));
    EXPECT_EQ(b.Width(), 0);
    EXPECT_EQ(b.Height(), 0);
    EXPECT_EQ(b.Palette()[9], s.colours[9]);
    s.width = 0;
    s.height = 40000;
    EXPECT_EQ(Decode(BuildBmp(s)).Height(), 40000);
}

} // namespace
} // namespace pelfry
