// Little-endian fields in memory buffers, for building the game's files. Files are read with
// ByteReader, which checks every read against the bytes there are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pelfry {

inline void PutU8(std::vector<uint8_t>& out, uint8_t v) {
    out.push_back(v);
}
inline void PutU16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
inline void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void PutZeros(std::vector<uint8_t>& out, size_t n) {
    out.insert(out.end(), n, 0);
}
inline void PutBytes(std::vector<uint8_t>& out, const uint8_t* p, size_t n) {
    out.insert(out.end(), p, p + n);
}

// Overwrites 4 bytes at `at` (which must lie inside `out`).
inline void SetU32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Fields of bytes known to hold them (a file this program has just built).
inline uint16_t GetU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t GetU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

} // namespace pelfry
