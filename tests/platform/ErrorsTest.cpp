// The errors' texts are what the user reads in the message box; they must be exact.
#include "base/Errors.h"
#include "base/Stream.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <utility>

namespace pelfry {
namespace {

TEST(Errors, FileErrorsNameTheFile) {
    EXPECT_STREQ(FileOpenError("c:\\temp\\A.DIR").what(), "Cannot open file c:\\temp\\A.DIR");
    EXPECT_STREQ(FileCreateError("/x/y.bmp").what(), "Cannot create file /x/y.bmp");
    EXPECT_STREQ(FileWriteError("out.IMG").what(), "Cannot write file out.IMG");
    EXPECT_STREQ(AbstractError().what(), "Abstract Error");
    EXPECT_STREQ(ConvertError("12a").what(), "'12a' is not a valid integer value");
    EXPECT_STREQ(ConvertError("").what(), "'' is not a valid integer value");
}

// The window shows what(); pelfry-cli adds Reason(): the system's words, the same everywhere.
TEST(Errors, FileErrorsCarryTheSystemsReasonApart) {
    const std::string folderRefuses = "the folder lets no new file be made there";
    const std::pair<FileSystemError, std::string> cases[] = {
        {FileWriteError("A.DIR", ENOSPC), "No space left on device"},
        {FileCreateError("A.DIR", EACCES), "Permission denied"},
        {FileCreateError("A.DIR", EROFS), "Read-only file system"},
        {FileCreateError("A.DIR", EACCES, folderRefuses), folderRefuses},
        {FileOpenError("A.DIR"), ""},
    };
    for (const auto& [error, reason] : cases) {
        EXPECT_EQ(error.Reason(), reason);
        EXPECT_EQ(std::string(error.what()).find(':'), std::string::npos) << error.what();
    }
    EXPECT_STREQ(NotRegularFileError("fifo").what(), "Not a regular file: fifo");
    EXPECT_STREQ(FileInUseError("A.DIR").what(), "A.DIR is in use by another program");
}

TEST(Errors, AssertionTextIsMessageUnitAndLine) {
    EXPECT_STREQ(AssertionError("Too many colours in image!", "ImgFileU.cpp", 354).what(),
                 "Too many colours in image! (ImgFileU.cpp, line 354)");
    EXPECT_STREQ(AssertionError("", "SprFileU.cpp", 7).what(),
                 "Assertion failure (SprFileU.cpp, line 7)");
}

TEST(Errors, ACheckNamesItsSiteNotItsLine) {
    constexpr CheckSite site{"ErrorsTest.cpp", 7};
    try {
        PELFRY_CHECK(1 + 1 == 3, site, "Arithmetic broke", "1 + 1 is 2");
        FAIL() << "no error raised";
    } catch (const AssertionError& e) {
        EXPECT_STREQ(e.what(), "Arithmetic broke (ErrorsTest.cpp, line 7)");
        EXPECT_EQ(e.Reason(), "1 + 1 is 2");
    }
    try {
        Fail(site, "");
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Assertion failure (ErrorsTest.cpp, line 7)");
    }
    // A check that holds raises nothing, evaluates its condition once and makes no reason.
    int evaluated = 0;
    int made = 0;
    EXPECT_NO_THROW(PELFRY_CHECK(++evaluated == 1, site, "x", std::to_string(++made)));
    EXPECT_EQ(evaluated, 1);
    EXPECT_EQ(made, 0);
}

TEST(Errors, FormatHandlesEmptyAndLongTexts) {
    EXPECT_EQ(Format("%s", ""), "");
    EXPECT_EQ(Format("Processing file %d of %d: %s", 3, 10, "A.IMG"),
              "Processing file 3 of 10: A.IMG");
    std::string longText(5000, 'x');
    EXPECT_EQ(Format("<%s>", longText.c_str()), "<" + longText + ">");
}

// A stream that can only be read: writing to it is the abstract operation.
class ReadOnlyStream : public Stream {
public:
    int64_t Read(void*, int64_t) override { return 0; }
    int64_t Seek(int64_t, SeekOrigin) override { return 0; }
    int64_t Size() override { return 0; }
};

TEST(Errors, WritingAReadOnlyStreamIsAbstractError) {
    ReadOnlyStream s;
    uint8_t b = 1;
    try {
        s.Write(&b, 1);
        FAIL() << "no error raised";
    } catch (const AbstractError& e) {
        EXPECT_STREQ(e.what(), "Abstract Error");
    }
}

} // namespace
} // namespace pelfry
