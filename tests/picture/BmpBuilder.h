// Builds .bmp files byte by byte for the reader's tests, with every header field under the
// test's control (including wrong ones).
#pragma once

#include "base/Bytes.h"
#include "picture/Bitmap.h"

#include <optional>
#include <vector>

namespace pelfry::test {

using Bytes = std::vector<uint8_t>;

struct BmpSpec {
    uint32_t headerSize = 40; // 12 = core header (16-bit sizes, 3-byte colour entries)
    int32_t width = 0;
    int32_t height = 0; // negative: rows stored top-down
    uint16_t bpp = 8;
    uint32_t compression = 0; // 1 = RLE8, 2 = RLE4, 3 = bit fields
    uint32_t colorsUsed = 0;
    std::vector<RGB> colours;        // the colour table as written
    Bytes pixels;                    // the pixel data as written
    Bytes gap;                       // bytes between the colour table and the pixels
    std::optional<uint32_t> offBits; // default: where the pixels start
};

inline Bytes BuildBmp(const BmpSpec& s) {
    const size_t entrySize = s.headerSize == 12 ? 3 : 4;
    const uint32_t start =
        static_cast<uint32_t>(14 + s.headerSize + s.colours.size() * entrySize + s.gap.size());
    Bytes out;
    PutU8(out, 'B');
    PutU8(out, 'M');
    PutU32(out, static_cast<uint32_t>(start + s.pixels.size()));
    PutU32(out, 0);
    PutU32(out, s.offBits.value_or(start));
    PutU32(out, s.headerSize);
    if (s.headerSize == 12) {
        PutU16(out, static_cast<uint16_t>(s.width));
        PutU16(out, static_cast<uint16_t>(s.height));
        PutU16(out, 1);
        PutU16(out, s.bpp);
    } else {
        const size_t headerStart = out.size() - 4;
        PutU32(out, static_cast<uint32_t>(s.width));
        PutU32(out, static_cast<uint32_t>(s.height));
        PutU16(out, 1);
        PutU16(out, s.bpp);
        PutU32(out, s.compression);
        PutU32(out, static_cast<uint32_t>(s.pixels.size()));
        PutU32(out, 2835);
        PutU32(out, 2835);
        PutU32(out, s.colorsUsed);
        PutU32(out, 0);
        // V4/V5 and other long headers: the rest (masks, colour space) as zeros.
        if (out.size() - headerStart < s.headerSize)
            PutZeros(out, s.headerSize - (out.size() - headerStart));
        out.resize(headerStart + s.headerSize); // shorter variants: cut
    }
    for (const RGB& c : s.colours) {
        PutU8(out, c.b);
        PutU8(out, c.g);
        PutU8(out, c.r);
        if (entrySize == 4) PutU8(out, 0);
    }
    out.insert(out.end(), s.gap.begin(), s.gap.end());
    out.insert(out.end(), s.pixels.begin(), s.pixels.end());
    return out;
}

// Packs rows of palette indices (row 0 = top) at `bpp` bits per pixel, the leftmost pixel in
// the high bits, each row padded to 4 bytes, bottom row first unless `topDown`.
inline Bytes PackRows(const std::vector<Bytes>& rows, int bpp, bool topDown = false) {
    Bytes out;
    const size_t n = rows.size();
    for (size_t k = 0; k < n; ++k) {
        const Bytes& row = rows[topDown ? k : n - 1 - k];
        const size_t bits = row.size() * static_cast<size_t>(bpp);
        Bytes packed((bits + 31) / 32 * 4, 0);
        for (size_t x = 0; x < row.size(); ++x) {
            const size_t bit = x * static_cast<size_t>(bpp);
            packed[bit / 8] |= static_cast<uint8_t>(row[x] << (8 - bpp - bit % 8));
        }
        out.insert(out.end(), packed.begin(), packed.end());
    }
    return out;
}

// Row-major pixel indices of a bitmap, row 0 at the top.
inline std::vector<Bytes> RowsOf(const Bitmap& b) {
    std::vector<Bytes> rows;
    for (int y = 0; y < b.Height(); ++y)
        rows.emplace_back(b.Row(y), b.Row(y) + b.Width());
    return rows;
}

} // namespace pelfry::test
