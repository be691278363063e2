// Constants of the .DIR layout shared by the reader and the writer (private to archive/).
#pragma once

#include <cstdint>

namespace pelfry::dirformat {

constexpr uint8_t Separator = 0x1A;     // between data blocks
constexpr uint32_t DirHeaderValue = 10; // the width of the name hash in bits
constexpr uint32_t BucketCount = 1024;
constexpr uint64_t HeaderSize = 12;                    // Magic, FileSize, DirOffset
constexpr uint64_t DirBlockSize = 4 + 4 * BucketCount; // DirHeader and the bucket heads
constexpr uint64_t FixedRecordFields = 12;             // Next, Offset, Size
constexpr uint64_t MaxPosition = 0xFFFFFFFFu;

// Length of a name field: the name, then 1 to 4 NULs up to a multiple of 4.
constexpr uint64_t NameFieldLength(uint64_t nameLength) {
    return nameLength - nameLength % 4 + 4;
}

} // namespace pelfry::dirformat
