#include "ByteReader.h"

#include "Text.h"

namespace pelfry {

DataError::DataError(std::string reason, uint64_t offset)
    : Error(reason, reason), offset_(offset) {}

std::string AtByte(uint64_t offset) {
    return Format("at byte 0x%llX", static_cast<unsigned long long>(offset));
}

uint64_t ByteReader::ShortField(size_t width) {
    if (pastEnd_ == PastEnd::Refuse) RunOut(width);
    uint64_t value = 0;
    for (size_t i = 0; i < Available(); ++i)
        value |= static_cast<uint64_t>(data_[pos_ + i]) << (8 * i);
    pos_ = size_;
    return value;
}

size_t ByteReader::Short(size_t count) const {
    if (pastEnd_ == PastEnd::Refuse) RunOut(count);
    return Available();
}

size_t ByteReader::BeyondTheEnd(size_t position) const {
    if (pastEnd_ == PastEnd::ReadsZeros) return size_;
    const uint64_t end = OffsetOf(size_);
    throw DataError(Format("the file ends %s, before byte 0x%llX", AtByte(end).c_str(),
                           static_cast<unsigned long long>(OffsetOf(position))),
                    end);
}

void ByteReader::RunOut(size_t count) const {
    const uint64_t end = OffsetOf(size_);
    throw DataError(Format("the file ends %s, short of the %s bytes needed %s", AtByte(end).c_str(),
                           FormatThousands(count).c_str(), AtByte(Offset()).c_str()),
                    end);
}

void ByteReader::Refuse(const std::string& reason, size_t position) const {
    throw DataError(reason + ", " + AtByte(OffsetOf(position)), OffsetOf(position));
}

} // namespace pelfry
