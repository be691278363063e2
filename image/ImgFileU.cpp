#include "image/ImgFileU.h"

#include "platform/Errors.h"

#include <algorithm>

namespace pelfry {

// ---- Codec -----------------------------------------------------------------------------------

static constexpr int32_t Window = 2047;  // greatest distance the encoder writes
static constexpr int32_t MaxMatch = 273; // longest reference
static constexpr int32_t MinMatch = 3;   // shortest reference

int32_t MatchLength(const uint8_t* first, const uint8_t* second, int32_t limit) {
    int32_t k = 0;
    while (k < limit && first[k] == second[k]) ++k;
    return k;
}

int32_t Compress(const uint8_t* source, int32_t length, uint8_t* destination) {
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
        if (best < MinMatch) {
            if (source[p] >= 0x80) PELFRY_FAIL("Decompressed bytes must not have msb set!");
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

int32_t Decompress(uint8_t* destination, int32_t destinationLength, const uint8_t* source,
                   int32_t sourceLength) {
    int32_t in = 0;
    int32_t out = 0;
    while (in < sourceLength) {
        uint8_t b0 = source[in++];
        if (b0 < 0x80) {
            if (out >= destinationLength) break;
            destination[out++] = b0;
            continue;
        }
        if (in >= sourceLength) break;
        uint8_t b1 = source[in++];
        int32_t field = (b0 % 8) * 256 + b1;
        int32_t lengthCode = (b0 / 8) % 16;
        int32_t count, distance;
        if (lengthCode != 0) {
            count = lengthCode + 2;
            distance = field + 1;
        } else if (field == 0) {
            break; // terminator
        } else {
            if (in >= sourceLength) break;
            count = source[in++] + 18;
            distance = field;
        }
        if (distance > out) break; // refers before the start of the output
        if (count > destinationLength - out) break;
        for (int32_t i = 0; i < count; ++i, ++out) destination[out] = destination[out - distance];
    }
    return out;
}

// ---- Palettes --------------------------------------------------------------------------------

Palette256 MakePalette(const uint8_t* colours, uint32_t count) {
    Palette256 palette{};
    uint32_t n = std::min<uint32_t>(count, 256);
    for (uint32_t i = 0; i < n; ++i) palette[i] = RGB{colours[3 * i], colours[3 * i + 1], colours[3 * i + 2]};
    return palette;
}

} // namespace pelfry
