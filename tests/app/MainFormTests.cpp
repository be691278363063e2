// The window logic through the scripted toolkit, on real archives in temporary folders.
#include "AppTestSupport.h"
#include "FakeToolkit.h"

#include "app/Main.h"
#include "base/Errors.h"
#include "base/Stream.h"
#include "platform/FileUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace pelfry::test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes B(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

std::vector<std::string> NamesIn(const std::string& archivePath) {
    std::vector<std::string> names;
    TDirFile::Create(archivePath, true)->ListEntries(names);
    return names;
}

// --- Text of the conversion log ----------------------------------------------------------

TEST(TextLines, EveryKindOfLineEndEndsALine) {
    EXPECT_EQ(SplitTextLines(B("a\r\nb\rc\nd")), (std::vector<std::string>{"a", "b", "c", "d"}));
    // The last line end closes the last line; it opens no empty one.
    EXPECT_EQ(SplitTextLines(B("a\r\nb\r\n")), (std::vector<std::string>{"a", "b"}));
    // Empty lines between line ends count, whichever ends they are.
    EXPECT_EQ(SplitTextLines(B("a\r\r\nb\n\rc\n\nd")),
              (std::vector<std::string>{"a", "", "b", "", "c", "", "d"}));
    EXPECT_EQ(SplitTextLines(B("\r\n")), (std::vector<std::string>{""}));
    EXPECT_TRUE(SplitTextLines({}).empty());
    // LF CR is two line ends; CR LF is one.
    EXPECT_EQ(SplitTextLines(B("x\n\r")), (std::vector<std::string>{"x", ""}));
    // Bytes above 127 are kept as they are.
    EXPECT_EQ(SplitTextLines(Bytes{0xE9, 0xFF, '\n', 0x80}),
              (std::vector<std::string>{"\xE9\xFF", "\x80"}));
}

TEST(TextLines, ZeroByteEndsTheText) {
    EXPECT_EQ(SplitTextLines(Bytes{'a', 'b', 0, 'c', '\n', 'd'}), (std::vector<std::string>{"ab"}));
    EXPECT_EQ(SplitTextLines(Bytes{'a', '\r', '\n', 0, 'x'}), (std::vector<std::string>{"a"}));
    EXPECT_TRUE(SplitTextLines(Bytes{0, 'a', '\n'}).empty());
}

TEST(TextLines, ListReadsALogBack) {
    TempDir dir;
    FakeToolkit ui;
    WriteTextLines(dir / "GFX.DIR.txt", {"A.IMG", "b\xE9.spr", "", "x y.PAL"});
    ui.ListSetLines({"other"});
    ui.ListLoadFromFile(dir / "GFX.DIR.txt");
    EXPECT_EQ(ui.Lines, (std::vector<std::string>{"A.IMG", "b\xE9.spr", "", "x y.PAL"}));

    // A log written with LF ends alone reads the same.
    WriteWholeFile(dir / "lf.txt", B("A.IMG\nb\xE9.spr\n\nx y.PAL"));
    ui.ListLoadFromFile(dir / "lf.txt");
    EXPECT_EQ(ui.Lines, (std::vector<std::string>{"A.IMG", "b\xE9.spr", "", "x y.PAL"}));

    // A log that cannot be read leaves the list as it was.
    EXPECT_THROW(ui.ListLoadFromFile(dir / "missing.txt"), FileOpenError);
    EXPECT_EQ(ui.Lines.size(), 4u);
}

// --- The global error box ----------------------------------------------------------------

TEST(ErrorBox, FullStopWhenTheLastCharacterSortsAfterIt) {
    EXPECT_EQ(ErrorBoxText("Cannot open file /x/GFX.DIR"), "Cannot open file /x/GFX.DIR.");
    EXPECT_EQ(ErrorBoxText("Frame 3 of 12"), "Frame 3 of 12.");
    EXPECT_EQ(ErrorBoxText("path/"), "path/.");     // "/" sorts after "."
    EXPECT_EQ(ErrorBoxText("caf\xE9"), "caf\xE9."); // an 8-bit letter
    EXPECT_EQ(ErrorBoxText("Too many colours in image!"), "Too many colours in image!");
    EXPECT_EQ(ErrorBoxText("Done."), "Done.");
    EXPECT_EQ(ErrorBoxText("x (ImgFileU.cpp, line 354)"), "x (ImgFileU.cpp, line 354)");
    EXPECT_EQ(ErrorBoxText("a-"), "a-");
    EXPECT_EQ(ErrorBoxText(""), "");
}

TEST(ErrorBox, ShownTitledPelfryWithTheErrorSymbolAndOk) {
    FakeToolkit ui;
    TMainForm form(ui);
    form.FormCreate();
    form.ShowException(FileOpenError("/x/a.dir").what());
    ASSERT_EQ(ui.Boxes.size(), 1u);
    EXPECT_EQ(ui.Boxes[0].Title, "Pelfry");
    EXPECT_EQ(ui.Boxes[0].Text, "Cannot open file /x/a.dir.");
    EXPECT_EQ(ui.Boxes[0].Symbol, MsgSymbol::Error);
    EXPECT_EQ(ui.Boxes[0].Buttons, static_cast<MsgButtons>(mbOK));
}

// --- The window ---------------------------------------------------------------------------

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override { form.FormCreate(); }
    void TearDown() override {
        // Every scripted answer must have been asked for.
        EXPECT_TRUE(ui.OpenAnswers.empty());
        EXPECT_TRUE(ui.SaveAnswers.empty());
        EXPECT_TRUE(ui.FolderAnswers.empty());
        EXPECT_TRUE(ui.BoxAnswers.empty());
    }

    // GFX.DIR with three entries, opened in the window.
    std::string OpenThree() {
        WriteArchive(dir, "GFX.DIR",
                     {{"A.IMG", ImageBytes(3, 2)},
                      {"b\xE9.spr", SpriteBytes(2, 25, 0)},
                      {"C.PAL", B("palette")}});
        ui.OpenAnswers.push_back(dir / "GFX.DIR");
        form.FileOpen();
        return dir / "GFX.DIR";
    }
    // Adds the entry "NEW.PAL" to the window's archive, which then holds unsaved changes.
    void AddEntry() {
        WriteWholeFile(dir / "NEW.PAL", B("new"));
        int32_t index = -1;
        form.CurrentArchive->AddFile(dir.Path(), "NEW.PAL", index);
        ASSERT_TRUE(form.CurrentArchive->Modified());
    }

    TempDir dir;
    FakeToolkit ui;
    TMainForm form{ui};
};

TEST_F(MainFormTest, StartsEmptyWithTheTemporaryFolder) {
    ASSERT_NE(form.CurrentArchive, nullptr);
    EXPECT_EQ(form.CurrentArchive->Count(), 0u);
    EXPECT_TRUE(form.CurrentFileName.empty());
    EXPECT_EQ(form.ExtractFolder, TempFolder());
    ASSERT_FALSE(form.ExtractFolder.empty());
    EXPECT_EQ(form.ExtractFolder.back(), '/');
}

TEST_F(MainFormTest, StatusLineFollowsTheCurrentHint) {
    ui.ChangeHint("Open an existing file");
    EXPECT_EQ(ui.Status, "Open an existing file");
    ui.ChangeHint("");
    EXPECT_EQ(ui.Status, "");
    // A command's message stays until the hint changes again.
    OpenThree();
    EXPECT_EQ(ui.Status, "3 file(s) in directory");
    ui.ChangeHint("");
    EXPECT_EQ(ui.Status, "3 file(s) in directory");
    ui.ChangeHint("Save current file");
    ui.ChangeHint("");
    EXPECT_EQ(ui.Status, "");
}

TEST_F(MainFormTest, OpenListsTheEntriesWithTheirCount) {
    const std::string path = OpenThree();
    EXPECT_EQ(ui.Lines, (std::vector<std::string>{"A.IMG", "b\xE9.spr", "C.PAL"}));
    EXPECT_EQ(form.CurrentFileName, path);
    EXPECT_EQ(ui.Caption, "Varn directory editor : " + path);
    EXPECT_EQ(ui.Status, "3 file(s) in directory");
    EXPECT_FALSE(form.CurrentArchive->Modified());
    // Every entry was read at once: the archive works without its file.
    ASSERT_TRUE(DeleteFile(path));
    auto stream = form.CurrentArchive->EntryStream(2);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(ReadRest(*stream), B("palette"));
}

TEST_F(MainFormTest, OpenOfAnEmptyArchive) {
    WriteArchive(dir, "EMPTY.DIR", {});
    ui.Lines = {"left over"};
    ui.OpenAnswers.push_back(dir / "EMPTY.DIR");
    form.FileOpen();
    EXPECT_TRUE(ui.Lines.empty());
    EXPECT_EQ(ui.Status, "0 file(s) in directory");
    EXPECT_EQ(ui.Caption, "Varn directory editor : " + dir / "EMPTY.DIR");
}

TEST_F(MainFormTest, OpenCancelledChangesNothing) {
    const std::string path = OpenThree();
    ui.Caption = "before";
    ui.Status = "status";
    ui.OpenAnswers.push_back(std::nullopt);
    form.FileOpen();
    EXPECT_EQ(ui.OpenShown, 2);
    EXPECT_EQ(ui.Lines.size(), 3u);
    EXPECT_EQ(form.CurrentArchive->Count(), 3u);
    EXPECT_EQ(form.CurrentFileName, path);
    EXPECT_EQ(ui.Caption, "before");
    EXPECT_EQ(ui.Status, "status");
}

TEST_F(MainFormTest, FailedOpenLeavesNoArchiveAndNoFileToOverwrite) {
    const std::string path = OpenThree();
    const Bytes before = ReadWholeFile(path);
    WriteWholeFile(dir / "BROKEN.DIR", B("short"));
    ui.OpenAnswers.push_back(dir / "BROKEN.DIR");
    try {
        form.FileOpen();
        FAIL() << "a damaged archive opened";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Invalid directory file " + dir / "BROKEN.DIR");
    }
    EXPECT_TRUE(ui.Lines.empty());
    ASSERT_NE(form.CurrentArchive, nullptr);
    EXPECT_EQ(form.CurrentArchive->Count(), 0u);
    EXPECT_TRUE(form.CurrentFileName.empty());
    EXPECT_EQ(ui.Caption, MainCaption);
    // Closing now must not write the empty archive over the file that was open before.
    form.FileClose();
    EXPECT_EQ(ReadWholeFile(path), before);

    ui.OpenAnswers.push_back(dir / "MISSING.DIR");
    try {
        form.FileOpen();
        FAIL() << "opening a missing file succeeded";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file " + dir / "MISSING.DIR");
    }
}

TEST_F(MainFormTest, SaveAtStartGoesThroughSaveAs) {
    ui.SaveAnswers.push_back(std::nullopt);
    form.FileSave();
    EXPECT_EQ(ui.SaveShown, 1);
    EXPECT_EQ(ui.Caption, "Varn directory editor : ");
    EXPECT_TRUE(form.CurrentFileName.empty());
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));

    AddEntry();
    ui.SaveAnswers.push_back(dir / "NEW.DIR");
    form.FileSave();
    EXPECT_EQ(form.CurrentFileName, dir / "NEW.DIR");
    EXPECT_EQ(ui.Caption, "Varn directory editor : " + dir / "NEW.DIR");
    EXPECT_FALSE(form.CurrentArchive->Modified());
    EXPECT_EQ(NamesIn(dir / "NEW.DIR"), (std::vector<std::string>{"NEW.PAL"}));
}

TEST_F(MainFormTest, SaveWritesTheNamedFileWithoutADialog) {
    const std::string path = OpenThree();
    AddEntry();
    ui.Status = "kept";
    form.FileSave();
    EXPECT_EQ(ui.SaveShown, 0);
    EXPECT_EQ(ui.Status, "kept");
    EXPECT_EQ(NamesIn(path), (std::vector<std::string>{"A.IMG", "b\xE9.spr", "C.PAL", "NEW.PAL"}));
    auto reread = TDirFile::Create(path, true);
    auto stream = reread->EntryStream(3);
    EXPECT_EQ(ReadRest(*stream), B("new"));
}

// Another program's save is waited for only so long: the window must not hang on it, and the
// archive stays in memory, unsaved, to be saved once the other program is done.
TEST_F(MainFormTest, SaveWaitsOnlySoLongForAnotherProgram) {
    const std::string path = OpenThree();
    AddEntry();
    const std::vector<uint8_t> before = ReadWholeFile(path);
    form.SaveWaitLimit = std::chrono::milliseconds(50);
    {
        const FileLock other(path, false);
        try {
            form.FileSave();
            ADD_FAILURE() << "saved";
        } catch (const FileInUseError& e) {
            EXPECT_EQ(std::string(e.what()), path + " is in use by another program");
        }
    }
    EXPECT_TRUE(form.CurrentArchive->Modified());
    EXPECT_EQ(ReadWholeFile(path), before);
    form.FileSave();
    EXPECT_FALSE(form.CurrentArchive->Modified());
}

TEST_F(MainFormTest, SaveAsRenamesAndSetsTheCaptionEvenWhenCancelled) {
    const std::string path = OpenThree();
    ui.SaveAnswers.push_back(std::nullopt);
    ui.Caption = "changed";
    form.FileSaveAs();
    EXPECT_EQ(form.CurrentFileName, path);
    EXPECT_EQ(ui.Caption, "Varn directory editor : " + path);

    // Filter or extension: the archive is written as an archive under the name chosen.
    ui.SaveAnswers.push_back(dir / "COPY.BMP");
    form.FileSaveAs();
    EXPECT_EQ(form.CurrentFileName, dir / "COPY.BMP");
    EXPECT_EQ(ui.Caption, "Varn directory editor : " + dir / "COPY.BMP");
    EXPECT_EQ(NamesIn(dir / "COPY.BMP"), NamesIn(path));
}

TEST_F(MainFormTest, FailedSaveAsKeepsTheNewNameButNotTheCaption) {
    const std::string path = OpenThree();
    const std::string bad = dir / "no/such/folder/X.DIR";
    ui.SaveAnswers.push_back(bad);
    EXPECT_THROW(form.FileSaveAs(), Error);
    EXPECT_EQ(form.CurrentFileName, bad);
    EXPECT_EQ(ui.Caption, "Varn directory editor : " + path);
    EXPECT_EQ(form.CurrentArchive->Count(), 3u);
}

TEST_F(MainFormTest, CloseWithoutANameSavesNothing) {
    ui.Status = "kept";
    form.FileClose();
    EXPECT_EQ(ui.SaveShown, 0);
    EXPECT_TRUE(ui.Boxes.empty());
    EXPECT_EQ(ui.Caption, MainCaption);
    EXPECT_EQ(ui.Status, "kept");
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST_F(MainFormTest, CloseWithANameSavesWithoutAQuestion) {
    const std::string path = OpenThree();
    AddEntry();
    ui.Select({0, 1});
    form.FileClose();
    EXPECT_TRUE(ui.Boxes.empty());
    EXPECT_EQ(NamesIn(path).size(), 4u);
    EXPECT_TRUE(form.CurrentFileName.empty());
    EXPECT_EQ(ui.Caption, MainCaption);
    EXPECT_TRUE(ui.Lines.empty());
    EXPECT_EQ(form.CurrentArchive->Count(), 0u);
    EXPECT_FALSE(form.CurrentArchive->Modified());
    // The status line is left as it was; the preview shows nothing of the closed archive.
    EXPECT_EQ(ui.Status, "3 file(s) in directory");
    ASSERT_FALSE(ui.Previews.empty());
    EXPECT_EQ(ui.Previews.back().What, PreviewCall::Clear);
}

TEST_F(MainFormTest, CloseWhoseSaveFailsKeepsTheArchive) {
    ForceDirectories(dir / "sub");
    WriteArchive(dir, "sub/GFX.DIR", {{"A.PAL", B("a")}});
    ui.OpenAnswers.push_back(dir / "sub/GFX.DIR");
    form.FileOpen();
    AddEntry();
    std::filesystem::remove_all(dir / "sub");
    EXPECT_THROW(form.FileClose(), Error);
    EXPECT_EQ(form.CurrentFileName, dir / "sub/GFX.DIR");
    EXPECT_EQ(form.CurrentArchive->Count(), 2u);
    EXPECT_EQ(ui.Lines.size(), 1u);
}

TEST_F(MainFormTest, CloseOfAFilledNewArchiveAsksBeforeDroppingIt) {
    AddEntry();
    ui.BoxAnswers.push_back(MsgResult::Cancel);
    form.FileClose();
    ASSERT_EQ(ui.Boxes.size(), 1u);
    EXPECT_EQ(ui.Boxes[0].Text, "Save changes to the new directory?");
    EXPECT_EQ(form.CurrentArchive->Count(), 1u);

    ui.BoxAnswers.push_back(MsgResult::No);
    form.FileClose();
    EXPECT_EQ(form.CurrentArchive->Count(), 0u);
    EXPECT_EQ(ui.SaveShown, 0);
}

TEST_F(MainFormTest, OpenRefusesFilesThatAreNoArchiveAndCloseWritesNothing) {
    WriteWholeFile(dir / "HERO.SPR", SpriteBytes(2, 25, 0));
    WriteWholeFile(dir / "notes.txt",
                   B("These are notes, and nothing else. Really, just notes.\n"));
    for (const std::string name : {"HERO.SPR", "notes.txt"}) {
        const Bytes before = ReadWholeFile(dir / name);
        ui.OpenAnswers.push_back(dir / name);
        std::string message;
        try {
            form.FileOpen();
        } catch (const Error& e) {
            message = e.what();
        }
        EXPECT_EQ(message, "Invalid directory file " + dir / name);
        form.FileClose();
        EXPECT_EQ(ReadWholeFile(dir / name), before) << name;
    }
}

TEST_F(MainFormTest, CloseOfAnUnchangedArchiveLeavesItsFileAlone) {
    const std::string path = OpenThree();
    // Another program writes the file meanwhile; closing an archive that was only looked at
    // neither asks nor writes.
    WriteArchive(dir, "GFX.DIR", {{"OTHER", B("theirs")}});
    form.FileClose();
    EXPECT_TRUE(ui.Boxes.empty());
    EXPECT_EQ(NamesIn(path), std::vector<std::string>{"OTHER"});
    EXPECT_TRUE(form.CurrentFileName.empty());
}

TEST_F(MainFormTest, SavingOverAFileChangedElsewhereAsksFirst) {
    const std::string path = OpenThree();
    AddEntry();
    WriteArchive(dir, "GFX.DIR", {{"OTHER", B("theirs")}});
    const std::string question = path + " was changed by another program. Overwrite it?";

    for (auto command : {&TMainForm::FileSave, &TMainForm::FileClose}) {
        ui.BoxAnswers.push_back(MsgResult::No);
        (form.*command)();
        ASSERT_FALSE(ui.Boxes.empty());
        EXPECT_EQ(ui.Boxes.back().Text, question);
        EXPECT_EQ(ui.Boxes.back().Buttons, mbYes | mbNo);
        EXPECT_EQ(NamesIn(path), std::vector<std::string>{"OTHER"});
        EXPECT_EQ(form.CurrentFileName, path) << "a declined Close keeps the archive open";
        EXPECT_EQ(form.CurrentArchive->Count(), 4u);
    }
    ui.BoxAnswers.push_back(MsgResult::Yes);
    form.FileSave();
    EXPECT_EQ(NamesIn(path).size(), 4u);
    // Our own save is no change by another program.
    const size_t boxes = ui.Boxes.size();
    AddEntry();
    form.FileSave();
    EXPECT_EQ(ui.Boxes.size(), boxes);
}

TEST_F(MainFormTest, ExitWithNothingUnsavedAsksNothing) {
    OpenThree();
    form.FileExit();
    EXPECT_TRUE(ui.Closed);
    EXPECT_TRUE(ui.Boxes.empty());
    EXPECT_EQ(form.CurrentArchive->Count(), 0u);
    EXPECT_TRUE(form.FormCloseQuery());
    EXPECT_TRUE(ui.Boxes.empty());
}

TEST_F(MainFormTest, ExitAsksAboutUnsavedChanges) {
    const std::string path = OpenThree();
    AddEntry();

    ui.BoxAnswers.push_back(MsgResult::Cancel);
    form.FileExit();
    ASSERT_EQ(ui.Boxes.size(), 1u);
    EXPECT_EQ(ui.Boxes[0].Title, "Pelfry");
    EXPECT_EQ(ui.Boxes[0].Text, "Save changes to " + path + "?");
    EXPECT_EQ(ui.Boxes[0].Symbol, MsgSymbol::Confirmation);
    EXPECT_EQ(ui.Boxes[0].Buttons, static_cast<MsgButtons>(mbYes | mbNo | mbCancel));
    EXPECT_FALSE(ui.Closed);
    EXPECT_EQ(form.CurrentArchive->Count(), 4u);

    ui.BoxAnswers.push_back(MsgResult::No);
    form.FileExit();
    EXPECT_TRUE(ui.Closed);
    EXPECT_EQ(NamesIn(path).size(), 3u);
    // The window's close that follows Exit asks nothing more.
    EXPECT_TRUE(form.FormCloseQuery());
    EXPECT_EQ(ui.Boxes.size(), 2u);
}

TEST_F(MainFormTest, ExitYesSavesFirst) {
    const std::string path = OpenThree();
    AddEntry();
    ui.BoxAnswers.push_back(MsgResult::Yes);
    form.FileExit();
    EXPECT_TRUE(ui.Closed);
    EXPECT_EQ(NamesIn(path).size(), 4u);
}

TEST_F(MainFormTest, ClosingTheWindowWithANewArchiveGoesThroughSaveAs) {
    AddEntry();
    // Yes, then the Save As dialog cancelled: the window stays open with the archive.
    ui.BoxAnswers.push_back(MsgResult::Yes);
    ui.SaveAnswers.push_back(std::nullopt);
    EXPECT_FALSE(form.FormCloseQuery());
    EXPECT_EQ(ui.Boxes.back().Text, "Save changes to the new directory?");
    EXPECT_EQ(form.CurrentArchive->Count(), 1u);

    ui.BoxAnswers.push_back(MsgResult::Yes);
    ui.SaveAnswers.push_back(dir / "KEPT.DIR");
    EXPECT_TRUE(form.FormCloseQuery());
    EXPECT_EQ(NamesIn(dir / "KEPT.DIR"), (std::vector<std::string>{"NEW.PAL"}));

    // Saved: nothing more to ask.
    EXPECT_TRUE(form.FormCloseQuery());
    EXPECT_EQ(ui.Boxes.size(), 2u);
}

TEST_F(MainFormTest, ClosingTheWindowWhenTheSaveFailsStaysOpen) {
    ForceDirectories(dir / "sub");
    WriteArchive(dir, "sub/GFX.DIR", {{"A.PAL", B("a")}});
    ui.OpenAnswers.push_back(dir / "sub/GFX.DIR");
    form.FileOpen();
    AddEntry();
    std::filesystem::remove_all(dir / "sub");
    ui.BoxAnswers.push_back(MsgResult::Yes);
    EXPECT_THROW(form.FormCloseQuery(), Error);
    EXPECT_EQ(form.CurrentArchive->Count(), 2u);
}

TEST_F(MainFormTest, OpenAsksAboutUnsavedChangesBeforeTheDialog) {
    const std::string path = OpenThree();
    AddEntry();
    ui.BoxAnswers.push_back(MsgResult::Cancel);
    form.FileOpen();
    EXPECT_EQ(ui.OpenShown, 1);
    EXPECT_EQ(form.CurrentArchive->Count(), 4u);

    WriteArchive(dir, "OTHER.DIR", {{"Z.PAL", B("z")}});
    ui.BoxAnswers.push_back(MsgResult::No);
    ui.OpenAnswers.push_back(dir / "OTHER.DIR");
    form.FileOpen();
    EXPECT_EQ(ui.Lines, (std::vector<std::string>{"Z.PAL"}));
    EXPECT_EQ(NamesIn(path).size(), 3u);

    // Yes saves the edited archive before the other one is opened.
    AddEntry();
    ui.BoxAnswers.push_back(MsgResult::Yes);
    ui.OpenAnswers.push_back(path);
    form.FileOpen();
    EXPECT_EQ(NamesIn(dir / "OTHER.DIR"), (std::vector<std::string>{"Z.PAL", "NEW.PAL"}));
    EXPECT_EQ(ui.Lines.size(), 3u);
}

TEST_F(MainFormTest, ExtractFolderAlwaysEndsInASeparator) {
    const std::string chosen = dir / "out/deeper";
    const std::string start = form.ExtractFolder;
    ui.FolderAnswers.push_back(chosen);
    EXPECT_TRUE(form.ChooseExtractFolder());
    EXPECT_EQ(ui.FolderStarts.back(), start);
    EXPECT_EQ(form.ExtractFolder, chosen + "/");

    // The root already ends in a separator.
    ui.FolderAnswers.push_back("/");
    EXPECT_TRUE(form.ChooseExtractFolder());
    EXPECT_EQ(form.ExtractFolder, "/");

    // Cancelled: the folder stays, and still gets its separator.
    form.ExtractFolder = dir / "plain";
    ui.FolderAnswers.push_back(std::nullopt);
    EXPECT_FALSE(form.ChooseExtractFolder());
    EXPECT_EQ(form.ExtractFolder, dir / "plain/");

    // A folder written the game's way keeps its "\".
    form.ExtractFolder = "c:\\temp\\";
    ui.FolderAnswers.push_back(std::nullopt);
    EXPECT_FALSE(form.ChooseExtractFolder());
    EXPECT_EQ(form.ExtractFolder, "c:\\temp\\");

    // The folder survives Open and Close.
    ui.FolderAnswers.push_back(chosen);
    form.ChooseExtractFolder();
    OpenThree();
    form.FileClose();
    EXPECT_EQ(form.ExtractFolder, chosen + "/");
}

class PreviewTest : public MainFormTest {
protected:
    void SetUp() override {
        MainFormTest::SetUp();
        sprite = SpriteBytes(3, 25, 0);
        image = ImageBytes(4, 3);
        WriteArchive(dir, "P.DIR",
                     {{"a.spr", sprite},
                      {"B.Img", image},
                      {"c.bmp", B("BM")},
                      {"xy", B("xy")},
                      {"D.SPR", SpriteBytes(2, 10, 2)},
                      {".IMG", image}});
        ui.OpenAnswers.push_back(dir / "P.DIR");
        form.FileOpen();
        ui.Previews.clear();
    }
    // Shows line `line` in the preview and forgets the calls it made.
    void Show(int line) {
        ui.Focused = line;
        form.lstDirContentsClick();
        ui.Previews.clear();
    }
    Bytes sprite, image;
};

TEST_F(PreviewTest, FocusedLinePreviewsByItsKind) {
    form.lstDirContentsClick(); // nothing focused
    EXPECT_TRUE(ui.Previews.empty());

    ui.Focused = 0;
    form.lstDirContentsClick();
    ASSERT_EQ(ui.Previews.size(), 2u);
    EXPECT_EQ(ui.Previews[0].What, PreviewCall::Entry);
    EXPECT_EQ(ui.Previews[0].Name, "a.spr");
    EXPECT_EQ(ui.Previews[0].Archive, form.CurrentArchive.get());
    EXPECT_EQ(ui.Previews[1].What, PreviewCall::Sprite);
    EXPECT_FALSE(ui.Previews[1].PingPong);
    EXPECT_EQ(ui.Previews[1].Bytes, sprite);

    ui.Previews.clear();
    ui.Focused = 1;
    form.lstDirContentsClick();
    ASSERT_EQ(ui.Previews.size(), 2u);
    EXPECT_EQ(ui.Previews[0].Name, "B.Img");
    EXPECT_EQ(ui.Previews[1].What, PreviewCall::Image);
    EXPECT_EQ(ui.Previews[1].Bytes, image);

    // Other kinds and short names only name the entry; the picture stays.
    for (int line : {2, 3}) {
        ui.Previews.clear();
        ui.Focused = line;
        form.lstDirContentsClick();
        ASSERT_EQ(ui.Previews.size(), 1u);
        EXPECT_EQ(ui.Previews[0].What, PreviewCall::Entry);
    }
    // A name that is its extension alone still has four characters.
    ui.Previews.clear();
    ui.Focused = 5;
    form.lstDirContentsClick();
    ASSERT_EQ(ui.Previews.size(), 2u);
    EXPECT_EQ(ui.Previews[1].What, PreviewCall::Image);
}

TEST_F(PreviewTest, OnlyTheFocusedLineOfASelectionIsShown) {
    ui.Select({1, 4, 0, 4});
    form.lstDirContentsClick();
    ASSERT_EQ(ui.Previews.size(), 2u);
    EXPECT_EQ(ui.Previews[0].Name, "D.SPR");
    EXPECT_EQ(ui.Previews[1].What, PreviewCall::Sprite);
    // The window always asks for plain play; the sprite's flags decide the rest.
    EXPECT_FALSE(ui.Previews[1].PingPong);
}

TEST_F(PreviewTest, ClearedWhenTheArchiveIsReplaced) {
    WriteWholeFile(dir / "empty.DIR.txt", {});
    const std::pair<const char*, std::function<void()>> replacements[] = {
        {"Open",
         [&] {
             ui.OpenAnswers.push_back(dir / "P.DIR");
             form.FileOpen();
         }},
        {"failed Open",
         [&] {
             ui.OpenAnswers.push_back(dir / "missing.DIR");
             EXPECT_THROW(form.FileOpen(), FileOpenError);
         }},
        {"Reconstruct from log",
         [&] {
             ui.OpenAnswers.push_back(dir / "empty.DIR.txt");
             form.btnConvAddLogClick();
         }},
        {"Close", [&] { form.FileClose(); }},
    };
    for (const auto& [what, replace] : replacements) {
        SCOPED_TRACE(what);
        ui.OpenAnswers.push_back(dir / "P.DIR");
        form.FileOpen();
        Show(0);
        ASSERT_TRUE(ui.PreviewShowing);
        replace();
        EXPECT_FALSE(ui.PreviewShowing);
    }
}

TEST_F(PreviewTest, ClearedWhenItsEntryIsDeletedOrReplaced) {
    Show(1); // B.Img
    // A line of another kind leaves the picture; deleting that line, or any other entry, or
    // adding an entry of another name, leaves it too.
    Show(2);
    ui.Select({2, 0});
    form.btnDeleteClick();
    WriteWholeFile(dir / "new.pal", B("p"));
    ui.AddAnswers.push_back(std::vector<std::string>{dir / "new.pal"});
    form.btnAddClick();
    EXPECT_TRUE(ui.PreviewShowing);
    EXPECT_TRUE(ui.Previews.empty());

    // Replaced by Add, even by the same bytes.
    WriteWholeFile(dir / "B.Img", image);
    ui.AddAnswers.push_back(std::vector<std::string>{dir / "B.Img"});
    form.btnAddClick();
    EXPECT_FALSE(ui.PreviewShowing);

    // Deleted.
    const int k = form.CurrentArchive->FindEntry("B.Img", 0);
    Show(k);
    ASSERT_TRUE(ui.PreviewShowing);
    ui.Select({k});
    form.btnDeleteClick();
    EXPECT_FALSE(ui.PreviewShowing);
}

TEST_F(PreviewTest, ALineBeyondTheArchiveIsNoEntry) {
    // The list shows a log with more lines than the archive has entries.
    ui.ListSetLines({"a.spr", "B.Img", "c.bmp", "xy", "D.SPR", ".IMG", "E.SPR", "F.IMG"});
    ui.Focused = 7;
    form.lstDirContentsClick();
    ui.Focused = 6;
    form.lstDirContentsClick();
    EXPECT_TRUE(ui.Previews.empty());

    // After Close the archive is empty: a stale focus previews nothing.
    form.FileClose();
    ui.Previews.clear();
    ui.Focused = 0;
    form.lstDirContentsClick();
    EXPECT_TRUE(ui.Previews.empty());
}

} // namespace
} // namespace pelfry::test
