// File ages: packed local date-times of two-second resolution, set explicitly (no sleeping).
#include "platform/FileTime.h"
#include "base/Errors.h"
#include "platform/FileUtil.h"

#include "platform/FileStream.h"
#include "support/System.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace pelfry {
namespace {

using test::TempDir;

int32_t Packed(int year, int month, int day, int hour, int minute, int second) {
    return static_cast<int32_t>(
        static_cast<uint32_t>(year - 1980) << 25 | static_cast<uint32_t>(month) << 21 |
        static_cast<uint32_t>(day) << 16 | static_cast<uint32_t>(hour) << 11 |
        static_cast<uint32_t>(minute) << 5 | static_cast<uint32_t>(second / 2));
}

// Sets a file's modification time to an exact POSIX time with nanoseconds.
void SetMTime(const std::string& path, int64_t seconds, long nanoseconds) {
    ASSERT_TRUE(test::SetModifiedTime(path, seconds, nanoseconds));
}

// Runs the test in a fixed zone with summer time, whatever the machine's, and restores it.
class FixedZone {
public:
    explicit FixedZone(const char* tz) {
        const char* old = std::getenv("TZ");
        hadOld_ = old != nullptr;
        if (hadOld_) old_ = old;
        test::SetEnvironment("TZ", tz);
    }
    ~FixedZone() { test::SetEnvironment("TZ", hadOld_ ? old_.c_str() : nullptr); }

private:
    bool hadOld_ = false;
    std::string old_;
};

// An edit is told by the exact times: however soon it follows, except where the file system
// keeps two seconds (FAT, both times whole and even) or earlier versions cut a stamp to its age.
TEST(FileAges, EditsAreToldByExactTimes) {
    FixedZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
    constexpr int64_t S = 1000000000, T = 1600000000 * S; // T: an even second
    struct Case {
        int64_t edited, game;
        bool differ;
        const char* what;
    };
    const Case cases[] = {
        {T + 123, T + 123, false, "the stamp copied"},
        {T + 124, T + 123, true, "one nanosecond later"},
        {T + S / 2, T + 123, true, "half a second later"},
        {T + 2 * S, T, true, "FAT: the next two seconds"},
        {T + S, T, true, "one-second times: the next second"},
        {T, T + S + 123, false, "an earlier export's stamp"},
        {T + S + 123, T, false, "an earlier back conversion's stamp"},
        {T + S * 73 / 100, GameFileStamp(T), true, "0.73 s after a stamp on a whole second"},
        {-1, -1, false, "neither there"},
        {T, -1, true, "no game file"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TimesDiffer(c.edited, c.game), c.differ) << c.what;
}

TEST(FileAges, PackingIsTheFatLayoutInLocalTime) {
    FixedZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
    // 2021-06-15 11:45:31 UTC is 13:45:31 summer time; the odd second is rounded down.
    EXPECT_EQ(UnixToFileDate(1623757531), Packed(2021, 6, 15, 13, 45, 30));
    // 2021-01-02 03:04:05 UTC is 04:04:05 winter time.
    EXPECT_EQ(UnixToFileDate(1609556645), Packed(2021, 1, 2, 4, 4, 4));
    EXPECT_EQ(FileDateToUnix(Packed(2021, 6, 15, 13, 45, 30)), 1623757530);
    // Years before 1980 cannot be packed: they become the first packable time.
    EXPECT_EQ(UnixToFileDate(0), Packed(1980, 1, 1, 0, 0, 0));
    // Ages from 2044 on have the top bit set; they still round-trip and never equal -1.
    const int32_t late = Packed(2100, 12, 31, 23, 59, 58);
    EXPECT_LT(late, 0);
    EXPECT_EQ(UnixToFileDate(FileDateToUnix(late)), late);
    // Packed values that name no calendar time do not convert.
    EXPECT_EQ(FileDateToUnix(-1), static_cast<time_t>(-1));
    EXPECT_EQ(FileDateToUnix(Packed(2000, 13, 1, 0, 0, 0)), static_cast<time_t>(-1));
    EXPECT_EQ(FileDateToUnix(Packed(2000, 1, 0, 0, 0, 0)), static_cast<time_t>(-1));
    EXPECT_EQ(FileDateToUnix(Packed(2000, 1, 1, 24, 0, 0)), static_cast<time_t>(-1));
    const std::tm t = UnpackFileDate(Packed(1999, 12, 31, 23, 59, 58));
    EXPECT_EQ(t.tm_year, 99);
    EXPECT_EQ(t.tm_mon, 11);
    EXPECT_EQ(t.tm_mday, 31);
    EXPECT_EQ(t.tm_hour, 23);
    EXPECT_EQ(t.tm_min, 59);
    EXPECT_EQ(t.tm_sec, 58);
    EXPECT_EQ(PackFileDate(t), Packed(1999, 12, 31, 23, 59, 58));
}

TEST(FileAges, AgeOfFilesFoldersAndMissingFiles) {
    FixedZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
    TempDir dir;
    const std::string f = dir / "A.IMG";
    EXPECT_EQ(FileAge(f), -1);
    EXPECT_EQ(FileAge(dir.Path()), -1);
    WriteWholeFile(f, {1, 2, 3});
    SetMTime(f, 1623757531, 999999999);
    EXPECT_EQ(FileAge(f), Packed(2021, 6, 15, 13, 45, 30));
    {
        FileStream s(f, FileStream::Mode::OpenRead);
        EXPECT_EQ(FileGetDate(s), Packed(2021, 6, 15, 13, 45, 30));
    }
    // Times one second apart inside the same even pair are the same age; across it they differ.
    SetMTime(f, 1623757530, 0);
    EXPECT_EQ(FileAge(f), Packed(2021, 6, 15, 13, 45, 30));
    SetMTime(f, 1623757529, 0);
    EXPECT_EQ(FileAge(f), Packed(2021, 6, 15, 13, 45, 28));
}

TEST(FileAges, SetAndCopyMakeAgesEqual) {
    FixedZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
    TempDir dir;
    const std::string game = dir / "A.IMG", bmp = dir / "A.IMG.bmp";
    WriteWholeFile(game, {1});
    WriteWholeFile(bmp, {2});
    SetFileAge(game, Packed(2010, 3, 4, 5, 6, 8));
    EXPECT_EQ(FileAge(game), Packed(2010, 3, 4, 5, 6, 8));
    // An odd-second source: the copy gets the time rounded down, so the ages match.
    SetMTime(game, 1623757531, 500000000);
    CopyFileTime(game, bmp);
    EXPECT_EQ(FileAge(bmp), FileAge(game));
    EXPECT_EQ(test::ModifiedSeconds(bmp), 1623757530);
    // Winter time too, and the content is untouched.
    SetMTime(game, 1609556645, 0);
    CopyFileTime(game, bmp);
    EXPECT_EQ(FileAge(bmp), Packed(2021, 1, 2, 4, 4, 4));
    EXPECT_EQ(ReadWholeFile(bmp), std::vector<uint8_t>{2});
    // Missing source or target: the file errors; the other file keeps its age.
    const int32_t before = FileAge(bmp);
    try {
        CopyFileTime(dir / "none.IMG", bmp);
        FAIL();
    } catch (const FileOpenError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file " + dir / "none.IMG");
    }
    EXPECT_THROW(CopyFileTime(game, dir / "none.bmp"), FileOpenError);
    EXPECT_FALSE(FileExists(dir / "none.bmp"));
    EXPECT_THROW(SetFileAge(dir.Path(), Packed(2010, 1, 1, 0, 0, 0)), FileOpenError);
    EXPECT_EQ(FileAge(bmp), before);
    // An age that names no time leaves the file's time alone.
    {
        FileStream s(bmp, FileStream::Mode::OpenReadWrite);
        EXPECT_FALSE(FileSetDate(s, -1));
        EXPECT_TRUE(FileSetDate(s, Packed(2001, 2, 3, 4, 5, 6)));
    }
    EXPECT_EQ(FileAge(bmp), Packed(2001, 2, 3, 4, 5, 6));
    // A link gets the time itself: the file it points to is never written through it.
    if (test::MakeLink(bmp, dir / "link.spd", false)) {
        SetFileAge(dir / "link.spd", Packed(2012, 1, 1, 0, 0, 0));
        EXPECT_EQ(FileAge(bmp), Packed(2001, 2, 3, 4, 5, 6));
    }
}

} // namespace
} // namespace pelfry
