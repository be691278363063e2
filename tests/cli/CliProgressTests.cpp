// What pelfry-cli says besides its results: errors and warnings led by the file they concern,
// and progress through many files, one line per file in a log and one line rewritten in place
// on a terminal; --quiet leaves errors only.
#include "CliOutput.h"
#include "CliRun.h"
#include "CliTerminal.h"
#include "archive/ArchiveTestUtil.h"

#include "picture/Bitmap.h"

#include <gtest/gtest.h>

namespace pelfry {
namespace {

using test::RunCli;
using test::TestFolder;

// A picture of 256 colours, more than an image can hold.
void WriteManyColours(const std::string& path) {
    Bitmap bitmap(16, 16);
    for (size_t i = 0; i < 256; ++i) {
        bitmap.Pixels()[i] = static_cast<uint8_t>(i);
        bitmap.Palette()[i] = RGB{static_cast<uint8_t>(i), 0, 0};
    }
    SaveBitmapFile(bitmap, path);
}

TEST(CliMessages, AnErrorNamesTheFileItConcerns) {
    TestFolder folder;
    WriteManyColours(folder / "MANY.IMG.bmp");
    test::WriteFile(folder / "notes.txt", "x");
    test::CliResult r = RunCli({"convert-back", folder / "notes.txt", folder / "MANY.IMG.bmp"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(test::LastLine(r.err).rfind("pelfry-cli: " + (folder / "MANY.IMG.bmp") +
                                              ": Too many colours in image! (ImgFileU.cpp, line ",
                                          0),
              0u)
        << r.err;
    EXPECT_FALSE(FileExists(folder / "MANY.IMG"));

    // In a rebuild, the log line whose files failed; a message that names its file as it is.
    test::WriteFile(folder / "MANY.IMG", "");
    test::WriteFile(folder / "log.txt", "notes.txt\r\nMANY.IMG\r\n");
    r = RunCli({"rebuild", "--recreate-all", folder / "log.txt", folder / "NEW.DIR"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(test::LastLine(r.err).rfind(
                  "pelfry-cli: " + (folder / "MANY.IMG") + ": Too many colours", 0),
              0u)
        << r.err;
    r = RunCli({"info", folder / "MANY.IMG"});
    EXPECT_EQ(r.err, "pelfry-cli: " + (folder / "MANY.IMG") +
                         " is not a valid image file [not an image: it does not start with IMG "
                         "0x1A]\n");
}

TEST(CliProgress, OneLinePerFileOrResultsOnlyAndQuietLeavesErrors) {
    TestFolder folder;
    test::MakeArchive({{"a", "1"}, {"sub\\b", "2"}})->SaveToFile(folder / "A.DIR");
    test::CliResult r = RunCli({"export", folder / "A.DIR", folder / "ex"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "Processing file 1 of 2: a\nProcessing file 2 of 2: sub\\b\n");
    r = RunCli({"extract", folder / "A.DIR", folder / "out"});
    EXPECT_EQ(r.err, "Processing file 1 of 2: a\nProcessing file 2 of 2: sub\\b\n");
    // convert tells each file in its results already.
    r = RunCli({"convert", folder / "out/a"});
    EXPECT_EQ(r.out, folder / "out/a" + ": not an image or sprite, left alone\n");
    EXPECT_EQ(r.err, "");

    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"export", "-q", folder / "A.DIR", folder / "ex2"},
             {"extract", "--quiet", folder / "A.DIR", folder / "out2"},
             {"convert", "-q", folder / "out/a"},
             {"rebuild", "-q", folder / "ex/A.DIR.txt", folder / "B.DIR"}}) {
        r = RunCli(args);
        EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
        EXPECT_EQ(r.out + r.err, "") << args[0];
    }
    EXPECT_EQ(test::ReadFile(folder / "ex2/sub/b"), test::Bytes("2"));
    EXPECT_EQ(test::ReadFile(folder / "B.DIR"), test::ReadFile(folder / "A.DIR"));
    r = RunCli({"extract", "-q", folder / "A.DIR", folder / "out3", "none"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "pelfry-cli: No entry named none in " + (folder / "A.DIR") + "\n");
}

// On a terminal of 40 columns: each line drawn over the last, cut to 39 columns, and taken
// away at the end, so that the shell prompt follows the results.
TEST(CliProgress, OnATerminalOneLineRewrittenInPlace) {
#if !PELFRY_HAS_PTY
    GTEST_SKIP() << "no pseudo-terminals here";
#else
    TestFolder folder;
    const std::string longName = "a-long-entry-name-of-30-bytes.";
    test::MakeArchive({{"a", "1"}, {longName, "2"}})->SaveToFile(folder / "A.DIR");
    test::CliResult r = test::RunCliOnTerminal({"export", folder / "A.DIR", folder / "ex"}, 40);
    EXPECT_EQ(r.status, 0);
    const std::string erase = "\r\033[K";
    EXPECT_EQ(r.err, erase + "Processing file 1 of 2: a" + erase +
                         "Processing file 2 of 2: a-long-entry-na" + erase);
    EXPECT_EQ(r.out.rfind("Extracted and converted 2 file(s)", 0), 0u) << r.out;

    // A warning takes the line away before it is written.
    const std::string picture = std::string(PELFRY_TEST_DATA) + "/png/pil_magenta0_p2bit.png";
    test::WriteFile(folder / "m.IMG.png", test::ReadFile(picture));
    r = test::RunCliOnTerminal({"convert-back", folder / "m.IMG.png"}, 0);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.rfind(erase + "Processing file 1 of 1: " + (folder / "m.IMG.png") + erase +
                              "pelfry-cli: warning: " + (folder / "m.IMG.png") + ": 5 pixel(s)",
                          0),
              0u)
        << r.err;
#endif
}

} // namespace
} // namespace pelfry
