// Pictures as other programs save them (tests/data/png/generate.sh): the first-appearance
// rule of true-colour pictures, damaged PNG files, and the palette PNG writer.
#include "base/Bytes.h"
#include "base/Errors.h"
#include "picture/Picture.h"
#include "platform/FileUtil.h"

#include "BmpBuilder.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace pelfry {
namespace {

using test::Bytes;
using test::RowsOf;

const std::string kDir = std::string(PELFRY_TEST_DATA) + "/png/";
const RGB kBlack{}, kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255};

std::string DecodeError(const Bytes& bytes, const std::string& name) {
    try {
        DecodePicture(bytes.data(), bytes.size(), name);
    } catch (const Error& e) {
        return e.what();
    }
    return "<accepted>";
}

// A PNG chunk: big-endian length, type, data, CRC-32 of type and data.
void PutChunk(Bytes& out, const char* type, const Bytes& data) {
    auto putBE = [&](uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<uint8_t>(v >> shift));
    };
    putBE(static_cast<uint32_t>(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = start; i < out.size(); ++i) {
        crc ^= out[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    putBE(~crc);
}

// A grey 8-bit PNG header of the given size followed by an IDAT of a few bytes and IEND.
Bytes GreyPngHeader(uint32_t width, uint32_t height) {
    Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    PutChunk(out, "IHDR",
             {static_cast<uint8_t>(width >> 24), static_cast<uint8_t>(width >> 16),
              static_cast<uint8_t>(width >> 8), static_cast<uint8_t>(width),
              static_cast<uint8_t>(height >> 24), static_cast<uint8_t>(height >> 16),
              static_cast<uint8_t>(height >> 8), static_cast<uint8_t>(height), 8, 0, 0, 0, 0});
    PutChunk(out, "IDAT", {0x78, 0x9C, 0x03, 0x00});
    PutChunk(out, "IEND", {});
    return out;
}

TEST(PictureFiles, FirstAppearanceRuleWithBlackAndTransparentPixels) {
    // RGB: black is the background; (0, 0, 1) is a colour of its own.
    const Picture rgb = LoadPictureFile(kDir + "pil_rule_rgb.png");
    EXPECT_FALSE(rgb.Indexed);
    EXPECT_EQ(RowsOf(rgb.Image), (std::vector<Bytes>{{0, 1, 0, 2}, {1, 3, 4, 0}}));
    EXPECT_EQ(rgb.Image.Palette()[1], kRed);
    EXPECT_EQ(rgb.Image.Palette()[2], kGreen);
    EXPECT_EQ(rgb.Image.Palette()[3], kBlue);
    EXPECT_EQ(rgb.Image.Palette()[4], (RGB{0, 0, 1}));
    // RGBA: alpha 0 is the background whatever its colour, opaque black is a colour, and the
    // same colour at another alpha is the same colour.
    const Picture rgba = LoadPictureFile(kDir + "pil_rule_rgba.png");
    EXPECT_EQ(RowsOf(rgba.Image), (std::vector<Bytes>{{1, 0, 2, 0}, {3, 2, 1, 0}}));
    EXPECT_EQ(rgba.Image.Palette()[1], kBlack);
    EXPECT_EQ(rgba.Image.Palette()[2], kRed);
    EXPECT_EQ(rgba.Image.Palette()[3], kGreen);
    EXPECT_EQ(rgba.Image.Palette()[4], kBlack) << "unused entries are black";
    // RGB with a transparency chunk naming red: red is the background, black a colour.
    const Picture trns = LoadPictureFile(kDir + "pil_rule_rgb_trns.png");
    EXPECT_EQ(RowsOf(trns.Image), (std::vector<Bytes>{{1, 0, 1, 2}, {0, 3, 4, 1}}));
    EXPECT_EQ(trns.Image.Palette()[1], kBlack);
}

TEST(PictureFiles, PalettePicturesKeepTheirIndicesAndTellAColouredIndex0) {
    const Picture p = LoadPictureFile(kDir + "pil_magenta0_p2bit.png");
    EXPECT_TRUE(p.Indexed);
    EXPECT_EQ(RowsOf(p.Image),
              (std::vector<Bytes>{{0, 1, 2, 0, 1}, {1, 2, 0, 1, 2}, {2, 0, 1, 2, 0}}));
    EXPECT_EQ(p.Image.Palette()[0], (RGB{255, 0, 255}));
    EXPECT_EQ(p.Image.Palette()[3], kBlack) << "entries the file does not give";
    EXPECT_EQ(ColouredBackgroundPixels(p), 5u);
    EXPECT_EQ(ColouredBackgroundPixels(LoadPictureFile(kDir + "pil_p2_2bit.png")), 0u)
        << "entry 0 black";
    EXPECT_EQ(ColouredBackgroundPixels(LoadPictureFile(kDir + "pil_rule_rgba.png")), 0u)
        << "true colour";
}

TEST(PictureFiles, TheContentsDecideTheFormat) {
    test::TempDir dir;
    WriteWholeFile(dir / "png.bmp", ReadWholeFile(kDir + "pil_p1_1bit.png"));
    WriteWholeFile(dir / "bmp.PNG", ReadWholeFile(kDir + "p1.bmp"));
    EXPECT_EQ(RowsOf(LoadPictureFile(dir / "png.bmp").Image),
              RowsOf(LoadPictureFile(dir / "bmp.PNG").Image));
    EXPECT_THROW(LoadPictureFile(dir / "none.png"), FileOpenError);
    // Neither kind: the name tells which message.
    const Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0};
    EXPECT_EQ(DecodeError(gif, "x.Png"), "Invalid picture file x.Png");
    EXPECT_EQ(DecodeError(gif, "x.bmp"), "Invalid bitmap file x.bmp");
}

TEST(PictureFiles, DamagedPngFilesAreInvalid) {
    const Bytes good = ReadWholeFile(kDir + "im_scene_rgba_interlaced.png");
    ASSERT_NO_THROW(DecodePicture(good.data(), good.size(), "good.png"));
    // Cut anywhere before the end of its IEND chunk.
    for (size_t n = 0; n < good.size(); ++n)
        ASSERT_EQ(DecodeError(Bytes(good.begin(), good.begin() + static_cast<ptrdiff_t>(n)),
                              "c:\\p\\cut.png"),
                  "Invalid picture file c:\\p\\cut.png")
            << n << " bytes";
    // A changed byte in the header or in the image data fails its chunk's CRC.
    const std::string text(good.begin(), good.end());
    const size_t idat = text.find("IDAT");
    ASSERT_NE(idat, std::string::npos);
    for (size_t at : {size_t{16}, size_t{20}, idat + 30}) {
        Bytes bad = good;
        bad[at] ^= 0x01;
        EXPECT_EQ(DecodeError(bad, "bad.png"), "Invalid picture file bad.png") << at;
    }
    // Sizes: beyond 65,535 a side as for bitmaps; within it, never more pixels than the
    // compressed data could hold.
    EXPECT_EQ(DecodeError(GreyPngHeader(70000, 1), "big.png"),
              "big.png is wider or taller than 65,535 pixels");
    EXPECT_EQ(DecodeError(GreyPngHeader(1, 65536), "big.png"),
              "big.png is wider or taller than 65,535 pixels");
    EXPECT_EQ(DecodeError(GreyPngHeader(60000, 60000), "huge.png"),
              "Invalid picture file huge.png");
    EXPECT_EQ(DecodeError(GreyPngHeader(0, 5), "empty.png"), "Invalid picture file empty.png");
}

TEST(PngWriter, ExactIndicesAndAll256PaletteEntries) {
    Bitmap b(300, 3);
    for (int i = 0; i < 256; ++i)
        b.Palette()[static_cast<size_t>(i)] =
            RGB{static_cast<uint8_t>(i), static_cast<uint8_t>(7 * i), 0};
    b.Palette()[255] = kBlack; // a black entry past the used ones still counts
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 300; ++x)
            b.Row(y)[x] = static_cast<uint8_t>(x * 3 + y);
    const Bytes png = EncodePng(b);
    // IHDR: 300 x 3, 8 bits, palette, not interlaced; PLTE: 256 entries.
    EXPECT_EQ(Bytes(png.begin() + 16, png.begin() + 29),
              (Bytes{0, 0, 1, 44, 0, 0, 0, 3, 8, 3, 0, 0, 0}));
    EXPECT_EQ(Bytes(png.begin() + 33, png.begin() + 41), (Bytes{0, 0, 3, 0, 'P', 'L', 'T', 'E'}));
    const Picture back = DecodePng(png.data(), png.size(), "back.png");
    EXPECT_TRUE(back.Indexed);
    EXPECT_EQ(back.Image.Pixels(), b.Pixels());
    EXPECT_EQ(back.Image.Palette(), b.Palette());

    test::TempDir dir;
    SavePictureFile(b, dir / "a.png", PictureFormat::Png);
    EXPECT_EQ(ReadWholeFile(dir / "a.png"), png);
    EXPECT_EQ(std::string(PictureSuffix(PictureFormat::Png)) + PictureSuffix(PictureFormat::Bmp),
              ".png.bmp");
    // No empty PNG: the error names the file, which is left as it was.
    EXPECT_THROW(
        {
            try {
                SavePictureFile(Bitmap(0, 4), dir / "a.png", PictureFormat::Png);
            } catch (const Error& e) {
                EXPECT_EQ(std::string(e.what()),
                          dir / "a.png" +
                              " cannot be written: a PNG picture needs at least one pixel");
                throw;
            }
        },
        Error);
    EXPECT_EQ(ReadWholeFile(dir / "a.png"), png);
}

} // namespace
} // namespace pelfry
