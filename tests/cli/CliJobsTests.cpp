// pelfry-cli's conversions spread over several threads: whatever --jobs says, a user sees the
// same files, messages and order, the same first error at the same file, and nothing written
// for the files after it; a kill leaves no cut-short file. And the window's batch commands,
// which run the same engine, make the same files as pelfry-cli's.
#include "CliRun.h"

#include "app/FakeToolkit.h"
#include "app/Main.h"
#include "platform/FileTime.h"
#include "platform/FileUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <thread>

namespace pelfry {
namespace {

using test::RunCli;
using test::TestFolder;

std::string Data(const std::string& name) {
    return std::string(PELFRY_TEST_DATA) + "/" + name;
}

void Copy(const std::string& from, const std::string& to) {
    test::WriteFile(to, test::ReadFile(from));
}

// Every file below `dir` with its bytes, by path from `dir`.
std::map<std::string, std::vector<uint8_t>> Tree(const std::string& dir) {
    std::map<std::string, std::vector<uint8_t>> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
        if (e.is_regular_file())
            files[e.path().lexically_relative(dir).generic_string()] =
                test::ReadFile(e.path().string());
    return files;
}

std::string Replaced(std::string text, const std::string& what, const std::string& with) {
    for (size_t at = text.find(what); at != std::string::npos;
         at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

// In `dir`: `count` game files made with the tool, images, sprites and plain files in turn
// (e00.IMG, e01.SPR, e02.DAT, ...), file `bad` (if any) one that no reader takes, and the
// archive x.dir holding them in order.
std::vector<std::string> MakeGameFiles(const std::string& dir, int count, int bad = -1,
                                       size_t plainSize = 16) {
    Copy(Data("bmp/pil_p8.bmp"), dir + "a.IMG.bmp");
    Copy(Data("sprite/walk.SPR.bmp"), dir + "b.SPR.bmp");
    Copy(Data("sprite/walk.SPR.spd"), dir + "b.SPR.spd");
    EXPECT_EQ(RunCli({"convert-back", dir + "a.IMG.bmp", dir + "b.SPR.spd"}).status, 0);
    std::vector<std::string> files = {"add", dir + "x.dir"};
    for (int i = 0; i < count; ++i) {
        const char* kinds[] = {".IMG", ".SPR", ".DAT"};
        const std::string name = dir + (i < 10 ? "e0" : "e") + std::to_string(i) + kinds[i % 3];
        if (i == bad)
            test::WriteFile(name, "no game file");
        else if (i % 3 == 2)
            test::WriteFile(name, std::vector<uint8_t>(plainSize, static_cast<uint8_t>(i)));
        else
            Copy(dir + (i % 3 == 0 ? "a.IMG" : "b.SPR"), name);
        files.push_back(name);
    }
    EXPECT_EQ(RunCli(files).status, 0);
    return {files.begin() + 2, files.end()};
}

// Each case runs with --jobs 1 and with --jobs 3 in a folder of its own made by `setup`; "@"
// in an argument stands for that folder.
struct Case {
    std::string what;
    std::function<void(const std::string& dir, std::vector<std::string>& args)> setup;
    std::vector<std::string> args;
    int status;
};

TEST(CliJobs, ParallelRunsWriteAndSayWhatOneThreadDoes) {
    const auto archive = [](int bad) {
        return [bad](const std::string& dir, std::vector<std::string>&) {
            MakeGameFiles(dir, 30, bad);
        };
    };
    const auto files = [](int bad) {
        return [bad](const std::string& dir, std::vector<std::string>& args) {
            for (const std::string& file : MakeGameFiles(dir, 30, bad))
                args.push_back(file);
        };
    };
    // Exported with one thread; the picture of `bad` damaged, so that the rebuild stops there.
    const auto exported = [](int bad) {
        return [bad](const std::string& dir, std::vector<std::string>&) {
            MakeGameFiles(dir, 30);
            ASSERT_EQ(RunCli({"export", "--jobs", "1", dir + "x.dir", dir + "out"}).status, 0);
            if (bad >= 0)
                test::WriteFile(dir + "out/e" + std::to_string(bad) + ".IMG.bmp", "damaged");
        };
    };
    // Pictures to convert back, with warnings, a picture given twice (the second must see the
    // first one's result) and a damaged one.
    const auto pictures = [](const std::string& dir, std::vector<std::string>& args) {
        for (int i = 0; i < 24; ++i) {
            const std::string base = dir + "p" + std::to_string(i);
            if (i % 3 == 0) Copy(Data("png/pil_magenta0_p2bit.png"), base + ".IMG.png");
            if (i % 3 == 1) Copy(Data("bmp/pil_p8.bmp"), base + ".IMG.bmp");
            if (i % 3 == 2) Copy(Data("sprite/walk.SPR.bmp"), base + ".SPR.bmp");
            if (i % 3 == 2) Copy(Data("sprite/walk.SPR.spd"), base + ".SPR.spd");
            const char* suffix[] = {".IMG.png", ".IMG.bmp", ".SPR.spd"};
            args.push_back(base + suffix[i % 3]);
            if (i == 13) test::WriteFile(base + suffix[i % 3], "damaged");
            if (i == 4) args.push_back(base + suffix[i % 3]);
        }
    };
    const std::vector<Case> cases = {
        {"export stopping at a damaged image", archive(15), {"export", "@x.dir", "@out"}, 1},
        {"export", archive(-1), {"export", "--png", "@x.dir", "@out"}, 0},
        {"convert stopping at a damaged image", files(15), {"convert"}, 1},
        {"convert-back stopping at a damaged picture", pictures, {"convert-back"}, 1},
        {"rebuild stopping at a damaged picture",
         exported(15),
         {"rebuild", "--recreate-all", "@out/x.dir.txt", "@new.dir"},
         1},
        {"rebuild", exported(-1), {"rebuild", "--recreate-all", "@out/x.dir.txt", "@new.dir"}, 0},
    };
    for (const Case& c : cases) {
        std::map<std::string, std::vector<uint8_t>> trees[2];
        test::CliResult results[2];
        for (int run = 0; run < 2; ++run) {
            TestFolder dir;
            std::vector<std::string> args;
            for (const std::string& arg : c.args)
                args.push_back(arg[0] == '@' ? dir.Path() + arg.substr(1) : arg);
            c.setup(dir.Path(), args);
            args.insert(args.begin() + 1, {"--jobs", run == 0 ? "1" : "3"});
            results[run] = RunCli(args);
            results[run].out = Replaced(results[run].out, dir.Path(), "@");
            results[run].err = Replaced(results[run].err, dir.Path(), "@");
            trees[run] = Tree(dir.Path());
        }
        EXPECT_EQ(results[0].status, c.status) << c.what << results[0].err;
        EXPECT_EQ(results[1].status, results[0].status) << c.what;
        EXPECT_EQ(results[1].out, results[0].out) << c.what;
        EXPECT_EQ(results[1].err, results[0].err) << c.what;
        EXPECT_TRUE(trees[1] == trees[0]) << c.what;
    }
}

// Killed at once in the middle of a parallel export: every file already there is complete, and
// there is no log, which only a complete export writes.
TEST(CliJobs, AKilledExportLeavesOnlyCompleteFilesAndNoLog) {
    TestFolder dir;
    MakeGameFiles(dir.Path(), 240, -1, 65536);
    ASSERT_EQ(RunCli({"export", "--jobs", "1", dir / "x.dir", dir / "whole"}).status, 0);
    const auto whole = Tree(dir / "whole");
    test::CliProcess exporting({"export", "--jobs", "3", dir / "x.dir", dir / "out"});
    const auto started = [&] {
        std::error_code ec;
        std::filesystem::directory_iterator files(dir / "out", ec);
        return !ec && std::distance(files, std::filesystem::directory_iterator()) >= 10;
    };
    while (!started())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    exporting.Kill();
    ASSERT_NE(exporting.Finish().status, 0) << "killed before it ended";
    const auto cut = Tree(dir / "out");
    EXPECT_FALSE(cut.count("x.dir.txt"));
    for (const auto& [name, bytes] : cut) {
        // Killed between its last byte and its rename, a file may stay complete under its
        // temporary name (named temporaries: Windows, some file systems); the next writer
        // into the folder removes it.
        if (std::filesystem::path(name).filename().string().starts_with(".pelfry-")) continue;
        ASSERT_TRUE(whole.count(name)) << name << " is no file of the export";
        EXPECT_TRUE(whole.at(name) == bytes) << name << " is cut short";
    }
    ASSERT_EQ(RunCli({"export", "--jobs", "3", dir / "x.dir", dir / "out"}).status, 0);
    EXPECT_TRUE(Tree(dir / "out") == whole) << "the export again leaves it whole, no temporary";
}

// Each command in the window (through the scripted toolkit, on the files `setup` made) and in
// pelfry-cli (`cli`, "@" standing for the folder), each in a folder of its own: the same files.
TEST(CliAndWindow, EveryCommandMakesTheSameFiles) {
    const auto exported = [](const std::string& dir) {
        ASSERT_EQ(RunCli({"export", dir + "x.dir", dir + "out"}).status, 0);
        // An edited picture, rebuilt by the rebuild.
        Copy(Data("bmp/pil_p8.bmp"), dir + "out/e00.IMG.bmp");
        SetFileAge(dir + "out/e00.IMG.bmp", UnixToFileDate(1600000000));
    };
    using Window = std::function<void(TMainForm&, test::FakeToolkit&, const std::string& dir)>;
    const auto opened = [](Window then) -> Window {
        return [then](TMainForm& form, test::FakeToolkit& ui, const std::string& dir) {
            ui.OpenAnswers.push_back(dir + "x.dir");
            form.FileOpen();
            ui.Selected.assign(ui.Lines.size(), true);
            ui.FolderAnswers.push_back(dir + "out");
            then(form, ui, dir);
        };
    };
    struct Case {
        std::function<void(const std::string& dir)> setup;
        std::vector<std::string> cli;
        Window window;
    };
    const std::vector<Case> cases = {
        {nullptr,
         {"extract", "@x.dir", "@out"},
         opened([](TMainForm& form, test::FakeToolkit&, const std::string&) {
             form.btnExtractClick();
         })},
        {nullptr,
         {"export", "@x.dir", "@out"},
         opened([](TMainForm& form, test::FakeToolkit&, const std::string&) {
             form.btnExtrConvLogClick();
         })},
        {nullptr,
         {"export", "--png", "@x.dir", "@out"},
         opened([](TMainForm& form, test::FakeToolkit& ui, const std::string&) {
             ui.Checks[static_cast<int>(CheckBoxId::PngInsteadOfBmp)] = true;
             form.btnExtrConvLogClick();
         })},
        {exported,
         {"rebuild", "@out/x.dir.txt", "@new.dir"},
         [](TMainForm& form, test::FakeToolkit& ui, const std::string& dir) {
             ui.OpenAnswers.push_back(dir + "out/x.dir.txt");
             form.btnConvAddLogClick();
             ui.SaveAnswers.push_back(dir + "new.dir");
             form.FileSaveAs();
         }},
        {[](const std::string& dir) { test::WriteFile(dir + "n.pal", "palette"); },
         {"add", "@x.dir", "@n.pal", "@e01.SPR"},
         opened([](TMainForm& form, test::FakeToolkit& ui, const std::string& dir) {
             ui.FolderAnswers.clear();
             ui.AddAnswers.push_back(std::vector<std::string>{dir + "n.pal", dir + "e01.SPR"});
             form.btnAddClick();
             form.FileSave();
         })},
    };
    TestFolder made;
    MakeGameFiles(made.Path(), 9);
    const auto files = Tree(made.Path());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cli[0] + " " + c.cli[1]);
        TestFolder cli, window;
        for (const TestFolder* dir : {&cli, &window}) {
            for (const auto& [name, bytes] : files) {
                ForceDirectories(ExtractFilePath(dir->Path() + name));
                test::WriteFile(dir->Path() + name, bytes);
            }
            if (c.setup) c.setup(dir->Path());
        }
        std::vector<std::string> args;
        for (const std::string& arg : c.cli)
            args.push_back(arg[0] == '@' ? cli.Path() + arg.substr(1) : arg);
        ASSERT_EQ(RunCli(args).status, 0);
        test::FakeToolkit ui;
        TMainForm form(ui);
        form.FormCreate();
        c.window(form, ui, window.Path());
        EXPECT_TRUE(ui.Boxes.empty()) << ui.Boxes[0].Text;
        EXPECT_TRUE(Tree(window.Path()) == Tree(cli.Path()));
    }
}

} // namespace
} // namespace pelfry
