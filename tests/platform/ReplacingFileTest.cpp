// The replacing writer and the writers' lock: what stands under a name after a write, a
// failed write or a kill; links; folders walked without links; writers taking turns.
#include "support/System.h"
#include "support/TempDir.h"

#include "platform/Errors.h"
#include "platform/FileLock.h"
#include "platform/FileUtil.h"
#include "platform/ReplacingFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <thread>

#ifndef _WIN32
#include "FileSizeLimit.h"
#include "LockWaiters.h"

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace pelfry {
namespace {

using test::IsLink;
using test::TempDir;
using Bytes = std::vector<uint8_t>;

Bytes B(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// Puts the writer on named temporaries for one test.
struct NamedTemps {
    explicit NamedTemps(bool on) { UseNamedTempFiles(on); }
    ~NamedTemps() { UseNamedTempFiles(false); }
};

TEST(ReplacingFile, LinksAreReplacedOrFollowedAsAsked) {
    TempDir dir;
    WriteWholeFile(dir / "real", B("old"));
    for (LinkPolicy policy : {LinkPolicy::Replace, LinkPolicy::Follow}) {
        WriteWholeFile(dir / "real", B("old"));
        DeleteFile(dir / "link");
        if (!test::MakeLink("real", dir / "link", false)) {
            GTEST_SKIP() << "this system makes no symbolic links here";
        }
        WriteFileReplacing(dir / "link", B("new"), policy);
        const bool follow = policy == LinkPolicy::Follow;
        EXPECT_EQ(IsLink(dir / "link"), follow);
        EXPECT_EQ(ReadWholeFile(dir / "real"), B(follow ? "new" : "old"));
        EXPECT_EQ(ReadWholeFile(dir / "link"), B("new"));
    }
    // A dangling link is replaced; nothing is made where it pointed.
    ASSERT_TRUE(test::MakeLink("nowhere", dir / "dangling", false));
    WriteFileReplacing(dir / "dangling", B("x"));
    EXPECT_FALSE(IsLink(dir / "dangling"));
    EXPECT_FALSE(FileExists(dir / "nowhere"));
}

TEST(ReplacingFile, AFailedWriteLeavesTheOldFileOrNoneAndNoTemporary) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no per-process file-size limit to imitate a full disk with";
#else
    for (bool named : {false, true}) {
        NamedTemps temps(named);
        TempDir dir;
        WriteWholeFile(dir / "old.DIR", Bytes(1000, 0xAB));
        {
            test::FileSizeLimit limit(4096);
            for (const std::string name : {"old.DIR", "new.DIR"}) {
                try {
                    WriteFileReplacing(dir / name, Bytes(20000, 0xCD));
                    ADD_FAILURE() << "the write should have failed";
                } catch (const FileWriteError& e) {
                    EXPECT_EQ(std::string(e.what()), "Cannot write file " + dir / name);
                    EXPECT_EQ(e.Code(), EFBIG);
                }
            }
        }
        EXPECT_EQ(ReadWholeFile(dir / "old.DIR"), Bytes(1000, 0xAB)) << named;
        EXPECT_EQ(dir.Entries(), std::vector<std::string>{"old.DIR"}) << named;
    }
#endif
}

// A child process writes with the cleanup installed and stops half-way; the signal sent to
// it must end it as usual and leave no file beside the target.
TEST(ReplacingFile, AKilledWriterLeavesNothingBehind) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX signals; on Windows see AWriterEndedAtOnceLeavesNothingBehind";
#else
    struct Case {
        bool named;
        int signal;
    };
    for (const Case c :
         {Case{true, SIGINT}, Case{true, SIGTERM}, Case{true, SIGHUP}, Case{false, SIGKILL}}) {
        TempDir dir;
        WriteWholeFile(dir / "GFX.DIR", B("old"));
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            UseNamedTempFiles(c.named);
            InstallTempFileCleanup();
            ReplacingFile file(dir / "GFX.DIR");
            const Bytes block(2 << 20, 1);
            file.Write(block.data(), block.size());
            const char byte = 1;
            if (::write(ready[1], &byte, 1) != 1) ::_exit(3);
            for (;;)
                ::pause();
        }
        char byte = 0;
        ASSERT_EQ(::read(ready[0], &byte, 1), 1);
        EXPECT_EQ(dir.Entries().size(), c.named ? 2u : 1u)
            << "the temporary is named only when asked";
        ::kill(child, c.signal);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << c.signal;
        EXPECT_EQ(dir.Entries(), std::vector<std::string>{"GFX.DIR"}) << c.signal;
        EXPECT_EQ(ReadWholeFile(dir / "GFX.DIR"), B("old"));
        ::close(ready[0]);
        ::close(ready[1]);
    }
#endif
}

// The child side of the next test: writes half a file, tells the test, and waits to be ended.
TEST(ReplacingFileChild, WritesHalfAFileAndWaits) {
    const char* target = std::getenv("PELFRY_CHILD_TARGET");
    const char* signal = std::getenv("PELFRY_CHILD_SIGNAL");
    if (target == nullptr || signal == nullptr || *target == '\0') {
        GTEST_SKIP() << "run as a child by ReplacingFile.AWriterEndedAtOnceLeavesNothingBehind";
    }
    InstallTempFileCleanup();
    ReplacingFile file(target);
    const Bytes block(2 << 20, 1);
    file.Write(block.data(), block.size());
    test::ChildSignal never(std::string(signal) + "-never");
    test::ChildSignal::Raise(signal);
    never.Wait();
}

// A writer ended without warning half-way (SIGKILL, TerminateProcess: no handler runs) leaves
// nothing beside its target: the system drops the temporary file, nameless on POSIX systems
// and marked for deletion on Windows.
TEST(ReplacingFile, AWriterEndedAtOnceLeavesNothingBehind) {
    TempDir dir, logs;
    WriteWholeFile(dir / "GFX.DIR", B("old"));
    const std::string signal = "pelfry-" + logs.Path().substr(logs.Path().size() - 9, 8);
    test::ChildSignal ready(signal);
    test::SetEnvironment("PELFRY_CHILD_TARGET", (dir / "GFX.DIR").c_str());
    test::SetEnvironment("PELFRY_CHILD_SIGNAL", signal.c_str());
    test::ChildProcess child(
        {test::ThisProgram(), "--gtest_filter=ReplacingFileChild.WritesHalfAFileAndWaits"},
        logs / "out", logs / "err");
    test::SetEnvironment("PELFRY_CHILD_TARGET", nullptr);
    test::SetEnvironment("PELFRY_CHILD_SIGNAL", nullptr);
    ready.Wait();
    child.Kill();
    child.Wait();
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"GFX.DIR"});
    EXPECT_EQ(ReadWholeFile(dir / "GFX.DIR"), B("old"));
}

TEST(Folder, DescendMakesFoldersAndRefusesLinksOnTheWay) {
    TempDir dir;
    ForceDirectories(dir / "out");
    ForceDirectories(dir / "elsewhere");
    if (!test::MakeLink(dir / "elsewhere", dir / "out/sub", true)) {
        GTEST_SKIP() << "this system makes no symbolic links here";
    }
    WriteWholeFile(dir / "out/plain", B("p"));
    const Folder out(dir / "out", "shown");
    EXPECT_EQ(out.Descend("a\\b/./c//", "shown").Path(), dir / "out/a/b/c/");
    EXPECT_TRUE(DirectoryExists(dir / "out/a/b/c"));
    for (const std::string bad : {"sub", "sub/deeper", "plain/x", "a/../a"}) {
        try {
            out.Descend(bad, "shown");
            ADD_FAILURE() << bad;
        } catch (const FileCreateError& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot create file shown") << bad;
        }
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir / "elsewhere"));
}

TEST(FileLock, AWaitingWriterGetsWhatTheFirstOneSaved) {
#ifdef _WIN32
    GTEST_SKIP() << "waits for the lock through /proc/locks; the writers' lock is tested between "
                    "processes by the cli tests";
#else
    TempDir dir;
    const std::string path = dir / "GFX.DIR";
    WriteWholeFile(path, B("v1"));
    std::optional<FileLock> first(std::in_place, path, false);
    Bytes seen;
    std::thread second([&] {
        FileLock lock(path, false);
        seen = ReadRest(lock.File());
    });
    while (test::LockWaiters(path) == 0)
        std::this_thread::yield();
    WriteFileReplacing(path, B("v2")); // the first writer saves: a new file under the name
    first.reset();
    second.join();
    EXPECT_EQ(seen, B("v2"));
#endif
}

TEST(FileLock, AMissingFileIsMadeForTheLockAndRemovedWhenNothingWasSaved) {
    TempDir dir;
    const std::string path = dir / "NEW.DIR";
    {
        FileLock lock(path, true);
        EXPECT_EQ(FileLength(path), 0);
    }
    EXPECT_FALSE(FileExists(path));
    {
        FileLock lock(path, true);
        WriteFileReplacing(path, B("saved"));
    }
    EXPECT_EQ(ReadWholeFile(path), B("saved"));
    EXPECT_THROW(FileLock(dir / "none", false), FileOpenError);
}

TEST(FileIdentity, ChangesWithEveryWriteAndNotOtherwise) {
    TempDir dir;
    const std::string path = dir / "f";
    EXPECT_FALSE(IdentifyFile(path).Exists);
    WriteWholeFile(path, B("one"));
    const FileIdentity first = IdentifyFile(path);
    EXPECT_TRUE(first.Exists);
    EXPECT_EQ(IdentifyFile(path), first);
    {
        FileStream file(path, FileStream::Mode::OpenRead);
        EXPECT_EQ(IdentifyOpenFile(file), first);
    }
    WriteWholeFile(path, B("one"));
    EXPECT_NE(IdentifyFile(path), first);
}

} // namespace
} // namespace pelfry
