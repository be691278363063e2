#include "archive/SetMemoryStreamU.h"

#include "base/Errors.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace pelfry {

TSetMemoryStream::TSetMemoryStream(ByteArray block)
    : block_(std::move(block)), size_(block_ ? static_cast<int64_t>(block_->size()) : 0) {}

int64_t TSetMemoryStream::Read(void* buffer, int64_t count) {
    if (position_ < 0 || count <= 0 || position_ >= size_) return 0;
    const int64_t n = std::min(count, size_ - position_);
    std::memcpy(buffer, block_->data() + position_, static_cast<size_t>(n));
    position_ += n;
    return n;
}

int64_t TSetMemoryStream::Write(const void*, int64_t) {
    throw AbstractError();
}

int64_t TSetMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
    int64_t base = 0;
    switch (origin) {
    case SeekOrigin::Begin:
        base = 0;
        break;
    case SeekOrigin::Current:
        base = position_;
        break;
    case SeekOrigin::End:
        base = size_;
        break;
    }
    // The position may lie anywhere, but a reader walking a damaged image must not be able to
    // overflow it; it stops at the ends of the 64-bit range instead.
    if (__builtin_add_overflow(base, offset, &position_))
        position_ =
            offset < 0 ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
    return position_;
}

} // namespace pelfry
