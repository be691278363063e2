// The seven batch buttons of the window, driven through the scripted toolkit on real files:
// what each walks and in what order, its progress and summary texts, the files it leaves on
// disk, and the whole-archive round trip through a conversion log.
#include "app/AppTestSupport.h"
#include "app/Batch.h"
#include "app/Convert.h"
#include "app/FakeToolkit.h"
#include "app/Main.h"
#include "base/Errors.h"
#include "picture/Bitmap.h"
#include "platform/FileTime.h"
#include "platform/ReplacingFile.h"
#include "support/System.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace pelfry;
using namespace pelfry::test;

namespace {

// Records every status text, and which one stood when the window was repainted.
class RecordingToolkit : public FakeToolkit {
public:
    std::vector<std::string> StatusHistory;
    std::vector<std::string> AtRepaint;
    void SetStatusText(const std::string& text) override {
        FakeToolkit::SetStatusText(text);
        StatusHistory.push_back(text);
    }
    void RepaintNow() override {
        FakeToolkit::RepaintNow();
        AtRepaint.push_back(Status);
    }
};

const int32_t OldAge = UnixToFileDate(1600000000);
const int32_t NewAge = UnixToFileDate(1600000000 + 7200);

std::vector<uint8_t> Bytes(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

// True when `status` is `prefix` followed by a whole non-negative number (the elapsed days).
bool EndsInElapsedTime(const std::string& status, const std::string& prefix) {
    if (status.compare(0, prefix.size(), prefix) != 0 || status.size() == prefix.size())
        return false;
    const char* number = status.c_str() + prefix.size();
    char* end = nullptr;
    const double days = std::strtod(number, &end);
    return *end == '\0' && days >= 0 && days < 1;
}

template <typename Toolkit = RecordingToolkit> struct FixtureWith {
    TempDir dir;
    Toolkit ui;
    TMainForm form{ui};

    FixtureWith() { form.FormCreate(); }

    // Opens an archive of `entries` saved as dir/name through File, Open. A "\\" in an entry
    // name stands for a subfolder on disk.
    void Open(const std::string& name,
              const std::vector<std::pair<std::string, std::vector<uint8_t>>>& entries) {
        const std::string staging = dir / "staging/";
        TDirFile archive;
        for (const auto& [entry, bytes] : entries) {
            const std::string file = NativePath(staging + entry);
            ForceDirectories(ExtractFilePath(file));
            WriteWholeFile(file, bytes);
            int32_t index = -1;
            archive.AddFile(staging, entry, index);
        }
        archive.SaveToFile(dir / name);
        ui.OpenAnswers.push_back(dir / name);
        form.FileOpen();
        ASSERT_EQ(form.CurrentArchive->Count(), entries.size());
    }
    std::vector<uint8_t> Entry(int i) {
        form.CurrentArchive->LoadEntry(i);
        const ByteArray& data = form.CurrentArchive->Files()[static_cast<size_t>(i)].Data;
        return data ? *data : std::vector<uint8_t>{};
    }
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        form.CurrentArchive->ListEntries(names);
        return names;
    }
};

using Fixture = FixtureWith<>;

const std::vector<uint8_t> PalBytes = {1, 2, 3, 4, 5};

} // namespace

TEST(BatchExtract, WalksTheSelectedLinesWithProgress) {
    Fixture f;
    f.Open("x.dir",
           {{"a.img", ImageBytes(4, 3)}, {"b.bin", {9}}, {"c.bin", {8, 7}}, {"d.bin", {}}});
    f.ui.Select({0, 2, 3});
    const std::string out = f.dir / "out";
    f.ui.FolderAnswers.push_back(out);
    f.form.btnExtractClick();

    EXPECT_EQ(f.form.ExtractFolder, out + "/");
    EXPECT_EQ(f.ui.AtRepaint, (std::vector<std::string>{"Processing file 1 of 3: a.img",
                                                        "Processing file 2 of 3: c.bin",
                                                        "Processing file 3 of 3: d.bin"}));
    EXPECT_EQ(f.ui.Status, "Extracted 3 file(s)");
    EXPECT_EQ(ReadWholeFile(out + "/a.img"), ImageBytes(4, 3));
    EXPECT_EQ(ReadWholeFile(out + "/c.bin"), (std::vector<uint8_t>{8, 7}));
    EXPECT_EQ(FileLength(out + "/d.bin"), 0);
    EXPECT_FALSE(FileExists(out + "/b.bin")) << "not selected";
}

TEST(BatchExtract, CancelNothingSelectedAndFailures) {
    Fixture f;
    f.Open("x.dir", {{"sub\\a.bin", {1}}, {"b.bin", {2}}});
    // Cancelling the folder chooser does nothing but end the folder with a separator.
    f.ui.Select({0});
    f.ui.FolderAnswers.push_back(std::nullopt);
    f.ui.Status.clear();
    f.form.btnExtractClick();
    EXPECT_EQ(f.ui.Status, "");
    EXPECT_TRUE(f.ui.Boxes.empty());

    // Nothing selected: the box comes after the folder chooser.
    f.ui.Select({});
    f.ui.FolderAnswers.push_back(f.dir / "out");
    f.form.btnExtractClick();
    ASSERT_EQ(f.ui.Boxes.size(), 1u);
    EXPECT_EQ(f.ui.Boxes[0].Title, "Error");
    EXPECT_EQ(f.ui.Boxes[0].Text, "No files selected!");
    EXPECT_EQ(f.ui.Boxes[0].Symbol, MsgSymbol::Error);
    EXPECT_EQ(f.ui.Boxes[0].Buttons, mbCancel);

    // A name with "\" extracts into a subfolder.
    f.ui.Select({0});
    f.ui.FolderAnswers.push_back(f.dir / "out");
    f.form.btnExtractClick();
    EXPECT_EQ(ReadWholeFile(f.dir / "out/sub/a.bin"), std::vector<uint8_t>{1});

    // A target that cannot be created ends the command with the file error.
    ForceDirectories(f.dir / "out/b.bin"); // a folder in the way
    f.ui.Select({1});
    f.ui.FolderAnswers.push_back(f.dir / "out");
    f.ui.Status.clear();
    try {
        f.form.btnExtractClick();
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file " + f.dir / "out/b.bin");
    }
    EXPECT_EQ(f.ui.Status, "Processing file 1 of 1: b.bin") << "no summary after an error";
}

TEST(BatchExtractConvert, LeavesOnlyTheEditableFiles) {
    Fixture f;
    f.Open("x.dir",
           {{"a.img", ImageBytes(4, 3)}, {"b.spr", SpriteBytes(3, 10, 0)}, {"c.pal", PalBytes}});
    const std::string out = f.dir / "out/";
    ForceDirectories(out);
    WriteWholeFile(out + "a.img.bmp", {1, 2, 3}); // overwritten
    f.ui.Select({0, 1, 2});
    f.ui.FolderAnswers.push_back(f.dir / "out");
    f.form.btnExtrConvertClick();

    EXPECT_EQ(f.ui.Status, "Extracted and converted 3 file(s)");
    EXPECT_FALSE(FileExists(out + "a.img"));
    EXPECT_EQ(LoadBitmapFile(out + "a.img.bmp").Width(), 4);
    EXPECT_FALSE(FileExists(out + "b.spr"));
    EXPECT_EQ(LoadBitmapFile(out + "b.spr.bmp").Height(), 18);
    EXPECT_TRUE(FileExists(out + "b.spr.spd"));
    EXPECT_EQ(ReadWholeFile(out + "c.pal"), PalBytes);
    EXPECT_EQ(f.ui.AtRepaint.size(), 3u);
}

TEST(BatchDelete, FindsEachLineByNameAsEntriesMove) {
    Fixture f;
    f.Open("x.dir", {{"A", {1}}, {"B", {2}}, {"C", {3}}, {"D", {4}}});
    f.ui.Select({0});
    f.form.btnDeleteClick();
    EXPECT_EQ(f.Names(), (std::vector<std::string>{"D", "B", "C"}));
    EXPECT_EQ(f.ui.Lines, f.Names()) << "the list shows the new order";
    EXPECT_EQ(f.ui.ListSelCount(), 0);
    EXPECT_EQ(f.ui.Status, "Deleted 1 file(s)");

    f.ui.Select({0, 2}); // D and C: deleting D moves C into its place first
    f.form.btnDeleteClick();
    EXPECT_EQ(f.Names(), std::vector<std::string>{"B"});
    EXPECT_EQ(f.ui.Status, "Deleted 2 file(s)");

    // Lines that name no entry (a list showing a log) are skipped, and not counted.
    f.ui.ListSetLines({"B", "nothing", "B"});
    f.ui.Select({1, 2});
    f.form.btnDeleteClick();
    EXPECT_TRUE(f.Names().empty());
    EXPECT_EQ(f.ui.Status, "Deleted 1 file(s)");

    f.ui.Select({});
    f.form.btnDeleteClick();
    ASSERT_FALSE(f.ui.Boxes.empty());
    EXPECT_EQ(f.ui.Boxes.back().Text, "No files selected!");
}

TEST(BatchAdd, ReplacesExactNamesAndAppendsOthers) {
    Fixture f;
    f.Open("x.dir", {{"a.bin", {1}}, {"b.bin", {2}}});
    WriteWholeFile(f.dir / "a.bin", {7, 7});
    WriteWholeFile(f.dir / "B.bin", {8});
    f.ui.AddAnswers.push_back(std::vector<std::string>{f.dir / "a.bin", f.dir / "B.bin"});
    f.form.btnAddClick();
    EXPECT_EQ(f.Names(), (std::vector<std::string>{"a.bin", "b.bin", "B.bin"}));
    EXPECT_EQ(f.Entry(0), (std::vector<uint8_t>{7, 7}));
    EXPECT_EQ(f.ui.Lines, f.Names());
    EXPECT_EQ(f.ui.Status, "Added 2 file(s)");
    EXPECT_EQ(f.ui.AtRepaint[0], "Processing file 1 of 2: " + f.dir / "a.bin");
    EXPECT_TRUE(f.form.CurrentArchive->Modified());

    f.ui.AddAnswers.push_back(std::nullopt);
    f.form.btnAddClick();
    EXPECT_EQ(f.ui.Status, "Added 0 file(s)");
}

TEST(BatchConvertAdd, RebuildsAddsAndRemovesTheGameFile) {
    Fixture f;
    WriteWholeFile(f.dir / "X.pal", PalBytes);
    TImgFile image = MakeImage(5, 2);
    image.ExportBitmap(f.dir / "X.IMG"); // X.IMG.bmp, no X.IMG yet: always converted
    f.ui.AddAnswers.push_back(std::vector<std::string>{f.dir / "X.pal", f.dir / "X.IMG.bmp"});
    f.form.btnConvAddClick();

    EXPECT_EQ(f.Names(), (std::vector<std::string>{"X.pal", "X.IMG"}));
    EXPECT_TRUE(FileExists(f.dir / "X.pal")) << "other kinds are kept";
    EXPECT_FALSE(FileExists(f.dir / "X.IMG")) << "the rebuilt game file only passes through";
    EXPECT_TRUE(FileExists(f.dir / "X.IMG.bmp"));
    TImgFile added;
    auto stream = f.form.CurrentArchive->EntryStream(1);
    EXPECT_EQ(added.LoadFromStream(stream.get()), 10);
    EXPECT_EQ(f.ui.Lines, f.Names());
    EXPECT_TRUE(EndsInElapsedTime(f.ui.Status, "Converted and added 2 file(s) in time "))
        << f.ui.Status;

    f.ui.AddAnswers.push_back(std::nullopt);
    f.form.btnConvAddClick();
    EXPECT_TRUE(EndsInElapsedTime(f.ui.Status, "Converted and added 0 file(s) in time "))
        << f.ui.Status;
}

TEST(BatchConvertAdd, TakesPngPictures) {
    Fixture f;
    TImgFile image = MakeImage(5, 2);
    image.Palette[0] = 9; // a coloured index 0 is still background, and nothing is shown
    image.ExportBitmap(f.dir / "P.IMG", PictureFormat::Png);
    f.ui.AddAnswers.push_back(std::vector<std::string>{f.dir / "P.IMG.png"});
    f.form.btnConvAddClick();
    EXPECT_EQ(f.Names(), (std::vector<std::string>{"P.IMG"}));
    TImgFile added;
    auto stream = f.form.CurrentArchive->EntryStream(0);
    EXPECT_EQ(added.LoadFromStream(stream.get()), 10);
    EXPECT_TRUE(f.ui.Boxes.empty());
}

TEST(BatchConvertAdd, ChecksBoxesAreReadAtEachCall) {
    Fixture f;
    MakeImage(5, 2).ExportBitmap(f.dir / "p.img");
    f.ui.Checks[static_cast<int>(CheckBoxId::CompImg)] = false;
    f.ui.Checks[static_cast<int>(CheckBoxId::OpaqueImg)] = false;
    f.ui.AddAnswers.push_back(std::vector<std::string>{f.dir / "p.img.bmp"});
    f.form.btnConvAddClick();
    std::vector<uint8_t> entry = f.Entry(0);
    ASSERT_GT(entry.size(), 10u);
    EXPECT_EQ(entry[9], 0x80) << "stored uncompressed";
    TImgFile img;
    auto stream = f.form.CurrentArchive->EntryStream(0);
    img.LoadFromStream(stream.get());
    EXPECT_EQ(img.ColourCount(), 4u) << "no opaque entry";
}

// "Recreate all" is read at each back conversion, not once for the whole command: ticking it
// while the first file is done rebuilds the files after it.
class TickRecreateOnFirstRepaint : public RecordingToolkit {
public:
    void RepaintNow() override {
        RecordingToolkit::RepaintNow();
        Checks[static_cast<int>(CheckBoxId::RecreateAll)] = true;
    }
};

TEST(BatchConvertAdd, RecreateAllIsReadForEachFile) {
    TempDir dir;
    TickRecreateOnFirstRepaint ui;
    TMainForm form{ui};
    form.FormCreate();
    // Two untouched groups: each game file carries its bitmap's age, so neither needs a rebuild
    // unless recreating. The game files hold bytes no rebuild would write.
    for (const char* name : {"a.img", "b.img"}) {
        MakeImage(5, 2).ExportBitmap(dir / name);
        WriteWholeFile(dir / name, PalBytes);
        SetFileAge(dir / name, OldAge);
        SetFileAge(dir / (std::string(name) + ".bmp"), OldAge);
    }
    ui.AddAnswers.push_back(std::vector<std::string>{dir / "a.img.bmp", dir / "b.img.bmp"});
    form.btnConvAddClick();
    ASSERT_EQ(form.CurrentArchive->Count(), 2u);
    form.CurrentArchive->LoadEntry(0);
    form.CurrentArchive->LoadEntry(1);
    EXPECT_EQ(*form.CurrentArchive->Files()[0].Data, PalBytes) << "added as it stood";
    EXPECT_NE(*form.CurrentArchive->Files()[1].Data, PalBytes) << "rebuilt once the box was ticked";
}

// ---- The log round trip ---------------------------------------------------------------------

namespace {

std::vector<std::pair<std::string, std::vector<uint8_t>>> SampleEntries() {
    return {{"a.img", ImageBytes(6, 4)}, {"b.spr", SpriteBytes(3, 12, 2)}, {"c.pal", PalBytes}};
}

// Exports x.dir's entries into dir/work with the log button.
void Export(Fixture& f) {
    f.Open("x.dir", SampleEntries());
    f.ui.FolderAnswers.push_back(f.dir / "work");
    f.form.btnExtrConvLogClick();
}

} // namespace

TEST(BatchLog, ExportWritesEveryEntryItsFilesAndTheLog) {
    Fixture f;
    Export(f);
    const std::string work = f.dir / "work/";
    for (const char* name : {"a.img", "a.img.bmp", "b.spr", "b.spr.bmp", "b.spr.spd", "c.pal"})
        EXPECT_TRUE(FileExists(work + name)) << name;
    EXPECT_EQ(FileAge(work + "a.img.bmp"), FileAge(work + "a.img"));
    EXPECT_EQ(ReadWholeFile(work + "x.dir.txt"), Bytes("a.img\r\nb.spr\r\nc.pal\r\n"));
    EXPECT_EQ(f.ui.Status, "Extracted and converted 3 file(s); wrote log to " + work + "x.dir.txt");
    EXPECT_EQ(f.ui.AtRepaint.back(), "Processing file 3 of 3: c.pal");
    EXPECT_EQ(f.ui.ListSelCount(), 0) << "every line, selected or not";
}

TEST(BatchLog, ExportOfAnEmptyListOrAnUnnamedArchive) {
    Fixture f;
    f.ui.FolderAnswers.push_back(f.dir / "work");
    f.form.btnExtrConvLogClick();
    EXPECT_EQ(f.ui.FolderShown, 1) << "the folder is chosen first";
    ASSERT_EQ(f.ui.Boxes.size(), 1u);
    EXPECT_EQ(f.ui.Boxes[0].Text, "No files to extract!");
    EXPECT_EQ(f.ui.Boxes[0].Title, "Error");

    WriteWholeFile(f.dir / "c.pal", PalBytes);
    f.ui.AddAnswers.push_back(std::vector<std::string>{f.dir / "c.pal"});
    f.form.btnAddClick();
    f.ui.FolderAnswers.push_back(f.dir / "work");
    f.form.btnExtrConvLogClick();
    EXPECT_EQ(ReadWholeFile(f.dir / "work/.txt"), Bytes("c.pal\r\n"));
}

TEST(BatchLog, UntouchedRoundTripGivesBackTheSameArchive) {
    Fixture f;
    Export(f);
    const std::vector<uint8_t> original = ReadWholeFile(f.dir / "x.dir");
    f.ui.AtRepaint.clear();
    f.ui.OpenAnswers.push_back(f.dir / "work/x.dir.txt");
    f.form.btnConvAddLogClick();

    EXPECT_EQ(f.ui.FilterIndex, 5);
    EXPECT_EQ(f.ui.Status,
              "Read log from " + f.dir / "work/x.dir.txt" + "; converted 0 of 3 file(s) added");
    EXPECT_EQ(f.ui.AtRepaint.front(), "Processing file 1 of 3: " + f.dir / "work/" + "a.img");
    EXPECT_EQ(f.Names(), (std::vector<std::string>{"a.img", "b.spr", "c.pal"}));
    EXPECT_EQ(f.form.CurrentFileName, f.dir / "x.dir") << "the rebuild keeps the file name";
    f.form.FileSave();
    EXPECT_EQ(ReadWholeFile(f.dir / "x.dir"), original);
}

TEST(BatchLog, AnEditedBitmapRebuildsExactlyItsEntry) {
    Fixture f;
    Export(f);
    const std::string work = f.dir / "work/";
    std::vector<std::vector<uint8_t>> before = {f.Entry(0), f.Entry(1), f.Entry(2)};
    Bitmap bmp = LoadBitmapFile(work + "a.img.bmp");
    bmp.Row(0)[0] = 3;
    SaveBitmapFile(bmp, work + "a.img.bmp");
    // Saved a moment after the export, within the two seconds that file ages tell apart.
    const int64_t exported = FileModifiedNanoseconds(work + "a.img") + 1000000;
    ASSERT_TRUE(test::SetModifiedTime(work + "a.img.bmp", exported / 1000000000,
                                      static_cast<long>(exported % 1000000000)));

    f.ui.OpenAnswers.push_back(work + "x.dir.txt");
    f.form.btnConvAddLogClick();
    EXPECT_EQ(f.ui.Status, "Read log from " + work + "x.dir.txt; converted 1 of 3 file(s) added");
    EXPECT_NE(f.Entry(0), before[0]);
    EXPECT_EQ(f.Entry(1), before[1]);
    EXPECT_EQ(f.Entry(2), before[2]);
    TImgFile rebuilt;
    auto stream = f.form.CurrentArchive->EntryStream(0);
    ASSERT_EQ(rebuilt.LoadFromStream(stream.get()), 24);
    EXPECT_NE(rebuilt.Pixels[0], rebuilt.ColourCount() - 1)
        << "the edited pixel is no longer background";

    // With "Recreate all" every image and sprite line is rebuilt.
    f.ui.Checks[static_cast<int>(CheckBoxId::RecreateAll)] = true;
    f.ui.OpenAnswers.push_back(work + "x.dir.txt");
    f.ui.BoxAnswers.push_back(MsgResult::No); // the rebuilt archive is unsaved
    f.form.btnConvAddLogClick();
    EXPECT_EQ(f.ui.Status, "Read log from " + work + "x.dir.txt; converted 2 of 3 file(s) added");
}

TEST(BatchLog, LinesAreToldInAnyCaseAndNamesWithFoldersRoundTrip) {
    Fixture f;
    f.Open("y.dir", {{"D.IMG", ImageBytes(3, 3)}, {"sub\\e.img", ImageBytes(2, 2)}});
    f.ui.FolderAnswers.push_back(f.dir / "work");
    f.form.btnExtrConvLogClick();
    const std::string work = f.dir / "work/";
    ASSERT_TRUE(FileExists(work + "sub/e.img.bmp"));
    for (const char* edited : {"D.IMG.bmp", "sub/e.img.bmp"}) {
        Bitmap bmp = LoadBitmapFile(work + edited);
        bmp.Row(0)[1] = 2;
        SaveBitmapFile(bmp, work + edited);
        SetFileAge(work + edited, NewAge);
    }
    // A log with LF-only line ends reads the same.
    WriteWholeFile(work + "y.dir.txt", Bytes("D.IMG\nsub\\e.img\n"));
    f.ui.OpenAnswers.push_back(work + "y.dir.txt");
    f.form.btnConvAddLogClick();
    EXPECT_EQ(f.ui.Status, "Read log from " + work + "y.dir.txt; converted 2 of 2 file(s) added");
    EXPECT_EQ(f.Names(), (std::vector<std::string>{"D.IMG", "sub\\e.img"}));
}

TEST(BatchLog, RebuildRefusesUnsafeLinesAndAsksBeforeDroppingChanges) {
    Fixture f;
    ForceDirectories(f.dir / "work");
    WriteWholeFile(f.dir / "secret.bin", {1});
    WriteWholeFile(f.dir / "work/ok.bin", {2});
    WriteWholeFile(f.dir / "work/bad.txt", Bytes("ok.bin\r\n../secret.bin\r\n"));
    f.ui.OpenAnswers.push_back(f.dir / "work/bad.txt");
    try {
        f.form.btnConvAddLogClick();
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Unsafe entry name: ../secret.bin");
    }
    EXPECT_EQ(f.Names(), std::vector<std::string>{"ok.bin"}) << "entries added so far stay";
    EXPECT_EQ(f.ui.Lines, f.Names()) << "the list shows them, not the lines never reached";

    // The archive now holds an unsaved entry: Cancel stops before the dialog.
    f.ui.BoxAnswers.push_back(MsgResult::Cancel);
    const int opened = f.ui.OpenShown;
    f.form.btnConvAddLogClick();
    EXPECT_EQ(f.ui.OpenShown, opened);
    EXPECT_EQ(f.ui.Boxes.back().Text, "Save changes to the new directory?");

    // A missing file ends the rebuild with the file error.
    WriteWholeFile(f.dir / "work/missing.txt", Bytes("gone.bin\r\n"));
    f.ui.BoxAnswers.push_back(MsgResult::No);
    f.ui.OpenAnswers.push_back(f.dir / "work/missing.txt");
    EXPECT_THROW(f.form.btnConvAddLogClick(), FileOpenError);

    // Cancelled (the failed rebuild left an empty, unchanged archive: nothing to ask): the
    // summary with nothing converted and the list's line count.
    f.ui.OpenAnswers.push_back(std::nullopt);
    f.form.btnConvAddLogClick();
    EXPECT_EQ(f.ui.Status,
              "Read log from " + f.dir / "work/missing.txt" + "; converted 0 of 0 file(s) added");
}

TEST(BatchLog, LinesBeyondTheArchiveAreNeverReadAsEntries) {
    Fixture f;
    WriteWholeFile(f.dir / "a.bin", {1});
    WriteWholeFile(f.dir / "log.txt", Bytes("a.bin\r\na.bin\r\n"));
    f.ui.OpenAnswers.push_back(f.dir / "log.txt");
    f.form.btnConvAddLogClick();
    ASSERT_EQ(f.form.CurrentArchive->Count(), 1u);
    ASSERT_EQ(f.ui.Lines.size(), 2u);
    f.ui.Select({0, 1});
    f.ui.FolderAnswers.push_back(f.dir / "out");
    f.form.btnExtractClick();
    EXPECT_EQ(f.ui.Status, "Extracted 1 file(s)");
    f.ui.FolderAnswers.push_back(f.dir / "out");
    f.form.btnExtrConvLogClick();
    EXPECT_EQ(ReadWholeFile(f.dir / "out/.txt"), Bytes("a.bin\r\na.bin\r\n"));
}

TEST(BatchLog, AFailedRebuildForgetsTheFileItCameOver) {
    Fixture f;
    f.Open("GFX.DIR", {{"a.bin", PalBytes}});
    const std::vector<uint8_t> before = ReadWholeFile(f.dir / "GFX.DIR");
    WriteWholeFile(f.dir / "ok.bin", {7});
    WriteWholeFile(f.dir / "log.txt", Bytes("ok.bin\r\ngone.bin\r\n"));
    f.ui.OpenAnswers.push_back(f.dir / "log.txt");
    EXPECT_THROW(f.form.btnConvAddLogClick(), FileOpenError);
    EXPECT_TRUE(f.form.CurrentFileName.empty());
    EXPECT_EQ(f.ui.Caption, MainCaption);
    // Close asks for the partial archive as for any new one; nothing reaches GFX.DIR.
    f.ui.BoxAnswers.push_back(MsgResult::No);
    f.form.FileClose();
    EXPECT_EQ(f.ui.Boxes.back().Text, "Save changes to the new directory?");
    EXPECT_EQ(ReadWholeFile(f.dir / "GFX.DIR"), before);
}

// ---- Cancel -----------------------------------------------------------------------------------

namespace {

// Once armed with the window: Cancel pressed while the second file is under way; for a command
// that reports no files, while it works.
class CancelAtSecondFile : public RecordingToolkit {
public:
    TMainForm* Form = nullptr;
    void ShowProgress(int number, int total, const std::string& text) override {
        RecordingToolkit::ShowProgress(number, total, text);
        if (Form && number == 2) Form->CancelCommand();
    }
    void RunInBackground(bool cancellable, std::function<void()> work,
                         std::function<void(std::exception_ptr)> finished) override {
        RecordingToolkit::RunInBackground(
            cancellable,
            [this, work, reported = Progress.size()] {
                work();
                if (Form && Progress.size() == reported) Form->CancelCommand();
            },
            std::move(finished));
    }
};

struct CancelFixture : FixtureWith<CancelAtSecondFile> {
    void Arm() { ui.Form = &form; }
};

} // namespace

TEST(BatchCancel, StopsBetweenFilesKeepingWhatWasDone) {
    CancelFixture f;
    f.Open("x.dir", {{"a.bin", {1}}, {"b.bin", {2}}, {"c.bin", {3}}});
    f.Arm();
    const std::string cancelled = "Cancelled after 2 of 3 file(s)";
    // Add: the entries added stay, unsaved, and the list shows them. (What each command leaves
    // after a Cancel is the engine's: BatchEngine.CancelStopsEachCommandBetweenFiles.)
    for (const char* name : {"d.bin", "e.bin", "f.bin"})
        WriteWholeFile(f.dir / name, PalBytes);
    f.ui.AddAnswers.push_back(
        std::vector<std::string>{f.dir / "d.bin", f.dir / "e.bin", f.dir / "f.bin"});
    f.form.btnAddClick();
    EXPECT_EQ(f.ui.Status, cancelled);
    EXPECT_EQ(f.Names(), (std::vector<std::string>{"a.bin", "b.bin", "c.bin", "d.bin", "e.bin"}));
    EXPECT_EQ(f.ui.Lines, f.Names());
    EXPECT_TRUE(f.form.CurrentArchive->Modified());
    // Open: the archive open before stays.
    WriteArchive(f.dir, "other.dir", {{"z.bin", {9}}});
    f.ui.BoxAnswers.push_back(MsgResult::No);
    f.ui.OpenAnswers.push_back(f.dir / "other.dir");
    f.form.FileOpen();
    EXPECT_EQ(f.ui.Status, "Cancelled after 0 of 1 file(s)");
    EXPECT_EQ(f.Names().size(), 5u);
    EXPECT_EQ(f.form.CurrentFileName, f.dir / "x.dir");
    EXPECT_EQ(f.ui.LongCommands.back(), true);
    // Save cannot be cancelled.
    f.form.FileSave();
    EXPECT_EQ(f.ui.LongCommands.back(), false);
    EXPECT_EQ(TDirFile::Create(f.dir / "x.dir", true)->Count(), 5u);
    // What the cancelled Add did is one step.
    EXPECT_EQ(f.form.EditCommands().Undo, "Undo add of 2 entries");
    f.form.EditUndo();
    EXPECT_EQ(f.Names(), (std::vector<std::string>{"a.bin", "b.bin", "c.bin"}));
}

TEST(BatchCancel, ACancelledRebuildIsAFailedOne) {
    CancelFixture f;
    f.Open("x.dir", {{"z.bin", PalBytes}});
    f.Arm();
    ForceDirectories(f.dir / "work");
    for (const std::string name : {"a.bin", "b.bin", "c.bin"})
        WriteWholeFile(f.dir / ("work/" + name), PalBytes);
    WriteWholeFile(f.dir / "work/log.txt", Bytes("a.bin\r\nb.bin\r\nc.bin\r\n"));
    f.ui.OpenAnswers.push_back(f.dir / "work/log.txt");
    f.form.btnConvAddLogClick();
    EXPECT_EQ(f.ui.Status, "Cancelled after 2 of 3 file(s)");
    EXPECT_EQ(f.Names(), (std::vector<std::string>{"a.bin", "b.bin"}));
    EXPECT_EQ(f.ui.Lines, f.Names()) << "the list shows what the archive holds";
    // Never saved over the archive that was open.
    EXPECT_TRUE(f.form.CurrentFileName.empty());
    EXPECT_EQ(f.ui.Caption, MainCaption);
    // An export now logs the entries there are.
    f.ui.Form = nullptr;
    f.ui.FolderAnswers.push_back(f.dir / "out");
    f.form.btnExtrConvLogClick();
    EXPECT_EQ(ReadWholeFile(f.dir / "out/.txt"), Bytes("a.bin\r\nb.bin\r\n"));
    // Undo brings back the archive it replaced.
    f.form.EditUndo();
    EXPECT_EQ(f.Names(), std::vector<std::string>{"z.bin"});
}

TEST(BatchLog, RebuildLooksForTheLogWhereTheLastExportWroteIt) {
    Fixture f;
    f.ui.OpenAnswers.push_back(std::nullopt);
    f.form.btnConvAddLogClick();
    EXPECT_EQ(f.ui.OpenFolders.back(), f.form.ExtractFolder) << "before any export";
    Export(f);
    f.ui.FolderAnswers.push_back(f.dir / "elsewhere");
    f.form.btnExtractClick(); // another folder since, for other work
    f.ui.OpenAnswers.push_back(std::nullopt);
    f.form.btnConvAddLogClick();
    EXPECT_EQ(f.ui.OpenFolders.back(), f.dir / "work/");
    EXPECT_EQ(f.ui.OpenNamesCleared, 2);
    EXPECT_EQ(f.ui.FilterIndex, 5);
}

namespace {

// While the first file of a long command is under way, `Meddle` does what the window's thread
// may do meanwhile: clicks, drops, a preview.
class MeddleDuringWork : public RecordingToolkit {
public:
    std::function<void()> Meddle;
    void ShowProgress(int number, int total, const std::string& text) override {
        RecordingToolkit::ShowProgress(number, total, text);
        if (number != 1 || !Meddle) return;
        const bool inWork = std::exchange(InWork, false);
        std::exchange(Meddle, nullptr)();
        InWork = inWork;
    }
};

} // namespace

TEST(BatchBusy, NoSecondCommandStartsAndThePreviewReadsASnapshot) {
    FixtureWith<MeddleDuringWork> f;
    f.Open("x.dir", SampleEntries());
    WriteWholeFile(f.dir / "d.pal", PalBytes);
    std::string details;
    f.ui.Meddle = [&] {
        EXPECT_EQ(f.form.CurrentArchive, nullptr) << "the work holds the archive";
        f.form.DropFiles({f.dir / "d.pal"});
        f.form.btnDeleteClick();
        f.form.FileSave();
        f.ui.Focused = 0;
        f.form.lstDirContentsClick();
        details = f.form.EntryDetails(0);
    };
    f.ui.Select({0, 1, 2});
    f.ui.FolderAnswers.push_back(f.dir / "out");
    f.form.btnExtractClick();
    EXPECT_EQ(f.ui.Status, "Extracted 3 file(s)");
    ASSERT_EQ(f.ui.Boxes.size(), 3u);
    for (const ShownBox& box : f.ui.Boxes)
        EXPECT_EQ(box.Text, "A command is still running. Try again when it has ended.");
    EXPECT_EQ(f.Names(), (std::vector<std::string>{"a.img", "b.spr", "c.pal"}));
    EXPECT_TRUE(f.ui.PreviewShowing);
    EXPECT_EQ(details.rfind("Image, 6 x 4", 0), 0u) << details;
}

// Every command of the batch engine, shared with pelfry-cli, stops between two files when the
// follower says Cancel: the file under way is finished, the next one is not begun.
TEST(BatchEngine, CancelStopsEachCommandBetweenFiles) {
    struct CancelAfterFirst : BatchFollower {
        int Begun = 0;
        bool Cancelled() override { return Begun > 0; }
        void Begin(int, int, const std::string&) override { ++Begun; }
    };
    // From the archive x.dir of SampleEntries, with its game files and their pictures beside it,
    // into `target` (an empty archive) or the folder.
    using Run = std::function<BatchResult(TDirFile & archive, TDirFile & target,
                                          const std::string& dir, BatchFollower&)>;
    const auto extract = [](std::optional<PictureFormat> convert) -> Run {
        return [convert](TDirFile& archive, TDirFile&, const std::string& dir, BatchFollower& f) {
            ExtractJob job;
            job.Entries = {0, 1, 2};
            job.Folder = dir + "out/";
            job.Convert = convert;
            return Extract(archive, job, f);
        };
    };
    const auto add = [](std::vector<std::string> files, bool convertBack) -> Run {
        return [=](TDirFile&, TDirFile& target, const std::string& dir, BatchFollower& f) {
            AddJob job{{}, {}, convertBack, 2};
            for (const std::string& file : files)
                job.Files.push_back(dir + file);
            return AddFiles(target, job, f);
        };
    };
    struct Case {
        Run run;
        std::string notMade; // the file the second file's work would make
        uint32_t added;      // entries in `target` afterwards
    };
    const std::vector<Case> cases = {
        {extract(std::nullopt), "out/b.spr", 0},
        {extract(PictureFormat::Bmp), "out/b.spr.spd", 0},
        {[](TDirFile& archive, TDirFile&, const std::string& dir, BatchFollower& f) {
             ExportJob job;
             job.Folder = dir + "out/";
             job.Log = dir + "out/x.dir.txt";
             archive.ListEntries(job.LogLines);
             return Export(archive, job, f);
         },
         "out/x.dir.txt", 0},
        {add({"a.img", "b.spr", "c.pal"}, false), "", 1},
        {add({"a.img.bmp", "b.spr.spd", "c.pal"}, true), "", 1},
        {[](TDirFile&, TDirFile& target, const std::string& dir, BatchFollower& f) {
             return Rebuild(target, dir + "x.dir.txt", {"a.img", "b.spr", "c.pal"}, 2, f);
         },
         "", 1},
        {[](TDirFile&, TDirFile&, const std::string& dir, BatchFollower& f) {
             return ConvertFiles({dir + "a.img", dir + "b.spr", dir + "c.pal"}, PictureFormat::Png,
                                 2, f, [](size_t, const std::string&) {});
         },
         "b.spr.png", 0},
        {[](TDirFile&, TDirFile&, const std::string& dir, BatchFollower& f) {
             return ConvertBackFiles({dir + "a.img.bmp", dir + "b.spr.spd", dir + "c.pal"}, 2, f,
                                     [](size_t, const std::string&, bool) {});
         },
         "", 0},
    };
    for (const Case& c : cases) {
        TempDir dir;
        for (const auto& [name, bytes] : SampleEntries())
            WriteWholeFile(dir / name, bytes);
        WriteArchive(dir, "x.dir", SampleEntries());
        ConvertFile(dir / "a.img");
        ConvertFile(dir / "b.spr");
        auto archive = TDirFile::Create(dir / "x.dir", true);
        TDirFile target;
        CancelAfterFirst follower;
        const BatchResult result = c.run(*archive, target, dir.Path(), follower);
        SCOPED_TRACE(&c - cases.data());
        EXPECT_TRUE(result.Stopped);
        EXPECT_EQ(result.Done, 1);
        EXPECT_EQ(result.Total, 3);
        EXPECT_EQ(target.Count(), c.added);
        EXPECT_TRUE(c.notMade.empty() || !FileExists(dir / c.notMade));
    }
}

// What the writer's hook swaps, just before the first file is named: the folder for a link.
std::string swapFolder, swapTarget;
bool swapped = false;
void SwapFolderForLink() {
    std::error_code ec;
    if (swapFolder.empty()) return;
    std::filesystem::rename(swapFolder, swapFolder + ".moved", ec);
    swapped = !ec && MakeLink(swapTarget, swapFolder, true);
    swapFolder.clear();
}

// A folder swapped for a link while an export runs is never written through: the export fails,
// naming the file, and writes no log. (Windows refuses to move the folders written into: the
// export then ends as usual.)
TEST(BatchEngine, AFolderSwappedForALinkIsNotWrittenThrough) {
    TempDir dir;
    ForceDirectories(dir / "elsewhere");
    TDirFile archive;
    archive.AppendEntry("SUB\\a.img",
                        std::make_shared<const std::vector<uint8_t>>(ImageBytes(2, 2)));
    ExportJob job;
    job.Folder = dir / "out/";
    job.MakeFolder = dir / "out";
    job.Log = dir / "out/x.dir.txt";
    job.LogLines = {"SUB\\a.img"};
    swapFolder = dir / "out/SUB";
    swapTarget = dir / "elsewhere";
    SetBeforeRenameHook(SwapFolderForLink);
    struct : BatchFollower {
        void Begin(int, int, const std::string&) override {}
    } follower;
    std::string error, reason;
    try {
        Export(archive, job, follower);
    } catch (const FileCreateError& e) {
        error = e.what();
        reason = e.Reason();
    }
    SetBeforeRenameHook(nullptr);
    EXPECT_TRUE(std::filesystem::is_empty(dir / "elsewhere"));
    EXPECT_EQ(FileExists(dir / "out/x.dir.txt"), error.empty());
    if (error.empty() && test::OnWindows) return;
    EXPECT_EQ(error, "Cannot create file " + dir / "out/SUB/a.img");
    // Under wine a folder link may not be made: the folder is moved all the same.
    EXPECT_EQ(reason, swapped ? LinkOnTheWay : FolderMoved);
    EXPECT_TRUE(swapped || test::OnWindows);
}
