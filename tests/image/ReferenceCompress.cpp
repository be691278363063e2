#include "ReferenceCompress.h"

#include "base/Errors.h"

#include <algorithm>

namespace pelfry::reference {

int32_t MatchLength(const uint8_t* first, const uint8_t* second, int32_t limit) {
    int32_t k = 0;
    while (k < limit && first[k] == second[k])
        ++k;
    return k;
}

int32_t Compress(const uint8_t* source, int32_t length, uint8_t* destination) {
    constexpr int32_t Window = 2047;
    constexpr int32_t MaxMatch = 273;
    int32_t p = 0;
    int32_t out = 0;
    while (p < length) {
        int32_t limit = std::min(MaxMatch, length - p);
        int32_t best = 0;
        int32_t bestStart = 0;
        for (int32_t j = std::max(0, p - Window); j < p; ++j) {
            int32_t m = MatchLength(source + j, source + p, limit);
            if (m > best) {
                best = m;
                bestStart = j;
                if (m == limit) break;
            }
        }
        if (best < 3) {
            if (source[p] >= 0x80)
                Fail(CheckSite{"ImgFileU.cpp", 150}, "Decompressed bytes must not have msb set!");
            destination[out++] = source[p];
            ++p;
            continue;
        }
        int32_t d = p - bestStart;
        if (best <= 17) {
            destination[out++] = static_cast<uint8_t>(0x80 + (best - 2) * 8 + (d - 1) / 256);
            destination[out++] = static_cast<uint8_t>((d - 1) % 256);
        } else {
            destination[out++] = static_cast<uint8_t>(0x80 + d / 256);
            destination[out++] = static_cast<uint8_t>(d % 256);
            destination[out++] = static_cast<uint8_t>(best - 18);
        }
        p += best;
    }
    destination[out++] = 0x80;
    destination[out++] = 0x00;
    return out;
}

} // namespace pelfry::reference
