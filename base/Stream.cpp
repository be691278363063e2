// Streams: the abstract stream's defaults and the memory stream.
#include "Stream.h"

#include "Errors.h"

#include <algorithm>
#include <cstring>

namespace pelfry {

int64_t Stream::Write(const void*, int64_t) {
    throw AbstractError();
}

// Adds without overflow: the result saturates at the ends of the 64-bit range.
static int64_t AddClamped(int64_t a, int64_t b) {
    int64_t sum;
    if (__builtin_add_overflow(a, b, &sum)) return b > 0 ? INT64_MAX : INT64_MIN;
    return sum;
}

int64_t SeekTarget(Stream& stream, int64_t position, int64_t offset, SeekOrigin origin) {
    switch (origin) {
    case SeekOrigin::Begin:
        return offset;
    case SeekOrigin::Current:
        return AddClamped(position, offset);
    case SeekOrigin::End:
        return AddClamped(stream.Size(), offset);
    }
    return position;
}

int64_t MemoryStream::Read(void* buffer, int64_t count) {
    if (count <= 0 || position_ < 0) return 0;
    int64_t available = Size() - position_;
    if (available <= 0) return 0;
    int64_t n = std::min(count, available);
    std::memcpy(buffer, bytes_.data() + position_, static_cast<size_t>(n));
    position_ += n;
    return n;
}

int64_t MemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0 || position_ < 0) return 0;
    int64_t endPosition;
    if (__builtin_add_overflow(position_, count, &endPosition)) return 0;
    size_t end = static_cast<size_t>(endPosition);
    if (end > bytes_.size()) bytes_.resize(end);
    std::memcpy(bytes_.data() + position_, buffer, static_cast<size_t>(count));
    position_ += count;
    return count;
}

int64_t MemoryStream::Seek(int64_t offset, SeekOrigin origin) {
    position_ = SeekTarget(*this, position_, offset, origin);
    return position_;
}

std::vector<uint8_t> ReadRest(Stream& stream, uint64_t limit) {
    std::vector<uint8_t> out;
    const int64_t position = stream.Position();
    if (position < 0) return out; // reads before the start deliver nothing
    // The size reported is read at once; what lies beyond it (or all, when it says 0) is read
    // on in small pieces, which for an ordinary file is one read that delivers nothing.
    const int64_t reported = stream.Size() - position;
    if (reported > 0) {
        const uint64_t want = std::min(static_cast<uint64_t>(reported), limit) + 1;
        out.resize(static_cast<size_t>(std::min<uint64_t>(want, SIZE_MAX)));
        out.resize(static_cast<size_t>(stream.Read(out.data(), static_cast<int64_t>(out.size()))));
    }
    uint8_t more[4096];
    while (out.size() <= limit) {
        const int64_t got = stream.Read(more, sizeof more);
        if (got <= 0) break;
        out.insert(out.end(), more, more + got);
    }
    return out;
}

} // namespace pelfry
