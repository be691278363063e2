// The replacing writer and the writers' lock: what stands under a name after a write, a
// failed write or a kill; links; folders walked without links; writers taking turns.
#include "support/FullDisk.h"
#include "support/System.h"
#include "support/TempDir.h"

#include "base/Errors.h"
#include "platform/FileLock.h"
#include "platform/FileStream.h"
#include "platform/FileUtil.h"
#include "platform/ReplacingFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <future>
#include <iterator>
#include <optional>
#include <thread>

#ifndef _WIN32

#include <array>
#include <csignal>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
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
    using test::FullDisk;
    for (bool named : {false, true}) {
        NamedTemps temps(named);
        const FullDisk dir;
        if (!dir.Ready()) GTEST_SKIP() << FullDisk::Missing;
        WriteWholeFile(dir / "old.DIR", Bytes(1000, 0xAB));
        {
            const FullDisk::Filled full;
            for (const std::string name : {"old.DIR", "new.DIR"}) {
                try {
                    WriteFileReplacing(dir / name, Bytes(2 * FullDisk::Room, 0xCD));
                    ADD_FAILURE() << "the write should have failed";
                } catch (const FileWriteError& e) {
                    EXPECT_EQ(std::string(e.what()), "Cannot write file " + dir / name);
                    EXPECT_EQ(e.Code(), FullDisk::Code);
                }
            }
        }
        EXPECT_EQ(ReadWholeFile(dir / "old.DIR"), Bytes(1000, 0xAB)) << named;
        EXPECT_EQ(dir.Entries(), std::vector<std::string>{"old.DIR"}) << named;
    }
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

// The child side of the tests below: writes 2 MiB to PELFRY_CHILD_TARGET, named temporaries
// with PELFRY_CHILD_NAMED=1. With PELFRY_CHILD_STOP "half" it stops half-way, with "rename"
// when the complete file stands under its temporary name; it then tells the test through
// PELFRY_CHILD_SIGNAL and waits to be ended. Without a stop it writes the file and ends.
std::string childSignal;

void StopAndWait() {
    test::ChildSignal never(childSignal + "-never");
    test::ChildSignal::Raise(childSignal);
    never.Wait();
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

TEST(ReplacingFileChild, Writes) {
    const std::string target = Environment("PELFRY_CHILD_TARGET");
    if (target.empty()) GTEST_SKIP() << "run as a child by the ReplacingFile tests";
    const std::string stop = Environment("PELFRY_CHILD_STOP");
    childSignal = Environment("PELFRY_CHILD_SIGNAL");
    UseNamedTempFiles(Environment("PELFRY_CHILD_NAMED") == "1");
    InstallTempFileCleanup();
    if (stop == "rename") SetBeforeRenameHook(StopAndWait);
    ReplacingFile file(target);
    const Bytes block(2 << 20, 1);
    file.Write(block.data(), block.size());
    if (stop == "half") StopAndWait();
    file.Commit();
}

// Runs that child on `target` in a new process (whose writer has cleaned no folder yet); with a
// stop, ends it without warning there (SIGKILL, TerminateProcess: no handler runs).
void RunChildWriter(const std::string& target, const std::string& stop, bool named) {
    TempDir logs;
    const std::string signal = "pelfry-" + logs.Path().substr(logs.Path().size() - 9, 8);
    test::ChildSignal ready(signal);
    const std::pair<const char*, std::string> settings[] = {
        {"PELFRY_CHILD_TARGET", target},
        {"PELFRY_CHILD_STOP", stop},
        {"PELFRY_CHILD_SIGNAL", signal},
        {"PELFRY_CHILD_NAMED", named ? "1" : "0"}};
    for (const auto& [name, value] : settings)
        test::SetEnvironment(name, value.c_str());
    test::ChildProcess child({test::ThisProgram(), "--gtest_filter=ReplacingFileChild.Writes"},
                             logs / "out", logs / "err");
    for (const auto& setting : settings)
        test::SetEnvironment(setting.first, nullptr);
    if (!stop.empty()) {
        ready.Wait();
        child.Kill();
    }
    child.Wait();
}

// A writer ended without warning half-way leaves nothing beside its target: the system drops
// the temporary file, nameless on POSIX systems and marked for deletion on Windows.
TEST(ReplacingFile, AWriterEndedAtOnceLeavesNothingBehind) {
    TempDir dir;
    WriteWholeFile(dir / "GFX.DIR", B("old"));
    RunChildWriter(dir / "GFX.DIR", "half", false);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"GFX.DIR"});
    EXPECT_EQ(ReadWholeFile(dir / "GFX.DIR"), B("old"));
}

// Ended between naming the complete file and the rename, a writer leaves it under its
// temporary name; the next writer in the folder removes it, and nothing else: not the
// temporary of a writer that still lives, nor any file named otherwise.
TEST(ReplacingFile, WhatAKillBeforeTheRenameLeavesTheNextWriterRemoves) {
    const std::vector<std::string> kept = {".pelfry-Held0000", ".pelfry-abc",
                                           ".pelfry-abcdefg!", ".pelfry-abcdefghi",
                                           "GFX.DIR",          "pelfry-abcdefgh"}; // sorted
    for (bool named : {false, true}) {
        TempDir dir;
        for (const std::string& name : kept)
            WriteWholeFile(dir / name, B("old"));
        WriteWholeFile(dir / ".pelfry-Stale000", B("stale")); // the first writer removes it
        test::HeldFile live(dir / ".pelfry-Held0000");
        RunChildWriter(dir / "GFX.DIR", "rename", named);
        std::vector<std::string> left = dir.Entries();
        std::vector<std::string> killed;
        std::set_difference(left.begin(), left.end(), kept.begin(), kept.end(),
                            std::back_inserter(killed));
        ASSERT_EQ(killed.size(), 1u) << named;
        EXPECT_EQ(FileLength(dir / killed[0]), 2 << 20) << "the complete new file";
        EXPECT_EQ(ReadWholeFile(dir / "GFX.DIR"), B("old"));
        RunChildWriter(dir / "NEW.DIR", "", named);
        left = dir.Entries();
        left.erase(std::find(left.begin(), left.end(), "NEW.DIR"));
        EXPECT_EQ(left, kept) << named;
    }
}

#ifndef _WIN32
// Runs `job` in a child process as the user nobody, who may not give a file to another user;
// its exit status.
int AsAnotherUser(const std::function<int()>& job) {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(::setgid(65534) == 0 && ::setuid(65534) == 0 ? job() : 100);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// An access control list as Linux stores it: version 2, then (tag, permissions, id) entries.
std::vector<char> Acl(const std::vector<std::array<uint32_t, 3>>& entries) {
    std::vector<char> out;
    auto put = [&](uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.push_back(static_cast<char>(value >> (8 * i)));
    };
    put(2, 4);
    for (const auto& [tag, permissions, id] : entries) {
        put(tag, 2);
        put(permissions, 2);
        put(id, 4);
    }
    return out;
}

std::vector<char> Attribute(const std::string& path, const char* name) {
    std::vector<char> value(256);
    const ssize_t size = ::getxattr(path.c_str(), name, value.data(), value.size());
    value.resize(size > 0 ? static_cast<size_t>(size) : 0);
    return value;
}
#endif

// The owner, group, permissions and extended attributes (an access control list among them)
// pass to the new file; what cannot pass is said, as is a file's other names keeping the old
// contents, and a folder that lets no new file be made.
TEST(ReplacingFile, AReplacementKeepsWhatTheUserSetOnTheFile) {
#ifdef _WIN32
    GTEST_SKIP() << "owners and attributes of POSIX systems";
#else
    if (::geteuid() != 0) GTEST_SKIP() << "needs to act as other users (root)";
    TempDir dir;
    const std::string path = dir / "GFX.DIR";
    WriteWholeFile(path, B("old"));
    ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    const bool user = ::setxattr(path.c_str(), "user.pelfry", "kept", 4, 0) == 0;
    const std::vector<char> acl = Acl({{0x01, 6, ~0u},
                                       {0x02, 4, 65534},
                                       {0x04, 4, ~0u},
                                       {0x10, 4, ~0u},
                                       {0x20, 0, ~0u}}); // nobody may read
    const bool acls =
        ::setxattr(path.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) == 0;
    std::filesystem::create_hard_link(path, dir / "other");
    ReplacingFile file(path);
    file.Write("new", 3);
    file.Commit();
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_TRUE(!user || Attribute(path, "user.pelfry") == (std::vector<char>{'k', 'e', 'p', 't'}));
    EXPECT_TRUE(!acls || Attribute(path, "system.posix_acl_access") == acl);
    EXPECT_EQ(file.Warnings(),
              std::vector<std::string>{
                  path + " had other names (hard links), which keep the old contents"});
    EXPECT_EQ(ReadWholeFile(dir / "other"), B("old"));

    // Another user may write root's file, but not give it to root again.
    const std::string shared = dir / "SHARED.DIR";
    WriteWholeFile(shared, B("old"));
    ASSERT_EQ(::chmod(shared.c_str(), 0666), 0);
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0777), 0);
    EXPECT_EQ(AsAnotherUser([&] {
                  ReplacingFile saved(shared);
                  saved.Write("new", 3);
                  saved.Commit();
                  return saved.Warnings() ==
                                 std::vector<std::string>{
                                     shared + " was saved, but its owner and group could not be "
                                              "kept: Operation not permitted"}
                             ? 0
                             : 1;
              }),
              0);
    EXPECT_EQ(ReadWholeFile(shared), B("new"));
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0555), 0);
    EXPECT_EQ(AsAnotherUser([&] {
                  try {
                      ReplacingFile refused(shared);
                  } catch (const FileCreateError& e) {
                      return e.Reason() == "the folder lets no new file be made there" ? 0 : 1;
                  }
                  return 2;
              }),
              0);
#endif
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

// A missing file is locked by its name (its folder's lock) and not made; a writer waiting on
// either lock then reads what the first one saved.
TEST(FileLock, AWaitingWriterGetsWhatTheFirstOneSaved) {
    for (bool exists : {true, false}) {
        TempDir dir;
        const std::string path = dir / "GFX.DIR";
        if (exists) WriteWholeFile(path, B("v1"));
        std::optional<FileLock> first(std::in_place, path, true);
        EXPECT_EQ(first->File() != nullptr, exists);
        EXPECT_EQ(FileExists(path), exists);
        Bytes seen;
        std::promise<void> waiting;
        std::thread second([&] {
            LockWait wait;
            wait.Slow = [&] { waiting.set_value(); }; // told after a second of waiting
            FileLock lock(path, true, wait);
            seen = ReadRest(*lock.File());
        });
        waiting.get_future().wait();
        WriteFileReplacing(path, B("v2")); // the first writer saves: a new file under the name
        first.reset();
        second.join();
        EXPECT_EQ(seen, B("v2")) << exists;
    }
}

// The lock on a new archive's name holds that name only, and leaves nothing in the folder.
TEST(FileLock, AWaitIsToldAfterASecondAndMayBeLimited) {
    TempDir dir;
    const std::string path = dir / "NEW.DIR";
    std::optional<FileLock> held(std::in_place, path, true);
    int told = 0;
    std::string error;
    bool otherName = false;
    // From another thread: on Windows the lock of a name is a mutex, its holder thread's again.
    std::thread other([&] {
        LockWait atOnce;
        atOnce.Limit = std::chrono::milliseconds(1);
        otherName = FileLock(dir / "OTHER.DIR", true, atOnce).File() == nullptr;
        LockWait wait;
        wait.Slow = [&] { ++told; };
        wait.Limit = std::chrono::milliseconds(1500);
        try {
            FileLock lock(path, true, wait);
        } catch (const FileInUseError& e) {
            error = e.what();
        }
    });
    other.join();
    EXPECT_EQ(told, 1);
    EXPECT_EQ(error, path + " is in use by another program");
    EXPECT_TRUE(otherName);
    held.reset();
    EXPECT_TRUE(dir.Entries().empty());
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
