// The byte codec's encoder: the greedy parse and its search for matches. Compress in ImgFileU
// is the public face; this header is for it alone.
#pragma once

#include <cstdint>

namespace pelfry::codec {

// Equal leading bytes of `a` and `b`, at most `limit`, compared eight at a time.
int32_t FastMatch(const uint8_t* a, const uint8_t* b, int32_t limit);

// Compress without its error: the bytes written, terminator included; or, when a byte of 0x80
// or more has to be written as a literal, -1 - (the bytes written before it), no terminator.
int32_t Encode(const uint8_t* source, int32_t length, uint8_t* destination);

} // namespace pelfry::codec
