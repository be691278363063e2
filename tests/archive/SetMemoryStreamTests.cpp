// The read-only view over an entry's bytes: reads never run outside the block, positions may
// wander anywhere, and writing is refused.
#include "archive/SetMemoryStreamU.h"

#include "base/Errors.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

namespace pelfry {
namespace {

ByteArray Block(const std::string& text) {
    return std::make_shared<const std::vector<uint8_t>>(text.begin(), text.end());
}

TEST(SetMemoryStream, EmptyBlocksReadNothing) {
    for (ByteArray block : {ByteArray(), Block("")}) {
        TSetMemoryStream stream(block);
        char byte = 'x';
        EXPECT_EQ(stream.Size(), 0);
        EXPECT_EQ(stream.Read(&byte, 1), 0);
        EXPECT_EQ(stream.Position(), 0);
        EXPECT_EQ(byte, 'x');
    }
}

TEST(SetMemoryStream, ReadsStopAtTheEnd) {
    TSetMemoryStream stream(Block("0123456789"));
    EXPECT_EQ(stream.Size(), 10);
    EXPECT_EQ(stream.Position(), 0);
    char buffer[16] = {};
    EXPECT_EQ(stream.Seek(-4, SeekOrigin::End), 6);
    EXPECT_EQ(stream.Read(buffer, 10), 4);
    EXPECT_EQ(std::string(buffer, 4), "6789");
    EXPECT_EQ(stream.Position(), 10);
    EXPECT_EQ(stream.Read(buffer, 10), 0);
    EXPECT_EQ(stream.Position(), 10);

    stream.SetPosition(2);
    EXPECT_EQ(stream.Read(buffer, 3), 3);
    EXPECT_EQ(std::string(buffer, 3), "234");
    EXPECT_EQ(stream.Seek(2, SeekOrigin::Current), 7);
    EXPECT_EQ(stream.Read(buffer, 0), 0);
    EXPECT_EQ(stream.Read(buffer, -5), 0);
    EXPECT_EQ(stream.Position(), 7);
}

TEST(SetMemoryStream, PositionsOutsideTheBlockReadNothing) {
    TSetMemoryStream stream(Block("abc"));
    char buffer[4] = {'-', '-', '-', '-'};
    for (int64_t position : {int64_t{3}, int64_t{4}, int64_t{1000}, int64_t{-1}, int64_t{-1000}}) {
        EXPECT_EQ(stream.Seek(position, SeekOrigin::Begin), position);
        EXPECT_EQ(stream.Read(buffer, 4), 0);
        EXPECT_EQ(stream.Position(), position);
    }
    EXPECT_EQ(std::string(buffer, 4), "----");
    // Even absurd seeks keep the position defined.
    const int64_t max = std::numeric_limits<int64_t>::max();
    stream.Seek(max, SeekOrigin::Begin);
    EXPECT_EQ(stream.Seek(max, SeekOrigin::Current), max);
    EXPECT_EQ(stream.Seek(std::numeric_limits<int64_t>::min(), SeekOrigin::Begin),
              std::numeric_limits<int64_t>::min());
    EXPECT_EQ(stream.Seek(-1, SeekOrigin::Current), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(stream.Read(buffer, 4), 0);
    EXPECT_EQ(stream.Seek(1, SeekOrigin::Begin), 1);
    EXPECT_EQ(stream.Read(buffer, 4), 2);
}

TEST(SetMemoryStream, IsReadOnlyAndKeepsItsBlockAlive) {
    ByteArray block = Block("kept");
    std::weak_ptr<const std::vector<uint8_t>> watch = block;
    auto stream = std::make_unique<TSetMemoryStream>(block);
    block.reset();
    EXPECT_FALSE(watch.expired());
    try {
        stream->Write("x", 1);
        ADD_FAILURE() << "a write went through";
    } catch (const AbstractError& e) {
        EXPECT_STREQ(e.what(), "Abstract Error");
    }
    stream->SetSize(0);
    EXPECT_EQ(stream->Size(), 4);
    char buffer[4];
    EXPECT_EQ(stream->Read(buffer, 4), 4);
    EXPECT_EQ(std::memcmp(buffer, "kept", 4), 0);
    stream.reset();
    EXPECT_TRUE(watch.expired());
}

} // namespace
} // namespace pelfry
