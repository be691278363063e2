// The window as a desktop program, through the scripted toolkit: the command line, files
// dropped on the window, the details of an entry and the list's context menu. (The start
// folders of the dialogs, the archive opened at start and the locale's numbers are tested on
// the Qt window.)
#include "AppTestSupport.h"
#include "FakeToolkit.h"

#include "app/EntryDetails.h"
#include "app/Main.h"
#include "base/Errors.h"
#include "base/Stream.h"
#include "base/Text.h"
#include "platform/FileUtil.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace pelfry::test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes B(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

TEST(StartArguments, AtMostOneArchive) {
    struct Case {
        std::vector<std::string> args;
        std::string archive;
        bool help;
        bool error;
    };
    const Case cases[] = {
        {{}, "", false, false},
        {{"/x/GFX.DIR"}, "/x/GFX.DIR", false, false},
        {{"caf\xE9.dir"}, "caf\xE9.dir", false, false}, // bytes as given
        {{"--", "-odd.DIR"}, "-odd.DIR", false, false},
        {{"--help"}, "", true, false},
        {{"-h", "a.dir"}, "a.dir", true, false},
        {{"a.dir", "b.dir"}, "a.dir", false, true},
        {{"--verbose"}, "", false, true},
        {{""}, "", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0]);
        const StartArguments start = ParseStartArguments(c.args);
        EXPECT_EQ(start.Archive, c.archive);
        EXPECT_EQ(start.Help, c.help);
        EXPECT_EQ(!start.Error.empty(), c.error) << start.Error;
    }
}

TEST(StartArguments, HelpAndVersionAreAnsweredWhateverElseIsGiven) {
    EXPECT_TRUE(ParseStartArguments({"--version"}).Version);
    // Before the GUI toolkit has taken its own options out of the line.
    const StartArguments withQtOptions = ParseStartArguments({"-platform", "xcb", "--help"});
    EXPECT_TRUE(withQtOptions.Help);
    EXPECT_FALSE(withQtOptions.Error.empty());
    EXPECT_FALSE(ParseStartArguments({"--", "--version"}).Version);
}

TEST(EntryDetails, WhatTheBytesHold) {
    Bytes inconsistent = SpriteBytes(2, 25, 0); // its header passes, its slot count cannot be
    inconsistent[18] = 0xFF;
    inconsistent[19] = 0xFF;
    const Bytes image = MakeImage(320, 200, 60).SaveToBytes(true);
    const Bytes sprite = SpriteBytes(8, 10, 2, 48, 32);
    const Bytes packedSprite = MakeSprite(2, 1, 0).SaveToBytes(true);
    const Bytes plain(12345, 'x');
    const auto size = [](const Bytes& bytes) { return FormatThousands(bytes.size()) + " bytes"; };
    struct Case {
        const char* name;
        Bytes bytes;
        const char* group;
        std::string expected;
    };
    const Case cases[] = {
        {"PIC.IMG", image, ",", "Image, 320 x 200, 60 colours, compressed, " + size(image)},
        {"a.img", ImageBytes(3, 2), ",",
         "Image, 3 x 2, 4 colours, uncompressed, " + size(ImageBytes(3, 2))},
        {"walk.Spr", sprite, ",",
         "Sprite, 48 x 32, 8 frames at 10 frames per second, ping-pong, uncompressed, " +
             size(sprite)},
        {"B.SPR", packedSprite, ",",
         "Sprite, 8 x 6, 2 frames at 1 frame per second, compressed, " + size(packedSprite)},
        {"bad.IMG", B("not an image"), ",", "not a valid image, 12 bytes"},
        {"bad.SPR", ImageBytes(3, 2), ",", "not a valid sprite, " + size(ImageBytes(3, 2))},
        {"odd.SPR", inconsistent, ",", "not a valid sprite, " + size(inconsistent)},
        {"notes.txt", plain, ",", "12,345 bytes"},
        {"notes.txt", plain, ".", "12.345 bytes"},
        {"one", B("x"), ",", "1 byte"},
        {"IMG", {}, ",", "0 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryStream data(c.bytes);
        EXPECT_EQ(DescribeEntry(c.name, data, c.group), c.expected);
    }
}

class DesktopTest : public ::testing::Test {
protected:
    void SetUp() override { form.FormCreate(); }
    void TearDown() override {
        EXPECT_TRUE(ui.OpenAnswers.empty());
        EXPECT_TRUE(ui.SaveAnswers.empty());
        EXPECT_TRUE(ui.BoxAnswers.empty());
    }
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        form.CurrentArchive->ListEntries(names);
        return names;
    }

    TempDir dir;
    FakeToolkit ui;
    TMainForm form{ui};
};

TEST_F(DesktopTest, DroppedArchiveOpensAfterTheQuestion) {
    WriteArchive(dir, "GFX.DIR", {{"A.PAL", B("a")}});
    // An archive is told by its first bytes, not by its name.
    std::filesystem::copy_file(dir / "GFX.DIR", dir / "gfx.bin");
    WriteWholeFile(dir / "NEW.PAL", B("new"));
    int32_t index = -1;
    form.CurrentArchive->AddFile(dir.Path(), "NEW.PAL", index);

    ui.BoxAnswers.push_back(MsgResult::Cancel);
    form.DropFiles({dir / "gfx.bin"});
    ASSERT_EQ(ui.Boxes.size(), 1u);
    EXPECT_EQ(ui.Boxes[0].Text, "Save changes to the new directory?");
    EXPECT_EQ(Names(), std::vector<std::string>{"NEW.PAL"});

    ui.BoxAnswers.push_back(MsgResult::No);
    form.DropFiles({dir / "gfx.bin"});
    EXPECT_EQ(form.CurrentFileName, dir / "gfx.bin");
    EXPECT_EQ(ui.Lines, std::vector<std::string>{"A.PAL"});
    EXPECT_EQ(ui.Status, "1 file(s) in directory");
}

TEST_F(DesktopTest, DroppedFilesAreAddedEditedOnesConvertedBack) {
    WriteWholeFile(dir / "x.pal", B("pal"));
    MakeImage(5, 4).ExportBitmap(dir / "PIC.IMG"); // PIC.IMG.bmp, edited outside
    WriteWholeFile(dir / "notes.dir", B("not an archive"));
    form.DropFiles({dir / "x.pal", dir / "PIC.IMG.bmp", dir / "notes.dir"});
    EXPECT_EQ(ui.Lines, (std::vector<std::string>{"x.pal", "PIC.IMG", "notes.dir"}));
    EXPECT_EQ(ui.Status, "Added 3 file(s)");
    EXPECT_TRUE(ui.Boxes.empty());
    TImgFile rebuilt;
    std::unique_ptr<TSetMemoryStream> entry = form.CurrentArchive->EntryStream(1);
    EXPECT_NE(rebuilt.LoadFromStream(entry.get()), 0);
    EXPECT_EQ(rebuilt.Width, 5);
    // The rebuilt game file was only a step on the way; the bitmap stays.
    EXPECT_FALSE(FileExists(dir / "PIC.IMG"));
    EXPECT_TRUE(FileExists(dir / "PIC.IMG.bmp"));

    // Dropped again, a file replaces the entry of its name.
    WriteWholeFile(dir / "x.pal", B("new palette"));
    form.DropFiles({dir / "x.pal"});
    EXPECT_EQ(Names().size(), 3u);
    EXPECT_EQ(form.CurrentArchive->Files()[0].Size, 11u);
    EXPECT_EQ(ui.Status, "Added 1 file(s)");
}

TEST_F(DesktopTest, DropsOfFoldersOrOfArchivesWithOtherFilesAreRefused) {
    WriteArchive(dir, "A.DIR", {{"A.PAL", B("a")}});
    WriteArchive(dir, "B.DIR", {{"B.PAL", B("b")}});
    WriteWholeFile(dir / "x.pal", B("pal"));
    ForceDirectories(dir / "sub");
    const std::vector<std::vector<std::string>> drops = {
        {dir / "sub"},
        {dir / "x.pal", dir / "sub"},
        {dir / "A.DIR", dir / "x.pal"},
        {dir / "x.pal", dir / "A.DIR"},
        {dir / "A.DIR", dir / "B.DIR"},
    };
    for (const std::vector<std::string>& drop : drops) {
        SCOPED_TRACE(drop.back());
        ui.Boxes.clear();
        form.DropFiles(drop);
        ASSERT_EQ(ui.Boxes.size(), 1u);
        EXPECT_EQ(ui.Boxes[0].Title, "Error");
        EXPECT_EQ(ui.Boxes[0].Text, DropRefusedText);
        EXPECT_EQ(ui.Boxes[0].Symbol, MsgSymbol::Error);
        EXPECT_EQ(ui.Boxes[0].Buttons, static_cast<MsgButtons>(mbCancel));
        EXPECT_EQ(form.CurrentArchive->Count(), 0u);
        EXPECT_TRUE(form.CurrentFileName.empty());
    }
}

TEST_F(DesktopTest, EntryDetailsOfTheListsLines) {
    WriteArchive(dir, "GFX.DIR", {{"PIC.IMG", ImageBytes(3, 2)}, {"big.pal", Bytes(1234, 1)}});
    form.OpenArchiveFile(dir / "GFX.DIR");
    EXPECT_EQ(form.EntryDetails(0), "Image, 3 x 2, 4 colours, uncompressed, " +
                                        std::to_string(ImageBytes(3, 2).size()) + " bytes");
    // Grouped as the user's locale groups digits.
    ui.Separators.Group = ".";
    EXPECT_EQ(form.EntryDetails(1), "1.234 bytes");
    EXPECT_EQ(form.EntryDetails(-1), "");
    EXPECT_EQ(form.EntryDetails(2), "");
    // A log in the list that does not match the archive: its lines are no entries.
    ui.ListSetLines({"OTHER.IMG", "big.pal", "third"});
    EXPECT_EQ(form.EntryDetails(0), "");
    EXPECT_EQ(form.EntryDetails(1), "1.234 bytes");
    EXPECT_EQ(form.EntryDetails(2), "");
}

// The list's context menu offers sprites' animations as GIFs; the file chosen gets the GIF,
// nothing is written when the dialog is cancelled.
TEST_F(DesktopTest, SavesASpritesAnimationAsGif) {
    WriteArchive(dir, "GFX.DIR",
                 {{"PIC.IMG", ImageBytes(3, 2)}, {"WALK.SPR", SpriteBytes(3, 10, 2)}});
    form.OpenArchiveFile(dir / "GFX.DIR");
    EXPECT_TRUE(form.EntryMenu(0).empty());
    EXPECT_TRUE(form.EntryMenu(-1).empty());
    std::vector<TMainForm::EntryCommand> menu = form.EntryMenu(1);
    ASSERT_EQ(menu.size(), 1u);
    EXPECT_EQ(menu[0].Caption, "Save animation as GIF\xE2\x80\xA6");

    form.ExtractFolder = dir.Path();
    ui.SaveFileAnswers = {std::nullopt, dir / "walk.gif"};
    menu[0].Run();
    EXPECT_TRUE(dir.Entries() == (std::vector<std::string>{"GFX.DIR", "staging"}));
    menu[0].Run();
    EXPECT_EQ(ui.SaveFileProposals, std::vector<std::string>(2, dir / "WALK.SPR.gif"));
    const Bytes gif = ReadWholeFile(dir / "walk.gif");
    EXPECT_EQ(Bytes(gif.begin(), gif.begin() + 6), B("GIF89a"));
    EXPECT_EQ(ui.Status, "Saved the animation of WALK.SPR as " + dir / "walk.gif");
}

} // namespace
} // namespace pelfry::test
