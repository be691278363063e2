// Constants of the .DIR layout shared by the reader and the writer, and the checks of the unit
// DirFileU (private to archive/).
#pragma once

#include "archive/DirFileU.h"
#include "base/Errors.h"

#include <cstdint>

namespace pelfry::dirformat {

constexpr uint8_t Magic[4] = {'D', 'I', 'R', 0x1A}; // the first bytes of an archive
constexpr uint8_t Separator = 0x1A;                 // between data blocks
constexpr uint32_t DirHeaderValue = 10;             // the width of the name hash in bits
constexpr uint32_t BucketCount = 1024;
constexpr uint64_t HeaderSize = 12;                    // Magic, FileSize, DirOffset
constexpr uint64_t DirBlockSize = 4 + 4 * BucketCount; // DirHeader and the bucket heads
constexpr uint64_t FixedRecordFields = 12;             // Next, Offset, Size
constexpr uint64_t MaxPosition = 0xFFFFFFFFu;

// Length of a name field: the name, then 1 to 4 NULs up to a multiple of 4.
constexpr uint64_t NameFieldLength(uint64_t nameLength) {
    return nameLength - nameLength % 4 + 4;
}

// The checks of the unit and the numbers their messages show as "line N" (see CheckSite), for
// both of its files: each number once. No file's bytes can fail them: they hold the reader's
// two walks and the writer's layout to each other, and callers to the entries there are.
constexpr CheckSite RecordsBeyondCount{"DirFileU.cpp", 163};
constexpr CheckSite RecordsBelowCount{"DirFileU.cpp", 176};
constexpr CheckSite LoadIndex{"DirFileU.cpp", 198};
constexpr CheckSite DeleteIndex{"DirFileU.cpp", 259};
constexpr CheckSite WriteIndex{"DirFileU.cpp", 268};
constexpr CheckSite RenameIndex{"DirFileU.cpp", 281};
constexpr CheckSite ReplaceIndex{"DirFileU.cpp", 289};
constexpr CheckSite ReorderNotPermutation{"DirFileU.cpp", 297};
constexpr CheckSite ChangeOutOfRange{"DirFileU.cpp", 312};
constexpr CheckSite BufferOverrun{"DirFileU.cpp", 41};
constexpr CheckSite BlockNotLoaded{"DirFileU.cpp", 86};
constexpr CheckSite LengthDiffers{"DirFileU.cpp", 101};
constexpr CheckSite BufferUnfilled{"DirFileU.cpp", 132};

// Checks that the format can carry `files` as an archive; raises before anything is read or
// changed when it cannot (a name of more than 30 bytes or none, 4 GiB or more in all).
// Returns the length of the file.
uint64_t CheckSaveable(const FileArray& files);

} // namespace pelfry::dirformat
