// File ages: packing, unpacking and copying; reading and setting a file's time is in
// FileTime_posix.cpp and FileTime_win.cpp.
#include "FileTime.h"

#include "FileStream.h"

namespace pelfry {

int32_t PackFileDate(const std::tm& t) {
    int year = t.tm_year + 1900;
    if (year < 1980) return (1 << 21) | (1 << 16); // 1980-01-01 00:00:00
    if (year > 2107) year = 2107;
    uint32_t v = static_cast<uint32_t>(year - 1980) << 25 |
                 static_cast<uint32_t>(t.tm_mon + 1) << 21 |
                 static_cast<uint32_t>(t.tm_mday) << 16 | static_cast<uint32_t>(t.tm_hour) << 11 |
                 static_cast<uint32_t>(t.tm_min) << 5 | static_cast<uint32_t>(t.tm_sec / 2);
    return static_cast<int32_t>(v);
}

std::tm UnpackFileDate(int32_t age) {
    uint32_t v = static_cast<uint32_t>(age);
    std::tm t{};
    t.tm_year = static_cast<int>((v >> 25) & 0x7F) + 1980 - 1900;
    t.tm_mon = static_cast<int>((v >> 21) & 0x0F) - 1;
    t.tm_mday = static_cast<int>((v >> 16) & 0x1F);
    t.tm_hour = static_cast<int>((v >> 11) & 0x1F);
    t.tm_min = static_cast<int>((v >> 5) & 0x3F);
    t.tm_sec = static_cast<int>(v & 0x1F) * 2;
    t.tm_isdst = -1;
    return t;
}

// Whether every field of a packed age names a real calendar position (no month 0 or 13,
// no hour 24...). -1, the age of a missing file, is not one.
static bool ValidFileDate(int32_t age) {
    const std::tm t = UnpackFileDate(age);
    return t.tm_mon >= 0 && t.tm_mon <= 11 && t.tm_mday >= 1 && t.tm_mday <= 31 &&
           t.tm_hour <= 23 && t.tm_min <= 59 && t.tm_sec <= 59;
}

std::time_t FileDateToUnix(int32_t age) {
    if (!ValidFileDate(age)) return static_cast<std::time_t>(-1);
    std::tm t = UnpackFileDate(age);
    return std::mktime(&t);
}

namespace {

constexpr int64_t Second = 1000000000;

// The time of the age of `t`, as earlier versions stamped it; -1 when there is none.
int64_t AgeTime(int64_t t) {
    const std::time_t age = FileDateToUnix(UnixToFileDate(static_cast<std::time_t>(t / Second)));
    return age == static_cast<std::time_t>(-1) ? -1 : static_cast<int64_t>(age) * Second;
}

bool WholeEvenSeconds(int64_t t) {
    return t % (2 * Second) == 0;
}

} // namespace

bool TimesDiffer(int64_t edited, int64_t game) {
    if (edited == game) return false;
    if (edited < 0 || game < 0) return true;
    if (WholeEvenSeconds(edited) && WholeEvenSeconds(game))
        return UnixToFileDate(static_cast<std::time_t>(edited / Second)) !=
               UnixToFileDate(static_cast<std::time_t>(game / Second));
    // An export's old stamp is never an edit, which comes after the game file was written.
    if (edited == AgeTime(game)) return false;
    return !(game == AgeTime(edited) && edited % Second != 0);
}

int64_t GameFileStamp(int64_t t) {
    return t >= 0 && WholeEvenSeconds(t) ? t + Second / 100 : t;
}

void CopyFileTime(const std::string& source, const std::string& target) {
    int32_t age;
    {
        FileStream in(source, FileStream::Mode::OpenRead);
        age = FileGetDate(in);
    }
    SetFileAge(target, age);
}

} // namespace pelfry
