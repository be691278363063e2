// One flush for all the files of a command: new files wait for it, a file replacing another
// is flushed before it takes the name, and a failed flush is an error. Files written ahead
// wait under no name.
#include "support/TempDir.h"

#include "base/Errors.h"
#include "platform/Durability.h"
#include "platform/FileUtil.h"
#include "platform/ReplacingFile.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace pelfry {
namespace {

using test::TempDir;
using Bytes = std::vector<uint8_t>;

TEST(Durability, NewFilesWaitForTheCommitAndReplacementsAreFlushedFirst) {
#ifdef _WIN32
    GTEST_SKIP() << "every file is flushed before it is named";
#else
    TempDir dir;
    WriteFileReplacing(dir / "old", Bytes{1});
    const uint64_t files = ReplacingFile::Flushes();
    const uint64_t systems = DurabilityScope::FileSystemFlushes();
    {
        DurabilityScope scope;
        WriteFileBelow(dir.Path(), "made/new", Bytes{2});
        EXPECT_EQ(ReplacingFile::Flushes(), files) << "a new file flushed on its own";
        WriteFileReplacing(dir / "old", Bytes{3});
        EXPECT_EQ(ReplacingFile::Flushes(), files + 1) << "a replacement not flushed first";
        // Prepared as a new file, but something took the name meanwhile: replaced only once
        // flushed.
        auto prepared = PrepareFileBelow(dir.Path(), "late", Bytes{4});
        ASSERT_TRUE(prepared);
        WriteFileReplacing(dir / "late", Bytes{5});
        prepared->Commit();
        EXPECT_EQ(ReplacingFile::Flushes(), files + 2);
        EXPECT_EQ(DurabilityScope::FileSystemFlushes(), systems);
        scope.Commit();
        EXPECT_EQ(DurabilityScope::FileSystemFlushes(), systems + 1);
    }
    EXPECT_EQ(ReadWholeFile(dir / "made/new"), Bytes{2});
    EXPECT_EQ(ReadWholeFile(dir / "old"), Bytes{3});
    EXPECT_EQ(ReadWholeFile(dir / "late"), Bytes{4});
    WriteFileReplacing(dir / "alone", Bytes{6});
    EXPECT_EQ(ReplacingFile::Flushes(), files + 3) << "a new file outside a scope not flushed";
#endif
}

TEST(Durability, AFailedFlushIsRaisedOnceByTheCommit) {
#ifdef _WIN32
    GTEST_SKIP() << "every file is flushed before it is named";
#else
    TempDir dir;
    DurabilityScope scope;
    WriteFileBelow(dir.Path(), "sub/file", Bytes{1});
    DurabilityScope::FailNextFlush(EIO);
    try {
        scope.Commit();
        ADD_FAILURE() << "the failed flush was not reported";
    } catch (const FileWriteError& e) {
        EXPECT_EQ(e.Code(), EIO);
        EXPECT_NE(std::string(e.what()).find(dir.Path()), std::string::npos) << e.what();
    }
    WriteFileBelow(dir.Path(), "sub/next", Bytes{2});
    EXPECT_NO_THROW(scope.Commit());
#endif
}

// Written ahead, a file changes nothing until it is committed, and dropped it leaves nothing;
// where its folder is missing it is not written ahead at all.
TEST(PreparedFile, WaitsUnnamedAndLeavesNothingWhenDropped) {
    TempDir dir;
    WriteFileReplacing(dir / "kept", Bytes{1});
    {
        auto replacing = PrepareFileReplacing(dir / "kept", Bytes{2});
        auto made = PrepareFileBelow(dir.Path(), "new", Bytes{3});
        ASSERT_TRUE(replacing && made);
        EXPECT_EQ(ReadWholeFile(dir / "kept"), Bytes{1});
        EXPECT_FALSE(FileExists(dir / "new"));
    }
    EXPECT_FALSE(PrepareFileBelow(dir.Path(), "missing/file", Bytes{4}));
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"kept"});
    EXPECT_EQ(ReadWholeFile(dir / "kept"), Bytes{1});
}

} // namespace
} // namespace pelfry
