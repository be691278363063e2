// The conversion dispatch on real files: which files each direction makes, and the time-stamp
// rule that rebuilds a game file only when one of its edited files changed; and thumbnails.
#include "app/Convert.h"
#include "app/Thumbnail.h"
#include "archive/DirFileU.h"
#include "base/Errors.h"
#include "image/ImgFileU.h"
#include "picture/Bitmap.h"
#include "picture/Picture.h"
#include "picture/Thumbnail.h"
#include "platform/FileTime.h"
#include "platform/FileUtil.h"
#include "sprite/SprFileU.h"

#include "support/SizeSaysNothing.h"
#include "support/TempDir.h"

#include "support/System.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace pelfry;

namespace {

using test::TempDir;

// Fixed, distinct ages (2020-05-06 10:20:30 and later), set explicitly instead of waiting.
const int32_t OldAge = UnixToFileDate(1588760430);
const int32_t NewAge = UnixToFileDate(1588760430 + 3600);

TImgFile MakeImage(uint16_t w, uint16_t h, uint8_t colours) {
    TImgFile img;
    img.Width = w;
    img.Height = h;
    img.Palette.assign(static_cast<size_t>(colours) * 3, 0);
    for (size_t i = 3; i < img.Palette.size(); ++i)
        img.Palette[i] = static_cast<uint8_t>(i * 7);
    img.Pixels.resize(static_cast<size_t>(w) * h);
    for (size_t i = 0; i < img.Pixels.size(); ++i)
        img.Pixels[i] = static_cast<uint8_t>(i % colours);
    return img;
}

// A two-frame sprite of `colours` colours; every pixel of each frame's box is set.
TSprFile MakeSprite(uint16_t w, uint16_t h, uint16_t colours) {
    TSprFile spr;
    spr.Width = w;
    spr.Height = h;
    spr.Palette.assign(static_cast<size_t>(colours) * 3, 0);
    for (size_t i = 3; i < spr.Palette.size(); ++i)
        spr.Palette[i] = static_cast<uint8_t>(200 - i);
    spr.FrameRate = 12;
    spr.Flags = 3;
    for (int f = 0; f < 2; ++f) {
        SpriteAnim a;
        a.Left = static_cast<uint16_t>(f);
        a.Top = 0;
        a.Right = w;
        a.Bottom = h;
        a.Pixels.resize(static_cast<size_t>(a.Right - a.Left) * h);
        for (size_t i = 0; i < a.Pixels.size(); ++i)
            a.Pixels[i] = static_cast<uint8_t>(1 + (i + f) % (colours - 1));
        spr.Frames.push_back(a);
    }
    return spr;
}

void WriteImage(const std::string& path, int32_t age) {
    TImgFile img = MakeImage(6, 4, 5);
    img.SaveToFile(path, true);
    SetFileAge(path, age);
}

void WriteSprite(const std::string& path, int32_t age) {
    TSprFile spr = MakeSprite(5, 3, 4);
    spr.SaveToFile(path, false);
    SetFileAge(path, age);
}

// Rewrites a bitmap with one pixel changed, as a picture editor would, and gives it `age`.
void EditBitmap(const std::string& path, int32_t age, uint8_t newIndex) {
    Bitmap bmp = LoadBitmapFile(path);
    bmp.Row(0)[0] = newIndex;
    SaveBitmapFile(bmp, path);
    SetFileAge(path, age);
}

} // namespace

TEST(ConvertForward, MakesBitmapsStampedWithTheGameFilesAge) {
    TempDir dir;
    WriteImage(dir / "a.img", OldAge);
    WriteSprite(dir / "b.Spr", OldAge);
    WriteWholeFile(dir / "c.pal", {1, 2, 3});

    EXPECT_EQ(ConvertFile(dir / "a.img"), dir / "a.img.bmp");
    EXPECT_EQ(FileAge(dir / "a.img.bmp"), OldAge);
    Bitmap bmp = LoadBitmapFile(dir / "a.img.bmp");
    EXPECT_EQ(bmp.Width(), 6);
    EXPECT_EQ(bmp.Height(), 4);

    EXPECT_EQ(ConvertFile(dir / "b.Spr"), dir / "b.Spr.bmp");
    EXPECT_EQ(FileAge(dir / "b.Spr.bmp"), OldAge);
    EXPECT_EQ(FileAge(dir / "b.Spr.spd"), OldAge);
    Bitmap strip = LoadBitmapFile(dir / "b.Spr.bmp");
    EXPECT_EQ(strip.Width(), 5);
    EXPECT_EQ(strip.Height(), 6); // two frames of 3 rows

    EXPECT_EQ(ConvertFile(dir / "c.pal"), dir / "c.pal");
    EXPECT_FALSE(FileExists(dir / "c.pal.bmp"));
}

// Files made by a conversion sit in folders others may write to (the extraction folder is
// the shared temporary folder by default): a link standing where one goes is replaced.
TEST(ConvertForward, LinksWhereTheNewFilesGoAreReplacedNotFollowed) {
    TempDir dir;
    WriteSprite(dir / "b.SPR", OldAge);
    WriteWholeFile(dir / "precious", {1, 2, 3});
    for (const char* made : {"b.SPR.bmp", "b.SPR.spd"})
        if (!test::MakeLink(dir / "precious", dir / made, false))
            GTEST_SKIP() << "links cannot be made here";
    ConvertFile(dir / "b.SPR");
    EXPECT_EQ(ReadWholeFile(dir / "precious"), (std::vector<uint8_t>{1, 2, 3}));
    for (const char* made : {"b.SPR.bmp", "b.SPR.spd"})
        EXPECT_FALSE(test::IsLink(dir / made)) << made;
    EXPECT_EQ(LoadBitmapFile(dir / "b.SPR.bmp").Width(), 5);
}

TEST(ConvertForward, RefusesFilesThatAreNotImagesOrSprites) {
    TempDir dir;
    WriteWholeFile(dir / "x.img", {'N', 'O', 'P', 'E', 0, 0, 0, 0, 8, 0x80});
    try {
        ConvertFile(dir / "x.img");
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), dir / "x.img" + " is not a valid image file");
    }
    EXPECT_FALSE(FileExists(dir / "x.img.bmp"));

    WriteWholeFile(dir / "y.spr", {'S', 'P', 'R', 0x1A, 99, 0, 0, 0, 8, 0x80});
    try {
        ConvertFile(dir / "y.spr");
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), dir / "y.spr" + " is not a valid sprite file");
    }
    EXPECT_FALSE(FileExists(dir / "y.spr.bmp"));
    EXPECT_FALSE(FileExists(dir / "y.spr.spd"));

    EXPECT_THROW(ConvertFile(dir / "missing.img"), FileOpenError);
}

TEST(ConvertForward, ImageWithoutPixelsStillConverts) {
    TempDir dir;
    TImgFile empty = MakeImage(0, 0, 3);
    empty.SaveToFile(dir / "e.img", false);
    EXPECT_EQ(ConvertFile(dir / "e.img"), dir / "e.img.bmp");
    EXPECT_TRUE(FileExists(dir / "e.img.bmp"));
}

// A file whose size the system reports as 0 (/proc, some FUSE and network files) is read to
// its end: its header is not refused, nor its pixels judged beyond the data that holds them.
TEST(ConvertForward, ImageReadsToItsEndWhateverSizeItReports) {
    TempDir dir;
    MakeImage(2100, 2100, 3).SaveToFile(dir / "big.img", false);
    test::SizeSaysNothing contents(ReadWholeFile(dir / "big.img"));
    const TImgFile image = ReadImageFile(dir / "big.img", contents);
    EXPECT_EQ(image.Pixels, MakeImage(2100, 2100, 3).Pixels);
}

TEST(ConvertBack, RebuildsAnImageOnlyAfterItsBitmapChanged) {
    TempDir dir;
    ConvertOptions options;
    WriteImage(dir / "a.img", OldAge);
    ConvertFile(dir / "a.img");
    auto before = ReadWholeFile(dir / "a.img");

    std::string result;
    EXPECT_FALSE(ConvertBack(dir / "a.img.bmp", false, options, result));
    EXPECT_EQ(result, dir / "a.img");
    EXPECT_EQ(ReadWholeFile(dir / "a.img"), before);

    EditBitmap(dir / "a.img.bmp", NewAge, 3);
    EXPECT_TRUE(ConvertBack(dir / "a.img.bmp", false, options, result));
    EXPECT_EQ(result, dir / "a.img");
    EXPECT_EQ(FileAge(dir / "a.img"), NewAge);
    TImgFile rebuilt;
    ASSERT_EQ(rebuilt.LoadFromFile(dir / "a.img"), 24);
    Bitmap edited = LoadBitmapFile(dir / "a.img.bmp");
    // The palette is renumbered by first appearance, so compare colours, not indices.
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) {
            uint8_t old = edited.Row(y)[x];
            uint8_t now = rebuilt.Pixels[static_cast<size_t>(y) * 6 + x];
            if (old == 0) {
                EXPECT_EQ(now, rebuilt.ColourCount() - 1) << "index 0 becomes the opaque entry";
            } else {
                EXPECT_EQ(rebuilt.Palette[now * 3u], edited.Palette()[old].r);
                EXPECT_EQ(rebuilt.Palette[now * 3u + 2], edited.Palette()[old].b);
            }
        }

    EXPECT_FALSE(ConvertBack(dir / "a.img.bmp", false, options, result))
        << "second run does nothing";
    // The picture was stamped on a whole even second: an edit 0.73 s later is still seen.
    EditBitmap(dir / "a.img.bmp", NewAge, 4);
    ASSERT_TRUE(test::SetModifiedTime(dir / "a.img.bmp", FileDateToUnix(NewAge), 730000000));
    EXPECT_TRUE(ConvertBack(dir / "a.img.bmp", false, options, result));
}

TEST(ConvertBack, ChecksBoxesDecideCompressionAndOpacity) {
    TempDir dir;
    WriteImage(dir / "a.img", OldAge);
    ConvertFile(dir / "a.img");
    ConvertOptions options;
    options.CompressImg = false;
    options.OpaqueImg = false;
    std::string result;
    EXPECT_TRUE(ConvertBack(dir / "a.img.bmp", true, options, result));
    auto bytes = ReadWholeFile(dir / "a.img");
    ASSERT_GT(bytes.size(), 10u);
    EXPECT_EQ(bytes[9], 0x80) << "uncompressed";
    TImgFile img;
    img.LoadFromFile(dir / "a.img");
    EXPECT_EQ(img.ColourCount(), 5u) << "four colours and the background, no opaque entry";

    options.CompressImg = true;
    EXPECT_TRUE(ConvertBack(dir / "a.img.bmp", true, options, result));
    EXPECT_EQ(ReadWholeFile(dir / "a.img")[9], 0xC0);
}

TEST(ConvertBack, SpriteGroupRebuildsWhenBitmapOrDescriptionChanged) {
    TempDir dir;
    ConvertOptions options;
    WriteSprite(dir / "b.Spr", OldAge);
    ConvertFile(dir / "b.Spr");
    std::string result;
    EXPECT_FALSE(ConvertBack(dir / "b.Spr.spd", false, options, result));
    EXPECT_EQ(result, dir / "b.Spr");

    // Only the description changes: a new frame rate.
    const std::string spd =
        "frames = 2\r\nheight = 3\r\nwidth = 5\r\nframerate = 7\r\nflags = 3\r\n";
    WriteWholeFile(dir / "b.Spr.spd", std::vector<uint8_t>(spd.begin(), spd.end()));
    SetFileAge(dir / "b.Spr.spd", NewAge);
    EXPECT_TRUE(ConvertBack(dir / "b.Spr.spd", false, options, result));
    TSprFile spr;
    ASSERT_EQ(spr.LoadFromFile(dir / "b.Spr"), 2);
    EXPECT_EQ(spr.FrameRate, 7);
    EXPECT_EQ(FileAge(dir / "b.Spr"), OldAge) << "stamped with the bitmap's age";
    EXPECT_EQ(FileAge(dir / "b.Spr.spd"), OldAge);
    EXPECT_FALSE(ConvertBack(dir / "b.Spr.spd", false, options, result));

    // The bitmap of a sprite stands for the group too, and never becomes an image.
    EditBitmap(dir / "b.Spr.bmp", NewAge, 2);
    EXPECT_TRUE(ConvertBack(dir / "b.Spr.bmp", false, options, result));
    EXPECT_EQ(result, dir / "b.Spr");
    TSprFile again;
    EXPECT_EQ(again.LoadFromFile(dir / "b.Spr"), 2) << "still a sprite";
    EXPECT_EQ(FileAge(dir / "b.Spr"), NewAge);
    EXPECT_EQ(FileAge(dir / "b.Spr.spd"), NewAge);
}

TEST(ConvertBack, RecreateAlwaysRebuildsAndOtherNamesNever) {
    TempDir dir;
    ConvertOptions options;
    WriteImage(dir / "a.img", OldAge);
    WriteSprite(dir / "b.spr", OldAge);
    ConvertFile(dir / "a.img");
    ConvertFile(dir / "b.spr");
    std::string result;
    EXPECT_TRUE(ConvertBack(dir / "a.img.bmp", true, options, result));
    EXPECT_TRUE(ConvertBack(dir / "b.spr.spd", true, options, result));
    WriteWholeFile(dir / "c.pal", {1});
    EXPECT_FALSE(ConvertBack(dir / "c.pal", true, options, result));
    EXPECT_EQ(result, dir / "c.pal");
}

TEST(ConvertBack, UpperCaseInputsAndMissingGroups) {
    TempDir dir;
    ConvertOptions options;
    WriteImage(dir / "A.IMG", OldAge);
    ConvertFile(dir / "A.IMG"); // A.IMG.bmp
    EditBitmap(dir / "A.IMG.bmp", NewAge, 1);
    std::string result;
    // The extension test ignores case; the bitmap is looked up as A.IMG + ".bmp".
    EXPECT_TRUE(ConvertBack(dir / "A.IMG.BMP", false, options, result));
    EXPECT_EQ(result, dir / "A.IMG");
    EXPECT_EQ(FileAge(dir / "A.IMG"), NewAge);

    // A bitmap without its game file is always converted back.
    SaveBitmapFile(LoadBitmapFile(dir / "A.IMG.bmp"), dir / "n.img.bmp");
    EXPECT_TRUE(ConvertBack(dir / "n.img.bmp", false, options, result));
    EXPECT_TRUE(FileExists(dir / "n.img"));

    // A group whose files are all missing compares -1 with -1: nothing to do.
    EXPECT_FALSE(ConvertBack(dir / "gone.img.bmp", false, options, result));
    EXPECT_EQ(result, dir / "gone.img");
    EXPECT_FALSE(FileExists(dir / "gone.img"));
}

TEST(ConvertBack, FailedImportLeavesTheGameFileAsItWas) {
    TempDir dir;
    ConvertOptions options;
    WriteImage(dir / "a.img", OldAge);
    auto before = ReadWholeFile(dir / "a.img");
    Bitmap many(16, 16);
    for (int i = 0; i < 256; ++i) {
        many.Pixels()[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
        many.Palette()[static_cast<size_t>(i)] = RGB{static_cast<uint8_t>(i), 0, 0};
    }
    SaveBitmapFile(many, dir / "a.img.bmp");
    SetFileAge(dir / "a.img.bmp", NewAge);
    std::string result;
    EXPECT_THROW(ConvertBack(dir / "a.img.bmp", false, options, result), AssertionError);
    EXPECT_EQ(ReadWholeFile(dir / "a.img"), before);
    EXPECT_EQ(FileAge(dir / "a.img"), OldAge);
}

// A strip `height` rows high and 8 wide, one frame, every pixel colour 1: the uncompressed
// sprite file is 39 header and table bytes plus the pixels.
static void WriteStrip(const TempDir& dir, const std::string& base, int width, int height) {
    Bitmap strip(width, height);
    strip.Palette()[1] = RGB{10, 20, 30};
    for (auto& p : strip.Pixels())
        p = 1;
    SaveBitmapFile(strip, dir / (base + ".bmp"));
    WriteWholeFile(dir / (base + ".spd"), {'f', 'r', 'a', 'm', 'e', 's', '=', '1', '\r', '\n'});
}

TEST(ConvertBack, LargeUncompressedSpritesAreStoredCompressed) {
    TempDir dir;
    ConvertOptions options;
    options.CompressSpr = false;
    std::string result;

    WriteStrip(dir, "small.spr", 8, 16379); // 39 + 131032 = 131071 bytes
    ASSERT_TRUE(ConvertBack(dir / "small.spr.spd", true, options, result));
    EXPECT_EQ(FileLength(dir / "small.spr"), 131071);
    EXPECT_EQ(ReadWholeFile(dir / "small.spr")[9], 0x80);

    WriteStrip(dir, "large.spr", 7, 18719); // 39 + 131033 = 131072 bytes
    ASSERT_TRUE(ConvertBack(dir / "large.spr.spd", true, options, result));
    EXPECT_LT(FileLength(dir / "large.spr"), 131072);
    EXPECT_EQ(ReadWholeFile(dir / "large.spr")[9], 0xC0);
    TSprFile spr;
    ASSERT_EQ(spr.LoadFromFile(dir / "large.spr"), 1);
    EXPECT_EQ(spr.Frames[0].Pixels.size(), 131033u);
}

// ---- PNG and true-colour pictures ------------------------------------------------------------

// Saves `bitmap` as an editor's PNG would be, with the first pixel changed to `index`.
void EditAsPng(const std::string& from, const std::string& to, int32_t age, uint8_t index) {
    Bitmap bmp = LoadBitmapFile(from);
    bmp.Row(0)[0] = index;
    SavePictureFile(bmp, to, PictureFormat::Png);
    SetFileAge(to, age);
}

TEST(ConvertForward, PngOnRequestStampedLikeBitmaps) {
    TempDir dir;
    WriteImage(dir / "a.img", OldAge);
    WriteSprite(dir / "b.Spr", OldAge);
    EXPECT_EQ(ConvertFile(dir / "a.img", PictureFormat::Png), dir / "a.img.png");
    EXPECT_EQ(ConvertFile(dir / "b.Spr", PictureFormat::Png), dir / "b.Spr.png");
    for (const char* name : {"a.img.png", "b.Spr.png", "b.Spr.spd"})
        EXPECT_EQ(FileAge(dir / name), OldAge) << name;
    EXPECT_FALSE(FileExists(dir / "a.img.bmp"));
    // The same indices and palette as the bitmap.
    ConvertFile(dir / "a.img");
    const Picture png = LoadPictureFile(dir / "a.img.png");
    const Bitmap bmp = LoadBitmapFile(dir / "a.img.bmp");
    EXPECT_TRUE(png.Indexed);
    EXPECT_EQ(png.Image.Pixels(), bmp.Pixels());
    EXPECT_EQ(png.Image.Palette(), bmp.Palette());
}

TEST(ConvertBack, PngGroupsAndTheLaterOfTwoPictures) {
    TempDir dir;
    ConvertOptions options;
    std::string result;
    // An image exported as .bmp, its edit saved as .png beside it: the .png is the edit.
    WriteImage(dir / "a.img", OldAge);
    ConvertFile(dir / "a.img");
    EditAsPng(dir / "a.img.bmp", dir / "a.img.png", NewAge, 4);
    EXPECT_EQ(EditedPicture(dir / "a.img"), dir / "a.img.png");
    EXPECT_TRUE(ConvertBack(dir / "a.img.png", false, options, result));
    EXPECT_EQ(result, dir / "a.img");
    EXPECT_EQ(FileAge(dir / "a.img"), NewAge) << "stamped with the picture given";
    EXPECT_FALSE(ConvertBack(dir / "a.img.png", false, options, result));
    TImgFile rebuilt;
    rebuilt.LoadFromFile(dir / "a.img");
    EXPECT_EQ(rebuilt.Pixels[0], 1) << "the edit's colour comes first";

    // A sprite: its description looks up the later picture, and the whole group is stamped.
    WriteSprite(dir / "b.Spr", OldAge);
    ConvertFile(dir / "b.Spr");
    EditAsPng(dir / "b.Spr.bmp", dir / "b.Spr.png", NewAge, 0);
    EXPECT_TRUE(ConvertBack(dir / "b.Spr.spd", false, options, result));
    EXPECT_EQ(FileAge(dir / "b.Spr"), NewAge);
    EXPECT_EQ(FileAge(dir / "b.Spr.spd"), NewAge);
    TSprFile sprite;
    ASSERT_EQ(sprite.LoadFromFile(dir / "b.Spr"), 2);
    EXPECT_EQ(sprite.Frames[0].Pixels[0], 0) << "the edit made the top-left pixel background";
    EXPECT_FALSE(ConvertBack(dir / "b.Spr.png", false, options, result));
    // Saved again as .bmp, later than the .png: the .bmp is the edit now.
    const int32_t laterAge = UnixToFileDate(1588760430 + 7200);
    EditBitmap(dir / "b.Spr.bmp", laterAge, 2);
    EXPECT_EQ(EditedPicture(dir / "b.Spr"), dir / "b.Spr.bmp");
    EXPECT_TRUE(ConvertBack(dir / "b.Spr.spd", false, options, result));
    EXPECT_EQ(FileAge(dir / "b.Spr"), laterAge);
    // Only one of them: that one; neither: the .bmp, as always.
    std::filesystem::remove(dir / "b.Spr.bmp");
    EXPECT_EQ(EditedPicture(dir / "b.Spr"), dir / "b.Spr.png");
    EXPECT_EQ(EditedPicture(dir / "c.Spr"), dir / "c.Spr.bmp");

    // A .png of no image or sprite is not converted.
    SavePictureFile(Bitmap(2, 2), dir / "photo.png", PictureFormat::Png);
    EXPECT_FALSE(ConvertBack(dir / "photo.png", true, options, result));
    EXPECT_EQ(result, dir / "photo.png");
    EXPECT_FALSE(FileExists(dir / "photo"));
}

TEST(ConvertBack, WarnsOfPixelsOfAColouredIndex0) {
    TempDir dir;
    ConvertOptions options;
    std::vector<std::string> warnings;
    options.Warn = [&](const std::string& text) { warnings.push_back(text); };
    Bitmap b(4, 3);
    b.Palette()[1] = RGB{1, 2, 3};
    for (int i = 0; i < 12; ++i)
        b.Pixels()[static_cast<size_t>(i)] = i % 4 == 0 ? 0 : 1;
    std::string result;
    // Black at index 0: nothing to say. Magenta: said once, naming the file (the whole text
    // is checked where pelfry-cli prints it).
    SavePictureFile(b, dir / "k.img.bmp", PictureFormat::Bmp);
    ASSERT_TRUE(ConvertBack(dir / "k.img.bmp", true, options, result));
    b.Palette()[0] = RGB{255, 0, 255};
    SavePictureFile(b, dir / "m.img.png", PictureFormat::Png);
    ASSERT_TRUE(ConvertBack(dir / "m.img.png", true, options, result));
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(
        warnings[0].rfind(
            dir / "m.img.png: 3 pixel(s) of palette index 0 have the colour (255, 0, 255)", 0),
        0u);
    options.Warn = nullptr; // nobody listening, as in the window
    EXPECT_TRUE(ConvertBack(dir / "m.img.png", true, options, result));
}

// Thumbnails: what they show, their size (the longer side at most the size asked, never
// enlarged), their colours, and the files they refuse.
TEST(Thumbnail, SizesAndPictures) {
    TempDir dir;
    MakeImage(300, 200, 5).SaveToFile(dir / "WIDE.IMG", true);
    MakeImage(200, 300, 5).SaveToFile(dir / "TALL.IMG", true);
    TImgFile small = MakeImage(6, 4, 5);
    small.SaveToFile(dir / "small.img", false);
    TSprFile sprite = MakeSprite(5, 3, 4);
    WriteWholeFile(dir / "walk.bin", sprite.SaveToBytes(true)); // told by its first bytes
    // An archive's first picture, passing over an entry of another kind and a damaged image.
    TDirFile archive;
    archive.AppendEntry("notes.txt", std::make_shared<std::vector<uint8_t>>(5, 'x'));
    archive.AppendEntry("BAD.IMG", std::make_shared<std::vector<uint8_t>>(12, 'x'));
    archive.AppendEntry("X.SPR", std::make_shared<std::vector<uint8_t>>(sprite.SaveToBytes(false)));
    archive.SaveToFile(dir / "GAME.DIR");
    struct Case {
        const char* file;
        int size, width, height;
        const Bitmap* exact; // the picture shown pixel for pixel, when not scaled
    } cases[] = {
        {"WIDE.IMG", 128, 128, 85, nullptr},
        {"TALL.IMG", DefaultThumbnailSize, 171, 256, nullptr},
        {"small.img", DefaultThumbnailSize, 6, 4, nullptr},
        {"walk.bin", 5, 5, 3, nullptr},
        {"GAME.DIR", 2, 2, 1, nullptr},
    };
    const Bitmap smallPicture = small.MakeBitmap(), frame = sprite.MakeFrameBitmap(0);
    cases[2].exact = &smallPicture;
    cases[3].exact = &frame;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const RgbaPicture thumbnail = ScaleDown(ThumbnailPicture(dir / c.file), c.size);
        EXPECT_EQ(thumbnail.Width, c.width);
        EXPECT_EQ(thumbnail.Height, c.height);
        for (size_t i = 0; c.exact && i < c.exact->Pixels().size(); ++i) {
            const uint8_t p = c.exact->Pixels()[i];
            const RGB colour = p == 0 ? RGB{} : c.exact->Palette()[p];
            const uint8_t* got = &thumbnail.Pixels[4 * i];
            ASSERT_EQ((std::vector<int>{got[0], got[1], got[2], got[3]}),
                      (std::vector<int>{colour.r, colour.g, colour.b, p == 0 ? 0 : 255}))
                << "pixel " << i;
        }
    }
    const std::vector<uint8_t> bytes = MakeThumbnail(dir / "WIDE.IMG", 64);
    const Picture png = DecodePng(bytes.data(), bytes.size(), "t.png");
    EXPECT_EQ(png.Image.Width(), 64);
    EXPECT_EQ(png.Image.Height(), 43);
}

// A pixel of the thumbnail averages the part of the picture it covers: the background counts
// for transparency only, not as black.
TEST(Thumbnail, AveragesWithoutDarkeningEdges) {
    Bitmap picture(2, 2);
    picture.Palette()[1] = RGB{200, 100, 0};
    picture.Palette()[2] = RGB{50, 40, 30};
    picture.Pixels() = {1, 0, 1, 2};
    const RgbaPicture one = ScaleDown(picture, 1);
    EXPECT_EQ(one.Pixels, (std::vector<uint8_t>{150, 80, 10, 191}));
}

TEST(Thumbnail, RefusesWhatShowsNoPicture) {
    TempDir dir;
    WriteWholeFile(dir / "notes.txt", {'h', 'i'});
    WriteWholeFile(dir / "BAD.IMG", {'N', 'O', 'P', 'E', 0, 0, 0, 0, 8, 0x80});
    MakeImage(0, 0, 1).SaveToFile(dir / "EMPTY.IMG", false);
    TDirFile archive;
    archive.AppendEntry("notes.txt", std::make_shared<std::vector<uint8_t>>(5, 'x'));
    archive.SaveToFile(dir / "TEXT.DIR");
    const std::pair<const char*, std::string> refused[] = {
        {"notes.txt",
         "Cannot make a thumbnail of " + dir / "notes.txt" + ": not a .DIR, .IMG or .SPR file"},
        {"BAD.IMG", dir / "BAD.IMG" + " is not a valid image file"},
        {"EMPTY.IMG", dir / "EMPTY.IMG" + " has no picture to show"},
        {"TEXT.DIR", dir / "TEXT.DIR" + " has no picture to show"},
        {"missing.IMG", "Cannot open file " + dir / "missing.IMG"},
    };
    for (const auto& [file, message] : refused) {
        try {
            MakeThumbnail(dir / file, 128);
            ADD_FAILURE() << file << " made a thumbnail";
        } catch (const Error& e) {
            EXPECT_EQ(e.what(), message);
        }
    }
}
