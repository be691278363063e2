// Entries edited in the user's picture editor and dragged out, through the scripted toolkit: a
// stand-in "editor" saves in place and by rename, and the settling time ends when the test says
// (EditedFileSettled). The watch itself is tested on the Qt window.
#include "AppTestSupport.h"
#include "FakeToolkit.h"

#include "app/Main.h"
#include "picture/Picture.h"
#include "platform/FileUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace pelfry::test {
namespace {

using Bytes = std::vector<uint8_t>;

class PictureEditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        form.FormCreate();
        form.WindowFoldersPlace = places.Path();
        TDirFile archive;
        for (auto& [name, bytes] :
             std::vector<std::pair<std::string, Bytes>>{{"UI\\ICON.IMG", ImageBytes(4, 3)},
                                                        {"ICON.IMG", ImageBytes(6, 2)},
                                                        {"WALK.SPR", SpriteBytes(3, 10, 0)},
                                                        {"NOTES.TXT", Bytes{'n'}}})
            archive.AppendEntry(name, std::make_shared<const Bytes>(bytes));
        archive.SaveToFile(dir / "GFX.DIR");
        ui.OpenAnswers.push_back(dir / "GFX.DIR");
        form.FileOpen();
    }
    void TearDown() override { EXPECT_TRUE(ui.BoxAnswers.empty()); }

    // Opens list line `line` in the editor; the file the editor got.
    std::string Edit(int line) {
        ui.Select({line});
        form.EditInPictureEditor();
        return ui.Edited.back();
    }
    // The editor saves `bytes` in place (the file keeps its identity) or by writing a new file
    // and renaming it over the old one; then the file settles.
    void Save(const std::string& file, const Bytes& bytes, bool inPlace) {
        const std::string target = inPlace ? file : file + ".new";
        std::ofstream(target, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        if (!inPlace) std::filesystem::rename(target, file);
        form.EditedFileSettled(file);
    }
    static Bytes Png(const TImgFile& image, const std::string& file) {
        return EncodePicture(image.MakeBitmap(), file, PictureFormat::Png);
    }
    Bytes EntryBytes(size_t index) { return *form.CurrentArchive->Files()[index].Data; }
    // The width of the image that entry `index` holds.
    uint16_t Width(int index) {
        TImgFile image;
        EXPECT_NE(image.LoadFromStream(form.CurrentArchive->EntryStream(index).get()), 0);
        return image.Width;
    }

    TempDir dir, places;
    FakeToolkit ui;
    TMainForm form{ui};
};

TEST_F(PictureEditorTest, PicturesOpenAsConvertWritesThemEachInAFolderOfItsOwn) {
    ui.Select({0, 1, 2, 3});
    form.EditInPictureEditor();
    ASSERT_EQ(ui.Edited.size(), 3u);
    EXPECT_EQ(ExtractFileName(ui.Edited[0]), "ICON.IMG.png");
    EXPECT_EQ(ExtractFileName(ui.Edited[1]), "ICON.IMG.png");
    EXPECT_NE(ExtractFilePath(ui.Edited[0]), ExtractFilePath(ui.Edited[1]));
    EXPECT_EQ(ExtractFileName(ui.Edited[2]), "WALK.SPR.png");
    const std::string spd = ui.Edited[2].substr(0, ui.Edited[2].size() - 4) + ".spd";
    EXPECT_EQ(ui.Watched, (std::set<std::string>{ui.Edited[0], ui.Edited[1], ui.Edited[2], spd}));
    EXPECT_EQ(LoadPictureFile(ui.Edited[1]).Image.Width(), 6);
    EXPECT_EQ(ui.Status, "Opened 3 entries in the picture editor; NOTES.TXT is no image or sprite "
                         "(.IMG, .SPR): only those open in the picture editor");
    // Opened again, an entry open already keeps its files as the editor saved them.
    ASSERT_EQ(Edit(1), ui.Edited[1]);
    EXPECT_EQ(form.OpenEdits(), 3u);
#ifndef _WIN32
    EXPECT_EQ(std::filesystem::status(places.Path() + places.Entries().front()).permissions(),
              std::filesystem::perms::owner_all);
#endif
    ui.EditorStarts = false;
    Edit(0);
    ASSERT_EQ(ui.Boxes.size(), 1u);
    EXPECT_NE(ui.Boxes[0].Text.find("No picture editor could be started"), std::string::npos);
}

TEST_F(PictureEditorTest, EverySaveComesBackAsAnUndoStepHoweverItIsMade) {
    const std::string file = Edit(1);
    const Bytes original = EntryBytes(1);
    form.EditedFileSettled(file); // the window's own write is no edit
    EXPECT_FALSE(form.CurrentArchive->Modified());
    for (const bool inPlace : {true, false}) {
        SCOPED_TRACE(inPlace);
        const uint16_t width = inPlace ? 7 : 9;
        Save(file, Png(MakeImage(width, 2), file), inPlace);
        EXPECT_EQ(Width(1), width);
        EXPECT_EQ(ui.Status, "Took in the edit of ICON.IMG");
        EXPECT_EQ(form.EditCommands().Undo, "Undo edit of ICON.IMG");
        form.EditedFileSettled(file); // settled again with no new save: nothing more
    }
    form.EditUndo();
    form.EditUndo();
    EXPECT_EQ(EntryBytes(1), original);
    EXPECT_FALSE(form.CurrentArchive->Modified());
    // Renamed, the entry goes on taking the saves.
    form.RenameLine(1, "HERO.IMG");
    Save(file, Png(MakeImage(3, 3), file), false);
    EXPECT_EQ(Width(1), 3);
    EXPECT_TRUE(ui.Boxes.empty());
}

TEST_F(PictureEditorTest, APictureThatCannotComeBackIsToldAndTheEntryStays) {
    const std::string picture = Edit(1);
    const std::string strip = Edit(2);
    const std::string spd = strip.substr(0, strip.size() - 4) + ".spd";
    const Bytes image = EntryBytes(1), sprite = EntryBytes(2);
    struct Case {
        std::string file;
        Bytes bytes;
        std::string told;
    };
    const Case cases[] = {
        {picture, Png(MakeImage(128, 128, 200), picture),
         "The edit of ICON.IMG was not taken in, the entry is as it was: Too many colours in "
         "image! (ImgFileU.cpp, line 354) [the picture has 199 colours"},
        {spd, {'f', 'r', 'a', 'm', 'e', 's', ' ', '=', ' ', 'x'}, "The edit of WALK.SPR was not"},
    };
    for (const Case& c : cases) {
        Save(c.file, c.bytes, false);
        EXPECT_EQ(ui.Status.rfind(c.told, 0), 0u) << ui.Status;
        ASSERT_FALSE(ui.Notices.empty());
        EXPECT_EQ(ui.Notices.back(), ui.Status);
    }
    EXPECT_EQ(EntryBytes(1), image);
    EXPECT_EQ(EntryBytes(2), sprite);
    EXPECT_FALSE(form.CurrentArchive->Modified());
    // The watch stays for a fixed save.
    Save(picture, Png(MakeImage(5, 5), picture), true);
    EXPECT_EQ(Width(1), 5);
    EXPECT_EQ(ui.Watched.size(), 3u);
}

TEST_F(PictureEditorTest, ASaveWhileACommandRunsComesBackWhenItEnds) {
    const std::string file = Edit(1);
    ui.FolderAnswers.push_back(dir / "out");
    ui.WhileBusy = [&] { Save(file, Png(MakeImage(8, 1), file), true); };
    form.btnExtractClick();
    EXPECT_EQ(Width(1), 8);
    EXPECT_EQ(ui.Status, "Took in the edit of ICON.IMG");
}

TEST_F(PictureEditorTest, ADeletedFileEndsItsWatchQuietly) {
    const std::string file = Edit(1);
    std::filesystem::remove(file);
    form.EditedFileSettled(file);
    EXPECT_TRUE(ui.Watched.empty());
    EXPECT_EQ(form.OpenEdits(), 0u);
    EXPECT_TRUE(ui.Boxes.empty());
    EXPECT_TRUE(ui.Notices.empty());
}

TEST_F(PictureEditorTest, ClosingAsksFirstTakingInTheLastSaveThenTheFolderGoes) {
    const std::string file = Edit(1);
    // Saved, but not settled yet when the user closes.
    Save(file, Png(MakeImage(2, 2), file), true);
    ui.BoxAnswers = {MsgResult::No};
    form.FileExit();
    EXPECT_EQ(Width(1), 2);
    ASSERT_EQ(ui.Boxes.size(), 1u);
    EXPECT_EQ(ui.Boxes[0].Text, "ICON.IMG is still open in the picture editor. Close anyway? Saves "
                                "made there later will no longer come back to the directory.");
    EXPECT_FALSE(ui.Closed);
    EXPECT_EQ(places.Entries().size(), 1u);
    ui.BoxAnswers = {MsgResult::Yes, MsgResult::No}; // close, and do not save the archive
    form.FileExit();
    EXPECT_TRUE(ui.Closed);
    EXPECT_TRUE(places.Entries().empty());
    EXPECT_TRUE(ui.Watched.empty());
}

TEST_F(PictureEditorTest, DraggedEntriesAreWrittenAsExtractedOrConverted) {
    ui.Select({0, 2, 3});
    const std::vector<std::string> raw = form.FilesForDrag();
    ASSERT_EQ(raw.size(), 3u);
    EXPECT_EQ(ExtractFileName(raw[0]), "UI");
    EXPECT_EQ(ReadWholeFile(raw[0] + "/ICON.IMG"), EntryBytes(0));
    EXPECT_EQ(ReadWholeFile(raw[1]), EntryBytes(2));
    EXPECT_EQ(ExtractFileName(raw[2]), "NOTES.TXT");
    ui.Checks[static_cast<int>(CheckBoxId::PngInsteadOfBmp)] = true;
    const std::vector<std::string> converted = form.FilesForDrag();
    ASSERT_EQ(converted.size(), 4u);
    EXPECT_TRUE(FileExists(converted[0] + "/ICON.IMG.png"));
    EXPECT_EQ(ExtractFileName(converted[1]), "WALK.SPR.png");
    EXPECT_EQ(ExtractFileName(converted[2]), "WALK.SPR.spd");
    EXPECT_EQ(ReadWholeFile(converted[3]), Bytes{'n'});
}

} // namespace
} // namespace pelfry::test
