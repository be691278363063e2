// Integer parsing, the general number format of the status line, and small text helpers.
#include "base/Text.h"
#include "base/Errors.h"
#include "platform/FileUtil.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace pelfry {
namespace {

TEST(Text, StrToIntAcceptsDecimalAndHexInThe32BitRange) {
    struct Case {
        const char* text;
        int32_t value;
    };
    const Case cases[] = {
        {"0", 0},
        {"42", 42},
        {"+42", 42},
        {"-42", -42},
        {"-0", 0},
        {"007", 7},
        {"2147483647", 2147483647},
        {"-2147483648", std::numeric_limits<int32_t>::min()},
        {"$10", 16},
        {"$ff", 255},
        {"0x1F", 31},
        {"0X1f", 31},
        {"-$10", -16},
        {"$7FFFFFFF", 2147483647},
        {"$80000000", std::numeric_limits<int32_t>::min()},
        {"$FFFFFFFF", -1},
        {"0x00000000000012", 18},
        {"00000000000000000000000000000000001", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(StrToInt(c.text), c.value);
    }
}

TEST(Text, StrToIntRefusesEverythingElseWithTheText) {
    const char* bad[] = {"",           "-",          "+",           "$",
                         "0x",         "x1",         "12a",         " 12",
                         "12 ",        "1.5",        "1e3",         "--1",
                         "+-1",        "2147483648", "-2147483649", "99999999999999999999",
                         "$100000000", "$G",         "0x-1",        "$ 1"};
    for (const char* text : bad) {
        SCOPED_TRACE(text);
        try {
            StrToInt(text);
            ADD_FAILURE() << "accepted";
        } catch (const ConvertError& e) {
            EXPECT_EQ(std::string(e.what()),
                      std::string("'") + text + "' is not a valid integer value");
        }
    }
    // A text with a zero byte inside is refused, not cut at the zero.
    EXPECT_THROW(StrToInt(std::string_view("12\0"
                                           "3",
                                           4)),
                 ConvertError);
}

TEST(Text, FormatGWritesTheGeneralFormat) {
    EXPECT_EQ(FormatG(1.0 / 86400), "1.15740740740741E-5");   // one second in days
    EXPECT_EQ(FormatG(30.0 / 86400), "0.000347222222222222"); // thirty seconds
    EXPECT_EQ(FormatG(0), "0");
    EXPECT_EQ(FormatG(-0.0), "0");
    EXPECT_EQ(FormatG(1), "1");
    EXPECT_EQ(FormatG(-2.5), "-2.5");
    EXPECT_EQ(FormatG(100), "100");
    EXPECT_EQ(FormatG(1.0 / 3), "0.333333333333333");
    EXPECT_EQ(FormatG(2.0 / 3), "0.666666666666667");
    EXPECT_EQ(FormatG(0.0001), "0.0001");
    EXPECT_EQ(FormatG(0.00001), "1E-5");
    EXPECT_EQ(FormatG(1.5e-10), "1.5E-10");
    EXPECT_EQ(FormatG(-1.0 / 86400), "-1.15740740740741E-5");
    EXPECT_EQ(FormatG(123456789012345.0), "123456789012345");
    EXPECT_EQ(FormatG(1e15), "1E15");
    EXPECT_EQ(FormatG(1234567890123456.0), "1.23456789012346E15");
    EXPECT_EQ(FormatG(1.25e300), "1.25E300");
    // Rounding to 15 digits can carry into the next power of ten; the rounded value decides.
    EXPECT_EQ(FormatG(9.9999999999999999e-5), "0.0001");
    EXPECT_EQ(FormatG(999999999999999.9), "1E15");
    EXPECT_EQ(FormatG(std::numeric_limits<double>::infinity()), "INF");
    EXPECT_EQ(FormatG(-std::numeric_limits<double>::infinity()), "-INF");
    EXPECT_EQ(FormatG(std::nan("")), "NAN");
}

TEST(Text, NumbersWithTheSeparatorsGiven) {
    EXPECT_EQ(FormatG(1.0 / 86400, ","), "1,15740740740741E-5");
    EXPECT_EQ(FormatG(30.0 / 86400, ","), "0,000347222222222222");
    EXPECT_EQ(FormatG(-2.5, "\xC2\xB7"), "-2\xC2\xB7"
                                         "5"); // a separator of two bytes
    EXPECT_EQ(FormatG(100, ","), "100");
    EXPECT_EQ(FormatG(1e15, ","), "1E15");

    EXPECT_EQ(FormatThousands(0), "0");
    EXPECT_EQ(FormatThousands(999), "999");
    EXPECT_EQ(FormatThousands(1000), "1,000");
    EXPECT_EQ(FormatThousands(12345), "12,345");
    EXPECT_EQ(FormatThousands(4294967295u, "."), "4.294.967.295");
}

TEST(Text, TrimCaseAndFileKind) {
    EXPECT_EQ(Trim("  a b \t\r\n"), "a b");
    EXPECT_EQ(Trim("\x01x\x7f"), "x\x7f");
    EXPECT_EQ(Trim(" \r\n "), "");
    EXPECT_EQ(UpperCaseAscii("a.img\xe9z"), "A.IMG\xe9Z");
    EXPECT_EQ(FileKind("c:\\x\\hero.spr"), ".SPR");
    EXPECT_EQ(FileKind("A.IMG.bmp"), ".BMP");
    EXPECT_EQ(FileKind("x.Spd"), ".SPD");
    EXPECT_EQ(FileKind("img"), "IMG");
    EXPECT_EQ(FileKind(""), "");
}

TEST(Text, WriteTextLinesEndsEveryLineWithCrLf) {
    test::TempDir dir;
    WriteTextLines(dir / "t.txt", {"A.IMG", "", "x y"});
    const std::string expected = "A.IMG\r\n\r\nx y\r\n";
    EXPECT_EQ(ReadWholeFile(dir / "t.txt"), std::vector<uint8_t>(expected.begin(), expected.end()));
    WriteTextLines(dir / "t.txt", {});
    EXPECT_EQ(FileLength(dir / "t.txt"), 0);
    EXPECT_THROW(WriteTextLines(dir / "none/t.txt", {"a"}), FileCreateError);
}

} // namespace
} // namespace pelfry
