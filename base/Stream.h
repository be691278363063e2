// Byte streams: the abstract stream the format readers take and an owning memory form (the
// file-backed form is platform/FileStream.h). Positions and counts are 64-bit; a short read is
// never an error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pelfry {

enum class SeekOrigin { Begin, Current, End };

class Stream {
public:
    virtual ~Stream() = default;

    // Copies up to `count` bytes at the position into `buffer` and advances by as many.
    // Returns the number delivered: fewer at the end, 0 for a negative count. The end is never
    // an error; a file stream raises FileReadError when the system fails the read itself.
    virtual int64_t Read(void* buffer, int64_t count) = 0;

    // Writes `count` bytes and returns how many were written. Streams that cannot be
    // written raise AbstractError.
    virtual int64_t Write(const void* buffer, int64_t count);

    // Moves the position and returns it. The position may be set outside 0..Size();
    // reads there deliver nothing.
    virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;

    virtual int64_t Size() = 0;

    int64_t Position() { return Seek(0, SeekOrigin::Current); }
    void SetPosition(int64_t position) { Seek(position, SeekOrigin::Begin); }
};

// A growable stream over bytes it owns; readable and writable.
class MemoryStream : public Stream {
public:
    MemoryStream() = default;
    explicit MemoryStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, SeekOrigin origin) override;
    int64_t Size() override { return static_cast<int64_t>(bytes_.size()); }

    const std::vector<uint8_t>& Bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    int64_t position_ = 0;
};

// Where `offset` from `origin` leads in `stream`, whose position is `position`; a sum beyond
// the 64-bit range saturates at its ends.
int64_t SeekTarget(Stream& stream, int64_t position, int64_t offset, SeekOrigin origin);

// Reads everything from the position to the end of the stream: until a read delivers nothing,
// not merely the Size() the stream reports (files of /proc, /sys and some network and FUSE file
// systems report 0 bytes and hold more). Stops once it holds more than `limit` bytes, so that a
// caller refusing more than `limit` is never made to hold much more.
std::vector<uint8_t> ReadRest(Stream& stream, uint64_t limit = UINT64_MAX);

} // namespace pelfry
