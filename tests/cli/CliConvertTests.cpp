// pelfry-cli's conversion and round-trip commands, run as a user would: convert, convert-back
// with the check-box options, info on images and sprites, export and rebuild.
#include "cli/CliOutput.h"
#include "cli/CliRun.h"

#include "archive/DirFileU.h"
#include "base/Bytes.h"
#include "image/ImgFileU.h"
#include "picture/Picture.h"
#include "platform/FileTime.h"
#include "sprite/SprFileU.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace pelfry;
using namespace pelfry::test;

namespace {

const int32_t OldAge = UnixToFileDate(1500000000);
const int32_t NewAge = UnixToFileDate(1500000000 + 600);

std::string Data(const std::string& name) {
    return std::string(PELFRY_TEST_DATA) + "/" + name;
}

void Copy(const std::string& from, const std::string& to) {
    WriteFile(to, ReadFile(from));
}

// A bitmap written by another program (PIL, 8-bit with a palette) stands in for an edit.
void CopyForeignBitmap(const std::string& to) {
    Copy(Data("bmp/pil_p8.bmp"), to);
}

// 39 bytes claiming one frame of 4096 x 65535 pixels.
std::vector<uint8_t> VastSprite() {
    TSprFile vast;
    vast.Width = 4096;
    vast.Height = 65535;
    vast.Palette = {0, 0, 0};
    vast.Frames.resize(1);
    vast.Frames[0].Right = 1;
    vast.Frames[0].Bottom = 3;
    vast.Frames[0].Pixels = {1, 1, 1};
    return vast.SaveToBytes(false);
}

} // namespace

TEST(CliConvert, ForwardAndBackWithOptions) {
    TestFolder dir;
    CopyForeignBitmap(dir / "hero.IMG.bmp");
    CliResult r =
        RunCli({"convert-back", "--no-compress-img", "--no-opaque", dir / "hero.IMG.bmp"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, dir / "hero.IMG.bmp" + " -> " + dir / "hero.IMG" + "\n");
    std::vector<uint8_t> img = ReadFile(dir / "hero.IMG");
    ASSERT_GT(img.size(), 10u);
    EXPECT_EQ(img[9], 0x80) << "--no-compress-img";
    EXPECT_EQ(FileAge(dir / "hero.IMG"), FileAge(dir / "hero.IMG.bmp"));

    // Unchanged now: nothing to do; --recreate-all does it anyway, compressed by default.
    r = RunCli({"convert-back", dir / "hero.IMG.bmp"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("unchanged"), std::string::npos) << r.out;
    r = RunCli({"convert-back", "--recreate-all", dir / "hero.IMG.bmp"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(ReadFile(dir / "hero.IMG")[9], 0xC0);

    // Forward again: the bitmap is made from the image and stamped with its age.
    SetFileAge(dir / "hero.IMG", OldAge);
    DeleteFile(dir / "hero.IMG.bmp");
    WriteFile(dir / "notes.txt", "hello");
    r = RunCli({"convert", dir / "hero.IMG", dir / "notes.txt"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, dir / "hero.IMG" + " -> " + dir / "hero.IMG.bmp\n" + dir / "notes.txt" +
                         ": not an image or sprite, left alone\n");
    EXPECT_EQ(FileAge(dir / "hero.IMG.bmp"), OldAge);
    EXPECT_FALSE(FileExists(dir / "notes.txt.bmp"));
}

TEST(CliConvert, SpriteStripsFromAnotherProgram) {
    TestFolder dir;
    Copy(Data("sprite/walk.SPR.bmp"), dir / "walk.SPR.bmp");
    Copy(Data("sprite/walk.SPR.spd"), dir / "walk.SPR.spd");
    CliResult r = RunCli({"convert-back", "--no-compress-spr", dir / "walk.SPR.bmp"});
    ASSERT_EQ(r.status, 0) << r.err;
    TSprFile sprite;
    ASSERT_EQ(sprite.LoadFromFile(dir / "walk.SPR"), 3);
    EXPECT_EQ(sprite.SlotCount(), 0) << "--no-compress-spr";
    EXPECT_EQ(sprite.FrameRate, 15);
    EXPECT_EQ(FileAge(dir / "walk.SPR.spd"), FileAge(dir / "walk.SPR.bmp"));

    r = RunCli({"info", dir / "walk.SPR"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Frames: 3"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Size: 10 x 8"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("ping-pong"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("uncompressed"), std::string::npos) << r.out;
    // The line the editor shows when the mouse rests on the sprite's entry.
    EXPECT_NE(r.out.find("\nDetails: Sprite, 10 x 8, 3 frames at 15 frames per second, ping-pong, "
                         "uncompressed, "),
              std::string::npos)
        << r.out;

    r = RunCli({"convert", dir / "walk.SPR"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, dir / "walk.SPR" + " -> " + dir / "walk.SPR.bmp, " + dir / "walk.SPR.spd\n");
}

// The sprite's animation as a GIF, and thumbnails: the files are made, or none at all.
TEST(CliConvert, GifsAndThumbnails) {
    TestFolder dir;
    Copy(Data("sprite/walk.SPR.bmp"), dir / "walk.SPR.bmp");
    Copy(Data("sprite/walk.SPR.spd"), dir / "walk.SPR.spd");
    ASSERT_EQ(RunCli({"convert-back", dir / "walk.SPR.spd"}).status, 0);
    CliResult r = RunCli({"convert", "--gif", dir / "walk.SPR"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, dir / "walk.SPR" + " -> " + dir / "walk.SPR.gif\n");
    const std::vector<uint8_t> gif = ReadFile(dir / "walk.SPR.gif");
    EXPECT_EQ(std::string(gif.begin(), gif.begin() + 6), "GIF89a");
    EXPECT_EQ(RunCli({"convert", "--gif", "--png", dir / "walk.SPR"}).status, 2);

    r = RunCli({"thumbnail", "-s", "4", dir / "walk.SPR", dir / "walk.png"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(LoadPictureFile(dir / "walk.png").Image.Width(), 4);
    // The output the user named is written through a link standing there.
    std::filesystem::create_directory(dir / "elsewhere");
    WriteFile(dir / "elsewhere/thumb.png", "old");
    if (MakeLink(dir / "elsewhere/thumb.png", dir / "link.png", false)) {
        ASSERT_EQ(RunCli({"thumbnail", "-s", "4", dir / "walk.SPR", dir / "link.png"}).status, 0);
        EXPECT_TRUE(IsLink(dir / "link.png"));
        EXPECT_EQ(LoadPictureFile(dir / "elsewhere/thumb.png").Image.Width(), 4);
    }
    r = RunCli({"thumbnail", dir / "walk.SPR.spd", dir / "spd.png"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "pelfry-cli: Cannot make a thumbnail of " + dir / "walk.SPR.spd" +
                         ": not a .DIR, .IMG or .SPR file\n");
    EXPECT_FALSE(FileExists(dir / "spd.png"));
    // A few bytes claiming a vast frame are refused, not drawn, by both.
    const std::vector<uint8_t> vast = VastSprite();
    WriteFile(dir / "vast.SPR", std::string(vast.begin(), vast.end()));
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"convert", "--gif", dir / "vast.SPR"},
          std::vector<std::string>{"thumbnail", dir / "vast.SPR", dir / "vast.png"}}) {
        EXPECT_EQ(RunCli(args).status, 1) << args[0];
    }
    EXPECT_FALSE(FileExists(dir / "vast.SPR.gif") || FileExists(dir / "vast.png"));
}

TEST(CliConvert, InfoOnImagesAndBadInput) {
    TestFolder dir;
    CopyForeignBitmap(dir / "a.img.bmp");
    ASSERT_EQ(RunCli({"convert-back", dir / "a.img.bmp"}).status, 0);
    CliResult r = RunCli({"info", dir / "a.img"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("compressed"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Colours:"), std::string::npos) << r.out;

    WriteFile(dir / "bad.img", "not an image at all");
    r = RunCli({"info", dir / "bad.img"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "pelfry-cli: " + dir / "bad.img" +
                         " is not a valid image file [not an image: it does not start with IMG "
                         "0x1A]\n");
    r = RunCli({"convert", dir / "bad.img"});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(FileExists(dir / "bad.img.bmp"));

    r = RunCli({"convert-back", "--no-such-option", dir / "a.img.bmp"});
    EXPECT_EQ(r.status, 2);
    r = RunCli({"convert-back"});
    EXPECT_EQ(r.status, 2);
    r = RunCli({"convert-back", dir / "gone.img.bmp"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "pelfry-cli: Cannot open file " + dir / "gone.img.bmp" +
                         ": No such file or directory\n");
    // A file that is not there is an error for convert too, whatever its kind.
    r = RunCli({"convert", dir / "gone.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "pelfry-cli: Cannot open file " + dir / "gone.txt" + ": No such file or directory\n");
    EXPECT_EQ(r.out, "");
}

TEST(CliRoundTrip, ExportEditRebuild) {
    TestFolder dir;
    // An archive of an image, a sprite and a plain file, made with the tool itself.
    CopyForeignBitmap(dir / "a.img.bmp");
    Copy(Data("sprite/walk.SPR.bmp"), dir / "b.SPR.bmp");
    Copy(Data("sprite/walk.SPR.spd"), dir / "b.SPR.spd");
    WriteFile(dir / "c.pal", "palette");
    ASSERT_EQ(RunCli({"convert-back", dir / "a.img.bmp", dir / "b.SPR.spd"}).status, 0);
    ASSERT_EQ(RunCli({"add", dir / "x.dir", dir / "a.img", dir / "b.SPR", dir / "c.pal"}).status,
              0);
    const std::vector<uint8_t> original = ReadFile(dir / "x.dir");

    CliResult r = RunCli({"export", dir / "x.dir", dir / "work"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(dir / "work/x.dir.txt"), Bytes("a.img\r\nb.SPR\r\nc.pal\r\n"));
    EXPECT_NE(r.err.find("Processing file 3 of 3: c.pal"), std::string::npos) << r.err;
    EXPECT_TRUE(FileExists(dir / "work/b.SPR.spd"));

    // Untouched: the same archive, byte for byte.
    r = RunCli({"rebuild", dir / "work/x.dir.txt", dir / "same.dir"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("converted 0 of 3"), std::string::npos) << r.out;
    EXPECT_EQ(ReadFile(dir / "same.dir"), original);

    // One bitmap edited by another program: exactly its entry changes.
    CopyForeignBitmap(dir / "work/a.img.bmp");
    Copy(Data("bmp/im_quad_4bit.bmp"), dir / "work/a.img.bmp");
    SetFileAge(dir / "work/a.img.bmp", NewAge);
    r = RunCli({"rebuild", dir / "work/x.dir.txt", dir / "edited.dir"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("converted 1 of 3"), std::string::npos) << r.out;
    auto before = TDirFile::Create(dir / "x.dir", true);
    auto after = TDirFile::Create(dir / "edited.dir", true);
    ASSERT_EQ(after->Count(), 3u);
    EXPECT_NE(*after->Files()[0].Data, *before->Files()[0].Data);
    EXPECT_EQ(*after->Files()[1].Data, *before->Files()[1].Data);
    EXPECT_EQ(*after->Files()[2].Data, *before->Files()[2].Data);
}

TEST(CliRoundTrip, RebuildWritesNothingAfterAnError) {
    TestFolder dir;
    WriteFile(dir / "a.bin", "a");
    WriteFile(dir / "log.txt", "a.bin\r\nmissing.bin\r\n");
    WriteFile(dir / "old.dir", "old contents");
    CliResult r = RunCli({"rebuild", dir / "log.txt", dir / "old.dir"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(LastLine(r.err), "pelfry-cli: Cannot open file " + dir / "missing.bin" +
                                   ": No such file or directory");
    EXPECT_EQ(ReadFile(dir / "old.dir"), Bytes("old contents"));

    // A line that names no entry is refused with its number.
    WriteFile(dir / "evil.txt", "a.bin\r\n../a.bin\r\n");
    r = RunCli({"rebuild", dir / "evil.txt", dir / "old.dir"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(LastLine(r.err),
              "pelfry-cli: " + dir / "evil.txt" + ", line 2: Unsafe entry name: ../a.bin");
    WriteFile(dir / "empty.txt", "\r\na.bin\r\n");
    r = RunCli({"rebuild", dir / "empty.txt", dir / "old.dir"});
    EXPECT_EQ(LastLine(r.err),
              "pelfry-cli: " + dir / "empty.txt" + ", line 1: Unsafe entry name: ");

    EXPECT_EQ(RunCli({"rebuild", dir / "log.txt"}).status, 2);
    EXPECT_EQ(RunCli({"export", dir / "nothing.dir", dir / "out"}).status, 1);
    WriteFile(dir / "one.bin", "1");
    ASSERT_EQ(RunCli({"add", dir / "one.dir", dir / "one.bin"}).status, 0);
    EXPECT_EQ(RunCli({"export", dir / "one.dir", ""}).status, 2)
        << "an empty FOLDER is never the root";
}

TEST(CliConvert, PngBothWaysAndTheIndex0Warning) {
    TestFolder dir;
    CopyForeignBitmap(dir / "hero.IMG.bmp");
    ASSERT_EQ(RunCli({"convert-back", dir / "hero.IMG.bmp"}).status, 0);
    SetFileAge(dir / "hero.IMG", OldAge);
    CliResult r = RunCli({"convert", "--png", dir / "hero.IMG"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, dir / "hero.IMG" + " -> " + dir / "hero.IMG.png\n");
    EXPECT_EQ(FileAge(dir / "hero.IMG.png"), OldAge);
    EXPECT_EQ(RunCli({"convert", "--png"}).status, 2);

    // A palette PNG whose index 0 is magenta: converted, with a word about those pixels.
    Copy(Data("png/pil_magenta0_p2bit.png"), dir / "m.IMG.png");
    r = RunCli({"convert-back", dir / "m.IMG.png"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, dir / "m.IMG.png" + " -> " + dir / "m.IMG\n");
    EXPECT_EQ(r.err,
              "pelfry-cli: warning: " + dir / "m.IMG.png" +
                  ": 5 pixel(s) of palette index 0 have the colour (255, 0, 255) but were taken as "
                  "background, as index 0 always is; give that colour another palette index to "
                  "keep it\n");

    // A sprite strip saved as RGBA PNG, described with LF line ends.
    Copy(Data("sprite/walkrgba.SPR.png"), dir / "w.SPR.png");
    Copy(Data("sprite/walkrgba.SPR.spd"), dir / "w.SPR.spd");
    r = RunCli({"convert-back", dir / "w.SPR.spd"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    TSprFile sprite;
    EXPECT_EQ(sprite.LoadFromFile(dir / "w.SPR"), 3);
    EXPECT_EQ(FileAge(dir / "w.SPR"), FileAge(dir / "w.SPR.png"));
}

TEST(CliRoundTrip, ExportAsPngAndRebuildFromTheLaterPicture) {
    TestFolder dir;
    CopyForeignBitmap(dir / "a.img.bmp");
    Copy(Data("sprite/walk.SPR.bmp"), dir / "b.SPR.bmp");
    Copy(Data("sprite/walk.SPR.spd"), dir / "b.SPR.spd");
    ASSERT_EQ(RunCli({"convert-back", dir / "a.img.bmp", dir / "b.SPR.spd"}).status, 0);
    ASSERT_EQ(RunCli({"add", dir / "x.dir", dir / "a.img", dir / "b.SPR"}).status, 0);
    const std::vector<uint8_t> original = ReadFile(dir / "x.dir");

    CliResult r = RunCli({"export", "--png", dir / "x.dir", dir / "png"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(FileExists(dir / "png/a.img.png"));
    EXPECT_TRUE(FileExists(dir / "png/b.SPR.png"));
    EXPECT_FALSE(FileExists(dir / "png/a.img.bmp"));
    r = RunCli({"rebuild", dir / "png/x.dir.txt", dir / "same.dir"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("converted 0 of 2"), std::string::npos) << r.out;
    EXPECT_EQ(ReadFile(dir / "same.dir"), original);

    // Exported as .bmp, the edit saved as .png beside it: the later .png is rebuilt.
    ASSERT_EQ(RunCli({"export", dir / "x.dir", dir / "bmp"}).status, 0);
    Copy(Data("png/pil_scene_rgba.png"), dir / "bmp/a.img.png");
    SetFileAge(dir / "bmp/a.img.png",
               UnixToFileDate(FileDateToUnix(FileAge(dir / "bmp/a.img.bmp")) + 60));
    r = RunCli({"rebuild", dir / "bmp/x.dir.txt", dir / "edited.dir"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("converted 1 of 2"), std::string::npos) << r.out;
    auto edited = TDirFile::Create(dir / "edited.dir", true);
    ASSERT_EQ(edited->Count(), 2u);
    EXPECT_EQ(*edited->Files()[0].Data, ReadFile(dir / "bmp/a.img"));
    TImgFile scene;
    ASSERT_EQ(scene.LoadFromFile(dir / "bmp/a.img"), 48) << "the 8 x 6 picture of the .png";
}

// Every damaged file and every picture the tool refuses says why after the message the window
// shows, in brackets, with the check's fixed number and the byte where the fault lies; a bad line
// of a description says which line and key before it.
TEST(CliConvert, RefusalsGiveTheirReasonInBrackets) {
    TestFolder dir;
    // A sprite file cut to 20 bytes of the 4,130 its header says.
    std::vector<uint8_t> cutSprite = {'S', 'P', 'R', 0x1A};
    cutSprite.resize(20, 0);
    SetU32(cutSprite, 4, 4130);
    const std::vector<uint8_t> vastBytes = VastSprite();
    Copy(Data("sprite/walk.SPR.bmp"), dir / "walk.SPR.bmp");
    // A compressed sprite of one colour and one frame: its slot's entry is at 20 (reserved word
    // at 24, unpacked size at 28), its frame's at 44 (slot byte at 47), its data at 56.
    TSprFile sprite;
    sprite.Width = sprite.Height = 2;
    sprite.Palette = {0, 0, 0, 9, 9, 9};
    sprite.Frames.resize(1);
    sprite.Frames[0].Right = sprite.Frames[0].Bottom = 2;
    sprite.Frames[0].Pixels = {1, 1, 1, 1};
    const std::vector<uint8_t> good = sprite.SaveToBytes(true);
    auto damaged = [&](size_t at, uint8_t value) {
        std::vector<uint8_t> bytes = good;
        bytes[at] = value;
        return std::string(bytes.begin(), bytes.end());
    };
    // Pictures of 128 colours besides the background, one too many.
    Bitmap colourful(128, 1);
    for (int x = 0; x < 128; ++x)
        colourful.Row(0)[x] = static_cast<uint8_t>(x + 1);
    SaveBitmapFile(colourful, dir / "many.IMG.bmp");
    SaveBitmapFile(colourful, dir / "many.SPR.bmp");
    WriteFile(dir / "many.SPR.spd", "frames = 1\r\n");
    std::vector<uint8_t> cut = ReadFile(Data("bmp/pil_p8.bmp"));
    cut.resize(cut.size() - 5);
    // An archive of one entry ("a", 2 bytes) is 4,130 bytes long, its record at 0x1012 (its
    // size at 0x101A); cut to `length` or padded with zeros, `value` written at `at`.
    TDirFile archive;
    archive.AppendEntry("a", std::make_shared<std::vector<uint8_t>>(2, 'x'));
    const std::vector<uint8_t> one = archive.SaveToBytes();
    auto damagedArchive = [&](size_t length, size_t at, uint32_t value) {
        std::vector<uint8_t> bytes = one;
        bytes.resize(length, 0);
        SetU32(bytes, at, value);
        return std::string(bytes.begin(), bytes.end());
    };
    const std::vector<uint8_t> png = ReadFile(Data("png/pil_grey_l8.png"));
    auto invalid = [&](const char* name, const char* reason) {
        return "Invalid directory file " + dir / name + " [" + reason + "]";
    };

    struct Case {
        const char* name;
        std::string bytes; // written to the file first unless empty
        const char* command;
        std::string reason; // what follows "pelfry-cli: FILE: "
    };
    const Case cases[] = {
        {"cut.SPR", std::string(cutSprite.begin(), cutSprite.end()), "convert",
         dir / "cut.SPR" +
             " is not a valid sprite file [cut short: the file holds 20 bytes, its header says "
             "4,130]"},
        {"vast.SPR", std::string(vastBytes.begin(), vastBytes.end()), "convert",
         "The strip of " + dir / "vast.SPR" +
             " is too large to convert [the sprite's strip would be 4096 x 65535 = 268 million "
             "pixels; at most 67 million]"},
        {"walk.SPR.spd", "frames = 3\r\nheight = 8\r\nwidth = 10\r\nframerate = \r\n",
         "convert-back",
         dir / "walk.SPR.spd" + ", line 4 (framerate): '' is not a valid integer value"},
        {"reserved.SPR", damaged(24, 1), "info",
         "Assertion failure (SprFileU.cpp, line 182) [slot 0's reserved word is 1, not 0, at byte "
         "0x18]"},
        {"short.SPR", damaged(28, 5), "info",
         "Assertion failure (SprFileU.cpp, line 270) [slot 0 decodes to 4 bytes, its entry says 5, "
         "at byte 0x38]"},
        {"slot.SPR", damaged(47, 1), "info",
         "Frame 0 is in slot 1, but the sprite file has 1 slots (SprFileU.cpp, line 245) [its "
         "table entry is at byte 0x2C]"},
        {"cut.IMG.bmp", std::string(cut.begin(), cut.end()), "convert-back",
         "Invalid bitmap file " + dir / "cut.IMG.bmp" +
             " [3 rows of 5 pixels need 21 bytes, the file holds 19 of them, at byte 0x436]"},
        {"many.IMG.bmp", "", "convert-back",
         "Too many colours in image! (ImgFileU.cpp, line 354) [the picture has 128 colours besides "
         "the background; at most 127 fit, 126 when opaque]"},
        {"many.SPR.spd", "", "convert-back",
         "Too many colours in image! (SprFileU.cpp, line 584) [the strip has 128 colours besides "
         "the background; at most 127 fit]"},
        {"picture.DIR", std::string(png.begin(), png.end()), "list",
         invalid("picture.DIR", "not an archive: it does not start with DIR 0x1A and the "
                                "directory block lies beyond the end of the file, at byte 0x8")},
        {"junk.DIR", damagedArchive(4130 + 13, 0, 'X'), "list",
         invalid("junk.DIR",
                 "not an archive: it does not start with DIR 0x1A and its records do not run to "
                 "its end")},
        {"short.DIR", damagedArchive(4129, 4, 4130), "list",
         invalid("short.DIR",
                 "cut short: the file holds 4,129 bytes, its header says 4,130, at byte 0x4")},
        {"large.DIR", damagedArchive(4130, 0x101A, 5000), "list",
         invalid("large.DIR", "the entries up to entry 1 claim 5,000 bytes of data, more than "
                              "the file's 4,130, at byte 0x101A")},
        {"zeros.DIR", damagedArchive(4146, 4, 4146), "list",
         invalid("zeros.DIR", "entry 2 has no name, at byte 0x102E")},
        {"record.DIR", damagedArchive(4122, 4, 0), "list",
         invalid("record.DIR", "a record is cut off by the end of the file, at byte 0x1012")},
    };
    for (const Case& c : cases) {
        if (!c.bytes.empty()) WriteFile(dir / c.name, c.bytes);
        const CliResult r = RunCli({c.command, dir / c.name});
        EXPECT_EQ(r.status, 1) << c.name;
        const std::string named =
            c.reason.find(dir / c.name) == std::string::npos ? dir / c.name + ": " : std::string();
        EXPECT_EQ(r.err, "pelfry-cli: " + named + c.reason + "\n") << c.name;
    }
}

TEST(CliConvert, ACutShortImageConvertsAndSaysSo) {
    TestFolder dir;
    // 4 x 4 pixels, uncompressed, of which the file holds 5.
    TImgFile image;
    image.Width = image.Height = 4;
    image.Palette = {0, 0, 0, 200, 0, 0};
    image.Pixels.assign(16, 1);
    std::vector<uint8_t> bytes = image.SaveToBytes(false);
    bytes.resize(bytes.size() - 11);
    WriteFile(dir / "cut.IMG", bytes);
    const std::string warning = "pelfry-cli: warning: " + dir / "cut.IMG" +
                                ": cut short: 5 of 16 pixels read; the rest is background\n";
    for (const char* command : {"convert", "info"}) {
        CliResult r = RunCli({command, dir / "cut.IMG"});
        EXPECT_EQ(r.status, 0) << command;
        EXPECT_EQ(r.err, warning) << command;
        r = RunCli({command, "-q", dir / "cut.IMG"});
        EXPECT_EQ(r.status, 0) << command;
        EXPECT_EQ(r.err, "") << command;
    }
    TImgFile converted;
    converted.ImportBitmap(dir / "cut.IMG", false);
    EXPECT_EQ(converted.Pixels,
              (std::vector<uint8_t>{1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(CliRoundTrip, ExportStopsAtAPictureTooLargeBeforeWritingIt) {
    TestFolder dir;
    TDirFile archive;
    archive.AppendEntry("a.bin", std::make_shared<std::vector<uint8_t>>(3, 'a'));
    archive.AppendEntry("vast.SPR", std::make_shared<std::vector<uint8_t>>(VastSprite()));
    archive.AppendEntry("c.bin", std::make_shared<std::vector<uint8_t>>(3, 'c'));
    archive.SaveToFile(dir / "x.dir");
    const CliResult r = RunCli({"export", "-j", "2", dir / "x.dir", dir / "out"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("vast.SPR is too large to convert [the sprite's strip would be"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(FileExists(dir / "out/a.bin"));
    for (const char* none : {"vast.SPR", "vast.SPR.bmp", "vast.SPR.spd", "c.bin", "x.dir.txt"})
        EXPECT_FALSE(FileExists(dir / ("out/" + std::string(none)))) << none;
}
