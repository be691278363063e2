// A read-only stream over a byte block that someone else filled, shared by reference
// counting: the stream keeps the block alive after the archive entry or the archive that
// held it has let go.
#pragma once

#include "base/Stream.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace pelfry {

// A filled block of bytes, shared and never changed after it was filled. An empty
// (null) reference stands for "no data in memory".
using ByteArray = std::shared_ptr<const std::vector<uint8_t>>;

class TSetMemoryStream : public Stream {
public:
    // Takes its own reference to `block` (which may be null: an empty stream).
    // Size is the block's length, position 0.
    explicit TSetMemoryStream(ByteArray block);

    // Delivers min(count, Size - Position) bytes when the position and count are 0 or more;
    // nothing otherwise. Never fails.
    int64_t Read(void* buffer, int64_t count) override;
    // Read-only: raises AbstractError.
    int64_t Write(const void* buffer, int64_t count) override;
    // The position is not limited to 0..Size.
    int64_t Seek(int64_t offset, SeekOrigin origin) override;
    int64_t Size() override { return size_; }
    // Does nothing: the block is never changed.
    void SetSize(int64_t) {}

private:
    ByteArray block_;
    int64_t size_ = 0;
    int64_t position_ = 0;
};

} // namespace pelfry
