// Images taken back from pictures as other programs save them (tests/data/png/generate.sh):
// every PNG colour type and depth, interlaced or not, and true-colour bitmaps each give exactly
// the image that the 8-bit palette .bmp of the same picture gives, and survive a round trip
// through a written PNG.
#include "image/ImgFileU.h"
#include "picture/Picture.h"
#include "platform/FileUtil.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

using namespace pelfry;

namespace {

const std::string kDir = std::string(PELFRY_TEST_DATA) + "/png/";

struct Case {
    const char* file;      // the picture another program saved
    const char* reference; // the palette .bmp of the same picture, less its ".bmp"
    bool indexed;          // a palette picture
};

const Case kCases[] = {
    {"pil_p1_1bit.png", "p1", true},
    {"pil_p2_2bit.png", "p2", true},
    {"pil_p4_4bit.png", "p4", true},
    {"pil_scene_p8.png", "scene", true},
    {"pil_scene_rgb.png", "scene", false},
    {"pil_scene_rgba.png", "scene", false},
    {"im_scene_rgb16.png", "scene", false},
    {"im_scene_rgba16.png", "scene", false},
    {"im_scene_rgb_interlaced.png", "scene", false},
    {"im_scene_rgba_interlaced.png", "scene", false},
    {"pil_grey_l8.png", "grey", false},
    {"pil_grey_la.png", "grey", false},
    {"pil_grey_16.png", "grey", false},
    {"im_grey2_2bit.png", "grey2", false},
    {"im_grey2_2bit_interlaced.png", "grey2", false},
    {"pil_scene_rgb24.bmp", "scene", false},
    {"im_scene_rgb24.bmp", "scene", false},
    {"pil_scene_rgbx32.bmp", "scene", false},
    {"im_scene_rgba32.bmp", "scene", false},
};

void ExpectSameImage(const TImgFile& a, const TImgFile& b) {
    EXPECT_EQ(a.Width, b.Width);
    EXPECT_EQ(a.Height, b.Height);
    EXPECT_EQ(a.ColourCount(), b.ColourCount());
    EXPECT_EQ(a.Palette, b.Palette);
    EXPECT_EQ(a.Pixels, b.Pixels);
}

TEST(PictureImport, EveryEditorsFileGivesTheImageOfItsPaletteBitmap) {
    const test::TempDir temp;
    const std::string& dir = temp.Path();
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.file);
        Picture picture = LoadPictureFile(kDir + c.file);
        EXPECT_EQ(picture.Indexed, c.indexed);
        for (bool opaque : {false, true}) {
            TImgFile expected, got;
            expected.ImportBitmap(kDir + c.reference, opaque); // reads reference.bmp
            got.ImportBitmap(picture.Image, opaque);
            ASSERT_GT(expected.ColourCount(), 1u) << "a picture with colours";
            ExpectSameImage(got, expected);
        }
        // Written as PNG and read back, the image stays as it was.
        TImgFile image;
        image.ImportBitmap(picture.Image, false);
        image.ExportBitmap(dir + "X.IMG", PictureFormat::Png);
        TImgFile again;
        again.ImportBitmap(LoadPictureFile(dir + "X.IMG.png").Image, false);
        ExpectSameImage(again, image);
    }
}

} // namespace
