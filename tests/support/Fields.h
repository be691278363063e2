// Little-endian fields of bytes a test has just made (a file the program wrote), read where
// the test knows they lie. The program itself reads files through ByteReader.
#pragma once

#include <cstdint>

namespace pelfry {

inline uint16_t GetU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t GetU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

} // namespace pelfry
