// Streams: short reads, positions outside the data, the file modes and their errors.
#include "base/Stream.h"
#include "base/Errors.h"
#include "base/Parallel.h"
#include "platform/FileUtil.h"

#include "platform/FileStream.h"
#include "support/SizeSaysNothing.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <thread>

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace pelfry {
namespace {

using test::TempDir;
using Bytes = std::vector<uint8_t>;

// A little-endian field of `width` bytes read through Read: bytes it cannot deliver read as 0.
uint32_t Field(Stream& s, int width) {
    uint8_t b[4] = {0, 0, 0, 0};
    s.Read(b, width);
    return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

// The same checks run on a memory stream and on a file stream over the same bytes.
void CheckReadsAndSeeks(Stream& s) {
    ASSERT_EQ(s.Size(), 5);
    ASSERT_EQ(s.Position(), 0);
    uint8_t buf[8] = {};
    EXPECT_EQ(s.Read(buf, 3), 3);
    EXPECT_EQ(buf[0], 1);
    EXPECT_EQ(buf[2], 3);
    EXPECT_EQ(s.Position(), 3);
    // Short read at the end is no error.
    EXPECT_EQ(s.Read(buf, 8), 2);
    EXPECT_EQ(buf[1], 5);
    EXPECT_EQ(s.Read(buf, 8), 0);
    EXPECT_EQ(s.Read(buf, -4), 0);
    // From the end, from the current position.
    EXPECT_EQ(s.Seek(-2, SeekOrigin::End), 3);
    EXPECT_EQ(s.Seek(-1, SeekOrigin::Current), 2);
    EXPECT_EQ(Field(s, 1), 3);
    // Beyond the end: the position is kept, reads deliver nothing.
    EXPECT_EQ(s.Seek(100, SeekOrigin::Begin), 100);
    EXPECT_EQ(s.Read(buf, 1), 0);
    EXPECT_TRUE(ReadRest(s).empty());
    // Before the start: the same, and the data is not read from somewhere else.
    EXPECT_EQ(s.Seek(-3, SeekOrigin::Begin), -3);
    buf[0] = 0xEE;
    EXPECT_EQ(s.Read(buf, 4), 0);
    EXPECT_EQ(buf[0], 0xEE);
    EXPECT_EQ(Field(s, 2), 0);
    EXPECT_TRUE(ReadRest(s).empty());
    EXPECT_EQ(s.Position(), -3);
    // Huge offsets saturate instead of overflowing.
    s.SetPosition(1);
    EXPECT_EQ(s.Seek(LLONG_MAX, SeekOrigin::Current), LLONG_MAX);
    EXPECT_EQ(s.Read(buf, 1), 0);
    EXPECT_EQ(s.Seek(LLONG_MIN, SeekOrigin::End), LLONG_MIN + 5);
    // Fields: little-endian; missing bytes read as 0.
    s.SetPosition(1);
    EXPECT_EQ(Field(s, 2), 0x0302);
    s.SetPosition(2);
    EXPECT_EQ(Field(s, 4), 0x00050403u);
    EXPECT_EQ(s.Position(), 5);
    s.SetPosition(1);
    EXPECT_EQ(Field(s, 4), 0x05040302u);
    s.SetPosition(3);
    EXPECT_EQ(ReadRest(s), (Bytes{4, 5}));
}

TEST(Streams, MemoryStreamReadsAndSeeks) {
    MemoryStream m(Bytes{1, 2, 3, 4, 5});
    CheckReadsAndSeeks(m);
}

TEST(Streams, FileStreamReadsAndSeeks) {
    TempDir dir;
    WriteWholeFile(dir / "five", Bytes{1, 2, 3, 4, 5});
    FileStream f(dir / "five", FileStream::Mode::OpenRead);
    CheckReadsAndSeeks(f);
}

TEST(Streams, MemoryStreamWritesGrowAndFillGapsWithZeros) {
    MemoryStream m;
    const uint8_t data[] = {9, 8};
    EXPECT_EQ(m.Write(data, 2), 2);
    m.Seek(4, SeekOrigin::Begin);
    EXPECT_EQ(m.Write(data, 1), 1);
    EXPECT_EQ(m.Bytes(), (Bytes{9, 8, 0, 0, 9}));
    m.SetPosition(1);
    EXPECT_EQ(m.Write(data, 1), 1);
    EXPECT_EQ(m.Bytes(), (Bytes{9, 9, 0, 0, 9}));
    // Nothing is written before the start or with a negative count.
    m.SetPosition(-1);
    EXPECT_EQ(m.Write(data, 2), 0);
    m.SetPosition(0);
    EXPECT_EQ(m.Write(data, -1), 0);
    EXPECT_EQ(m.Size(), 5);
}

// A folder, a device, a FIFO or a socket is refused at once, never opened for reading: a FIFO
// without a writer would wait for ever.
TEST(Streams, OnlyRegularFilesAreOpened) {
    TempDir dir;
    std::vector<std::string> things = {dir.Path()};
#ifdef _WIN32
    things.push_back("NUL");
#else
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = dir / "socket";
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    const int listening = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    things.insert(things.end(), {dir / "fifo", socketPath, "/dev/zero"});
#endif
    for (const std::string& thing : things)
        for (FileStream::Mode mode :
             {FileStream::Mode::OpenRead, FileStream::Mode::OpenReadWrite}) {
            try {
                FileStream f(thing, mode);
                ADD_FAILURE() << thing;
            } catch (const NotRegularFileError& e) {
                EXPECT_EQ(std::string(e.what()), "Not a regular file: " + thing);
            }
        }
#ifndef _WIN32
    ::close(listening);
#endif
}

TEST(Streams, FileModesAndTheirErrors) {
    TempDir dir;
    const std::string name = dir / "a.bin";
    // Opening a missing file fails with its name; so does opening a folder.
    try {
        FileStream f(name, FileStream::Mode::OpenRead);
        FAIL();
    } catch (const FileOpenError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file " + name);
    }
    EXPECT_THROW({ FileStream f(name, FileStream::Mode::OpenReadWrite); }, FileOpenError);
    EXPECT_THROW({ FileStream f(dir.Path(), FileStream::Mode::OpenRead); }, FileOpenError);
    EXPECT_THROW({ FileStream f(dir.Path(), FileStream::Mode::Create); }, FileCreateError);
    EXPECT_FALSE(FileExists(name)); // a failed open created nothing
    // Creating in a missing folder fails with the file's name.
    const std::string nowhere = dir / "missing/sub/a.bin";
    try {
        FileStream f(nowhere, FileStream::Mode::Create);
        FAIL();
    } catch (const FileCreateError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file " + nowhere);
    }

    {
        FileStream f(name, FileStream::Mode::Create);
        f.WriteAll(Bytes{1, 2, 3, 4});
        EXPECT_EQ(f.Size(), 4);
        // Writing past the end leaves zeros in the gap.
        f.Seek(6, SeekOrigin::Begin);
        f.WriteAll(Bytes{7});
        f.SetPosition(0);
        EXPECT_EQ(ReadRest(f), (Bytes{1, 2, 3, 4, 0, 0, 7}));
        f.Close();
        f.Close(); // closing twice is harmless
    }
    {
        // Read and write keeps the content; writes go where the position is.
        FileStream f(name, FileStream::Mode::OpenReadWrite);
        EXPECT_EQ(f.Size(), 7);
        f.Seek(-1, SeekOrigin::End);
        f.WriteAll(Bytes{8, 9});
    }
    EXPECT_EQ(ReadWholeFile(name), (Bytes{1, 2, 3, 4, 0, 0, 8, 9}));
    {
        // A file opened for reading cannot be written: WriteAll says so with the name.
        FileStream f(name, FileStream::Mode::OpenRead);
        EXPECT_EQ(f.Write("x", 1), 0);
        try {
            f.WriteAll(Bytes{1});
            FAIL();
        } catch (const FileWriteError& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot write file " + name);
        }
        // Nor can a stream positioned before the start.
        FileStream g(name, FileStream::Mode::OpenReadWrite);
        g.SetPosition(-2);
        EXPECT_THROW(g.WriteAll(Bytes{1}), FileWriteError);
    }
    EXPECT_EQ(FileLength(name), 8);
    {
        // Create truncates an existing file.
        FileStream f(name, FileStream::Mode::Create);
        EXPECT_EQ(f.Size(), 0);
    }
    EXPECT_EQ(FileLength(name), 0);
}

TEST(Streams, ReadRestReadsToTheEndNotToTheSize) {
    Bytes text(10000);
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<uint8_t>(i * 7);
    test::SizeSaysNothing s(text);
    EXPECT_EQ(ReadRest(s), text);
    // A limit stops it soon past the limit, for the caller to refuse.
    s.SetPosition(0);
    const size_t read = ReadRest(s, 100).size();
    EXPECT_TRUE(read > 100 && read < text.size()) << read;
    MemoryStream plain(text);
    EXPECT_EQ(ReadRest(plain, 100).size(), 101u);
}

TEST(OrderedWork, ResultsWaitingHoldNoMoreThanTheBudget) {
    // Each result holds a byte and none may wait beyond those under way: threads never run
    // further ahead of a slow caller than one item each.
    std::atomic<size_t> taken{0}, furthest{0};
    OrderedWork<int> work(
        60, 2,
        [&](size_t i) {
            const size_t ahead = i - taken.load();
            for (size_t seen = furthest.load(); ahead > seen;)
                furthest.compare_exchange_weak(seen, ahead);
            return 1;
        },
        {}, [](const int&) { return uint64_t{1}; }, 0);
    for (size_t i = 0; i < 60; ++i) {
        EXPECT_EQ(work.Take(i), 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ++taken;
    }
    EXPECT_LE(furthest.load(), 2u);
}

TEST(Streams, ClosedFileStreamDeliversNothing) {
    TempDir dir;
    WriteWholeFile(dir / "f", Bytes{1, 2});
    FileStream f(dir / "f", FileStream::Mode::OpenReadWrite);
    f.Close();
    uint8_t b = 0;
    EXPECT_EQ(f.Read(&b, 1), 0);
    EXPECT_EQ(f.Write(&b, 1), 0);
    EXPECT_EQ(f.Size(), 0);
}

} // namespace
} // namespace pelfry
