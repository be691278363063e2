// .IMG images: reading every header form and damaged file, writing byte for byte, and the
// conversions to and from 8-bit bitmaps, on real files in a temporary folder.
#include "base/Bytes.h"
#include "base/Errors.h"
#include "base/Stream.h"
#include "image/ImgFileU.h"
#include "picture/Bitmap.h"
#include "platform/FileUtil.h"

#include "support/Fields.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

using namespace pelfry;

namespace {

using Bytes = std::vector<uint8_t>;

// A folder of its own for each test, removed with everything in it afterwards.
using test::TempDir;

// The fields of an .IMG file as the game writes them; `longHeader` puts the byte 8 at
// position 9 and the flags one byte later.
struct ImgLayout {
    uint8_t flags = 0x80;
    bool longHeader = false;
    std::vector<RGB> colours; // stored entries 1..N
    uint16_t width = 0;
    uint16_t height = 0;
    Bytes data; // everything after the fill
};

uint32_t Fill(size_t stored) {
    return static_cast<uint32_t>((4 - (3 * stored) % 4) % 4);
}

Bytes BuildImg(const ImgLayout& l) {
    Bytes f = {'I', 'M', 'G', 0x1A, 0xDE, 0xAD, 0xBE, 0xEF, 8};
    if (l.longHeader) PutU8(f, 8);
    PutU8(f, l.flags);
    PutU16(f, static_cast<uint16_t>(l.colours.size()));
    for (const RGB& c : l.colours)
        f.insert(f.end(), {c.r, c.g, c.b});
    PutU16(f, l.width);
    PutU16(f, l.height);
    // Non-zero fill bytes: the reader skips them whatever they hold.
    f.insert(f.end(), Fill(l.colours.size()), 0x5A);
    f.insert(f.end(), l.data.begin(), l.data.end());
    return f;
}

int32_t Load(TImgFile& img, const Bytes& file) {
    MemoryStream stream(file);
    return img.LoadFromStream(&stream);
}

Bytes Encode(const Bytes& pixels) {
    Bytes out(pixels.size() + 2);
    out.resize(static_cast<size_t>(
        Compress(pixels.data(), static_cast<int32_t>(pixels.size()), out.data())));
    return out;
}

std::vector<RGB> SomeColours(size_t n) {
    std::vector<RGB> c;
    for (size_t i = 1; i <= n; ++i)
        c.push_back(RGB{static_cast<uint8_t>(i * 3), static_cast<uint8_t>(255 - i),
                        static_cast<uint8_t>(i * 7)});
    return c;
}

Bytes Ramp(size_t n, unsigned modulo) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>((i * 5 + i / 7) % modulo);
    return b;
}

void ExpectPalette(const TImgFile& img, const std::vector<RGB>& stored) {
    ASSERT_EQ(img.ColourCount(), stored.size() + 1);
    ASSERT_EQ(img.Palette.size(), (stored.size() + 1) * 3);
    EXPECT_EQ(img.Palette[0], 0);
    EXPECT_EQ(img.Palette[1], 0);
    EXPECT_EQ(img.Palette[2], 0);
    for (size_t i = 0; i < stored.size(); ++i) {
        EXPECT_EQ(img.Palette[3 * i + 3], stored[i].r);
        EXPECT_EQ(img.Palette[3 * i + 4], stored[i].g);
        EXPECT_EQ(img.Palette[3 * i + 5], stored[i].b);
    }
}

// A bitmap file `name` + ".bmp" whose pixels come from `index(x, y)`, with palette entry i
// set to (i, 255 - i, i / 2).
template <class F> void WriteBitmap(const std::string& name, int w, int h, F index) {
    Bitmap bmp(w, h);
    for (int i = 0; i < 256; ++i)
        bmp.Palette()[static_cast<size_t>(i)] = RGB{
            static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i / 2)};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            bmp.Row(y)[x] = static_cast<uint8_t>(index(x, y));
    SaveBitmapFile(bmp, name + ".bmp");
}

bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.rfind(prefix, 0) == 0;
}

} // namespace

TEST(ImgLoad, RefusesWhatIsNoImageAndLeavesTheObjectAlone) {
    TImgFile img;
    img.Width = 7;
    EXPECT_EQ(img.LoadFromStream(nullptr), 0);
    EXPECT_EQ(Load(img, {}), 0);
    EXPECT_EQ(Load(img, {'I', 'M', 'G'}), 0);
    Bytes good = BuildImg({0x80, false, SomeColours(2), 2, 2, {1, 2, 1, 2}});
    Bytes bad = good;
    bad[3] = 0x1B;
    EXPECT_EQ(Load(img, bad), 0);
    bad = good;
    bad[0] = 'i';
    EXPECT_EQ(Load(img, bad), 0);
    EXPECT_EQ(img.Width, 7);
    EXPECT_EQ(img.ColourCount(), 0u);
    EXPECT_TRUE(img.Palette.empty());
    EXPECT_TRUE(img.Pixels.empty());
    EXPECT_EQ(Load(img, good), 4);
}

TEST(ImgLoad, ReadsUncompressedFilesWithEveryFillLength) {
    // N = 0..5 stored colours: fill 0, 1, 2, 3, 0, 1. FileSize and Depth are not read.
    for (size_t n = 0; n <= 5; ++n) {
        SCOPED_TRACE("N = " + std::to_string(n));
        Bytes pixels = Ramp(15, static_cast<unsigned>(n + 1));
        ImgLayout layout{0x80, false, SomeColours(n), 5, 3, pixels};
        Bytes file = BuildImg(layout);
        EXPECT_EQ((16 + 3 * n + Fill(n)) % 4, 0u);
        TImgFile img;
        EXPECT_EQ(Load(img, file), 15);
        EXPECT_EQ(img.Width, 5);
        EXPECT_EQ(img.Height, 3);
        ExpectPalette(img, layout.colours);
        EXPECT_EQ(img.Pixels, pixels);
        EXPECT_TRUE(img.Packed().empty());
    }
    // Bits other than 0x40 do not matter.
    TImgFile img;
    EXPECT_EQ(Load(img, BuildImg({0xBF, false, SomeColours(1), 2, 1, {1, 0}})), 2);
    EXPECT_EQ(img.Pixels, (Bytes{1, 0}));
}

TEST(ImgLoad, ReadsTheHeaderOneByteLongerWhenPosition9Holds8) {
    Bytes pixels = Ramp(12, 4);
    for (uint8_t flags : {uint8_t{0x80}, uint8_t{0xC0}}) {
        SCOPED_TRACE(flags);
        bool compressed = flags == 0xC0;
        ImgLayout layout{flags, true, SomeColours(3), 4, 3, compressed ? Encode(pixels) : pixels};
        TImgFile img;
        int32_t result = Load(img, BuildImg(layout));
        EXPECT_EQ(result, 12);
        EXPECT_EQ(img.Width, 4);
        EXPECT_EQ(img.Height, 3);
        ExpectPalette(img, layout.colours);
        EXPECT_EQ(Bytes(img.Pixels.begin(), img.Pixels.begin() + 12), pixels);
        EXPECT_EQ(img.Packed().empty(), !compressed);
    }
}

TEST(ImgLoad, DecodesCompressedPixelsIntoOneSpareByte) {
    Bytes pixels = Ramp(6 * 4, 3);
    Bytes stream = Encode(pixels);
    TImgFile img;
    EXPECT_EQ(Load(img, BuildImg({0xC0, false, SomeColours(2), 6, 4, stream})), 24);
    ASSERT_EQ(img.Pixels.size(), 25u);
    EXPECT_EQ(Bytes(img.Pixels.begin(), img.Pixels.begin() + 24), pixels);
    EXPECT_EQ(img.Packed(), stream);

    // A stream that decodes to Width x Height + 1 bytes still loads; the extra byte is kept
    // in the spare position only.
    Bytes longer = pixels;
    longer.push_back(9);
    TImgFile extra;
    EXPECT_EQ(Load(extra, BuildImg({0xC0, false, SomeColours(2), 6, 4, Encode(longer)})), 25);
    EXPECT_EQ(extra.Pixels, longer);
    // One more byte than that does not fit: decoding stops before it.
    longer.push_back(1);
    TImgFile tooLong;
    EXPECT_EQ(Load(tooLong, BuildImg({0xC0, false, SomeColours(2), 6, 4, Encode(longer)})), 25);

    // A stream that is cut short gives what it holds, zeros after it.
    TImgFile cut;
    EXPECT_EQ(Load(cut, BuildImg({0xC0, false, SomeColours(2), 6, 4, {1, 2, 3}})), 3);
    EXPECT_EQ(cut.Pixels,
              (Bytes{1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(ImgLoad, ShortFilesGiveZerosWhereDataIsMissing) {
    TImgFile img;
    EXPECT_EQ(Load(img, BuildImg({0x80, false, SomeColours(1), 4, 2, {5, 6, 7}})), 3);
    EXPECT_EQ(img.Pixels, (Bytes{5, 6, 7, 0, 0, 0, 0, 0}));
    // Cut inside the palette: the missing entries and dimensions read as zeros.
    Bytes file = BuildImg({0x80, false, SomeColours(4), 4, 2, {}});
    file.resize(12 + 5);
    TImgFile cut;
    EXPECT_EQ(Load(cut, file), 0);
    EXPECT_EQ(cut.ColourCount(), 5u);
    EXPECT_EQ(cut.Palette.size(), 15u);
    EXPECT_EQ(cut.Palette[8], 0); // the sixth stored byte was cut off
    EXPECT_EQ(cut.Width, 0);
    // An image with no pixels loads with result 0 but keeps its header.
    TImgFile empty;
    EXPECT_EQ(Load(empty, BuildImg({0x80, false, SomeColours(2), 0, 9, {}})), 0);
    EXPECT_EQ(empty.ColourCount(), 3u);
    EXPECT_EQ(empty.Height, 9);
    EXPECT_TRUE(empty.Pixels.empty());
}

TEST(ImgLoad, RefusesDimensionsTheDataCouldNeverFill) {
    // 65535 x 65535 from a few bytes is refused in both forms, the object left alone.
    for (uint8_t flags : {uint8_t{0x80}, uint8_t{0xC0}}) {
        TImgFile img;
        EXPECT_EQ(
            Load(img, BuildImg({flags, false, SomeColours(1), 65535, 65535, {1, 2, 3, 0x80, 0}})),
            0);
        EXPECT_TRUE(img.Palette.empty());
        EXPECT_TRUE(img.Pixels.empty());
    }
    // Up to the limit a truncated image still loads with zeros.
    static_assert(TImgFile::UnbackedPixelLimit == 2048u * 2048u);
    TImgFile atLimit;
    EXPECT_EQ(Load(atLimit, BuildImg({0x80, false, {}, 2048, 2048, {7}})), 1);
    EXPECT_EQ(atLimit.Pixels.size(), 2048u * 2048u);
    EXPECT_EQ(atLimit.Pixels[1], 0);
    TImgFile beyond;
    EXPECT_EQ(Load(beyond, BuildImg({0x80, false, {}, 2049, 2048, {7}})), 0);
    EXPECT_TRUE(beyond.Palette.empty());

    // Beyond the limit, the data decides: uncompressed needs every byte...
    const uint16_t w = 2050, h = 2050;
    const size_t pixels = size_t{w} * h;
    Bytes data(pixels, 1);
    TImgFile full;
    EXPECT_EQ(Load(full, BuildImg({0x80, false, {}, w, h, data})), static_cast<int32_t>(pixels));
    data.pop_back();
    TImgFile lacking;
    EXPECT_EQ(Load(lacking, BuildImg({0x80, false, {}, w, h, data})), 0);
    EXPECT_TRUE(lacking.Pixels.empty());
    // ...compressed needs one stream byte per 91 pixels (a long reference gives 273 from 3).
    const size_t needed = (pixels + 90) / 91;
    Bytes stream(needed, 0);
    TImgFile enough;
    EXPECT_EQ(Load(enough, BuildImg({0xC0, false, {}, w, h, stream})),
              static_cast<int32_t>(needed));
    EXPECT_EQ(enough.Pixels.size(), pixels + 1);
    stream.pop_back();
    TImgFile tooFew;
    EXPECT_EQ(Load(tooFew, BuildImg({0xC0, false, {}, w, h, stream})), 0);
    EXPECT_TRUE(tooFew.Pixels.empty());
}

TEST(ImgLoad, LoadFromFileReadsTheFileAndReportsAMissingOne) {
    TempDir dir;
    Bytes pixels = Ramp(20, 5);
    WriteWholeFile(dir / "A.IMG", BuildImg({0xC0, false, SomeColours(4), 5, 4, Encode(pixels)}));
    TImgFile img;
    EXPECT_EQ(img.LoadFromFile(dir / "A.IMG"), 20);
    EXPECT_EQ(Bytes(img.Pixels.begin(), img.Pixels.end() - 1), pixels);
    try {
        img.LoadFromFile(dir / "missing.IMG");
        FAIL() << "no error";
    } catch (const FileOpenError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file " + (dir / "missing.IMG"));
    }
}

TEST(ImgBitmap, MakeBitmapCopiesPixelsAndTheFirst256Colours) {
    // A file giving 300 colours: the bitmap's palette holds the first 256 (entry 0 black).
    std::vector<RGB> colours;
    for (int i = 1; i <= 300; ++i)
        colours.push_back(RGB{static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8),
                              static_cast<uint8_t>(i * 3)});
    Bytes pixels = {0, 1, 2, 255, 254, 128, 7, 0};
    TImgFile img;
    ASSERT_EQ(Load(img, BuildImg({0x80, false, colours, 4, 2, pixels})), 8);
    EXPECT_EQ(img.ColourCount(), 301u);
    Bitmap bmp = img.MakeBitmap();
    ASSERT_EQ(bmp.Width(), 4);
    ASSERT_EQ(bmp.Height(), 2);
    EXPECT_EQ(bmp.Palette()[0], (RGB{0, 0, 0}));
    for (int i = 1; i < 256; ++i)
        EXPECT_EQ(bmp.Palette()[static_cast<size_t>(i)], colours[static_cast<size_t>(i - 1)]);
    EXPECT_EQ(Bytes(bmp.Row(0), bmp.Row(0) + 4), (Bytes{0, 1, 2, 255}));
    EXPECT_EQ(Bytes(bmp.Row(1), bmp.Row(1) + 4), (Bytes{254, 128, 7, 0}));

    // Fewer colours: the rest of the palette is black.
    TImgFile few;
    Load(few, BuildImg({0x80, false, SomeColours(2), 1, 1, {2}}));
    Bitmap small = few.MakeBitmap();
    EXPECT_EQ(small.Palette()[2], SomeColours(2)[1]);
    EXPECT_EQ(small.Palette()[3], (RGB{0, 0, 0}));
    EXPECT_EQ(small.Row(0)[0], 2);
}

TEST(ImgBitmap, ExportWritesABitmapNextToTheImage) {
    TempDir dir;
    Bytes pixels = Ramp(7 * 3, 4);
    TImgFile img;
    Load(img, BuildImg({0xC0, false, SomeColours(3), 7, 3, Encode(pixels)}));
    EXPECT_TRUE(img.ExportBitmap(dir / "PIC.IMG"));
    Bitmap back = LoadBitmapFile(dir / "PIC.IMG.bmp");
    ASSERT_EQ(back.Width(), 7);
    ASSERT_EQ(back.Height(), 3);
    EXPECT_EQ(back.Pixels(), pixels);
    EXPECT_EQ(back.Palette()[3], SomeColours(3)[2]);
    // An empty image still writes a file.
    TImgFile empty;
    EXPECT_TRUE(empty.ExportBitmap(dir / "E.IMG"));
    EXPECT_TRUE(FileExists(dir / "E.IMG.bmp"));
}

TEST(ImgBitmap, ImportNumbersColoursByFirstAppearance) {
    TempDir dir;
    // Top-left is index 200, the next new index further right is 3; index 0 stays 0; index
    // 50 has the same colour as 200 elsewhere in the palette but is a colour of its own.
    const Bytes indices = {200, 0, 3, 200, 3, 0, 50, 3};
    Bitmap bmp(4, 2);
    for (int i = 0; i < 256; ++i)
        bmp.Palette()[static_cast<size_t>(i)] = RGB{static_cast<uint8_t>(i), 1, 2};
    bmp.Palette()[50] = bmp.Palette()[200];
    bmp.Palette()[0] = RGB{9, 9, 9}; // dropped: index 0 is transparent
    bmp.Pixels() = indices;
    SaveBitmapFile(bmp, dir / "A.IMG.bmp");

    TImgFile img;
    img.ImportBitmap(dir / "A.IMG", false);
    EXPECT_EQ(img.Width, 4);
    EXPECT_EQ(img.Height, 2);
    ExpectPalette(img, {RGB{200, 1, 2}, RGB{3, 1, 2}, RGB{200, 1, 2}});
    EXPECT_EQ(img.Pixels, (Bytes{1, 0, 2, 1, 2, 0, 3, 2}));

    // Opaque: one more, black entry for the index-0 pixels.
    TImgFile opaque;
    opaque.ImportBitmap(dir / "A.IMG", true);
    ExpectPalette(opaque, {RGB{200, 1, 2}, RGB{3, 1, 2}, RGB{200, 1, 2}, RGB{0, 0, 0}});
    EXPECT_EQ(opaque.Pixels, (Bytes{1, 4, 2, 1, 2, 4, 3, 2}));
}

TEST(ImgBitmap, ImportOfAnAllZeroBitmap) {
    TempDir dir;
    WriteBitmap(dir / "Z.IMG", 3, 2, [](int, int) { return 0; });
    TImgFile plain;
    plain.ImportBitmap(dir / "Z.IMG", false);
    EXPECT_EQ(plain.ColourCount(), 1u);
    EXPECT_EQ(plain.Pixels, Bytes(6, 0));
    // N = 0: no palette bytes, no fill, the pixels right after the dimensions.
    Bytes file = plain.SaveToBytes(false);
    ASSERT_EQ(file.size(), 16u + 6u);
    EXPECT_EQ(GetU16(file.data() + 10), 0);
    EXPECT_EQ(GetU16(file.data() + 12), 3);
    EXPECT_EQ(GetU16(file.data() + 14), 2);

    TImgFile opaque;
    opaque.ImportBitmap(dir / "Z.IMG", true);
    EXPECT_EQ(opaque.ColourCount(), 2u);
    ExpectPalette(opaque, {RGB{0, 0, 0}});
    EXPECT_EQ(opaque.Pixels, Bytes(6, 1));
    // N = 1: one black stored entry and one fill byte.
    Bytes opaqueFile = opaque.SaveToBytes(false);
    ASSERT_EQ(opaqueFile.size(), 16u + 3u + 1u + 6u);
    EXPECT_EQ(GetU16(opaqueFile.data() + 10), 1);
    EXPECT_EQ(Bytes(opaqueFile.begin() + 12, opaqueFile.begin() + 20),
              (Bytes{0, 0, 0, 3, 0, 2, 0, 0}));
}

TEST(ImgBitmap, ImportRefusesMoreThan127Colours) {
    TempDir dir;
    // Indices 1..127 once each, plus index 0.
    WriteBitmap(dir / "C127.IMG", 16, 8, [](int x, int y) { return y * 16 + x; });
    TImgFile img;
    img.ImportBitmap(dir / "C127.IMG", false);
    EXPECT_EQ(img.ColourCount(), 128u);
    EXPECT_EQ(img.Pixels[127], 127);
    // The palette entry of new index 127 is the colour of bitmap index 127.
    EXPECT_EQ(img.Palette[3 * 127], 127);

    auto expectRefused = [&](const std::string& name, bool opaque) {
        TImgFile refused;
        refused.Width = 11;
        try {
            refused.ImportBitmap(dir / name, opaque);
            ADD_FAILURE() << name << " accepted";
        } catch (const AssertionError& e) {
            EXPECT_TRUE(StartsWith(e.what(), "Too many colours in image! (ImgFileU.cpp, line "))
                << e.what();
        }
        // Nothing of the refused bitmap is taken.
        EXPECT_EQ(refused.Width, 11);
        EXPECT_EQ(refused.ColourCount(), 0u);
        EXPECT_TRUE(refused.Pixels.empty());
    };
    expectRefused("C127.IMG", true); // 127 + the opaque entry
    WriteBitmap(dir / "C128.IMG", 16, 8, [](int x, int y) { return y * 16 + x + 1; });
    expectRefused("C128.IMG", false);
    // Every index of the bitmap in use.
    WriteBitmap(dir / "C255.IMG", 16, 16, [](int x, int y) { return 255 - (y * 16 + x); });
    expectRefused("C255.IMG", false);

    // A 126-colour bitmap is accepted with opaque, taking entry 127 for index 0.
    WriteBitmap(dir / "C126.IMG", 16, 8, [](int x, int y) { return std::min(y * 16 + x, 126); });
    TImgFile opaque;
    opaque.ImportBitmap(dir / "C126.IMG", true);
    EXPECT_EQ(opaque.ColourCount(), 128u);
    EXPECT_EQ(opaque.Pixels[0], 127);
}

TEST(ImgBitmap, AFailedImportLeavesTheImageAsItWas) {
    TempDir dir;
    TImgFile img;
    ASSERT_EQ(Load(img, BuildImg({0xC0, false, SomeColours(3), 2, 2, Encode({1, 2, 3, 1})})), 4);
    const TImgFile before = img;
    Bitmap colourful(128, 1); // 128 colours besides the background, one too many
    for (int x = 0; x < 128; ++x)
        colourful.Row(0)[x] = static_cast<uint8_t>(x + 1);
    Bitmap wide(65536, 1);
    EXPECT_THROW(img.ImportBitmap(colourful, false), AssertionError);
    EXPECT_THROW(img.ImportBitmap(wide, false), AssertionError);
    EXPECT_THROW(img.ImportBitmap(dir / "missing", true), FileOpenError);
    EXPECT_EQ(img.Width, before.Width);
    EXPECT_EQ(img.Height, before.Height);
    EXPECT_EQ(img.Palette, before.Palette);
    EXPECT_EQ(img.Pixels, before.Pixels);
    EXPECT_EQ(img.Packed(), before.Packed());
    EXPECT_TRUE(img.Compressed());
}

TEST(ImgBitmap, ImportReadsBitmapsWrittenByOtherPrograms) {
    // PIL: 5 x 3, index x + 5y, palette entry i = (10i mod 256, (255 - 10i) mod 256, i).
    TImgFile img;
    img.ImportBitmap(std::string(PELFRY_TEST_DATA) + "/bmp/pil_p8", false);
    EXPECT_EQ(img.Width, 5);
    EXPECT_EQ(img.Height, 3);
    ASSERT_EQ(img.ColourCount(), 15u);
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(img.Pixels[static_cast<size_t>(i)], i);
    for (int i = 1; i < 15; ++i) {
        EXPECT_EQ(img.Palette[static_cast<size_t>(3 * i)], (i * 10) % 256);
        EXPECT_EQ(img.Palette[static_cast<size_t>(3 * i + 1)], (255 - i * 10) % 256);
        EXPECT_EQ(img.Palette[static_cast<size_t>(3 * i + 2)], i);
    }
    // ImageMagick: 6 x 4, pixel (x, y) of colour (40x, 60y, 200); whichever colour landed on
    // index 0 becomes transparent, every other pixel keeps its colour.
    TImgFile grad;
    grad.ImportBitmap(std::string(PELFRY_TEST_DATA) + "/bmp/im_grad_8bit", false);
    ASSERT_EQ(grad.Width, 6);
    ASSERT_EQ(grad.Height, 4);
    int coloured = 0;
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 6; ++x) {
            uint8_t v = grad.Pixels[static_cast<size_t>(y * 6 + x)];
            if (v == 0) continue;
            ++coloured;
            EXPECT_EQ(grad.Palette[3u * v], x * 40);
            EXPECT_EQ(grad.Palette[3u * v + 1], y * 60);
            EXPECT_EQ(grad.Palette[3u * v + 2], 200);
        }
    }
    EXPECT_GE(coloured, 23);
    EXPECT_EQ(grad.ColourCount(), static_cast<uint32_t>(coloured + 1));

    // A missing bitmap is the platform's open error.
    TImgFile none;
    EXPECT_THROW(none.ImportBitmap(std::string(PELFRY_TEST_DATA) + "/bmp/no_such", false),
                 FileOpenError);
}

TEST(ImgSave, WritesTheDocumentedLayout) {
    TImgFile img;
    img.Width = 2;
    img.Height = 2;
    img.Palette = {0, 0, 0, 10, 20, 30};
    img.Pixels = {1, 0, 0, 1};
    Bytes expected = {'I', 'M', 'G', 0x1A, 24, 0, 0, 0, 8, 0x80, 1, 0,
                      10,  20,  30,  2,    0,  2, 0, 0, 1, 0,    0, 1};
    EXPECT_EQ(img.SaveToBytes(false), expected);
    Bytes compressed = {'I', 'M', 'G', 0x1A, 26, 0, 0, 0, 8, 0xC0, 1, 0,    10,
                        20,  30,  2,   0,    2,  0, 0, 1, 0, 0,    1, 0x80, 0};
    EXPECT_EQ(img.SaveToBytes(true), compressed);
    EXPECT_EQ(img.Packed(), (Bytes{1, 0, 0, 1, 0x80, 0}));

    // The fill after N = 1..4 stored entries is 1, 2, 3, 0 bytes, so the pixel data starts
    // at a multiple of 4.
    for (uint32_t n = 1; n <= 4; ++n) {
        TImgFile f;
        f.Width = 1;
        f.Height = 1;
        f.Palette.assign((n + 1) * 3, 0xAB);
        f.Pixels = {0x42};
        Bytes bytes = f.SaveToBytes(false);
        const uint32_t fill = (4 - (3 * n) % 4) % 4;
        EXPECT_EQ(fill, n == 4 ? 0u : n);
        ASSERT_EQ(bytes.size(), 16 + 3 * n + fill + 1);
        EXPECT_EQ(bytes.back(), 0x42);
        EXPECT_EQ((bytes.size() - 1) % 4, 0u);
        for (uint32_t i = 0; i < fill; ++i)
            EXPECT_EQ(bytes[16 + 3 * n + i], 0);
    }
}

TEST(ImgSave, AnImageWithNoPixels) {
    TImgFile img;
    img.Width = 0;
    img.Height = 5;
    img.Palette = {0, 0, 0, 1, 2, 3};
    Bytes compressed = img.SaveToBytes(true);
    ASSERT_EQ(compressed.size(), 20u + 2u);
    EXPECT_EQ(compressed[20], 0x80);
    EXPECT_EQ(compressed[21], 0x00);
    TImgFile plain = img;
    plain.DropPacked();
    EXPECT_EQ(plain.SaveToBytes(false).size(), 20u);
    // Loading it back: result 0 and no pixels, so a preview shows nothing.
    TImgFile back;
    EXPECT_EQ(Load(back, compressed), 0);
    EXPECT_EQ(back.Height, 5);
}

TEST(ImgSave, CompressedSaveWritesLoadedPixelDataBackUnchanged) {
    TempDir dir;
    // A stream the encoder would not write (literals only) with bytes after its terminator:
    // a compressed save keeps every byte after the header as it was read.
    Bytes pixels(40, 3);
    Bytes stream(pixels);
    stream.insert(stream.end(), {0x80, 0x00, 0x11, 0x22, 0x33});
    Bytes source = BuildImg({0xC0, false, SomeColours(3), 8, 5, stream});
    WriteWholeFile(dir / "S.IMG", source);
    TImgFile img;
    ASSERT_EQ(img.LoadFromFile(dir / "S.IMG"), 40);
    int32_t written = img.SaveToFile(dir / "T.IMG", true);
    Bytes out = ReadWholeFile(dir / "T.IMG");
    EXPECT_EQ(written, static_cast<int32_t>(out.size()));
    EXPECT_EQ(GetU32(out.data() + 4), out.size());
    const size_t header = 16 + 9 + Fill(3);
    ASSERT_EQ(out.size(), header + stream.size());
    EXPECT_EQ(Bytes(out.begin() + static_cast<long>(header), out.end()), stream);
    // The header is the writer's own: depth 8, flags 0xC0.
    EXPECT_EQ(out[8], 8);
    EXPECT_EQ(out[9], 0xC0);

    // Uncompressed, the same image writes its Width x Height pixels, not the spare byte.
    int32_t plainLength = img.SaveToFile(dir / "U.IMG", false);
    Bytes plain = ReadWholeFile(dir / "U.IMG");
    EXPECT_EQ(plainLength, static_cast<int32_t>(plain.size()));
    EXPECT_EQ(GetU32(plain.data() + 4), plain.size());
    ASSERT_EQ(plain.size(), header + 40);
    EXPECT_EQ(Bytes(plain.begin() + static_cast<long>(header), plain.end()), pixels);
}

TEST(ImgSave, RoundTripsThroughFilesAndBitmaps) {
    TempDir dir;
    std::mt19937 rng(5);
    // A picture of flat areas and noise, through .bmp and .IMG in both forms.
    WriteBitmap(dir / "R.IMG", 61, 37, [&](int x, int y) {
        if (x > 20 && x < 45) return 90;
        return y % 9 == 0 ? 0 : static_cast<int>(1 + rng() % 60);
    });
    TImgFile imported;
    imported.ImportBitmap(dir / "R.IMG", false);
    for (bool compress : {true, false}) {
        SCOPED_TRACE(compress);
        TImgFile img = imported;
        img.DropPacked();
        int32_t length = img.SaveToFile(dir / "R.IMG", compress);
        EXPECT_EQ(length, FileLength(dir / "R.IMG"));
        EXPECT_EQ(img.Packed().empty(), !compress);
        TImgFile back;
        int32_t result = back.LoadFromFile(dir / "R.IMG");
        EXPECT_EQ(result, 61 * 37);
        EXPECT_EQ(back.Palette, imported.Palette);
        EXPECT_EQ(Bytes(back.Pixels.begin(), back.Pixels.begin() + 61 * 37), imported.Pixels);
        if (compress) {
            EXPECT_EQ(back.Packed(), img.Packed());
        }
        // And out to a bitmap again: the same picture with the compacted palette.
        back.ExportBitmap(dir / "R.IMG");
        TImgFile again;
        again.ImportBitmap(dir / "R.IMG", false);
        EXPECT_EQ(again.Pixels, imported.Pixels);
        EXPECT_EQ(again.Palette, imported.Palette);
    }
}

TEST(ImgSave, AFailedSaveLeavesTheOldFile) {
    TempDir dir;
    const Bytes old = {'o', 'l', 'd'};
    WriteWholeFile(dir / "K.IMG", old);
    // Pixels of 0x80 and more cannot be compressed.
    TImgFile img;
    ASSERT_EQ(Load(img, BuildImg({0x80, false, SomeColours(200), 2, 1, {5, 199}})), 2);
    try {
        img.SaveToFile(dir / "K.IMG", true);
        FAIL() << "no error";
    } catch (const AssertionError& e) {
        EXPECT_TRUE(StartsWith(e.what(), "Decompressed bytes must not have msb set!")) << e.what();
    }
    EXPECT_EQ(ReadWholeFile(dir / "K.IMG"), old);
    EXPECT_TRUE(img.Packed().empty());
    // Uncompressed they are fine.
    int32_t length = img.SaveToFile(dir / "K.IMG", false);
    EXPECT_EQ(length, FileLength(dir / "K.IMG"));
    EXPECT_EQ(length, 16 + 600 + 2);
    // A folder that does not exist: the platform's error, nothing made.
    EXPECT_THROW(img.SaveToFile(dir / "nowhere/K.IMG", false), Error);
    EXPECT_FALSE(FileExists(dir / "nowhere/K.IMG"));
}
