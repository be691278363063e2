// The encoder in its plainest form: at every position it tries each start in the window, from
// the farthest back, and keeps the first longest match. The library's encoder must give
// exactly these bytes; tests compare the two and the benchmark measures the difference.
#pragma once

#include <cstdint>

namespace pelfry::reference {

// Equal leading bytes of `first` and `second`, at most `limit`, one byte at a time.
int32_t MatchLength(const uint8_t* first, const uint8_t* second, int32_t limit);

// Same contract as pelfry::Compress, including the AssertionError for a byte of 0x80 or more.
int32_t Compress(const uint8_t* source, int32_t length, uint8_t* destination);

} // namespace pelfry::reference
