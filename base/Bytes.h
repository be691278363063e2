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

} // namespace pelfry
